#include "tools/command_line.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace md::tool {
namespace {

constexpr const char* kToolHelp =
    R"(mediadetect: tells which container a media file uses and what it carries.
Usage: mediadetect [OPTIONS] FILE...
  or:  mediadetect scan [OPTIONS] PATH...
  or:  mediadetect seek [--json] FILE SECONDS
  or:  mediadetect register | unregister
A FILE may also be a URL: http://HOST/PATH, https://HOST/PATH or s3://BUCKET/KEY, read
with a few range requests (see "Remote files" below).

Options:
  -h, --help          Print this help and exit
  --version           Print the tool's version, the module it loads (path and version) and
                      the extensions it turns on (none with --strict), and exit
  --json              Print one JSON object per file (JSON Lines) instead of text
  --strict            The detector's base behaviour only: no extensions (see the README).
                      Without it every extension is on, and each JSON object says
                      "mode": "extended" with the extension bits in effect
  --hint NAME         Container hint given to the detector before each open: 'directv'
                      (DirecTV transport packets are only tested for with this hint) or
                      'none' (the default). Example: --hint directv
  --module PATH       Detector module to load (default: $MEDIADETECT_MODULE, else
                      libmediadetect.so beside this program or, installed, in its library
                      folder). Example: --module build/libmediadetect.so
  --reopen OFFSET     Describe the streams of a program stream from this byte offset on, as
                      a host does to resume in the middle of a file. Example: --reopen 1048576
  --thumbnail OUT     Write the thumbnail of an MP4 camera file (a JPEG picture), else the
                      cover picture of a tagged file (ID3v2, FLAC, Ogg, MP4 'covr', a Matroska
                      attachment named cover.*), as stored, to this file; takes exactly one
                      input file. An extension of OUT that names another format is
                      corrected, with a note ("picture is PNG; written to cover.png").
                      Example: --thumbnail thumb.jpg
  --time-table        Build the time table of each MPEG program stream (the presentation
                      time and byte position of every key picture, for seeking) and print
                      it. Needs the modules registered. On a terminal a progress line shows
                      on standard error while it is built.
  --all-tags          List every tag a file carries in the text output (its tag system's own
                      keys too: id3:TBPM, vorbis:REPLAYGAIN_TRACK_GAIN), not only the common
                      ones (title, artist, album, date, ...). JSON always lists every tag
  --stats             After each file, print what examining it cost: the wall time and, for a
                      URL, the HTTP requests sent and the body bytes fetched (JSON: "stats")
  --                  Every argument after it is a file, even one that starts with '-'

Commands (mediadetect COMMAND --help tells more):
  scan                Examine many files at once: folders are walked, several files are
                      examined in parallel, one report per file in input order
  seek                Print the byte offset of the last key picture at or before a time,
                      from the file's stored time table (built first when none is stored)
  register            Write the keys of the detector and time-index modules into the
                      registry file
  unregister          Remove the modules' keys from the registry file

Examples:
  mediadetect movie.mpg clip.ts          kind of each file, one aligned line per file
  mediadetect --json *.mp4               one JSON object per file (JSON Lines)
  mediadetect --hint directv feed.dtv    also test for DirecTV transport packets
  mediadetect --reopen 2097152 dvd.vob   streams of a program stream from a byte offset
  mediadetect --thumbnail t.jpg cam.mp4  write the thumbnail of an MP4 camera file to t.jpg
  mediadetect --thumbnail c.jpg song.mp3 write the cover picture of an MP3 to c.jpg (or c.png)
  mediadetect --time-table dvd.vob       presentation time and byte position of every key picture
  mediadetect scan -r --jobs 4 ~/Videos  every file under a folder, four at a time
  find . -name '*.ts' | mediadetect scan -   the files named on standard input
  mediadetect --stats https://example.com/movie.ts   a file on a web server, with its requests
  mediadetect s3://bucket/videos/clip.mp4            an object in S3 storage
  mediadetect scan -r s3://bucket/videos/            every object under an S3 prefix
  mediadetect seek dvd.vob 90.5          byte offset of the last key picture at or before 90.5 s
  mediadetect register                   register the modules in the registry file
  mediadetect unregister                 remove the modules' registry keys

Remote files: the module reads http://, https:// and s3:// paths itself with a few range
requests, never the whole object; with --strict such a path is a local file name like any
other. HTTPS servers are checked against the system's certificate authorities and those
of the PEM file $MEDIADETECT_CA_BUNDLE. s3://BUCKET/KEY is read from
https://BUCKET.s3.REGION.amazonaws.com/KEY, or from $AWS_ENDPOINT_URL/BUCKET/KEY when that
is set (an S3-compatible server); REGION is $AWS_REGION, else $AWS_DEFAULT_REGION, else
us-east-1. Requests are signed (SigV4) with $AWS_ACCESS_KEY_ID, $AWS_SECRET_ACCESS_KEY and
$AWS_SESSION_TOKEN, else with the keys of the profile $AWS_PROFILE (default: default) in
~/.aws/credentials ($AWS_SHARED_CREDENTIALS_FILE), else sent unsigned. A failed open
prints the module's reason, which never holds a key.

The registry file is $MEDIADETECT_REGISTRY, else $XDG_CONFIG_HOME/mediadetect/registry.reg.
Time tables are stored in $MEDIADETECT_TIMEINDEX_DB, else
$XDG_DATA_HOME/mediadetect/timeindex.sqlite; building one needs 'mediadetect register' first.
Exit status: 0 when every file was examined, 2 when any file could not be read, or the
thumbnail or time table asked for could not be made, or the command line is wrong.
)";

