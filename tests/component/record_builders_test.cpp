// The record builders of the open, selection and re-open methods, codec by
// codec, including the codecs the corpus files do not carry.
#include <gtest/gtest.h>

#include <cstring>

#include "component/record_builders.h"

namespace md {
namespace {

std::unique_ptr<StreamRecord> Record(StreamClass c, StreamCodec codec, bool progressive = true)
{
    auto r = NewStreamRecord();
    r->streamClass = c;
    r->codec = codec;
    r->progressive = progressive ? 1 : 0;
    r->fieldCoding = 1;
    r->encoderMarker = 1;
    if (c == StreamClass::Video) {
        r->video.profile = 2;
        return r;
    }
    // The audio view shares its words with the video view.
    r->audio.channels = 6;
    r->audio.sampleRate = 48000;
    r->audio.bytesPerSecond = 56000;
    r->audio.codecSpecific[0] = 7;  // AC-3 acmod 3/2
    return r;
}

TEST(ChannelMask, SpeakerBitsFollowTheCodingModeAndLfe)
{
    // Front L/R = 0x3, centre 0x4, LFE 0x8, back L/R 0x30, back centre 0x100.
    const std::tuple<uint8_t, bool, bool, uint32_t> cases[] = {
        {2, false, true, 0x3},    {7, true, true, 0x3F},  {5, true, true, 0x10B},   {0, false, true, 0},
        {0, true, true, 0x8},     {16, false, true, 0x177}, {17, true, true, 0x1FF}, {16, false, false, 0},
        {9, false, true, 0},
    };
    for (const auto& [mode, lfe, extended, mask] : cases)
        EXPECT_EQ(ChannelMask(mode, lfe, extended), mask) << int(mode) << " " << lfe << " " << extended;
}

TEST(BuildAudio, Ac3AndMpegAudioRecords)
{
    auto ac3 = Record(StreamClass::Audio, StreamCodec::Ac3);
    ac3->audio.SetCodecByte(2, 0, 1);  // lfeon
    ac3->audio.SetCodecByte(4, 0, 8);  // bsid
    const AudioBuild open = BuildAudio(*ac3, RecordBuilder::Open);
    ASSERT_TRUE(open.multiChannel.has_value());
    EXPECT_EQ(std::tuple(open.info.bitRate, open.ex.has_value(), open.multiChannel->channelMask),
              std::tuple(56000u * 8, false, 0x3Fu));
    // The extended record of a selection: the seven audio words, then the multichannel record.
    const AudioBuild selection = BuildAudio(*ac3, RecordBuilder::Selection);
    ASSERT_TRUE(selection.ex && selection.multiChannel);
    EXPECT_EQ(std::memcmp(selection.ex->formatInfo, &*selection.multiChannel, sizeof(MultiChannelInfo)), 0);

    auto mpeg = Record(StreamClass::Audio, StreamCodec::Mpeg1Audio);
    mpeg->audio.codecSpecific[0] = 1;         // layer II
    mpeg->audio.codecSpecific[1] = 3;         // single channel
    mpeg->audio.codecSpecific[2] = 192000;    // bit rate from the frame header
    mpeg->audio.codecSpecific[3] = 0x44FDFF;  // FF FD 44 00: protection_bit 1 in the second byte
    const AudioBuild b = BuildAudio(*mpeg, RecordBuilder::Reopen);
    ASSERT_TRUE(b.mpegAudio && b.ex);
    EXPECT_EQ(std::tuple(b.info.bitRate, b.mpegAudio->protectionBit), std::tuple(192000u, 1));
    EXPECT_EQ(std::vector<uint32_t>(b.ex->formatInfo, b.ex->formatInfo + 2), std::vector<uint32_t>({2, 3}));
    mpeg->audio.codecSpecific[3] = 0x44FCFF;  // FF FC: protected by a CRC
    EXPECT_EQ(BuildAudio(*mpeg, RecordBuilder::Open).mpegAudio->protectionBit, 0);
}

TEST(BuildAudio, EachBuilderAcceptsItsOwnCodecs)
{
    struct Case {
        StreamCodec codec;
        bool open, selection, reopen;  // accepted
        bool exSelection;              // extended record made by the selection methods
    };
    const Case cases[] = {
        {StreamCodec::PcmLittleEndian, true, true, true, false}, {StreamCodec::Lpcm, true, true, true, true},
        {StreamCodec::AmrNb, true, true, true, true},            {StreamCodec::TsAudio83, true, true, false, true},
        {StreamCodec::TsAudioDtsHd, true, true, false, true},    {StreamCodec::QuickTimeMp3, true, false, false, false},
        {StreamCodec::Vorbis, false, true, false, true},         {StreamCodec::TextUtf8, false, false, false, false},
        {StreamCodec::Mpeg2Video, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.codec));
        auto r = Record(StreamClass::Audio, c.codec);
        const AudioBuild sel = BuildAudio(*r, RecordBuilder::Selection);
        EXPECT_EQ(std::tuple(BuildAudio(*r, RecordBuilder::Open).accepted, sel.accepted,
                             BuildAudio(*r, RecordBuilder::Reopen).accepted, sel.ex.has_value()),
                  std::tuple(c.open, c.selection, c.reopen, c.exSelection));
        // TrueHD and DTS-HD: lfe, codingMode, 2 zero bytes | channelMask | streamIdByte.
        const bool multi = c.codec == StreamCodec::TsAudio83 || c.codec == StreamCodec::TsAudioDtsHd;
        if (sel.ex) {
            EXPECT_EQ(sel.ex->formatInfo[0], multi ? 0x0700u : 0u);
            EXPECT_EQ(sel.ex->formatInfo[1], multi ? 0x37u : 0u);
        }
    }
    // Only AAC has a class, from its audio object type: LC 0, SBR 1, others 2.
    auto aac = Record(StreamClass::Audio, StreamCodec::Aac);
    for (auto [objectType, aacClass] : {std::pair{2u, 0u}, {5u, 1u}, {1u, 2u}, {29u, 2u}}) {
        aac->audio.codecSpecific[0] = objectType;
        EXPECT_EQ(BuildAudio(*aac, RecordBuilder::Open).aacClass, aacClass) << objectType;
    }
    EXPECT_FALSE(BuildAudio(*Record(StreamClass::Audio, StreamCodec::Ac3), RecordBuilder::Open).aacClass);
}

TEST(BuildVideo, FormatFieldOrderAndScanByCodecAndBuilder)
{
    using enum RecordBuilder;
    using enum FieldOrderScan;
    struct Case {
        StreamCodec codec;
        bool progressive;
        RecordBuilder builder;
        uint32_t format, fieldOrder, profile;
        FieldOrderScan scan;
    };
    const Case cases[] = {
        {StreamCodec::Mpeg2Video, false, Open, VF_MPEG2, 0, 0, Mpeg2Picture},  // MPEG-2 profiles are not reported
        {StreamCodec::Mpeg2Video, true, Open, VF_MPEG2, 0, 0, None},
        {StreamCodec::Mpeg4Video, false, Open, VF_MPEG4, 0, 0, Mp4FirstSample},
        {StreamCodec::H264, false, Open, VF_H264, 0, 2, Mp4Slice},
        {StreamCodec::H264, false, Selection, VF_H264, 1, 2, None},
        {StreamCodec::H264, false, Reopen, VF_NONE, 0, 0, None},
        {StreamCodec::H264Ts, false, Open, VF_NONE, 0, 0, None},
        {StreamCodec::H264Ts, false, Reopen, VF_H264, 1, 2, None},
        {StreamCodec::H264Ts, true, Reopen, VF_H264, 0, 2, None},
        {StreamCodec::Mvc, true, Open, VF_H264_MVC, 0, 2, None},
        {StreamCodec::H263, true, Open, VF_H263, 0, 2, None},
        {StreamCodec::H263, true, Selection, VF_NONE, 0, 0, None},
        {StreamCodec::Cinepak, true, Open, VF_CINEPAK, 0, 0, None},
        {StreamCodec::Jpeg, true, Reopen, VF_NONE, 0, 0, None},
    };
    for (const Case& c : cases) {
        const VideoBuild b = BuildVideo(*Record(StreamClass::Video, c.codec, c.progressive), c.builder);
        EXPECT_EQ(std::tuple(b.info.format, b.info.fieldOrder, b.info.profile, b.scan),
                  std::tuple(c.format, c.fieldOrder, c.profile, c.scan))
            << static_cast<int>(c.codec) << " builder " << static_cast<int>(c.builder);
    }
    // The encoder marker of MPEG-2 video, the field coding of interlaced H.264.
    EXPECT_EQ(BuildVideo(*Record(StreamClass::Video, StreamCodec::Mpeg2Video), Open).encoderMarker, 1);
    EXPECT_EQ(BuildVideo(*Record(StreamClass::Video, StreamCodec::H264, false), Open).fieldCoding, 1u);
}

}  // namespace
}  // namespace md
