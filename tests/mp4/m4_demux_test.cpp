// The MP4 demultiplexer: details of real files that ffprobe does not show, and
// synthetic files for track selection, codec codes, audio words, aspect rules,
// frame timing, bit rate and the camera-file marks. What the host receives for
// every sample is compared with ffprobe in the component's tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>

#include "input/memory_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "mp4/m4_demux.h"
#include "support/box_builder.h"
#include "support/files.h"
#include "support/mp4_builders.h"

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

template <class Input>
std::unique_ptr<Demuxed> DemuxInput(Input& input)
{
    auto d = std::make_unique<Demuxed>();
    d->result = d->demux.Parse(&input, &d->streams);
    return d;
}

std::unique_ptr<Demuxed> Demux(Bytes8 bytes)
{
    MemoryInputStream input(std::move(bytes));
    return DemuxInput(input);
}

std::unique_ptr<Demuxed> DemuxFile(const fs::path& path)
{
    MSFileInputStream input(path.wstring().c_str());
    return DemuxInput(input);
}

std::unique_ptr<Demuxed> DemuxTracks(std::vector<Mp4TrackLayout> tracks, Bytes8 moovExtra = {})
{
    Mp4FileLayout layout;
    layout.tracks = std::move(tracks);
    layout.moovExtra = std::move(moovExtra);
    return Demux(mdtest::Mp4File(layout));
}

Mp4TrackLayout VideoTrack(Bytes8 entry, uint32_t trackId = 1, size_t samples = 2)
{
    Mp4TrackLayout t;
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

// The SPS fields of a progressive picture of the given size.
mdtest::AvcSpsFields Sps(uint32_t width, uint32_t height)
{
    mdtest::AvcSpsFields f;
    f.widthMbsMinus1 = (width + 15) / 16 - 1;
    f.heightMapUnitsMinus1 = (height + 15) / 16 - 1;
    f.cropBottom = ((height + 15) / 16 * 16 - height) / 2;
    return f;
}

// An 'avc1' entry of the given display size whose SPS is f.
Bytes8 Avc1(uint16_t width, uint16_t height, const mdtest::AvcSpsFields& f)
{
    return mdtest::Avc1Entry(width, height, {mdtest::AvcSpsNal(f)}, {mdtest::AvcPpsNal({})}, uint8_t(f.profileIdc));
}

Bytes8 Avc1(uint16_t width, uint16_t height) { return Avc1(width, height, Sps(width, height)); }

// ---- Real files -----------------------------------------------------------------

// The samples' details ffprobe does not show: the interlaced H.264 file is
// MBAFF coded, and MPEG-1 audio keeps its frame header's words.
TEST(M4Demux, RealFileDetails)
{
    const auto interlaced = DemuxFile(md::test::TestDataDir() / "mp4_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.mp4");
    const StreamRecord* v = interlaced->Video();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->progressive, 0);
    EXPECT_EQ(v->fieldCoding, 1u);  // x264 interlaced=1 codes MBAFF frames
    EXPECT_EQ(v->video.profile, 2u);  // High
    EXPECT_EQ(v->extraData1[4] & 0x1F, 7);  // the SPS behind its start code

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
    // Two video tracks: the last one in the file is described.
    auto d = DemuxTracks(
        {VideoTrack(mdtest::VisualEntry("cvid", 320, 240), 1), VideoTrack(mdtest::VisualEntry("jpeg", 640, 480), 7)});
    ASSERT_EQ(d->result, 1u);
    ASSERT_EQ(d->streams.Count(), 1u);
    EXPECT_EQ(d->Video()->codec, StreamCodec::Jpeg);
    EXPECT_EQ(d->Video()->streamId, 7u);

    // The audio record comes first, then the video record; each carries its track ID.
    d = DemuxTracks(
        {VideoTrack(mdtest::VisualEntry("cvid", 320, 240), 5), AudioTrack(mdtest::SoundEntry("sowt", 2, 16, 48000), 9)});
    ASSERT_EQ(d->streams.Count(), 2u);
    EXPECT_EQ(d->streams.At(0)->streamClass, StreamClass::Audio);
    EXPECT_EQ(d->streams.At(0)->streamId, 9u);
    EXPECT_EQ(d->streams.At(1)->streamId, 5u);

    // A video codec without a record, an unrecognised sound entry and a text
    // track: no records, but both kinds of track are there.
    Mp4TrackLayout text = VideoTrack(mdtest::VisualEntry("tx3g", 0, 0), 3);
    text.handler = "text";
    d = DemuxTracks({VideoTrack(mdtest::VisualEntry("hvc1", 1920, 1080), 1),
                     AudioTrack(mdtest::SoundEntry("sawb", 1, 16, 16000), 2), text});
    EXPECT_EQ(d->result, 1u);
    EXPECT_EQ(d->streams.Count(), 0u);
    uint8_t hasVideo = 0, hasAudio = 0;
    d->demux.GetTrackFlags(hasVideo, hasAudio);
    EXPECT_EQ(hasVideo, 1);
    EXPECT_EQ(hasAudio, 1);

    // A track whose 'stsd' holds no entry adds nothing.
    d = DemuxTracks({VideoTrack({}, 1)});
    EXPECT_EQ(d->result, 1u);
    EXPECT_EQ(d->streams.Count(), 0u);
}

