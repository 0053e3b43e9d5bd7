// The data and clock pages end to end: the real link on a pseudo-terminal
// against the simulated meter, with messages through the prompter seam and
// shell opens recorded.
#include "console/ClockPage.h"
#include "console/DataPage.h"
#include "console/PageControls.h"
#include "console/TDlProgForm.h"
#include "link/DeviceTime.h"
#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "platform/PortMap.h"
#include "platform/ShellOpen.h"
#include "serial/SerComm.h"
#include "support/FakeOpener.h"
#include "support/PageTestHost.h"
#include "support/ScriptedPrompter.h"
#include "z960sim/Z960Sim.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimeEdit>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

namespace {

constexpr int kCom = 91; // a COM number of this test's own

z960sim::Bytes bytesOf(const QByteArray &b) { return z960sim::Bytes(b.begin(), b.end()); }

z960sim::Options smallBlocks()
{
    z960sim::Options o;
    o.blockSize = 64; // several blocks for a small file
    o.resendTimeoutMs = 800;
    return o;
}

class PagesAgainstSim : public testing::Test {
protected:
    // The link clock runs at linkSpeed from before the link is made, so that
    // its timers take the same speed.
    explicit PagesAgainstSim(z960sim::Options options = smallBlocks(), double linkSpeed = 1.0)
        : clockSpeed(linkSpeed), sim(options)
    {
    }

    LinkClock::Scoped clockSpeed;
    z960sim::Simulator sim;
    QTemporaryDir dir;
    QString meterDir;
    TestSupport::ScriptedPrompter prompter;
    std::vector<QUrl> opened;
    bool openRefused = false; // a desktop without a program for the file
    std::unique_ptr<TestSupport::PageTestHost> host;
    std::unique_ptr<Z960Port> port;
    std::unique_ptr<DataPage> data;
    std::unique_ptr<ClockPage> clock;
    QStringList progressTexts;
    std::string savedMap;
    bool hadMap = false;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        meterDir = dir.filePath(QStringLiteral("data/960123/"));
        QDir().mkpath(meterDir);
        const char *old = std::getenv(Platform::PortMapVariable);
        hadMap = old != nullptr;
        savedMap = old ? old : "";
        ::setenv(Platform::PortMapVariable, (std::to_string(kCom) + "=" + sim.slavePath()).c_str(), 1);
        Platform::setShellOpenHandler([this](const QUrl &url) {
            opened.push_back(url);
            return !openRefused;
        });

        host = std::make_unique<TestSupport::PageTestHost>(meterDir);
        port = std::make_unique<Z960Port>(nullptr, 1);
        ASSERT_TRUE(port->OpenPort("Com" + std::to_string(kCom), 9600));
        port->comm->SetClosePause(0);
        host->port = port.get();
        data = std::make_unique<DataPage>(*host);
        clock = std::make_unique<ClockPage>(*host, data.get());
        // As the main window wires the link's progress event.
        port->OnDownLoadEvent = [this](QObject *s, int size, int downloaded, int temp) {
            data->PortFileProgress(s, size, downloaded, temp);
            if (TDlProgForm *f = host->progressForm())
                progressTexts << f->Label1->text();
        };
        data->PointFolderLists();
    }
    void TearDown() override
    {
        clock.reset();
        data.reset();
        port.reset();
        host.reset();
        Platform::setShellOpenHandler({});
        if (hadMap)
            ::setenv(Platform::PortMapVariable, savedMap.c_str(), 1);
        else
            ::unsetenv(Platform::PortMapVariable);
    }

    QStringList listed() const
    {
        QStringList l;
        for (int i = 0; i < data->FileList->count(); ++i)
            l << data->FileList->item(i)->text();
        return l;
    }
    QString selected() const
    {
        const QListWidgetItem *it = data->FileList->currentItem();
        return it != nullptr && it->isSelected() ? it->text() : QString();
    }
    // Quillmere requests (control 0x80) the meter received, as their payloads.
    std::vector<z960sim::Bytes> requests(int command) const
    {
        std::vector<z960sim::Bytes> out;
        for (const z960sim::Frame &f : sim.received())
            if (f.kind == z960sim::Frame::Quillmere && f.control == 0x80 && !f.payload.empty() &&
                f.payload[0] == command)
                out.push_back(f.payload);
        return out;
    }
    bool sawBytes(const z960sim::Bytes &needle) const
    {
        for (const z960sim::Frame &f : sim.received())
            if (std::search(f.payload.begin(), f.payload.end(), needle.begin(), needle.end()) != f.payload.end())
                return true;
        return false;
    }
    QByteArray read(const QString &path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void selectListed(const QString &name)
    {
        const auto items = data->FileList->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        data->FileList->setCurrentItem(items.first());
    }
};

QByteArray pattern(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 37 + 11) & 0xFF); // every byte value, 0x10 included
    return b;
}

} // namespace

