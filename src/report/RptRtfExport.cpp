#include "report/RptRtfExport.h"

#include <fribidi.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <utility>

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

// The document's font: what Latin text and every cell without text of
// other scripts print in.
constexpr const char *kDocumentFont = "Arial";

// What a character asks of a reader's fonts: the document's font does, or
// it needs a font for complex text (right-to-left scripts and those whose
// letters join or reorder) or one for East Asian text. Blanks, digits,
// punctuation and marks take the kind of the letters around them.
enum class Kind { Neutral, Western, Complex, EastAsian };

struct CodeRange {
    char32_t from, to;
};

// Blocks of East Asian text, their punctuation and full-width forms included.
constexpr CodeRange kEastAsian[] = {
    {0x1100, 0x11FF},   {0x2E80, 0x2FDF},   {0x2FF0, 0x31FF}, {0x3200, 0x33FF}, {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F}, {0xAC00, 0xD7FF}, {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F},   {0xFF00, 0xFFEF},   {0x1B000, 0x1B16F}, {0x20000, 0x3FFFF},
};

// Scripts that word processors set with their complex-text fonts (and any
// other script written right to left).
constexpr QChar::Script kComplexScripts[] = {
    QChar::Script_Arabic,     QChar::Script_Hebrew,  QChar::Script_Syriac,   QChar::Script_Thaana,
    QChar::Script_Nko,        QChar::Script_Samaritan, QChar::Script_Mandaic,
    QChar::Script_Devanagari, QChar::Script_Bengali, QChar::Script_Gurmukhi, QChar::Script_Gujarati,
    QChar::Script_Oriya,      QChar::Script_Tamil,   QChar::Script_Telugu,   QChar::Script_Kannada,
    QChar::Script_Malayalam,  QChar::Script_Sinhala, QChar::Script_Thai,     QChar::Script_Lao,
    QChar::Script_Tibetan,    QChar::Script_Myanmar, QChar::Script_Khmer,
};

bool inRanges(char32_t c)
{
    return std::any_of(std::begin(kEastAsian), std::end(kEastAsian),
                       [c](const CodeRange &r) { return c >= r.from && c <= r.to; });
}

Kind kindOf(char32_t c)
{
    if (inRanges(c))
        return Kind::EastAsian;
    const FriBidiCharType type = fribidi_get_bidi_type(c);
    if (type == FRIBIDI_TYPE_RTL || type == FRIBIDI_TYPE_AL)
        return Kind::Complex;
    const QChar::Script script = QChar::script(c);
    if (script == QChar::Script_Common || script == QChar::Script_Inherited || script == QChar::Script_Unknown)
        return Kind::Neutral;
    if (std::find(std::begin(kComplexScripts), std::end(kComplexScripts), script) != std::end(kComplexScripts))
        return Kind::Complex;
    return Kind::Western;
}

// The character set a word processor takes a font's script from, where the
// file names a font it does not have (1: the reader's default).
int charsetOf(char32_t c, bool japanese)
{
    switch (QChar::script(c)) {
    case QChar::Script_Arabic: return 178;
    case QChar::Script_Hebrew: return 177;
    case QChar::Script_Thai: return 222;
    case QChar::Script_Hangul: return 129;
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana: return 128;
    default: break;
    }
    if (inRanges(c))
        return japanese ? 128 : 134;
    return 1;
}

bool hasKana(const std::vector<QString> &lines)
{
    for (const QString &l : lines)
        for (const char32_t c : l.toUcs4()) {
            const QChar::Script s = QChar::script(c);
            if (s == QChar::Script_Hiragana || s == QChar::Script_Katakana)
                return true;
        }
    return false;
}

// Whether a memo's Han letters are Japanese: a text with kana is, and so is
// one without in a report whose fonts are chosen for Japanese (its locale's
// language); otherwise they are Chinese.
bool japaneseHan(const std::vector<QString> &lines, bool japaneseReport)
{
    return japaneseReport || hasKana(lines);
}

// The fonts the file names: the document's font first, then one for each
// family and character set that text of other scripts prints in.
class FontTable {
public:
    FontTable() { fonts_.push_back({QString::fromLatin1(kDocumentFont), 0}); }

    // The number of the font that prints this letter in the face: the font
    // the PDF file prints it with, named by the document's font where that
    // is the report's own font.
    int fontFor(FontFace face, char32_t c, bool japanese)
    {
        QString family = QString::fromLatin1(kDocumentFont);
        try {
            const FontFile *file = Rpt::fontFor(face, c);
            if (file && file != primaryFont(face) && !file->family().isEmpty())
                family = file->family();
        } catch (const std::exception &) {
            // No font can be read: the reader chooses one by the character set.
        }
        const std::pair<QString, int> font{family, charsetOf(c, japanese)};
        const auto it = std::find(fonts_.begin(), fonts_.end(), font);
        if (it != fonts_.end())
            return static_cast<int>(it - fonts_.begin());
        fonts_.push_back(font);
        return static_cast<int>(fonts_.size()) - 1;
    }

