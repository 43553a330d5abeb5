#include "ts/ts_demux.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "input/memory_input_stream.h"
#include "support/files.h"
#include "support/ps_builders.h"
#include "support/ts_builders.h"

namespace md {
namespace {

using mdtest::ByteVec;

constexpr uint16_t kPmtPid = 0x1000;
constexpr uint16_t kVideoPid = 0x100;
constexpr uint16_t kAudioPid = 0x101;

// PAT, PMT (MPEG-2 video, audio of audioType), then per 25-fps frame one video PES
// in decode order (an I or P picture before its two B pictures, PTS 90000 on) and
// one MPEG-1 Layer II frame (48 kHz, 24 ms, PTS 88000 on) per PES.
struct Program {
    ByteVec bytes;
    std::vector<size_t> videoPesOffsets;
};

Program MakeProgram(size_t packetSize, uint8_t audioType = 0x03)
{
    mdtest::TsWriter ts(packetSize);
    ts.Section(0, mdtest::PatSection({{1, kPmtPid}}));
    ts.Section(kPmtPid, mdtest::PmtSection(1, {{0x02, kVideoPid}, {audioType, kAudioPid}}));
    Program p;
    const uint64_t frame = 3600;
    for (uint64_t g = 0; g < 4; ++g) {
        const uint64_t base = 90000 + 3 * g * frame;
        const std::pair<uint64_t, uint8_t> pictures[] = {
            {base + 2 * frame, g == 0 ? 1 : 2}, {base, 3}, {base + frame, 3}};
        for (const auto& [pts, type] : pictures) {
            ByteVec es = p.videoPesOffsets.empty() ? mdtest::SequenceHeaders({}) : ByteVec{};
            mdtest::Append(es, mdtest::PictureHeaderFields(0, type));
            mdtest::Append(es, mdtest::PictureCodingExtension(true));
            mdtest::Append(es, mdtest::SliceStart());
            es.resize(1200, 0xAA);
            p.videoPesOffsets.push_back(ts.Bytes().size());
            ts.Pes(kVideoPid, mdtest::PesPacket(0xE0, es, pts));
            const uint64_t audioPts = 88000 + 2160 * (p.videoPesOffsets.size() - 1);
            ts.Pes(kAudioPid, mdtest::PesPacket(0xC0, mdtest::MpegAudioFrame(2, 10, 1, 0, 576), audioPts));
        }
    }
    p.bytes = ts.Bytes();
    return p;
}

uint32_t ParseWith(TSDemux& demux, const ByteVec& bytes, StreamList* list)
{
    MemoryInputStream in(bytes.data(), bytes.size());
    return demux.Parse(&in, list);
}

TEST(TSDemux, SyntheticProgramInEveryPacketSize)
{
    for (const size_t size : {188u, 192u, 204u}) {
        SCOPED_TRACE(size);
        const Program program = MakeProgram(size);
        TSDemux demux;
        demux.SetSelection(kVideoPid, 0x02, kAudioPid, 0x03);
        StreamList list;
        ASSERT_EQ(ParseWith(demux, program.bytes, &list), 1u);
        const StreamRecord* video = list.First(StreamClass::Video);
        const StreamRecord* audio = list.First(StreamClass::Audio);
        ASSERT_TRUE(video && audio);
        EXPECT_EQ(video->codec, StreamCodec::Mpeg2Video);
        EXPECT_EQ(video->streamId, kVideoPid);
        EXPECT_EQ(audio->codec, StreamCodec::Mpeg1Audio);
        TimeRangeInfo t{};
        demux.GetTimeRange(t);
        EXPECT_EQ(t.videoFirstTime, 10000000);  // smallest PTS 90000
        EXPECT_EQ(t.videoEndTime, 14400000 + 400000);  // greatest PTS 129600, plus a frame
        EXPECT_EQ(t.audioFirstTime, 88000 * 1000 / 9);
        EXPECT_EQ(t.audioEndTime, (88000 + 2160 * 11) * 1000 / 9 + 240000);  // last PES, plus a frame
        EXPECT_EQ(t.startTime, t.audioFirstTime);
        EXPECT_EQ(t.videoFrameDuration, 400000u);
        EXPECT_EQ(t.audioFrameDuration, 240000u);
        uint32_t count = 0;
        uint32_t pmts[kTsMaxPrograms] = {};
        ASSERT_TRUE(demux.GetProgramList(count, pmts));
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(pmts[0], kPmtPid);
        // The first picture is an I picture; from the second PES on only P and B follow.
        MemoryInputStream in(program.bytes.data(), program.bytes.size());
        int64_t time = 0;
        ASSERT_TRUE(demux.FindKeyframeTime(&in, 0, time));
        EXPECT_EQ(time, 97200 * 10000 / 90);
        EXPECT_FALSE(demux.FindKeyframeTime(&in, int64_t(program.videoPesOffsets[1]), time));
    }
}

TEST(TSDemux, SelectionTypesFailuresAndProgramQueries)
{
    // The PMT's stream_type replaces the host's; an audio PID announced as AC-3
    // that carries MPEG audio gets no record, and the file ends before it does.
    const Program program = MakeProgram(188, 0x81);
    TSDemux demux;
    demux.SetSelection(kVideoPid, 0x1B, kAudioPid, 0x03);
    StreamList list;
    EXPECT_EQ(ParseWith(demux, program.bytes, &list), 0u);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.At(0)->codec, StreamCodec::Mpeg2Video);

