#include "mpeg/m2_demux.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "input/bytes.h"
#include "input/memory_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "support/files.h"
#include "support/ps_builders.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

// One 2048-byte MPEG-2 pack holding the packets.
ByteVec Pack(std::initializer_list<std::span<const uint8_t>> packets) { return mdtest::Mpeg2Pack(0, packets); }

ByteVec VideoEs(const mdtest::SequenceFields& seq, std::optional<bool> closedGop = true, uint16_t temporalReference = 0)
{
    ByteVec es = mdtest::SequenceHeaders(seq);
    if (closedGop)
        mdtest::Append(es, mdtest::GopHeaderFlags(*closedGop));
    return mdtest::Concat({es, mdtest::PictureHeaderFields(temporalReference, 1), mdtest::PictureCodingExtension(true),
                           mdtest::SliceStart()});
}

ByteVec VideoPack(const mdtest::SequenceFields& seq) { return Pack({mdtest::PesPacket(0xE0, VideoEs(seq), 90000)}); }

// MPEG-1 Layer II, 48 kHz, 192 kbit/s, stereo.
ByteVec Mp2Frame() { return mdtest::MpegAudioFrame(2, 10, 1, 0, 576); }
ByteVec AudioPack(uint64_t pts = 91000) { return Pack({mdtest::PesPacket(0xC0, Mp2Frame(), pts)}); }

// Private-stream-1 payload: AC-3 2/0, 48 kHz, 192 kbit/s (frmsizecod 20), bsid 8.
ByteVec Ac3Stereo(uint8_t subStreamId)
{
    return mdtest::AudioSubStream(subStreamId, mdtest::Ac3FrameStart(0, 20, 8, 2, false));
}

struct Result {
    uint32_t ret = 0;
    int64_t startTime = 0, videoStartTime = 0;
    bool containerAspect = false;
    uint64_t bytesRead = 0;
};

Result ParseBytes(const ByteVec& bytes, StreamList& list)
{
    MemoryInputStream in(bytes.data(), bytes.size());
    M2Demux demux;
    const uint32_t ret = demux.Parse(&in, &list);
    return {ret, demux.StartTime(), demux.VideoStartTime(), demux.HasContainerAspect(), in.BytesRead()};
}

const StreamRecord* Video(const StreamList& list) { return list.First(StreamClass::Video); }
const StreamRecord* Audio(const StreamList& list) { return list.First(StreamClass::Audio); }
uint32_t Size(const ByteVec& b) { return static_cast<uint32_t>(b.size()); }

