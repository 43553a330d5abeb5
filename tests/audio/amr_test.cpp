// AMR and AMR-WB storage files (RFC 4867 section 5) built frame by frame: the magics, the frame sizes by frame type,
// NO_DATA and reserved frame types, multichannel frame-blocks, and the duration counted or estimated.
#include "audio/amr.h"

#include <gtest/gtest.h>

#include <string>

#include "input/memory_input_stream.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;

ByteVec Magic(const std::string& text) { return ByteVec(text.begin(), text.end()); }

// A stored frame: the table-of-contents byte (FT in bits 6..3, Q set), then `speechBytes` bytes.
ByteVec Frame(uint32_t ft, size_t speechBytes)
{
    ByteVec f(1 + speechBytes, 0x55);
    f[0] = uint8_t(ft << 3 | 0x04);
    return f;
}

// n frames; the speech bytes of a mode are its bits (3GPP TS 26.101 / 26.201) rounded up to whole bytes.
ByteVec Frames(uint32_t ft, size_t speechBytes, int n)
{
    ByteVec out;
    for (int i = 0; i < n; ++i)
        Append(out, Frame(ft, speechBytes));
    return out;
}

struct Result {
    bool probed = false;
    uint32_t parsed = 0, codec = 0, channels = 0, rate = 0;
    int64_t duration = -1;
    bool estimated = false;
    auto Tie() const { return std::tuple(probed, parsed, codec, channels, rate, duration, estimated); }
};

Result Open(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    Result r;
    r.probed = md::ProbeAmr({.head = md::Bytes(file), .headOffset = 0, .fileSize = file.size(), .stream = &in});
    md::AmrDemux demux;
    md::StreamList streams;
    r.parsed = demux.Parse(&in, &streams);
    if (const md::StreamRecord* s = streams.At(0))
        r.codec = uint32_t(s->codec), r.channels = s->audio.channels, r.rate = s->audio.sampleRate;
    r.duration = demux.Times().range.audioEndTime, r.estimated = demux.Times().estimated;
    return r;
}

constexpr uint32_t kNb = uint32_t(md::StreamCodec::AmrNb), kWb = uint32_t(md::StreamCodec::AmrWb);
constexpr int64_t kBlock = 200000;  // 20 ms

TEST(AmrFile, FramesBlocksAndDurations)
{
    const ByteVec nb = Magic("#!AMR\n"), wb = Magic("#!AMR-WB\n");
    const ByteVec nb122 = Frames(7, 31, 10);  // 12.2 kbit/s: 244 bits
    // A reserved frame type after three frames: the count stops there, and the 32 bytes from it on are taken at the
    // counted frames' rate, three blocks in 96 bytes: 128 bytes make four.
    ByteVec reserved = mdtest::Concat({nb, Frames(7, 31, 3), Frame(12, 0), ByteVec(31, 0x55)});
    struct Row {
        const char* what;
        ByteVec file;
        Result expected;
    } rows[] = {
        {"AMR 12.2 kbit/s", mdtest::Concat({nb, nb122}), {true, 1, kNb, 1, 8000, 10 * kBlock, false}},
        {"AMR, every mode and SID",
         mdtest::Concat({nb, Frames(0, 12, 1), Frames(1, 13, 1), Frames(2, 15, 1), Frames(3, 17, 1), Frames(4, 19, 1),
                         Frames(5, 20, 1), Frames(6, 26, 1), Frames(7, 31, 1), Frames(8, 5, 1)}),
         {true, 1, kNb, 1, 8000, 9 * kBlock, false}},
        {"AMR-WB, every mode and SID",
         mdtest::Concat({wb, Frames(0, 17, 1), Frames(1, 23, 1), Frames(2, 32, 1), Frames(3, 36, 1), Frames(4, 40, 1),
                         Frames(5, 46, 1), Frames(6, 50, 1), Frames(7, 58, 1), Frames(8, 60, 1), Frames(9, 5, 1)}),
         {true, 1, kWb, 1, 16000, 10 * kBlock, false}},
        {"NO_DATA frames are a ToC byte of 20 ms",
         mdtest::Concat({nb, Frames(7, 31, 2), Frames(15, 0, 3)}),
         {true, 1, kNb, 1, 8000, 5 * kBlock, false}},
        {"AMR-WB SPEECH_LOST and NO_DATA",
         mdtest::Concat({wb, Frames(14, 0, 2), Frames(15, 0, 2), Frames(8, 60, 1)}),
         {true, 1, kWb, 1, 16000, 5 * kBlock, false}},
        {"a reserved type ends the count: the rest estimated",
         reserved,
         {true, 1, kNb, 1, 8000, 3 * kBlock * (96 + 32) / 96, true}},
        {"a reserved type first: no duration",
         mdtest::Concat({nb, Frame(9, 0), nb122}),
         {true, 1, kNb, 1, 8000, -1, false}},
        {"AMR frame type 9 is reserved", mdtest::Concat({nb, Frames(9, 5, 4)}), {true, 1, kNb, 1, 8000, -1, false}},
        {"AMR-WB frame type 10 is reserved",
         mdtest::Concat({wb, Frames(10, 5, 4)}),
         {true, 1, kWb, 1, 16000, -1, false}},
        {"a last frame cut short: the whole frames",
         mdtest::Concat({nb, Frames(7, 31, 4), Frame(7, 10)}),
         {true, 1, kNb, 1, 8000, 4 * kBlock, false}},
        {"the magic alone: no frames", nb, {true, 1, kNb, 1, 8000, 0, false}},
        {"multichannel AMR: two frames a block",
         mdtest::Concat({Magic("#!AMR_MC1.0\n"), ByteVec{0, 0, 0, 2}, nb122}),
         {true, 1, kNb, 2, 8000, 5 * kBlock, false}},
        {"multichannel AMR-WB, half a block at the end",
         mdtest::Concat({Magic("#!AMR-WB_MC1.0\n"), ByteVec{0xFF, 0xFF, 0xFF, 0xF3}, Frames(2, 32, 7)}),
         {true, 1, kWb, 3, 16000, 2 * kBlock, false}},
        {"multichannel with no channels: no duration",
         mdtest::Concat({Magic("#!AMR_MC1.0\n"), ByteVec{0, 0, 0, 0}, nb122}),
         {true, 1, kNb, 0, 8000, -1, false}},
        {"no line feed: not AMR", mdtest::Concat({Magic("#!AMR "), nb122}), {}},
        {"#!AMR-W is no magic", mdtest::Concat({Magic("#!AMR-W\n"), nb122}), {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Open(row.file).Tie(), row.expected.Tie()) << row.what;
}

TEST(AmrFile, EstimatedPastTheSample)
{
    // 20000 frames of 32 bytes (640000 bytes): 16383 whole ones in the first 512 KiB after the magic's 6 bytes.
    const ByteVec file = mdtest::Concat({Magic("#!AMR\n"), Frames(7, 31, 20000)});
    const Result r = Open(file);
    EXPECT_EQ(std::tuple(r.duration, r.estimated), std::tuple(20000 * kBlock, true));
}

}  // namespace
