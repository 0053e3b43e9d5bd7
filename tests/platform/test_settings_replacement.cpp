// The new file a save writes beside the settings file: the user's alone until
// it is whole, then given what the old file had and renamed over it; a save
// killed at any step leaves the old or the new file whole, and the next save
// takes up or removes what it left, and nothing else, without opening a file
// of another account or reading through a folder crowded with planted names.
// A saver that goes on without another keeps what that one saved. No new
// settings file is writable by every account, whatever the umask.
#include "platform/FileUpdate.h"
#include "platform/IniFile.h"
#include "platform/PosixAcl.h"
#include "platform/SettingsFile.h"
#include "support/AclValue.h"
#include "support/AsNobody.h"
#include "support/FreshHome.h"

#include <QCoreApplication>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Platform::SaveStep;
using namespace std::chrono_literals;

constexpr uid_t kNobody = TestSupport::NobodyId;
constexpr gid_t kNogroup = TestSupport::NobodyId;
constexpr uid_t kDaemon = TestSupport::Daemon.uid;
constexpr const char *kOld = "[Defaults]\nSecret=4711\n\n[Settings]\nAddress=5\n";

const char *stepName(SaveStep step)
{
    switch (step) {
    case SaveStep::Created:
        return "created";
    case SaveStep::Written:
        return "written";
    case SaveStep::GivenOver:
        return "given over";
    case SaveStep::Renamed:
        return "renamed";
    case SaveStep::Rewritten:
        return "rewritten";
    }
    return "";
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

bool make(const QString &path, const QByteArray &bytes, uid_t uid, gid_t gid, mode_t mode)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), uid, gid) == 0 && ::chmod(name.constData(), mode) == 0;
}

bool own(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), uid, gid) == 0 && ::chmod(name.constData(), mode) == 0;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void save(const QString &path, const char *key, const char *value)
{
    Platform::IniFile(path).WriteString(QStringLiteral("Defaults"), QString::fromUtf8(key), QString::fromUtf8(value));
}

// ---------------------------------------------------------------------------
// What the new file lets, at each step of a save.

struct Seen {
    SaveStep step;
    mode_t mode;
    uid_t uid;
    gid_t gid;
    QByteArray acl;
};
std::vector<Seen> seenSteps;

void recordStep(SaveStep step, int fd)
{
    struct stat st {};
    ::fstat(fd, &st);
    QByteArray acl(256, '\0');
    const ssize_t n = ::fgetxattr(fd, Platform::Acl::Access, acl.data(), size_t(acl.size()));
    seenSteps.push_back({step, mode_t(st.st_mode & 07777), st.st_uid, st.st_gid, n > 0 ? acl.left(n) : QByteArray()});
}

struct Attributes {
    mode_t mode;
    uid_t uid;
    gid_t gid;
    QByteArray acl;
};

Attributes attributesOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return {mode_t(st.st_mode & 07777), st.st_uid, st.st_gid, TestSupport::aclOf(path)};
}

