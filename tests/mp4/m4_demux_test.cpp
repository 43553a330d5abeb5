// The MP4 demultiplexer on synthetic files, as tables of (sample entry and
// tables -> record fields): track selection, codec codes, audio words, aspect
// rules, frame timing, bit rate and the camera-file marks.
#include <gtest/gtest.h>

#include <memory>

#include "input/memory_input_stream.h"
#include "mp4/m4_demux.h"
#include "support/mp4_builders.h"

namespace {

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

std::unique_ptr<Demuxed> DemuxTracks(std::vector<Mp4TrackLayout> tracks, Bytes8 moovExtra = {})
{
    return Demux(mdtest::Mp4File({.tracks = std::move(tracks), .moovExtra = std::move(moovExtra)}));
}

Mp4TrackLayout VideoTrack(Bytes8 entry, uint32_t trackId = 1, size_t samples = 2)
{
    return {.sampleEntry = std::move(entry), .trackId = trackId, .samples = std::vector(samples, Bytes8(64, 0x11))};
}

Mp4TrackLayout AudioTrack(Bytes8 entry, uint32_t trackId = 2, std::vector<Bytes8> samples = {Bytes8(32, 0x22)})
{
    return {"soun", std::move(entry), trackId, 48000, 1024, std::move(samples)};
}

// An 'avc1' entry whose SPS codes a progressive picture of the given size; vui
// with an aspect_ratio_idc (255: sarWidth:sarHeight follow).
Bytes8 Avc1(uint16_t width, uint16_t height, int idc = -1, uint16_t sarWidth = 0, uint16_t sarHeight = 0)
{
    mdtest::AvcSpsFields f;
    f.widthMbsMinus1 = (width + 15) / 16 - 1;
    f.heightMapUnitsMinus1 = (height + 15) / 16 - 1;
    f.cropBottom = ((height + 15) / 16 * 16 - height) / 2;
    f.vui = f.aspectInfo = idc >= 0;
    f.aspectIdc = static_cast<uint32_t>(idc);
    f.sarWidth = sarWidth;
    f.sarHeight = sarHeight;
    return mdtest::Avc1Entry(width, height, {mdtest::AvcSpsNal(f)}, {mdtest::AvcPpsNal({})});
}

// A 1920x1080 'avc1' of the given profile, coded as frames, MBAFF frames or fields.
Bytes8 Avc1Coded(uint8_t profile, bool frameMbsOnly, bool mbaff)
{
    mdtest::AvcSpsFields f;
    f.profileIdc = profile;
    f.frameMbsOnly = frameMbsOnly;
    f.mbAdaptiveFrameField = mbaff;
    if (!frameMbsOnly) {
        f.heightMapUnitsMinus1 = 33;  // 34 x 16 x 2 = 1088 lines
        f.cropBottom = 2;
    }
    return mdtest::Avc1Entry(1920, 1080, {mdtest::AvcSpsNal(f)}, {mdtest::AvcPpsNal({})}, profile);
}

TEST(M4Demux, VideoRecords)
{
    struct Row {
        const char* what;
        Bytes8 entry;
        StreamCodec codec;
        uint32_t width, x, y;
        int progressive = 1;  // -1: not checked
        uint32_t fieldCoding = 0, profile = 2, bitRate = 0;  // profile: H.264 only; bitRate 0: not checked
    };
    const Row rows[] = {
        // NTSC and PAL pictures keep their nominal aspect (720 x 10 / (480 x 11) is 1.36, not 4:3).
        {"NTSC 4:3", Avc1(720, 480, 3), StreamCodec::H264, 720, 4, 3},
        {"352 x 10 : 480 x 11 unreduced", Avc1(352, 480, 3), StreamCodec::H264, 352, 3520, 5280},
        {"explicit sample aspect", Avc1(100, 100, 255, 3, 2), StreamCodec::H264, 100, 300, 200},
        {"reserved index 17: the size", Avc1(1280, 1024, 17), StreamCodec::H264, 1280, 1280, 1024},
        {"Main MBAFF", Avc1Coded(77, false, true), StreamCodec::H264, 1920, 16, 9, 0, 1, 1},
        {"High fields", Avc1Coded(100, false, false), StreamCodec::H264, 1920, 16, 9, 0, 2, 2},
        // mp4v: PAR 10:11 at 720x480 is 7200:5280, unreduced; the 'esds' bit rate.
        {"mp4v PAR 10:11", mdtest::Mp4vEntry(720, 480, mdtest::Mpeg4Vol(720, 480, 30000, true, 15, 10, 11), 800000),
         StreamCodec::Mpeg4Video, 720, 7200, 5280, 0, 0, 2, 800000},
        {"mp4v: the VOL's size replaces the entry's", mdtest::Mp4vEntry(1, 1, mdtest::Mpeg4Vol(640, 480, 25, false)),
         StreamCodec::Mpeg4Video, 640, 4, 3, 1},
        {"mp4v without VOL: aspect unsettled, not progressive",
         mdtest::Mp4vEntry(352, 288, Bytes8{0x00, 0x00, 0x01, 0xB0, 0x01}), StreamCodec::Mpeg4Video, 352, 0xFFFFFFFF,
         0xFFFFFFFF, 0},
        {"H.263", mdtest::VisualEntry("s263", 176, 144), StreamCodec::H263, 176, 11, 9, -1},
        {"JPEG without size", mdtest::VisualEntry("jpeg", 0, 0), StreamCodec::Jpeg, 0, 0, 0, -1},
    };
    for (const Row& r : rows) {
        const auto d = DemuxTracks({VideoTrack(r.entry)});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr) << r.what;
        const bool h264 = r.codec == StreamCodec::H264;
        EXPECT_EQ(std::tuple(v->codec, v->video.width, v->video.aspectX, v->video.aspectY,
                             r.progressive < 0 ? -1 : v->progressive, h264 ? v->fieldCoding : 0u,
                             h264 ? v->video.profile : 2u, r.bitRate ? v->video.bitRate : 0u),
                  std::tuple(r.codec, r.width, r.x, r.y, r.progressive, r.fieldCoding, r.profile, r.bitRate))
            << r.what;
    }

