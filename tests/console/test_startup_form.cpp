// The start-up window: port list, address field, saved settings, Connect and
// the data folder command.
#include "console/ConsoleFixture.h"
#include "console/TVRStartupForm.h"
#include "support/ColleagueLock.h"
#include "support/FreshHome.h"
#include "support/Screenshot.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QElapsedTimer>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace S = Platform::Settings;

class StartupForm : public TestSupport::ConsoleTest {
protected:
    struct Connection {
        std::string port;
        uint16_t address;
    };
    std::vector<Connection> connections;

    std::unique_ptr<TVRStartupForm> makeForm()
    {
        auto form = std::make_unique<TVRStartupForm>();
        form->runMainWindow = [this](TVRStartupForm &, const std::string &port, uint16_t address) {
            connections.push_back({port, address});
        };
        return form;
    }

    static void type(QLineEdit *edit, const QString &text)
    {
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    static bool shownRed(const QLineEdit *edit)
    {
        return edit->palette().color(QPalette::Text) == QColor(255, 0, 0) && edit->font().bold();
    }
    static bool shownBlack(const QLineEdit *edit)
    {
        return edit->palette().color(QPalette::Text) == QColor(0, 0, 0) && !edit->font().bold();
    }
    QStringList items(const QComboBox *box) const
    {
        QStringList list;
        for (int i = 0; i < box->count(); ++i)
            list << box->itemText(i);
        return list;
    }
};

TEST_F(StartupForm, WindowCarriesItsCaptionControlsAndMenu)
{
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), "Stelvanor Vantoro Version 2.10");
    EXPECT_EQ(form->centralWidget()->size(), QSize(438, 199));
    EXPECT_EQ(form->AddressEditBox->toolTip(), "Default value = 1  (Valid ranges 0 - 15, 17 - 247)");
    EXPECT_EQ(form->RefreshComportList->text(), " Refresh List of available ports ");
    EXPECT_EQ(form->Exit1->title(), "File");
    QStringList menu;
    for (auto *a : form->menuBar()->actions())
        menu << a->text();
    EXPECT_EQ(menu, QStringList({"File", "Options", "About"}));
    EXPECT_EQ(form->ExploreDatafolders1->text(), "Open Data Folders");
    EXPECT_EQ(form->Exit2->text(), "Exit");
}

