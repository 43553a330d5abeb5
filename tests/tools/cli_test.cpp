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
        {"mpg1_", 1}, {"vcd_", 3}, {"svcd_", 4}, {"dvd_", 6}, {"ps_mpeg2video", 2}, {"ps_mpeg4video", 5},
        {"ts_", 8},   {"ts204_", 8}, {"m2ts_", 8}, {"mp4", 9}, {"mov_", 9},   {"3gp_", 9},
        // Matroska and elementary streams are not recognised yet.
        {"mkv_", 0},  {"webm_", 0},  {"es_", 0},
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
    // The MP4 without moov still has its ftyp at byte 4.
    const std::map<std::string, uint32_t> special = {
        {"m2ts_avchd_stub.mts", 0},
        {"mpeg2ps_ac3_privstream1.ps", 0},
        {"mpeg2ps_dvdnav_640x426_mp2.ps", 6},  // private stream 2 navigation packets
        {"mp4_broken_no_moov.mp4", 9},
    };
    const std::pair<const char*, uint32_t> prefixes[] = {{"mpeg1ps_", 1}, {"ts_", 8},  {"mp4_", 9},
                                                         {"mov_", 9},     {"3gp_", 9}, {"mkv_", 0},
                                                         {"webm_", 0},    {"h264_", 0}, {"mpeg2es_", 0},
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

TEST(Tool, TextOutputIsAlignedWithKindNumberAndName)
{
    const auto data = md::test::TestDataDir();
    const std::string a = (data / "vcd_mpeg1video_352x288_4x3_25fps_mp2_44k_stereo.mpg").string();
    const std::string b = (data / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts").string();
    const RunResult r = RunTool({a, b});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    std::string l1, l2;
    std::getline(in, l1);
    std::getline(in, l2);
    EXPECT_EQ(l1.rfind(a, 0), 0u);
    EXPECT_NE(l1.find(" 3  vcd"), std::string::npos) << l1;
    EXPECT_NE(l2.find(" 8  mpeg2-transport"), std::string::npos) << l2;
    EXPECT_EQ(l1.find(" 3  vcd"), l2.find(" 8  mpeg2"));  // the kind column lines up
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

    ASSERT_EQ(RunTool({"unregister"}, env).status, 0);
    ASSERT_EQ(RunTool({"unregister"}, env).status, 0);
    bytes = md::test::ReadFileBytes(registry);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("5A486531"), std::string::npos);
}

TEST(Tool, HelpExplainsEveryOptionWithExamples)
{
    const RunResult r = RunTool({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"--json", "--hint", "--module", "register", "unregister", "Example"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_EQ(RunTool({}).status, 2);  // no file: usage and failure
}

}  // namespace