TEST_F(PagesAgainstSim, IndexOfThreeLinesListsTwoNamesWithTheLastSelected)
{
    sim.addFile("first.csv", bytesOf("1"), z960sim::DiagnosticFile);
    sim.addFile("second.csv", bytesOf("2"), z960sim::DiagnosticFile);
    sim.addFile("other.csv", bytesOf("3"), z960sim::LogFile);
    data->FileTypeRadioGroup->item(1)->click(); // "Diagnostic" refreshes at once

    EXPECT_EQ(listed().join('|').toStdString(), "first.csv|second.csv");
    EXPECT_EQ(selected().toStdString(), "second.csv");
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
    const auto index = requests(80);
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(index[0], (z960sim::Bytes{80, 2}));
    EXPECT_FALSE(QFile::exists(meterDir + "index.txt"));
    EXPECT_EQ(host->progress, nullptr);
    EXPECT_EQ(host->navCalls, (std::vector<bool>{false, true}));
}

TEST_F(PagesAgainstSim, IndexWithoutNamesSaysNoFilesFound)
{
    struct Case {
        const char *what;
        bool emptyIndex; // the meter's index block arrives empty: a file of 0 lines
    };
    for (const Case c : {Case{"header only", false}, Case{"no line at all", true}}) {
        prompter.messages.clear();
        sim.clearInjections();
        if (c.emptyIndex)
            sim.inject({z960sim::Fault::ShortPayload, 80, z960sim::kAny, 1, 1, 1, 0});
        data->FileTypeRadioGroup->item(3)->click(); // "System": nothing of that type
        const auto index = requests(80);
        ASSERT_FALSE(index.empty()) << c.what;
        EXPECT_EQ(index.back(), (z960sim::Bytes{80, 1})) << c.what;
        EXPECT_EQ(data->FileList->count(), 0) << c.what;
        EXPECT_EQ(selected(), QString()) << c.what;
        EXPECT_EQ(prompter.texts(), QStringList{"No Files found on flowmeter sdcard"}) << c.what;
        EXPECT_FALSE(QFile::exists(meterDir + "index.txt")) << c.what;
    }
}

TEST_F(PagesAgainstSim, WindowedDownloadArrivesByteIdenticalAndIsOpened)
{
    const QByteArray contents = pattern(64 * 9 + 17); // ten blocks
    sim.addFile("LOG0007.CSV", bytesOf(contents));
    QFile old(meterDir + "LOG0007.CSV");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an earlier, longer copy that the download replaces entirely ............................");
    old.close();
    data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
    selectListed("LOG0007.CSV");
    sim.clearRecord();
    progressTexts.clear();

    data->DownLoadBtnClick(data->DownLoadBtn);

    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
    EXPECT_EQ(read(meterDir + "LOG0007.CSV"), contents);
    EXPECT_FALSE(QFile::exists(meterDir + "LOG0007.CSV.part"));
    const auto get = requests(2);
    ASSERT_EQ(get.size(), 1u);
    EXPECT_EQ(get[0], bytesOf(QByteArray("\x02\\LOG0007.CSV", 13) + QByteArray(1, '\0')));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile(), meterDir + "LOG0007.CSV");
    EXPECT_TRUE(progressTexts.contains("Progress - 100% received")) << progressTexts.join('|').toStdString();
    EXPECT_EQ(host->progress, nullptr);
    EXPECT_TRUE(data->DownLoadBtn->isEnabled());
    // Windowed: far fewer acknowledgements than blocks.
    int acks = 0;
    for (const z960sim::Frame &f : sim.received())
        acks += f.kind == z960sim::Frame::Quillmere && f.control >= 0x8B && f.control <= 0x96 ? 1 : 0;
    EXPECT_LT(acks, 8);

    // The folder list picks the file up at the next clock tick.
    clock->ClockTimerTimer();
    EXPECT_TRUE(data->DlFileListBox->names().contains("LOG0007.CSV"));
}

