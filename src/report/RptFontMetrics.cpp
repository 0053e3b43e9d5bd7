#include "report/RptFontMetrics.h"

#include <cstddef>

namespace Rpt {
namespace {

// Widths of codes 32..126 (ASCII) in 1/1000 em.
constexpr uint16_t kHelveticaAscii[95] = {
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // 32..47
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 48..63
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778, // 64..79
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,  // 80..95
    333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,  // 96..111
    556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584,       // 112..126
};

constexpr uint16_t kHelveticaBoldAscii[95] = {
    278, 333, 474, 556, 556, 889, 722, 238, 333, 333, 389, 584, 278, 333, 278, 278,  // 32..47
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 333, 333, 584, 584, 584, 611,  // 48..63
    975, 722, 722, 722, 722, 667, 611, 778, 722, 278, 556, 722, 611, 833, 722, 778,  // 64..79
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 333, 278, 333, 584, 556,  // 80..95
    333, 556, 611, 556, 611, 556, 333, 611, 611, 278, 278, 556, 278, 889, 611, 611,  // 96..111
    611, 611, 389, 556, 333, 611, 556, 778, 556, 556, 500, 389, 280, 389, 584,       // 112..126
};

// Widths of codes 128..255; 0 marks a code the code page leaves unused.
constexpr uint16_t kHelveticaHigh[128] = {
    556, 0, 222, 556, 333, 1000, 556, 556, 333, 1000, 667, 333, 1000, 0, 611, 0,      // 128..143
    0, 222, 222, 333, 333, 350, 556, 1000, 333, 1000, 500, 333, 944, 0, 500, 667,     // 144..159
    278, 333, 556, 556, 556, 556, 260, 556, 333, 737, 370, 556, 584, 333, 737, 333,   // 160..175
    400, 584, 333, 333, 333, 556, 537, 278, 333, 333, 365, 556, 834, 834, 834, 611,   // 176..191
    667, 667, 667, 667, 667, 667, 1000, 722, 667, 667, 667, 667, 278, 278, 278, 278,  // 192..207
    722, 722, 778, 778, 778, 778, 778, 584, 778, 722, 722, 722, 722, 667, 667, 611,   // 208..223
    556, 556, 556, 556, 556, 556, 889, 500, 556, 556, 556, 556, 278, 278, 278, 278,   // 224..239
    556, 556, 556, 556, 556, 556, 556, 584, 611, 556, 556, 556, 556, 500, 556, 500,   // 240..255
};

constexpr uint16_t kHelveticaBoldHigh[128] = {
    556, 0, 278, 556, 500, 1000, 556, 556, 333, 1000, 667, 333, 1000, 0, 611, 0,      // 128..143
    0, 278, 278, 500, 500, 350, 556, 1000, 333, 1000, 556, 333, 944, 0, 500, 667,     // 144..159
    278, 333, 556, 556, 556, 556, 280, 556, 333, 737, 370, 556, 584, 333, 737, 333,   // 160..175
    400, 584, 333, 333, 333, 611, 556, 278, 333, 333, 365, 556, 834, 834, 834, 611,   // 176..191
    722, 722, 722, 722, 722, 722, 1000, 722, 667, 667, 667, 667, 278, 278, 278, 278,  // 192..207
    722, 722, 778, 778, 778, 778, 778, 584, 778, 722, 722, 722, 722, 667, 667, 611,   // 208..223
    556, 556, 556, 556, 556, 556, 889, 556, 556, 556, 556, 556, 278, 278, 278, 278,   // 224..239
    611, 611, 611, 611, 611, 611, 611, 584, 611, 611, 611, 611, 611, 556, 611, 556,   // 240..255
};

std::array<uint16_t, 256> buildTable(const uint16_t (&ascii)[95], const uint16_t (&high)[128])
{
    std::array<uint16_t, 256> t{};
    for (size_t i = 0; i < 95; ++i)
        t[32 + i] = ascii[i];
    for (size_t i = 0; i < 128; ++i)
        t[128 + i] = high[i];
    return t;
}

// Characters of codes 0x80..0x9F (0 where the code page has none).
constexpr char16_t kWinAnsi80[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

constexpr double kEpsilonPt = 1e-6;

double widthOf(const QString &s, const std::array<uint16_t, 256> &w, double sizePt)
{
    long units = 0;
    for (QChar c : s)
        units += w[toWinAnsi(c)];
    return units * sizePt / 1000.0;
}

class Wrapper {
public:
    Wrapper(FontFace face, double sizePt, double widthPt)
        : widths_(faceWidths(face)), size_(sizePt), max_(widthPt) {}

    void paragraph(const QString &para)
    {
        QString line;
        int i = 0;
        const int n = para.size();
        while (i < n && para[i] == QLatin1Char(' '))
            line += para[i++];
        bool content = false;  // the line holds more than leading blanks
        while (i < n) {
            QString blanks;
            while (i < n && para[i] == QLatin1Char(' '))
                blanks += para[i++];
            if (i >= n)
                break;
            QString word;
            while (i < n && para[i] != QLatin1Char(' '))
                word += para[i++];
            if (fits(line + blanks + word)) {
                line += blanks + word;
            } else if (!content) {
                line = breakWord(line + blanks, word);
            } else {
                push(line);
                line = fits(word) ? word : breakWord(QString(), word);
            }
            content = true;
        }
        push(line);
    }

    std::vector<QString> lines;

private:
    bool fits(const QString &s) const { return widthOf(s, widths_, size_) <= max_ + kEpsilonPt; }

    // Places a word too wide for one line character by character; returns the
    // unfinished last line. Every line takes at least one character.
    QString breakWord(QString cur, const QString &word)
    {
        bool visible = false;
        for (QChar c : word) {
            if (visible && !fits(cur + c)) {
                push(cur);
                cur.clear();
            }
            cur += c;
            visible = true;
        }
        return cur;
    }

    void push(QString line)
    {
        while (!line.isEmpty() && line.back() == QLatin1Char(' '))
            line.chop(1);
        lines.push_back(line);
    }

    const std::array<uint16_t, 256> &widths_;
    double size_;
    double max_;
};

} // namespace

const char *faceName(FontFace face)
{
    return face == FontFace::HelveticaBold ? "Helvetica-Bold" : "Helvetica";
}

const std::array<uint16_t, 256> &faceWidths(FontFace face)
{
    static const auto regular = buildTable(kHelveticaAscii, kHelveticaHigh);
    static const auto bold = buildTable(kHelveticaBoldAscii, kHelveticaBoldHigh);
    return face == FontFace::HelveticaBold ? bold : regular;
}

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

double textWidthPt(const QString &text, FontFace face, double sizePt)
{
    return widthOf(text, faceWidths(face), sizePt);
}

std::vector<QString> wrapText(const QString &text, FontFace face, double sizePt, double widthPt)
{
    Wrapper w(face, sizePt, widthPt);
    QString normalised = text;
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList paragraphs = normalised.split(QLatin1Char('\n'));
    for (const QString &p : paragraphs)
        w.paragraph(p);
    return w.lines;
}

} // namespace Rpt
