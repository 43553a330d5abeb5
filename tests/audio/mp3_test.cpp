// MPEG audio files built frame by frame: where the frames are found (after ID3v2 tags, never inside them or in a
// repeated header), what a Xing/Info or VBRI frame states and when it is not believed, the bit-rate estimate
// without one, and the tags at the end that are not audio. Frame lengths from ISO/IEC 11172-3 2.4.3.1: a Layer III
// frame at 48 kHz is 144 x rate / 48000 = 3 x kbit/s bytes.
#include "audio/mp3.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "input/memory_input_stream.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;

// A frame: its four header bytes, then 0x55 (no sync) to its length.
ByteVec Frame(uint8_t b1, uint8_t b2, uint8_t b3, size_t bytes)
{
    ByteVec f = {0xFF, b1, b2, b3};
    f.resize(bytes, 0x55);
    return f;
}

// MPEG-1 Layer III at 48 kHz, bitrate_index i (1: 32, 5: 64, 9: 128, 14: 320 kbit/s), stereo or mono.
ByteVec L3At48k(int index, int kbps, bool mono = false)
{
    return Frame(0xFB, uint8_t(index << 4 | 0x04), mono ? 0xC0 : 0x00, size_t(3 * kbps));
}

ByteVec Frames(int count, const ByteVec& frame)
{
    ByteVec out;
    for (int i = 0; i < count; ++i)
        Append(out, frame);
    return out;
}

void PutBe32(ByteVec& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (24 - 8 * i));
}

// A 128 kbit/s stereo frame with a Xing or Info header after its 32 bytes of side information: flags 1 (frames)
// and 2 (bytes) as given.
ByteVec XingFrame(const char* id, std::optional<uint32_t> frames, std::optional<uint32_t> bytes, int kbps = 128,
                  int index = 9)
{
    ByteVec f = L3At48k(index, kbps);
    std::memcpy(&f[36], id, 4);
    PutBe32(f, 40, (frames ? 1 : 0) | (bytes ? 2 : 0));
    size_t at = 44;
    if (frames)
        PutBe32(f, at, *frames), at += 4;
    if (bytes)
        PutBe32(f, at, *bytes);
    return f;
}

// A 128 kbit/s frame with a VBRI header 32 bytes after the frame header: version 1, delay, quality, bytes, frames.
ByteVec VbriFrame(uint32_t bytes, uint32_t frames)
{
    ByteVec f = L3At48k(9, 128);
    std::memcpy(&f[36], "VBRI", 4);
    f[41] = 1;
    PutBe32(f, 46, bytes), PutBe32(f, 50, frames);
    return f;
}

// An ID3v2 tag with a body of size bytes (syncsafe size; flags 0x10 on v2.4 adds a 10-byte footer).
ByteVec Id3v2(uint8_t version, uint32_t size, uint8_t flags = 0, const ByteVec& body = {})
{
    ByteVec t = {'I', 'D', '3', version, 0, flags, uint8_t(size >> 21 & 0x7F), uint8_t(size >> 14 & 0x7F),
                 uint8_t(size >> 7 & 0x7F), uint8_t(size & 0x7F)};
    Append(t, body);
    t.resize(10 + size + (version == 4 && (flags & 0x10) ? 10 : 0), 0);
    return t;
}

// The tags that may follow the audio: APEv2 (with its header), Lyrics3 v2, ID3v1.
ByteVec EndTags()
{
    ByteVec ape;
    for (const bool footer : {false, true}) {
        ByteVec h = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07, 0, 0, 52, 0, 0, 0, 1, 0, 0, 0};
        Append(h, ByteVec{0, 0, 0, uint8_t(footer ? 0x80 : 0xA0), 0, 0, 0, 0, 0, 0, 0, 0});
        Append(ape, h);
        if (!footer)
            Append(ape, ByteVec(20, 'a'));  // one item
    }
    const std::string lyrics = "LYRICSBEGININD0000210000021LYRICS200";  // 21 bytes, then the size and the mark
    ByteVec id3v1 = {'T', 'A', 'G'};
    id3v1.resize(128, ' ');
    return mdtest::Concat({ape, ByteVec(lyrics.begin(), lyrics.end()), id3v1});
}

