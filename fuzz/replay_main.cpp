// Replays fuzz inputs without libFuzzer: every file named on the command line
// (directories are walked) is fed to the target as it is, then as a number of
// deterministic mutations of it (cuts, flipped bytes, overwritten runs), so the
// replay explores beyond the committed corpus while staying repeatable.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

constexpr int kMutationsPerInput = 24;
constexpr size_t kMaxInput = 4u << 20;

void RunWithMutations(std::vector<uint8_t> input, uint32_t seed)
{
    if (input.size() > kMaxInput)
        input.resize(kMaxInput);
    LLVMFuzzerTestOneInput(input.data(), input.size());
    std::mt19937 rng(seed);
    for (int m = 0; m < kMutationsPerInput && !input.empty(); ++m) {
        std::vector<uint8_t> mutated = input;
        std::uniform_int_distribution<size_t> pos(0, mutated.size() - 1);
        switch (m % 3) {
        case 0:  // cut
            mutated.resize(pos(rng));
            break;
        case 1:  // flip a few bytes, mostly near the start where headers are
            for (int k = 0; k < 8; ++k) {
                size_t p = pos(rng) % std::min<size_t>(mutated.size(), 1u << (10 + k));
                mutated[p] ^= static_cast<uint8_t>(1u << (rng() % 8));
            }
            break;
        default: {  // overwrite a run with 0x00, 0xFF or random bytes
            const size_t p = pos(rng);
            const size_t n = std::min<size_t>(mutated.size() - p, 1 + rng() % 64);
            const int fill = static_cast<int>(rng() % 3);
            for (size_t k = 0; k < n; ++k)
                mutated[p + k] = fill == 0 ? 0x00 : fill == 1 ? 0xFF : static_cast<uint8_t>(rng());
            break;
        }
        }
        LLVMFuzzerTestOneInput(mutated.data(), mutated.size());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file())
                    files.push_back(e.path());
        } else if (std::filesystem::is_regular_file(p)) {
            files.push_back(p);
        }
    }
    std::sort(files.begin(), files.end());
    uint32_t seed = 1;
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        RunWithMutations(std::move(bytes), seed++);
    }
    std::printf("%zu passed, 0 failed\n", files.size());
    return 0;
}
