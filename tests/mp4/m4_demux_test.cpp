// The MP4 demultiplexer: details of real files that ffprobe does not show, and
// synthetic files for track selection, codec codes, audio words, aspect rules,
// frame timing, bit rate and the camera-file marks. What the host receives for
// every sample is compared with ffprobe in the component's tests.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "input/memory_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "mp4/m4_demux.h"
#include "support/box_builder.h"
#include "support/files.h"
#include "support/mp4_builders.h"
#include "support/ps_builders.h"

namespace {

namespace fs = std::filesystem;
using namespace md;
using mdtest::Bytes8;
using mdtest::Mp4FileLayout;
using mdtest::Mp4TrackLayout;

struct Demuxed {
    uint32_t result = 0;
    M4Demux demux;
    StreamList streams;
    const StreamRecord* Video() const { return streams.First(StreamClass::Video); }
    const StreamRecord* Audio() const { return streams.First(StreamClass::Audio); }
};

std::unique_ptr<Demuxed> Demux(Bytes8 bytes)
{
    auto d = std::make_unique<Demuxed>();
    MemoryInputStream input(std::move(bytes));
    d->result = d->demux.Parse(&input, &d->streams);
    return d;
}

std::unique_ptr<Demuxed> DemuxFile(const fs::path& path)
{
    auto d = std::make_unique<Demuxed>();
    MSFileInputStream input(path.wstring().c_str());
    d->result = d->demux.Parse(&input, &d->streams);
    return d;
}

std::unique_ptr<Demuxed> DemuxTracks(std::vector<Mp4TrackLayout> tracks)
{
    Mp4FileLayout layout;
    layout.tracks = std::move(tracks);
    return Demux(mdtest::Mp4File(layout));
}

Mp4TrackLayout VideoTrack(Bytes8 entry, uint32_t trackId = 1, size_t samples = 2)
{
    Mp4TrackLayout t;
    t.handler = "vide";
    t.sampleEntry = std::move(entry);
    t.trackId = trackId;
    t.samples.assign(samples, Bytes8(64, 0x11));
    return t;
}

Mp4TrackLayout AudioTrack(Bytes8 entry, uint32_t trackId = 2, std::vector<Bytes8> samples = {Bytes8(32, 0x22)})
{
    Mp4TrackLayout t;
    t.handler = "soun";
    t.sampleEntry = std::move(entry);
    t.trackId = trackId;
    t.timeScale = 48000;
    t.sampleDelta = 1024;
    t.samples = std::move(samples);
    return t;
}

// An 'avc1' entry of the given display size whose SPS is f.
Bytes8 Avc1(uint16_t width, uint16_t height, const mdtest::AvcSpsFields& f, uint8_t profile = 100)
{
    return mdtest::Avc1Entry(width, height, {mdtest::AvcSpsNal(f)}, {mdtest::AvcPpsNal({})}, profile);
}

mdtest::AvcSpsFields Sps(uint32_t width, uint32_t height)
{
    mdtest::AvcSpsFields f;
    f.widthMbsMinus1 = (width + 15) / 16 - 1;
    f.heightMapUnitsMinus1 = (height + 15) / 16 - 1;
    f.cropBottom = ((height + 15) / 16 * 16 - height) / 2;
    return f;
}

// ---- Real files -----------------------------------------------------------------

// The samples whose details ffprobe does not show: the interlaced H.264 file
// is MBAFF, MPEG-1 audio keeps its frame header's words, and every file's
// 'moov' follows its 'mdat' except the ones written for streaming.
TEST(M4Demux, RealFileDetails)
{
    const auto interlaced = DemuxFile(md::test::TestDataDir() / "mp4_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.mp4");
    ASSERT_NE(interlaced->Video(), nullptr);
    EXPECT_EQ(interlaced->Video()->progressive, 0);
    EXPECT_EQ(interlaced->Video()->fieldCoding, 1u);  // x264 interlaced=1 codes MBAFF frames
    EXPECT_EQ(interlaced->Video()->video.profile, 2u);  // High
    EXPECT_EQ(interlaced->demux.IsMoovFirst(), 0);
    // The header blocks hold the parameter sets behind four-byte start codes.
    EXPECT_GT(interlaced->Video()->extraData1Length, 4);
    EXPECT_EQ(interlaced->Video()->extraData1[3], 1);
    EXPECT_EQ(interlaced->Video()->extraData1[4] & 0x1F, 7);
    EXPECT_EQ(interlaced->Video()->extraData2[4] & 0x1F, 8);

    const auto fragmented = DemuxFile(md::test::TestDataDir() / "mp4frag_h264_640x360_25fps_aac_48k_stereo.mp4");
    EXPECT_EQ(fragmented->demux.IsMoovFirst(), 1);

    const fs::path mp2 = md::test::RealWorldDir() / "mp4_mp2_audio.mp4";
    if (!fs::exists(mp2))
        GTEST_SKIP() << "real-world samples not present";
    const auto mpegAudio = DemuxFile(mp2);
    const StreamRecord* a = mpegAudio->Audio();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->codec, StreamCodec::Mpeg1Audio);
    // The first frame starts FF FD E0 C4: layer bits 10 (Layer II, index 1),
    // mode bits 11 (single channel, 3), bit-rate index 14 (384 kbit/s).
    EXPECT_EQ(a->audio.codecSpecific[0], 1u);
    EXPECT_EQ(a->audio.codecSpecific[1], 3u);
    EXPECT_EQ(a->audio.codecSpecific[2], 384000u);
    EXPECT_EQ(a->audio.codecSpecific[3] & 0xFF, 0xFFu);  // the sync byte, first in the lowest byte
}

