#include <gtest/gtest.h>

#include <cstring>

#include "component/record_builders.h"

namespace md {
namespace {

std::unique_ptr<StreamRecord> Audio(StreamCodec codec)
{
    auto r = NewStreamRecord();
    r->streamClass = StreamClass::Audio;
    r->codec = codec;
    r->audio.channels = 6;
    r->audio.sampleRate = 48000;
    r->audio.bytesPerSecond = 56000;
    r->audio.blockAlign = 1792;
    return r;
}

std::unique_ptr<StreamRecord> Video(StreamCodec codec, bool progressive)
{
    auto r = NewStreamRecord();
    r->streamClass = StreamClass::Video;
    r->codec = codec;
    r->video.profile = 2;
    r->progressive = progressive ? 1 : 0;
    r->fieldCoding = 1;
    r->encoderMarker = 1;
    return r;
}

TEST(ChannelMask, SpeakerBitsFollowTheCodingModeAndLfe)
{
    // Front L/R = 0x3, centre 0x4, LFE 0x8, back L/R 0x30, back centre 0x100.
    EXPECT_EQ(ChannelMask(2, false, true), 0x3u);
    EXPECT_EQ(ChannelMask(7, true, true), 0x3Fu);  // 3/2 + LFE: the 5.1 layout
    EXPECT_EQ(ChannelMask(5, true, true), 0x10Bu);
    EXPECT_EQ(ChannelMask(0, false, true), 0u);
    EXPECT_EQ(ChannelMask(0, true, true), 0x8u);
    EXPECT_EQ(ChannelMask(16, false, true), 0x177u);
    EXPECT_EQ(ChannelMask(17, true, true), 0x1FFu);
    EXPECT_EQ(ChannelMask(16, false, false), 0u);  // the re-open table stops at 7
    EXPECT_EQ(ChannelMask(9, false, true), 0u);
}

TEST(BuildAudio, Ac3GivesMultiChannelWithStreamIdByteOnlyWhenOpening)
{
    auto r = Audio(StreamCodec::Ac3);
    r->audio.codecSpecific[0] = 7;  // acmod 3/2
    r->audio.SetCodecByte(2, 0, 1);  // lfeon
    r->audio.SetCodecByte(4, 0, 8);  // bsid

    AudioBuild open = BuildAudio(*r, RecordBuilder::Open);
    ASSERT_TRUE(open.accepted);
    EXPECT_EQ(open.info.format, AF_AC3);
    EXPECT_EQ(open.info.bitRate, 56000u * 8);
    EXPECT_FALSE(open.ex.has_value());
    ASSERT_TRUE(open.multiChannel.has_value());
    EXPECT_EQ(open.multiChannel->channelMask, 0x3Fu);
    EXPECT_EQ(open.multiChannel->lfe, 1);
    EXPECT_EQ(open.multiChannel->codingMode, 7);
    EXPECT_EQ(open.multiChannel->streamIdByte, 8);

    AudioBuild selection = BuildAudio(*r, RecordBuilder::Selection);
    ASSERT_TRUE(selection.ex.has_value());
    EXPECT_EQ(selection.multiChannel->streamIdByte, 0);
    // The extended record repeats the seven audio words and then the multichannel record.
    EXPECT_EQ(std::memcmp(&*selection.ex, &selection.info, sizeof(AudioInfo)), 0);
    EXPECT_EQ(std::memcmp(selection.ex->formatInfo, &*selection.multiChannel, sizeof(MultiChannelInfo)), 0);
}

TEST(BuildAudio, MpegAudioTakesLayerModeProtectionAndItsOwnBitRate)
{
    auto r = Audio(StreamCodec::Mpeg1Audio);
    r->audio.codecSpecific[0] = 1;        // layer II
    r->audio.codecSpecific[1] = 3;        // single channel
    r->audio.codecSpecific[2] = 192000;   // bit rate from the frame header
    r->audio.codecSpecific[3] = 0x44FDFF; // FF FD 44 00: protection_bit 1 in the second byte
    AudioBuild b = BuildAudio(*r, RecordBuilder::Reopen);
    ASSERT_TRUE(b.accepted);
    EXPECT_EQ(b.info.format, AF_MPEG1);
    EXPECT_EQ(b.info.bitRate, 192000u);
    ASSERT_TRUE(b.mpegAudio.has_value());
    EXPECT_EQ(b.mpegAudio->layer, 2u);
    EXPECT_EQ(b.mpegAudio->channelMode, 3u);
    EXPECT_EQ(b.mpegAudio->protectionBit, 1);
    ASSERT_TRUE(b.ex.has_value());
    EXPECT_EQ(b.ex->formatInfo[0], 2u);
    EXPECT_EQ(b.ex->formatInfo[1], 3u);

    r->audio.codecSpecific[3] = 0x44FCFF;  // FF FC: protected by a CRC
    EXPECT_EQ(BuildAudio(*r, RecordBuilder::Open).mpegAudio->protectionBit, 0);
}

TEST(BuildAudio, EachBuilderAcceptsItsOwnCodecs)
{
    struct Case {
        StreamCodec codec;
        bool open, selection, reopen;  // accepted
        bool exSelection;              // extended record made by the selection methods
    };
    const Case cases[] = {
        {StreamCodec::PcmLittleEndian, true, true, true, false},
        {StreamCodec::Lpcm, true, true, true, true},
        {StreamCodec::AmrNb, true, true, true, true},
        {StreamCodec::TsAudio83, true, true, false, true},
        {StreamCodec::TsAudioDtsHd, true, true, false, true},
        {StreamCodec::QuickTimeMp3, true, false, false, false},
        {StreamCodec::Vorbis, false, true, false, true},
        {StreamCodec::TextUtf8, false, false, false, false},
        {StreamCodec::Mpeg2Video, false, false, false, false},
    };
    for (const Case& c : cases) {
        auto r = Audio(c.codec);
        r->audio.codecSpecific[0] = 7;  // acmod 3/2 for the AC-3 family; LPCM keeps 7 here too
        SCOPED_TRACE(static_cast<int>(c.codec));
        EXPECT_EQ(BuildAudio(*r, RecordBuilder::Open).accepted, c.open);
        const AudioBuild sel = BuildAudio(*r, RecordBuilder::Selection);
        EXPECT_EQ(sel.accepted, c.selection);
        EXPECT_EQ(sel.ex.has_value(), c.exSelection);
        if (sel.ex && (c.codec == StreamCodec::TsAudio83 || c.codec == StreamCodec::TsAudioDtsHd)) {
            // lfe, codingMode, 2 zero bytes | channelMask | streamIdByte
            EXPECT_EQ(sel.ex->formatInfo[0], 0x0700u);
            EXPECT_EQ(sel.ex->formatInfo[1], 0x37u);
        } else if (sel.ex) {
            EXPECT_EQ(sel.ex->formatInfo[0] | sel.ex->formatInfo[1] | sel.ex->formatInfo[2], 0u);
        }
        EXPECT_EQ(BuildAudio(*r, RecordBuilder::Reopen).accepted, c.reopen);
    }
    // Only AAC has a class, from its audio object type: LC 0, SBR 1, others 2.
    auto aac = Audio(StreamCodec::Aac);
    for (auto [objectType, aacClass] : {std::pair{2u, 0u}, {5u, 1u}, {1u, 2u}, {29u, 2u}}) {
        aac->audio.codecSpecific[0] = objectType;
        EXPECT_EQ(BuildAudio(*aac, RecordBuilder::Open).aacClass, aacClass) << objectType;
    }
    EXPECT_FALSE(BuildAudio(*Audio(StreamCodec::Ac3), RecordBuilder::Open).aacClass.has_value());
}

TEST(BuildVideo, FormatFieldOrderAndScansDependOnCodecAndBuilder)
{
    auto mpeg2 = Video(StreamCodec::Mpeg2Video, false);
    VideoBuild b = BuildVideo(*mpeg2, RecordBuilder::Open);
    EXPECT_EQ(b.info.format, VF_MPEG2);
    EXPECT_EQ(b.scan, FieldOrderScan::Mpeg2Picture);
    EXPECT_EQ(b.encoderMarker, 1);
    EXPECT_EQ(b.info.profile, 0u);  // MPEG-2 profile codes are not reported
    EXPECT_EQ(BuildVideo(*Video(StreamCodec::Mpeg2Video, true), RecordBuilder::Open).scan, FieldOrderScan::None);

    auto h264 = Video(StreamCodec::H264, false);
    b = BuildVideo(*h264, RecordBuilder::Open);
    EXPECT_EQ(b.info.format, VF_H264);
    EXPECT_EQ(b.info.profile, 2u);
    EXPECT_EQ(b.scan, FieldOrderScan::Mp4Slice);
    EXPECT_EQ(b.fieldCoding, 1u);
    b = BuildVideo(*h264, RecordBuilder::Selection);
    EXPECT_EQ(b.info.fieldOrder, 1u);
    EXPECT_EQ(b.scan, FieldOrderScan::None);
    EXPECT_EQ(BuildVideo(*h264, RecordBuilder::Reopen).info.format, VF_NONE);

    auto ts = Video(StreamCodec::H264Ts, false);
    EXPECT_EQ(BuildVideo(*ts, RecordBuilder::Open).info.format, VF_NONE);
    b = BuildVideo(*ts, RecordBuilder::Reopen);
    EXPECT_EQ(b.info.format, VF_H264);
    EXPECT_EQ(b.info.fieldOrder, 1u);
    EXPECT_EQ(BuildVideo(*Video(StreamCodec::H264Ts, true), RecordBuilder::Reopen).info.fieldOrder, 0u);

    EXPECT_EQ(BuildVideo(*Video(StreamCodec::Mvc, true), RecordBuilder::Open).info.format, VF_H264_MVC);
    EXPECT_EQ(BuildVideo(*Video(StreamCodec::H263, true), RecordBuilder::Open).info.format, VF_H263);
    EXPECT_EQ(BuildVideo(*Video(StreamCodec::H263, true), RecordBuilder::Selection).info.format, VF_NONE);
    EXPECT_EQ(BuildVideo(*Video(StreamCodec::Cinepak, true), RecordBuilder::Open).info.format, VF_CINEPAK);
    EXPECT_EQ(BuildVideo(*Video(StreamCodec::Jpeg, true), RecordBuilder::Reopen).info.format, VF_NONE);
    EXPECT_EQ(BuildVideo(*Video(StreamCodec::Mpeg4Video, false), RecordBuilder::Open).scan,
              FieldOrderScan::Mp4FirstSample);
}

}  // namespace
}  // namespace md
