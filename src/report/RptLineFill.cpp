#include "report/RptLineFill.h"

#include "report/RptBreaks.h"
#include "report/RptLineCache.h"

#include <QTextBoundaryFinder>

#include <memory>

namespace Rpt {
namespace {

constexpr double kEpsilonPt = 1e-6;

bool isBlank(char32_t c) { return c == U' ' || c == 0x3000; }

bool isBreakBlank(QChar c) { return isBlank(c.unicode()) || c == QLatin1Char('\t'); }

// A stretch of the paragraph between two break opportunities.
struct Piece {
    int from = 0, to = 0;  // into the paragraph
    int content = 0;       // where the blanks and tabs that end it begin
    bool softHyphen = false;  // its content ends in a soft hyphen
};

// Fills lines with pieces: as many as fit, measured piece by piece, so that
// the work grows with the text and not with the square of a line's length.
class Wrapper {
public:
    Wrapper(const QString &para, FontFace face, double sizePt, double widthPt, LineForm::Direction direction)
        : para_(para), face_(face), size_(sizePt), max_(widthPt), direction_(direction)
    {
    }

    void run()
    {
        // Most paragraphs fit whole: one measure.
        if (fits(para_, false)) {
            push(0, static_cast<int>(para_.size()), false);
            return;
        }
        cut();
        fill();
    }

    WrappedLines out;

private:
    // The paragraph's pieces, between its break opportunities.
    void cut()
    {
        int from = 0;
        for (const int at : breakOpportunities(para_)) {
            Piece p{from, at, at, false};
            while (p.content > p.from && isBreakBlank(para_[p.content - 1]))
                --p.content;
            p.softHyphen = p.content > p.from && para_[p.content - 1] == QChar(kSoftHyphen);
            pieces_.push_back(p);
            from = at;
        }
    }

    // Lines of as many pieces as fit.
    void fill()
    {
        size_t i = 0;
        // Blanks and tabs that begin the text stay with its first word.
        while (i + 1 < pieces_.size() && pieces_[i].content == pieces_[i].from)
            ++i;
        int start = 0;  // where the next line begins: a piece's start, or inside an overlong one
        while (i < pieces_.size()) {
            // The most pieces from start on that fit, with a hyphen shown where the last ends in a soft one.
            double pen = 0;
            size_t best = i, j = i;
            if (start > pieces_[i].from) {
                // The rest of a piece too wide for a line: measured cluster by cluster only as far as a line goes.
                const Piece &p = pieces_[i];
                const double rest = clusterAdvance(start, p.content);
                if (rest > max_ + kEpsilonPt || !fits(text(start, p.content), false)) {
                    start = overlong(start, p);
                    if (start >= p.to)
                        ++i;
                    continue;
                }
                if (!p.softHyphen || rest + hyphenWidth() <= max_ + kEpsilonPt)
                    best = i + 1;
                pen = advance(p.content, p.to, rest);
                ++j;
            }
            for (; j < pieces_.size(); ++j) {
                const Piece &p = pieces_[j];
                const double content = advance(j == i ? start : p.from, p.content, pen);
                if (content > max_ + kEpsilonPt)
                    break;
                if (!p.softHyphen || content + hyphenWidth() <= max_ + kEpsilonPt)
                    best = j + 1;
                pen = advance(p.content, p.to, content);
            }
            if (best == i) {
                start = overlong(start, pieces_[i]);
                if (start >= pieces_[i].to)
                    ++i;
                continue;
            }
            best = checked(start, i, best);
            push(start, pieces_[best - 1].content, pieces_[best - 1].softHyphen);
            i = best;
            if (i < pieces_.size())
                start = pieces_[i].from;
        }
    }

    QString text(int from, int to) const { return para_.mid(from, to - from); }

    bool fits(const QString &s, bool hyphen) const
    {
        return textWidthPt(s, face_, size_, LineForm{direction_, hyphen}) <= max_ + kEpsilonPt;
    }

    double hyphenWidth() const { return textWidthPt(QStringLiteral("-"), face_, size_); }

