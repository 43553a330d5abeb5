// ADTS files built frame by frame (the conformance table has two files). A frame's bit rate is its bytes x 8 x rate
// / 1024 samples: 300 bytes at 44.1 kHz are 103359 bit/s (truncated).
#include "audio/adts.h"

#include <gtest/gtest.h>

#include "support/audio_files.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;
using mdtest::Repeat;

// A frame of bytes: the header (ID 0, layer 00, no CRC, profile_ObjectType, sampling_frequency_index,
// channel_configuration, aac_frame_length, buffer fullness 0x7FF, one raw data block), then 0x55 (no sync).
ByteVec Adts(uint32_t bytes, uint8_t sampling = 4, uint8_t profile = 1, uint8_t channels = 2)
{
    ByteVec f = {0xFF, 0xF1, uint8_t(profile << 6 | sampling << 2 | channels >> 2),
                 uint8_t((channels & 3) << 6 | bytes >> 11), uint8_t(bytes >> 3), uint8_t((bytes & 7) << 5 | 0x1F),
                 0xFC};
    f.resize(bytes, 0x55);
    return f;
}

TEST(Adts, FramesAndEstimatedDuration)
{
    const ByteVec f300 = Adts(300);
    const mdtest::FileRow rows[] = {
        // The 600-byte frames after the 50th are not in the mean; their bytes are in the file: 21000 x 8 / 103359 s.
        {"the mean of the first 50 frames", Concat({Repeat(f300, 50), Repeat(Adts(600), 10)}),
         "aac 2ch 44100Hz 12919B/s w0 2 t~16254027"},
        {"the last frame cut short", mdtest::Cut(Repeat(f300, 10), 2800), "aac 2ch 44100Hz 12919B/s w0 2 t~2167203"},
        // One frame of another stream, then a run found further in: its bytes (1500) over 112500 bit/s.
        {"a first frame of another rate is passed over", Concat({f300, Repeat(Adts(300, 3), 5)}),
         "aac 2ch 48000Hz 14062B/s w0 2 t~1066666"},
        // The channel configuration states the speakers of 5.1 (surrounds as back speakers); 3000 bytes x 8 / 103359.
        {"5.1", Repeat(Adts(300, 4, 1, 6), 10), "aac 6ch 44100Hz mask 3F 12919B/s w0 2 t~2322003"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mdtest::Opened<md::AdtsDemux>(row.file), row.expected) << row.what;
}

TEST(Adts, WhereTheProbeFindsFrames)
{
    const ByteVec f300 = Adts(300), junk(100, 0);
    const struct {
        const char* what;
        ByteVec bytes;
        bool atStart, found;
    } rows[] = {
        {"two frames at the start", Repeat(f300, 2), true, true},
        {"four further in: the start test never searches", Concat({junk, Repeat(f300, 4)}), false, true},
        {"three further in are too few", Concat({junk, Repeat(f300, 3)}), false, false},
        {"the channel configuration changes", Concat({f300, Adts(300, 4, 1, 1), f300}), false, false},
        {"the profile changes", Concat({f300, Adts(300, 4, 0), f300}), false, false},
    };
    for (const auto& row : rows) {
        const md::ProbeInput in{.head = row.bytes, .fileSize = row.bytes.size() + 1000};
        EXPECT_EQ(std::pair(md::ProbeAdtsStart(in), md::ProbeAdts(in)), std::pair(row.atStart, row.found)) << row.what;
    }
}

}  // namespace
