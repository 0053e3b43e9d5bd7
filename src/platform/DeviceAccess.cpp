#include "platform/DeviceAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace Platform {

namespace {

constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
constexpr mode_t kOtherReadWrite = S_IROTH | S_IWOTH;

QString userName(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString groupName(gid_t gid)
{
    std::vector<char> buffer(16384);
    group entry{};
    group *found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

// The groups this process counts for permission checks: the ones it runs
// with now, not the ones the user was given since logging in.
bool processInGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? size_t(count) : 0);
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        for (gid_t g : groups)
            if (g == gid)
                return true;
    return false;
}

} // namespace

QString deviceAccessAdvice(const DeviceNode &node, bool inGroup)
{
    const mode_t mode = node.mode & 0777;
    const bool groupOpens = (mode & kGroupReadWrite) == kGroupReadWrite;
    const bool everyoneOpens = (mode & kOtherReadWrite) == kOtherReadWrite;
    // Root's own group is no group to give a user for one device.
    if (groupOpens && !inGroup && !everyoneOpens && node.group != QLatin1String("root"))
        return QStringLiteral("Add your user to the %1 group (sudo adduser $USER %1), then log out and in again.")
            .arg(node.group);
    const QString text = QStringLiteral("The device belongs to %1 (group %2, mode %3)")
                             .arg(node.owner, node.group, QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0')));
    if ((groupOpens && inGroup) || everyoneOpens)
        return text + QLatin1Char('.'); // refused by something other than its mode bits
    if (node.owner == QLatin1String("root") || (mode & kOwnerReadWrite) != kOwnerReadWrite)
        return text + QStringLiteral(": only root may open it.");
    return text + QStringLiteral(": only %1 and root may open it.").arg(node.owner);
}

QString deviceAccessAdvice(const std::string &path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return {};
    return deviceAccessAdvice({userName(st.st_uid), groupName(st.st_gid), st.st_mode}, processInGroup(st.st_gid));
}

} // namespace Platform
