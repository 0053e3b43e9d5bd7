#include "report/RptFontMetrics.h"

#include <cstddef>

namespace Rpt {
namespace {

constexpr double kEpsilonPt = 1e-6;

char32_t printed(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0) ? U' ' : c; }

double widthOf(const QString &s, FontFace face, double sizePt)
{
    long units = 0;
    for (char32_t c : printedCharacters(s))
        units += glyphFor(face, c).width;
    return units * sizePt / 1000.0;
}

// The text's characters one by one, a surrogate pair kept whole.
std::vector<QString> characters(const QString &text)
{
    std::vector<QString> out;
    for (int i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        out.push_back(text.mid(i, pair ? 2 : 1));
        i += pair ? 1 : 0;
    }
    return out;
}

class Wrapper {
public:
    Wrapper(FontFace face, double sizePt, double widthPt)
        : face_(face), size_(sizePt), max_(widthPt) {}

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
    bool fits(const QString &s) const { return widthOf(s, face_, size_) <= max_ + kEpsilonPt; }

    // Places a word too wide for one line character by character; returns the
    // unfinished last line. Every line takes at least one character.
    QString breakWord(QString cur, const QString &word)
    {
        bool visible = false;
        for (const QString &c : characters(word)) {
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

    FontFace face_;
    double size_;
    double max_;
};

} // namespace

std::u32string printedCharacters(const QString &text)
{
    std::u32string out;
    for (char32_t c : text.toUcs4())
        out += printed(c);
    return out;
}

double textWidthPt(const QString &text, FontFace face, double sizePt)
{
    return widthOf(text, face, sizePt);
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
