// Keeping a serial component's line settings in a settings file.
//
// Each component has one settings store (created on first use, owned by the
// component). SaveSettings writes the port number, the line settings and the
// flow choice under the store's section; LoadSettings reads them back when
// the section carries "FLAG" = 1. The ini location is a file of our own ini
// class. The registry location keeps the same keys in one ini file per root
// (HKEY_CURRENT_USER.ini, HKEY_LOCAL_MACHINE.ini) in the folder
// SerRegistryFolder(), with the section named Key + "\" + Section, so a key
// path keeps its place as it would under a registry root.
//
//   TSettingsStore &store = SettingsStore(*comm);
//   store.SetKey("/home/tech/line.ini");
//   store.SetSection("Meter");
//   SaveSettings(*comm);          // failures of the file raise std::runtime_error
#pragma once

#include "serial/SerClasses.h"
#include "serial/SerPrst.h"

#include <QString>

class TSerCustomComm;

enum TRegRootKey : uint8_t { rrCURRENTUSER, rrLOCALMACHINE };
enum TSettingsLocation : uint8_t { slINIFile, slRegistry };

class TSettingsStore : public TSerPersistent {
public:
    const QString &Key() const { return FKey; }
    void SetKey(const QString &v) { FKey = v; }
    TSettingsLocation Location() const { return FLocation; }
    void SetLocation(TSettingsLocation v) { FLocation = v; }
    TRegRootKey RegRoot() const { return FRegRoot; }
    void SetRegRoot(TRegRootKey v) { FRegRoot = v; }
    const QString &Section() const { return FSection; }
    void SetSection(const QString &v) { FSection = v; }

    // Copies Key, Location, RegRoot and Section from another settings store;
    // any other source is ignored.
    void Assign(const TSerPersistent *Source) override;
    const char *ClassName() const override { return "TSettingsStore"; }

private:
    QString FKey;
    TSettingsLocation FLocation = slINIFile;
    TRegRootKey FRegRoot = rrCURRENTUSER;
    QString FSection;
};

// The flow choice kept in "FLOWCONTROL" and offered by the port dialog.
enum TSerFlowChoice : uint8_t { fcNone, fcDtrRts, fcXonXoff };
constexpr int SerFlowChoiceCount = 3;

// Xon/Xoff when either direction uses it; DTR/RTS when either line is
// enabled, which wins over Xon/Xoff; otherwise none.
TSerFlowChoice SerFlowChoice(const TSerFlowControl &flow);
// Sets DTR, RTS and both Xon/Xoff directions for the choice (one change);
// the other flow-control members are left alone.
void SerApplyFlowChoice(TSerFlowControl &flow, TSerFlowChoice choice);

// The store of a component (made on first use; lives as long as the component).
TSettingsStore &SettingsStore(TSerCustomComm &Comm);
// Writes "BAUDRATE", "PARITY", "DATABITS", "PORTNUM", "STOPBITS", "COMNAME",
// "FLOWCONTROL" and "FLAG" in that order. For the ini location an empty Key
// becomes the program's path with the extension ".INI" and an empty Section
// the component's name; both are kept in the store. True when written.
bool SaveSettings(TSerCustomComm &Comm);
// False, changing nothing, unless "FLAG" is 1. Otherwise sets, in this order,
// Baudrate, Parity, Databits, PortNum and Stopbits (a missing key counts as
// 0), then the flow choice, and returns true. A stored value the component
// cannot hold (an ordinal out of range, a negative port number, an unknown
// flow choice) leaves that one setting as it was.
bool LoadSettings(TSerCustomComm &Comm);

// The folder of the registry location's files: "vantoro-registry" in the
// user's configuration folder.
QString SerRegistryFolder();
// The file that holds the registry location of a root.
QString SerRegistryFile(TRegRootKey root);