// ---- Track selection and failures ----------------------------------------------------

TEST(M4Demux, TrackSelection)
{
    {
        // Two video tracks: the last one in the file is described.
        const auto d = DemuxTracks({VideoTrack(mdtest::VisualEntry("cvid", 320, 240), 1),
                                    VideoTrack(mdtest::VisualEntry("jpeg", 640, 480), 7)});
        ASSERT_EQ(d->result, 1u);
        ASSERT_EQ(d->streams.Count(), 1u);
        EXPECT_EQ(d->Video()->codec, StreamCodec::Jpeg);
        EXPECT_EQ(d->Video()->streamId, 7u);
        EXPECT_EQ(d->Video()->video.width, 640u);
    }
    {
        // A video track of a codec without a record, an unrecognised sound entry
        // and a text track: no records, but both kinds of track are there.
        Mp4TrackLayout text = VideoTrack(mdtest::VisualEntry("tx3g", 0, 0), 3);
        text.handler = "text";
        const auto d = DemuxTracks({VideoTrack(mdtest::VisualEntry("hvc1", 1920, 1080), 1),
                                    AudioTrack(mdtest::SoundEntry("sawb", 1, 16, 16000), 2), text});
        EXPECT_EQ(d->result, 1u);
        EXPECT_EQ(d->streams.Count(), 0u);
        uint8_t hasVideo = 0, hasAudio = 0;
        d->demux.GetTrackFlags(hasVideo, hasAudio);
        EXPECT_EQ(hasVideo, 1);
        EXPECT_EQ(hasAudio, 1);
    }
    {
        // The audio record comes first, then the video record; each carries its track ID.
        const auto d = DemuxTracks({VideoTrack(mdtest::VisualEntry("cvid", 320, 240), 5),
                                    AudioTrack(mdtest::SoundEntry("sowt", 2, 16, 48000), 9)});
        ASSERT_EQ(d->streams.Count(), 2u);
        EXPECT_EQ(d->streams.At(0)->streamClass, StreamClass::Audio);
        EXPECT_EQ(d->streams.At(0)->streamId, 9u);
        EXPECT_EQ(d->streams.At(1)->streamClass, StreamClass::Video);
        EXPECT_EQ(d->streams.At(1)->streamId, 5u);
    }
    {
        // A track whose 'stsd' holds no entry adds nothing.
        const auto d = DemuxTracks({VideoTrack({}, 1)});
        EXPECT_EQ(d->result, 1u);
        EXPECT_EQ(d->streams.Count(), 0u);
    }
}

