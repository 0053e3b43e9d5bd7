// Reads back what the report's PDF files draw: the objects and deflated
// streams, each page's text objects as lines of shown glyphs (font, code,
// position, rise, the /ActualText around them), the glyph outlines it fills
// as paths, and each font's ToUnicode map, widths, code-to-glyph map and
// embedded program.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace PdfProbe {

inline QByteArray inflate(const QByteArray &in)
{
    QByteArray out(static_cast<int>(std::max<qsizetype>(in.size() * 8, 1 << 16)), '\0');
    for (;;) {
        uLongf size = static_cast<uLongf>(out.size());
        const int rc = uncompress(reinterpret_cast<Bytef *>(out.data()), &size,
                                  reinterpret_cast<const Bytef *>(in.constData()), static_cast<uLong>(in.size()));
        if (rc == Z_BUF_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (rc != Z_OK)
            return QByteArray();
        out.resize(static_cast<int>(size));
        return out;
    }
}

struct Font {
    QByteArray baseFont, subtype;  // "/CIDFontType2" or "/CIDFontType0"
    std::map<uint32_t, QString> toUnicode;
    std::map<uint32_t, int> widths;
    std::map<uint32_t, uint32_t> glyphOf;  // code -> glyph of the program (TrueType); empty for CFF
    QByteArray program;
};

struct Shown {
    QByteArray font;    // resource name, "/F1"
    uint32_t code = 0;
    double x = 0;       // 1/1000 em from the line's start
    double rise = 0;    // points
    QString actualText; // of the innermost span around it, if any
    int span = -1;      // which span (counted over the page), -1 for none
};

struct Line {
    std::vector<Shown> glyphs;
    double size = 0;
    double x = 0, y = 0;  // where it starts on the page, points (the text object's moves added up)
};

// A filled path drawn in a space of its own ("q s 0 0 s x y cm ... f Q"):
// where its origin is on the page (points), its scale, and the points its
// segments end at, in its own units.
struct Path {
    double x = 0, y = 0, scale = 0;
    std::vector<std::pair<double, double>> ends;
    int contours = 0;
};

class Document {
public:
    explicit Document(const QByteArray &bytes)
    {
        qsizetype at = 0;
        for (;;) {
            const qsizetype start = bytes.indexOf(" 0 obj\n", at);
            if (start < 0)
                break;
            qsizetype numStart = start;
            while (numStart > 0 && bytes[numStart - 1] >= '0' && bytes[numStart - 1] <= '9')
                --numStart;
            const int id = bytes.mid(numStart, start - numStart).toInt();
            const qsizetype body = start + 7;
            const qsizetype streamAt = bytes.indexOf(">>\nstream\n", body);
            const qsizetype end = bytes.indexOf("\nendobj\n", body);
            if (end < 0)
                break;
            if (streamAt >= 0 && streamAt < end) {
                dicts[id] = bytes.mid(body, streamAt + 2 - body);
                const qsizetype data = streamAt + 10;
                const qsizetype dataEnd = bytes.lastIndexOf("\nendstream", end);
                streams[id] = inflate(bytes.mid(data, dataEnd - data));
            } else {
                dicts[id] = bytes.mid(body, end - body);
            }
            at = end + 8;
        }
    }

    static int ref(const QByteArray &dict, const char *key)
    {
        const QRegularExpression re(QStringLiteral("/%1 (\\d+) 0 R").arg(QString::fromLatin1(key)));
        const auto m = re.match(QString::fromLatin1(dict));
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    }

    // The page objects in order.
    std::vector<int> pages() const
    {
        std::vector<int> out;
        for (const auto &[id, d] : dicts)
            if (d.contains("/Type /Page ") || d.contains("/Type /Page>>"))
                out.push_back(id);
        return out;
    }

    // The fonts of a page by resource name.
    std::map<QByteArray, Font> fonts(int page) const
    {
        std::map<QByteArray, Font> out;
        const QByteArray &d = dicts.at(page);
        const QRegularExpression re(QStringLiteral("/(F\\d+) (\\d+) 0 R"));
        auto it = re.globalMatch(QString::fromLatin1(d));
        while (it.hasNext()) {
            const auto m = it.next();
            out[m.captured(1).toLatin1().prepend('/')] = font(m.captured(2).toInt());
        }
        return out;
    }

    Font font(int type0) const
    {
        Font f;
        const QByteArray &d = dicts.at(type0);
        f.baseFont = QRegularExpression(QStringLiteral("/BaseFont /(\\S+)")).match(QString::fromLatin1(d)).captured(1).toLatin1();
        const int cid = QRegularExpression(QStringLiteral("/DescendantFonts \\[(\\d+) 0 R\\]"))
                            .match(QString::fromLatin1(d)).captured(1).toInt();
        const QByteArray &cd = dicts.at(cid);
        f.subtype = cd.contains("/CIDFontType0") ? "/CIDFontType0" : "/CIDFontType2";
        parseToUnicode(streams.at(ref(d, "ToUnicode")), f);
        parseWidths(cd, f);
        if (const int map = ref(cd, "CIDToGIDMap")) {
            const QByteArray &m = streams.at(map);
            for (qsizetype c = 0; 2 * c + 1 < m.size(); ++c)
                f.glyphOf[static_cast<uint32_t>(c)] = uint8_t(m[2 * c]) << 8 | uint8_t(m[2 * c + 1]);
        }
        const QByteArray &desc = dicts.at(ref(cd, "FontDescriptor"));
        const int file = ref(desc, "FontFile2") ? ref(desc, "FontFile2") : ref(desc, "FontFile3");
        f.program = streams.at(file);
        return f;
    }

    // The text objects of a page, one Line per Td.
    std::vector<Line> lines(int page) const
    {
        const QByteArray content = streams.at(ref(dicts.at(page), "Contents"));
        std::vector<Line> out;
        QByteArray font;
        double size = 0, pen = 0, rise = 0;
        std::vector<QString> spans;
        std::vector<int> spanIds;
        int spanCount = 0;
        bool lineStart = true;  // the next Td is the first of a text object
        QByteArrayList stack;
        const auto show = [&](const QByteArray &hex) {
            for (qsizetype i = 0; i + 4 <= hex.size(); i += 4) {
                const uint32_t code = hex.mid(i, 4).toUInt(nullptr, 16);
                Shown s{font, code, pen, rise, spans.empty() ? QString() : spans.back(),
                        spanIds.empty() ? -1 : spanIds.back()};
                out.back().glyphs.push_back(s);
                pen += widthOf(page, font, code);
            }
        };
        for (qsizetype i = 0; i < content.size();) {
            const char c = content[i];
            if (c == ' ' || c == '\n') {
                ++i;
            } else if (c == '<' && i + 1 < content.size() && content[i + 1] == '<') {
                const qsizetype e = content.indexOf(">>", i);
                stack << content.mid(i, e + 2 - i);
                i = e + 2;
            } else if (c == '<') {
                const qsizetype e = content.indexOf('>', i);
                stack << content.mid(i, e + 1 - i);
                i = e + 1;
            } else if (c == '[') {
                const qsizetype e = content.indexOf(']', i);
                stack << content.mid(i, e + 1 - i);
                i = e + 1;
            } else {
                qsizetype e = i;
                while (e < content.size() && content[e] != ' ' && content[e] != '\n' && content[e] != '<' &&
                       content[e] != '[')
                    ++e;
                const QByteArray tok = content.mid(i, e - i);
                i = e;
                if (tok == "Td") {
                    const double dx = stack.value(stack.size() - 2).toDouble(), dy = stack.last().toDouble();
                    const double x0 = out.empty() || lineStart ? dx : out.back().x + dx;
                    const double y0 = out.empty() || lineStart ? dy : out.back().y + dy;
                    out.push_back(Line{{}, size, x0, y0});
                    lineStart = false;
                    pen = 0;
                } else if (tok == "Tf") {
                    font = stack.value(stack.size() - 2);
                    size = stack.last().toDouble();
                    if (!out.empty())
                        out.back().size = size;
                } else if (tok == "Ts") {
                    rise = stack.last().toDouble();
                } else if (tok == "Tj") {
                    show(stack.last().mid(1, stack.last().size() - 2));
                } else if (tok == "TJ") {
                    const QByteArray arr = stack.last().mid(1, stack.last().size() - 2);
                    for (const QByteArray &part : arr.split(' ')) {
                        if (part.startsWith('<'))
                            show(part.mid(1, part.size() - 2));
                        else if (!part.isEmpty())
                            pen -= part.toDouble();
                    }
                } else if (tok == "BDC") {
                    const QByteArray dict = stack.last();
                    const qsizetype a = dict.indexOf("/ActualText <FEFF");
                    QString text;
                    if (a >= 0) {
                        const qsizetype e = dict.indexOf('>', a + 13);
                        const QByteArray hex = dict.mid(a + 17, e - a - 17);
                        for (qsizetype k = 0; k + 4 <= hex.size(); k += 4)
                            text += QChar(char16_t(hex.mid(k, 4).toUInt(nullptr, 16)));
                    } else if ((dict.indexOf("/ActualText (")) >= 0) {
                        const qsizetype s = dict.indexOf("/ActualText (") + 13;
                        text = QString::fromLatin1(dict.mid(s, dict.indexOf(')', s) - s));
                    }
                    spans.push_back(text);
                    spanIds.push_back(spanCount++);
                } else if (tok == "BT") {
                    lineStart = true;
                } else if (tok == "EMC") {
                    if (!spans.empty()) {
                        spans.pop_back();
                        spanIds.pop_back();
                    }
                }
                stack << tok;
            }
        }
        return out;
    }

    // The filled paths of a page drawn in a space of their own, one
    // operator a line as the report writes them.
    std::vector<Path> paths(int page) const
    {
        std::vector<Path> out;
        const QRegularExpression start(QStringLiteral("^q (\\S+) 0 0 \\S+ (\\S+) (\\S+) cm$"));
        bool in = false;
        for (const QByteArray &row : streams.at(ref(dicts.at(page), "Contents")).split('\n')) {
            const QList<QByteArray> parts = row.split(' ');
            if (const auto m = start.match(QString::fromLatin1(row)); m.hasMatch()) {
                out.push_back(Path{m.captured(2).toDouble(), m.captured(3).toDouble(), m.captured(1).toDouble(), {}, 0});
                in = true;
            } else if (in && row == "f Q") {
                in = false;
            } else if (in && parts.size() >= 3 && (parts.last() == "m" || parts.last() == "l" || parts.last() == "c")) {
                out.back().ends.emplace_back(parts[parts.size() - 3].toDouble(), parts[parts.size() - 2].toDouble());
                out.back().contours += parts.last() == "m";
            }
        }
        return out;
    }

    std::map<int, QByteArray> dicts;
    std::map<int, QByteArray> streams;

private:
    double widthOf(int page, const QByteArray &resource, uint32_t code) const
    {
        auto &cache = widthCache_[page];
        if (cache.empty())
            cache = fonts(page);
        const Font &f = cache.at(resource);
        const auto it = f.widths.find(code);
        return it == f.widths.end() ? 1000 : it->second;
    }

    static void parseToUnicode(const QByteArray &cmap, Font &f)
    {
        const QRegularExpression re(QStringLiteral("<([0-9A-F]{4})> <([0-9A-F]*)>"));
        auto it = re.globalMatch(QString::fromLatin1(cmap));
        while (it.hasNext()) {
            const auto m = it.next();
            QString text;
            const QString hex = m.captured(2);
            for (int k = 0; k + 4 <= hex.size(); k += 4)
                text += QChar(char16_t(hex.mid(k, 4).toUInt(nullptr, 16)));
            f.toUnicode[m.captured(1).toUInt(nullptr, 16)] = text;
        }
    }

    static void parseWidths(const QByteArray &cid, Font &f)
    {
        const qsizetype a = cid.indexOf("/W [");
        const qsizetype e = cid.indexOf("]]", a);
        const QByteArray w = cid.mid(a + 4, e + 1 - a - 4);
        const QRegularExpression re(QStringLiteral("(\\d+) \\[([-\\d ]*)\\]"));
        auto it = re.globalMatch(QString::fromLatin1(w));
        while (it.hasNext()) {
            const auto m = it.next();
            uint32_t code = m.captured(1).toUInt();
            for (const QString &v : m.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                f.widths[code++] = v.toInt();
        }
    }

    mutable std::map<int, std::map<QByteArray, Font>> widthCache_;
};

// A text's letters and marks, decomposed, without blanks and invisible
// characters, sorted: what a reader gives back of a word in whatever order.
inline QList<uint> letters(const QString &s)
{
    QList<uint> c = s.normalized(QString::NormalizationForm_KD).toUcs4();
    c.removeIf([](uint u) {
        return QChar::isSpace(u) || QChar::category(u) == QChar::Other_Format || u == 0x00AD || u == 0x034F ||
               (u >= 0xFE00 && u <= 0xFE0F);
    });
    std::sort(c.begin(), c.end());
    return c;
}

// Whether some stretch of text holds exactly the word's letters and marks
// (in any order: a reader may give a vowel sign drawn before its consonant
// first).
inline bool holdsLettersOf(const QString &text, const QString &word)
{
    const QList<uint> want = letters(word);
    QList<uint> have = text.normalized(QString::NormalizationForm_KD).toUcs4();
    have.removeIf([](uint u) { return QChar::isSpace(u) || QChar::category(u) == QChar::Other_Format; });
    for (qsizetype at = 0; at + want.size() <= have.size(); ++at) {
        QList<uint> window = have.mid(at, want.size());
        std::sort(window.begin(), window.end());
        if (window == want)
            return true;
    }
    return false;
}

// The text shown glyphs give back in content order: the /ActualText of each
// span once, else each code's ToUnicode entry (with innerOnly, the entries
// even inside spans).
inline QString contentText(const std::vector<Shown> &glyphs, const std::map<QByteArray, Font> &fonts,
                           bool innerOnly = false)
{
    QString out;
    int span = -2;
    for (const Shown &g : glyphs) {
        if (g.span >= 0 && !innerOnly) {
            if (g.span != span)
                out += g.actualText;
            span = g.span;
            continue;
        }
        const auto &map = fonts.at(g.font).toUnicode;
        const auto it = map.find(g.code);
        if (it != map.end())
            out += it->second;
    }
    return out;
}

// Whether any glyph of the line is a font's missing-glyph box.
inline bool showsABox(const Line &line, const std::map<QByteArray, Font> &fonts)
{
    for (const Shown &g : line.glyphs) {
        const Font &f = fonts.at(g.font);
        const auto it = f.glyphOf.find(g.code);
        if ((f.glyphOf.empty() ? g.code : it == f.glyphOf.end() ? 0 : it->second) == 0)
            return true;
    }
    return false;
}

} // namespace PdfProbe
