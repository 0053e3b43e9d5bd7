#include "report/RptPdfText.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace Rpt {
namespace {

// Most characters one glyph's code stands for: mupdf drops a code that stands for more.
constexpr size_t kMostPerCode = 8;
// Right to left, how far (1/1000 em) a piece reaches past the origin of the
// next piece drawn: poppler and pdf.js take a piece that begins more than
// 200 left of where the last one ends for a word (a text item) of its own.
// Two pieces they joined they would read in the order of a left-to-right
// text, the wrong way round.
constexpr double kPastNext = 250;
// How far (1/1000 em) a piece may reach over the next piece on its right:
// poppler ends a line at a piece that begins more than 500 left of where the
// piece before it ends.
constexpr double kMostOverlap = 450;
// What (1/1000 em) of a blank between two words a piece leaves, for poppler
// to read the blank: it reads one from a gap of 30.
constexpr double kBlankKept = 60;
// Origins closer than this (1/1000 em) poppler may read in either order.
constexpr double kOnePlace = 1;
// Right to left, where the blank glyph carrying a further character of a
// glyph stands: this far (1/1000 em) right of the glyph's origin for each
// character read before the glyph's own, left of it for each after.
constexpr double kCarrierStep = 4;

// A character a reader may take together with others on one code: in the
// basic plane (one reader splits a pair of halves that comes with others),
// neither a mark drawn without width nor a format character (another reader
// treats a code with either as drawn without width, or as invisible), nor a
// blank.
bool plain(char32_t c)
{
    const QChar::Category cat = QChar::category(c);
    return c < 0x10000 && cat != QChar::Mark_NonSpacing && cat != QChar::Mark_Enclosing && cat != QChar::Other_Format &&
           !QChar::isSpace(c);
}

// Whether a glyph drawn with or without width may carry the character as its first.
bool fitsGlyph(char32_t c, bool wide)
{
    const QChar::Category cat = QChar::category(c);
    return !wide || (cat != QChar::Mark_NonSpacing && cat != QChar::Mark_Enclosing && cat != QChar::Other_Format);
}

// The first of the glyph's characters it may carry itself, else its first.
size_t ownCharacter(const std::u32string &chars, bool wide)
{
    for (size_t i = 0; i < chars.size(); ++i)
        if (fitsGlyph(chars[i], wide))
            return i;
    return 0;
}

// The font whose blank glyph carries characters beside a glyph of this
// font: the font itself where its codes can stand for any text (TrueType
// outlines), else the report's first font.
const FontFile *carrierFont(const FontFile *file)
{
    for (const FontFile *f : {file, primaryFont(FontFace::Regular)})
        if (f && f->outlines() == Outlines::TrueType && f->glyphIndex(U' ') != 0)
            return f;
    return nullptr;
}

QString fromUcs4(const std::u32string &s, size_t from, size_t to)
{
    return QString::fromUcs4(s.data() + from, static_cast<qsizetype>(to - from));
}

bool holdsNonspacingMark(const QString &text)
{
    for (const char32_t c : text.toStdU32String())
        if (QChar::category(c) == QChar::Mark_NonSpacing)
            return true;
    return false;
}

bool isBlank(const DrawnPiece &p) { return !p.text.isEmpty() && p.text.trimmed().isEmpty(); }

// The glyph, reaching to where the pen goes on after it.
DrawnPiece glyphPiece(const ShapedGlyph &g)
{
    DrawnPiece p;
    p.file = g.file;
    p.glyph = g.glyph;
    p.x = g.x;
    p.y = g.y;
    p.width = static_cast<int>(std::lround(std::max(0.0, g.pen + g.advance - g.x)));
    p.cluster = g.cluster;
    p.outline = g.text.isEmpty();
    return p;
}

DrawnPiece carrierPiece(const FontFile *carrier, int cluster, double x, const QString &text)
{
    DrawnPiece p;
    p.file = carrier;
    p.glyph = carrier->glyphIndex(U' ');
    p.x = x;
    p.text = text;
    p.cluster = cluster;
    p.carrier = true;
    return p;
}

// The glyph carrying what it can of its share of the text, and blank glyphs
// carrying the rest, one character each, at the pen: before the glyph where
// its reading begins, after it where its reading ends. Right to left a
// glyph carries one character.
void addCarried(const ShapedGlyph &g, bool rtl, std::vector<DrawnPiece> &out)
{
    DrawnPiece glyph = glyphPiece(g);
    const std::u32string chars = g.text.toStdU32String();
    const FontFile *carrier = carrierFont(g.file);
    if (glyph.outline || !carrier) {
        glyph.text = g.text;
        out.push_back(glyph);
        return;
    }
    const size_t first = ownCharacter(chars, glyph.width > 0);
    size_t end = first + 1;
    while (!rtl && end < chars.size() && end - first < kMostPerCode && plain(chars[first]) && plain(chars[end]))
        ++end;
    glyph.text = fromUcs4(chars, first, end);
    const double before = rtl ? g.pen + g.advance : g.pen;
    const double after = rtl ? g.x : g.x + glyph.width;
    for (size_t i = 0; i < first; ++i)
        out.push_back(carrierPiece(carrier, g.cluster, before, fromUcs4(chars, i, i + 1)));
    out.push_back(glyph);
    for (size_t i = end; i < chars.size(); ++i)
        out.push_back(carrierPiece(carrier, g.cluster, after, fromUcs4(chars, i, i + 1)));
}

// A piece drawn as an outline stands for nothing: the glyph drawn before it
// in its cluster reaches over it, so that no reader sees a gap there.
void reachOverOutlines(std::vector<DrawnPiece> &pieces, size_t from)
{
    DrawnPiece *lastGlyph = nullptr;
    for (size_t k = from; k < pieces.size(); ++k) {
        DrawnPiece &p = pieces[k];
        if (!p.outline && !p.carrier)
            lastGlyph = &p;
        else if (p.outline && lastGlyph)
            lastGlyph->width = std::max(lastGlyph->width, static_cast<int>(std::lround(p.x + p.width - lastGlyph->x)));
    }
}

// A right-to-left cluster in pen order, spanned: poppler sets the span's
// text from where its first piece begins to where its last ends, so the last
// reaches the cluster's right end, or a gap would read as a blank.
void addSpanned(const ShapedLine &line, const std::vector<size_t> &glyphs, std::vector<DrawnPiece> &out)
{
    const size_t from = out.size();
    for (const size_t i : glyphs)
        addCarried(line.glyphs[i], true, out);
    double right = out[from].x;
    for (size_t k = from; k < out.size(); ++k) {
        out[k].spanned = true;
        right = std::max(right, out[k].x + out[k].width);
    }
    out.back().width = std::max(out.back().width, static_cast<int>(std::lround(right - out.back().x)));
}

// A right-to-left cluster one character a piece, drawn from the rightmost
// origin leftwards with its characters shared out in that order; false
// where two pieces would begin at one place.
bool addRightToLeft(const ShapedLine &line, const std::vector<size_t> &glyphs, int cluster, std::vector<DrawnPiece> &out)
{
    std::vector<DrawnPiece> pieces, outlines;
    for (const size_t i : glyphs) {
        const ShapedGlyph &g = line.glyphs[i];
        const DrawnPiece glyph = glyphPiece(g);
        if (glyph.outline) {
            outlines.push_back(glyph);
            continue;
        }
        const std::u32string chars = g.text.toStdU32String();
        const FontFile *carrier = carrierFont(g.file);
        if (!carrier && chars.size() > 1)
            return false;
        const size_t own = ownCharacter(chars, glyph.width > 0);
        pieces.push_back(glyph);
        for (size_t c = 0; c < chars.size(); ++c) {
            if (c == own)
                continue;
            // Beside the glyph, reaching it: of its word.
            const double x = g.x + kCarrierStep * (double(own) - double(c));
            pieces.push_back(carrierPiece(carrier, cluster, x, QString()));
            pieces.back().width = static_cast<int>(std::lround(std::max(0.0, g.x - x)));
        }
    }
    std::stable_sort(pieces.begin(), pieces.end(), [](const DrawnPiece &a, const DrawnPiece &b) { return a.x > b.x; });
    const std::u32string typed = line.clusters[static_cast<size_t>(cluster)].toStdU32String();
    if (typed.size() != pieces.size())
        return false;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (k > 0 && pieces[k - 1].x - pieces[k].x < kOnePlace)
            return false;
        pieces[k].text = fromUcs4(typed, k, k + 1);
    }
    out.insert(out.end(), pieces.begin(), pieces.end());
    out.insert(out.end(), outlines.begin(), outlines.end());
    return true;
}

