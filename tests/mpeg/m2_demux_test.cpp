#include "mpeg/m2_demux.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "input/bytes.h"
#include "input/memory_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "mpeg/m1_demux.h"
#include "support/files.h"
#include "support/ps_builders.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

// One 2048-byte MPEG-2 pack holding the packets.
ByteVec Pack(std::initializer_list<std::span<const uint8_t>> packets, uint64_t scr = 0)
{
    return mdtest::Mpeg2Pack(scr, packets);
}

ByteVec VideoEs(const mdtest::SequenceFields& seq, std::optional<bool> closedGop = true, uint16_t temporalReference = 0)
{
    ByteVec es = mdtest::SequenceHeaders(seq);
    if (closedGop)
        mdtest::Append(es, mdtest::GopHeaderFlags(*closedGop));
    mdtest::Append(es, mdtest::PictureHeaderFields(temporalReference, 1));
    mdtest::Append(es, mdtest::PictureCodingExtension(true));
    mdtest::Append(es, mdtest::SliceStart());
    return es;
}

ByteVec VideoPack(const mdtest::SequenceFields& seq, std::optional<uint64_t> pts = 90000)
{
    return Pack({mdtest::PesPacket(0xE0, VideoEs(seq), pts)});
}

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
    int64_t startTime = 0;
    int64_t videoStartTime = 0;
    bool containerAspect = false;
    uint64_t bytesRead = 0;
};

Result ParseBytes(const ByteVec& bytes, StreamList& list)
{
    MemoryInputStream in(bytes.data(), bytes.size());
    M2Demux demux;
    Result r;
    r.ret = demux.Parse(&in, &list);
    r.startTime = demux.StartTime();
    r.videoStartTime = demux.VideoStartTime();
    r.containerAspect = demux.HasContainerAspect();
    r.bytesRead = in.BytesRead();
    return r;
}

const StreamRecord* Video(const StreamList& list) { return list.First(StreamClass::Video); }
const StreamRecord* Audio(const StreamList& list) { return list.First(StreamClass::Audio); }

