// The information page: every line's caption, format and unit from fixture
// images, and the tree the page builds from the link's images.
#include "console/InfoPage.h"
#include "console/InfoTree.h"
#include "link/DeviceTime.h"
#include "link/Z960Port.h"
#include "support/PageTestHost.h"
#include "support/Screenshot.h"

#include <QImage>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace Z960Data;

namespace {

const QLocale kC = QLocale::c();

Timestamp stamp(int y, int mo, int d, int h, int mi, int s)
{
    Timestamp t;
    t.setYear(static_cast<std::uint8_t>(y - 2000));
    t.setMonth(static_cast<std::uint8_t>(mo));
    t.setDay(static_cast<std::uint8_t>(d));
    t.setHour(static_cast<std::uint8_t>(h));
    t.setMinute(static_cast<std::uint8_t>(mi));
    t.setSecond(static_cast<std::uint8_t>(s));
    return t;
}

struct Fixture {
    sCal cal;
    sConfig config;
    sBasicCal basicCal;
    sSystem system;
    sStatus status;

    Fixture()
    {
        cal.setMeterID(3000000000u); // above 2^31
        cal.setFilterNumber(3);      // no text
        cal.setPipeDiam(150);
        cal.setPipeUnitsMetric(1);
        cal.setCoilCurrent(120);
        cal.setCoilFreq(6.25f);
        const char fw[] = {'0', '2', '1', '3'};
        for (int i = 0; i < 4; ++i)
            system.setFirmwareVersion(i, fw[i]);
        const std::uint8_t sn[] = {0x00, 0x1A, 0xFF, 0x10, 0x02, 0x0B};
        for (int i = 0; i < 6; ++i)
            system.setSerialNumber(i, sn[i]);
        system.setSimulationMode(2);
        system.setOptionCard(0, 10);
        system.setOptionCard(1, 5); // no text
        system.setOptionCard(2, 31);
        status.setResetCount(65535);
        config.setSiteID(4294967295u);
        config.setSimulationVal(2.5f);
        config.setPnfThreshold(0.0f);
        config.setEcThreshold(1.234567f);
        config.setEnableReverseFlow(1);
        config.setLowPowerMode(false);
        config.setHaltScanOnSignalError(true);
        config.setOffPeakStart(Timestamp{}); // invalid: all zero
        config.setOffPeakStop(stamp(2021, 6, 7, 8, 9, 5));
        config.setEoyLatchDate(stamp(2021, 6, 30, 0, 0, 0));
        config.alarm(1).setAlarm_cause(7);
        config.alarm(1).setRecordOnAlarm(1);
        config.analogOut(1).setMode(3);
        config.analogOut(1).setLimit(20.5f);
        config.digitalOut(2).setFrequency(-250);
        config.digitalOut(3).setChannel(5);
        config.setBaudRate(-1); // no text
        config.setSerialMode(1);
        config.setModbusId(247);
        config.setFlowVolumeUnit(11);
        config.setTotaliserUnit(12); // no text
        config.setFlowTimeUnit(4);
        basicCal.setLoBatteryAlarmLevel(10.8f);
    }
    InfoTree::Images images() const { return {cal, config, basicCal, system, status}; }
};

const InfoTree::Group *group(const InfoTree::Tree &t, const char *caption)
{
    for (const auto &g : t.groups)
        if (g.caption == QLatin1String(caption))
            return &g;
    return nullptr;
}

QString pad(const char *caption) { return QString::fromLatin1(caption).leftJustified(30, QLatin1Char(' ')) + "= "; }

} // namespace

TEST(InfoTreeText, GroupsInOrderWithTheirLineCounts)
{
    const Fixture f;
    const InfoTree::Tree t = InfoTree::build(f.images(), kC);
    const std::vector<std::pair<const char *, int>> expected = {
        {"General Information", 5}, {"Flow Settings", 11}, {"Pipe Information", 2},
        {"Coil Information", 2},    {"Scan Settings", 5},  {"Log Settings", 6},
        {"LCD Settings", 3},        {"Alarms", 8},         {"Analog Outputs", 12},
        {"Digital Outputs", 20},    {"Modem Settings", 4}, {"Display Units", 6},
        {"Option Cards Installed", 3}, {"Serial Communications", 4}, {"Misc Settings", 3}};
    ASSERT_EQ(t.groups.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(t.groups[i].caption, QLatin1String(expected[i].first));
        EXPECT_EQ(t.groups[i].lines.size(), expected[i].second) << expected[i].first;
    }
}