TEST(M4Demux, ParseFailures)
{
    M4Demux demux;
    StreamList streams;
    Mp4FileLayout layout;
    layout.tracks = {VideoTrack(mdtest::VisualEntry("cvid", 320, 240))};
    const Bytes8 good = mdtest::Mp4File(layout);
    MemoryInputStream input(good.data(), good.size());
    EXPECT_EQ(demux.Parse(nullptr, &streams), 0u);
    EXPECT_EQ(demux.Parse(&input, nullptr), 0u);

    // A 'moov' without any 'trak'.
    EXPECT_EQ(Demux(mdtest::Mp4File(Mp4FileLayout{}))->result, 0u);
    // One trailing byte, or a cut in the last box: the boxes do not cover the file.
    Bytes8 trailing = good;
    trailing.push_back(0);
    EXPECT_EQ(Demux(trailing)->result, 0u);
    EXPECT_EQ(Demux(Bytes8(good.begin(), good.end() - 3))->result, 0u);
    EXPECT_EQ(Demux(Bytes8(1000, 0x47))->result, 0u);
    EXPECT_EQ(Demux({})->result, 0u);

    // The operations the MP4 demultiplexer does not implement.
    const uint8_t bytes[4] = {0, 0, 1, 0xBA};
    EXPECT_EQ(demux.ParsePackets(bytes, 4, nullptr, nullptr), 1u);
    EXPECT_EQ(demux.ParseBuffer(bytes, 4, &streams), 1u);
    EXPECT_TRUE(demux.HasContainerAspect());
    EXPECT_EQ(demux.VideoStartTime(), 0);
}

// Damaged copies of a file with every kind of entry never crash the demultiplexer
// and never read outside the file.
TEST(M4Demux, DamagedFilesAreSafe)
{
    const Bytes8 dsi = {0x12, 0x10};
    Mp4FileLayout layout;
    layout.tracks = {VideoTrack(Avc1(720, 480, Sps(720, 480))),
                   AudioTrack(mdtest::Mp4aEntry(2, 16, 44100, 0x6B, 128000, dsi), 2, {{0xFF, 0xFD, 0xA4, 0x00}})};
    const Bytes8 file = mdtest::Mp4File(layout);
    uint32_t state = 12345;
    for (int round = 0; round < 400; ++round) {
        Bytes8 damaged = file;
        for (int k = 0; k < 4; ++k) {
            state = state * 1103515245 + 12345;
            damaged[(state >> 8) % damaged.size()] ^= static_cast<uint8_t>(1 + (state >> 24) % 255);
        }
        const auto d = Demux(std::move(damaged));
        EXPECT_LE(d->streams.Count(), 2u);
    }
    for (size_t cut = 0; cut < file.size(); cut += 7)
        EXPECT_EQ(Demux(Bytes8(file.begin(), file.begin() + cut))->result, 0u);
}

// ---- Audio -----------------------------------------------------------------------------

TEST(M4Demux, AacObjectTypeAndFormat)
{
    struct Case {
        uint8_t objectType;
        Bytes8 dsi;
        uint32_t expected;
    };
    const Case cases[] = {
        {0x40, {0x12, 0x10}, 2},        // AudioSpecificConfig: audioObjectType 2 (LC)
        {0x40, {0x2B, 0x8A, 0x08}, 5},  // audioObjectType 5 (SBR)
        {0x40, {}, 2},                  // no AudioSpecificConfig: LC
        {0x66, {}, 1},                  // MPEG-2 AAC Main
        {0x67, {0x12, 0x10}, 2},        // MPEG-2 AAC LC
        {0x68, {}, 3},                  // MPEG-2 AAC SSR
        {0xA5, {}, 0},                  // not an AAC object type
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "objectTypeIndication " << int(c.objectType));
        const auto d = DemuxTracks({AudioTrack(mdtest::Mp4aEntry(1, 16, 22050, c.objectType, 128000, c.dsi))});
        const StreamRecord* a = d->Audio();
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->codec, StreamCodec::Aac);
        EXPECT_EQ(a->audio.codecSpecific[0], c.expected);
        EXPECT_EQ(a->audio.bytesPerSecond, 16000u);  // avgBitrate / 8
        EXPECT_EQ(a->audio.bitsPerSample, 16u);
        // 0x12 0x10: sampling index 4 (44100 Hz), channel configuration 2; the
        // AudioSpecificConfig replaces the entry's 1 channel at 22050 Hz.
        const bool fromConfig = c.dsi.size() == 2;
        EXPECT_EQ(a->audio.channels, fromConfig ? 2u : 1u);
        EXPECT_EQ(a->audio.sampleRate, fromConfig ? 44100u : 22050u);
    }
}

