// The report launch: the meter report reads the meter and writes its files
// from its constructor, so building it is the whole job; it is freed at once.
#include "console/TZ960InterfaceForm.h"

#include "report/Z960ReportUnit.h"

void RunMeterReport(const ReportRequest &request)
{
    // The report names its folder with 8-bit text as the platform encodes paths.
    const std::string reportDir = request.reportDir.toLocal8Bit().toStdString();
    TZ960Report report(request.owner, request.port, reportDir, request.technicianName,
                       request.validatorLicenseNumber, request.siteName, request.notes);
}
