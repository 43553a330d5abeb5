// The command-line tool as a user runs it: kinds of the corpus files, text and
// JSON output, bad input, the container hint and registration.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
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

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs the tool with the given arguments; prefix goes before the command (env settings, setpriv).
RunResult RunTool(const std::vector<std::string>& args, const std::string& prefix = "")
{
    TempDir tmp;
    std::string cmd = prefix + " " + Quote(MD_TOOL_PATH);
    for (const auto& a : args)
        cmd += " " + Quote(a);
    cmd += " >" + Quote((tmp / "out").string()) + " 2>" + Quote((tmp / "err").string());
    RunResult r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    auto out = md::test::ReadFileBytes(tmp / "out");
    auto err = md::test::ReadFileBytes(tmp / "err");
    r.out.assign(out.begin(), out.end());
    r.err.assign(err.begin(), err.end());
    return r;
}

std::vector<nlohmann::json> JsonLines(const std::string& text)
{
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// Expected kinds of the generated corpus, from the container each file was made with.
uint32_t ExpectedCorpusKind(const std::string& name)
{
    const std::pair<const char*, uint32_t> prefixes[] = {
        // The VCD samples carry MPEG-1 packs at VCD rates (kind 3 from the probe) but
        // their 352-wide pictures are not exactly 4:3 by the MPEG-1 pel aspect, so
        // the open reports an MPEG-1 system stream.
        {"mpg1_", 1}, {"vcd_", 1}, {"svcd_", 4}, {"dvd_", 6}, {"ps_mpeg2video", 2}, {"ps_mpeg4video", 5},
        {"ts_", 8},   {"ts204_", 8}, {"m2ts_", 8}, {"mp4", 9}, {"mov_", 9},   {"3gp_", 9},
        {"es_mpeg1video_", 10}, {"es_mpeg2video_", 11},
        // These MPEG-4 Visual streams do not start with a VOP start code.
        {"es_mpeg4_", 0},
        // WebM files carry the DocType "webm", which is not taken for Matroska.
        {"mkv_", 14},  {"webm_", 0},
    };
    for (const auto& [prefix, kind] : prefixes)
        if (name.rfind(prefix, 0) == 0)
            return kind;
    ADD_FAILURE() << "no expectation for " << name;
    return 0;
}

TEST(Tool, ReportsTheKindOfEveryCorpusFile)
{
    std::vector<std::string> files;
    for (const auto& f : md::test::MediaFiles(md::test::TestDataDir()))
        files.push_back(f.string());
    ASSERT_GE(files.size(), 20u);
    const RunResult r = RunTool([&] {
        auto a = files;
        a.insert(a.begin(), "--json");
        return a;
    }());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string name = fs::path(files[i]).filename().string();
        EXPECT_EQ(lines[i]["file"], files[i]);
        EXPECT_EQ(lines[i]["kind"].get<uint32_t>(), ExpectedCorpusKind(name)) << name;
        EXPECT_FALSE(lines[i]["kindName"].get<std::string>().empty());
    }
}

TEST(Tool, ReportsTheKindOfEveryRealWorldFile)
{
    const fs::path dir = md::test::RealWorldDir();
    if (dir.empty())
        GTEST_SKIP() << "real-world samples not present";
    // Two files are shorter than the probe's tests need: a transport stream must
    // give more than 2040 bytes and a pack search more than 2048, so the
    // 1344-byte AVCHD stub and the single 2048-byte AC-3 pack are not recognised.
    // The MP4 without moov still has its ftyp at byte 4. Bare MPEG-4 Visual is
    // recognised only with a VOP start code at byte 0 (the .cmp sample starts
    // with its visual object sequence header), and bare H.264 is not an
    // elementary kind of its own.
    const std::map<std::string, uint32_t> special = {
        {"m2ts_avchd_stub.mts", 0},
        {"mpeg2ps_ac3_privstream1.ps", 0},
        {"mpeg2ps_dvdnav_640x426_mp2.ps", 6},  // private stream 2 navigation packets
        {"mp4_broken_no_moov.mp4", 9},
        {"mkv_invalid_unknown_sized_nonmaster.mkv", 0},  // a DocType of unknown size is no DocType
    };
    const std::pair<const char*, uint32_t> prefixes[] = {{"mpeg1ps_", 1}, {"ts_", 8},  {"mp4_", 9},
                                                         {"mov_", 9},     {"3gp_", 9}, {"mkv_", 14},
                                                         {"webm_", 0},    {"h264_", 0}, {"mpeg2es_", 11},
                                                         {"mpeg4v_", 0}};
    std::vector<std::string> args = {"--json"};
    std::vector<uint32_t> expected;
    for (const auto& f : md::test::MediaFiles(dir)) {
        const std::string name = f.filename().string();
        std::optional<uint32_t> kind;
        if (auto it = special.find(name); it != special.end())
            kind = it->second;
        for (const auto& [prefix, k] : prefixes)
            if (!kind && name.rfind(prefix, 0) == 0)
                kind = k;
        ASSERT_TRUE(kind.has_value()) << "no expectation for " << name;
        args.push_back(f.string());
        expected.push_back(*kind);
    }
    const RunResult r = RunTool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(lines[i]["kind"].get<uint32_t>(), expected[i]) << lines[i]["file"];
}

