// Text measuring and wrapping with the report's fonts, and the display
// formats of the page footer.
#include "report/RptReport.h"
#include "report/RptTemplate.h"

#include <gtest/gtest.h>

#include <set>

using Rpt::FontFace;
using Rpt::LineForm;

namespace {

QString visible(const std::shared_ptr<const Rpt::ShapedLine> &l)
{
    QString s;
    for (const Rpt::ShapedGlyph &g : l->glyphs)
        s += QString::number(g.glyph) + QLatin1Char(' ');
    return s;
}

} // namespace

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
    // What Liberation Sans lacks comes from DejaVu Sans; what neither has
    // from fontconfig's choice (a CJK font here); what no font has is
    // Liberation's missing-glyph box.
    EXPECT_EQ(Rpt::glyphFor(FontFace::Regular, U'\u2713').file->postScriptName(), QByteArray("DejaVuSans"));
    EXPECT_EQ(Rpt::glyphFor(FontFace::Bold, U'\u2713').file->postScriptName(), QByteArray("DejaVuSans-Bold"));
    const Rpt::Glyph han = Rpt::glyphFor(FontFace::Regular, U'\u4e2d');
    EXPECT_NE(han.index, 0u);
    EXPECT_FALSE(han.file->postScriptName().startsWith("LiberationSans"));
    EXPECT_FALSE(han.file->postScriptName().startsWith("DejaVuSans"));
    const Rpt::Glyph none = Rpt::glyphFor(FontFace::Regular, U'\U0010FFFD');  // a private character no font has
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

TEST(EngineText, InvisibleCharactersTakeNoGlyphAndNoRoom)
{
    // Soft hyphen, direction marks, joiners, an isolate and a variation selector.
    const struct { QString with; QString without; } cases[] = {
        {QStringLiteral("Mess\u00adger\u00e4t"), QStringLiteral("Messger\u00e4t")},
        {QStringLiteral("A\u200eB\u200fC"), QStringLiteral("ABC")},
        {QStringLiteral("x\u200dy\u200cz"), QStringLiteral("xyz")},
        {QStringLiteral("\u2066DN100\u2069 ok"), QStringLiteral("DN100 ok")},
        {QStringLiteral("\u2713\ufe0e done"), QStringLiteral("\u2713 done")},
    };
    for (const auto &c : cases) {
        const auto with = Rpt::shapeLine(c.with, FontFace::Regular, 10);
        const auto without = Rpt::shapeLine(c.without, FontFace::Regular, 10);
        EXPECT_EQ(visible(with), visible(without)) << c.with.toStdString();
        EXPECT_DOUBLE_EQ(with->width, without->width) << c.with.toStdString();
        QString typed;
        for (const QString &cluster : with->clusters)
            typed += cluster;
        EXPECT_EQ(typed, c.with) << "the clusters give back every character typed";
    }
}

TEST(EngineText, ASoftHyphenShowsOnlyWhereTheLineBreaksAtIt)
{
    const QString word = QStringLiteral("Durch\u00adfluss\u00admess\u00adger\u00e4t");
    const double whole = Rpt::textWidthPt(word, FontFace::Regular, 10);
    EXPECT_DOUBLE_EQ(whole, Rpt::textWidthPt(QStringLiteral("Durchflussmessger\u00e4t"), FontFace::Regular, 10));
    EXPECT_EQ(Rpt::wrapLines(word, FontFace::Regular, 10, whole).lines, std::vector<QString>{word});

    // Narrower: broken at the last soft hyphen that fits, which then shows.
    const double upToMess = Rpt::textWidthPt(QStringLiteral("Durchflussmess-"), FontFace::Regular, 10);
    const Rpt::WrappedLines w = Rpt::wrapLines(QStringLiteral("Sensor ") + word, FontFace::Regular, 10,
                                               Rpt::textWidthPt(QStringLiteral("Sensor "), FontFace::Regular, 10) + upToMess);
    ASSERT_EQ(w.lines, (std::vector<QString>{QStringLiteral("Sensor Durch\u00adfluss\u00admess\u00ad"),
                                             QStringLiteral("ger\u00e4t")}));
    EXPECT_TRUE(w.forms[0].hyphen);
    EXPECT_FALSE(w.forms[1].hyphen);
    const auto broken = Rpt::shapeLine(w.lines[0], FontFace::Regular, 10, w.forms[0]);
    const auto plain = Rpt::shapeLine(QStringLiteral("Sensor Durchflussmess-"), FontFace::Regular, 10);
    EXPECT_EQ(visible(broken), visible(plain));
    EXPECT_EQ(broken->clusters.back(), QStringLiteral("\u00ad")) << "the hyphen stands for the soft hyphen typed";
    // The same line not broken there shows no hyphen.
    EXPECT_EQ(Rpt::shapeLine(w.lines[0], FontFace::Regular, 10)->glyphs.size(), plain->glyphs.size() - 1);
}

