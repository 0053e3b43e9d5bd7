// The data folder tree and its failure texts.
#include "console/ConsoleFixture.h"
#include "console/DataFolders.h"
#include "support/FreshHome.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <stdexcept>

using namespace Console;

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