// Broken files are refused; damaged copies of a file with every kind of entry
// never crash the demultiplexer and never read outside the file.
TEST(M4Demux, BrokenAndDamagedFiles)
{
    Mp4FileLayout layout;
    layout.tracks = {VideoTrack(Avc1(720, 480)),
                     AudioTrack(mdtest::Mp4aEntry(2, 16, 44100, 0x6B, 128000, Bytes8{0x12, 0x10}), 2,
                                {{0xFF, 0xFD, 0xA4, 0x00}})};
    const Bytes8 file = mdtest::Mp4File(layout);
    M4Demux demux;
    StreamList streams;
    MemoryInputStream input(file.data(), file.size());
    EXPECT_EQ(demux.Parse(nullptr, &streams), 0u);
    EXPECT_EQ(demux.Parse(&input, nullptr), 0u);
    EXPECT_EQ(Demux(mdtest::Mp4File(Mp4FileLayout{}))->result, 0u);  // a 'moov' without any 'trak'
    Bytes8 trailing = file;
    trailing.push_back(0);
    EXPECT_EQ(Demux(trailing)->result, 0u);
    EXPECT_EQ(Demux(Bytes8(1000, 0x47))->result, 0u);

    uint32_t state = 12345;
    for (int round = 0; round < 400; ++round) {
        Bytes8 damaged = file;
        for (int k = 0; k < 4; ++k) {
            state = state * 1103515245 + 12345;
            damaged[(state >> 8) % damaged.size()] ^= static_cast<uint8_t>(1 + (state >> 24) % 255);
        }
        EXPECT_LE(Demux(std::move(damaged))->streams.Count(), 2u);
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
        // 0x12 0x10: channel configuration 2, which replaces the entry's 1.
        EXPECT_EQ(a->audio.channels, c.dsi.size() == 2 ? 2u : 1u);
    }
}

TEST(M4Demux, MpegAudioInMp4a)
{
    // MPEG-1 Layer II, 192 kbit/s, 48 kHz, stereo, no CRC: FF FD A4 00. The
    // entry says mono at 44100 with 64 kbit/s: those values win; block align
    // (144 x 192000 / 48000) and the MPEG audio words come from the frame.
    const Bytes8 frame = {0xFF, 0xFD, 0xA4, 0x00, 0x11, 0x22, 0x33, 0x44};
    auto d = DemuxTracks({AudioTrack(mdtest::Mp4aEntry(1, 16, 44100, 0x6B, 64000, {}), 2, {frame})});
    const StreamRecord* a = d->Audio();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->codec, StreamCodec::Mpeg1Audio);
    EXPECT_EQ(a->audio.channels, 1u);
    EXPECT_EQ(a->audio.sampleRate, 44100u);
    EXPECT_EQ(a->audio.bytesPerSecond, 8000u);
    EXPECT_EQ(a->audio.blockAlign, 576u);
    EXPECT_EQ(a->audio.codecSpecific[0], 1u);  // Layer II
    EXPECT_EQ(a->audio.codecSpecific[1], 0u);  // stereo
    EXPECT_EQ(a->audio.codecSpecific[2], 192000u);
    EXPECT_EQ(a->audio.codecSpecific[3], 0x00A4FDFFu);

    // MPEG-2 audio (0x69) whose first sample is no frame header: only the entry's values.
    d = DemuxTracks({AudioTrack(mdtest::Mp4aEntry(2, 16, 24000, 0x69, 96000, {}), 2, {Bytes8(16, 0x00)})});
    ASSERT_NE(d->Audio(), nullptr);
    EXPECT_EQ(d->Audio()->codec, StreamCodec::Mpeg2Audio);
    EXPECT_EQ(d->Audio()->audio.blockAlign, 0u);
}

