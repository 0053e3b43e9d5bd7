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
#include "support/PageTestHost.h"
#include "support/ScriptedPrompter.h"
#include "z960sim/Z960Sim.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QPushButton>
#include <QTimeEdit>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>

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

TEST_F(PagesAgainstSim, ADownloadTheDesktopCannotOpenIsNamedAndStays)
{
    sim.addFile("c.csv", bytesOf("1,2\r\n"));
    data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
    openRefused = true;
    data->DownLoadBtnClick(data->DownLoadBtn);
    EXPECT_EQ(prompter.texts(),
              QStringList{QStringLiteral("Could not open %1: no program to open it.").arg(meterDir + "c.csv")});
    EXPECT_EQ(read(meterDir + "c.csv"), "1,2\r\n");
    EXPECT_EQ(host->progress, nullptr);
    EXPECT_TRUE(data->DownLoadBtn->isEnabled());
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
    } cases[] = {
        {"one corrupted block", {{Fault::BadCrc, 2, z960sim::kAny, 3}}, true, 1},
        // The opening is acknowledgement 1, block 1's is 2, the re-send 3.
        {"the re-send is ignored too", {{Fault::BadCrc, 2, z960sim::kAny, 3}, {Fault::IgnoreAck, 2, z960sim::kAny, 3}}, false, 1},
        // The end block comes before the announced size: the last window is asked for again.
        {"a block of the last window lost", {{Fault::Silence, 2, z960sim::kAny, 7}}, true, 1},
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
                                [](const z960sim::Frame &f) { return f.payload == z960sim::Bytes{1, 0, 0}; }),
                  c.repeatedAcks);
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
class RepeatsFromAMeterThatWaits : public DownloadsFromAMeterThatWaits, public testing::WithParamInterface<bool> {
protected:
    RepeatsFromAMeterThatWaits() : DownloadsFromAMeterThatWaits(GetParam()) {}

    // An earlier copy of name in the meter's folder, and the file list showing name.
    void prepareDownload(const QString &name)
    {
        QFile old(meterDir + name);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("good copy");
        old.close();
        if (data->FileList->findItems(name, Qt::MatchExactly).isEmpty())
            data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
        selectListed(name);
        prompter.messages.clear();
    }
};

