// Times the connection sequence (ping, structures 5, 4, 6, 0, 1) and a
// status poll (structures 0, 1) against the simulated meter paced at the
// line rate, and compares the wall time with what the bytes on the wire
// allow. Also reports the CPU time the link's thread spent meanwhile.
//
// Then stays connected for a while polling as the status page does (ping,
// structures 0 and 1 every 5 s, with the window's 100 ms lamp and 1 s clock
// ticks beside it) and reports the CPU share of this process. The meter of
// that run is a child process, so the share is the program's alone.
//
//   bench_connection [rounds] [turnaround ms] [polling seconds, 0 skips]
#include "link/Z960Port.h"
#include "platform/PortMap.h"
#include "serial/SerComm.h"
#include "z960sim/Z960Sim.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kCom = 199;
constexpr int kPollingCom = 197;
constexpr int kPollIntervalMs = 5000;
constexpr int kLampTickMs = 100;
constexpr int kClockTickMs = 1000;
constexpr double kLineBytesPerSecond = 960.0; // 9600 baud, 10 bits a byte

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Voluntary context switches of a thread (each one a sleep it woke from).
unsigned long long wakeUpsOf(const std::filesystem::path &task)
{
    std::ifstream in(task / "status");
    std::string key;
    unsigned long long value = 0;
    while (in >> key) {
        if (key == "voluntary_ctxt_switches:" && in >> value)
            return value;
    }
    return 0;
}

// Each thread of this process since it started: "name CPU s (wake-ups), ...".
std::string threadsCpu()
{
    std::string out;
    const long tick = ::sysconf(_SC_CLK_TCK);
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stoull(field);
            if (i == 15)
                stime = std::stoull(field);
        }
        char item[128];
        std::snprintf(item, sizeof item, "%s%s %.2f s (%llu wake-ups)", out.empty() ? "" : ", ",
                      stat.substr(open + 1, close - open - 1).c_str(), double(utime + stime) / double(tick),
                      wakeUpsOf(task.path()));
        out += item;
    }
    return out;
}

// The simulated meter in a child process, forked before any thread exists.
// It prints its pty's path into a pipe and serves until the parent goes.
struct MeterProcess {
    pid_t pid = -1;
    int lifeline = -1; // closed by the parent (or its exit): the child ends
    std::string path;
};

MeterProcess startMeterProcess(int turnaroundMs)
{
    int pathPipe[2], lifePipe[2];
    if (::pipe(pathPipe) != 0 || ::pipe(lifePipe) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pathPipe[0]);
        ::close(lifePipe[1]);
        z960sim::Options options;
        options.paced = true;
        options.turnaroundMs = turnaroundMs;
        z960sim::Simulator sim(options);
        const std::string line = sim.slavePath() + "\n";
        (void)!::write(pathPipe[1], line.data(), line.size());
        ::close(pathPipe[1]);
        char c;
        while (::read(lifePipe[0], &c, 1) > 0) {
        }
        sim.stop();
        ::_exit(0);
    }
    ::close(pathPipe[1]);
    ::close(lifePipe[0]);
    MeterProcess meter;
    meter.pid = pid;
    meter.lifeline = lifePipe[1];
    char c;
    while (pid > 0 && ::read(pathPipe[0], &c, 1) == 1 && c != '\n')
        meter.path += c;
    ::close(pathPipe[0]);
    return meter;
}

void stopMeterProcess(MeterProcess &meter)
{
    if (meter.lifeline >= 0)
        ::close(meter.lifeline);
    if (meter.pid > 0)
        ::waitpid(meter.pid, nullptr, 0);
    meter = {};
}

