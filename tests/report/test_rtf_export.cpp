// The RTF writer, parsed back: groups, control words and the text per page.
#include "ReportFixture.h"
#include "report/RptRtfExport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace ReportFixture;

namespace {

// What a small reader makes of an RTF document.
struct ParsedRtf {
    bool balanced = true;
    int maxDepth = 0;
    std::map<QString, int> words;  // control word -> count
    std::vector<QString> pages;    // body text, one entry per page
};

// The character of a code-page 1252 byte, found through the writer's own mapping.
QChar fromCodePage(uint8_t b)
{
    for (char16_t u = 0x80; u < 0x2200; ++u)
        if (Rpt::toWinAnsi(QChar(u)) == b)
            return QChar(u);
    return QChar(b);
}

ParsedRtf parse(const QByteArray &rtf)
{
    ParsedRtf out;
    out.pages.emplace_back();
    int depth = 0;
    int skipDepth = 0;  // inside a destination group whose text is not body text
    auto text = [&](const QString &s) { if (skipDepth == 0 && depth >= 1) out.pages.back() += s; };
    for (int i = 0; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '{') {
            out.maxDepth = std::max(out.maxDepth, ++depth);
        } else if (c == '}') {
            if (skipDepth == depth) skipDepth = 0;
            if (--depth < 0) out.balanced = false;
        } else if (c == '\\') {
            const char n = i + 1 < rtf.size() ? rtf[i + 1] : '\0';
            if (n == '\\' || n == '{' || n == '}') { text(QString(QLatin1Char(n))); ++i; continue; }
            if (n == '\'') {
                const char hex[3] = {rtf[i + 2], rtf[i + 3], 0};
                text(QString(fromCodePage(static_cast<uint8_t>(strtol(hex, nullptr, 16)))));
                i += 3;
                continue;
            }
            int j = i + 1;
            while (j < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[j]))) ++j;
            const QString word = QString::fromLatin1(rtf.mid(i + 1, j - i - 1));
            int k = j;
            while (k < rtf.size() && (rtf[k] == '-' || std::isdigit(static_cast<unsigned char>(rtf[k])))) ++k;
            const QByteArray param = rtf.mid(j, k - j);
            if (k < rtf.size() && rtf[k] == ' ') ++k;
            if (word.isEmpty()) {  // "\*" and other control symbols
                ++i;
                continue;
            }
            ++out.words[word];
            if (word == QLatin1String("fonttbl") || word == QLatin1String("colortbl") ||
                word == QLatin1String("info") || word == QLatin1String("generator"))
                skipDepth = depth;
            else if (word == QLatin1String("page"))
                out.pages.emplace_back();
            else if (word == QLatin1String("cell") || word == QLatin1String("line") || word == QLatin1String("par"))
                text(QStringLiteral("\n"));
            else if (word == QLatin1String("u")) {
                text(QString(QChar(static_cast<char16_t>(param.toInt()))));
                ++k;  // its '?' fallback
            }
            i = k - 1;
        } else if (c != '\n' && c != '\r') {
            text(QString(QLatin1Char(c)));
        }
    }
    out.balanced = out.balanced && depth == 0;
    return out;
}

class RtfExport : public testing::Test {
protected:
    ParsedRtf write()
    {
        EXPECT_TRUE(dir.isValid());
        feed.bind(report);
        report.PrepareReport();
        rtf.FileName = dir.filePath(QStringLiteral("report.rtf"));
        EXPECT_TRUE(report.Export(rtf)) << rtf.lastError.toStdString();
        QFile f(rtf.FileName);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        raw = f.readAll();
        return parse(raw);
    }

    QTemporaryDir dir;
    Feed feed = Feed::typical();
    TRptReport report;
    TRptRTFExport rtf;
    QByteArray raw;
};

} // namespace

TEST_F(RtfExport, GroupsBalanceAndPagesAreSeparatedByOneBreakEach)
{
    const ParsedRtf doc = write();
    EXPECT_TRUE(raw.startsWith("{\\rtf1\\ansi\\ansicpg1252"));
    EXPECT_TRUE(doc.balanced);
    ASSERT_EQ(report.prepared().pages.size(), 4u);
    EXPECT_EQ(doc.words.count(QStringLiteral("page")) ? doc.words.at(QStringLiteral("page")) : 0, 3);
    EXPECT_EQ(doc.pages.size(), 4u);
    // A4 with 10 mm margins, in twips.
    for (const char *w : {"paperw", "paperh", "margl", "margr", "margt", "margb"})
        EXPECT_EQ(doc.words.count(QString::fromLatin1(w)), 1u) << w;
    EXPECT_TRUE(raw.contains("\\paperw11906\\paperh16838\\margl567\\margr567\\margt567\\margb567"));
    EXPECT_TRUE(raw.contains("{\\*\\generator Vantoro;}"));
}

