// Runs a fuzz target without libFuzzer: every file of the corpus directories given on the
// command line, then pseudo-random inputs (a fixed seed, so a failure repeats). Used by
// the test suite for a short run; the long runs use libFuzzer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char* argv[]) {
    long runs = 20000;
    std::size_t corpusFiles = 0;
    std::vector<std::vector<std::uint8_t>> seeds;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("-runs=", 0) == 0) {
            runs = std::atol(arg.c_str() + 6);
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(arg)) {
            std::ifstream in(entry.path(), std::ios::binary);
            seeds.emplace_back(std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(seeds.back().data(), seeds.back().size());
            ++corpusFiles;
        }
    }
    std::mt19937 random(20261206);
    for (long run = 0; run < runs; ++run) {
        std::vector<std::uint8_t> input;
        // Half the inputs start from a seed and mutate it, half are fresh noise.
        if (!seeds.empty() && random() % 2 == 0) {
            input = seeds[random() % seeds.size()];
            for (int flips = 1 + int(random() % 4); flips > 0 && !input.empty(); --flips) {
                input[random() % input.size()] = static_cast<std::uint8_t>(random());
            }
            if (random() % 3 == 0) {
                input.push_back(static_cast<std::uint8_t>(random()));
            }
        } else {
            input.resize(random() % 512);
            for (auto& b : input) {
                b = static_cast<std::uint8_t>(random());
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu corpus files and %ld generated inputs ran clean\n", corpusFiles, runs);
    return 0;
}
