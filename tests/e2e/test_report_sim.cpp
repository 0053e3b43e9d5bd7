// The meter report end to end: the real link on a pseudo-terminal against the
// simulated meter, with the files chosen through the prompter seam.
#include "../report/Z960ReportFixture.h"
#include "link/LinkClock.h"
#include "report/Z960ReportUnit.h"
#include "serial/SerComm.h"
#include "support/RtfReader.h"
#include "support/ScriptedPrompter.h"
#include "z960sim/Z960Sim.h"

#include <QFile>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace Z960ReportFixture;

namespace {

constexpr int kCom = 87; // a COM number of this test's own

class ReportAgainstSim : public testing::Test {
protected:
    void SetUp() override
    {
        const char *old = std::getenv("VANTORO_SERIAL_PORTS");
        savedMap = old ? old : "";
        hadMap = old != nullptr;
        ::setenv("VANTORO_SERIAL_PORTS", (std::to_string(kCom) + "=" + sim.slavePath()).c_str(), 1);
        port = std::make_unique<Z960Port>(nullptr, 1);
        ASSERT_TRUE(port->OpenPort("Com" + std::to_string(kCom), 9600));
        port->comm->SetClosePause(0);
        // What the main window holds when it launches the report.
        for (unsigned char n : {5, 4, 6})
            ASSERT_TRUE(port->getStucture(n)) << int(n);
        env.options(false, false, true);
        sim.clearRecord();
    }
    void TearDown() override
    {
        port.reset();
        if (hadMap)
            ::setenv("VANTORO_SERIAL_PORTS", savedMap.c_str(), 1);
        else
            ::unsetenv("VANTORO_SERIAL_PORTS");
    }

    QStringList runReport()
    {
        prompter.saveFiles.push_back(env.path(QStringLiteral("sim.csv")));
        TZ960Report report(nullptr, port.get(), env.dir.path().toStdString(), "Jo Bloggs", "", "Test Rig",
                           {QStringLiteral("End-to-end run.")});
        generated = report.generated();
        QFile f(env.path(QStringLiteral("sim.csv")));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()).split(QStringLiteral("\r\n"))
                                           : QStringList();
    }

    // The Modbus register reads the meter saw, as (start, count).
    std::vector<std::pair<int, int>> registerReads() const
    {
        std::vector<std::pair<int, int>> reads;
        for (const z960sim::Frame &f : sim.received())
            if (f.kind == z960sim::Frame::ModbusAscii && f.payload.size() >= 5 && f.payload[0] == 3)
                reads.emplace_back(f.payload[1] << 8 | f.payload[2], f.payload[3] << 8 | f.payload[4]);
        return reads;
    }

    QString total(int group) const
    {
        const auto hi = sim.readRegister(static_cast<std::uint16_t>(116 + 4 * group));
        const auto lo = sim.readRegister(static_cast<std::uint16_t>(117 + 4 * group));
        const std::uint32_t bits = std::uint32_t(hi) << 16 | lo;
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return QString::fromStdString(ReportSections::fixed(v, 3));
    }

    static QString line(const char *caption, const QString &value)
    {
        return QString::fromLatin1(caption).leftJustified(30, QLatin1Char(' ')) + QStringLiteral(", ") + value;
    }

    z960sim::Simulator sim;
    std::string savedMap;
    bool hadMap = false;
    ReportEnvironment env;
    TestSupport::ScriptedPrompter prompter;
    std::unique_ptr<Z960Port> port;
    bool generated = false;
};

} // namespace

TEST_F(ReportAgainstSim, ReadsTheMeterAndWritesItsValues)
{
    const QStringList csv = runReport();
    ASSERT_TRUE(generated) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(prompter.texts().isEmpty());

    // The constructor's ping and the two structures, then the registers, read again for the CSV.
    const std::vector<z960sim::Frame> frames = sim.received();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0].payload, (z960sim::Bytes{0}));
    EXPECT_EQ(frames[1].payload, (z960sim::Bytes{19, 0}));
    EXPECT_EQ(frames[2].payload, (z960sim::Bytes{19, 1}));
    const std::vector<std::pair<int, int>> once = {{116, 40}, {1, 1}, {2, 1}};
    std::vector<std::pair<int, int>> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(registerReads(), twice);

    EXPECT_EQ(csv.value(0), QStringLiteral("Z960 Report MeterID - 960123"));
    const QStringList want = {
        line("Meter ID", QStringLiteral("960123")),
        line("Site ID", QStringLiteral("4711")),
        line("Firmware Version", QStringLiteral("102.4")),
        line("Flowmeter HW Serial Number", QStringLiteral("00 1A 2B 3C 4D 5E ")),
        line("ForwardTotal", total(0)),
        line("NettYTDTotal", total(9)),
        line("Uptime days ", QStringLiteral("12 days")),
        line("Uptime hours ", QStringLiteral("5 hours")),
        QStringLiteral("End-to-end run."),
    };
    for (const QString &l : want)
        EXPECT_TRUE(csv.contains(l)) << l.toStdString();
}

