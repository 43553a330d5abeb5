// WAV files built chunk by chunk: the walk to 'data' (odd sizes, unknown sizes, RF64 and Wave64 sizes), the
// description from 'fmt ' wherever it stands, and the duration rules; and the ID3v2 tags audio files open with.
#include "audio/wav.h"

#include <gtest/gtest.h>

#include "audio/id3.h"
#include "input/memory_input_stream.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;

void PutLe(ByteVec& b, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

ByteVec Chunk(const char* id, const ByteVec& body, int64_t statedSize = -1)
{
    ByteVec c(id, id + 4);
    PutLe(c, statedSize < 0 ? body.size() : uint64_t(statedSize), 4);
    Append(c, body);
    if (body.size() & 1)
        c.push_back(0);
    return c;
}

ByteVec Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t mask = 0)
{
    const uint16_t align = uint16_t(channels * bits / 8);
    ByteVec f;
    PutLe(f, mask ? 0xFFFE : tag, 2), PutLe(f, channels, 2), PutLe(f, rate, 4), PutLe(f, rate * align, 4);
    PutLe(f, align, 2), PutLe(f, bits, 2);
    if (mask) {
        PutLe(f, 22, 2), PutLe(f, bits, 2), PutLe(f, mask, 4), PutLe(f, tag, 2);
        const uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        f.insert(f.end(), tail, tail + sizeof tail);
    }
    return f;
}

ByteVec Riff(const char* form, std::initializer_list<ByteVec> chunks)
{
    ByteVec body = {'W', 'A', 'V', 'E'};
    for (const ByteVec& c : chunks)
        Append(body, c);
    ByteVec out(form, form + 4);
    PutLe(out, body.size(), 4);
    Append(out, body);
    return out;
}

struct Parsed {
    uint32_t result = 0, records = 0, codec = 0, channels = 0, rate = 0, bits = 0, mask = 0;
    int64_t duration = -1;
};

Parsed Parse(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    md::WavDemux demux;
    md::StreamList streams;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    p.records = streams.Count();
    if (const md::StreamRecord* r = streams.At(0)) {
        p.codec = uint32_t(r->codec), p.channels = r->audio.channels, p.rate = r->audio.sampleRate;
        p.bits = r->audio.bitsPerSample, p.mask = r->audio.channelMask;
    }
    p.duration = demux.Times().range.audioEndTime;
    return p;
}

constexpr uint32_t kPcm = uint32_t(md::StreamCodec::PcmLittleEndian);

