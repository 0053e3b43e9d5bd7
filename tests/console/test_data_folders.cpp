// The data folder tree and its failure texts.
#include "console/ConsoleFixture.h"
#include "console/DataFolders.h"

#include <QFileInfo>
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