TEST_F(PagesAgainstSim, UntickedOpenDownloadedFilesOnlyStoresTheFile)
{
    sim.addFile("a.csv", bytesOf("x,y\r\n"));
    data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
    data->DlCheckBox->setChecked(false);
    data->DownLoadBtnClick(data->DownLoadBtn);
    EXPECT_EQ(read(meterDir + "a.csv"), "x,y\r\n");
    EXPECT_TRUE(opened.empty());
}

// Whether no opener starts or the desktop's opener fails, the technician is
// told the file's name and what to do, once the download has ended.
TEST_F(PagesAgainstSim, ADownloadTheDesktopCannotOpenIsNamedAndStays)
{
    const QString noProgram =
        QStringLiteral("No program is set to open files of this kind; set one in the desktop's settings.");
    const struct {
        const char *what;
        const char *openerBody; // nullptr: no opener starts
        QString reason;
    } cases[] = {
        {"no opener", nullptr, noProgram},
        {"no program for the kind of file", TestSupport::kNoMethodOpener, noProgram},
        {"the viewer set for it fails", "echo '/usr/bin/xdg-open: 882: viewer: out of memory' >&2; exit 4",
         QStringLiteral("The desktop's opener reported: viewer: out of memory")},
    };
    sim.addFile("c.csv", bytesOf("1,2\r\n"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        prompter.messages.clear();
        Platform::setShellOpenHandler({}); // the opener program itself runs
        std::optional<TestSupport::FakeOpener> opener;
        if (c.openerBody)
            opener.emplace(c.openerBody);
        else
            Platform::setOpenerProgram(QStringLiteral("/nonexistent/vantoro-opener"));
        data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
        data->DownLoadBtnClick(data->DownLoadBtn);
        if (opener) {
            ASSERT_TRUE(opener->finish());
        }
        Platform::setOpenerProgram({});
        EXPECT_EQ(prompter.texts(),
                  QStringList{QStringLiteral("Could not open \"%1\".\n%2").arg(meterDir + "c.csv", c.reason)});
        EXPECT_EQ(read(meterDir + "c.csv"), "1,2\r\n");
        EXPECT_EQ(host->progress, nullptr);
        EXPECT_TRUE(data->DownLoadBtn->isEnabled());
    }
}

TEST_F(PagesAgainstSim, MeterAbortFailsAndKeepsTheEarlierCopy)
{
    sim.addFile("b.csv", bytesOf(pattern(64 * 4)));
    QFile old(meterDir + "b.csv");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("good copy");
    old.close();
    data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
    sim.inject({z960sim::Fault::AbortTransfer, 2, z960sim::kAny, 3});

    data->DownLoadBtnClick(data->DownLoadBtn);

    EXPECT_EQ(prompter.texts(), QStringList{"Failed to download file"});
    EXPECT_EQ(read(meterDir + "b.csv"), "good copy");
    EXPECT_FALSE(QFile::exists(meterDir + "b.csv.part"));
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(host->progress, nullptr);
    EXPECT_TRUE(data->FilelistRefreshBtn->isEnabled());
}

// A meter that sends a block again only when the PC repeats its
// acknowledgement; link time runs 20 times faster (a 7 s re-send takes 350 ms).
class DownloadsFromAMeterThatWaits : public PagesAgainstSim {
protected:
    explicit DownloadsFromAMeterThatWaits(bool code88 = false) : PagesAgainstSim(waitingMeter(code88), kLinkSpeed) {}

    static constexpr double kLinkSpeed = 20.0;
    static z960sim::Options waitingMeter(bool code88)
    {
        z960sim::Options o = smallBlocks();
        o.resendOnlyWhenAsked = true;
        o.timeScale = 1.0 / kLinkSpeed;
        o.blockCodes = code88 ? z960sim::BlockCodes::All0x88 : z960sim::BlockCodes::Alternating;
        return o;
    }
};

TEST_F(DownloadsFromAMeterThatWaits, SpoiledBlockIsAskedForAgainOrTheEarlierCopyStays)
{
    using z960sim::Fault;
    // Eight blocks of 64 bytes: windows of block 1, blocks 2 to 5, blocks 6 to 8 and the end block.
    const QByteArray contents = pattern(64 * 8);
    const struct {
        const char *what;
        std::vector<z960sim::Injection> faults;
        bool stored;
        long repeatedAcks; // acknowledgements repeated after 7 s without a block
        std::size_t fetches;
    } cases[] = {
        // Recovered on the line, then fetched again, without doubt.
        {"one corrupted block", {{Fault::BadCrc, 2, z960sim::kAny, 3}}, true, 1, 2},
        // The opening is acknowledgement 1, block 1's is 2, the re-send 3: the fetch
        // breaks off after 11 s without a block, and the next one needs nothing.
        {"the re-send is ignored too", {{Fault::BadCrc, 2, z960sim::kAny, 3}, {Fault::IgnoreAck, 2, z960sim::kAny, 3}}, true, 1, 2},
        {"the re-send is ignored in every fetch",
         {{Fault::BadCrc, 2, z960sim::kAny, 3, 1, 0}, {Fault::IgnoreAck, 2, z960sim::kAny, 3, 1, 0}}, false, 3, 3},
        // The end block comes before the announced size: the file is fetched again at once.
        {"a block of the last window lost", {{Fault::Silence, 2, z960sim::kAny, 7}}, true, 0, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        prompter.messages.clear();
        sim.clearInjections();
        sim.addFile("c.csv", bytesOf(contents));
        QFile old(meterDir + "c.csv");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("good copy");
        old.close();
        data->DlCheckBox->setChecked(false);
        data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
        sim.clearRecord();
        for (const z960sim::Injection &i : c.faults)
            sim.inject(i);

        data->DownLoadBtnClick(data->DownLoadBtn);

        EXPECT_EQ(read(meterDir + "c.csv"), c.stored ? contents : QByteArray("good copy"));
        EXPECT_EQ(prompter.texts(), c.stored ? QStringList{} : QStringList{"Failed to download file"});
        EXPECT_FALSE(QFile::exists(meterDir + "c.csv.part"));
        EXPECT_EQ(host->progress, nullptr);
        EXPECT_TRUE(data->DownLoadBtn->isEnabled());
        const auto frames = sim.received();
        EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                                [](const z960sim::Frame &f) { return f.payload.size() == 3 && f.payload[0] == 1; }),
                  c.repeatedAcks);
        EXPECT_EQ(requests(2).size(), c.fetches);
    }
}

