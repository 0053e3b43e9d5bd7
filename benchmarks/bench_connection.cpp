// Times the connection sequence (ping, structures 5, 4, 6, 0, 1) and a
// status poll (structures 0, 1) against the simulated meter paced at the
// line rate, and compares the wall time with what the bytes on the wire
// allow. Also reports the CPU time the link's thread spent meanwhile.
//
//   bench_connection [rounds] [turnaround ms]
#include "link/Z960Port.h"
#include "platform/PortMap.h"
#include "serial/SerComm.h"
#include "z960sim/Z960Sim.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/resource.h>

namespace {

constexpr int kCom = 199;
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int turnaroundMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;

    z960sim::Options options;
    options.paced = true;
    options.turnaroundMs = turnaroundMs;
    z960sim::Simulator sim(options);
    const std::string map = std::to_string(kCom) + "=" + sim.slavePath();
    ::setenv(Platform::PortMapVariable, map.c_str(), 1);

    Z960Port port(nullptr, 1);
    if (!port.OpenPort("Com" + std::to_string(kCom), 9600)) {
        std::fprintf(stderr, "cannot open the simulator's port %s\n", sim.slavePath().c_str());
        return 1;
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
            return 1;
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
    return 0;
}