TEST(InfoTreeText, LinesFromTheFixtureImages)
{
    const Fixture f;
    const InfoTree::Tree t = InfoTree::build(f.images(), kC);
    EXPECT_EQ(t.root, "Meter ID(3000000000)");

    struct Case {
        const char *group;
        int line;
        QString text;
    };
    const Case cases[] = {
        {"General Information", 0, pad("Firmware Version") + "312.0"},
        {"General Information", 1, pad("Flowmeter Serial Number") + "00 1A FF 10 02 0B "},
        {"General Information", 2, "Meter ID" + QString(22, ' ') + "= -1294967296"},
        {"General Information", 3, pad("Site ID") + "4294967295"},
        {"General Information", 4, pad("Number of Resets") + "65535"},
        {"Flow Settings", 0, pad("Simulation Mode") + "ON"},
        {"Flow Settings", 1, pad("Simulation Value") + "2.5l/s"},
        {"Flow Settings", 2, pad("Reverse Flow") + "Enabled"},
        {"Flow Settings", 3, pad("Gate Control") + "Disabled"},
        {"Flow Settings", 5, pad("PNF Threshold") + "0.0"},
        {"Flow Settings", 6, pad("EC Threshold") + "1.23457"},
        {"Flow Settings", 10, pad("Filter Frequency")}, // value without a text
        {"Pipe Information", 1, pad("Pipe Size Units") + "inches"},
        {"Coil Information", 0, pad("Coil Current") + "120 mA"},
        {"Coil Information", 1, pad("Coil frequency") + "6.25 Hertz"},
        {"Scan Settings", 0, pad("On Time") + "0 seconds"},
        {"Scan Settings", 3, pad("Low Power Mode") + "Disabled"},
        {"Scan Settings", 4, pad("Halt on Signal Errors") + "Enabled"},
        {"Log Settings", 3, pad("Offpeak Start Time") + "00:00:00"}, // invalid record
        {"Log Settings", 4, pad("Offpeak Stop Time") + "08:09:05"},
        {"Log Settings", 5, pad("EOY Latch Date") + "30/Jun"},
        {"Alarms", 0, pad("Alarm0 Cause") + "OFF"},
        {"Alarms", 2, pad("Alarm1 Cause") + "REV_FLOW"},
        {"Alarms", 3, pad("Alarm1 Record") + "Enabled"},
        {"Alarms", 7, pad("Alarm3 Record") + "Disabled"},
        {"Analog Outputs", 0, pad("Analog Output Channel 0") + "Off"},
        {"Analog Outputs", 2, pad("Factor 4mA") + "0.0"},
        {"Analog Outputs", 6, pad("Analog Output Channel 1") + "Bi directional"},
        {"Analog Outputs", 7, pad("Analog Input Channel 1") + "Velocity"},
        {"Analog Outputs", 11, pad("Alarm Limit") + "20.5 mA"},
        {"Digital Outputs", 0, pad("DO Type0") + "OFF"},
        {"Digital Outputs", 12, pad("DO Frequency Set") + "-250 Hertz"},
        {"Digital Outputs", 16, pad("DO Input Channel 3") + "Net Total"},
        {"Digital Outputs", 19, pad("DO Pulse Width") + "0 milliseconds"},
        {"Modem Settings", 0, pad("Modem On Duration") + "0 Minutes"},
        {"Display Units", 0, pad("Flow Volume") + "METER"},
        {"Display Units", 2, pad("Flow Time Units") + "Special Factor"},
        {"Display Units", 4, pad("Totaliser")}, // value without a text
        {"Option Cards Installed", 0, pad("Option card slot 0") + "CARD MODEM"},
        {"Option Cards Installed", 1, pad("Option card slot 1")},
        {"Option Cards Installed", 2, pad("Option card slot 2") + "EMPTY SLOT"},
        {"Serial Communications", 0, pad("Protocol Mode") + "RS485"},
        {"Serial Communications", 1, pad("Baud Rate")},
        {"Serial Communications", 2, pad("Serial Port Format") + "N,8,1"},
        {"Serial Communications", 3, pad("Modbus ID(address)") + "247"},
        // A 30-character caption is followed by "= " directly.
        {"Misc Settings", 1, "Low Battery System Alarm Level= 10.8 Volts"},
        {"Misc Settings", 2, pad("Battery Safety limit") + "0.0 Volts"},
    };
    for (const Case &c : cases) {
        const InfoTree::Group *g = group(t, c.group);
        ASSERT_NE(g, nullptr) << c.group;
        ASSERT_LT(c.line, g->lines.size()) << c.group;
        EXPECT_EQ(g->lines[c.line], c.text) << c.group << " line " << c.line;
    }
}

