#include "report/Z960ReportUnit.h"

#include "link/DateTime.h"
#include "link/Z960Port.h"
#include "platform/Prompter.h"
#include "platform/SettingsFile.h"
#include "platform/SaveWhole.h"
#include "platform/ShellOpen.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QSaveFile>
#include <QTime>
#include <QTimeZone>

#include <exception>
#include <utility>

namespace {

QString q(const std::string &s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

std::string lineAt(const ReportSections::Lines &lines, int record)
{
    return record >= 0 && static_cast<std::size_t>(record) < lines.size() ? lines[static_cast<std::size_t>(record)]
                                                                         : std::string();
}

// The PC clock (or the test clock) as the engine's clock; the fields are kept
// as they stand, with no time-zone shift.
QDateTime engineNow()
{
    const auto f = DateTime::decode(DateTime::now());
    if (!f)
        return QDateTime();
    return QDateTime(QDate(f->year, f->month, f->day), QTime(f->hour, f->minute, f->second, f->msec),
                     QTimeZone::utc());
}

void pumpMessages() { QCoreApplication::processEvents(); }

} // namespace

TZ960Report::TZ960Report(QWidget *Owner, Z960Port *port_, const std::string &reportDir_,
                         const std::string &technicianName_, const std::string &validatorLicenseNumber_,
                         const std::string &siteName_, const QStringList &notes, LinkOps ops)
    : QWidget(Owner),
      rptInfoDS(rptReport1.dataSet(QStringLiteral("InfoDS"))),
      rptConfigDS(rptReport1.dataSet(QStringLiteral("ConfigDS"))),
      rptCalDS(rptReport1.dataSet(QStringLiteral("CalDS"))),
      rptBasicCalDS(rptReport1.dataSet(QStringLiteral("BasicCalDS"))),
      rptTotalsDS(rptReport1.dataSet(QStringLiteral("TotalsDS"))),
      rptDiagnosticDS(rptReport1.dataSet(QStringLiteral("DiagnosticDS"))),
      rptNotesDS(rptReport1.dataSet(QStringLiteral("NotesDS"))),
      port(port_),
      ops_(std::move(ops)),
      ownerForm(Owner)
{
    hide(); // a form that is never shown
    rptReport1.OnGetValue = [this](const QString &name, QVariant &value) { rptReport1GetValue(name, value); };
    rptReport1.Clock = engineNow;
    rptReport1.locale = QLocale();

    technicianName = technicianName_;
    validatorLicenseNumber = validatorLicenseNumber_;
    siteName = siteName_;
    separator = ReportSections::kReportSeparator;
    LoadReportOptions();
    reportDir = reportDir_;

    if (port != nullptr && sendNullCommand() && getStucture(Z960Data::STATUS) && getStucture(Z960Data::SYSTEM)) {
        BuildSections();
        for (const QString &note : notes)
            notesLines.push_back(note.toLocal8Bit().toStdString());
        pumpMessages();
        if (!linkStopped())
            result_ = ExportReport();
    }
    if (!result_ && !linkStopped())
        Platform::showMessage(QString::fromLatin1(kNoReport), ownerForm);
    FormClose();
}

TZ960Report::~TZ960Report() = default;

void TZ960Report::FormClose()
{
    for (Lines *l : {&infoLines, &configLines, &calLines, &basicCalLines, &totalsLines, &diagnosticLines, &notesLines})
        Lines().swap(*l);
}

void TZ960Report::LoadReportOptions()
{
    const Platform::Settings::ReportOptions o = Platform::Settings::readReportOptions();
    createPDF = o.createPDF;
    createRTF = o.createRTF;
    createCSV = o.createCSV;
    openPDF = o.openPDF;
    openRTF = o.openRTF;
    openCSV = o.openCSV;
}

// ---- the link ----------------------------------------------------------------------

bool TZ960Report::sendNullCommand()
{
    if (ops_.sendNullCommand)
        return ops_.sendNullCommand();
    return port != nullptr && port->sendNullCommand();
}

bool TZ960Report::getStucture(unsigned char n)
{
    if (ops_.getStucture)
        return ops_.getStucture(n);
    return port != nullptr && port->getStucture(n);
}

bool TZ960Report::linkStopped() const { return port != nullptr && port->stopped(); }

bool TZ960Report::readRegisters(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len)
{
    *len = 0;
    bool ok = false;
    try {
        ok = ops_.readRegisters ? ops_.readRegisters(start, count, buf, len, kRegisterTimeoutSeconds)
                                : port->readRegisters(start, count, buf, len, kRegisterTimeoutSeconds);
    } catch (const std::exception &) {
        return false; // a serial fault during the read: the next try may succeed
    }
    // A reply shorter than the registers asked for holds no usable value.
    return ok && *len >= 1u + 2u * count && buf[0] >= 2u * count;
}

bool TZ960Report::ReadHoldingRegister(unsigned short reg, unsigned short &value)
{
    if (port == nullptr || !port->portOpen)
        return false;
    if (!sendNullCommand())
        return false;
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    for (int attempt = 0; attempt < kRegisterTries; ++attempt)
        if (readRegisters(reg, 1, buf, &len)) {
            value = static_cast<unsigned short>(buf[1] * 256 + buf[2]);
            return true;
        }
    return false;
}

// ---- sections ------------------------------------------------------------------------

void TZ960Report::BuildSections()
{
    BuildInformationSection();
    BuildTotalsSection();
    BuildDiagnosticsSection();
    BuildConfigurationSection();
    BuildCalibrationSection();
    BuildBasicCalibrationSection();
}

void TZ960Report::BuildInformationSection()
{
    infoLines.clear();
    infoLines = ReportSections::informationLines({technicianName, validatorLicenseNumber, siteName},
                                                 DateTime::now(), port->calImage, port->configImage,
                                                 port->systemImage, separator);
}

void TZ960Report::BuildTotalsSection()
{
    totalsLines.clear();
    if (port == nullptr || !port->portOpen)
        return;
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    for (int attempt = 0; attempt < kTotalsTries; ++attempt)
        if (readRegisters(ReportSections::kTotalsFirstRegister, ReportSections::kTotalsRegisterCount, buf, &len)) {
            totalsLines = ReportSections::totalsLines(ReportSections::decodeTotals(buf, len), separator);
            return;
        }
}

void TZ960Report::BuildDiagnosticsSection()
{
    diagnosticLines.clear();
    ReportSections::Uptime uptime;
    unsigned short value = 0;
    if (ReadHoldingRegister(ReportSections::kUptimeDaysRegister, value))
        uptime.days = value;
    if (ReadHoldingRegister(ReportSections::kUptimeHoursRegister, value))
        uptime.hours = value;
    diagnosticLines = ReportSections::diagnosticLines(port->statusImage, port->systemImage, uptime, separator);
}

void TZ960Report::BuildConfigurationSection()
{
    configLines.clear();
    configLines = ReportSections::configurationLines(port->configImage, separator);
}

void TZ960Report::BuildCalibrationSection()
{
    calLines.clear();
    calLines = ReportSections::calibrationLines(port->calImage, separator);
}

void TZ960Report::BuildBasicCalibrationSection()
{
    basicCalLines.clear();
    basicCalLines = ReportSections::basicCalibrationLines(port->basicCalImage, separator);
}

// ---- the value callback ------------------------------------------------------------------

std::string TZ960Report::title() const { return ReportSections::reportTitle(port->calImage, port->basicCalImage); }

void TZ960Report::rptReport1GetValue(const QString &VarName, QVariant &Value)
{
    const auto is = [&VarName](const char *name) {
        return VarName.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    if (is("ReportTitle")) {
        Value = q(title());
        return;
    }
    if (is("FooterText")) {
        if (!validatorLicenseNumber.empty())
            Value = q("Validator ID: " + validatorLicenseNumber);
        return;
    }
    if (is("Notes1")) {
        Value = q(lineAt(notesLines, rptNotesDS.RecNo));
        return;
    }
    const struct {
        const char *left, *right;
        const Lines &lines;
        const TRptUserDataSet &dataSet;
    } columns[] = {
        {"siteInfo1", "siteInfo2", infoLines, rptInfoDS},
        {"Totals1", "Totals2", totalsLines, rptTotalsDS},
        {"Diagnostic1", "Diagnostic2", diagnosticLines, rptDiagnosticDS},
        {"Configuration1", "Configuration2", configLines, rptConfigDS},
        {"Calibration1", "Calibration2", calLines, rptCalDS},
        {"BasicCalibration1", "BasicCalibration2", basicCalLines, rptBasicCalDS},
    };
    for (const auto &c : columns) {
        const bool left = is(c.left);
        if (left || is(c.right)) {
            const auto split = ReportSections::splitColumns(lineAt(c.lines, c.dataSet.RecNo));
            Value = q(left ? split.first : split.second);
            return;
        }
    }
}

// ---- export ----------------------------------------------------------------------------------

QString TZ960Report::baseName() const
{
    const auto f = DateTime::decode(DateTime::now()).value_or(DateTime::Fields{});
    const auto two = [](int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); };
    return QStringLiteral("Report ") + QString::number(port->calImage.meterID()) + QStringLiteral(" - ") +
           two(f.day) + QLatin1Char(' ') + QLocale().monthName(f.month, QLocale::LongFormat) + QLatin1Char(' ') +
           QString::number(f.year) + QLatin1Char(' ') + two(f.hour) + QLatin1Char('_') + two(f.minute) +
           QLatin1Char('_') + two(f.second);
}

std::optional<QString> TZ960Report::askFile(const char *ext, const QString &name, const char *filter)
{
    Platform::SaveRequest request;
    request.title = QStringLiteral("Save Report As");
    request.defaultExt = QString::fromLatin1(ext);
    request.initialDir = q(reportDir);
    request.fileName = name;
    request.filter = QString::fromLatin1(filter);
    return Platform::prompter().chooseSaveFile(ownerForm, request);
}

bool TZ960Report::exportThrough(TRptExportFilter &filter, const QString &path, bool openAfter)
{
    filter.FileName = path;
    filter.OpenAfterExport = openAfter;
    filter.Opener = [this](const QString &written) { toOpen_ << written; };
    if (rptReport1.Export(filter))
        return true;
    Platform::showMessage(filter.failedOnFont ? QString::fromLatin1(kFontFailed) + QLatin1Char('\n') + filter.lastError
                                              : QString::fromLatin1(kWriteFailed),
                          ownerForm);
    return false;
}

bool TZ960Report::writeCsv(const QString &path)
{
    ReportSections::Sections s{infoLines, totalsLines, diagnosticLines, configLines, calLines, basicCalLines,
                               notesLines};
    const QByteArray bytes = ReportSections::csvBytes(ReportSections::csvLines(title(), s));
    // Written beside the target and renamed over it only when complete, so a
    // failure keeps any earlier file whole.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || !Platform::commitWhole(file, bytes)) {
        Platform::showMessage(QString::fromLatin1(kWriteFailed), ownerForm);
        return false;
    }
    return true;
}