    int32_t videoCount = -1;
    int32_t audioCount = -1;
    uint32_t video[kTsMaxStreams] = {};
    uint32_t audio[kTsMaxStreams] = {};
    EXPECT_TRUE(demux.GetProgramStreams(0x1234, videoCount, video, audioCount, audio));
    EXPECT_EQ(videoCount, -1);  // not in the table: nothing written
    ASSERT_TRUE(demux.GetProgramStreams(0, videoCount, video, audioCount, audio));  // 0: the first program
    EXPECT_EQ(videoCount, 1);
    EXPECT_EQ(audio[0], kAudioPid);

    // Listing only: no selection, no times; no key-picture search without a record.
    TSDemux lister;
    EXPECT_EQ(ParseWith(lister, program.bytes, nullptr), 1u);
    TimeRangeInfo t{};
    t.startTime = 77;
    lister.GetTimeRange(t);
    EXPECT_EQ(t.startTime, 77);
    EXPECT_EQ(t.videoFirstTime, -1);
    int64_t time = 0;
    MemoryInputStream in(program.bytes.data(), program.bytes.size());
    EXPECT_FALSE(lister.FindKeyframeTime(&in, 0, time));

    TSDemux empty;
    EXPECT_EQ(empty.Parse(nullptr, nullptr), 0u);
    EXPECT_EQ(ParseWith(empty, mdtest::RandomBytes(50000, 3, true), nullptr), 0u);  // no sync
    uint32_t count = 0;
    EXPECT_FALSE(empty.GetProgramList(count, nullptr));
}

// ---- The corpus and real-world captures against ffprobe ---------------------------

struct ProbeTimes {
    std::optional<double> start;
    std::optional<double> duration;
};

nlohmann::json ReadJson(const std::filesystem::path& path)
{
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

ProbeTimes StreamTimes(const nlohmann::json& doc, uint32_t id)
{
    ProbeTimes t;
    for (const auto& s : doc["streams"]) {
        if (std::stoul(s.value("id", "0"), nullptr, 16) != id)
            continue;
        if (s.contains("start_time"))
            t.start = std::stod(s["start_time"].get<std::string>());
        if (s.contains("duration"))
            t.duration = std::stod(s["duration"].get<std::string>());
    }
    return t;
}

// Seconds to the 100-ns value of a 32-bit transport-stream timestamp.
int64_t TsTime(double seconds)
{
    const int64_t ticks = std::llround(seconds * 90000) % (int64_t(1) << 32);
    return ticks * 1000 / 9;
}

struct FileCase {
    const char* name;
    bool realWorld;
    int32_t videoPid;
    int32_t audioPid;
    uint32_t parse;
    int videoCodec;  // -1: no record
    int audioCodec;
    const char* difference = nullptr;  // where the detector's rules and ffprobe part ways
    double videoStartShift = 0;        // seconds, by the named difference
    double videoEndShift = 0;
};

TEST(TSDemux, CorpusAndRealWorldSelectionsMatchFfprobe)
{
    const FileCase cases[] = {
        {"ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts", false, 0x100, 0x101, 1, 1, 9},
        {"ts_h264_1280x720_25fps_aac_48k_stereo.ts", false, 0x100, 0x101, 1, 29, 15},
        {"ts204_mpeg2video_352x288_4x3_25fps_mp2_48k_stereo.ts", false, 0x100, 0x101, 1, 1, 9},
        {"m2ts_h264_1920x1080_25fps_ac3_48k_stereo.m2ts", false, 0x1011, 0x1100, 1, 29, 11},
        {"ts_dvb_mpeg2_576i_mp2.ts", true, 0x1000, 0x1001, 1, 1, 9},
        {"ts_h264_1080p_mp2.ts", true, 0x100, 0x101, 1, 29, 9},
        {"ts_dvb_mpeg2_1080i_dts_mp2.ts", true, 0x1011, 0x1101, 1, 1, 9,
         "the capture ends inside the fifth picture, which ffprobe leaves out of the duration; the end time is the "
         "greatest PTS plus a frame", 0, 1001.0 / 30000},
        {"ts_dvb_h264_1080i_eac3_dvbsub.ts", true, 0x78, 0, 1, 29, -1,
         "E-AC-3 comes as stream_type 6 with an enhanced AC-3 descriptor (0x7A), which is no audio type here"},
        {"ts_h262_mp2_small.ts", true, 0x100, 0x101, 1, 1, 9,
         "three video PES only: from the end five are needed, so the video end time stays a raw 90 kHz value"},
        {"ts_h264_1024x576_aac.ts", true, 0x65, 0x64, 1, 29, 9,
         "ADTS AAC announced as stream_type 4: the MPEG audio search accepts adts_buffer_fullness FF FC as a "
         "Layer II header (44.1 kHz), so the audio values and end time are not ffprobe's"},
        {"ts_dvb_multiprog_mpeg2_576i.ts", true, 0x200, 0x28a, 1, 1, 9,
         "open GOP: two B pictures before the first I picture have smaller PTS (0.08 s), ffprobe starts at the I "
         "picture; ffprobe gives the audio no duration",
         -0.08},
        {"ts_dvb_mpeg2_1080i_dts_mp2.ts", true, 0x1011, 0x1100, 0, 1, -1,
         "DTS-HD (0x86) is described only after a registration descriptor in the ES loop; this one is at "
         "program level, so no audio record is made before the file ends"},
        {"ts_dvb_multiprog_mpeg2_576i.ts", true, 0x201, 0x28b, 0, 1, 9,
         "both records are made in the second chunk, after which each chunk's walk stops at once; the PMT of "
         "PID 300, seen only later, is never parsed and the pass reads until the file ends"},
        {"ts_hevc_2160p_multiprog.ts", true, 0, 0x7a, 0, -1, -1, "the capture holds no PES of the AAC PID"},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.difference ? std::string(" -- ") + c.difference : ""));
        const auto dir = c.realWorld ? test::RealWorldDir() : test::TestDataDir();
        if (dir.empty())
            GTEST_SKIP() << "real-world samples not present";
        const ByteVec bytes = test::ReadFileBytes(dir / c.name);
        const auto json = dir / "reference" / (std::string(c.name) + ".ffprobe.json");
        const auto doc = ReadJson(json);
        ASSERT_FALSE(doc.is_discarded());

        TSDemux demux;
        demux.SetSelection(c.videoPid, 0, c.audioPid, 0);
        StreamList list;
        EXPECT_EQ(ParseWith(demux, bytes, &list), c.parse);
        const StreamRecord* video = list.First(StreamClass::Video);
        const StreamRecord* audio = list.First(StreamClass::Audio);
        ASSERT_EQ(video != nullptr, c.videoCodec >= 0);
        ASSERT_EQ(audio != nullptr, c.audioCodec >= 0);
        const std::string name = c.name;
        const bool falseAudioSync = name == "ts_h264_1024x576_aac.ts";
        const bool fewVideoPes = name == "ts_h262_mp2_small.ts";

        const auto refs = mdtest::ReadFfprobeStreams(json);
        auto ref = [&](int32_t pid) {
            for (const auto& s : refs)
                if (s.id == uint32_t(pid))
                    return s;
            return mdtest::ReferenceStream{};
        };
        if (video) {
            const auto r = ref(c.videoPid);
            EXPECT_EQ(int(video->codec), c.videoCodec);
            EXPECT_EQ(video->video.width, r.width);
            EXPECT_EQ(video->video.height, r.height);
            // ffprobe gives no ratio for 1024x576 square pels: 100 x 1024 / 576 = 177, 16:9.
            const uint32_t darX = r.darX ? r.darX : 16;
            const uint32_t darY = r.darY ? r.darY : 9;
            EXPECT_EQ(uint64_t(video->video.aspectX) * darY, uint64_t(video->video.aspectY) * darX);
            EXPECT_NEAR(video->frameRate, r.frameRate, 0.01);
            EXPECT_EQ(video->progressive, r.fieldOrder == "progressive" ? 1 : 0);
            if (video->codec == StreamCodec::H264Ts && !video->progressive) {
                EXPECT_EQ(video->fieldCoding, 1u);  // MediaInfo: MBAFF
            }
        }
        if (audio) {
            EXPECT_EQ(int(audio->codec), c.audioCodec);
            if (!falseAudioSync) {
                const auto r = ref(c.audioPid);
                EXPECT_EQ(audio->audio.sampleRate, r.sampleRate);
                EXPECT_EQ(audio->audio.channels, r.channels);
            }
        }
        if (c.parse == 0)
            continue;

        TimeRangeInfo t{};
        demux.GetTimeRange(t);
        const ProbeTimes v = StreamTimes(doc, uint32_t(c.videoPid));
        ASSERT_TRUE(v.start && v.duration);
        EXPECT_NEAR(t.videoFirstTime, TsTime(*v.start + c.videoStartShift), 20);
        if (fewVideoPes) {
            // The last PTS as it stands: start + duration - one 1001/30000 s frame.
            EXPECT_NEAR(t.videoEndTime, std::llround((*v.start + *v.duration - 1001.0 / 30000) * 90000), 1);
        } else {
            EXPECT_NEAR(t.videoEndTime, TsTime(*v.start + *v.duration + c.videoEndShift), 20);
        }
        int64_t start = t.videoFirstTime;
        if (audio) {
            const ProbeTimes a = StreamTimes(doc, uint32_t(c.audioPid));
            ASSERT_TRUE(a.start);
            EXPECT_NEAR(t.audioFirstTime, TsTime(*a.start), 20);
            if (!falseAudioSync && a.duration) {
                EXPECT_NEAR(t.audioEndTime, TsTime(*a.start + *a.duration), 20);
            }
            start = std::min(start, t.audioFirstTime);
        }
        EXPECT_EQ(t.startTime, start);

        MemoryInputStream in(bytes.data(), bytes.size());
        int64_t keyframe = -1;
        EXPECT_TRUE(demux.FindKeyframeTime(&in, 0, keyframe));
        if (!c.realWorld) {  // ffmpeg's files start with a key picture
            EXPECT_NEAR(keyframe, TsTime(*v.start), 20);
        }
        if (name.starts_with("m2ts_h264")) {
            // HDMV registration: the H.264 rate is the file rate (165888 bytes in
            // 1.0 s of video) less the AC-3 rate (192 kbit/s), payload share 184/188.
            uint8_t registration = 0;
            demux.HasRegistrationDescriptor(registration);
            EXPECT_EQ(registration, 1);
            EXPECT_EQ(video->video.bitRate, (165888u - 24000u) * 184 / 188 * 8);
        }
    }
}