// The words of right-to-left pieces: pieces whose extents touch or overlap
// are of one word; a tab leaves a gap between two. For each piece, its
// word's number (0 the leftmost) and the word's right end.
std::vector<std::pair<int, double>> wordsOf(const std::vector<DrawnPiece *> &run)
{
    std::vector<size_t> byX(run.size());
    for (size_t k = 0; k < run.size(); ++k)
        byX[k] = k;
    std::sort(byX.begin(), byX.end(), [&](size_t a, size_t b) { return run[a]->x < run[b]->x; });
    std::vector<std::pair<int, double>> out(run.size());
    std::vector<double> ends;
    for (const size_t k : byX) {
        const DrawnPiece &p = *run[k];
        if (ends.empty() || p.x > ends.back() + kOnePlace)
            ends.push_back(p.x + p.width);
        ends.back() = std::max(ends.back(), p.x + p.width);
        out[k].first = static_cast<int>(ends.size()) - 1;
    }
    for (auto &w : out)
        w.second = ends[static_cast<size_t>(w.first)];
    return out;
}

// The right-to-left pieces of a line, not spanned, reaching as drawnPieces
// says; the clusters whose pieces cannot are added to failed: those with a
// piece that begins at or right of one drawn before it, and those with a
// piece that would reach too far over the next on its right (poppler would
// end the line there) or past its word's end.
void reachRightToLeft(const ShapedLine &line, std::vector<DrawnPiece> &pieces, std::set<int> &failed)
{
    const auto inRun = [&](const DrawnPiece &p) {
        return !p.outline && !isBlank(p) && line.rightToLeft[static_cast<size_t>(p.cluster)];
    };
    for (size_t from = 0; from < pieces.size();) {
        // How far the rightmost word may reach: to where the word after the
        // blank drawn before it begins, less what poppler needs to see the
        // blank; anywhere at the line's start.
        double bound = from == 0 ? 1e9 : -1e9;
        if (from > 0 && isBlank(pieces[from - 1]))
            bound = pieces[from - 1].x + pieces[from - 1].width - kBlankKept;
        std::vector<DrawnPiece *> run;  // as drawn, up to a blank or a left-to-right piece
        for (; from < pieces.size() && (pieces[from].outline || inRun(pieces[from])); ++from)
            if (!pieces[from].outline)
                run.push_back(&pieces[from]);
        for (; from < pieces.size() && !inRun(pieces[from]); ++from) {
        }
        const std::vector<std::pair<int, double>> words = wordsOf(run);
        int rightmostWord = 0;
        for (const auto &w : words)
            rightmostWord = std::max(rightmostWord, w.first);
        for (size_t k = 0; k < run.size(); ++k) {
            DrawnPiece &p = *run[k];
            const auto [word, wordEnd] = words[k];
            double right = word == rightmostWord ? std::max(wordEnd, bound) : wordEnd;
            bool rightmost = true;
            for (size_t j = 0; j < run.size(); ++j)
                if (words[j].first == word && run[j]->x > p.x + kOnePlace && run[j]->x < right) {
                    right = run[j]->x;
                    rightmost = false;
                }
            double reach = rightmost ? p.width : right - p.x;
            if (k + 1 < run.size()) {
                const DrawnPiece &next = *run[k + 1];
                if (next.x > p.x - kOnePlace && !(p.spanned && next.spanned && p.cluster == next.cluster)) {
                    failed.insert(p.cluster);
                    failed.insert(next.cluster);
                }
                reach = std::max(reach, next.x - p.x + kPastNext);
            }
            if (p.spanned)
                continue;
            if (reach > right - p.x + (rightmost ? 0 : kMostOverlap))
                failed.insert(p.cluster);
            p.width = static_cast<int>(std::lround(reach));
        }
    }
}