TEST(Wav, ChunkWalkAndDuration)
{
    const ByteVec second(48000 * 4, 0);  // one second of 16-bit stereo at 48 kHz
    const ByteVec pcm = Fmt(1, 2, 48000, 16);
    struct Case {
        const char* what;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"plain", Riff("RIFF", {Chunk("fmt ", pcm), Chunk("data", second)}), {1, 1, kPcm, 2, 48000, 16, 0, 10000000}},
        {"an odd chunk before 'fmt ' is padded", Riff("RIFF", {Chunk("LIST", ByteVec(7, 1)), Chunk("fmt ", pcm),
                                                                Chunk("data", second)}),
         {1, 1, kPcm, 2, 48000, 16, 0, 10000000}},
        {"data size 0 runs to the end", Riff("RIFF", {Chunk("fmt ", pcm), Chunk("data", second, 0)}),
         {1, 1, kPcm, 2, 48000, 16, 0, 10000000}},
        {"data size 0xFFFFFFFF runs to the end", Riff("RIFF", {Chunk("fmt ", pcm), Chunk("data", second, 0xFFFFFFFF)}),
         {1, 1, kPcm, 2, 48000, 16, 0, 10000000}},
        {"a size past the end is cut to the file", Riff("RIFF", {Chunk("fmt ", pcm), Chunk("data", second, 1 << 30)}),
         {1, 1, kPcm, 2, 48000, 16, 0, 10000000}},
        {"half a sample frame is no frame", Riff("RIFF", {Chunk("fmt ", pcm), Chunk("data", ByteVec(4 * 480 + 3))}),
         {1, 1, kPcm, 2, 48000, 16, 0, 100000}},
        {"an unknown chunk size before 'fmt ' ends the walk",
         Riff("RIFF", {Chunk("junk", ByteVec(4), 0xFFFFFFFF), Chunk("fmt ", pcm), Chunk("data", second)}),
         {1, 0, 0, 0, 0, 0, 0, -1}},
        {"no 'data': described, no duration", Riff("RIFF", {Chunk("fmt ", pcm)}), {1, 1, kPcm, 2, 48000, 16, 0, -1}},
        {"extensible 5.1 float", Riff("RIFF", {Chunk("fmt ", Fmt(3, 6, 48000, 32, 0x3F)), Chunk("data", ByteVec(2400))}),
         {1, 1, uint32_t(md::StreamCodec::PcmFloat), 6, 48000, 32, 0x3F, 20833}},  // 100 frames
        {"compressed: the 'fact' sample count",
         Riff("RIFF", {Chunk("fmt ", Fmt(0x11, 1, 8000, 4)), Chunk("fact", {0x40, 0x1F, 0, 0}),
                       Chunk("data", ByteVec(100))}),
         {1, 1, uint32_t(md::StreamCodec::Adpcm), 1, 8000, 4, 0, 10000000}},
        // IMA ADPCM as ffmpeg writes it: 1024-byte blocks of 2041 samples, 'fact' 24492 samples (ffprobe: 3.0615 s).
        {"ADPCM blocks hold many samples: the 'fact' count",
         Riff("RIFF", {Chunk("fmt ", {0x11, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 0, 4, 4, 0}),
                       Chunk("fact", {0xAC, 0x5F, 0, 0}), Chunk("data", ByteVec(12 * 1024))}),
         {1, 1, uint32_t(md::StreamCodec::Adpcm), 1, 8000, 4, 0, 30615000}},
        {"not WAVE", Riff("RIFX", {Chunk("fmt ", pcm)}), {0, 0, 0, 0, 0, 0, 0, -1}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.codec, p.channels, p.rate, p.bits, p.mask, p.duration),
                  std::tuple(e.result, e.records, e.codec, e.channels, e.rate, e.bits, e.mask, e.duration))
            << c.what;
    }

    // RF64: the data size from 'ds64'; Wave64: GUID chunk ids and 64-bit sizes with their 24-byte headers.
    ByteVec ds64;
    PutLe(ds64, 0, 8), PutLe(ds64, 48000 * 4 / 2, 8), PutLe(ds64, 0, 8), PutLe(ds64, 0, 4);
    const ByteVec rf64 =
        Riff("RF64", {Chunk("ds64", ds64), Chunk("fmt ", pcm), Chunk("data", second, 0xFFFFFFFF)});
    EXPECT_EQ(Parse(rf64).duration, 5000000);
    const auto guid = [](const char* id) {
        ByteVec g(id, id + 4);
        const uint8_t tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
        return g.insert(g.end(), tail, tail + 12), g;
    };
    ByteVec w64 = {0x72, 0x69, 0x66, 0x66, 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    PutLe(w64, 0, 8);
    Append(w64, guid("wave"));
    for (const auto& [id, body] : {std::pair{"fmt ", pcm}, std::pair{"data", second}}) {
        Append(w64, guid(id));
        PutLe(w64, 24 + body.size(), 8);
        Append(w64, body);
        w64.resize((w64.size() + 7) / 8 * 8);
    }
    EXPECT_EQ(std::tuple(Parse(w64).records, Parse(w64).duration), std::tuple(1u, 10000000));
    EXPECT_TRUE(md::ProbeWav({.head = w64}) && md::ProbeWav({.head = rf64}));
}

TEST(Id3v2, TagSizesAndTheAudioStart)
{
    const auto tag = [](uint8_t version, uint8_t flags, uint32_t size) {
        ByteVec t = {'I', 'D', '3', version, 0, flags, uint8_t(size >> 21 & 0x7F), uint8_t(size >> 14 & 0x7F),
                     uint8_t(size >> 7 & 0x7F), uint8_t(size & 0x7F)};
        t.resize(10 + size);
        return t;
    };
    EXPECT_EQ(md::Id3v2TagSize(tag(3, 0, 300)), 310u);
    EXPECT_EQ(md::Id3v2TagSize(tag(4, 0x10, 300)), 320u);  // a v2.4 footer
    EXPECT_EQ(md::Id3v2TagSize(tag(3, 0x10, 300)), 310u);  // no footer before v2.4
    ByteVec bad = tag(3, 0, 300);
    bad[8] |= 0x80;  // not syncsafe
    EXPECT_EQ(md::Id3v2TagSize(bad), 0u);
    EXPECT_EQ(md::Id3v2TagSize(tag(5, 0, 10)), 0u);

    ByteVec two = mdtest::Concat({tag(4, 0, 20), tag(3, 0, 30), ByteVec{0xFF, 0xFB, 0x90, 0x00}});
    MemoryInputStream twoIn(two.data(), two.size());
    EXPECT_EQ(md::Id3v2TagsEnd(twoIn), 30u + 40u);
    ByteVec past = tag(3, 0, 1000);
    past.resize(200);  // the tag claims more than the file holds
    MemoryInputStream pastIn(past.data(), past.size());
    EXPECT_EQ(md::Id3v2TagsEnd(pastIn), 200u);
}

}  // namespace
