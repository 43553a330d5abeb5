// Raw DV files built frame by frame: the probe's test, the records of the first frame and their stream ids, and the
// duration from the whole frames of the file (frames x 1001/30000 s truncated to 100 ns; the frame duration itself
// rounded, 333667).
#include "dv/dv_demux.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "support/dv_builders.h"

namespace {

using mdtest::AauxSource;
using mdtest::DvFrameFields;

std::vector<uint8_t> Frames(const DvFrameFields& f, int count, size_t extra = 0)
{
    const std::vector<uint8_t> frame = mdtest::DvFrame(f);
    std::vector<uint8_t> file;
    for (int k = 0; k < count; ++k)
        file.insert(file.end(), frame.begin(), frame.end());
    file.insert(file.end(), frame.begin(), frame.begin() + ptrdiff_t(std::min(extra, frame.size())));
    return file;
}

struct Parsed {
    uint32_t result = 0;
    std::vector<std::tuple<md::StreamClass, uint32_t, uint32_t>> records;  // class, id, channels or height
    int64_t videoEnd = -1, audioEnd = -1;
    uint32_t frameDuration = 0;
};

Parsed Parse(const std::vector<uint8_t>& file)
{
    md::MemoryInputStream in(file.data(), file.size());
    md::DvDemux demux;
    md::StreamList streams;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    for (uint32_t i = 0; i < streams.Count(); ++i) {
        const md::StreamRecord& r = *streams.At(i);
        p.records.emplace_back(r.streamClass, r.streamId,
                               r.streamClass == md::StreamClass::Video ? r.video.height : r.audio.channels);
    }
    const TimeRangeInfo& t = demux.Times().range;
    p.videoEnd = t.videoEndTime, p.audioEnd = t.audioEndTime, p.frameDuration = t.videoFrameDuration;
    return p;
}

TEST(Dv, RecordsAndDuration)
{
    using C = md::StreamClass;
    DvFrameFields ntsc;
    ntsc.audio = {AauxSource{0, 0, 0, 0}, AauxSource{0, 0, 0, 1}};
    DvFrameFields pal = ntsc;
    pal.pal = true;
    DvFrameFields pairs;  // 32 kHz 12-bit, two channels per audio block: two stereo streams
    pairs.audio = {AauxSource{2, 1, 1, 0}, AauxSource{2, 1, 1, 0xF}};
    DvFrameFields silent;  // no AAUX source pack

    const auto Pal = [&](int frames, size_t extra = 0) { return Frames(pal, frames, extra); };
    const auto Slice = [](const std::vector<uint8_t>& b, size_t from, size_t to) {
        return std::vector<uint8_t>(b.begin() + ptrdiff_t(from), b.begin() + ptrdiff_t(to));
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        Parsed expected;
    } cases[] = {
        {"three 625/50 frames: 3 x 1/25 s",
         Pal(3),
         {1, {{C::Video, 1, 576}, {C::Audio, 2, 2}}, 1200000, 1200000, 400000}},
        {"two 525/60 frames: 2 x 1001/30000 s",
         Frames(ntsc, 2),
         {1, {{C::Video, 1, 480}, {C::Audio, 2, 2}}, 667333, 667333, 333667}},
        {"a frame cut short after the whole ones is not counted",
         Pal(2, 70000),
         {1, {{C::Video, 1, 576}, {C::Audio, 2, 2}}, 800000, 800000, 400000}},
        {"inside the first frame: described, no duration",
         Pal(0, 70000),
         {1, {{C::Video, 1, 576}, {C::Audio, 2, 2}}, -1, -1, 0}},
        {"two audio pairs: ids 2 and 3",
         Frames(pairs, 1),
         {1, {{C::Video, 1, 480}, {C::Audio, 2, 2}, {C::Audio, 3, 2}}, 333666, 333666, 333667}},
        {"no audio: video times only", Frames(silent, 1), {1, {{C::Video, 1, 480}}, 333666, -1, 333667}},
        {"a frame starting at its second sequence", Slice(Pal(1), 12000, 144000), {0, {}, -1, -1, 0}},
        {"the first 600 bytes: no frame start", Slice(Pal(1), 0, 600), {0, {}, -1, -1, 0}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.videoEnd, p.audioEnd, p.frameDuration),
                  std::tuple(e.result, e.records, e.videoEnd, e.audioEnd, e.frameDuration))
            << c.what;
        EXPECT_EQ(md::ProbeDv({.head = c.file}), e.result == 1) << c.what;
    }
}

}  // namespace
