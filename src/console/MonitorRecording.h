// The recordings of the diagnostics page for "Monitor.csv": the header of
// each test and mode, the numbers as they go into a row, and the save-and-open
// of the "Open Monitor Data" buttons. The file format itself (rows, line ends,
// the atomic write) lives in MonitorData.h.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace Console {

inline constexpr const char *EcMonitorHeader = "Date/time, EC Value,";
inline constexpr const char *InputSignalMonitorHeader = "Date/time, Input Signal Value,";
inline constexpr const char *PnfMonitorHeader = "Date/time, PNF Diff Value,";
inline constexpr const char *MaintenanceMonitorHeader =
    "Date/time,Net Totals,FlowRate,FlowVelocity,MassFlow,Battery,Solar,Temperature,Coil Volts,Coil Current,"
    "Coil Resistance,FlowVoltage,Inp+,Inp-,SystemFault,";
// The only header without a trailing comma: its rows have one empty field more.
inline constexpr const char *MonitoringMonitorHeader =
    "Date/time,Net Totals,FlowRate,FlowVelocity,MassFlow,Battery,Solar,Temperature,Coil Volts,Coil Current,"
    "Coil Resistance,FlowVoltage,Inp+,Inp-,SystemFault,Pnf,PnfDiff,EcDiff";

// A number for a row: the given decimals, rounded, "." whatever the locale,
// no thousands separator ("0.000" / "0.00000").
QString MonitorNumber(double value, int decimals);
// The same number as a page shows it: the locale's decimal separator, no
// thousands separator (which would split a row's field).
QString DisplayNumber(double value, int decimals);

// Starts a recording: the list holds the header alone. A null list (the
// window has closed) is left alone.
void StartMonitorRecording(QStringList *lines, const char *header);
// Appends a row of the current local date and time and the values.
void AppendMonitorRow(QStringList *lines, const QStringList &values);

// Writes the lines to dataRoot + "Monitor.csv" and has the desktop open the
// file once it is completely written; a file the desktop cannot open is named
// in a message box over `parent` (it stays saved). Nothing happens for an
// empty or null list. Never throws: a failed save leaves any earlier file
// untouched and returns false with the reason in *error.
bool SaveAndOpenMonitorData(const QStringList *lines, const QString &dataRoot, QString *error, QWidget *parent);

} // namespace Console