TEST(M4Demux, PcmAndAmrEntries)
{
    struct Case {
        const char (&type)[5];
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
        const auto d = DemuxTracks({AudioTrack(mdtest::SoundEntry(c.type, c.channels, c.bits, c.rate))});
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
        uint16_t width, height;
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
        {1440, 1080, true, 14, 0, 0, 16, 9},  // 1440 x 4 : 1080 x 3 (HDV)
        {100, 100, true, 255, 3, 2, 300, 200},
        // Reserved index 17, unspecified 0, or no VUI: the picture size decides.
        {1280, 1024, true, 17, 0, 0, 1280, 1024},
        {1920, 1080, true, 0, 0, 0, 16, 9},
        {640, 480, false, 0, 0, 0, 4, 3},
        {512, 512, false, 0, 0, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " idc " << c.idc);
        mdtest::AvcSpsFields f = Sps(c.width, c.height);
        f.vui = f.aspectInfo = c.vui;
        f.aspectIdc = c.idc;
        f.sarWidth = c.sarW;
        f.sarHeight = c.sarH;
        const auto d = DemuxTracks({VideoTrack(Avc1(c.width, c.height, f))});
        ASSERT_NE(d->Video(), nullptr);
        EXPECT_EQ(d->Video()->video.aspectX, c.x);
        EXPECT_EQ(d->Video()->video.aspectY, c.y);
    }

    // Without VUI a camera's udta/INFO box states the aspect: code 1 is 4:3 and
    // code 2 16:9, whatever the picture's shape; other codes leave it to the size.
    for (const auto& [code, x, y] : {std::tuple{1u, 4u, 3u}, {2u, 16u, 9u}, {3u, 1920u, 1088u}}) {
        SCOPED_TRACE(code);
        mdtest::BoxBuilder udta;
        udta.Begin("udta").Begin("INFO").Zeros(28).U32(code).Zeros(4).End().End();
        const auto d = DemuxTracks({VideoTrack(Avc1(1920, 1088))}, udta.Take());
        ASSERT_NE(d->Video(), nullptr);
        EXPECT_EQ(d->Video()->video.aspectX, x);
        EXPECT_EQ(d->Video()->video.aspectY, y);
    }
}

TEST(M4Demux, Avc1InterlacingProfileAndHeaders)
{
    struct Case {
        bool frameMbsOnly, mbaff;
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
        mdtest::AvcSpsFields f;  // 1920x1080
        f.profileIdc = c.profile;
        f.frameMbsOnly = c.frameMbsOnly;
        f.mbAdaptiveFrameField = c.mbaff;
        if (!c.frameMbsOnly) {
            f.heightMapUnitsMinus1 = 33;  // 34 x 16 x 2 = 1088 lines
            f.cropBottom = 2;
        }
        const auto d = DemuxTracks({VideoTrack(Avc1(1920, 1080, f))});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->codec, StreamCodec::H264);
        EXPECT_EQ(v->progressive, c.progressive);
        EXPECT_EQ(v->fieldCoding, c.fieldCoding);
        EXPECT_EQ(v->video.profile, c.profileWord);
    }

    // Each header block holds its parameter sets one after another, each behind
    // a four-byte start code.
    const Bytes8 sps = mdtest::AvcSpsNal(Sps(640, 480));
    const Bytes8 pps = mdtest::AvcPpsNal({});
    const auto d = DemuxTracks({VideoTrack(mdtest::Avc1Entry(640, 480, {sps, sps}, {pps}))});
    const StreamRecord* v = d->Video();
    ASSERT_NE(v, nullptr);
    Bytes8 block1, block2;
    for (Bytes8* block : {&block1, &block1, &block2}) {
        const Bytes8& set = block == &block2 ? pps : sps;
        block->insert(block->end(), {0, 0, 0, 1});
        block->insert(block->end(), set.begin(), set.end());
    }
    ASSERT_EQ(v->extraData1Length, int32_t(block1.size()));
    EXPECT_EQ(Bytes8(v->extraData1, v->extraData1 + block1.size()), block1);
    ASSERT_EQ(v->extraData2Length, int32_t(block2.size()));
    EXPECT_EQ(Bytes8(v->extraData2, v->extraData2 + block2.size()), block2);
}

