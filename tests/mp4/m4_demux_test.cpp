// The MP4 demultiplexer on synthetic files: the rules real files in the conformance table do not reach.
#include <gtest/gtest.h>

#include <memory>

#include "input/memory_input_stream.h"
#include "mp4/m4_demux.h"
#include "support/mp4_builders.h"

namespace {

using namespace md;
using mdtest::Bytes8;
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

TEST(M4Demux, VideoRecords)
{
    struct Row {
        const char* what;
        Bytes8 entry;
        StreamCodec codec;
        uint32_t width, x, y;
        int progressive = 1;  // -1: not checked
        uint32_t bitRate = 0;  // 0: not checked
    };
    const Row rows[] = {
        // NTSC and PAL pictures keep their nominal aspect (720 x 10 / (480 x 11) is 1.36, not 4:3).
        {"NTSC 4:3", Avc1(720, 480, 3), StreamCodec::H264, 720, 4, 3},
        {"352 x 10 : 480 x 11 unreduced", Avc1(352, 480, 3), StreamCodec::H264, 352, 3520, 5280},
        {"explicit sample aspect", Avc1(100, 100, 255, 3, 2), StreamCodec::H264, 100, 300, 200},
        // mp4v: PAR 10:11 at 720x480 is 7200:5280, unreduced; the 'esds' bit rate.
        {"mp4v PAR 10:11", mdtest::Mp4vEntry(720, 480, mdtest::Mpeg4Vol(720, 480, 30000, true, 15, 10, 11), 800000),
         StreamCodec::Mpeg4Video, 720, 7200, 5280, 0, 800000},
        {"mp4v: the VOL's size replaces the entry's", mdtest::Mp4vEntry(1, 1, mdtest::Mpeg4Vol(640, 480, 25, false)),
         StreamCodec::Mpeg4Video, 640, 4, 3, 1},
        {"mp4v without VOL: aspect unsettled, not progressive",
         mdtest::Mp4vEntry(352, 288, Bytes8{0x00, 0x00, 0x01, 0xB0, 0x01}), StreamCodec::Mpeg4Video, 352, 0xFFFFFFFF,
         0xFFFFFFFF, 0},
    };
    for (const Row& r : rows) {
        const auto d = DemuxTracks({VideoTrack(r.entry)});
        const StreamRecord* v = d->Video();
        ASSERT_NE(v, nullptr) << r.what;
        EXPECT_EQ(std::tuple(v->codec, v->video.width, v->video.aspectX, v->video.aspectY,
                             r.progressive < 0 ? -1 : v->progressive, r.bitRate ? v->video.bitRate : 0u),
                  std::tuple(r.codec, r.width, r.x, r.y, r.progressive, r.bitRate))
            << r.what;
    }

    // Without VUI a camera's udta/INFO box states the aspect (1: 4:3, 2: 16:9, else the size).
    for (const auto& [code, x, y] : {std::tuple{1u, 4u, 3u}, {2u, 16u, 9u}, {3u, 1920u, 1088u}}) {
        mdtest::BoxBuilder udta;
        udta.Begin("udta").Begin("INFO").Zeros(28).U32(code).Zeros(4).End().End();
        const auto d = DemuxTracks({VideoTrack(Avc1(1920, 1088))}, udta.Take());
        ASSERT_NE(d->Video(), nullptr) << code;
        EXPECT_EQ(std::tuple(d->Video()->video.aspectX, d->Video()->video.aspectY), std::tuple(x, y)) << code;
    }
}

TEST(M4Demux, TrackSelectionAndBrokenFiles)
{
    // Two video tracks: the last one in the file is described.
    auto d = DemuxTracks(
        {VideoTrack(mdtest::VisualEntry("cvid", 320, 240), 1), VideoTrack(mdtest::VisualEntry("jpeg", 640, 480), 7)});
    ASSERT_EQ(d->result, 1u);
    ASSERT_EQ(d->streams.Count(), 1u);
    EXPECT_EQ(d->Video()->streamId, 7u);
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

    // Broken files are refused; damaged copies never crash nor read outside the file.
    const Bytes8 file =
        mdtest::Mp4File({.tracks = {VideoTrack(Avc1(720, 480)),
                                    AudioTrack(mdtest::Mp4aEntry(2, 16, 44100, 0x6B, 128000, Bytes8{0x12, 0x10}), 2,
                                               {{0xFF, 0xFD, 0xA4, 0x00}})}});
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
}

}  // namespace
