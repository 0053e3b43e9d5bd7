// The port list: "COM<n>" names from the port map, ascending, without
// repeats, only for devices present now.
#include "PortsTestUtil.h"

#include "serial/SerPortList.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace PortsTest;

namespace {

// A sysfs tty class and /dev under a temporary folder.
class FakeTtyTree {
public:
    FakeTtyTree()
    {
        QDir(m_dir.path()).mkpath("sys/class/tty");
        QDir(m_dir.path()).mkpath("dev");
    }
    Platform::PortScanRoots roots() const
    {
        return {(m_dir.path() + "/sys/class/tty").toStdString(), (m_dir.path() + "/dev").toStdString()};
    }
    // A tty entry with a device link (or without), an optional UART type and
    // a /dev node unless `node` is false.
    void add(const QString &name, bool device, const QString &type = {}, bool node = true)
    {
        const QString entry = m_dir.path() + "/sys/class/tty/" + name;
        QDir().mkpath(entry);
        if (device) {
            QDir().mkpath(m_dir.path() + "/devices/" + name);
            QFile::link(m_dir.path() + "/devices/" + name, entry + "/device");
        }
        if (!type.isNull())
            write(entry + "/type", type);
        if (node)
            write(m_dir.path() + "/dev/" + name, "node");
    }

private:
    static void write(const QString &path, const QString &text)
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(text.toUtf8() + "\n");
    }
    QTemporaryDir m_dir;
};

QStringList portNames(const Platform::PortScanRoots &roots = {})
{
    QStringList names{QStringLiteral("left over")}; // the list is cleared first
    GetComPortNames(names, roots);
    return names;
}

} // namespace

TEST(PortList, FromTheSysfsScanInNumberOrder)
{
    EnvGuard noMap(Platform::PortMapVariable, std::nullopt);
    FakeTtyTree tree;
    // Added out of order; ttyS1 has no UART and tty1 no device, so neither is a port.
    tree.add("ttyUSB1", true);
    tree.add("ttyS0", true, "4");
    tree.add("ttyS1", true, "0");
    tree.add("ttyACM0", true);
    tree.add("tty1", false);
    tree.add("ttyS2", true, "4");
    EXPECT_EQ(portNames(tree.roots()), (QStringList{"COM1", "COM3", "COM34", "COM97"}));
}

TEST(PortList, AnEntryWhoseDeviceNodeIsGoneIsNotListed)
{
    EnvGuard noMap(Platform::PortMapVariable, std::nullopt);
    FakeTtyTree tree;
    tree.add("ttyUSB0", true);
    tree.add("ttyUSB1", true, {}, false); // unplugged while sysfs still lists it
    EXPECT_EQ(portNames(tree.roots()), QStringList{"COM33"});
}

TEST(PortList, NoPortsGiveAnEmptyList)
{
    EnvGuard noMap(Platform::PortMapVariable, std::nullopt);
    FakeTtyTree tree;
    EXPECT_TRUE(portNames(tree.roots()).isEmpty());
    EXPECT_TRUE(portNames({"/nonexistent/sys/class/tty", "/nonexistent/dev"}).isEmpty());
}

TEST(PortList, FromTheVariableAscendingWithoutRepeats)
{
    QTemporaryDir dir;
    const QString a = dir.path() + "/a", b = dir.path() + "/b";
    for (const QString &p : {a, b}) {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString missing = dir.path() + "/missing";
    // COM3 twice (the later entry wins), COM7 on a device that is not there,
    // COM0 and COM300 out of range.
    const QString map = QString("12=%1; 3=%2;3=%1;7=%3;0=%1;300=%1;1=%2").arg(a, b, missing);
    EnvGuard env(Platform::PortMapVariable, map.toUtf8());
    FakeTtyTree tree;
    tree.add("ttyUSB0", true); // the variable is the whole map: the scan is not used
    EXPECT_EQ(portNames(tree.roots()), (QStringList{"COM1", "COM3", "COM12"}));
}

TEST(PortList, AnEmptyVariableMeansNoPorts)
{
    EnvGuard env(Platform::PortMapVariable, QByteArray(""));
    FakeTtyTree tree;
    tree.add("ttyUSB0", true);
    EXPECT_TRUE(portNames(tree.roots()).isEmpty());
}
