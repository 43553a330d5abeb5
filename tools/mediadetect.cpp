// mediadetect: tells what a media file is, through the detector module's
// public interface, exactly as any host would drive it.
#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tools/module_host.h"

namespace {

using md::tool::DescribeHresult;
using Json = nlohmann::ordered_json;

constexpr int kExitOk = 0;
constexpr int kExitError = 2;

const char* KindName(uint32_t kind)
{
    static const char* const names[] = {
        "unknown",      "mpeg1-system",       "mpeg2-program", "vcd",  "svcd",         "mpeg2-program-mpeg4",
        "dvd-video",    "dvd-vr",             "mpeg2-transport", "mp4", "mpeg1-video", "mpeg2-video",
        "mpeg4-video",  "directv",            "matroska",
    };
    return kind < std::size(names) ? names[kind] : "unknown";
}

// Why a file cannot be examined, or empty when it is a regular file we may read.
// The type is checked before opening so that a FIFO never blocks the tool.
std::string Unreadable(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a directory";
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        return "not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return {};
}

struct FileResult {
    std::string file;
    std::string error;  // empty on success
    uint32_t kind = 0;
};

FileResult Examine(IMediaDetect5& detector, const std::string& file)
{
    FileResult r{file, Unreadable(file), 0};
    if (!r.error.empty())
        return r;
    uint32_t kind = 0;
    const HRESULT hr = detector.OpenFileA(file.c_str(), &kind);
    if (FAILED(hr))
        r.error = "cannot open: " + DescribeHresult(hr);
    else
        r.kind = kind;
    return r;
}

// Prints one file's result as soon as it is known: an aligned text line (errors
// go to standard error) or one JSON object.
void Print(const FileResult& r, bool json, size_t width)
{
    if (json) {
        Json j;
        j["file"] = r.file;
        if (!r.error.empty()) {
            j["error"] = r.error;
        } else {
            j["kind"] = r.kind;
            j["kindName"] = KindName(r.kind);
        }
        std::cout << j.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
    } else if (!r.error.empty()) {
        std::cout.flush();
        std::cerr << "mediadetect: " << r.file << ": " << r.error << std::endl;
    } else {
        std::cout << r.file << std::string(width - r.file.size() + 2, ' ') << (r.kind < 10 ? " " : "") << r.kind
                  << "  " << KindName(r.kind) << std::endl;
    }
}

bool ParseHint(const std::string& text, uint32_t& hint)
{
    if (text == "directv") {
        hint = 13;
        return true;
    }
    if (text == "none") {
        hint = 0;
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"mediadetect: tells which container a media file uses and what it carries."};
    app.footer(
        "Examples:\n"
        "  mediadetect movie.mpg clip.ts          kind of each file, one aligned line per file\n"
        "  mediadetect --json *.mp4               one JSON object per file (JSON Lines)\n"
        "  mediadetect --hint directv feed.dtv    also test for DirecTV transport packets\n"
        "  mediadetect register                   register the module in the registry file\n"
        "  mediadetect unregister                 remove the module's registry keys\n\n"
        "The registry file is $MEDIADETECT_REGISTRY, else $XDG_CONFIG_HOME/mediadetect/registry.reg.\n"
        "Exit status: 0 when every file was examined, 2 when any file could not be read.");

    std::vector<std::string> files;
    bool json = false;
    std::string hintText = "none";
    std::string modulePath = md::tool::DefaultModulePath();
    app.add_option("files", files, "Media files to examine");
    app.add_flag("--json", json, "Print one JSON object per file (JSON Lines) instead of text");
    app.add_option("--hint", hintText,
                   "Container hint given to the detector before each open: 'directv' (DirecTV transport "
                   "packets are only tested for with this hint) or 'none'. Example: --hint directv")
        ->default_str("none");
    app.add_option("--module", modulePath,
                   "Detector module to load (default: $MEDIADETECT_MODULE, else libmediadetect.so beside this "
                   "program). Example: --module build/libmediadetect.so");
    auto* reg = app.add_subcommand("register", "Write the module's keys into the registry file");
    auto* unreg = app.add_subcommand("unregister", "Remove the module's keys from the registry file");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitError;
    }

    uint32_t hint = 0;
    if (!ParseHint(hintText, hint)) {
        std::cerr << "mediadetect: unknown --hint '" << hintText << "' (use 'directv' or 'none')\n";
        return kExitError;
    }

    md::tool::ModuleHost host;
    if (!host.Load(modulePath)) {
        std::cerr << "mediadetect: " << host.error() << "\n";
        return kExitError;
    }
    if (reg->parsed() || unreg->parsed()) {
        const HRESULT hr = reg->parsed() ? host.Register() : host.Unregister();
        if (FAILED(hr)) {
            std::cerr << "mediadetect: " << (reg->parsed() ? "register" : "unregister")
                      << " failed: " << DescribeHresult(hr) << "\n";
            return kExitError;
        }
        return kExitOk;
    }
    if (files.empty()) {
        std::cerr << app.help();
        return kExitError;
    }

    IMediaDetect5* detector = host.CreateDetector();
    if (!detector) {
        std::cerr << "mediadetect: " << host.error() << "\n";
        return kExitError;
    }
    IMediaDetectInfo* info = nullptr;
    if (SUCCEEDED(detector->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info)))) {
        info->SetInfo(MDI_CONTAINER_HINT, &hint);
        info->Release();
    }

    size_t width = 0;
    for (const std::string& file : files)
        width = std::max(width, file.size());
    bool failed = false;
    for (const std::string& file : files) {
        const FileResult r = Examine(*detector, file);
        Print(r, json, width);
        failed |= !r.error.empty();
    }
    detector->Release();
    return failed ? kExitError : kExitOk;
}