// Connected for `seconds`, polling like the status page; prints the CPU
// share of the process. Returns false when the port cannot be opened.
bool runPolling(QCoreApplication &app, const MeterProcess &meter, int seconds)
{
    const std::string map = std::to_string(kPollingCom) + "=" + meter.path;
    ::setenv(Platform::PortMapVariable, map.c_str(), 1);
    Z960Port port(nullptr, 1);
    if (!port.OpenPort("Com" + std::to_string(kPollingCom), 9600)) {
        std::fprintf(stderr, "cannot open the meter process's port %s\n", meter.path.c_str());
        return false;
    }
    port.comm->SetClosePause(0);
    bool rx = false, tx = false;
    port.OnRxEvent = [&rx](QObject *) { rx = true; };
    port.OnTxEvent = [&tx](QObject *) { tx = true; };

    int polls = 0, failed = 0;
    QTimer poll, lamps, clock;
    poll.setInterval(kPollIntervalMs);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        poll.stop();
        const bool ok = port.sendNullCommand() && port.getStucture(0) && port.getStucture(1);
        ++polls;
        failed += ok ? 0 : 1;
        poll.start();
    });
    lamps.setInterval(kLampTickMs);
    QObject::connect(&lamps, &QTimer::timeout, [&] { rx = tx = false; });
    clock.setInterval(kClockTickMs);
    QObject::connect(&clock, &QTimer::timeout, [] {});
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);

    const std::string loadBefore = loadAverage();
    const double cpu0 = processCpuSeconds();
    const double gui0 = threadCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    poll.start();
    lamps.start();
    clock.start();
    app.exec();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = processCpuSeconds() - cpu0;
    const double gui = threadCpuSeconds() - gui0;

    std::printf("polling      %.0f s connected, %d polls every %d ms (%d failed)\n", wall, polls, kPollIntervalMs,
                failed);
    std::printf("process CPU  %.3f s = %.2f %% of one core (target < 1 %%); GUI thread %.3f s\n", cpu,
                100.0 * cpu / wall, gui);
    std::printf("threads      %s\n", threadsCpu().c_str());
    std::printf("load average %s before, %s after\n", loadBefore.c_str(), loadAverage().c_str());
    return true;
}

bool runRound(Z960Port &port)
{
    if (!port.sendNullCommand())
        return false;
    for (unsigned char n : {5, 4, 6, 0, 1})
        if (!port.getStucture(n))
            return false;
    for (unsigned char n : {0, 1}) // one status poll
        if (!port.getStucture(n))
            return false;
    return true;
}

// The connection rounds against a simulator in this process (its record
// gives the bytes on the wire). Port and simulator are gone afterwards.
bool runRounds(int rounds, int turnaroundMs)
{
    z960sim::Options options;
    options.paced = true;
    options.turnaroundMs = turnaroundMs;
    z960sim::Simulator sim(options);
    const std::string map = std::to_string(kCom) + "=" + sim.slavePath();
    ::setenv(Platform::PortMapVariable, map.c_str(), 1);

    Z960Port port(nullptr, 1);
    if (!port.OpenPort("Com" + std::to_string(kCom), 9600)) {
        std::fprintf(stderr, "cannot open the simulator's port %s\n", sim.slavePath().c_str());
        return false;
    }
    port.comm->SetClosePause(0);

    double wall = 0, bound = 0, cpu = 0, processCpu = 0;
    for (int r = 0; r < rounds; ++r) {
        sim.clearRecord();
        const double cpu0 = threadCpuSeconds();
        const double pcpu0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        if (!runRound(port)) {
            std::fprintf(stderr, "round %d failed\n", r + 1);
            return false;
        }
        const double w = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += threadCpuSeconds() - cpu0;
        processCpu += processCpuSeconds() - pcpu0;
        // A pty passes the PC's requests at once; only the meter's replies
        // are paced at the line rate, so they alone make the bound.
        std::size_t bytes = 0;
        const auto sent = sim.sent();
        for (const auto &f : sent)
            bytes += f.raw.size();
        bound += bytes / kLineBytesPerSecond + sent.size() * turnaroundMs / 1000.0;
        wall += w;
        std::printf("round %d: %zu reply bytes at the line rate, %.3f s\n", r + 1, bytes, w);
    }
    std::printf("connection sequence + status poll, %d rounds, turnaround %d ms\n", rounds, turnaroundMs);
    std::printf("wall time    %.3f s per round\n", wall / rounds);
    std::printf("lower bound  %.3f s per round (reply bytes at %.0f bytes/s + turnaround)\n", bound / rounds,
                kLineBytesPerSecond);
    std::printf("ratio        %.3f (target <= 1.10)\n", wall / bound);
    std::printf("link thread CPU %.3f s = %.1f %% of one core while waiting (target < 5 %%)\n", cpu / rounds,
                100.0 * cpu / wall);
    std::printf("whole process CPU (simulator and serial threads included) %.1f %% of one core\n",
                100.0 * processCpu / wall);
    std::printf("load average %s\n", loadAverage().c_str());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int turnaroundMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
    const int pollingSeconds = argc > 3 ? std::max(0, std::atoi(argv[3])) : 60;
    MeterProcess meter;
    if (pollingSeconds > 0) {
        meter = startMeterProcess(turnaroundMs);
        if (meter.path.empty()) {
            std::fprintf(stderr, "cannot start the meter process\n");
            return 1;
        }
    }
    QCoreApplication app(argc, argv);

    if (!runRounds(rounds, turnaroundMs))
        return 1;
    if (pollingSeconds == 0)
        return 0;
    const bool polled = runPolling(app, meter, pollingSeconds);
    stopMeterProcess(meter);
    return polled ? 0 : 1;
}