TEST_P(RepeatsFromAMeterThatWaits, NoRecoveryStoresAnotherFileAsGood)
{
    using z960sim::Fault;
    // Twelve blocks of 64 bytes, the last of 30, for the log and for the file list (its header
    // and 56 names of 13 bytes). Windowed, the PC acknowledges blocks 1, 5 and 9, so the windows
    // are block 1, blocks 2 to 5, blocks 6 to 9, and blocks 10 to 12 with the end block, which
    // has no acknowledgement of its own. The opening is acknowledgement 1.
    QStringList names;
    for (int i = 1; i <= 56; ++i)
        names << QStringLiteral("LOG%1.CSV").arg(i, 4, 10, QLatin1Char('0'));
    for (const QString &n : names)
        sim.addFile(n.toStdString(), {static_cast<std::uint8_t>('0' + n.size() % 10)});
    const QString logName = names.last();
    QByteArray log;
    for (int i = 0; log.size() < 11 * 64 + 30; ++i)
        log += QByteArray("2025-03-") + QByteArray::number(10 + i % 20) + ",0" + QByteArray::number(i % 10) +
               ":00:00,12.345,6.78\r\n";
    log.truncate(11 * 64 + 30);
    sim.addFile(logName.toStdString(), bytesOf(log));
    ASSERT_EQ(sim.indexFile(z960sim::LogFile).size(), 11u * 64 + 30);
    data->DlCheckBox->setChecked(false);

    enum Column { PlainLog, WindowedLog, List };
    enum Strike { BlockLost, BlockTwice, AckLostSendAgain, AckLostGoOn };
    const struct {
        const char *what;
        int block;
        int windowedAck; // the acknowledgement that ends its window; 0: none
    } positions[] = {
        {"first window", 1, 2},
        {"middle window", 3, 3},
        {"last window before the end block", 8, 4},
        {"window with the end block", 11, 0},
    };
    // The outcome by position and column (plain log, windowed log, list): S stored identical,
    // F failed with the earlier copy kept (the list: its failure message). With all blocks 0x88
    // a plain transfer cannot tell a lost block, whose re-sent acknowledgement the meter takes
    // for that of the next one, nor a block sent twice from two alike blocks: only the announced
    // size can, and the list is fetched again. A lost first block is asked for by the opening
    // again, which the meter cannot take for anything else.
    const struct {
        const char *what;
        Strike strike;
        const char *alternating;
        const char *code88;
    } strikes[] = {
        {"a block lost", BlockLost, "SSS SSS SSS SSS", "SSS FSS FSS FSS"},
        {"a block sent twice", BlockTwice, "SSS SSS SSS SSS", "FFS FFS FFS FFS"},
        {"its acknowledgement lost, the meter sends again", AckLostSendAgain, "SSS SSS SSS S-S", "SSS SSS SSS S-S"},
        {"its acknowledgement lost, the meter goes on", AckLostGoOn, "SSS SSS SSS S-S", "SSS SSS SSS S-S"},
    };
    const QStringList listedNames = names;
    for (const auto &strike : strikes) {
        for (std::size_t p = 0; p < std::size(positions); ++p) {
            const auto &at = positions[p];
            for (const Column column : {PlainLog, WindowedLog, List}) {
                const bool windowed = column == WindowedLog;
                const int command = column == List ? 80 : 2;
                const int ack = windowed ? at.windowedAck : at.block + 1;
                const char outcome = (GetParam() ? strike.code88 : strike.alternating)[4 * p + column];
                if (outcome == '-')
                    continue; // no acknowledgement to lose
                SCOPED_TRACE(testing::Message() << strike.what << ", " << at.what << ", "
                                                << (column == List ? "file list" : windowed ? "windowed" : "plain"));
                if (column == WindowedLog)
                    prepareDownload(logName);
                prompter.messages.clear();
                sim.clearInjections();
                switch (strike.strike) {
                case BlockLost: sim.inject({Fault::Silence, command, z960sim::kAny, at.block}); break;
                case BlockTwice: sim.inject({Fault::DuplicateBlock, command, z960sim::kAny, at.block}); break;
                case AckLostSendAgain:
                case AckLostGoOn:
                    sim.inject({Fault::IgnoreAck, command, z960sim::kAny, ack, 1, 1,
                                strike.strike == AckLostGoOn ? z960sim::kGoOn : z960sim::kSendAgain});
                    break;
                }
                const bool stored = outcome == 'S';

                if (column == List) {
                    data->FilelistRefreshBtnClick(data->FilelistRefreshBtn);
                    const QStringList shown = listed();
                    EXPECT_TRUE(shown == (stored ? listedNames : QStringList{})) << shown.size() << " names shown";
                    EXPECT_EQ(prompter.texts(), stored ? QStringList{} : QStringList{"getFile failed"});
                    EXPECT_FALSE(QFile::exists(meterDir + "index.txt"));
                } else if (windowed) {
                    data->DownLoadBtnClick(data->DownLoadBtn);
                    const QByteArray kept = read(meterDir + logName);
                    EXPECT_TRUE(kept == (stored ? log : QByteArray("good copy"))) << kept.size() << " bytes stored";
                    EXPECT_EQ(prompter.texts(), stored ? QStringList{} : QStringList{"Failed to download file"});
                    EXPECT_FALSE(QFile::exists(meterDir + logName + ".part"));
                } else {
                    // The page downloads windowed; plain, the link is asked directly.
                    const QByteArray path = QFile::encodeName(meterDir + "plain.csv");
                    EXPECT_EQ(port->getLogFile(("\\" + logName.toLatin1()).constData(), path.constData(), false),
                              stored);
                    const QByteArray got = read(meterDir + "plain.csv");
                    if (stored) {
                        EXPECT_TRUE(got == log) << got.size() << " bytes stored";
                    }
                }
                EXPECT_EQ(host->progress, nullptr);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BlockCodes, RepeatsFromAMeterThatWaits, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "All0x88" : "Alternating";
                         });
