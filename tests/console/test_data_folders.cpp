// The data folder tree and its failure texts.
#include "console/ConsoleFixture.h"
#include "console/DataFolders.h"
#include "support/AccountFiles.h"
#include "support/AsNobody.h"
#include "support/FreshHome.h"
#include "support/TreeEntries.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace Console;
using TestSupport::entriesUnder;

namespace {

class DataFolders : public TestSupport::ConsoleTest {};

TEST_F(DataFolders, EachChoiceBuildsTheTreeUnderItsBase)
{
    const QString custom = dir.filePath("custom");
    QDir().mkpath(custom);
    for (int choice = 0; choice <= 4; ++choice) {
        const QString base = choice == 4 ? custom : known(choice);
        EXPECT_EQ(DataBaseFolder(choice, custom), base);
        const QString root = CreateDataRoot(choice, custom);
        EXPECT_EQ(root, base + "/Stelvanor/Vantoro/") << choice;
        EXPECT_TRUE(QFileInfo(root + "data").isDir()) << choice;
        EXPECT_EQ(DataFolderOf(root), root + "data/");
        // A second run finds everything in place.
        EXPECT_EQ(CreateDataRoot(choice, custom), root);
    }
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(DataFolders, ChoicesWithoutABaseGiveAnEmptyOne)
{
    for (int choice : {-1, 5, 7})
        EXPECT_EQ(DataBaseFolder(choice, dir.path()), "") << choice;
    EXPECT_EQ(DataBaseFolder(4, ""), "");
    Platform::setKnownFolderOverride(3, "");
    EXPECT_EQ(DataBaseFolder(3, dir.path()), "");
}

TEST_F(DataFolders, FailuresAreReportedLevelByLevel)
{
    struct Case {
        const char *name;
        std::function<QString()> base; // prepares and returns the base folder
        int messages;
    };
    const Case cases[] = {
        {"missing base", [&] { return dir.filePath("gone"); }, 2},
        {"maker name taken by a file",
         [&] {
             const QString b = dir.filePath("file-maker");
             QDir().mkpath(b);
             QFile(b + "/Stelvanor").open(QIODevice::WriteOnly);
             return b;
         },
         2},
        {"title name taken by a file",
         [&] {
             const QString b = dir.filePath("file-title");
             QDir().mkpath(b + "/Stelvanor");
             QFile(b + "/Stelvanor/Vantoro").open(QIODevice::WriteOnly);
             return b;
         },
         1},
    };
    for (const auto &c : cases) {
        prompter.messages.clear();
        const QString base = c.base();
        try {
            CreateDataRoot(4, base);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), "Cannot create data directory.") << c.name;
        }
        ASSERT_EQ(prompter.messages.size(), size_t(c.messages)) << c.name;
        for (const auto &m : prompter.messages) {
            EXPECT_EQ(m.text, "unable to create directory");
            EXPECT_EQ(m.caption, "Vantoro");
        }
    }
}

QFile::Permissions ownerOnly()
{
    return QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser |
           QFile::ExeUser;
}

// A new account has none of its own folders yet: the one chosen is made
// owner-only with its parents, and the tree and the meter folder follow.
TEST_F(DataFolders, AMissingFolderOfTheUsersOwnIsMadeFirst)
{
    struct Case {
        int choice;
        const char *base;   // below HOME
        const char *parent; // a parent that is missing too, below HOME ("" for none)
    };
    const Case cases[] = {
        {0, ".local/share", ".local"},
        {1, "Documents", ""},
        {3, "Public", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.choice);
        const QString home = dir.filePath(QStringLiteral("home%1").arg(c.choice));
        QDir().mkpath(home);
        TestSupport::FreshHome fresh(home);
        const QString base = home + QLatin1Char('/') + QLatin1String(c.base);
        ASSERT_EQ(DataBaseFolder(c.choice, {}), base);
        ASSERT_FALSE(QFileInfo::exists(base));

        const QString root = CreateDataRoot(c.choice, {});
        EXPECT_EQ(root, base + "/Stelvanor/Vantoro/");
        EXPECT_TRUE(QFileInfo(root + "data").isDir());
        EXPECT_TRUE(QFileInfo(CreateMeterDataDir(root, 960123)).isDir());
        EXPECT_EQ(QFileInfo(base).permissions(), ownerOnly());
        if (*c.parent) {
            EXPECT_EQ(QFileInfo(home + QLatin1Char('/') + QLatin1String(c.parent)).permissions(), ownerOnly());
        }
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    }
}