TEST(M2Demux, CorpusAndRealWorldProgramStreamsMatchFfprobe)
{
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> cases;  // media, reference
    const auto data = test::TestDataDir();
    for (const char* name : {"svcd_mpeg2video_480x576_4x3_25fps_mp2_44k_stereo.mpg",
                             "dvd_mpeg2video_720x480_16x9_29.97p_ac3_48k_stereo.vob",
                             "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob",
                             "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob",
                             "ps_mpeg2video_352x576_4x3_25fps_lpcm_48k_stereo.vob",
                             "ps_mpeg2video_640x480_4x3_25fps_mp2_48k_stereo.mpg",
                             "ps_mpeg4video_352x288_25fps_mp2_48k_mono.mpg"})
        cases.push_back({data / name, data / "reference" / (std::string(name) + ".ffprobe.json")});
    const auto real = test::RealWorldDir();
    for (const char* name : {"mpeg2ps_dvdnav_640x426_mp2.ps", "mpeg2ps_ac3_privstream1.ps"})
        if (!real.empty() && std::filesystem::exists(real / name))
            cases.push_back({real / name, real / "reference" / (std::string(name) + ".ffprobe.json")});

    for (const auto& [media, reference] : cases) {
        SCOPED_TRACE(media.filename().string());
        const auto refVideo = mdtest::FirstReferenceStream(reference, "video");
        const auto refAudio = mdtest::FirstReferenceStream(reference, "audio");
        ASSERT_TRUE(refAudio);

        // Real files go through the file stream, the corpus through memory.
        StreamList list;
        M2Demux demux;
        uint32_t ret = 0;
        if (media.parent_path() == real) {
            MSFileInputStream in(media.wstring().c_str());
            ASSERT_TRUE(in.IsOpen());
            ret = demux.Parse(&in, &list);
        } else {
            const auto bytes = test::ReadFileBytes(media);
            MemoryInputStream in(bytes.data(), bytes.size());
            ret = demux.Parse(&in, &list);
        }
        ASSERT_EQ(ret, 1u);
        EXPECT_FALSE(demux.HasContainerAspect());  // no DVD-VR packets in these files

        int64_t expectedStart = *refAudio->startPts;
        if (refVideo) {
            const StreamRecord* v = Video(list);
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->streamId, refVideo->id & 0xFF);
            EXPECT_EQ(v->video.width, refVideo->width);
            EXPECT_EQ(v->video.height, refVideo->height);
            // The same display aspect ratio, reduced or not.
            EXPECT_EQ(uint64_t(v->video.aspectX) * refVideo->darY, uint64_t(v->video.aspectY) * refVideo->darX)
                << v->video.aspectX << ":" << v->video.aspectY;
            if (refVideo->codecName == "mpeg2video") {
                EXPECT_EQ(v->codec, StreamCodec::Mpeg2Video);
                EXPECT_NEAR(v->frameRate, refVideo->frameRate, 0.001);
                EXPECT_EQ(v->progressive, refVideo->fieldOrder == "progressive" ? 1 : 0);
                EXPECT_EQ(Be32(v->extraData1), 0x000001B3u);
                EXPECT_EQ(Be32(v->extraData2), 0x00000100u);  // picture header first
            } else {
                // MPEG-4 Visual: ffmpeg writes no fixed_vop_rate, so the rate
                // here is the nominal default and is not compared.
                EXPECT_EQ(refVideo->codecName, "mpeg4");
                EXPECT_EQ(v->codec, StreamCodec::Mpeg4Video);
                EXPECT_EQ(std::pair(v->video.profile, v->video.level), std::pair(2u, 1u));
                EXPECT_EQ(v->progressive, 1);
                EXPECT_EQ(Be32(v->extraData1), 0x000001B0u);  // the configuration from the visual object sequence
            }
            ASSERT_TRUE(refVideo->startPts);
            EXPECT_EQ(demux.VideoStartTime(), *refVideo->startPts);
            expectedStart = std::min(expectedStart, *refVideo->startPts);
        } else {
            EXPECT_EQ(Video(list), nullptr);
            EXPECT_EQ(demux.VideoStartTime(), -1);
        }
        EXPECT_EQ(demux.StartTime(), expectedStart);

        const StreamRecord* a = Audio(list);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->audio.channels, refAudio->channels);
        EXPECT_EQ(a->audio.sampleRate, refAudio->sampleRate);
        if (refAudio->codecName == "mp2") {
            EXPECT_EQ(a->codec, StreamCodec::Mpeg1Audio);
            EXPECT_EQ(a->streamId, refAudio->id & 0xFF);
        } else if (refAudio->codecName == "ac3") {
            EXPECT_EQ(a->codec, StreamCodec::Ac3);
            EXPECT_EQ(a->streamId, 0xBDu);
            EXPECT_EQ(a->audio.codecSpecific[3], refAudio->id);  // the sub-stream id
        } else {
            EXPECT_EQ(refAudio->codecName, "pcm_dvd");
            EXPECT_EQ(a->codec, StreamCodec::Lpcm);
            EXPECT_EQ(a->streamId, 0xBDu);
            EXPECT_EQ(a->audio.codecSpecific[1], refAudio->id);
            EXPECT_EQ(a->audio.bitsPerSample, 16u);
        }
    }
}

