// The banded layout: which bands and lines print on which page, and where.
#include "ReportFixture.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace ReportFixture;
using Rpt::BandKind;
using Rpt::PlacedBand;
using Rpt::PreparedReport;

namespace {

PreparedReport prepare(Feed &feed)
{
    TRptReport report;
    feed.bind(report);
    EXPECT_TRUE(report.PrepareReport());
    return report.prepared();
}

int countBands(const PreparedReport &r, const char *name)
{
    int n = 0;
    for (const Rpt::Page &p : r.pages)
        for (const PlacedBand &b : p.bands)
            n += b.name == QLatin1String(name);
    return n;
}

// Bottom of the body: paper less bottom margin less the 15 mm page footer.
constexpr double kBodyBottom = 297.0 - 10.0 - 15.0;

} // namespace

TEST(EngineLayout, TypicalReportPutsEachSectionOnItsPage)
{
    Feed feed = Feed::typical();
    const PreparedReport r = prepare(feed);
    ASSERT_EQ(r.pages.size(), 4u);
    struct { const char *band; int page; } expected[] = {
        {"ReportTitle1", 1}, {"GroupHeader1", 1}, {"GroupHeader2", 1}, {"GroupHeader6", 1},
        {"GroupHeader3", 2}, {"GroupHeader4", 3}, {"GroupHeader5", 3}, {"GroupHeader7", 4},
    };
    for (const auto &e : expected)
        EXPECT_EQ(pageOfBand(r, e.band), e.page) << e.band;
    EXPECT_EQ(countBands(r, "ReportTitle1"), 1) << "the title prints on page one only";
    EXPECT_EQ(r.title, QStringLiteral("Z960 Report MeterID - 123456"));

    // Every row of every section prints once, in record order.
    for (int s = 0; s < SectionCount; ++s) {
        int lastPage = 0;
        for (int rec = 0; rec < feed[Section(s)].size(); ++rec) {
            const int page = r.pageOf(QString::fromLatin1(dataSetName(Section(s))), rec);
            ASSERT_GT(page, 0) << dataSetName(Section(s)) << " record " << rec;
            EXPECT_GE(page, lastPage);
            lastPage = page;
        }
    }
}

TEST(EngineLayout, BandsStackFromTheTopMarginWithTheirHeights)
{
    Feed feed = Feed::typical();
    const PreparedReport r = prepare(feed);
    const Rpt::Page &p1 = r.pages[0];
    struct { const char *band; double top; } expected[] = {
        {"ReportTitle1", 10}, {"GroupHeader1", 20}, {"GroupFooter1", 66}, {"GroupHeader2", 70},
        {"GroupHeader6", 130},
    };
    for (const auto &e : expected) {
        const PlacedBand *b = p1.band(QString::fromLatin1(e.band));
        ASSERT_NE(b, nullptr) << e.band;
        EXPECT_DOUBLE_EQ(b->top, e.top) << e.band;
    }
    const PlacedBand *row = p1.row(QStringLiteral("InfoDS"), 0);
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(row->memos.size(), 2u);
    EXPECT_DOUBLE_EQ(row->memos[0].left, 10);
    EXPECT_DOUBLE_EQ(row->memos[0].width, 60);
    EXPECT_DOUBLE_EQ(row->memos[1].left, 70);
    EXPECT_DOUBLE_EQ(row->memos[1].width, 130);
    EXPECT_EQ(row->memos[0].text(), QStringLiteral("Info 0"));
    EXPECT_EQ(row->memos[1].text(), QStringLiteral(" value 0"));
    // The Calibration caption sits half a millimetre below its band's top.
    const PlacedBand *cal = r.pages[2].band(QStringLiteral("GroupHeader4"));
    ASSERT_NE(cal, nullptr);
    EXPECT_DOUBLE_EQ(cal->memos[0].top - cal->top, 0.5);
}

