// ADTS files built frame by frame: the run of frames that makes one (with or without the CRC, after ID3v2 tags),
// the record of its first frame, and the duration estimated from the running mean bit rate of the first 50 frames.
// A frame's bit rate is its bytes x 8 x rate / 1024 samples: 300 bytes at 44.1 kHz are 103359 bit/s (truncated).
#include "audio/adts.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;

// A frame of bytes: the header (ID 0, layer 00, profile_ObjectType, sampling_frequency_index, channel_configuration,
// aac_frame_length, buffer fullness 0x7FF, one raw data block), the CRC when asked for, then 0x55 (no sync).
ByteVec Adts(uint32_t bytes, uint8_t sampling = 4, uint8_t profile = 1, uint8_t channels = 2, bool crc = false)
{
    ByteVec f = {0xFF, uint8_t(crc ? 0xF0 : 0xF1), uint8_t(profile << 6 | sampling << 2 | channels >> 2),
                 uint8_t((channels & 3) << 6 | bytes >> 11), uint8_t(bytes >> 3), uint8_t((bytes & 7) << 5 | 0x1F),
                 0xFC};
    f.resize(bytes, 0x55);
    return f;
}

ByteVec Frames(int count, const ByteVec& frame)
{
    ByteVec out;
    for (int i = 0; i < count; ++i)
        Append(out, frame);
    return out;
}

struct Parsed {
    uint32_t result = 0, records = 0, objectType = 0, rate = 0, channels = 0, byteRate = 0;
    int64_t duration = -1;
    bool estimated = false;
};

Parsed Parse(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    md::AdtsDemux demux;
    md::StreamList streams;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    p.records = streams.Count();
    if (const md::StreamRecord* r = streams.At(0)) {
        EXPECT_EQ(r->codec, md::StreamCodec::Aac);
        p.objectType = r->audio.codecSpecific[0], p.rate = r->audio.sampleRate, p.channels = r->audio.channels;
        p.byteRate = r->audio.bytesPerSecond;
    }
    p.duration = demux.Times().range.audioEndTime;
    p.estimated = demux.Times().estimated;
    return p;
}

TEST(Adts, FramesAndEstimatedDuration)
{
    const ByteVec f300 = Adts(300);
    ByteVec id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 40};
    id3.resize(50);
    ByteVec id3v1 = {'T', 'A', 'G'};
    id3v1.resize(128, 0);
    ByteVec fifty = Frames(50, f300);
    Append(fifty, Frames(10, Adts(600)));
    ByteVec cut = Frames(10, f300);
    cut.resize(2800);
    ByteVec rateChange = Adts(300);  // 44.1 kHz, then frames at 48 kHz (300 bytes: 112500 bit/s)
    Append(rateChange, Frames(5, Adts(300, 3)));
    struct Case {
        const char* what;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        // 3000 x 8 / 103359 s.
        {"LC 44.1 kHz stereo", Frames(10, f300), {1, 1, 2, 44100, 2, 103359 / 8, 2322003, true}},
        {"with the CRC", Frames(10, Adts(300, 4, 1, 2, true)), {1, 1, 2, 44100, 2, 103359 / 8, 2322003, true}},
        {"ID3v2 before and ID3v1 after are not audio", mdtest::Concat({id3, Frames(10, f300), id3v1}),
         {1, 1, 2, 44100, 2, 103359 / 8, 2322003, true}},
        // The 600-byte frames after the 50th are not in the mean; their bytes are in the file: 21000 x 8 / 103359.
        {"the mean of the first 50 frames", fifty, {1, 1, 2, 44100, 2, 103359 / 8, 16254027, true}},
        // 300, 200, 200 bytes: 103359, then 103359 + (68906 - 103359) / 2 = 86133, then 86133 - 17227 / 3 = 80391.
        {"a running mean, truncated", mdtest::Concat({f300, Adts(200), Adts(200)}),
         {1, 1, 2, 44100, 2, 80391 / 8, 696595, true}},
        {"Main profile, configuration 7 (7.1)", Frames(3, Adts(300, 4, 0, 7)),
         {1, 1, 1, 44100, 8, 103359 / 8, 696601, true}},
        {"the last frame cut short", cut, {1, 1, 2, 44100, 2, 103359 / 8, 2167203, true}},
        // One frame of another stream, then a run found further in: its bytes (1500) over 112500 bit/s.
        {"a first frame of another rate is passed over", rateChange, {1, 1, 2, 48000, 2, 112500 / 8, 1066666, true}},
        {"a single frame", mdtest::Concat({f300, ByteVec(1000, 0)}), {}},
        {"MPEG audio is not ADTS", Frames(10, ByteVec{0xFF, 0xFB, 0x94, 0x00}), {}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.objectType, p.rate, p.channels, p.byteRate, p.duration,
                             p.estimated),
                  std::tuple(e.result, e.records, e.objectType, e.rate, e.channels, e.byteRate, e.duration,
                             e.estimated))
            << c.what;
    }
}

TEST(Adts, WhereTheProbeFindsFrames)
{
    const ByteVec f300 = Adts(300);
    const auto probes = [](const ByteVec& b) {
        const md::ProbeInput in{.head = md::Bytes(b), .headOffset = 0, .fileSize = b.size() + 1000};
        return std::pair(md::ProbeAdtsStart(in), md::ProbeAdts(in));
    };
    EXPECT_EQ(probes(Frames(2, f300)), std::pair(true, true));
    const ByteVec junk(100, 0);
    EXPECT_EQ(probes(mdtest::Concat({junk, Frames(4, f300)})), std::pair(false, true));
    EXPECT_EQ(probes(mdtest::Concat({junk, Frames(3, f300)})), std::pair(false, false));
    // The channel configuration or the profile changing breaks a run.
    EXPECT_EQ(probes(mdtest::Concat({f300, Adts(300, 4, 1, 1), f300})), std::pair(false, false));
    EXPECT_EQ(probes(mdtest::Concat({f300, Adts(300, 4, 0), f300})), std::pair(false, false));
    EXPECT_EQ(probes(mdtest::RandomBytes(200000, 11)), std::pair(false, false));
}

}  // namespace