TEST(M2Demux, VideoRecordFieldsAndAspect)
{
    // profile_and_level_indication 0x48 (Main@Main), progressive_sequence, the
    // xvYCC transfer characteristic (11) as encoder marker; the headers are kept:
    // sequence header with its extensions, picture header with its coding extension.
    mdtest::SequenceFields seq;
    seq.progressive = true;
    seq.displaySize = {{720, 576}};
    seq.transferCharacteristics = 11;
    StreamList list;
    ASSERT_EQ(ParseBytes(mdtest::Concat({Pack({mdtest::PesPacket(0xE1, VideoEs(seq), 90000)}), AudioPack()}), list).ret,
              1u);
    const StreamRecord* v = Video(list);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->streamId, 0xE1u);
    EXPECT_EQ(v->codec, StreamCodec::Mpeg2Video);
    EXPECT_EQ(std::pair(v->video.profile, v->video.level), std::pair(4u, 8u));
    EXPECT_EQ(std::pair(v->video.width, v->video.height), std::pair(720u, 576u));
    EXPECT_EQ(v->frameRate, 25.0);
    EXPECT_EQ(v->progressive, 1);
    EXPECT_EQ(v->encoderMarker, 1);
    const ByteVec seqBytes = mdtest::SequenceHeaders(seq);
    const ByteVec picBytes = mdtest::Concat({mdtest::PictureHeaderFields(0, 1), mdtest::PictureCodingExtension(true)});
    EXPECT_EQ(ByteVec(v->extraData1, v->extraData1 + v->extraData1Length), seqBytes);
    EXPECT_EQ(ByteVec(v->extraData2, v->extraData2 + v->extraData2Length), picBytes);

    // Without a sequence extension the video is MPEG-1: codec 0, progressive.
    mdtest::SequenceFields mpeg1;
    mpeg1.extension = false;
    mpeg1.width = 352;
    mpeg1.height = 288;
    list.Clear();
    ASSERT_EQ(ParseBytes(mdtest::Concat({VideoPack(mpeg1), AudioPack()}), list).ret, 1u);
    ASSERT_NE(Video(list), nullptr);
    EXPECT_EQ(Video(list)->codec, StreamCodec::Mpeg1Video);
    EXPECT_EQ(Video(list)->progressive, 1);
    EXPECT_EQ(Video(list)->video.profile, 0u);

    // The display aspect: from a display size, or snapped from square pels.
    struct Case {
        uint32_t width, height;
        uint8_t aspectCode;
        std::optional<std::pair<uint32_t, uint32_t>> display;
        uint32_t x, y;
    } cases[] = {
        {720, 576, 2, std::pair<uint32_t, uint32_t>{704, 576}, 15, 11},  // 4:3 shown at 704 of 720
        {640, 480, 1, std::nullopt, 4, 3},                                // 100 x 640 / 480 = 133
        {640, 426, 1, std::nullopt, 640, 426},                            // anything else keeps the size
    };
    for (const auto& c : cases) {
        seq = {};
        seq.width = c.width;
        seq.height = c.height;
        seq.aspectCode = c.aspectCode;
        seq.displaySize = c.display;
        list.Clear();
        ASSERT_EQ(ParseBytes(mdtest::Concat({VideoPack(seq), AudioPack()}), list).ret, 1u);
        ASSERT_NE(Video(list), nullptr);
        EXPECT_EQ(std::pair(Video(list)->video.aspectX, Video(list)->video.aspectY), std::pair(c.x, c.y))
            << c.width << "x" << c.height;
    }
}

TEST(M2Demux, DvdVrDataPacketOverridesAspect)
{
    struct Case {
        uint8_t byte29;
        uint8_t headerCode;  // aspect_ratio_information in the stream
        uint32_t x, y;
        uint8_t storedCode;  // aspect_ratio_information in the stored header
    } cases[] = {
        {0x10, 2, 16, 9, 2},  // 16:9 masks the code with 3
        {0xB0, 3, 16, 9, 3},
        {0x00, 3, 4, 3, 2},  // 4:3 masks it with 2
        {0x80, 3, 14, 9, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "byte 29 " << int(c.byte29) << ", code " << int(c.headerCode));
        mdtest::SequenceFields seq;
        seq.aspectCode = c.headerCode;
        StreamList list;
        const Result r = ParseBytes(
            mdtest::Concat({Pack({mdtest::DvdSystemHeader(), mdtest::DvdVrDataPacketWithAspect(c.byte29)}),
                            VideoPack(seq), AudioPack()}),
            list);
        ASSERT_EQ(r.ret, 1u);
        EXPECT_TRUE(r.containerAspect);
        const StreamRecord* v = Video(list);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(std::pair(v->video.aspectX, v->video.aspectY), std::pair(c.x, c.y));
        ASSERT_GE(v->extraData1Length, 12);
        EXPECT_EQ(v->extraData1[7] >> 4, c.storedCode);
        EXPECT_EQ(v->extraData1[7] & 0x0F, 3);  // frame_rate_code kept
    }

    // DVD-Video navigation packets (PCI 980, DSI 1018) and a private stream 2
    // packet that starts with 'P' but is not 2004 bytes long carry no aspect
    // (byte 29 of each is 0, which would mean 4:3).
    const ByteVec notVr = mdtest::PrivateStream2Packet(1000, 0x50);
    for (const ByteVec& first : {mdtest::DvdNavPack(0), Pack({mdtest::DvdSystemHeader(), notVr})}) {
        mdtest::SequenceFields seq;
        seq.aspectCode = 3;
        StreamList list;
        const Result r = ParseBytes(mdtest::Concat({first, VideoPack(seq), AudioPack()}), list);
        ASSERT_EQ(r.ret, 1u);
        EXPECT_FALSE(r.containerAspect);
        ASSERT_NE(Video(list), nullptr);
        EXPECT_EQ(Video(list)->video.aspectX, 16u);
        EXPECT_EQ(Video(list)->extraData1[7] >> 4, 3);
    }
}