TEST(M4Demux, FrameTiming)
{
    struct Case {
        bool mp4v;
        uint32_t timeScale;
        uint32_t delta;
        int64_t duration;
        double rate;
    };
    const Case cases[] = {
        {false, 30000, 1001, 333667, 29.97},  // 10^7 x 1001 / 30000 = 333666.7, rounded
        {false, 25000, 1000, 400000, 25.0},
        {false, 24000, 1001, 417083, 23.976},  // 23.97, snapped to 23.976
        {false, 15360, 1024, 666667, 15.0},    // 14.99, snapped to 15
        {true, 15360, 1024, 666667, 14.99},    // MPEG-4 Visual keeps 14.99
        {false, 0, 1000, 0, 0.0},  // no time scale and no composition offsets: unknown
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.mp4v ? "mp4v " : "avc1 ") << c.delta << "/" << c.timeScale);
        Mp4TrackLayout t = VideoTrack(
            c.mp4v ? mdtest::Mp4vEntry(320, 240, mdtest::Mpeg4Vol(320, 240, 25, false)) : Avc1(640, 480), 1, 30);
        t.timeScale = c.timeScale;
        t.sampleDelta = c.delta;
        const auto d = DemuxTracks({t});
        ASSERT_NE(d->Video(), nullptr);
        EXPECT_EQ(d->Video()->video.frameDuration, c.duration);
        EXPECT_DOUBLE_EQ(d->Video()->frameRate, c.rate);
    }
}

TEST(M4Demux, VideoBitRate)
{
    // 25 video samples of 4000 bytes at 1000/25000 s: the track lasts 1 s.
    // Audio 'twos' mono 16-bit at 8000 Hz takes 16000 bytes a second.
    Mp4TrackLayout video = VideoTrack(Avc1(640, 480), 1, 25);
    video.samples.assign(25, Bytes8(4000, 0x33));
    const Mp4TrackLayout audio = AudioTrack(mdtest::SoundEntry("twos", 1, 16, 8000), 2, {Bytes8(16000, 0)});
    const auto d = DemuxTracks({video, audio});
    ASSERT_NE(d->Video(), nullptr);
    const uint64_t mdatSize = 8 + 25 * 4000 + 16000;
    EXPECT_EQ(d->Video()->video.bitRate, uint32_t((mdatSize - 16000) * 8));

    // Half a second of video: twice the rate; no audio record takes nothing off.
    video.sampleDelta = 500;
    const auto alone = DemuxTracks({video});
    ASSERT_NE(alone->Video(), nullptr);
    EXPECT_EQ(alone->Video()->video.bitRate, uint32_t((8 + 25 * 4000) * 8 * 2));
}

TEST(M4Demux, OtherVideoEntries)
{
    // mp4v, PAR 10:11 at 720x480: 7200:5280, neither 4:3 nor 16:9, unreduced;
    // the VOL is interlaced; the bit rate is the one the 'esds' states.
    auto d = DemuxTracks(
        {VideoTrack(mdtest::Mp4vEntry(720, 480, mdtest::Mpeg4Vol(720, 480, 30000, true, 15, 10, 11), 800000))});
    const StreamRecord* v = d->Video();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->codec, StreamCodec::Mpeg4Video);
    EXPECT_EQ(v->video.aspectX, 7200u);
    EXPECT_EQ(v->video.aspectY, 5280u);
    EXPECT_EQ(v->progressive, 0);
    EXPECT_EQ(v->video.bitRate, 800000u);
    // The VOL's size replaces the entry's; square pixels at 640x480 are 4:3.
    d = DemuxTracks({VideoTrack(mdtest::Mp4vEntry(1, 1, mdtest::Mpeg4Vol(640, 480, 25, false)))});
    v = d->Video();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->video.width, 640u);
    EXPECT_EQ(v->video.aspectX, 4u);
    EXPECT_EQ(v->video.aspectY, 3u);
    EXPECT_EQ(v->progressive, 1);
    // No video object layer: the aspect stays unsettled and the picture does
    // not count as progressive.
    d = DemuxTracks({VideoTrack(mdtest::Mp4vEntry(352, 288, Bytes8{0x00, 0x00, 0x01, 0xB0, 0x01}))});
    v = d->Video();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->video.width, 352u);
    EXPECT_EQ(v->video.aspectX, 0xFFFFFFFFu);
    EXPECT_EQ(v->video.aspectY, 0xFFFFFFFFu);
    EXPECT_EQ(v->progressive, 0);

    // H.263, Cinepak and JPEG: the picture size reduced (0:0 for none).
    struct Case {
        Bytes8 entry;
        StreamCodec codec;
        uint32_t x, y;
    };
    const Case cases[] = {
        {mdtest::S263Entry(176, 144, 45, 3), StreamCodec::H263, 11, 9},
        {mdtest::VisualEntry("cvid", 320, 240), StreamCodec::Cinepak, 4, 3},
        {mdtest::VisualEntry("jpeg", 0, 0), StreamCodec::Jpeg, 0, 0},
    };
    for (const Case& c : cases) {
        d = DemuxTracks({VideoTrack(c.entry)});
        v = d->Video();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->codec, c.codec);
        EXPECT_EQ(v->video.aspectX, c.x);
        EXPECT_EQ(v->video.aspectY, c.y);
    }
}