bool TZ960Report::ExportReport()
{
    const std::pair<TRptUserDataSet *, const Lines *> sets[] = {
        {&rptInfoDS, &infoLines},     {&rptTotalsDS, &totalsLines}, {&rptDiagnosticDS, &diagnosticLines},
        {&rptConfigDS, &configLines}, {&rptCalDS, &calLines},       {&rptBasicCalDS, &basicCalLines},
        {&rptNotesDS, &notesLines},
    };
    for (const auto &[ds, lines] : sets) {
        ds->RangeEnd = TRptRangeEnd::reCount;
        ds->RangeEndCount = static_cast<int>(lines->size());
    }
    pumpMessages();
    const bool laidOut = rptReport1.PrepareReport();
    if (!laidOut && (createPDF || createRTF))
        Platform::showMessage(QString::fromLatin1(kLayoutFailed) + QStringLiteral("\n") + rptReport1.lastError,
                              ownerForm);

    const QString base = baseName();
    bool result = false;
    // A font that cannot be used spoils only the PDF file: no file is asked for.
    const QStringList fontFailures = laidOut ? rptReport1.prepared().fontFailures : QStringList();
    if (createPDF && laidOut && !fontFailures.isEmpty()) {
        Platform::showMessage(QString::fromLatin1(kFontFailed) + QLatin1Char('\n') + fontFailures.join(QLatin1Char('\n')),
                              ownerForm);
    } else if (createPDF && laidOut) {
        if (const auto path = askFile("pdf", base + QStringLiteral(".pdf"), "PDF files (*.pdf)"))
            result = exportThrough(rptPDFExport1, *path, openPDF) || result;
        else
            Platform::showMessage(QStringLiteral("Pdf report cancelled."), ownerForm);
    }
    if (createRTF && laidOut) {
        if (const auto path = askFile("rtf", base + QStringLiteral(".rtf"), "RTF files (*.rtf)"))
            result = exportThrough(rptRTFExport1, *path, openRTF) || result;
        else
            Platform::showMessage(QStringLiteral("Rtf report cancelled."), ownerForm);
    }
    if (createCSV) {
        if (const auto path = askFile("csv", base + QStringLiteral(".csv"), "CSV files (*.csv)")) {
            separator = ReportSections::kCsvSeparator;
            BuildSections(); // fresh registers and date for the CSV file
            // Stopped during those reads, the sections lack what they read:
            // no CSV file is written, and nothing more is said.
            if (linkStopped()) {
                openWrittenFiles(false);
                return result;
            }
            if (writeCsv(*path)) {
                result = true;
                if (openCSV)
                    toOpen_ << *path;
            }
        } else {
            Platform::showMessage(QStringLiteral("Csv report cancelled."), ownerForm);
        }
    }
    openWrittenFiles(true);
    return result;
}

void TZ960Report::openWrittenFiles(bool tell)
{
    QStringList unopened;
    for (const QString &path : std::exchange(toOpen_, {}))
        if (!Platform::shellOpen(path, tell ? Platform::tellWhenFailed(path, ownerForm) : Platform::OpenFailed()))
            unopened << path;
    // Every file no opener could be started for in one message: the files stay written.
    if (tell)
        Platform::tellUnopened(unopened, ownerForm);
}