TEST(Tool, TextOutputIsAlignedAndDescribesTheStreams)
{
    const auto data = md::test::TestDataDir();
    const std::string a = (data / "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob").string();
    const std::string b = (data / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string();
    const RunResult r = RunTool({a, b});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 9u) << r.out;
    EXPECT_EQ(lines[0].rfind(a, 0), 0u);
    EXPECT_TRUE(lines[0].ends_with(" 6  dvd-video")) << lines[0];
    // The sample was encoded at 9000 kb/s and 384 kb/s AC-3 3/2 with LFE; its
    // video starts at 0.54 s (ffprobe's stream start_time).
    EXPECT_EQ(lines[1], "    video  mpeg2 720x576 16:9 25 fps top-field-first 9000 kb/s");
    EXPECT_EQ(lines[2], "    audio  ac3 6 ch 48000 Hz 384 kb/s mask 0x3f");
    EXPECT_EQ(lines[3].rfind("    time   start 0.540 s  duration 1.5", 0), 0u) << lines[3];
    EXPECT_TRUE(lines[4].ends_with(" 8  mpeg2-transport")) << lines[4];
    EXPECT_EQ(lines[0].find(" 6  dvd"), lines[4].find(" 8  mpeg2"));  // the kind column lines up
    // The transport stream's programs (ffmpeg's one program: PMT 0x1000, video
    // 0x100, audio 0x101); the first is described.
    EXPECT_EQ(lines[5], "    video  mpeg2 720x576 4:3 25 fps progressive");
    EXPECT_EQ(lines[7], "    program 0x1000  video 0x0100  audio 0x0101");
}