TEST(M4Demux, MpegAudioInMp4a)
{
    // MPEG-1 Layer II, 192 kbit/s, 48 kHz, stereo, no CRC: FF FD A4 00.
    const Bytes8 frame = {0xFF, 0xFD, 0xA4, 0x00, 0x11, 0x22, 0x33, 0x44};
    {
        // The entry says mono at 44100 with 64 kbit/s: those values win; block
        // align (144 x 192000 / 48000) and the MPEG audio words come from the frame.
        const auto d = DemuxTracks({AudioTrack(mdtest::Mp4aEntry(1, 16, 44100, 0x6B, 64000, {}), 2, {frame})});
        const StreamRecord* a = d->Audio();
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->codec, StreamCodec::Mpeg1Audio);
        EXPECT_EQ(a->audio.channels, 1u);
        EXPECT_EQ(a->audio.sampleRate, 44100u);
        EXPECT_EQ(a->audio.bytesPerSecond, 8000u);
        EXPECT_EQ(a->audio.bitsPerSample, 16u);
        EXPECT_EQ(a->audio.blockAlign, 576u);
        EXPECT_EQ(a->audio.codecSpecific[0], 1u);  // Layer II
        EXPECT_EQ(a->audio.codecSpecific[1], 0u);  // stereo
        EXPECT_EQ(a->audio.codecSpecific[2], 192000u);
        EXPECT_EQ(a->audio.codecSpecific[3], 0x00A4FDFFu);
    }
    {
        // MPEG-2 audio (0x69) whose first sample is no frame header: only the entry's values.
        const auto d =
            DemuxTracks({AudioTrack(mdtest::Mp4aEntry(2, 16, 24000, 0x69, 96000, {}), 2, {Bytes8(16, 0x00)})});
        const StreamRecord* a = d->Audio();
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->codec, StreamCodec::Mpeg2Audio);
        EXPECT_EQ(a->audio.channels, 2u);
        EXPECT_EQ(a->audio.bytesPerSecond, 12000u);
        EXPECT_EQ(a->audio.blockAlign, 0u);
        EXPECT_EQ(a->audio.codecSpecific[2], 0u);
    }
}

TEST(M4Demux, PcmAndAmrEntries)
{
    struct Case {
        const char* type;
        uint16_t channels;
        uint16_t bits;
        uint32_t rate;
        StreamCodec codec;
        uint32_t bytesPerSecond;
    };
    const Case cases[] = {
        {"twos", 2, 16, 44100, StreamCodec::Lpcm, 176400},
        {"sowt", 2, 16, 48000, StreamCodec::PcmLittleEndian, 192000},
        {"raw ", 1, 8, 22050, StreamCodec::PcmLittleEndian, 22050},
        {".mp3", 2, 16, 44100, StreamCodec::QuickTimeMp3, 176400},
        {"samr", 1, 16, 8000, StreamCodec::AmrNb, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Bytes8 entry = mdtest::SoundEntry("twos", c.channels, c.bits, c.rate);
        std::copy(c.type, c.type + 4, entry.begin() + 4);  // the entry's type
        const auto d = DemuxTracks({AudioTrack(entry)});
        const StreamRecord* a = d->Audio();
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->codec, c.codec);
        EXPECT_EQ(a->audio.channels, c.channels);
        EXPECT_EQ(a->audio.sampleRate, c.rate);
        EXPECT_EQ(a->audio.bitsPerSample, c.bits);
        EXPECT_EQ(a->audio.bytesPerSecond, c.bytesPerSecond);
    }
}

// ---- Video -----------------------------------------------------------------------------

