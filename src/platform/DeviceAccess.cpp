#include "platform/DeviceAccess.h"

#include <QStringList>

#include <algorithm>
#include <optional>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr unsigned kReadWrite = 6;
constexpr const char *kAclAttribute = "system.posix_acl_access";
// Tags of the ACL attribute's entries (each: tag, bits, id, little-endian).
constexpr unsigned kAclUser = 0x02, kAclGroupObject = 0x04, kAclGroup = 0x08;
constexpr int kAclHeader = 4, kAclEntry = 8;

bool readsAndWrites(unsigned bits) { return (bits & kReadWrite) == kReadWrite; }

unsigned ownerBits(const DeviceNode &node) { return (node.mode >> 6) & 7; }
unsigned groupBits(const DeviceNode &node) { return (node.mode >> 3) & 7; }
unsigned otherBits(const DeviceNode &node) { return node.mode & 7; }

QString shown(const Account &a) { return a.name.isEmpty() ? QString::number(a.id) : a.name; }
bool isRoot(const Account &a) { return a.id == 0; }

bool inGroup(const Viewer &viewer, unsigned gid)
{
    return std::find(viewer.groups.begin(), viewer.groups.end(), gid) != viewer.groups.end();
}

// The groups that decide for the device and their bits: its own group, and
// with an ACL the groups of the ACL, each within the mask.
std::vector<AclGrant> groupGrants(const DeviceNode &node)
{
    if (node.acl.empty())
        return {{AclGrant::Group, node.group, groupBits(node)}};
    std::vector<AclGrant> grants;
    for (const AclGrant &g : node.acl)
        if (g.kind == AclGrant::Group)
            grants.push_back({g.kind, g.who, g.bits & groupBits(node)});
    return grants;
}

const AclGrant *userEntry(const DeviceNode &node, unsigned uid)
{
    for (const AclGrant &g : node.acl)
        if (g.kind == AclGrant::User && g.who.id == uid)
            return &g;
    return nullptr;
}

// How a non-owner fares: let in, and whether a group decided.
struct Judgement {
    bool letIn = false;
    bool byUserEntry = false;
    QStringList ownGroups; // the viewer's groups that decided, when none let them in
};

Judgement judge(const DeviceNode &node, const Viewer &viewer)
{
    if (const AclGrant *entry = userEntry(node, viewer.uid))
        return {readsAndWrites(entry->bits & groupBits(node)), true, {}};
    Judgement j;
    bool matched = false;
    for (const AclGrant &g : groupGrants(node)) {
        if (!inGroup(viewer, g.who.id))
            continue;
        matched = true;
        j.letIn = j.letIn || readsAndWrites(g.bits);
        j.ownGroups << shown(g.who);
    }
    if (!matched)
        j.letIn = readsAndWrites(otherBits(node));
    return j;
}

QString about(const DeviceNode &node, const Viewer &viewer)
{
    const QString owner = node.owner.id == viewer.uid ? QStringLiteral("you") : shown(node.owner);
    return QStringLiteral("The device belongs to %1 (group %2, mode %3)")
        .arg(owner, shown(node.group), QStringLiteral("%1").arg(node.mode & 0777, 4, 8, QLatin1Char('0')));
}

QString ownersAdvice(const DeviceNode &node, const Viewer &viewer)
{
    if (readsAndWrites(ownerBits(node)))
        return about(node, viewer) + QLatin1Char('.'); // refused by something other than its mode
    return about(node, viewer) + QStringLiteral(", and its mode shuts its owner out: chmod u+rw %1 lets you in.")
                                     .arg(node.path);
}

// A group to join that would let the viewer in: one with a name, not root's.
std::optional<Account> groupToJoin(const DeviceNode &node)
{
    for (const AclGrant &g : groupGrants(node))
        if (readsAndWrites(g.bits) && !g.who.name.isEmpty() && !isRoot(g.who))
            return g.who;
    return std::nullopt;
}