    // The pen after the text from..to, set from pen on: its stretches
    // between tabs measured one by one, each tab going to the next stop.
    double advance(int from, int to, double pen) const
    {
        for (int at = from; at < to;) {
            int tab = para_.indexOf(QLatin1Char('\t'), at);
            if (tab < 0 || tab >= to)
                tab = to;
            if (tab > at)
                pen += textWidthPt(text(at, tab), face_, size_, LineForm{direction_, false});
            if (tab < to)
                pen = nextTabStop(pen, kTabStopPt);
            at = tab + 1;
        }
        return pen;
    }

    // Measured piece by piece, a line may differ from the line shaped
    // whole (letters that change shape across a piece's end): while the
    // whole is too wide, the line gives back its last piece.
    size_t checked(int start, size_t first, size_t best) const
    {
        while (best > first + 1) {
            const Piece &last = pieces_[best - 1];
            if (fits(text(start, last.content), last.softHyphen))
                break;
            --best;
        }
        return best;
    }

    QTextBoundaryFinder &graphemes()
    {
        if (!graphemes_)
            graphemes_ = std::make_unique<QTextBoundaryFinder>(QTextBoundaryFinder::Grapheme, para_);
        return *graphemes_;
    }

    // The clusters from start on that fit on a line (at least one), measured
    // one by one, up to end at most; where they end.
    int fittingClusters(int start, int end, double *width = nullptr)
    {
        QTextBoundaryFinder &finder = graphemes();
        finder.setPosition(start);
        double pen = 0;
        int at = start;
        for (qsizetype next = finder.toNextBoundary(); next > 0 && next <= end; next = finder.toNextBoundary()) {
            const double further = advance(at, static_cast<int>(next), pen);
            if (at > start && further > max_ + kEpsilonPt)
                break;
            pen = further;
            at = static_cast<int>(next);
        }
        if (width)
            *width = pen;
        return at;
    }

    // The width of the text from start to end measured cluster by cluster,
    // or more than a line when it is wider than one.
    double clusterAdvance(int start, int end)
    {
        double width = 0;
        return fittingClusters(start, end, &width) < end ? max_ + 1 : width;
    }

    // Places as much of a piece too wide for a line, from start on, as fits
    // on a line of its own, at least one grapheme cluster; where it goes on.
    int overlong(int start, const Piece &p)
    {
        QTextBoundaryFinder &finder = graphemes();
        int end = fittingClusters(start, p.content);
        // Clusters measured one by one: the line shaped whole may be wider.
        while (!fits(text(start, end), false)) {
            finder.setPosition(end);
            const qsizetype before = finder.toPreviousBoundary();
            if (before <= start)
                break;
            end = static_cast<int>(before);
        }
        if (end <= start)
            end = p.content;
        push(start, end, false);
        return end >= p.content ? p.to : end;
    }

    void push(int from, int to, bool hyphen)
    {
        QString line = text(from, to);
        while (!line.isEmpty() && isBreakBlank(line.back()))
            line.chop(1);
        out.lines.push_back(line);
        out.forms.push_back(LineForm{direction_, hyphen && line.endsWith(QChar(kSoftHyphen))});
    }

    const QString &para_;
    FontFace face_;
    double size_;
    double max_;
    LineForm::Direction direction_;
    std::vector<Piece> pieces_;
    std::unique_ptr<QTextBoundaryFinder> graphemes_;  // made for the first overlong piece
};

} // namespace

WrappedLines wrapLines(const QString &text, FontFace face, double sizePt, double widthPt)
{
    QString normalised = text.normalized(QString::NormalizationForm_C);
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (QChar &c : normalised) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n') || (u >= 0x7F && u < 0xA0))
            c = QLatin1Char(' ');
    }
    WrappedLines all;
    normalised.replace(QChar(0x2028), QLatin1Char('\n'));  // line and paragraph separators break too
    normalised.replace(QChar(0x2029), QLatin1Char('\n'));
    for (const QString &p : normalised.split(QLatin1Char('\n'))) {
        Wrapper w(p, face, sizePt, widthPt, paragraphDirection(p));
        w.run();
        all.lines.insert(all.lines.end(), w.out.lines.begin(), w.out.lines.end());
        all.forms.insert(all.forms.end(), w.out.forms.begin(), w.out.forms.end());
    }
    return all;
}

std::vector<QString> wrapText(const QString &text, FontFace face, double sizePt, double widthPt)
{
    return wrapLines(text, face, sizePt, widthPt).lines;
}

} // namespace Rpt