TEST(SettingsReplacement, TheNewFileIsTheUsersAloneUntilItIsWhole)
{
    const bool root = ::geteuid() == 0;
    struct Row {
        const char *what;
        bool needsRoot;
        std::function<void(const QString &folder, const QString &file)> arrange; // no file: a new one
        mode_t umask;
    };
    const Row rows[] = {
        {"the user's own private file", false,
         [](const QString &, const QString &f) { make(f, kOld, ::geteuid(), ::getegid(), 0600); }, 022},
        {"the user's own file that others may read", false,
         [](const QString &, const QString &f) { make(f, kOld, ::geteuid(), ::getegid(), 0644); }, 022},
        {"a new file, umask 000", false, [](const QString &, const QString &) {}, 0},
        {"a file whose ACL lets another account write", false,
         [](const QString &, const QString &f) {
             make(f, kOld, ::geteuid(), ::getegid(), 0660);
             TestSupport::setAcl(f, {{TestSupport::AclUserObj, 6},
                                     {TestSupport::AclUser, 6, kDaemon},
                                     {TestSupport::AclGroupObj, 4},
                                     {TestSupport::AclMask, 6},
                                     {TestSupport::AclOther, 0}});
         },
         022},
        {"the technician's private file, saved by root, umask 000", true,
         [](const QString &d, const QString &f) {
             own(d, kNobody, kNogroup, 0755);
             make(f, kOld, kNobody, kNogroup, 0600);
         },
         0},
        {"a new file in the technician's folder, saved by root", true,
         [](const QString &d, const QString &) { own(d, kNobody, kNogroup, 0755); }, 022},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.needsRoot && !root)
            continue;
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString folder = dir.filePath(QStringLiteral("program"));
        const QString file = folder + QStringLiteral("/vantoro.ini");
        ASSERT_TRUE(QDir().mkpath(folder));
        row.arrange(folder, file);
        seenSteps.clear();
        Platform::setSaveStepCall(recordStep);
        const mode_t umask = ::umask(row.umask);
        save(file, "Comport", "Com3");
        ::umask(umask);
        Platform::setSaveStepCall(nullptr);

        const Attributes final = attributesOf(file);
        ASSERT_EQ(seenSteps.size(), 4u);
        for (size_t i = 0; i < seenSteps.size(); ++i) {
            const Seen &s = seenSteps[i];
            SCOPED_TRACE(stepName(s.step));
            EXPECT_EQ(int(s.step), int(std::vector<SaveStep>{SaveStep::Created, SaveStep::Written, SaveStep::GivenOver,
                                                              SaveStep::Renamed}[i]));
            if (i < 2) {
                // Nobody but its maker and the file's owner (and root) may open it: with an
                // ACL, the group bits are its mask.
                EXPECT_EQ(s.mode & 077, 0u) << std::oct << s.mode;
                EXPECT_TRUE(s.uid == ::geteuid() || s.uid == final.uid) << s.uid;
            } else {
                EXPECT_EQ(s.mode, final.mode) << std::oct << s.mode;
                EXPECT_EQ(s.uid, final.uid);
                EXPECT_EQ(s.gid, final.gid);
                EXPECT_EQ(s.acl, final.acl);
            }
        }
        EXPECT_TRUE(bytesOf(file).contains("Comport=Com3\n"));
        EXPECT_EQ(entriesOf(folder), QStringList{QStringLiteral("vantoro.ini")});
    }
}

// A colleague opens every file that appears in the technician's folder the
// moment it appears, as root saves the technician's private file again and
// again: he never gets one open.
constexpr const char *kWatchedVariable = "VANTORO_TEST_WATCHED_FOLDER";
constexpr const char *kOpenedMark = "@@opened ";
constexpr const char *kWatchingMark = "@@watching";

TEST(SettingsReplacementChild, OpensEveryNewFile)
{
    const QByteArray folder = qgetenv(kWatchedVariable);
    if (folder.isEmpty())
        GTEST_SKIP() << "runs as a child of SettingsReplacement.AColleagueWatchingTheFolderOpensNoNewFile";
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.constData(), IN_CREATE | IN_MOVED_TO), 0);
    std::printf("%s\n", kWatchingMark);
    std::fflush(stdout);
    int events = 0, opened = 0;
    const QByteArray stop = folder + "/../stop";
    while (::access(stop.constData(), F_OK) != 0) {
        alignas(inotify_event) char buffer[4096];
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (!event->len)
                continue;
            ++events;
            const QByteArray path = folder + '/' + event->name;
            for (const int access : {O_RDWR, O_RDONLY}) {
                const int fd = ::open(path.constData(), access | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    ++opened;
                    ::close(fd);
                    break;
                }
            }
        }
    }
    std::printf("%s%d of %d\n", kOpenedMark, opened, events);
}