TEST_F(DownloadsFromAMeterThatWaits, TheProgressSaysWhenTheFileIsFetchedAgainAndGoesBeforeAFailureIsSaid)
{
    using z960sim::Fault;
    // Eight blocks of 64 bytes. A log the meter appends to once its size went
    // out brings more than announced; the meter falling silent breaks every fetch off.
    const QByteArray contents = pattern(64 * 8);
    const struct {
        const char *what;
        z960sim::Injection fault;
        bool stored;
        QStringList notes; // the second lines shown, each once, in order
    } cases[] = {
        {"a log appended to while sent", {Fault::GrowWhileSent, 2, z960sim::kAny, 0, 1, 1, 100}, true,
         {"", "Fetching the file again (2 of 3)"}},
        {"every fetch breaks off", {Fault::StallTransfer, 2, z960sim::kAny, 3, 1, 0}, false,
         {"", "Fetching the file again (2 of 3)", "Fetching the file again (3 of 3)"}},
    };
    struct Shown {
        QString label, note;
        int bar;
    };
    std::vector<Shown> shown;
    port->OnDownLoadEvent = [&](QObject *s, int size, int downloaded, int temp) {
        data->PortFileProgress(s, size, downloaded, temp);
        if (TDlProgForm *f = host->progressForm())
            shown.push_back({f->Label1->text(), f->Label2->text(), f->ProgressBar1->value()});
    };
    data->DlCheckBox->setChecked(false);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        sim.clearInjections();
        sim.addFile("p.csv", bytesOf(contents));
        data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
        selectListed("p.csv");
        QFile old(meterDir + "p.csv");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("good copy");
        old.close();
        prompter.messages.clear();
        sim.clearRecord();
        shown.clear();
        sim.inject(c.fault);
        // While the failure is said: no progress dialog, and nothing on the line.
        bool dialogGone = false;
        std::size_t framesWhileShown = 0;
        prompter.whileOpen = [&] {
            // The abort that ended the last fetch may still be on its way.
            const auto aborts = [this] {
                const auto frames = sim.received();
                return std::count_if(frames.begin(), frames.end(),
                                     [](const z960sim::Frame &f) { return f.control == 0x8E; });
            };
            for (int waited = 0; aborts() < 3 && waited < 2000; waited += 5)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            dialogGone = host->progressForm() == nullptr;
            for (QWidget *w : QApplication::topLevelWidgets())
                dialogGone = dialogGone && !(qobject_cast<TDlProgForm *>(w) != nullptr && w->isVisible());
            const std::size_t before = sim.sent().size() + sim.received().size();
            port->DelayTicks(20000); // past the meter's and the PC's re-send times
            framesWhileShown = sim.sent().size() + sim.received().size() - before;
        };

        data->DownLoadBtnClick(data->DownLoadBtn);
        prompter.whileOpen = nullptr;

        const z960sim::Bytes log = sim.files().back().data;
        EXPECT_EQ(bytesOf(read(meterDir + "p.csv")), c.stored ? log : bytesOf("good copy"));
        EXPECT_EQ(prompter.texts(), c.stored ? QStringList{} : QStringList{"Failed to download file"});
        EXPECT_EQ(requests(2).size(), c.stored ? 2u : 3u);
        ASSERT_FALSE(shown.empty());
        QStringList notes;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_LE(shown[i].bar, 100);
            const QString text = shown[i].label;
            EXPECT_TRUE(text == "Progress" || QRegularExpression("^Progress - (\\d|[1-9]\\d|100)% received$").match(text).hasMatch())
                << text.toStdString();
            if (notes.isEmpty() || notes.back() != shown[i].note) {
                notes << shown[i].note;
                // A fetch again starts its bar again.
                EXPECT_EQ(shown[i].bar, 0) << shown[i].note.toStdString();
            }
        }
        EXPECT_EQ(notes, c.notes) << notes.join('|').toStdString();
        if (!c.stored) {
            EXPECT_TRUE(dialogGone);
            EXPECT_EQ(framesWhileShown, 0u);
        }
        EXPECT_EQ(host->progress, nullptr);
    }
}

