// Where the settings file lives: beside the executable while that file can be
// replaced whole (through a link, where the link leads), else a per-user copy
// under the config home, for an ordinary user and for root, with the earlier
// file left as it was; once made, the copy stays the settings file.
#include "platform/SettingsFile.h"
#include "support/AsNobody.h"
#include "support/FreshHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace S = Platform::Settings;

constexpr const char *kBesideVariable = "VANTORO_TEST_SETTINGS_BESIDE";
constexpr const char *kSavedVariable = "VANTORO_TEST_SETTINGS_SAVED";
constexpr const char *kResultMark = "@@result ";

// What a session saw: the refusal's text (empty when the save went through)
// and the port and address read back afterwards, as std::string so that a
// failure prints them readably.
struct Outcome {
    std::string refused;
    std::string comport;
    int address = 0;
    std::string line() const { return refused + '|' + comport + '|' + std::to_string(address); }
};

void useProgramNames()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Stelvanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantoro"));
}

// What a session saves: the port and the address.
struct Saved {
    std::string comport;
    int address;
};
const Saved kFirst{"Com7", 23};
const Saved kSecond{"Com8", 24};

// As the start-up window's Connect does: saves the port and the address, then
// reads them back as the next start would.
Outcome saveThenRead(const QString &beside, const Saved &saved)
{
    useProgramNames();
    S::setFilePath(beside);
    Outcome outcome;
    try {
        Platform::IniFile file = S::open();
        S::write(file, S::Comport, QString::fromStdString(saved.comport));
        S::write(file, S::Address, saved.address);
    } catch (const std::runtime_error &e) {
        outcome.refused = e.what();
    }
    const Platform::IniFile file = S::open();
    outcome.comport = S::read(file, S::Comport).toStdString();
    outcome.address = S::read(file, S::Address);
    S::setFilePath({});
    return outcome;
}

// The session of the ordinary user, run by the table below.
TEST(SettingsLocationChild, SavesAndReadsBack)
{
    const QString beside = qEnvironmentVariable(kBesideVariable);
    if (beside.isEmpty())
        GTEST_SKIP() << "runs as the child of SettingsLocation.WhichFileHoldsTheSavedPortAndAddress";
    const QStringList saved = qEnvironmentVariable(kSavedVariable).split(QLatin1Char('|'));
    ASSERT_EQ(saved.size(), 2);
    std::cout << kResultMark << saveThenRead(beside, {saved[0].toStdString(), saved[1].toInt()}).line() << std::endl;
}

enum class Holder { Beside, UserCopy, Neither };

// Where the file a link beside the executable leads to lies: a folder of its
// own, which the user may write, may not write, or may write but which is
// sticky (as /tmp), so that only a file's owner may replace it.
enum class Shared { NoLink, Writable, ReadOnly, Sticky };

struct Case {
    const char *what;
    bool asRoot;
    bool folderWritable; // by the user who saves
    const char *earlier; // the file beside the executable before (or the link's target); nullptr: none
    bool earlierWritable;
    bool configWritable;
    Holder holder;
    Shared shared = Shared::NoLink; // else the file beside is a link to the earlier file in the shared folder
    // After the first save the program folder and its file become the
    // user's; a second save follows.
    bool thenWritable = false;
};

constexpr const char *kMissing = "(no file)";

std::string contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : kMissing;
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool setMode(const QString &path, mode_t mode) { return ::chmod(QFile::encodeName(path).constData(), mode) == 0; }

// One case's folders: the executable's folder, the config home and the
// folder a link leads to, the saving user owning what is writable to it.
class Layout {
public:
    QTemporaryDir dir;
    QString program() const { return dir.filePath(QStringLiteral("program")); }
    QString config() const { return dir.filePath(QStringLiteral("config")); }
    QString shared() const { return dir.filePath(QStringLiteral("shared")); }
    QString beside() const { return program() + QStringLiteral("/vantoro.ini"); }
    QString target() const { return shared() + QStringLiteral("/vantoro.ini"); }
    QString userCopy() const { return config() + QStringLiteral("/Stelvanor/Vantoro/vantoro.ini"); }
    // Where the earlier file lies: beside the executable, or where its link leads.
    QString earlierFile(const Case &c) const { return c.shared == Shared::NoLink ? beside() : target(); }

