#include "console/MonitorRecording.h"

#include "console/MonitorData.h"
#include "platform/ShellOpen.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#include <exception>

namespace Console {

QString MonitorNumber(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString DisplayNumber(double value, int decimals)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

void StartMonitorRecording(QStringList *lines, const char *header)
{
    if (lines == nullptr)
        return;
    lines->clear();
    lines->append(QString::fromLatin1(header));
}

void AppendMonitorRow(QStringList *lines, const QStringList &values)
{
    if (lines != nullptr)
        lines->append(MonitorRow(QDateTime::currentDateTime(), values));
}

bool SaveAndOpenMonitorData(const QStringList *lines, const QString &dataRoot, QString *error, QWidget *parent)
{
    if (lines == nullptr || lines->isEmpty())
        return true;
    // A copy: the link pumps messages, and a tick may append to the list
    // while it is written.
    const QStringList snapshot = *lines;
    const QString path = dataRoot + QLatin1String(MonitorFileName);
    QCoreApplication::processEvents();
    try {
        SaveMonitorLines(snapshot, path);
    } catch (const std::exception &e) {
        if (error != nullptr)
            *error = QString::fromLocal8Bit(e.what());
        return false;
    }
    QCoreApplication::processEvents();
    if (QFileInfo::exists(path))
        Platform::shellOpenOrTell(path, parent);
    return true;
}

} // namespace Console
