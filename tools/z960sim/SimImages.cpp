// Plausible default images of a working meter. Every named field is set
// explicitly; the reserved stretches (and the spare bytes of each timestamp)
// carry a recognisable pattern, so a PC that fails to send them back as they
// came shows it at once.
#include "z960sim/SimFraming.h"

#include <ctime>
#include <stdexcept>

namespace z960sim {

namespace {

Bytes patterned(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(0x5A + 3 * i);
    return b;
}

void zero(Bytes &b, size_t off, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        b.at(off + i) = 0;
}

Bytes statusImage()
{
    Bytes b = patterned(kImageSizes[0]);
    putU16(b, 0, 3);                 // resetCount
    putTimestamp(b, 2, 2025, 1, 1, 0, 0, 0);  // dateTime: refreshed from the clock at every read
    const struct { size_t off; float v; } floats[] = {
        {12, 0.52f},  {16, 14.7f}, {20, 14.7f},  // velocity m/s, rate L/s, mass flow kg/s
        {68, 0.2f},   {72, 12.6f}, {76, 0.05f},  // coil current A, battery V, battery current
        {80, 18.2f},  {84, 21.5f}, {88, 62.0f},  // solar V, temperature, coil resistance
        {96, 12.4f},                             // coil voltage
        {188, -1.25f}, {192, 1.31f}, {236, 2.56f},  // Inp-, Inp+, flow voltage mV
        {256, 0.8f},  {268, 0.4f}, {276, 0.0f},  // EC, PNF, gate-closed flow
    };
    for (const auto &f : floats)
        putF32(b, f.off, f.v);
    const double totals[10] = {12345.678, 12.5, 12333.178, 8000.0, 4345.678,
                               10.0, 2.5, 2333.178, 2.5, 2335.678};
    for (int i = 0; i < 10; ++i)
        putF64(b, 100 + 8 * i, totals[i]);
    putU16(b, 274, 100);  // gatePosition
    b[280] = 1;           // gateOpen
    b[281] = 0;           // pnfEcFlags
    putU16(b, 282, 0);    // systemFault
    putU16(b, 285, 0);    // alarmStatus
    zero(b, 305, 20);     // alarmState x 4
    return b;
}

Bytes systemImage()
{
    Bytes b = patterned(kImageSizes[1]);
    const uint8_t serial[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    for (int i = 0; i < 6; ++i)
        b[i] = serial[i];
    // Last power-up: 12 days and 5 hours before start, in local time.
    const std::time_t t = std::time(nullptr) - (12 * 24 + 5) * 3600;
    std::tm tm{};
    localtime_r(&t, &tm);
    putTimestamp(b, 78, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    putU16(b, 96, 0);     // optionCard: empty slot, isolated comms card, empty slot
    putU16(b, 98, 2);
    putU16(b, 100, 31);
    putU16(b, 117, 127);  // selfTest: all passed
    b[121] = 0;           // maintenanceMode
    putU16(b, 126, 0);    // simulationMode off
    b[130] = '4';         // firmware "102.4"
    b[131] = '2';
    b[132] = '0';
    b[133] = '1';
    return b;
}

Bytes calImage()
{
    Bytes b = patterned(kImageSizes[4]);
    putU32(b, 2, 960123);   // meterID
    putF32(b, 6, 100.0f);   // flowFullScale
    putU16(b, 10, 0);       // pipeUnitsMetric
    putU16(b, 12, 1);       // filterNumber
    putU16(b, 14, 200);     // coilCurrent mA
    putU16(b, 16, 0);       // modelReplacing
    putU16(b, 18, 150);     // pipeDiam
    const float tube[] = {0.5f, 1.0f, 2.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f};  // select x3, factor x4, zero x2
    for (int i = 0; i < 9; ++i)
        putF32(b, 20 + 4 * i, tube[i]);
    putF32(b, 56, 1.0f);    // detectorType
    putF32(b, 60, 1.0f);    // density
    putF32(b, 64, 2.0f);    // coilFreq Hz
    putF32(b, 68, 1.0f);    // span4_20 x2
    putF32(b, 72, 1.0f);
    putF32(b, 76, 0.0f);    // zero4_20 x2
    putF32(b, 80, 0.0f);
    putTimestamp(b, 84, 2024, 3, 14, 10, 0, 0);  // calibrationDate
    putTimestamp(b, 94, 2025, 3, 14, 9, 30, 0);  // verificationDate
    return b;
}

Bytes configImage()
{
    Bytes b = patterned(kImageSizes[5]);
    putU16(b, 2, 1);        // modbusId (the simulator puts its address here)
    putU32(b, 4, 4711);     // SiteID
    putU16(b, 8, 30);       // backlightTimeOut
    putU16(b, 10, 60);      // lcdTimeOut
    putF32(b, 12, 0.0f);    // simulationVal
    putU16(b, 18, 1);       // emptyPipeDetect
    putF32(b, 20, 2.5f);    // pnfThreshold
    putF32(b, 24, 5.0f);    // ecThreshold
    putU16(b, 28, 0);       // failSafeModeLow
    putF32(b, 30, 5.0f);    // lowFlowSetpoint
    putF32(b, 34, 2.0f);    // zeroFlowCutOff
    const struct { size_t off; uint16_t v; } words[] = {
        {38, 10}, {40, 30}, {42, 270}, {44, 900}, {46, 4}, {48, 600},  // response .. zeroFlowOffTime
        {50, 0}, {56, 0}, {62, 0},                                   // volume, time, totaliser units
        {100, 1111}, {102, 2222}, {104, 3333},                       // front-panel codes
        {106, 1234}, {108, 2345}, {110, 3456},                       // comms codes: levels 1, 2, 3
        {240, 0}, {244, 0}, {248, 50}, {250, 10}, {252, 60},         // serial, baud, contrast, modem
        {274, 900}, {276, 1}, {278, 0}, {280, 0},                    // register log, reverse, gate, flags
    };
    for (const auto &w : words)
        putU16(b, w.off, w.v);
    putF32(b, 52, 1.0f);    // flowVolumeSpecFact
    putF32(b, 58, 1.0f);    // flowTimeSpecFact
    putF32(b, 64, 1.0f);    // totaliserSpecFact
    putTimestamp(b, 70, 2000, 1, 1, 22, 0, 0);   // offPeakStart
    putTimestamp(b, 80, 2000, 1, 1, 6, 0, 0);    // offPeakStop
    putTimestamp(b, 90, 2000, 6, 30, 0, 0, 0);   // eoyLatchDate
    for (int k = 0; k < 4; ++k) {                // alarms: recorded; alarm 1 on cause 1
        putU16(b, 112 + 12 * k, 1);
        putU16(b, 114 + 12 * k, k == 0 ? 1 : 0);
    }
    for (int k = 0; k < 2; ++k) {                // 4-20 mA outputs
        const size_t o = 160 + 20 * k;
        putU16(b, o, 0);
        putU16(b, o + 2, static_cast<uint16_t>(k));
        putF32(b, o + 4, 1.0f);
        putF32(b, o + 8, 0.0f);
        putF32(b, o + 12, 100.0f);
        putF32(b, o + 16, 22.0f);
    }
    for (int k = 0; k < 4; ++k) {                // digital outputs
        const size_t o = 200 + 10 * k;
        putU16(b, o, 0);
        putU16(b, o + 2, 100);
        putU16(b, o + 4, static_cast<uint16_t>(k));
        putU16(b, o + 6, 1);
        putU16(b, o + 8, 50);
    }
    putTimestamp(b, 254, 2000, 1, 1, 8, 0, 0);   // ModemWindowEnabled
    putTimestamp(b, 264, 2000, 1, 1, 17, 0, 0);  // ModemWindowDisabled
    putF32(b, 282, 11.5f);  // batteryAlarmLevel
    return b;
}

Bytes basicCalImage()
{
    Bytes b = patterned(kImageSizes[6]);
    for (int i = 0; i < 3; ++i) {                // compensation records
        const size_t o = 10 + 24 * i;
        putU16(b, o, static_cast<uint16_t>(i));
        b[o + 2] = static_cast<uint8_t>(i);
        b[o + 3] = static_cast<uint8_t>(i + 1);
        for (int c = 0; c < 5; ++c)
            putF32(b, o + 4 + 4 * c, c == 1 ? 1.0f : 0.0f);
    }
    for (int i = 0; i < 14; ++i)                 // zero and span trims, alternating
        putF32(b, 82 + 4 * i, (i % 2) ? 1.0f : 0.0f);
    putF32(b, 168, 10.5f);  // loBatterySafetyLimit
    putF32(b, 172, 11.0f);  // loBatteryAlarmLevel
    return b;
}

}  // namespace

Bytes Simulator::defaultImage(int n)
{
    switch (n) {
    case 0: return statusImage();
    case 1: return systemImage();
    case 4: return calImage();
    case 5: return configImage();
    case 6: return basicCalImage();
    case 2: case 3: case 7: return patterned(kImageSizes[static_cast<size_t>(n)]);
    default: throw std::invalid_argument("no structure " + std::to_string(n));
    }
}

}  // namespace z960sim