// ---- Camera files ----------------------------------------------------------------------
// The 'cpgd' uuid with a 'thmb' thumbnail is opened through the module in the
// component's tests; here the '©inf' and 'TAGS' forms and the rule between them.

TEST(M4Demux, CameraFileWithInfAndTags)
{
    const Bytes8 jpeg(32, 0x6B);
    mdtest::BoxBuilder b;
    b.Begin("udta");
    b.Begin("\xA9inf").U32(1).Text(mdtest::kCameraMaker).Zeros(48 - sizeof(mdtest::kCameraMaker)).U8(0).End();
    b.Begin("TAGS").Text(mdtest::kCameraMaker).Zeros(235 - sizeof(mdtest::kCameraMaker));
    b.Le32(1).Le32(2).Le32(3).Le32(uint32_t(jpeg.size())).Le32(20);  // thumbnail at payload 235 + 20
    b.Bytes(jpeg).End();
    b.End();
    Mp4FileLayout layout;
    layout.tracks = {VideoTrack(mdtest::VisualEntry("jpeg", 640, 480))};
    layout.moovExtra = b.Take();
    layout.moovFirst = false;
    layout.creationTime = 3034670400;  // 2000-02-29 12:00:00
    // A uuid box with another extended type and no maker text.
    layout.topExtra = mdtest::UuidWithOlym("PRFX", "SOMEONE ELSE");
    const auto d = Demux(mdtest::Mp4File(layout));
    ASSERT_EQ(d->result, 1u);
    EXPECT_EQ(d->demux.HasCpgdUuid(), 0);
    EXPECT_EQ(d->demux.IsCameraFile(), 1);
    EXPECT_EQ(d->demux.IsMoovFirst(), 0);
    EXPECT_EQ(d->demux.CreationTime(), 3034670400u);
    ASSERT_EQ(d->demux.ThumbnailLength(), int32_t(jpeg.size()));
    const auto thumb = d->demux.Thumbnail();
    EXPECT_EQ(Bytes8(thumb.begin(), thumb.end()), mdtest::MarkedThumbnail(jpeg));
}

TEST(M4Demux, InfWithAnotherMakerOverridesTheUuid)
{
    mdtest::BoxBuilder b;
    b.Begin("udta").Begin("\xA9inf").U32(1).Text("ANOTHER CAMERA MAKER").Zeros(28).U8(0).End().End();
    Mp4FileLayout layout;
    layout.tracks = {VideoTrack(mdtest::VisualEntry("jpeg", 640, 480))};
    layout.topExtra = mdtest::UuidWithOlym("cpgd", mdtest::kCameraMaker);
    layout.moovExtra = b.Take();
    layout.creationTime = 3500000000;
    const auto d = Demux(mdtest::Mp4File(layout));
    ASSERT_EQ(d->result, 1u);
    EXPECT_EQ(d->demux.HasCpgdUuid(), 1);
    EXPECT_EQ(d->demux.IsCameraFile(), 0);
    EXPECT_EQ(d->demux.CreationTime(), 0u);  // only a camera file's time is kept
    EXPECT_EQ(d->demux.ThumbnailLength(), 0);
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