constexpr const char* kScanHelp =
    R"(Examine many files at once: folders are walked, several files are examined in parallel, and
one report per file is printed in input order (the same text or JSON as for single files). A
progress line is shown on standard error while it is a terminal, and a summary by kind at the
end. Exit status 2 when any file could not be examined.
Usage: mediadetect scan [OPTIONS] PATH...

  PATH                Files, folders, URLs, and '-' for paths read from standard input, one per
                      line; an s3://BUCKET/PREFIX/ path (ending in '/', or a bucket alone) is
                      listed and each object under it examined

Options (and those of mediadetect itself: --json, --strict, --hint, --module, --stats):
  -h, --help          Print this help and exit
  -r, --recursive     Also walk the folders inside the folders given (folders reached
                      through symbolic links excepted), and list every object under an
                      s3:// prefix (without it, only the objects up to the next '/')
  -j, --jobs N        Files examined at once, 1 to 1024 (default: one per core)
  --json              Print one JSON object per file (JSON Lines)
)";

constexpr const char* kSeekHelp =
    R"(Print the byte offset of the last key picture at or before a time, from the file's stored
time table (built first when none is stored).
Usage: mediadetect seek [--json] FILE SECONDS

  FILE                MPEG program stream
  SECONDS             Seconds on the time table's axis (0 is the first video picture); a time
                      before the first key picture gives that picture's offset, with a note
                      on standard error; after the last, the last one's

Options:
  -h, --help          Print this help and exit
  --json              Print {file, seconds, timeSeconds, offset} as one JSON object

A stored table is used as it is: after the file changes, rebuild it with --time-table.
)";

constexpr const char* kRegisterHelp =
    R"(mediadetect register: write the keys of the detector and time-index modules into the
registry file. mediadetect unregister: remove them.
Usage: mediadetect register | unregister [--module PATH]
)";

std::optional<Command> CommandNamed(std::string_view word)
{
    if (word == "scan")
        return Command::kScan;
    if (word == "seek")
        return Command::kSeek;
    if (word == "register")
        return Command::kRegister;
    if (word == "unregister")
        return Command::kUnregister;
    return std::nullopt;
}

