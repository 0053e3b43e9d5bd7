// The pages inside the main window and what the window offers them as their
// host: the information tree, the data page's file list and download
// progress, the clock display, and the device operations of page buttons.
#include "console/TZ960InterfaceForm.h"

#include "console/ClockPage.h"
#include "console/DataPage.h"
#include "console/InfoPage.h"
#include "platform/Prompter.h"

#include <QStackedWidget>
#include <QToolButton>

#include <utility>

void TZ960InterfaceForm::BuildInformationTree() { infoPage->BuildInformationTree(); }

void TZ960InterfaceForm::FilelistRefreshBtnClick(QObject *Sender)
{
    // Admits this one call of the page inside the window's own operation;
    // the first operation the page begins takes the token, so nothing that
    // runs while the list comes in is admitted with it.
    pageCallToken = true;
    dataPage->FilelistRefreshBtnClick(Sender);
    pageCallToken = false;
}

void TZ960InterfaceForm::PortFileProgress(QObject *Sender, int size, int downloaded, int temp)
{
    dataPage->PortFileProgress(Sender, size, downloaded, temp);
}

void TZ960InterfaceForm::ClockTimerTimer() { clockPage->ClockTimerTimer(); }

void TZ960InterfaceForm::MeterDataDirChanged() { dataPage->PointFolderLists(); }

bool TZ960InterfaceForm::beginDeviceOperation()
{
    // Refused while another operation runs or a poll step waits for the meter,
    // unless the window itself called the page from its own operation (once).
    const bool calledByWindow = std::exchange(pageCallToken, false);
    if (closing || (!calledByWindow && (deviceOps > 0 || pollStepRunning)))
        return false;
    ++handlerDepth;
    if (deviceOps++ == 0)
        for (QToolButton *b : navButtons())
            b->setEnabled(false);
    return true;
}

void TZ960InterfaceForm::endDeviceOperation()
{
    if (--deviceOps == 0 && !closing)
        applyNavState();
    if (--handlerDepth == 0 && closing)
        Teardown();
}

bool TZ960InterfaceForm::LostLinkQuestion()
{
    if (closing)
        return true;
    if (Platform::messageDlg(QStringLiteral("Failed to communicate with flowmeter\nClick on Yes to close connection!"),
                             Platform::MsgIcon::Warning, Platform::MsgButtons::YesNo, this)
        != Platform::MsgResult::Yes)
        return false;
    close();
    return true;
}

void TZ960InterfaceForm::ShowMonitorPage() { PageControl->setCurrentWidget(Monitor); }
