// What would let this user open a device that refused them: the line the
// connection's failure message adds under a permission refusal.
//
// Where the device's group (other than root's) may read and write it and the
// user is not in that group, joining the group helps, and the line says how. Otherwise no group
// would help, and the line names the device's owner, group and mode instead
// (for a root-only node: "only root may open it").
#pragma once

#include <QString>

#include <string>
#include <sys/types.h>

namespace Platform {

// The owner, group and permission bits of a device node, by name.
struct DeviceNode {
    QString owner;
    QString group;
    mode_t mode = 0; // permission bits
};

// The advice for a refused node; `inGroup`: the user is a member of its group.
QString deviceAccessAdvice(const DeviceNode &node, bool inGroup);

// The advice for the device at `path` and this process's user; empty when the
// device cannot be looked at.
QString deviceAccessAdvice(const std::string &path);

} // namespace Platform
