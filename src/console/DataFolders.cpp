#include "console/DataFolders.h"

#include "console/ProgramInfo.h"
#include "platform/KnownFolders.h"
#include "platform/Prompter.h"

#include <QDir>
#include <QFileInfo>
#include <stdexcept>

namespace Console {

namespace {

bool folderExists(const QString &path) { return QFileInfo(path).isDir(); }

// One level only: a missing parent is a failure, as it should be.
bool makeFolder(const QString &path) { return QDir().mkdir(path); }

void ensureOrReport(const QString &path)
{
    if (!folderExists(path) && !makeFolder(path))
        Platform::showMessage(QStringLiteral("unable to create directory"));
}

void ensureOrThrow(const QString &path)
{
    if (!folderExists(path) && !makeFolder(path))
        throw std::runtime_error("Cannot create data directory.");
}

QString makerFolderUnder(const QString &base) { return base + QLatin1Char('/') + QLatin1String(MakerName); }

QString titleFolderUnder(const QString &base)
{
    return makerFolderUnder(base) + QLatin1Char('/') + Platform::applicationTitle();
}

QString dataFolderUnder(const QString &base)
{
    return titleFolderUnder(base) + QLatin1Char('/') + QLatin1String(DataFolderName);
}

// The path choice this run builds its tree under: the one set, unless that
// tree is not the run's to keep files in (a run as root whose custom or shared
// folder another account may change); then the user's application-data
// folder, where root keeps its settings copy too. Where even that is not its
// own, nothing is made.
int choiceForThisRun(int pathOptionIndex, const QString &customPath)
{
    if (Platform::mayKeepFilesIn(dataFolderUnder(DataBaseFolder(pathOptionIndex, customPath))))
        return pathOptionIndex;
    const int own = int(Platform::KnownFolder::UserAppData);
    if (!Platform::mayKeepFilesIn(dataFolderUnder(Platform::knownFolderPath(own))))
        throw std::runtime_error("Cannot create data directory.");
    return own;
}

} // namespace

QString DataBaseFolder(int pathOptionIndex, const QString &customPath)
{
    if (pathOptionIndex == CustomPathOption)
        return customPath;
    return Platform::knownFolderPath(pathOptionIndex);
}

QString CreateDataRoot(int pathOptionIndex, const QString &customPath)
{
    const int choice = choiceForThisRun(pathOptionIndex, customPath);
    // A new account may lack its own base folder; it is made first. When that
    // fails, the levels below fail in turn and say so.
    if (choice != CustomPathOption)
        Platform::ensureKnownFolder(choice);
    const QString base = DataBaseFolder(choice, customPath);
    ensureOrReport(makerFolderUnder(base));
    ensureOrReport(titleFolderUnder(base));
    ensureOrThrow(dataFolderUnder(base));
    return titleFolderUnder(base) + QLatin1Char('/');
}

QString DataFolderOf(const QString &dataRoot)
{
    return dataRoot + QLatin1String(DataFolderName) + QLatin1Char('/');
}

QString CreateMeterDataDir(const QString &dataRoot, uint32_t meterID)
{
    const QString folder = DataFolderOf(dataRoot) + QString::number(meterID);
    // The data folder is this run's own; a meter folder in it that is not
    // (one handed to another account since) takes no file of this run's.
    if (!Platform::mayKeepFilesIn(folder))
        throw std::runtime_error("Cannot create data directory.");
    ensureOrThrow(folder);
    return folder + QLatin1Char('/');
}

} // namespace Console
