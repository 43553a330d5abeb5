// The video record builders codec by codec, the speaker mask of the multichannel record, the MPEG audio layer record and
// the AAC class.
#include <gtest/gtest.h>

#include "component/record_builders.h"
#include "es/audio_headers.h"

namespace md {
namespace {

std::unique_ptr<StreamRecord> Record(StreamCodec codec, bool progressive = true)
{
    auto r = NewStreamRecord();
    r->streamClass = StreamClass::Video, r->codec = codec, r->progressive = progressive ? 1 : 0;
    r->fieldCoding = 1, r->encoderMarker = 1, r->video.profile = 2;
    return r;
}

TEST(ChannelMask, SpeakerBitsFollowTheCodingModeAndLfe)
{
    // Front L/R = 0x3, centre 0x4, LFE 0x8, back L/R 0x30, back centre 0x100.
    const std::tuple<uint8_t, bool, bool, uint32_t> cases[] = {
        {2, false, true, 0x3},    {7, true, true, 0x3F},   {5, true, true, 0x10B}, {0, true, true, 0x8},
        {16, false, true, 0x177}, {17, true, true, 0x1FF}, {16, false, false, 0},  {9, false, true, 0},
    };
    for (const auto& [mode, lfe, extended, mask] : cases)
        EXPECT_EQ(ChannelMask(mode, lfe, extended), mask) << int(mode) << " " << lfe << " " << extended;
}

TEST(BuildVideo, FormatFieldOrderAndScanByCodecAndBuilder)
{
    using enum RecordBuilder;
    using enum FieldOrderScan;
    using C = StreamCodec;
    // {codec, progressive, builder, format, field order, profile, scan}; MPEG-2 profiles are not reported.
    const std::tuple<C, bool, RecordBuilder, uint32_t, uint32_t, uint32_t, FieldOrderScan> cases[] = {
        {C::Mpeg2Video, false, Open, VF_MPEG2, 0, 0, Mpeg2Picture}, {C::Mpeg2Video, true, Open, VF_MPEG2, 0, 0, None},
        {C::Mpeg4Video, false, Open, VF_MPEG4, 0, 0, Mp4FirstSample}, {C::H264, false, Open, VF_H264, 0, 2, Mp4Slice},
        {C::H264, false, Selection, VF_H264, 1, 2, None},           {C::H264, false, Reopen, VF_NONE, 0, 0, None},
        {C::H264Ts, false, Open, VF_NONE, 0, 0, None},              {C::H264Ts, false, Reopen, VF_H264, 1, 2, None},
        {C::H264Ts, true, Reopen, VF_H264, 0, 2, None},             {C::Mvc, true, Open, VF_H264_MVC, 0, 2, None},
        {C::H263, true, Open, VF_H263, 0, 2, None},                 {C::H263, true, Selection, VF_NONE, 0, 0, None},
        {C::Cinepak, true, Open, VF_CINEPAK, 0, 0, None},           {C::Jpeg, true, Reopen, VF_NONE, 0, 0, None},
        // Matroska's V_MJPEG and V_THEORA tracks (extensions only): described as the other extended codecs.
        {C::Jpeg, true, Open, VF_MJPEG, 0, 0, None},                {C::Jpeg, false, Selection, VF_MJPEG, 1, 2, None},
        {C::Theora, true, Selection, VF_THEORA, 0, 2, None},
    };
    for (const auto& [codec, progressive, builder, format, fieldOrder, profile, scan] : cases) {
        const VideoBuild b = BuildVideo(*Record(codec, progressive), builder);
        EXPECT_EQ(std::tuple(b.info.format, b.info.fieldOrder, b.info.profile, b.scan),
                  std::tuple(format, fieldOrder, profile, scan))
            << int(codec) << " builder " << int(builder);
    }
    // A selected H.264 stream whose record states bottom field first (MD_EXT_H264_PROFILES) keeps it.
    const auto bottomFirst = Record(C::H264Ts, false);
    bottomFirst->fieldOrder = 2;
    EXPECT_EQ(BuildVideo(*bottomFirst, Selection).info.fieldOrder, 2u);
    // The encoder marker of MPEG-2 video, the field coding of interlaced H.264.
    EXPECT_EQ(BuildVideo(*Record(C::Mpeg2Video), Open).encoderMarker, 1);
    EXPECT_EQ(BuildVideo(*Record(C::H264, false), Open).fieldCoding, 1u);
}

// The MPEG audio layer record from a parsed header: layer, channel mode and the protection bit of the second header
// byte (set: no CRC).
TEST(BuildAudio, MpegLayerRecordFromTheHeaderWords)
{
    const uint8_t headers[][4] = {{0xFF, 0xFD, 0xA4, 0xC0}, {0xFF, 0xFC, 0xA4, 0x40}, {0xFF, 0xFB, 0x90, 0x00}};
    const std::tuple<uint32_t, uint32_t, uint32_t> expected[] = {{2, 3, 1}, {2, 1, 0}, {3, 0, 1}};
    for (size_t i = 0; i < std::size(headers); ++i) {
        AudioFormat format{};
        MpegAudioInfo info{};
        ASSERT_TRUE(ParseMpegAudioHeader(headers[i], 4, format, info)) << i;
        auto r = NewStreamRecord();
        r->streamClass = StreamClass::Audio, r->codec = StreamCodec::Mpeg1Audio;
        SetMpegAudioWords(r->audio.codecSpecific, info);
        const AudioBuild b = BuildAudio(*r, RecordBuilder::Open);
        ASSERT_TRUE(b.mpegAudio.has_value());
        EXPECT_EQ(std::tuple(b.mpegAudio->layer, b.mpegAudio->channelMode, b.mpegAudio->protectionBit), expected[i])
            << i;
    }
}

// A record that states its speakers gets a multichannel record, the LFE flag from the mask: a container family's
// record of any codec, an Opus record (a transport stream's) from every builder. Elsewhere the word is not read: a
// Matroska AAC track's AudioSpecificConfig runs on into it.
TEST(BuildAudio, MultichannelRecordOfAStatedMask)
{
    using enum RecordBuilder;
    using C = StreamCodec;
    const std::tuple<C, RecordBuilder, uint32_t, std::optional<std::pair<uint8_t, uint32_t>>> cases[] = {
        {C::Opus, Selection, 0x3F, std::pair(uint8_t(1), 0x3Fu)}, {C::Opus, Open, 0x607, std::pair(uint8_t(0), 0x607u)},
        {C::Aac, File, 0x3F, std::pair(uint8_t(1), 0x3Fu)},       {C::Opus, Selection, 0, std::nullopt},
        {C::Aac, Selection, 0x2E393563, std::nullopt},
    };
    for (const auto& [codec, builder, mask, expected] : cases) {
        auto r = NewStreamRecord();
        r->streamClass = StreamClass::Audio, r->codec = codec, r->audio.channelMask = mask;
        const AudioBuild b = BuildAudio(*r, builder);
        ASSERT_TRUE(b.accepted);
        EXPECT_EQ(b.multiChannel ? std::optional(std::pair(b.multiChannel->lfe, b.multiChannel->channelMask))
                                 : std::nullopt,
                  expected)
            << int(builder) << " " << mask;
    }
}

}  // namespace
// The AAC class of MDI_AAC_CLASS: AAC LC (audio object type 2) 0, SBR (5) 1, any other 2; none for other codecs.
TEST(BuildAudio, AacClassFromTheObjectType)
{
    const std::tuple<StreamCodec, int, std::optional<uint32_t>> cases[] = {
        {StreamCodec::Aac, 2, 0}, {StreamCodec::Aac, 5, 1}, {StreamCodec::Aac, 29, 2}, {StreamCodec::Ac3, 2, {}}};
    for (const auto& [codec, objectType, expected] : cases) {
        auto r = NewStreamRecord();
        r->streamClass = StreamClass::Audio, r->codec = codec, r->audio.codecSpecific[0] = objectType;
        const AudioBuild b = BuildAudio(*r, RecordBuilder::Selection);
        EXPECT_TRUE(b.accepted);
        EXPECT_EQ(b.aacClass, expected) << objectType;
    }
}

}  // namespace md
