#include "platform/SettingsFile.h"

#include "platform/IniStores.h"
#include "platform/KnownFolders.h"
#include "platform/Prompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Platform::Settings {

namespace {

QString &overridePath()
{
    static QString path;
    return path;
}

QString s(const char *text) { return QString::fromUtf8(text); }

// Why a settings file is set aside, in the technician's words.
struct Reason {
    Refusal refusal;
    const char *text;
};
constexpr Reason kReasons[] = {
    {Refusal::OpenToAll, "every account on this computer may change it"},
    {Refusal::OthersFile, "it belongs to another account"},
    {Refusal::OthersLink, "a link on its way belongs to another account"},
    {Refusal::OthersFolder, "a folder on its way belongs to another account"},
    {Refusal::OpenFolder, "other accounts may change a folder on its way"},
    {Refusal::SecondName, "it has a second name, which another account may have made"},
    {Refusal::NotAFile, "it is no ordinary file"},
    {Refusal::TooLarge, "it is larger than any settings file"},
    {Refusal::KernelFile, "it is a file of the system itself"},
    {Refusal::LeadsNowhere, "its link leads nowhere"},
};

QString reasonText(Refusal refusal)
{
    for (const Reason &r : kReasons)
        if (r.refusal == refusal)
            return s(r.text);
    return {};
}

} // namespace

QString filePathFor(const QString &executablePath)
{
    const QFileInfo info(executablePath);
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.absolutePath() + QLatin1Char('/') + base + QStringLiteral(".ini");
}

QString besidePath()
{
    if (!overridePath().isEmpty())
        return overridePath();
    return filePathFor(QCoreApplication::applicationFilePath());
}

void setFilePath(const QString &path) { overridePath() = path; }

QString userCopyPathFor(const QString &besidePath)
{
    const QString configHome = userFolder(UserFolder::Config);
    return QDir::cleanPath(configHome + QLatin1Char('/') + QCoreApplication::organizationName() + QLatin1Char('/') +
                           applicationTitle() + QLatin1Char('/') + QFileInfo(besidePath).fileName());
}

// The file beside the executable serves while it may, the per-user copy once
// it exists or where the file beside may not (IniStores.h says when).
static StandInStore store() { return StandInStore(besidePath(), userCopyPathFor(besidePath()), true); }

QString filePath() { return store().path(); }

QString setAsideNotice()
{
    const QString reason = reasonText(store().setAside());
    if (reason.isEmpty())
        return {};
    return QStringLiteral("The settings file %1 is not used: %2.\nFrom now on your settings are kept in %3.")
        .arg(besidePath(), reason, userCopyPathFor(besidePath()));
}

bool userCopyStandsIn() { return store().standsIn(); }

IniFile open() { return IniFile(std::make_shared<StandInStore>(store())); }

QString read(const IniFile &file, const StringKey &key)
{
    return file.ReadString(s(key.section), s(key.ident), s(key.defaultValue));
}

int read(const IniFile &file, const IntKey &key)
{
    return file.ReadInteger(s(key.section), s(key.ident), key.defaultValue);
}

bool read(const IniFile &file, const BoolKey &key)
{
    return file.ReadBool(s(key.section), s(key.ident), key.defaultValue);
}

void write(IniFile &file, const StringKey &key, const QString &value)
{
    file.WriteString(s(key.section), s(key.ident), value);
}

void write(IniFile &file, const IntKey &key, int value)
{
    file.WriteInteger(s(key.section), s(key.ident), value);
}

void write(IniFile &file, const BoolKey &key, bool value)
{
    file.WriteBool(s(key.section), s(key.ident), value);
}

ReportOptions readReportOptions()
{
    const IniFile file = open();
    ReportOptions o;
    o.createPDF = read(file, CreatePDF);
    o.createRTF = read(file, CreateRTF);
    o.createCSV = read(file, CreateCSV);
    o.openPDF = read(file, OpenPDF);
    o.openRTF = read(file, OpenRTF);
    o.openCSV = read(file, OpenCSV);
    return o;
}

void writeReportOptions(const ReportOptions &o)
{
    IniFile file = open();
    write(file, CreatePDF, o.createPDF);
    write(file, CreateRTF, o.createRTF);
    write(file, CreateCSV, o.createCSV);
    write(file, OpenPDF, o.openPDF);
    write(file, OpenRTF, o.openRTF);
    write(file, OpenCSV, o.openCSV);
}

} // namespace Platform::Settings