TEST(M2Demux, CorpusAndRealWorldProgramStreamsMatchFfprobe)
{
    struct Case {
        std::filesystem::path media;
        std::filesystem::path reference;
        bool fromFile;
    };
    std::vector<Case> cases;
    const auto data = test::TestDataDir();
    for (const char* name : {"svcd_mpeg2video_480x576_4x3_25fps_mp2_44k_stereo.mpg",
                             "dvd_mpeg2video_720x480_16x9_29.97p_ac3_48k_stereo.vob",
                             "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob",
                             "dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob",
                             "ps_mpeg2video_352x576_4x3_25fps_lpcm_48k_stereo.vob",
                             "ps_mpeg2video_640x480_4x3_25fps_mp2_48k_stereo.mpg",
                             "ps_mpeg4video_352x288_25fps_mp2_48k_mono.mpg"})
        cases.push_back({data / name, data / "reference" / (std::string(name) + ".ffprobe.json"), false});
    const auto real = test::RealWorldDir();
    if (!real.empty())
        for (const char* name : {"mpeg2ps_dvdnav_640x426_mp2.ps", "mpeg2ps_ac3_privstream1.ps"})
            if (std::filesystem::exists(real / name))
                cases.push_back({real / name, real / "reference" / (std::string(name) + ".ffprobe.json"), true});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.media.filename().string());
        const auto refVideo = mdtest::FirstReferenceStream(c.reference, "video");
        const auto refAudio = mdtest::FirstReferenceStream(c.reference, "audio");
        ASSERT_TRUE(refAudio);

        StreamList list;
        M2Demux demux;
        uint32_t ret = 0;
        if (c.fromFile) {
            MSFileInputStream in(c.media.wstring().c_str());
            ASSERT_TRUE(in.IsOpen());
            ret = demux.Parse(&in, &list);
        } else {
            const auto bytes = test::ReadFileBytes(c.media);
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
                EXPECT_GE(v->extraData2Length, 8);
                EXPECT_EQ(Be32(v->extraData2), 0x00000100u);  // picture header first
            } else {
                // MPEG-4 Visual: ffmpeg writes no fixed_vop_rate, so the rate
                // here is the nominal default and is not compared.
                EXPECT_EQ(refVideo->codecName, "mpeg4");
                EXPECT_EQ(v->codec, StreamCodec::Mpeg4Video);
                EXPECT_EQ(v->progressive, 1);
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

TEST(M2Demux, VideoRecordFields)
{
    // An MPEG-2 sequence with a display extension: profile and level from
    // profile_and_level_indication 0x48 (Main@Main), progressive_sequence, the
    // xvYCC transfer characteristic (11) as encoder marker.
    mdtest::SequenceFields seq;
    seq.progressive = true;
    seq.displaySize = {{720, 576}};
    seq.transferCharacteristics = 11;
    const ByteVec es = VideoEs(seq);
    StreamList list;
    ASSERT_EQ(ParseBytes(mdtest::Concat({Pack({mdtest::PesPacket(0xE1, es, 90000)}), AudioPack()}), list).ret, 1u);
    const StreamRecord* v = Video(list);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->streamId, 0xE1u);
    EXPECT_EQ(v->codec, StreamCodec::Mpeg2Video);
    EXPECT_EQ(v->video.profile, 4u);
    EXPECT_EQ(v->video.level, 8u);
    EXPECT_EQ(v->video.width, 720u);
    EXPECT_EQ(v->video.height, 576u);
    EXPECT_EQ(v->frameRate, 25.0);
    EXPECT_EQ(v->progressive, 1);
    EXPECT_EQ(v->encoderMarker, 1);
    // Sequence header, sequence extension and display extension; picture header
    // and picture coding extension.
    const ByteVec seqBytes = mdtest::SequenceHeaders(seq);
    const ByteVec picBytes =
        mdtest::Concat({mdtest::PictureHeaderFields(0, 1), mdtest::PictureCodingExtension(true)});
    ASSERT_EQ(v->extraData1Length, static_cast<int32_t>(seqBytes.size()));
    EXPECT_EQ(std::memcmp(v->extraData1, seqBytes.data(), seqBytes.size()), 0);
    ASSERT_EQ(v->extraData2Length, static_cast<int32_t>(picBytes.size()));
    EXPECT_EQ(std::memcmp(v->extraData2, picBytes.data(), picBytes.size()), 0);

    // Interlaced, and a colour description without the marker.
    seq.progressive = false;
    seq.transferCharacteristics = 1;
    list.Clear();
    ASSERT_EQ(ParseBytes(mdtest::Concat({VideoPack(seq), AudioPack()}), list).ret, 1u);
    ASSERT_NE(Video(list), nullptr);
    EXPECT_EQ(Video(list)->progressive, 0);
    EXPECT_EQ(Video(list)->encoderMarker, 0);

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
    EXPECT_EQ(Video(list)->video.width, 352u);
}

