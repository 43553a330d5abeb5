// AIFF and AIFF-C files built chunk by chunk; big-endian PCM, 'sowt', 'ulaw' and 'ALAW' files are in the conformance
// table.
#include "audio/aiff.h"

#include <gtest/gtest.h>

#include "support/audio_files.h"

namespace {

using mdtest::ByteVec;
using mdtest::PutBe;

ByteVec Chunk(const char* id, const ByteVec& body, int64_t statedSize = -1)
{
    return mdtest::IffChunk(true, id, body, statedSize);
}

// Sample rates as 80-bit extended floats: 44100 and 8000 as the corpus files store them, 22050, 22254.5454... (the
// Macintosh rate), and values no rate may take.
const ByteVec k44100 = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
const ByteVec k8000 = {0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0};
const ByteVec k22050 = {0x40, 0x0D, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
const ByteVec kMac22k = {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17};
const ByteVec kInfinity = {0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0};
const ByteVec kMinus44100 = {0xC0, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};

// COMM: numChannels, numSampleFrames, sampleSize, sampleRate; AIFF-C adds the compression type and an empty name.
ByteVec Comm(uint16_t channels, uint32_t frames, uint16_t bits, const ByteVec& rate, const char* compression = nullptr)
{
    ByteVec b;
    PutBe(b, channels, 2), PutBe(b, frames, 4), PutBe(b, bits, 2);
    mdtest::Append(b, rate);
    if (compression)
        b.insert(b.end(), compression, compression + 4), b.push_back(0), b.push_back(0);
    return Chunk("COMM", b);
}

ByteVec Form(const char* type, std::initializer_list<ByteVec> chunks)
{
    ByteVec body(type, type + 4);
    for (const ByteVec& c : chunks)
        mdtest::Append(body, c);
    ByteVec out = {'F', 'O', 'R', 'M'};
    PutBe(out, body.size(), 4);
    mdtest::Append(out, body);
    return out;
}

TEST(Aiff, CommonChunkCompressionAndDuration)
{
    const ByteVec second = Chunk("SSND", ByteVec(8 + 44100 * 4));
    const ByteVec stereo = Comm(2, 44100, 16, k44100);
    const char* kSecond = "pcm_be 2ch 44100Hz 16b align 4 176400B/s t=10000000";
    const mdtest::FileRow rows[] = {
        {"COMM after SSND", Form("AIFF", {second, stereo}), kSecond},
        {"an odd chunk before COMM is padded", Form("AIFF", {Chunk("NAME", ByteVec(9, 'x')), stereo}), kSecond},
        {"cut short: COMM's frames stand", mdtest::Cut(Form("AIFF", {stereo, second}), 60000), kSecond},
        {"20-bit samples take 3 bytes", Form("AIFF", {Comm(1, 44100, 20, k22050)}),
         "pcm_be 1ch 22050Hz 20b align 3 66150B/s t=20000000"},
        {"'in32' states its sample size", Form("AIFC", {Comm(1, 8000, 16, k8000, "in32")}),
         "pcm_be 1ch 8000Hz 32b align 4 32000B/s t=10000000"},
        {"'fl32'", Form("AIFC", {Comm(1, 8000, 32, k8000, "fl32")}),
         "float 1ch 8000Hz 32b align 4 32000B/s t=10000000"},
        // 690 packets of 64 frames: 44160 frames, 1.0013605 s (ffprobe: 1.001361 for such a file).
        {"'ima4': numSampleFrames counts packets", Form("AIFC", {Comm(2, 690, 16, k44100, "ima4")}),
         "adpcm 2ch 44100Hz 4b align 68 46856B/s t=10013605"},
        {"a type without a code: listed, no duration", Form("AIFC", {Comm(2, 690, 16, k44100, "QDM2")}),
         "unmapped 2ch 44100Hz t=?"},
        // 1000 frames at 22255 Hz, the rate ffprobe shows for the Macintosh rate.
        {"a fractional rate is rounded", Form("AIFF", {Comm(1, 1000, 8, kMac22k)}),
         "pcm_be 1ch 22255Hz 8b 22255B/s t=449337"},
        {"a rate of 0: no record", Form("AIFF", {Comm(2, 44100, 16, ByteVec(10))}), "no record t=?"},
        {"an infinite rate", Form("AIFF", {Comm(2, 44100, 16, kInfinity)}), "no record t=?"},
        {"a negative rate", Form("AIFF", {Comm(2, 44100, 16, kMinus44100)}), "no record t=?"},
        {"a chunk size of 0xFFFFFFFF before COMM ends the walk",
         Form("AIFF", {Chunk("APPL", ByteVec(4), 0xFFFFFFFF), stereo}), "no record t=?"},
        {"an AIFF-C COMM without its compression type", Form("AIFC", {stereo}), "no record t=?"},
        {"another IFF form", Form("8SVX", {stereo}), "not taken"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mdtest::Opened<md::AiffDemux>(row.file), row.expected) << row.what;
}

}  // namespace
