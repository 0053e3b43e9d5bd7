// The port settings dialog, headless: what it shows for a component, what
// OK takes over and what Cancel keeps.
#include "FakeCommDriver.h"
#include "PortsTestUtil.h"
#include "SerTestUtil.h"

#include "serial/SerComm.h"
#include "serial/SerConfigDialog.h"
#include "serial/SerSettings.h"
#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

#include <functional>

using namespace PortsTest;

namespace {

TSerConfigForm &formOf(QDialog &d)
{
    auto *form = qobject_cast<TSerConfigForm *>(&d);
    if (form == nullptr)
        throw std::logic_error("not the port settings form");
    return *form;
}

// Runs the dialog for comm once; `act` looks at and works the shown form and
// says how it ends (QDialog::Accepted / Rejected).
int runDialog(TSerComm &comm, std::function<int(TSerConfigForm &)> act)
{
    TestSupport::ScriptedPrompter prompter;
    prompter.dialogs.push_back([act](QDialog &d) { return act(formOf(d)); });
    TSerConfigDialog dialog;
    dialog.SetComm(&comm);
    const int result = dialog.Execute();
    EXPECT_EQ(prompter.dialogTitles, QStringList{"COM port configuration"});
    return result;
}

// Clicks a button and tells how the click ended the dialog.
int click(TSerConfigForm &form, QPushButton *button)
{
    button->click();
    return form.result();
}

// Every setting the dialog may change, for comparing before and after.
struct Snapshot {
    int port, baud, user, parity, databits, stopbits, dtr, rts;
    bool xonOut, xonIn, cts;
    bool operator==(const Snapshot &o) const
    {
        return std::tie(port, baud, user, parity, databits, stopbits, dtr, rts, xonOut, xonIn, cts) ==
               std::tie(o.port, o.baud, o.user, o.parity, o.databits, o.stopbits, o.dtr, o.rts, o.xonOut,
                        o.xonIn, o.cts);
    }
};

Snapshot snapshot(TSerComm &c)
{
    auto &f = c.FlowControl();
    return {c.PortNum(),      c.Baudrate(),     c.UserBaudrate(), c.Parity(),     c.Databits(),
            c.Stopbits(),     f.ControlDtr(),   f.ControlRts(),   f.XonXoffOut(), f.XonXoffIn(),
            f.OutCtsFlow()};
}

} // namespace

TEST(PortDialog, WithoutAComponentItRaisesBeforeShowingAnything)
{
    TestSupport::ScriptedPrompter prompter;
    TSerConfigDialog dialog;
    EXPECT_EQ(dialog.Comm(), nullptr);
    try {
        dialog.Execute();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "No TSerComm instance assigned.");
    }
    // A component that goes away is forgotten, not left dangling.
    auto comm = std::make_unique<TSerComm>();
    dialog.SetComm(comm.get());
    comm.reset();
    EXPECT_EQ(dialog.Comm(), nullptr);
    EXPECT_THROW(dialog.Execute(), std::runtime_error);
    EXPECT_TRUE(prompter.dialogTitles.isEmpty());
}

TEST(PortDialog, PreselectsTheComponentsPortOrTheFirst)
{
    const struct {
        std::vector<int> ports;
        int portNum;
        QStringList items;
        QString selected;
    } cases[] = {
        {{1, 3, 12}, 3, {"COM1", "COM3", "COM12"}, "COM3"},
        {{1, 3, 12}, 7, {"COM1", "COM3", "COM12"}, "COM1"},
        {{1, 3, 12}, 0, {"COM1", "COM3", "COM12"}, "COM1"},
        {{}, 3, {}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.portNum);
        FakePorts ports(c.ports);
        TSerComm comm;
        comm.SetPortNum(c.portNum);
        runDialog(comm, [&](TSerConfigForm &form) {
            QStringList items;
            for (int i = 0; i < form.COMPORTS->count(); ++i)
                items << form.COMPORTS->itemText(i);
            EXPECT_EQ(items, c.items);
            EXPECT_EQ(form.COMPORTS->currentText(), c.selected);
            EXPECT_EQ(form.COMPORTS->currentIndex() < 0, c.items.isEmpty());
            return QDialog::Rejected;
        });
    }
}

