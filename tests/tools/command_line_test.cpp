// The tool's command line: where words and options may stand, the forms of a
// value, and what is refused.
#include "tools/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using md::tool::Command;
using md::tool::CommandLine;

struct Parsed {
    bool ok = false;
    CommandLine cl;
    std::string error;
};

Parsed Parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "mediadetect");
    Parsed p;
    p.ok = md::tool::ParseCommandLine(static_cast<int>(args.size()), args.data(), p.cl, p.error);
    return p;
}

using Words = std::vector<std::string>;

}  // namespace

TEST(CommandLine, OptionsStandAnywhereAndWordsKeepTheirOrder)
{
    const Parsed p = Parse({"a.mpg", "--json", "--hint=directv", "b.ts", "--reopen", "-4096", "--module", "m.so",
                            "--strict", "--time-table", "s3://b/k.ts", "--stats", "--", "--json", "-"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.cl.command, Command::kExamine);
    // After --, options are files; URLs are words like file names.
    EXPECT_EQ(p.cl.words, (Words{"a.mpg", "b.ts", "s3://b/k.ts", "--json", "-"}));
    EXPECT_TRUE(p.cl.json && p.cl.strict && p.cl.timeTable && p.cl.stats && !p.cl.help);
    EXPECT_FALSE(Parse({"a.mpg"}).cl.stats);
    EXPECT_FALSE(Parse({"--stats=1", "a.mpg"}).ok);
    EXPECT_EQ(p.cl.hint, "directv");
    EXPECT_EQ(p.cl.reopen, -4096);
    EXPECT_EQ(p.cl.module, "m.so");
    EXPECT_FALSE(p.cl.thumbnail);

    // A command is only the first word; later the same word is a file.
    EXPECT_EQ(Parse({"a.mpg", "scan"}).cl.words, (Words{"a.mpg", "scan"}));
    EXPECT_EQ(Parse({"--", "scan"}).cl.command, Command::kExamine);
    const Parsed seek = Parse({"--json", "seek", "f.vob", "-0.5"});  // a negative number is a word
    ASSERT_TRUE(seek.ok) << seek.error;
    EXPECT_EQ(seek.cl.command, Command::kSeek);
    EXPECT_EQ(seek.cl.words, (Words{"f.vob", "-0.5"}));
    EXPECT_TRUE(seek.cl.json);
    EXPECT_EQ(Parse({"register"}).cl.command, Command::kRegister);
    EXPECT_EQ(Parse({"unregister", "--module", "m.so"}).cl.command, Command::kUnregister);
}

TEST(CommandLine, ScanTakesItsOwnOptionsAndTheToolsOnes)
{
    const Parsed p = Parse({"--strict", "scan", "-r", "dir", "-j3", "-", "--json", "--hint", "directv"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.cl.command, Command::kScan);
    EXPECT_EQ(p.cl.words, (Words{"dir", "-"}));
    EXPECT_TRUE(p.cl.recursive && p.cl.json && p.cl.strict && !p.cl.stats);
    EXPECT_TRUE(Parse({"scan", "--stats", "-r", "s3://bucket/prefix/"}).cl.stats);
    EXPECT_EQ(std::tuple(p.cl.jobs, p.cl.hint), std::tuple(3u, std::string("directv")));
    EXPECT_EQ(Parse({"scan", "--jobs", "1", "d"}).cl.jobs, 1u);
    EXPECT_EQ(Parse({"scan", "--jobs=1024", "--recursive", "d"}).cl.jobs, 1024u);
    for (const char* jobs : {"0", "1025", "", "3x"})
        EXPECT_FALSE(Parse({"scan", "--jobs", jobs, "d"}).ok) << jobs;
    // Before the word scan they are refused, with where they belong.
    EXPECT_FALSE(Parse({"-r", "scan", "d"}).ok);
    const Parsed early = Parse({"--jobs", "2", "scan", "d"});
    EXPECT_TRUE(!early.ok && early.error.find("option of scan") != std::string::npos) << early.error;
}

TEST(CommandLine, RefusesWhatItCannotRead)
{
    const std::vector<std::vector<const char*>> refused = {
        {"--bogus", "a.mpg"},          // unknown option
        {"a.mpg", "--hint"},           // value missing at the end
        {"--json=1", "a.mpg"},         // a flag takes no value
        {"-hx"},                       // nor a short one
        {"--reopen", "12k", "a.mpg"},  // not a number
        {},                            // no file
        {"scan"},                      // no path
        {"seek", "f.vob"},             // no time
        {"seek", "f.vob", "1", "2"},   // one too many
        {"register", "x"},             // no word at all
        {"--thumbnail", "t.jpg"},      // a thumbnail needs exactly one file
        {"--thumbnail", "t.jpg", "a.mp4", "b.mp4"},
        {"scan", "--thumbnail", "t.jpg", "a.mp4"},
    };
    for (const auto& args : refused) {
        const Parsed p = Parse(args);
        EXPECT_FALSE(p.ok) << (args.empty() ? "(none)" : args[0]) << " " << args.size();
        EXPECT_FALSE(p.error.empty());
    }
    EXPECT_NE(Parse({"--thumbnail", "t.jpg", "a.mp4", "b.mp4"}).error.find("2 given"), std::string::npos);
    EXPECT_NE(Parse({"--bogus"}).error.find("--bogus"), std::string::npos);

    // Help needs no words, and each command has its own.
    const Parsed help = Parse({"scan", "--help"});
    EXPECT_TRUE(help.ok && help.cl.help && help.cl.command == Command::kScan);
    EXPECT_TRUE(Parse({"-h"}).ok);
    EXPECT_NE(std::string(md::tool::HelpText(Command::kScan)), md::tool::HelpText(Command::kExamine));
    EXPECT_NE(std::string(md::tool::HelpText(Command::kSeek)).find("SECONDS"), std::string::npos);
    // The help (and the man page made from it) names the remote forms and what they read.
    const std::string tool = md::tool::HelpText(Command::kExamine), scan = md::tool::HelpText(Command::kScan);
    for (const char* part : {"https://", "s3://", "--stats", "MEDIADETECT_CA_BUNDLE", "AWS_ENDPOINT_URL", "AWS_REGION"})
        EXPECT_NE(tool.find(part), std::string::npos) << part;
    EXPECT_NE(scan.find("s3://BUCKET/PREFIX/"), std::string::npos);
}