TEST(SettingsReplacement, AColleagueWatchingTheFolderOpensNoNewFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to save the technician's file while another account watches";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString folder = dir.filePath(QStringLiteral("program"));
    const QString file = folder + QStringLiteral("/vantoro.ini");
    ASSERT_TRUE(QDir().mkpath(folder) && own(folder, kNobody, kNogroup, 0755));
    ASSERT_TRUE(make(file, kOld, kNobody, kNogroup, 0600));
    auto watcher = TestSupport::startTestAs(TestSupport::Daemon,
                                            QStringLiteral("SettingsReplacementChild.OpensEveryNewFile"),
                                            {{QString::fromUtf8(kWatchedVariable), folder}});
    QByteArray output;
    while (!output.contains(kWatchingMark) && watcher->state() != QProcess::NotRunning) {
        watcher->waitForReadyRead(50);
        output += watcher->readAll();
    }
    const mode_t umask = ::umask(0);
    for (int i = 0; i < 150; ++i)
        save(file, "Comport", QByteArray::number(i).constData());
    ::umask(umask);
    QFile(dir.filePath(QStringLiteral("stop"))).open(QIODevice::WriteOnly);
    save(file, "Comport", "last"); // wakes the watcher once more
    const auto run = TestSupport::finishChild(*watcher);
    const QString seen = QString::fromLocal8Bit(output) + run.output;
    EXPECT_EQ(run.exitCode, 0) << seen.toStdString();
    const qsizetype at = seen.indexOf(QLatin1String(kOpenedMark));
    ASSERT_GE(at, 0) << seen.toStdString();
    const QStringList counts =
        seen.mid(at + qstrlen(kOpenedMark)).section(QLatin1Char('\n'), 0, 0).split(QStringLiteral(" of "));
    ASSERT_EQ(counts.size(), 2);
    EXPECT_EQ(counts[0].toInt(), 0) << "files the colleague opened";
    EXPECT_GE(counts[1].toInt(), 150) << "files the colleague saw appear";
    EXPECT_EQ(attributesOf(file).mode, 0600u);
    EXPECT_EQ(attributesOf(file).uid, kNobody);
}

// ---------------------------------------------------------------------------
// A save killed at a step, and the next save.

constexpr const char *kKillVariable = "VANTORO_TEST_KILLED_SAVE"; // "<file>|<step>"
int killAt = -1;

TEST(SettingsReplacementChild, SavesAndIsKilled)
{
    const QStringList world = qEnvironmentVariable(kKillVariable).split(QLatin1Char('|'));
    if (world.size() != 2)
        GTEST_SKIP() << "runs as a child of SettingsReplacement.AKilledSaveLeavesAWholeFileAndTheNextSaveNoLeftovers";
    killAt = world[1].toInt();
    Platform::setSaveStepCall(+[](SaveStep step, int) {
        if (int(step) == killAt)
            ::raise(SIGKILL);
    });
    save(world[0], "Comport", "Com9");
    EXPECT_LT(killAt, 0) << "the save came to its end";
}

