// A one-line query (the access code at login). Digits and letters pass the
// key filter, Enter confirms; the caller decides what it accepts.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TStringQuery : public QDialog {
    Q_OBJECT
public:
    explicit TStringQuery(QWidget *Owner);

    void FormShow();
    // The key filter: false discards the key.
    bool EditKeyPress(QChar key);

    QLabel *Label;
    QLineEdit *Edit;
    QPushButton *OkBtn;
    QPushButton *CancelBtn;

protected:
    void showEvent(QShowEvent *event) override;
};