std::vector<DrawnPiece> piecesOf(const ShapedLine &line, const std::set<int> &spanned, std::set<int> &failed)
{
    std::vector<DrawnPiece> out;
    out.reserve(line.reading.size());
    for (size_t k = 0; k < line.reading.size();) {
        const int cluster = line.glyphs[line.reading[k]].cluster;
        std::vector<size_t> glyphs;
        for (; k < line.reading.size() && line.glyphs[line.reading[k]].cluster == cluster; ++k)
            glyphs.push_back(line.reading[k]);
        const size_t from = out.size();
        if (!line.rightToLeft[static_cast<size_t>(cluster)]) {
            for (const size_t i : glyphs)
                addCarried(line.glyphs[i], false, out);
            reachOverOutlines(out, from);
        } else if (spanned.count(cluster) || !addRightToLeft(line, glyphs, cluster, out)) {
            out.resize(from);
            addSpanned(line, glyphs, out);
        }
    }
    reachRightToLeft(line, out, failed);
    return out;
}

} // namespace

std::vector<DrawnPiece> drawnPieces(const ShapedLine &line)
{
    std::set<int> spanned;
    std::vector<DrawnPiece> out;
    for (size_t before = 0;; before = spanned.size()) {
        std::set<int> failed;
        out = piecesOf(line, spanned, failed);
        spanned.insert(failed.begin(), failed.end());
        if (spanned.size() == before)
            break;
    }
    for (size_t k = 0; k < out.size(); ++k) {
        DrawnPiece &p = out[k];
        p.reach = p.width;
        const bool wordEnds = k + 1 == out.size() || isBlank(out[k + 1]);
        if (wordEnds && !line.rightToLeft[static_cast<size_t>(p.cluster)] && holdsNonspacingMark(p.text))
            p.width = 0;
    }
    return out;
}

} // namespace Rpt
