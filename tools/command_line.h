// The command line of mediadetect: the words and options of each command, read
// into one record, and the help texts. Written out rather than taken from an
// argument-parsing library so that a process that examines one file starts
// without building option tables or the C++ stream library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace md::tool {

enum class Command { kExamine, kScan, kSeek, kRegister, kUnregister };

struct CommandLine {
    Command command = Command::kExamine;
    bool help = false;  // -h or --help: print the command's help and nothing else
    bool version = false;  // --version: print the versions and the extensions, and nothing else
    // Options every command takes, before or after its word.
    bool json = false;
    bool strict = false;
    bool timeTable = false;
    bool allTags = false;  // --all-tags: every tag in the text output, not only the common ones
    bool stats = false;  // --stats: the wall time, and the requests and bytes of remote files
    std::string hint = "none";
    std::optional<std::string> module;
    std::optional<int64_t> reopen;
    std::optional<std::string> thumbnail;
    // The command's own words: media files to examine, the paths of scan, or the file
    // and the seconds (as typed) of seek.
    std::vector<std::string> words;
    // scan only.
    bool recursive = false;
    unsigned jobs = 0;  // 0: one per core
};

// Reads argv[1..argc). False, with the reason in error, when an option is unknown
// or lacks its value, a value is malformed, or the command's words are missing or
// too many, or --thumbnail is not given with exactly one file to examine (help
// asked for skips the last two tests).
bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out, std::string& error);

// The help text of a command (the examination's is the whole tool's).
const char* HelpText(Command command);

}  // namespace md::tool
