// The clock page and the top panel's clocks without a meter: the meter clock
// against the PC clock at the thresholds, an invalid meter clock, the manual
// entry panel, the value the pickers give, and the status page shown after
// an update whatever its outcome.
#include "ConsoleFixture.h"

#include "console/ClockPage.h"
#include "console/DataPage.h"
#include "console/PageControls.h"
#include "link/LinkClock.h"
#include "support/PageTestHost.h"
#include "support/Screenshot.h"
#include "support/ScriptedTransport.h"

#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>

#include <gtest/gtest.h>

using TestSupport::PageTestHost;

namespace {

const double kNow = *DateTime::encode({2021, 6, 7, 13, 45, 10, 250});

class ClockPageTest : public TestSupport::ConsoleTest {
protected:
    DateTime::ScopedNow fixedNow{kNow};
    LinkClock::Scoped fast{1000.0};
    std::unique_ptr<PageTestHost> host;
    std::unique_ptr<Z960Port> link;
    TestSupport::ScriptedTransport line;
    std::unique_ptr<ClockPage> page;

    void SetUp() override
    {
        ConsoleTest::SetUp();
        host = std::make_unique<PageTestHost>(dir.path() + "/");
        link = std::make_unique<Z960Port>(nullptr, 1);
        link->attachTransport(&line);
        host->port = link.get();
        page = std::make_unique<ClockPage>(*host, nullptr);
    }
    void TearDown() override
    {
        page.reset();
        link.reset();
        host.reset();
        ConsoleTest::TearDown();
    }
    QColor colour(const QLabel *l) const { return l->palette().color(QPalette::WindowText); }
};

} // namespace

TEST_F(ClockPageTest, MeterClockAgainstPcClockAtTheThresholds)
{
    const QColor normal = colour(host->pcLabel);
    const QColor red(255, 0, 0);
    struct Case {
        int offset;
        bool sameText;
        bool isRed;
    };
    const Case cases[] = {{0, true, false},   {1, true, false},   {-1, true, false},  {2, false, false},
                          {-2, false, false}, {59, false, false}, {-59, false, false}, {60, false, true},
                          {-60, false, true}, {3600, false, true}};
    for (const Case &c : cases) {
        link->clockOffset = c.offset;
        link->clockValid = true;
        page->ClockTimerTimer();
        EXPECT_EQ(host->pcLabel->text(), ClockPage::clockText(kNow)) << c.offset;
        const QString expected = c.sameText ? ClockPage::clockText(kNow)
                                           : ClockPage::clockText(DateTime::addSeconds(kNow, c.offset));
        EXPECT_EQ(host->sensorLabel->text(), expected) << c.offset;
        EXPECT_EQ(colour(host->sensorLabel), c.isRed ? red : normal) << c.offset;
    }
}

