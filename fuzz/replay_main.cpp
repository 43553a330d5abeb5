// Replays fuzz inputs without libFuzzer: every file named on the command line
// (directories are walked) is fed to the target as it is, then as a number of
// deterministic mutations of it (cuts, flipped bytes, overwritten runs), so the
// replay explores beyond the committed corpus while staying repeatable. Each
// file and its mutations run in a child process: an input that crashes, aborts
// or hangs the target is named with its mutation, and the replay fails.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

constexpr int kMutationsPerInput = 24;
constexpr size_t kMaxInput = 4u << 20;
constexpr unsigned kSecondsPerFile = 120;

// Mutation m (1 to kMutationsPerInput) of input; 0 is the input itself.
std::vector<uint8_t> Mutation(const std::vector<uint8_t>& input, std::mt19937& rng, int m)
{
    std::vector<uint8_t> mutated = input;
    if (m == 0 || mutated.empty())
        return mutated;
    std::uniform_int_distribution<size_t> pos(0, mutated.size() - 1);
    switch (m % 3) {
    case 1:  // cut
        mutated.resize(pos(rng));
        break;
    case 2:  // flip a few bytes, mostly near the start where headers are
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
    return mutated;
}

// Runs the file and its mutations in a child; returns an empty string when all
// of them ran, else what ended the child and at which mutation. running is
// shared with the child, which writes the mutation it is at.
std::string Replay(const std::filesystem::path& file, uint32_t seed, int mutations, volatile int* running)
{
    std::fflush(stdout);
    *running = -1;
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(kSecondsPerFile);
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (input.size() > kMaxInput)
            input.resize(kMaxInput);
        std::mt19937 rng(seed);
        for (int m = 0; m <= mutations && (m == 0 || !input.empty()); ++m) {
            const std::vector<uint8_t> bytes = Mutation(input, rng, m);
            *running = m;
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        _exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return "could not run a child process";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return "";
    const std::string where = " at mutation " + std::to_string(*running) + " of seed " + std::to_string(seed) +
                              " (0: the file as it is)";
    if (WIFSIGNALED(status))
        return (WTERMSIG(status) == SIGALRM ? "hung" : std::string("killed by ") + strsignal(WTERMSIG(status))) + where;
    return "exit status " + std::to_string(WEXITSTATUS(status)) + where;
}

}  // namespace

// Usage: replay PATH... [--as-is PATH...]. The paths after --as-is (a campaign's
// minimized corpus, which libFuzzer has mutated already) run without mutations.
int main(int argc, char** argv)
{
    std::vector<std::pair<std::filesystem::path, int>> files;
    int mutations = kMutationsPerInput;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--as-is") == 0) {
            mutations = 0;
            continue;
        }
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file())
                    files.emplace_back(e.path(), mutations);
        } else if (std::filesystem::is_regular_file(p)) {
            files.emplace_back(p, mutations);
        }
    }
    std::sort(files.begin(), files.end());
    void* shared = mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        std::perror("mmap");
        return 2;
    }
    size_t failed = 0;
    uint32_t seed = 1;
    for (const auto& [f, m] : files) {
        const std::string failure = Replay(f, seed++, m, static_cast<volatile int*>(shared));
        if (!failure.empty()) {
            std::printf("FAILED %s: %s\n", f.c_str(), failure.c_str());
            ++failed;
        }
    }
    std::printf("%zu passed, %zu failed\n", files.size() - failed, failed);
    return failed == 0 ? 0 : 1;
}
