// Port number 0 lets the technician choose the port in the port settings dialog.
#include "link/Z960Port.h"
#include "serial/SerComm.h"
#include "support/PtyPair.h"
#include "support/ScriptedPrompter.h"

#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

std::function<int(QDialog &)> choosePort(const QString &name, const char *button)
{
    return [name, button](QDialog &d) {
        auto *ports = d.findChild<QComboBox *>("COMPORTS");
        if (ports)
            ports->setCurrentIndex(ports->findText(name));
        if (auto *b = d.findChild<QPushButton *>(button))
            b->click();
        return d.result();
    };
}

} // namespace

TEST(PortDialog, PortZeroOpensThePortChosenInTheDialog)
{
    TestSupport::PtyPair pty(5);
    ASSERT_TRUE(pty.ok()) << pty.error();
    TestSupport::ScriptedPrompter prompter;
    prompter.dialogs.push_back(choosePort("COM5", "Button1"));

    Z960Port port(nullptr, 1);
    EXPECT_TRUE(port.OpenPort("Com0", 9600));
    EXPECT_TRUE(port.portOpen);
    ASSERT_NE(port.comm, nullptr);
    EXPECT_EQ(port.comm->PortNum(), 5);
    EXPECT_NE(port.configDialog, nullptr);
}

TEST(PortDialog, CancelInTheDialogOpensNothing)
{
    TestSupport::PtyPair pty(5);
    ASSERT_TRUE(pty.ok()) << pty.error();
    TestSupport::ScriptedPrompter prompter; // no handler: the dialog is cancelled

    Z960Port port(nullptr, 1);
    EXPECT_FALSE(port.OpenPort("Com0", 9600));
    EXPECT_FALSE(port.portOpen);
    ASSERT_EQ(prompter.dialogTitles.size(), 1);
}
