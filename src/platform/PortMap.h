// Port numbers to device paths: "COM" + N (any case) names a serial device.
//
// When VANTORO_SERIAL_PORTS is set ("1=/dev/pts/4;5=/dev/serial/by-id/...")
// it is the whole map. Otherwise the tty class in sysfs is scanned: entries
// with a `device` link count; ttyS k (only with a real UART behind it) is
// COM k+1, ttyUSB k is COM 33+k, ttyACM k is COM 97+k, every other
// device-backed tty gets the next number from COM 161 in name order.
// Numbers run from 1 to 254; COM0 is never a device (0 asks for the port
// dialog). One map serves the port list, the port dialog and the probe of
// present ports.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

constexpr int MinPortNumber = 1;
constexpr int MaxPortNumber = 254;
constexpr const char *PortMapVariable = "VANTORO_SERIAL_PORTS";

using PortTable = std::map<int, std::string>; // COM number -> device path

// Where the scan looks; tests point both at a temporary tree.
struct PortScanRoots {
    std::string sysClassTty = "/sys/class/tty";
    std::string dev = "/dev";
};

// Parses the variable's text: entries "N=path" separated by ';', blanks
// around either part ignored. Entries with a number outside 1..254, no
// number or an empty path are skipped; a later entry for a number wins.
PortTable parsePortMapText(const std::string &text);
// The scan of the tty class under the given roots.
PortTable scanPortTable(const PortScanRoots &roots);
// The map in force: from the variable when it is set (even empty), else the
// scan under `roots`.
PortTable currentPortTable(const PortScanRoots &roots = {});

// Ascending COM numbers of the map whose device path exists now.
std::vector<int> presentPorts(const PortScanRoots &roots = {});
// The device path of COM `number`; empty for 0, numbers out of range and
// numbers not in the map.
std::optional<std::string> resolvePort(int number, const PortScanRoots &roots = {});
// The number in "COMn" (any case, decimal, no sign or blanks); empty for
// other texts.
std::optional<int> parseComName(const std::string &name);
// The device path for a device name: "COMn" through the map; an absolute
// path ("/dev/...") stands for itself; anything else is unknown (empty).
std::optional<std::string> resolveDeviceName(const std::string &name, const PortScanRoots &roots = {});

} // namespace Platform
