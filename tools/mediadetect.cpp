// mediadetect: tells what a media file is, through the detector module's
// public interface, exactly as any host would drive it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <sys/mman.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tools/module_host.h"
#include "tools/report.h"
#include "tools/scan.h"
#include "tools/seek.h"
#include "tools/time_table.h"

namespace {

using md::tool::DescribeHresult;

constexpr int kExitOk = 0;
constexpr int kExitError = 2;

// Writes bytes to path. On failure returns the reason and removes the file
// when this call created it; returns an empty string on success.
std::string WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    struct stat st {};
    const bool existed = ::lstat(path.c_str(), &st) == 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return std::strerror(errno);
    int err = 0;
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0)
        return {};
    if (!existed)
        ::unlink(path.c_str());
    return std::strerror(err);
}

// Writes the thumbnail of an examined file to out; false, with a message on
// standard error, when the file has none or it cannot be written.
bool SaveThumbnail(const md::tool::FileReport& r, const std::string& out)
{
    if (r.thumbnail.empty()) {
        const char* why = "the camera file carries none";
        if (r.kind != MK_MP4)
            why = "not an MP4 file";
        else if (!r.mp4Flags || r.mp4Flags->cameraFile == 0)
            why = "not a camera file";
        else if (r.thumbnailLength > 0)
            why = "the detector did not return it";
        std::cerr << "mediadetect: " << r.file << ": no thumbnail (" << why << "); " << out << " not written\n";
        return false;
    }
    if (const std::string why = WriteBytes(out, r.thumbnail); !why.empty()) {
        std::cerr << "mediadetect: cannot write the thumbnail to " << out << ": " << why << "\n";
        return false;
    }
    return true;
}

bool ParseHint(const std::string& text, uint32_t& hint)
{
    if (text == "directv") {
        hint = MK_DIRECTV;  // the only hint with an effect
        return true;
    }
    if (text == "none") {
        hint = 0;
        return true;
    }
    return false;
}

struct FreeBlock {
    void operator()(void* p) const { std::free(p); }
};

// Tunes the heap of this short process (the module never tunes the heap of the host
// that loads it). Freed memory stays in the heap instead of going back to the system:
// the examinations allocate and free the same large buffers over and over, and so each
// page is faulted in once. And the heap grows in one 16 MiB step whose whole 2 MiB
// blocks are offered for transparent huge pages: where faulting in a 4 KiB page costs
// about 11 us (a virtual machine), the 150 pages of rings and records a program
// stream's examination writes cost 1.6 ms, a huge page 0.12 ms. A huge page is only
// used where nothing in its 2 MiB was touched before, so the returned block holds the
// untouched heap below the first such boundary until the process ends, and the next
// allocations start at the boundary. Without a brk heap (a sanitizer's allocator) only
// the thresholds are set.
std::unique_ptr<void, FreeBlock> TuneHeap()
{
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    constexpr size_t kGrow = size_t{1} << 20;
    // A block larger than the free top of the heap makes the heap grow by the pad;
    // freed, it joins the top again, whose header malloc wrote just past it.
    void* grow = std::malloc(kGrow);
    if (!grow)
        return nullptr;
    const uintptr_t at = reinterpret_cast<uintptr_t>(grow);
    std::free(grow);
    const uintptr_t begin = (at + kGrow + 64 + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0));
    if (end < begin + kHugePage)
        return nullptr;
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    // Up to a page before the boundary, so that the top's header stays below it.
    return std::unique_ptr<void, FreeBlock>(std::malloc(begin - at - 4096));
}

}  // namespace

