// Structure images: every named accessor at its documented offset, every setter
// touching only its own bytes, the descriptors agreeing with the accessors, and the
// whole-image and checked-access rules.
#include "link/Z960Data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

using namespace Z960Data;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "reference values below use host byte order");

namespace {

using Bytes = std::vector<std::uint8_t>;

// Reference encoding, independent of the accessors: host (little-endian) bytes.
template <class T> Bytes le(T v)
{
    Bytes b(sizeof(T));
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}
Bytes le(const Timestamp &t) { return Bytes(t.data(), t.data() + Timestamp::size()); }

template <class T> T fromLe(const Bytes &b)
{
    T v;
    std::memcpy(&v, b.data(), sizeof v);
    return v;
}
template <> Timestamp fromLe<Timestamp>(const Bytes &b)
{
    Timestamp t;
    t.assign(b.data(), b.size());
    return t;
}

template <class S> struct Row {
    std::string name;
    std::size_t offset; // documented offset
    FieldDesc desc;
    std::function<Bytes(const S &)> read;
    std::function<void(S &, const Bytes &)> write;
};

template <class S> S patterned()
{
    S s;
    for (std::size_t i = 0; i < S::size(); ++i)
        s.data()[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return s;
}

#define FIELD(S, NS, name, setter, off)                                                           \
    rows.push_back(Row<S>{#name, off, NS::name, [](const S &s) { return le(s.name()); },          \
                          [](S &s, const Bytes &b) { s.setter(fromLe<decltype(s.name())>(b)); }});
#define ARRAY(S, NS, name, setter, off, n)                                                        \
    for (int i = 0; i < (n); ++i) {                                                               \
        using T = decltype(S().name(0));                                                          \
        rows.push_back(Row<S>{std::string(#name "[") + std::to_string(i) + "]",                   \
                              std::size_t(off) + i * sizeof(T), NS::name.at(i),                   \
                              [i](const S &s) { return le(s.name(i)); },                          \
                              [i](S &s, const Bytes &b) { s.setter(i, fromLe<T>(b)); }});         \
    }
#define RECORD(S, NS, rec, off, stride, n, RNS, name, setter, subOff)                             \
    for (int i = 0; i < (n); ++i) {                                                               \
        using T = decltype(S().rec(0).name());                                                    \
        rows.push_back(Row<S>{std::string(#rec "[") + std::to_string(i) + "]." #name,             \
                              std::size_t(off) + i * (stride) + (subOff),                         \
                              NS::rec.at(i).field(RNS::name),                                     \
                              [i](const S &s) { return le(s.rec(i).name()); },                    \
                              [i](S &s, const Bytes &b) { s.rec(i).setter(fromLe<T>(b)); }});     \
    }
#define RECORD_ARRAY(S, NS, rec, off, stride, n, RNS, name, setter, subOff, m)                    \
    for (int i = 0; i < (n); ++i)                                                                 \
        for (int j = 0; j < (m); ++j) {                                                           \
            using T = decltype(S().rec(0).name(0));                                               \
            rows.push_back(Row<S>{std::string(#rec "[") + std::to_string(i) + "]." #name "[" +    \
                                      std::to_string(j) + "]",                                    \
                                  std::size_t(off) + i * (stride) + (subOff) + j * sizeof(T),     \
                                  NS::rec.at(i).field(RNS::name).at(j),                           \
                                  [i, j](const S &s) { return le(s.rec(i).name(j)); },            \
                                  [i, j](S &s, const Bytes &b) { s.rec(i).setter(j, fromLe<T>(b)); }}); \
        }

std::vector<Row<sConfig>> configRows()
{
    std::vector<Row<sConfig>> rows;
#define F(name, setter, off) FIELD(sConfig, ConfigField, name, setter, off)
    F(modbusId, setModbusId, 2) F(SiteID, setSiteID, 4) F(backlightTimeOut, setBacklightTimeOut, 8)
    F(lcdTimeOut, setLcdTimeOut, 10) F(simulationVal, setSimulationVal, 12)
    F(emptyPipeDetect, setEmptyPipeDetect, 18) F(pnfThreshold, setPnfThreshold, 20)
    F(ecThreshold, setEcThreshold, 24) F(failSafeModeLow, setFailSafeModeLow, 28)
    F(lowFlowSetpoint, setLowFlowSetpoint, 30) F(zeroFlowCutOff, setZeroFlowCutOff, 34)
    F(responseTime, setResponseTime, 38) F(onTime, setOnTime, 40) F(offTime, setOffTime, 42)
    F(logPeriod, setLogPeriod, 44) F(scansPerDiag, setScansPerDiag, 46)
    F(zeroFlowOffTime, setZeroFlowOffTime, 48) F(flowVolumeUnit, setFlowVolumeUnit, 50)
    F(flowVolumeSpecFact, setFlowVolumeSpecFact, 52) F(flowTimeUnit, setFlowTimeUnit, 56)
    F(flowTimeSpecFact, setFlowTimeSpecFact, 58) F(totaliserUnit, setTotaliserUnit, 62)
    F(totaliserSpecFact, setTotaliserSpecFact, 64) F(offPeakStart, setOffPeakStart, 70)
    F(offPeakStop, setOffPeakStop, 80) F(eoyLatchDate, setEoyLatchDate, 90)
    F(pwdU0, setPwdU0, 100) F(pwdU1, setPwdU1, 102) F(pwdU2, setPwdU2, 104)
    F(pwdC0, setPwdC0, 106) F(pwdC1, setPwdC1, 108) F(pwdC2, setPwdC2, 110)
    F(serialMode, setSerialMode, 240) F(baudRate, setBaudRate, 244)
    F(lcdContrast, setLcdContrast, 248) F(modemOnDuration, setModemOnDuration, 250)
    F(modemInterval, setModemInterval, 252) F(ModemWindowEnabled, setModemWindowEnabled, 254)
    F(ModemWindowDisabled, setModemWindowDisabled, 264)
    F(registerLogInterval, setRegisterLogInterval, 274)
    F(enableReverseFlow, setEnableReverseFlow, 276) F(gateControl, setGateControl, 278)
    F(flags, setFlags, 280) F(batteryAlarmLevel, setBatteryAlarmLevel, 282)
#undef F
#define AL(name, setter, sub) RECORD(sConfig, ConfigField, alarm, 112, 12, 4, AlarmConfigField, name, setter, sub)
    AL(recordOnAlarm, setRecordOnAlarm, 0) AL(alarm_cause, setAlarm_cause, 2)
#undef AL
#define AO(name, setter, sub) RECORD(sConfig, ConfigField, analogOut, 160, 20, 2, AnalogOutField, name, setter, sub)
    AO(mode, setMode, 0) AO(channel, setChannel, 2) AO(damping, setDamping, 4) AO(zero, setZero, 8)
    AO(span, setSpan, 12) AO(limit, setLimit, 16)
#undef AO
#define DO(name, setter, sub) RECORD(sConfig, ConfigField, digitalOut, 200, 10, 4, DigitalOutField, name, setter, sub)
    DO(type, setType, 0) DO(frequency, setFrequency, 2) DO(channel, setChannel, 4)
    DO(pulseScale, setPulseScale, 6) DO(pulseWidth, setPulseWidth, 8)
#undef DO
    return rows;
}

std::vector<Row<sCal>> calRows()
{
    std::vector<Row<sCal>> rows;
#define F(name, setter, off) FIELD(sCal, CalField, name, setter, off)
#define A(name, setter, off, n) ARRAY(sCal, CalField, name, setter, off, n)
    F(meterID, setMeterID, 2) F(flowFullScale, setFlowFullScale, 6)
    F(pipeUnitsMetric, setPipeUnitsMetric, 10) F(filterNumber, setFilterNumber, 12)
    F(coilCurrent, setCoilCurrent, 14) F(modelReplacing, setModelReplacing, 16)
    F(pipeDiam, setPipeDiam, 18) A(tubeSetSelect, setTubeSetSelect, 20, 3)
    A(flowTubeFactor, setFlowTubeFactor, 32, 4) A(flowTubeZero, setFlowTubeZero, 48, 2)
    F(detectorType, setDetectorType, 56) F(density, setDensity, 60) F(coilFreq, setCoilFreq, 64)
    A(span4_20, setSpan4_20, 68, 2) A(zero4_20, setZero4_20, 76, 2)
    F(calibrationDate, setCalibrationDate, 84) F(verificationDate, setVerificationDate, 94)
#undef F
#undef A
    return rows;
}

std::vector<Row<sBasicCal>> basicCalRows()
{
    std::vector<Row<sBasicCal>> rows;
    RECORD(sBasicCal, BasicCalField, compensation, 10, 24, 3, CompensationField, formula, setFormula, 0)
    RECORD_ARRAY(sBasicCal, BasicCalField, compensation, 10, 24, 3, CompensationField, chan, setChan, 2, 2)
    RECORD_ARRAY(sBasicCal, BasicCalField, compensation, 10, 24, 3, CompensationField, coeffs, setCoeffs, 4, 5)
#define F(name, setter, off) FIELD(sBasicCal, BasicCalField, name, setter, off)
    F(coilZero, setCoilZero, 82) F(coilSpan, setCoilSpan, 86) F(coilVoltageZero, setCoilVoltageZero, 90)
    F(coilVoltageSpan, setCoilVoltageSpan, 94) F(coilCurrentZero, setCoilCurrentZero, 98)
    F(coilCurrentSpan, setCoilCurrentSpan, 102) F(batVoltageZero, setBatVoltageZero, 106)
    F(batVoltageSpan, setBatVoltageSpan, 110) F(batChargeCurrentZero, setBatChargeCurrentZero, 114)
    F(batChargeCurrentSpan, setBatChargeCurrentSpan, 118) F(solarVoltageZero, setSolarVoltageZero, 122)
    F(solarVoltageSpan, setSolarVoltageSpan, 126) F(temperatureZero, setTemperatureZero, 130)
    F(temperatureSpan, setTemperatureSpan, 134) F(loBatterySafetyLimit, setLoBatterySafetyLimit, 168)
    F(loBatteryAlarmLevel, setLoBatteryAlarmLevel, 172)
#undef F
    return rows;
}

std::vector<Row<sStatus>> statusRows()
{
    std::vector<Row<sStatus>> rows;
#define F(name, setter, off) FIELD(sStatus, StatusField, name, setter, off)
    F(resetCount, setResetCount, 0) F(dateTime, setDateTime, 2)
    ARRAY(sStatus, StatusField, channelValues, setChannelValues, 12, 22)
    F(flowVelocity, setFlowVelocity, 12) F(flowRate, setFlowRate, 16) F(massFlow, setMassFlow, 20)
    F(measuredCoilCurrent, setMeasuredCoilCurrent, 68) F(batteryVoltage, setBatteryVoltage, 72)
    F(batteryCurrent, setBatteryCurrent, 76) F(solarVoltage, setSolarVoltage, 80)
    F(temperature, setTemperature, 84) F(coilResistance, setCoilResistance, 88)
    F(coilVoltage, setCoilVoltage, 96) F(forwardTotal, setForwardTotal, 100)
    F(reverseTotal, setReverseTotal, 108) F(nettTotal, setNettTotal, 116)
    F(peakForwardTotal, setPeakForwardTotal, 124) F(offPeakForwardTotal, setOffPeakForwardTotal, 132)
    F(peakReverseTotal, setPeakReverseTotal, 140) F(offPeakReverseTotal, setOffPeakReverseTotal, 148)
    F(ytdNettTotal, setYtdNettTotal, 156) F(ytdReverseTotal, setYtdReverseTotal, 164)
    F(ytdForwardTotal, setYtdForwardTotal, 172) F(inpNeg, setInpNeg, 188) F(inpPos, setInpPos, 192)
    F(flowVoltage, setFlowVoltage, 236) F(ecSignal, setEcSignal, 256) F(pnfSignal, setPnfSignal, 268)
    F(gatePosition, setGatePosition, 274) F(gateClosedFlow, setGateClosedFlow, 276)
    F(gateOpen, setGateOpen, 280) F(pnfEcFlags, setPnfEcFlags, 281) F(systemFault, setSystemFault, 282)
    F(alarmStatus, setAlarmStatus, 285)
#undef F
    RECORD(sStatus, StatusField, alarmState, 305, 5, 4, AlarmStateField, active, setActive, 0)
    RECORD(sStatus, StatusField, alarmState, 305, 5, 4, AlarmStateField, value, setValue, 1)
    return rows;
}

std::vector<Row<sSystem>> systemRows()
{
    std::vector<Row<sSystem>> rows;
    ARRAY(sSystem, SystemField, serialNumber, setSerialNumber, 0, 6)
    FIELD(sSystem, SystemField, lastPowerUp, setLastPowerUp, 78)
    ARRAY(sSystem, SystemField, optionCard, setOptionCard, 96, 3)
    FIELD(sSystem, SystemField, selfTest, setSelfTest, 117)
    FIELD(sSystem, SystemField, maintenanceMode, setMaintenanceMode, 121)
    FIELD(sSystem, SystemField, simulationMode, setSimulationMode, 126)
    ARRAY(sSystem, SystemField, firmwareVersion, setFirmwareVersion, 130, 4)
    return rows;
}

std::vector<Row<Timestamp>> timestampRows()
{
    std::vector<Row<Timestamp>> rows;
#define F(name, setter, off) FIELD(Timestamp, TimestampField, name, setter, off)
    F(year, setYear, 0) F(month, setMonth, 1) F(day, setDay, 2) F(hour, setHour, 3)
    F(minute, setMinute, 4) F(second, setSecond, 5)
#undef F
    return rows;
}

template <class S> void checkReads(const std::vector<Row<S>> &rows)
{
    const S s = patterned<S>();
    for (const Row<S> &r : rows) {
        SCOPED_TRACE(r.name);
        const Bytes got = r.read(s);
        ASSERT_LE(r.offset + got.size(), S::size());
        EXPECT_EQ(got, Bytes(s.data() + r.offset, s.data() + r.offset + got.size()));
        EXPECT_EQ(r.desc.offset, r.offset);
        EXPECT_EQ(r.desc.width, got.size());
    }
}

template <class S> void checkWritesOnlyOwnBytes(const std::vector<Row<S>> &rows)
{
    for (const Row<S> &r : rows) {
        SCOPED_TRACE(r.name);
        S s = patterned<S>();
        const S before = s;
        Bytes flipped = r.read(s);
        for (auto &b : flipped)
            b = static_cast<std::uint8_t>(~b);
        r.write(s, flipped);
        for (std::size_t i = 0; i < S::size(); ++i) {
            const bool own = i >= r.offset && i < r.offset + flipped.size();
            ASSERT_EQ(s.data()[i], own ? flipped[i - r.offset] : before.data()[i]) << "byte " << i;
        }
    }
}

// Every readable element the descriptors list has one accessor row, same place and name.
template <class S> void checkDescriptorsMatchRows(const std::vector<Row<S>> &rows)
{
    std::set<std::string> seen;
    for (const FieldDesc &leaf : leafFields(S::kLayout)) {
        if (leaf.bitMask != 0)
            continue;
        bool found = false;
        for (const Row<S> &r : rows)
            found = found || (r.desc.offset == leaf.offset && r.desc.width == leaf.width &&
                              r.desc.type == leaf.type && std::strcmp(r.desc.name, leaf.name) == 0 &&
                              r.desc.index == leaf.index && r.desc.recordIndex == leaf.recordIndex);
        EXPECT_TRUE(found) << leaf.name << " at " << leaf.offset << " has no accessor row";
        seen.insert(std::string(leaf.name) + "@" + std::to_string(leaf.offset));
    }
    EXPECT_EQ(seen.size(), rows.size()) << "accessor rows without a descriptor";
}

// The number of the leaf field that starts at the offset (not a flag bit).
template <class S> double numberAt(const S &s, std::size_t offset)
{
    for (const FieldDesc &leaf : leafFields(S::kLayout))
        if (leaf.offset == offset && leaf.bitMask == 0)
            return s.number(leaf);
    ADD_FAILURE() << "no field at " << offset;
    return 0.0;
}

template <class S> void checkAll(const std::vector<Row<S>> &rows)
{
    checkReads(rows);
    checkWritesOnlyOwnBytes(rows);
    checkDescriptorsMatchRows(rows);
}

} // namespace

TEST(DataStructures, SizesAndStructureNumbers)
{
    const std::size_t expected[] = {351, 941, 82, 46, 158, 332, 222, 69};
    for (unsigned n = 0; n < 8; ++n)
        EXPECT_EQ(structureSize(n), expected[n]) << n;
    EXPECT_EQ(structureSize(8), 0u);
    EXPECT_EQ(structureSize(255), 0u);
    EXPECT_EQ(sAlarmConfig::size(), 12u);
    EXPECT_EQ(sAnalogOut::size(), 20u);
    EXPECT_EQ(sDigitalOut::size(), 10u);
    EXPECT_EQ(sAlarmState::size(), 5u);
    EXPECT_EQ(sCompensation::size(), 24u);
    EXPECT_EQ(Timestamp::size(), 10u);
    EXPECT_EQ(sTimestamp::size(), 6u);
}

TEST(DataStructures, ConfigAccessorsAtTheirOffsets) { checkAll(configRows()); }
TEST(DataStructures, CalAccessorsAtTheirOffsets) { checkAll(calRows()); }
TEST(DataStructures, BasicCalAccessorsAtTheirOffsets) { checkAll(basicCalRows()); }
TEST(DataStructures, StatusAccessorsAtTheirOffsets) { checkAll(statusRows()); }
TEST(DataStructures, SystemAccessorsAtTheirOffsets) { checkAll(systemRows()); }
TEST(DataStructures, TimestampAccessorsAtTheirOffsets) { checkAll(timestampRows()); }

// The generic path the setup dialog uses: setting any leaf by descriptor changes its own
// bytes only, and reads back what was stored.
TEST(DataStructures, DescriptorSettersTouchOnlyTheirBytes)
{
    const auto run = [](auto image) {
        using S = decltype(image);
        for (const FieldDesc &d : leafFields(S::kLayout)) {
            SCOPED_TRACE(std::string(d.name) + " @" + std::to_string(d.offset));
            S s = patterned<S>();
            const S before = s;
            if (d.type == ValueType::Timestamp) {
                Timestamp t;
                t.data()[0] = 0xEE;
                s.template set<Timestamp>(d, t);
                EXPECT_EQ(s.template get<Timestamp>(d), t);
            } else if (d.bitMask != 0) {
                const bool was = s.number(d) != 0.0;
                s.setNumber(d, was ? 0.0 : 1.0);
                EXPECT_EQ(s.number(d), was ? 0.0 : 1.0);
            } else {
                const double v = s.number(d) == 1.0 ? 2.0 : 1.0;
                s.setNumber(d, v);
                EXPECT_EQ(s.number(d), v);
            }
            // A bit may change only itself; any other field only its own bytes.
            for (std::size_t i = 0; i < S::size(); ++i) {
                const bool own = i >= d.offset && i < std::size_t(d.offset) + d.width;
                std::uint8_t mask = own ? 0xFF : 0;
                if (own && d.bitMask != 0)
                    mask = static_cast<std::uint8_t>(d.bitMask >> (8 * (i - d.offset)));
                ASSERT_EQ(s.data()[i] & ~mask & 0xFF, before.data()[i] & ~mask & 0xFF) << "byte " << i;
            }
        }
    };
    run(sStatus());
    run(sSystem());
    run(sCal());
    run(sConfig());
    run(sBasicCal());
}

TEST(DataStructures, WireBytesOfDocumentedValues)
{
    sConfig cfg;
    cfg.digitalOut(0).setFrequency(-1000);
    EXPECT_EQ(cfg.data()[202], 0x18);
    EXPECT_EQ(cfg.data()[203], 0xFC);
    EXPECT_EQ(cfg.digitalOut(0).frequency(), -1000);

    cfg.setSiteID(999999);
    EXPECT_EQ(Bytes(cfg.data() + 4, cfg.data() + 8), (Bytes{0x3F, 0x42, 0x0F, 0x00}));

    // int16 enumerations sign-extend; uint16 ones do not.
    cfg.setSerialMode(-1);
    EXPECT_EQ(cfg.number(ConfigField::serialMode), -1.0);
    cfg.setFlowVolumeUnit(0xFFFF);
    EXPECT_EQ(cfg.number(ConfigField::flowVolumeUnit), 65535.0);

    sCal cal;
    cal.setDetectorType(0.89f);
    EXPECT_EQ(Bytes(cal.data() + 56, cal.data() + 60), (Bytes{0x0A, 0xD7, 0x63, 0x3F}));
    cal.setNumber(CalField::detectorType, 0.89); // the dialog's double lands on the same float
    EXPECT_EQ(Bytes(cal.data() + 56, cal.data() + 60), (Bytes{0x0A, 0xD7, 0x63, 0x3F}));
}

// Fields the meter sends as signed 16-bit values read back negative, through
// their accessor and through their descriptor. Every byte is 0xFF, so each
// holds -1 (65535 were it read unsigned).
TEST(DataStructures, SignedSixteenBitFieldsReadNegative)
{
    sConfig cfg;
    sSystem sys;
    sBasicCal basic;
    std::memset(cfg.data(), 0xFF, cfg.size());
    std::memset(sys.data(), 0xFF, sys.size());
    std::memset(basic.data(), 0xFF, basic.size());
    // Each field with its element count; the descriptor is found by offset.
    struct Case {
        const char *name;
        int count;
        std::function<double(int)> read;
        std::function<double(int)> byDescriptor;
    };
    const Case cases[] = {
        {"baudRate", 1, [&](int) { return cfg.baudRate(); }, [&](int) { return numberAt(cfg, 244); }},
        {"serialMode", 1, [&](int) { return cfg.serialMode(); }, [&](int) { return numberAt(cfg, 240); }},
        {"optionCard", 3, [&](int i) { return sys.optionCard(i); }, [&](int i) { return numberAt(sys, 96 + 2 * i); }},
        {"compensation formula", 3, [&](int i) { return basic.compensation(i).formula(); },
         [&](int i) { return numberAt(basic, 10 + 24 * i); }},
        {"analogOut mode", 2, [&](int i) { return cfg.analogOut(i).mode(); },
         [&](int i) { return numberAt(cfg, 160 + 20 * i); }},
        {"analogOut channel", 2, [&](int i) { return cfg.analogOut(i).channel(); },
         [&](int i) { return numberAt(cfg, 162 + 20 * i); }},
        {"digitalOut type", 4, [&](int i) { return cfg.digitalOut(i).type(); },
         [&](int i) { return numberAt(cfg, 200 + 10 * i); }},
        {"digitalOut frequency", 4, [&](int i) { return cfg.digitalOut(i).frequency(); },
         [&](int i) { return numberAt(cfg, 202 + 10 * i); }},
    };
    for (const Case &c : cases)
        for (int i = 0; i < c.count; ++i) {
            EXPECT_EQ(c.read(i), -1.0) << c.name << " " << i;
            EXPECT_EQ(c.byDescriptor(i), -1.0) << c.name << " " << i;
        }
}

TEST(DataStructures, FlagBitsChangeOnlyTheirOwnBit)
{
    struct Case {
        std::uint16_t flags;
        bool lowPower;
        bool setLowPower;
        bool halt;
        bool setHalt;
        std::uint16_t expected;
    };
    const Case cases[] = {
        {0x00F0, true, true, false, false, 0x00F1},  // tick low-power mode
        {0x0003, false, false, false, true, 0x0001}, // untick halt on signal errors
        {0xFFFF, false, true, false, false, 0xFFFE},
        {0x8000, false, false, true, true, 0x8002},
    };
    for (const Case &c : cases) {
        sConfig cfg;
        cfg.setFlags(c.flags);
        if (c.setLowPower)
            cfg.setLowPowerMode(c.lowPower);
        if (c.setHalt)
            cfg.setHaltScanOnSignalError(c.halt);
        EXPECT_EQ(cfg.flags(), c.expected) << std::hex << c.flags;

        sConfig viaDesc;
        viaDesc.setFlags(c.flags);
        if (c.setLowPower)
            viaDesc.setNumber(ConfigField::lowPowerMode, c.lowPower ? 1 : 0);
        if (c.setHalt)
            viaDesc.setNumber(ConfigField::haltScanOnSignalError, c.halt ? 1 : 0);
        EXPECT_EQ(viaDesc.flags(), c.expected) << std::hex << c.flags;
    }
    sConfig cfg;
    cfg.setFlags(0x0002);
    EXPECT_FALSE(cfg.lowPowerMode());
    EXPECT_TRUE(cfg.haltScanOnSignalError());
}

TEST(DataStructures, WholeImageReplaceAndCopy)
{
    sConfig cfg = patterned<sConfig>();
    const sConfig before = cfg;
    std::vector<std::uint8_t> wire(sConfig::size() + 1, 0x5A);

    EXPECT_FALSE(cfg.assign(wire.data(), wire.size()));     // one byte too long
    EXPECT_FALSE(cfg.assign(wire.data(), wire.size() - 2)); // one too short
    EXPECT_FALSE(cfg.assign(nullptr, sConfig::size()));
    EXPECT_EQ(cfg, before);

    ASSERT_TRUE(cfg.assign(wire.data(), sConfig::size()));
    EXPECT_EQ(Bytes(cfg.data(), cfg.data() + cfg.size()), Bytes(sConfig::size(), 0x5A));

    // An edit keeps the reserved bytes as received when the image is copied out.
    cfg.setSiteID(12);
    std::vector<std::uint8_t> out(sConfig::size());
    cfg.copyTo(out.data());
    EXPECT_EQ(out[0], 0x5A);
    EXPECT_EQ(out[331], 0x5A);
    EXPECT_EQ(out[4], 12);
}

TEST(DataStructures, IndicesAndDescriptorsAreChecked)
{
    sConfig cfg;
    EXPECT_THROW(cfg.alarm(4), std::out_of_range);
    EXPECT_THROW(cfg.alarm(-1), std::out_of_range);
    sCal cal;
    EXPECT_THROW(cal.flowTubeFactor(4), std::out_of_range);
    EXPECT_THROW(cal.setFlowTubeZero(2, 1.0f), std::out_of_range);
    EXPECT_THROW(CalField::flowTubeFactor.at(4), std::out_of_range);
    EXPECT_THROW(CalField::meterID.at(0), std::out_of_range); // not an array
    EXPECT_THROW(ConfigField::alarm.field(AlarmConfigField::alarm_cause), std::invalid_argument);
    EXPECT_THROW(ConfigField::alarm.at(0).field(AnalogOutField::mode), std::invalid_argument);

    EXPECT_THROW(cfg.number(CalField::meterID), std::invalid_argument);      // other structure
    EXPECT_THROW(cal.number(CalField::flowTubeFactor), std::invalid_argument); // no element chosen
    EXPECT_THROW(cfg.get<float>(ConfigField::SiteID), std::invalid_argument); // wrong type
    EXPECT_THROW(cfg.get<std::uint16_t>(ConfigField::lowPowerMode), std::invalid_argument);
    EXPECT_THROW(cfg.number(ConfigField::offPeakStart), std::invalid_argument);
    EXPECT_THROW(cfg.number(ConfigField::alarm.at(1)), std::invalid_argument); // a whole record

    // Values the field cannot hold are refused and nothing is stored.
    cfg.setSiteID(7);
    EXPECT_THROW(cfg.setNumber(ConfigField::SiteID, -1.0), std::out_of_range);
    EXPECT_THROW(cfg.setNumber(ConfigField::SiteID, 4294967296.0), std::out_of_range);
    EXPECT_THROW(cfg.setNumber(ConfigField::SiteID, std::nan("")), std::out_of_range);
    EXPECT_EQ(cfg.SiteID(), 7u);
    EXPECT_THROW(cfg.setNumber(ConfigField::simulationVal, 1e39), std::out_of_range);
    const FieldDesc freq = ConfigField::digitalOut.at(3).field(DigitalOutField::frequency);
    EXPECT_THROW(cfg.setNumber(freq, 40000.0), std::out_of_range);
    cfg.setNumber(freq, -1000.0);
    EXPECT_EQ(cfg.digitalOut(3).frequency(), -1000);
}

TEST(DataStructures, ChannelLookupIsChecked)
{
    sStatus status = patterned<sStatus>();
    EXPECT_EQ(channelValue(status, 0), status.flowVelocity());
    EXPECT_EQ(channelValue(status, 14), status.measuredCoilCurrent());
    EXPECT_EQ(channelValue(status, 21), status.coilVoltage());
    for (long bad : {-1L, 22L, 255L, -32768L, 65535L})
        EXPECT_FALSE(channelValue(status, bad).has_value()) << bad;
}

TEST(DataStructures, SystemTexts)
{
    sSystem sys;
    const std::uint8_t serial[] = {0x00, 0x1A, 0xFF, 0x10, 0x02, 0x0B};
    for (int i = 0; i < 6; ++i)
        sys.setSerialNumber(i, serial[i]);
    EXPECT_EQ(serialNumberText(sys), "00 1A FF 10 02 0B ");

    const char fw[] = {'0', '2', '1', '3'};
    for (int i = 0; i < 4; ++i)
        sys.setFirmwareVersion(i, fw[i]);
    EXPECT_EQ(firmwareVersionText(sys), "312.0");
    EXPECT_EQ(firmwareVersionText(sSystem()), ".");
}

TEST(DataStructures, ZeroImagesReadZero)
{
    const sStatus status;
    EXPECT_EQ(status.resetCount(), 0);
    EXPECT_EQ(status.forwardTotal(), 0.0);
    EXPECT_EQ(status.alarmState(3).active(), 0);
    EXPECT_EQ(status.dateTime(), Timestamp());
}

TEST(DataStructures, TilingCheckRejectsGapsAndOverlaps)
{
    using detail::reserved;
    using detail::scalar;
    constexpr FieldDesc good[] = {scalar<std::uint16_t>("a", Layout::None, 0), reserved(Layout::None, 2, 2)};
    constexpr FieldDesc gap[] = {scalar<std::uint16_t>("a", Layout::None, 0), reserved(Layout::None, 3, 1)};
    constexpr FieldDesc overlap[] = {scalar<std::uint32_t>("a", Layout::None, 0), reserved(Layout::None, 2, 2)};
    constexpr FieldDesc shortList[] = {scalar<std::uint16_t>("a", Layout::None, 0)};
    static_assert(detail::tiles(good, 4));
    static_assert(!detail::tiles(gap, 4));
    static_assert(!detail::tiles(overlap, 4));
    static_assert(!detail::tiles(shortList, 4));
    SUCCEED();
}
