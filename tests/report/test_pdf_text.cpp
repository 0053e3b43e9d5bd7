// How a shaped line's glyphs go into the PDF as pieces the three readers
// read alike, and the TrueType subsets whose glyphs advance as the PDF
// measures them.
#include "report/RptFontMetrics.h"
#include "report/RptPdfText.h"
#include "report/RptSubsetWidths.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H

#include <gtest/gtest.h>

#include <algorithm>

using Rpt::DrawnPiece;

namespace {

// A glyph of a made-up line: its origin, pen and advance (1/1000 em), its
// cluster, its share of the cluster's text and its rise.
struct Glyph {
    double x, pen, advance;
    int cluster;
    QString text;
    double y = 0;
};

// A line of clusters, each right to left or not, drawn with these glyphs
// (in the order the shaper reads them) in the report's first font.
Rpt::ShapedLine lineOf(const std::vector<std::pair<QString, bool>> &clusters, const std::vector<Glyph> &glyphs)
{
    Rpt::ShapedLine line;
    const Rpt::FontFile *font = Rpt::primaryFont(Rpt::FontFace::Regular);
    for (const auto &[text, rtl] : clusters) {
        line.clusters.push_back(text);
        line.rightToLeft.push_back(rtl);
        line.text += text;
    }
    for (const Glyph &g : glyphs) {
        line.reading.push_back(line.glyphs.size());
        line.glyphs.push_back(Rpt::ShapedGlyph{font, font->glyphIndex(U'o'), g.x, g.y, g.pen, g.advance, g.cluster, 0, g.text});
    }
    return line;
}

// What a piece is, and where.
enum Kind { G, Carrier, Outline };

struct Want {
    Kind kind;
    QString text;
    double x;
    bool spanned = false;
};

Kind kindOf(const DrawnPiece &p) { return p.outline ? Outline : p.carrier ? Carrier : G; }

// What poppler and pdf.js need of the pieces of a right-to-left word, as
// drawn: origins strictly leftwards; each piece reaching the next origin on
// its right (or poppler reads a blank) but not more than 500 over it (or
// poppler ends the line), and more than 200 past the next piece's origin
// (or both take the two for one word, read left to right).
void expectReadAlike(const std::vector<DrawnPiece> &pieces)
{
    std::vector<DrawnPiece> word;
    for (const DrawnPiece &p : pieces)
        if (!p.outline && !p.spanned)
            word.push_back(p);
    for (size_t k = 0; k < word.size(); ++k) {
        const DrawnPiece &p = word[k];
        SCOPED_TRACE("piece " + std::to_string(k));
        double right = 1e9;
        for (const DrawnPiece &q : word)
            if (q.x > p.x)
                right = std::min(right, q.x);
        if (right < 1e9) {
            EXPECT_GE(p.x + p.width, right);
            EXPECT_LE(p.x + p.width, right + 500);
        }
        if (k + 1 < word.size()) {
            EXPECT_LT(word[k + 1].x, p.x);
            EXPECT_GT(p.x + p.width - word[k + 1].x, 200);
        }
    }
}

const QString kBeh = QStringLiteral("\u0628"), kDamma = QStringLiteral("\u064f"), kLam = QStringLiteral("\u0644"),
              kAlef = QStringLiteral("\u0627"), kZwnj = QStringLiteral("\u200c"), kKhah = QStringLiteral("\u062e");

} // namespace

