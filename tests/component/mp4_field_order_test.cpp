// The field-order scans over the first samples of an MP4 video track: the H.264 slice scan on field and MBAFF
// samples and the MPEG-4 Visual first-sample scan.
#include <gtest/gtest.h>

#include "component/mp4_field_order.h"
#include "input/memory_input_stream.h"
#include "mp4/m4_demux.h"
#include "support/mp4_builders.h"
#include "support/stream_builders.h"

namespace {

using namespace md;
using namespace mdtest;

constexpr uint32_t kUntouched = 7;  // no scan writes it
constexpr double kRate = 50.0;

// Runs the H.264 slice scan (slices) or the MPEG-4 Visual scan: field order, rate, box tree kept.
std::tuple<uint32_t, double, bool> Scan(const Bytes8& file, bool slices)
{
    MemoryInputStream input(file.data(), file.size());
    std::unique_ptr<md::Mp4Box> boxes;
    uint32_t order = kUntouched;
    double rate = kRate;
    slices ? ScanMp4SliceFieldOrder(boxes, input, order, rate) : ScanMp4FirstSampleFieldOrder(boxes, input, order);
    return {order, rate, boxes != nullptr};
}

Bytes8 VideoFile(Bytes8 entry, std::vector<Bytes8> samples)
{
    return Mp4File({.tracks = {{.sampleEntry = entry, .timeScale = 50000, .sampleDelta = 1000, .samples = samples}}});
}

// Interlaced 1920x1080: MBAFF frames or field pictures.
AvcSpsFields Sps(bool mbaff, uint32_t pocType = 0)
{
    return {.heightMapUnitsMinus1 = 33, .frameMbsOnly = false, .mbAdaptiveFrameField = mbaff, .cropBottom = 2,
            .log2MaxFrameNumMinus4 = 2, .pocType = pocType, .log2MaxPocLsbMinus4 = 4};
}

// A file of samples, each the given slices (after the leading units of the first).
Bytes8 AvcFile(const AvcSpsFields& sps, const AvcPpsFields& pps, std::vector<std::vector<AvcSliceFields>> samples,
               std::vector<Bytes8> leading = {})
{
    std::vector<Bytes8> out;
    for (const auto& slices : samples) {
        std::vector<Bytes8> units = out.empty() ? leading : std::vector<Bytes8>{};
        for (const AvcSliceFields& s : slices)
            units.push_back(AvcSliceNal(sps, pps, s));
        out.push_back(LengthPrefixed(units));
    }
    return VideoFile(Avc1Entry(1920, 1080, {AvcSpsNal(sps)}, {AvcPpsNal(pps)}), out);
}

AvcSliceFields Field(bool idr, bool bottom) { return {idr, true, bottom, 0, 0}; }
AvcSliceFields Frame(bool idr, int32_t deltaBottom) { return {idr, false, false, 4, deltaBottom}; }

TEST(Mp4FieldOrder, SliceAndFirstSampleScans)
{
    const AvcPpsFields delta{true}, noDelta{false};
    const Bytes8 sei = {0x06, 0x05, 0x08, 'x', '2', '6', '4', ' ', 'c', 'o', 'r', 0x80}, aud = {0x09, 0xF0};
    const AvcSpsFields sps = Sps(false);
    const Bytes8 avc1 = Avc1Entry(1920, 1080, {AvcSpsNal(sps)}, {AvcPpsNal({})});
    const std::vector<Bytes8> twoFields = {LengthPrefixed({AvcSliceNal(sps, {}, Field(true, true))}),
                                           LengthPrefixed({AvcSliceNal(sps, {}, Field(false, false))})};
    // {what, file, field order, rate}: one field per sample halves the rate; lacking what the scan needs, nothing
    // changes.
    const std::tuple<const char*, Bytes8, uint32_t, double> cases[] = {
        {"MBAFF, delta < 0", AvcFile(Sps(true), delta, {{Frame(true, -1)}, {Frame(false, -1)}}), 2, kRate},
        {"MBAFF, delta > 0", AvcFile(Sps(true), delta, {{Frame(true, 1)}, {Frame(false, 1)}}, {aud, sei}), 1, kRate},
        {"POC type 2", AvcFile(Sps(true, 2), delta, {{Frame(true, 0)}, {Frame(false, 0)}}), 1, kRate},
        {"two fields", AvcFile(sps, noDelta, {{Field(1, 0), Field(1, 1)}, {Field(0, 0), Field(0, 1)}}), 1, kRate},
        {"one field", AvcFile(sps, delta, {{Field(true, true)}, {Field(false, false)}}, {sei}), 2, kRate / 2},
        {"one sample", AvcFile(sps, noDelta, {{Field(true, true)}}), 2, kRate},
        {"no PPS", VideoFile(Avc1Entry(1920, 1080, {AvcSpsNal(sps)}, {}), twoFields), kUntouched, kRate},
        {"2-byte sample at the end", VideoFile(avc1, {{0, 0}}), kUntouched, kRate},
        {"SEI only", VideoFile(avc1, {LengthPrefixed({{0x06, 0x05, 0x01, 0x00, 0x80}})}), kUntouched, kRate},
    };
    for (const auto& [name, file, order, rate] : cases)
        EXPECT_EQ(Scan(file, true), std::tuple(order, rate, true)) << name;
    EXPECT_EQ(Scan(Bytes8(5000, 0x47), true), std::tuple(kUntouched, kRate, false));

    // MPEG-4 Visual: {vop_time_increment_resolution, its significant bits, GOV first, top_field_first}.
    const std::tuple<uint16_t, int, bool, bool> vops[] = {
        {30000, 15, false, true}, {16, 5, true, false}, {1, 1, false, false}};
    for (const auto& [resolution, bits, gov, top] : vops) {
        const Bytes8 sample = Concat({gov ? Mpeg4GroupOfVop() : Bytes8{}, Mpeg4IVopHeader(bits, top)});
        const Bytes8 file = VideoFile(Mp4vEntry(720, 576, Mpeg4Vol(720, 576, resolution, true)), {sample, sample});
        EXPECT_EQ(Scan(file, false), std::tuple(top ? 1u : 2u, kRate, true)) << resolution;
    }
    const Bytes8 vop = Mpeg4IVopHeader(5, true);  // cut at 40 of the 47 bits up to top_field_first
    const Bytes8 mp4v = Mp4vEntry(720, 576, Mpeg4Vol(720, 576, 25, true));
    EXPECT_EQ(std::get<0>(Scan(VideoFile(mp4v, {Bytes8(vop.begin(), vop.begin() + 5)}), false)), kUntouched);
    EXPECT_EQ(Scan(Bytes8(3000, 0), false), std::tuple(kUntouched, kRate, false));
}

}  // namespace
