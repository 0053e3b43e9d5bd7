// The report launch: builds the meter report for the request and writes its
// files. Until the report unit provides the report, no file is written and
// the technician is told so.
#include "console/TZ960InterfaceForm.h"

#include "platform/Prompter.h"

void RunMeterReport(const ReportRequest &request)
{
    Platform::showMessage(QStringLiteral("No report was generated!"), request.owner);
}
