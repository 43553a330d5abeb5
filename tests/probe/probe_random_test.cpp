// Random data is never taken for a structured container (as FFmpeg's tools/probetest.c checks): pseudo-random
// buffers of many sizes, and of start-code-rich bytes, are neither transport, DirecTV, program stream nor
// elementary video, while transport packets at their start are still found.
#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "mediadetect/records.h"
#include "probe/probe.h"
#include "support/stream_builders.h"

namespace {

int32_t Probe(const mdtest::ByteVec& bytes)
{
    md::MemoryInputStream s(bytes.data(), bytes.size());
    return ProbeMediaKind(&s, 0);
}

TEST(ProbeRandomData, IsNeverTakenForAStructuredKind)
{
    const mdtest::ByteVec ts = mdtest::TsStream(188, 12);  // 2256 bytes
    const size_t sizes[] = {1, 1301, 2041, 2049, 117600, kProbeBufferSize + 50000};
    for (size_t size : sizes) {
        for (uint32_t seed = 1; seed <= 12; ++seed) {
            auto bytes = mdtest::RandomBytes(size, seed * 1000003u + uint32_t(size));
            EXPECT_EQ(std::tuple(Probe(bytes), md::ProbeCdxa(bytes.data(), std::min<size_t>(size, kProbeBufferSize))),
                      std::tuple(0, 0))
                << "size " << size << " seed " << seed;
            if (size >= ts.size()) {
                std::copy(ts.begin(), ts.end(), bytes.begin());
                EXPECT_EQ(Probe(bytes), MK_MPEG2_TRANSPORT) << "size " << size << " seed " << seed;
            }
        }
    }
    // Bytes drawn mostly from {00, 01, BA, B3, E0, 47}: many start-code prefixes and sync bytes, no structure.
    static constexpr uint8_t kAlphabet[] = {0x00, 0x00, 0x00, 0x01, 0xBA, 0xB3, 0xE0, 0x47, 0xFF, 0x21};
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        auto bytes = mdtest::RandomBytes(200000, seed);
        for (auto& b : bytes)
            b = kAlphabet[b % sizeof(kAlphabet)];
        const uint32_t kind = uint32_t(Probe(bytes));
        EXPECT_TRUE(kind != MK_MPEG2_TRANSPORT && kind != MK_DIRECTV && (kind < MK_MPEG1_VIDEO_ES || kind > MK_MPEG4_VIDEO_ES))
            << seed << ": " << kind;
    }
    // The DirecTV test alone looks only at the top bit of bytes 130 apart and accepts most random data: the
    // host's hint alone guards it.
    const auto bytes = mdtest::RandomBytes(65536, 42);
    EXPECT_EQ(std::tuple(ProbeDirecTV(bytes.data(), bytes.size()), Probe(bytes)), std::tuple(MK_DIRECTV, 0));
}

}  // namespace