TEST_F(StartupForm, FirstStartWithoutSettingsFile)
{
    setPorts({12, 3});
    auto form = makeForm();
    EXPECT_EQ(items(form->AvailComportComboBox), QStringList({"Com3", "Com12"}));
    EXPECT_EQ(form->AvailComportComboBox->currentText(), "Com3");
    EXPECT_EQ(form->AddressEditBox->text(), "1");
    // Putting the address into the field already wrote the file.
    EXPECT_EQ(ini(), "[Defaults]\nComport=\n\n[Settings]\nAddress=1\n");
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(StartupForm, SavedPortSelection)
{
    struct Case { const char *saved; std::initializer_list<int> present; const char *selected; };
    const Case cases[] = {
        {"Com5", {1, 5, 9}, "Com5"},
        {"Com7", {1, 5, 9}, "Com1"},  // gone: the first one
        {"com5", {1, 5, 9}, "Com1"},  // the text must match exactly
        {"", {4, 2}, "Com2"},
        {"Com5", {}, ""},             // nothing present: nothing selected
    };
    for (const auto &c : cases) {
        setPorts(c.present);
        writeIni(QByteArray("[Defaults]\nComport=") + c.saved + "\n");
        auto form = makeForm();
        EXPECT_EQ(form->AvailComportComboBox->currentText(), c.selected) << c.saved;
        EXPECT_EQ(form->AvailComportComboBox->currentIndex() >= 0, c.present.size() > 0) << c.saved;
    }
}

TEST_F(StartupForm, StoredAddressIsShownWhenValid)
{
    struct Case { const char *stored; const char *shown; int written; };
    const Case cases[] = {{"17", "17", 17}, {"0x11", "17", 17}, {"16", "1", 1},
                          {"300", "1", 1}, {"abc", "1", 1}, {"0", "0", 0}};
    for (const auto &c : cases) {
        writeIni(QByteArray("[Settings]\nAddress=") + c.stored + "\n");
        auto form = makeForm();
        EXPECT_EQ(form->AddressEditBox->text(), c.shown) << c.stored;
        EXPECT_EQ(S::read(settings(), S::Address), c.written) << c.stored;
    }
}

TEST_F(StartupForm, AddressChecksAndColours)
{
    auto form = makeForm();
    struct Case { const char *text; bool valid; };
    const Case cases[] = {{"0", true}, {"15", true}, {"17", true}, {"247", true},
                          {"16", false}, {"248", false}, {"999", false}};
    for (const auto &c : cases) {
        Platform::IniFile file = settings();
        S::write(file, S::Address, 5);
        form->AddressEditBox->setText("5");
        form->AddressEditBox->setText(c.text); // one change, as a paste would be
        const int stored = S::read(settings(), S::Address);
        if (c.valid) {
            EXPECT_TRUE(shownBlack(form->AddressEditBox)) << c.text;
            EXPECT_EQ(stored, QString(c.text).toInt()) << c.text;
            EXPECT_EQ(form->modbusAddressValue(), QString(c.text).toInt());
        } else {
            EXPECT_TRUE(shownRed(form->AddressEditBox)) << c.text;
            EXPECT_EQ(stored, 5) << c.text;
            EXPECT_EQ(form->modbusAddressValue(), 5);
        }
    }
}

TEST_F(StartupForm, TypingTwoTwentyFourTwoFortyEight)
{
    setPorts({1});
    auto form = makeForm();
    form->AddressEditBox->clear();
    for (const auto &[key, black, stored] : {std::tuple{"2", true, 2}, {"4", true, 24}, {"8", false, 24}}) {
        QTest::keyClicks(form->AddressEditBox, key);
        EXPECT_EQ(shownBlack(form->AddressEditBox), black);
        EXPECT_EQ(shownRed(form->AddressEditBox), !black);
        EXPECT_EQ(S::read(settings(), S::Address), stored);
    }
    form->ConnectBtnClick();
    EXPECT_EQ(prompter.texts(), QStringList({"Modbus address is our of range"}));
    EXPECT_TRUE(connections.empty());
    EXPECT_EQ(S::read(settings(), S::Address), 24);
}

TEST_F(StartupForm, KeyFilterLetsDigitsAndBackspaceThrough)
{
    auto form = makeForm();
    form->AddressEditBox->clear();
    QTest::keyClicks(form->AddressEditBox, "1a2-b. 3");
    EXPECT_EQ(form->AddressEditBox->text(), "123");
    QTest::keyClick(form->AddressEditBox, Qt::Key_Backspace);
    EXPECT_EQ(form->AddressEditBox->text(), "12");
    EXPECT_TRUE(form->AddressEditBoxKeyPress(QChar(12)));
    EXPECT_FALSE(form->AddressEditBoxKeyPress(QChar(13)));
}

TEST_F(StartupForm, PastedNonNumberIsReportedAndKeepsTheLastAddress)
{
    setPorts({1});
    auto form = makeForm();
    type(form->AddressEditBox, "33");
    for (const char *pasted : {"12ab", "99999999999"}) {
        prompter.messages.clear();
        form->AddressEditBox->setText(pasted);
        EXPECT_EQ(prompter.texts(), QStringList({QStringLiteral("'%1' is not a valid integer value").arg(pasted)}));
        EXPECT_EQ(form->AddressEditBox->text(), pasted);
        EXPECT_EQ(form->modbusAddressValue(), 33);
        // Connect does not fall back to some address of its own.
        prompter.messages.clear();
        form->ConnectBtnClick();
        EXPECT_EQ(prompter.texts(), QStringList({"Modbus address is our of range"}));
    }
    EXPECT_TRUE(connections.empty());
}

TEST_F(StartupForm, ConnectHandsPortAndAddressToTheMainWindow)
{
    setPorts({2, 6});
    auto form = makeForm();
    form->show();
    form->AvailComportComboBox->setCurrentIndex(1);
    type(form->AddressEditBox, "247");
    form->hide(); // the main window may hide it; Connect shows it again afterwards
    form->ConnectBtnClick();
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].port, "Com6");
    EXPECT_EQ(connections[0].address, 247);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(S::read(settings(), S::Comport), "Com6");
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(StartupForm, ConnectRefusals)
{
    struct Case {
        std::initializer_list<int> ports;
        const char *address;
        const char *portText; // typed into the port box; null keeps the selection
        const char *message;
    };
    const Case cases[] = {
        {{1}, "", nullptr, "Please enter modbus address"},
        {{1}, "16", nullptr, "Modbus address is our of range"},
        {{1}, "248", nullptr, "Modbus address is our of range"},
        {{}, "5", nullptr, "Please select one of the available com ports"},
        {{1}, "5", "Com9", "Please select one of the available com ports"},
        {{1}, "5", "hello", "Please select one of the available com ports"},
    };
    for (const auto &c : cases) {
        setPorts(c.ports);
        auto form = makeForm();
        form->AddressEditBox->setText(c.address);
        if (c.portText)
            form->AvailComportComboBox->setEditText(c.portText);
        const QByteArray before = ini();
        prompter.messages.clear();
        form->ConnectBtnClick();
        EXPECT_EQ(prompter.texts(), QStringList({c.message})) << c.address;
        EXPECT_EQ(ini(), before) << "nothing is saved";
    }
    EXPECT_TRUE(connections.empty());
}

