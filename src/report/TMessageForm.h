// A small message box of our own: an empty line, then the text, and "Ok".
// It stays above the other windows until it is closed, and keeps its size.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;
class QPushButton;

class TMessageForm : public QDialog {
    Q_OBJECT
public:
    TMessageForm(QWidget *Owner, const std::string &text);

    QPlainTextEdit *Memo1;
    QPushButton *OkButton;

private:
    void placeControls();
};