    QByteArray table() const
    {
        QByteArray out("{\\fonttbl");
        for (size_t i = 0; i < fonts_.size(); ++i) {
            const auto &[family, charset] = fonts_[i];
            out += "{\\f" + QByteArray::number(static_cast<int>(i));
            if (i == 0)
                out += "\\fswiss";
            else
                out += charset == 177 || charset == 178 ? "\\fbidi" : "\\fnil";
            out += "\\fcharset" + QByteArray::number(charset);
            if (i > 0)
                out += "\\fprq2";
            out += ' ' + rtfText(family, RtfEncoding::Unicode) + ";}";
        }
        return out + '}';
    }

private:
    std::vector<std::pair<QString, int>> fonts_;
};

// A stretch of a line that one direction and one font print.
struct Run {
    QString text;
    bool rightToLeft = false;
    Kind kind = Kind::Western;
    int font = 0;
};

bool rightToLeftParagraph(const QString &line, LineForm form)
{
    const LineForm::Direction d = form.direction != LineForm::Auto ? form.direction : paragraphDirection(line);
    return d == LineForm::RightToLeft;
}

// The line cut where its direction or the font of its script changes.
std::vector<Run> runsOf(const QString &line, bool rightToLeft, FontFace face, bool japanese, FontTable &fonts)
{
    const std::u32string chars = line.toStdU32String();
    const std::vector<signed char> levels = embeddingLevels(chars, rightToLeft);
    struct Mark {
        Kind kind;
        int font;
    };
    std::vector<Mark> marks(chars.size(), Mark{Kind::Neutral, 0});
    for (size_t i = 0; i < chars.size(); ++i) {
        const Kind k = kindOf(chars[i]);
        if (k != Kind::Neutral)
            marks[i] = {k, k == Kind::Western ? 0 : fonts.fontFor(face, chars[i], japanese)};
    }
    // A blank, digit or mark goes with the letter before it, or else with
    // the one after it, where that letter runs in its direction.
    std::vector<size_t> next(chars.size() + 1, chars.size());
    for (size_t i = chars.size(); i-- > 0;)
        next[i] = marks[i].kind != Kind::Neutral ? i : next[i + 1];
    size_t before = chars.size();
    for (size_t i = 0; i < chars.size(); ++i) {
        if (marks[i].kind != Kind::Neutral) {
            before = i;
            continue;
        }
        const size_t after = next[i];
        if (before < chars.size() && levels[before] == levels[i])
            marks[i] = marks[before];
        else if (after < chars.size() && levels[after] == levels[i])
            marks[i] = marks[after];
        else
            marks[i] = {Kind::Western, 0};
    }

    std::vector<Run> runs;
    for (size_t i = 0; i < chars.size(); ++i) {
        const bool rtl = levels[i] & 1;
        if (runs.empty() || runs.back().rightToLeft != rtl || runs.back().kind != marks[i].kind ||
            runs.back().font != marks[i].font)
            runs.push_back(Run{QString(), rtl, marks[i].kind, marks[i].font});
        runs.back().text += QString::fromUcs4(&chars[i], 1);
    }
    return runs;
}

bool plainRun(const Run &r) { return !r.rightToLeft && r.kind == Kind::Western; }