TEST(M4Demux, Avc1DisplayAspect)
{
    struct Case {
        uint16_t width;
        uint16_t height;
        bool vui;
        uint32_t idc;  // 255: sar below
        uint16_t sarW, sarH;
        uint32_t x, y;
    };
    const Case cases[] = {
        // NTSC and PAL pictures with their nominal sample aspects. 720 x 10 / (480 x 11)
        // is 1.36, not 4:3, but these sizes keep their nominal aspect.
        {720, 480, true, 3, 0, 0, 4, 3},
        {720, 480, true, 5, 0, 0, 16, 9},
        {720, 576, true, 2, 0, 0, 4, 3},
        {720, 576, true, 4, 0, 0, 16, 9},
        // The same sample aspect at other widths: 704 x 10 : 480 x 11 is exactly
        // 4:3; 352 x 10 : 480 x 11 stays unreduced.
        {704, 480, true, 3, 0, 0, 4, 3},
        {352, 480, true, 3, 0, 0, 3520, 5280},
        // 1440 x 4 : 1080 x 3 is 16:9 (HDV).
        {1440, 1080, true, 14, 0, 0, 16, 9},
        {640, 480, true, 255, 1, 1, 4, 3},
        {100, 100, true, 255, 3, 2, 300, 200},
        {1280, 720, true, 1, 0, 0, 16, 9},
        // Reserved index 17 and unspecified 0: the picture size decides.
        {1280, 1024, true, 17, 0, 0, 1280, 1024},
        {1920, 1080, true, 0, 0, 0, 16, 9},
        // No VUI: the picture size decides.
        {1920, 1080, false, 0, 0, 0, 16, 9},
        {1280, 1024, false, 0, 0, 0, 1280, 1024},
        {640, 480, false, 0, 0, 0, 4, 3},
        {512, 512, false, 0, 0, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " idc " << c.idc);
        mdtest::AvcSpsFields f = Sps(c.width, c.height);
        f.vui = c.vui;
        f.aspectInfo = c.vui;
        f.aspectIdc = c.idc;
        f.sarWidth = c.sarW;
        f.sarHeight = c.sarH;
        const auto d = DemuxTracks({VideoTrack(Avc1(c.width, c.height, f))});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->video.aspectX, c.x);
        EXPECT_EQ(v->video.aspectY, c.y);
    }
}

TEST(M4Demux, Avc1AspectFromCameraInfoBox)
{
    // Without VUI a camera's udta/INFO box states the aspect: code 1 is 4:3 and
    // code 2 16:9, whatever the picture's shape; other codes leave it to the size.
    struct Case {
        uint32_t code, x, y;
    };
    for (const Case& c : {Case{1, 4, 3}, Case{2, 16, 9}, Case{3, 1920, 1088}}) {
        const uint32_t code = c.code, x = c.x, y = c.y;
        SCOPED_TRACE(code);
        mdtest::BoxBuilder udta;
        udta.Begin("udta").Begin("INFO").Zeros(28).U32(code).Zeros(4).End().End();
        Mp4FileLayout layout;
        layout.tracks = {VideoTrack(Avc1(1920, 1088, Sps(1920, 1088)))};
        layout.moovExtra = udta.Take();
        const auto d = Demux(mdtest::Mp4File(layout));
        ASSERT_NE(d->Video(), nullptr);
        EXPECT_EQ(d->Video()->video.aspectX, x);
        EXPECT_EQ(d->Video()->video.aspectY, y);
    }
}

TEST(M4Demux, Avc1InterlacingProfileAndHeaders)
{
    struct Case {
        bool frameMbsOnly;
        bool mbaff;
        uint8_t profile;
        uint8_t progressive;
        uint32_t fieldCoding;
        uint32_t profileWord;
    };
    const Case cases[] = {
        {true, false, 66, 1, 0, 0},
        {false, true, 77, 0, 1, 1},
        {false, false, 100, 0, 2, 2},
        {true, false, 88, 1, 0, 0},  // Extended: no code of its own
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "profile " << int(c.profile));
        mdtest::AvcSpsFields f = Sps(1920, 1080);
        f.profileIdc = c.profile;
        f.frameMbsOnly = c.frameMbsOnly;
        f.mbAdaptiveFrameField = c.mbaff;
        if (!c.frameMbsOnly) {
            f.heightMapUnitsMinus1 = 33;  // 34 x 16 x 2 = 1088 lines
            f.cropBottom = 2;
        }
        const Bytes8 sps = mdtest::AvcSpsNal(f);
        const Bytes8 pps = mdtest::AvcPpsNal({});
        const auto d = DemuxTracks({VideoTrack(mdtest::Avc1Entry(1920, 1080, {sps}, {pps}, c.profile))});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->codec, StreamCodec::H264);
        EXPECT_EQ(v->progressive, c.progressive);
        EXPECT_EQ(v->fieldCoding, c.fieldCoding);
        EXPECT_EQ(v->video.profile, c.profileWord);

        Bytes8 header1 = {0, 0, 0, 1};
        header1.insert(header1.end(), sps.begin(), sps.end());
        Bytes8 header2 = {0, 0, 0, 1};
        header2.insert(header2.end(), pps.begin(), pps.end());
        ASSERT_EQ(v->extraData1Length, int32_t(header1.size()));
        EXPECT_EQ(Bytes8(v->extraData1, v->extraData1 + header1.size()), header1);
        ASSERT_EQ(v->extraData2Length, int32_t(header2.size()));
        EXPECT_EQ(Bytes8(v->extraData2, v->extraData2 + header2.size()), header2);
    }
    {
        // Two sequence parameter sets follow each other in the first block.
        const Bytes8 sps = mdtest::AvcSpsNal(Sps(640, 480));
        const auto d = DemuxTracks({VideoTrack(mdtest::Avc1Entry(640, 480, {sps, sps}, {mdtest::AvcPpsNal({})}))});
        ASSERT_NE(d->Video(), nullptr);
        EXPECT_EQ(d->Video()->extraData1Length, int32_t(2 * (sps.size() + 4)));
        EXPECT_EQ(d->Video()->extraData1[sps.size() + 7], 1);
    }
}