TEST(EngineText, TabsGoToStopsEvery36PointsFromTheColumnsStart)
{
    const struct { QString text; double size; std::vector<std::pair<char, double>> at; } cases[] = {
        {QStringLiteral("a\tb\tc"), 10, {{'b', 36}, {'c', 72}}},
        {QStringLiteral("\tb"), 9, {{'b', 36}}},
        {QStringLiteral("Flow rate 25.5 l/s\tX"), 10, {{'X', 108}}},  // past two stops: the next one
        {QStringLiteral("a\t\tb"), 12, {{'b', 72}}},
    };
    for (const auto &c : cases) {
        const auto l = Rpt::shapeLine(c.text, FontFace::Regular, c.size);
        for (const auto &[letter, pt] : c.at) {
            bool found = false;
            for (const Rpt::ShapedGlyph &g : l->glyphs)
                if (l->clusters[static_cast<size_t>(g.cluster)] == QString(QLatin1Char(letter))) {
                    EXPECT_NEAR(g.x * c.size / 1000, pt, 1e-6) << c.text.toStdString() << " " << letter;
                    found = true;
                }
            EXPECT_TRUE(found) << letter;
        }
    }
    // A tab is a place to break; at a break it is dropped.
    EXPECT_EQ(Rpt::wrapText(QStringLiteral("alpha\tbeta\tgamma"), FontFace::Regular, 10, 80),
              (std::vector<QString>{QStringLiteral("alpha\tbeta"), QStringLiteral("gamma")}));
}

TEST(EngineText, LinesBreakOnlyBetweenGraphemeClusters)
{
    // Decomposed letters are composed first; a letter and a mark that has no
    // composed form, an emoji sequence and a flag never come apart.
    const QString decomposed = QString::fromUtf8("vie\xcc\xa3\xcc\x82t");
    EXPECT_EQ(Rpt::wrapText(decomposed, FontFace::Regular, 10, 500),
              std::vector<QString>{decomposed.normalized(QString::NormalizationForm_C)});
    const QString family = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
    const QString flag = QString::fromUtf8("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA");
    const QString marked = QStringLiteral("q\u0307\u0323");
    for (const QString &cluster : {family, flag, marked}) {
        const QString word = cluster.repeated(6);
        const double one = Rpt::textWidthPt(cluster, FontFace::Regular, 10);
        const std::vector<QString> lines = Rpt::wrapText(word, FontFace::Regular, 10, one * 2.5);
        ASSERT_EQ(lines.size(), 3u) << cluster.toStdString();
        for (const QString &l : lines)
            EXPECT_EQ(l, cluster.normalized(QString::NormalizationForm_C).repeated(2));
    }
}

TEST(EngineText, RightToLeftLinesReadFromTheRightAndMixedOnesAreMarked)
{
    const auto hebrew = Rpt::shapeLine(QStringLiteral("\u05e9\u05dc\u05d5\u05dd"), FontFace::Regular, 10);
    ASSERT_EQ(hebrew->glyphs.size(), 4u);
    // Drawn left to right, the last letter typed comes first.
    EXPECT_EQ(hebrew->clusters[static_cast<size_t>(hebrew->glyphs.front().cluster)], QStringLiteral("\u05dd"));
    EXPECT_FALSE(hebrew->mixed);
    EXPECT_TRUE(Rpt::shapeLine(QStringLiteral("Pipe \u05e6\u05d9\u05e0\u05d5\u05e8"), FontFace::Regular, 10)->mixed);
    // Every line of a paragraph takes the paragraph's direction.
    const Rpt::WrappedLines w = Rpt::wrapLines(QStringLiteral("\u05e9\u05dc\u05d5\u05dd DN100 DN200 DN300"),
                                               FontFace::Regular, 10, 60);
    ASSERT_GE(w.lines.size(), 2u);
    for (const LineForm &f : w.forms)
        EXPECT_EQ(f.direction, LineForm::RightToLeft);
}