TEST_F(StartupForm, PortChoiceIsSavedAtOnceAndSelectedNextTime)
{
    setPorts({1, 4});
    {
        auto form = makeForm();
        form->AvailComportComboBox->setCurrentIndex(1);
        emit form->AvailComportComboBox->activated(1);
        EXPECT_EQ(S::read(settings(), S::Comport), "Com4");
        // A half-typed text is no selection and saves nothing.
        form->AvailComportComboBox->setEditText("Co");
        form->AvailComportComboBoxChange();
        EXPECT_EQ(S::read(settings(), S::Comport), "Com4");
    }
    auto next = makeForm();
    EXPECT_EQ(next->AvailComportComboBox->currentText(), "Com4");
}

TEST_F(StartupForm, RefreshRescansAndReloads)
{
    setPorts({1});
    auto form = makeForm();
    setPorts({1, 8});
    writeIni("[Defaults]\nComport=Com8\n[Settings]\nAddress=42\n");
    QTest::mouseClick(form->RefreshComportList, Qt::LeftButton);
    EXPECT_EQ(items(form->AvailComportComboBox), QStringList({"Com1", "Com8"}));
    EXPECT_EQ(form->AvailComportComboBox->currentText(), "Com8");
    EXPECT_EQ(form->AddressEditBox->text(), "42");
    EXPECT_EQ(form->modbusAddressValue(), 42);
}

TEST_F(StartupForm, PreselectedPortFromTheCommandLine)
{
    setPorts({1, 3});
    writeIni("[Defaults]\nComport=Com1\n");
    auto form = makeForm();
    form->PreselectPort(3);
    EXPECT_EQ(form->AvailComportComboBox->currentText(), "Com3");
    form->PreselectPort(77); // not present: the selection stays
    EXPECT_EQ(form->AvailComportComboBox->currentText(), "Com3");
}

TEST_F(StartupForm, ReadOnlySettingsFileGivesWayToTheUserCopyAndConnects)
{
    const TestSupport::FreshHome home(dir.filePath("home"));
    QCoreApplication::setOrganizationName("Stelvanor");
    setPorts({1, 3});
    const QByteArray earlier = "[Defaults]\nComport=Com3\n\n[Settings]\nAddress=17\n";
    writeIni(earlier);
    ASSERT_TRUE(QFile::setPermissions(iniPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    auto form = makeForm();
    // Read from the file beside the executable, which root could write but must not.
    EXPECT_EQ(form->AvailComportComboBox->currentText(), "Com3");
    EXPECT_EQ(form->AddressEditBox->text(), "17");
    type(form->AddressEditBox, "9");
    form->AvailComportComboBox->setCurrentIndex(0);
    QTest::mouseClick(form->ConnectBtn, Qt::LeftButton);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].port, "Com1");
    EXPECT_EQ(connections[0].address, 9);
    EXPECT_EQ(ini(), earlier);
    const Platform::IniFile copy(dir.filePath("home/.config/Stelvanor/Vantoro/vantoro.ini"));
    EXPECT_EQ(S::read(copy, S::Comport), "Com1");
    EXPECT_EQ(S::read(copy, S::Address), 9);
}

