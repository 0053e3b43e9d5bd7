// TZ960Report as a whole, against a scripted meter: the constructor's
// sequence, the register retries, the report options, the save dialogs and
// messages, the files written and the pages laid out.
#include "ToolRunner.h"
#include "Z960ReportFixture.h"
#include "platform/ShellOpen.h"
#include "support/FakeOpener.h"
#include "support/FileSizeLimit.h"
#include "support/ScriptedPrompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <vector>

using namespace Z960ReportFixture;
using Fault = FakeMeter::Fault;

namespace {

const char *const kBase = "Report 123456 - 09 December 2026 14_05_33";

class ReportRun : public testing::Test {
protected:
    ReportRun() : port(nullptr, 1)
    {
        fillImages(port);
        port.portOpen = true;
        Platform::setShellOpenHandler([this](const QUrl &url) {
            opened << url.toLocalFile();
            return !openRefused;
        });
    }
    ~ReportRun() override { Platform::setShellOpenHandler({}); }

    std::unique_ptr<TZ960Report> run(const QStringList &notes = {QStringLiteral("Replaced the coil cable.")},
                                     const std::string &validator = "DAV01234")
    {
        return std::make_unique<TZ960Report>(nullptr, &port, env.dir.path().toStdString(), "Jo Bloggs", validator,
                                             "North Weir", notes, meter.ops());
    }

    // Answers the next save dialogs with these file names in the test folder (empty: cancel).
    void answer(std::initializer_list<const char *> names)
    {
        for (const char *n : names)
            prompter.saveFiles.push_back(*n ? std::optional<QString>(env.path(QString::fromLatin1(n)))
                                            : std::optional<QString>());
    }

