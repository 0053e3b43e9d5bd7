#include "platform/SettingsFile.h"

#include "platform/KnownFolders.h"
#include "platform/Prompter.h"
#include "platform/SaveWhole.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace Platform::Settings {

namespace {

QString &overridePath()
{
    static QString path;
    return path;
}

QString s(const char *text) { return QString::fromUtf8(text); }

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
    const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir::cleanPath(configHome + QLatin1Char('/') + QCoreApplication::organizationName() + QLatin1Char('/') +
                           applicationTitle() + QLatin1Char('/') + QFileInfo(besidePath).fileName());
}

QString filePath()
{
    // A save replaces the file through a new one beside it (beside a link's
    // target, for a link), so that folder must take new files; a shared file
    // that a link leads to may be rewritten in place instead; a read-only
    // file is kept as it is. Once the copy exists it holds the latest
    // settings, so it stays in force whatever becomes of the file beside.
    const QString beside = besidePath();
    const QString copy = userCopyPathFor(beside);
    const QFileInfo copyInfo(copy);
    if (copyInfo.exists() || copyInfo.isSymLink())
        return copy;
    return canBeReplaced(beside) || isLinkRewrittenInPlace(beside) ? beside : copy;
}

IniFile open()
{
    const QString beside = besidePath();
    const QString path = filePath();
    if (path == beside)
        return IniFile(beside);
    // A folder that cannot be made shows when the first write is refused.
    ensureOwnerOnlyFolder(QFileInfo(path).path());
    return IniFile(path, beside);
}

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
