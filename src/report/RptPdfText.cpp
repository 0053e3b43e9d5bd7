#include "report/RptPdfText.h"

#include <algorithm>
#include <cmath>

namespace Rpt {
namespace {

// Most characters one glyph's code stands for (a ligature of letters).
constexpr int kMostPerCode = 32;

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

void addPieces(const ShapedGlyph &g, bool rtl, std::vector<DrawnPiece> &out)
{
    DrawnPiece glyph{g.file, g.glyph, g.x, g.y, static_cast<int>(std::lround(std::max(0.0, g.pen + g.advance - g.x))),
                     QString(), g.cluster, false, false};
    const std::u32string chars = g.text.toStdU32String();
    if (chars.empty()) {
        glyph.text = QString::fromUcs4(&kNothing, 1);
        out.push_back(glyph);
        return;
    }
    const FontFile *carrier = carrierFont(g.file);
    if (!carrier) {
        glyph.text = g.text;
        out.push_back(glyph);
        return;
    }
    const bool wide = glyph.width > 0;
    size_t first = 0;
    while (first < chars.size() && !fitsGlyph(chars[first], wide))
        ++first;
    if (first == chars.size())
        first = 0;
    size_t end = first + 1;
    while (!rtl && end < chars.size() && end - first < kMostPerCode && plain(chars[first]) && plain(chars[end]))
        ++end;
    glyph.text = fromUcs4(chars, first, end);
    // Carriers at the pen: before the glyph where it begins to be read, after it where its reading ends.
    const double before = rtl ? g.pen + g.advance : g.pen;
    const double after = rtl ? g.x : g.x + glyph.width;
    const auto carry = [&](size_t from, size_t to, double x) {
        for (size_t i = from; i < to; ++i)
            out.push_back(DrawnPiece{carrier, carrier->glyphIndex(U' '), x, 0, 0, fromUcs4(chars, i, i + 1), g.cluster, true, false});
    };
    carry(0, first, before);
    out.push_back(glyph);
    carry(end, chars.size(), after);
}

// Spans the clusters that need it (see DrawnPiece::spanned).
void span(const ShapedLine &line, std::vector<DrawnPiece> &pieces)
{
    for (size_t from = 0, to = 0; from < pieces.size(); from = to) {
        const int cluster = pieces[from].cluster;
        bool nothing = false, moved = false;
        for (to = from; to < pieces.size() && pieces[to].cluster == cluster; ++to) {
            nothing = nothing || pieces[to].text == QString::fromUcs4(&kNothing, 1);
            moved = moved || pieces[to].y != 0;
        }
        const bool rtl = line.rightToLeft[static_cast<size_t>(cluster)];
        if (!nothing && !(rtl && to - from > 1) && !moved)
            continue;
        double right = pieces[from].x;
        for (size_t k = from; k < to; ++k) {
            pieces[k].spanned = true;
            right = std::max(right, pieces[k].x + pieces[k].width);
        }
        // poppler sets the text of a right-to-left span over it from where
        // its first piece begins to where its last ends: the last reaches
        // the cluster's right end, or a gap reads as a blank.
        if (rtl)
            pieces[to - 1].width = std::max(pieces[to - 1].width, static_cast<int>(std::lround(right - pieces[to - 1].x)));
    }
}

} // namespace

std::vector<DrawnPiece> drawnPieces(const ShapedLine &line)
{
    std::vector<DrawnPiece> out;
    out.reserve(line.reading.size());
    for (const size_t i : line.reading) {
        const ShapedGlyph &g = line.glyphs[i];
        addPieces(g, line.rightToLeft[static_cast<size_t>(g.cluster)], out);
    }
    span(line, out);
    return out;
}

QString actualText(const ShapedLine &line, int cluster)
{
    const QString &typed = line.clusters[static_cast<size_t>(cluster)];
    if (!line.rightToLeft[static_cast<size_t>(cluster)])
        return typed;
    std::u32string chars = typed.toStdU32String();
    std::reverse(chars.begin(), chars.end());
    return QString::fromStdU32String(chars);
}

} // namespace Rpt