TEST(M2Demux, VideoStartTimeAndStartTime)
{
    const int64_t pts = 900000;
    struct Case {
        std::optional<bool> closedGop;
        uint16_t temporalReference;
        int64_t audioPts, videoStart, start;
    } cases[] = {
        // 25 fps: 3600 ticks a frame. The leading pictures of an open GOP are not shown.
        {true, 2, pts, pts - 7200, pts - 7200},
        {false, 2, pts + 100, pts, pts},
        {std::nullopt, 3, pts, pts - 10800, pts - 10800},  // no GOP header counts as closed
        {true, 0, pts - 5000, pts, pts - 5000},            // audio first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "tr " << c.temporalReference << " audio " << c.audioPts);
        const ByteVec stream = mdtest::Concat({
            Pack({mdtest::PesPacket(0xE0, VideoEs({}, c.closedGop, c.temporalReference), pts)}),
            AudioPack(c.audioPts),
        });
        StreamList list;
        const Result r = ParseBytes(stream, list);
        ASSERT_EQ(r.ret, 1u);
        EXPECT_EQ(r.videoStartTime, c.videoStart);
        EXPECT_EQ(r.startTime, c.start);
    }
}

TEST(M2Demux, PrivateStream1SubStreams)
{
    {
        SCOPED_TRACE("AC-3 3/2 + LFE on 0x80, then 2/0 on 0x81: one record");
        const ByteVec stream = mdtest::Concat({
            Pack({mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x80, mdtest::Ac3FrameStart(0, 30, 8, 7, true)),
                                    90000)}),
            Pack({mdtest::PesPacket(0xBD, Ac3Stereo(0x81), 80000)}),
        });
        StreamList list;
        const Result r = ParseBytes(stream, list);
        ASSERT_EQ(r.ret, 1u);
        ASSERT_EQ(list.Count(), 1u);
        const StreamRecord* a = list.At(0);
        EXPECT_EQ(a->streamClass, StreamClass::Audio);
        EXPECT_EQ(a->streamId, 0xBDu);
        EXPECT_EQ(a->codec, StreamCodec::Ac3);
        EXPECT_EQ(a->audio.channels, 6u);
        EXPECT_EQ(a->audio.bytesPerSecond, 448u * 125);
        EXPECT_EQ(a->audio.codecSpecific[0], 7u);     // acmod
        EXPECT_EQ(a->audio.codecSpecific[1], 4u);     // sub-stream header size
        EXPECT_EQ(a->audio.CodecByte(2, 0), 1);       // lfeon
        EXPECT_EQ(a->audio.CodecByte(2, 1), 1);       // sub-stream header present
        EXPECT_EQ(a->audio.codecSpecific[3], 0x80u);  // sub-stream id
        EXPECT_EQ(a->audio.CodecByte(4, 0), 8);       // bsid
        EXPECT_EQ(r.startTime, 90000);  // only the packet that described the stream gives the audio time
    }
    {
        SCOPED_TRACE("a subpicture first, then DTS on 0x88");
        ByteVec subpicture(200, 0x55);
        subpicture[0] = 0x20;
        const ByteVec stream = mdtest::Concat({
            Pack({mdtest::PesPacket(0xBD, subpicture, 80000)}),
            Pack({mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x88, mdtest::DtsFrameStart(15, 13, 24)), 90000)}),
        });
        StreamList list;
        const Result r = ParseBytes(stream, list);
        ASSERT_EQ(r.ret, 1u);
        ASSERT_EQ(list.Count(), 1u);
        const StreamRecord* a = list.At(0);
        EXPECT_EQ(a->codec, StreamCodec::Dts);
        EXPECT_EQ(a->audio.bytesPerSecond, 1536000u / 8);  // RATE 24
        EXPECT_EQ((std::array{a->audio.codecSpecific[0], a->audio.codecSpecific[1], a->audio.codecSpecific[2]}),
                  (std::array{0u, 4u, 0x88u}));
        EXPECT_EQ(r.startTime, 90000);
    }
    {
        SCOPED_TRACE("LPCM 20-bit, 96 kHz, 6 channels: 15 bytes a sample frame");
        StreamList list;
        ASSERT_EQ(ParseBytes(Pack({mdtest::PesPacket(0xBD, mdtest::LpcmSubStream(0xA1, 1, 1, 6), 90000)}), list).ret,
                  1u);
        ASSERT_EQ(list.Count(), 1u);
        const StreamRecord* a = list.At(0);
        EXPECT_EQ(a->codec, StreamCodec::Lpcm);
        EXPECT_EQ(std::tuple(a->audio.channels, a->audio.sampleRate, a->audio.bitsPerSample, a->audio.blockAlign),
                  std::tuple(6u, 96000u, 20u, 15u));
        EXPECT_EQ(std::pair(a->audio.codecSpecific[0], a->audio.codecSpecific[1]), std::pair(7u, 0xA1u));
    }
    {
        SCOPED_TRACE("MPEG audio and AC-3: one record each, in the order met");
        const ByteVec stream = mdtest::Concat({
            AudioPack(95000),
            Pack({mdtest::PesPacket(0xBD, Ac3Stereo(0x80), 94000)}),
            Pack({mdtest::PesPacket(0xC1, mdtest::MpegAudioFrame(3, 9, 0, 3, 400), 93000)}),
        });
        StreamList list;
        const Result r = ParseBytes(stream, list);
        ASSERT_EQ(r.ret, 1u);
        ASSERT_EQ(list.Count(), 3u);  // 0xC0, 0xBD and 0xC1 are different stream ids
        EXPECT_EQ(list.At(0)->streamId, 0xC0u);
        EXPECT_EQ(list.At(0)->codec, StreamCodec::Mpeg1Audio);
        EXPECT_EQ(list.At(1)->streamId, 0xBDu);
        EXPECT_EQ(list.At(1)->audio.channels, 2u);
        EXPECT_EQ(list.At(2)->streamId, 0xC1u);
        EXPECT_EQ(r.startTime, 93000);
    }
}

