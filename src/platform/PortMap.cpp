#include "platform/PortMap.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace Platform {

namespace {

std::string trimmed(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// A plain decimal number of at most nine digits (no sign, no blanks).
std::optional<int> decimal(const std::string &s)
{
    if (s.empty() || s.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool inRange(int number) { return number >= MinPortNumber && number <= MaxPortNumber; }

// The number behind `prefix` in `name` ("ttyUSB3" -> 3), when the rest is digits.
std::optional<int> suffixNumber(const std::string &name, const std::string &prefix)
{
    if (name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return decimal(name.substr(prefix.size()));
}

// A sysfs attribute read as an integer; empty when missing or unreadable.
std::optional<long long> intAttribute(const fs::path &file)
{
    std::ifstream in(file);
    long long value = 0;
    if (!(in >> value))
        return std::nullopt;
    return value;
}

// ttyS nodes exist for every possible legacy port; only those with a UART
// behind them (a known port type, or a clock when the type is not given) are ports.
bool hasUart(const fs::path &entry)
{
    if (const auto type = intAttribute(entry / "type"))
        return *type != 0;
    const auto clock = intAttribute(entry / "uartclk");
    return clock && *clock != 0;
}

bool exists(const fs::path &p)
{
    std::error_code ec;
    return fs::exists(p, ec);
}

// The fixed number blocks of the known driver names; a name outside its
// block joins the other ttys rather than taking a neighbour's number.
struct Block {
    const char *prefix;
    int first; // COM number of index 0
    int count;
};
constexpr Block kBlocks[] = {
    {"ttyS", 1, 32},
    {"ttyUSB", 33, 64},
    {"ttyACM", 97, 64},
};
constexpr int kOtherFirst = 161;

} // namespace

PortTable parsePortMapText(const std::string &text)
{
    PortTable table;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(start, end - start);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) {
            const auto number = decimal(trimmed(entry.substr(0, eq)));
            const std::string path = trimmed(entry.substr(eq + 1));
            if (number && inRange(*number) && !path.empty())
                table[*number] = path;
        }
        start = end + 1;
    }
    return table;
}

PortTable scanPortTable(const PortScanRoots &roots)
{
    PortTable table;
    std::vector<std::string> others;
    std::error_code ec;
    for (fs::directory_iterator it(roots.sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code linkEc;
        if (!fs::exists(fs::symlink_status(it->path() / "device", linkEc)))
            continue; // virtual terminals, ptys and the like have no device
        bool placed = false;
        bool skip = false;
        for (const Block &b : kBlocks) {
            const auto index = suffixNumber(name, b.prefix);
            if (!index)
                continue;
            if (std::string(b.prefix) == "ttyS" && !hasUart(it->path())) {
                skip = true;
            } else if (*index < b.count) {
                table[b.first + *index] = roots.dev + "/" + name;
                placed = true;
            }
            break;
        }
        if (!placed && !skip)
            others.push_back(name);
    }
    std::sort(others.begin(), others.end());
    int number = kOtherFirst;
    for (const std::string &name : others) {
        if (number > MaxPortNumber)
            break;
        table[number++] = roots.dev + "/" + name;
    }
    return table;
}

PortTable currentPortTable(const PortScanRoots &roots)
{
    if (const char *text = std::getenv(PortMapVariable))
        return parsePortMapText(text);
    return scanPortTable(roots);
}

std::vector<int> presentPorts(const PortScanRoots &roots)
{
    std::vector<int> numbers;
    for (const auto &[number, path] : currentPortTable(roots)) {
        if (exists(path))
            numbers.push_back(number);
    }
    return numbers; // the map is ordered, so ascending without repeats
}

std::optional<std::string> resolvePort(int number, const PortScanRoots &roots)
{
    if (!inRange(number))
        return std::nullopt;
    const PortTable table = currentPortTable(roots);
    const auto it = table.find(number);
    if (it == table.end())
        return std::nullopt;
    return it->second;
}

std::optional<int> parseComName(const std::string &name)
{
    if (name.size() < 4)
        return std::nullopt;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return std::nullopt;
    }
    return decimal(name.substr(3));
}

std::optional<std::string> resolveDeviceName(const std::string &name, const PortScanRoots &roots)
{
    if (const auto number = parseComName(name))
        return resolvePort(*number, roots);
    if (!name.empty() && name.front() == '/')
        return name;
    return std::nullopt;
}

} // namespace Platform
