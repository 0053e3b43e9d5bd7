// What the data, clock and information pages need from the main window.
//
// How the main window embeds a page: it implements PageHost, constructs each
// page with itself as host and adds the page to its page container, e.g.
//
//   dataPage = new DataPage(*this, Data);            // fills the "Data" sheet
//   clockPage = new ClockPage(*this, dataPage, Clock);
//   infoPage = new InfoPage(*this, Information);
//   port->OnDownLoadEvent = [this](QObject *s, int a, int b, int c) { dataPage->PortFileProgress(s, a, b, c); };
//   ClockTimer -> clockPage->ClockTimerTimer(); BuildInformationTree -> infoPage->BuildInformationTree();
//   the Data button's refresh -> dataPage->FilelistRefreshBtnClick(this);
//
//   CreateMeterDataDir -> dataPage->PointFolderLists() (the clock tick also follows a new folder).
//
// The window's own SetClockPanel and DlCheckBox are the pages' controls
// (clockPage->SetClockPanel, dataPage->DlCheckBox). A page given a parent
// without a layout fills it; otherwise add the page to that layout. Pages
// never free the link; they ask the host for it before every use and stop
// after a wait when the host is closing down.
#pragma once

#include <QString>

class QLabel;
class QWidget;
class TDlProgForm;
class Z960Port;

class PageHost {
public:
    virtual ~PageHost() = default;

    // The link; null before the connection sequence created it and once the
    // window has released it.
    virtual Z960Port *link() const = 0;
    // True once the window has begun to close: no further device call.
    virtual bool closingDown() const = 0;

    // A page's device operation (a click that talks to the meter). The host
    // refuses it (false) while another device operation of the window runs
    // or the window closes; while it runs, a close waits for its end before
    // the link is freed. The one page call that the host makes from inside
    // an operation of its own (the Data button's refresh) is accepted, once:
    // nothing that runs while that call waits is. Every true is matched by
    // one endDeviceOperation.
    virtual bool beginDeviceOperation() = 0;
    virtual void endDeviceOperation() = 0;

    // false disables the six navigation buttons; true re-enables them by the
    // access level read from the meter.
    virtual void EnableNavButtons(bool enable) = 0;

    // The meter's folder on the PC with its trailing "/".
    virtual QString meterDataDir() const = 0;

    // The window: owner of the progress dialog, which is centred on it.
    virtual QWidget *hostWindow() = 0;
    // The window's one progress dialog while one is shown, else null.
    virtual TDlProgForm *progressForm() const = 0;
    virtual void setProgressForm(TDlProgForm *form) = 0;

    // Asks "Failed to communicate with flowmeter\nClick on Yes to close
    // connection!" (Yes/No); Yes closes the window. True when it closes.
    virtual bool LostLinkQuestion() = 0;

    // Makes the status page (Monitor) the active page.
    virtual void ShowMonitorPage() = 0;

    // The top panel's two clock texts.
    virtual QLabel *pcClockText() const = 0;
    virtual QLabel *sensorClockText() const = 0;
};

// Holds one device operation of a page for a scope.
class PageOperation {
public:
    explicit PageOperation(PageHost &host) : host_(host), running_(host.beginDeviceOperation()) {}
    ~PageOperation()
    {
        if (running_)
            host_.endDeviceOperation();
    }
    PageOperation(const PageOperation &) = delete;
    PageOperation &operator=(const PageOperation &) = delete;
    explicit operator bool() const { return running_; }

private:
    PageHost &host_;
    bool running_;
};