// Each case: the line the shaper made and the pieces drawn for it, in the
// order drawn, with the text each stands for.
TEST(PdfText, PiecesCarryTheTextInTheOrderDrawnAndRead)
{
    struct Case {
        const char *name;
        Rpt::ShapedLine line;
        std::vector<Want> want;
    } cases[] = {
        // A mark the font sets right of its letter's origin is drawn first,
        // standing for the letter that is read first.
        {"MarkRightOfItsLetter",
         lineOf({{kBeh + kDamma, true}}, {{0, 0, 300, 0, kBeh}, {100, 0, 0, 0, kDamma, -150}}),
         {{G, kBeh, 100}, {G, kDamma, 0}}},
        // A mark left of its letter's origin is read after it, as drawn.
        {"MarkLeftOfItsLetter",
         lineOf({{kBeh + kDamma, true}}, {{200, 200, 300, 0, kBeh}, {100, 200, 0, 0, kDamma}}),
         {{G, kBeh, 200}, {G, kDamma, 100}}},
        // One glyph for two letters: the second on a blank glyph just left of it.
        {"LamAlef", lineOf({{kLam + kAlef, true}}, {{0, 0, 570, 0, kLam + kAlef}}),
         {{G, kLam, 0}, {Carrier, kAlef, -4}}},
        // A joiner read before the letter goes on a blank glyph just right of it.
        {"ZwnjBeforeALetter", lineOf({{kZwnj + kKhah, true}}, {{0, 0, 618, 0, kZwnj + kKhah}}),
         {{Carrier, kZwnj, 4}, {G, kKhah, 0}}},
        // Two pieces beginning at one place could be read either way round:
        // the cluster keeps the pen's order and is spanned.
        {"TwoPiecesAtOnePlace",
         lineOf({{kBeh + kDamma, true}}, {{0, 0, 300, 0, kBeh}, {0, 0, 0, 0, kDamma}}),
         {{G, kBeh, 0, true}, {G, kDamma, 0, true}}},
        // Left to right, a piece that stands for no text is drawn as its outline.
        {"FurtherPieceOfACharacter",
         lineOf({{QStringLiteral("ab"), false}}, {{0, 0, 400, 0, QStringLiteral("ab")}, {400, 400, 300, 0, QString()}}),
         {{G, QStringLiteral("ab"), 0}, {Outline, QString(), 400}}},
        // A glyph carries at most eight letters (mupdf drops a code for more).
        {"LongLigature", lineOf({{QStringLiteral("abcdefghij"), false}}, {{0, 0, 900, 0, QStringLiteral("abcdefghij")}}),
         {{G, QStringLiteral("abcdefgh"), 0}, {Carrier, QStringLiteral("i"), 900}, {Carrier, QStringLiteral("j"), 900}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<DrawnPiece> pieces = Rpt::drawnPieces(c.line);
        ASSERT_EQ(pieces.size(), c.want.size());
        for (size_t k = 0; k < pieces.size(); ++k) {
            SCOPED_TRACE("piece " + std::to_string(k));
            EXPECT_EQ(kindOf(pieces[k]), c.want[k].kind);
            EXPECT_EQ(pieces[k].text, c.want[k].text);
            EXPECT_NEAR(pieces[k].x, c.want[k].x, 1e-9);
            EXPECT_EQ(pieces[k].spanned, c.want[k].spanned);
        }
        if (c.line.rightToLeft.front())
            expectReadAlike(pieces);
    }
}

// The glyph drawn before a piece that stands for no text reaches over it; a
// piece whose text holds a nonspacing mark and that ends a word has no
// width for pdf.js (which does not move on past it) but reaches the pen for
// mupdf.
TEST(PdfText, WidthsLeaveNoGapAndNoDrift)
{
    const QString kaAndE = QStringLiteral("\u0915\u0947");
    const Rpt::ShapedLine line =
        lineOf({{QStringLiteral("ab"), false}, {kaAndE, false}, {QStringLiteral(" "), false}, {QStringLiteral("c"), false}},
               {{0, 0, 400, 0, QStringLiteral("ab")}, {400, 400, 300, 0, QString()},
                {700, 700, 731, 1, QStringLiteral("\u0915")}, {1191, 1431, 0, 1, QStringLiteral("\u0947")},
                {1431, 1431, 278, 2, QStringLiteral(" ")}, {1709, 1709, 500, 3, QStringLiteral("c")}});
    const std::vector<DrawnPiece> pieces = Rpt::drawnPieces(line);
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[0].width, 700) << "reaching over the outline";
    EXPECT_EQ(pieces[3].text, QStringLiteral("\u0947"));
    EXPECT_EQ(pieces[3].width, 0);
    EXPECT_EQ(pieces[3].reach, 240);
    for (const size_t k : {0, 2, 4, 5})
        EXPECT_EQ(pieces[k].reach, pieces[k].width) << "piece " << k;

    // Right to left, a piece reaches over no tab's gap to the next word.
    const Rpt::ShapedLine tabbed =
        lineOf({{kBeh, true}, {kLam, true}}, {{1000, 1000, 300, 0, kBeh}, {0, 0, 300, 1, kLam}});
    const std::vector<DrawnPiece> words = Rpt::drawnPieces(tabbed);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[1].text, kLam);
    EXPECT_EQ(words[1].width, 300);
}

// A subset whose glyphs advance by the widths wanted: a glyph wanted at a
// second width is a copy that draws the same outline; a program that is no
// TrueType font comes back as it was.
TEST(SubsetWidths, EachGlyphAdvancesAsWantedAndCopiesDrawTheSame)
{
    const Rpt::FontFile *font = Rpt::primaryFont(Rpt::FontFace::Regular);
    ASSERT_NE(font, nullptr);
    const uint32_t a = font->glyphIndex(U'a'), space = font->glyphIndex(U' ');
    std::map<uint32_t, uint32_t> newIndex;
    const QByteArray program = font->subset({a, space}, newIndex);
    const uint32_t sa = newIndex.at(a), ss = newIndex.at(space);
    const std::vector<std::pair<uint32_t, int>> wanted = {{sa, 1100}, {sa, 900}, {ss, 0}, {sa, 1100}, {ss, 569}};
    std::vector<uint32_t> glyphOf;
    const QByteArray out = Rpt::withAdvances(program, wanted, glyphOf);
    ASSERT_EQ(glyphOf.size(), wanted.size());
    EXPECT_EQ(glyphOf[0], sa);
    EXPECT_EQ(glyphOf[3], sa) << "the same width, the same glyph";
    EXPECT_NE(glyphOf[1], sa);
    EXPECT_EQ(glyphOf[2], ss);
    EXPECT_NE(glyphOf[4], ss);

    FT_Library lib = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    FT_Face face = nullptr;
    ASSERT_EQ(FT_New_Memory_Face(lib, reinterpret_cast<const FT_Byte *>(out.constData()), out.size(), 0, &face), 0);
    const auto points = [&](uint32_t g) {
        EXPECT_EQ(FT_Load_Glyph(face, g, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING), 0);
        const FT_Outline &o = face->glyph->outline;
        std::vector<long> xy;
        for (int i = 0; i < o.n_points; ++i)
            xy.insert(xy.end(), {o.points[i].x, o.points[i].y});
        return xy;
    };
    for (size_t i = 0; i < wanted.size(); ++i) {
        FT_Fixed advance = 0;
        ASSERT_EQ(FT_Get_Advance(face, glyphOf[i], FT_LOAD_NO_SCALE, &advance), 0);
        EXPECT_EQ(advance, wanted[i].second) << "wanted " << i;
        EXPECT_EQ(points(glyphOf[i]), points(wanted[i].first)) << "wanted " << i;
    }
    EXPECT_FALSE(points(sa).empty());
    FT_Done_Face(face);
    FT_Done_FreeType(lib);

    const QByteArray notAFont("not a font at all");
    EXPECT_EQ(Rpt::withAdvances(notAFont, wanted, glyphOf), notAFont);
    EXPECT_EQ(glyphOf, std::vector<uint32_t>({sa, sa, ss, sa, ss}));
}
