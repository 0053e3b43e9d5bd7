#include "platform/PortMap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

using namespace Platform;

namespace {

// Sets or clears the port-map variable for one test and puts it back after.
class ScopedPortVariable {
public:
    explicit ScopedPortVariable(const char *value)
    {
        if (const char *old = std::getenv(PortMapVariable))
            m_old = old;
        if (value)
            ::setenv(PortMapVariable, value, 1);
        else
            ::unsetenv(PortMapVariable);
    }
    ~ScopedPortVariable()
    {
        if (m_old)
            ::setenv(PortMapVariable, m_old->c_str(), 1);
        else
            ::unsetenv(PortMapVariable);
    }

private:
    std::optional<std::string> m_old;
};

// A fake sysfs tty class and /dev under a temporary folder.
class FakeTtyTree {
public:
    FakeTtyTree()
    {
        QDir(m_dir.path()).mkpath("sys/class/tty");
        QDir(m_dir.path()).mkpath("dev");
    }
    PortScanRoots roots() const
    {
        return {(m_dir.path() + "/sys/class/tty").toStdString(), (m_dir.path() + "/dev").toStdString()};
    }
    // A tty entry; `device` gives it a device link, attributes are written as files.
    void add(const QString &name, bool device, const QString &type = {}, const QString &uartclk = {},
             bool node = true)
    {
        const QString entry = m_dir.path() + "/sys/class/tty/" + name;
        QDir().mkpath(entry);
        if (device) {
            QDir().mkpath(m_dir.path() + "/devices/" + name);
            QFile::link(m_dir.path() + "/devices/" + name, entry + "/device");
        }
        write(entry + "/type", type);
        write(entry + "/uartclk", uartclk);
        if (node)
            write(m_dir.path() + "/dev/" + name, "node");
    }
    std::string dev(const QString &name) const { return (m_dir.path() + "/dev/" + name).toStdString(); }

private:
    static void write(const QString &path, const QString &text)
    {
        if (text.isNull())
            return;
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(text.toUtf8() + "\n");
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST(PortMap, TheScanNumbersEachKindOfTtyInItsOwnBlock)
{
    ScopedPortVariable none(nullptr);
    FakeTtyTree tree;
    tree.add("ttyS0", true, "4", "1843200"); // a 16550A: COM1
    tree.add("ttyS1", true, "0", "0");       // a legacy slot without a UART
    tree.add("ttyS2", true, {}, "1843200");  // no type given, but a clock: COM3
    tree.add("ttyS3", true);                 // neither: no UART
    tree.add("ttyUSB0", true);               // COM33
    tree.add("ttyUSB2", true);               // COM35
    tree.add("ttyACM1", true);               // COM98
    tree.add("ttyUSB64", true);              // outside its block: among the others
    tree.add("ttyAMA0", true);
    tree.add("rfcomm0", true);
    tree.add("tty5", false);                 // a virtual terminal: no device link
    tree.add("ptmx", false);

    const PortTable table = scanPortTable(tree.roots());
    const PortTable expected = {
        {1, tree.dev("ttyS0")},     {3, tree.dev("ttyS2")},     {33, tree.dev("ttyUSB0")},
        {35, tree.dev("ttyUSB2")},  {98, tree.dev("ttyACM1")},  {161, tree.dev("rfcomm0")},
        {162, tree.dev("ttyAMA0")}, {163, tree.dev("ttyUSB64")},
    };
    EXPECT_EQ(table, expected);
    EXPECT_EQ(presentPorts(tree.roots()), (std::vector<int>{1, 3, 33, 35, 98, 161, 162, 163}));
    EXPECT_EQ(resolvePort(33, tree.roots()), tree.dev("ttyUSB0"));
    EXPECT_EQ(resolveDeviceName("com98", tree.roots()), tree.dev("ttyACM1"));
    EXPECT_EQ(resolvePort(2, tree.roots()), std::nullopt);
}

TEST(PortMap, NumbersAbove254AreDroppedAndAMissingTreeGivesNoPorts)
{
    ScopedPortVariable none(nullptr);
    FakeTtyTree tree;
    for (int i = 0; i < 100; ++i)
        tree.add(QString("ttyX%1").arg(i, 3, 10, QChar('0')), true);
    const PortTable table = scanPortTable(tree.roots());
    ASSERT_EQ(table.size(), 94u); // 161 .. 254
    EXPECT_EQ(table.begin()->first, 161);
    EXPECT_EQ(table.rbegin()->first, 254);
    EXPECT_EQ(table.rbegin()->second, tree.dev("ttyX093"));

    EXPECT_TRUE(scanPortTable({"/nonexistent/sys/class/tty", "/dev"}).empty());
}

TEST(PortMap, TheVariableIsTheWholeMap)
{
    struct Case {
        const char *text;
        PortTable expected;
    };
    const Case cases[] = {
        {"1=/dev/pts/4;5=/dev/serial/by-id/usb-x", {{1, "/dev/pts/4"}, {5, "/dev/serial/by-id/usb-x"}}},
        {" 7 = /dev/a ; ;3=/dev/b;", {{3, "/dev/b"}, {7, "/dev/a"}}},
        {"0=/dev/zero;255=/dev/x;254=/dev/last;-1=/dev/y", {{254, "/dev/last"}}},
        {"2=;x=/dev/a;4/dev/b;=/dev/c;12345678901=/dev/d", {}},
        {"6=/dev/old;6=/dev/new", {{6, "/dev/new"}}},
        {"", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parsePortMapText(c.text), c.expected) << c.text;

    FakeTtyTree tree;
    tree.add("ttyUSB0", true);
    ScopedPortVariable empty("");
    EXPECT_TRUE(currentPortTable(tree.roots()).empty()) << "set but empty: no ports, no scan";
}

TEST(PortMap, PresentPortsFromTheVariableAreAscendingAndExist)
{
    FakeTtyTree tree;
    tree.add("ttyUSB0", true);
    tree.add("ttyUSB1", true);
    const std::string text = "9=" + tree.dev("ttyUSB1") + ";2=" + tree.dev("ttyUSB0") +
                             ";4=/nonexistent/tty;2=" + tree.dev("ttyUSB0") + ";0=" + tree.dev("ttyUSB0");
    ScopedPortVariable var(text.c_str());
    EXPECT_EQ(presentPorts(tree.roots()), (std::vector<int>{2, 9}));
    EXPECT_EQ(resolvePort(4), "/nonexistent/tty") << "mapped but absent still resolves (opening then fails)";
    EXPECT_EQ(resolvePort(0), std::nullopt) << "COM0 is never a device";
    EXPECT_EQ(resolveDeviceName("COM9"), tree.dev("ttyUSB1"));
}

TEST(PortMap, DeviceNamesResolveThroughTheMapOrAsPaths)
{
    ScopedPortVariable var("3=/dev/pts/7");
    struct Case {
        const char *name;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {"COM3", "/dev/pts/7"}, {"com3", "/dev/pts/7"}, {"Com03", "/dev/pts/7"},
        {"COM4", std::nullopt}, {"COM0", std::nullopt}, {"COM", std::nullopt},
        {"COM 3", std::nullopt}, {"COM+3", std::nullopt}, {"COM3x", std::nullopt},
        {"COM2147483647", std::nullopt}, {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"ttyUSB0", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(resolveDeviceName(c.name), c.path) << c.name;
    EXPECT_EQ(parseComName("cOm12"), 12);
    EXPECT_EQ(parseComName("LPT1"), std::nullopt);
}
