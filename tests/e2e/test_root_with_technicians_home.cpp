// A run as root that keeps the technician's home (as su, sudo -E or an older
// sudo start the program): it connects, downloads a log, writes the report
// and "Monitor.csv" and opens the data folder, keeping its settings copy, lock
// and data in root's own home; the technician's home is left as it was found,
// nothing in it root's, and his next run connects and downloads. For the
// program in his home, installed, and in a team's tools folder; with his own
// folders there beforehand or not; with the settings naming a custom data
// folder in his home (holding his links to a file of root's, or not) or a
// team's shared folder where a colleague planted a link.
#include "e2e/ConsoleSimFixture.h"
#include "console/DataPage.h"
#include "platform/SettingsFile.h"
#include "platform/SingleInstance.h"
#include "report/TTechMemoForm.h"
#include "support/AccountFiles.h"
#include "support/AsNobody.h"
#include "support/FreshHome.h"
#include "support/TreeEntries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace S = Platform::Settings;
using TestSupport::entriesUnder;

constexpr const char *kWorldVariable = "VANTORO_TEST_ROOT_WORLD"; // "<home>|<runtime>|<file beside>"
constexpr const char *kLogName = "LOG0001.CSV";
constexpr const char *kLog = "date,flow\r\n2026-01-01,1.5\r\n2026-01-02,2.5\r\n";
constexpr const char *kStoredMark = "@@stored ";
constexpr uid_t kNobody = TestSupport::NobodyId;
constexpr TestSupport::Account kTechnician{kNobody, kNobody, int(TestSupport::TeamGroupId)};

// What one session did: where the downloaded file, the report and
// "Monitor.csv" landed, where the report's save dialog started, and what the
// desktop was asked to open.
struct Session {
    QString download;
    QString report;
    QString monitor;
    QString reportStartedIn;
    QStringList opened;
};

// A session of the program as the technician goes through it: the lock,
// the start-up window, Connect, a download and (where asked) the report,
// "Monitor.csv" and the data page's folder.
class Technician : public TestSupport::ConsoleSimTest {
public:
    Session run(const QString &beside, bool everyWriter)
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Stelvanor"));
        Platform::clearKnownFolderOverrides(); // the user's own folders
        S::setFilePath(beside);
        opened.clear();
        prompter.saveRequests.clear();
        z960sim::Options options;
        startSim(options);
        sim->addFile(kLogName, z960sim::Bytes(kLog, kLog + std::strlen(kLog)));
        const Platform::SingleInstance lock(QStringLiteral("vantoro"));
        EXPECT_EQ(lock.state(), Platform::SingleInstance::State::Acquired) << lock.lockFilePath().toStdString();
        lockPath = lock.lockFilePath();

        Session done;
        TVRStartupForm startup;
        startup.show();
        const bool connected = connectAndClose(startup, [&](TZ960InterfaceForm &main) {
            if (!done.download.isEmpty())
                return;
            // Between polls, with no poll due meanwhile.
            main.StatusTimer->setInterval(600000);
            ASSERT_TRUE(waitFor([&main] { return !main.deviceOperationRunning(); }));
            main.DataSB->click();
            const auto listed = main.dataPage->FileList->findItems(QString::fromUtf8(kLogName), Qt::MatchExactly);
            ASSERT_EQ(listed.size(), 1);
            main.dataPage->FileList->setCurrentItem(listed.first());
            main.dataPage->DownLoadBtnClick(main.dataPage->DownLoadBtn);
            done.download = main.dataDirPath() + QString::fromUtf8(kLogName);
            if (everyWriter) {
                main.ViewMonitorDataSB->click();
                done.monitor = main.dataRootPath() + QStringLiteral("Monitor.csv");
                main.DataSB->click();
                main.dataPage->ExplorerBtnClick(main.dataPage->ExplorerBtn);
                // The technician takes the name offered, in the folder offered.
                done.report = main.dataDirPath() + QStringLiteral("report.pdf");
                prompter.dialogs.push_back([](QDialog &d) {
                    dynamic_cast<TTechMemoForm &>(d).TechnicianNameEB->setText(QStringLiteral("Root"));
                    return int(QDialog::Accepted);
                });
                prompter.saveFiles.push_back(done.report);
                main.GenerateReportSB->click();
            }
            main.close();
        });
        EXPECT_TRUE(connected) << prompter.texts().join(QLatin1Char('|')).toStdString();
        if (!prompter.saveRequests.empty())
            done.reportStartedIn = prompter.saveRequests.back().initialDir;
        for (const QUrl &url : opened)
            done.opened << url.toLocalFile();
        return done;
    }
    QString lockPath;
};

