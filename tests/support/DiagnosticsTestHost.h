// A stand-in main window for the diagnostics and commissioning pages: the
// page test host plus the window's monitor recording and data root.
//
//   TestSupport::DiagnosticsTestHost host(dir.path() + "/");
//   host.base.port = &link;
//   DiagnosticsPage page(host);
//   EXPECT_EQ(*host.monitorRecording(), ...);
#pragma once

#include "console/DiagnosticsPage.h"
#include "support/PageTestHost.h"

#include <memory>

namespace TestSupport {

class DiagnosticsTestHost final : public DiagnosticsHost {
public:
    explicit DiagnosticsTestHost(QString dataRoot = {})
        : base(dataRoot), root(std::move(dataRoot)), lines(std::make_unique<QStringList>())
    {
    }

    PageTestHost base; // link, closing flag, navigation calls, lost-link answers
    QString root;
    std::unique_ptr<QStringList> lines; // reset() stands for a closed window

    QStringList *monitorRecording() override { return lines.get(); }
    QString monitorDataRoot() const override { return root; }

    Z960Port *link() const override { return base.link(); }
    bool closingDown() const override { return base.closingDown(); }
    bool beginDeviceOperation() override { return base.beginDeviceOperation(); }
    void endDeviceOperation() override { base.endDeviceOperation(); }
    void EnableNavButtons(bool enable) override { base.EnableNavButtons(enable); }
    QString meterDataDir() const override { return base.meterDataDir(); }
    QWidget *hostWindow() override { return base.hostWindow(); }
    TDlProgForm *progressForm() const override { return base.progressForm(); }
    void setProgressForm(TDlProgForm *form) override { base.setProgressForm(form); }
    bool LostLinkQuestion() override { return base.LostLinkQuestion(); }
    void ShowMonitorPage() override { base.ShowMonitorPage(); }
    QLabel *pcClockText() const override { return base.pcClockText(); }
    QLabel *sensorClockText() const override { return base.sensorClockText(); }
};

} // namespace TestSupport