TEST_F(ReportAgainstSim, RegisterExceptionsAndALostReplyAreRetried)
{
    // Every register read refused: seven and six tries, then the lines are left out.
    z960sim::Injection refuse{z960sim::Fault::Exception, z960sim::kModbusAscii, 3};
    refuse.times = 0;
    sim.inject(refuse);
    QStringList csv = runReport();
    ASSERT_TRUE(generated);
    int totalsReads = 0, uptimeReads = 0;
    for (const auto &r : registerReads())
        (r.first == 116 ? totalsReads : uptimeReads) += 1;
    EXPECT_EQ(totalsReads, 2 * 7);
    EXPECT_EQ(uptimeReads, 2 * 2 * 6);
    const int totals = static_cast<int>(csv.indexOf(QStringLiteral("[Totals]")));
    ASSERT_GE(totals, 0);
    EXPECT_EQ(csv.value(totals + 1), QString());
    EXPECT_TRUE(csv.filter(QStringLiteral("Uptime")).isEmpty());

    // One lost reply costs one time-out (scaled here), and the next try answers.
    sim.clearInjections();
    sim.clearRecord();
    sim.inject({z960sim::Fault::Silence, z960sim::kModbusAscii, 3});
    const LinkClock::Scoped fast(20);
    csv = runReport();
    ASSERT_TRUE(generated);
    EXPECT_TRUE(csv.contains(line("ForwardTotal", total(0))));
    EXPECT_TRUE(csv.contains(line("Uptime days ", QStringLiteral("12 days"))));
    EXPECT_EQ(registerReads().size(), 7u);
}

TEST_F(ReportAgainstSim, ALinkStoppedDuringItsReadsEndsTheReportQuietly)
{
    // The first register read goes unanswered; the window closes while it waits.
    sim.inject({z960sim::Fault::Silence, z960sim::kModbusAscii, 3});
    const LinkClock::Scoped fast(20);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [this] {
        if (!registerReads().empty())
            port->stop();
    });
    watch.start(1);
    runReport();
    EXPECT_FALSE(generated);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(prompter.saveRequests.empty());
    EXPECT_EQ(registerReads(), (std::vector<std::pair<int, int>>{{116, 40}})) << "nothing sent after the stop";
}

TEST_F(ReportAgainstSim, AStopDuringTheCsvReadsWritesNoCsvAndKeepsWhatWasWritten)
{
    // The CSV file's second reading of the meter: its first register read
    // goes unanswered and the window closes while it waits.
    const LinkClock::Scoped fast(20);
    const struct {
        const char *what;
        bool pdf;
    } cases[] = {{"CSV alone", false}, {"PDF, then CSV", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        sim.clearRecord();
        sim.clearInjections();
        prompter.saveFiles.clear();
        prompter.saveRequests.clear();
        z960sim::Injection lost{z960sim::Fault::Silence, z960sim::kModbusAscii, 3};
        lost.occurrence = 4;
        sim.inject(lost);
        env.options(c.pdf, false, true);
        const QString pdf = env.path(QStringLiteral("sim.pdf"));
        if (c.pdf)
            prompter.saveFiles.push_back(pdf);
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [this] {
            if (registerReads().size() >= 4)
                port->stop();
        });
        watch.start(1);
        const QStringList csv = runReport();
        watch.stop();
        EXPECT_TRUE(port->stopped());
        EXPECT_TRUE(csv.isEmpty()) << "no CSV file without its Totals and uptime";
        EXPECT_FALSE(QFile::exists(env.path(QStringLiteral("sim.csv"))));
        EXPECT_EQ(QFile::exists(pdf), c.pdf) << "a file already written stays";
        EXPECT_EQ(generated, c.pdf);
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
        // A new link for the next case, as a new connection would have.
        port = std::make_unique<Z960Port>(nullptr, 1);
        ASSERT_TRUE(port->OpenPort("Com" + std::to_string(kCom), 9600));
        port->comm->SetClosePause(0);
        for (unsigned char n : {5, 4, 6})
            ASSERT_TRUE(port->getStucture(n)) << int(n);
    }
}

// Notes in other scripts, under an Arabic locale: against the meter the
// report writes all three files, its PDF drawn in fonts that have the letters.
TEST_F(ReportAgainstSim, NotesInOtherScriptsReachAllThreeFiles)
{
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
    env.options(true, true, true);
    for (const char *name : {"sim.pdf", "sim.rtf"})
        prompter.saveFiles.push_back(env.path(QString::fromLatin1(name)));
    const QStringList notes = {QStringLiteral("\u062a\u0645 \u0641\u062d\u0635 \u0627\u0644\u0639\u062f\u0627\u062f"),
                               QStringLiteral("\u6d41\u91cf\u8a08\u3092\u70b9\u691c\u3057\u307e\u3057\u305f")};
    prompter.saveFiles.push_back(env.path(QStringLiteral("sim.csv")));
    TZ960Report report(nullptr, port.get(), env.dir.path().toStdString(), "Jo Bloggs", "", "Test Rig", notes);
    ASSERT_TRUE(report.generated()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    QFile csv(env.path(QStringLiteral("sim.csv"))), rtf(env.path(QStringLiteral("sim.rtf")));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    ASSERT_TRUE(rtf.open(QIODevice::ReadOnly));
    const QString csvText = QString::fromUtf8(csv.readAll());
    const QString rtfText = TestSupport::readRtf(rtf.readAll()).text();
    for (const QString &n : notes) {
        EXPECT_TRUE(csvText.contains(n));
        EXPECT_TRUE(rtfText.contains(n));
    }
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {env.path(QStringLiteral("sim.pdf")), QStringLiteral("-")});
    if (text.waitForFinished(30000) && text.exitCode() == 0) {
        const QString got = QString::fromUtf8(text.readAllStandardOutput());
        for (const QString &n : notes)
            EXPECT_TRUE(got.contains(n)) << got.toStdString();
    }
}
