// What interrupted saves left beside a file: new files of a name of their
// own (".<name>.<digits>") that never took the file's name.
#pragma once

#include <string>

namespace Platform {

// Removes what interrupted saves left beside `target` in the folder open as
// `folder`: files of that kind of name, this user's, with no other name and
// no save writing them.
void removeLeftovers(int folder, const std::string &target);

} // namespace Platform
