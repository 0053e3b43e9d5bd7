// The folder tree that holds the program's own files:
//   base/Stelvanor/<application title>/        data root ("Monitor.csv")
//   base/Stelvanor/<application title>/data/   data folder
//   .../data/<meter ID>/                       one folder per meter
// The base is the known folder of the path choice (0 to 3) or the custom
// folder (4). A missing base of the user's own is made with its parents;
// below it folders are made one level at a time. Nothing is ever removed.
#pragma once

#include <QString>
#include <cstdint>

namespace Console {

inline constexpr int CustomPathOption = 4;
inline constexpr const char *DataFolderName = "data";

// The base folder of a path choice: a known folder, `customPath` for 4, empty otherwise.
QString DataBaseFolder(int pathOptionIndex, const QString &customPath);

// Makes sure the maker folder, the title folder and the data folder exist and
// returns the data root with its trailing "/". A maker or title folder that
// cannot be made is reported with "unable to create directory" and the next
// level is tried; a data folder that cannot be made throws std::runtime_error
// "Cannot create data directory.".
QString CreateDataRoot(int pathOptionIndex, const QString &customPath);

// The data folder under a data root, with its trailing "/".
QString DataFolderOf(const QString &dataRoot);

// Makes sure the folder of the meter exists under the data folder and
// returns it with its trailing "/"; throws "Cannot create data directory."
// when it cannot be made.
QString CreateMeterDataDir(const QString &dataRoot, uint32_t meterID);

} // namespace Console