TEST(M2Demux, AspectFromHeaderAndDisplaySize)
{
    struct Case {
        const char* what;
        uint32_t width, height;
        uint8_t aspectCode;
        std::optional<std::pair<uint32_t, uint32_t>> display;
        uint32_t x, y;
    } cases[] = {
        {"16:9 code", 720, 576, 3, std::nullopt, 16, 9},
        // 4 x 576 x 720 : 3 x 576 x 704 = 2880 : 2112 = 15 : 11.
        {"4:3 shown at 704 of 720", 720, 576, 2, std::pair<uint32_t, uint32_t>{704, 576}, 15, 11},
        // Square pels: 640x480 is 4:3 (100 x 640 / 480 = 133).
        {"1:1 code, 640x480", 640, 480, 1, std::nullopt, 4, 3},
        // Anything else keeps the picture size.
        {"1:1 code, 640x426", 640, 426, 1, std::nullopt, 640, 426},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mdtest::SequenceFields seq;
        seq.width = c.width;
        seq.height = c.height;
        seq.aspectCode = c.aspectCode;
        seq.displaySize = c.display;
        StreamList list;
        ASSERT_EQ(ParseBytes(mdtest::Concat({VideoPack(seq), AudioPack()}), list).ret, 1u);
        const StreamRecord* v = Video(list);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->video.aspectX, c.x);
        EXPECT_EQ(v->video.aspectY, c.y);
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
        {0x10, 3, 16, 9, 3},
        {0xB0, 3, 16, 9, 3},
        {0x00, 3, 4, 3, 2},  // 4:3 masks it with 2
        {0x80, 3, 14, 9, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "byte 29 " << int(c.byte29) << ", code " << int(c.headerCode));
        mdtest::SequenceFields seq;
        seq.aspectCode = c.headerCode;
        seq.frameRateCode = 3;
        const ByteVec stream = mdtest::Concat({
            Pack({mdtest::DvdSystemHeader(), mdtest::DvdVrDataPacketWithAspect(c.byte29)}),
            VideoPack(seq),
            AudioPack(),
        });
        StreamList list;
        const Result r = ParseBytes(stream, list);
        ASSERT_EQ(r.ret, 1u);
        EXPECT_TRUE(r.containerAspect);
        const StreamRecord* v = Video(list);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->video.aspectX, c.x);
        EXPECT_EQ(v->video.aspectY, c.y);
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
    const uint64_t pts = 900000;
    struct Case {
        const char* what;
        std::optional<bool> closedGop;
        uint16_t temporalReference;
        uint64_t audioPts;
        int64_t videoStart;
        int64_t start;
    } cases[] = {
        // 25 fps: 3600 ticks a frame.
        {"closed GOP, tr 2", true, 2, pts, int64_t(pts) - 7200, int64_t(pts) - 7200},
        {"open GOP, tr 2", false, 2, pts + 100, int64_t(pts), int64_t(pts)},
        {"no GOP header, tr 3", std::nullopt, 3, pts, int64_t(pts) - 10800, int64_t(pts) - 10800},
        {"audio first", true, 0, pts - 5000, int64_t(pts), int64_t(pts) - 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mdtest::SequenceFields seq;
        const ByteVec stream = mdtest::Concat({
            Pack({mdtest::PesPacket(0xE0, VideoEs(seq, c.closedGop, c.temporalReference), pts)}),
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
    // AC-3 48 kHz (fscod 0), 448 kbit/s (frmsizecod 30), bsid 8, 3/2 + LFE.
    const ByteVec ac3 = mdtest::Ac3FrameStart(0, 30, 8, 7, true);
    {
        SCOPED_TRACE("AC-3 on 0x80 and 0x81: one record");
        const ByteVec stream = mdtest::Concat({
            Pack({mdtest::PesPacket(0xBD, mdtest::AudioSubStream(0x80, ac3), 90000)}),
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
        EXPECT_EQ(a->audio.sampleRate, 48000u);
        EXPECT_EQ(a->audio.bytesPerSecond, 448u * 125);
        EXPECT_EQ(a->audio.blockAlign, 56000u * 1536 / 48000);
        EXPECT_EQ(a->audio.codecSpecific[0], 7u);      // acmod
        EXPECT_EQ(a->audio.codecSpecific[1], 4u);      // sub-stream header size
        EXPECT_EQ(a->audio.CodecByte(2, 0), 1);        // lfeon
        EXPECT_EQ(a->audio.CodecByte(2, 1), 1);        // sub-stream header present
        EXPECT_EQ(a->audio.codecSpecific[3], 0x80u);   // sub-stream id
        EXPECT_EQ(a->audio.CodecByte(4, 0), 8);        // bsid
        // Only the packet that described the stream gives the audio time.
        EXPECT_EQ(r.startTime, 90000);
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
        EXPECT_EQ(a->audio.channels, 6u);
        EXPECT_EQ(a->audio.sampleRate, 48000u);
        EXPECT_EQ(a->audio.bytesPerSecond, 1536000u / 8);  // RATE 24
        EXPECT_EQ(a->audio.blockAlign, 192000u * 1536 / 48000);
        EXPECT_EQ(a->audio.codecSpecific[0], 0u);
        EXPECT_EQ(a->audio.codecSpecific[1], 4u);
        EXPECT_EQ(a->audio.codecSpecific[2], 0x88u);
        EXPECT_EQ(r.startTime, 90000);
    }
    {
        SCOPED_TRACE("DTS on 0x98 without a sub-stream header, reversed sync");
        ByteVec payload{0x98};
        mdtest::Append(payload, mdtest::DtsFrameStart(15, 13, 24, true));
        StreamList list;
        ASSERT_EQ(ParseBytes(Pack({mdtest::PesPacket(0xBD, payload, 90000)}), list).ret, 1u);
        ASSERT_EQ(list.Count(), 1u);
        EXPECT_EQ(list.At(0)->codec, StreamCodec::Dts);
        EXPECT_EQ(list.At(0)->audio.CodecByte(0, 1), 1);  // byte-swapped words
        EXPECT_EQ(list.At(0)->audio.codecSpecific[1], 0u);
        EXPECT_EQ(list.At(0)->audio.codecSpecific[2], 0x98u);
    }
    {
        SCOPED_TRACE("LPCM");
        // 20-bit, 96 kHz, 6 channels: 20 x 6 / 8 = 15 bytes a sample frame.
        StreamList list;
        const ByteVec payload = mdtest::LpcmSubStream(0xA1, 1, 1, 6);
        ASSERT_EQ(ParseBytes(Pack({mdtest::PesPacket(0xBD, payload, 90000)}), list).ret, 1u);
        ASSERT_EQ(list.Count(), 1u);
        const StreamRecord* a = list.At(0);
        EXPECT_EQ(a->codec, StreamCodec::Lpcm);
        EXPECT_EQ(a->audio.channels, 6u);
        EXPECT_EQ(a->audio.sampleRate, 96000u);
        EXPECT_EQ(a->audio.bitsPerSample, 20u);
        EXPECT_EQ(a->audio.blockAlign, 15u);
        EXPECT_EQ(a->audio.bytesPerSecond, 15u * 96000);
        EXPECT_EQ(a->audio.codecSpecific[0], 7u);
        EXPECT_EQ(a->audio.codecSpecific[1], 0xA1u);
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
        EXPECT_EQ(list.At(0)->audio.blockAlign, 576u);
        EXPECT_EQ(list.At(1)->streamId, 0xBDu);
        EXPECT_EQ(list.At(1)->audio.channels, 2u);
        EXPECT_EQ(list.At(2)->streamId, 0xC1u);
        EXPECT_EQ(r.startTime, 93000);
    }
}

// Padding packs up to the given size.
void PadTo(ByteVec& stream, size_t size)
{
    while (stream.size() < size)
        mdtest::Append(stream, Pack({}));
}

TEST(M2Demux, ReadsOnUntilAnnouncedStreamsAreDescribed)
{
    // The system header announces video and audio; the first chunk holds video
    // and a subpicture only, the AC-3 sub-stream starts in the second chunk.
    ByteVec subpicture(200, 0x55);
    subpicture[0] = 0x21;
    ByteVec stream = mdtest::Concat({Pack({mdtest::DvdSystemHeader()}), VideoPack({})});
    while (stream.size() < M2Demux::kChunkSize + 8192)
        mdtest::Append(stream, Pack({mdtest::PesPacket(0xBD, subpicture, 90000)}));
    mdtest::Append(stream, Pack({mdtest::PesPacket(0xBD, Ac3Stereo(0x80), 91000)}));
    PadTo(stream, 3 * M2Demux::kChunkSize);

    StreamList list;
    Result r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 1u);
    EXPECT_EQ(r.bytesRead, 2u * M2Demux::kChunkSize);
    ASSERT_NE(Audio(list), nullptr);
    EXPECT_EQ(Audio(list)->codec, StreamCodec::Ac3);
    EXPECT_EQ(r.startTime, 90000);

    // Both described in the first chunk: one chunk is read.
    stream = mdtest::Concat({Pack({mdtest::DvdSystemHeader()}), VideoPack({}), AudioPack()});
    PadTo(stream, 2 * M2Demux::kChunkSize);
    list.Clear();
    r = ParseBytes(stream, list);
    EXPECT_EQ(r.ret, 1u);
    EXPECT_EQ(r.bytesRead, M2Demux::kChunkSize);

    // Nothing announced and nothing met: the whole file, at most 11 chunks.
    stream.clear();
    PadTo(stream, 12 * M2Demux::kChunkSize);
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
    const ByteVec filler(20, 0x55);
    const ByteVec first = mdtest::Concat({filler, std::span<const uint8_t>(es).first(40)});
    const ByteVec second(es.begin() + 40, es.end());
    const ByteVec stream = mdtest::Concat({
        Pack({mdtest::PesPacket(0xE0, first, 90000)}),
        AudioPack(85000),
        Pack({mdtest::PesPacket(0xE0, second, 93600)}),
    });

    StreamList list;
    const Result r = ParseBytes(stream, list);
    ASSERT_EQ(r.ret, 1u);
    const StreamRecord* v = Video(list);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->codec, StreamCodec::Mpeg2Video);
    EXPECT_EQ(v->video.width, 720u);
    EXPECT_EQ(v->video.height, 576u);
    EXPECT_EQ(v->video.aspectX, 16u);
    EXPECT_EQ(v->progressive, 1);
    ASSERT_EQ(v->extraData1Length, static_cast<int32_t>(seqBytes.size()));
    EXPECT_EQ(std::memcmp(v->extraData1, seqBytes.data(), seqBytes.size()), 0);
    EXPECT_EQ(r.videoStartTime, 93600);  // the packet that completed the header
    EXPECT_EQ(r.startTime, 85000);

    // Buffer discovery joins nothing: the video stays undescribed.
    M2Demux demux;
    StreamList buffered;
    EXPECT_EQ(demux.ParseBuffer(stream.data(), static_cast<uint32_t>(stream.size()), &buffered), 0u);
    EXPECT_EQ(Video(buffered), nullptr);
    EXPECT_NE(Audio(buffered), nullptr);
}

TEST(M2Demux, Mpeg4VisualInProgramStream)
{
    const ByteVec es = mdtest::Mpeg4VisualStream(352, 288);
    StreamList list;
    const Result r = ParseBytes(mdtest::Concat({Pack({mdtest::PesPacket(0xE0, es, 90000)}), AudioPack()}), list);
    ASSERT_EQ(r.ret, 1u);
    const StreamRecord* v = Video(list);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->codec, StreamCodec::Mpeg4Video);
    EXPECT_EQ(v->video.width, 352u);
    EXPECT_EQ(v->video.height, 288u);
    EXPECT_EQ(v->video.profile, 2u);
    EXPECT_EQ(v->video.level, 1u);
    EXPECT_EQ(v->progressive, 1);
    // Square pels at 352x288: 100 x 352 / 288 = 122, so the size stays.
    EXPECT_EQ(v->video.aspectX, 352u);
    EXPECT_EQ(v->video.aspectY, 288u);
    // The configuration: visual object sequence, visual object, video object
    // and video object layer, up to the group of VOP.
    const ByteVec config = mdtest::Concat({mdtest::Mpeg4VisualObjectSequence(), mdtest::Mpeg4VisualObject(),
                                           mdtest::Mpeg4VideoObject(), mdtest::Mpeg4VideoObjectLayer(352, 288)});
    ASSERT_EQ(v->extraData1Length, static_cast<int32_t>(config.size()));
    EXPECT_EQ(std::memcmp(v->extraData1, config.data(), config.size()), 0);
    EXPECT_EQ(r.videoStartTime, 90000);
}

TEST(M2Demux, ParsePacketsFollowsTheSystemClock)
{
    M2Demux demux;
    PacketList packets;
    uint8_t stop = 0;
    const ByteVec video = mdtest::PesPacket(0xE0, ByteVec(100, 0x55), 1000);
    // Stopped until a Parse or ParseBuffer succeeds.
    EXPECT_EQ(demux.ParsePackets(video.data(), static_cast<uint32_t>(video.size()), &packets, &stop), 0u);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(packets.Count(), 0u);

    StreamList list;
    const ByteVec enable = VideoPack({});
    ASSERT_EQ(demux.ParseBuffer(enable.data(), static_cast<uint32_t>(enable.size()), &list), 1u);

    const ByteVec pack1 = mdtest::Mpeg2PackHeader(900000, 25200);  // SCR 900000 x 300
    const ByteVec ac3 = mdtest::PesPacket(0xBD, Ac3Stereo(0x81), 2000);
    const ByteVec pack2 = mdtest::Mpeg2PackHeader(0, 25200, 0, 2);  // the clock restarts; 2 stuffing bytes
    const ByteVec video2 = mdtest::PesPacket(0xE0, ByteVec(100, 0x55), 3000);
    const ByteVec audio2 = mdtest::PesPacket(0xC0, Mp2Frame(), 4000);
    const ByteVec tail(20, 0x55);
    const ByteVec buffer = mdtest::Concat({pack1, video, ac3, pack2, video2, audio2, tail});

    uint32_t n = demux.ParsePackets(buffer.data(), static_cast<uint32_t>(buffer.size()), &packets, &stop);
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
    ASSERT_EQ(demux.ParseBuffer(enable.data(), static_cast<uint32_t>(enable.size()), &list), 1u);
    packets.Clear();
    n = demux.ParsePackets(rest, restLength, &packets, &stop);
    EXPECT_EQ(n, restLength - 16);  // the walk goes on while more than 16 bytes remain
    EXPECT_EQ(stop, 0);
    ASSERT_EQ(packets.Count(), 2u);
    EXPECT_EQ(packets.At(0)->pts, 3000 + 900000);
    EXPECT_EQ(packets.At(0)->discontinuity, 1);
    EXPECT_EQ(packets.At(1)->pts, 4000 + 900000);
    EXPECT_EQ(packets.At(1)->discontinuity, 0);
    EXPECT_EQ(packets.At(1)->subStreamId, 0u);

    // A clock that goes down without reaching 0 is a discontinuity too; Reset
    // drops the pending flag and restarts the offset at the given time.
    const ByteVec down =
        mdtest::Concat({mdtest::Mpeg2PackHeader(100, 25200), mdtest::Mpeg2PackHeader(50, 25200), tail});
    demux.ParsePackets(down.data(), static_cast<uint32_t>(down.size()), nullptr, &stop);
    EXPECT_EQ(stop, 1);
    demux.Reset(10000000);  // 1 s
    ASSERT_EQ(demux.ParseBuffer(enable.data(), static_cast<uint32_t>(enable.size()), &list), 1u);
    packets.Clear();
    demux.ParsePackets(video2.data(), static_cast<uint32_t>(video2.size()), &packets, &stop);
    ASSERT_EQ(packets.Count(), 1u);
    EXPECT_EQ(packets.At(0)->pts, 3000 + 90000);
    EXPECT_EQ(packets.At(0)->discontinuity, 0);

    // 16 bytes are never enough.
    EXPECT_EQ(demux.ParsePackets(video2.data(), 16, &packets, &stop), 0u);
}

TEST(M2Demux, ParseBufferResult)
{
    // Nothing announced or met: success, which also lets ParsePackets run.
    {
        M2Demux demux;
        StreamList list;
        const ByteVec small(100, 0x55);
        EXPECT_EQ(demux.ParseBuffer(small.data(), static_cast<uint32_t>(small.size()), &list), 1u);
        const ByteVec audio = mdtest::PesPacket(0xC0, Mp2Frame(), 4000);
        PacketList packets;
        EXPECT_EQ(demux.ParsePackets(audio.data(), static_cast<uint32_t>(audio.size()), &packets, nullptr),
                  audio.size());
        EXPECT_EQ(packets.Count(), 1u);
    }
    // Video and audio announced: both must be described.
    {
        M2Demux demux;
        StreamList list;
        const ByteVec videoOnly = mdtest::Concat({Pack({mdtest::DvdSystemHeader()}), VideoPack({})});
        EXPECT_EQ(demux.ParseBuffer(videoOnly.data(), static_cast<uint32_t>(videoOnly.size()), &list), 0u);
        ASSERT_NE(Video(list), nullptr);
        uint8_t stop = 0;
        EXPECT_EQ(demux.ParsePackets(videoOnly.data(), static_cast<uint32_t>(videoOnly.size()), nullptr, &stop), 0u);
        EXPECT_EQ(stop, 1);
        const ByteVec audio = AudioPack();
        EXPECT_EQ(demux.ParseBuffer(audio.data(), static_cast<uint32_t>(audio.size()), &list), 1u);
        EXPECT_EQ(list.Count(), 2u);
        // No times come from buffer discovery.
        EXPECT_EQ(demux.VideoStartTime(), -1);
    }
    // Navigation packets are ordinary packets here.
    {
        M2Demux demux;
        StreamList list;
        mdtest::SequenceFields seq;
        seq.aspectCode = 2;
        const ByteVec vr = mdtest::Concat({Pack({mdtest::DvdSystemHeader(), mdtest::DvdVrDataPacketWithAspect(0x10)}),
                                           VideoPack(seq), AudioPack()});
        EXPECT_EQ(demux.ParseBuffer(vr.data(), static_cast<uint32_t>(vr.size()), &list), 1u);
        EXPECT_FALSE(demux.HasContainerAspect());
        ASSERT_NE(Video(list), nullptr);
        EXPECT_EQ(Video(list)->video.aspectX, 4u);
    }
    // Parse without input fails and keeps ParsePackets stopped.
    {
        M2Demux demux;
        StreamList list;
        EXPECT_EQ(demux.Parse(nullptr, &list), 0u);
        uint8_t stop = 0;
        const ByteVec audio = mdtest::PesPacket(0xC0, Mp2Frame(), 4000);
        EXPECT_EQ(demux.ParsePackets(audio.data(), static_cast<uint32_t>(audio.size()), nullptr, &stop), 0u);
        EXPECT_EQ(stop, 1);
    }
}

// The program-stream files of the corpus.
std::vector<std::filesystem::path> ProgramStreamFiles()
{
    std::vector<std::filesystem::path> out;
    for (const auto& f : test::MediaFiles(test::TestDataDir())) {
        const std::string name = f.filename().string();
        for (const char* prefix : {"mpg1_", "vcd_", "svcd_", "dvd_", "ps_"})
            if (name.rfind(prefix, 0) == 0)
                out.push_back(f);
    }
    return out;
}

// Runs every operation of both demultiplexers over bytes (an exact-size
// allocation, so a read past the end is caught by the address sanitizer).
void Exercise(const ByteVec& bytes)
{
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    {
        MemoryInputStream in(bytes.data(), bytes.size());
        M1Demux m1;
        StreamList list;
        m1.Parse(&in, &list);
        PacketList packets;
        m1.ParsePackets(bytes.data(), size, &packets, nullptr);
    }
    {
        MemoryInputStream in(bytes.data(), bytes.size());
        M2Demux m2;
        StreamList list;
        m2.Parse(&in, &list);
        StreamList buffered;
        M2Demux other;
        other.ParseBuffer(bytes.data(), size, &buffered);
    }
    {
        // Walk the whole buffer with ParsePackets, restarting after each stop.
        M2Demux m2;
        const uint8_t small[100] = {};
        PacketList packets;
        uint32_t pos = 0;
        for (int guard = 0; guard < 100000 && pos < size; ++guard) {
            m2.ParseBuffer(small, sizeof small, nullptr);  // nothing announced: clears the stop flag
            uint8_t stop = 0;
            const uint32_t n = m2.ParsePackets(bytes.data() + pos, size - pos, &packets, &stop);
            if (n == 0)
                break;
            pos += n;
        }
    }
}

TEST(ProgramStreamDemux, SurvivesCutAndCorruptedFiles)
{
    const auto files = ProgramStreamFiles();
    ASSERT_GE(files.size(), 10u);
    for (const auto& f : files) {
        SCOPED_TRACE(f.filename().string());
        const ByteVec whole = test::ReadFileBytes(f);
        for (size_t k = 1; k <= 10; ++k) {
            const size_t cut = whole.size() * k / 11 + k * 7;
            Exercise(ByteVec(whole.begin(), whole.begin() + std::min(cut, whole.size())));
        }
        // The first 40 KiB with random bytes overwritten, and start codes of
        // every kind planted at random places.
        const ByteVec head(whole.begin(), whole.begin() + std::min<size_t>(whole.size(), 40960));
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            ByteVec damaged = head;
            const ByteVec noise = mdtest::RandomBytes(4096, seed);
            for (size_t i = 0; i + 3 < noise.size(); i += 4) {
                const size_t at = (size_t(noise[i]) << 16 | size_t(noise[i + 1]) << 8 | noise[i + 2]) % damaged.size();
                if (noise[i + 3] < 64 && at + 4 <= damaged.size()) {
                    damaged[at] = 0;
                    damaged[at + 1] = 0;
                    damaged[at + 2] = 1;
                    damaged[at + 3] = static_cast<uint8_t>(0xB3 + noise[i + 3] % 0x4D);
                } else {
                    damaged[at] = noise[i + 3];
                }
            }
            Exercise(damaged);
        }
    }
}

}  // namespace
}  // namespace md
