// Meter images of a typical meter, a scripted meter for the report's link
// operations, and the settings, clock and locale a report runs with in tests.
#pragma once

#include "link/DateTime.h"
#include "link/Z960Port.h"
#include "platform/SettingsFile.h"
#include "report/Z960ReportUnit.h"
#include "serial/SerTypes.h"

#include <QLocale>
#include <QTemporaryDir>

#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace Z960ReportFixture {

using namespace Z960Data;

inline Timestamp stamp(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    Timestamp t;
    t.setYear(static_cast<std::uint8_t>(year - 2000));
    t.setMonth(static_cast<std::uint8_t>(month));
    t.setDay(static_cast<std::uint8_t>(day));
    t.setHour(static_cast<std::uint8_t>(hour));
    t.setMinute(static_cast<std::uint8_t>(minute));
    t.setSecond(static_cast<std::uint8_t>(second));
    return t;
}

// 9 December 2026 14:05:33, the clock of every test report.
inline DateTime::TDateTime fixedNow()
{
    return *DateTime::encode(DateTime::Fields{2026, 12, 9, 14, 5, 33, 0});
}

inline void fillStatus(sStatus &s)
{
    s.setResetCount(17);
    s.setDateTime(stamp(2026, 12, 9, 14, 5, 40));
    s.setFlowVelocity(1.2345f);
    s.setFlowRate(25.5f);
    s.setMassFlow(25.49f);
    s.setFlowVoltage(0.875f);
    s.setCoilVoltage(3.3f);
    s.setMeasuredCoilCurrent(0.2f);
    s.setCoilResistance(48.25f);
    s.setBatteryVoltage(12.61f);
    s.setSolarVoltage(18.04f);
    s.setTemperature(23.5f);
    s.setGatePosition(3);
    s.setGateOpen(1);
    s.setGateClosedFlow(0.5f);
    s.setPnfEcFlags(0);
    s.setSystemFault(0);
    s.setAlarmStatus(0);
}