// A colleague who may only read the technician's settings file holds a lock
// on it: the start-up window comes up, and Connect opens the main window, as
// soon as without it.
TEST_F(StartupForm, AColleaguesLockOnTheSettingsHoldsUpNeitherTheStartNorConnect)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hold a lock as another account";
    const TestSupport::FreshHome home(dir.filePath("home"));
    QCoreApplication::setOrganizationName("Stelvanor");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    writeIni("[Defaults]\nComport=Com1\n\n[Settings]\nAddress=17\n");
    ASSERT_EQ(::chmod(QFile::encodeName(iniPath()).constData(), 0644), 0);
    setPorts({1});
    QElapsedTimer clock;
    // The start, then Connect, each with the file locked as it is then (a
    // save puts a new file in its place); no colleague: every time 0.
    const auto startAndConnect = [&](std::optional<TestSupport::LockKind> kind) {
        qint64 took = 0;
        std::optional<TestSupport::ColleagueLock> held;
        if (kind)
            held.emplace(TestSupport::Daemon, iniPath(), *kind);
        clock.start();
        auto form = makeForm();
        took += clock.elapsed();
        if (kind) {
            EXPECT_TRUE(held->holding()) << held->output().toStdString();
            held.reset();
            held.emplace(TestSupport::Daemon, iniPath(), *kind);
        }
        clock.start();
        QTest::mouseClick(form->ConnectBtn, Qt::LeftButton);
        took += clock.elapsed();
        return took;
    };
    const qint64 without = std::min(startAndConnect({}), startAndConnect({}));
    for (const auto kind : {TestSupport::LockKind::FlockShared, TestSupport::LockKind::FlockExclusive,
                            TestSupport::LockKind::FcntlRead}) {
        SCOPED_TRACE(TestSupport::lockKindName(kind));
        connections.clear();
        EXPECT_LT(startAndConnect(kind) - without, 500) << "ms longer than without the lock";
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
        ASSERT_EQ(connections.size(), 1u);
        EXPECT_EQ(connections[0].address, 17);
    }
    EXPECT_EQ(S::read(settings(), S::Comport), "Com1");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("home/.config/Stelvanor/Vantoro/vantoro.ini")));
}

// The program's own settings file refused (not merely unwritable): the first
// start says so once, naming the file, the reason and where the settings are
// kept from then on; the file stays as it was, and later starts say nothing.
TEST_F(StartupForm, ASettingsFileSetAsideIsSaidOnce)
{
    const TestSupport::FreshHome home(dir.filePath("home"));
    QCoreApplication::setOrganizationName("Stelvanor");
    setPorts({1});
    const QString copy = dir.filePath("home/.config/Stelvanor/Vantoro/vantoro.ini");
    const QByteArray earlier = "[Defaults]\nCustomPath=/srv/planted\n\n[Settings]\nAddress=9\n";
    const auto told = [&](const char *reason) {
        return QStringLiteral("The settings file ") + iniPath() + QStringLiteral(" is not used: ") +
               QString::fromUtf8(reason) + QStringLiteral(".\nFrom now on your settings are kept in ") + copy +
               QLatin1Char('.');
    };
    struct Case {
        const char *what;
        std::function<void()> arrange;
        QString said; // empty: nothing is said
    };
    const Case cases[] = {
        {"a file every account may write",
         [&] {
             writeIni(earlier);
             ::chmod(QFile::encodeName(iniPath()).constData(), 0666);
         },
         told("every account on this computer may change it")},
        {"a folder in its place", [&] { QDir().mkpath(iniPath()); }, told("it is no ordinary file")},
        {"a link to a file of the system itself",
         [&] { QFile::link(QStringLiteral("/proc/self/environ"), iniPath()); },
         told("it is a file of the system itself")},
        // Merely unwritable: the copy takes over without a word, as for an installed program.
        {"a read-only file",
         [&] {
             writeIni(earlier);
             ::chmod(QFile::encodeName(iniPath()).constData(), 0444);
         },
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        QFileInfo before(iniPath());
        before.setCaching(false);
        const QDateTime changed = before.lastModified();
        prompter.messages.clear();
        (void)makeForm();
        EXPECT_EQ(prompter.texts(), c.said.isEmpty() ? QStringList() : QStringList{c.said});
        EXPECT_EQ(S::read(Platform::IniFile(copy), S::Address), c.said.isEmpty() ? 9 : 1)
            << "a refused file is not what the copy starts from";
        prompter.messages.clear();
        (void)makeForm();
        EXPECT_TRUE(prompter.messages.empty()) << "said once: " << prompter.texts().join('|').toStdString();
        EXPECT_EQ(before.lastModified(), changed) << "the file set aside stays as it was";
        QFile::remove(iniPath());
        QDir(iniPath()).removeRecursively();
        QDir(dir.filePath("home")).removeRecursively();
    }
}

// What the technician sees, in the program's own message box.
TEST_F(StartupForm, TheSetAsideMessageAsTheTechnicianSeesIt)
{
    const TestSupport::FreshHome home(dir.filePath("home"));
    QCoreApplication::setOrganizationName("Stelvanor");
    writeIni("[Settings]\nAddress=9\n");
    ::chmod(QFile::encodeName(iniPath()).constData(), 0666);
    Platform::setPrompter(nullptr);
    QImage shot;
    QTimer whileShown; // goes with the test, shown a box or not
    whileShown.setSingleShot(true);
    QObject::connect(&whileShown, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shot = TestSupport::screenshot(*box, QStringLiteral("startup-settings-set-aside"));
        EXPECT_EQ(box->windowTitle(), "Vantoro");
        box->accept();
    });
    whileShown.start(0);
    (void)makeForm();
    Platform::setPrompter(&prompter);
    EXPECT_FALSE(shot.isNull());
}