TEST(SettingsReplacement, AKilledSaveLeavesAWholeFileAndTheNextSaveNoLeftovers)
{
    const bool root = ::geteuid() == 0;
    const QByteArray saved = "[Defaults]\nSecret=4711\nComport=Com9\n\n[Settings]\nAddress=5\n";
    // Shorter once saved, so that a rewrite in place must cut the file.
    const QByteArray longer =
        "[Defaults]\nSecret=4711\nComport=/dev/serial/by-id/usb-adapter\n\n[Settings]\nAddress=5\n";
    struct Row {
        SaveStep step;
        bool newFile;
        bool inPlace; // nobody saves root's shared copy in a folder it may not write
    };
    const Row rows[] = {
        {SaveStep::Created, false, false}, {SaveStep::Written, false, false}, {SaveStep::GivenOver, false, false},
        {SaveStep::Renamed, false, false}, {SaveStep::Created, true, false},  {SaveStep::Written, true, false},
        {SaveStep::GivenOver, true, false}, {SaveStep::Rewritten, false, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(stepName(row.step)) + (row.newFile ? ", a new file" : "") +
                     (row.inPlace ? ", rewritten in place" : ""));
        if (row.inPlace && !root)
            continue;
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        const QString folder = dir.filePath(QStringLiteral("program"));
        const QString file = folder + QStringLiteral("/vantoro.ini");
        ASSERT_TRUE(QDir().mkpath(folder));
        if (!row.newFile) {
            ASSERT_TRUE(make(file, row.inPlace ? longer : QByteArray(kOld), ::geteuid(), ::getegid(),
                             row.inPlace ? 0666 : 0644));
        }
        const TestSupport::EnvironmentChanges env{
            {QString::fromUtf8(kKillVariable), file + QLatin1Char('|') + QString::number(int(row.step))}};
        const QString child = QStringLiteral("SettingsReplacementChild.SavesAndIsKilled");
        const auto run = row.inPlace ? TestSupport::runTestAsNobody(child, env)
                                     : TestSupport::runChildTest(child, TestSupport::changedEnvironment(
                                                                            QProcessEnvironment::systemEnvironment(),
                                                                            env));
        EXPECT_EQ(run.exitCode, -1) << "killed: " << run.output.toStdString();

        const QByteArray after = bytesOf(file);
        const bool renamed = row.step == SaveStep::Renamed || row.step == SaveStep::Rewritten;
        const QByteArray whole = renamed ? saved : row.newFile ? QByteArray("(missing)") : QByteArray(kOld);
        // Killed before the cut, a shorter rewrite ends in line breaks, which change no key.
        EXPECT_EQ(row.inPlace ? after.left(whole.size()) : after, whole);
        EXPECT_EQ(after.mid(whole.size()), QByteArray(std::max<qsizetype>(after.size() - whole.size(), 0), '\n'));

        if (row.inPlace) {
            const auto next =
                TestSupport::runTestAsNobody(child, {{QString::fromUtf8(kKillVariable), file + QStringLiteral("|-1")}});
            EXPECT_EQ(next.exitCode, 0) << next.output.toStdString();
        } else {
            save(file, "Comport", "Com9");
        }
        const QByteArray last = row.newFile ? QByteArray("[Defaults]\nComport=Com9\n") : saved;
        EXPECT_EQ(bytesOf(file).left(last.size()), last);
        EXPECT_EQ(entriesOf(folder), QStringList{QStringLiteral("vantoro.ini")}) << "nothing left behind";
    }
}

// What saves of an earlier kind left (a name of their own beside the file)
// goes with the next save; nothing else does, and no link is followed.
TEST(SettingsReplacement, TheNextSaveRemovesOnlyWhatEarlierSavesLeft)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("program"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const auto at = [&](const char *name) { return folder + QLatin1Char('/') + QString::fromUtf8(name); };
    const uid_t me = ::geteuid();
    const gid_t myGroup = ::getegid();
    ASSERT_TRUE(make(at("vantoro.ini"), kOld, me, myGroup, 0644));
    ASSERT_TRUE(make(at(".vantoro.ini.2849173"), "[Defaults]\nCust", me, myGroup, 0644));
    ASSERT_TRUE(make(dir.filePath(QStringLiteral("victim")), "mine", me, myGroup, 0644));
    ASSERT_EQ(::symlink("../victim", QFile::encodeName(at(".vantoro.ini.71")).constData()), 0);
    ASSERT_EQ(::link(QFile::encodeName(dir.filePath(QStringLiteral("victim"))).constData(),
                     QFile::encodeName(at(".vantoro.ini.72")).constData()),
              0);
    ASSERT_TRUE(make(at(".vantoro.ini.notours"), "x", me, myGroup, 0644));
    ASSERT_TRUE(make(at(".other.ini.5"), "x", me, myGroup, 0644));
    // One that a save of another program is writing now: it holds the file's lock.
    ASSERT_TRUE(make(at(".vantoro.ini.90"), "x", me, myGroup, 0644));
    const int writing = ::open(QFile::encodeName(at(".vantoro.ini.90")).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writing, LOCK_EX), 0);
    QStringList kept{".other.ini.5", ".vantoro.ini.71", ".vantoro.ini.72", ".vantoro.ini.90", ".vantoro.ini.notours",
                     "vantoro.ini"};
    if (me == 0) {
        ASSERT_TRUE(make(at(".vantoro.ini.73"), "x", kDaemon, kDaemon, 0644)); // another account's
        kept << ".vantoro.ini.73";
    }
    kept.sort();

    save(at("vantoro.ini"), "Comport", "Com4");
    ::close(writing);
    EXPECT_EQ(entriesOf(folder), kept);
    EXPECT_EQ(bytesOf(dir.filePath(QStringLiteral("victim"))), "mine");
}

