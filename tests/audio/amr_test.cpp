// AMR and AMR-WB storage files (RFC 4867 section 5) built frame by frame; AMR 12.2 and AMR-WB files are in the
// conformance table.
#include "audio/amr.h"

#include <gtest/gtest.h>

#include <string>

#include "support/audio_files.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;

ByteVec Magic(const std::string& text) { return ByteVec(text.begin(), text.end()); }

// n stored frames: the table-of-contents byte (FT in bits 6..3, Q set), then `speechBytes` bytes, the bits of the
// mode (3GPP TS 26.101 / 26.201) rounded up to whole bytes.
ByteVec Frames(uint32_t ft, size_t speechBytes, int n = 1)
{
    ByteVec f(1 + speechBytes, 0x55);
    f[0] = uint8_t(ft << 3 | 0x04);
    return mdtest::Repeat(f, n);
}

TEST(AmrFile, FramesBlocksAndDurations)
{
    const ByteVec nb = Magic("#!AMR\n"), wb = Magic("#!AMR-WB\n");
    const ByteVec nb122 = Frames(7, 31, 10);  // 12.2 kbit/s: 244 bits
    const mdtest::FileRow rows[] = {
        // Every mode, SID, and NO_DATA (a ToC byte of 20 ms): 168 bytes in 10 frames, 840 bytes a second.
        {"AMR, every frame type", Concat({nb, Frames(0, 12), Frames(1, 13), Frames(2, 15), Frames(3, 17),
                                          Frames(4, 19), Frames(5, 20), Frames(6, 26), Frames(7, 31), Frames(8, 5),
                                          Frames(15, 0)}),
         "amrnb 1ch 8000Hz 840B/s t=2000000"},
        // Every mode, SID, SPEECH_LOST and NO_DATA: 379 bytes in 12 frames.
        {"AMR-WB, every frame type", Concat({wb, Frames(0, 17), Frames(1, 23), Frames(2, 32), Frames(3, 36),
                                             Frames(4, 40), Frames(5, 46), Frames(6, 50), Frames(7, 58),
                                             Frames(8, 60), Frames(9, 5), Frames(14, 0), Frames(15, 0)}),
         "amrwb 1ch 16000Hz 1579B/s t=2400000"},
        // Three blocks in 96 bytes, then a reserved type: the 128 bytes after the magic make four.
        {"a reserved type ends the count: the rest estimated", Concat({nb, Frames(7, 31, 3), Frames(12, 31)}),
         "amrnb 1ch 8000Hz 1600B/s t~800000"},
        {"AMR frame type 9 first: no duration", Concat({nb, Frames(9, 0), nb122}), "amrnb 1ch 8000Hz t=?"},
        {"AMR-WB frame type 10 is reserved", Concat({wb, Frames(10, 5, 4)}), "amrwb 1ch 16000Hz t=?"},
        {"a last frame cut short: the whole frames", Concat({nb, Frames(7, 31, 4), Frames(7, 10)}),
         "amrnb 1ch 8000Hz 1600B/s t=800000"},
        {"the magic alone: no frames", nb, "amrnb 1ch 8000Hz t=0"},
        {"multichannel AMR: two frames a block", Concat({Magic("#!AMR_MC1.0\n"), ByteVec{0, 0, 0, 2}, nb122}),
         "amrnb 2ch 8000Hz 3200B/s t=1000000"},
        {"multichannel AMR-WB, half a block at the end",
         Concat({Magic("#!AMR-WB_MC1.0\n"), ByteVec{0xFF, 0xFF, 0xFF, 0xF3}, Frames(2, 32, 7)}),
         "amrwb 3ch 16000Hz 4950B/s t=400000"},
        {"multichannel with no channels: no duration", Concat({Magic("#!AMR_MC1.0\n"), ByteVec{0, 0, 0, 0}, nb122}),
         "amrnb 0ch 8000Hz t=?"},
        {"#!AMR-W is no magic", Concat({Magic("#!AMR-W\n"), nb122}), "not taken"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mdtest::Opened<md::AmrDemux>(row.file), row.expected) << row.what;
}

}  // namespace
