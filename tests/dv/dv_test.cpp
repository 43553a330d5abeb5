// Raw DV files built frame by frame: the stream ids, the duration from the whole frames of the file, the times of
// a file without audio, and the probe.
#include "dv/dv_demux.h"

#include <gtest/gtest.h>

#include <string>

#include "input/memory_input_stream.h"
#include "support/dv_builders.h"
#include "support/stream_builders.h"

namespace {

// "result: v1 a2x2 ... videoEnd audioEnd" (audio: id x channels), the ends in 100-ns units (-1: none).
std::string Parse(const std::vector<uint8_t>& file)
{
    md::MemoryInputStream in(file.data(), file.size());
    md::DvDemux demux;
    md::StreamList streams;
    std::string out = std::to_string(demux.Parse(&in, &streams)) + ":";
    for (uint32_t i = 0; i < streams.Count(); ++i) {
        const md::StreamRecord& r = *streams.At(i);
        out += r.streamClass == md::StreamClass::Video
                   ? " v" + std::to_string(r.streamId)
                   : " a" + std::to_string(r.streamId) + "x" + std::to_string(r.audio.channels);
    }
    const TimeRangeInfo& t = demux.Times().range;
    return out + " " + std::to_string(t.videoEndTime) + " " + std::to_string(t.audioEndTime);
}

TEST(Dv, RecordsAndDuration)
{
    using mdtest::AauxSource;
    const std::vector<uint8_t> pal = mdtest::DvFrame({.pal = true, .audio = {AauxSource{}, AauxSource{0, 0, 0, 1}}});
    const std::span<const uint8_t> palBytes(pal);
    // Whole frames x 1/25 or 1001/30000 s, truncated to 100 ns.
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        const char* expected;
    } cases[] = {
        {"two 625/50 frames and part of a third", mdtest::Concat({pal, pal, palBytes.first(70000)}),
         "1: v1 a2x2 800000 800000"},
        {"inside the first frame: described, no duration", mdtest::Concat({palBytes.first(70000)}), "1: v1 a2x2 -1 -1"},
        {"two audio pairs of a 525/60 frame: ids 2 and 3",
         mdtest::DvFrame({.audio = {AauxSource{2, 1, 1, 0}, AauxSource{2, 1, 1, 0xF}}}),
         "1: v1 a2x2 a3x2 333666 333666"},
        {"no audio: video times only", mdtest::DvFrame({}), "1: v1 333666 -1"},
        {"a frame of another format (STYPE): recognised, not described", mdtest::DvFrame({.stype = 0x14}), "1: -1 -1"},
        {"the first 600 bytes: no frame start", mdtest::Concat({palBytes.first(600)}), "0: -1 -1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.file), c.expected) << c.what;
        EXPECT_EQ(md::ProbeDv({.head = c.file}), c.expected[0] == '1') << c.what;
    }
    EXPECT_EQ(md::DvDemux().Parse(nullptr, nullptr), 0u);
}

}  // namespace
