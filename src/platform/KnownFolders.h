// The base folders the technician can keep the program's data under.
//
// 0 the user's application data, 1 the user's documents, 2 the application
// data of all users (/var/lib), 3 the documents shared by all users. A folder
// is looked up without being created; its path uses "/" and has no trailing
// separator, and is empty when the system gives none. Tests point each one
// at a folder of their own.
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

// Replaces the folder of `index` until cleared (an empty override is kept as
// "the system gives none").
void setKnownFolderOverride(int index, const QString &path);
void clearKnownFolderOverrides();

} // namespace Platform