TEST_F(ClockPageTest, ClockTextIsShortDateAndLongTimeWithoutZone)
{
    const QLocale c = QLocale::c();
    const QString text = ClockPage::clockText(kNow, c);
    EXPECT_TRUE(text.startsWith(c.toString(QDate(2021, 6, 7), QLocale::ShortFormat) + " ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("13:45:10")) << text.toStdString();
    // Offsets move the text by whole seconds, across midnight too.
    EXPECT_TRUE(ClockPage::clockText(DateTime::addSeconds(kNow, 2), c).endsWith("13:45:12"));
    const double late = *DateTime::encode({2021, 6, 7, 23, 59, 59, 0});
    EXPECT_EQ(ClockPage::clockText(DateTime::addSeconds(late, 2), c),
              c.toString(QDate(2021, 6, 8), QLocale::ShortFormat) + " 00:00:01");
}

TEST_F(ClockPageTest, BeforeAnyStatusReadBothClocksAgree)
{
    page->ClockTimerTimer();
    EXPECT_EQ(host->sensorLabel->text(), host->pcLabel->text());
    host->port = nullptr; // no link at all
    page->ClockTimerTimer();
    EXPECT_EQ(host->sensorLabel->text(), host->pcLabel->text());
}

TEST_F(ClockPageTest, InvalidMeterClockShowsInvalidNotAnOffset)
{
    // What a status read of a record that is no date leaves in the link.
    Z960Data::sStatus status;
    link->statusImage = status;
    link->loadStatusValues();
    ASSERT_FALSE(link->clockValid);
    page->ClockTimerTimer();
    EXPECT_EQ(host->sensorLabel->text(), ClockPage::kInvalidClockText);
    EXPECT_EQ(colour(host->sensorLabel), QColor(255, 0, 0));
    EXPECT_FALSE(host->sensorLabel->text().contains("1899"));
}

TEST_F(ClockPageTest, TickRefreshesTheDataPageFolderList)
{
    DataPage data(*host);
    ClockPage withData(*host, &data);
    data.PointFolderLists();
    QFile f(dir.filePath("new.csv"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    withData.ClockTimerTimer();
    EXPECT_EQ(data.DlFileListBox->names(), QStringList{"new.csv"});
}

TEST_F(ClockPageTest, ManualEntryPanelFollowsTheRadioGroup)
{
    EXPECT_EQ(page->SetClockRadioGroup->ItemIndex(), 0);
    EXPECT_EQ(page->SetClockRadioGroup->item(0)->text(), "Synchronise with PC clock");
    EXPECT_EQ(page->SetClockRadioGroup->item(1)->text(), "Set time manually");
    EXPECT_EQ(page->UpdateTimeBtn->text(), "Update Logger Clock");
    EXPECT_EQ(page->SetClockTimePicker->displayFormat(), "HH:mm:ss");
    EXPECT_FALSE(page->SetClockPanel->isEnabled());
    EXPECT_TRUE(page->SetClockPanel->isHidden());

    page->SetClockDatePicker->setDate(QDate(2019, 1, 1));
    page->SetClockRadioGroup->item(1)->click();
    EXPECT_TRUE(page->SetClockPanel->isEnabled());
    EXPECT_FALSE(page->SetClockPanel->isHidden());
    EXPECT_EQ(page->SetClockDatePicker->date(), QDate(2021, 6, 7));
    EXPECT_EQ(page->SetClockTimePicker->time(), QTime(13, 45, 10));

    page->SetClockRadioGroup->item(0)->click();
    EXPECT_FALSE(page->SetClockPanel->isEnabled());
    EXPECT_TRUE(page->SetClockPanel->isHidden());
}

TEST_F(ClockPageTest, PickersGiveWholeDaysPlusTimeOfDay)
{
    page->SetClockDatePicker->setDate(QDate(2020, 3, 1));
    page->SetClockTimePicker->setTime(QTime(13, 45, 10));
    EXPECT_EQ(DateTime::toMilliseconds(page->pickedDateTime()),
              DateTime::toMilliseconds(*DateTime::encode({2020, 3, 1, 13, 45, 10, 0})));
}

TEST_F(ClockPageTest, FailedUpdateStillShowsTheStatusPage)
{
    page->UpdateTimeBtnClick(page->UpdateTimeBtn);
    EXPECT_EQ(host->monitorShown, 1);
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_EQ(host->operationsRunning, 0);

    // A refused operation sends nothing and changes no page.
    line.written.clear();
    host->refuseOperations = true;
    page->UpdateTimeBtnClick(page->UpdateTimeBtn);
    EXPECT_EQ(host->monitorShown, 1);
    EXPECT_TRUE(line.written.isEmpty());
}

TEST_F(ClockPageTest, ManualEntryShowsThePcClockOnScreen)
{
    page->resize(690, 460);
    page->show();
    page->SetClockRadioGroup->item(1)->click();
    ASSERT_FALSE(TestSupport::screenshot(*page, QStringLiteral("pages-clock")).isNull());
    for (QWidget *w : std::initializer_list<QWidget *>{page->SetClockPanel, page->SetClockDatePicker,
                                                      page->SetClockTimePicker, page->UpdateTimeBtn})
        EXPECT_TRUE(TestSupport::shownWhole(*page, *w)) << w->objectName().toStdString();
    EXPECT_EQ(page->SetClockTimePicker->text().toStdString(), "13:45:10");
    EXPECT_EQ(page->SetClockDatePicker->text().toStdString(),
              QDate(2021, 6, 7).toString(page->SetClockDatePicker->displayFormat()).toStdString());
}