// Names of leftovers that another account planted in a folder it may write
// (sticky, as /tmp): a save looks at no more than a few of them, by the
// folder's listing alone, opens none and takes hardly longer than in a folder
// without them.
using Microseconds = std::chrono::microseconds;

// The fastest of a few saves of each file, taken by turns, so that what else
// the machine does weighs on both alike.
std::pair<Microseconds, Microseconds> fastestSavesByTurns(const QString &first, const QString &second)
{
    std::pair<Microseconds, Microseconds> fastest{Microseconds::max(), Microseconds::max()};
    const auto timeSave = [](const QString &file, int i, Microseconds &best) {
        const auto start = std::chrono::steady_clock::now();
        save(file, "Comport", QByteArray::number(i).constData());
        best = std::min(best, std::chrono::duration_cast<Microseconds>(std::chrono::steady_clock::now() - start));
    };
    for (int i = 0; i < 5; ++i) {
        timeSave(first, i, fastest.first);
        timeSave(second, i, fastest.second);
    }
    return fastest;
}

bool isPlantedName(const char *name) { return std::strncmp(name, ".vantoro.ini.1", 14) == 0; }

// The planted files that were opened, as the folder's watch reports them;
// -1 when the watch lost count.
int plantedOpened(int watch)
{
    int opened = 0;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW)
                return -1;
            opened += event->len && isPlantedName(event->name);
        }
    }
    return opened;
}

int plantedStanding(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    int count = 0;
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr)
        count += isPlantedName(entry->d_name);
    if (dir)
        ::closedir(dir);
    return count;
}

TEST(SettingsReplacement, PlantedLeftoverNamesNeitherSlowASaveNorAreOpened)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant files of another account";
    constexpr int kPlanted = 100000;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    QStringList files;
    for (const QString &name : {QStringLiteral("clean"), QStringLiteral("planted")}) {
        const QString folder = dir.filePath(name);
        ASSERT_TRUE(QDir().mkpath(folder) && own(folder, 0, 0, 01777));
        files << folder + QStringLiteral("/vantoro.ini");
        ASSERT_TRUE(make(files.back(), kOld, 0, 0, 0644));
    }
    const QString folder = dir.filePath(QStringLiteral("planted"));
    const int listing = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(listing, 0);
    const auto plantedName = [](int i) { return ".vantoro.ini." + std::to_string(1000000 + i); };
    for (int i = 0; i < kPlanted; ++i) {
        const int fd = ::openat(listing, plantedName(i).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << plantedName(i);
        ASSERT_EQ(::fchown(fd, kDaemon, kDaemon), 0);
        ::close(fd);
    }
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_OPEN), 0);
    const auto [without, with] = fastestSavesByTurns(files[0], files[1]);
    const int opened = plantedOpened(watch);
    ::close(watch);

    EXPECT_LT((with - without).count(), 50000) << "microseconds longer than without them";
    EXPECT_EQ(opened, 0) << "planted files opened (-1: too many to count)";
    EXPECT_EQ(plantedStanding(folder), kPlanted) << "another account's files stay";
    EXPECT_TRUE(bytesOf(files[1]).contains("Comport=4\n"));
    // Removed by name, far quicker than the temporary folder's own clean-up.
    for (int i = 0; i < kPlanted; ++i)
        ::unlinkat(listing, plantedName(i).c_str(), 0);
    ::close(listing);
}

