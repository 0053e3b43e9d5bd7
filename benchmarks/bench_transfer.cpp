// Times log-file downloads from the simulated meter paced at 9600 baud, in
// windowed and in plain mode, and compares the file bytes per second with
// the line rate of 960 bytes/s. The windowed download runs once more with one
// block corrupted on the line, from a meter that sends a block again only
// when the PC repeats its acknowledgement.
//
//   bench_transfer [kilobytes, default 100] [block size, default 512]
//                  [corrupted block, default the middle one]
#include "link/Z960Port.h"
#include "platform/PortMap.h"
#include "serial/SerComm.h"
#include "z960sim/Z960Sim.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kCom = 198;
constexpr double kLineBytesPerSecond = 960.0; // 9600 baud, 10 bits a byte

z960sim::Bytes logContent(std::size_t n)
{
    // Text-like bytes with the odd 0x10, as a log file has them.
    z960sim::Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i % 97 == 0 ? 0x10 : 0x20 + (i * 7) % 90);
    return b;
}

struct Result {
    bool ok = false;
    double seconds = 0;
    std::size_t wireBytes = 0; // what the meter put on the line
    std::size_t acks = 0;
};

Result download(Z960Port &port, z960sim::Simulator &sim, const std::string &path, bool windowed)
{
    Result r;
    sim.clearRecord();
    const auto t0 = std::chrono::steady_clock::now();
    r.ok = port.getLogFile("\\BENCH.CSV", path.c_str(), windowed);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    for (const auto &f : sim.sent())
        r.wireBytes += f.raw.size();
    for (const auto &f : sim.received())
        r.acks += f.kind == z960sim::Frame::Quillmere && f.control != 0x80;
    return r;
}

z960sim::Bytes contentOf(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return z960sim::Bytes(b.begin(), b.end());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t size = 1000u * static_cast<std::size_t>(argc > 1 ? std::max(1, std::atoi(argv[1])) : 100);
    const std::size_t blockSize = argc > 2 ? static_cast<std::size_t>(std::max(1, std::atoi(argv[2]))) : 512;
    const int blocks = static_cast<int>((size + blockSize - 1) / blockSize);
    const int corruptedBlock = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, blocks) : (blocks + 1) / 2;

    z960sim::Options options;
    options.paced = true;
    options.blockSize = blockSize;
    options.resendOnlyWhenAsked = true;
    z960sim::Simulator sim(options);
    const z960sim::Bytes content = logContent(size);
    sim.addFile("BENCH.CSV", content);
    ::setenv(Platform::PortMapVariable, (std::to_string(kCom) + "=" + sim.slavePath()).c_str(), 1);

    Z960Port port(nullptr, 1);
    if (!port.OpenPort("Com" + std::to_string(kCom), 9600)) {
        std::fprintf(stderr, "cannot open the simulator's port %s\n", sim.slavePath().c_str());
        return 1;
    }
    port.comm->SetClosePause(0);
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("BENCH.CSV")).toStdString();

    std::printf("download of %zu bytes in blocks of %zu, meter paced at %.0f bytes/s\n", size, blockSize,
                kLineBytesPerSecond);
    const struct {
        const char *name;
        bool windowed;
        int corrupted; // block sent with a bad CRC the first time (0: none)
    } runs[] = {{"windowed", true, 0}, {"windowed, one corrupted block", true, corruptedBlock}, {"plain", false, 0}};
    double cleanWindowed = 0;
    for (const auto &run : runs) {
        sim.clearInjections();
        if (run.corrupted > 0)
            sim.inject({z960sim::Fault::BadCrc, 2, z960sim::kAny, run.corrupted});
        const Result r = download(port, sim, path, run.windowed);
        if (!r.ok || contentOf(path) != content) {
            std::fprintf(stderr, "%s: download failed or differs\n", run.name);
            return 1;
        }
        const double rate = size / r.seconds;
        if (run.corrupted > 0) {
            std::printf("%-29s %7.1f s  %6.1f bytes/s = %5.1f %% of the line rate  (block %d; %.1f s more than "
                        "clean)\n",
                        run.name, r.seconds, rate, 100.0 * rate / kLineBytesPerSecond, run.corrupted,
                        r.seconds - cleanWindowed);
            continue;
        }
        const double wireTime = r.wireBytes / kLineBytesPerSecond;
        std::printf("%-29s %7.1f s  %6.1f bytes/s = %5.1f %% of the line rate  (framing %.1f %%, pauses for %zu "
                    "acknowledgements %.1f s = %.1f ms each)\n",
                    run.name, r.seconds, rate, 100.0 * rate / kLineBytesPerSecond,
                    100.0 * (r.wireBytes - size) / r.wireBytes, r.acks, r.seconds - wireTime,
                    1000.0 * (r.seconds - wireTime) / static_cast<double>(r.acks));
        if (run.windowed)
            cleanWindowed = r.seconds;
    }
    std::printf("targets: windowed at least 90 %% of the line rate with 512-byte blocks; one corrupted block "
                "within the clean time plus 8 s\n");
    return 0;
}
