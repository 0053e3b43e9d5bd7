#include "serial/SerSettings.h"

#include "platform/IniFile.h"
#include "serial/SerComm.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <functional>
#include <optional>

void TSettingsStore::Assign(const TSerPersistent *Source)
{
    const auto *other = dynamic_cast<const TSettingsStore *>(Source);
    if (other == nullptr)
        return;
    FKey = other->FKey;
    FLocation = other->FLocation;
    FRegRoot = other->FRegRoot;
    FSection = other->FSection;
}

TSerFlowChoice SerFlowChoice(const TSerFlowControl &flow)
{
    TSerFlowChoice choice = fcNone;
    if (flow.XonXoffOut() || flow.XonXoffIn())
        choice = fcXonXoff;
    if (flow.ControlDtr() == dtrEnabled || flow.ControlRts() == rtsEnabled)
        choice = fcDtrRts;
    return choice;
}

void SerApplyFlowChoice(TSerFlowControl &flow, TSerFlowChoice choice)
{
    const bool lines = choice == fcDtrRts;
    const bool xonXoff = choice == fcXonXoff;
    flow.BeginUpdate();
    flow.SetControlDtr(lines ? dtrEnabled : dtrDisabled);
    flow.SetControlRts(lines ? rtsEnabled : rtsDisabled);
    flow.SetXonXoffOut(xonXoff);
    flow.SetXonXoffIn(xonXoff);
    flow.EndUpdate();
}

namespace {

// Holds a component's store as a child object, so it lives and dies with it.
class TSettingsStoreHolder : public QObject {
    Q_OBJECT
public:
    explicit TSettingsStoreHolder(QObject *owner) : QObject(owner) {}
    TSettingsStore store;
};

const char *const kFlag = "FLAG";
const char *const kFlowControl = "FLOWCONTROL";

// The settings kept as ordinals or numbers, in the order they are written
// and read, each with the check that the component can hold a stored value.
struct StoredSetting {
    const char *key;
    std::function<int(const TSerCustomComm &)> get;
    std::function<void(TSerCustomComm &, int)> set;
    int first;
    int last;
};

const StoredSetting kBaudrate{"BAUDRATE", [](const TSerCustomComm &c) { return int(c.Baudrate()); },
                              [](TSerCustomComm &c, int v) { c.SetBaudrate(TSerBaudrate(v)); }, brUser,
                              br256000};
const StoredSetting kParity{"PARITY", [](const TSerCustomComm &c) { return int(c.Parity()); },
                            [](TSerCustomComm &c, int v) { c.SetParity(TSerParity(v)); }, paNone, paSpace};
const StoredSetting kDatabits{"DATABITS", [](const TSerCustomComm &c) { return int(c.Databits()); },
                              [](TSerCustomComm &c, int v) { c.SetDatabits(TSerDatabits(v)); }, db4, db8};
const StoredSetting kPortNum{"PORTNUM", [](const TSerCustomComm &c) { return int(c.PortNum()); },
                             [](TSerCustomComm &c, int v) { c.SetPortNum(v); }, 0, INT32_MAX};
const StoredSetting kStopbits{"STOPBITS", [](const TSerCustomComm &c) { return int(c.Stopbits()); },
                              [](TSerCustomComm &c, int v) { c.SetStopbits(TSerStopbits(v)); }, sb1, sb2};

const StoredSetting *const kStoredSettings[] = {&kBaudrate, &kParity, &kDatabits, &kPortNum, &kStopbits};

// The ini file and section a store reads and writes.
struct Place {
    QString file;
    QString section;
};

QString programIniPath()
{
    QString path = QCoreApplication::applicationFilePath();
    const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot >= nameStart)
        path.truncate(dot);
    return path + QStringLiteral(".INI");
}

// Resolves where a store lives; the ini location fills an empty Key and
// Section and keeps them.
Place placeOf(TSerCustomComm &comm, TSettingsStore &store)
{
    if (store.Location() == slRegistry) {
        QString section = store.Key();
        if (!store.Section().isEmpty())
            section += (section.isEmpty() ? QString() : QStringLiteral("\\")) + store.Section();
        return {SerRegistryFile(store.RegRoot()), section};
    }
    if (store.Key().isEmpty())
        store.SetKey(programIniPath());
    if (store.Section().isEmpty()) {
        // A component without a name still gets a well-formed section.
        const QString name = comm.objectName();
        store.SetSection(name.isEmpty() ? QString::fromLatin1(comm.metaObject()->className()) : name);
    }
    return {store.Key(), store.Section()};
}

// The registry location's folder is ours to create; an ini file's folder
// is the caller's.
void prepareFolder(const TSettingsStore &store)
{
    if (store.Location() == slRegistry)
        QDir().mkpath(SerRegistryFolder());
}

std::optional<int> readStored(const Platform::IniFile &ini, const QString &section, const StoredSetting &s)
{
    const int value = ini.ReadInteger(section, QString::fromLatin1(s.key), 0);
    if (value < s.first || value > s.last)
        return std::nullopt;
    return value;
}

} // namespace

QString SerRegistryFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/vantoro-registry");
}

QString SerRegistryFile(TRegRootKey root)
{
    return SerRegistryFolder() +
           (root == rrLOCALMACHINE ? QStringLiteral("/HKEY_LOCAL_MACHINE.ini") : QStringLiteral("/HKEY_CURRENT_USER.ini"));
}

TSettingsStore &SettingsStore(TSerCustomComm &Comm)
{
    auto *holder = Comm.findChild<TSettingsStoreHolder *>(QString(), Qt::FindDirectChildrenOnly);
    if (holder == nullptr)
        holder = new TSettingsStoreHolder(&Comm);
    return holder->store;
}

bool SaveSettings(TSerCustomComm &Comm)
{
    TSettingsStore &store = SettingsStore(Comm);
    const Place place = placeOf(Comm, store);
    prepareFolder(store);
    Platform::IniFile ini(place.file);
    const auto write = [&](const char *key, int value) {
        ini.WriteInteger(place.section, QString::fromLatin1(key), value);
    };
    for (const StoredSetting *s : kStoredSettings)
        write(s->key, s->get(Comm));
    ini.WriteString(place.section, QStringLiteral("COMNAME"), QStringLiteral("COM%1").arg(Comm.PortNum()));
    write(kFlowControl, SerFlowChoice(Comm.FlowControl()));
    write(kFlag, 1);
    return true;
}

bool LoadSettings(TSerCustomComm &Comm)
{
    TSettingsStore &store = SettingsStore(Comm);
    const Place place = placeOf(Comm, store);
    const Platform::IniFile ini(place.file);
    if (ini.ReadInteger(place.section, QString::fromLatin1(kFlag), 0) != 1)
        return false;
    for (const StoredSetting *s : kStoredSettings) {
        if (const auto value = readStored(ini, place.section, *s))
            s->set(Comm, *value);
    }
    const int flow = ini.ReadInteger(place.section, QString::fromLatin1(kFlowControl), 0);
    if (flow >= 0 && flow < SerFlowChoiceCount)
        SerApplyFlowChoice(Comm.FlowControl(), TSerFlowChoice(flow));
    return true;
}

#include "SerSettings.moc"