    // Without VUI a camera's udta/INFO box states the aspect: code 1 is 4:3 and 2
    // is 16:9, whatever the picture's shape; other codes leave it to the size.
    for (const auto& [code, x, y] : {std::tuple{1u, 4u, 3u}, {2u, 16u, 9u}, {3u, 1920u, 1088u}}) {
        mdtest::BoxBuilder udta;
        udta.Begin("udta").Begin("INFO").Zeros(28).U32(code).Zeros(4).End().End();
        const auto d = DemuxTracks({VideoTrack(Avc1(1920, 1088))}, udta.Take());
        ASSERT_NE(d->Video(), nullptr) << code;
        EXPECT_EQ(std::tuple(d->Video()->video.aspectX, d->Video()->video.aspectY), std::tuple(x, y)) << code;
    }

    // Each header block holds its parameter sets one after another, each behind a
    // four-byte start code.
    const Bytes8 sps = {0x67, 0x11}, pps = {0x68, 0x22};
    const auto d = DemuxTracks({VideoTrack(mdtest::Avc1Entry(1920, 1080, {sps, sps}, {pps}))});
    const StreamRecord* v = d->Video();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(Bytes8(v->extraData1, v->extraData1 + v->extraData1Length),
              (Bytes8{0, 0, 0, 1, 0x67, 0x11, 0, 0, 0, 1, 0x67, 0x11}));
    EXPECT_EQ(Bytes8(v->extraData2, v->extraData2 + v->extraData2Length), (Bytes8{0, 0, 0, 1, 0x68, 0x22}));
}