TEST(EngineLayout, PageFooterOnEveryPageWithNumberClockAndValidator)
{
    Feed feed = Feed::typical();
    const PreparedReport r = prepare(feed);
    for (const Rpt::Page &p : r.pages) {
        const PlacedBand *f = p.band(QStringLiteral("PageFooter1"));
        ASSERT_NE(f, nullptr) << "page " << p.number;
        EXPECT_DOUBLE_EQ(f->top, kBodyBottom);
        QStringList texts;
        for (const auto &m : f->memos)
            texts << m.text();
        EXPECT_EQ(texts, (QStringList{QString(), QStringLiteral("14:05:33"), QStringLiteral("December 09, 2026"),
                                      QStringLiteral("Validator ID: DAV01234"),
                                      QStringLiteral("Page ") + QString::number(p.number)}));
        EXPECT_EQ(f->memos[0].frame, Rpt::FrameTop) << "the rule has its top line only";
        EXPECT_DOUBLE_EQ(f->memos[3].top, kBodyBottom + 0.3);
    }
}

TEST(EngineLayout, EmptyValidatorLeavesTheFooterMiddleEmpty)
{
    Feed feed = Feed::typical();
    feed.footerText.clear();
    const PreparedReport r = prepare(feed);
    for (const Rpt::Page &p : r.pages)
        EXPECT_TRUE(p.band(QStringLiteral("PageFooter1"))->memos[3].lines.front().isEmpty());
}

TEST(EngineLayout, EmptySectionsPrintNothingAndStartNoPage)
{
    struct Case {
        const char *what;
        std::vector<Section> empty;
        std::vector<std::pair<const char *, int>> pages;  // band -> page (0: absent)
        size_t pageCount;
    } cases[] = {
        {"no totals", {Totals}, {{"GroupHeader2", 0}, {"GroupHeader6", 1}, {"GroupHeader3", 2}}, 4},
        {"no configuration", {Config}, {{"GroupHeader3", 0}, {"GroupHeader4", 2}, {"GroupHeader7", 3}}, 3},
        // HW Calibration starts no page of its own: it follows Configuration and runs overleaf.
        {"no calibration", {Cal}, {{"GroupHeader4", 0}, {"GroupHeader5", 2}, {"GroupHeader7", 4}}, 4},
        {"no notes", {Notes}, {{"GroupHeader7", 0}, {"GroupHeader5", 3}}, 3},
        {"only the title", {Info, Totals, Diagnostic, Config, Cal, BasicCal, Notes}, {{"ReportTitle1", 1}}, 1},
    };
    for (const Case &c : cases) {
        Feed feed = Feed::typical();
        for (Section s : c.empty)
            feed[s].clear();
        const PreparedReport r = prepare(feed);
        EXPECT_EQ(r.pages.size(), c.pageCount) << c.what;
        for (const auto &[band, page] : c.pages)
            EXPECT_EQ(pageOfBand(r, band), page) << c.what << ": " << band;
        for (Section s : c.empty)
            EXPECT_EQ(r.pageOf(QString::fromLatin1(dataSetName(s)), 0), 0) << c.what;
    }
}

// Title 10, Information 6 + n*5 + 4, Totals 60, Diagnostics header 6: with
// eight information lines 136 mm are left for diagnostics rows, so 27 rows
// fit on page one and the 28th goes overleaf.
TEST(EngineLayout, PageOneHoldsTwentySevenOrTwentyEightDiagnosticRows)
{
    struct Case { int info, diag, lastRowPage; } cases[] = {
        {8, 27, 1}, {8, 28, 2}, {7, 28, 1}, {7, 29, 2},
    };
    for (const Case &c : cases) {
        Feed feed = Feed::typical();
        feed[Info] = lines(QStringLiteral("Info"), c.info);
        feed[Diagnostic] = lines(QStringLiteral("Diag"), c.diag);
        const PreparedReport r = prepare(feed);
        SCOPED_TRACE(testing::Message() << c.info << " info, " << c.diag << " diagnostics");
        EXPECT_EQ(r.pageOf(QStringLiteral("DiagnosticDS"), c.diag - 2), 1);
        EXPECT_EQ(r.pageOf(QStringLiteral("DiagnosticDS"), c.diag - 1), c.lastRowPage);
        // Diagnostics are not reprinted; the footer gap that no longer fits is
        // dropped; Configuration still begins on the very next page.
        EXPECT_EQ(countBands(r, "GroupHeader6"), 1);
        EXPECT_EQ(pageOfBand(r, "GroupHeader3"), c.lastRowPage + 1);
        for (const auto &p : r.pages)
            for (const auto &b : p.bands) {
                if (b.kind == BandKind::PageFooter)
                    continue;
                EXPECT_LE(b.top + b.height, kBodyBottom + 1e-9) << "band " << b.name.toStdString();
            }
    }
}