// Under umask 000 a plain new file would be writable by every account: a new
// settings file is not, nor is the per-user copy, which is its owner's alone.
// Another account tries to open each for writing.
constexpr const char *kNotToWriteVariable = "VANTORO_TEST_FILES_NOT_TO_WRITE"; // paths joined by '|'

TEST(SettingsReplacementChild, WritesNoneOfTheFiles)
{
    const QString paths = qEnvironmentVariable(kNotToWriteVariable);
    if (paths.isEmpty())
        GTEST_SKIP() << "runs as a child of SettingsReplacement.NoNewSettingsFileIsWritableByEveryAccount";
    for (const QString &path : paths.split(QLatin1Char('|'))) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            EXPECT_EQ(errno, EACCES) << path.toStdString();
        } else {
            ADD_FAILURE() << "opened for writing: " << path.toStdString();
            ::close(fd);
        }
    }
}

TEST(SettingsReplacement, NoNewSettingsFileIsWritableByEveryAccount)
{
    const bool root = ::geteuid() == 0;
    QCoreApplication::setOrganizationName(QStringLiteral("Stelvanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantoro"));
    const auto saveBeside = [](const QString &file) {
        save(file, "Comport", "Com3");
        return file;
    };
    // The file beside may not be written, to root either: the per-user copy takes its place.
    const auto savePerUserCopy = [](const QString &file) {
        make(file, kOld, ::geteuid(), ::getegid(), 0444);
        const TestSupport::FreshHome home(QFileInfo(QFileInfo(file).path()).path() + QStringLiteral("/home"));
        Platform::Settings::setFilePath(file);
        Platform::IniFile settings = Platform::Settings::open();
        Platform::Settings::write(settings, Platform::Settings::Comport, QStringLiteral("Com3"));
        Platform::Settings::setFilePath({});
        return Platform::Settings::userCopyPathFor(file);
    };
    struct Row {
        const char *what;
        bool needsRoot;
        std::function<void(const QString &folder)> arrange;
        std::function<QString(const QString &file)> save; // the path of the file made
        mode_t mode;
    };
    const Row rows[] = {
        {"a new file beside the program", false, [](const QString &) {}, saveBeside, 0664},
        {"a folder whose default ACL lets every account write",
         false,
         [](const QString &folder) {
             const QByteArray acl = TestSupport::aclValue(
                 {{TestSupport::AclUserObj, 7}, {TestSupport::AclGroupObj, 7}, {TestSupport::AclOther, 7}});
             EXPECT_EQ(::setxattr(QFile::encodeName(folder).constData(), Platform::Acl::Default, acl.constData(),
                                  size_t(acl.size()), 0),
                       0);
         },
         saveBeside, 0664},
        {"root's new file in the technician's folder", true,
         [](const QString &folder) { own(folder, kNobody, kNogroup, 0755); }, saveBeside, 0664},
        {"the per-user copy", false, [](const QString &) {}, savePerUserCopy, 0600},
    };
    std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    QStringList made;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.needsRoot && !root)
            continue;
        dirs.push_back(std::make_unique<QTemporaryDir>());
        ASSERT_TRUE(dirs.back()->isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(dirs.back()->path()).constData(), 0755), 0);
        const QString folder = dirs.back()->filePath(QStringLiteral("program"));
        ASSERT_TRUE(QDir().mkpath(folder));
        row.arrange(folder);
        const mode_t umask = ::umask(0);
        const QString path = row.save(folder + QStringLiteral("/vantoro.ini"));
        ::umask(umask);
        EXPECT_TRUE(bytesOf(path).contains("Comport=Com3\n"));
        EXPECT_EQ(attributesOf(path).mode, row.mode) << std::oct << attributesOf(path).mode;
        EXPECT_EQ(TestSupport::aclOf(path), QByteArray()) << "no ACL lets more";
        made << path;
    }
    if (!root)
        return;
    const auto run = TestSupport::runTestAs(TestSupport::Daemon, QStringLiteral("SettingsReplacementChild.WritesNoneOfTheFiles"),
                                            {{QString::fromUtf8(kNotToWriteVariable), made.join(QLatin1Char('|'))}});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << run.output.toStdString();
}

