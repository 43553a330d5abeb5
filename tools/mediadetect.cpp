// mediadetect: tells what a media file is, through the detector module's
// public interface, exactly as any host would drive it.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tools/module_host.h"
#include "tools/report.h"

namespace {

using md::tool::DescribeHresult;
using Json = nlohmann::ordered_json;

constexpr int kExitOk = 0;
constexpr int kExitError = 2;

// Prints one file's report as soon as it is known: aligned text (errors go to
// standard error) or one JSON object.
void Print(const md::tool::FileReport& r, bool json, size_t width)
{
    if (json) {
        std::cout << md::tool::ToJson(r).dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
    } else if (!r.error.empty()) {
        std::cout.flush();
        std::cerr << "mediadetect: " << r.file << ": " << r.error << std::endl;
    } else {
        std::cout << md::tool::FormatText(r, width) << std::flush;
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
        "  mediadetect --reopen 2097152 dvd.vob   streams of a program stream from a byte offset\n"
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
    int64_t reopenOffset = -1;
    auto* reopen = app.add_option("--reopen", reopenOffset,
                                  "Describe the streams of a program stream from this byte offset on, as a host "
                                  "does to resume in the middle of a file. Example: --reopen 1048576");
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

    md::tool::ExamineOptions options;
    if (reopen->count() > 0)
        options.reopenOffset = reopenOffset;
    size_t width = 0;
    for (const std::string& file : files)
        width = std::max(width, file.size());
    bool failed = false;
    for (const std::string& file : files) {
        const md::tool::FileReport r = md::tool::Examine(*detector, file, options);
        Print(r, json, width);
        failed |= !r.error.empty();
    }
    detector->Release();
    return failed ? kExitError : kExitOk;
}
