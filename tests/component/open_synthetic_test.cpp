// Forms the encoder corpus cannot hold, opened through the module: video CD sectors, SVCD in RIFF/CDXA and in
// bare 2324-byte sectors, and a DirecTV feed (DVD-VR and MPEG-4 in a program stream: tests/mpeg, tests/probe).
#include <gtest/gtest.h>

#include "support/directv_builders.h"
#include "support/files.h"
#include "support/module.h"
#include "support/stream_builders.h"
#include "support/ts_builders.h"

namespace {

using namespace mdtest;

class OpenSynthetic : public md::test::DetectorTest {
protected:
    uint32_t Open(const ByteVec& bytes)
    {
        const auto path = m_dir / "sample";
        md::test::WriteFileBytes(path, bytes);
        uint32_t kind = 99;
        EXPECT_EQ(m_detector->OpenFileA(path.c_str(), &kind), S_OK);
        return kind;
    }
    VideoInfo Video()
    {
        VideoInfo v{};
        EXPECT_EQ(m_detector->GetVideoInfo(&v), S_OK);
        return v;
    }

    md::test::TempDir m_dir;
};

TEST_F(OpenSynthetic, VideoCdKeepsItsKindOnlyWithoutAnMpeg1PictureThatIsExactly4by3)
{
    // 60 raw sectors of MPEG-1 packs at the VCD mux rate, a 352x288 picture whose pel aspect (0.9375) gives 352:270.
    const SequenceFields s{.width = 352, .height = 288, .aspectCode = 8, .bitRate400 = 2875, .extension = false};
    const ByteVec es = Concat({SequenceHeaders(s), GopHeaderFlags(true), PictureHeaderFields(0)});
    const ByteVec frame = MpegAudioFrame(2, 11, 0, 0, 672);  // layer II, 224 kb/s, 44.1 kHz
    std::vector<ByteVec> video, audio;
    for (uint32_t i = 0, scr = 90000; i < 60; ++i, scr += 1200) {
        video.push_back(Mpeg1Pack(scr, {Mpeg1PesPacket(0xE0, es, 93600 + i * 3600)}, 2324, 3528));
        audio.push_back(Mpeg1Pack(scr, {Mpeg1PesPacket(0xC0, frame, 90000 + i * 2351)}, 2324, 3528));
    }
    EXPECT_EQ(Open(CdxaFile(video)), MK_MPEG1_SYSTEM);
    VideoInfo v = Video();
    EXPECT_EQ(std::tuple(v.format, v.aspectX, v.aspectY), std::tuple(VF_MPEG1, 352u, 270u));

    // The same disc with only audio packets keeps kind 3.
    EXPECT_EQ(Open(CdxaFile(audio)), MK_VCD);
    AudioInfo a{};
    ASSERT_EQ(m_detector->GetAudioInfo(&a), S_OK);
    EXPECT_EQ(std::tuple(a.sampleRate, a.bitRate), std::tuple(44100u, 224000u));
    EXPECT_EQ(m_detector->GetVideoInfo(&v), E_NOTIMPL);
}

TEST_F(OpenSynthetic, SvcdInCdxaAndInBareSectorsGivesKind4WithItsVideo)
{
    const SequenceFields seq{.width = 480, .height = 576, .aspectCode = 2};  // 4:3
    const ByteVec es = Concat({SequenceHeaders(seq), GopHeaderFlags(true), PictureHeaderFields(0),
                               PictureCodingExtension(true), SliceStart()});
    std::vector<ByteVec> sectors;
    ByteVec bare;
    for (uint32_t i = 0; i < 60; ++i) {
        sectors.push_back(SvcdVideoSector(90000 + i * 1200, es));
        Append(bare, sectors.back());
    }
    for (const ByteVec& file : {CdxaFile(sectors), bare}) {
        EXPECT_EQ(Open(file), MK_SVCD);
        const VideoInfo v = Video();  // interlaced, top field first
        EXPECT_EQ(std::tuple(v.format, v.width, v.height, v.aspectX, v.aspectY, v.frameRate, v.fieldOrder),
                  std::tuple(VF_MPEG2, 480u, 576u, 4u, 3u, 25.0, 1u));
    }
}

TEST_F(OpenSynthetic, DirecTvStreamsSelectionAndTimes)
{
    // A program table naming MPEG-2 video on SCID 0x10 and MPEG audio on 0x11, two PES packets of each, then filler.
    DirecTvWriter w;
    w.Table(PmtSection(1, {{0x02, 0x10}, {0x03, 0x11}}));
    const SequenceFields sequence{.width = 720, .height = 480, .aspectCode = 3, .frameRateCode = 4};  // 16:9
    const auto mp2 = [](uint64_t pts) {  // Layer II, 192 kbit/s, 48 kHz, stereo
        return Mpeg1PesPacket(0xC0, MpegAudioFrame(2, 10, 1, 0, 64), pts);
    };
    w.Pes(0x10, DtvVideoPes(SequenceHeaders(sequence), 900000));
    w.Pes(0x11, mp2(901800));
    w.Pes(0x10, DtvVideoPes(PictureHeaderFields(1), 903600));
    w.Pes(0x11, mp2(903960));
    w.Filler(40);
    const uint32_t directv = MK_DIRECTV;
    ASSERT_EQ(m_info->SetInfo(MDI_CONTAINER_HINT, &directv), S_OK);
    ASSERT_EQ(Open(w.Bytes()), MK_DIRECTV);

    int32_t videoCount = 0, audioCount = 0;
    uint32_t video[16] = {}, audio[16] = {};
    ASSERT_EQ(m_detector->GetStreamLists(0, &videoCount, video, &audioCount, audio, 0), S_OK);
    EXPECT_EQ(std::tuple(videoCount, video[0], audioCount, audio[0]), std::tuple(1, 0x10u, 1, 0x11u));

    const StreamSelection selection{0x10, 0, 0x11, 0};
    VideoInfo v{};
    AudioInfoEx a{};
    ASSERT_EQ(m_detector->SelectTransportProgram(&selection, 0, &v, &a), S_OK);
    EXPECT_EQ(std::tuple(v.format, v.width, v.aspectX, v.aspectY, a.sampleRate, a.channels),
              std::tuple(VF_MPEG2, 720u, 16u, 9u, 48000u, 2u));
    EXPECT_NEAR(v.frameRate, 29.97, 0.01);
    // From the first video PTS (900000) to the last audio PTS (903960), in 100-ns units.
    int64_t duration = 0;
    ASSERT_EQ(m_detector->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, (903960 - 900000) * 1000 / 9);
}

}  // namespace
