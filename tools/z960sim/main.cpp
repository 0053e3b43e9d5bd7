// z960sim: the simulated meter as a program. Prints the slave path of its
// pseudo-terminal as the first line on stdout, then serves until SIGINT or SIGTERM.
//   --paced          send at the line rate (9600 baud)
//   --resend-only-when-asked  in a block transfer, send again only when the PC
//                    repeats its acknowledgement, never on silence
//   --address N      answer Modbus address N (default 1)
//   --files DIR      serve the files of DIR as log files; the subfolders "system",
//                    "diagnostic" and "alarm" hold files of those types
//   --verbose        print every frame received on stderr
#include "z960sim/Z960Sim.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

int usage()
{
    std::fputs("usage: z960sim [--paced] [--resend-only-when-asked] [--address N] [--files DIR] [--verbose]\n", stderr);
    return 2;
}

z960sim::Bytes readFile(const std::filesystem::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return z960sim::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int typeOfFolder(std::string name)
{
    for (char &c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "log")
        return z960sim::LogFile;
    if (name == "system")
        return z960sim::SystemFile;
    if (name == "diagnostic")
        return z960sim::DiagnosticFile;
    if (name == "alarm")
        return z960sim::AlarmFile;
    return -1;
}

void addFolder(z960sim::Simulator &sim, const std::filesystem::path &dir, uint8_t type, bool descend)
{
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        if (entry.is_regular_file())
            sim.addFile(entry.path().filename().string(), readFile(entry.path()), type);
        else if (descend && entry.is_directory()) {
            const int t = typeOfFolder(entry.path().filename().string());
            if (t >= 0)
                addFolder(sim, entry.path(), static_cast<uint8_t>(t), false);
        }
    }
}

std::string logText(const char *header, int rows, double base)
{
    std::string text = header;
    for (int i = 0; i < rows; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "2025-01-%02d,%02d:00:00,%.3f,%.2f\r\n", 1 + i / 24, i % 24,
                      base + i * 0.731, 12.4 + (i % 7) * 0.05);
        text += line;
    }
    return text;
}

void addSamples(z960sim::Simulator &sim)
{
    auto bytes = [](const std::string &s) { return z960sim::Bytes(s.begin(), s.end()); };
    const char *header = "Date,Time,Value,Battery\r\n";
    sim.addFile("LOG00001.CSV", bytes(logText(header, 240, 12000.0)), z960sim::LogFile);
    sim.addFile("LOG00002.CSV", bytes(logText(header, 96, 12175.4)), z960sim::LogFile);
    sim.addFile("DIAG0001.CSV", bytes(logText(header, 48, 2.5)), z960sim::DiagnosticFile);
    sim.addFile("ALARM001.CSV", bytes("Date,Time,Alarm\r\n2025-01-03,04:12:00,LOW FLOW\r\n"), z960sim::AlarmFile);
    sim.addFile("SYSTEM01.CSV", bytes("Date,Time,Event\r\n2025-01-01,00:00:00,POWER UP\r\n"), z960sim::SystemFile);
}

}  // namespace

int main(int argc, char **argv)
{
    z960sim::Options options;
    std::string filesDir;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--paced")
            options.paced = true;
        else if (a == "--resend-only-when-asked")
            options.resendOnlyWhenAsked = true;
        else if (a == "--verbose")
            verbose = true;
        else if (a == "--files" && i + 1 < argc)
            filesDir = argv[++i];
        else if (a == "--address" && i + 1 < argc) {
            char *end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (*end || v < 0 || v > 247)
                return usage();
            options.address = static_cast<int>(v);
        } else
            return usage();
    }

    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    try {
        z960sim::Simulator sim(options);
        if (filesDir.empty())
            addSamples(sim);
        else
            addFolder(sim, filesDir, z960sim::LogFile, true);
        std::printf("%s\n", sim.slavePath().c_str());
        std::fflush(stdout);
        size_t shown = 0;
        while (!stopRequested) {
            if (!verbose) {
                usleep(200 * 1000);
                continue;
            }
            sim.waitForFrames(shown + 1, std::chrono::milliseconds(200));
            const auto frames = sim.received();
            for (; shown < frames.size(); ++shown) {
                const auto &f = frames[shown];
                std::fprintf(stderr, "z960sim: %s control %02X, %zu bytes%s\n",
                             f.kind == z960sim::Frame::ModbusAscii ? "ascii" : "frame", f.control,
                             f.payload.size(), f.valid ? "" : " (bad)");
            }
        }
        sim.stop();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