// The stream types of the detector's classes, for ffprobe's codec_tag values.
bool ClassedVideo(uint32_t type) { return type == 1 || type == 2 || type == 0x1B || type == 0x20; }
bool ClassedAudio(uint32_t type)
{
    for (const uint32_t t : {0x03u, 0x04u, 0x0Fu, 0x11u, 0x80u, 0x81u, 0x83u, 0x85u, 0x86u, 0xA2u})
        if (type == t)
            return true;
    return false;
}

TEST(TSDemux, RealWorldProgramListsMatchFfprobe)
{
    const auto dir = test::RealWorldDir();
    if (dir.empty())
        GTEST_SKIP() << "real-world samples not present";
    for (const char* name : {"ts_dvb_multiprog_mpeg2_576i.ts", "ts_dvb_si_only_11prog.ts", "ts_hevc_2160p_multiprog.ts",
                             "ts_dvb_h264_1080i_eac3_dvbsub.ts", "ts_dvb_mpeg2_1080i_dts_mp2.ts", "ts_h264_1024x576_aac.ts",
                             "m2ts_avchd_stub.mts"}) {
        SCOPED_TRACE(name);
        const ByteVec bytes = test::ReadFileBytes(dir / name);
        const auto doc = ReadJson(dir / "reference" / (std::string(name) + ".ffprobe.json"));
        TSDemux demux;
        ParseWith(demux, bytes, nullptr);
        uint32_t count = 0;
        uint32_t pmts[kTsMaxPrograms] = {};
        if (std::string(name) == "m2ts_avchd_stub.mts") {
            // Seven 192-byte packets: fewer than the 1633 bytes a sync needs
            // (ffprobe reads the program).
            EXPECT_FALSE(demux.GetProgramList(count, pmts));
            continue;
        }
        ASSERT_TRUE(demux.GetProgramList(count, pmts));
        ASSERT_EQ(count, doc["programs"].size());
        for (uint32_t i = 0; i < count; ++i) {
            const auto& p = doc["programs"][i];
            EXPECT_EQ(pmts[i], p["pmt_pid"].get<uint32_t>());
            std::vector<uint32_t> wantVideo, wantAudio;
            for (const auto& s : p["streams"]) {
                const uint32_t id = uint32_t(std::stoul(s["id"].get<std::string>(), nullptr, 16));
                uint32_t type = uint32_t(std::stoul(s.value("codec_tag", "0x0"), nullptr, 16));
                // ffprobe shows no tag for SCTE-35, carried as stream_type 0x86: classed
                // as DTS-HD audio. E-AC-3 and DVB subtitles (tag 6) are in no class.
                if (s.value("codec_name", "") == "scte_35")
                    type = 0x86;
                if (ClassedVideo(type))
                    wantVideo.push_back(id);
                if (ClassedAudio(type))
                    wantAudio.push_back(id);
            }
            int32_t videoCount = 0;
            int32_t audioCount = 0;
            uint32_t video[kTsMaxStreams] = {};
            uint32_t audio[kTsMaxStreams] = {};
            ASSERT_TRUE(demux.GetProgramStreams(pmts[i], videoCount, video, audioCount, audio));
            EXPECT_EQ(std::vector<uint32_t>(video, video + videoCount), wantVideo) << pmts[i];
            EXPECT_EQ(std::vector<uint32_t>(audio, audio + audioCount), wantAudio) << pmts[i];
        }
    }
}

}  // namespace
}  // namespace md
