#include "report/RptRtfExport.h"

#include <algorithm>
#include <cmath>

namespace Rpt {
namespace {

// Characters of codes 0x80..0x9F (0 where the code page has none).
constexpr char16_t kWinAnsi80[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

constexpr double kTwipsPerMm = 1440.0 / 25.4;
constexpr int kBorderTwips = 15;

int twips(double mm) { return static_cast<int>(std::lround(mm * kTwipsPerMm)); }
QByteArray n(int v) { return QByteArray::number(v); }

// Fill colours in use, numbered from 1 (0 is the automatic colour).
class ColourTable {
public:
    explicit ColourTable(const PreparedReport &r)
    {
        add(Color{});
        for (const Page &p : r.pages)
            for (const PlacedBand &b : p.bands)
                for (const PlacedMemo &m : b.memos) {
                    if (m.fill) add(*m.fill);
                    add(m.font.color);
                }
    }
    int index(const Color &c) const
    {
        return static_cast<int>(std::find(colours_.begin(), colours_.end(), c) - colours_.begin()) + 1;
    }
    QByteArray table() const
    {
        QByteArray out("{\\colortbl;");
        for (const Color &c : colours_)
            out += "\\red" + n(c.r) + "\\green" + n(c.g) + "\\blue" + n(c.b) + ';';
        return out + '}';
    }

private:
    void add(const Color &c)
    {
        if (std::find(colours_.begin(), colours_.end(), c) == colours_.end())
            colours_.push_back(c);
    }
    std::vector<Color> colours_;
};

QByteArray spacer(double mm)
{
    // An empty paragraph of exactly this height keeps the bands where they print.
    return "\\pard\\plain\\sl-" + n(std::max(1, twips(mm))) + "\\slmult0\\fs2\\par\n";
}

QByteArray border(const char *side)
{
    return QByteArray("\\clbrdr") + side + "\\brdrs\\brdrw" + n(kBorderTwips);
}

class BandWriter {
public:
    BandWriter(const ColourTable &colours, double marginLeft) : colours_(colours), marginLeft_(marginLeft) {}

    QByteArray band(const PlacedBand &b) const
    {
        if (b.memos.empty())
            return spacer(b.height);
        std::vector<const PlacedMemo *> memos;
        for (const PlacedMemo &m : b.memos)
            memos.push_back(&m);
        std::sort(memos.begin(), memos.end(), [](auto a, auto c) { return a->left < c->left; });
        const double memoTop = memos.front()->top - b.top;
        const double memoHeight = memos.front()->height;
        QByteArray out;
        if (memoTop > 0.01)
            out += spacer(memoTop);
        out += row(memos, memoHeight);
        const double rest = b.height - memoTop - memoHeight;
        if (rest > 0.01)
            out += spacer(rest);
        return out;
    }

private:
    QByteArray row(const std::vector<const PlacedMemo *> &memos, double height) const
    {
        // An at-least height: a reader whose font is wider than the report's
        // wraps the text and grows the row instead of hiding what overflows.
        QByteArray def = "\\trowd\\trgaph28\\trleft-28\\trrh" + n(twips(height));
        QByteArray cells;
        double x = marginLeft_;
        for (const PlacedMemo *m : memos) {
            if (m->left > x + 0.01) {  // a gap between memos is an empty cell
                def += "\\cellx" + n(twips(m->left - marginLeft_));
                cells += "\\pard\\intbl\\plain\\fs2\\cell\n";
            }
            def += cellDefinition(*m);
            cells += cellText(*m);
            x = m->left + m->width;
        }
        return def + '\n' + cells + "\\row\n";
    }

    QByteArray cellDefinition(const PlacedMemo &m) const
    {
        QByteArray d;
        if (m.frame & FrameTop) d += border("t");
        if (m.frame & FrameLeft) d += border("l");
        if (m.frame & FrameBottom) d += border("b");
        if (m.frame & FrameRight) d += border("r");
        if (m.fill)
            d += "\\clcbpat" + n(colours_.index(*m.fill));
        return d + "\\cellx" + n(twips(m.left + m.width - marginLeft_));
    }

    QByteArray cellText(const PlacedMemo &m) const
    {
        QByteArray t = "\\pard\\intbl";
        t += m.align == HAlign::Center ? "\\qc" : m.align == HAlign::Right ? "\\qr" : "\\ql";
        t += "\\plain\\f0\\fs" + n(static_cast<int>(std::lround(m.font.sizePt * 2)));
        t += "\\cf" + n(colours_.index(m.font.color));
        if (m.font.bold) t += "\\b";
        t += ' ';
        for (size_t i = 0; i < m.lines.size(); ++i) {
            if (i > 0) t += "\\line ";
            QString line = m.lines[i];
            // A line broken at a soft hyphen shows the hyphen, as it does in the PDF file.
            if (i < m.forms.size() && m.forms[i].hyphen && line.endsWith(QChar(0x00AD)))
                line.back() = QLatin1Char('-');
            t += rtfText(line);
        }
        return t + "\\cell\n";
    }

    const ColourTable &colours_;
    double marginLeft_;
};

} // namespace

uint8_t toWinAnsi(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x20)
        return ' ';
    if (u < 0x7F || (u >= 0xA0 && u <= 0xFF))
        return static_cast<uint8_t>(u);
    for (int i = 0; i < 32; ++i)
        if (kWinAnsi80[i] != 0 && kWinAnsi80[i] == u)
            return static_cast<uint8_t>(0x80 + i);
    return '?';
}

QByteArray toWinAnsi(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        // A character outside the basic plane is one '?', not one per half.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        out.append(static_cast<char>(toWinAnsi(text[i])));
    }
    return out;
}