TEST(PortDialog, ShowsTheLineSettingsAndTheUserRateOnlyForUser)
{
    FakePorts ports({1});
    TSerComm comm;
    comm.SetBaudrate(br9600);
    comm.SetParity(paMark);
    comm.SetDatabits(db7);
    comm.SetStopbits(sb15);
    runDialog(comm, [](TSerConfigForm &form) {
        EXPECT_EQ(form.BAUDRATES->count(), 16);
        EXPECT_EQ(form.BAUDRATES->itemText(0), "user");
        EXPECT_EQ(form.BAUDRATES->itemText(15), "256000");
        EXPECT_EQ(form.BAUDRATES->currentText(), "9600");
        EXPECT_EQ(form.PARITYSETTING->ItemIndex(), int(paMark));
        EXPECT_EQ(form.DATABITS->ItemIndex(), int(db7));
        EXPECT_EQ(form.STOPBITS->ItemIndex(), int(sb15));
        EXPECT_TRUE(form.USERBAUDRATE->isHidden());
        form.BAUDRATES->setCurrentIndex(brUser);
        EXPECT_FALSE(form.USERBAUDRATE->isHidden());
        form.BAUDRATES->setCurrentIndex(br110);
        EXPECT_TRUE(form.USERBAUDRATE->isHidden());
        return QDialog::Rejected;
    });

    comm.SetUserBaudrate(31250); // switches the component to brUser
    runDialog(comm, [](TSerConfigForm &form) {
        EXPECT_EQ(form.BAUDRATES->currentIndex(), int(brUser));
        EXPECT_FALSE(form.USERBAUDRATE->isHidden());
        EXPECT_EQ(form.USERBAUDRATE->value(), 31250);
        return QDialog::Rejected;
    });
}

// Tab enters a radio group at its chosen item, and the arrows move the choice.
TEST(PortDialog, TabEntersEachGroupAtItsChosenItem)
{
    FakePorts ports({1});
    TSerComm comm;
    comm.SetStopbits(sb2);
    comm.SetDatabits(db8);
    runDialog(comm, [](TSerConfigForm &form) {
        QApplication::setActiveWindow(&form);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
        form.STOPBITS->Button(sb2)->setFocus();
        QTest::keyClick(form.STOPBITS->Button(sb2), Qt::Key_Tab);
        EXPECT_EQ(form.focusWidget(), form.DATABITS->Button(db8));
        QTest::keyClick(form.focusWidget(), Qt::Key_Left);
        EXPECT_EQ(form.DATABITS->ItemIndex(), int(db7));
        QTest::keyClick(form.focusWidget(), Qt::Key_Backtab);
        QTest::keyClick(form.focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(form.focusWidget(), form.DATABITS->Button(db7)) << "the newly chosen item";
        return QDialog::Rejected;
    });
}

TEST(PortDialog, ShowsTheFlowChoiceOfTheComponent)
{
    const struct {
        TSerControlDtr dtr;
        TSerControlRts rts;
        bool xonOut, xonIn;
        QString shown;
    } cases[] = {
        {dtrDisabled, rtsDisabled, false, false, "None"},
        {dtrHandshake, rtsHandshake, false, false, "None"},
        {dtrDisabled, rtsDisabled, true, false, "Xon/Xoff"},
        {dtrDisabled, rtsDisabled, false, true, "Xon/Xoff"},
        {dtrEnabled, rtsDisabled, false, false, "DTR/RTS"},
        {dtrDisabled, rtsEnabled, false, true, "DTR/RTS"}, // the line test wins
    };
    FakePorts ports({1});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        TSerComm comm;
        comm.FlowControl().SetControlDtr(c.dtr);
        comm.FlowControl().SetControlRts(c.rts);
        comm.FlowControl().SetXonXoffOut(c.xonOut);
        comm.FlowControl().SetXonXoffIn(c.xonIn);
        runDialog(comm, [&](TSerConfigForm &form) {
            const int index = form.FLOWSETTING->ItemIndex();
            EXPECT_GE(index, 0);
            if (index >= 0) {
                EXPECT_EQ(form.FLOWSETTING->Button(index)->text(), c.shown);
            }
            return QDialog::Rejected;
        });
    }
}

