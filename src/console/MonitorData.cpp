#include "console/MonitorData.h"

#include "platform/FileNumbers.h"
#include "platform/SaveWhole.h"

#include <QLocale>
#include <QSaveFile>
#include <stdexcept>

namespace Console {

QString MonitorDateTimeText(const QDateTime &when)
{
    return Platform::asciiDigits(QLocale().toString(when.date(), QLocale::ShortFormat)) + QLatin1Char(' ')
           + when.time().toString(QStringLiteral("HH:mm:ss"));
}

QString MonitorRow(const QDateTime &when, const QStringList &values)
{
    QString row = MonitorDateTimeText(when) + QLatin1Char(',');
    for (const QString &value : values)
        row += value + QLatin1Char(',');
    return row;
}

void SaveMonitorLines(const QStringList &lines, const QString &path)
{
    // Written beside the target and renamed over it, so a failed save never
    // leaves half a file in place of the last good one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("Unable to create " + path.toStdString() + ": " + file.errorString().toStdString());
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLocal8Bit() + "\r\n";
    if (!Platform::commitWhole(file, bytes))
        throw std::runtime_error("Unable to write " + path.toStdString() + ": " + file.errorString().toStdString());
}

} // namespace Console