QByteArray rtfText(const QString &text)
{
    QByteArray out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '{' || u == '}') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 32 && u < 127) {
            out += static_cast<char>(u);
        } else if (u == '\t') {
            out += "\\tab ";  // the reader's default stops, every 36 pt, as in the PDF file
        } else if (u == 0x00AD) {
            out += "\\-";
        } else if (u < 32) {
            out += ' ';
        } else if (const uint8_t b = toWinAnsi(c); b != '?') {
            out += "\\'" + QByteArray::number(b, 16).rightJustified(2, '0');
        } else {
            out += "\\u" + QByteArray::number(static_cast<int16_t>(u)) + '?';
        }
    }
    return out;
}

} // namespace Rpt

TRptRTFExport::TRptRTFExport() = default;

QByteArray TRptRTFExport::render(const Rpt::PreparedReport &report) const
{
    using namespace Rpt;
    const ColourTable colours(report);
    const int w = twips(report.paperWidth), h = twips(report.paperHeight);
    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\n";
    out += colours.table() + '\n';
    out += "{\\*\\generator " + rtfText(Creator) + ";}\n";
    out += "{\\info{\\title " + rtfText(report.title) + "}}\n";
    out += "\\paperw" + n(w) + "\\paperh" + n(h) + "\\margl" + n(twips(report.marginLeft)) + "\\margr" + n(twips(report.marginRight)) +
           "\\margt" + n(twips(report.marginTop)) + "\\margb" + n(twips(report.marginBottom)) + "\\sectd\\pgwsxn" + n(w) + "\\pghsxn" + n(h) + "\n";
    const BandWriter writer(colours, report.marginLeft);
    for (size_t i = 0; i < report.pages.size(); ++i) {
        if (i > 0)
            out += "\\pard\\plain\\sl-1\\slmult0\\fs2\\page\\par\n";
        for (const PlacedBand &b : report.pages[i].bands)
            if (b.kind != BandKind::PageFooter)  // no page header or footer in this format
                out += writer.band(b);
    }
    return out + "}\n";
}
