// The command-line tool as a user runs it: output, bad input and exit codes, the hint, registration, camera
// details, thumbnails and time tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "support/mp4_builders.h"
#include "support/stream_builders.h"
#include "timeindex/time_index_store.h"

namespace {

namespace fs = std::filesystem;
using md::test::TempDir;
using nlohmann::json;
using Args = std::vector<std::string>;

struct RunResult {
    int status = -1;
    std::string out, err;
    std::vector<std::string> lines;
    std::vector<json> Json() const
    {
        std::vector<json> objects;
        for (const std::string& line : lines)
            objects.push_back(json::parse(line));
        return objects;
    }
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs the tool with the given arguments; env goes before the command.
RunResult RunTool(const Args& args, const std::string& env = "", const std::string& tool = MD_TOOL_PATH)
{
    TempDir tmp;
    std::string cmd = env + " " + Quote(tool);
    for (const auto& a : args)
        cmd += " " + Quote(a);
    const int raw = std::system((cmd + " >" + Quote((tmp / "out").string()) + " 2>" + Quote((tmp / "err").string())).c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto out = md::test::ReadFileBytes(tmp / "out"), err = md::test::ReadFileBytes(tmp / "err");
    r.out.assign(out.begin(), out.end()), r.err.assign(err.begin(), err.end());
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        r.lines.push_back(line);
    return r;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const fs::path kData = md::test::TestDataDir();
const std::string kDvd = (kData / "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob").string();
const std::string kTs = (kData / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string();
const std::string kPlainMp4 = (kData / "mp4_h264_640x360_25fps_aac_48k_stereo.mp4").string();

TEST(Tool, JsonCarriesTheRecordsAndReopenDescribesFromAnOffset)
{
    const std::string file = (kData / "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob").string();
    const json j = RunTool({"--json", file}).Json().at(0);
    EXPECT_EQ(std::tuple(j["video"]["fieldOrder"], j["video"]["aspectX"], j["audio"]["sampleRate"], j["mpegAudio"]["layer"],
                         j.contains("multiChannel"), j["firstVideoTime"].is_number()),
              std::tuple(2, 4, 48000, 2, false, true));
    EXPECT_GT(j["codecHeaders"]["header1Length"].get<uint32_t>(), 12u);  // the members: docs/mediadetect.schema.json
    // From the middle of the file the same streams are found again.
    const json reopened = RunTool({"--json", "--reopen", "45056", file}).Json().at(0);
    EXPECT_EQ(std::tuple(reopened["video"]["width"], reopened["audio"]["channels"]), std::tuple(720, 2));
    EXPECT_NE(reopened["firstVideoTime"], j["firstVideoTime"]);
    EXPECT_TRUE(Contains(RunTool({"--json", "--reopen", "0", kTs}).Json().at(0)["error"].get<std::string>(), "0x80070057"));
}

// The text form names every field it prints: aspect, rate (no trailing zeros), field order, the program's PIDs,
// the time range.
TEST(Tool, TextLinesOfProgramAndTransportStreams)
{
    const std::string ntsc = (kData / "dvd_mpeg2video_720x480_16x9_29.97p_ac3_48k_stereo.vob").string();
    const RunResult r = RunTool({kDvd, kTs, ntsc});
    ASSERT_EQ(r.lines.size(), 15u) << r.out << r.err;
    EXPECT_EQ(r.lines[1], "    video  mpeg2 720x576 16:9 25 fps top-field-first 9000 kb/s");
    EXPECT_EQ(r.lines[2], "    audio  ac3 6 ch 48000 Hz 384 kb/s mask 0x3f");
    EXPECT_EQ(r.lines[5], "    video  mpeg2 720x576 4:3 25 fps progressive");
    EXPECT_EQ(r.lines[7], "    program 0x1000  video 0x0100  audio 0x0101");
    // The SDT's names of the program's service, as ffmpeg's muxer writes them by default.
    EXPECT_EQ(r.lines[9], "    tag    service_name: Service01");
    EXPECT_EQ(r.lines[12], "    video  mpeg2 720x480 16:9 29.97 fps progressive 9000 kb/s");
    // Start and end scans of 2 MB files: the end scan's windows span many of the reader's reads.
    EXPECT_EQ(r.lines[3], "    time   start 0.540 s  duration 1.531 s");
    EXPECT_EQ(r.lines[14], "    time   start 0.533 s  duration 1.595 s");
}

// The text has a time line exactly where the JSON has a duration, and the JSON a time range with it (the times
// themselves: the conformance of the module).
TEST(Tool, TimeLineOnlyWhereTheTimeIsKnown)
{
    Args files;
    for (const fs::path& dir : {kData, md::test::RealWorldDir()})
        for (const fs::path& f : md::test::MediaFiles(dir))
            files.push_back(f.string());
    Args args = files;
    args.insert(args.begin(), "--json");
    const std::vector<json> objects = RunTool(args).Json();
    const std::vector<std::string> lines = RunTool(files).lines;
    ASSERT_EQ(objects.size(), files.size());
    long known = 0;
    for (const json& j : objects) {
        EXPECT_EQ(j["duration"].is_null(), j["timeRange"].is_null()) << j["file"];
        const bool timed = !j["duration"].is_null();
        EXPECT_FALSE(timed && j["file"].get<std::string>().ends_with("ts_dvb_si_only_11prog.ts")) << "no PES: no time";
        known += timed ? 1 : 0;
    }
    EXPECT_GT(known, 0);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("    time "); }),
              known);
}

// An MXF file's operational pattern (the partition pack's label 0D 01 02 01 01 01: OP1a), on its own line and as
// the JSON's "mxf" member; strict mode does not read MXF, and other kinds have no such member.
TEST(Tool, MxfOperationalPattern)
{
    const std::string mxf = (kData / "mxf_dnxhd_1280x720_25fps_pcm_48k_stereo.mxf").string();
    const RunResult text = RunTool({mxf});
    ASSERT_EQ(text.lines.size(), 6u) << text.out;
    EXPECT_EQ(text.lines[3], "    mxf    operational pattern OP1a");
    const std::vector<json> j = RunTool({"--json", mxf, kPlainMp4}).Json();
    EXPECT_EQ(j.at(0)["mxf"], json({{"operationalPattern", "OP1a"}}));
    EXPECT_FALSE(j.at(1).contains("mxf"));
    EXPECT_FALSE(RunTool({"--json", "--strict", mxf}).Json().at(0).contains("mxf"));
}

// --stats closes each file's block with its cost; a local file has a wall time and no requests. Without it nothing
// is added, so the plain output stays what it was.
TEST(Tool, StatsCloseEachFilesBlock)
{
    const RunResult plain = RunTool({kDvd, kPlainMp4});
    const RunResult text = RunTool({"--stats", kDvd, kPlainMp4});
    ASSERT_EQ(text.lines.size(), plain.lines.size() + 2) << text.out;
    // The last line of each file's block (the next line starts the next file), a time in milliseconds alone.
    std::vector<size_t> statsLines;
    for (size_t i = 0; i < text.lines.size(); ++i) {
        if (!text.lines[i].starts_with("    stats  "))
            continue;
        statsLines.push_back(i);
        EXPECT_TRUE(text.lines[i].ends_with(" ms") && !Contains(text.lines[i], "requests")) << text.lines[i];
    }
    ASSERT_EQ(statsLines.size(), 2u) << text.out;
    EXPECT_EQ(statsLines[1], text.lines.size() - 1);
    EXPECT_TRUE(text.lines[statsLines[0] + 1].starts_with(kPlainMp4)) << text.out;
    EXPECT_FALSE(Contains(plain.out, "stats"));
    // The JSON's "stats" exactly with --stats, of every corpus file and an error: schema_check.py.
    const json j = RunTool({"--json", "--stats", kDvd}).Json().at(0);
    EXPECT_TRUE(j["stats"]["requests"].is_null() && j["stats"]["bytesFetched"].is_null()) << j.dump();
    EXPECT_GT(j["stats"]["seconds"].get<double>(), 0.0);  // a real examination takes time
}

// Without --strict a URL goes to the module, never to the local disk; a failed open prints the module's reason.
TEST(Tool, FailedRemoteOpenPrintsTheModulesReason)
{
    const std::string refused = "http://127.0.0.1:1/a.ts";  // nothing listens on port 1
    const RunResult text = RunTool({refused});
    EXPECT_EQ(text.status, 2);
    EXPECT_TRUE(Contains(text.err, refused + ": cannot open: 0x80040300 (remote read failed): 127.0.0.1: "))
        << text.err;
    EXPECT_FALSE(Contains(text.err, "No such file")) << text.err;
    const json j = RunTool({"--json", "--stats", refused}).Json().at(0);
    EXPECT_TRUE(Contains(j["error"].get<std::string>(), "0x80040300")) << j.dump();
    // The attempt is counted: a refused connection sends no request and receives no byte.
    EXPECT_EQ(std::tuple(j["stats"]["requests"].is_number(), j["stats"]["bytesFetched"]), std::tuple(true, 0)) << j.dump();
}

// --strict is the base behaviour: a URL is a file name there, looked up on the local disk like any other.
TEST(Tool, StrictLeavesUrlsAsFileNames)
{
    const RunResult r = RunTool({"--strict", "s3://bucket/c.mkv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "s3://bucket/c.mkv: No such file or directory")) << r.err;
    const RunResult scan = RunTool({"--strict", "scan", "s3://bucket/prefix/"});
    EXPECT_TRUE(Contains(scan.err, "s3://bucket/prefix/: No such file or directory")) << scan.err;
}

TEST(Tool, BadInputGivesAClearErrorOrKindZeroNeverACrash)
{
    TempDir dir;
    const fs::path empty = dir / "empty.mpg";
    md::test::WriteFileBytes(empty, {});
    fs::path deep = dir.path();  // a real file behind a path of more than 300 characters
    while (deep.string().size() < 290)
        deep /= std::string(40, 'd');
    fs::create_directories(deep);
    md::test::WriteFileBytes(deep / "file.mpg", mdtest::RandomBytes(4096, 7));

    const std::string missing = (dir / "missing.ts").string();
    const RunResult text = RunTool({missing, dir.path().string(), empty.string(), (deep / "file.mpg").string()});
    EXPECT_EQ(text.status, 2);
    for (const std::string& part : {std::string("missing.ts: No such file or directory"), dir.path().string() + ": is a directory",
                                    std::string("file.mpg: cannot open: 0x800700CE (path longer than 259 characters)")})
        EXPECT_TRUE(Contains(text.err, part)) << text.err;
    ASSERT_EQ(text.lines.size(), 1u) << text.out;
    EXPECT_TRUE(text.lines[0].starts_with(empty.string()) && text.lines[0].ends_with(" 0  unknown")) << text.lines[0];
    const auto objects = RunTool({"--json", missing, empty.string()}).Json();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(std::tuple(objects[0].contains("error"), objects[0].contains("kind"), objects[1]["kind"]),
              std::tuple(true, false, 0));
    EXPECT_EQ(std::tuple(RunTool({empty.string()}).status, RunTool({}).status), std::tuple(0, 2));  // no file: usage
}

TEST(Tool, UnreadableFileIsReportedWithItsReason)
{
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const fs::path file = dir / "locked.mpg";
    md::test::WriteFileBytes(file, {0, 0, 1, 0xBA});
    ::chmod(file.c_str(), 0);
    std::string prefix, tool = MD_TOOL_PATH;
    if (::geteuid() == 0) {
        // root reads anything: run the tool as an unprivileged user instead, from
        // copies beside the file (the build tree may lie in a private folder).
        if (std::system("command -v setpriv >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "running as root without setpriv";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
        tool = (dir / "mediadetect").string();
        fs::copy_file(MD_TOOL_PATH, tool);
        fs::copy_file(md::test::BuildDir() / "libmediadetect.so", dir / "libmediadetect.so");
    }
    const RunResult r = RunTool({file.string()}, prefix, tool);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "locked.mpg: Permission denied")) << r.err;
}

// The scan prints, in input order, exactly what the single-file tool prints for the same list of files.
TEST(Tool, ScanWalksFoldersInOrderAndPrintsWhatSingleFilesGive)
{
    TempDir dir;
    fs::create_directories(dir / "sub");
    fs::copy_file(kPlainMp4, dir / "b.mp4");
    fs::copy_file(kDvd, dir / "a.vob");
    fs::copy_file(kTs, dir / "sub" / "x.ts");
    fs::copy_file(kData / "mkv_h264_640x360_25fps_aac_48k_stereo.mkv", dir / "sub" / "y.mkv");  // the plugin's
    md::test::WriteFileBytes(dir / "c.bin", {});
    ASSERT_EQ(::mkfifo((dir / "d.fifo").c_str(), 0600), 0);  // not a regular file: skipped by the walk
    fs::create_directory_symlink(dir.path(), dir / "sub" / "loop");  // never entered
    const std::string top = dir.path().string(), missing = (dir / "missing.ts").string();
    const Args files = {top + "/a.vob", top + "/b.mp4", top + "/c.bin", top + "/sub/x.ts", top + "/sub/y.mkv",
                        missing, kTs};

    const TempDir listDir;
    md::test::WriteFileBytes(listDir / "list", {kTs.begin(), kTs.end()});
    const std::string stdinFromList = "cat " + Quote((listDir / "list").string()) + " |";
    const RunResult text = RunTool({"scan", "-r", "--jobs", "3", top, missing, "-"}, stdinFromList);
    const RunResult single = RunTool(files);
    EXPECT_EQ(std::tuple(text.status, text.out), std::tuple(single.status, single.out));
    EXPECT_TRUE(Contains(text.err, "missing.ts: No such file or directory")) << text.err;
    EXPECT_TRUE(Contains(text.err, "7 files in") && Contains(text.err, "2 mpeg2-transport, 1 dvd-video, 1 matroska") &&
                Contains(text.err, "1 unreadable"))
        << text.err;

    const RunResult flat = RunTool({"scan", "--json", top});
    const RunResult flatSingle = RunTool({"--json", files[0], files[1], files[2]});
    EXPECT_EQ(std::tuple(flat.status, flat.out), std::tuple(0, flatSingle.out));
    EXPECT_EQ(RunTool({"scan"}).status, 2);  // no path: usage
}

TEST(Tool, DirecTvIsReportedOnlyWithItsHint)
{
    TempDir dir;
    const std::string file = (dir / "feed.dtv").string();
    md::test::WriteFileBytes(file, mdtest::DirecTvStream(4000));
    EXPECT_NE(RunTool({"--json", file}).Json().at(0)["kind"], 13);
    const json hinted = RunTool({"--json", "--hint", "directv", file}).Json().at(0);
    EXPECT_EQ(std::tuple(hinted["kind"], hinted["kindName"]), std::tuple(13, "directv"));
    EXPECT_TRUE(Contains(RunTool({"--hint", "directv", file}).out, "\n    scids   video"));
    const RunResult bad = RunTool({"--hint", "dvb", file});
    EXPECT_TRUE(bad.status == 2 && Contains(bad.err, "unknown --hint")) << bad.err;
}

TEST(Tool, VersionNamesTheToolTheModuleAndTheExtensionsInEffect)
{
    const RunResult all = RunTool({"--version"});
    ASSERT_EQ(all.lines.size(), 3u) << all.out << all.err;
    EXPECT_EQ(all.lines[0], "mediadetect " MD_PROJECT_VERSION);
    // The module's real file (links resolved) and the version the module itself reports.
    const std::string module = fs::canonical(fs::path(MD_TOOL_PATH).parent_path() / "libmediadetect.so").string();
    EXPECT_EQ(all.lines[1], "module " + module + " " MD_PROJECT_VERSION);
    EXPECT_TRUE(all.lines[2].starts_with("extensions 0x3fffff ts-codecs mpeg-audio-sync") &&
                all.lines[2].ends_with(" mxf dv remote tags"))
        << all.lines[2];
    const RunResult strict = RunTool({"--strict", "--version", kDvd});  // files beside it are not examined
    ASSERT_EQ(strict.lines.size(), 3u) << strict.out;
    EXPECT_EQ(strict.lines[2], "extensions 0x0 (the base behaviour)");
}

TEST(Tool, RegisterAndUnregisterEditTheRegistryFile)
{
    TempDir dir;
    const fs::path registry = dir / "reg" / "registry.reg";
    const std::string env = "MEDIADETECT_REGISTRY=" + Quote(registry.string());
    const auto text = [&registry] {
        const auto bytes = md::test::ReadFileBytes(registry);
        return std::string(bytes.begin(), bytes.end());
    };
    ASSERT_EQ(RunTool({"register"}, env).status, 0);
    // The detector's keys, and those of the time-index module beside it.
    for (const char* part : {"[CLSID\\{5A486531-0201-43E0-BD81-D544BB08D0DC}]\n@=\"Zephon Mpeg Detect Library\"\n",
                             "[CLSID\\{5A486531-0201-43E0-BD81-D544BB08D0DC}\\InprocServer32]\n@=\"",
                             "libmediadetect.so.", "\"\n\"ThreadingModel\"=\"Both\"\n",
                             "[CLSID\\{77A35C3A-021B-431F-96F6-EBF160890D93}\\InprocServer32]", "libmdtimeindex.so."})
        EXPECT_TRUE(Contains(text(), part)) << part << " in " << text();
    EXPECT_EQ(std::tuple(RunTool({"unregister"}, env).status, RunTool({"unregister"}, env).status), std::tuple(0, 0));
    EXPECT_FALSE(Contains(text(), "5A486531"));
}

// A synthetic camera file: 3,500,000,000 s after 1904-01-01 is 2014-11-28 06:13:20; the thumbnail is 40 bytes.
TEST(Tool, CameraFileDetailsAndItsThumbnail)
{
    TempDir dir;
    const std::vector<uint8_t> thumbnail = mdtest::RandomBytes(40, 99);
    const std::string camera = (dir / "camera.mp4").string();
    md::test::WriteFileBytes(camera, mdtest::CameraMp4File(3500000000u, thumbnail));
    const RunResult text = RunTool({camera, kPlainMp4});
    ASSERT_EQ(text.lines.size(), 10u) << text.out << text.err;
    EXPECT_TRUE(text.lines[0].ends_with(" 9  mp4")) << text.lines[0];
    EXPECT_TRUE(text.lines[1].starts_with("    video  mjpeg 640x480")) << text.lines[1];
    // The MP4 line follows the stream lines and lists only what is set; nothing carries over to the next file.
    EXPECT_EQ(text.lines[2], "    mp4    video moov-first cpgd-uuid camera recorded 2014-11-28 06:13:20 thumbnail 40 bytes");
    EXPECT_EQ(text.lines[3], "    time   start 0.000 s  duration 0.080 s");  // two samples of 1000/25000 s
    // The 'mvhd' creation time as a tag (MD_EXT_TAGS): the recording date in UTC.
    EXPECT_EQ(text.lines[4], "    tag    creation_time: 2014-11-28T06:13:20Z");
    EXPECT_EQ(text.lines[8], "    mp4    video audio");
    const auto objects = RunTool({"--json", camera, kPlainMp4}).Json();
    ASSERT_EQ(objects.size(), 2u);
    const json& mp4 = objects[0]["mp4"];
    EXPECT_EQ(std::tuple(mp4["hasAudio"], mp4["cameraFile"], mp4["thumbnailLength"], mp4["recordingTime"]),
              std::tuple(false, true, 40, "2014-11-28T06:13:20"));
    EXPECT_EQ(std::tuple(objects[1]["mp4"]["thumbnailLength"], objects[1]["mp4"]["recordingTime"].is_null()),
              std::tuple(0, true));
    // Files of other kinds carry no MP4 object and no MP4 line.
    EXPECT_FALSE(RunTool({"--json", kTs}).Json().at(0).contains("mp4"));
    EXPECT_FALSE(Contains(RunTool({kTs}).out, "mp4 "));

    // The thumbnail is handed out with the JPEG markers FF D8 FF DB in front.
    const fs::path out = dir / "thumb.jpg";
    const RunResult saved = RunTool({"--thumbnail", out.string(), camera});
    EXPECT_TRUE(saved.status == 0 && Contains(saved.out, "thumbnail 40 bytes")) << saved.out << saved.err;
    EXPECT_EQ(md::test::ReadFileBytes(out), mdtest::MarkedThumbnail(thumbnail));
    // Each failure is clear, exits with 2 and makes no file.
    const std::string none = (dir / "none.jpg").string(), nowhere = (dir / "missing" / "thumb.jpg").string();
    const std::pair<Args, std::string> failures[] = {
        {{"--thumbnail", none, kPlainMp4}, "no thumbnail (not a camera file, and no cover picture)"},
        {{"--thumbnail", none, kTs}, "no thumbnail (it carries no cover picture)"},
        {{"--thumbnail", nowhere, camera}, "cannot write the thumbnail to " + nowhere + ": No such file or directory"},
        {{"--thumbnail", "/dev/full", camera}, "No space left on device"},
    };
    for (const auto& [args, message] : failures) {
        const RunResult r = RunTool(args);
        EXPECT_TRUE(r.status == 2 && Contains(r.err, message) && !fs::exists(none)) << message << ": " << r.err;
    }

    // A cover picture as stored: an extension naming another format is corrected, with a note; ".jpeg" names JPEG.
    const struct {
        const char* file;
        const char* asked;
        const char* written;
    } covers[] = {{"cover_m4a_aac_44k_stereo.m4a", "c1.jpg", "c1.png"},
                  {"cover_mkv_h264_320x240_25fps.mkv", "c2.JPEG", "c2.JPEG"}};
    for (const auto& c : covers) {
        const RunResult r = RunTool({"--thumbnail", (dir / c.asked).string(), (kData / c.file).string()});
        EXPECT_EQ(r.status, 0) << c.file << r.err;
        EXPECT_EQ(Contains(r.err, "; written to " + (dir / c.written).string()), std::string(c.asked) != c.written)
            << r.err;
        EXPECT_EQ(md::test::ReadFileBytes(dir / c.written),
                  md::test::ReadFileBytes(kData / "reference" / (std::string(c.file) + ".cover")))
            << c.file;
    }
}

TEST(Tool, TimeTableListsTheKeyPicturesOfAProgramStream)
{
    TempDir dir;
    const std::string env = "MEDIADETECT_REGISTRY=" + Quote((dir / "registry.reg").string()) +
                            " MEDIADETECT_TIMEINDEX_DB=" + Quote((dir / "index.sqlite").string());
    // Not registered yet: the time-index component cannot be created.
    RunResult r = RunTool({"--time-table", kDvd}, env);
    EXPECT_TRUE(r.status == 2 && Contains(r.err, "mediadetect register")) << r.err;
    ASSERT_EQ(RunTool({"register"}, env).status, 0);
    r = RunTool({"--time-table", kDvd}, env);
    // ffprobe's key video packets: pts 48600, 102600, 156600 (90 kHz) in the packs at 2048, 368640 and 579584.
    ASSERT_EQ(r.lines.size(), 8u) << r.out << r.err;
    EXPECT_EQ(Args(r.lines.begin() + 4, r.lines.end()),
              Args({"    index  3 key pictures", "    key           0.000 s  at byte 2048",
                    "    key           0.600 s  at byte 368640", "    key           1.200 s  at byte 579584"}));
    r = RunTool({"--json", "--time-table", kDvd, kTs}, env);
    EXPECT_EQ(r.status, 2);  // no time table for a transport stream
    const auto objects = r.Json();
    ASSERT_EQ(objects.size(), 2u);
    const json& entries = objects[0]["timeTable"]["entries"];
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(std::tuple(entries[1]["time"], entries[1]["position"]), std::tuple(6000000, 368640));
    EXPECT_TRUE(objects[1]["timeTable"]["error"].is_string());
}

TEST(Tool, SeekGivesTheLastKeyPictureAtOrBeforeATime)
{
    TempDir dir;
    const std::string env = "MEDIADETECT_REGISTRY=" + Quote((dir / "registry.reg").string()) +
                            " MEDIADETECT_TIMEINDEX_DB=" + Quote((dir / "index.sqlite").string());
    // A table written straight into the store, for a file that is no program stream: seek reads only the table.
    const fs::path file = dir / "stored.bin";
    md::test::WriteFileBytes(file, {1});
    const auto at = [](double seconds, int64_t offset) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&offset);
        return md::TimeIndexEntry{1, int64_t(seconds * 1e7), {bytes, bytes + sizeof offset}};
    };
    std::string error;
    const auto store = md::TimeIndexStore::Open(dir / "index.sqlite", error);
    ASSERT_TRUE(store && store->ReplaceTable(md::TimeIndexKey(file), {at(2, 10), at(5, 20), at(5, 25), at(9, 40)}));
    // {seconds, output, message}: between, at (the later of two), before the first, after the last; refused times.
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {"3.5", "10\n", ""}, {"5", "25\n", ""}, {"1", "10\n", "before the first key picture"}, {"60", "40\n", ""},
        {"-2", "", "must not be negative"}, {"2s", "", "not a number of seconds"}};
    for (const auto& [seconds, out, message] : rows) {
        const RunResult r = RunTool({"seek", file.string(), seconds}, env);
        EXPECT_TRUE(r.status == (out.empty() ? 2 : 0) && r.out == out && Contains(r.err, message) &&
                    r.err.empty() == message.empty())
            << seconds << ": " << r.out << r.err;
    }
    ASSERT_EQ(RunTool({"register"}, env).status, 0);
    EXPECT_TRUE(Contains(RunTool({"seek", kTs, "1"}, env).err, "no time table for this kind of file"));
    // No table stored: it is built. ffprobe's key video packets: pts 48600, 102600 (90 kHz) at 2048, 368640.
    const json j = RunTool({"seek", "--json", kDvd, "0.9"}, env).Json().at(0);
    EXPECT_EQ(j, json::parse(R"({"file":")" + kDvd + R"(","seconds":0.9,"timeSeconds":0.6,"offset":368640})"));
}

}  // namespace