TEST(M4Demux, FrameTiming)
{
    struct Case {
        const char* entry;
        uint32_t timeScale;
        uint32_t delta;
        int64_t duration;
        double rate;
    };
    const Case cases[] = {
        {"avc1", 30000, 1001, 333667, 29.97},  // 10^7 x 1001 / 30000 = 333666.7, rounded
        {"avc1", 25000, 1000, 400000, 25.0},
        {"avc1", 24000, 1001, 417083, 23.976},  // 23.97, snapped to 23.976
        {"avc1", 15360, 1024, 666667, 15.0},    // 14.99, snapped to 15
        {"mp4v", 15360, 1024, 666667, 14.99},   // MPEG-4 Visual keeps 14.99
        {"avc1", 90000, 3600, 400000, 25.0},
        {"avc1", 0, 1000, 0, 0.0},  // no time scale and no composition offsets: unknown
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.entry << " " << c.delta << "/" << c.timeScale);
        const bool mp4v = std::string(c.entry) == "mp4v";
        Bytes8 entry = mp4v ? mdtest::Mp4vEntry(320, 240, mdtest::Mpeg4Vol(320, 240, 25, false))
                            : Avc1(640, 480, Sps(640, 480));
        Mp4TrackLayout t = VideoTrack(entry, 1, 30);
        t.timeScale = c.timeScale;
        t.sampleDelta = c.delta;
        const auto d = DemuxTracks({t});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->video.frameDuration, c.duration);
        EXPECT_DOUBLE_EQ(v->frameRate, c.rate);
    }
}

TEST(M4Demux, VideoBitRate)
{
    // 25 video samples of 4000 bytes at 1000/25000 s: the track lasts 1 s.
    // Audio 'twos' mono 16-bit at 8000 Hz takes 16000 bytes a second.
    Mp4TrackLayout video = VideoTrack(Avc1(640, 480, Sps(640, 480)), 1, 25);
    video.samples.assign(25, Bytes8(4000, 0x33));
    const Mp4TrackLayout audio = AudioTrack(mdtest::SoundEntry("twos", 1, 16, 8000), 2, {Bytes8(16000, 0)});
    const auto d = DemuxTracks({video, audio});
    ASSERT_NE(d->Video(), nullptr);
    const uint64_t mdatSize = 8 + 25 * 4000 + 16000;
    EXPECT_EQ(d->Video()->video.bitRate, uint32_t((mdatSize - 16000) * 8));

    // Half a second of video: twice the rate; no audio record takes nothing off.
    video.samples.resize(25);
    video.sampleDelta = 500;
    const auto alone = DemuxTracks({video});
    EXPECT_EQ(alone->Video()->video.bitRate, uint32_t((8 + 25 * 4000) * 8 * 2));
}

TEST(M4Demux, Mp4vEntries)
{
    {
        // PAR 10:11 at 720x480: 7200:5280, neither 4:3 nor 16:9, unreduced.
        const auto d = DemuxTracks(
            {VideoTrack(mdtest::Mp4vEntry(720, 480, mdtest::Mpeg4Vol(720, 480, 30000, true, 15, 10, 11), 800000))});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->codec, StreamCodec::Mpeg4Video);
        EXPECT_EQ(v->video.aspectX, 7200u);
        EXPECT_EQ(v->video.aspectY, 5280u);
        EXPECT_EQ(v->progressive, 0);  // the VOL is interlaced
        EXPECT_EQ(v->video.bitRate, 800000u);  // as the 'esds' states it
    }
    {
        // The VOL's size replaces the entry's; square pixels at 640x480 are 4:3.
        const auto d = DemuxTracks({VideoTrack(mdtest::Mp4vEntry(1, 1, mdtest::Mpeg4Vol(640, 480, 25, false)))});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->video.width, 640u);
        EXPECT_EQ(v->video.aspectX, 4u);
        EXPECT_EQ(v->video.aspectY, 3u);
        EXPECT_EQ(v->progressive, 1);
    }
    {
        // No video object layer: the aspect stays unsettled and the picture
        // does not count as progressive.
        const Bytes8 notVol = {0x00, 0x00, 0x01, 0xB0, 0x01};
        const auto d = DemuxTracks({VideoTrack(mdtest::Mp4vEntry(352, 288, notVol))});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->video.width, 352u);
        EXPECT_EQ(v->video.aspectX, 0xFFFFFFFFu);
        EXPECT_EQ(v->video.aspectY, 0xFFFFFFFFu);
        EXPECT_EQ(v->progressive, 0);
    }
}

