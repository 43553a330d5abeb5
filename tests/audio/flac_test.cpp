// FLAC streams built block by block; a file with a cover picture and a truncated one are in the conformance table.
#include "audio/flac.h"

#include <gtest/gtest.h>

#include "support/audio_files.h"

namespace {

using mdtest::ByteVec;
using mdtest::PutBe;

// A metadata block: last-block flag and type, the 24-bit length (stated, or the body's), the body.
ByteVec Block(uint8_t type, bool last, const ByteVec& body, int64_t statedLength = -1)
{
    ByteVec b = {uint8_t((last ? 0x80 : 0) | type)};
    PutBe(b, statedLength < 0 ? body.size() : uint64_t(statedLength), 3);
    mdtest::Append(b, body);
    return b;
}

// STREAMINFO: block sizes, frame sizes (0: unknown), then rate (20 bits), channels - 1 (3), bits - 1 (5) and the
// total samples (36) in one 64-bit field, then the MD5.
ByteVec StreamInfo(bool last, uint32_t rate, uint32_t channels, uint32_t bits, uint64_t total, uint16_t minBlock = 4096,
                   uint16_t maxBlock = 4096)
{
    ByteVec body;
    PutBe(body, minBlock, 2), PutBe(body, maxBlock, 2), PutBe(body, 0, 6);
    PutBe(body, uint64_t(rate) << 44 | uint64_t(channels - 1) << 41 | uint64_t(bits - 1) << 36 | total, 8);
    body.resize(34);
    return Block(0, last, body);
}

ByteVec Flac(std::initializer_list<ByteVec> blocks, size_t frameBytes = 1000)
{
    ByteVec f = {'f', 'L', 'a', 'C'};
    for (const ByteVec& b : blocks)
        mdtest::Append(f, b);
    f.resize(f.size() + frameBytes, 0xA5);
    return f;
}

TEST(Flac, StreamInfoAndTheMetadataChain)
{
    // 96000 samples at 48 kHz: 2 s; 1000 bytes of frames over 2 s: 500 bytes/s.
    const ByteVec info = StreamInfo(false, 48000, 2, 24, 96000);
    const ByteVec padding = Block(1, true, ByteVec(10));
    const char* kTwoSeconds = "flac 2ch 48000Hz 24b 500B/s t=20000000";
    ByteVec endless = Flac({info}, 0);  // a chain that never sets its last flag
    for (int i = 0; i < 5000; ++i)
        mdtest::Append(endless, Block(1, false, {}));
    endless.resize(endless.size() + 1000, 0xA5);
    const mdtest::FileRow rows[] = {
        {"STREAMINFO alone, the last block", Flac({StreamInfo(true, 48000, 2, 24, 96000)}), kTwoSeconds},
        {"after ID3v2 tags", mdtest::Concat({ByteVec{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20}, ByteVec(20),
                                             Flac({info, padding})}), kTwoSeconds},
        {"total samples 0: no duration, no byte rate", Flac({StreamInfo(true, 44100, 2, 16, 0)}),
         "flac 2ch 44100Hz 16b t=?"},
        {"the largest total samples (36 bits) at 1 Hz", Flac({StreamInfo(true, 1, 1, 8, (uint64_t(1) << 36) - 1)}, 0),
         "flac 1ch 1Hz 8b t=687194767350000000"},
        {"7.1: L R C LFE BL BR SL SR", Flac({StreamInfo(true, 48000, 8, 16, 48000)}, 0),
         "flac 8ch 48000Hz 16b mask 63F t=10000000"},
        {"a 4 MiB picture is skipped by its length", Flac({info, Block(6, false, ByteVec(4 << 20)), padding}),
         kTwoSeconds},
        {"a block past the end: no frames found", Flac({info, Block(4, true, ByteVec(10), 0xFFFFFF)}),
         "flac 2ch 48000Hz 24b t=20000000"},
        {"a chain without a last block: the description stands", endless, "flac 2ch 48000Hz 24b t=20000000"},
        {"cut inside STREAMINFO: a FLAC file, no record", Flac({mdtest::Cut(info, 8)}, 0), "no record t=?"},
        {"padding before STREAMINFO: not FLAC", Flac({Block(1, false, ByteVec(4)), info, padding}), "not taken"},
    };
    for (const auto& row : rows) {
        uint64_t bytesRead = 0;
        EXPECT_EQ(mdtest::Opened<md::FlacDemux>(row.file, &bytesRead), row.expected) << row.what;
        // The pieces of metadata that hold the block headers, never a large block's body.
        EXPECT_LT(bytesRead, 2 * md::kFlacMetadataReadBytes) << row.what;
    }

    // One block size gives the frames' duration (4096 samples at 48 kHz); block sizes that vary give none.
    const auto frame = [](const ByteVec& file) {
        md::MemoryInputStream in(file);
        md::FlacDemux demux;
        demux.Parse(&in, nullptr);
        return demux.Times().range.audioFrameDuration;
    };
    EXPECT_EQ(std::pair(frame(Flac({info, padding})), frame(Flac({StreamInfo(true, 44100, 1, 16, 44100, 1152, 4608)}))),
              std::pair(853333u, 0u));
}

}  // namespace
