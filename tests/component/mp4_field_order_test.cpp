// The field-order scans over the first samples of an MP4 video track: the H.264
// slice scan on synthetic field and MBAFF samples (the interlaced corpus file is
// in conformance_test.cpp) and the MPEG-4 Visual first-sample scan on synthetic
// pictures.
#include <gtest/gtest.h>

#include <memory>

#include "component/mp4_field_order.h"
#include "input/memory_input_stream.h"
#include "mp4/m4_demux.h"
#include "support/mp4_builders.h"

namespace {

using namespace md;
using mdtest::AvcPpsFields;
using mdtest::AvcSliceFields;
using mdtest::AvcSpsFields;
using mdtest::Bytes8;
using mdtest::Mp4FileLayout;
using mdtest::Mp4TrackLayout;

// Values no scan writes, so that "unchanged" can be told from a result.
constexpr uint32_t kUntouchedOrder = 7;
constexpr double kFrameRate = 50.0;

struct ScanResult {
    uint32_t fieldOrder = kUntouchedOrder;
    double frameRate = kFrameRate;
    bool treeKept = false;
};

// Runs the H.264 slice scan (or the MPEG-4 Visual first-sample scan) over file.
ScanResult Scan(const Bytes8& file, bool slices)
{
    MemoryInputStream input(file.data(), file.size());
    std::unique_ptr<Mp4Box> boxes;
    ScanResult r;
    if (slices)
        ScanMp4SliceFieldOrder(boxes, input, r.fieldOrder, r.frameRate);
    else
        ScanMp4FirstSampleFieldOrder(boxes, input, r.fieldOrder);
    r.treeKept = boxes != nullptr;
    return r;
}

ScanResult SliceScan(const Bytes8& file) { return Scan(file, true); }
ScanResult FirstSampleScan(const Bytes8& file) { return Scan(file, false); }

Bytes8 VideoFile(Bytes8 entry, std::vector<Bytes8> samples)
{
    Mp4TrackLayout t;
    t.sampleEntry = std::move(entry);
    t.timeScale = 50000;
    t.sampleDelta = 1000;
    t.samples = std::move(samples);
    Mp4FileLayout layout;
    layout.tracks = {t};
    return mdtest::Mp4File(layout);
}

// An interlaced 1920x1080 stream: MBAFF frames, or field pictures.
AvcSpsFields InterlacedSps(bool mbaff)
{
    AvcSpsFields f;
    f.frameMbsOnly = false;
    f.mbAdaptiveFrameField = mbaff;
    f.heightMapUnitsMinus1 = 33;
    f.cropBottom = 2;
    f.log2MaxFrameNumMinus4 = 2;
    f.log2MaxPocLsbMinus4 = 4;
    return f;
}

Bytes8 Avc1(const AvcSpsFields& sps, const AvcPpsFields& pps)
{
    return mdtest::Avc1Entry(1920, 1080, {mdtest::AvcSpsNal(sps)}, {mdtest::AvcPpsNal(pps)});
}

// A sample holding the given slices, each as its own NAL unit.
Bytes8 Sample(const AvcSpsFields& sps, const AvcPpsFields& pps, std::vector<AvcSliceFields> slices,
              std::vector<Bytes8> leading = {})
{
    std::vector<Bytes8> units = std::move(leading);
    for (const AvcSliceFields& s : slices)
        units.push_back(mdtest::AvcSliceNal(sps, pps, s));
    return mdtest::LengthPrefixed(units);
}

AvcSliceFields Field(bool idr, bool bottom) { return {idr, true, bottom, 0, 0}; }
AvcSliceFields Frame(bool idr, int32_t deltaBottom) { return {idr, false, false, 4, deltaBottom}; }

TEST(Mp4FieldOrder, SliceParityOfFramesAndFields)
{
    const AvcPpsFields withDelta{true};
    const AvcPpsFields noDelta{false};
    const AvcSpsFields mbaff = InterlacedSps(true);
    const AvcSpsFields fields = InterlacedSps(false);
    AvcSpsFields poc2 = mbaff;
    poc2.pocType = 2;
    // SEI and access-unit-delimiter NAL units that may open a sample.
    const Bytes8 sei = {0x06, 0x05, 0x08, 'x', '2', '6', '4', ' ', 'c', 'o', 'r', 0x80};
    const Bytes8 aud = {0x09, 0xF0};

    struct Case {
        const char* name;
        AvcSpsFields sps;
        AvcPpsFields pps;
        std::vector<Bytes8> samples;
        uint32_t order;
        double rate;
    };
    const Case cases[] = {
        {"MBAFF, bottom field first (negative delta_pic_order_cnt_bottom)", mbaff, withDelta,
         {Sample(mbaff, withDelta, {Frame(true, -1)}), Sample(mbaff, withDelta, {Frame(false, -1)})}, 2, kFrameRate},
        {"MBAFF, top field first", mbaff, withDelta,
         {Sample(mbaff, withDelta, {Frame(true, 1)}, {aud, sei}), Sample(mbaff, withDelta, {Frame(false, 1)}, {aud})},
         1, kFrameRate},
        {"frames without delta_pic_order_cnt_bottom", mbaff, noDelta,
         {Sample(mbaff, noDelta, {Frame(true, 0)}), Sample(mbaff, noDelta, {Frame(false, 0)})}, 1, kFrameRate},
        {"picture order count type 2 carries no bottom-field delta", poc2, withDelta,
         {Sample(poc2, withDelta, {Frame(true, 0)}), Sample(poc2, withDelta, {Frame(false, 0)})}, 1, kFrameRate},
        {"both fields in each sample", fields, noDelta,
         {Sample(fields, noDelta, {Field(true, false), Field(true, true)}),
          Sample(fields, noDelta, {Field(false, false), Field(false, true)})},
         1, kFrameRate},
        {"one field per sample, top first: the samples count fields", fields, noDelta,
         {Sample(fields, noDelta, {Field(true, false)}), Sample(fields, noDelta, {Field(false, true)})}, 1,
         kFrameRate / 2},
        {"one field per sample, bottom first", fields, withDelta,
         {Sample(fields, withDelta, {Field(true, true)}, {sei}), Sample(fields, withDelta, {Field(false, false)})}, 2,
         kFrameRate / 2},
        {"a single sample", fields, noDelta, {Sample(fields, noDelta, {Field(true, true)})}, 2, kFrameRate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScanResult r = SliceScan(VideoFile(Avc1(c.sps, c.pps), c.samples));
        EXPECT_EQ(r.fieldOrder, c.order);
        EXPECT_DOUBLE_EQ(r.frameRate, c.rate);
        EXPECT_TRUE(r.treeKept);
    }
}

TEST(Mp4FieldOrder, ScansWithoutWhatTheyNeedChangeNothing)
{
    const AvcSpsFields sps = InterlacedSps(false);
    const AvcPpsFields pps{};
    const std::vector<Bytes8> samples = {Sample(sps, pps, {Field(true, true)}), Sample(sps, pps, {Field(false, false)})};
    const Bytes8 vop = mdtest::Mpeg4IVopHeader(5, true);
    const Bytes8 mp4v = mdtest::Mp4vEntry(720, 576, mdtest::Mpeg4Vol(720, 576, 25, true));
    const std::pair<const char*, Bytes8> sliceCases[] = {
        {"no picture parameter set in 'avcC'",
         VideoFile(mdtest::Avc1Entry(1920, 1080, {mdtest::AvcSpsNal(sps)}, {}), samples)},
        {"an 'mp4v' video track", VideoFile(mp4v, samples)},
        {"a sample of two bytes at the very end of the file", VideoFile(Avc1(sps, pps), {{0x00, 0x00}})},
        {"a sample of SEI units only",
         VideoFile(Avc1(sps, pps), {mdtest::LengthPrefixed({{0x06, 0x05, 0x01, 0x00, 0x80}})})},
        {"not an MP4 file", Bytes8(5000, 0x47)},
    };
    for (const auto& [name, file] : sliceCases) {
        SCOPED_TRACE(name);
        const ScanResult r = SliceScan(file);
        EXPECT_EQ(r.fieldOrder, kUntouchedOrder);
        EXPECT_DOUBLE_EQ(r.frameRate, kFrameRate);
    }
    EXPECT_FALSE(SliceScan(Bytes8(5000, 0x47)).treeKept);

    const std::pair<const char*, Bytes8> firstSampleCases[] = {
        {"decoder-specific info without a video object layer",
         VideoFile(mdtest::Mp4vEntry(720, 576, Bytes8{0x00, 0x00, 0x01, 0xB0, 0xF5}), {vop})},
        {"a sample without a picture start code", VideoFile(mp4v, {mdtest::Mpeg4GovHeader()})},
        // 40 of the 47 bits up to top_field_first.
        {"a picture header cut short by the end of the file", VideoFile(mp4v, {Bytes8(vop.begin(), vop.begin() + 5)})},
        {"not an MP4 file", Bytes8(3000, 0)},
    };
    for (const auto& [name, file] : firstSampleCases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FirstSampleScan(file).fieldOrder, kUntouchedOrder);
    }
    EXPECT_FALSE(FirstSampleScan(Bytes8(3000, 0)).treeKept);
}

// ---- MPEG-4 Visual ------------------------------------------------------------------

TEST(Mp4FieldOrder, Mpeg4FirstSample)
{
    struct Case {
        uint16_t resolution;
        int incrementBits;  // significant bits of the resolution
        bool withGov;
        bool topFirst;
    };
    const Case cases[] = {
        {25, 5, true, true}, {25, 5, true, false}, {30000, 15, false, true}, {16, 5, true, false}, {1, 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "resolution " << c.resolution << (c.withGov ? " after a GOV" : ""));
        Bytes8 sample = c.withGov ? mdtest::Mpeg4GovHeader() : Bytes8{};
        const Bytes8 vop = mdtest::Mpeg4IVopHeader(c.incrementBits, c.topFirst);
        sample.insert(sample.end(), vop.begin(), vop.end());
        const Bytes8 entry = mdtest::Mp4vEntry(720, 576, mdtest::Mpeg4Vol(720, 576, c.resolution, true));
        const ScanResult r = FirstSampleScan(VideoFile(entry, {sample, sample}));
        EXPECT_EQ(r.fieldOrder, c.topFirst ? 1u : 2u);
        EXPECT_TRUE(r.treeKept);
    }
}

// The scans never read outside the file whatever its boxes and samples say.
TEST(Mp4FieldOrder, DamagedFilesAreSafe)
{
    const AvcSpsFields sps = InterlacedSps(true);
    const AvcPpsFields pps{true};
    const Bytes8 avc =
        VideoFile(Avc1(sps, pps), {Sample(sps, pps, {Frame(true, -1)}), Sample(sps, pps, {Frame(false, 1)})});
    const Bytes8 mp4v = VideoFile(mdtest::Mp4vEntry(720, 576, mdtest::Mpeg4Vol(720, 576, 25, true)),
                                  {mdtest::Mpeg4IVopHeader(5, true)});
    uint32_t state = 99;
    for (const Bytes8* file : {&avc, &mp4v}) {
        for (int round = 0; round < 300; ++round) {
            Bytes8 damaged = *file;
            for (int k = 0; k < 3; ++k) {
                state = state * 1103515245 + 12345;
                damaged[(state >> 8) % damaged.size()] ^= static_cast<uint8_t>(1 + (state >> 24) % 255);
            }
            for (uint32_t order : {SliceScan(damaged).fieldOrder, FirstSampleScan(damaged).fieldOrder})
                EXPECT_TRUE(order == kUntouchedOrder || order == 1 || order == 2) << order;
        }
    }
}

}  // namespace
