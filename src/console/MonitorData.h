// "Monitor.csv": the recording of monitored values that the main window keeps
// in memory (one header line, then one row per reading) and writes out when
// the technician asks to see it.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace Console {

inline constexpr const char *MonitorFileName = "Monitor.csv";

// Header of the status page's recording.
inline constexpr const char *StatusMonitorHeader =
    "Date/time, Flow Rate, Flow Velocity, Mass Flow, Forward Total, Peak Forward Total, "
    "OffPeak Forward Total, Battery, Solar, Temperature, Coil Volts, Coil Current, Coil Resistance,";

// The date and time that starts a row: the locale's short date and a
// 24-hour time with seconds, in ASCII digits.
QString MonitorDateTimeText(const QDateTime &when);

// One row: the date and time, then every value, each followed by ",".
QString MonitorRow(const QDateTime &when, const QStringList &values);

// Writes the lines, each ended by CR LF, replacing the file. Throws
// std::runtime_error when the file cannot be written; an earlier file is then
// left as it was.
void SaveMonitorLines(const QStringList &lines, const QString &path);

} // namespace Console