TEST_F(PagesAgainstSim, HostileNamesFromTheIndexAreRefused)
{
    sim.addFile("../escape.csv", bytesOf("evil"));
    sim.addFile("sub\\inner.csv", bytesOf("evil"));
    sim.addFile("fine.csv", bytesOf("ok"));
    data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
    ASSERT_EQ(listed().join('|').toStdString(), "../escape.csv|sub\\inner.csv|fine.csv");

    for (const QString &name : {QStringLiteral("../escape.csv"), QStringLiteral("sub\\inner.csv")}) {
        prompter.messages.clear();
        selectListed(name);
        data->DownLoadBtnClick(data->DownLoadBtn);
        ASSERT_EQ(prompter.messages.size(), 1u);
        EXPECT_TRUE(prompter.messages[0].text.contains(name)) << prompter.messages[0].text.toStdString();
    }
    EXPECT_TRUE(requests(2).empty());
    EXPECT_FALSE(QFile::exists(dir.filePath("data/escape.csv")));
    EXPECT_EQ(QDir(meterDir).entryList(QDir::Files | QDir::Hidden), QStringList{});

    // A plain name in the same list still downloads.
    selectListed("fine.csv");
    data->DownLoadBtnClick(data->DownLoadBtn);
    EXPECT_EQ(read(meterDir + "fine.csv"), "ok");
}

