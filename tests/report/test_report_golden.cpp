// The CSV file byte for byte, from fixture images with a fixed clock and
// locale: a typical meter, a failing one and one of edge values.
//
// VANTORO_UPDATE_GOLDEN=1 rewrites the golden files instead of comparing
// (review the difference before keeping it); VANTORO_KEEP_REPORT=<folder>
// also copies every file written there, to look at the PDF and RTF.
#include "Z960ReportFixture.h"
#include "support/ScriptedPrompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Z960ReportFixture;
using Fault = FakeMeter::Fault;

namespace {

QString goldenPath(const char *name)
{
    return QFileInfo(QString::fromUtf8(__FILE__)).dir().filePath(QStringLiteral("golden/") + QString::fromLatin1(name));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The first line where two texts differ, for a readable failure.
std::string firstDifference(const QByteArray &got, const QByteArray &want)
{
    const QList<QByteArray> a = got.split('\n'), b = want.split('\n');
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i)
        if (a.value(i) != b.value(i))
            return "line " + std::to_string(i + 1) + ":\n  got  [" + a.value(i).toStdString() + "]\n  want [" +
                   b.value(i).toStdString() + "]";
    return "same text";
}

class GoldenCsv : public testing::Test {
protected:
    GoldenCsv() : port(nullptr, 1)
    {
        fillImages(port);
        port.portOpen = true;
    }

    void check(const char *name, const QStringList &notes, const std::string &validator)
    {
        const QByteArray keep = qgetenv("VANTORO_KEEP_REPORT");
        env.options(!keep.isEmpty(), !keep.isEmpty(), true);
        const QString base = QString::fromLatin1(name);
        if (!keep.isEmpty())
            for (const char *ext : {".pdf", ".rtf"})
                prompter.saveFiles.push_back(env.path(base + QString::fromLatin1(ext)));
        prompter.saveFiles.push_back(env.path(base + QStringLiteral(".csv")));

        TZ960Report report(nullptr, &port, env.dir.path().toStdString(), "Jo Bloggs", validator, "North Weir", notes,
                           meter.ops());
        ASSERT_TRUE(report.generated()) << prompter.texts().join(QLatin1Char('|')).toStdString();
        const QByteArray got = readAll(env.path(base + QStringLiteral(".csv")));

        if (!keep.isEmpty())
            for (const char *ext : {".pdf", ".rtf", ".csv"}) {
                const QString to = QDir(QString::fromLocal8Bit(keep)).filePath(base + QString::fromLatin1(ext));
                QFile::remove(to);
                QFile::copy(env.path(base + QString::fromLatin1(ext)), to);
            }
        const QString golden = goldenPath((std::string(name) + ".csv").c_str());
        if (qEnvironmentVariableIsSet("VANTORO_UPDATE_GOLDEN")) {
            QDir().mkpath(QFileInfo(golden).path());
            QFile f(golden);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(got);
            return;
        }
        const QByteArray want = readAll(golden);
        ASSERT_FALSE(want.isEmpty()) << "no golden file " << golden.toStdString();
        EXPECT_TRUE(got == want) << firstDifference(got, want);
    }

    ReportEnvironment env;
    TestSupport::ScriptedPrompter prompter;
    Z960Port port;
    FakeMeter meter;
};

} // namespace

TEST_F(GoldenCsv, TypicalMeter)
{
    check("full", {QStringLiteral("Replaced the coil cable."), QStringLiteral("Flow checked against the weir: OK.")},
          "DAV01234");
}

// No register answers, a failed self test, faults and alarms, no notes and no validator.
TEST_F(GoldenCsv, FailingMeter)
{
    meter.alwaysFaulty = {{116, Fault::Fail}, {1, Fault::Short}, {2, Fault::Throw}};
    sStatus &s = port.statusImage;
    s.setSystemFault(0x1FFF);
    s.setAlarmStatus(0xFFFF);
    s.setPnfEcFlags(0x11);
    s.setGateOpen(0);
    s.setBatteryVoltage(10.05f);
    s.setDateTime(Timestamp());
    port.systemImage.setSelfTest(0x0052);
    port.systemImage.setSimulationMode(1);
    port.systemImage.setLastPowerUp(stamp(2026, 12, 9));
    check("failing", {}, "");
}

// Values at the ends of their ranges and values without a text.
TEST_F(GoldenCsv, EdgeValues)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    putTotals(meter.registers, {-1234.5678f, 0.0004f, -0.0004f, 3.4e38f, 1e-30f, nan,
                                std::numeric_limits<float>::infinity(), 16777216.0f, 0.5f, -1.0f});
    meter.registers[1] = 65535;
    meter.registers[2] = 0;
    port.calImage.setMeterID(4294967295u);
    port.calImage.setDetectorType(0.89f);
    port.calImage.setPipeUnitsMetric(7);
    port.calImage.setFilterNumber(2);
    port.calImage.setFlowTubeZero(1, -0.000004f);
    port.calImage.setDensity(nan);
    port.calImage.setCalibrationDate(Timestamp());
    port.calImage.setVerificationDate(stamp(2024, 2, 29, 23, 59, 59));
    port.basicCalImage.setLoBatterySafetyLimit(7.49f);
    port.basicCalImage.compensation(0).setFormula(-1);
    port.basicCalImage.compensation(0).setChan(0, 3);
    port.basicCalImage.compensation(0).setChan(1, 255);
    for (int k = 0; k < 5; ++k)
        port.basicCalImage.compensation(0).setCoeffs(k, 0.0f);
    sConfig &c = port.configImage;
    c.setSiteID(0);
    c.setFlowVolumeUnit(12);
    c.setTotaliserUnit(11);
    c.setFlowTimeUnit(4);
    c.setFlowTimeSpecFact(123456.789f);
    c.setSerialMode(3);
    c.setBaudRate(-1);
    c.setFlags(0xFFFF);
    c.setOnTime(65535);
    c.alarm(0).setAlarm_cause(9);
    c.alarm(0).setRecordOnAlarm(1);
    c.alarm(2).setAlarm_cause(0);
    c.alarm(2).setRecordOnAlarm(1);
    c.alarm(3).setAlarm_cause(7);
    c.analogOut(0).setMode(5);
    c.analogOut(1).setMode(-1);
    c.analogOut(1).setChannel(2);
    c.digitalOut(0).setType(3);
    c.digitalOut(0).setChannel(1);
    c.digitalOut(1).setType(1);
    c.digitalOut(1).setFrequency(-250);
    c.digitalOut(3).setType(-2);
    c.digitalOut(3).setChannel(6);
    c.setOffPeakStart(Timestamp());
    c.setModemWindowDisabled(stamp(2000, 1, 1, 24, 0, 0));
    c.setEoyLatchDate(stamp(2000, 2, 30));
    sStatus &s = port.statusImage;
    s.setResetCount(65535);
    s.setMeasuredCoilCurrent(-0.0001f);
    s.setTemperature(-40.125f);
    s.setFlowRate(nan);
    s.setSystemFault(0x0100);
    s.setAlarmStatus(0x0080);
    port.systemImage.setSelfTest(255);
    port.systemImage.setSimulationMode(3);
    port.systemImage.setOptionCard(0, -1);
    port.systemImage.setOptionCard(1, 5);
    port.systemImage.setOptionCard(2, 12);
    port.systemImage.setFirmwareVersion(3, 0);
    check("edge", {QStringLiteral("Note, with a comma = and an equals sign"), QString(), QStringLiteral("   indented"),
                   QStringLiteral("Probe at 4 \u00B0C, Zo\u00EB")},
          "DAV99999");
}
