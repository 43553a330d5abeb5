// The Matroska test of the container probe: corpus files by kind, and EBML
// headers built to sit on each side of its rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/memory_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "mkv/probe_matroska.h"
#include "support/files.h"
#include "support/mkv_builders.h"

namespace {

namespace fs = std::filesystem;
using mdtest::EbmlBuilder;
namespace id = mdtest::mkvid;

int32_t Probe(std::vector<uint8_t> bytes)
{
    md::MemoryInputStream input(std::move(bytes));
    return md::ProbeMatroskaStream(input);
}

// Matroska files are 15; WebM files (DocType "webm") and every other container
// are 0. mkv_invalid_unknown_sized_nonmaster.mkv gives its DocType an unknown
// size, which no string element may have: 0, and neither ffprobe nor MediaInfo
// reads the file.
TEST(ProbeMatroska, CorpusFiles)
{
    int matroska = 0;
    for (const fs::path& dir : {md::test::TestDataDir(), md::test::RealWorldDir()}) {
        for (const fs::path& file : md::test::MediaFiles(dir)) {
            SCOPED_TRACE(file.filename().string());
            const bool isMatroska =
                file.extension() == ".mkv" && file.filename() != "mkv_invalid_unknown_sized_nonmaster.mkv";
            MSFileInputStream input(file.wstring().c_str());
            EXPECT_EQ(md::ProbeMatroskaStream(input), isMatroska ? 15 : 0);
            matroska += isMatroska;
        }
    }
    EXPECT_GE(matroska, 2);
}

TEST(ProbeMatroska, EbmlHeaderRules)
{
    const auto header = [](std::vector<std::string> docTypes) {
        EbmlBuilder b;
        b.Begin(id::kEbml).UInt(0x4286, 1).UInt(0x42F7, 1);  // EBMLVersion, EBMLReadVersion
        for (const std::string& d : docTypes)
            b.String(id::kDocType, d);
        b.End();
        std::vector<uint8_t> bytes = b.Take();
        bytes.resize(bytes.size() + 64);  // what follows the header does not matter
        return bytes;
    };
    EXPECT_EQ(Probe(header({"matroska"})), 15);
    EXPECT_EQ(Probe(header({"webm", "matroska"})), 15);  // the first equal DocType counts
    EXPECT_EQ(Probe(header({"webm"})), 0);
    EXPECT_EQ(Probe(header({std::string("matroska\0", 9)})), 0);  // exactly 8 bytes
    EXPECT_EQ(Probe(header({"matroskaX"})), 0);
    EXPECT_EQ(Probe(header({})), 0);
    EXPECT_EQ(Probe({}), 0);

    // A header cut short still counts when its DocType made it into the file.
    std::vector<uint8_t> cut = header({"matroska", "webm"});
    cut.resize(cut.size() - 64 - 6);
    EXPECT_EQ(Probe(cut), 15);
    cut.resize(cut.size() - 6);
    EXPECT_EQ(Probe(cut), 0);

    // Anything but the EBML header at offset 0: another element first, or a first
    // byte of 0x10 or below.
    std::vector<uint8_t> voidFirst = EbmlBuilder().Binary(id::kVoid, std::vector<uint8_t>(4)).Take();
    const std::vector<uint8_t> good = header({"matroska"});
    voidFirst.insert(voidFirst.end(), good.begin(), good.end());
    EXPECT_EQ(Probe(voidFirst), 0);
    std::vector<uint8_t> low = good;
    low.insert(low.begin(), 0x10);
    EXPECT_EQ(Probe(low), 0);

    // A header of unknown size (every size bit set) is refused.
    std::vector<uint8_t> unknown = {0x1A, 0x45, 0xDF, 0xA3, 0xFF};
    const std::vector<uint8_t> docType = EbmlBuilder().String(id::kDocType, "matroska").Take();
    unknown.insert(unknown.end(), docType.begin(), docType.end());
    EXPECT_EQ(Probe(unknown), 0);
}

}  // namespace
