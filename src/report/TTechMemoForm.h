// The technician's entries for a report: name, site, validator licence
// number ("DAV" and up to five digits) and notes. The caller fills and reads
// the controls directly.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TTechMemoForm : public QDialog {
    Q_OBJECT
public:
    explicit TTechMemoForm(QWidget *Owner);

    void OKBtnClick();
    // The key filter of the validator number: false discards the key.
    bool ValidatorLicenseNumberEBKeyPress(QChar key);
    void ValidatorLicenseNumberEBKeyUp();
    void ShowMessageForm(const std::string &text);

    // The memo's lines as a list of lines counts them: an empty last line is none.
    static int memoLineCount(const QPlainTextEdit &memo);

    QLineEdit *TechnicianNameEB;
    QLineEdit *SiteNameEB;
    QLineEdit *ValidatorLicenseNumberEB;
    QLabel *Label1;
    QPlainTextEdit *Memo1;
    QPushButton *OKBtn;
    QPushButton *CancelBtn;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
