// Opens files through the detector module, as a host does, and reports the
// time per open (best and median of --repeat runs), the bytes one open reads
// from its files, and the peak memory of the process.
// Usage: open_bench [--module PATH] [--repeat N] FILE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "tools/module_host.h"

namespace {

// Bytes this process has read through read(2) and its kin so far (the "rchar"
// line of /proc/self/io), or 0 where the kernel does not tell.
unsigned long long BytesReadSoFar()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    unsigned long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string module = md::tool::DefaultModulePath();
    int repeat = 10;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--module" && i + 1 < argc)
            module = argv[++i];
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else
            files.push_back(a);
    }
    md::tool::ModuleHost host;
    if (!host.Load(module)) {
        std::fprintf(stderr, "open_bench: %s\n", host.error().c_str());
        return 2;
    }
    std::string error;
    IMediaDetect5* detector = host.CreateDetector(error);
    if (!detector) {
        std::fprintf(stderr, "open_bench: %s\n", error.c_str());
        return 2;
    }
    std::printf("%-60s %5s %12s %12s %12s\n", "file", "kind", "best_us", "median_us", "bytes_read");
    for (const std::string& file : files) {
        std::vector<double> times;
        uint32_t kind = 0;
        const unsigned long long readBefore = BytesReadSoFar();
        for (int r = 0; r < repeat; ++r) {
            const auto start = std::chrono::steady_clock::now();
            detector->OpenFileA(file.c_str(), &kind);
            VideoInfo video{};
            detector->GetVideoInfo(&video);
            const auto end = std::chrono::steady_clock::now();
            times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        const unsigned long long bytesPerOpen = (BytesReadSoFar() - readBefore) / repeat;
        std::sort(times.begin(), times.end());
        const std::string name = file.size() > 60 ? "..." + file.substr(file.size() - 57) : file;
        std::printf("%-60s %5u %12.0f %12.0f %12llu\n", name.c_str(), kind, times.front(), times[times.size() / 2],
                    bytesPerOpen);
    }
    detector->Release();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak RSS: %ld KiB\n", usage.ru_maxrss);
    return 0;
}