TEST(M4Demux, H263CinepakAndJpegEntries)
{
    const auto h263 = DemuxTracks({VideoTrack(mdtest::S263Entry(176, 144, 45, 3))});
    ASSERT_NE(h263->Video(), nullptr);
    EXPECT_EQ(h263->Video()->codec, StreamCodec::H263);
    EXPECT_EQ(h263->Video()->video.profile, 3u);
    EXPECT_EQ(h263->Video()->video.level, 45u);
    EXPECT_EQ(h263->Video()->video.aspectX, 11u);  // 176:144 reduced
    EXPECT_EQ(h263->Video()->video.aspectY, 9u);

    const auto cinepak = DemuxTracks({VideoTrack(mdtest::VisualEntry("cvid", 320, 240))});
    ASSERT_NE(cinepak->Video(), nullptr);
    EXPECT_EQ(cinepak->Video()->codec, StreamCodec::Cinepak);
    EXPECT_EQ(cinepak->Video()->video.aspectX, 4u);
    EXPECT_EQ(cinepak->Video()->video.aspectY, 3u);
    EXPECT_DOUBLE_EQ(cinepak->Video()->frameRate, 25.0);

    const auto jpeg = DemuxTracks({VideoTrack(mdtest::VisualEntry("jpeg", 0, 0))});
    ASSERT_NE(jpeg->Video(), nullptr);
    EXPECT_EQ(jpeg->Video()->codec, StreamCodec::Jpeg);
    EXPECT_EQ(jpeg->Video()->video.aspectX, 0u);
    EXPECT_EQ(jpeg->Video()->video.aspectY, 0u);
}

// ---- Camera files and file-level facts ----------------------------------------------

using mdtest::MarkedThumbnail;
using mdtest::UuidWithOlym;
constexpr auto& kMaker = mdtest::kCameraMaker;

TEST(M4Demux, CameraFileWithUuidAndThumbnail)
{
    const Bytes8 jpeg(40, 0x5A);
    mdtest::BoxBuilder udta;
    udta.Begin("udta").Begin("thmb").U32(uint32_t(jpeg.size())).Bytes(jpeg).Zeros(8).End().End();
    Mp4FileLayout layout;
    layout.tracks = {VideoTrack(mdtest::VisualEntry("jpeg", 640, 480))};
    layout.topExtra = UuidWithOlym("cpgd", kMaker);
    layout.moovExtra = udta.Take();
    layout.creationTime = 3500000000;
    const auto d = Demux(mdtest::Mp4File(layout));
    ASSERT_EQ(d->result, 1u);
    EXPECT_EQ(d->demux.HasCpgdUuid(), 1);
    EXPECT_EQ(d->demux.IsCameraFile(), 1);
    EXPECT_EQ(d->demux.IsMoovFirst(), 1);
    Mp4CreationDate date{};
    d->demux.GetCreationDate(date);
    EXPECT_EQ(date.year, 2014);
    EXPECT_EQ(date.month, 11);
    EXPECT_EQ(date.day, 28);
    EXPECT_EQ(date.hour, 6);
    EXPECT_EQ(date.minute, 13);
    EXPECT_EQ(date.second, 20);
    EXPECT_EQ(date.dayOfWeek, 0);
    EXPECT_EQ(date.milliseconds, 0);
    ASSERT_EQ(d->demux.ThumbnailLength(), int32_t(jpeg.size()));
    const auto thumb = d->demux.Thumbnail();
    EXPECT_EQ(Bytes8(thumb.begin(), thumb.end()), MarkedThumbnail(jpeg));
}