struct Parsed {
    uint32_t result = 0, records = 0, codec = 0, rate = 0, channels = 0, layer = 0, bitRate = 0;
    int64_t duration = -1;
    bool estimated = false;
};

Parsed Parse(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    md::Mp3Demux demux;
    md::StreamList streams;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    p.records = streams.Count();
    if (const md::StreamRecord* r = streams.At(0)) {
        p.codec = uint32_t(r->codec), p.rate = r->audio.sampleRate, p.channels = r->audio.channels;
        p.layer = r->audio.codecSpecific[0], p.bitRate = r->audio.codecSpecific[2];
    }
    p.duration = demux.Times().range.audioEndTime;
    p.estimated = demux.Times().estimated;
    return p;
}

constexpr uint32_t kMpeg1 = uint32_t(md::StreamCodec::Mpeg1Audio), kMpeg2 = uint32_t(md::StreamCodec::Mpeg2Audio);

TEST(Mp3, FramesTagsAndDuration)
{
    const ByteVec f128 = L3At48k(9, 128), f64 = L3At48k(5, 64), f320 = L3At48k(14, 320);
    const ByteVec cbr = Frames(10, f128);  // 3840 bytes: 0.24 s at 128 kbit/s
    ByteVec fifty = Frames(50, f128);      // 19200 bytes; the 1 KiB block of the 50th frame ends at 19456
    Append(fifty, Frames(3, f320));
    ByteVec pastEnd = Id3v2(3, 100000);
    pastEnd.resize(10);  // the header alone: the tag claims more than the file holds
    Append(pastEnd, cbr);
    ByteVec cut = cbr;
    cut.resize(9 * 384 + 100);
    // Four Layer II frames at 32 kHz (144 x 64000 / 32000 = 288 bytes) inside a tag's picture.
    const ByteVec inTag = Frames(4, Frame(0xFD, 0x48, 0x00, 288));
    struct Case {
        const char* what;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"no header: the bytes over the bit rate", cbr, {1, 1, kMpeg1, 48000, 2, 2, 128000, 2400000, true}},
        {"two ID3v2 tags first are not audio", mdtest::Concat({Id3v2(4, 300, 0x10), Id3v2(3, 50), cbr}),
         {1, 1, kMpeg1, 48000, 2, 2, 128000, 2400000, true}},
        {"APEv2, Lyrics3 v2 and ID3v1 at the end are not audio", mdtest::Concat({cbr, EndTags()}),
         {1, 1, kMpeg1, 48000, 2, 2, 128000, 2400000, true}},
        // 128, 64, 64: 128000, then 96000, then 96000 + (64000 - 96000) / 3 truncated = 85334; 768 x 8 / 85334 s.
        {"a running mean, truncated", mdtest::Concat({f128, f64, f64}),
         {1, 1, kMpeg1, 48000, 2, 2, 85334, 719994, true}},
        // The 51st frame (320 kbit/s) starts in the block of the 50th: 128000 + 192000 / 51 = 131764.
        {"50 frames and the rest of their block", fifty, {1, 1, kMpeg1, 48000, 2, 2, 131764, 13405786, true}},
        // 100 x 1152 / 48000 = 2.4 s, though only five frames follow (a file cut short); 40000 x 8 / 2.4 s.
        {"Xing frames and bytes", mdtest::Concat({XingFrame("Xing", 100, 40000), Frames(5, f128)}),
         {1, 1, kMpeg1, 48000, 2, 2, 133333, 24000000, false}},
        // Frames 0 or too many for the file: the estimate, from the frames after the Xing frame (6 x 384 bytes).
        {"Xing frame count 0", mdtest::Concat({XingFrame("Xing", 0, {}), Frames(5, f128)}),
         {1, 1, kMpeg1, 48000, 2, 2, 128000, 1440000, true}},
        {"Xing frame count 2^32 - 1", mdtest::Concat({XingFrame("Xing", 0xFFFFFFFF, {}), Frames(5, f128)}),
         {1, 1, kMpeg1, 48000, 2, 2, 128000, 1440000, true}},
        // An implausible byte count is left out: 20 frames (0.48 s) against the file's 2304 bytes.
        {"Xing bytes 2^32 - 1", mdtest::Concat({XingFrame("Xing", 20, 0xFFFFFFFF), Frames(5, f128)}),
         {1, 1, kMpeg1, 48000, 2, 2, 38400, 4800000, false}},
        // Info marks a constant rate: the rate of the frames after it, not of the Info frame (64 kbit/s).
        {"Info: a constant rate", mdtest::Concat({XingFrame("Info", 5, {}, 64, 5), Frames(5, f128)}),
         {1, 1, kMpeg1, 48000, 2, 2, 128000, 1200000, false}},
        // 7 x 1152 / 48000 = 0.168 s; 3000 x 8 / 0.168 s = 142857.
        {"VBRI", mdtest::Concat({VbriFrame(3000, 7), Frames(7, f128)}),
         {1, 1, kMpeg1, 48000, 2, 2, 142857, 1680000, false}},
        // ID 0, 24 kHz, bitrate_index 4 of the lower-rate table: 32 kbit/s, 72 x 32000 / 24000 = 96 bytes.
        {"MPEG-2 Layer III", Frames(10, Frame(0xF3, 0x44, 0xC0, 96)),
         {1, 1, kMpeg2, 24000, 1, 2, 32000, 2400000, true}},
        // Version bits 00, 8 kHz, 8 kbit/s: 72 bytes.
        {"MPEG-2.5 Layer III", Frames(10, Frame(0xE3, 0x18, 0xC0, 72)),
         {1, 1, kMpeg2, 8000, 1, 2, 8000, 7200000, true}},
        {"frames inside the ID3v2 tag are not the file's", mdtest::Concat({Id3v2(3, 2000, 0, inTag), cbr}),
         {1, 1, kMpeg1, 48000, 2, 2, 128000, 2400000, true}},
        {"the last frame cut short", cut, {1, 1, kMpeg1, 48000, 2, 2, 128000, 2222500, true}},
        {"an ID3v2 size past the end of the file", pastEnd, {}},
        // 44.1 kHz, 128 kbit/s: 417 bytes, so the next frame would start at a header's second byte.
        {"one header repeated", Frames(500, ByteVec{0xFF, 0xFB, 0x90, 0x00}), {}},
        {"layer 00 (ADTS) is no MPEG audio", Frames(10, Frame(0xF1, 0x4C, 0x80, 384)), {}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.codec, p.rate, p.channels, p.layer, p.bitRate, p.duration,
                             p.estimated),
                  std::tuple(e.result, e.records, e.codec, e.rate, e.channels, e.layer, e.bitRate, e.duration,
                             e.estimated))
            << c.what;
    }
}

