#include "console/TVRStartupForm.h"

#include "console/DataFolders.h"
#include "console/ProgramInfo.h"
#include "console/TAboutBox.h"
#include "console/TOptionsForm.h"
#include "console/TZ960InterfaceForm.h"
#include "platform/IntConvert.h"
#include "platform/KeyPressFilter.h"
#include "platform/PortMap.h"
#include "platform/Prompter.h"
#include "platform/SettingsFile.h"
#include "platform/ShellOpen.h"
#include "platform/WindowFrame.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <memory>

TVRStartupForm *VRStartupForm = nullptr;

namespace {

namespace S = Platform::Settings;

// Every handler reports its exceptions the way the application's top-level
// handler does and lets the program go on.
template <typename F>
auto guardedSlot(F fn)
{
    return [fn](auto &&...) { Platform::guarded(fn); };
}

QString portText(int number) { return QStringLiteral("Com") + QString::number(number); }

} // namespace

TVRStartupForm::TVRStartupForm(QWidget *Owner) : QMainWindow(Owner), runMainWindow(&RunInterfaceForm)
{
    setObjectName(QStringLiteral("VRStartupForm"));
    setWindowTitle(QString::fromUtf8(Console::CaptionPrefix) + QString::fromUtf8(Console::VersionText));

    auto *client = new QWidget(this);
    client->setFixedSize(438, 199);
    setCentralWidget(client);

    Label2 = new QLabel(QStringLiteral("Modbus address "), client);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(40, 28, 130, 22);

    AddressEditBox = new QLineEdit(client);
    AddressEditBox->setObjectName(QStringLiteral("AddressEditBox"));
    AddressEditBox->setToolTip(QStringLiteral("Default value = 1  (Valid ranges 0 - 15, 17 - 247)"));
    AddressEditBox->setGeometry(180, 26, 80, 26);
    Platform::KeyPressFilter::install(AddressEditBox, [this](QChar key) { return AddressEditBoxKeyPress(key); });
    connect(AddressEditBox, &QLineEdit::textChanged, this, guardedSlot([this] { AddressEditBoxChange(); }));

    Label1 = new QLabel(QStringLiteral("Available Com ports"), client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(40, 70, 130, 22);

    AvailComportComboBox = new QComboBox(client);
    AvailComportComboBox->setObjectName(QStringLiteral("AvailComportComboBox"));
    AvailComportComboBox->setEditable(true);
    AvailComportComboBox->setInsertPolicy(QComboBox::NoInsert);
    AvailComportComboBox->setGeometry(180, 68, 120, 26);
    connect(AvailComportComboBox, &QComboBox::activated, this, guardedSlot([this] { AvailComportComboBoxChange(); }));
    connect(AvailComportComboBox->lineEdit(), &QLineEdit::textEdited, this,
            guardedSlot([this] { AvailComportComboBoxChange(); }));

    RefreshComportList = new QPushButton(QStringLiteral(" Refresh List of available ports "), client);
    RefreshComportList->setObjectName(QStringLiteral("RefreshComportList"));
    RefreshComportList->setGeometry(180, 106, 218, 28);
    connect(RefreshComportList, &QPushButton::clicked, this, guardedSlot([this] { RefreshComportListClick(); }));

    ConnectBtn = new QPushButton(QStringLiteral("Connect"), client);
    ConnectBtn->setObjectName(QStringLiteral("ConnectBtn"));
    ConnectBtn->setGeometry(180, 150, 120, 32);
    connect(ConnectBtn, &QPushButton::clicked, this, guardedSlot([this] { ConnectBtnClick(); }));

    Exit1 = menuBar()->addMenu(QStringLiteral("File"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    ExploreDatafolders1 = Exit1->addAction(QStringLiteral("Open Data Folders"));
    ExploreDatafolders1->setObjectName(QStringLiteral("ExploreDatafolders1"));
    connect(ExploreDatafolders1, &QAction::triggered, this, guardedSlot([this] { ExploreDatafolders1Click(); }));
    Exit2 = Exit1->addAction(QStringLiteral("Exit"));
    Exit2->setObjectName(QStringLiteral("Exit2"));
    connect(Exit2, &QAction::triggered, this, guardedSlot([this] { Exit2Click(); }));
    ProgramOptions1 = menuBar()->addAction(QStringLiteral("Options"));
    ProgramOptions1->setObjectName(QStringLiteral("ProgramOptions1"));
    connect(ProgramOptions1, &QAction::triggered, this, guardedSlot([this] { ProgramOptions1Click(); }));
    About1 = menuBar()->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));
    connect(About1, &QAction::triggered, this, guardedSlot([this] { About1Click(); }));

    setFixedSize(438, 199 + menuBar()->sizeHint().height());

    ScanPorts();
    LoadSettingsTellingASetAsideFile();
    SelectPort();
}

TVRStartupForm::~TVRStartupForm()
{
    if (VRStartupForm == this)
        VRStartupForm = nullptr;
}

void TVRStartupForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (centred)
        return;
    centred = true;
    Platform::centreOnScreen(*this);
}

