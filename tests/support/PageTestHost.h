// A stand-in main window for the data, clock and information pages: a plain
// window with the two clock labels, a meter folder, the progress dialog slot
// and a record of what the pages asked of it.
//
//   TestSupport::PageTestHost host(dir.path() + "/");
//   host.port = &link;                  // or leave null
//   DataPage page(host, host.window.get());
//   EXPECT_EQ(host.navCalls, (std::vector<bool>{false, true}));
#pragma once

#include "console/PageHost.h"
#include "console/TDlProgForm.h"

#include <QLabel>
#include <QWidget>

#include <memory>
#include <vector>

namespace TestSupport {

class PageTestHost final : public PageHost {
public:
    explicit PageTestHost(QString dataDir = {})
        : dataDir(std::move(dataDir)), window(std::make_unique<QWidget>()),
          pcLabel(new QLabel(window.get())), sensorLabel(new QLabel(window.get()))
    {
        window->resize(794, 572);
    }
    ~PageTestHost() override { delete progress; }

    Z960Port *port = nullptr;
    QString dataDir;
    std::unique_ptr<QWidget> window;
    QLabel *pcLabel;
    QLabel *sensorLabel;
    TDlProgForm *progress = nullptr;

    bool closing = false;
    bool refuseOperations = false;
    bool lostLinkAnswerYes = false;
    int operationsRunning = 0;
    int operationsStarted = 0;
    int lostLinkQuestions = 0;
    int monitorShown = 0;
    std::vector<bool> navCalls;
    int progressFormsSet = 0;

    Z960Port *link() const override { return port; }
    bool closingDown() const override { return closing; }
    bool beginDeviceOperation() override
    {
        if (refuseOperations || closing)
            return false;
        ++operationsRunning;
        ++operationsStarted;
        return true;
    }
    void endDeviceOperation() override { --operationsRunning; }
    void EnableNavButtons(bool enable) override { navCalls.push_back(enable); }
    QString meterDataDir() const override { return dataDir; }
    QWidget *hostWindow() override { return window.get(); }
    TDlProgForm *progressForm() const override { return progress; }
    void setProgressForm(TDlProgForm *form) override
    {
        progress = form;
        if (form != nullptr)
            ++progressFormsSet;
    }
    bool LostLinkQuestion() override
    {
        ++lostLinkQuestions;
        if (lostLinkAnswerYes)
            closing = true;
        return lostLinkAnswerYes;
    }
    void ShowMonitorPage() override { ++monitorShown; }
    QLabel *pcClockText() const override { return pcLabel; }
    QLabel *sensorClockText() const override { return sensorLabel; }
};

} // namespace TestSupport
