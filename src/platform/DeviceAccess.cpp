#include "platform/DeviceAccess.h"

#include "platform/PosixAcl.h"
#include "platform/TrustedFile.h"

#include <QStringList>

#include <algorithm>
#include <fcntl.h>
#include <optional>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr unsigned kReadWrite = 6;

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

// The ACL entries that matter here; none for a device without one or with
// an ACL we cannot read.
std::vector<AclGrant> aclOf(int node, const Account &group)
{
    const auto acl = Acl::read(node, Acl::Access);
    std::vector<AclGrant> grants;
    for (const Acl::Entry &e : acl.value_or(std::vector<Acl::Entry>())) {
        const unsigned bits = e.perm & 7u;
        if (e.tag == Acl::User)
            grants.push_back({AclGrant::User, userAccount(uid_t(e.id)), bits});
        else if (e.tag == Acl::GroupObj)
            grants.push_back({AclGrant::Group, group, bits});
        else if (e.tag == Acl::Group)
            grants.push_back({AclGrant::Group, groupAccount(gid_t(e.id)), bits});
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
    // Looked at through O_PATH, the device itself is not opened.
    const Fd device(path.empty() ? -1 : ::open(path.c_str(), O_PATH | O_CLOEXEC));
    struct stat st {};
    if (!device || ::fstat(device.get(), &st) != 0)
        return {};
    DeviceNode node{QString::fromLocal8Bit(path.c_str()), userAccount(st.st_uid), groupAccount(st.st_gid),
                    st.st_mode & 0777, {}};
    node.acl = aclOf(device.get(), node.group);
    return deviceAccessAdvice(node, thisProcess());
}

} // namespace Platform