TEST(Tool, JsonCarriesEveryRecordFieldAndReopenDescribesFromAnOffset)
{
    const std::string file =
        (md::test::TestDataDir() / "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob").string();
    const auto open = JsonLines(RunTool({"--json", file}).out);
    ASSERT_EQ(open.size(), 1u);
    const auto& j = open[0];
    for (const char* key : {"format", "frameRate", "bitRate", "width", "height", "aspectX", "aspectY", "fieldOrder",
                            "profile"})
        EXPECT_TRUE(j["video"].contains(key)) << key;
    for (const char* key : {"format", "channels", "sampleRate", "byteRate", "blockAlign", "bitsPerSample", "bitRate"})
        EXPECT_TRUE(j["audio"].contains(key)) << key;
    EXPECT_EQ(j["video"]["fieldOrder"], 2);
    EXPECT_EQ(j["video"]["aspectX"], 4);
    EXPECT_EQ(j["audio"]["sampleRate"], 48000);
    EXPECT_EQ(j["mpegAudio"]["layer"], 2);
    EXPECT_FALSE(j.contains("multiChannel"));
    EXPECT_GT(j["codecHeaders"]["header1Length"].get<uint32_t>(), 12u);
    EXPECT_TRUE(j["firstVideoTime"].is_number());
    for (const char* key : {"encoderMarker", "fieldCoding"})
        EXPECT_TRUE(j.contains(key)) << key;

    // From the middle of the file the same streams are found again.
    const auto reopened = JsonLines(RunTool({"--json", "--reopen", "45056", file}).out);
    ASSERT_EQ(reopened.size(), 1u);
    EXPECT_EQ(reopened[0]["video"]["width"], 720);
    EXPECT_EQ(reopened[0]["audio"]["channels"], 2);
    EXPECT_NE(reopened[0]["firstVideoTime"], j["firstVideoTime"]);

    const auto ts = JsonLines(RunTool({"--json", "--reopen", "0",
        (md::test::TestDataDir() / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string()}).out);
    ASSERT_EQ(ts.size(), 1u);
    EXPECT_NE(ts[0]["error"].get<std::string>().find("0x80070057"), std::string::npos);
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

    const RunResult text = RunTool({(dir / "missing.ts").string(), dir.path().string(), empty.string(), random.string(),
                                longPath.string()});
    EXPECT_EQ(text.status, 2);
    EXPECT_NE(text.err.find("missing.ts: No such file or directory"), std::string::npos) << text.err;
    EXPECT_NE(text.err.find(dir.path().string() + ": is a directory"), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("file.mpg: cannot open: 0x800700CE (path longer than 259 characters)"),
              std::string::npos)
        << text.err;
    std::istringstream lines(text.out);
    std::vector<std::string> outLines;
    for (std::string line; std::getline(lines, line);)
        outLines.push_back(line);
    ASSERT_EQ(outLines.size(), 2u) << text.out;
    EXPECT_EQ(outLines[0].rfind(empty.string(), 0), 0u);
    EXPECT_EQ(outLines[1].rfind(random.string(), 0), 0u);
    for (const auto& line : outLines)
        EXPECT_TRUE(line.ends_with(" 0  unknown")) << line;

    const auto json = JsonLines(RunTool({"--json", (dir / "missing.ts").string(), empty.string()}).out);
    ASSERT_EQ(json.size(), 2u);
    EXPECT_TRUE(json[0].contains("error"));
    EXPECT_FALSE(json[0].contains("kind"));
    EXPECT_EQ(json[1]["kind"], 0);

    EXPECT_EQ(RunTool({empty.string()}).status, 0);
}

TEST(Tool, UnreadableFileIsReportedWithItsReason)
{
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const fs::path file = dir / "locked.mpg";
    md::test::WriteFileBytes(file, {0, 0, 1, 0xBA});
    ::chmod(file.c_str(), 0);
    std::string prefix;
    if (::geteuid() == 0) {
        // root reads anything: run the tool as an unprivileged user instead.
        if (std::system("command -v setpriv >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "running as root without setpriv";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    }
    const RunResult r = RunTool({file.string()}, prefix);
    if (r.status != 2 && r.err.find("cannot load module") != std::string::npos)
        GTEST_SKIP() << "the build tree is not readable by an unprivileged user";
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("locked.mpg: Permission denied"), std::string::npos) << r.err;
}

TEST(Tool, DirecTvIsReportedOnlyWithItsHint)
{
    TempDir dir;
    const fs::path file = dir / "feed.dtv";
    md::test::WriteFileBytes(file, mdtest::DirecTvStream(4000));
    const auto plain = JsonLines(RunTool({"--json", file.string()}).out);
    const auto hinted = JsonLines(RunTool({"--json", "--hint", "directv", file.string()}).out);
    ASSERT_EQ(plain.size(), 1u);
    ASSERT_EQ(hinted.size(), 1u);
    EXPECT_NE(plain[0]["kind"], 13);
    EXPECT_EQ(hinted[0]["kind"], 13);
    EXPECT_EQ(hinted[0]["kindName"], "directv");
    const RunResult bad = RunTool({"--hint", "dvb", file.string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("unknown --hint"), std::string::npos);
}

TEST(Tool, RegisterAndUnregisterEditTheRegistryFile)
{
    TempDir dir;
    const fs::path registry = dir / "reg" / "registry.reg";
    const std::string env = "MEDIADETECT_REGISTRY=" + Quote(registry.string());
    ASSERT_EQ(RunTool({"register"}, env).status, 0);
    auto bytes = md::test::ReadFileBytes(registry);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("[CLSID\\{5A486531-0201-43E0-BD81-D544BB08D0DC}]\n@=\"Zephon Mpeg Detect Library\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[CLSID\\{5A486531-0201-43E0-BD81-D544BB08D0DC}\\InprocServer32]\n@=\""), std::string::npos);
    EXPECT_NE(text.find("libmediadetect.so\"\n\"ThreadingModel\"=\"Both\"\n"), std::string::npos) << text;
    // The time-index module beside it is registered too.
    EXPECT_NE(text.find("[CLSID\\{77A35C3A-021B-431F-96F6-EBF160890D93}\\InprocServer32]"), std::string::npos);
    EXPECT_NE(text.find("libmdtimeindex.so\""), std::string::npos) << text;

    ASSERT_EQ(RunTool({"unregister"}, env).status, 0);
    ASSERT_EQ(RunTool({"unregister"}, env).status, 0);
    bytes = md::test::ReadFileBytes(registry);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("5A486531"), std::string::npos);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A synthetic camera file in dir: 3,500,000,000 s after 1904-01-01 is
// 2014-11-28 06:13:20, and the thumbnail is 40 bytes.
fs::path WriteCameraFile(const TempDir& dir, std::vector<uint8_t>& thumbnail)
{
    thumbnail = mdtest::RandomBytes(40, 99);
    const fs::path file = dir / "camera.mp4";
    md::test::WriteFileBytes(file, mdtest::CameraMp4File(3500000000u, thumbnail));
    return file;
}

const fs::path kPlainMp4 = md::test::TestDataDir() / "mp4_h264_640x360_25fps_aac_48k_stereo.mp4";

TEST(Tool, ShowsTheMp4DetailsOfACameraFile)
{
    TempDir dir;
    std::vector<uint8_t> thumbnail;
    const fs::path camera = WriteCameraFile(dir, thumbnail);

    const RunResult text = RunTool({camera.string(), kPlainMp4.string()});
    ASSERT_EQ(text.status, 0) << text.err;
    const auto lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 9u) << text.out;
    EXPECT_TRUE(lines[0].ends_with(" 9  mp4")) << lines[0];
    EXPECT_EQ(lines[1].rfind("    video  mjpeg 640x480", 0), 0u) << lines[1];
    // The MP4 line follows the stream lines and lists only what is set.
    EXPECT_EQ(lines[2], "    mp4    video moov-first cpgd-uuid camera recorded 2014-11-28 06:13:20 thumbnail 40 bytes");
    // Two 64-byte samples of 1000/25000 s.
    EXPECT_EQ(lines[3], "    time   start 0.000 s  duration 0.080 s");
    EXPECT_TRUE(lines[4].ends_with(" 9  mp4")) << lines[4];
    EXPECT_EQ(lines[5].rfind("    video  h264 640x360", 0), 0u) << lines[5];
    EXPECT_EQ(lines[6].rfind("    audio  aac 2 ch 48000 Hz", 0), 0u) << lines[6];
    // Nothing of the camera file before it carries over to this file.
    EXPECT_EQ(lines[7].rfind("    mp4    video audio", 0), 0u) << lines[7];
    for (const char* word : {"camera", "cpgd-uuid", "recorded", "thumbnail"})
        EXPECT_EQ(lines[7].find(word), std::string::npos) << lines[7];

    const auto json = JsonLines(RunTool({"--json", camera.string(), kPlainMp4.string()}).out);
    ASSERT_EQ(json.size(), 2u);
    const auto& mp4 = json[0]["mp4"];
    EXPECT_EQ(mp4["hasVideo"], true);
    EXPECT_EQ(mp4["hasAudio"], false);
    EXPECT_EQ(mp4["moovFirst"], true);
    EXPECT_EQ(mp4["cpgdUuid"], true);
    EXPECT_EQ(mp4["cameraFile"], true);
    EXPECT_EQ(mp4["thumbnailLength"], 40);
    EXPECT_EQ(mp4["recordingTime"], "2014-11-28T06:13:20");
    EXPECT_EQ(json[1]["mp4"]["cameraFile"], false);
    EXPECT_EQ(json[1]["mp4"]["thumbnailLength"], 0);
    EXPECT_TRUE(json[1]["mp4"]["recordingTime"].is_null());
    // Files of other kinds carry no MP4 object and no MP4 line.
    const std::string ts = (md::test::TestDataDir() / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string();
    EXPECT_FALSE(JsonLines(RunTool({"--json", ts}).out).at(0).contains("mp4"));
    EXPECT_EQ(RunTool({ts}).out.find("mp4 "), std::string::npos);
}

TEST(Tool, ThumbnailOptionWritesTheCameraThumbnailOrFailsClearly)
{
    TempDir dir;
    std::vector<uint8_t> thumbnail;
    const fs::path camera = WriteCameraFile(dir, thumbnail);

    const fs::path out = dir / "thumb.jpg";
    const RunResult saved = RunTool({"--thumbnail", out.string(), camera.string()});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(saved.out.find("thumbnail 40 bytes"), std::string::npos) << saved.out;
    // The file hands the thumbnail out with the JPEG markers FF D8 FF DB in front.
    const auto bytes = md::test::ReadFileBytes(out);
    EXPECT_EQ(bytes, mdtest::MarkedThumbnail(thumbnail));
    ASSERT_EQ(bytes.size(), 40u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[3], 0xDB);

    // An MP4 without a thumbnail: a clear error, and no file is made.
    const fs::path none = dir / "none.jpg";
    const RunResult plain = RunTool({"--thumbnail", none.string(), kPlainMp4.string()});
    EXPECT_EQ(plain.status, 2);
    EXPECT_NE(plain.err.find("no thumbnail (not a camera file)"), std::string::npos) << plain.err;
    EXPECT_FALSE(fs::exists(none));
    const RunResult ts = RunTool({"--thumbnail", none.string(),
        (md::test::TestDataDir() / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string()});
    EXPECT_EQ(ts.status, 2);
    EXPECT_NE(ts.err.find("no thumbnail (not an MP4 file)"), std::string::npos) << ts.err;
    EXPECT_FALSE(fs::exists(none));

    // Exactly one input file.
    for (const auto& files : {std::vector<std::string>{camera.string(), kPlainMp4.string()},
                              std::vector<std::string>{}}) {
        std::vector<std::string> args = {"--thumbnail", none.string()};
        args.insert(args.end(), files.begin(), files.end());
        const RunResult r = RunTool(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("--thumbnail takes exactly one input file"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_FALSE(fs::exists(none));
    }

    // A place that cannot be written.
    const fs::path nowhere = dir / "missing" / "thumb.jpg";
    const RunResult unwritable = RunTool({"--thumbnail", nowhere.string(), camera.string()});
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_NE(unwritable.err.find("cannot write the thumbnail to " + nowhere.string() + ": No such file or directory"),
              std::string::npos)
        << unwritable.err;
    if (fs::exists("/dev/full")) {
        const RunResult full = RunTool({"--thumbnail", "/dev/full", camera.string()});
        EXPECT_EQ(full.status, 2);
        EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
    }
}

TEST(Tool, TimeTableListsTheKeyPicturesOfAProgramStream)
{
    TempDir dir;
    const std::string env = "MEDIADETECT_REGISTRY=" + Quote((dir / "registry.reg").string()) +
                            " MEDIADETECT_TIMEINDEX_DB=" + Quote((dir / "index.sqlite").string());
    const std::string dvd =
        (md::test::TestDataDir() / "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob").string();
    // Not registered yet: the time-index component cannot be created.
    RunResult r = RunTool({"--time-table", dvd}, env);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("mediadetect register"), std::string::npos) << r.err;

    ASSERT_EQ(RunTool({"register"}, env).status, 0);
    r = RunTool({"--time-table", dvd}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    // ffprobe's key video packets: pts 48600, 102600, 156600 (90 kHz) in the
    // packs at 2048, 368640 and 579584.
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 8u) << r.out;
    EXPECT_EQ(lines[4], "    index  3 key pictures");
    EXPECT_EQ(lines[5], "    key           0.000 s  at byte 2048");
    EXPECT_EQ(lines[6], "    key           0.600 s  at byte 368640");
    EXPECT_EQ(lines[7], "    key           1.200 s  at byte 579584");

    const std::string ts = (md::test::TestDataDir() / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string();
    r = RunTool({"--json", "--time-table", dvd, ts}, env);
    EXPECT_EQ(r.status, 2);  // no time table for a transport stream
    const auto json = JsonLines(r.out);
    ASSERT_EQ(json.size(), 2u);
    ASSERT_EQ(json[0]["timeTable"]["entries"].size(), 3u);
    EXPECT_EQ(json[0]["timeTable"]["entries"][1]["time"], 6000000);
    EXPECT_EQ(json[0]["timeTable"]["entries"][1]["position"], 368640);
    EXPECT_TRUE(json[1]["timeTable"]["error"].is_string());
}

TEST(Tool, HelpExplainsEveryOptionWithExamples)
{
    const RunResult r = RunTool({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word :
         {"--json", "--hint", "--module", "--thumbnail", "--time-table", "register", "unregister", "Example"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_EQ(RunTool({}).status, 2);  // no file: usage and failure
}

}  // namespace