// ---------------------------------------------------------------------------
// A saver that stopped in the middle of its save, holding the new file, and
// one that goes on without it.

constexpr const char *kPausedVariable = "VANTORO_TEST_PAUSED_SAVE"; // "<file>|<go file>"
constexpr const char *kPausedMark = "@@paused";
QByteArray goFile;

TEST(SettingsReplacementChild, SavesAndPausesBeforeTheRename)
{
    const QStringList world = qEnvironmentVariable(kPausedVariable).split(QLatin1Char('|'));
    if (world.size() != 2)
        GTEST_SKIP() << "runs as a child of SettingsReplacement.ASaverThatGoesOnWithoutTheOtherKeepsWhatItSaved";
    goFile = QFile::encodeName(world[1]);
    Platform::setSaveStepCall(+[](SaveStep step, int) {
        if (step != SaveStep::GivenOver)
            return;
        std::printf("%s\n", kPausedMark);
        std::fflush(stdout);
        while (::access(goFile.constData(), F_OK) != 0)
            ::usleep(1000);
    });
    save(world[0], "First", "1");
}

TEST(SettingsReplacement, ASaverThatGoesOnWithoutTheOtherKeepsWhatItSaved)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("vantoro.ini"));
    const QString go = dir.filePath(QStringLiteral("go"));
    ASSERT_TRUE(make(file, kOld, ::geteuid(), ::getegid(), 0644));
    const QString world = file + QLatin1Char('|') + go;
    auto first = TestSupport::startChildTest(
        QStringLiteral("SettingsReplacementChild.SavesAndPausesBeforeTheRename"),
        TestSupport::changedEnvironment(QProcessEnvironment::systemEnvironment(),
                                        {{QString::fromUtf8(kPausedVariable), world}}));
    QByteArray output;
    while (!output.contains(kPausedMark) && first->state() != QProcess::NotRunning) {
        first->waitForReadyRead(50);
        output += first->readAll();
    }
    ASSERT_TRUE(output.contains(kPausedMark)) << output.toStdString();

    Platform::setLockWait(200ms);
    QElapsedTimer clock;
    clock.start();
    save(file, "Second", "2");
    const qint64 took = clock.elapsed();
    Platform::setLockWait(2000ms);
    EXPECT_GE(took, 150) << "it waited for the other saver";
    EXPECT_LT(took, 1200) << "and no longer than its bound";
    EXPECT_TRUE(bytesOf(file).contains("Second=2\n"));

    QFile(go).open(QIODevice::WriteOnly);
    const auto run = TestSupport::finishChild(*first);
    EXPECT_EQ(run.exitCode, 0) << output.toStdString() << run.output.toStdString();
    const QByteArray last = bytesOf(file);
    EXPECT_TRUE(last.contains("First=1\n")) << last.toStdString();
    EXPECT_TRUE(last.contains("Second=2\n")) << last.toStdString();
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{QStringLiteral("go"), QStringLiteral("vantoro.ini")}));
}

} // namespace
