// Stand-in for libFuzzer's driver when the compiler has none: runs every file
// named on the command line (or found in a named folder), then -runs=N
// pseudo-random inputs from a fixed seed (default 20000), so a run is
// bounded and repeatable.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

void runFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    long runs = 20000;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            runs = std::strtol(argv[i] + 6, nullptr, 10);
            continue;
        }
        if (argv[i][0] == '-')
            continue; // other libFuzzer options mean nothing here
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto &entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file())
                    runFile(entry.path());
        } else {
            runFile(path);
        }
    }
    std::mt19937 rng(960);
    std::vector<std::uint8_t> input;
    for (long r = 0; r < runs; ++r) {
        input.resize(rng() % 1400 + 2);
        // Bias towards the framing bytes so frames actually form.
        static const std::uint8_t marks[] = {0x10, 0x02, 0x03, 0x90, 0x3A, 0x0D, 0x0A, 0x01, 0x81, 0xFF, 0xF7};
        for (auto &b : input)
            b = (rng() % 3 == 0) ? marks[rng() % sizeof marks] : static_cast<std::uint8_t>(rng());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("link_fuzz_receiver: %ld random inputs done\n", runs);
    return 0;
}
