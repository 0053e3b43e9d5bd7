// What would let this user open a device that refused them: the line the
// connection's failure message adds under a permission refusal.
//
// The device's permissions are read as the kernel reads them: its owner by
// the owner's bits alone; anyone else by an entry of its ACL for that user,
// else by the groups they are in (the device's group and those of its ACL:
// one that grants is enough), else by the bits for everyone. ACL entries
// count within the ACL's mask, which the mode's group bits then show.
// - The user owns the device but its mode shuts its owner out: the line says
//   so, and how the owner lets themselves in again.
// - A group with a name (other than root's) may read and write the device and
//   joining it would let the user in: the line says how to join it.
// - Otherwise no group would help (or the user is let in and refused for
//   another reason), and the line names the device's owner, group and mode,
//   and who may open it (for a root-only node: "only root may open it").
#pragma once

#include <QString>

#include <string>
#include <sys/types.h>
#include <vector>

namespace Platform {

// A user or group: its name, or none where the id has no name.
struct Account {
    QString name;
    unsigned id = 0;
};

// An entry of a device's ACL for a named user or group, or for the device's
// own group, with its read/write/execute bits (4, 2, 1) as stored.
struct AclGrant {
    enum Kind { User, Group } kind;
    Account who;
    unsigned bits;
};

struct DeviceNode {
    QString path;
    Account owner;
    Account group;
    mode_t mode = 0; // permission bits; with an ACL the group bits are its mask
    std::vector<AclGrant> acl; // empty: the device has no ACL
};

// Whom a permission check is for: the user and every group they count in.
struct Viewer {
    unsigned uid = 0;
    std::vector<unsigned> groups;
};

QString deviceAccessAdvice(const DeviceNode &node, const Viewer &viewer);

// The advice for the device at `path` and this process's user and groups (the
// ones it runs with now, not those given since logging in); empty when the
// device cannot be looked at.
QString deviceAccessAdvice(const std::string &path);

} // namespace Platform
