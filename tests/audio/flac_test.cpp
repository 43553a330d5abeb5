// FLAC streams built block by block: STREAMINFO's fields and total samples, the metadata chain walked by its
// lengths (large blocks skipped unread, a chain without an end, a block past the end), ID3v2 tags before the marker.
#include "audio/flac.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;

void PutBe(ByteVec& b, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// A metadata block: last-block flag and type, the 24-bit length (stated, or the body's), the body.
ByteVec Block(uint8_t type, bool last, const ByteVec& body, int64_t statedLength = -1)
{
    ByteVec b = {uint8_t((last ? 0x80 : 0) | type)};
    PutBe(b, statedLength < 0 ? body.size() : uint64_t(statedLength), 3);
    Append(b, body);
    return b;
}

// STREAMINFO: block sizes, frame sizes (0: unknown), then rate (20 bits), channels - 1 (3), bits - 1 (5) and the
// total samples (36) in one 64-bit field, then the MD5.
ByteVec StreamInfo(bool last, uint32_t rate, uint32_t channels, uint32_t bits, uint64_t total, uint16_t minBlock = 4096,
                   uint16_t maxBlock = 4096)
{
    ByteVec body;
    PutBe(body, minBlock, 2), PutBe(body, maxBlock, 2), PutBe(body, 0, 3), PutBe(body, 0, 3);
    PutBe(body, uint64_t(rate) << 44 | uint64_t(channels - 1) << 41 | uint64_t(bits - 1) << 36 | total, 8);
    body.resize(34);
    return Block(0, last, body);
}

ByteVec Flac(std::initializer_list<ByteVec> blocks, size_t frameBytes = 1000)
{
    ByteVec f = {'f', 'L', 'a', 'C'};
    for (const ByteVec& b : blocks)
        Append(f, b);
    f.resize(f.size() + frameBytes, 0xA5);
    return f;
}

struct Parsed {
    uint32_t result = 0, records = 0, channels = 0, rate = 0, bits = 0, mask = 0, byteRate = 0;
    int64_t duration = -1, frame = 0;
};

Parsed Parse(const ByteVec& file, uint64_t* bytesRead = nullptr)
{
    MemoryInputStream in(file.data(), file.size());
    md::FlacDemux demux;
    md::StreamList streams;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    p.records = streams.Count();
    if (const md::StreamRecord* r = streams.At(0)) {
        EXPECT_EQ(r->codec, md::StreamCodec::Flac);
        p.channels = r->audio.channels, p.rate = r->audio.sampleRate, p.bits = r->audio.bitsPerSample;
        p.mask = r->audio.channelMask, p.byteRate = r->audio.bytesPerSecond;
    }
    p.duration = demux.Times().range.audioEndTime;
    p.frame = demux.Times().range.audioFrameDuration;
    if (bytesRead)
        *bytesRead = in.BytesRead();
    return p;
}

TEST(Flac, StreamInfoAndTheMetadataChain)
{
    // 96000 samples at 48 kHz: 2 s; 1000 bytes of frames over 2 s: 500 bytes/s; 4096-sample blocks: 85.33 ms.
    const ByteVec info = StreamInfo(false, 48000, 2, 24, 96000);
    const ByteVec padding = Block(1, true, ByteVec(10));
    const ByteVec id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};  // a 20-byte ID3v2.3 tag
    struct Case {
        const char* what;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"STREAMINFO and padding", Flac({info, padding}), {1, 1, 2, 48000, 24, 0, 500, 20000000, 853333}},
        {"STREAMINFO alone, the last block",
         Flac({StreamInfo(true, 48000, 2, 24, 96000)}),
         {1, 1, 2, 48000, 24, 0, 500, 20000000, 853333}},
        {"after ID3v2 tags",
         mdtest::Concat({id3, ByteVec(20), Flac({info, padding})}),
         {1, 1, 2, 48000, 24, 0, 500, 20000000, 853333}},
        {"block sizes that vary: no frame duration",
         Flac({StreamInfo(true, 44100, 1, 16, 44100, 1152, 4608)}, 0),
         {1, 1, 1, 44100, 16, 0, 0, 10000000, 0}},
        {"total samples 0: no duration, no byte rate",
         Flac({StreamInfo(true, 44100, 2, 16, 0)}),
         {1, 1, 2, 44100, 16, 0, 0, -1, 0}},
        {"the largest total samples (36 bits) at 1 Hz",
         Flac({StreamInfo(true, 1, 1, 8, (uint64_t(1) << 36) - 1)}, 0),
         {1, 1, 1, 1, 8, 0, 0, int64_t((uint64_t(1) << 36) - 1) * 10000000, 0}},
        {"7.1: L R C LFE BL BR SL SR",
         Flac({StreamInfo(true, 48000, 8, 16, 48000)}, 0),
         {1, 1, 8, 48000, 16, 0x63F, 0, 10000000, 853333}},
        {"a block past the end: no frames found",
         Flac({info, Block(4, true, ByteVec(10), 0xFFFFFF)}),
         {1, 1, 2, 48000, 24, 0, 0, 20000000, 853333}},
        {"a rate of 0: a FLAC file, no record", Flac({StreamInfo(true, 0, 2, 16, 100)}), {1, 0, 0, 0, 0, 0, 0, -1, 0}},
        {"cut inside STREAMINFO: a FLAC file, no record",
         Flac({ByteVec(info.begin(), info.begin() + 8)}, 0),
         {1, 0, 0, 0, 0, 0, 0, -1, 0}},
        {"padding before STREAMINFO: not FLAC",
         Flac({Block(1, false, ByteVec(4)), info, padding}),
         {0, 0, 0, 0, 0, 0, 0, -1, 0}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.channels, p.rate, p.bits, p.mask, p.byteRate, p.duration, p.frame),
                  std::tuple(e.result, e.records, e.channels, e.rate, e.bits, e.mask, e.byteRate, e.duration, e.frame))
            << c.what;
        EXPECT_EQ(md::ProbeFlac({.head = c.file}), e.result == 1 && c.file[0] == 'f') << c.what;
    }

    // A 4 MiB picture is skipped by its length, never read: the frames after it still give the byte rate.
    uint64_t bytesRead = 0;
    const Parsed picture = Parse(Flac({info, Block(6, false, ByteVec(4 << 20)), padding}), &bytesRead);
    EXPECT_EQ(std::tuple(picture.records, picture.byteRate, picture.duration), std::tuple(1u, 500u, 20000000));
    EXPECT_LT(bytesRead, 4096u);

    // A chain that never sets its last flag: the walk stops (after at most its block limit), the description stands.
    ByteVec endless = Flac({info}, 0);
    for (int i = 0; i < 5000; ++i)
        Append(endless, Block(1, false, {}));
    endless.resize(endless.size() + 1000, 0xA5);
    EXPECT_EQ(std::tuple(Parse(endless).records, Parse(endless).byteRate, Parse(endless).duration),
              std::tuple(1u, 0u, 20000000));
}

}  // namespace