TEST_F(StartupForm, UnwritableSettingsAreReportedAndStopConnect)
{
    const TestSupport::FreshHome home(dir.filePath("home"));
    QCoreApplication::setOrganizationName("Stelvanor");
    // A file where the user copy's folder should go; returns the copy's path.
    const auto blockUserCopy = [this] {
        QDir().mkpath(dir.filePath("home/.config"));
        QFile blocker(dir.filePath("home/.config/Stelvanor"));
        blocker.open(QIODevice::WriteOnly);
        return dir.filePath("home/.config/Stelvanor/Vantoro/vantoro.ini");
    };
    struct Case {
        const char *what;
        std::function<QString()> block; // returns the file that cannot be written
    };
    const Case cases[] = {
        {"a disk that refuses the write", [this] { blockIni(); return iniPath(); }},
        {"a read-only file and no room for the user copy", [&] {
             writeIni("[Settings]\nAddress=1\n");
             QFile::setPermissions(iniPath(), QFile::ReadOwner);
             return blockUserCopy();
         }},
        // A folder is no settings file: the user copy would take its place.
        {"a folder where the file should be and no room for the user copy", [&] {
             QDir().mkpath(iniPath());
             return blockUserCopy();
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setPorts({1});
        prompter.messages.clear();
        connections.clear();
        const QString refused = QStringLiteral("Unable to write to ") + c.block();
        auto form = makeForm();
        // The start-up save fails, is shown, and the window still comes up.
        EXPECT_EQ(prompter.texts(), QStringList({refused}));
        EXPECT_EQ(form->AddressEditBox->text(), "1");
        prompter.messages.clear();
        type(form->AddressEditBox, "9");
        EXPECT_EQ(form->modbusAddressValue(), 9); // kept in memory only
        prompter.messages.clear();
        QTest::mouseClick(form->ConnectBtn, Qt::LeftButton);
        EXPECT_EQ(prompter.texts(), QStringList({refused}));
        EXPECT_TRUE(connections.empty());
        unblockIni();
        QDir(iniPath()).removeRecursively();
        QFile::remove(iniPath());
    }
}

TEST_F(StartupForm, FailingMainWindowIsReportedAndTheWindowComesBack)
{
    setPorts({1});
    auto form = makeForm();
    form->show();
    form->runMainWindow = [](TVRStartupForm &owner, const std::string &, uint16_t) {
        owner.hide();
        throw std::runtime_error("Cannot create data directory.");
    };
    QTest::mouseClick(form->ConnectBtn, Qt::LeftButton);
    EXPECT_EQ(prompter.texts(), QStringList({"Cannot create data directory."}));
    EXPECT_TRUE(form->isVisible());
}

TEST_F(StartupForm, WhatIsAskedForWhileAConnectionEndsRunsAfterItInOrder)
{
    // A main window that has closed but still frees its link runs inside
    // Connect; the start-up window takes clicks again meanwhile.
    using Press = std::function<void(TVRStartupForm &)>;
    const Press connect = [](TVRStartupForm &f) { f.ConnectBtn->click(); };
    const Press options = [](TVRStartupForm &f) { f.ProgramOptions1->trigger(); };
    const Press about = [](TVRStartupForm &f) { f.About1->trigger(); };
    const Press exit = [](TVRStartupForm &f) { f.Exit2->trigger(); };
    const struct {
        const char *what;
        std::vector<Press> presses;
        QStringList ranAfter; // "connect" or the dialog's title, in the order they ran
        bool shownAgain;
    } cases[] = {
        {"Connect", {connect}, {"connect"}, true},
        {"Options", {options}, {"Vantoro Program Options"}, true},
        {"About", {about}, {"About"}, true},
        {"Connect, then About", {connect, about}, {"connect", "About"}, true},
        {"About, Options, Connect", {about, options, connect}, {"About", "Vantoro Program Options", "connect"}, true},
        {"Connect twice", {connect, connect}, {"connect"}, true},
        {"About, then the program ends", {about, exit}, {}, false},
    };
    setPorts({1});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        connections.clear();
        QStringList ran;
        prompter.dialogs.clear();
        for (int i = 0; i < 3; ++i)
            prompter.dialogs.push_back([&ran](QDialog &d) {
                ran << d.windowTitle();
                return int(QDialog::Rejected);
            });
        auto form = makeForm();
        form->show();
        bool ranInside = false;
        form->runMainWindow = [&](TVRStartupForm &owner, const std::string &port, uint16_t address) {
            connections.push_back({port, address});
            if (connections.size() > 1) {
                ran << QStringLiteral("connect");
                return;
            }
            for (const Press &press : c.presses)
                press(owner);
            ranInside = !ran.isEmpty();
        };
        form->ConnectBtnClick();
        EXPECT_FALSE(ranInside);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        EXPECT_EQ(ran, c.ranAfter);
        EXPECT_EQ(form->isVisible(), c.shownAgain);
        EXPECT_TRUE(prompter.messages.empty());
    }
}

TEST_F(StartupForm, OpenDataFoldersBuildsTheTreeAndOpensTheDataFolder)
{
    writeIni("[Defaults]\nPathOptionIndex=1\n");
    auto form = makeForm();
    form->ExploreDatafolders1->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile(), known(1) + "/Stelvanor/Vantoro/data/");
    EXPECT_TRUE(QFileInfo(known(1) + "/Stelvanor/Vantoro/data").isDir());
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(StartupForm, OpenDataFoldersThatTheDesktopCannotOpenAreNamed)
{
    openRefused = true;
    auto form = makeForm();
    form->ExploreDatafolders1->trigger();
    const QString folder = known(0) + "/Stelvanor/Vantoro/data/";
    EXPECT_EQ(prompter.texts(), QStringList{unopenedText(folder)});
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(StartupForm, OpenDataFoldersStopsWhenTheDataFolderCannotBeMade)
{
    auto form = makeForm();
    writeIni(("[Defaults]\nPathOptionIndex=4\nCustomPath=" + dir.filePath("missing") + "\n").toUtf8());
    form->ExploreDatafolders1->trigger();
    EXPECT_EQ(prompter.texts(), QStringList({"unable to create directory", "unable to create directory",
                                             "Cannot create data directory."}));
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(form->pathOptionIndexValue(), 4);
}

TEST_F(StartupForm, MenuOpensOptionsAndAbout)
{
    auto form = makeForm();
    form->ProgramOptions1->trigger();
    form->About1->trigger();
    EXPECT_EQ(prompter.dialogTitles, QStringList({"Vantoro Program Options", "About"}));
    form->show();
    form->Exit2->trigger();
    EXPECT_FALSE(form->isVisible());
}

} // namespace
