// CAF files built chunk by chunk: 'desc' for each format family, the duration from 'pakt' or the data size (a size
// of -1, a size past the end, a bad size before 'data'), the ALAC cookie, the channel bitmap, the first MPEG frame.
#include "audio/caf.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>

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

ByteVec Chunk(const char* type, const ByteVec& body, int64_t statedSize = 0)
{
    ByteVec c(type, type + 4);
    PutBe(c, statedSize != 0 ? uint64_t(statedSize) : body.size(), 8);
    Append(c, body);
    return c;
}

ByteVec Desc(double rate, const char* format, uint32_t flags, uint32_t bytesPerPacket, uint32_t framesPerPacket,
             uint32_t channels, uint32_t bits)
{
    ByteVec b;
    PutBe(b, std::bit_cast<uint64_t>(rate), 8);
    b.insert(b.end(), format, format + 4);
    for (uint32_t v : {flags, bytesPerPacket, framesPerPacket, channels, bits})
        PutBe(b, v, 4);
    return Chunk("desc", b);
}

// 'data': the edit count, then the packets.
ByteVec Data(size_t bytes, int64_t statedSize = 0, const ByteVec& first = {})
{
    ByteVec body(4, 0);
    Append(body, first);
    body.resize(4 + bytes);
    return Chunk("data", body, statedSize);
}

ByteVec Pakt(int64_t packets, int64_t validFrames, int32_t priming, int32_t remainder)
{
    ByteVec b;
    PutBe(b, uint64_t(packets), 8), PutBe(b, uint64_t(validFrames), 8), PutBe(b, uint32_t(priming), 4);
    PutBe(b, uint32_t(remainder), 4);
    b.resize(b.size() + 2 * uint64_t(packets));  // the packet sizes, one byte each here
    return Chunk("pakt", b);
}

ByteVec Caf(std::initializer_list<ByteVec> chunks, uint16_t version = 1)
{
    ByteVec f = {'c', 'a', 'f', 'f'};
    PutBe(f, version, 2), PutBe(f, 0, 2);
    for (const ByteVec& c : chunks)
        Append(f, c);
    return f;
}

struct Parsed {
    uint32_t result = 0, records = 0;
    StreamCodec codec{};
    uint32_t channels = 0, rate = 0, bits = 0, word0 = 0, mask = 0, byteRate = 0;
    int64_t duration = -1;
};

Parsed Parse(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    md::CafDemux demux;
    md::StreamList streams;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    p.records = streams.Count();
    if (const md::StreamRecord* r = streams.At(0)) {
        p.codec = r->codec, p.channels = r->audio.channels, p.rate = r->audio.sampleRate;
        p.bits = r->audio.bitsPerSample, p.word0 = r->audio.codecSpecific[0], p.mask = r->audio.channelMask;
        p.byteRate = r->audio.bytesPerSecond;
    }
    p.duration = demux.Times().range.audioEndTime;
    return p;
}