inline void fillSystem(sSystem &s)
{
    const std::uint8_t sn[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    for (int i = 0; i < 6; ++i)
        s.setSerialNumber(i, sn[i]);
    s.setLastPowerUp(stamp(2026, 11, 27, 9, 0, 0));
    s.setOptionCard(0, 0);
    s.setOptionCard(1, 10);
    s.setOptionCard(2, 31);
    s.setSelfTest(127);
    s.setSimulationMode(0);
    const char fw[4] = {'4', '2', '0', '1'}; // "102.4"
    for (int i = 0; i < 4; ++i)
        s.setFirmwareVersion(i, fw[i]);
}

inline void fillConfig(sConfig &c)
{
    c.setModbusId(1);
    c.setSiteID(4711);
    c.setBacklightTimeOut(30);
    c.setLcdTimeOut(120);
    c.setSimulationVal(10.5f);
    c.setEmptyPipeDetect(1);
    c.setPnfThreshold(0.75f);
    c.setEcThreshold(1.25f);
    c.setFailSafeModeLow(0);
    c.setLowFlowSetpoint(5.0f);
    c.setZeroFlowCutOff(2.5f);
    c.setResponseTime(4);
    c.setOnTime(2);
    c.setOffTime(8);
    c.setLogPeriod(900);
    c.setScansPerDiag(96);
    c.setZeroFlowOffTime(60);
    c.setFlowVolumeUnit(3);
    c.setFlowVolumeSpecFact(1.0f);
    c.setFlowTimeUnit(0);
    c.setFlowTimeSpecFact(1.0f);
    c.setTotaliserUnit(2);
    c.setTotaliserSpecFact(1.0f);
    c.setOffPeakStart(stamp(2000, 1, 1, 22, 0, 0));
    c.setOffPeakStop(stamp(2000, 1, 1, 6, 30, 0));
    c.setEoyLatchDate(stamp(2000, 6, 30));
    c.alarm(0).setAlarm_cause(1);
    c.alarm(0).setRecordOnAlarm(1);
    c.alarm(1).setAlarm_cause(4);
    c.alarm(1).setRecordOnAlarm(0);
    c.analogOut(0).setMode(1);
    c.analogOut(0).setChannel(1);
    c.analogOut(0).setZero(0.0f);
    c.analogOut(0).setSpan(50.0f);
    c.analogOut(0).setDamping(2.5f);
    c.analogOut(0).setLimit(3.6f);
    c.digitalOut(0).setType(1);
    c.digitalOut(0).setChannel(1);
    c.digitalOut(0).setFrequency(1000);
    c.digitalOut(1).setType(2);
    c.digitalOut(1).setChannel(3);
    c.digitalOut(1).setPulseScale(10);
    c.digitalOut(1).setPulseWidth(50);
    c.digitalOut(2).setType(3);
    c.digitalOut(2).setChannel(0);
    c.setSerialMode(1);
    c.setBaudRate(0);
    c.setLcdContrast(7);
    c.setModemOnDuration(15);
    c.setModemInterval(60);
    c.setModemWindowEnabled(stamp(2000, 1, 1, 8, 0, 0));
    c.setModemWindowDisabled(stamp(2000, 1, 1, 17, 0, 0));
    c.setRegisterLogInterval(300);
    c.setEnableReverseFlow(1);
    c.setGateControl(0);
    c.setFlags(0x0001);
    c.setBatteryAlarmLevel(11.5f);
}

inline void fillCal(sCal &c)
{
    c.setMeterID(123456);
    c.setFlowFullScale(100.0f);
    c.setPipeUnitsMetric(0);
    c.setFilterNumber(0);
    c.setCoilCurrent(200);
    c.setModelReplacing(0);
    c.setPipeDiam(150);
    c.setTubeSetSelect(0, 0.5f);
    c.setTubeSetSelect(1, 1.5f);
    c.setTubeSetSelect(2, 3.0f);
    for (int i = 0; i < 4; ++i)
        c.setFlowTubeFactor(i, 1.0f + 0.125f * static_cast<float>(i));
    c.setFlowTubeZero(0, 0.01f);
    c.setFlowTubeZero(1, -0.02f);
    c.setDetectorType(1.0f);
    c.setDensity(1.0f);
    c.setCoilFreq(6.25f);
    c.setSpan4_20(0, 1.00123f);
    c.setSpan4_20(1, 0.99871f);
    c.setZero4_20(0, 0.0125f);
    c.setZero4_20(1, -0.0125f);
    c.setCalibrationDate(stamp(2025, 3, 14));
    c.setVerificationDate(stamp(2026, 12, 1));
}

inline void fillBasicCal(sBasicCal &b)
{
    for (int i = 0; i < 3; ++i) {
        b.compensation(i).setFormula(static_cast<std::int16_t>(i + 1));
        b.compensation(i).setChan(0, static_cast<std::uint8_t>(i));
        b.compensation(i).setChan(1, static_cast<std::uint8_t>(i + 3));
        for (int k = 0; k < 5; ++k)
            b.compensation(i).setCoeffs(k, 0.5f * static_cast<float>(k));
    }
    b.setCoilZero(0.001f);
    b.setCoilSpan(1.002f);
    b.setCoilVoltageZero(0.0f);
    b.setCoilVoltageSpan(1.0f);
    b.setCoilCurrentZero(-0.003f);
    b.setCoilCurrentSpan(0.998f);
    b.setBatVoltageZero(0.02f);
    b.setBatVoltageSpan(1.01f);
    b.setBatChargeCurrentZero(0.0f);
    b.setBatChargeCurrentSpan(1.0f);
    b.setSolarVoltageZero(0.1f);
    b.setSolarVoltageSpan(0.95f);
    b.setTemperatureZero(-1.5f);
    b.setTemperatureSpan(1.0f);
    b.setLoBatterySafetyLimit(10.5f);
    b.setLoBatteryAlarmLevel(11.0f);
}

inline void fillImages(Z960Port &port)
{
    fillStatus(port.statusImage);
    fillSystem(port.systemImage);
    fillConfig(port.configImage);
    fillCal(port.calImage);
    fillBasicCal(port.basicCalImage);
}

// The ten totals as registers 116..155 (high half first, the last two of each group 0).
inline void putTotals(std::map<unsigned short, unsigned short> &regs, const std::array<float, 10> &totals)
{
    for (int g = 0; g < 10; ++g) {
        std::uint32_t bits;
        std::memcpy(&bits, &totals[static_cast<std::size_t>(g)], sizeof bits);
        const auto r = static_cast<unsigned short>(116 + 4 * g);
        regs[r] = static_cast<unsigned short>(bits >> 16);
        regs[static_cast<unsigned short>(r + 1)] = static_cast<unsigned short>(bits & 0xFFFF);
        regs[static_cast<unsigned short>(r + 2)] = 0xBEEF; // read but never shown
        regs[static_cast<unsigned short>(r + 3)] = 0xBEEF;
    }
}

// The report's link operations, answered from a script.
struct FakeMeter {
    enum class Fault { None, Fail, Short, Throw };

    bool pingOk = true;
    std::set<unsigned char> failingStructures;
    std::map<unsigned short, unsigned short> registers;
    // Faults of the coming reads of a start register, in order; then reads succeed.
    std::map<unsigned short, std::vector<Fault>> faults;
    // Start registers whose every read has this fault.
    std::map<unsigned short, Fault> alwaysFaulty;

    int pings = 0;
    std::vector<unsigned char> structuresRead;
    std::vector<std::pair<unsigned short, unsigned short>> reads; // start, count
    std::function<void()> onRead; // after each read, e.g. to change totals between passes

    FakeMeter()
    {
        registers[1] = 12;
        registers[2] = 5;
        putTotals(registers, {1000.0f, 12.5f, 987.5f, 600.25f, 399.75f, 10.0f, 2.5f, 5000.125f, 100.0f, 4900.125f});
    }

    TZ960Report::LinkOps ops()
    {
        TZ960Report::LinkOps o;
        o.sendNullCommand = [this] {
            ++pings;
            return pingOk;
        };
        o.getStucture = [this](unsigned char n) {
            structuresRead.push_back(n);
            return failingStructures.count(n) == 0;
        };
        o.readRegisters = [this](unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                                 unsigned short) { return read(start, count, buf, len); };
        return o;
    }

    bool read(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len)
    {
        reads.emplace_back(start, count);
        if (onRead)
            onRead();
        const auto always = alwaysFaulty.find(start);
        Fault fault = always != alwaysFaulty.end() ? always->second : Fault::None;
        auto &queue = faults[start];
        if (fault == Fault::None && !queue.empty()) {
            fault = queue.front();
            queue.erase(queue.begin());
        }
        if (fault == Fault::Fail)
            return false;
        if (fault == Fault::Throw)
            throw ESerCommError("Serial port error: the device does not respond");
        buf[0] = static_cast<unsigned char>(2 * count);
        for (unsigned short i = 0; i < count; ++i) {
            const unsigned short v = registers[static_cast<unsigned short>(start + i)];
            buf[1 + 2 * i] = static_cast<unsigned char>(v >> 8);
            buf[2 + 2 * i] = static_cast<unsigned char>(v & 0xFF);
        }
        *len = static_cast<unsigned short>(1 + 2 * count);
        if (fault == Fault::Short)
            *len = static_cast<unsigned short>(*len - 2); // one register missing
        return true;
    }

    int readsOf(unsigned short start) const
    {
        int n = 0;
        for (const auto &r : reads)
            n += r.first == start;
        return n;
    }
};

// Settings file, clock and locale of a test report, restored afterwards.
class ReportEnvironment {
public:
    ReportEnvironment() : now_(fixedNow()), savedLocale_(QLocale())
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        Platform::Settings::setFilePath(dir.filePath(QStringLiteral("vantoro.ini")));
    }
    ~ReportEnvironment()
    {
        Platform::Settings::setFilePath(QString());
        QLocale::setDefault(savedLocale_);
    }

    void options(bool pdf, bool rtf, bool csv, bool openPdf = false, bool openRtf = false, bool openCsv = false)
    {
        Platform::Settings::writeReportOptions({pdf, rtf, csv, openPdf, openRtf, openCsv});
    }
    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;

private:
    DateTime::ScopedNow now_;
    QLocale savedLocale_;
};

} // namespace Z960ReportFixture