bool TVRStartupForm::IsValidAddress(int address)
{
    return (address >= 0 && address <= 15) || (address >= 17 && address <= 247);
}

void TVRStartupForm::ScanPorts()
{
    AvailComportComboBox->clear();
    for (int number : Platform::presentPorts())
        AvailComportComboBox->addItem(portText(number));
}

void TVRStartupForm::SelectPort()
{
    const int count = AvailComportComboBox->count();
    if (count == 0) {
        AvailComportComboBox->setCurrentIndex(-1);
        AvailComportComboBox->setEditText({});
        return;
    }
    int index = 0;
    if (!comPort.empty())
        index = std::max(0, AvailComportComboBox->findText(QString::fromStdString(comPort), Qt::MatchExactly));
    AvailComportComboBox->setCurrentIndex(index);
}

void TVRStartupForm::PreselectPort(int number)
{
    const int index = AvailComportComboBox->findText(portText(number), Qt::MatchExactly);
    if (index >= 0)
        AvailComportComboBox->setCurrentIndex(index);
}

void TVRStartupForm::LoadSettings()
{
    {
        const Platform::IniFile file = S::open();
        comPort = S::read(file, S::Comport).toStdString();
        modbusAddress = S::read(file, S::Address);
        customPath = S::read(file, S::CustomPath);
        pathOptionIndex = S::read(file, S::PathOptionIndex);
    }
    if (!IsValidAddress(modbusAddress))
        modbusAddress = 1;
    const QString text = QString::number(modbusAddress);
    // Putting the address into the field is a change like any other, and saves it.
    if (AddressEditBox->text() == text)
        Platform::guarded([this] { AddressEditBoxChange(); });
    else
        AddressEditBox->setText(text);
}

void TVRStartupForm::LoadSettingsTellingASetAsideFile()
{
    // Told once: the save that loading makes records in the per-user copy
    // that it stands in for the file set aside.
    const QString setAside = S::setAsideNotice();
    LoadSettings();
    if (!setAside.isEmpty() && S::userCopyStandsIn())
        Platform::showMessage(setAside, this);
}

void TVRStartupForm::SaveSettings()
{
    Platform::IniFile file = S::open();
    S::write(file, S::Comport, QString::fromStdString(comPort));
    S::write(file, S::Address, IsValidAddress(modbusAddress) ? modbusAddress : 1);
}

bool TVRStartupForm::AddressEditBoxKeyPress(QChar key)
{
    const char16_t c = key.unicode();
    return c == 8 || c == 12 || (c >= '0' && c <= '9');
}

void TVRStartupForm::showAddressValid(bool valid)
{
    QPalette palette = AddressEditBox->palette();
    palette.setColor(QPalette::Text, valid ? QColor(0, 0, 0) : QColor(255, 0, 0));
    AddressEditBox->setPalette(palette);
    QFont font = AddressEditBox->font();
    font.setBold(!valid);
    AddressEditBox->setFont(font);
}

void TVRStartupForm::AddressEditBoxChange()
{
    const QString text = AddressEditBox->text();
    if (text.isEmpty())
        return;
    const int value = Platform::StrToInt(text);
    if (!IsValidAddress(value)) {
        showAddressValid(false);
        return;
    }
    showAddressValid(true);
    modbusAddress = value;
    SaveSettings();
}

void TVRStartupForm::AvailComportComboBoxChange()
{
    // A typed text that names no listed port is no selection.
    const QString text = AvailComportComboBox->currentText();
    if (AvailComportComboBox->findText(text, Qt::MatchExactly) < 0)
        return;
    comPort = text.toStdString();
    SaveSettings();
}

