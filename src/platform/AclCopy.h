// A file's access ACL carried over to the new file that replaces it.
#pragma once

namespace Platform {

// The access ACL of `from` on `to`; a file without one makes sure `to` has
// none either (a folder's default ACL may have given it one). False where it
// could not be read or set.
bool copyAcl(int from, int to);

// Takes away the access ACL of `fd`, if it has one, so that its mode alone
// says who may use it.
bool dropAcl(int fd);

} // namespace Platform
