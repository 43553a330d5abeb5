// The command-line tool as a user runs it: text and JSON output, bad input and
// its exit codes, the container hint, registration, camera details, thumbnails
// and time tables. What the detector reports for each corpus file is checked in
// tests/component/conformance_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "support/mp4_builders.h"
#include "support/stream_builders.h"

namespace {

namespace fs = std::filesystem;
using md::test::TempDir;
using nlohmann::json;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::vector<json> Json() const
    {
        std::vector<json> objects;
        for (const std::string& line : Lines())
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

// Runs the tool with the given arguments; prefix goes before the command (env settings, setpriv).
RunResult RunTool(const std::vector<std::string>& args, const std::string& prefix = "",
                  const std::string& tool = MD_TOOL_PATH)
{
    TempDir tmp;
    std::string cmd = prefix + " " + Quote(tool);
    for (const auto& a : args)
        cmd += " " + Quote(a);
    cmd += " >" + Quote((tmp / "out").string()) + " 2>" + Quote((tmp / "err").string());
    RunResult r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto out = md::test::ReadFileBytes(tmp / "out");
    const auto err = md::test::ReadFileBytes(tmp / "err");
    r.out.assign(out.begin(), out.end());
    r.err.assign(err.begin(), err.end());
    return r;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const fs::path kData = md::test::TestDataDir();
const std::string kDvd = (kData / "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob").string();
const std::string kTs = (kData / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string();
const std::string kPlainMp4 = (kData / "mp4_h264_640x360_25fps_aac_48k_stereo.mp4").string();

TEST(Tool, TextOutputIsAlignedAndDescribesTheStreams)
{
    const RunResult r = RunTool({kDvd, kTs});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 9u) << r.out;
    EXPECT_EQ(lines[0].rfind(kDvd, 0), 0u);
    EXPECT_TRUE(lines[0].ends_with(" 6  dvd-video")) << lines[0];
    // The sample was encoded at 9000 kb/s and 384 kb/s AC-3 3/2 with LFE; its
    // video starts at 0.54 s (ffprobe's stream start_time).
    EXPECT_EQ(lines[1], "    video  mpeg2 720x576 16:9 25 fps top-field-first 9000 kb/s");
    EXPECT_EQ(lines[2], "    audio  ac3 6 ch 48000 Hz 384 kb/s mask 0x3f");
    EXPECT_EQ(lines[3].rfind("    time   start 0.540 s  duration 1.5", 0), 0u) << lines[3];
    EXPECT_TRUE(lines[4].ends_with(" 8  mpeg2-transport")) << lines[4];
    EXPECT_EQ(lines[0].find(" 6  dvd"), lines[4].find(" 8  mpeg2"));  // the kind column lines up
    // ffmpeg's one program: PMT 0x1000 (its muxer's default), video 0x100,
    // audio 0x101; the first program is described.
    EXPECT_EQ(lines[5], "    video  mpeg2 720x576 4:3 25 fps progressive");
    EXPECT_EQ(lines[7], "    program 0x1000  video 0x0100  audio 0x0101");
}

TEST(Tool, JsonCarriesEveryRecordFieldAndReopenDescribesFromAnOffset)
{
    const std::string file = (kData / "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob").string();
    const auto open = RunTool({"--json", file}).Json();
    ASSERT_EQ(open.size(), 1u);
    const json& j = open[0];
    for (const char* key : {"/video/format", "/video/frameRate", "/video/bitRate", "/video/width", "/video/height",
                            "/video/aspectX", "/video/aspectY", "/video/fieldOrder", "/video/profile", "/audio/format",
                            "/audio/channels", "/audio/sampleRate", "/audio/byteRate", "/audio/blockAlign",
                            "/audio/bitsPerSample", "/audio/bitRate", "/encoderMarker", "/fieldCoding", "/duration",
                            "/timeRange"})
        EXPECT_TRUE(j.contains(json::json_pointer(key))) << key;
    EXPECT_EQ(std::tuple(j["video"]["fieldOrder"], j["video"]["aspectX"], j["audio"]["sampleRate"],
                         j["mpegAudio"]["layer"]),
              std::tuple(2, 4, 48000, 2));
    EXPECT_FALSE(j.contains("multiChannel"));
    EXPECT_GT(j["codecHeaders"]["header1Length"].get<uint32_t>(), 12u);
    EXPECT_TRUE(j["firstVideoTime"].is_number());

    // From the middle of the file the same streams are found again.
    const json reopened = RunTool({"--json", "--reopen", "45056", file}).Json().at(0);
    EXPECT_EQ(std::tuple(reopened["video"]["width"], reopened["audio"]["channels"]), std::tuple(720, 2));
    EXPECT_NE(reopened["firstVideoTime"], j["firstVideoTime"]);
    const json refused = RunTool({"--json", "--reopen", "0", kTs}).Json().at(0);
    EXPECT_TRUE(Contains(refused["error"].get<std::string>(), "0x80070057"));
}

// A time is printed only where the module measured one: never a negative
// duration, and the text has a time line exactly where the JSON has a duration.
TEST(Tool, TimeLineOnlyWhereTheTimeIsKnown)
{
    std::vector<std::string> files;
    for (const fs::path& dir : {kData, md::test::RealWorldDir()})
        for (const fs::path& f : md::test::MediaFiles(dir))
            files.push_back(f.string());
    std::vector<std::string> args = files;
    args.insert(args.begin(), "--json");
    const std::vector<json> objects = RunTool(args).Json();
    const std::vector<std::string> lines = RunTool(files).Lines();
    ASSERT_EQ(objects.size(), files.size());
    size_t known = 0;
    for (const json& j : objects) {
        if (j["duration"].is_null()) {
            EXPECT_TRUE(j["timeRange"].is_null()) << j["file"];
            EXPECT_FALSE(j["file"].get<std::string>().ends_with(".vob")) << "program streams have a duration";
        } else {
            EXPECT_GE(j["duration"].get<int64_t>(), 0) << j["file"];
            ++known;
        }
        if (j["file"].get<std::string>().ends_with("ts_dvb_si_only_11prog.ts")) {
            EXPECT_TRUE(j["duration"].is_null()) << "no PES at all: no time";
        }
    }
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("    time "); }),
              known);
    for (const std::string& l : lines)
        EXPECT_FALSE(Contains(l, "duration -")) << l;
}