// The whole text as a decimal integer in [min, max].
bool ParseInteger(const std::string& text, int64_t min, int64_t max, int64_t& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || v < min || v > max)
        return false;
    value = v;
    return true;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out, std::string& error)
{
    bool onlyWords = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // A word: anything but an option, and "-" (standard input) and negative numbers.
        const bool negative =
            arg.size() > 1 && arg[0] == '-' && (std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
        if (onlyWords || arg == "-" || negative || !arg.starts_with('-')) {
            std::optional<Command> named;
            if (!onlyWords && out.command == Command::kExamine && out.words.empty())
                named = CommandNamed(arg);
            if (named)
                out.command = *named;
            else
                out.words.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyWords = true;
            continue;
        }
        // The option's name, and its value when given as --name=value or -jN.
        std::string_view name = arg;
        std::optional<std::string> attached;
        if (arg.starts_with("--")) {
            if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                attached = std::string(arg.substr(eq + 1));
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            attached = std::string(arg.substr(2));
        }
        if (const bool scanOption = name == "-r" || name == "--recursive" || name == "-j" || name == "--jobs";
            scanOption && out.command != Command::kScan) {
            error = std::string(name) + " is an option of scan (mediadetect scan " + std::string(name) + " ... PATH...)";
            return false;
        }
        bool* flag = nullptr;
        if (name == "-h" || name == "--help")
            flag = &out.help;
        else if (name == "--version")
            flag = &out.version;
        else if (name == "--json")
            flag = &out.json;
        else if (name == "--strict")
            flag = &out.strict;
        else if (name == "--time-table")
            flag = &out.timeTable;
        else if (name == "--all-tags")
            flag = &out.allTags;
        else if (name == "--stats")
            flag = &out.stats;
        else if (name == "-r" || name == "--recursive")
            flag = &out.recursive;
        if (flag) {
            if (attached) {
                error = "the option " + std::string(name) + " takes no value";
                return false;
            }
            *flag = true;
            continue;
        }
        const bool valued = name == "--hint" || name == "--module" || name == "--reopen" || name == "--thumbnail" ||
                            name == "-j" || name == "--jobs";
        if (!valued) {
            error = "unknown option " + std::string(arg);
            return false;
        }
        if (!attached && i + 1 == argc) {
            error = "the option " + std::string(name) + " needs a value";
            return false;
        }
        const std::string value = attached ? *attached : std::string(argv[++i]);
        int64_t number = 0;
        if (name == "--hint") {
            out.hint = value;
        } else if (name == "--module") {
            out.module = value;
        } else if (name == "--thumbnail") {
            out.thumbnail = value;
        } else if (name == "--reopen") {
            if (!ParseInteger(value, INT64_MIN, INT64_MAX, number)) {
                error = "--reopen takes a byte offset, not '" + value + "'";
                return false;
            }
            out.reopen = number;
        } else {
            if (!ParseInteger(value, 1, 1024, number)) {
                error = std::string(name) + " takes a number from 1 to 1024, not '" + value + "'";
                return false;
            }
            out.jobs = static_cast<unsigned>(number);
        }
    }
    if (out.help || out.version)
        return true;
    if (out.thumbnail && (out.command != Command::kExamine || out.words.size() != 1)) {
        error = "--thumbnail takes exactly one input file (" +
                (out.command == Command::kExamine ? std::to_string(out.words.size()) + " given)" : "and no command)");
        return false;
    }
    switch (out.command) {
    case Command::kExamine:
        if (out.words.empty())
            error = "no file to examine";
        break;
    case Command::kScan:
        if (out.words.empty())
            error = "scan needs a file, a folder or '-'";
        break;
    case Command::kSeek:
        if (out.words.size() != 2)
            error = "seek takes a file and a time in seconds";
        break;
    case Command::kRegister:
    case Command::kUnregister:
        if (!out.words.empty())
            error = "unexpected argument " + out.words.front();
        break;
    }
    return error.empty();
}

const char* HelpText(Command command)
{
    switch (command) {
    case Command::kScan: return kScanHelp;
    case Command::kSeek: return kSeekHelp;
    case Command::kRegister:
    case Command::kUnregister: return kRegisterHelp;
    case Command::kExamine: break;
    }
    return kToolHelp;
}

}  // namespace md::tool
