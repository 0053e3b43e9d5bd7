// Text measuring, wrapping and encoding with the compiled-in font metrics,
// and the display formats of the page footer.
#include "report/RptReport.h"
#include "report/RptTemplate.h"

#include <gtest/gtest.h>

using Rpt::FontFace;

TEST(EngineText, WidthsFollowTheStandardMetrics)
{
    struct Case { const char *text; FontFace face; double size; double width; } cases[] = {
        {"Hello", FontFace::Helvetica, 10, 22.78},           // 722+556+222+222+556
        {"Hello", FontFace::HelveticaBold, 10, 24.45},       // 722+556+278+278+611
        {"0123456789", FontFace::Helvetica, 10, 55.6},       // figures are 556 each
        {"WiW", FontFace::Helvetica, 12, 25.32},              // 944+222+944
        {" ", FontFace::Helvetica, 10, 2.78},
        {"", FontFace::HelveticaBold, 11, 0},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(Rpt::textWidthPt(QString::fromLatin1(c.text), c.face, c.size), c.width, 1e-9) << c.text;
    // Latin-1 and code-page letters have their own widths, not the '?' one.
    EXPECT_NEAR(Rpt::textWidthPt(QStringLiteral("\u00e9\u20ac"), FontFace::Helvetica, 10), 11.12, 1e-9);
}

TEST(EngineText, TextMapsOntoTheWinAnsiCodePage)
{
    struct Case { QString text; QByteArray bytes; } cases[] = {
        {QStringLiteral("A(b)\\"), QByteArray("A(b)\\")},
        {QStringLiteral("\u00e9\u00fc\u00df"), QByteArray("\xe9\xfc\xdf")},
        {QStringLiteral("\u20ac\u2013\u201c\u2122"), QByteArray("\x80\x96\x93\x99")},
        {QStringLiteral("\u0416\u4e2d"), QByteArray("??")},               // not in the code page
        {QString::fromUtf8("\xF0\x9F\x98\x80"), QByteArray("?")},           // one '?' for a pair
        {QStringLiteral("a\tb\x01"), QByteArray("a b ")},                   // controls print as blanks
    };
    for (const auto &c : cases)
        EXPECT_EQ(Rpt::toWinAnsi(c.text), c.bytes) << c.text.toStdString();
}

TEST(EngineText, WrappingBreaksAtBlanksAndInsideOverlongWords)
{
    // 10 pt Helvetica: "aaaa" is 22.24 pt, a blank 2.78 pt.
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
        std::vector<QString> got = Rpt::wrapText(QString::fromLatin1(c.text), FontFace::Helvetica, 10, c.width);
        EXPECT_EQ(got, c.lines) << '"' << c.text << "\" in " << c.width << " pt";
    }
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