class TechnicianChild : public Technician {};

// The technician's next run, started by the test below as his account.
TEST_F(TechnicianChild, ConnectsAndDownloads)
{
    const QStringList world = qEnvironmentVariable(kWorldVariable).split(QLatin1Char('|'));
    if (world.size() != 3)
        GTEST_SKIP() << "runs as a child of RootWithTechniciansHome.LeavesHisHomeAsItFoundIt";
    TestSupport::useParentsAccountFiles();
    const Session done = run(world[2], false);
    QFile stored(done.download);
    EXPECT_TRUE(stored.open(QIODevice::ReadOnly)) << done.download.toStdString();
    EXPECT_EQ(stored.readAll(), QByteArray(kLog));
    EXPECT_TRUE(lockPath.startsWith(world[1] + QLatin1Char('/'))) << lockPath.toStdString();
    std::printf("%s%s\n", kStoredMark, QFile::encodeName(done.download).constData());
}

bool own(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), uid, gid) == 0 && ::chmod(name.constData(), mode) == 0;
}

bool folder(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    return QDir().mkpath(path) && own(path, uid, gid, mode);
}

bool file(const QString &path, const QByteArray &bytes, uid_t uid, gid_t gid, mode_t mode)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && (f.close(), own(path, uid, gid, mode));
}

QStringList ownedByRoot(const std::map<QString, TestSupport::Entry> &entries)
{
    QStringList found;
    for (const auto &[path, entry] : entries)
        if (entry.uid == 0)
            found << path;
    return found;
}

enum class Layout { InHisHome, Installed, TeamTools };

// The data folder the settings beside the program choose.
enum class DataFolder {
    Default,          // his application-data folder
    HisCustom,        // a custom folder in his home
    HisCustomLinks,   // the same, where his earlier runs left links to a file of root's
    SharedColleagues, // a team's shared sticky folder, where a colleague planted a link
};

struct Row {
    const char *what;
    Layout layout;
    bool foldersBefore; // ~/.config, ~/.local/share and ~/.cache were there
    DataFolder data = DataFolder::Default;
};

constexpr const char *kRootsFile = "roots/secret";
constexpr const char *kMeterFolder = "/Stelvanor/Vantoro/data/960123";