// Scripts written without blanks break between their words; Chinese and
// Japanese between characters, but never before a closing mark or after an
// opening one. Nothing typed is lost at a break.
TEST(EngineText, LinesBreakWhereTheirScriptAllows)
{
    const struct {
        const char *name;
        QStringList words;  // each one that its script's dictionary holds whole
    } cases[] = {
        {"Thai", {QStringLiteral("\u0e44\u0e1f\u0e1f\u0e49\u0e32"), QStringLiteral("\u0e17\u0e38\u0e01"),
                  QStringLiteral("\u0e27\u0e31\u0e19"), QStringLiteral("\u0e19\u0e49\u0e33"), QStringLiteral("\u0e17\u0e48\u0e2d"),
                  QStringLiteral("\u0e2d\u0e38\u0e13\u0e2b\u0e20\u0e39\u0e21\u0e34"), QStringLiteral("\u0e41\u0e21\u0e48"),
                  QStringLiteral("\u0e40\u0e2b\u0e25\u0e47\u0e01"), QStringLiteral("\u0e15\u0e23\u0e27\u0e08"),
                  QStringLiteral("\u0e2a\u0e2d\u0e1a"), QStringLiteral("\u0e21\u0e32\u0e15\u0e23"), QStringLiteral("\u0e27\u0e31\u0e14")}},
        {"Khmer", {QStringLiteral("\u17a7\u1794\u1780\u179a\u178e\u17cd"), QStringLiteral("\u1796\u17b7\u1793\u17b7\u178f\u17d2\u1799"),
                   QStringLiteral("\u1794\u17c6\u1796\u1784\u17cb"), QStringLiteral("\u179f\u1798\u17d2\u1796\u17b6\u1792"),
                   QStringLiteral("\u1790\u17d2\u1784\u17c3"), QStringLiteral("\u179a\u17b6\u179b\u17cb")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString note;
        std::set<int> between{0};  // where one word ends and the next begins
        for (int k = 0; k < 10; ++k)
            for (const QString &w : c.words)
                between.insert(static_cast<int>((note += w).size()));
        const std::vector<QString> lines = Rpt::wrapText(note, FontFace::Regular, 10, 150);
        ASSERT_GT(lines.size(), 3u);
        int at = 0;
        for (const QString &l : lines) {
            EXPECT_TRUE(between.count(at)) << "a line begins inside a word: " << l.toStdString();
            at += static_cast<int>(l.size());
        }
        EXPECT_EQ(at, note.size());
    }

    // Japanese with its marks: a line never begins with a closing one nor ends with an opening one.
    const QString japanese = QStringLiteral("\u6d41\u91cf\u8a08\u3092\u70b9\u691c\u3057\u307e\u3057\u305f\u3002\u96fb\u6975\u3092"
                                            "\uff08\u6e05\u6383\uff09\u3057\u3001\u300c\u78ba\u8a8d\u300d\u3057\u307e\u3057\u305f\u3002")
                                 .repeated(12);
    for (const double width : {60.0, 73.0, 95.0, 150.0}) {
        SCOPED_TRACE(width);
        const std::vector<QString> lines = Rpt::wrapText(japanese, FontFace::Regular, 10, width);
        ASSERT_GT(lines.size(), 3u);
        QString joined;
        for (const QString &l : lines) {
            EXPECT_FALSE(QStringLiteral("\u3002\u3001\u300d\uff09").contains(l.front())) << l.toStdString();
            EXPECT_FALSE(QStringLiteral("\u300c\uff08").contains(l.back())) << l.toStdString();
            joined += l;
        }
        EXPECT_EQ(joined, japanese);
    }
}
