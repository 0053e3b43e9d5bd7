// What the connection's message advises a user whom a device refused.
#include "platform/DeviceAccess.h"
#include "support/AclValue.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Platform::AclGrant;

const Platform::Account kRoot{QStringLiteral("root"), 0};
const Platform::Account kTech{QStringLiteral("tech"), 1000};
const Platform::Account kAlice{QStringLiteral("alice"), 1002};
const Platform::Account kDialout{QStringLiteral("dialout"), 20};
const Platform::Account kTechs{QStringLiteral("techs"), 1001};
const Platform::Account kNameless{QString(), 4242};
const Platform::Viewer kOutsider{kTech.id, {kTech.id}};
const Platform::Viewer kInDialout{kTech.id, {kTech.id, kDialout.id}};
const Platform::Viewer kInTechs{kTech.id, {kTech.id, kTechs.id}};

Platform::DeviceNode node(Platform::Account owner, Platform::Account group, mode_t mode,
                          std::vector<AclGrant> acl = {})
{
    return {QStringLiteral("/dev/ttyUSB0"), std::move(owner), std::move(group), mode, std::move(acl)};
}

TEST(DeviceAccessAdvice, AGroupOnlyWhereJoiningItWouldHelp)
{
    // As setfacl -m g:techs:rw leaves a root-only node: the mode shows the mask.
    const std::vector<AclGrant> techsMayOpen{{AclGrant::Group, kRoot, 0}, {AclGrant::Group, kTechs, 6}};
    const struct {
        const char *what;
        Platform::DeviceNode node;
        Platform::Viewer viewer;
        const char *advice;
    } cases[] = {
        {"the group may read and write", node(kRoot, {"uucp", 10}, 020660), kOutsider,
         "Add your user to the uucp group (sudo adduser $USER uucp), then log out and in again."},
        {"already in the group", node(kRoot, kDialout, 0660), kInDialout,
         "The device belongs to root (group dialout, mode 0660)."},
        {"root's own group", node(kRoot, kRoot, 0660), kOutsider,
         "The device belongs to root (group root, mode 0660): only root may open it."},
        {"the group may only write", node(kAlice, {"tty", 5}, 0620), kOutsider,
         "The device belongs to alice (group tty, mode 0620): only alice and root may open it."},
        {"everyone may read and write", node(kRoot, kDialout, 0666), kOutsider,
         "The device belongs to root (group dialout, mode 0666)."},
        {"not even its owner may", node(kAlice, {"uucp", 10}, 0000), kOutsider,
         "The device belongs to alice (group uucp, mode 0000): only root may open it."},
        // An ACL: its groups count as the device's own group does, within the mask.
        {"an ACL lets a group in", node(kRoot, kRoot, 0660, techsMayOpen), kOutsider,
         "Add your user to the techs group (sudo adduser $USER techs), then log out and in again."},
        {"an ACL lets a group in, already a member", node(kRoot, kRoot, 0660, techsMayOpen), kInTechs,
         "The device belongs to root (group root, mode 0660)."},
        {"an ACL's mask shuts its group out", node(kRoot, kRoot, 0640, techsMayOpen), kOutsider,
         "The device belongs to root (group root, mode 0640): only root may open it."},
        {"an ACL lets a user in", node(kRoot, kRoot, 0660, {{AclGrant::User, kAlice, 6}, {AclGrant::Group, kRoot, 0}}),
         kOutsider, "The device belongs to root (group root, mode 0660): only alice and root may open it."},
        // A group without a name cannot be joined by name.
        {"a group without a name", node(kRoot, kNameless, 0660), kOutsider,
         "The device belongs to root (group 4242, mode 0660): only members of group 4242 and root may open it."},
        // The owner is judged by the owner's bits alone, which the owner may change.
        {"a device the user owns, its mode shuts its owner out", node(kTech, kDialout, 0060), kOutsider,
         "The device belongs to you (group dialout, mode 0060), and its mode shuts its owner out: chmod u+rw "
         "/dev/ttyUSB0 lets you in."},
        {"a device the user owns, its mode lets its owner in", node(kTech, kDialout, 0600), kOutsider,
         "The device belongs to you (group dialout, mode 0600)."},
        {"the user's group is shut out where everyone else is let in", node(kRoot, kDialout, 0606), kInDialout,
         "The device belongs to root (group dialout, mode 0606): everyone may open it but members of group dialout."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Platform::deviceAccessAdvice(c.node, c.viewer).toStdString(), c.advice);
    }
}

// The advice for a path reads the node's owner, group, mode and ACL as stored.
TEST(DeviceAccessAdvice, ReadsOwnerGroupAndAclOfTheNode)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the node to other accounts";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile(path).open(QIODevice::WriteOnly);
    const QByteArray name = QFile::encodeName(path);
    const std::string device = name.toStdString();

    ASSERT_EQ(::chown(name.constData(), 65534, 4242), 0);
    ASSERT_EQ(::chmod(name.constData(), 0660), 0);
    EXPECT_EQ(Platform::deviceAccessAdvice(device).toStdString(),
              "The device belongs to nobody (group 4242, mode 0660): only nobody, members of group 4242 and root may "
              "open it.");

    // As setfacl -m g:users:rw on a node only its owner may open.
    ASSERT_EQ(::chmod(name.constData(), 0600), 0);
    ASSERT_TRUE(TestSupport::setAcl(path, {{TestSupport::AclUserObj, 6},
                                           {TestSupport::AclGroupObj, 0},
                                           {TestSupport::AclGroup, 6, 100},
                                           {TestSupport::AclMask, 6},
                                           {TestSupport::AclOther, 0}}));
    EXPECT_EQ(Platform::deviceAccessAdvice(device).toStdString(),
              "Add your user to the users group (sudo adduser $USER users), then log out and in again.");
    EXPECT_EQ(Platform::deviceAccessAdvice(dir.filePath(QStringLiteral("missing")).toStdString()), "");
}

} // namespace