TEST(M2Demux, ReadsOnUntilAnnouncedStreamsAreDescribed)
{
    auto padTo = [](ByteVec& stream, size_t size) {
        while (stream.size() < size)
            mdtest::Append(stream, Pack({}));
    };
    // The system header announces video and audio; the first chunk holds video
    // and a subpicture only, the AC-3 sub-stream starts in the second chunk.
    ByteVec subpicture(200, 0x55);
    subpicture[0] = 0x21;
    ByteVec stream = mdtest::Concat({Pack({mdtest::DvdSystemHeader()}), VideoPack({})});
    while (stream.size() < M2Demux::kChunkSize + 8192)
        mdtest::Append(stream, Pack({mdtest::PesPacket(0xBD, subpicture, 90000)}));
    mdtest::Append(stream, Pack({mdtest::PesPacket(0xBD, Ac3Stereo(0x80), 91000)}));
    padTo(stream, 3 * M2Demux::kChunkSize);
    StreamList list;
    Result r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 1u);
    EXPECT_EQ(r.bytesRead, 2u * M2Demux::kChunkSize);
    ASSERT_NE(Audio(list), nullptr);
    EXPECT_EQ(Audio(list)->codec, StreamCodec::Ac3);
    EXPECT_EQ(r.startTime, 90000);

    // Both described in the first chunk: one chunk is read.
    stream = mdtest::Concat({Pack({mdtest::DvdSystemHeader()}), VideoPack({}), AudioPack()});
    padTo(stream, 2 * M2Demux::kChunkSize);
    list.Clear();
    r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 1u);
    EXPECT_EQ(r.bytesRead, M2Demux::kChunkSize);

    // Nothing announced and nothing met: the whole file, at most 11 chunks.
    stream.clear();
    padTo(stream, 12 * M2Demux::kChunkSize);
    list.Clear();
    r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 0u);
    EXPECT_EQ(r.bytesRead, 11u * M2Demux::kChunkSize);
    EXPECT_EQ(list.Count(), 0u);
}

