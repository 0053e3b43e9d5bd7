// The main window's Setup and Generate Report buttons driving the real setup
// dialog and the real meter report over a pty against the simulated meter:
// an edit saved in the dialog reaches the meter's image, and a report run from
// the window writes its PDF, RTF and CSV files.
#include "config/ConfigFormUnit.h"
#include "console/TStringQuery.h"
#include "console/TZ960InterfaceForm.h"
#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "platform/KnownFolders.h"
#include "platform/PortMap.h"
#include "platform/SettingsFile.h"
#include "platform/ShellOpen.h"
#include "report/TTechMemoForm.h"
#include "e2e/ConsoleSimFixture.h"
#include "support/ScriptedPrompter.h"
#include "z960sim/Z960Sim.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

using z960sim::Bytes;

constexpr size_t kSiteIdOffset = 4; // configuration image, 32 bits
constexpr const char *kSetupFailed = "Failed to update flowmeter, Please check communications connectivity.";

uint32_t u32At(const Bytes &b, size_t offset)
{
    uint32_t v = 0;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

class ConsoleWiring : public TestSupport::ConsoleSimTest {
protected:
    void SetUp() override
    {
        ConsoleSimTest::SetUp();
        startSim();
        form = std::make_unique<TZ960InterfaceForm>(nullptr, nullptr, "Com1", 1);
        form->show();
        waitForConnection();
        ASSERT_TRUE(form->polling()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    }

    void click(QToolButton *button)
    {
        button->click();
        QCoreApplication::processEvents();
    }

    // Logs in at level 3 so that Setup is enabled.
    void loginForSetup()
    {
        prompter.dialogs.push_back([](QDialog &d) {
            dynamic_cast<TStringQuery &>(d).Edit->setText(QStringLiteral("3456"));
            return int(QDialog::Accepted);
        });
        click(form->LogginSB);
        ASSERT_TRUE(form->SetupSB->isEnabled());
    }

    // The setup dialog's answer: `edit` types into it, then the named button is
    // clicked, as a technician would; the dialog's own result is returned.
    using SetupEdit = std::function<void(TConfigForm &)>;
    void queueSetup(SetupEdit edit, bool save)
    {
        prompter.dialogs.push_back([edit = std::move(edit), save](QDialog &d) {
            auto &setup = dynamic_cast<TConfigForm &>(d);
            if (edit)
                edit(setup);
            (save ? setup.SaveBtn : setup.CancelBtn)->click();
            return d.result();
        });
    }

    static void type(TConfigForm &setup, const char *name, const QString &text)
    {
        auto *edit = setup.findChild<QLineEdit *>(QLatin1String(name));
        ASSERT_NE(edit, nullptr) << name;
        edit->selectAll();
        QTest::keyClicks(edit, text);
        ASSERT_EQ(edit->text(), text) << name;
    }
};

// ---------------------------------------------------------------------------
// Setup

TEST_F(ConsoleWiring, SetupSaveWritesTheEditedFieldToTheMeterAndNothingElse)
{
    struct Case {
        const char *what;
        QString siteId; // empty: opened and saved without an edit
        bool save;
        bool written;
    };
    const Case cases[] = {
        {"edited and saved", QStringLiteral("777"), true, true},
        {"saved without an edit", {}, true, true},
        {"edited and cancelled", QStringLiteral("4321"), false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        loginForSetup();
        const Bytes before = sim->image(5);
        const Z960Data::sConfig imageBefore = form->link()->configImage;
        sim->clearRecord();
        SetupEdit edit;
        if (!c.siteId.isEmpty())
            edit = [&c](TConfigForm &s) { type(s, "SiteID", c.siteId); };
        queueSetup(edit, c.save);
        click(form->SetupSB);
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();

        Bytes expected = before;
        if (c.written && !c.siteId.isEmpty()) {
            const uint32_t site = c.siteId.toUInt();
            std::memcpy(expected.data() + kSiteIdOffset, &site, sizeof site);
        }
        EXPECT_EQ(sim->image(5), expected);
        if (!c.written) {
            EXPECT_TRUE(form->link()->configImage == imageBefore);
        }
        EXPECT_EQ(u32At(sim->image(5), kSiteIdOffset), form->link()->configImage.SiteID());
        EXPECT_EQ(sim->meterState(), 1);
        EXPECT_EQ(sim->accessLevel(), 0); // every run ends with the logout
        EXPECT_FALSE(form->SetupSB->isEnabled());
        EXPECT_TRUE(form->polling());
        EXPECT_EQ(form->PageControl->currentWidget(), form->Monitor);
    }
}

TEST_F(ConsoleWiring, SetupSaveThatTheMeterRefusesRestoresTheImages)
{
    loginForSetup();
    const Z960Data::sConfig imageBefore = form->link()->configImage;
    z960sim::Injection refuse{z960sim::Fault::Exception, 20};
    refuse.times = 3; // the configuration write, every try
    sim->inject(refuse);
    queueSetup([](TConfigForm &s) { type(s, "SiteID", QStringLiteral("555")); }, true);
    click(form->SetupSB);
    EXPECT_EQ(prompter.texts(), QStringList{QLatin1String(kSetupFailed)});
    EXPECT_TRUE(form->link()->configImage == imageBefore);
    EXPECT_NE(u32At(sim->image(5), kSiteIdOffset), 555u);
    EXPECT_EQ(sim->meterState(), 1);
    EXPECT_TRUE(form->polling());
}

// ---------------------------------------------------------------------------
// Report

TEST_F(ConsoleWiring, GenerateReportWritesThePdfRtfAndCsvFilesWithTheMemo)
{
    Platform::Settings::writeReportOptions({true, true, true, false, false, false});
    // The names and notes given in a confirmed setup run pre-fill the memo.
    loginForSetup();
    queueSetup(
        [](TConfigForm &s) {
            type(s, "TechnicianName", QStringLiteral("Ann Tech"));
            type(s, "SiteName", QStringLiteral("Weir 4"));
            s.NotesMemo->setPlainText(QStringLiteral("Coil checked"));
        },
        true);
    click(form->SetupSB);
    ASSERT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();

    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const QString pdf = out.filePath(QStringLiteral("r.pdf"));
    const QString rtf = out.filePath(QStringLiteral("r.rtf"));
    const QString csv = out.filePath(QStringLiteral("r.csv"));
    prompter.saveFiles = {pdf, rtf, csv};
    QString prefilledTechnician, prefilledNotes;
    prompter.dialogs.push_back([&](QDialog &d) {
        auto &memo = dynamic_cast<TTechMemoForm &>(d);
        prefilledTechnician = memo.TechnicianNameEB->text();
        prefilledNotes = memo.Memo1->toPlainText();
        memo.Memo1->appendPlainText(QStringLiteral("Flow verified"));
        return int(QDialog::Accepted);
    });
    click(form->GenerateReportSB);

    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(prefilledTechnician, QStringLiteral("Ann Tech"));
    EXPECT_TRUE(prefilledNotes.contains(QStringLiteral("Coil checked")));
    ASSERT_EQ(prompter.saveRequests.size(), 3u);
    for (const auto &request : prompter.saveRequests)
        EXPECT_EQ(QDir(request.initialDir), QDir(form->dataDirPath())); // offered in the meter folder

    const auto read = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    EXPECT_TRUE(read(pdf).startsWith("%PDF-"));
    EXPECT_TRUE(read(rtf).startsWith("{\\rtf"));
    const QByteArray csvBytes = read(csv);
    for (const char *text : {"Ann Tech", "Weir 4", "Coil checked", "Flow verified", "960123"})
        EXPECT_TRUE(csvBytes.contains(text)) << text;

    // The memo values are used once; the window is back on the status page.
    EXPECT_TRUE(form->technician().empty());
    EXPECT_TRUE(form->notes()->isEmpty());
    EXPECT_TRUE(form->polling());
    EXPECT_EQ(form->PageControl->currentWidget(), form->Monitor);
}

TEST_F(ConsoleWiring, GenerateReportWithEveryFileCancelledSaysNoReportWasGenerated)
{
    Platform::Settings::writeReportOptions({true, false, true, false, false, false});
    prompter.dialogs.push_back([](QDialog &) { return int(QDialog::Accepted); });
    click(form->GenerateReportSB); // no save-file answers: both choosers cancelled
    EXPECT_EQ(prompter.texts(), (QStringList{QStringLiteral("Pdf report cancelled."),
                                             QStringLiteral("Csv report cancelled."),
                                             QStringLiteral("No report was generated!")}));
    EXPECT_TRUE(form->polling());
}

} // namespace