    void prepare(const Case &c)
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(program()) && QDir().mkpath(config()) && QDir().mkpath(shared()));
        ASSERT_TRUE(setMode(dir.path(), 0755));
        if (c.earlier) {
            QFile f(earlierFile(c));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.earlier);
        }
        if (c.shared != Shared::NoLink) {
            // Relative, as a link an administrator makes beside an installed program.
            ASSERT_TRUE(QFile::link(QStringLiteral("../shared/vantoro.ini"), beside()));
        }
        ASSERT_TRUE(grant(c, program(), c.folderWritable, 0755, 0755));
        if (c.earlier && c.shared == Shared::NoLink) {
            ASSERT_TRUE(grant(c, beside(), c.earlierWritable, 0644, 0444));
        }
        if (c.earlier && c.shared != Shared::NoLink) {
            // An administrator's copy: root's, and writable by everyone where it may be written.
            ASSERT_TRUE(setMode(target(), c.earlierWritable ? 0666 : 0444));
        }
        if (c.shared == Shared::Writable) {
            ASSERT_TRUE(grant(c, shared(), true, 0755, 0755));
        }
        ASSERT_TRUE(setMode(shared(), c.shared == Shared::Sticky ? 01777 : 0755));
        if (c.asRoot && !c.configWritable) {
            // Root may write any folder: a file stands where the copy's folder should go.
            QFile blocker(config() + QStringLiteral("/Stelvanor"));
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        }
        ASSERT_TRUE(grant(c, config(), c.configWritable, 0755, 0755));
    }

    // The program folder and the file beside it become the user's to write.
    void makeProgramWritable(const Case &c)
    {
        ASSERT_TRUE(grant(c, program(), true, 0755, 0755));
        if (c.earlier) {
            ASSERT_TRUE(grant(c, earlierFile(c), true, 0644, 0644));
        }
    }

    Outcome run(const Case &c, const Saved &saved) const
    {
        if (c.asRoot) {
            const TestSupport::FreshHome home(dir.filePath(QStringLiteral("root")));
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config()));
            return saveThenRead(beside(), saved);
        }
        const auto child = TestSupport::runTestAsNobody(
            QStringLiteral("SettingsLocationChild.SavesAndReadsBack"),
            {{QString::fromUtf8(kBesideVariable), beside()},
             {QString::fromUtf8(kSavedVariable),
              QString::fromStdString(saved.comport) + QLatin1Char('|') + QString::number(saved.address)},
             {QStringLiteral("XDG_CONFIG_HOME"), config()}});
        EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
        Outcome outcome;
        for (const QString &line : child.output.split(QLatin1Char('\n'))) {
            if (!line.startsWith(QLatin1String(kResultMark)))
                continue;
            const QStringList parts = line.mid(int(qstrlen(kResultMark))).split(QLatin1Char('|'));
            if (parts.size() == 3)
                outcome = {parts[0].toStdString(), parts[1].toStdString(), parts[2].toInt()};
        }
        return outcome;
    }

private:
    // What root keeps is read-only to nobody; root itself is held back by mode bits only.
    static bool grant(const Case &c, const QString &path, bool writable, mode_t writableMode, mode_t readOnlyMode)
    {
        const mode_t mode = writable ? writableMode : readOnlyMode;
        return !c.asRoot && writable ? TestSupport::giveToNobody(path, mode) : setMode(path, mode);
    }
};

// The file a save to `holder` wrote, read as the next start reads it.
void expectHeld(const Platform::IniFile &held, const Saved &saved, const Case &c)
{
    EXPECT_EQ(S::read(held, S::Comport).toStdString(), saved.comport);
    EXPECT_EQ(S::read(held, S::Address), saved.address);
    // The rest of the earlier file went along.
    EXPECT_EQ(S::read(held, S::CustomPath).toStdString(), c.earlier ? "/srv/meters" : "");
}