// The all-users folder and a custom folder belong to someone else: a missing
// one is not made, and the tree below it fails level by level. So does a
// user's folder that cannot be made.
TEST_F(DataFolders, FoldersThatAreNotMadeFailAsBefore)
{
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    struct Case {
        const char *name;
        int choice;
        QString base;
    };
    const Case cases[] = {
        {"all users", 2, dir.filePath(QStringLiteral("var/lib"))},
        {"custom", 4, dir.filePath(QStringLiteral("custom/gone"))},
        {"user's own under a file", 0, plain.fileName() + QStringLiteral("/home/.local/share")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        prompter.messages.clear();
        TestSupport::FreshHome fresh(plain.fileName() + QStringLiteral("/home"));
        if (c.choice == 2)
            Platform::setKnownFolderOverride(2, c.base);
        ASSERT_EQ(DataBaseFolder(c.choice, c.base), c.base);
        EXPECT_THROW(CreateDataRoot(c.choice, c.base), std::runtime_error);
        EXPECT_EQ(prompter.texts(), QStringList(2, QStringLiteral("unable to create directory")));
        EXPECT_FALSE(QFileInfo::exists(c.base));
    }
}

constexpr uid_t kTechnician = TestSupport::NobodyId;
constexpr uid_t kColleague = TestSupport::Daemon.uid;

// The folders a run as root may be pointed at, made in `world`: root's own
// and the technician's, a team's sticky shared folder, links of each.
struct RootsWorld {
    QString world;
    QString path(const QString &name) const { return world + QLatin1Char('/') + name; }
    void folder(const QString &name, uid_t uid, gid_t gid, mode_t mode) const
    {
        ASSERT_TRUE(QDir().mkpath(path(name)));
        ASSERT_EQ(::chown(QFile::encodeName(path(name)).constData(), uid, gid), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(path(name)).constData(), mode), 0);
    }
    void link(const QString &name, const QString &target, uid_t uid) const
    {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path(name)).constData()), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(path(name)).constData(), uid, uid), 0);
    }
    void build() const
    {
        folder(QStringLiteral("mine"), 0, 0, 0755);
        folder(QStringLiteral("his"), kTechnician, kTechnician, 0755);
        folder(QStringLiteral("his/meters"), kTechnician, kTechnician, 0755);
        folder(QStringLiteral("his/rootsown"), 0, 0, 0755);
        folder(QStringLiteral("his/tree"), kTechnician, kTechnician, 0755);
        folder(QStringLiteral("his/tree/Stelvanor/Vantoro/data"), kTechnician, kTechnician, 0755);
        folder(QStringLiteral("team"), 0, TestSupport::TeamGroupId, 0775);
        folder(QStringLiteral("shared"), 0, 0, 01777);
        folder(QStringLiteral("shared/rootsown"), 0, 0, 0755);
        folder(QStringLiteral("varlib"), 0, 0, 0755);
        folder(QStringLiteral("varlib/Stelvanor"), kTechnician, kTechnician, 0755);
        folder(QStringLiteral("public"), 0, 0, 0777);
        link(QStringLiteral("hislink"), path(QStringLiteral("mine")), kTechnician);
        link(QStringLiteral("rootslink"), path(QStringLiteral("his/meters")), 0);
        link(QStringLiteral("mine/up"), path(QStringLiteral("his/meters")), 0);
        link(QStringLiteral("shared/meters"), path(QStringLiteral("mine")), kColleague);
    }
};

