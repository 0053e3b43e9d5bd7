// Reads an RTF document as a word processor does, for tests: the balance of
// its groups, the control words it uses, its text page by page and paragraph
// by paragraph, and for each character the direction and fonts in force
// where it stands. Groups keep their properties, \pard and \plain reset the
// paragraph's and the characters' properties, \af names the East Asian font
// after \dbch and the complex-text font otherwise.
//
//   const TestSupport::RtfDocument doc = TestSupport::readRtf(bytes);
//   EXPECT_TRUE(doc.text().contains(note));
#pragma once

#include <QChar>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

namespace TestSupport {

// A character of the body with the character properties in force where it stands.
struct RtfChar {
    QChar c;
    bool rightToLeft = false;  // \rtlch (else \ltrch, the default)
    int font = 0;              // \f
    int complexFont = 0;       // \af
    int eastAsianFont = -1;    // \af after \dbch; -1: none named
};

struct RtfParagraph {
    bool rightToLeft = false;  // \rtlpar
    char align = 'l';          // \ql, \qr, \qc
    QString text;              // \line as '\n', \tab as '\t'
    std::vector<RtfChar> chars;
};

struct RtfDocument {
    bool balanced = true;
    std::map<QString, int> words;  // control word -> count
    std::vector<QString> pages;    // body text, one entry per page; cells, lines and paragraphs end in '\n'
    std::map<int, QString> fonts;  // the font table: number -> family
    std::vector<RtfParagraph> paragraphs;

    int count(const char *word) const
    {
        const auto it = words.find(QString::fromLatin1(word));
        return it == words.end() ? 0 : it->second;
    }
    const RtfParagraph *paragraph(const QString &text) const
    {
        for (const RtfParagraph &p : paragraphs)
            if (p.text == text)
                return &p;
        return nullptr;
    }
    // Every paragraph's text, one a line.
    QString text() const
    {
        QStringList lines;
        for (const RtfParagraph &p : paragraphs)
            lines << p.text;
        return lines.join(QLatin1Char('\n'));
    }
};

// The character of a code-page 1252 byte.
inline QChar fromWinAnsi(uint8_t b)
{
    static const char16_t high[32] = {
        0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178,
    };
    return b >= 0x80 && b < 0xA0 ? QChar(high[b - 0x80]) : QChar(b);
}

inline RtfDocument readRtf(const QByteArray &rtf)
{
    RtfDocument out;
    out.pages.emplace_back();

    // The font table's entries: "{\fN...<controls> Family;}".
    const QString all = QString::fromLatin1(rtf);
    static const QRegularExpression entry(QStringLiteral("\\{\\\\f(\\d+)(?:\\\\[a-z]+\\d*)* ([^;{}]*);\\}"));
    static const QRegularExpression unicode(QStringLiteral("\\\\u(-?\\d+)\\?"));
    const qsizetype tableEnd = all.indexOf(QLatin1String("{\\colortbl"));
    for (const QRegularExpressionMatch &m : entry.globalMatch(all.left(tableEnd < 0 ? all.size() : tableEnd))) {
        QString family = m.captured(2);
        for (auto u = unicode.match(family); u.hasMatch(); u = unicode.match(family))
            family.replace(u.capturedStart(), u.capturedLength(), QChar(static_cast<char16_t>(u.captured(1).toInt())));
        out.fonts[m.captured(1).toInt()] = family;
    }

    enum class Slot { None, High, Double };
    struct State {
        RtfChar props;
        Slot slot = Slot::None;
    };
    std::vector<State> stack{State{}};
    RtfParagraph para;
    size_t skipDepth = 0;  // inside a destination group whose text is not body text
    const auto body = [&] { return skipDepth == 0 && stack.size() >= 2; };
    const auto endParagraph = [&] {
        if (!para.text.isEmpty())
            out.paragraphs.push_back(para);
        para.text.clear();
        para.chars.clear();
    };
    const auto put = [&](QChar c) {
        if (!body())
            return;
        out.pages.back() += c;
        if (c == QLatin1Char('\n') && para.text.isEmpty())
            return;
        RtfChar m = stack.back().props;
        m.c = c;
        para.text += c;
        para.chars.push_back(m);
    };
    for (qsizetype i = 0; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '{') {
            stack.push_back(stack.back());
        } else if (c == '}') {
            if (skipDepth == stack.size())
                skipDepth = 0;
            if (stack.size() <= 1)
                out.balanced = false;
            else
                stack.pop_back();
        } else if (c == '\\') {
            const char next = i + 1 < rtf.size() ? rtf[i + 1] : '\0';
            if (next == '\\' || next == '{' || next == '}') {
                put(QLatin1Char(next));
                ++i;
                continue;
            }
            if (next == '\'') {
                const char hex[3] = {i + 2 < rtf.size() ? rtf[i + 2] : '0', i + 3 < rtf.size() ? rtf[i + 3] : '0', 0};
                put(fromWinAnsi(static_cast<uint8_t>(std::strtol(hex, nullptr, 16))));
                i += 3;
                continue;
            }
            qsizetype j = i + 1;
            while (j < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[j])))
                ++j;
            if (j == i + 1) {  // a control symbol such as \* or \-
                ++i;
                continue;
            }
            const QByteArray word = rtf.mid(i + 1, j - i - 1);
            qsizetype k = j;
            while (k < rtf.size() && (rtf[k] == '-' || std::isdigit(static_cast<unsigned char>(rtf[k]))))
                ++k;
            const int param = rtf.mid(j, k - j).toInt();
            if (k < rtf.size() && rtf[k] == ' ')
                ++k;
            i = k - 1;
            ++out.words[QString::fromLatin1(word)];
            State &s = stack.back();
            if (word == "fonttbl" || word == "colortbl" || word == "info" || word == "generator") {
                skipDepth = stack.size();
            } else if (word == "pard") {
                para.rightToLeft = false;
                para.align = 'l';
            } else if (word == "rtlpar" || word == "ltrpar") {
                para.rightToLeft = word == "rtlpar";
            } else if (word == "ql" || word == "qr" || word == "qc") {
                para.align = word[1];
            } else if (word == "plain") {
                s = State{};
            } else if (word == "rtlch" || word == "ltrch") {
                s.props.rightToLeft = word == "rtlch";
                s.slot = Slot::None;
            } else if (word == "loch" || word == "hich" || word == "dbch") {
                s.slot = word == "loch" ? Slot::None : word == "hich" ? Slot::High : Slot::Double;
            } else if (word == "f") {
                s.props.font = param;
            } else if (word == "af") {
                if (s.slot == Slot::Double)
                    s.props.eastAsianFont = param;
                else if (s.slot == Slot::None)
                    s.props.complexFont = param;
            } else if (word == "tab") {
                put(QLatin1Char('\t'));
            } else if (word == "u") {
                put(QChar(static_cast<char16_t>(param)));
                ++i;  // its '?' fallback
            } else if (word == "line") {
                put(QLatin1Char('\n'));
            } else if (word == "par" || word == "cell") {
                if (body())
                    out.pages.back() += QLatin1Char('\n');
                endParagraph();
            } else if (word == "row") {
                endParagraph();
            } else if (word == "page") {
                endParagraph();
                out.pages.emplace_back();
            }
        } else if (c != '\n' && c != '\r') {
            put(QLatin1Char(c));
        }
    }
    endParagraph();
    out.balanced = out.balanced && stack.size() == 1;
    return out;
}

} // namespace TestSupport