TEST(SettingsLocation, WhichFileHoldsTheSavedPortAndAddress)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to build folders for another user";
    const char *kEarlier = "; by hand\n[Defaults]\nCustomPath=/srv/meters\n\n[Settings]\nAddress=5\n";
    using Sh = Shared;
    const Case cases[] = {
        {"writable folder", false, true, kEarlier, true, true, Holder::Beside},
        {"writable folder, no file yet", false, true, nullptr, true, true, Holder::Beside},
        {"read-only folder, no file", false, false, nullptr, false, true, Holder::UserCopy},
        // The file could be rewritten in place, but not replaced whole.
        {"read-only folder, writable file", false, false, kEarlier, true, true, Holder::UserCopy},
        {"read-only folder, read-only file", false, false, kEarlier, false, true, Holder::UserCopy},
        {"read-only file in a writable folder", false, true, kEarlier, false, true, Holder::UserCopy},
        {"read-only file, root", true, true, kEarlier, false, true, Holder::UserCopy},
        {"per-user folder unwritable too", false, false, kEarlier, false, false, Holder::Neither},
        {"per-user folder unwritable too, root", true, true, kEarlier, false, false, Holder::Neither},
        // A link: the folder and mode of the file it leads to decide; a save writes through it.
        {"link to a writable file in a writable folder", false, true, kEarlier, true, true, Holder::Beside,
         Sh::Writable},
        {"link in a read-only folder to a writable file", false, false, kEarlier, true, true, Holder::Beside,
         Sh::Writable},
        {"link in a read-only folder to a writable file not made yet", false, false, nullptr, true, true,
         Holder::Beside, Sh::Writable},
        // An administrator's shared copy: rewritten in place, as no new file may take its place.
        {"link to a writable file in a read-only folder", false, true, kEarlier, true, true, Holder::Beside,
         Sh::ReadOnly},
        {"link to a read-only file in a writable folder", false, true, kEarlier, false, true, Holder::UserCopy,
         Sh::Writable},
        {"link to another user's writable file in a sticky folder", false, true, kEarlier, true, true,
         Holder::Beside, Sh::Sticky},
        // Once made, the per-user copy holds the latest settings.
        {"per-user copy in use, then the file beside becomes writable", false, false, kEarlier, false, true,
         Holder::UserCopy, Sh::NoLink, true},
        {"per-user copy in use, then a link's target becomes writable", false, false, kEarlier, false, true,
         Holder::UserCopy, Sh::Writable, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Layout world;
        world.prepare(c);
        const mode_t earlierMode = modeOf(world.beside());
        const Outcome outcome = world.run(c, kFirst);

        const bool refused = c.holder == Holder::Neither;
        EXPECT_EQ(outcome.refused, refused ? "Unable to write to " + world.userCopy().toStdString() : "");
        // Read back as the next start would: what was saved, or the earlier file.
        EXPECT_EQ(outcome.comport, refused ? "" : kFirst.comport);
        EXPECT_EQ(outcome.address, refused ? 5 : kFirst.address);

        if (!refused) {
            expectHeld(Platform::IniFile(c.holder == Holder::Beside ? world.beside() : world.userCopy()), kFirst, c);
        }
        if (c.thenWritable) {
            world.makeProgramWritable(c);
            const Outcome second = world.run(c, kSecond);
            EXPECT_EQ(second.line(), "|" + kSecond.comport + "|" + std::to_string(kSecond.address));
            expectHeld(Platform::IniFile(world.userCopy()), kSecond, c);
        }
        if (c.holder != Holder::Beside) {
            EXPECT_EQ(contents(world.beside()), c.earlier ? c.earlier : kMissing);
            if (!c.thenWritable) {
                EXPECT_EQ(modeOf(world.beside()), earlierMode);
            }
            EXPECT_EQ(QDir(world.program()).entryList(QDir::Files),
                      c.earlier || c.shared != Shared::NoLink ? QStringList{"vantoro.ini"} : QStringList{})
                << "no file left behind";
        }
        if (c.holder != Holder::UserCopy) {
            EXPECT_FALSE(QFileInfo::exists(world.userCopy()));
        }
        if (c.shared != Shared::NoLink) {
            EXPECT_TRUE(QFileInfo(world.beside()).isSymLink()) << "the link was replaced by a file";
            EXPECT_EQ(QDir(world.shared()).entryList(QDir::Files | QDir::Hidden),
                      c.earlier || c.holder == Holder::Beside ? QStringList{"vantoro.ini"} : QStringList{})
                << "no file left behind where the link leads";
        }
    }
}

TEST(SettingsFilePath, TheUserCopyIsNamedAfterTheCompanyAndTheTitle)
{
    useProgramNames();
    const TestSupport::FreshHome home(QStringLiteral("/home/tech"));
    EXPECT_EQ(S::userCopyPathFor("/opt/v/vantoro.ini"), "/home/tech/.config/Stelvanor/Vantoro/vantoro.ini");
    qputenv("XDG_CONFIG_HOME", "/home/tech/.cfg");
    EXPECT_EQ(S::userCopyPathFor("/opt/v/vantoro.ini"), "/home/tech/.cfg/Stelvanor/Vantoro/vantoro.ini");
}

} // namespace
