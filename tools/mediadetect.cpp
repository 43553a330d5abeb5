// mediadetect: tells what a media file is, through the detector module's
// public interface, exactly as any host would drive it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <malloc.h>
#include <memory>
#include <sys/mman.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tools/command_line.h"
#include "tools/module_host.h"
#include "tools/report.h"
#include "tools/scan.h"
#include "tools/seek.h"
#include "tools/time_table.h"

namespace {

using md::tool::DescribeHresult;
using md::tool::Write;

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

// A picture's format by its first bytes: its name and the file name extension it is written with; empty for a
// format not known here.
struct PictureFormat {
    const char* name;
    const char* extension;
};
PictureFormat FormatOfPicture(const std::vector<uint8_t>& b)
{
    const auto opens = [&](std::initializer_list<uint8_t> magic) {
        return b.size() >= magic.size() && std::equal(magic.begin(), magic.end(), b.begin());
    };
    if (opens({0xFF, 0xD8, 0xFF}))
        return {"JPEG", ".jpg"};
    if (opens({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}))
        return {"PNG", ".png"};
    if (opens({'G', 'I', 'F', '8'}))
        return {"GIF", ".gif"};
    if (opens({'B', 'M'}))
        return {"BMP", ".bmp"};
    return {"", ""};
}

// out with its extension made the picture format's: kept when it already names the format (".jpeg" for JPEG too,
// in any case), replaced when it names another. A name without an extension (a device, a pipe) is kept.
std::string PathForPicture(const std::string& out, const PictureFormat& format)
{
    const size_t slash = out.rfind('/');
    const size_t dot = out.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    std::string extension = hasExtension ? out.substr(dot) : std::string();
    for (char& c : extension)
        c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    if (!hasExtension || *format.extension == '\0' || extension == format.extension ||
        (extension == ".jpeg" && std::string(format.name) == "JPEG"))
        return out;
    return out.substr(0, dot) + format.extension;
}

// Writes the thumbnail or cover picture of an examined file to out, its extension corrected to the picture's
// format (with a note on standard error); false, with a message on standard error, when the file has none or it
// cannot be written.
bool SaveThumbnail(const md::tool::FileReport& r, const std::string& out)
{
    if (r.thumbnail.empty()) {
        const char* why = "the camera file carries none";
        if (r.kind != MK_MP4)
            why = r.thumbnailLength > 0 ? "the detector did not return its cover" : "it carries no cover picture";
        else if (r.thumbnailLength > 0)
            why = "the detector did not return it";
        else if (!r.mp4Flags || r.mp4Flags->cameraFile == 0)
            why = "not a camera file, and no cover picture";
        Write(stderr, "mediadetect: " + r.file + ": no thumbnail (" + why + "); " + out + " not written\n");
        return false;
    }
    const PictureFormat format = FormatOfPicture(r.thumbnail);
    const std::string path = PathForPicture(out, format);
    if (const std::string why = WriteBytes(path, r.thumbnail); !why.empty()) {
        Write(stderr, "mediadetect: cannot write the thumbnail to " + path + ": " + why + "\n");
        return false;
    }
    if (path != out)
        Write(stderr, "mediadetect: " + r.file + ": picture is " + format.name + "; written to " + path + "\n");
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
    md::tool::CommandLine cl;
    std::string error;
    if (!md::tool::ParseCommandLine(argc, argv, cl, error)) {
        if (argc == 1)
            Write(stderr, md::tool::HelpText(cl.command));
        else
            Write(stderr, "mediadetect: " + error + "\nRun with --help for more information.\n");
        return kExitError;
    }
    if (cl.help) {
        Write(stdout, md::tool::HelpText(cl.command));
        return kExitOk;
    }

    const uint32_t extensions = cl.strict ? 0 : UINT32_MAX;  // the module keeps the bits it knows
    uint32_t hint = 0;
    if (!ParseHint(cl.hint, hint)) {
        Write(stderr, "mediadetect: unknown --hint '" + cl.hint + "' (use 'directv' or 'none')\n");
        return kExitError;
    }

    const std::string modulePath = cl.module ? *cl.module : md::tool::DefaultModulePath();
    md::tool::ShowTimeTableProgress(::isatty(STDERR_FILENO) != 0);
    if (cl.command == md::tool::Command::kSeek)
        return md::tool::RunSeek({cl.words[0], cl.words[1], cl.json}, modulePath);

    md::tool::ModuleHost host;
    if (!host.Load(modulePath)) {
        Write(stderr, "mediadetect: " + host.error() + "\n");
        return kExitError;
    }
    if (cl.version) {
        Write(stdout, md::tool::DescribeVersions(host, modulePath, extensions));
        return kExitOk;
    }
    if (cl.command == md::tool::Command::kRegister || cl.command == md::tool::Command::kUnregister) {
        const bool add = cl.command == md::tool::Command::kRegister;
        // The time-index module lies beside the detector module.
        md::tool::ModuleHost timeIndex;
        const std::string timeIndexPath = modulePath.substr(0, modulePath.find_last_of('/') + 1) + "libmdtimeindex.so";
        if (!timeIndex.Load(timeIndexPath)) {
            Write(stderr, "mediadetect: " + timeIndex.error() + "\n");
            return kExitError;
        }
        for (md::tool::ModuleHost* module : {&host, &timeIndex}) {
            const HRESULT hr = add ? module->Register() : module->Unregister();
            if (FAILED(hr)) {
                Write(stderr, std::string("mediadetect: ") + (add ? "register" : "unregister") +
                                  " failed: " + DescribeHresult(hr) + "\n");
                return kExitError;
            }
        }
        return kExitOk;
    }

    md::tool::ExamineOptions options;
    options.hint = hint;
    options.extensions = extensions;
    options.stats = cl.stats;
    if (cl.command == md::tool::Command::kScan) {
        md::tool::ScanOptions scan;
        scan.paths = cl.words;
        scan.recursive = cl.recursive;
        scan.jobs = cl.jobs;
        scan.json = cl.json;
        scan.examine = options;
        return md::tool::RunScan(host, scan) ? kExitOk : kExitError;
    }

    options.reopenOffset = cl.reopen;
    options.thumbnail = cl.thumbnail.has_value();
    options.timeTable = cl.timeTable;
    size_t width = 0;
    for (const std::string& file : cl.words)
        width = std::max(width, file.size());
    bool failed = false;
    for (const std::string& file : cl.words) {
        const md::tool::FileReport r = md::tool::ExamineWithNewDetector(host, file, options);
        md::tool::PrintReport(r, cl.json, width, cl.allTags);
        failed |= !r.error.empty();
        if (options.thumbnail && r.error.empty() && !SaveThumbnail(r, *cl.thumbnail))
            failed = true;
        if (r.timeTable && !r.timeTable->error.empty()) {
            if (!cl.json)
                Write(stderr, "mediadetect: " + r.file + ": no time table: " + r.timeTable->error + "\n");
            failed = true;
        }
    }
    return failed ? kExitError : kExitOk;
}
