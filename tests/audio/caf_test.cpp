// CAF files built chunk by chunk; little-endian PCM, ALAC and AAC-LD files with 'pakt' are in the conformance table.
#include "audio/caf.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>

#include "support/audio_files.h"

namespace {

using mdtest::Append;
using mdtest::ByteVec;
using mdtest::PutBe;

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

// 'pakt': the packets, the valid frames, no priming or remainder frames, then a byte for each packet's size.
ByteVec Pakt(int64_t packets, int64_t validFrames)
{
    ByteVec b;
    PutBe(b, uint64_t(packets), 8), PutBe(b, uint64_t(validFrames), 8), PutBe(b, 0, 8);
    b.resize(b.size() + uint64_t(packets));
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

TEST(Caf, DescriptionAndDuration)
{
    const ByteVec pcm = Desc(44100, "lpcm", 2, 4, 1, 2, 16);  // little-endian 16-bit stereo
    // The ALAC cookie as a 'frma' atom, the 'alac' atom header and ALACSpecificConfig (bit depth 24 at byte 5).
    ByteVec cookie = {0, 0, 0, 12, 'f', 'r', 'm', 'a', 'a', 'l', 'a', 'c', 0, 0, 0, 36, 'a', 'l', 'a', 'c', 0, 0, 0, 0};
    const ByteVec config = {0, 0, 0x10, 0, 0, 24, 40, 10, 14, 2, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAC, 0x44};
    Append(cookie, config);
    const ByteVec chan = {0, 1, 0, 0, 0, 0, 0, 0x3F, 0, 0, 0, 0};  // use the bitmap: L R C LFE Ls Rs
    const ByteVec mp3Header = {0xFF, 0xFB, 0x90, 0x00};  // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz
    const mdtest::FileRow rows[] = {
        {"big-endian 24-bit PCM", Caf({Desc(48000, "lpcm", 0, 3, 1, 1, 24), Data(48000 * 3 / 2)}),
         "pcm_be 1ch 48000Hz 24b align 3 144000B/s t=5000000"},
        {"float PCM", Caf({Desc(48000, "lpcm", 3, 8, 1, 2, 32), Data(4800 * 8)}),
         "float 2ch 48000Hz 32b align 8 384000B/s t=1000000"},
        {"a data size of -1 runs to the end", Caf({pcm, Data(44100 * 4, -1)}),
         "pcm 2ch 44100Hz 16b align 4 176400B/s t=10000000"},
        {"a data size past the end is cut to the file", Caf({pcm, Data(44100 * 2, 44100 * 4 + 4)}),
         "pcm 2ch 44100Hz 16b align 4 176400B/s t=5000000"},
        {"half a packet is no packet", Caf({pcm, Data(441 * 4 + 3)}), "pcm 2ch 44100Hz 16b align 4 176400B/s t=100000"},
        {"a chunk size of -1 before 'data' ends the walk", Caf({pcm, Chunk("free", ByteVec(8), -1), Data(44100 * 4)}),
         "pcm 2ch 44100Hz 16b align 4 176400B/s t=?"},
        {"AAC without 'pakt': no duration", Caf({Desc(44100, "aac ", 0, 0, 1024, 2, 0), Data(5000)}),
         "aac 2ch 44100Hz w0 2 t=?"},
        // 45056 frames at 44.1 kHz; 1000 bytes of packets over them.
        {"ALAC: the bit depth from the cookie, 'pakt' after the data",
         Caf({Desc(44100, "alac", 0, 0, 4096, 2, 0), Chunk("kuki", cookie), Data(1000), Pakt(11, 45056)}),
         "alac 2ch 44100Hz 24b 978B/s t=10216780"},
        {"ALAC with a bare cookie",
         Caf({Desc(44100, "alac", 0, 0, 4096, 2, 0), Chunk("kuki", config), Pakt(1, 4096)}),
         "alac 2ch 44100Hz 24b t=928798"},
        // 690 packets of 68 bytes and 64 frames: 44160 frames.
        {"IMA ADPCM: whole packets; a 'pakt' of 0 valid frames is no count",
         Caf({Desc(44100, "ima4", 0, 68, 64, 2, 0), Pakt(690, 0), Data(690 * 68)}),
         "adpcm 2ch 44100Hz 4b align 68 46856B/s t=10013605"},
        {"a channel bitmap", Caf({Desc(48000, "lpcm", 2, 12, 1, 6, 16), Chunk("chan", chan), Data(48000 * 12)}),
         "pcm 6ch 48000Hz 16b mask 3F align 12 576000B/s t=10000000"},
        // 1152 frames a packet, 417 bytes each: 2 packets (0.0522449 s); the frame header gives the byte rate.
        {"MP3: the first frame",
         Caf({Desc(44100, ".mp3", 0, 0, 1152, 2, 0), Pakt(2, 2304), Data(834, 0, mp3Header)}),
         "mpeg1 2ch 44100Hz 16000B/s w0 2 t=522448"},
        {"a format without a code: listed", Caf({Desc(44100, "QDM2", 0, 0, 2048, 2, 0), Data(100)}),
         "unmapped 2ch 44100Hz t=?"},
        {"a rate of 0: no record", Caf({Desc(0, "lpcm", 2, 4, 1, 2, 16), Data(400)}), "no record t=?"},
        {"a rate of 2^32 - 1 Hz", Caf({Desc(4294967295.0, "lpcm", 2, 4, 1, 2, 16), Data(400)}), "no record t=?"},
        {"an infinite rate", Caf({Desc(std::numeric_limits<double>::infinity(), "lpcm", 2, 4, 1, 2, 16), Data(400)}),
         "no record t=?"},
        {"version 2", Caf({pcm, Data(400)}, 2), "not taken"},
        {"'desc' not first", Caf({Data(400), pcm}), "not taken"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mdtest::Opened<md::CafDemux>(row.file), row.expected) << row.what;
    // The other format IDs: the codec, A-law and mu-law as 8-bit, FLAC with the stated bits, the MPEG layer and the
    // AAC variants' object types in codec word 0.
    const std::tuple<const char*, const char*, uint32_t> formats[] = {
        {"alaw", "alaw 1ch 8000Hz 8b", 0},  {"ulaw", "mulaw 1ch 8000Hz 8b", 0}, {"flac", "flac 1ch 8000Hz 16b", 0},
        {".mp1", "mpeg1 1ch", 0},           {".mp2", "mpeg1 1ch", 1},           {"ac-3", "ac3 1ch", 0},
        {"ec-3", "eac3 1ch", 0},            {"samr", "amrnb 1ch", 0},           {"sawb", "amrwb 1ch", 0},
        {"aach", "aac 1ch", 5},             {"aacp", "aac 1ch", 29},            {"aacl", "aac 1ch", 23},
        {"aace", "aac 1ch", 39},            {"aacf", "aac 1ch", 39},            {"aacg", "aac 1ch", 39},
    };
    for (const auto& [format, start, objectType] : formats) {
        const std::string s = mdtest::Opened<md::CafDemux>(Caf({Desc(8000, format, 0, 0, 1, 1, 16), Data(100)}));
        EXPECT_EQ(s.substr(0, std::strlen(start)), start) << format;
        EXPECT_EQ(s.find(" w0 " + std::to_string(objectType) + " ") != std::string::npos, objectType != 0) << s;
    }
}

}  // namespace
