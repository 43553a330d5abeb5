// Opening every program-stream and elementary-stream sample through the module
// and comparing what the host receives with ffprobe's reference output. Where
// the detector's rules give another answer than ffprobe, the case says why.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "support/module.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

double Ratio(const std::string& text)  // "30000/1001" or "16:9"
{
    const auto sep = text.find_first_of("/:");
    if (sep == std::string::npos)
        return 0;
    const double den = std::stod(text.substr(sep + 1));
    return den == 0 ? 0 : std::stod(text.substr(0, sep)) / den;
}

std::optional<json> Reference(const fs::path& file)
{
    const fs::path ref = file.parent_path() / "reference" / (file.filename().string() + ".ffprobe.json");
    std::ifstream in(ref);
    if (!in)
        return std::nullopt;
    return json::parse(in);
}

const json* FirstStream(const json& ref, const char* type)
{
    for (const json& s : ref["streams"])
        if (s.value("codec_type", "") == type)
            return &s;
    return nullptr;
}

uint32_t VideoFormatOf(const std::string& codec)
{
    const std::map<std::string, uint32_t> formats = {
        {"mpeg1video", VF_MPEG1}, {"mpeg2video", VF_MPEG2}, {"mpeg4", VF_MPEG4}, {"h264", VF_H264}};
    auto it = formats.find(codec);
    return it == formats.end() ? VF_NONE : it->second;
}

uint32_t AudioFormatOf(const std::string& codec)
{
    // MPEG audio of any layer in a program stream is reported as MPEG-1 audio.
    const std::map<std::string, uint32_t> formats = {
        {"mp2", AF_MPEG1}, {"mp3", AF_MPEG1}, {"ac3", AF_AC3}, {"dts", AF_DTS}, {"pcm_dvd", AF_PCM_BE}};
    auto it = formats.find(codec);
    return it == formats.end() ? AF_NONE : it->second;
}

// MPEG-1 pel aspect ratios (height / width of a pel), ISO/IEC 11172-2 Table 2-D.1.
double PelAspect(unsigned code)
{
    static const double table[] = {0,      1.0,    0.6735, 0.7031, 0.7615, 0.8055, 0.8437, 0.8935,
                                   0.9375, 0.9815, 1.0255, 1.0695, 1.125,  1.1575, 1.2015};
    return code < std::size(table) ? table[code] : 0;
}

struct Expectation {
    uint32_t kind;
    // Set when the detector's rules give a display aspect other than ffprobe's.
    std::optional<std::pair<uint32_t, uint32_t>> aspect = {};
    std::optional<double> frameRate = {};  // likewise for the frame rate
    const char* why = "";
};

class OpenReference : public md::test::DetectorTest {
protected:
    void Check(const fs::path& file, const Expectation& e)
    {
        SCOPED_TRACE(file.filename().string() + (e.why[0] ? std::string(" (") + e.why + ")" : ""));
        const auto ref = Reference(file);
        ASSERT_TRUE(ref.has_value());
        uint32_t kind = 0;
        ASSERT_EQ(m_detector->OpenFileA(file.c_str(), &kind), S_OK);
        EXPECT_EQ(kind, e.kind);
        if (kind >= MK_MPEG1_VIDEO_ES)
            return;  // elementary streams are only classified

        VideoInfo video{};
        const json* v = FirstStream(*ref, "video");
        ASSERT_NE(v, nullptr);
        ASSERT_EQ(m_detector->GetVideoInfo(&video), S_OK);
        EXPECT_EQ(video.format, VideoFormatOf((*v)["codec_name"]));
        EXPECT_EQ(video.width, (*v)["width"].get<uint32_t>());
        EXPECT_EQ(video.height, (*v)["height"].get<uint32_t>());
        ASSERT_NE(video.aspectY, 0u);
        if (e.aspect) {
            EXPECT_EQ(video.aspectX, e.aspect->first);
            EXPECT_EQ(video.aspectY, e.aspect->second);
        } else {
            EXPECT_NEAR(double(video.aspectX) / video.aspectY, Ratio((*v)["display_aspect_ratio"]), 0.005);
        }
        EXPECT_NEAR(video.frameRate, e.frameRate.value_or(Ratio((*v)["r_frame_rate"])), 0.01);
        const std::string order = v->value("field_order", "progressive");
        EXPECT_EQ(video.fieldOrder, order == "tt" ? 1u : order == "bb" ? 2u : 0u) << order;

        const json* a = FirstStream(*ref, "audio");
        AudioInfo audio{};
        ASSERT_EQ(m_detector->GetAudioInfo(&audio), a ? S_OK : E_NOTIMPL);
        if (!a)
            return;
        EXPECT_EQ(audio.format, AudioFormatOf((*a)["codec_name"]));
        EXPECT_EQ(audio.channels, (*a)["channels"].get<uint32_t>());
        EXPECT_EQ(audio.sampleRate, std::stoul((*a)["sample_rate"].get<std::string>()));
    }

};

