#include "ts/ts_demux.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "support/stream_builders.h"
#include "support/ts_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

constexpr uint16_t kPmtPid = 0x1000;
constexpr uint16_t kVideoPid = 0x100;
constexpr uint16_t kAudioPid = 0x101;

// PAT, PMT (MPEG-2 video, audio of audioType), then per 25-fps frame one video PES
// in decode order (an I or P picture before its two B pictures, PTS 90000 on) and
// one MPEG-1 Layer II frame (48 kHz, 24 ms, PTS 88000 on) per PES.
struct Program {
    ByteVec bytes;
    std::vector<size_t> videoPesOffsets;
};

Program MakeProgram(size_t packetSize, uint8_t audioType = 0x03)
{
    mdtest::TsWriter ts(packetSize);
    ts.Section(0, mdtest::PatSection({{1, kPmtPid}}));
    ts.Section(kPmtPid, mdtest::PmtSection(1, {{0x02, kVideoPid}, {audioType, kAudioPid}}));
    Program p;
    const uint64_t frame = 3600;
    for (uint64_t g = 0; g < 4; ++g) {
        const uint64_t base = 90000 + 3 * g * frame;
        const std::pair<uint64_t, uint8_t> pictures[] = {
            {base + 2 * frame, g == 0 ? 1 : 2}, {base, 3}, {base + frame, 3}};
        for (const auto& [pts, type] : pictures) {
            ByteVec es = p.videoPesOffsets.empty() ? mdtest::SequenceHeaders({}) : ByteVec{};
            mdtest::Append(es, mdtest::PictureHeaderFields(0, type));
            mdtest::Append(es, mdtest::PictureCodingExtension(true));
            mdtest::Append(es, mdtest::SliceStart());
            es.resize(1200, 0xAA);
            p.videoPesOffsets.push_back(ts.Bytes().size());
            ts.Pes(kVideoPid, mdtest::PesPacket(0xE0, es, pts));
            const uint64_t audioPts = 88000 + 2160 * (p.videoPesOffsets.size() - 1);
            ts.Pes(kAudioPid, mdtest::PesPacket(0xC0, mdtest::MpegAudioFrame(2, 10, 1, 0, 576), audioPts));
        }
    }
    p.bytes = ts.Bytes();
    return p;
}

uint32_t ParseWith(TSDemux& demux, const ByteVec& bytes, StreamList* list)
{
    MemoryInputStream in(bytes.data(), bytes.size());
    return demux.Parse(&in, list);
}

TEST(TSDemux, SyntheticProgramInEveryPacketSize)
{
    for (const size_t size : {188u, 192u, 204u}) {
        SCOPED_TRACE(size);
        const Program program = MakeProgram(size);
        TSDemux demux;
        demux.SetSelection(kVideoPid, 0x02, kAudioPid, 0x03);
        StreamList list;
        ASSERT_EQ(ParseWith(demux, program.bytes, &list), 1u);
        ASSERT_EQ(list.Count(), 2u);
        TimeRangeInfo t{};
        demux.GetTimeRange(t);
        // Smallest video PTS 90000; greatest 129600 plus a frame; the last audio PES plus a frame.
        EXPECT_EQ(std::tuple(t.videoFirstTime, t.videoEndTime, t.audioFirstTime, t.audioEndTime),
                  std::tuple(10000000, 14400000 + 400000, 88000 * 1000 / 9, (88000 + 2160 * 11) * 1000 / 9 + 240000));
        // The first picture is an I picture; from the second PES on only P and B follow.
        MemoryInputStream in(program.bytes.data(), program.bytes.size());
        int64_t time = 0;
        ASSERT_TRUE(demux.FindKeyframeTime(&in, 0, time));
        EXPECT_EQ(time, 97200 * 10000 / 90);
        EXPECT_FALSE(demux.FindKeyframeTime(&in, int64_t(program.videoPesOffsets[1]), time));
    }
}

TEST(TSDemux, SelectionTypesFailuresAndProgramQueries)
{
    // The PMT's stream_type replaces the host's; an audio PID announced as AC-3
    // that carries MPEG audio gets no record, and the file ends before it does.
    const Program program = MakeProgram(188, 0x81);
    TSDemux demux;
    demux.SetSelection(kVideoPid, 0x1B, kAudioPid, 0x03);
    StreamList list;
    EXPECT_EQ(ParseWith(demux, program.bytes, &list), 0u);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.At(0)->codec, StreamCodec::Mpeg2Video);

    int32_t videoCount = -1, audioCount = -1;
    uint32_t video[kTsMaxStreams] = {}, audio[kTsMaxStreams] = {};
    EXPECT_TRUE(demux.GetProgramStreams(0x1234, videoCount, video, audioCount, audio));
    EXPECT_EQ(videoCount, -1);  // not in the table: nothing written
    ASSERT_TRUE(demux.GetProgramStreams(0, videoCount, video, audioCount, audio));  // 0: the first program
    EXPECT_EQ(std::tuple(videoCount, audio[0]), std::tuple(1, uint32_t(kAudioPid)));

    TSDemux empty;
    EXPECT_EQ(empty.Parse(nullptr, nullptr), 0u);
    EXPECT_EQ(ParseWith(empty, mdtest::RandomBytes(50000, 3, true), nullptr), 0u);  // no sync
}

}  // namespace
}  // namespace md