TEST(InfoTreeText, FloatFormatKeepsOneToFiveDecimals)
{
    const std::pair<double, const char *> cases[] = {
        {0.0, "0.0"},          {2.5, "2.5"},          {1.234567, "1.23457"}, {100.0, "100.0"},
        {-3.25, "-3.25"},      {0.000004, "0.0"},     {-0.000004, "0.0"},    {0.00001, "0.00001"},
        {1234567.5, "1234567.5"}, {static_cast<double>(1.1f), "1.1"},
        {std::numeric_limits<double>::quiet_NaN(), "NAN"}, {-std::numeric_limits<double>::infinity(), "-INF"},
    };
    for (const auto &[value, text] : cases)
        EXPECT_EQ(InfoTree::formatFloat(value, kC), QLatin1String(text)) << value;
}

TEST(InfoTreeText, LocaleGivesDecimalSeparatorAndDateParts)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(InfoTree::formatFloat(1234.5, german), "1234,5"); // no group separator
    const double date = encodeTDateTime(stamp(2021, 3, 5, 7, 8, 9));
    EXPECT_EQ(InfoTree::formatTime(date, german), "07:08:09");
    EXPECT_EQ(InfoTree::formatDayMonth(date, german), "05." + german.monthName(3, QLocale::ShortFormat));
    // The zero date of an invalid record.
    EXPECT_EQ(InfoTree::formatDayMonth(0.0, kC), "30/Dec");
    EXPECT_EQ(InfoTree::formatTime(0.0, kC), "00:00:00");
}

TEST(InfoPageTree, BuildsExpandedTreeUnderTheRootFromTheLink)
{
    TestSupport::PageTestHost host;
    Z960Port link(nullptr, 1);
    const Fixture f;
    link.calImage = f.cal;
    link.configImage = f.config;
    link.systemImage = f.system;
    link.statusImage = f.status;
    link.basicCalImage = f.basicCal;
    host.port = &link;
    InfoPage page(host, host.window.get());

    page.BuildInformationTree();
    page.BuildInformationTree(); // a rebuild replaces, never appends
    QTreeWidget *tree = page.TreeView1;
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem *root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), "Meter ID(3000000000)");
    EXPECT_EQ(root->childCount(), 15);
    EXPECT_EQ(tree->currentItem(), root);
    EXPECT_FALSE(tree->rootIsDecorated());
    EXPECT_TRUE(root->isExpanded());
    EXPECT_TRUE(root->child(14)->isExpanded());
    EXPECT_EQ(root->child(14)->child(1)->text(0), "Low Battery System Alarm Level= 10.8 Volts");
    EXPECT_TRUE(tree->font().fixedPitch());
    EXPECT_EQ(tree->font().pixelSize(), 13);

    // On screen: the root and its first entries, from the top of the tree.
    host.window->show();
    ASSERT_FALSE(TestSupport::screenshot(*host.window, QStringLiteral("pages-info")).isNull());
    EXPECT_TRUE(TestSupport::shownWhole(*host.window, *tree));
    EXPECT_TRUE(TestSupport::rowShown(*tree, tree->visualItemRect(root)));
    EXPECT_TRUE(TestSupport::rowShown(*tree, tree->visualItemRect(root->child(0))));

    // Without a link the tree is only cleared.
    host.port = nullptr;
    page.BuildInformationTree();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
}