TEST(EngineLayout, KeepTogetherMovesAWholeSectionThatFitsOnAPage)
{
    Feed feed = Feed::typical();
    feed[Info] = lines(QStringLiteral("Info"), 40);  // page one to 230 mm: 42 mm left
    const PreparedReport r = prepare(feed);
    EXPECT_EQ(pageOfBand(r, "GroupHeader2"), 2) << "Totals (60 mm) moved whole to page two";
    EXPECT_EQ(r.pageOf(QStringLiteral("TotalsDS"), 0), 2);
    EXPECT_EQ(r.pageOf(QStringLiteral("TotalsDS"), 9), 2);
    EXPECT_EQ(pageOfBand(r, "GroupHeader6"), 2);
}

TEST(EngineLayout, WithoutKeepTogetherASectionSplitsAcrossPages)
{
    Feed feed = Feed::typical();
    feed[Diagnostic] = lines(QStringLiteral("Diag"), 45);
    const PreparedReport r = prepare(feed);
    EXPECT_EQ(pageOfBand(r, "GroupHeader6"), 1);
    EXPECT_EQ(r.pageOf(QStringLiteral("DiagnosticDS"), 26), 1);
    EXPECT_EQ(r.pageOf(QStringLiteral("DiagnosticDS"), 27), 2);
    // The continuation begins at the top margin, with no header reprinted.
    EXPECT_DOUBLE_EQ(r.pages[1].bands.front().top, 10.0);
    EXPECT_EQ(r.pages[1].bands.front().record, 27);
}

TEST(EngineLayout, KeepTogetherDoesNotMoveASectionLongerThanAPage)
{
    Feed feed = Feed::typical();
    feed[Info] = lines(QStringLiteral("Info"), 60);  // 310 mm: no page holds it
    const PreparedReport r = prepare(feed);
    EXPECT_EQ(pageOfBand(r, "GroupHeader1"), 1) << "Information stays under the title";
    EXPECT_EQ(r.pageOf(QStringLiteral("InfoDS"), 0), 1);
    EXPECT_EQ(r.pageOf(QStringLiteral("InfoDS"), 59), 2);
}

TEST(EngineLayout, ReprintedHeadersRepeatOnEveryFurtherPage)
{
    struct Case { Section s; const char *header; bool reprinted; } cases[] = {
        {Config, "GroupHeader3", false}, {Cal, "GroupHeader4", true},
        {BasicCal, "GroupHeader5", true}, {Notes, "GroupHeader7", true},
    };
    for (const Case &c : cases) {
        Feed feed = Feed::typical();
        feed[c.s] = lines(QStringLiteral("Row"), 120);  // runs over three pages
        const PreparedReport r = prepare(feed);
        const QString ds = QString::fromLatin1(dataSetName(c.s));
        const int first = r.pageOf(ds, 0), last = r.pageOf(ds, 119);
        ASSERT_GE(last - first, 2) << c.header;
        for (int page = first + 1; page <= last; ++page) {
            const PlacedBand &top = r.pages[static_cast<size_t>(page - 1)].bands.front();
            if (c.reprinted) {
                EXPECT_EQ(top.name, QLatin1String(c.header)) << "page " << page;
                EXPECT_TRUE(top.reprinted);
            } else {
                EXPECT_EQ(top.kind, BandKind::MasterData) << c.header << " page " << page;
            }
        }
        EXPECT_EQ(countBands(r, c.header), c.reprinted ? 1 + last - first : 1) << c.header;
    }
}

TEST(EngineLayout, AHeaderNeverStandsAloneAtThePageFoot)
{
    // Calibration page: 6 + 49 * 5 + 4 = 255 mm, 7 mm left: room for the
    // HW Calibration header (6) but not for its first row as well.
    Feed feed = Feed::typical();
    feed[Cal] = lines(QStringLiteral("Cal"), 49);
    const PreparedReport r = prepare(feed);
    const int calPage = pageOfBand(r, "GroupHeader4");
    EXPECT_EQ(pageOfBand(r, "GroupHeader5"), calPage + 1);
    EXPECT_EQ(r.pageOf(QStringLiteral("BasicCalDS"), 0), calPage + 1);
    EXPECT_EQ(countBands(r, "GroupHeader5"), 1);
}

