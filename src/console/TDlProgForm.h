// The progress dialog shown, without blocking, while the meter is read, its
// files are listed or downloaded, or it is commissioned. It has no close box
// and never closes by itself: its user frees it when the work is done.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QProgressBar;
class QToolButton;

class TDlProgForm : public QDialog {
    Q_OBJECT
public:
    TDlProgForm(QWidget *Owner, bool showCancel);

    // Window caption, label text and bar position (0 to 100), in this order.
    void SetProgress(const std::string &caption, const std::string &text, int position);
    // The second line under the bar (empty: none).
    void SetNote(const std::string &text);

    void CancelBtnClick();
    bool cancelledFlag() const { return cancelled; }

    QLabel *Label1;
    QProgressBar *ProgressBar1;
    QLabel *Label2;
    QToolButton *CancelBtn;

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    bool cancelled = false;
};