TEST(M2Demux, SequenceHeaderSplitAcrossVideoPackets)
{
    // A 76-byte sequence header (with an intra quantiser matrix) whose first 40
    // bytes end the first video packet; an audio packet sits in between.
    mdtest::SequenceFields seq;
    seq.intraMatrix = true;
    seq.aspectCode = 3;
    seq.progressive = true;
    const ByteVec seqBytes = mdtest::SequenceHeaders(seq);
    ASSERT_EQ(seqBytes.size(), 76u + 10u);
    const ByteVec es = VideoEs(seq);
    const ByteVec stream = mdtest::Concat({
        Pack({mdtest::PesPacket(0xE0, mdtest::Concat({ByteVec(20, 0x55), std::span(es).first(40)}), 90000)}),
        AudioPack(85000),
        Pack({mdtest::PesPacket(0xE0, std::span(es).subspan(40), 93600)}),
    });

    StreamList list;
    const Result r = ParseBytes(stream, list);
    ASSERT_EQ(r.ret, 1u);
    const StreamRecord* v = Video(list);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->codec, StreamCodec::Mpeg2Video);
    EXPECT_EQ(std::pair(v->video.width, v->video.height), std::pair(720u, 576u));
    EXPECT_EQ(v->video.aspectX, 16u);
    EXPECT_EQ(v->progressive, 1);
    EXPECT_EQ(ByteVec(v->extraData1, v->extraData1 + v->extraData1Length), seqBytes);
    EXPECT_EQ(r.videoStartTime, 93600);  // the packet that completed the header
    EXPECT_EQ(r.startTime, 85000);

    // Buffer discovery joins nothing: the video stays undescribed.
    M2Demux demux;
    StreamList buffered;
    EXPECT_EQ(demux.ParseBuffer(stream.data(), Size(stream), &buffered), 0u);
    EXPECT_EQ(Video(buffered), nullptr);
    EXPECT_NE(Audio(buffered), nullptr);
}

TEST(M2Demux, ParsePacketsFollowsTheSystemClock)
{
    M2Demux demux;
    PacketList packets;
    uint8_t stop = 0;
    const ByteVec video = mdtest::PesPacket(0xE0, ByteVec(100, 0x55), 1000);
    // Stopped until a Parse or ParseBuffer succeeds.
    EXPECT_EQ(demux.ParsePackets(video.data(), Size(video), &packets, &stop), 0u);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(packets.Count(), 0u);
    StreamList list;
    const ByteVec enable = VideoPack({});
    ASSERT_EQ(demux.ParseBuffer(enable.data(), Size(enable), &list), 1u);

    const ByteVec pack1 = mdtest::Mpeg2PackHeader(900000, 25200);  // SCR 900000 x 300
    const ByteVec ac3 = mdtest::PesPacket(0xBD, Ac3Stereo(0x81), 2000);
    const ByteVec pack2 = mdtest::Mpeg2PackHeader(0, 25200, 0, 2);  // the clock restarts; 2 stuffing bytes
    const ByteVec video2 = mdtest::PesPacket(0xE0, ByteVec(100, 0x55), 3000);
    const ByteVec tail(20, 0x55);
    const ByteVec buffer =
        mdtest::Concat({pack1, video, ac3, pack2, video2, mdtest::PesPacket(0xC0, Mp2Frame(), 4000), tail});

    uint32_t n = demux.ParsePackets(buffer.data(), Size(buffer), &packets, &stop);
    const size_t restart = pack1.size() + video.size() + ac3.size() + pack2.size();
    EXPECT_EQ(n, restart);  // the call ends after the pack header with the lower clock
    EXPECT_EQ(stop, 1);
    ASSERT_EQ(packets.Count(), 2u);
    EXPECT_EQ(packets.At(0)->streamId, 0xE0u);
    EXPECT_EQ(packets.At(0)->pts, 1000);
    EXPECT_EQ(packets.At(0)->payloadOffset, 9u + 5u);
    EXPECT_EQ(packets.At(0)->packetLength, video.size());
    EXPECT_EQ(packets.At(0)->packet, buffer.data() + pack1.size());
    EXPECT_EQ(packets.At(1)->streamId, 0xBDu);
    EXPECT_EQ(packets.At(1)->subStreamId, 0x81u);
    EXPECT_EQ(packets.At(1)->pts, 2000);
    EXPECT_EQ(packets.At(1)->discontinuity, 0);

    const uint8_t* rest = buffer.data() + restart;
    const uint32_t restLength = static_cast<uint32_t>(buffer.size() - restart);
    EXPECT_EQ(demux.ParsePackets(rest, restLength, &packets, &stop), 0u);
    EXPECT_EQ(stop, 1);

    // After a successful discovery the packets of the new time base follow the
    // old one: the offset grew by 900000 ticks.
    ASSERT_EQ(demux.ParseBuffer(enable.data(), Size(enable), &list), 1u);
    packets.Clear();
    n = demux.ParsePackets(rest, restLength, &packets, &stop);
    EXPECT_EQ(n, restLength - 16);  // the walk goes on while more than 16 bytes remain
    EXPECT_EQ(stop, 0);
    ASSERT_EQ(packets.Count(), 2u);
    EXPECT_EQ(std::pair(packets.At(0)->pts, packets.At(0)->discontinuity), std::pair(int64_t(903000), uint8_t(1)));
    EXPECT_EQ(std::pair(packets.At(1)->pts, packets.At(1)->discontinuity), std::pair(int64_t(904000), uint8_t(0)));
    EXPECT_EQ(packets.At(1)->subStreamId, 0u);

    // A clock that goes down without reaching 0 is a discontinuity too; Reset
    // drops the pending flag and restarts the offset at the given time.
    const ByteVec down =
        mdtest::Concat({mdtest::Mpeg2PackHeader(100, 25200), mdtest::Mpeg2PackHeader(50, 25200), tail});
    demux.ParsePackets(down.data(), Size(down), nullptr, &stop);
    EXPECT_EQ(stop, 1);
    demux.Reset(10000000);  // 1 s
    ASSERT_EQ(demux.ParseBuffer(enable.data(), Size(enable), &list), 1u);
    packets.Clear();
    demux.ParsePackets(video2.data(), Size(video2), &packets, &stop);
    ASSERT_EQ(packets.Count(), 1u);
    EXPECT_EQ(std::pair(packets.At(0)->pts, packets.At(0)->discontinuity), std::pair(int64_t(93000), uint8_t(0)));
    EXPECT_EQ(demux.ParsePackets(video2.data(), 16, &packets, &stop), 0u);  // 16 bytes are never enough
}