int main(int argc, char** argv)
{
    const auto heapPad = TuneHeap();
    CLI::App app{"mediadetect: tells which container a media file uses and what it carries."};
    app.footer(
        "Examples:\n"
        "  mediadetect movie.mpg clip.ts          kind of each file, one aligned line per file\n"
        "  mediadetect --json *.mp4               one JSON object per file (JSON Lines)\n"
        "  mediadetect --hint directv feed.dtv    also test for DirecTV transport packets\n"
        "  mediadetect --reopen 2097152 dvd.vob   streams of a program stream from a byte offset\n"
        "  mediadetect --thumbnail t.jpg cam.mp4  write the thumbnail of an MP4 camera file to t.jpg\n"
        "  mediadetect --time-table dvd.vob       presentation time and byte position of every key picture\n"
        "  mediadetect scan -r --jobs 4 ~/Videos  every file under a folder, four at a time\n"
        "  find . -name '*.ts' | mediadetect scan -   the files named on standard input\n"
        "  mediadetect seek dvd.vob 90.5          byte offset of the last key picture at or before 90.5 s\n"
        "  mediadetect register                   register the modules in the registry file\n"
        "  mediadetect unregister                 remove the modules' registry keys\n\n"
        "The registry file is $MEDIADETECT_REGISTRY, else $XDG_CONFIG_HOME/mediadetect/registry.reg.\n"
        "Time tables are stored in $MEDIADETECT_TIMEINDEX_DB, else\n"
        "$XDG_DATA_HOME/mediadetect/timeindex.sqlite; building one needs 'mediadetect register' first.\n"
        "Exit status: 0 when every file was examined, 2 when any file could not be read, or the\n"
        "thumbnail or time table asked for could not be made.");

    std::vector<std::string> files;
    bool json = false;
    std::string hintText = "none";
    std::string modulePath = md::tool::DefaultModulePath();
    app.add_option("files", files, "Media files to examine");
    app.add_flag("--json", json, "Print one JSON object per file (JSON Lines) instead of text");
    bool strict = false;
    app.add_flag("--strict", strict,
                 "The detector's base behaviour only: no extensions (see the README). Without it every extension "
                 "is on, and each JSON object says \"mode\": \"extended\" with the extension bits in effect");
    app.add_option("--hint", hintText,
                   "Container hint given to the detector before each open: 'directv' (DirecTV transport "
                   "packets are only tested for with this hint) or 'none'. Example: --hint directv")
        ->default_str("none");
    app.add_option("--module", modulePath,
                   "Detector module to load (default: $MEDIADETECT_MODULE, else libmediadetect.so beside this "
                   "program or, installed, in its library folder). Example: --module build/libmediadetect.so");
    int64_t reopenOffset = -1;
    auto* reopen = app.add_option("--reopen", reopenOffset,
                                  "Describe the streams of a program stream from this byte offset on, as a host "
                                  "does to resume in the middle of a file. Example: --reopen 1048576");
    std::string thumbnailPath;
    auto* thumbnail = app.add_option("--thumbnail", thumbnailPath,
                                     "Write the thumbnail of an MP4 camera file (a JPEG picture) to this file; "
                                     "takes exactly one input file. Example: --thumbnail thumb.jpg")
                           ->type_name("OUT");
    bool timeTable = false;
    app.add_flag("--time-table", timeTable,
                 "Build the time table of each MPEG program stream (the presentation time and byte position of "
                 "every key picture, for seeking) and print it. Needs the modules registered. On a terminal a "
                 "progress line shows on standard error while it is built.");
    md::tool::ScanOptions scan;
    auto* scanCommand = app.add_subcommand(
        "scan", "Examine many files at once: folders are walked, several files are examined in parallel, and one "
                "report per file is printed in input order (the same text or JSON as for single files). A "
                "progress line is shown on standard error while it is a terminal, and a summary by kind at the "
                "end. Exit status 2 when any file could not be examined.");
    scanCommand->add_option("paths", scan.paths, "Files, folders, and '-' for paths read from standard input, one "
                                                 "per line")
        ->required();
    scanCommand->add_flag("-r,--recursive", scan.recursive, "Also walk the folders inside the folders given "
                                                            "(folders reached through symbolic links excepted)");
    scanCommand->add_option("-j,--jobs", scan.jobs, "Files examined at once (default: one per core)")
        ->check(CLI::Range(1u, 1024u));
    scanCommand->add_flag("--json", scan.json, "Print one JSON object per file (JSON Lines)");
    scanCommand->fallthrough();
    auto* reg = app.add_subcommand("register", "Write the keys of the detector and time-index modules into the "
                                               "registry file");
    auto* unreg = app.add_subcommand("unregister", "Remove the modules' keys from the registry file");
    // seek FILE SECONDS
    md::tool::SeekRequest seekRequest;
    auto* seek = app.add_subcommand("seek", "Print the byte offset of the last key picture at or before a time, "
                                            "from the file's stored time table (built first when none is stored)");
    seek->add_option("file", seekRequest.file, "MPEG program stream")->required();
    seek->add_option("seconds", seekRequest.seconds,
                     "Seconds on the time table's axis (0 is the first video picture); a time before the first key "
                     "picture gives that picture's offset, with a note on standard error; after the last, the "
                     "last one's")
        ->required();
    seek->add_flag("--json", seekRequest.json, "Print {file, seconds, timeSeconds, offset} as one JSON object");
    seek->footer("A stored table is used as it is: after the file changes, rebuild it with --time-table.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitError;
    }

    const uint32_t extensions = strict ? 0 : UINT32_MAX;  // the module keeps the bits it knows
    uint32_t hint = 0;
    if (!ParseHint(hintText, hint)) {
        std::cerr << "mediadetect: unknown --hint '" << hintText << "' (use 'directv' or 'none')\n";
        return kExitError;
    }
    if (thumbnail->count() > 0 && files.size() != 1) {
        std::cerr << "mediadetect: --thumbnail takes exactly one input file (" << files.size() << " given)\n";
        return kExitError;
    }

    md::tool::ShowTimeTableProgress(::isatty(STDERR_FILENO) != 0);
    if (seek->parsed()) {
        seekRequest.json = seekRequest.json || json;  // --json before or after the word seek
        return md::tool::RunSeek(seekRequest, modulePath);
    }

    md::tool::ModuleHost host;
    if (!host.Load(modulePath)) {
        std::cerr << "mediadetect: " << host.error() << "\n";
        return kExitError;
    }
    if (reg->parsed() || unreg->parsed()) {
        // The time-index module lies beside the detector module.
        md::tool::ModuleHost timeIndex;
        const std::string timeIndexPath =
            (std::filesystem::path(modulePath).parent_path() / "libmdtimeindex.so").string();
        if (!timeIndex.Load(timeIndexPath)) {
            std::cerr << "mediadetect: " << timeIndex.error() << "\n";
            return kExitError;
        }
        for (md::tool::ModuleHost* module : {&host, &timeIndex}) {
            const HRESULT hr = reg->parsed() ? module->Register() : module->Unregister();
            if (FAILED(hr)) {
                std::cerr << "mediadetect: " << (reg->parsed() ? "register" : "unregister")
                          << " failed: " << DescribeHresult(hr) << "\n";
                return kExitError;
            }
        }
        return kExitOk;
    }
    if (scanCommand->parsed()) {
        scan.json |= json;
        scan.examine.hint = hint;
        scan.examine.extensions = extensions;
        return md::tool::RunScan(host, scan) ? kExitOk : kExitError;
    }
    if (files.empty()) {
        std::cerr << app.help();
        return kExitError;
    }

    md::tool::ExamineOptions options;
    options.hint = hint;
    options.extensions = extensions;
    if (reopen->count() > 0)
        options.reopenOffset = reopenOffset;
    options.thumbnail = thumbnail->count() > 0;
    options.timeTable = timeTable;
    size_t width = 0;
    for (const std::string& file : files)
        width = std::max(width, file.size());
    bool failed = false;
    for (const std::string& file : files) {
        const md::tool::FileReport r = md::tool::ExamineWithNewDetector(host, file, options);
        md::tool::PrintReport(r, json, width);
        failed |= !r.error.empty();
        if (options.thumbnail && r.error.empty() && !SaveThumbnail(r, thumbnailPath))
            failed = true;
        if (r.timeTable && !r.timeTable->error.empty()) {
            if (!json)
                std::cerr << "mediadetect: " << r.file << ": no time table: " << r.timeTable->error << std::endl;
            failed = true;
        }
    }
    return failed ? kExitError : kExitOk;
}