void TVRStartupForm::RefreshComportListClick()
{
    ScanPorts();
    LoadSettingsTellingASetAsideFile();
    SelectPort();
}

void TVRStartupForm::ConnectBtnClick()
{
    if (deferWhileConnected(&TVRStartupForm::ConnectBtnClick))
        return; // a second connection would find the port still held
    const QString text = AddressEditBox->text();
    if (text.isEmpty()) {
        Platform::showMessage(QStringLiteral("Please enter modbus address"), this);
        return;
    }
    // A text that is no number (pasted, or too long for an integer) is refused
    // like any other address out of range.
    const auto value = Platform::tryStrToInt(text);
    if (!value || !IsValidAddress(*value)) {
        Platform::showMessage(QStringLiteral("Modbus address is our of range"), this);
        return;
    }
    const QString port = AvailComportComboBox->currentText();
    if (port.isEmpty() || AvailComportComboBox->findText(port, Qt::MatchExactly) < 0) {
        Platform::showMessage(QStringLiteral("Please select one of the available com ports"), this);
        return;
    }
    comPort = port.toStdString();
    SaveSettings();

    // Whatever becomes of the main window, this window is shown again, and
    // what was asked for while the connection ended runs now, unless the
    // program is ending.
    struct Connection {
        TVRStartupForm &form;
        explicit Connection(TVRStartupForm &f) : form(f) { form.connectionRunning = true; }
        ~Connection()
        {
            form.connectionRunning = false;
            if (form.programEnding)
                return;
            form.setVisible(true);
            form.scheduleHeldBackAction();
        }
        Connection(const Connection &) = delete;
        Connection &operator=(const Connection &) = delete;
    } connection(*this);
    runMainWindow(*this, comPort, static_cast<uint16_t>(modbusAddress));
}

bool TVRStartupForm::deferWhileConnected(Action action)
{
    if (!connectionRunning)
        return false;
    // Asked for twice, it still runs once, in its first place.
    if (std::find(heldBack.begin(), heldBack.end(), action) == heldBack.end())
        heldBack.push_back(action);
    return true;
}

void TVRStartupForm::scheduleHeldBackAction()
{
    if (heldBackScheduled || heldBack.empty())
        return;
    heldBackScheduled = true;
    QTimer::singleShot(0, this, guardedSlot([this] {
        heldBackScheduled = false;
        runHeldBackAction();
    }));
}

void TVRStartupForm::runHeldBackAction()
{
    if (connectionRunning || programEnding || heldBack.empty())
        return; // a connection that ends hands on to the next one itself
    const Action action = heldBack.front();
    heldBack.erase(heldBack.begin());
    // The next one follows once this one has ended, however it ends.
    struct Next {
        TVRStartupForm &form;
        ~Next() { form.scheduleHeldBackAction(); }
    } next{*this};
    (this->*action)();
}

void TVRStartupForm::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    programEnding = true;
    heldBack.clear();
    // A connection still ending would keep the program running until its
    // meter answered: it is stopped now.
    for (TZ960InterfaceForm *main : findChildren<TZ960InterfaceForm *>())
        main->EndProgram();
}

void TVRStartupForm::RunInterfaceForm(TVRStartupForm &owner, const std::string &comPortText, uint16_t modbusAddress)
{
    auto form = std::make_unique<TZ960InterfaceForm>(&owner, &owner, comPortText, modbusAddress);
    form->setWindowState(Qt::WindowNoState);
    QCoreApplication::processEvents();
    form->ShowModal();
}

void TVRStartupForm::ExploreDatafolders1Click()
{
    LoadSettings();
    const QString dataRoot = Console::CreateDataRoot(pathOptionIndex, customPath);
    Platform::shellOpenOrTell(Console::DataFolderOf(dataRoot), this);
}

void TVRStartupForm::ProgramOptions1Click()
{
    if (deferWhileConnected(&TVRStartupForm::ProgramOptions1Click))
        return;
    TOptionsForm form(this);
    Platform::prompter().runDialog(form);
}

void TVRStartupForm::About1Click()
{
    if (deferWhileConnected(&TVRStartupForm::About1Click))
        return;
    TAboutBox box(this);
    Platform::prompter().runDialog(box);
}

void TVRStartupForm::Exit2Click() { close(); }