TEST(EngineLayout, RowsOfOneRecordAsManyAsItsMemoShows)
{
    // The section memos show one line; what wraps beyond it is cut off.
    Feed feed = Feed::typical();
    const QString longValue = QStringLiteral("first part of a long value ") + QString(60, QLatin1Char('x')) +
                              QStringLiteral(" tail-that-is-cut-off");
    feed[Config][0] = line(QStringLiteral("Long"), longValue);
    const PreparedReport r = prepare(feed);
    const PlacedBand *row = r.pages[1].row(QStringLiteral("ConfigDS"), 0);
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(row->memos[1].lines.size(), 1u);
    EXPECT_EQ(row->memos[1].lines[0], QStringLiteral(" first part of a long value"));
    for (const auto &page : r.pages)
        for (const QString &l : page.lines())
            EXPECT_FALSE(l.contains(QStringLiteral("tail-that"))) << l.toStdString();
    EXPECT_EQ(r.pageOf(QStringLiteral("ConfigDS"), 0, 1), 0) << "no continuation row";
}

TEST(EngineLayout, LongNotesContinueInFurtherRowsAndLoseNothing)
{
    Feed feed = Feed::typical();
    QStringList words;
    for (int i = 0; i < 120; ++i)
        words << QStringLiteral("word%1").arg(i);
    feed[Notes] = QStringList{QStringLiteral("short note"), words.join(QLatin1Char(' ')), QStringLiteral("last")};
    const PreparedReport r = prepare(feed);

    const Rpt::Page &notes = r.pages.back();
    QStringList printed;
    std::vector<const PlacedBand *> slices;
    for (const PlacedBand &b : notes.bands)
        if (b.dataSet == QLatin1String("NotesDS") && b.record == 1) {
            slices.push_back(&b);
            printed << b.memos[0].text();
        }
    ASSERT_GE(slices.size(), 3u);
    EXPECT_EQ(printed.join(QLatin1Char(' ')), words.join(QLatin1Char(' ')));
    // The slices of one note are one box: no lines between them.
    EXPECT_EQ(slices.front()->memos[0].frame, Rpt::FrameLeft | Rpt::FrameTop | Rpt::FrameRight);
    EXPECT_EQ(slices.back()->memos[0].frame, Rpt::FrameLeft | Rpt::FrameBottom | Rpt::FrameRight);
    for (size_t i = 1; i < slices.size(); ++i)
        EXPECT_DOUBLE_EQ(slices[i]->top, slices[i - 1]->top + 5);
    EXPECT_EQ(notes.row(QStringLiteral("NotesDS"), 2)->memos[0].text(), QStringLiteral("last"));
}

TEST(EngineLayout, ANoteRunningOverleafIsClosedAndReopened)
{
    Feed feed = Feed::typical();
    feed[Notes] = lines(QStringLiteral("n"), 49);  // 6 + 49 * 5 = 251 mm: 11 mm left
    feed[Notes] << QString(700, QLatin1Char('w')).replace(QStringLiteral("wwwwwwwwww"), QStringLiteral("wwwwwwwww "));
    const PreparedReport r = prepare(feed);
    const QString ds = QStringLiteral("NotesDS");
    const int p0 = r.pageOf(ds, 49, 0), p2 = r.pageOf(ds, 49, 2);
    ASSERT_GT(p0, 0);
    EXPECT_EQ(r.pageOf(ds, 49, 1), p0);
    ASSERT_EQ(p2, p0 + 1);
    const auto &prev = r.pages[static_cast<size_t>(p0 - 1)];
    const auto &next = r.pages[static_cast<size_t>(p2 - 1)];
    EXPECT_TRUE(prev.row(ds, 49, 1)->memos[0].frame & Rpt::FrameBottom);
    EXPECT_TRUE(next.row(ds, 49, 2)->memos[0].frame & Rpt::FrameTop);
    EXPECT_TRUE(next.bands.front().reprinted) << "Technician's Notes header repeated";
}