TEST(M4Demux, AudioRecords)
{
    struct Row {
        const char* what;
        Bytes8 entry;
        Bytes8 firstSample;
        StreamCodec codec;
        uint32_t channels, rate, bytesPerSecond, codec0;  // rate 0: not checked
        uint32_t bits = 0, blockAlign = 0;  // bits 0: not checked
    };
    const Bytes8 aac = {0x12, 0x10}, sbr = {0x2B, 0x8A, 0x08}, none;
    const auto Aac = [](uint8_t type, const Bytes8& dsi) { return mdtest::Mp4aEntry(1, 16, 22050, type, 128000, dsi); };
    // MPEG-1 Layer II, 192 kbit/s, 48 kHz, stereo, no CRC.
    const Bytes8 layer2 = {0xFF, 0xFD, 0xA4, 0x00, 0x11, 0x22, 0x33, 0x44};
    const Row rows[] = {
        // AAC: the object type from the AudioSpecificConfig (00010 0100 0010: LC, 44.1
        // kHz, 2 channels replacing the entry's 1) or from objectTypeIndication.
        {"ASC LC", Aac(0x40, aac), {}, StreamCodec::Aac, 2, 44100, 16000, 2},
        {"ASC SBR", Aac(0x40, sbr), {}, StreamCodec::Aac, 1, 0, 16000, 5},
        {"no ASC: LC", Aac(0x40, none), {}, StreamCodec::Aac, 1, 22050, 16000, 2},
        {"MPEG-2 AAC LC", Aac(0x67, aac), {}, StreamCodec::Aac, 2, 44100, 16000, 2},
        {"not an AAC type", Aac(0xA5, none), {}, StreamCodec::Aac, 1, 22050, 16000, 0},
        // MPEG audio: the entry's channels, rate and bit rate win; block align
        // (144 x 192000 / 48000) and the audio words come from the first frame.
        {"MPEG-1 audio", mdtest::Mp4aEntry(1, 16, 44100, 0x6B, 64000, none), layer2, StreamCodec::Mpeg1Audio, 1, 44100,
         8000, 1, 0, 576},
        {"MPEG-2 audio, no frame header", mdtest::Mp4aEntry(2, 16, 24000, 0x69, 96000, none), Bytes8(16, 0),
         StreamCodec::Mpeg2Audio, 2, 24000, 12000, 0},
        {"twos", mdtest::SoundEntry("twos", 2, 16, 44100), {}, StreamCodec::Lpcm, 2, 44100, 176400, 0, 16},
        {"sowt", mdtest::SoundEntry("sowt", 2, 16, 48000), {}, StreamCodec::PcmLittleEndian, 2, 48000, 192000, 0, 16},
        {".mp3", mdtest::SoundEntry(".mp3", 2, 16, 44100), {}, StreamCodec::QuickTimeMp3, 2, 44100, 176400, 0, 16},
        {"samr", mdtest::SoundEntry("samr", 1, 16, 8000), {}, StreamCodec::AmrNb, 1, 8000, 0, 0, 16},
    };
    for (const Row& r : rows) {
        const auto d =
            DemuxTracks({AudioTrack(r.entry, 2, {r.firstSample.empty() ? Bytes8(32, 0x22) : r.firstSample})});
        const StreamRecord* a = d->Audio();
        ASSERT_NE(a, nullptr) << r.what;
        const bool mpeg = r.codec == StreamCodec::Mpeg1Audio || r.codec == StreamCodec::Mpeg2Audio;
        const bool words = r.codec == StreamCodec::Aac || r.codec == StreamCodec::Mpeg1Audio;
        EXPECT_EQ(std::tuple(a->codec, a->audio.channels, r.rate ? a->audio.sampleRate : 0u, a->audio.bytesPerSecond,
                             r.bits ? a->audio.bitsPerSample : 0u, mpeg ? a->audio.blockAlign : 0u,
                             words ? a->audio.codecSpecific[0] : 0u),
                  std::tuple(r.codec, r.channels, r.rate, r.bytesPerSecond, r.bits, r.blockAlign, r.codec0))
            << r.what;
    }
    // The MPEG audio words: mode (stereo 0), bit rate, the header with its first byte lowest.
    const auto d = DemuxTracks({AudioTrack(rows[5].entry, 2, {layer2})});
    const auto& words = d->Audio()->audio.codecSpecific;
    EXPECT_EQ(std::tuple(words[1], words[2], words[3]), std::tuple(0u, 192000u, 0x00A4FDFFu));
}

