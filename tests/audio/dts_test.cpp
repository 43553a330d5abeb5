// DTS files built frame by frame; a 16-bit big-endian 5.1 file is in the conformance table.
#include "audio/dts.h"

#include <gtest/gtest.h>

#include "support/audio_files.h"

namespace {

using mdtest::ByteVec;
using mdtest::Repeat;

// 16-bit little-endian words (each word's bytes swapped), or 14-bit big-endian ones: 14 bits a word with bit 13
// copied into the top two (the last word filled with zero bits).
ByteVec Le16(const ByteVec& be16)
{
    ByteVec out = be16;
    for (size_t i = 0; i + 1 < out.size(); i += 2)
        std::swap(out[i], out[i + 1]);
    return out;
}

ByteVec Be14(const ByteVec& be16)
{
    ByteVec out;
    for (size_t bit = 0; bit < be16.size() * 8; bit += 14) {
        uint32_t v = 0;
        for (size_t k = bit; k < bit + 14; ++k)
            v = v << 1 | (k < be16.size() * 8 ? be16[k / 8] >> (7 - k % 8) & 1 : 0);
        out.push_back(uint8_t((v | (v & 0x2000 ? 0xC000 : 0)) >> 8)), out.push_back(uint8_t(v));
    }
    return out;
}

TEST(DtsFile, WordFormsSubstreamsAndBadInput)
{
    // 3/2 (AMODE 9) + LFE at 48 kHz (SFREQ 13), 512 samples in 1024 bytes: 96000 bytes a second; five frames are
    // 533333 x 100 ns. A DTS-HD substream of 1000 bytes after each core makes a file DTS-HD.
    const ByteVec core = mdtest::Cut(mdtest::DtsCoreStart(15, 1023, 9, 13, 1), 1024);
    const ByteVec cut = mdtest::Cut(Repeat(core, 3), 2500);
    const ByteVec hd = mdtest::Concat({core, mdtest::Cut(mdtest::DtsHdSubstreamStart(false, 16, 1000), 1000)});
    const mdtest::FileRow rows[] = {
        {"zero bytes before the first frame", mdtest::Concat({ByteVec(300), Repeat(core, 5)}),
         "dts 6ch 48000Hz mask 3F align 1024 96000B/s t=533333"},
        // The little-endian forms are flagged as the reversed sync (0x100).
        {"16-bit little-endian", Repeat(Le16(core), 5), "dts 6ch 48000Hz mask 3F align 1024 96000B/s w0 256 t=533333"},
        // 1024 bytes of 14-bit words take 586 words: 1172 bytes a frame.
        {"14-bit big-endian", Repeat(Be14(core), 5), "dts 6ch 48000Hz mask 3F align 1172 109875B/s t=533333"},
        {"a core with DTS-HD substreams: named DTS-HD", Repeat(hd, 5),
         "dtshd 6ch 48000Hz mask 3F align 2024 189750B/s t=533333"},
        // 600 frames after 300 zero bytes: 511 whole ones in the first 512 KiB, the rest of the 614400 bytes at their
        // mean size.
        {"extrapolated past the sample", mdtest::Concat({ByteVec(300), Repeat(core, 600)}),
         "dts 6ch 48000Hz mask 3F align 1024 96000B/s t~63999999"},
        {"a last frame cut short: the whole frames", cut,
         "dts 6ch 48000Hz mask 3F align 1024 96000B/s t=213333"},
        {"one frame alone is too little", core, "not taken"},
        {"an ID3v2 tag and nothing after it", mdtest::Concat({ByteVec{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10}, ByteVec(10)}),
         "not taken"},
        {"a header repeated at the wrong spacing", Repeat(mdtest::Cut(core, 700), 8), "not taken"},
        {"the word form changing inside the run", mdtest::Concat({Repeat(core, 2), Repeat(Le16(core), 3)}),
         "not taken"},
    };
    for (const auto& row : rows) {
        uint64_t bytesRead = 0;
        EXPECT_EQ(mdtest::Opened<md::DtsDemux>(row.file, &bytesRead), row.expected) << row.what;
        EXPECT_LE(bytesRead, 512u * 1024 + 10) << row.what;  // the sample and a look for an ID3v2 header
        EXPECT_EQ(md::ProbeDts({.head = row.file, .fileSize = row.file.size()}),
                  std::string(row.expected) != "not taken")
            << row.what;
    }
    // Two whole frames make a file only where the bytes end with it.
    EXPECT_FALSE(md::ProbeDts({.head = cut, .fileSize = cut.size() + 1000}));
}

}  // namespace