// MPEG-1 video: the aspect is width : height x pel aspect, not reduced.
std::pair<uint32_t, uint32_t> Mpeg1Aspect(uint32_t width, uint32_t height, unsigned pelCode)
{
    return {width, static_cast<uint32_t>(static_cast<float>(height) * static_cast<float>(PelAspect(pelCode)))};
}

TEST_F(OpenReference, BundledProgramAndElementaryStreams)
{
    const fs::path d = md::test::TestDataDir();
    const char* vcdWhy =
        "a video CD keeps kind 3 only with a 352-wide picture at exactly 4:3; MPEG-1 gives width : height x "
        "pel aspect, so the open reports an MPEG-1 system stream";
    const std::map<std::string, Expectation> cases = {
        {"mpg1_mpeg1video_320x240_30fps_mp2_44k_stereo.mpg", {MK_MPEG1_SYSTEM, Mpeg1Aspect(320, 240, 1), {}, "MPEG-1 aspect"}},
        {"vcd_mpeg1video_352x288_4x3_25fps_mp2_44k_stereo.mpg", {MK_MPEG1_SYSTEM, Mpeg1Aspect(352, 288, 8), {}, vcdWhy}},
        {"vcd_mpeg1video_352x240_4x3_29.97fps_mp2_44k_stereo.mpg", {MK_MPEG1_SYSTEM, Mpeg1Aspect(352, 240, 12), {}, vcdWhy}},
        {"svcd_mpeg2video_480x576_4x3_25fps_mp2_44k_stereo.mpg", {MK_SVCD}},
        {"dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob", {MK_DVD_VIDEO}},
        {"dvd_mpeg2video_720x576_4x3_25i_bff_mp2_48k_stereo.vob", {MK_DVD_VIDEO}},
        {"dvd_mpeg2video_720x480_16x9_29.97p_ac3_48k_stereo.vob", {MK_DVD_VIDEO}},
        {"ps_mpeg2video_640x480_4x3_25fps_mp2_48k_stereo.mpg", {MK_MPEG2_PROGRAM}},
        {"ps_mpeg2video_352x576_4x3_25fps_lpcm_48k_stereo.vob", {MK_MPEG2_PROGRAM}},
        {"ps_mpeg4video_352x288_25fps_mp2_48k_mono.mpg",
         {MK_MPEG2_PROGRAM_MPEG4, std::pair<uint32_t, uint32_t>{352, 288}, 29.97,
          "a VOL without fixed_vop_rate is taken as 29.97 fps; square pels give width:height"}},
        {"es_mpeg1video_352x288_25fps.m1v", {MK_MPEG1_VIDEO_ES}},
        {"es_mpeg2video_720x480_16x9_29.97i_tff.m2v", {MK_MPEG2_VIDEO_ES}},
    };
    for (const auto& [name, e] : cases)
        Check(d / name, e);
}

TEST_F(OpenReference, RealWorldProgramAndElementaryStreams)
{
    const fs::path d = md::test::RealWorldDir();
    if (d.empty())
        GTEST_SKIP() << "real-world samples not present";
    const std::map<std::string, Expectation> cases = {
        {"mpeg1ps_480x360_mp2.mpg", {MK_MPEG1_SYSTEM, Mpeg1Aspect(480, 360, 1), {}, "MPEG-1 aspect"}},
        {"mpeg1ps_352x288_oddpar.mpg",
         {MK_MPEG1_SYSTEM, Mpeg1Aspect(352, 288, 3), {}, "MPEG-1 aspect from pel aspect code 3"}},
        {"mpeg2ps_dvdnav_640x426_mp2.ps",
         {MK_DVD_VIDEO, std::pair<uint32_t, uint32_t>{640, 426}, {},
          "square pels: the 1:1 aspect code is replaced by width:height"}},
        {"mpeg2es_720x576.m2v", {MK_MPEG2_VIDEO_ES}},
    };
    for (const auto& [name, e] : cases)
        Check(d / name, e);
}

TEST_F(OpenReference, DvdAc3FiveOneReportsItsChannelMask)
{
    const fs::path file = md::test::TestDataDir() / "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob";
    uint32_t kind = 0;
    ASSERT_EQ(m_detector->OpenFileA(file.c_str(), &kind), S_OK);
    MultiChannelInfo multi{};
    ASSERT_EQ(m_detector->GetMultiChannelInfo(&multi), S_OK);
    EXPECT_EQ(multi.channelMask, 0x3Fu);  // L R C LFE Ls Rs
    EXPECT_EQ(multi.codingMode, 7);       // 3/2
    EXPECT_EQ(multi.lfe, 1);
    EXPECT_EQ(multi.streamIdByte, 8);     // bsid of ATSC A/52 streams
    MpegAudioLayerInfo layer{};
    EXPECT_EQ(m_detector->GetMpegAudioLayerInfo(&layer), E_NOTIMPL);
}

}  // namespace
