// Where the settings file lives: beside the executable while that file can be
// written, else a per-user copy under the config home, for an ordinary user
// and for root, with the earlier file left as it was.
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

// As the start-up window's Connect does: saves the port and the address, then
// reads them back as the next start would.
Outcome saveThenRead(const QString &beside)
{
    useProgramNames();
    S::setFilePath(beside);
    Outcome outcome;
    try {
        Platform::IniFile file = S::open();
        S::write(file, S::Comport, QStringLiteral("Com7"));
        S::write(file, S::Address, 23);
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
    std::cout << kResultMark << saveThenRead(beside).line() << std::endl;
}

enum class Holder { Beside, UserCopy, Neither };

struct Case {
    const char *what;
    bool asRoot;
    bool folderWritable; // by the user who saves
    const char *earlier; // the file beside the executable before; nullptr: none
    bool earlierWritable;
    bool configWritable;
    Holder holder;
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

// One case's folders: the executable's folder and the config home, the
// saving user owning what is writable to it.
class Layout {
public:
    QTemporaryDir dir;
    QString program() const { return dir.filePath(QStringLiteral("program")); }
    QString config() const { return dir.filePath(QStringLiteral("config")); }
    QString beside() const { return program() + QStringLiteral("/vantoro.ini"); }
    QString userCopy() const { return config() + QStringLiteral("/Stelvanor/Vantoro/vantoro.ini"); }

    void prepare(const Case &c)
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(program()) && QDir().mkpath(config()));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        if (c.earlier) {
            QFile f(beside());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.earlier);
        }
        // What root keeps is read-only to nobody; root itself is held back by mode bits only.
        const auto grant = [&c](const QString &path, bool writable, mode_t writableMode, mode_t readOnlyMode) {
            const mode_t mode = writable ? writableMode : readOnlyMode;
            return !c.asRoot && writable ? TestSupport::giveToNobody(path, mode)
                                         : ::chmod(QFile::encodeName(path).constData(), mode) == 0;
        };
        ASSERT_TRUE(grant(program(), c.folderWritable, 0755, 0755));
        if (c.earlier) {
            ASSERT_TRUE(grant(beside(), c.earlierWritable, 0644, 0444));
        }
        if (c.asRoot && !c.configWritable) {
            // Root may write any folder: a file stands where the copy's folder should go.
            QFile blocker(config() + QStringLiteral("/Stelvanor"));
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        }
        ASSERT_TRUE(grant(config(), c.configWritable, 0755, 0755));
    }

    Outcome run(const Case &c) const
    {
        if (c.asRoot) {
            const TestSupport::FreshHome home(dir.filePath(QStringLiteral("root")));
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config()));
            return saveThenRead(beside());
        }
        const auto child = TestSupport::runTestAsNobody(QStringLiteral("SettingsLocationChild.SavesAndReadsBack"),
                                                        {{QString::fromUtf8(kBesideVariable), beside()},
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
};

TEST(SettingsLocation, WhichFileHoldsTheSavedPortAndAddress)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to build folders for another user";
    const char *kEarlier = "; by hand\n[Defaults]\nCustomPath=/srv/meters\n\n[Settings]\nAddress=5\n";
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
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Layout world;
        world.prepare(c);
        const mode_t earlierMode = modeOf(world.beside());
        const Outcome outcome = world.run(c);

        const bool refused = c.holder == Holder::Neither;
        EXPECT_EQ(outcome.refused, refused ? "Unable to write to " + world.userCopy().toStdString() : "");
        // Read back as the next start would: what was saved, or the earlier file.
        EXPECT_EQ(outcome.comport, refused ? "" : "Com7");
        EXPECT_EQ(outcome.address, refused ? 5 : 23);

        if (!refused) {
            const Platform::IniFile held(c.holder == Holder::Beside ? world.beside() : world.userCopy());
            EXPECT_EQ(S::read(held, S::Comport).toStdString(), "Com7");
            EXPECT_EQ(S::read(held, S::Address), 23);
            // The rest of the earlier file went along.
            EXPECT_EQ(S::read(held, S::CustomPath).toStdString(), c.earlier ? "/srv/meters" : "");
        }
        if (c.holder != Holder::Beside) {
            EXPECT_EQ(contents(world.beside()), c.earlier ? c.earlier : kMissing);
            EXPECT_EQ(modeOf(world.beside()), earlierMode);
            EXPECT_EQ(QDir(world.program()).entryList(QDir::Files),
                      c.earlier ? QStringList{"vantoro.ini"} : QStringList{})
                << "no file left behind";
        }
        if (c.holder != Holder::UserCopy) {
            EXPECT_FALSE(QFileInfo::exists(world.userCopy()));
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