// A run as root builds its tree under the folder chosen only where that tree
// is root's alone; elsewhere under its own application-data folder, making
// nothing and following no link where another account could have a hand.
// Known folders 2 and 3 are judged as a custom folder is.
TEST_F(DataFolders, ARunAsRootKeepsItsTreeOnlyWhereItIsRootsAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to be judged as root";
    const QString rootsOwn = known(0);
    struct Case {
        const char *what;
        int choice;
        const char *folder; // in the world: the custom folder, or the known folder 2 or 3
        bool used;          // root builds there; else under its own folder 0
        const char *workingFolder = nullptr; // in the world: `folder` is named from there
    };
    const Case cases[] = {
        {"a custom folder of root's", 4, "mine", true},
        {"a custom folder of root's in a sticky shared folder", 4, "shared/rootsown", true},
        {"the technician's custom folder", 4, "his/meters", false},
        {"a custom folder of root's in the technician's folder", 4, "his/rootsown", false},
        {"a custom folder whose tree is the technician's", 4, "his/tree", false},
        {"a custom folder through the technician's link", 4, "hislink", false},
        {"a custom folder through root's link into the technician's folder", 4, "rootslink", false},
        {"a custom folder back up from the technician's folder", 4, "mine/up/..", false},
        {"a custom folder a team may write", 4, "team", false},
        {"a sticky shared folder itself", 4, "shared", false},
        {"a colleague's link in a sticky shared folder", 4, "shared/meters", false},
        {"all users' folder whose maker folder is the technician's", 2, "varlib", false},
        {"a public folder every account may write", 3, "public", false},
        {"a custom folder of root's named from its working folder", 4, "mine", true, "."},
        {"a custom folder named from the technician's working folder", 4, "meters", false, "his"},
    };
    const QString workingFolder = QDir::currentPath();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        prompter.messages.clear();
        QTemporaryDir temporary;
        ASSERT_TRUE(temporary.isValid());
        const RootsWorld world{temporary.path()};
        ASSERT_NO_FATAL_FAILURE(world.build());
        if (c.workingFolder) {
            ASSERT_TRUE(QDir::setCurrent(world.path(QLatin1String(c.workingFolder))));
        }
        const QString chosen = c.workingFolder ? QLatin1String(c.folder) : world.path(QLatin1String(c.folder));
        if (c.choice != 4)
            Platform::setKnownFolderOverride(c.choice, chosen);
        const auto before = entriesUnder(world.world);

        const QString root = CreateDataRoot(c.choice, chosen);
        const QString meter = CreateMeterDataDir(root, 960123);
        const QString base = c.used ? chosen : rootsOwn;
        EXPECT_EQ(root.toStdString(), (base + "/Stelvanor/Vantoro/").toStdString());
        EXPECT_EQ(meter, root + "data/960123/");
        EXPECT_TRUE(QFileInfo(meter).isDir());
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
        if (!c.used) {
            EXPECT_TRUE(entriesUnder(world.world) == before) << "nothing made or changed in the world";
        }
        QDir(rootsOwn + "/Stelvanor").removeRecursively();
        Platform::setKnownFolderOverride(c.choice, known(c.choice));
        QDir::setCurrent(workingFolder);
    }
}

// Where root's own folder is no more its own than the one chosen, nothing is
// made anywhere and the data folder's failure is said; so does a meter folder
// that was handed to another account.
TEST_F(DataFolders, ARunAsRootWithNoFolderOfItsOwnMakesNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to be judged as root";
    const RootsWorld world{dir.filePath(QStringLiteral("world"))};
    ASSERT_NO_FATAL_FAILURE(world.build());
    Platform::setKnownFolderOverride(0, world.path(QStringLiteral("his/tree")));
    const auto before = entriesUnder(world.world);
    try {
        CreateDataRoot(4, world.path(QStringLiteral("his/meters")));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Cannot create data directory.");
    }
    EXPECT_TRUE(entriesUnder(world.world) == before);

    const QString root = CreateDataRoot(4, world.path(QStringLiteral("mine")));
    ASSERT_NO_FATAL_FAILURE(world.folder(QStringLiteral("mine/Stelvanor/Vantoro/data/7"), kTechnician, kTechnician, 0755));
    EXPECT_THROW(CreateMeterDataDir(root, 7), std::runtime_error);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(DataFolders, MeterFolderIsNamedByTheFullUnsignedId)
{
    const QString root = CreateDataRoot(0, {});
    for (uint32_t id : {0u, 1234u, 4294967295u}) {
        const QString folder = CreateMeterDataDir(root, id);
        EXPECT_EQ(folder, root + "data/" + QString::number(id) + "/");
        EXPECT_TRUE(QFileInfo(folder).isDir());
    }
    EXPECT_TRUE(CreateMeterDataDir(root, 4294967295u).endsWith("/4294967295/"));
}

TEST_F(DataFolders, MeterFolderWithoutDataFolderThrows)
{
    EXPECT_THROW(CreateMeterDataDir(dir.filePath("nowhere/"), 5), std::runtime_error);
}

} // namespace