// Makes each folder from `base` down along `below`, the account's.
bool folders(const QString &base, const QString &below, uid_t uid)
{
    QString path = base;
    for (const QString &name : below.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        if (!folder(path += QLatin1Char('/') + name, uid, uid, 0755))
            return false;
    return true;
}

bool plantLink(const QString &path, const QString &target, uid_t uid)
{
    const QByteArray name = QFile::encodeName(path);
    return ::symlink(QFile::encodeName(target).constData(), name.constData()) == 0 &&
           ::lchown(name.constData(), uid, uid) == 0;
}

// Prepares the data folder of the row in `world` and names it in the settings
// file `beside`, written as the account that owns the program's folder.
// Returns the folder the technician's own downloads go to; empty where it
// could not be prepared.
QString prepareDataFolder(DataFolder data, const QString &world, const QString &home, const QString &beside,
                          uid_t besideOwner)
{
    const QString rootsFile = world + QLatin1Char('/') + QLatin1String(kRootsFile);
    QString custom = home + QStringLiteral("/meters");
    switch (data) {
    case DataFolder::Default:
        return home + QLatin1Char('/');
    case DataFolder::HisCustom:
        if (!folder(custom, kNobody, kNobody, 0755))
            return {};
        break;
    case DataFolder::HisCustomLinks: {
        const QString meter = custom + QLatin1String(kMeterFolder);
        if (!folders(home, QStringLiteral("meters") + QLatin1String(kMeterFolder), kNobody))
            return {};
        const QString planted[] = {meter + QLatin1Char('/') + QLatin1String(kLogName),
                                   meter + QStringLiteral("/report.pdf"),
                                   custom + QStringLiteral("/Stelvanor/Vantoro/Monitor.csv")};
        for (const QString &name : planted)
            if (!plantLink(name, rootsFile, kNobody))
                return {};
        break;
    }
    case DataFolder::SharedColleagues:
        custom = world + QStringLiteral("/shared");
        if (!folder(custom, 0, 0, 01777) ||
            !plantLink(custom + QStringLiteral("/Stelvanor"), QFileInfo(rootsFile).path(), TestSupport::Daemon.uid))
            return {};
        break;
    }
    const QByteArray settings = "[Defaults]\nPathOptionIndex=4\nCustomPath=" + QFile::encodeName(custom) + "\n";
    if (!file(beside, settings, besideOwner, besideOwner, 0644))
        return {};
    return custom + QLatin1Char('/');
}

class RootWithTechniciansHome : public Technician {};

TEST_F(RootWithTechniciansHome, LeavesHisHomeAsItFoundIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run as root with another account's home";
    const Row rows[] = {
        {"his own copy in his home", Layout::InHisHome, false},
        {"his own copy in his home, his folders there before", Layout::InHisHome, true},
        {"an installed copy", Layout::Installed, false},
        {"an installed copy, his folders there before", Layout::Installed, true},
        {"a team's tools folder", Layout::TeamTools, false},
        {"a team's tools folder, his folders there before", Layout::TeamTools, true},
        {"his own copy choosing a data folder in his home", Layout::InHisHome, true, DataFolder::HisCustom},
        {"his own copy choosing a data folder in his home with his links to root's file", Layout::InHisHome, false,
         DataFolder::HisCustomLinks},
        {"an installed copy choosing a data folder in his home", Layout::Installed, false, DataFolder::HisCustom},
        {"his own copy choosing a team's shared folder with a colleague's link", Layout::InHisHome, false,
         DataFolder::SharedColleagues},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir world;
        ASSERT_TRUE(world.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(world.path()).constData(), 0755), 0);
        const QString home = world.filePath(QStringLiteral("home"));
        const QString runtime = world.filePath(QStringLiteral("run-technician"));
        const QString rootsHome = world.filePath(QStringLiteral("root"));
        ASSERT_TRUE(folder(home, kNobody, kNobody, 0755));
        ASSERT_TRUE(folder(runtime, kNobody, kNobody, 0700));
        ASSERT_TRUE(folder(rootsHome, 0, 0, 0700));
        ASSERT_TRUE(file(home + QStringLiteral("/.profile"), "export EDITOR=vi\n", kNobody, kNobody, 0644));
        if (row.foldersBefore) {
            for (const char *own : {".config", ".local", ".local/share", ".cache"})
                ASSERT_TRUE(folder(home + QLatin1Char('/') + QLatin1String(own), kNobody, kNobody, 0700));
        }
        QString beside;
        switch (row.layout) {
        case Layout::InHisHome:
            beside = home + QStringLiteral("/vantoro/vantoro.ini");
            ASSERT_TRUE(folder(home + QStringLiteral("/vantoro"), kNobody, kNobody, 0755));
            break;
        case Layout::Installed:
            beside = world.filePath(QStringLiteral("opt/vantoro/vantoro.ini"));
            ASSERT_TRUE(folder(world.filePath(QStringLiteral("opt")), 0, 0, 0755));
            ASSERT_TRUE(folder(world.filePath(QStringLiteral("opt/vantoro")), 0, 0, 0755));
            break;
        case Layout::TeamTools:
            beside = world.filePath(QStringLiteral("tools/vantoro/vantoro.ini"));
            ASSERT_TRUE(folder(world.filePath(QStringLiteral("tools")), 0, 0, 0755));
            ASSERT_TRUE(folder(world.filePath(QStringLiteral("tools/vantoro")), 0, TestSupport::TeamGroupId, 02775));
            ASSERT_TRUE(file(beside, "[Settings]\nAddress=1\n", 0, TestSupport::TeamGroupId, 0664));
            break;
        }
        const QString roots = world.filePath(QStringLiteral("roots"));
        ASSERT_TRUE(folder(roots, 0, 0, 0755));
        ASSERT_TRUE(file(world.filePath(QLatin1String(kRootsFile)), "root's own\n", 0, 0, 0644));
        const QString hisData = prepareDataFolder(row.data, world.path(), home, beside,
                                                  row.layout == Layout::InHisHome ? kNobody : 0);
        ASSERT_FALSE(hisData.isEmpty());
        const auto rootsBefore = entriesUnder(roots);
        const QString shared = world.filePath(QStringLiteral("shared"));
        const auto sharedBefore = entriesUnder(shared);
        auto homeBefore = entriesUnder(home);
        const auto runtimeBefore = entriesUnder(runtime);

        // Root's run, with the technician's home, runtime folder and no folders of its own named.
        Session rootsRun;
        {
            const TestSupport::AccountFiles accounts(rootsHome);
            const TestSupport::FreshHome technicians(home);
            qunsetenv("XDG_CACHE_HOME");
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
            prompter.messages.clear();
            rootsRun = run(beside, true);
            qunsetenv("XDG_RUNTIME_DIR");
            S::setFilePath(iniPath());
        }
        const QString rootsTree = rootsHome + QStringLiteral("/.local/share/Stelvanor/Vantoro/");
        const QString rootsData = rootsTree + QStringLiteral("data/960123/");
        EXPECT_TRUE(rootsRun.download.startsWith(rootsData)) << rootsRun.download.toStdString();
        EXPECT_TRUE(QFileInfo::exists(rootsRun.download));
        EXPECT_TRUE(QFileInfo::exists(rootsRun.report)) << rootsRun.report.toStdString();
        EXPECT_EQ(rootsRun.reportStartedIn.toStdString(), rootsData.toStdString());
        EXPECT_EQ(rootsRun.monitor.toStdString(), (rootsTree + QStringLiteral("Monitor.csv")).toStdString());
        EXPECT_TRUE(QFileInfo::exists(rootsRun.monitor));
        EXPECT_TRUE(rootsRun.opened.contains(rootsData)) << rootsRun.opened.join(QLatin1Char('|')).toStdString();
        for (const QString &opened : rootsRun.opened)
            EXPECT_TRUE(opened.startsWith(rootsTree)) << opened.toStdString();
        EXPECT_TRUE(entriesUnder(roots) == rootsBefore) << "root's file is as it was";
        EXPECT_TRUE(entriesUnder(shared) == sharedBefore) << "nothing made in the shared folder";
        EXPECT_TRUE(lockPath.startsWith(rootsHome + QStringLiteral("/.cache/"))) << lockPath.toStdString();
        // Only a team's folder sets the settings file aside, and says so.
        for (const QString &said : prompter.texts())
            EXPECT_TRUE(row.layout == Layout::TeamTools && said.startsWith(QStringLiteral("The settings file ")))
                << said.toStdString();

        const auto homeAfter = entriesUnder(home);
        EXPECT_EQ(ownedByRoot(homeAfter), QStringList()) << "nothing under his home is root's";
        EXPECT_TRUE(entriesUnder(runtime) == runtimeBefore) << "no lock of root's in his runtime folder";
        auto unchanged = homeAfter;
        if (row.layout == Layout::InHisHome) {
            // Root saved the port and address in his own copy's file, which stays his.
            ASSERT_EQ(unchanged.count(beside), 1u);
            EXPECT_EQ(unchanged[beside].uid, kNobody);
            EXPECT_EQ(S::read(Platform::IniFile(beside), S::Comport), "Com1");
            unchanged.erase(beside);
            homeBefore.erase(beside);
        }
        for (const auto &[path, entry] : homeBefore)
            EXPECT_TRUE(unchanged.count(path) && unchanged[path] == entry) << "changed: " << path.toStdString();
        for (const auto &[path, entry] : unchanged)
            EXPECT_TRUE(homeBefore.count(path)) << "made: " << path.toStdString();

        // His next run connects and downloads into his data folder. (Not where a
        // colleague's link would lead his run as well: that is no run as root.)
        if (row.data == DataFolder::SharedColleagues)
            continue;
        const auto next = TestSupport::runTestAs(
            kTechnician, QStringLiteral("TechnicianChild.ConnectsAndDownloads"),
            {{QString::fromUtf8(kWorldVariable), home + QLatin1Char('|') + runtime + QLatin1Char('|') + beside},
             {QStringLiteral("HOME"), home},
             {QStringLiteral("XDG_RUNTIME_DIR"), runtime},
             {QStringLiteral("XDG_CONFIG_HOME"), {}},
             {QStringLiteral("XDG_DATA_HOME"), {}},
             {QStringLiteral("XDG_CACHE_HOME"), {}}});
        EXPECT_EQ(next.exitCode, 0) << next.output.toStdString();
        EXPECT_TRUE(next.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << next.output.toStdString();
        EXPECT_TRUE(next.output.contains(QLatin1String(kStoredMark) + hisData)) << next.output.toStdString();
        EXPECT_EQ(ownedByRoot(entriesUnder(home)), QStringList());
        EXPECT_TRUE(entriesUnder(roots) == rootsBefore) << "root's file is as it was";
    }
}

} // namespace