TEST_F(PagesAgainstSim, MeterClockOffsetsFromTheStatusRead)
{
    const double pcNow = *DateTime::encode({2022, 11, 3, 10, 20, 30, 0});
    DateTime::ScopedNow fixed(pcNow);
    sim.setLiveClock(false);
    const QColor normal = host->pcLabel->palette().color(QPalette::WindowText);
    struct Case {
        int offset;
        bool sameAsPc;
        bool red;
    };
    for (const Case c : {Case{-1, true, false}, Case{2, false, false}, Case{59, false, false}, Case{60, false, true}}) {
        Z960Data::Timestamp t;
        Z960Data::decodeTDateTime(DateTime::addSeconds(pcNow, c.offset), &t);
        sim.patchImage(0, 2, z960sim::Bytes(t.data(), t.data() + 6));
        ASSERT_TRUE(port->getStucture(Z960Data::STATUS));
        EXPECT_EQ(port->clockOffset, c.offset);
        clock->ClockTimerTimer();
        const QString meter = c.sameAsPc ? ClockPage::clockText(pcNow)
                                         : ClockPage::clockText(DateTime::addSeconds(pcNow, c.offset));
        EXPECT_EQ(host->sensorLabel->text(), meter) << c.offset;
        EXPECT_EQ(host->sensorLabel->palette().color(QPalette::WindowText), c.red ? QColor(255, 0, 0) : normal)
            << c.offset;
    }
    // A status whose clock is no date: "Invalid", not 1899 or billions of seconds.
    sim.patchImage(0, 2, z960sim::Bytes{0, 13, 40, 25, 61, 61});
    ASSERT_TRUE(port->getStucture(Z960Data::STATUS));
    clock->ClockTimerTimer();
    EXPECT_EQ(host->sensorLabel->text(), ClockPage::kInvalidClockText);
}