TEST(Tool, BadInputGivesAClearErrorOrKindZeroNeverACrash)
{
    TempDir dir;
    const fs::path empty = dir / "empty.mpg";
    const fs::path random = dir / "random.bin";
    md::test::WriteFileBytes(empty, {});
    md::test::WriteFileBytes(random, mdtest::RandomBytes(3 << 20, 1234));
    // A real file behind a path of more than 300 characters.
    fs::path deep = dir.path();
    while (deep.string().size() < 290)
        deep /= std::string(40, 'd');
    fs::create_directories(deep);
    const fs::path longPath = deep / "file.mpg";
    md::test::WriteFileBytes(longPath, mdtest::RandomBytes(4096, 7));
    ASSERT_GT(longPath.string().size(), 300u);

    const RunResult text = RunTool({(dir / "missing.ts").string(), dir.path().string(), empty.string(),
                                    random.string(), longPath.string()});
    EXPECT_EQ(text.status, 2);
    EXPECT_TRUE(Contains(text.err, "missing.ts: No such file or directory")) << text.err;
    EXPECT_TRUE(Contains(text.err, dir.path().string() + ": is a directory")) << text.err;
    EXPECT_TRUE(Contains(text.err, "file.mpg: cannot open: 0x800700CE (path longer than 259 characters)")) << text.err;
    const auto lines = text.Lines();
    ASSERT_EQ(lines.size(), 2u) << text.out;
    EXPECT_EQ(lines[0].rfind(empty.string(), 0), 0u);
    EXPECT_EQ(lines[1].rfind(random.string(), 0), 0u);
    for (const auto& line : lines)
        EXPECT_TRUE(line.ends_with(" 0  unknown")) << line;

    const auto objects = RunTool({"--json", (dir / "missing.ts").string(), empty.string()}).Json();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_TRUE(objects[0].contains("error"));
    EXPECT_FALSE(objects[0].contains("kind"));
    EXPECT_EQ(objects[1]["kind"], 0);
    EXPECT_EQ(RunTool({empty.string()}).status, 0);
    EXPECT_EQ(RunTool({}).status, 2);  // no file: usage and failure
}

