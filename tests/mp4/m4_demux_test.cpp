// The MP4 demultiplexer on synthetic files: the rules real files in the conformance table do not reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <string_view>

#include "input/memory_input_stream.h"
#include "mp4/m4_demux.h"
#include "mp4/mp4_time_range.h"
#include "support/dv_builders.h"
#include "support/mp4_builders.h"
#include "support/stream_builders.h"

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

std::unique_ptr<Demuxed> Demux(Bytes8 bytes, uint32_t extensions = 0)
{
    auto d = std::make_unique<Demuxed>();
    d->demux.SetExtensions(extensions);
    MemoryInputStream input(std::move(bytes));
    d->result = d->demux.Parse(&input, &d->streams);
    return d;
}

std::unique_ptr<Demuxed> DemuxTracks(std::vector<Mp4TrackLayout> tracks, Bytes8 moovExtra = {}, uint32_t extensions = 0)
{
    return Demux(mdtest::Mp4File({.tracks = std::move(tracks), .moovExtra = std::move(moovExtra)}), extensions);
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

// A camera file's creation time: seconds since 1904-01-01 as a Gregorian date and time (leap days, the turn of a
// year and of a century that is no leap year).
TEST(M4Demux, CreationDates)
{
    const std::pair<uint64_t, std::array<uint16_t, 6>> rows[] = {
        {0, {1904, 1, 1, 0, 0, 0}},
        {3034672496, {2000, 2, 29, 12, 34, 56}},
        {3786911999, {2023, 12, 31, 23, 59, 59}},
        {6190390923, {2100, 3, 1, 1, 2, 3}},
    };
    for (const auto& [seconds, expected] : rows) {
        const md::Mp4CreationDate d = md::CreationDateFrom1904(seconds);
        EXPECT_EQ((std::array<uint16_t, 6>{d.year, d.month, d.day, d.hour, d.minute, d.second}), expected) << seconds;
    }
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
        // The bit rate: the 'mdat' (8 + 2 x 64 bytes) over the track's 2 x 1000 / 25000 s, 13600 bit/s.
        {"NTSC 4:3", Avc1(720, 480, 3), StreamCodec::H264, 720, 4, 3, 1, 13600},
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

    // 's263': H263_Level and H263_Profile from 'd263' (3GPP TS 26.244: vendor, decoder_version, level, profile).
    mdtest::BoxBuilder d263;
    d263.Begin("d263").Type("FFMP").U8(0).U8(45).U8(3).End();
    const auto h263 = DemuxTracks({VideoTrack(mdtest::VisualEntry("s263", 176, 144, d263.Take()))});
    ASSERT_NE(h263->Video(), nullptr);
    EXPECT_EQ(std::tuple(h263->Video()->codec, h263->Video()->video.level, h263->Video()->video.profile),
              std::tuple(StreamCodec::H263, 45u, 3u));

    // Each 'avcC' parameter set becomes a header block behind a start code; an entry of length 0 closing the box is
    // still a whole entry (ISO/IEC 14496-15: a 16-bit length, then that many bytes).
    const auto emptyPps = DemuxTracks({VideoTrack(mdtest::Avc1Entry(1920, 1080, {mdtest::AvcSpsNal({})}, {Bytes8{}}))});
    ASSERT_NE(emptyPps->Video(), nullptr);
    const StreamRecord& avc = *emptyPps->Video();
    EXPECT_EQ(Bytes8(avc.extraData2, avc.extraData2 + avc.extraData2Length), (Bytes8{0, 0, 0, 1}));

    // Without VUI a camera's udta/INFO box states the aspect (1: 4:3, 2: 16:9, else the size).
    for (const auto& [code, x, y] : {std::tuple{1u, 4u, 3u}, {2u, 16u, 9u}, {3u, 1920u, 1088u}}) {
        mdtest::BoxBuilder udta;
        udta.Begin("udta").Begin("INFO").Zeros(28).U32(code).Zeros(4).End().End();
        const auto d = DemuxTracks({VideoTrack(Avc1(1920, 1088))}, udta.Take());
        ASSERT_NE(d->Video(), nullptr) << code;
        EXPECT_EQ(std::tuple(d->Video()->video.aspectX, d->Video()->video.aspectY), std::tuple(x, y)) << code;
    }
}

// 'mp4v' entries whose objectTypeIndication names MPEG-2 video (0x60-0x65) or MPEG-1 video (0x6A), with
// MD_EXT_MP4: described from the sequence header of the decoder-specific info or, without one, of the first sample
// (ISO/IEC 13818-2 6.2.2: aspect_ratio_information 2 is 4:3, 3 is 16:9; MPEG-1 pel_aspect_ratio 8 is 0.9375);
// without a sequence header at all, the entry's size and shape; an MPEG-4 Visual entry without a video object layer
// takes the shape too.
TEST(M4Demux, MpegVideoInMp4v)
{
    using mdtest::SequenceFields;
    const Bytes8 pal43 = mdtest::SequenceHeaders({.progressive = true});
    Bytes8 interlaced169 = mdtest::SequenceHeaders({.aspectCode = 3});
    for (const Bytes8& unit : {mdtest::GopHeaderFlags(), mdtest::PictureHeaderFields(),
                               mdtest::PictureCodingExtension(true), mdtest::SliceStart()})
        interlaced169.insert(interlaced169.end(), unit.begin(), unit.end());
    const Bytes8 mpeg1 =
        mdtest::SequenceHeaders({.width = 352, .height = 288, .aspectCode = 8, .extension = false});
    struct Row {
        const char* what;
        uint8_t oti;
        Bytes8 dsi, sample;
        uint32_t avgBitrate;
        StreamCodec codec;
        uint32_t width, x, y, progressive, bitRate;
    };
    const Bytes8 filler(64, 0x11);
    const Row rows[] = {
        {"MPEG-2 Main profile, the header in the entry", 0x61, pal43, filler, 0, StreamCodec::Mpeg2Video, 720, 4, 3,
         1, 15000 * 400},
        {"the entry's average rate", 0x61, pal43, filler, 800000, StreamCodec::Mpeg2Video, 720, 4, 3, 1, 800000},
        {"the header of the first sample", 0x65, {}, interlaced169, 0, StreamCodec::Mpeg2Video, 720, 16, 9, 0,
         15000 * 400},
        {"MPEG-1: width : height x pel aspect", 0x6A, mpeg1, filler, 0, StreamCodec::Mpeg1Video, 352, 352, 270, 1,
         15000 * 400},
        {"no sequence header: the entry's shape", 0x60, {}, filler, 0, StreamCodec::Mpeg2Video, 640, 16, 9, 1, 0},
        {"MPEG-4 Visual without a layer: the entry's shape", 0x20, {}, filler, 0, StreamCodec::Mpeg4Video, 640, 16, 9,
         0, 0},
    };
    for (const Row& r : rows) {
        Mp4TrackLayout track = VideoTrack(mdtest::Mp4vEntry(640, 360, r.dsi, r.avgBitrate, r.oti));
        track.samples = {r.sample, filler};
        const auto d = DemuxTracks({track}, {}, MD_EXT_MP4);
        ASSERT_NE(d->Video(), nullptr) << r.what;
        const StreamRecord& v = *d->Video();
        EXPECT_EQ(std::tuple(v.codec, v.video.width, v.video.aspectX, v.video.aspectY, uint32_t(v.progressive),
                             v.video.bitRate),
                  std::tuple(r.codec, r.width, r.x, r.y, r.progressive, r.bitRate))
            << r.what;
        EXPECT_EQ(v.frameRate, 25.0) << r.what;  // the track's 1000/25000 s samples
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

    // A 'moov' without any 'trak' is refused (damaged files: the fuzz targets).
    EXPECT_EQ(Demux(mdtest::Mp4File({}))->result, 0u);
}

// 'mp4a' entries: the AAC object type from objectTypeIndication (the MPEG-2 AAC profiles 0x66-0x68 are Main, LC
// and SSR) or the AudioSpecificConfig, whose rate and channels replace the entry's (index 15: an explicit 24-bit
// rate, here 37800 Hz, before the channel configuration).
TEST(M4Demux, AacEntries)
{
    const Bytes8 lc48k = {0x11, 0x90}, explicitRate = {0x17, 0x80, 0x49, 0xD4, 0x10};
    struct Row {
        uint8_t oti;
        Bytes8 dsi;
        uint32_t objectType, rate;
    };
    const Row rows[] = {
        {0x66, lc48k, 1, 48000},
        {0x67, lc48k, 2, 48000},
        {0x68, lc48k, 3, 48000},
        {0x40, explicitRate, 2, 37800},
    };
    for (const Row& r : rows) {
        const auto d = DemuxTracks({AudioTrack(mdtest::Mp4aEntry(1, 16, 44100, r.oti, 0, r.dsi))});
        ASSERT_NE(d->Audio(), nullptr) << int(r.oti);
        const AudioParams& a = d->Audio()->audio;
        EXPECT_EQ(std::tuple(a.codecSpecific[0], a.sampleRate, a.channels), std::tuple(r.objectType, r.rate, 2u))
            << int(r.oti);
    }
}

// The camera maker's marks: the maker text in the 'OLYM' box of a 'uuid' makes a camera file whatever the
// box's extended type; only the type "cpgd" sets the cpgd flag.
TEST(M4Demux, CameraMarks)
{
    for (const bool cpgd : {true, false}) {
        Bytes8 file = mdtest::CameraMp4File(0, Bytes8(40, 0x33));
        const std::string_view type = "cpgd";
        const auto at = std::search(file.begin(), file.end(), type.begin(), type.end());
        ASSERT_NE(at, file.end());
        if (!cpgd)
            std::copy_n("abcd", 4, at);
        const auto d = Demux(file);
        EXPECT_EQ(std::tuple(d->demux.HasCpgdUuid(), d->demux.IsCameraFile()), std::tuple(cpgd ? 1 : 0, 1)) << cpgd;
    }
}

// A child box of raw payload bytes.
Bytes8 RawBox(const char* type, const Bytes8& payload)
{
    mdtest::BoxBuilder b;
    return b.Begin(type).Bytes(payload).End().Take();
}

// A QuickTime sound description version 2 'lpcm' entry (placeholders 3 channels, 16 bits, rate 1.0 in the
// version 0 fields).
Bytes8 LpcmV2(double rate, uint32_t channels, uint32_t bits, uint32_t flags)
{
    mdtest::BoxBuilder b;
    b.Begin("lpcm").Zeros(6).U16(1).U16(2).Zeros(6).U16(3).U16(16).U16(0xFFFE).U16(0).U32(0x00010000);
    b.U32(72).U64(std::bit_cast<uint64_t>(rate)).U32(channels).U32(0x7F000000).U32(bits).U32(flags);
    return b.U32(channels * bits / 8).U32(1).End().Take();
}

// Sound and visual entries only extensions describe; each field by hand from its box syntax (ETSI TS 102 366
// Annex F for 'dac3'/'dec3', the Opus and FLAC mappings to ISO BMFF for 'dOps'/'dfLa', QuickTime sound
// descriptions for PCM).
TEST(M4Demux, ExtendedSampleEntries)
{
    struct Row {
        const char* what;
        Bytes8 entry;
        uint32_t extension;
        StreamCodec codec;
        uint32_t channels, rate, bits;
    };
    // dac3: fscod 0, bsid 8, bsmod 0, acmod 7, lfeon 1, bit_rate_code 14 (384 kbit/s); then acmod 3 (L, C, R).
    const Bytes8 dac3 = RawBox("dac3", {0x10, 0x3D, 0xC0}), dac3Front = RawBox("dac3", {0x10, 0x19, 0xC0});
    // dec3: data_rate 192, one independent substream: fscod 1, bsid 16, acmod 2, one dependent substream with
    // chan_loc bit 1 (Lrs/Rrs).
    const Bytes8 dec3 = RawBox("dec3", {0x06, 0x00, 0x60, 0x04, 0x02, 0x02});
    // dOps: version 0, 6 output channels, pre-skip 312, input 44100 Hz, gain 0, mapping family 1 and its table.
    const Bytes8 dops = RawBox("dOps", {0, 6, 0x01, 0x38, 0, 0, 0xAC, 0x44, 0, 0, 1, 4, 2, 0, 4, 1, 2, 3, 5});
    // dfLa: full box, STREAMINFO (last block, 34 bytes): 44100 Hz = 0x0AC44, 2 channels, 24 bits.
    Bytes8 streamInfo = {0, 0, 0, 0, 0x80, 0, 0, 34, 0x10, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0xC4, 0x43, 0x70};
    streamInfo.resize(8 + 34);
    const Bytes8 dfla = RawBox("dfLa", streamInfo);
    const Bytes8 littleWave = RawBox("wave", RawBox("enda", {0, 1}));
    // The ALAC magic cookie (ALACSpecificConfig) in a full box: frameLength 4096, compatibleVersion, bitDepth 24,
    // pb 40, mb 10, kb 14, numChannels 2, maxRun 255, maxFrameBytes 0, avgBitRate 0, sampleRate 96000 (above what
    // the entry's 16.16 rate holds).
    const auto alacCookie = [](uint8_t version) {
        return RawBox("alac", {0, 0, 0, 0, 0, 0, 0x10, 0, version, 24, 40, 10, 14, 2, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0,
                               0, 1, 0x77, 0});
    };
    // av1C: marker and version 0x81, seq_profile 1, seq_level_idx_0 8.
    const Bytes8 av1c = RawBox("av1C", {0x81, 0x28, 0x0C, 0});
    const Row rows[] = {
        {"AC-3 3/0", mdtest::SoundEntry("ac-3", 2, 16, 48000, dac3Front), MD_EXT_MP4, StreamCodec::Ac3, 3, 48000, 16},
        {"E-AC-3 2/0 + Lrs/Rrs", mdtest::SoundEntry("ec-3", 2, 16, 44100, dec3), MD_EXT_MP4, StreamCodec::Eac3, 4,
         44100, 16},
        {"Opus decodes at 48 kHz", mdtest::SoundEntry("Opus", 2, 16, 44100, dops), MD_EXT_MP4, StreamCodec::Opus, 6,
         48000, 0},
        {"FLAC STREAMINFO", mdtest::SoundEntry("fLaC", 1, 16, 48000, dfla), MD_EXT_MP4, StreamCodec::Flac, 2, 44100,
         24},
        {"lpcm v2, little-endian signed", LpcmV2(96000, 6, 24, 0x4), MD_EXT_MORE_CODECS, StreamCodec::PcmLittleEndian,
         6, 96000, 24},
        {"lpcm v2, big-endian float", LpcmV2(44100, 2, 32, 0x3), MD_EXT_MORE_CODECS, StreamCodec::Lpcm, 2, 44100, 32},
        {"in24 with a little-endian 'enda'", mdtest::SoundEntry("in24", 2, 16, 48000, littleWave), MD_EXT_MORE_CODECS,
         StreamCodec::PcmLittleEndian, 2, 48000, 24},
        {"fl64 big-endian", mdtest::SoundEntry("fl64", 1, 16, 32000), MD_EXT_MORE_CODECS, StreamCodec::Lpcm, 1, 32000,
         64},
        {"NONE 8-bit is unsigned", mdtest::SoundEntry("NONE", 1, 8, 11025), MD_EXT_MORE_CODECS,
         StreamCodec::PcmLittleEndian, 1, 11025, 8},
        {"ALAC: the cookie inside 'wave'", mdtest::SoundEntry("alac", 1, 16, 44100, RawBox("wave", alacCookie(0))),
         MD_EXT_MORE_CODECS, StreamCodec::Alac, 2, 96000, 24},
        {"ALAC: a cookie of another version, the entry's fields", mdtest::SoundEntry("alac", 1, 16, 44100,
         alacCookie(1)), MD_EXT_MORE_CODECS, StreamCodec::Alac, 1, 44100, 16},
        {"IMA ADPCM: 4 bits a sample", mdtest::SoundEntry("ima4", 2, 16, 44100), MD_EXT_MORE_CODECS,
         StreamCodec::Adpcm, 2, 44100, 4},
        {"A-law: 8 bits whatever the entry says", mdtest::SoundEntry("alaw", 1, 16, 8000), MD_EXT_MORE_CODECS,
         StreamCodec::Alaw, 1, 8000, 8},
    };
    for (const Row& r : rows) {
        const auto base = DemuxTracks({AudioTrack(r.entry)});
        const auto d = DemuxTracks({AudioTrack(r.entry)}, {}, r.extension);
        EXPECT_EQ(base->Audio(), nullptr) << r.what;
        ASSERT_NE(d->Audio(), nullptr) << r.what;
        const AudioParams& a = d->Audio()->audio;
        EXPECT_EQ(std::tuple(d->Audio()->codec, a.channels, a.sampleRate, a.bitsPerSample),
                  std::tuple(r.codec, r.channels, r.rate, r.bits))
            << r.what;
    }
    // IMA ADPCM packets: 64 samples in 34 bytes a channel, 68 bytes at 44.1 kHz stereo, 46856.25 bytes a second;
    // A-law: one byte a sample.
    for (const auto& [type, channels, rate, blockAlign, bytesPerSecond] :
         {std::tuple{"ima4", 2, 44100u, 68u, 46856u}, {"alaw", 2, 8000u, 2u, 16000u}}) {
        const auto d = DemuxTracks({AudioTrack(mdtest::SoundEntry(type, channels, 16, rate))}, {}, MD_EXT_MORE_CODECS);
        ASSERT_NE(d->Audio(), nullptr) << type;
        EXPECT_EQ(std::tuple(d->Audio()->audio.blockAlign, d->Audio()->audio.bytesPerSecond),
                  std::tuple(blockAlign, bytesPerSecond))
            << type;
    }
    // The AC-3 words: acmod, lfeon, bsid; 384 kbit/s is 48000 bytes a second, 1536 samples a 1536-byte frame;
    // bit_rate_code 16 is 512 kbit/s.
    for (const auto& [box, bytesPerSecond, blockAlign] :
         {std::tuple{dac3, 48000u, 1536u}, {RawBox("dac3", {0x10, 0x3E, 0x00}), 64000u, 2048u}}) {
        const auto ac3 = DemuxTracks({AudioTrack(mdtest::SoundEntry("ac-3", 2, 16, 48000, box))}, {}, MD_EXT_MP4);
        const AudioParams& a = ac3->Audio()->audio;
        EXPECT_EQ(std::tuple(a.codecSpecific[0], a.CodecByte(2, 0), a.CodecByte(4, 0), a.bytesPerSecond, a.blockAlign),
                  std::tuple(7u, 1, 8, bytesPerSecond, blockAlign));
    }

    for (const auto& [entry, extension, codec, profile] :
         {std::tuple{mdtest::VisualEntry("av01", 1280, 720, av1c), MD_EXT_MP4, StreamCodec::Av1, 1u},
          {mdtest::VisualEntry("mjpa", 720, 480), MD_EXT_MORE_CODECS, StreamCodec::Jpeg, 0u},
          // Without a readable 'hvcC' the entry's size and square samples.
          {mdtest::VisualEntry("hvc1", 640, 360), MD_EXT_MP4, StreamCodec::Hevc, 0u}}) {
        EXPECT_EQ(DemuxTracks({VideoTrack(entry)})->Video(), nullptr);
        const auto d = DemuxTracks({VideoTrack(entry)}, {}, extension);
        ASSERT_NE(d->Video(), nullptr);
        EXPECT_EQ(std::tuple(d->Video()->codec, d->Video()->video.profile,
                             d->Video()->video.aspectX * 1000 / d->Video()->video.aspectY),
                  std::tuple(codec, profile, d->Video()->video.width * 1000 / d->Video()->video.height));
    }
}

// QuickTime ProRes and DV entries with MD_EXT_MORE_CODECS: the pixel aspect of 'pasp' (hSpacing, vSpacing) and the
// scan of 'fiel' (field count; ordering 1 and 14 show the top field first, 6 and 9 the bottom field); a DV entry
// without them takes the first frame's VAUX source control pack (DISP 010: 16:9; IL: interlaced, bottom field
// first, IEC 61834-4), DVCPRO HD is 16:9; else square pixels, progressive.
TEST(M4Demux, QuickTimeVideoEntries)
{
    const auto pasp = [](uint32_t h, uint32_t v) {
        mdtest::BoxBuilder b;
        return b.Begin("pasp").U32(h).U32(v).End().Take();
    };
    const auto fiel = [](uint8_t count, uint8_t detail) { return RawBox("fiel", {count, detail}); };
    const auto join = [](Bytes8 a, const Bytes8& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Bytes8 ntsc169 = mdtest::DvFrame({.disp = 2});
    const Bytes8 pal43 = mdtest::DvFrame({.pal = true});
    const Bytes8 filler(64, 0x11);
    struct Row {
        const char* what;
        Bytes8 entry, sample;
        StreamCodec codec;
        uint32_t x, y, progressive, fieldOrder;
    };
    const Row rows[] = {
        {"ProRes 422, nothing stated", mdtest::VisualEntry("apcn", 320, 240), filler, StreamCodec::ProRes, 4, 3, 1, 0},
        {"ProRes HQ, top field first", mdtest::VisualEntry("apch", 1920, 1080, fiel(2, 1)), filler,
         StreamCodec::ProRes, 16, 9, 0, 1},
        {"ProRes 4444, bottom field first", mdtest::VisualEntry("ap4h", 1920, 1080, fiel(2, 6)), filler,
         StreamCodec::ProRes, 16, 9, 0, 2},
        {"ProRes LT, bottom displayed first, top stored first", mdtest::VisualEntry("apcs", 1920, 1080, fiel(2, 9)),
         filler, StreamCodec::ProRes, 16, 9, 0, 2},
        {"ProRes Proxy, top displayed first, bottom stored first",
         mdtest::VisualEntry("apco", 1920, 1080, fiel(2, 14)), filler, StreamCodec::ProRes, 16, 9, 0, 1},
        {"ProRes 4444 XQ, pixels 10:11", mdtest::VisualEntry("ap4x", 720, 486, join(pasp(10, 11), fiel(1, 0))),
         filler, StreamCodec::ProRes, 7200, 5346, 1, 0},
        {"DV, square pixels and progressive as stated", mdtest::VisualEntry("dvcp", 720, 576, join(pasp(1, 1),
         fiel(1, 0))), pal43, StreamCodec::DvVideo, 720, 576, 1, 0},
        {"DV, the frame's 16:9 and fields", mdtest::VisualEntry("dvc ", 720, 480), ntsc169, StreamCodec::DvVideo, 16,
         9, 0, 2},
        {"DV, the frame's 4:3, the entry's progressive scan", mdtest::VisualEntry("dvpp", 720, 576, fiel(1, 0)),
         pal43, StreamCodec::DvVideo, 4, 3, 1, 0},
        {"DVCPRO HD is 16:9", mdtest::VisualEntry("dvh5", 1440, 1080), filler, StreamCodec::DvVideo, 16, 9, 1, 0},
        {"DVCPRO50, no frame: the entry's shape", mdtest::VisualEntry("dv5p", 720, 576), filler, StreamCodec::DvVideo,
         5, 4, 1, 0},
    };
    for (const Row& r : rows) {
        Mp4TrackLayout track = VideoTrack(r.entry);
        track.samples = {r.sample, filler};
        EXPECT_EQ(DemuxTracks({track})->Video(), nullptr) << r.what;
        const auto d = DemuxTracks({track}, {}, MD_EXT_MORE_CODECS);
        ASSERT_NE(d->Video(), nullptr) << r.what;
        const StreamRecord& v = *d->Video();
        EXPECT_EQ(std::tuple(v.codec, v.video.aspectX, v.video.aspectY, uint32_t(v.progressive), v.fieldOrder),
                  std::tuple(r.codec, r.x, r.y, r.progressive, r.fieldOrder))
            << r.what;
    }
}

TEST(M4Demux, VariableFrameRates)
{
    struct Row {
        const char* what;
        uint32_t timeScale;
        std::vector<uint32_t> stts;  // count, delta, ...
        double baseRate, extendedRate;
        std::vector<uint32_t> runDurations{};  // one fragment run's own sample durations, the table holding none
    };
    // Each shape with the extensions as MediaInfo gives it (constant when only the first or the last sample
    // differs, else the mean, as ffprobe's avg_frame_rate), measured on files of these 'stts' tables. (Which
    // samples count as inside: SampleTable.DurationSpread.)
    const Row rows[] = {
        // 24 of 25 deltas are 25/600 s, the last 24/600 s: constant, 416667 x 100 ns either way.
        {"an odd last delta", 600, {24, 25, 1, 24}, 23.99, 23.99},
        // The 17th of 25 deltas is 24/600 s: 25 frames in 624/600 s, 416000 x 100 ns (MediaInfo 24.038).
        {"an odd delta inside", 600, {16, 25, 1, 24, 8, 25}, 23.99, 24.03},
        // 45 x 512 then 5 x 256 at 12800: 9 in 10 have the dominant delta, but four short ones lie inside:
        // 50 frames in 1.9 s (MediaInfo and ffprobe 26.316).
        {"short deltas before the last", 12800, {45, 512, 5, 256}, 25, 26.31},
        // 63 of 123 deltas are 40/600 s (15 fps); the mean is 123 frames in 4320/600 s: 585366 x 100 ns.
        {"half the deltas vary", 600, {63, 40, 60, 30}, 15, 17.08},
        // A 1/30000 s delta is 30030 fps; the mean: 100 frames in 10090/30000 s, 33633 x 100 ns.
        {"slow-motion dominant delta", 30000, {90, 1, 10, 1000}, 30030.03, 297.32},
        // Two run samples of 25/600 s and 24/600 s, no table samples (no rate without extensions): on the tie
        // the first sample's duration, 416667 x 100 ns, not the last's 25 fps.
        {"a tie of two run durations", 600, {}, 0, 23.99, {25, 24}},
    };
    for (const Row& r : rows) {
        uint32_t samples = 0;
        for (size_t i = 0; i < r.stts.size(); i += 2)
            samples += r.stts[i];
        Mp4TrackLayout track = VideoTrack(mdtest::VisualEntry("cvid", 320, 240), 1, samples);
        track.timeScale = r.timeScale;
        track.stts = r.stts;
        mdtest::BoxBuilder mvex, moof;
        if (!r.runDurations.empty()) {
            mvex.Begin("mvex").Bytes(mdtest::WordsBox("trex", {1, 1, 1000, 0, 0})).End();
            moof.Begin("moof").Begin("traf").Bytes(mdtest::WordsBox("tfhd", {1}));
            moof.BeginFull("trun", 0, 0x000100).U32(r.runDurations.size());  // sample_duration_present
            for (const uint32_t duration : r.runDurations)
                moof.U32(duration);
            moof.End().End().End();
        }
        Bytes8 file = mdtest::Mp4File({.tracks = {track}, .moovExtra = mvex.Take()});
        const Bytes8 fragment = moof.Take();
        file.insert(file.end(), fragment.begin(), fragment.end());
        for (const auto& [extensions, rate] :
             {std::pair{0u, r.baseRate}, {uint32_t(MD_EXT_FRAME_RATES), r.extendedRate}}) {
            const auto d = Demux(file, extensions);
            ASSERT_NE(d->Video(), nullptr) << r.what;
            EXPECT_NEAR(d->Video()->frameRate, rate, 1e-9) << r.what << ", extensions " << extensions;
        }
    }
}

// The clockwise display rotation of the 'tkhd' matrix {a, b, u, c, d, v, x, y, w} (ISO/IEC 14496-12 8.3.2).
// A track's end: the sum of its samples, or with edit lists read, where it has an 'edts', the 'tkhd' duration in the
// movie's time scale (1000 here) unless that is 0 or all ones (unknown). Two samples of 1000/25000 s: 0.08 s.
TEST(Mp4TimeRange, EditListsGiveTheTrackEnd)
{
    const struct Row {
        std::optional<uint32_t> presented;
        bool editLists;
        int64_t end;  // 100-ns units
    } rows[] = {
        {std::nullopt, true, 800000}, {60, false, 800000}, {60, true, 600000},
        {0, true, 800000},            {UINT32_MAX, true, 800000},
    };
    for (const Row& r : rows) {
        Mp4TrackLayout track = VideoTrack(mdtest::VisualEntry("cvid", 320, 240));
        track.presented = r.presented;
        const Bytes8 file = mdtest::Mp4File({.tracks = {track}});
        MemoryInputStream input(file.data(), file.size());
        const std::unique_ptr<Mp4Box> root = ReadMp4Stream(input);
        TimeRangeInfo range{};
        ASSERT_TRUE(ScanMp4TimeRange(root.get(), true, false, range, {.editLists = r.editLists}));
        EXPECT_EQ(range.videoEndTime, r.end) << r.presented.value_or(-1) << " " << r.editLists;
    }
}

TEST(M4Demux, TrackRotation)
{
    constexpr uint32_t kOne = 0x10000, kMinusOne = 0xFFFF0000;
    const std::pair<std::array<uint32_t, 4>, uint32_t> rows[] = {
        // a, b, c, d -> degrees
        {{kMinusOne, 0, 0, kMinusOne}, 180},
        {{0, kMinusOne, kOne, 0}, 270},
        {{kMinusOne, 0, 0, kOne}, 0},  // a mirror image, not a rotation
        {{0xB505, 0xB505, 0xFFFF4AFB, 0xB505}, 0},  // 45 degrees
    };
    for (const auto& [m, degrees] : rows) {
        mdtest::BoxBuilder b;  // version 0: times, track_ID, reserved, duration, reserved, layer, group, volume
        b.Begin("trak").BeginFull("tkhd", 0, 3).U32(0).U32(0).U32(1).U32(0).U32(0).Zeros(16);
        b.U32(m[0]).U32(m[1]).U32(0).U32(m[2]).U32(m[3]).U32(0).U32(0).U32(0).U32(0x40000000).U32(0).U32(0);
        const Bytes8 bytes = b.End().End().Take();
        const auto trak = ParseBox(bytes.data(), bytes.size());
        ASSERT_TRUE(trak);
        EXPECT_EQ(TrackRotation(trak.get()), degrees) << m[0] << " " << m[1];
    }
    EXPECT_EQ(TrackRotation(nullptr), 0u);
}

}  // namespace
