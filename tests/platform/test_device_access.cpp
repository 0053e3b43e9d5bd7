// What the connection's message advises a user whom a device refused.
#include "platform/DeviceAccess.h"

#include <gtest/gtest.h>

namespace {

TEST(DeviceAccessAdvice, AGroupOnlyWhereJoiningItWouldHelp)
{
    const struct {
        const char *what;
        Platform::DeviceNode node;
        bool inGroup;
        const char *advice;
    } cases[] = {
        {"the group may read and write", {"root", "uucp", 020660}, false,
         "Add your user to the uucp group (sudo adduser $USER uucp), then log out and in again."},
        {"already in the group", {"root", "dialout", 0660}, true,
         "The device belongs to root (group dialout, mode 0660)."},
        {"root's own group", {"root", "root", 0660}, false,
         "The device belongs to root (group root, mode 0660): only root may open it."},
        {"the group may only write", {"alice", "tty", 0620}, false,
         "The device belongs to alice (group tty, mode 0620): only alice and root may open it."},
        {"everyone may read and write", {"root", "dialout", 0666}, false,
         "The device belongs to root (group dialout, mode 0666)."},
        {"not even its owner may", {"alice", "uucp", 0000}, false,
         "The device belongs to alice (group uucp, mode 0000): only root may open it."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Platform::deviceAccessAdvice(c.node, c.inGroup).toStdString(), c.advice);
    }
}

} // namespace
