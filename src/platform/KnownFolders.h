// The base folders the technician can keep the program's data under.
//
// 0 the user's application data, 1 the user's documents, 2 the application
// data of all users (/var/lib), 3 the documents shared by all users. A folder
// is looked up without being created; its path uses "/" and has no trailing
// separator, and is empty when the system gives none. Tests point each one
// at a folder of their own.
//
// The user's own folders (0, 1 and 3) may be missing on a new account; like
// any program that writes under a base directory, we create them then (with
// their parents, readable by the owner only, through folders and links of
// root's and the user's alone). The all-users folder is the system's to
// provide and is never created here.
//
// The user's folders come from HOME and the freedesktop variables. A run as
// root keeps them only where every one is root's own (isOwnFolder: reached
// through root's folders alone, and no other account may write it); where
// HOME or any of them is another account's, as su, sudo -E or an older sudo
// leave the technician's, root keeps its settings copy, lock and data under
// its own home from the user database, by the usual names and without a
// runtime folder. So nothing of root's is made in another account's home,
// and no folder or link of his leads root's writes anywhere.
#pragma once

#include <QString>

namespace Platform {

enum class KnownFolder : int {
    UserAppData = 0,
    UserDocuments = 1,
    CommonAppData = 2,
    CommonDocuments = 3,
};
inline constexpr int KnownFolderCount = 4;

// The user's own folders of this run, as described above; empty where there
// is none (no runtime folder, or one that is no absolute path).
enum class UserFolder { Config, Data, Cache, Documents, PublicShare, Runtime };
QString userFolder(UserFolder folder);

// The folder for index 0 to 3; empty for any other index.
QString knownFolderPath(int index);
inline QString knownFolderPath(KnownFolder folder) { return knownFolderPath(static_cast<int>(folder)); }

// Makes sure a user's own folder exists, creating it and every missing parent
// with mode 0700 (makeOwnFolder). True when the folder exists afterwards;
// false when it could not be made, when the system gives none, and for any
// other index whose folder is missing.
bool ensureKnownFolder(int index);

// May this run keep its files in the folder at `path` (a missing folder
// judged where it would be made)? A run as root only where the folder is its
// own (isOwnFolder), as for its own folders above: root passes every
// permission check, so in a folder another account may change it would make
// folders and files of root's there, and follow any link planted there to
// wherever it leads. Any other run keeps them wherever its permissions allow.
bool mayKeepFilesIn(const QString &path);

// Replaces the folder of `index` until cleared (an empty override is kept as
// "the system gives none").
void setKnownFolderOverride(int index, const QString &path);
void clearKnownFolderOverrides();

} // namespace Platform