    QByteArray file(const char *name) const
    {
        QFile f(env.path(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList csvLines(const char *name) const
    {
        return QString::fromLocal8Bit(file(name)).split(QStringLiteral("\r\n"));
    }

    ReportEnvironment env;
    TestSupport::ScriptedPrompter prompter;
    Z960Port port;
    FakeMeter meter;
    QStringList opened;
    bool openRefused = false; // a desktop without a program for the files
};

QString line(const char *caption, const QString &sep, const QString &value)
{
    return QString::fromLatin1(caption).leftJustified(30, QLatin1Char(' ')) + sep + value;
}

} // namespace

TEST_F(ReportRun, PingStatusSystemThenRegistersInSectionOrder)
{
    env.options(true, false, false);
    answer({"r.pdf"});
    const auto report = run();
    EXPECT_TRUE(report->generated());
    EXPECT_EQ(meter.structuresRead, (std::vector<unsigned char>{0, 1}));
    // The constructor's ping, then one ping before each single-register read.
    EXPECT_EQ(meter.pings, 3);
    const std::vector<std::pair<unsigned short, unsigned short>> reads = {{116, 40}, {1, 1}, {2, 1}};
    EXPECT_EQ(meter.reads, reads);
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(ReportRun, AFailedReadingStepMakesNoReport)
{
    const struct {
        bool ping;
        int failingStructure; // -1: none
        std::vector<unsigned char> read;
    } cases[] = {{false, -1, {}}, {true, 0, {0}}, {true, 1, {0, 1}}};
    env.options(true, true, true);
    for (const auto &c : cases) {
        meter = FakeMeter();
        meter.pingOk = c.ping;
        if (c.failingStructure >= 0)
            meter.failingStructures.insert(static_cast<unsigned char>(c.failingStructure));
        prompter.messages.clear();
        const auto report = run();
        EXPECT_FALSE(report->generated());
        EXPECT_EQ(meter.structuresRead, c.read);
        EXPECT_TRUE(meter.reads.empty());
        EXPECT_TRUE(prompter.saveRequests.empty());
        EXPECT_EQ(prompter.texts(), QStringList{QString::fromLatin1(TZ960Report::kNoReport)});
    }
    // Without a link there is nothing to read.
    prompter.messages.clear();
    TZ960Report none(nullptr, nullptr, env.dir.path().toStdString(), "Jo", "", "", {});
    EXPECT_FALSE(none.generated());
    EXPECT_EQ(prompter.texts(), QStringList{QString::fromLatin1(TZ960Report::kNoReport)});
}

TEST_F(ReportRun, SaveDialogsPerFormatAndTheirCancelMessages)
{
    // No settings file: PDF alone, by default.
    answer({""});
    run();
    ASSERT_EQ(prompter.saveRequests.size(), 1u);
    const Platform::SaveRequest &pdf = prompter.saveRequests[0];
    EXPECT_EQ(pdf.title, QStringLiteral("Save Report As"));
    EXPECT_EQ(pdf.initialDir, env.dir.path());
    EXPECT_EQ(pdf.fileName, QString::fromLatin1(kBase) + QStringLiteral(".pdf"));
    EXPECT_EQ(pdf.filter, QStringLiteral("PDF files (*.pdf)"));
    EXPECT_EQ(pdf.defaultExt, QStringLiteral("pdf"));
    EXPECT_EQ(prompter.texts(), (QStringList{QStringLiteral("Pdf report cancelled."),
                                             QString::fromLatin1(TZ960Report::kNoReport)}));

    // All three offered in turn, each cancel stops only its own format.
    env.options(true, true, true);
    prompter.saveRequests.clear();
    prompter.messages.clear();
    answer({"", "", ""});
    run();
    ASSERT_EQ(prompter.saveRequests.size(), 3u);
    EXPECT_EQ(prompter.saveRequests[1].fileName, QString::fromLatin1(kBase) + QStringLiteral(".rtf"));
    EXPECT_EQ(prompter.saveRequests[1].filter, QStringLiteral("RTF files (*.rtf)"));
    EXPECT_EQ(prompter.saveRequests[1].defaultExt, QStringLiteral("rtf"));
    EXPECT_EQ(prompter.saveRequests[2].fileName, QString::fromLatin1(kBase) + QStringLiteral(".csv"));
    EXPECT_EQ(prompter.saveRequests[2].filter, QStringLiteral("CSV files (*.csv)"));
    EXPECT_EQ(prompter.saveRequests[2].defaultExt, QStringLiteral("csv"));
    EXPECT_EQ(prompter.texts(),
              (QStringList{QStringLiteral("Pdf report cancelled."), QStringLiteral("Rtf report cancelled."),
                           QStringLiteral("Csv report cancelled."), QString::fromLatin1(TZ960Report::kNoReport)}));

    // Every option off: no dialog at all.
    env.options(false, false, false);
    prompter.saveRequests.clear();
    prompter.messages.clear();
    EXPECT_FALSE(run()->generated());
    EXPECT_TRUE(prompter.saveRequests.empty());
    EXPECT_EQ(prompter.texts(), QStringList{QString::fromLatin1(TZ960Report::kNoReport)});
}

TEST_F(ReportRun, WritesTheChosenFilesAndOpensThoseAsked)
{
    env.options(true, true, true, true, false, true);
    answer({"", "r.rtf", "r.csv"});
    EXPECT_TRUE(run()->generated());
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("Pdf report cancelled.")});
    EXPECT_FALSE(QFile::exists(env.path(QStringLiteral("r.pdf"))));
    EXPECT_TRUE(file("r.rtf").startsWith("{\\rtf1"));
    EXPECT_TRUE(file("r.csv").startsWith("Z960 Report MeterID - 123456\r\n\r\n[Information]\r\n"));
    EXPECT_EQ(opened, QStringList{env.path(QStringLiteral("r.csv"))}); // OpenRTF is off

    env.options(true, true, false, true, true, false);
    opened.clear();
    answer({"a.pdf", "a.rtf"});
    run();
    EXPECT_EQ(opened, (QStringList{env.path(QStringLiteral("a.pdf")), env.path(QStringLiteral("a.rtf"))}));
    EXPECT_TRUE(file("a.pdf").startsWith("%PDF-"));
}

TEST_F(ReportRun, FilesTheDesktopCannotOpenAreNamedInOneMessageAndStayWritten)
{
    env.options(true, true, true, true, true, true);
    openRefused = true;
    answer({"r.pdf", "r.rtf", "r.csv"});
    EXPECT_TRUE(run()->generated());
    EXPECT_EQ(opened.size(), 3);
    QStringList lines;
    for (const char *name : {"r.pdf", "r.rtf", "r.csv"})
        lines << QStringLiteral("Could not open \"%1\".\n"
                                "No program is set to open files of this kind; set one in the desktop's settings.")
                     .arg(env.path(QString::fromLatin1(name)));
    EXPECT_EQ(prompter.texts(), QStringList{lines.join(QStringLiteral("\n\n"))});
    EXPECT_TRUE(file("r.pdf").startsWith("%PDF-"));
    EXPECT_TRUE(file("r.rtf").startsWith("{\\rtf1"));
    EXPECT_TRUE(file("r.csv").startsWith("Z960 Report MeterID - 123456"));
}

// With the desktop's opener failing for every file, each failure is told
// once, in a box of its own, and only after the last save dialog: none comes
// over a dialog, where the key meant for Save would close it unread. The
// message names the file and what to do, with the opener's own last line
// only where it adds to that.
TEST_F(ReportRun, FilesTheOpenerFailsOnAreToldAfterTheLastSaveDialogEachInABoxOfItsOwn)
{
    Platform::setShellOpenHandler({});  // the opener program itself runs
    const struct {
        const char *what;
        const char *body;
        const char *reason; // %1: the file's name
    } cases[] = {
        {"no program for the kind of file", TestSupport::kNoMethodOpener,
         "No program is set to open files of this kind; set one in the desktop's settings."},
        {"the viewer set for it fails", "echo \"/usr/bin/xdg-open: 882: viewer: cannot open '$1'\" >&2; exit 4",
         "The desktop's opener reported: viewer: cannot open '%1'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        prompter.messages.clear();
        const TestSupport::FakeOpener opener(c.body);
        // Inside every dialog and box time passes: whatever opener has started ends.
        prompter.whileOpen = [&] { opener.finish(); };
        env.options(true, true, true, true, true, true);
        answer({"r.pdf", "r.rtf", "r.csv"});
        EXPECT_TRUE(run()->generated());
        ASSERT_TRUE(opener.finish());
        prompter.whileOpen = {};
        QStringList told, want;
        for (const auto &m : prompter.messages) {
            told << m.text;
            EXPECT_FALSE(m.overSaveDialog) << m.text.toStdString();
            EXPECT_FALSE(m.overMessage) << m.text.toStdString();
        }
        for (const char *name : {"r.csv", "r.pdf", "r.rtf"}) {
            const QString path = env.path(QString::fromLatin1(name));
            const QString reason = QString::fromUtf8(c.reason).replace(QLatin1String("%1"), QLatin1String(name));
            want << QStringLiteral("Could not open \"%1\".\n%2").arg(path, reason);
        }
        told.sort();
        EXPECT_EQ(told, want);
    }
}

TEST_F(ReportRun, AFileThatCannotBeWrittenIsReportedAndTheNextFormatStillOffered)
{
    env.options(true, true, true);
    ASSERT_TRUE(QDir(env.dir.path()).mkdir(QStringLiteral("taken.csv"))); // a folder where the CSV should go
    answer({"missing/r.pdf", "r.rtf", "taken.csv"});
    const auto report = run();
    EXPECT_TRUE(report->generated()); // the RTF file
    const QString failed = QString::fromLatin1(TZ960Report::kWriteFailed);
    EXPECT_EQ(prompter.texts(), (QStringList{failed, failed}));
    EXPECT_EQ(prompter.saveRequests.size(), 3u);
    EXPECT_TRUE(QFileInfo(env.path(QStringLiteral("taken.csv"))).isDir());
    EXPECT_FALSE(file("r.rtf").isEmpty());
    EXPECT_TRUE(QDir(env.dir.path()).entryList({QStringLiteral("*.tmp*"), QStringLiteral("*~")}).isEmpty());

    // Every write failing: nothing counts as generated.
    prompter.messages.clear();
    answer({"missing/a.pdf", "missing/a.rtf", "missing/a.csv"});
    EXPECT_FALSE(run()->generated());
    EXPECT_EQ(prompter.texts(), (QStringList{failed, failed, failed, QString::fromLatin1(TZ960Report::kNoReport)}));
}

TEST_F(ReportRun, AFullDiskKeepsTheEarlierFilesWhole)
{
    env.options(true, true, true);
    answer({"r.pdf", "r.rtf", "r.csv"});
    ASSERT_TRUE(run()->generated());
    const char *const names[] = {"r.pdf", "r.rtf", "r.csv"};
    std::vector<QByteArray> before;
    for (const char *name : names)
        before.push_back(file(name));

    // Each file fails part way through its write.
    prompter.messages.clear();
    answer({"r.pdf", "r.rtf", "r.csv"});
    bool generated = true;
    {
        const TestSupport::FileSizeLimit full(64);
        generated = run()->generated();
    }
    EXPECT_FALSE(generated);
    const QString failed = QString::fromLatin1(TZ960Report::kWriteFailed);
    EXPECT_EQ(prompter.texts(), (QStringList{failed, failed, failed, QString::fromLatin1(TZ960Report::kNoReport)}));
    for (std::size_t i = 0; i < std::size(names); ++i)
        EXPECT_TRUE(file(names[i]) == before[i]) << names[i] << " changed";
    EXPECT_EQ(QDir(env.dir.path()).entryList({QStringLiteral("r.*")}, QDir::Files).size(), 3);
}

TEST_F(ReportRun, RegisterReadsRetryAndShortOrFaultyRepliesAreFailedTries)
{
    env.options(false, false, true);
    const struct {
        const char *name;
        std::vector<Fault> totals, days, hours; // faults of the first reads only
        std::map<unsigned short, Fault> always;
        int totalsReads, daysReads, hoursReads; // reads in the pass for the printed report
    } cases[] = {
        {"first tries", {}, {}, {}, {}, 1, 1, 1},
        {"seventh and sixth try",
         {Fault::Fail, Fault::Short, Fault::Throw, Fault::Fail, Fault::Short, Fault::Fail},
         {Fault::Throw, Fault::Short, Fault::Fail, Fault::Fail, Fault::Fail},
         {},
         {},
         7, 6, 1},
        {"all tries fail", {}, {}, {}, {{116, Fault::Fail}, {1, Fault::Fail}, {2, Fault::Fail}}, 7, 6, 6},
        {"days unreadable", {}, {}, {}, {{1, Fault::Fail}}, 1, 6, 1},
        {"only short replies", {}, {}, {}, {{116, Fault::Short}, {1, Fault::Short}}, 7, 6, 1},
        {"only serial faults", {}, {}, {}, {{116, Fault::Throw}, {2, Fault::Throw}}, 7, 1, 6},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        meter = FakeMeter();
        meter.faults[116] = c.totals;
        meter.faults[1] = c.days;
        meter.faults[2] = c.hours;
        meter.alwaysFaulty = c.always;
        const bool totalsShown = !c.always.count(116), daysShown = !c.always.count(1), hoursShown = !c.always.count(2);
        answer({"r.csv"});
        run();
        // The CSV pass reads them all again (its faults are only the lasting ones).
        EXPECT_EQ(meter.readsOf(116), c.totalsReads + (totalsShown ? 1 : 7));
        EXPECT_EQ(meter.readsOf(1), c.daysReads + (daysShown ? 1 : 6));
        EXPECT_EQ(meter.readsOf(2), c.hoursReads + (hoursShown ? 1 : 6));
        const QStringList csv = csvLines("r.csv");
        const int totals = static_cast<int>(csv.indexOf(QStringLiteral("[Totals]")));
        ASSERT_GE(totals, 0);
        EXPECT_EQ(csv.value(totals + 1), totalsShown ? line("ForwardTotal", QStringLiteral(", "),
                                                              QStringLiteral("1000.000"))
                                                       : QString());
        EXPECT_EQ(csv.contains(line("Uptime days ", QStringLiteral(", "), QStringLiteral("12 days"))), daysShown);
        EXPECT_EQ(csv.contains(line("Uptime hours ", QStringLiteral(", "), QStringLiteral("5 hours"))), hoursShown);
    }
}

TEST_F(ReportRun, AClosedPortReadsNoRegisters)
{
    port.portOpen = false;
    env.options(false, false, true);
    answer({"r.csv"});
    run();
    EXPECT_TRUE(meter.reads.empty());
    EXPECT_EQ(meter.pings, 1);
    const QStringList csv = csvLines("r.csv");
    const int totals = static_cast<int>(csv.indexOf(QStringLiteral("[Totals]")));
    EXPECT_EQ(csv.value(totals + 1), QString());
    EXPECT_EQ(csv.value(totals + 2), QStringLiteral("[Diagnostics]"));
    EXPECT_FALSE(csv.filter(QStringLiteral("Uptime")).size());
}

TEST_F(ReportRun, TheCsvPassRereadsTheRegistersAndUsesCommas)
{
    env.options(true, false, true);
    answer({"r.pdf", "r.csv"});
    meter.onRead = [this] {
        if (meter.reads.size() == 4) // the CSV pass's totals read
            putTotals(meter.registers, {2000.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    };
    const auto report = run();
    const QStringList csv = csvLines("r.csv");
    EXPECT_TRUE(csv.contains(line("ForwardTotal", QStringLiteral(", "), QStringLiteral("2000.500"))));
    EXPECT_TRUE(csv.contains(line("Meter ID", QStringLiteral(", "), QStringLiteral("123456"))));
    EXPECT_TRUE(csv.contains(line("Alarm[1]", QStringLiteral(", "), QStringLiteral("LO_FLOW      , Alarm Logging(Off)"))));
    EXPECT_FALSE(QString::fromLocal8Bit(file("r.csv")).contains(QStringLiteral("= ")));
    // The printed report keeps what was read first.
    bool printedOld = false;
    for (const Rpt::Page &p : report->preparedReport().pages)
        for (const QString &l : p.lines())
            printedOld = printedOld || l == QStringLiteral(" 1000.000");
    EXPECT_TRUE(printedOld);
}

// Dates keep the locale's order and month names; every number, in the CSV
// file and on the printed pages, is written in ASCII digits with "-" and ".".
TEST_F(ReportRun, NumbersAndDatesAreAsciiWhateverTheLocale)
{
    for (const QLocale &locale : {QLocale(QLocale::Swedish, QLocale::Sweden), QLocale(QLocale::Arabic, QLocale::Egypt),
                                  QLocale(QLocale::Persian, QLocale::Iran)}) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        env.options(true, false, true);
        answer({"r.pdf", "r.csv"});
        const auto report = run();
        QString all = QString::fromUtf8(file("r.csv"));
        for (const Rpt::Page &p : report->preparedReport().pages)
            for (const QString &l : p.lines())
                all += l + QLatin1Char('\n');
        for (const QChar c : all) {
            const bool foreignDigit = c.unicode() >= 0x80 && c.category() == QChar::Number_DecimalDigit;
            EXPECT_FALSE(foreignDigit || c.unicode() == 0x2212 || c.category() == QChar::Other_Format)
                << "U+" << QString::number(c.unicode(), 16).toStdString();
        }
        EXPECT_TRUE(csvLines("r.csv").contains(line("Coil Current Offset", QStringLiteral(", "), QStringLiteral("-0.003"))));
    }
}

TEST_F(ReportRun, PagesTitleFooterAndColumns)
{
    env.options(true, false, false);
    answer({"r.pdf"});
    const QString longNote = QStringLiteral("Cable gland replaced; ").repeated(12) + QStringLiteral("END");
    const auto report = run({QStringLiteral("Line one"), longNote});
    const Rpt::PreparedReport &pr = report->preparedReport();
    ASSERT_EQ(pr.pages.size(), 4u);
    const struct {
        const char *band;
        int page;
    } where[] = {{"ReportTitle1", 1}, {"GroupHeader1", 1}, {"GroupHeader2", 1}, {"GroupHeader6", 1},
                 {"GroupHeader3", 2}, {"GroupHeader4", 3}, {"GroupHeader5", 3}, {"GroupHeader7", 4}};
    for (const auto &w : where) {
        int first = 0;
        for (const Rpt::Page &p : pr.pages)
            if (!first && p.band(QString::fromLatin1(w.band)))
                first = p.number;
        EXPECT_EQ(first, w.page) << w.band;
    }
    const Rpt::Page &one = pr.pages[0];
    EXPECT_EQ(one.band(QStringLiteral("ReportTitle1"))->memos[0].text(), QStringLiteral("Z960 Report MeterID - 123456"));
    EXPECT_EQ(pr.pages[1].band(QStringLiteral("ReportTitle1")), nullptr);

    // Left and right columns of a valued line and of a flag-free line; the footer's validator text.
    const Rpt::PlacedBand *meterId = one.row(QStringLiteral("InfoDS"), 4);
    ASSERT_NE(meterId, nullptr);
    EXPECT_EQ(meterId->memos[0].text().trimmed(), QStringLiteral("Meter ID"));
    EXPECT_EQ(meterId->memos[1].text(), QStringLiteral(" 123456"));
    for (const Rpt::Page &p : pr.pages) {
        const Rpt::PlacedBand *footer = p.band(QStringLiteral("PageFooter1"));
        ASSERT_NE(footer, nullptr);
        QStringList texts;
        for (const Rpt::PlacedMemo &m : footer->memos)
            texts << m.text();
        EXPECT_TRUE(texts.contains(QStringLiteral("Validator ID: DAV01234"))) << texts.join('|').toStdString();
        EXPECT_TRUE(texts.contains(QStringLiteral("December 09, 2026")));
        EXPECT_TRUE(texts.contains(QStringLiteral("14:05:33")));
    }
    // A long note wraps into further rows: nothing of it is lost.
    QString notes;
    for (const QString &l : pr.pages[3].lines())
        notes += l + QLatin1Char(' ');
    EXPECT_TRUE(notes.contains(QStringLiteral("END"))) << notes.toStdString();
    EXPECT_NE(pr.pageOf(QStringLiteral("NotesDS"), 1, 1), 0);
}

TEST_F(ReportRun, NoNotesNoValidatorAndAFlagLineInTheRightColumn)
{
    env.options(true, false, false);
    answer({"r.pdf"});
    port.statusImage.setAlarmStatus(0x0001);
    const auto report = run({}, "");
    const Rpt::PreparedReport &pr = report->preparedReport();
    EXPECT_EQ(pr.pages.size(), 3u);
    for (const Rpt::Page &p : pr.pages) {
        EXPECT_EQ(p.band(QStringLiteral("GroupHeader7")), nullptr);
        for (const Rpt::PlacedMemo &m : p.band(QStringLiteral("PageFooter1"))->memos)
            EXPECT_FALSE(m.text().startsWith(QStringLiteral("Validator"))) << m.text().toStdString();
    }
    bool flagSeen = false;
    for (const Rpt::PlacedBand &b : pr.pages[0].bands)
        if (b.dataSet == QStringLiteral("DiagnosticDS") && b.memos.size() == 2 &&
            b.memos[1].text().startsWith(QStringLiteral("***** LOW BATTERY"))) {
            flagSeen = true;
            EXPECT_TRUE(b.memos[0].text().isEmpty());
        }
    EXPECT_TRUE(flagSeen);
    // The value callback matches names without regard to case. An unknown
    // name, and the footer without a validator, leave the value as it was.
    QVariant v;
    report->rptReport1GetValue(QStringLiteral("reporttitle"), v);
    EXPECT_EQ(v.toString(), QStringLiteral("Z960 Report MeterID - 123456"));
    for (const char *name : {"NoSuchVariable", "FooterText"}) {
        QVariant kept(QStringLiteral("kept"));
        report->rptReport1GetValue(QLatin1String(name), kept);
        EXPECT_EQ(kept.typeId(), QMetaType::QString) << name;
        EXPECT_EQ(kept.toString().toStdString(), "kept") << name;
    }
}

TEST_F(ReportRun, PdfCarriesEveryLineAndItsDocumentInformation)
{
    if (!ToolRunner::available(QStringLiteral("pdfinfo")) || !ToolRunner::available(QStringLiteral("pdftotext")))
        GTEST_SKIP() << "poppler-utils not installed";
    env.options(true, false, true);
    answer({"r.pdf", "r.csv"});
    run();
    const QString pdf = env.path(QStringLiteral("r.pdf"));
    const auto info = ToolRunner::run(QStringLiteral("pdfinfo"), {pdf});
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Pages")), QStringLiteral("4"));
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Author")), QStringLiteral("Vantoro"));
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Subject")), QStringLiteral("Vantoro PDF export"));
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Encrypted")), QStringLiteral("no"));
    const auto text = ToolRunner::run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.has_value());
    // Compared without blanks: the text extraction may join narrowly spaced words ("N 8 1").
    const auto squeezed = [](QString t) { return t.remove(QRegularExpression(QStringLiteral("\\s"))); };
    const QString all = squeezed(*text);
    // Every CSV line but the date (taken again for the CSV) prints, as caption and value.
    for (QString l : csvLines("r.csv")) {
        if (l.isEmpty() || l.startsWith(QLatin1Char('[')) || l.startsWith(QStringLiteral("Date ")))
            continue;
        const int comma = static_cast<int>(l.indexOf(QStringLiteral(", ")));
        const QString caption = squeezed(comma < 0 ? l : l.left(comma));
        const QString value = comma < 0 ? QString() : squeezed(l.mid(comma + 2));
        EXPECT_TRUE(all.contains(caption)) << caption.toStdString();
        EXPECT_TRUE(value.isEmpty() || all.contains(value)) << value.toStdString();
    }
    for (const char *heading : {"Information", "Totals (Kilo Litres)", "Diagnostics", "Configuration", "Calibration",
                                "HW Calibration", "Technician's Notes", "Page 4"})
        EXPECT_TRUE(all.contains(squeezed(QString::fromLatin1(heading)))) << heading;
}
