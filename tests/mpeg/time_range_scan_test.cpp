// Time range of program streams on forms the corpus lacks: an unusable frame duration, CDXA sectors, a closed GOP.
#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "mpeg/cdxa.h"
#include "mpeg/time_range_scan.h"
#include "support/counting_input_stream.h"
#include "support/bit_writer.h"
#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;

const ByteVec kEndCode = {0x00, 0x00, 0x01, 0xB9};

int64_t Units(int64_t ticks) { return ticks * 1000 / 9; }

// Sequence header (25 fps, bit_rate_value 15000: 750,000 bytes/s), GOP, picture.
ByteVec VideoEs(bool closedGop = false, uint16_t temporalReference = 0, bool mpeg2 = true)
{
    return Concat({mdtest::VideoSequenceHeader(720, 576, 2, 3, mpeg2), mdtest::GopHeaderFlags(closedGop),
                   mdtest::PictureHeaderFields(temporalReference, 1), mdtest::SliceStart()});
}

// One Layer II frame, 192 kbit/s at 48 kHz: 576 bytes, 24 ms (240000 units).
ByteVec AudioFrame() { return mdtest::MpegAudioFrame(2, 10, 1, 0, 576); }

TEST(TimeRangeScanTest, SyntheticStreams)
{
    // An MPEG-4 Visual VOL with fixed_vop_rate at 1 frame a second (a one-bit increment): 352x288.
    const ByteVec vol = mdtest::Bits("32:0x120 1:0 8:1 1:0 4:1 1:0 2:0 1:1 16:1 1:1 1:1 1:1 1:1 13:352 1:1 13:288 1:1");
    const ByteVec vop = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x55, 0x55, 0x55};  // vop_coding_type 0: I-VOP
    ByteVec mpeg4 = mdtest::Mpeg2Pack(
        0, {mdtest::PesPacket(0xE0, Concat({vol, vop}), 2 * 90000), mdtest::PesPacket(0xC0, AudioFrame())});
    for (uint64_t k = 1; k < 16; ++k)
        mdtest::Append(mpeg4, mdtest::Mpeg2Pack(900 * k, {mdtest::PesPacket(0xC0, AudioFrame(), 90000 + 9000 * k)}));
    mdtest::Append(mpeg4, kEndCode);
    // A RIFF/CDXA file of VCD sectors whose first sector's submode (byte 18) lacks the Form 2 bit.
    std::vector<ByteVec> sectors;
    for (uint64_t k = 0; k < 60; ++k)
        sectors.push_back(mdtest::Mpeg1Pack(
            1200 * k, {mdtest::Mpeg1PesPacket(0xE0, VideoEs(false, 0, false), 90000 + 3600 * k)}, 2324, 3528));
    ByteVec cdxa = mdtest::CdxaFile(sectors);
    cdxa[md::kCdxaDataOffset + 18] &= static_cast<uint8_t>(~0x20);

    const ByteVec single = Concat({mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xE0, VideoEs(), 90000)}), kEndCode});

    // {kind, file, {start, video first, audio first, video end, audio end, frame durations}}; no start: no range
    using Range = std::array<int64_t, 7>;
    const std::tuple<uint32_t, ByteVec, Range> rows[] = {
        // A frame duration above 600,000 is dropped: the start is the earlier of the first video and audio times and
        // no video end is looked for; the first audio frame has no time, the first timed one gives the audio start.
        {MK_MPEG2_PROGRAM_MPEG4, mpeg4, {Units(99000), 20000000, Units(99000), 0, Units(225000) + 240000, 0, 240000}},
        // The sector without Form 2 is not fed: the first video time is that of the next sector; the padding packet
        // after the last sector's video packet completes it.
        {MK_VCD, cdxa, {Units(93600), Units(93600), -1, Units(90000 + 3600 * 59) + 400000, 0, 400000, 0}},
        // A kind without a program stream, an empty file, a single pack (which cannot measure a byte rate).
        {MK_MPEG2_TRANSPORT, cdxa, {}},
        {MK_MPEG2_PROGRAM, {}, {}},
        {MK_MPEG2_PROGRAM, single, {}}};
    for (const auto& [kind, file, e] : rows) {
        md::MemoryInputStream memory(file.data(), file.size());
        md::test::CountingInputStream stream(memory);
        TimeRangeInfo r{};
        ASSERT_EQ(md::ScanProgramStreamTimeRange(stream, kind, r), e[0] != 0) << kind << " " << file.size();
        const Range got = {r.startTime,    r.videoFirstTime,     r.audioFirstTime,    r.videoEndTime,
                           r.audioEndTime, r.videoFrameDuration, r.audioFrameDuration};
        EXPECT_EQ(e[0] != 0 ? got : Range{}, e);
        // Each pass over the end reads from its start to the end of the file, and says so first.
        EXPECT_TRUE(e[0] == 0 || !stream.Announced().empty());
        for (const auto& [start, end] : stream.Announced())
            EXPECT_TRUE(start < end && end == file.size()) << start << " " << end;
    }
}

