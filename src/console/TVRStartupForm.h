// The start-up window: the program's main window for its whole run. The
// technician picks a present serial port and a Modbus address here and
// connects; the window also opens the options, the about box and the data
// folder. It talks to no meter itself.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
    // Closing this window ends the program: a connection that is still
    // ending is stopped at once, and nothing held back runs.
    void closeEvent(QCloseEvent *event) override;

private:
    void ScanPorts();
    void SelectPort();
    // LoadSettings, telling the technician where his settings go from now on
    // when his settings file has just been set aside.
    void LoadSettingsTellingASetAsideFile();
    void showAddressValid(bool valid);
    using Action = void (TVRStartupForm::*)();
    // While a connection runs, and still while it ends after its window has
    // closed (its link not yet freed), Connect, Options and About would run
    // inside it: the action is held back and runs once it has ended, after
    // those asked for before it. True when held back.
    bool deferWhileConnected(Action action);
    // Runs the first action held back; the rest follow one by one, each once
    // the one before has ended (a Connect: once its connection has ended).
    void runHeldBackAction();
    void scheduleHeldBackAction();

    std::string comPort;
    QString customPath;
    int pathOptionIndex = 0;
    int modbusAddress = 1;
    bool centred = false;
    bool connectionRunning = false;
    bool programEnding = false;
    std::vector<Action> heldBack; // in the order they were asked for, each once
    bool heldBackScheduled = false;
};

// The one start-up window while the program runs.
extern TVRStartupForm *VRStartupForm;
