// The Matroska test of the container probe: EBML headers built to sit on each
// side of its rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/memory_input_stream.h"
#include "mkv/probe_matroska.h"
#include "support/mkv_builders.h"

namespace {

using mdtest::EbmlBuilder;
namespace id = mdtest::mkvid;

int32_t Probe(std::vector<uint8_t> bytes)
{
    md::MemoryInputStream input(std::move(bytes));
    return md::ProbeMatroskaStream(input);
}

// EBML headers on each side of the rules: Matroska (15) only for an EBML header
// at offset 0 of known size whose first DocType element is exactly "matroska".
TEST(ProbeMatroska, EbmlHeaderRules)
{
    const auto header = [](std::vector<std::string> docTypes, size_t cut = 0) {
        EbmlBuilder b;
        b.Begin(id::kEbml).UInt(0x4286, 1).UInt(0x42F7, 1);  // EBMLVersion, EBMLReadVersion
        for (const std::string& d : docTypes)
            b.String(id::kDocType, d);
        std::vector<uint8_t> bytes = b.End().Take();
        bytes.resize(bytes.size() - cut + (cut ? 0 : 64));  // what follows the header does not matter
        return bytes;
    };
    const auto before = [](std::vector<uint8_t> first, const std::vector<uint8_t>& rest) {
        first.insert(first.end(), rest.begin(), rest.end());
        return first;
    };
    const std::vector<uint8_t> docType = EbmlBuilder().String(id::kDocType, "matroska").Take();
    const std::pair<std::vector<uint8_t>, int32_t> rows[] = {
        {header({"matroska"}), 15},
        {header({"webm", "matroska"}), 15},  // the first equal DocType counts
        {header({"webm"}), 0},
        {header({std::string("matroska\0", 9)}), 0},  // exactly 8 bytes
        {header({"matroska", "webm"}, 6), 15},  // cut short after its DocType
        {header({"matroska", "webm"}, 12), 0},  // cut inside it
        {before({0x10}, header({"matroska"})), 0},  // a first byte of 0x10 or below
        {before({0x1A, 0x45, 0xDF, 0xA3, 0xFF}, docType), 0},  // unknown size (every size bit set)
    };
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(Probe(rows[i].first), rows[i].second) << "row " << i;
}

}  // namespace