// A whole file of one pack: with MD_EXT_TIME_RANGES its one AC-3 packet times the three syncframes it announces
// (1536 samples each at 44.1 kHz), and the ends stand though one pack gives no byte rate to check them against.
TEST(TimeRangeScanTest, OnePackFiles)
{
    // 96 kbit/s at 44.1 kHz: a 416-byte frame, then two 418-byte frames with their padding word.
    const ByteVec frames = Concat({mdtest::Ac3FrameStart(1, 12, 8, 1, false, 416),
                                   mdtest::Ac3FrameStart(1, 13, 8, 1, false, 418),
                                   mdtest::Ac3FrameStart(1, 13, 8, 1, false, 418)});
    const ByteVec ac3 =
        mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xBD, Concat({ByteVec{0x80, 3, 0, 1}, frames}), 45000)});
    const ByteVec video = Concat({mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xE0, VideoEs(), 90000)}), kEndCode});
    const int64_t frame = 348299;  // 1536 / 44100 s
    // DTS on sub-stream 0x88: two 1001-byte core frames of 16 blocks of 32 samples at 48 kHz (106666 units each);
    // the decoder takes no unit size from a DTS header, so the packet is one unit, its end one frame on.
    ByteVec dtsFrame = mdtest::DtsFrameStart(15, 13, 24);
    dtsFrame.resize(1001, 0x55);
    const ByteVec dts = mdtest::Mpeg2Pack(
        0, {mdtest::PesPacket(0xBD, Concat({ByteVec{0x88, 2, 0, 1}, dtsFrame, dtsFrame}), 45000)});
    using Range = std::array<int64_t, 7>;  // start, video first, audio first, video end, audio end, frame durations
    const std::tuple<const char*, ByteVec, uint32_t, Range> rows[] = {
        {"AC-3, base rules", ac3, 0, {}},
        {"AC-3, time ranges", ac3, MD_EXT_TIME_RANGES,
         {Units(45000), -1, Units(45000), 0, Units(45000) + 3 * frame, 0, frame}},
        {"DTS, time ranges", dts, MD_EXT_TIME_RANGES,
         {Units(45000), -1, Units(45000), 0, Units(45000) + 106666, 0, 106666}},
        // The sequence header's time, one 25 Hz frame on.
        {"video, time ranges", video, MD_EXT_TIME_RANGES,
         {Units(90000), Units(90000), -1, Units(90000) + 400000, 0, 400000, 0}},
    };
    for (const auto& [what, file, extensions, e] : rows) {
        md::MemoryInputStream stream(file.data(), file.size());
        TimeRangeInfo r{};
        ASSERT_EQ(md::ScanProgramStreamTimeRange(stream, MK_MPEG2_PROGRAM, r, md::ProgramStreamTimeRulesOf(extensions)),
                  e[0] != 0)
            << what;
        const Range got = {r.startTime,    r.videoFirstTime,     r.audioFirstTime,    r.videoEndTime,
                           r.audioEndTime, r.videoFrameDuration, r.audioFrameDuration};
        EXPECT_EQ(e[0] != 0 ? got : Range{}, e) << what;
    }
}

// Bytes between the first and last pack header over their clocks; a clock that falls or goes back continues on.
TEST(TimeRangeScanTest, ByteRateFromPackClocks)
{
    // {MPEG-1, clocks of pack headers 2000 bytes apart, bytes per 100 ns (0: none measured)}
    const std::tuple<bool, std::vector<uint64_t>, double> rows[] = {
        {true, {900, 1800, 2700}, 4000.0 / 200000},  // 1800 ticks = 200,000 units
        {false, {9000, 9900, 0, 900}, 6000.0 / 200000},  // 9000, 9900, 9900, 10800
        {false, {9000, 9900, 450}, 4000.0 / 150000},  // 9000, 9900, 10350
        {false, {9000}, 0},
        {false, {9000, 9000, 9000}, 0}};  // a clock that never advances measures nothing
    for (const auto& [mpeg1, clocks, want] : rows) {
        ByteVec file;
        for (size_t k = 0; k < clocks.size(); ++k) {
            file.resize(2000 * k);
            mdtest::Append(file,
                           mpeg1 ? mdtest::Mpeg1PackHeader(clocks[k], 2000) : mdtest::Mpeg2PackHeader(clocks[k], 2000));
        }
        md::MemoryInputStream stream(file.data(), file.size());
        double rate = 0;
        EXPECT_EQ(md::MeasureByteRate(stream, mpeg1, rate), want > 0) << clocks.size();
        EXPECT_DOUBLE_EQ(want > 0 ? rate : 0, want) << clocks.size();
    }
}

// A closed GOP whose first picture has temporal_reference 2 is shown two frames after the GOP starts; the open GOP
// after it has no say.
TEST(TimeRangeScanTest, ClosedGopMovesTheFirstTimeBack)
{
    const ByteVec file =
        Concat({mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xE0, VideoEs(true, 2), 90000)}),
                mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xE0, VideoEs(false, 2), 90000 + 3600)}), kEndCode});
    md::MemoryInputStream stream(file.data(), file.size());
    md::ScanStartResult start;
    ASSERT_TRUE(md::ScanStart(false, &stream, false, 0, false, start));
    EXPECT_EQ(std::tuple(start.videoFirstTime, start.videoFrameDuration, start.videoByteRate, start.videoStreamIndex),
              std::tuple(Units(90000) - 2 * 400000, 400000, 750000u, 0));
    EXPECT_FALSE(md::ScanStart(false, nullptr, false, 0, false, start));
}

}  // namespace