TEST(Caf, DescriptionAndDuration)
{
    const ByteVec pcm = Desc(44100, "lpcm", 2, 4, 1, 2, 16);  // little-endian 16-bit stereo
    constexpr auto kLe = StreamCodec::PcmLittleEndian;
    constexpr StreamCodec kNone{};
    // The ALAC cookie as a 'frma' atom, the 'alac' atom header and ALACSpecificConfig (bit depth 24 at byte 5).
    ByteVec cookie = {0, 0, 0, 12, 'f', 'r', 'm', 'a', 'a', 'l', 'a', 'c', 0, 0, 0, 36, 'a', 'l', 'a', 'c', 0, 0, 0, 0};
    const ByteVec config = {0, 0, 0x10, 0, 0, 24, 40, 10, 14, 2, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAC, 0x44};
    Append(cookie, config);
    const ByteVec chan = {0, 1, 0, 0, 0, 0, 0, 0x3F, 0, 0, 0, 0};  // use the bitmap: L R C LFE Ls Rs
    const ByteVec mp3Header = {0xFF, 0xFB, 0x90, 0x00};  // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz
    struct Case {
        const char* what;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"little-endian PCM", Caf({pcm, Data(44100 * 4)}), {1, 1, kLe, 2, 44100, 16, 0, 0, 176400, 10000000}},
        {"big-endian 24-bit PCM",
         Caf({Desc(48000, "lpcm", 0, 3, 1, 1, 24), Data(48000 * 3 / 2)}),
         {1, 1, StreamCodec::Lpcm, 1, 48000, 24, 0, 0, 144000, 5000000}},
        {"float PCM",
         Caf({Desc(48000, "lpcm", 3, 8, 1, 2, 32), Data(4800 * 8)}),
         {1, 1, StreamCodec::PcmFloat, 2, 48000, 32, 0, 0, 384000, 1000000}},
        {"a data size of -1 runs to the end",
         Caf({pcm, Data(44100 * 4, -1)}),
         {1, 1, kLe, 2, 44100, 16, 0, 0, 176400, 10000000}},
        {"a data size past the end is cut to the file",
         Caf({pcm, Data(44100 * 2, 44100 * 4 + 4)}),
         {1, 1, kLe, 2, 44100, 16, 0, 0, 176400, 5000000}},
        {"half a packet is no packet", Caf({pcm, Data(441 * 4 + 3)}), {1, 1, kLe, 2, 44100, 16, 0, 0, 176400, 100000}},
        {"a chunk size of -1 before 'data' ends the walk",
         Caf({pcm, Chunk("free", ByteVec(8), -1), Data(44100 * 4)}),
         {1, 1, kLe, 2, 44100, 16, 0, 0, 176400, -1}},
        {"a chunk past the end before 'data' ends the walk",
         Caf({pcm, Chunk("free", ByteVec(8), 1 << 30), Data(44100 * 4)}),
         {1, 1, kLe, 2, 44100, 16, 0, 0, 176400, -1}},
        {"a negative data size", Caf({pcm, Data(44100 * 4, -2)}), {1, 1, kLe, 2, 44100, 16, 0, 0, 176400, -1}},
        // 175 packets of 512 frames less 528 priming and 324 remainder frames: 88748 valid ones, 4.0248526 s.
        {"AAC-LD: the valid frames of 'pakt'",
         Caf({Desc(22050, "aacl", 0, 0, 512, 1, 0), Pakt(175, 88748, 528, 324), Data(15261)}),
         {1, 1, StreamCodec::Aac, 1, 22050, 0, 23, 0, 3791, 40248526}},
        {"AAC without 'pakt': no duration",
         Caf({Desc(44100, "aac ", 0, 0, 1024, 2, 0), Data(5000)}),
         {1, 1, StreamCodec::Aac, 2, 44100, 0, 2, 0, 0, -1}},
        {"ALAC: the bit depth from the cookie, 'pakt' after the data",
         Caf({Desc(44100, "alac", 0, 0, 4096, 2, 0), Chunk("kuki", cookie), Data(1000), Pakt(11, 45056, 0, 0)}),
         {1, 1, StreamCodec::Alac, 2, 44100, 24, 0, 0, 978, 10216780}},
        {"ALAC with a bare cookie",
         Caf({Desc(44100, "alac", 0, 0, 4096, 2, 0), Chunk("kuki", config), Pakt(1, 4096, 0, 0)}),
         {1, 1, StreamCodec::Alac, 2, 44100, 24, 0, 0, 0, 928798}},
        // 690 packets of 68 bytes and 64 frames: 44160 frames.
        {"IMA ADPCM",
         Caf({Desc(44100, "ima4", 0, 68, 64, 2, 0), Data(690 * 68)}),
         {1, 1, StreamCodec::Adpcm, 2, 44100, 4, 0, 0, 46856, 10013605}},
        {"a channel bitmap",
         Caf({Desc(48000, "lpcm", 2, 12, 1, 6, 16), Chunk("chan", chan), Data(48000 * 12)}),
         {1, 1, kLe, 6, 48000, 16, 0, 0x3F, 576000, 10000000}},
        // 1152 frames a packet, 417 bytes each: 2 packets (0.0522449 s); the frame header gives the byte rate.
        {"MP3: the first frame",
         Caf({Desc(44100, ".mp3", 0, 0, 1152, 2, 0), Pakt(2, 2304, 0, 0), Data(834, 0, mp3Header)}),
         {1, 1, StreamCodec::Mpeg1Audio, 2, 44100, 0, 2, 0, 16000, 522448}},
        {"a format without a code: listed",
         Caf({Desc(44100, "QDM2", 0, 0, 2048, 2, 0), Data(100)}),
         {1, 1, StreamCodec::VfwVideo, 2, 44100, 0, 0, 0, 0, -1}},
        {"a rate of 0: no record",
         Caf({Desc(0, "lpcm", 2, 4, 1, 2, 16), Data(400)}),
         {1, 0, kNone, 0, 0, 0, 0, 0, 0, -1}},
        {"a NaN rate",
         Caf({Desc(std::numeric_limits<double>::quiet_NaN(), "lpcm", 2, 4, 1, 2, 16), Data(400)}),
         {1, 0, kNone, 0, 0, 0, 0, 0, 0, -1}},
        {"an infinite rate",
         Caf({Desc(std::numeric_limits<double>::infinity(), "lpcm", 2, 4, 1, 2, 16), Data(400)}),
         {1, 0, kNone, 0, 0, 0, 0, 0, 0, -1}},
        {"version 2", Caf({pcm, Data(400)}, 2), {0, 0, kNone, 0, 0, 0, 0, 0, 0, -1}},
        {"'desc' not first", Caf({Data(400), pcm}), {0, 0, kNone, 0, 0, 0, 0, 0, 0, -1}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.codec, p.channels, p.rate, p.bits, p.word0, p.mask, p.byteRate,
                             p.duration),
                  std::tuple(e.result, e.records, e.codec, e.channels, e.rate, e.bits, e.word0, e.mask, e.byteRate,
                             e.duration))
            << c.what;
        EXPECT_EQ(md::ProbeCaf({.head = c.file}), e.result == 1) << c.what;
    }
}

}  // namespace
