// What interrupted saves left beside a file: new files of a name of their
// own (".<name>.<digits>") that never took the file's name.
#pragma once

#include <string>

namespace Platform {

// Removes what interrupted saves left beside `target` in the folder open as
// `folder`: files of that kind of name, this user's, with no other name and
// no save writing them. Each is looked at before it is opened, so that no
// file of another account is ever opened. A save looks at a few such names
// at most, and no further into a crowded folder than a bound, so that names
// planted there cannot hold it up; what lies beyond waits for a later save.
void removeLeftovers(int folder, const std::string &target);

} // namespace Platform
