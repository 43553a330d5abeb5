#include "ts/ts_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "mediadetect/records.h"
#include "support/bit_writer.h"
#include "support/stream_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

TEST(TsRecords, AudioByStreamType)
{
    ByteVec mp2{0x00, 0x12};  // junk, then MPEG-1 Layer II, 48 kHz, 192 kbit/s
    mdtest::Append(mp2, mdtest::MpegAudioFrame(2, 10, 1, 0, 100));
    ByteVec ac3{0x80, 0x01, 0x00, 0x01};  // private-stream-1 sub-stream header
    mdtest::Append(ac3, mdtest::Ac3FrameStart(0, 20, 8, 2, false));  // 2/0, 48 kHz, 192 kbit/s, bsid 8
    // ADTS (ID 0): LC, 48 kHz (index 3), 2 channels, 400-byte frames; then index 12.
    const ByteVec adts{0xFF, 0xF1, 0x4C, 0x80, 0x32, 0x1F, 0xFC};
    ByteVec adtsReserved = adts;
    adtsReserved[2] = 0x70;
    const ByteVec adts12k{0xFF, 0xF1, 0x64, 0x80, 0x32, 0x1F, 0xFC};  // index 9: 12 kHz
    // channel_configuration 6 (its high bit in byte 2), a 2448-byte frame (the length's high bits in byte 3).
    const ByteVec adts51{0xFF, 0xF1, 0x4D, 0x81, 0x32, 0x1F, 0xFC};
    // LOAS: AudioSpecificConfig from byte 5: object type 2, index 3, 2 channels.
    const ByteVec latm{0x56, 0xE0, 0x20, 0x20, 0x00, 0x11, 0x90};
    const ByteVec truehd{0x00, 0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x00, 0b111'00000, 15};
    struct Case {
        ByteVec bytes;
        uint32_t type;
        bool registration;
        StreamCodec codec;
        uint32_t channels, rate, bytesPerSecond, codec0;
        int64_t frameDuration;
    };
    const Case cases[] = {
        {mp2, 0x04, false, StreamCodec::Mpeg1Audio, 2, 48000, 24000, 1, 240000},  // 1152 samples
        {mdtest::MpegAudioFrame(1, 4, 0, 3, 32), 0x03, false, StreamCodec::Mpeg1Audio, 1, 44100, 16000, 0, 87074},
        {ac3, 0x81, false, StreamCodec::Ac3, 2, 48000, 24000, 2, 320000},  // 1536 samples
        // The object type is profile_ObjectType, +1 only for the MPEG-2 ID bit: MPEG-4 ADTS LC reads 1, not 2.
        {adts, 0x0F, false, StreamCodec::Aac, 2, 48000, 18750, 1, 213333},
        {adtsReserved, 0x0F, false, StreamCodec::Aac, 2, 0xFFFFFFFF, 0, 1, -10240000000},
        {adts12k, 0x0F, false, StreamCodec::Aac, 2, 12000, 4625, 1, 853333},  // 37.5 kbit/s in whole kbit/s
        {adts51, 0x0F, false, StreamCodec::Aac, 6, 48000, 114750, 1, 213333},  // 2448 x 48000 / 1024
        {latm, 0x11, false, StreamCodec::Aac, 2, 48000, 16000, 2, 213333},
        {{0x01, 0xE0, 0x31, 0x40}, 0x80, false, StreamCodec::Lpcm, 2, 48000, 192000, 7, 5000},  // 16-bit stereo
        // channel_assignment 4-7: 4 channels, 8-9: 6, 10-11: 8, 12 on: none; sampling_frequency 4 and 5: 96 and
        // 192 kHz; bits_per_sample 2 and 3: 20 and 24 (a 20-bit sample counts 2 bytes).
        {{0x01, 0xE0, 0x44, 0x80}, 0x80, false, StreamCodec::Lpcm, 4, 96000, 768000, 7, 25000},
        {{0x01, 0xE0, 0x95, 0xC0}, 0x80, false, StreamCodec::Lpcm, 6, 192000, 3456000, 7, 90000},
        {{0x01, 0xE0, 0xB1, 0x40}, 0x80, false, StreamCodec::Lpcm, 8, 48000, 768000, 7, 20000},
        {{0x01, 0xE0, 0xC1, 0x40}, 0x80, false, StreamCodec::Lpcm, 0, 48000, 0, 7, 0},
        {ByteVec(20, 0), 0x86, true, StreamCodec::TsAudioDtsHd, 2, 48000, 32000, 2, 333667},
        // TrueHD major sync: 48 kHz, 8-channel assignment 0x00F: 6 channels, layout 7 with LFE.
        {truehd, 0x83, false, StreamCodec::TsAudio83, 6, 48000, 0, 7, 320000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stream_type " << c.type << " size " << c.bytes.size());
        int64_t frameDuration = -1;
        auto r =
            BuildTsAudioRecord(c.bytes.data(), uint32_t(c.bytes.size()), c.type, c.registration, 0x101, frameDuration);
        ASSERT_TRUE(r);
        EXPECT_EQ(std::tuple(r->streamClass, r->streamId, r->codec, r->audio.channels, r->audio.sampleRate,
                             r->audio.bytesPerSecond, r->audio.codecSpecific[0], frameDuration),
                  std::tuple(StreamClass::Audio, 0x101u, c.codec, c.channels, c.rate, c.bytesPerSecond, c.codec0,
                             c.frameDuration));
    }
    // AC-3 behind the sub-stream header is searched from byte 4 and marked, a bare frame from byte 0. The words:
    // the offset; lfeon, plus 0x100 for the sub-stream header; the buffer's first byte; bsid.
    int64_t frameDuration = 0;
    const ByteVec bare = mdtest::Ac3FrameStart(0, 20, 8, 2, false);
    for (const auto& [bytes, words] : {std::pair(ac3, std::tuple(4u, 0x100u, 0x80u, 8u)),
                                       std::pair(bare, std::tuple(0u, 0u, 0x0Bu, 8u))}) {
        auto r = BuildTsAudioRecord(bytes.data(), uint32_t(bytes.size()), 0x81, false, 0x101, frameDuration);
        ASSERT_TRUE(r);
        const auto& w = r->audio.codecSpecific;
        EXPECT_EQ(std::tuple(w[1], w[2], w[3], w[4]), words);
    }
    // DTS-HD types need a registration_descriptor; 6 is no audio type.
    EXPECT_FALSE(BuildTsAudioRecord(ac3.data(), uint32_t(ac3.size()), 0xA2, false, 0x101, frameDuration));
    EXPECT_FALSE(BuildTsAudioRecord(mp2.data(), uint32_t(mp2.size()), 0x06, true, 0x101, frameDuration));
}

// With frame checks an MPEG audio header counts only where the next one follows at its frame length (or the bytes
// end first), and ADTS frames announced as MPEG audio make AAC: adts_buffer_fullness 0x7FF after a frame length
// ending in 111 reads as a Layer II header (FF FC 94: 160 kbit/s, 48 kHz).
TEST(TsRecords, FrameChecksRefuseFalseSyncsAndFindAacAnnouncedAsMpegAudio)
{
    ByteVec falseSync = mdtest::MpegAudioFrame(2, 10, 1, 0, 100);  // a 576-byte frame's start, no header at 576
    mdtest::Append(falseSync, ByteVec(600, 0x55));
    ByteVec twoFrames = mdtest::MpegAudioFrame(2, 10, 1, 0, 576);
    mdtest::Append(twoFrames, mdtest::MpegAudioFrame(2, 10, 1, 0, 100));
    ByteVec adts;
    for (int i = 0; i < 3; ++i) {  // 407-byte frames: LC, 48 kHz, 2 channels
        mdtest::Append(adts, ByteVec{0xFF, 0xF1, 0x4C, 0x80, 0x32, 0xFF, 0xFC, 0x94});
        mdtest::Append(adts, ByteVec(399, 0x55));
    }
    struct Case {
        const ByteVec& bytes;
        bool checks;
        std::optional<StreamCodec> codec;
        uint32_t rate;
    };
    for (const Case& c : {Case{falseSync, false, StreamCodec::Mpeg1Audio, 48000}, Case{falseSync, true, {}, 0},
                          Case{twoFrames, true, StreamCodec::Mpeg1Audio, 48000},
                          Case{adts, false, StreamCodec::Mpeg1Audio, 48000}, Case{adts, true, StreamCodec::Aac, 48000}}) {
        int64_t frameDuration = 0;
        const auto r = BuildTsAudioRecord(c.bytes.data(), uint32_t(c.bytes.size()), 0x04, false, 0x101, frameDuration,
                                          c.checks);
        ASSERT_EQ(r != nullptr, c.codec.has_value()) << c.bytes.size() << " " << c.checks;
        if (r) {
            EXPECT_EQ(std::tuple(r->codec, r->audio.sampleRate), std::tuple(*c.codec, c.rate)) << c.bytes.size();
        }
    }
}

// With extensions: E-AC-3 (0x87) from its first independent syncframe, in the AC-3 word layout; DTS (0x82, and
// 0x85/0x86 without a registration_descriptor) from a core frame header, channels and speakers from AMODE and LFF
// (the surrounds as back speakers), the LFE flag in AC-3's lfeon word.
TEST(TsRecords, ExtendedAudioFromFrameHeaders)
{
    // A dependent substream (3/2 + LFE, 32 kHz) before an independent 2/0 frame at 48 kHz, 512 bytes, bsid 16.
    ByteVec eac3 = mdtest::Bits("8:0 16:0x0B77 2:1 3:0 11:95 2:2 2:2 3:7 1:1 5:16 3:0");
    mdtest::Append(eac3, mdtest::Bits("16:0x0B77 2:0 3:0 11:255 2:0 2:3 3:2 1:0 5:16 3:0"));
    // DTS core: FTYPE 1, SHORT 31, CPF 0, NBLKS 15 (512 samples), FSIZE, AMODE, SFREQ 13 (48 kHz), RATE 15
    // (768 kbit/s), five flags, EXT_AUDIO_ID, EXT_AUDIO, ASPF, LFF (ETSI TS 102 114 5.3.1).
    const auto dts = [](uint32_t amode, uint32_t lff) {
        return mdtest::Bits("16:0 32:0x7FFE8001 1:1 5:31 1:0 7:15 14:1023 6:" + std::to_string(amode) +
                            " 4:13 5:15 5:0 3:0 1:0 1:0 2:" + std::to_string(lff) + " 16:0");
    };
    struct Case {
        ByteVec bytes;
        uint32_t type;
        bool registration;
        uint32_t extensions;
        std::optional<StreamCodec> codec;
        uint32_t channels, rate, bytesPerSecond;
        std::array<uint32_t, 5> words;
        int64_t frameDuration;  // 100-ns units
        uint32_t mask = 0;
    };
    const Case cases[] = {
        {eac3, 0x87, false, MD_EXT_TS_CODECS, StreamCodec::Eac3, 2, 48000, 16000, {2, 0, 0, 0, 16}, 320000},
        {eac3, 0x87, false, 0, {}, 0, 0, 0, {}, 0},  // not an audio type without the extension
        {dts(9, 2), 0x86, false, MD_EXT_MORE_CODECS, StreamCodec::Dts, 6, 48000, 96000, {0, 0, 1}, 106666, 0x3F},
        {dts(2, 0), 0x82, false, MD_EXT_MORE_CODECS, StreamCodec::Dts, 2, 48000, 96000, {}, 106666, 0x3},  // L + R
        {dts(0, 1), 0x85, false, MD_EXT_MORE_CODECS, StreamCodec::Dts, 2, 48000, 96000, {0, 0, 1}, 106666, 0xC},
        {dts(9, 2), 0x86, false, 0, {}, 0, 0, 0, {}, 0},
        {dts(9, 2), 0x82, false, 0, {}, 0, 0, 0, {}, 0},
        // A registration_descriptor keeps the fixed DTS-HD description.
        {dts(9, 2), 0x86, true, MD_EXT_MORE_CODECS, StreamCodec::TsAudioDtsHd, 2, 48000, 32000, {2, 0, 0, 0, 0}, 333667},
        {ByteVec(40, 0x55), 0x86, false, MD_EXT_MORE_CODECS, {}, 0, 0, 0, {}, 0},  // no core frame
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stream_type " << c.type << " extensions " << c.extensions);
        int64_t frameDuration = -1;
        const auto r = BuildTsAudioRecord(c.bytes.data(), uint32_t(c.bytes.size()), c.type, c.registration, 0x101,
                                          frameDuration, false, c.extensions);
        ASSERT_EQ(r != nullptr, c.codec.has_value());
        if (!r)
            continue;
        std::array<uint32_t, 5> words{};
        std::copy(std::begin(r->audio.codecSpecific), std::end(r->audio.codecSpecific), words.begin());
        EXPECT_EQ(std::tuple(r->codec, r->audio.channels, r->audio.sampleRate, r->audio.bytesPerSecond, words,
                             frameDuration, r->audio.channelMask),
                  std::tuple(*c.codec, c.channels, c.rate, c.bytesPerSecond, c.words, c.frameDuration, c.mask));
    }
}

// Opus private data (MD_EXT_TS_CODECS): a record where an access unit's control header (sync 0x3FF, the trim and
// extension flags, au_size) leads to an Opus packet, whose TOC gives the unit's duration; the channels and speakers
// are the PMT's, the rate 48 kHz.
TEST(TsRecords, OpusAccessUnits)
{
    const ByteVec packet{0xF8, 0x11, 0x22, 0x33};  // TOC: CELT fullband 20 ms, one frame
    const ByteVec bigPacket = mdtest::Concat({ByteVec{0xF8}, ByteVec(300, 0x11)});
    const TsOpusLayout surround{6, 1};
    struct Row {
        const char* rule;
        ByteVec bytes;
        TsOpusLayout layout;
        uint32_t extensions;
        bool described;
        uint32_t channels, mask;
        int64_t frameDuration;
    };
    const Row rows[] = {
        {"no flags", mdtest::Concat({ByteVec{0x7F, 0xE0, 4}, packet}), surround, MD_EXT_TS_CODECS, true, 6, 0x3F,
         200000},
        {"start and end trims", mdtest::Concat({ByteVec{0x7F, 0xF8, 4, 0, 10, 0, 20}, packet}), surround,
         MD_EXT_TS_CODECS, true, 6, 0x3F, 200000},
        {"a control extension", mdtest::Concat({ByteVec{0x7F, 0xE4, 4, 2, 0xAA, 0xBB}, packet}), surround,
         MD_EXT_TS_CODECS, true, 6, 0x3F, 200000},
        {"au_size over 255 bytes", mdtest::Concat({ByteVec{0x7F, 0xE0, 0xFF, 46}, bigPacket}), surround,
         MD_EXT_TS_CODECS, true, 6, 0x3F, 200000},
        {"after other bytes, a 10 ms SILK packet", mdtest::Concat({ByteVec{0x55, 0x7F, 0xE0, 1, 0x00}}), surround,
         MD_EXT_TS_CODECS, true, 6, 0x3F, 100000},
        {"a bare Opus packet", packet, surround, MD_EXT_TS_CODECS, false, 0, 0, 0},
        {"a control header that ends the bytes", ByteVec{0x7F, 0xE0, 0xFF, 0xFF}, surround, MD_EXT_TS_CODECS, false,
         0, 0, 0},
        {"without the extension", mdtest::Concat({ByteVec{0x7F, 0xE0, 4}, packet}), surround, 0, false, 0, 0, 0},
    };
    for (const Row& row : rows) {
        int64_t frameDuration = -1;
        const auto r = BuildTsAudioRecord(row.bytes.data(), uint32_t(row.bytes.size()), kTsOpusStreamType, true,
                                          0x101, frameDuration, false, row.extensions, row.layout);
        ASSERT_EQ(r != nullptr, row.described) << row.rule;
        if (!r)
            continue;
        EXPECT_EQ(std::tuple(r->codec, r->audio.channels, r->audio.sampleRate, r->audio.channelMask, frameDuration),
                  std::tuple(StreamCodec::Opus, row.channels, 48000u, row.mask, row.frameDuration))
            << row.rule;
    }
}

// stream_type 0x10 (MPEG-4 Visual) is described from its VOL only with MD_EXT_MORE_CODECS.
// The first video payload held is the one with the stream's headers: an MPEG-2 sequence header, an HEVC VPS or SPS,
// an MPEG-4 video object layer; the codecs beyond MPEG-2 and H.264 only with their extension.
TEST(TsRecords, VideoIsHeldFromItsFirstHeader)
{
    const auto has = [](ByteVec bytes, uint32_t streamType, uint32_t extensions) {
        bytes.insert(bytes.end(), {0x55, 0x55});
        return md::HasTsSequenceHeader(bytes.data(), uint32_t(bytes.size()), streamType, extensions);
    };
    const uint32_t hevc = MD_EXT_TS_CODECS, mpeg4 = MD_EXT_MORE_CODECS;
    EXPECT_TRUE(has({0, 0, 1, 0xB3}, 0x02, 0));
    EXPECT_FALSE(has({0, 0, 1, 0x00}, 0x02, 0));  // a picture start code
    EXPECT_TRUE(has({0, 0, 1, 0x40, 1}, 0x24, hevc));  // nal_unit_type 32
    EXPECT_TRUE(has({0, 0, 1, 0x42, 1}, 0x24, hevc));  // 33
    EXPECT_FALSE(has({0, 0, 1, 0x44, 1}, 0x24, hevc));  // 34, a PPS
    EXPECT_FALSE(has({0, 0, 1, 0x02, 1}, 0x24, hevc));  // a slice
    EXPECT_TRUE(has({0, 0, 1, 0x20}, 0x10, mpeg4));
    EXPECT_FALSE(has({0, 0, 1, 0xB6}, 0x10, mpeg4));  // a VOP
    EXPECT_FALSE(has({0, 0, 1, 0x20}, 0x10, 0));
}

TEST(TsRecords, Mpeg4VisualWithItsExtensionOnly)
{
    const ByteVec es = mdtest::Mpeg4VisualStream(320, 240);
    for (const uint32_t extensions : {0u, uint32_t(MD_EXT_MORE_CODECS)}) {
        uint8_t mpeg1 = 0, headersFound = 0;
        auto record = md::NewStreamRecord();
        ASSERT_TRUE(record);
        BuildTsVideoRecord(es.data(), uint32_t(es.size()), 0x10, 0x100, mpeg1, headersFound, *record, false, extensions);
        const bool described = extensions != 0;
        EXPECT_EQ(std::tuple(headersFound, record->video.width, record->video.height),
                  std::tuple(uint8_t(described), described ? 320u : 0u, described ? 240u : 0u))
            << extensions;
    }
}

}  // namespace
}  // namespace md