TEST(Tool, UnreadableFileIsReportedWithItsReason)
{
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const fs::path file = dir / "locked.mpg";
    md::test::WriteFileBytes(file, {0, 0, 1, 0xBA});
    ::chmod(file.c_str(), 0);
    std::string prefix;
    std::string tool = MD_TOOL_PATH;
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

TEST(Tool, DirecTvIsReportedOnlyWithItsHint)
{
    TempDir dir;
    const fs::path file = dir / "feed.dtv";
    md::test::WriteFileBytes(file, mdtest::DirecTvStream(4000));
    EXPECT_NE(RunTool({"--json", file.string()}).Json().at(0)["kind"], 13);
    const json hinted = RunTool({"--json", "--hint", "directv", file.string()}).Json().at(0);
    EXPECT_EQ(std::tuple(hinted["kind"], hinted["kindName"]), std::tuple(13, "directv"));
    const RunResult bad = RunTool({"--hint", "dvb", file.string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(Contains(bad.err, "unknown --hint"));
}

TEST(Tool, RegisterAndUnregisterEditTheRegistryFile)
{
    TempDir dir;
    const fs::path registry = dir / "reg" / "registry.reg";
    const std::string env = "MEDIADETECT_REGISTRY=" + Quote(registry.string());
    ASSERT_EQ(RunTool({"register"}, env).status, 0);
    const auto text = [&registry] {
        const auto bytes = md::test::ReadFileBytes(registry);
        return std::string(bytes.begin(), bytes.end());
    };
    // The detector's keys, and those of the time-index module beside it.
    for (const char* part : {"[CLSID\\{5A486531-0201-43E0-BD81-D544BB08D0DC}]\n@=\"Zephon Mpeg Detect Library\"\n",
                             "[CLSID\\{5A486531-0201-43E0-BD81-D544BB08D0DC}\\InprocServer32]\n@=\"",
                             "libmediadetect.so\"\n\"ThreadingModel\"=\"Both\"\n",
                             "[CLSID\\{77A35C3A-021B-431F-96F6-EBF160890D93}\\InprocServer32]", "libmdtimeindex.so\""})
        EXPECT_TRUE(Contains(text(), part)) << part << " in " << text();
    ASSERT_EQ(RunTool({"unregister"}, env).status, 0);
    ASSERT_EQ(RunTool({"unregister"}, env).status, 0);
    EXPECT_FALSE(Contains(text(), "5A486531"));
}

// A synthetic camera file: 3,500,000,000 s after 1904-01-01 is 2014-11-28
// 06:13:20; the thumbnail is 40 bytes.
TEST(Tool, CameraFileDetailsAndItsThumbnail)
{
    TempDir dir;
    const std::vector<uint8_t> thumbnail = mdtest::RandomBytes(40, 99);
    const fs::path camera = dir / "camera.mp4";
    md::test::WriteFileBytes(camera, mdtest::CameraMp4File(3500000000u, thumbnail));
    const RunResult text = RunTool({camera.string(), kPlainMp4});
    ASSERT_EQ(text.status, 0) << text.err;
    const auto lines = text.Lines();
    ASSERT_EQ(lines.size(), 9u) << text.out;
    EXPECT_TRUE(lines[0].ends_with(" 9  mp4")) << lines[0];
    EXPECT_EQ(lines[1].rfind("    video  mjpeg 640x480", 0), 0u) << lines[1];
    // The MP4 line follows the stream lines and lists only what is set.
    EXPECT_EQ(lines[2], "    mp4    video moov-first cpgd-uuid camera recorded 2014-11-28 06:13:20 thumbnail 40 bytes");
    EXPECT_EQ(lines[3], "    time   start 0.000 s  duration 0.080 s");  // two samples of 1000/25000 s
    EXPECT_EQ(lines[6].rfind("    audio  aac 2 ch 48000 Hz", 0), 0u) << lines[6];
    EXPECT_EQ(lines[7], "    mp4    video audio");  // nothing of the camera file carries over

    const auto objects = RunTool({"--json", camera.string(), kPlainMp4}).Json();
    ASSERT_EQ(objects.size(), 2u);
    const json& mp4 = objects[0]["mp4"];
    EXPECT_EQ(std::tuple(mp4["hasAudio"], mp4["cameraFile"], mp4["thumbnailLength"], mp4["recordingTime"]),
              std::tuple(false, true, 40, "2014-11-28T06:13:20"));
    EXPECT_EQ(objects[1]["mp4"]["thumbnailLength"], 0);
    EXPECT_TRUE(objects[1]["mp4"]["recordingTime"].is_null());
    // Files of other kinds carry no MP4 object and no MP4 line.
    EXPECT_FALSE(RunTool({"--json", kTs}).Json().at(0).contains("mp4"));
    EXPECT_FALSE(Contains(RunTool({kTs}).out, "mp4 "));

    const fs::path out = dir / "thumb.jpg";
    const RunResult saved = RunTool({"--thumbnail", out.string(), camera.string()});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_TRUE(Contains(saved.out, "thumbnail 40 bytes")) << saved.out;
    // The file hands the thumbnail out with the JPEG markers FF D8 FF DB in front.
    EXPECT_EQ(md::test::ReadFileBytes(out), mdtest::MarkedThumbnail(thumbnail));

    // Each failure is clear, exits with 2 and makes no file.
    const fs::path none = dir / "none.jpg";
    const fs::path nowhere = dir / "missing" / "thumb.jpg";
    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"--thumbnail", none.string(), kPlainMp4}, "no thumbnail (not a camera file)"},
        {{"--thumbnail", none.string(), kTs}, "no thumbnail (not an MP4 file)"},
        {{"--thumbnail", none.string(), camera.string(), kPlainMp4}, "--thumbnail takes exactly one input file"},
        {{"--thumbnail", none.string()}, "--thumbnail takes exactly one input file"},
        {{"--thumbnail", nowhere.string(), camera.string()},
         "cannot write the thumbnail to " + nowhere.string() + ": No such file or directory"},
        {{"--thumbnail", "/dev/full", camera.string()}, "No space left on device"},
    };
    for (const auto& [args, message] : failures) {
        const RunResult r = RunTool(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_TRUE(Contains(r.err, message)) << r.err;
        EXPECT_FALSE(fs::exists(none));
    }
}

TEST(Tool, TimeTableListsTheKeyPicturesOfAProgramStream)
{
    TempDir dir;
    const std::string env = "MEDIADETECT_REGISTRY=" + Quote((dir / "registry.reg").string()) +
                            " MEDIADETECT_TIMEINDEX_DB=" + Quote((dir / "index.sqlite").string());
    // Not registered yet: the time-index component cannot be created.
    RunResult r = RunTool({"--time-table", kDvd}, env);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "mediadetect register")) << r.err;

    ASSERT_EQ(RunTool({"register"}, env).status, 0);
    r = RunTool({"--time-table", kDvd}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    // ffprobe's key video packets: pts 48600, 102600, 156600 (90 kHz) in the
    // packs at 2048, 368640 and 579584.
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 8u) << r.out;
    EXPECT_EQ(std::vector(lines.begin() + 4, lines.end()),
              std::vector<std::string>({"    index  3 key pictures", "    key           0.000 s  at byte 2048",
                                        "    key           0.600 s  at byte 368640",
                                        "    key           1.200 s  at byte 579584"}));

    r = RunTool({"--json", "--time-table", kDvd, kTs}, env);
    EXPECT_EQ(r.status, 2);  // no time table for a transport stream
    const auto objects = r.Json();
    ASSERT_EQ(objects.size(), 2u);
    const json& entries = objects[0]["timeTable"]["entries"];
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(std::tuple(entries[1]["time"], entries[1]["position"]), std::tuple(6000000, 368640));
    EXPECT_TRUE(objects[1]["timeTable"]["error"].is_string());
}

}  // namespace