// Everyone the device lets in, root last; a group without a name by its number.
QString whoMayOpen(const DeviceNode &node)
{
    QStringList who;
    if (readsAndWrites(ownerBits(node)) && !isRoot(node.owner))
        who << shown(node.owner);
    for (const AclGrant &g : node.acl)
        if (g.kind == AclGrant::User && readsAndWrites(g.bits & groupBits(node)))
            who << shown(g.who);
    for (const AclGrant &g : groupGrants(node))
        if (readsAndWrites(g.bits) && !isRoot(g.who))
            who << QStringLiteral("members of group %1").arg(shown(g.who));
    if (who.isEmpty())
        return QStringLiteral("only root may open it.");
    return QStringLiteral("only %1 and root may open it.").arg(who.join(QStringLiteral(", ")));
}

QString othersAdvice(const DeviceNode &node, const Viewer &viewer)
{
    const Judgement j = judge(node, viewer);
    if (j.letIn)
        return about(node, viewer) + QLatin1Char('.'); // refused by something other than its permissions
    const std::optional<Account> join = j.byUserEntry ? std::nullopt : groupToJoin(node);
    if (join)
        return QStringLiteral("Add your user to the %1 group (sudo adduser $USER %1), then log out and in again.")
            .arg(join->name);
    // A group the viewer is in shuts them out where everyone else is let in.
    if (!j.ownGroups.isEmpty() && readsAndWrites(otherBits(node)))
        return about(node, viewer) + QStringLiteral(": everyone may open it but members of group %1.")
                                         .arg(j.ownGroups.join(QStringLiteral(", ")));
    return about(node, viewer) + QStringLiteral(": ") + whoMayOpen(node);
}

Account userAccount(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    const bool named = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found;
    return {named ? QString::fromLocal8Bit(found->pw_name) : QString(), unsigned(uid)};
}

Account groupAccount(gid_t gid)
{
    std::vector<char> buffer(16384);
    group entry{};
    group *found = nullptr;
    const bool named = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found;
    return {named ? QString::fromLocal8Bit(found->gr_name) : QString(), unsigned(gid)};
}

unsigned littleEndian(const QByteArray &bytes, int at, int size)
{
    unsigned value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | uint8_t(bytes[at + i]);
    return value;
}

// The ACL entries that matter here, from the stored attribute; none for a
// device without one or with an attribute we cannot read.
std::vector<AclGrant> aclOf(const std::string &path, const Account &group)
{
    QByteArray bytes(4096, '\0');
    const ssize_t size = ::getxattr(path.c_str(), kAclAttribute, bytes.data(), size_t(bytes.size()));
    if (size < kAclHeader || (size - kAclHeader) % kAclEntry != 0 || littleEndian(bytes, 0, 4) != 2)
        return {};
    std::vector<AclGrant> grants;
    for (int at = kAclHeader; at < size; at += kAclEntry) {
        const unsigned tag = littleEndian(bytes, at, 2), bits = littleEndian(bytes, at + 2, 2) & 7;
        const unsigned id = littleEndian(bytes, at + 4, 4);
        if (tag == kAclUser)
            grants.push_back({AclGrant::User, userAccount(uid_t(id)), bits});
        else if (tag == kAclGroupObject)
            grants.push_back({AclGrant::Group, group, bits});
        else if (tag == kAclGroup)
            grants.push_back({AclGrant::Group, groupAccount(gid_t(id)), bits});
    }
    return grants;
}

Viewer thisProcess()
{
    Viewer viewer{unsigned(::geteuid()), {unsigned(::getegid())}};
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? size_t(count) : 0);
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        for (gid_t g : groups)
            viewer.groups.push_back(unsigned(g));
    return viewer;
}

} // namespace

QString deviceAccessAdvice(const DeviceNode &node, const Viewer &viewer)
{
    return node.owner.id == viewer.uid ? ownersAdvice(node, viewer) : othersAdvice(node, viewer);
}

QString deviceAccessAdvice(const std::string &path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return {};
    DeviceNode node{QString::fromLocal8Bit(path.c_str()), userAccount(st.st_uid), groupAccount(st.st_gid),
                    st.st_mode & 0777, {}};
    node.acl = aclOf(path, node.group);
    return deviceAccessAdvice(node, thisProcess());
}

} // namespace Platform