// A run as word processors expect it: right-to-left text marked \rtlch and
// left-to-right text \ltrch, each with the font of its script in every
// font slot a reader may take it from (\af for complex text, \dbch and
// \hich for East Asian text, \f and \loch for the rest).
QByteArray runText(const Run &r)
{
    if (plainRun(r))
        return rtfText(r.text);
    const QByteArray f = QByteArray::number(r.font);
    QByteArray out = "{";
    if (r.rightToLeft)
        out += "\\ltrch\\f" + f + "\\rtlch\\af" + f;
    else if (r.kind == Kind::EastAsian)
        out += "\\rtlch\\af" + f + "\\ltrch\\hich\\af" + f + "\\dbch\\af" + f + "\\loch\\f" + f;
    else
        out += "\\rtlch\\af" + f + "\\ltrch\\f" + f;
    return out + ' ' + rtfText(r.text, RtfEncoding::Unicode) + '}';
}

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
    BandWriter(const ColourTable &colours, FontTable &fonts, double marginLeft, bool japaneseReport)
        : colours_(colours), fonts_(fonts), marginLeft_(marginLeft), japaneseReport_(japaneseReport) {}

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

    // The memo's lines, a paragraph for each run of lines of one direction.
    QByteArray cellText(const PlacedMemo &m) const
    {
        const bool japanese = japaneseHan(m.lines, japaneseReport_);
        QByteArray t;
        for (size_t i = 0; i < m.lines.size();) {
            QString line = lineText(m, i);
            const bool rtl = rightToLeftParagraph(line, m.form(i));
            std::vector<std::vector<Run>> lines;
            for (; i < m.lines.size(); ++i) {
                line = lineText(m, i);
                if (!lines.empty() && rightToLeftParagraph(line, m.form(i)) != rtl)
                    break;
                lines.push_back(runsOf(line, rtl, m.font.face(), japanese, fonts_));
            }
            if (!t.isEmpty())
                t += "\\par\n";
            t += paragraph(m, rtl, lines);
        }
        if (t.isEmpty())
            t = paragraph(m, false, {});
        return t + "\\cell\n";
    }

    // Each paragraph starts afresh; one of Latin text alone in the memo's
    // direction needs no marks at all.
    QByteArray paragraph(const PlacedMemo &m, bool rtl, const std::vector<std::vector<Run>> &lines) const
    {
        bool marked = rtl;
        for (const auto &runs : lines)
            marked = marked || !std::all_of(runs.begin(), runs.end(), plainRun);
        const QByteArray size = QByteArray::number(static_cast<int>(std::lround(m.font.sizePt * 2)));
        QByteArray t = "\\pard\\intbl";
        if (marked)
            t += rtl ? "\\rtlpar" : "\\ltrpar";
        t += alignment(m.align, rtl);
        if (marked)
            t += QByteArray("\\plain\\rtlch\\af0\\afs") + size + (m.font.bold ? "\\ab" : "") + "\\ltrch\\f0\\fs" + size;
        else
            t += "\\plain\\f0\\fs" + size;
        t += "\\cf" + n(colours_.index(m.font.color));
        if (m.font.bold) t += "\\b";
        t += ' ';
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i > 0) t += "\\line ";
            for (const Run &r : lines[i])
                t += runText(r);
        }
        return t;
    }

    // A right-to-left paragraph starts at the right: the template's sides
    // change places for it.
    static const char *alignment(HAlign align, bool rtl)
    {
        if (align == HAlign::Center)
            return "\\qc";
        return (align == HAlign::Right) != rtl ? "\\qr" : "\\ql";
    }

    static QString lineText(const PlacedMemo &m, size_t i)
    {
        QString line = m.lines[i];
        // A line broken at a soft hyphen shows the hyphen, as it does in the PDF file.
        if (m.form(i).hyphen && line.endsWith(QChar(0x00AD)))
            line.back() = QLatin1Char('-');
        return line;
    }

    const ColourTable &colours_;
    FontTable &fonts_;
    double marginLeft_;
    bool japaneseReport_;
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

QByteArray rtfText(const QString &text, RtfEncoding encoding)
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
        } else if (const uint8_t b = toWinAnsi(c); b != '?' && encoding == RtfEncoding::CodePage) {
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
    FontTable fonts;
    // The language the PDF file's fonts were chosen for, as fontconfig was asked.
    const QString language = fontLanguage();
    const bool japanese = language == QLatin1String("ja") || language.startsWith(QLatin1String("ja-"));
    const BandWriter writer(colours, fonts, report.marginLeft, japanese);
    QByteArray body;
    for (size_t i = 0; i < report.pages.size(); ++i) {
        if (i > 0)
            body += "\\pard\\plain\\sl-1\\slmult0\\fs2\\page\\par\n";
        for (const PlacedBand &b : report.pages[i].bands)
            if (b.kind != BandKind::PageFooter)  // no page header or footer in this format
                body += writer.band(b);
    }
    const int w = twips(report.paperWidth), h = twips(report.paperHeight);
    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n" + fonts.table() + '\n';
    out += colours.table() + '\n';
    out += "{\\*\\generator " + rtfText(Creator) + ";}\n";
    out += "{\\info{\\title " + rtfText(report.title) + "}}\n";
    out += "\\paperw" + n(w) + "\\paperh" + n(h) + "\\margl" + n(twips(report.marginLeft)) + "\\margr" + n(twips(report.marginRight)) +
           "\\margt" + n(twips(report.marginTop)) + "\\margb" + n(twips(report.marginBottom)) + "\\sectd\\pgwsxn" + n(w) + "\\pghsxn" + n(h) + "\n";
    return out + body + "}\n";
}
