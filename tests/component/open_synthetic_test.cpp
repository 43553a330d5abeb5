// The open flow on synthetic disc forms that the encoder corpus cannot hold:
// video CD sectors, SVCD in RIFF/CDXA and in bare 2324-byte sectors, DVD-VR with
// its aspect from the real-time data packet, and MPEG-4 video in a program stream.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/module.h"
#include "support/ps_builders.h"
#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;

class OpenSynthetic : public md::test::DetectorTest {
protected:
    uint32_t Open(const ByteVec& bytes)
    {
        const auto path = m_dir / "sample.mpg";
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

mdtest::SequenceFields Mpeg1Sequence(uint32_t width, uint32_t height, uint8_t pelAspect)
{
    mdtest::SequenceFields s;
    s.width = width;
    s.height = height;
    s.aspectCode = pelAspect;
    s.extension = false;
    s.bitRate400 = 2875;  // 1150 kb/s
    return s;
}

TEST_F(OpenSynthetic, VideoCdKeepsItsKindOnlyWithoutAnMpeg1PictureThatIsExactly4by3)
{
    // 60 raw sectors of MPEG-1 packs at the VCD mux rate with a 352x288 picture
    // whose pel aspect (0.9375) gives 352:270.
    const ByteVec es = mdtest::Concat({mdtest::SequenceHeaders(Mpeg1Sequence(352, 288, 8)),
                                       mdtest::GopHeaderFlags(true), mdtest::PictureHeaderFields(0)});
    std::vector<ByteVec> sectors;
    for (uint32_t i = 0; i < 60; ++i) {
        const ByteVec pes = mdtest::Mpeg1PesPacket(0xE0, es, 93600 + i * 3600);
        sectors.push_back(mdtest::Mpeg1Pack(90000 + i * 1200, {pes}, 2324, 3528));
    }
    EXPECT_EQ(Open(mdtest::CdxaFile(sectors)), MK_MPEG1_SYSTEM);
    const VideoInfo v = Video();
    EXPECT_EQ(v.format, VF_MPEG1);
    EXPECT_EQ(v.aspectX, 352u);
    EXPECT_EQ(v.aspectY, 270u);

    // The same disc with only audio packets keeps kind 3.
    sectors.clear();
    const ByteVec frame = mdtest::MpegAudioFrame(2, 11, 0, 0, 672);  // layer II, 224 kb/s, 44.1 kHz
    for (uint32_t i = 0; i < 60; ++i) {
        const ByteVec pes = mdtest::Mpeg1PesPacket(0xC0, frame, 90000 + i * 2351);
        sectors.push_back(mdtest::Mpeg1Pack(90000 + i * 1200, {pes}, 2324, 3528));
    }
    EXPECT_EQ(Open(mdtest::CdxaFile(sectors)), MK_VCD);
    AudioInfo a{};
    ASSERT_EQ(m_detector->GetAudioInfo(&a), S_OK);
    EXPECT_EQ(a.sampleRate, 44100u);
    EXPECT_EQ(a.bitRate, 224000u);
    VideoInfo none{};
    EXPECT_EQ(m_detector->GetVideoInfo(&none), E_NOTIMPL);
}

TEST_F(OpenSynthetic, SvcdInCdxaAndInBareSectorsGivesKind4WithItsVideo)
{
    mdtest::SequenceFields seq;
    seq.width = 480;
    seq.height = 576;
    seq.aspectCode = 2;  // 4:3
    const ByteVec es = mdtest::Concat({mdtest::SequenceHeaders(seq), mdtest::GopHeaderFlags(true),
                                       mdtest::PictureHeaderFields(0), mdtest::PictureCodingExtension(true),
                                       mdtest::SliceStart()});
    std::vector<ByteVec> sectors;
    for (uint32_t i = 0; i < 60; ++i)
        sectors.push_back(mdtest::SvcdVideoSector(90000 + i * 1200, es));

    for (const ByteVec& file : {mdtest::CdxaFile(sectors), [&] {
             ByteVec bare;
             for (const ByteVec& s : sectors)
                 mdtest::Append(bare, s);
             return bare;
         }()}) {
        EXPECT_EQ(Open(file), MK_SVCD);
        const VideoInfo v = Video();
        EXPECT_EQ(v.format, VF_MPEG2);
        EXPECT_EQ(v.width, 480u);
        EXPECT_EQ(v.height, 576u);
        EXPECT_EQ(v.aspectX, 4u);
        EXPECT_EQ(v.aspectY, 3u);
        EXPECT_DOUBLE_EQ(v.frameRate, 25.0);
        EXPECT_EQ(v.fieldOrder, 1u);  // interlaced, top field first
    }
}

TEST_F(OpenSynthetic, DvdVrTakesItsAspectFromTheRealTimeDataPacket)
{
    mdtest::SequenceFields seq;  // 720x576, aspect code 2 (4:3) in the sequence header
    seq.progressive = true;
    const ByteVec es = mdtest::Concat({mdtest::SequenceHeaders(seq), mdtest::GopHeaderFlags(true),
                                       mdtest::PictureHeaderFields(0), mdtest::SliceStart()});
    ByteVec file = mdtest::Mpeg2Pack(90000, {mdtest::DvdVrDataPacketWithAspect(0x10)});  // 16:9
    for (uint32_t i = 0; i < 8; ++i)
        mdtest::Append(file, mdtest::DvdVideoPack(90000 + i * 3600, es, 93600 + i * 3600));
    EXPECT_EQ(Open(file), MK_DVD_VR);
    const VideoInfo v = Video();
    EXPECT_EQ(v.aspectX, 16u);
    EXPECT_EQ(v.aspectY, 9u);
    // The stored sequence header now says 16:9 too (aspect_ratio_information 3).
    IMediaDetectInfo* info = nullptr;
    ASSERT_EQ(m_detector->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info)), S_OK);
    auto headers = std::make_unique<CodecHeaderInfo>();
    ASSERT_EQ(info->GetInfo(MDI_CODEC_HEADERS, headers.get()), S_OK);
    info->Release();
    ASSERT_GE(headers->header1Length, 12u);
    // A 16:9 override masks aspect_ratio_information with 3, so the stored code 2 stays 2.
    EXPECT_EQ(headers->header1[7] >> 4, 2);
}

TEST_F(OpenSynthetic, Mpeg4VisualInAProgramStream)
{
    ByteVec file;
    for (uint32_t i = 0; i < 8; ++i)
        mdtest::Append(file, mdtest::DvdVideoPack(90000 + i * 3600, mdtest::Mpeg4VisualStream(352, 288),
                                                  93600 + i * 3600));
    EXPECT_EQ(Open(file), MK_MPEG2_PROGRAM_MPEG4);
    const VideoInfo v = Video();
    EXPECT_EQ(v.format, VF_MPEG4);
    EXPECT_EQ(v.width, 352u);
    EXPECT_EQ(v.height, 288u);
}

}  // namespace
