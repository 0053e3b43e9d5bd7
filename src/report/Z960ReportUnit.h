// TZ960Report: the meter report. Its constructor does the whole job: it pings
// the meter, reads the status and system structures, builds the seven
// sections, lays them out through the report template and writes the PDF,
// RTF and CSV files that the report options allow, each offered in a save
// dialog, and hands those the options open to the desktop once the last
// dialog has closed; "No report was generated!" when none was written, unless the link
// was stopped meanwhile (its window closed), which ends the report quietly.
// The object is a hidden widget that the caller deletes when the constructor
// has returned.
//
//   TZ960Report report(this, port, meterDir, name, licence, site, notes);
#pragma once

#include "report/ReportSections.h"
#include "report/RptPdfExport.h"
#include "report/RptReport.h"
#include "report/RptRtfExport.h"

#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class Z960Port;

class TZ960Report : public QWidget {
public:
    using Lines = ReportSections::Lines;

    // The link operations the report uses. An empty member calls the link's
    // own operation; tests put scripted answers in their place.
    struct LinkOps {
        std::function<bool()> sendNullCommand;
        std::function<bool(unsigned char structure)> getStucture;
        std::function<bool(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                           unsigned short timeoutSeconds)>
            readRegisters;
    };

    static constexpr const char *kNoReport = "No report was generated!";
    static constexpr const char *kWriteFailed =
        "Unable to open/create Report data file. If file is in use please close it before trying again.";
    // Shown, followed by the reason, when the pages cannot be laid out at
    // all: the CSV file is still offered.
    static constexpr const char *kLayoutFailed = "The report's pages cannot be laid out, so no PDF or RTF file is written.";
    // Shown, followed by the reason (the font file, its package and what is
    // wrong with it), when a font of the report cannot be read, cut down or
    // used: the RTF and CSV files are still offered.
    static constexpr const char *kFontFailed = "No PDF file was written: a font of the report cannot be used.";
    static constexpr int kTotalsTries = 7;
    static constexpr int kRegisterTries = 6;
    static constexpr unsigned short kRegisterTimeoutSeconds = 5;

    TZ960Report(QWidget *Owner, Z960Port *port, const std::string &reportDir, const std::string &technicianName,
                const std::string &validatorLicenseNumber, const std::string &siteName, const QStringList &notes,
                LinkOps ops = {});
    ~TZ960Report() override;
    TZ960Report(const TZ960Report &) = delete;
    TZ960Report &operator=(const TZ960Report &) = delete;

    // The report engine's value event: the texts of the template's variables.
    void rptReport1GetValue(const QString &VarName, QVariant &Value);
    // Frees the seven lists.
    void FormClose();

    // Whether a file was written (the constructor's result flag).
    bool generated() const { return result_; }
    // The pages as laid out for the PDF and RTF files.
    const Rpt::PreparedReport &preparedReport() const { return rptReport1.prepared(); }

    TRptReport rptReport1;
    TRptUserDataSet &rptInfoDS, &rptConfigDS, &rptCalDS, &rptBasicCalDS, &rptTotalsDS, &rptDiagnosticDS, &rptNotesDS;
    TRptPDFExport rptPDFExport1;
    TRptRTFExport rptRTFExport1;

private:
    void LoadReportOptions();
    void BuildInformationSection();
    void BuildTotalsSection();
    void BuildDiagnosticsSection();
    void BuildConfigurationSection();
    void BuildCalibrationSection();
    void BuildBasicCalibrationSection();
    void BuildSections();
    bool ReadHoldingRegister(unsigned short reg, unsigned short &value);
    bool ExportReport();

    bool sendNullCommand();
    bool getStucture(unsigned char n);
    // One register read; a short reply or a serial exception is a failed try.
    bool readRegisters(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len);
    // The link was stopped: the report ends without a word.
    bool linkStopped() const;
    std::string title() const;
    QString baseName() const;
    std::optional<QString> askFile(const char *ext, const QString &name, const char *filter);
    bool exportThrough(TRptExportFilter &filter, const QString &path, bool openAfter);
    bool writeCsv(const QString &path);
    // Hands the written files that the options open to the desktop, once
    // the last save dialog has closed, so that no opener's message comes
    // over a dialog. Told (unless the report was stopped): the files no
    // opener could be started for, in one message, and each opener that
    // fails later, in a message of its own.
    void openWrittenFiles(bool tell);

    Z960Port *port;
    LinkOps ops_;
    Lines infoLines, configLines, calLines, basicCalLines, totalsLines, diagnosticLines, notesLines;
    std::string reportDir;
    bool createPDF = true, createRTF = false, createCSV = false;
    bool openPDF = false, openRTF = false, openCSV = false;
    std::string separator;
    std::string technicianName, siteName, validatorLicenseNumber;
    QWidget *ownerForm;
    bool result_ = false;
    QStringList toOpen_;  // written files to open once the dialogs are done
};
