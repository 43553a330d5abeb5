// WAV files built chunk by chunk; plain, extensible, float, A-law, MPEG audio, RF64 and Wave64 files are in the
// conformance table.
#include "audio/wav.h"

#include <gtest/gtest.h>

#include "audio/id3.h"
#include "support/audio_files.h"

namespace {

using mdtest::ByteVec;
using mdtest::PutLe;

ByteVec Chunk(const char* id, const ByteVec& body, int64_t statedSize = -1)
{
    return mdtest::IffChunk(false, id, body, statedSize);
}

// WAVEFORMATEX up to wBitsPerSample: format tag, channels, rate, bytes per second, block align, bits.
ByteVec Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align, uint16_t bits)
{
    ByteVec f;
    PutLe(f, tag, 2), PutLe(f, channels, 2), PutLe(f, rate, 4), PutLe(f, byteRate, 4), PutLe(f, align, 2);
    PutLe(f, bits, 2);
    return Chunk("fmt ", f);
}

ByteVec Riff(const char* id, std::initializer_list<ByteVec> chunks)
{
    ByteVec body = {'W', 'A', 'V', 'E'};
    for (const ByteVec& c : chunks)
        mdtest::Append(body, c);
    ByteVec out(id, id + 4);
    PutLe(out, body.size(), 4);
    mdtest::Append(out, body);
    return out;
}

TEST(Wav, ChunkWalkAndDuration)
{
    const ByteVec pcm = Fmt(1, 2, 48000, 192000, 4, 16);
    const ByteVec second(192000, 0);  // one second of 16-bit stereo at 48 kHz
    const char* kSecond = "pcm 2ch 48000Hz 16b align 4 192000B/s t=10000000";
    // IMA ADPCM as ffmpeg writes it: 1024-byte blocks of 2041 samples; 'fact' counts 24492 samples (3.0615 s, as
    // ffprobe gives it).
    const ByteVec ima = Fmt(0x11, 1, 8000, 16000, 1024, 4);
    // An AC-3 frame (48 kHz, 384 kbit/s, 3/2 + LFE) 8 bytes into the data: the frame's channels over the format's;
    // the duration is the data (1544 bytes) over the format's byte rate.
    ByteVec ac3 = mdtest::Ac3FrameStart(0, 28, 8, 7, true, 1536);
    ac3.insert(ac3.begin(), 8, 0);
    const mdtest::FileRow rows[] = {
        {"an odd chunk before 'fmt ' is padded",
         Riff("RIFF", {Chunk("LIST", ByteVec(7, 1)), pcm, Chunk("data", second)}), kSecond},
        {"data size 0 runs to the end", Riff("RIFF", {pcm, Chunk("data", second, 0)}), kSecond},
        {"data size 0xFFFFFFFF runs to the end", Riff("RIFF", {pcm, Chunk("data", second, 0xFFFFFFFF)}), kSecond},
        {"a size past the end is cut to the file", Riff("RIFF", {pcm, Chunk("data", second, 1 << 30)}), kSecond},
        {"half a sample frame is no frame", Riff("RIFF", {pcm, Chunk("data", ByteVec(4 * 480 + 3))}),
         "pcm 2ch 48000Hz 16b align 4 192000B/s t=100000"},
        {"a chunk of unknown size before 'fmt ' ends the walk",
         Riff("RIFF", {Chunk("junk", ByteVec(4), 0xFFFFFFFF), pcm, Chunk("data", second)}), "no record t=?"},
        {"no 'data': described, no duration", Riff("RIFF", {pcm}), "pcm 2ch 48000Hz 16b align 4 192000B/s t=?"},
        {"ADPCM: the 'fact' sample count, not the blocks",
         Riff("RIFF", {ima, Chunk("fact", {0xAC, 0x5F, 0, 0}), Chunk("data", ByteVec(12 * 1024))}),
         "adpcm 1ch 8000Hz 4b align 1024 16000B/s t=30615000"},
        {"AC-3: the first frame of the data", Riff("RIFF", {Fmt(0x2000, 2, 48000, 48000, 1536, 0), Chunk("data", ac3)}),
         "ac3 6ch 48000Hz align 1536 48000B/s w0 7 t=321666"},
        {"not RIFF", Riff("RIFX", {pcm, Chunk("data", second)}), "not taken"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mdtest::Opened<md::WavDemux>(row.file), row.expected) << row.what;
}

TEST(Id3v2, TagSizesAndTheAudioStart)
{
    const auto tag = [](uint8_t version, uint8_t flags, uint32_t size) {
        ByteVec t = {'I', 'D', '3', version, 0, flags, uint8_t(size >> 21 & 0x7F), uint8_t(size >> 14 & 0x7F),
                     uint8_t(size >> 7 & 0x7F), uint8_t(size & 0x7F)};
        t.resize(10 + size);
        return t;
    };
    ByteVec notSyncsafe = tag(3, 0, 300);
    notSyncsafe[8] |= 0x80;
    // A v2.4 footer adds 10 bytes; v2.3 has none; a size byte with its top bit set, or version 5, is no tag.
    EXPECT_EQ(std::tuple(md::Id3v2TagSize(tag(4, 0x10, 300)), md::Id3v2TagSize(tag(3, 0x10, 300)),
                         md::Id3v2TagSize(notSyncsafe), md::Id3v2TagSize(tag(5, 0, 10))),
              std::tuple(320u, 310u, 0u, 0u));
    const auto tagsEnd = [](const ByteVec& b) {
        md::MemoryInputStream in(b);
        return md::Id3v2TagsEnd(in);
    };
    // Two tags in a row; a tag that claims more than the file holds ends with the file.
    EXPECT_EQ(tagsEnd(mdtest::Concat({tag(4, 0, 20), tag(3, 0, 30), ByteVec{0xFF, 0xFB, 0x90, 0x00}})), 70u);
    EXPECT_EQ(tagsEnd(mdtest::Cut(tag(3, 0, 1000), 200)), 200u);
}

}  // namespace