TEST_F(PagesAgainstSim, ManualClockReachesTheMeterAsSixBytes)
{
    clock->SetClockRadioGroup->item(1)->click();
    clock->SetClockDatePicker->setDate(QDate(2020, 3, 1));
    clock->SetClockTimePicker->setTime(QTime(13, 45, 10));
    sim.clearRecord();

    clock->UpdateTimeBtnClick(clock->UpdateTimeBtn);

    ASSERT_EQ(requests(75).size(), 1u);
    EXPECT_EQ(requests(75)[0], (z960sim::Bytes{75, 3}));
    EXPECT_TRUE(sawBytes({65, 20, 3, 1, 13, 45, 10}));
    EXPECT_EQ(requests(19).size(), 1u); // the status read after it
    EXPECT_EQ(host->monitorShown, 1);
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(PagesAgainstSim, SynchroniseSendsThePcClockNotThePickers)
{
    DateTime::ScopedNow fixed(*DateTime::encode({2023, 12, 31, 23, 59, 58, 0}));
    clock->SetClockDatePicker->setDate(QDate(2020, 3, 1));
    clock->UpdateTimeBtnClick(clock->UpdateTimeBtn);
    EXPECT_TRUE(sawBytes({65, 23, 12, 31, 23, 59, 58}));
    EXPECT_FALSE(sawBytes({65, 20, 3, 1}));
}

TEST_F(PagesAgainstSim, RefusedAccessLevelSkipsClockAndStatus)
{
    sim.inject({z960sim::Fault::Exception, 75, z960sim::kAny, 0, 1, 0});
    sim.clearRecord();
    clock->UpdateTimeBtnClick(clock->UpdateTimeBtn);
    EXPECT_FALSE(requests(75).empty());
    EXPECT_TRUE(requests(81).empty());
    EXPECT_TRUE(requests(19).empty());
    EXPECT_EQ(host->monitorShown, 1);
}

TEST_F(PagesAgainstSim, BackupAsksTheMeterAndShowsNothing)
{
    data->BackupLogsBtnClick(data->BackupLogsBtn);
    EXPECT_EQ(requests(103).size(), 1u);
    EXPECT_TRUE(prompter.messages.empty());
}

// The same meter with its data blocks coded alternately 0x91/0x93, or all 0x88.
class DoubtFromAMeterThatWaits : public DownloadsFromAMeterThatWaits, public testing::WithParamInterface<bool> {
protected:
    DoubtFromAMeterThatWaits() : DownloadsFromAMeterThatWaits(GetParam()) {}
};

TEST_P(DoubtFromAMeterThatWaits, ADownloadInDoubtTakesThePlaceOfTheEarlierCopyOnlyOnceFetchedAgainAlike)
{
    using z960sim::Fault;
    using z960sim::Injection;
    // Eight blocks of 64 bytes; windowed, the windows are block 1, blocks 2 to 5,
    // and blocks 6 to 8 with the end block.
    const QByteArray unique = pattern(64 * 8);
    const QByteArray erased(64 * 8, '\xFF');
    QByteArray padded(64 * 3, '\0'); // a log whose first three blocks are alike
    padded += pattern(64 * 5);
    enum Stop { NoStop, AtTheFirstEnd, WhileTheSecondRequestWaits };
    const struct {
        const char *what;
        const QByteArray &content;
        std::vector<Injection> faults;
        Stop stop;
        bool stored;
        std::size_t fetches;
    } cases[] = {
        {"erased flash, a clean line", erased, {}, NoStop, true, 2},
        // The doubled block and the lost one cancel out in the window's count.
        {"block 2 lost and block 5 doubled", unique,
         {{Fault::Silence, 2, z960sim::kAny, 2}, {Fault::DuplicateBlock, 2, z960sim::kAny, 5}}, NoStop, true, 2},
        // In erased flash the two cancel out: the first fetch is right, and the second agrees.
        {"block 3 doubled and block 4 lost", erased,
         {{Fault::DuplicateBlock, 2, z960sim::kAny, 3}, {Fault::Silence, 2, z960sim::kAny, 4}}, NoStop, true, 2},
        // Each fetch is in doubt, and as the log grows no two agree.
        {"a growing log, a block lost every time", padded,
         {{Fault::GrowWhileSent, 2, z960sim::kAny, 0, 1, 0, 100}, {Fault::Silence, 2, z960sim::kAny, 6, 1, 0}}, NoStop,
         false, 3},
        // The program closes once the first fetch is in: no second fetch, no message.
        {"closed at the end of the first fetch", erased, {}, AtTheFirstEnd, false, 1},
        {"closed while the second request waits", erased,
         {{Fault::Delay, 2, z960sim::kAny, 0, 2, 1, 4000}}, WhileTheSecondRequestWaits, false, 2},
    };
    data->DlCheckBox->setChecked(false);
    // As the main window closes: it is closing down, and the link stops.
    const auto close = [this] {
        host->closing = true;
        port->stop();
    };
    // The close comes once the first fetch is in, at once or a second later.
    Stop stop = NoStop;
    bool armed = false;
    const auto watchProgress = [&] {
        port->OnDownLoadEvent = [&](QObject *s, int size, int downloaded, int temp) {
            data->PortFileProgress(s, size, downloaded, temp);
            if (armed && size > 0 && downloaded == size) {
                armed = false;
                QTimer::singleShot(stop == AtTheFirstEnd ? 0 : LinkClock::timerInterval(1000), port.get(), close);
            }
        };
    };
    watchProgress();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (host->closing) {
            // The next connection after a close.
            host->closing = false;
            port = std::make_unique<Z960Port>(nullptr, 1);
            ASSERT_TRUE(port->OpenPort("Com" + std::to_string(kCom), 9600));
            port->comm->SetClosePause(0);
            host->port = port.get();
            watchProgress();
        }
        sim.clearInjections();
        sim.addFile("d.csv", bytesOf(c.content));
        QFile old(meterDir + "d.csv");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("good copy");
        old.close();
        data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
        selectListed("d.csv");
        prompter.messages.clear();
        sim.clearRecord();
        for (const Injection &i : c.faults)
            sim.inject(i);
        stop = c.stop;
        armed = c.stop != NoStop;

        data->DownLoadBtnClick(data->DownLoadBtn);

        EXPECT_EQ(read(meterDir + "d.csv"), c.stored ? c.content : QByteArray("good copy"));
        EXPECT_EQ(prompter.texts(),
                  c.stored || c.stop != NoStop ? QStringList{} : QStringList{"Failed to download file"});
        EXPECT_FALSE(QFile::exists(meterDir + "d.csv.part"));
        EXPECT_EQ(requests(2).size(), c.fetches);
        EXPECT_EQ(host->progress, nullptr);
        if (c.stop != NoStop) {
            const auto aborts = [this] {
                const auto frames = sim.received();
                return std::count_if(frames.begin(), frames.end(),
                                     [](const z960sim::Frame &f) { return f.control == 0x8E; });
            };
            // The first fetch had ended; the second request may have readied the file: one abort.
            // It may still be on the line when the download returns.
            const long expected = c.stop == AtTheFirstEnd ? 0 : 1;
            for (int waited = 0; aborts() < expected && waited < 2000; waited += 5)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            sim.waitForIdle(std::chrono::milliseconds(500));
            EXPECT_EQ(aborts(), expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BlockCodes, DoubtFromAMeterThatWaits, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "All0x88" : "Alternating";
                         });
