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

} // namespace

QString DataBaseFolder(int pathOptionIndex, const QString &customPath)
{
    if (pathOptionIndex == CustomPathOption)
        return customPath;
    return Platform::knownFolderPath(pathOptionIndex);
}

QString CreateDataRoot(int pathOptionIndex, const QString &customPath)
{
    // A new account may lack its own base folder; it is made first. When that
    // fails, the levels below fail in turn and say so.
    if (pathOptionIndex != CustomPathOption)
        Platform::ensureKnownFolder(pathOptionIndex);
    const QString maker = DataBaseFolder(pathOptionIndex, customPath) + QLatin1Char('/') + QLatin1String(MakerName);
    ensureOrReport(maker);
    const QString title = maker + QLatin1Char('/') + Platform::applicationTitle();
    ensureOrReport(title);
    const QString dataRoot = title + QLatin1Char('/');
    ensureOrThrow(dataRoot + QLatin1String(DataFolderName));
    return dataRoot;
}

QString DataFolderOf(const QString &dataRoot)
{
    return dataRoot + QLatin1String(DataFolderName) + QLatin1Char('/');
}

QString CreateMeterDataDir(const QString &dataRoot, uint32_t meterID)
{
    const QString folder = DataFolderOf(dataRoot) + QString::number(meterID);
    ensureOrThrow(folder);
    return folder + QLatin1Char('/');
}

} // namespace Console