TEST_F(RtfExport, NoPageHeaderOrFooter)
{
    const ParsedRtf doc = write();
    for (const char *w : {"header", "footer", "headerl", "headerr", "headerf", "footerl", "footerr", "footerf"})
        EXPECT_EQ(doc.words.count(QString::fromLatin1(w)), 0u) << w;
    for (const QString &page : doc.pages) {
        EXPECT_FALSE(page.contains(QStringLiteral("Page "))) << page.toStdString();
        EXPECT_FALSE(page.contains(QStringLiteral("Validator ID")));
        EXPECT_FALSE(page.contains(QStringLiteral("14:05:33")));
    }
}

TEST_F(RtfExport, EveryPrintedLineIsOnItsPage)
{
    feed[Notes] << QStringLiteral("Braces {x} and \\ back") << QStringLiteral("Caf\u00e9 \u20ac5 \u0416");
    const ParsedRtf doc = write();
    ASSERT_EQ(doc.pages.size(), report.prepared().pages.size());
    for (const Rpt::Page &page : report.prepared().pages) {
        const QString &text = doc.pages[static_cast<size_t>(page.number - 1)];
        for (const Rpt::PlacedBand &b : page.bands) {
            if (b.kind == Rpt::BandKind::PageFooter)
                continue;
            for (const Rpt::PlacedMemo &m : b.memos)
                for (const QString &l : m.lines)
                    EXPECT_TRUE(text.contains(l)) << "page " << page.number << ": " << l.toStdString();
        }
    }
    EXPECT_TRUE(doc.pages.back().contains(QStringLiteral("Caf\u00e9 \u20ac5 \u0416")));
}

// Rows are at least as high as their memos (a positive row height), so a
// reader whose font is wider than the report's grows a row to its wrapped
// text instead of hiding the rest of it.
TEST_F(RtfExport, RowsCarryTheirFramesFillsAndAtLeastTheirHeights)
{
    const ParsedRtf doc = write();
    EXPECT_TRUE(raw.contains("\\red192\\green192\\blue192;")) << "title fill";
    EXPECT_TRUE(raw.contains("\\red204\\green204\\blue204;")) << "header fill";
    EXPECT_TRUE(raw.contains("\\cellx3402\\clbrdrt")) << "the 60 mm left column";
    EXPECT_TRUE(raw.contains("\\cellx10772")) << "190 mm wide rows";
    // Rows: title, seven headers, every data row.
    int rows = 1;
    for (int s = 0; s < SectionCount; ++s)
        rows += 1 + static_cast<int>(feed[Section(s)].size());
    EXPECT_EQ(doc.words.at(QStringLiteral("row")), rows);
    EXPECT_EQ(doc.words.at(QStringLiteral("trowd")), rows);
    // Row heights in twips: positive is "at least", negative "exactly".
    const QRegularExpression rowHeight(QStringLiteral("\\\\trrh(-?\\d+)"));
    QStringList heights;
    for (const QRegularExpressionMatch &m : rowHeight.globalMatch(QString::fromLatin1(raw)))
        heights << m.captured(1);
    EXPECT_EQ(heights.size(), rows);
    heights.removeDuplicates();
    EXPECT_EQ(heights.join(QLatin1Char(',')).toStdString(), "283") << "every row at least 5 mm, none of exact height";
}

TEST(RtfText, TextMapsOntoTheWinAnsiCodePage)
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

TEST(RtfText, Escapes)
{
    EXPECT_EQ(Rpt::rtfText(QStringLiteral("a{b}\\c")), QByteArray("a\\{b\\}\\\\c"));
    EXPECT_EQ(Rpt::rtfText(QStringLiteral("\u00e9\u20ac")), QByteArray("\\'e9\\'80"));
    EXPECT_EQ(Rpt::rtfText(QStringLiteral("\u0416")), QByteArray("\\u1046?"));
}

// Tabs go to the reader's default stops (every 36 pt, as in the PDF file);
// a line broken at a soft hyphen shows the hyphen, other soft hyphens stay
// optional.
TEST_F(RtfExport, TabsAndSoftHyphensAsThePdfShowsThem)
{
    const QString word = QStringLiteral("Durch\u00adfluss\u00admess\u00adger\u00e4te").repeated(8);  // wider than the memo
    feed[Notes] = QStringList{QStringLiteral("Flow\t25.5\tl/s"), word};
    write();
    EXPECT_TRUE(raw.contains("Flow\\tab 25.5\\tab l/s"));
    const Rpt::PlacedMemo *note = nullptr;
    for (const Rpt::Page &p : report.prepared().pages)
        if (const Rpt::PlacedBand *row = p.row(QStringLiteral("NotesDS"), 1))
            note = &row->memos.front();
    ASSERT_NE(note, nullptr);  // its first row: the note goes on in further rows
    ASSERT_EQ(note->lines.size(), 1u);
    ASSERT_TRUE(note->forms.front().hyphen) << note->lines.front().toStdString();
    EXPECT_TRUE(raw.contains(Rpt::rtfText(note->lines.front().chopped(1)) + "-\\cell"));
    EXPECT_TRUE(raw.contains("Durch\\-fluss\\-mess\\-ger\\'e4te"));
}
