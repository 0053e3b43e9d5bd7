#include "link/Z960Data.h"

#include <cstdio>

namespace Z960Data {

namespace {

template <std::size_t N>
FieldList listOf(const FieldDesc (&entries)[N], std::size_t size)
{
    return FieldList{entries, N, size};
}

} // namespace

FieldList fieldList(Layout layout)
{
    switch (layout) {
    case Layout::Status: return listOf(StatusField::kAll, StatusField::kSize);
    case Layout::System: return listOf(SystemField::kAll, SystemField::kSize);
    case Layout::Structure2: return listOf(Structure2Field::kAll, Structure2Field::kSize);
    case Layout::Structure3: return listOf(Structure3Field::kAll, Structure3Field::kSize);
    case Layout::Cal: return listOf(CalField::kAll, CalField::kSize);
    case Layout::Config: return listOf(ConfigField::kAll, ConfigField::kSize);
    case Layout::BasicCal: return listOf(BasicCalField::kAll, BasicCalField::kSize);
    case Layout::Structure7: return listOf(Structure7Field::kAll, Structure7Field::kSize);
    case Layout::Timestamp: return listOf(TimestampField::kAll, TimestampField::kSize);
    case Layout::WireTimestamp: return listOf(WireTimestampField::kAll, WireTimestampField::kSize);
    case Layout::AlarmConfig: return listOf(AlarmConfigField::kAll, AlarmConfigField::kSize);
    case Layout::AnalogOut: return listOf(AnalogOutField::kAll, AnalogOutField::kSize);
    case Layout::DigitalOut: return listOf(DigitalOutField::kAll, DigitalOutField::kSize);
    case Layout::AlarmState: return listOf(AlarmStateField::kAll, AlarmStateField::kSize);
    case Layout::Compensation: return listOf(CompensationField::kAll, CompensationField::kSize);
    case Layout::None: break;
    }
    return FieldList{nullptr, 0, 0};
}

std::vector<FieldDesc> leafFields(Layout layout)
{
    std::vector<FieldDesc> leaves;
    const FieldList list = fieldList(layout);
    for (std::size_t e = 0; e < list.count; ++e) {
        const FieldDesc &d = list.begin[e];
        if (d.type == ValueType::Reserved)
            continue;
        if (d.type == ValueType::Record) {
            const std::vector<FieldDesc> inner = leafFields(d.recordLayout);
            for (int i = 0; i < d.count; ++i)
                for (const FieldDesc &sub : inner)
                    leaves.push_back(d.at(i).field(sub));
        } else if (d.isArray) {
            for (int i = 0; i < d.count; ++i)
                leaves.push_back(d.at(i));
        } else {
            leaves.push_back(d);
        }
    }
    return leaves;
}

std::string serialNumberText(const sSystem &system)
{
    std::string text;
    for (int i = 0; i < sSystem::serialNumberCount; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", system.serialNumber(i));
        text += hex;
    }
    return text;
}

std::string firmwareVersionText(const sSystem &system)
{
    // A zero byte (an image not yet read) adds nothing rather than a NUL inside the text.
    std::string text;
    const auto put = [&](int i) {
        if (const char c = system.firmwareVersion(i); c != '\0')
            text += c;
    };
    put(3);
    put(2);
    put(1);
    text += '.';
    put(0);
    return text;
}

} // namespace Z960Data
