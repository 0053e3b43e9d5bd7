// Times log-file downloads from the simulated meter paced at 9600 baud and
// compares them with their wire time (the bytes the meter put on the line at
// 960 bytes/s): a clean windowed download must take no more than its wire
// time / 0.96. Then: plain mode; windowed with one block corrupted on the
// line, from a meter that sends a block again only when the PC repeats its
// acknowledgement, which costs a second fetch; and windowed with a file of
// alike blocks in a row, fetched twice to be borne out.
//
//   bench_transfer [kilobytes, default 64] [block size, default 512]
//                  [corrupted block, default the middle one]
//
// Exits with 1 when a download fails or differs, or the clean windowed one
// is slower than that.
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
// The share of its time that a clean windowed download spends on the wire at
// least: the acknowledgements' pauses take the rest.
constexpr double kCleanWindowedShare = 0.96;

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
    std::size_t wireBytes = 0; // what the meter put on the line, every fetch
    std::size_t acks = 0;
    std::size_t fetches = 0;
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
    for (const auto &f : sim.received()) {
        const bool quillmere = f.kind == z960sim::Frame::Quillmere;
        r.acks += quillmere && f.control != 0x80;
        r.fetches += quillmere && f.control == 0x80;
    }
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
    const std::size_t size = 1000u * static_cast<std::size_t>(argc > 1 ? std::max(1, std::atoi(argv[1])) : 64);
    const std::size_t blockSize = argc > 2 ? static_cast<std::size_t>(std::max(1, std::atoi(argv[2]))) : 512;
    const int blocks = static_cast<int>((size + blockSize - 1) / blockSize);
    const int corruptedBlock = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, blocks) : (blocks + 1) / 2;

    z960sim::Options options;
    options.paced = true;
    options.blockSize = blockSize;
    options.resendOnlyWhenAsked = true;
    z960sim::Simulator sim(options);
    const z960sim::Bytes unique = logContent(size);
    const z960sim::Bytes erased(size, 0xFF);
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
        const z960sim::Bytes &content;
        int corrupted; // block sent with a bad CRC the first time (0: none)
    } runs[] = {{"windowed", true, unique, 0},
                {"plain", false, unique, 0},
                {"windowed, one corrupted block", true, unique, corruptedBlock},
                {"windowed, alike blocks", true, erased, 0}};
    double cleanWindowed = 0;
    bool fastEnough = true;
    for (const auto &run : runs) {
        sim.clearInjections();
        sim.addFile("BENCH.CSV", run.content);
        if (run.corrupted > 0)
            sim.inject({z960sim::Fault::BadCrc, 2, z960sim::kAny, run.corrupted});
        const Result r = download(port, sim, path, run.windowed);
        if (!r.ok || contentOf(path) != run.content) {
            std::fprintf(stderr, "%s: download failed or differs\n", run.name);
            return 1;
        }
        const double wireTime = r.wireBytes / kLineBytesPerSecond;
        const double ofWireTime = wireTime / r.seconds;
        std::printf("%-30s %7.1f s  %zu fetch%s  wire time %6.1f s = %5.3f of the time  (%6.1f bytes/s; pauses for "
                    "%zu acknowledgements %.1f s = %.1f ms each)\n",
                    run.name, r.seconds, r.fetches, r.fetches == 1 ? ", " : "es,", wireTime, ofWireTime,
                    size / r.seconds, r.acks, r.seconds - wireTime,
                    1000.0 * (r.seconds - wireTime) / static_cast<double>(r.acks));
        if (run.windowed && run.corrupted == 0 && &run.content == &unique) {
            cleanWindowed = r.seconds;
            fastEnough = ofWireTime >= kCleanWindowedShare;
        } else if (run.corrupted > 0) {
            std::printf("%-30s block %d corrupted: %.1f s more than clean\n", "", run.corrupted,
                        r.seconds - cleanWindowed);
        }
    }
    std::printf("target: a clean windowed download within its wire time / %.2f: %s\n", kCleanWindowedShare,
                fastEnough ? "met" : "MISSED");
    return fastEnough ? 0 : 1;
}
