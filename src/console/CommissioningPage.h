// The commissioning page: one run of fixed steps that prepares a meter for
// service. After three confirmations it stops the scheduler, sets the meter
// clock to the PC's, clears the reset counter, zeroes the totalisers, clears
// the data-flash logs (the meter reboots), waits for the meter to answer again
// and has it back up its calibration and configuration files to the card.
//
// How the main window embeds it (a plain PageHost is enough):
//
//   commissioningPage = new CommissioningPage(*this, Commision);   // fills the "Commision" sheet
#pragma once

#include <QString>
#include <QWidget>

class PageHost;
class QPlainTextEdit;
class QPushButton;
class TDlProgForm;
class Z960Port;

class CommissioningPage : public QWidget {
    Q_OBJECT
public:
    explicit CommissioningPage(PageHost &host, QWidget *parent = nullptr);

    // Runs the whole sequence; returns when it has ended.
    void StartCommisioningBtnClick(QObject *Sender);

    // The bar position while the meter reboots: one percent for every 1.8 s
    // since the logs were cleared, held within 0 to 100.
    static int RebootProgress(long long elapsedSeconds);

    // The meter is left alone this long (link milliseconds) after the logs
    // were cleared, then pinged until it answers, at most until the limit.
    static constexpr unsigned kRebootQuietMs = 20000;
    static constexpr unsigned kRebootLimitMs = 300000;
    // The two in use (tests shorten them).
    unsigned rebootQuietMs = kRebootQuietMs;
    unsigned rebootLimitMs = kRebootLimitMs;

    QPushButton *StartCommisioningBtn;
    QPlainTextEdit *CommisioningMemo;

private:
    struct Run;

    bool runSteps(Run &run);
    bool confirm(const char *question);
    bool waitForReboot(Run &run, Z960Port *&port);
    void setProgress(const char *caption, int position);
    void finish(Run &run);
    Z960Port *live() const;

    PageHost &host_;
    TDlProgForm *progress_ = nullptr;
};
