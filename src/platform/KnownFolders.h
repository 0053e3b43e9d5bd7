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
// their parents, readable by the owner only). The all-users folder is the
// system's to provide and is never created here.
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

// The folder for index 0 to 3; empty for any other index.
QString knownFolderPath(int index);
inline QString knownFolderPath(KnownFolder folder) { return knownFolderPath(static_cast<int>(folder)); }

// Makes sure a user's own folder exists, creating it and every missing parent
// with mode 0700. True when the folder exists afterwards; false when it could
// not be made, when the system gives none, and for any other index whose
// folder is missing.
bool ensureKnownFolder(int index);

// Makes sure the folder at `path` exists, creating it and every missing
// parent with mode 0700, as a user's own base folders are made. True when
// the folder exists afterwards.
bool ensureOwnerOnlyFolder(const QString &path);

// Replaces the folder of `index` until cleared (an empty override is kept as
// "the system gives none").
void setKnownFolderOverride(int index, const QString &path);
void clearKnownFolderOverrides();

} // namespace Platform