TEST(M4Demux, CameraFileWithInfAndTags)
{
    const Bytes8 jpeg(32, 0x6B);
    mdtest::BoxBuilder b;
    b.Begin("udta");
    b.Begin("\xA9inf").U32(1).Text(kMaker).Zeros(48 - sizeof(kMaker)).U8(0).End();
    b.Begin("TAGS").Text(kMaker).Zeros(235 - sizeof(kMaker));
    b.Le32(1).Le32(2).Le32(3).Le32(uint32_t(jpeg.size())).Le32(20);  // thumbnail at payload 235 + 20
    b.Bytes(jpeg).End();
    b.End();
    Mp4FileLayout layout;
    layout.tracks = {VideoTrack(mdtest::VisualEntry("jpeg", 640, 480))};
    layout.moovExtra = b.Take();
    layout.moovFirst = false;
    layout.creationTime = 3034670400;  // 2000-02-29 12:00:00
    // A uuid box with another extended type and no maker text.
    layout.topExtra = UuidWithOlym("PRFX", "SOMEONE ELSE");
    const auto d = Demux(mdtest::Mp4File(layout));
    ASSERT_EQ(d->result, 1u);
    EXPECT_EQ(d->demux.HasCpgdUuid(), 0);
    EXPECT_EQ(d->demux.IsCameraFile(), 1);
    EXPECT_EQ(d->demux.IsMoovFirst(), 0);
    Mp4CreationDate date{};
    d->demux.GetCreationDate(date);
    EXPECT_EQ(date.year, 2000);
    EXPECT_EQ(date.month, 2);
    EXPECT_EQ(date.day, 29);
    EXPECT_EQ(date.hour, 12);
    ASSERT_EQ(d->demux.ThumbnailLength(), int32_t(jpeg.size()));
    const auto thumb = d->demux.Thumbnail();
    EXPECT_EQ(Bytes8(thumb.begin(), thumb.end()), MarkedThumbnail(jpeg));
}

TEST(M4Demux, NotACameraFile)
{
    // The uuid box names the maker, but a '©inf' with other text has the last word.
    mdtest::BoxBuilder b;
    b.Begin("udta").Begin("\xA9inf").U32(1).Text("ANOTHER CAMERA MAKER").Zeros(28).U8(0).End().End();
    Mp4FileLayout layout;
    layout.tracks = {VideoTrack(mdtest::VisualEntry("jpeg", 640, 480))};
    layout.topExtra = UuidWithOlym("cpgd", kMaker);
    layout.moovExtra = b.Take();
    layout.creationTime = 3500000000;
    const auto d = Demux(mdtest::Mp4File(layout));
    ASSERT_EQ(d->result, 1u);
    EXPECT_EQ(d->demux.HasCpgdUuid(), 1);
    EXPECT_EQ(d->demux.IsCameraFile(), 0);
    EXPECT_EQ(d->demux.CreationTime(), 0u);  // only a camera file's time is kept
    EXPECT_EQ(d->demux.ThumbnailLength(), 0);
    Mp4CreationDate date{};
    d->demux.GetCreationDate(date);
    EXPECT_EQ(date.year, 1904);
    EXPECT_EQ(date.month, 1);
    EXPECT_EQ(date.day, 1);
}

TEST(M4Demux, CreationDateCalendar)
{
    struct Case {
        uint64_t seconds;
        uint16_t year, month, day, hour, minute, second;
    };
    // Reference dates from a calendar library, counted from 1904-01-01 00:00:00.
    const Case cases[] = {
        {0, 1904, 1, 1, 0, 0, 0},
        {31622399, 1904, 12, 31, 23, 59, 59},  // 1904 is a leap year
        {3034670400, 2000, 2, 29, 12, 0, 0},
        {0xFFFFFFFF, 2040, 2, 6, 6, 28, 15},
        {6190387201, 2100, 3, 1, 0, 0, 1},  // 2100 is not a leap year
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        const Mp4CreationDate d = CreationDateFrom1904(c.seconds);
        EXPECT_EQ(d.year, c.year);
        EXPECT_EQ(d.month, c.month);
        EXPECT_EQ(d.day, c.day);
        EXPECT_EQ(d.hour, c.hour);
        EXPECT_EQ(d.minute, c.minute);
        EXPECT_EQ(d.second, c.second);
    }
}

}  // namespace
