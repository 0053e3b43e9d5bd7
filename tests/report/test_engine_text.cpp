// Text measuring and wrapping with the report's fonts, and the display
// formats of the page footer.
#include "report/RptReport.h"
#include "report/RptTemplate.h"

#include <gtest/gtest.h>

using Rpt::FontFace;

// Liberation Sans has Helvetica's widths, so Latin text keeps its layout.
TEST(EngineText, WidthsFollowTheStandardMetrics)
{
    struct Case { const char *text; FontFace face; double size; double width; } cases[] = {
        {"Hello", FontFace::Regular, 10, 22.78},           // 722+556+222+222+556
        {"Hello", FontFace::Bold, 10, 24.45},       // 722+556+278+278+611
        {"0123456789", FontFace::Regular, 10, 55.6},       // figures are 556 each
        {"WiW", FontFace::Regular, 12, 25.32},              // 944+222+944
        {" ", FontFace::Regular, 10, 2.78},
        {"", FontFace::Bold, 11, 0},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(Rpt::textWidthPt(QString::fromLatin1(c.text), c.face, c.size), c.width, 1e-9) << c.text;
    // Latin-1 and code-page letters have their own widths, not the '?' one.
    EXPECT_NEAR(Rpt::textWidthPt(QStringLiteral("\u00e9\u20ac"), FontFace::Regular, 10), 11.12, 1e-9);
}

TEST(EngineText, WrappingBreaksAtBlanksAndInsideOverlongWords)
{
    // 10 pt Liberation Sans: "aaaa" is 22.24 pt, a blank 2.78 pt.
    struct Case { const char *text; double width; std::vector<QString> lines; } cases[] = {
        {"aaaa aaaa", 50, {"aaaa aaaa"}},
        {"aaaa aaaa", 40, {"aaaa", "aaaa"}},
        {"aaaa   aaaa  ", 30, {"aaaa", "aaaa"}},            // blanks at a break go
        {"  aaaa", 40, {"  aaaa"}},                          // leading blanks stay
        {"aaaaaaaaaa", 30, {"aaaaa", "aaaaa"}},               // 5 * 5.56 = 27.8 pt a line
        {"aa aaaaaaaaaa", 30, {"aa", "aaaaa", "aaaaa"}},
        {"", 30, {""}},
        {"one\r\ntwo\nthree\rfour", 200, {"one", "two", "three", "four"}},
        {"x", 0.1, {"x"}},                                   // at least one character a line
    };
    for (const auto &c : cases) {
        std::vector<QString> got = Rpt::wrapText(QString::fromLatin1(c.text), FontFace::Regular, 10, c.width);
        EXPECT_EQ(got, c.lines) << '"' << c.text << "\" in " << c.width << " pt";
    }
}

TEST(EngineText, EveryLetterPrintsWithAGlyphOfItsOwn)
{
    const QString letters = QStringLiteral("\u0141\u0159\u043c\u043e\u0441\u0442\u00d8\u0396\u03c5\u03b3\u03cc"
                                           "\u03c2\u0160\u010d\u00c4\u00fc\u0150\u0117\u0219");
    for (const Rpt::FontFace face : {FontFace::Regular, FontFace::Bold})
        for (const char32_t c : letters.toUcs4()) {
            const Rpt::Glyph g = Rpt::glyphFor(face, c);
            EXPECT_NE(g.index, 0u) << std::hex << uint32_t(c);
            EXPECT_TRUE(g.file->postScriptName().startsWith("LiberationSans")) << std::hex << uint32_t(c);
            EXPECT_GT(g.width, 0) << std::hex << uint32_t(c);
        }
    // What Liberation Sans lacks comes from DejaVu Sans; what neither has is
    // Liberation's missing-glyph box.
    EXPECT_EQ(Rpt::glyphFor(FontFace::Regular, U'\u2713').file->postScriptName(), QByteArray("DejaVuSans"));
    EXPECT_EQ(Rpt::glyphFor(FontFace::Bold, U'\u2713').file->postScriptName(), QByteArray("DejaVuSans-Bold"));
    const Rpt::Glyph none = Rpt::glyphFor(FontFace::Regular, U'\u4e2d');
    EXPECT_EQ(none.index, 0u);
    EXPECT_EQ(none.file->postScriptName(), QByteArray("LiberationSans"));
    // A character outside the basic plane is one character: measured once,
    // never split by a break.
    const QString faces = QString::fromUtf8("\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
    const double one = Rpt::textWidthPt(faces.left(2), FontFace::Regular, 10);
    EXPECT_GT(one, 0);
    EXPECT_NEAR(Rpt::textWidthPt(faces, FontFace::Regular, 10), 3 * one, 1e-9);
    const std::vector<QString> lines = Rpt::wrapText(faces, FontFace::Regular, 10, one * 2.5);
    EXPECT_EQ(lines, (std::vector<QString>{faces.left(4), faces.mid(4)}));
}

TEST(EngineText, LineMemosShowOneLineAndTheTitleFits)
{
    const Rpt::Template t = Rpt::z960ReportTemplate();
    EXPECT_EQ(Rpt::linesThatFit(t.title.memos.at(0)), 1);
    EXPECT_EQ(Rpt::linesThatFit(t.groups.at(0).data.memos.at(0)), 1);
    Rpt::Memo tall = t.groups.at(0).data.memos.at(0);
    tall.height = 10;
    EXPECT_EQ(Rpt::linesThatFit(tall), 2);
}

TEST(EngineText, DisplayFormatsOfThePageFooter)
{
    const QLocale en(QLocale::English, QLocale::UnitedKingdom);
    const QDateTime t(QDate(2026, 3, 1), QTime(7, 4, 9));
    struct Case { const char *format; const char *text; } cases[] = {
        {"hh:mm:ss", "07:04:09"},        // mm after an hour means minutes
        {"hh:nn:ss", "07:04:09"},
        {"mmmm dd, yyyy", "March 01, 2026"},
        {"dd mmm yy", "01 Mar 26"},
        {"d/m/yyyy h:n:s", "1/3/2026 7:4:9"},
        {"\"at\" hh", "at 07"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Rpt::formatDateTime(t, QString::fromLatin1(c.format), en), QString::fromLatin1(c.text)) << c.format;
}