TEST(PortDialog, OkTakesOverTheChosenSettings)
{
    FakePorts ports({1, 3, 12});
    TSerComm comm;
    comm.SetPortNum(1);
    comm.FlowControl().SetOutCtsFlow(true); // not the dialog's to change
    const int result = runDialog(comm, [](TSerConfigForm &form) {
        form.COMPORTS->setCurrentIndex(form.COMPORTS->findText("COM12"));
        form.BAUDRATES->setCurrentIndex(br19200);
        form.STOPBITS->Button(sb2)->click();
        form.DATABITS->Button(db7)->click();
        form.PARITYSETTING->Button(paEven)->click();
        form.FLOWSETTING->Button(fcXonXoff)->click();
        return click(form, form.Button1);
    });
    EXPECT_EQ(result, TSerConfigDialog::mrOk);
    EXPECT_EQ(comm.PortNum(), 12);
    EXPECT_EQ(comm.Baudrate(), br19200);
    EXPECT_EQ(comm.Stopbits(), sb2);
    EXPECT_EQ(comm.Databits(), db7);
    EXPECT_EQ(comm.Parity(), paEven);
    EXPECT_TRUE(comm.FlowControl().XonXoffOut());
    EXPECT_TRUE(comm.FlowControl().XonXoffIn());
    EXPECT_EQ(comm.FlowControl().ControlDtr(), dtrDisabled);
    EXPECT_EQ(comm.FlowControl().ControlRts(), rtsDisabled);
    EXPECT_TRUE(comm.FlowControl().OutCtsFlow());
}

TEST(PortDialog, OkSetsTheLinesAndXonXoffForEachFlowChoice)
{
    const struct {
        TSerFlowChoice choice;
        TSerControlDtr dtr;
        TSerControlRts rts;
        bool xon;
    } cases[] = {
        {fcNone, dtrDisabled, rtsDisabled, false},
        {fcDtrRts, dtrEnabled, rtsEnabled, false},
        {fcXonXoff, dtrDisabled, rtsDisabled, true},
    };
    FakePorts ports({1});
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.choice));
        TSerComm comm;
        // Start from the opposite of what the choice sets.
        comm.FlowControl().SetControlDtr(c.dtr == dtrEnabled ? dtrHandshake : dtrEnabled);
        comm.FlowControl().SetControlRts(c.rts == rtsEnabled ? rtsToggle : rtsEnabled);
        comm.FlowControl().SetXonXoffOut(!c.xon);
        comm.FlowControl().SetXonXoffIn(!c.xon);
        runDialog(comm, [&](TSerConfigForm &form) {
            form.FLOWSETTING->Button(c.choice)->click();
            return click(form, form.Button1);
        });
        EXPECT_EQ(comm.FlowControl().ControlDtr(), c.dtr);
        EXPECT_EQ(comm.FlowControl().ControlRts(), c.rts);
        EXPECT_EQ(comm.FlowControl().XonXoffOut(), c.xon);
        EXPECT_EQ(comm.FlowControl().XonXoffIn(), c.xon);
    }
}

TEST(PortDialog, TheUserRateCountsOnlyWhenUserIsChosen)
{
    FakePorts ports({1});
    TSerComm comm;
    comm.SetUserBaudrate(250000);
    ASSERT_EQ(comm.Baudrate(), brUser);
    // A rate from the list wins over the user rate still in the field.
    runDialog(comm, [](TSerConfigForm &form) {
        form.BAUDRATES->setCurrentIndex(br9600);
        return click(form, form.Button1);
    });
    EXPECT_EQ(comm.Baudrate(), br9600);

    runDialog(comm, [](TSerConfigForm &form) {
        form.BAUDRATES->setCurrentIndex(brUser);
        form.USERBAUDRATE->setValue(31250);
        return click(form, form.Button1);
    });
    EXPECT_EQ(comm.Baudrate(), brUser);
    EXPECT_EQ(comm.UserBaudrate(), 31250);
}

