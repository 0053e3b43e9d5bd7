// The program's one settings file and every key in it.
//
// The file lies beside the executable and bears its name with ".ini" in place
// of its extension; tests point it elsewhere with setFilePath(). It is found as
// it may be trusted (TrustedFile.h): nothing on its way, links included, may
// belong to or be swappable by an account other than root, the user and the
// owner of the program's folder, only a regular file is a settings file, and
// never one that every account may write. Where that file cannot be written
// (its folder refuses a new file, as an installed copy's folder does, and no
// link leads to it; the file is read-only; it is no regular file or may not be
// trusted), a per-user copy of the same name takes its place, in the folder of
// the company and the application title under the user's config home
// (KnownFolders.h: a run as root with another account's home uses root's own),
// judged against root and the user alone. The copy starts from the file beside
// the executable when that is a regular file that may be used, else from the
// defaults; from its first write on it is this program's settings file,
// whatever becomes of the file beside (IniStores.h). Another copy of the
// program whose own file may be written keeps using that. Each use reads the
// file once for all its keys and lets go of it again (IniFile.h): call open()
// for each use and keep no copy of the values beyond what the caller needs.
#pragma once

#include "platform/IniFile.h"

namespace Platform::Settings {

// The file beside the executable: the override if one is set, else the default.
QString besidePath();
// Points the file beside the executable at `path`; an empty path goes back to
// the default.
void setFilePath(const QString &path);
// The settings file next to `executablePath` ("dir/name.ext" -> "dir/name.ini").
QString filePathFor(const QString &executablePath);
// The per-user copy that stands in for the file at `besidePath`.
QString userCopyPathFor(const QString &besidePath);
// The path in force: the per-user copy once it exists, else the file beside
// the executable while that may be written, else the per-user copy.
QString filePath();

// The settings file; each read and write decides anew which file is in
// force. The per-user copy's folder is made by its first write.
IniFile open();

// What the technician is told when the file beside the executable is refused
// (it, or its link, may not be trusted: not merely missing, unreadable or
// unwritable) and the per-user copy does not stand in for it yet: the file,
// the reason in plain words, and where the settings are kept from then on.
// Empty otherwise. The copy's first save records that it stands in for the
// file, so the notice is due once.
QString setAsideNotice();
// The per-user copy stands in for the file beside the executable.
bool userCopyStandsIn();

struct StringKey { const char *section; const char *ident; const char *defaultValue; };
struct IntKey { const char *section; const char *ident; int defaultValue; };
struct BoolKey { const char *section; const char *ident; bool defaultValue; };

inline constexpr StringKey Comport{"Defaults", "Comport", ""};
inline constexpr IntKey Address{"Settings", "Address", 1};
inline constexpr StringKey CustomPath{"Defaults", "CustomPath", ""};
inline constexpr IntKey PathOptionIndex{"Defaults", "PathOptionIndex", 0};
inline constexpr BoolKey AutoOpenFile{"Defaults", "AutoOpenFile", true};
inline constexpr BoolKey CreatePDF{"ReportOptions", "CreatePDF", true};
inline constexpr BoolKey CreateRTF{"ReportOptions", "CreateRTF", false};
inline constexpr BoolKey CreateCSV{"ReportOptions", "CreateCSV", false};
inline constexpr BoolKey OpenPDF{"ReportOptions", "OpenPDF", false};
inline constexpr BoolKey OpenRTF{"ReportOptions", "OpenRTF", false};
inline constexpr BoolKey OpenCSV{"ReportOptions", "OpenCSV", false};

QString read(const IniFile &file, const StringKey &key);
int read(const IniFile &file, const IntKey &key);
bool read(const IniFile &file, const BoolKey &key);
void write(IniFile &file, const StringKey &key, const QString &value);
void write(IniFile &file, const IntKey &key, int value);
void write(IniFile &file, const BoolKey &key, bool value);

// The six report options, read and written in this order.
struct ReportOptions {
    bool createPDF = CreatePDF.defaultValue;
    bool createRTF = CreateRTF.defaultValue;
    bool createCSV = CreateCSV.defaultValue;
    bool openPDF = OpenPDF.defaultValue;
    bool openRTF = OpenRTF.defaultValue;
    bool openCSV = OpenCSV.defaultValue;
};
ReportOptions readReportOptions();
// Stops at the first refused key (the ones before it stay written) and throws.
void writeReportOptions(const ReportOptions &options);

} // namespace Platform::Settings