TEST(Mp3, WhereTheProbeFindsFrames)
{
    const ByteVec f128 = L3At48k(9, 128);
    const auto probes = [](const ByteVec& b, bool wholeFile = true) {
        const md::ProbeInput in{.head = md::Bytes(b), .headOffset = 0, .fileSize = b.size() + (wholeFile ? 0 : 1000)};
        return std::pair(md::ProbeMp3Start(in), md::ProbeMp3(in));
    };
    // Three frames at the start; two make a file only where they end it.
    EXPECT_EQ(probes(Frames(3, f128), false), std::pair(true, true));
    EXPECT_EQ(probes(Frames(2, f128)), std::pair(true, true));
    EXPECT_EQ(probes(Frames(2, f128), false), std::pair(false, false));
    // Further in, six frames in a row: five after junk are not enough, and the start test never searches.
    const ByteVec junk(100, 0);
    EXPECT_EQ(probes(mdtest::Concat({junk, Frames(6, f128)})), std::pair(false, true));
    EXPECT_EQ(probes(mdtest::Concat({junk, Frames(5, f128)})), std::pair(false, false));
    // A change of sampling rate or a mono frame among stereo ones breaks a run.
    EXPECT_EQ(probes(mdtest::Concat({f128, f128, Frame(0xFB, 0x90, 0x00, 417), f128}), false),
              std::pair(false, false));
    EXPECT_EQ(probes(mdtest::Concat({f128, L3At48k(9, 128, true), f128, f128}), false), std::pair(false, false));
    // A frame whose length points at the next header's middle.
    ByteVec shifted = Frames(4, f128);
    shifted.erase(shifted.begin() + 400);
    EXPECT_EQ(probes(shifted, false), std::pair(false, false));
    // Random bytes.
    EXPECT_EQ(probes(mdtest::RandomBytes(200000, 7)), std::pair(false, false));
}

}  // namespace
