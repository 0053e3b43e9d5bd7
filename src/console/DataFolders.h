// The folder tree that holds the program's own files:
//   base/Stelvanor/<application title>/        data root ("Monitor.csv")
//   base/Stelvanor/<application title>/data/   data folder
//   .../data/<meter ID>/                       one folder per meter
// The base is the known folder of the path choice (0 to 3) or the custom
// folder (4). A missing base of the user's own is made with its parents;
// below it folders are made one level at a time. Nothing is ever removed.
//
// A run as root keeps its tree only where it is root's own (mayKeepFilesIn):
// a custom or shared folder in another account's tree, or one another account
// may change, would take root's folders and files and lead them through his
// links. Such a run builds under its own application-data folder (choice 0)
// instead, as it keeps its settings copy there. Every file of the program
// (downloads, "index.txt", "Monitor.csv", the report's default place) lies in
// this tree, so none of them reaches another account's folder.
#pragma once

#include <QString>
#include <cstdint>

namespace Console {

inline constexpr int CustomPathOption = 4;
inline constexpr const char *DataFolderName = "data";

// The base folder of a path choice: a known folder, `customPath` for 4, empty otherwise.
QString DataBaseFolder(int pathOptionIndex, const QString &customPath);

// Makes sure the maker folder, the title folder and the data folder exist and
// returns the data root with its trailing "/" (under root's own folder, as
// above, where a run as root may not keep its files under the choice; where
// that is not its own either, it throws at once). A maker or title folder that
// cannot be made is reported with "unable to create directory" and the next
// level is tried; a data folder that cannot be made throws std::runtime_error
// "Cannot create data directory.".
QString CreateDataRoot(int pathOptionIndex, const QString &customPath);

// The data folder under a data root, with its trailing "/".
QString DataFolderOf(const QString &dataRoot);

// Makes sure the folder of the meter exists under the data folder and
// returns it with its trailing "/"; throws "Cannot create data directory."
// when it cannot be made, or when a run as root finds it another account's.
QString CreateMeterDataDir(const QString &dataRoot, uint32_t meterID);

} // namespace Console