TEST(M2Demux, ParseBufferResult)
{
    const ByteVec audio = mdtest::PesPacket(0xC0, Mp2Frame(), 4000);
    {
        SCOPED_TRACE("nothing announced or met: success, which also lets ParsePackets run");
        M2Demux demux;
        StreamList list;
        const ByteVec small(100, 0x55);
        EXPECT_EQ(demux.ParseBuffer(small.data(), Size(small), &list), 1u);
        PacketList packets;
        EXPECT_EQ(demux.ParsePackets(audio.data(), Size(audio), &packets, nullptr), audio.size());
        EXPECT_EQ(packets.Count(), 1u);
    }
    {
        SCOPED_TRACE("video and audio announced: both must be described; no times");
        M2Demux demux;
        StreamList list;
        const ByteVec videoOnly = mdtest::Concat({Pack({mdtest::DvdSystemHeader()}), VideoPack({})});
        EXPECT_EQ(demux.ParseBuffer(videoOnly.data(), Size(videoOnly), &list), 0u);
        ASSERT_NE(Video(list), nullptr);
        uint8_t stop = 0;
        EXPECT_EQ(demux.ParsePackets(videoOnly.data(), Size(videoOnly), nullptr, &stop), 0u);
        EXPECT_EQ(stop, 1);
        const ByteVec audioPack = AudioPack();
        EXPECT_EQ(demux.ParseBuffer(audioPack.data(), Size(audioPack), &list), 1u);
        EXPECT_EQ(list.Count(), 2u);
        EXPECT_EQ(demux.VideoStartTime(), -1);
    }
    {
        SCOPED_TRACE("navigation packets are ordinary packets here");
        M2Demux demux;
        StreamList list;
        mdtest::SequenceFields seq;
        seq.aspectCode = 2;
        const ByteVec vr = mdtest::Concat({Pack({mdtest::DvdSystemHeader(), mdtest::DvdVrDataPacketWithAspect(0x10)}),
                                           VideoPack(seq), AudioPack()});
        EXPECT_EQ(demux.ParseBuffer(vr.data(), Size(vr), &list), 1u);
        EXPECT_FALSE(demux.HasContainerAspect());
        ASSERT_NE(Video(list), nullptr);
        EXPECT_EQ(Video(list)->video.aspectX, 4u);
    }
}

}  // namespace
}  // namespace md
