// The port settings dialog: lets the user choose the port and the line
// settings of one serial component.
//
//   TSerConfigDialog dialog(owner);
//   dialog.SetComm(comm);        // a closed component
//   dialog.Execute();            // 1 after OK (settings taken over), 2 after Cancel
//
// The form is modal and runs through Platform::prompter().runDialog, so
// tests answer it headless. Each Execute builds a new form and frees it
// before returning, also when taking over the settings raises.
#pragma once

#include "serial/SerClasses.h"

#include <QDialog>
#include <QGroupBox>
#include <QPointer>
#include <QStringList>

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class TSerComm;

// A framed group of radio buttons, laid out column by column, whose
// selection is one index (-1 for none).
class TSerRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TSerRadioGroup(const QString &caption, const QStringList &items, int columns, QWidget *parent);

    int ItemIndex() const;
    // An index outside the items clears the selection.
    void SetItemIndex(int index);
    int Count() const { return int(FButtons.size()); }
    QRadioButton *Button(int index) const { return FButtons.at(index); }

private:
    QButtonGroup *FGroup;
    std::vector<QRadioButton *> FButtons;
};

class TSerConfigForm : public QDialog {
    Q_OBJECT
public:
    explicit TSerConfigForm(QWidget *parent = nullptr);

    // Shows the user-rate field exactly while "user" is the chosen rate.
    void BAUDRATESChange();

    QLabel *Label1;
    QComboBox *COMPORTS;
    QLabel *Label2;
    QComboBox *BAUDRATES;
    QSpinBox *USERBAUDRATE;
    TSerRadioGroup *STOPBITS;
    TSerRadioGroup *PARITYSETTING;
    TSerRadioGroup *DATABITS;
    TSerRadioGroup *FLOWSETTING;
    QPushButton *Button1;
    QPushButton *Button2;
    TSerComm *SerComm1; // the form's own component with default settings; unused

private:
    void SetTabOrder();
};

class TSerConfigDialog : public TSerComponent {
    Q_OBJECT
public:
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;

    explicit TSerConfigDialog(QObject *AOwner = nullptr);

    // The component whose settings the dialog edits; cleared by itself when
    // that component is destroyed.
    TSerComm *Comm() const { return FComm.data(); }
    void SetComm(TSerComm *Value) { FComm = Value; }

    // Shows the form for Comm. After OK, Comm carries the chosen port (when
    // one was chosen), line settings and flow choice; after Cancel it is
    // unchanged. Raises std::runtime_error "No TSerComm instance assigned."
    // without Comm, and passes on a refusal of the component (an open port).
    int Execute();

private:
    void LoadForm(TSerConfigForm &form) const;
    void StoreForm(const TSerConfigForm &form) const;

    QPointer<TSerComm> FComm;
};
