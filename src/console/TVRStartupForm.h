// The start-up window: the program's main window for its whole run. The
// technician picks a present serial port and a Modbus address here and
// connects; the window also opens the options, the about box and the data
// folder. It talks to no meter itself.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <string>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

class TVRStartupForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TVRStartupForm(QWidget *Owner = nullptr);
    ~TVRStartupForm() override;

    void LoadSettings();
    void SaveSettings();
    static bool IsValidAddress(int address);

    void ConnectBtnClick();
    void About1Click();
    void Exit2Click();
    void AvailComportComboBoxChange();
    void RefreshComportListClick();
    void ExploreDatafolders1Click();
    void ProgramOptions1Click();
    // The address field's key filter: false discards the key.
    bool AddressEditBoxKeyPress(QChar key);
    void AddressEditBoxChange();

    // Selects "Com" + number when that port is listed (the command line's --port).
    void PreselectPort(int number);

    // Runs the main window for one connection, modally. Tests replace it.
    using MainWindowRunner =
        std::function<void(TVRStartupForm &owner, const std::string &comPortText, uint16_t modbusAddress)>;
    MainWindowRunner runMainWindow;
    static void RunInterfaceForm(TVRStartupForm &owner, const std::string &comPortText, uint16_t modbusAddress);

    const std::string &comPortValue() const { return comPort; }
    int modbusAddressValue() const { return modbusAddress; }
    int pathOptionIndexValue() const { return pathOptionIndex; }
    const QString &customPathValue() const { return customPath; }

    QLabel *Label2;
    QLineEdit *AddressEditBox;
    QLabel *Label1;
    QComboBox *AvailComportComboBox;
    QPushButton *ConnectBtn;
    QPushButton *RefreshComportList;
    QMenu *Exit1;
    QAction *ExploreDatafolders1;
    QAction *Exit2;
    QAction *ProgramOptions1;
    QAction *About1;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void ScanPorts();
    void SelectPort();
    void showAddressValid(bool valid);
    // While a connection runs, and still while it ends after its window has
    // closed (its link not yet freed), Connect, Options and About would run
    // inside it: the action waits and runs once it has ended. True when deferred.
    bool deferWhileConnected(void (TVRStartupForm::*action)());

    std::string comPort;
    QString customPath;
    int pathOptionIndex = 0;
    int modbusAddress = 1;
    bool centred = false;
    bool connectionRunning = false;
    void (TVRStartupForm::*pendingAction)() = nullptr;
};

// The one start-up window while the program runs.
extern TVRStartupForm *VRStartupForm;