TEST(PortDialog, OkWithoutAPortNumberKeepsThePort)
{
    const struct {
        const char *what;
        std::vector<int> ports;
        QStringList replaceItems; // empty: keep the listed ports
    } cases[] = {
        {"empty list", {}, {}},
        {"entry without a number", {1}, {"COMX"}},
        {"entry of another name", {1}, {"ttyUSB0"}},
        {"bare prefix", {1}, {"COM"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakePorts ports(c.ports);
        TSerComm comm;
        comm.SetPortNum(5);
        const int result = runDialog(comm, [&](TSerConfigForm &form) {
            if (!c.replaceItems.isEmpty()) {
                form.COMPORTS->clear();
                form.COMPORTS->addItems(c.replaceItems);
            }
            form.BAUDRATES->setCurrentIndex(br4800);
            return click(form, form.Button1);
        });
        EXPECT_EQ(result, TSerConfigDialog::mrOk);
        EXPECT_EQ(comm.PortNum(), 5);
        EXPECT_EQ(comm.Baudrate(), br4800); // the rest is still taken over
    }
}

TEST(PortDialog, CancelOrClosingTheWindowChangesNothing)
{
    const std::function<int(TSerConfigForm &)> endings[] = {
        [](TSerConfigForm &form) { return click(form, form.Button2); },
        [](TSerConfigForm &form) {
            form.close();
            return form.result();
        },
    };
    FakePorts ports({1, 2});
    for (const auto &ending : endings) {
        TSerComm comm;
        comm.SetPortNum(2);
        comm.SetUserBaudrate(1000);
        comm.FlowControl().SetXonXoffIn(true);
        const Snapshot before = snapshot(comm);
        const int result = runDialog(comm, [&](TSerConfigForm &form) {
            form.COMPORTS->setCurrentIndex(0);
            form.BAUDRATES->setCurrentIndex(br256000);
            form.USERBAUDRATE->setValue(5);
            form.PARITYSETTING->Button(paOdd)->click();
            form.FLOWSETTING->Button(fcDtrRts)->click();
            return ending(form);
        });
        EXPECT_EQ(result, TSerConfigDialog::mrCancel);
        EXPECT_TRUE(snapshot(comm) == before);
    }
}

TEST(PortDialog, OkOnAnOpenPortPassesTheRefusalOn)
{
    SerialTest::FakeCommDriver fake;
    FakePorts ports({1, 2});
    auto comm = SerialTest::fakeComm(1);
    comm->Open();
    QPointer<QDialog> shown;
    try {
        runDialog(*comm, [&](TSerConfigForm &form) {
            shown = &form;
            form.COMPORTS->setCurrentIndex(1);
            return click(form, form.Button1);
        });
        ADD_FAILURE() << "no exception";
    } catch (const ESerCommError &e) {
        EXPECT_STREQ(e.what(), SerMsg::PortOpen);
    }
    EXPECT_TRUE(shown.isNull()); // the form was freed on the way out
    EXPECT_EQ(comm->PortNum(), 1);
    comm->Close();
}

TEST(PortDialog, TheFormCarriesItsControlsTextsAndPlaces)
{
    TSerConfigForm form;
    EXPECT_EQ(form.windowTitle(), "COM port configuration");
    EXPECT_EQ(form.size(), QSize(405, 269));
    EXPECT_EQ(form.font().pixelSize(), 11);

    const struct {
        const char *name;
        QString text;
        QRect place; // an empty size: only the position is fixed
    } controls[] = {
        {"Label1", "COM port:", {8, 16, 0, 0}},
        {"COMPORTS", {}, {80, 14, 145, 21}},
        {"Label2", "Baud rate:", {8, 48, 0, 0}},
        {"BAUDRATES", {}, {80, 46, 145, 21}},
        {"USERBAUDRATE", {}, {238, 46, 121, 22}},
        {"STOPBITS", "Stop bits", {8, 75, 190, 46}},
        {"PARITYSETTING", "Parity", {204, 75, 190, 97}},
        {"DATABITS", "Data bits", {8, 127, 190, 46}},
        {"FLOWSETTING", "Flow control", {8, 179, 386, 46}},
        {"Button1", "OK", {238, 235, 75, 25}},
        {"Button2", "Cancel", {320, 235, 75, 25}},
    };
    for (const auto &c : controls) {
        SCOPED_TRACE(c.name);
        auto *w = form.findChild<QWidget *>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->pos(), c.place.topLeft());
        if (!c.place.size().isEmpty()) {
            EXPECT_EQ(w->size(), c.place.size());
        }
        if (auto *l = qobject_cast<QLabel *>(w)) {
            EXPECT_EQ(l->text(), c.text);
        }
        if (auto *g = qobject_cast<QGroupBox *>(w)) {
            EXPECT_EQ(g->title(), c.text);
        }
        if (auto *b = qobject_cast<QPushButton *>(w)) {
            EXPECT_EQ(b->text(), c.text);
        }
    }
    EXPECT_FALSE(form.COMPORTS->isEditable());
    EXPECT_FALSE(form.BAUDRATES->isEditable());
    EXPECT_TRUE(form.Button1->isDefault());
    EXPECT_EQ(form.USERBAUDRATE->minimum(), INT_MIN);
    EXPECT_EQ(form.USERBAUDRATE->maximum(), INT_MAX);
    EXPECT_NE(form.findChild<TSerComm *>("SerComm1"), nullptr);

    const struct {
        TSerRadioGroup *group;
        QStringList items;
    } groups[] = {
        {form.STOPBITS, {"1", "1,5", "2"}},
        {form.PARITYSETTING, {"None", "Odd", "Even", "Mark", "Space"}},
        {form.DATABITS, {"4", "5", "6", "7", "8"}},
        {form.FLOWSETTING, {"None", "DTR/RTS", "Xon/Xoff"}},
    };
    for (const auto &g : groups) {
        QStringList items;
        for (int i = 0; i < g.group->Count(); ++i)
            items << g.group->Button(i)->text();
        EXPECT_EQ(items, g.items);
    }

    // Tab order: ports, rates, OK, Cancel, parity, stop bits, data bits, flow, user rate.
    std::vector<QWidget *> expected{form.COMPORTS, form.BAUDRATES, form.Button1, form.Button2};
    for (TSerRadioGroup *g : {form.PARITYSETTING, form.STOPBITS, form.DATABITS, form.FLOWSETTING})
        expected.push_back(g->Button(0));
    expected.push_back(form.USERBAUDRATE);
    QWidget *w = form.COMPORTS;
    std::vector<QWidget *> order{w};
    while (order.size() < expected.size()) {
        w = w->nextInFocusChain();
        if (w == form.COMPORTS)
            break;
        if (w->focusPolicy() & Qt::TabFocus) {
            auto *radio = qobject_cast<QRadioButton *>(w);
            auto *group = radio ? qobject_cast<TSerRadioGroup *>(radio->parentWidget()) : nullptr;
            if (group && group->Button(0) != radio)
                continue; // one stop per group
            order.push_back(w);
        }
    }
    EXPECT_EQ(order, expected);
}

TEST(PortDialog, TheSelectionOfARadioGroupCanBeCleared)
{
    QWidget parent;
    TSerRadioGroup group("g", {"a", "b"}, 2, &parent);
    EXPECT_EQ(group.ItemIndex(), -1);
    group.SetItemIndex(1);
    EXPECT_EQ(group.ItemIndex(), 1);
    group.SetItemIndex(7);
    EXPECT_EQ(group.ItemIndex(), -1);
    group.Button(0)->click();
    EXPECT_EQ(group.ItemIndex(), 0);
}
