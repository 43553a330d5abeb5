// AIFF and AIFF-C files built chunk by chunk: the walk to 'COMM' (odd sizes, unknown and oversized chunks), the
// 80-bit sample rate (exact, rounded, 0, infinite, NaN), the compression types and the duration rules.
#include "audio/aiff.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using md::StreamCodec;
using mdtest::Append;
using mdtest::ByteVec;

void PutBe(ByteVec& b, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

ByteVec Chunk(const char* id, const ByteVec& body, int64_t statedSize = -1)
{
    ByteVec c(id, id + 4);
    PutBe(c, statedSize < 0 ? body.size() : uint64_t(statedSize), 4);
    Append(c, body);
    if (body.size() & 1)
        c.push_back(0);
    return c;
}

// Sample rates as 80-bit extended floats: 44100 and 8000 as the corpus files store them, 22254.5454...
// (the Macintosh rate), and the values no rate may take.
const ByteVec k44100 = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
const ByteVec k8000 = {0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0};
const ByteVec kMac22k = {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17};
const ByteVec kZero(10, 0);
const ByteVec kInfinity = {0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0};
const ByteVec kNan = {0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0};
const ByteVec kMinus44100 = {0xC0, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};

// COMM: numChannels, numSampleFrames, sampleSize, sampleRate; AIFF-C adds the compression type and an empty name.
ByteVec Comm(uint16_t channels, uint32_t frames, uint16_t bits, const ByteVec& rate, const char* compression = nullptr)
{
    ByteVec b;
    PutBe(b, channels, 2), PutBe(b, frames, 4), PutBe(b, bits, 2);
    Append(b, rate);
    if (compression)
        b.insert(b.end(), compression, compression + 4), b.push_back(0), b.push_back(0);
    return Chunk("COMM", b);
}

ByteVec Ssnd(size_t bytes) { return Chunk("SSND", ByteVec(8 + bytes)); }

ByteVec Form(const char* type, std::initializer_list<ByteVec> chunks)
{
    ByteVec body(type, type + 4);
    for (const ByteVec& c : chunks)
        Append(body, c);
    ByteVec out = {'F', 'O', 'R', 'M'};
    PutBe(out, body.size(), 4);
    Append(out, body);
    return out;
}

struct Parsed {
    uint32_t result = 0, records = 0;
    StreamCodec codec{};
    uint32_t channels = 0, rate = 0, bits = 0, blockAlign = 0, byteRate = 0;
    int64_t duration = -1;
};

Parsed Parse(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    md::AiffDemux demux;
    md::StreamList streams;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    p.records = streams.Count();
    if (const md::StreamRecord* r = streams.At(0)) {
        p.codec = r->codec, p.channels = r->audio.channels, p.rate = r->audio.sampleRate;
        p.bits = r->audio.bitsPerSample, p.blockAlign = r->audio.blockAlign, p.byteRate = r->audio.bytesPerSecond;
    }
    p.duration = demux.Times().range.audioEndTime;
    return p;
}

TEST(Aiff, CommonChunkCompressionAndDuration)
{
    constexpr auto kBe = StreamCodec::Lpcm;
    constexpr StreamCodec kNone{};
    const ByteVec second = Ssnd(44100 * 4);
    ByteVec cut = Form("AIFF", {Comm(2, 44100, 16, k44100), second});
    cut.resize(cut.size() / 3);
    struct Case {
        const char* what;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"AIFF: big-endian PCM",
         Form("AIFF", {Comm(2, 44100, 16, k44100), second}),
         {1, 1, kBe, 2, 44100, 16, 4, 176400, 10000000}},
        {"COMM after SSND",
         Form("AIFF", {second, Comm(2, 44100, 16, k44100)}),
         {1, 1, kBe, 2, 44100, 16, 4, 176400, 10000000}},
        {"an odd chunk before COMM is padded",
         Form("AIFF", {Chunk("NAME", ByteVec(9, 'x')), Comm(2, 44100, 16, k44100)}),
         {1, 1, kBe, 2, 44100, 16, 4, 176400, 10000000}},
        {"20-bit samples take 3 bytes",
         Form("AIFF", {Comm(1, 88200, 20, k44100)}),
         {1, 1, kBe, 1, 44100, 20, 3, 132300, 20000000}},
        {"'sowt': little-endian",
         Form("AIFC", {Comm(2, 44100, 16, k44100, "sowt")}),
         {1, 1, StreamCodec::PcmLittleEndian, 2, 44100, 16, 4, 176400, 10000000}},
        {"'fl32'",
         Form("AIFC", {Comm(1, 8000, 32, k8000, "fl32")}),
         {1, 1, StreamCodec::PcmFloat, 1, 8000, 32, 4, 32000, 10000000}},
        {"'ALAW' with a sampleSize of 16: 8 bits coded",
         Form("AIFC", {Comm(1, 1622, 16, k44100, "ALAW")}),
         {1, 1, StreamCodec::Alaw, 1, 44100, 8, 1, 44100, 367800}},
        {"'ulaw'",
         Form("AIFC", {Comm(1, 8000, 8, k8000, "ulaw")}),
         {1, 1, StreamCodec::Mulaw, 1, 8000, 8, 1, 8000, 10000000}},
        // 690 packets of 64 frames: 44160 frames, 1.0013605 s (ffprobe: 1.001361 for such a file).
        {"'ima4': numSampleFrames counts packets",
         Form("AIFC", {Comm(2, 690, 16, k44100, "ima4")}),
         {1, 1, StreamCodec::Adpcm, 2, 44100, 4, 68, 46856, 10013605}},
        {"a type without a code: listed, no duration",
         Form("AIFC", {Comm(2, 690, 16, k44100, "QDM2")}),
         {1, 1, StreamCodec::VfwVideo, 2, 44100, 0, 0, 0, -1}},
        // 1000 frames at 22255 Hz, the rate ffprobe shows for the Macintosh rate.
        {"a fractional rate is rounded",
         Form("AIFF", {Comm(1, 1000, 8, kMac22k)}),
         {1, 1, kBe, 1, 22255, 8, 1, 22255, 449337}},
        {"cut short: COMM's frames stand", cut, {1, 1, kBe, 2, 44100, 16, 4, 176400, 10000000}},
        {"a rate of 0: no record", Form("AIFF", {Comm(2, 44100, 16, kZero)}), {1, 0, kNone, 0, 0, 0, 0, 0, -1}},
        {"an infinite rate", Form("AIFF", {Comm(2, 44100, 16, kInfinity)}), {1, 0, kNone, 0, 0, 0, 0, 0, -1}},
        {"a NaN rate", Form("AIFF", {Comm(2, 44100, 16, kNan)}), {1, 0, kNone, 0, 0, 0, 0, 0, -1}},
        {"a negative rate", Form("AIFF", {Comm(2, 44100, 16, kMinus44100)}), {1, 0, kNone, 0, 0, 0, 0, 0, -1}},
        {"a chunk size of 0xFFFFFFFF before COMM ends the walk",
         Form("AIFF", {Chunk("APPL", ByteVec(4), 0xFFFFFFFF), Comm(2, 44100, 16, k44100)}),
         {1, 0, kNone, 0, 0, 0, 0, 0, -1}},
        {"a chunk past the end before COMM ends the walk",
         Form("AIFF", {Chunk("MARK", ByteVec(4), 1 << 20), Comm(2, 44100, 16, k44100)}),
         {1, 0, kNone, 0, 0, 0, 0, 0, -1}},
        {"an AIFF-C COMM without its compression type",
         Form("AIFC", {Comm(2, 44100, 16, k44100)}),
         {1, 0, kNone, 0, 0, 0, 0, 0, -1}},
        {"no COMM", Form("AIFF", {second}), {1, 0, kNone, 0, 0, 0, 0, 0, -1}},
        {"another IFF form", Form("8SVX", {Comm(2, 44100, 16, k44100)}), {0, 0, kNone, 0, 0, 0, 0, 0, -1}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(
            std::tuple(p.result, p.records, p.codec, p.channels, p.rate, p.bits, p.blockAlign, p.byteRate, p.duration),
            std::tuple(e.result, e.records, e.codec, e.channels, e.rate, e.bits, e.blockAlign, e.byteRate, e.duration))
            << c.what;
        EXPECT_EQ(md::ProbeAiff({.head = c.file}), e.result == 1) << c.what;
    }
}

}  // namespace