TEST(M4Demux, TrackSelectionAndBrokenFiles)
{
    // Two video tracks: the last one in the file is described.
    auto d = DemuxTracks(
        {VideoTrack(mdtest::VisualEntry("cvid", 320, 240), 1), VideoTrack(mdtest::VisualEntry("jpeg", 640, 480), 7)});
    ASSERT_EQ(d->result, 1u);
    ASSERT_EQ(d->streams.Count(), 1u);
    EXPECT_EQ(d->Video()->streamId, 7u);
    // The audio record comes first, then the video record; each with its track ID.
    d = DemuxTracks({VideoTrack(mdtest::VisualEntry("cvid", 320, 240), 5),
                     AudioTrack(mdtest::SoundEntry("sowt", 2, 16, 48000), 9)});
    ASSERT_EQ(d->streams.Count(), 2u);
    EXPECT_EQ(d->streams.At(0)->streamId, 9u);
    EXPECT_EQ(d->streams.At(1)->streamId, 5u);
    // A video codec without a record, an unknown sound entry, a text track and a
    // track without entries: no records, but both kinds of track are there.
    Mp4TrackLayout text = VideoTrack(mdtest::VisualEntry("tx3g", 0, 0), 3);
    text.handler = "text";
    d = DemuxTracks({VideoTrack(mdtest::VisualEntry("hvc1", 1920, 1080), 1),
                     AudioTrack(mdtest::SoundEntry("sawb", 1, 16, 16000), 2), text});
    EXPECT_EQ(d->result, 1u);
    EXPECT_EQ(d->streams.Count(), 0u);
    uint8_t hasVideo = 0, hasAudio = 0;
    d->demux.GetTrackFlags(hasVideo, hasAudio);
    EXPECT_EQ(hasVideo + hasAudio, 2);

    // Broken files are refused; damaged copies of a file never crash the
    // demultiplexer and never read outside the file.
    const Bytes8 file =
        mdtest::Mp4File({.tracks = {VideoTrack(Avc1(720, 480)),
                                    AudioTrack(mdtest::Mp4aEntry(2, 16, 44100, 0x6B, 128000, Bytes8{0x12, 0x10}), 2,
                                               {{0xFF, 0xFD, 0xA4, 0x00}})}});
    M4Demux demux;
    StreamList streams;
    MemoryInputStream input(file.data(), file.size());
    EXPECT_EQ(demux.Parse(nullptr, &streams), 0u);
    EXPECT_EQ(demux.Parse(&input, nullptr), 0u);
    EXPECT_EQ(Demux(mdtest::Mp4File({}))->result, 0u);  // a 'moov' without any 'trak'
    uint32_t state = 12345;
    for (int round = 0; round < 200; ++round) {
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

// Camera files: the maker named by a "cpgd" uuid, '©inf' or 'TAGS', and the rule
// between them. (The 'cpgd' uuid with a 'thmb' thumbnail is opened through the
// module in the component's tests.)
TEST(M4Demux, CameraFiles)
{
    const Bytes8 jpeg(32, 0x6B);
    mdtest::BoxBuilder b;
    b.Begin("udta")
        .Begin("\xA9inf")
        .U32(1)
        .Text(mdtest::kCameraMaker)
        .Zeros(48 - sizeof(mdtest::kCameraMaker))
        .U8(0)
        .End();
    b.Begin("TAGS").Text(mdtest::kCameraMaker).Zeros(235 - sizeof(mdtest::kCameraMaker));
    b.Le32(1).Le32(2).Le32(3).Le32(uint32_t(jpeg.size())).Le32(20).Bytes(jpeg).End().End();  // thumbnail at 235 + 20
    Mp4FileLayout maker = {.tracks = {VideoTrack(mdtest::VisualEntry("jpeg", 640, 480))},
                           .moovFirst = false,
                           .creationTime = 3034670400,
                           .moovExtra = b.Take(),
                           .topExtra = mdtest::UuidWithOlym("PRFX", "SOMEONE ELSE")};
    auto d = Demux(mdtest::Mp4File(maker));
    ASSERT_EQ(d->result, 1u);
    EXPECT_EQ(
        std::tuple(d->demux.HasCpgdUuid(), d->demux.IsCameraFile(), d->demux.IsMoovFirst(), d->demux.CreationTime()),
        std::tuple(0, 1, 0, 3034670400u));
    const auto thumb = d->demux.Thumbnail();
    EXPECT_EQ(Bytes8(thumb.begin(), thumb.end()), mdtest::MarkedThumbnail(jpeg));

    // A '©inf' naming another maker overrides the uuid: no camera file, no time kept.
    b.Begin("udta").Begin("\xA9inf").U32(1).Text("ANOTHER CAMERA MAKER").Zeros(28).U8(0).End().End();
    Mp4FileLayout other = {.tracks = maker.tracks,
                           .creationTime = 3500000000,
                           .moovExtra = b.Take(),
                           .topExtra = mdtest::UuidWithOlym("cpgd", mdtest::kCameraMaker)};
    d = Demux(mdtest::Mp4File(other));
    ASSERT_EQ(d->result, 1u);
    EXPECT_EQ(std::tuple(d->demux.HasCpgdUuid(), d->demux.IsCameraFile(), d->demux.IsMoovFirst(),
                         d->demux.CreationTime(), d->demux.ThumbnailLength()),
              std::tuple(1, 0, 1, 0u, 0));

    struct Date {
        uint64_t seconds;
        uint16_t year, month, day, hour, minute, second;
    };
    // Reference dates from a calendar library, counted from 1904-01-01 00:00:00.
    const Date dates[] = {
        {3034670400, 2000, 2, 29, 12, 0, 0},
        {6190387201, 2100, 3, 1, 0, 0, 1},  // 2100 is not a leap year
    };
    for (const Date& c : dates) {
        const Mp4CreationDate t = CreationDateFrom1904(c.seconds);
        EXPECT_EQ(std::tuple(t.year, t.month, t.day, t.hour, t.minute, t.second),
                  std::tuple(c.year, c.month, c.day, c.hour, c.minute, c.second))
            << c.seconds;
    }
}

}  // namespace