TEST(EngineLayout, ValueCallbackSeesEachRecordAndValuesAreNotExpandedAgain)
{
    Feed feed = Feed::typical();
    feed[Notes] = QStringList{QStringLiteral("see [Page#] and [Time]"), QStringLiteral("second")};
    TRptReport report;
    feed.bind(report);
    std::vector<int> notesRecords;
    auto inner = report.OnGetValue;
    report.OnGetValue = [&](const QString &name, QVariant &v) {
        if (name == QLatin1String("Notes1"))
            notesRecords.push_back(report.dataSet(QStringLiteral("NotesDS")).RecNo);
        inner(name, v);
    };
    report.PrepareReport();
    EXPECT_EQ(notesRecords, (std::vector<int>{0, 1}));
    const auto *row = report.prepared().pages.back().row(QStringLiteral("NotesDS"), 0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->memos[0].text(), QStringLiteral("see [Page#] and [Time]"));
    EXPECT_FALSE(feed.asked.contains(QStringLiteral("Page#"))) << "the engine's own variables";
    EXPECT_TRUE(feed.asked.contains(QStringLiteral("FooterText")));
}

TEST(EngineLayout, AVariableLeftUnansweredPrintsEmpty)
{
    TRptReport report;
    Feed feed = Feed::typical();
    feed.bind(report);
    report.OnGetValue = nullptr;
    report.PrepareReport();
    const auto &p1 = report.prepared().pages.front();
    EXPECT_TRUE(p1.band(QStringLiteral("ReportTitle1"))->memos[0].text().isEmpty());
    EXPECT_EQ(p1.band(QStringLiteral("GroupHeader1"))->memos[0].text(), QStringLiteral("Information"));
    EXPECT_TRUE(p1.row(QStringLiteral("InfoDS"), 0)->memos[0].text().isEmpty());
}

TEST(EngineLayout, PreparingAgainReplacesTheEarlierResult)
{
    TRptReport report;
    Feed feed = Feed::typical();
    feed.bind(report);
    report.PrepareReport();
    EXPECT_EQ(report.prepared().pages.size(), 4u);
    for (int s = Totals; s < SectionCount; ++s)
        report.dataSet(QString::fromLatin1(dataSetName(Section(s)))).RangeEndCount = 0;
    report.PrepareReport();
    EXPECT_EQ(report.prepared().pages.size(), 1u);
}

TEST(EngineLayout, DataSetsAreCountersOverTheTemplateNames)
{
    TRptReport report;
    TRptUserDataSet &ds = report.dataSet(QStringLiteral("InfoDS"));
    EXPECT_EQ(ds.recordCount(), 0) << "no range end: no records";
    ds.RangeEnd = TRptRangeEnd::reCount;
    ds.RangeEndCount = 3;
    EXPECT_EQ(ds.recordCount(), 3);
    ds.RangeEndCount = -2;
    EXPECT_EQ(ds.recordCount(), 0);
    EXPECT_THROW(report.dataSet(QStringLiteral("NoSuchDS")), std::invalid_argument);
}

// Layout grows with the text, not with the square of a line's length: a
// 10,000-character note lays out in a blink, with or without thousands of
// soft hyphens, or as one word without a place to break.
TEST(EngineLayout, ALongNoteLaysOutInTimeLinearInItsLength)
{
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
    constexpr qint64 kBoundMs = 100;
#else
    constexpr qint64 kBoundMs = 3000;  // unoptimised and sanitised (about 0.5 s): still far below the quadratic layout
#endif
    const QString syllables = QStringLiteral("Mes\u00adsung\u00adlo\u00adko ");  // 3 soft hyphens in 15 characters
    const struct {
        const char *what;
        QString note;
    } cases[] = {
        {"words", QStringLiteral("Messunglokoi ").repeated(770)},
        {"soft hyphens", syllables.repeated(667)},
        {"one word", QStringLiteral("x").repeated(10000)},
    };
    {
        Feed warm;  // opens the fonts
        warm[Notes] = QStringList{QStringLiteral("Replaced the coil cable.")};
        prepare(warm);
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_GE(c.note.size(), 10000);
        Feed feed;
        feed[Notes] = QStringList{c.note};
        TRptReport report;
        feed.bind(report);
        QElapsedTimer timer;
        timer.start();
        ASSERT_TRUE(report.PrepareReport());
        const qint64 ms = timer.elapsed();
        EXPECT_LT(ms, kBoundMs);
        QString printed;
        for (const Rpt::Page &p : report.prepared().pages)
            for (const PlacedBand &b : p.bands)
                if (b.dataSet == QLatin1String("NotesDS") && b.kind == BandKind::MasterData)
                    for (const QString &l : b.memos.front().lines)
                        printed += l;
        EXPECT_EQ(printed.remove(QLatin1Char(' ')), QString(c.note).remove(QLatin1Char(' '))) << "nothing lost";
    }
}
