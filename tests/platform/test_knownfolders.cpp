// The base folders and the shell opener's test seam.
#include "platform/KnownFolders.h"
#include "platform/ShellOpen.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

TEST(KnownFolders, MapsTheFourChoices)
{
    Platform::clearKnownFolderOverrides();
    using QS = QStandardPaths;
    EXPECT_EQ(Platform::knownFolderPath(0), QS::writableLocation(QS::GenericDataLocation));
    EXPECT_EQ(Platform::knownFolderPath(1), QS::writableLocation(QS::DocumentsLocation));
    EXPECT_EQ(Platform::knownFolderPath(2), "/var/lib");
    EXPECT_EQ(Platform::knownFolderPath(3), QS::writableLocation(QS::PublicShareLocation));
    for (int other : {-1, 4, 5, 100})
        EXPECT_EQ(Platform::knownFolderPath(other), "") << other;
}

TEST(KnownFolders, OverridesLoseTrailingSeparators)
{
    Platform::setKnownFolderOverride(1, "/tmp/docs//");
    Platform::setKnownFolderOverride(3, "");
    EXPECT_EQ(Platform::knownFolderPath(Platform::KnownFolder::UserDocuments), "/tmp/docs");
    EXPECT_EQ(Platform::knownFolderPath(3), "");
    EXPECT_EQ(Platform::knownFolderPath(2), "/var/lib");
    Platform::clearKnownFolderOverrides();
    EXPECT_EQ(Platform::knownFolderPath(3),
              QStandardPaths::writableLocation(QStandardPaths::PublicShareLocation));
}

TEST(ShellOpen, PathsBecomeFileUrlsAndLinksStayLinks)
{
    std::vector<QUrl> opened;
    Platform::setShellOpenHandler([&](const QUrl &u) { opened.push_back(u); return true; });
    // A path that would be harmful as part of a command line stays one path.
    EXPECT_TRUE(Platform::shellOpen("/tmp/x y/a; rm -rf ~ &"));
    EXPECT_TRUE(Platform::shellOpen("https://www.stelvanor.example/"));
    EXPECT_FALSE(Platform::shellOpen(""));
    Platform::setShellOpenHandler({});
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_EQ(opened[0].toLocalFile(), "/tmp/x y/a; rm -rf ~ &");
    EXPECT_EQ(opened[1].scheme(), "https");
}

} // namespace
