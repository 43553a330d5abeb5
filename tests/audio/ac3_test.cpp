// AC-3 and E-AC-3 files built frame by frame; plain files of both rates are in the conformance table.
#include "audio/ac3.h"

#include <gtest/gtest.h>

#include "support/audio_files.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;
using mdtest::Repeat;

using mdtest::Eac3FrameStart;

ByteVec Swapped(ByteVec b)
{
    for (size_t i = 0; i + 1 < b.size(); i += 2)
        std::swap(b[i], b[i + 1]);
    return b;
}

TEST(Ac3File, FrameRunsRecordsAndDurations)
{
    // 384 kbit/s at 48 kHz: frmsizecod 28, 768 words (A/52 Table 5.18); 3/2 + LFE. 1536 samples: 320000 x 100 ns.
    const ByteVec frame = mdtest::Ac3FrameStart(0, 28, 8, 7, true, 1536);
    const char* kFive = "ac3 6ch 48000Hz align 1536 48000B/s w0 7 t=1600000";
    ByteVec tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 100};
    tagged.resize(110 + 64);  // the tag, then zero bytes before the first frame
    // A dependent substream with Lrs/Rrs (chanmap location 6) after 3/2 + LFE: 7.1.
    const ByteVec dependent = Eac3FrameStart(1, 0, 2, false, 256, false, true, 0x0200);
    const mdtest::FileRow rows[] = {
        {"byte-swapped words", Swapped(Repeat(frame, 5)), kFive},
        {"after ID3v2 tags and zero bytes", Concat({tagged, Repeat(frame, 5)}), kFive},
        // The bit rate of the program's frames, dependent ones included: 768 bytes a 1536-sample frame.
        {"E-AC-3 7.1 from a dependent chanmap", Repeat(Concat({Eac3FrameStart(0, 0, 7, true, 512), dependent}), 5),
         "eac3 8ch 48000Hz mask 63F align 512 24000B/s w0 7 t=1600000"},
        {"E-AC-3, two programs: substream 0 times",
         Repeat(Concat({Eac3FrameStart(0, 0, 2, false, 384), Eac3FrameStart(0, 1, 1, false, 128)}), 4),
         "eac3 2ch 48000Hz align 384 16000B/s w0 2 t=1280000"},
        {"an AC-3 core and an E-AC-3 dependent substream", Repeat(Concat({frame, dependent}), 3),
         "eac3 8ch 48000Hz mask 63F align 1536 56000B/s w0 7 t=960000"},
        {"a last frame cut short: the whole frames", mdtest::Cut(Repeat(frame, 3), 2 * 1536 + 700),
         "ac3 6ch 48000Hz align 1536 48000B/s w0 7 t=640000"},
        {"one frame and the next header", mdtest::Cut(Repeat(frame, 2), 1536 + 20),
         "ac3 6ch 48000Hz align 1536 48000B/s w0 7 t=320000"},
        {"one frame alone is too little", frame, "not taken"},
        {"a header repeated at the wrong spacing", Repeat(mdtest::Cut(frame, 1000), 6), "not taken"},
        {"fscod 3 is reserved", Repeat(mdtest::Ac3FrameStart(3, 28, 8, 7, true, 1536), 5), "not taken"},
        // 400 frames (600 KiB): 341 whole ones in the first 512 KiB, the rest at their mean size.
        {"extrapolated past the sample", Repeat(mdtest::Ac3FrameStart(0, 28, 8, 2, false, 1536), 400),
         "ac3 2ch 48000Hz align 1536 48000B/s w0 2 t~128000000"},
    };
    for (const auto& row : rows) {
        uint64_t bytesRead = 0;
        EXPECT_EQ(mdtest::Opened<md::Ac3Demux>(row.file, &bytesRead), row.expected) << row.what;
        EXPECT_LE(bytesRead, 512u * 1024 + 10) << row.what;  // the sample and a look for an ID3v2 header
    }
    // The probe: a run cut short by the end of the bytes makes a file only where the bytes end with the file.
    const ByteVec cut = mdtest::Cut(Repeat(frame, 2), 1536 + 20);
    EXPECT_EQ(std::pair(md::ProbeAc3({.head = cut, .fileSize = cut.size()}),
                        md::ProbeAc3({.head = cut, .fileSize = cut.size() + 1000})),
              std::pair(true, false));
}

}  // namespace
