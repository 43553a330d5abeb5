// The probe on the real-world sample files (MD_REALWORLD_DIR) and the bundled
// samples (MD_TEST_DATA_DIR), read through MSFileInputStream as the detector
// reads them. Expected kinds come from the probe's rules applied to each
// file's bytes, not from its name alone; the cases where the two differ are
// named below with the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "input/ms_file_input_stream.h"
#include "probe/probe.h"
#include "mediadetect/records.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDir = MD_REALWORLD_DIR;

struct Override {
    int32_t kind;
    const char* reason;
};

// Files whose kind by the probe's rules is not what the name suggests.
const std::map<std::string, Override> kOverrides = {
    {"mpeg2ps_dvdnav_640x426_mp2.ps",
     {MK_DVD_VIDEO, "a private-stream-2 packet 03 D4 00 (length 980, sub-stream 0) precedes the first "
                    "video sequence header"}},
    {"mpeg2ps_ac3_privstream1.ps",
     {0, "2048 bytes: the pack search needs more than 2048 bytes, and nothing else matches"}},
    {"m2ts_avchd_stub.mts", {0, "1344 bytes: the transport test needs more than 2040 bytes"}},
    {"mkv_invalid_unknown_sized_nonmaster.mkv",
     {0, "its DocType has an unknown size, which no string element may have"}},
    {"mp4_broken_no_moov.mp4", {MK_MP4, "'ftyp' at byte 4 of a 4336-byte file with no pack header at byte 0"}},
    {"mpeg4v_es_120x96.cmp",
     {0, "an MPEG-4 Visual stream is recognised only when a VOP start code (00 00 01 B6) is at byte 0; this one "
         "starts with its visual object sequence header (00 00 01 B0)"}},
    {"h264_es_128x128.h264", {0, "bare H.264 streams are not one of the recognised elementary kinds"}},
};

// Name prefix → kind; the first match counts, so longer prefixes come first. -1:
// any program-stream kind (2, 4..7).
using Rules = std::vector<std::pair<const char*, int32_t>>;
const Rules kRealWorldRules = {
    {"mpeg1ps_", MK_MPEG1_SYSTEM}, {"mpeg2ps_", -1}, {"ts_", MK_MPEG2_TRANSPORT}, {"m2ts_", MK_MPEG2_TRANSPORT},
    {"mp4_", MK_MP4},  {"mov_", MK_MP4},  {"3gp_", MK_MP4}, {"mpeg2es_", MK_MPEG2_VIDEO_ES},
    {"mkv_", MK_MATROSKA_PROBED}, {"webm_", 0},  // only the DocType "matroska" counts
};
const Rules kBundledRules = {
    {"ps_mpeg4video_", MK_MPEG2_PROGRAM_MPEG4},
    {"dvd_", MK_DVD_VIDEO},
    {"svcd_", MK_SVCD},
    {"vcd_", MK_VCD},
    {"mpg1_", MK_MPEG1_SYSTEM},
    {"ps_", MK_MPEG2_PROGRAM},
    {"ts", MK_MPEG2_TRANSPORT},  // ts_, ts204_
    {"m2ts_", MK_MPEG2_TRANSPORT},
    {"mp4", MK_MP4},  // mp4_, mp4frag_
    {"mov_", MK_MP4},
    {"3gp_", MK_MP4},
    {"mkv_", MK_MATROSKA_PROBED},
    {"webm_", 0},
    {"es_mpeg1video_", MK_MPEG1_VIDEO_ES},
    {"es_mpeg2video_", MK_MPEG2_VIDEO_ES},
    // These MPEG-4 Visual streams start with a visual object sequence or a
    // video object header, not with a VOP start code at byte 0.
    {"es_mpeg4_", 0},
};

// Probes every sample file of dir (not the notes or the corpus script) and
// checks it against its override or the first rule its name matches.
void CheckDirectory(const fs::path& dir, const Rules& rules)
{
    int checked = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (!e.is_regular_file() || e.path().extension() == ".md" || e.path().extension() == ".sh")
            continue;
        MSFileInputStream s(md::Utf8ToWide(e.path().string()).c_str());
        const int32_t kind = ProbeMediaKind(&s, 0);
        const auto override = kOverrides.find(name);
        const auto rule = std::find_if(rules.begin(), rules.end(),
                                       [&](const auto& r) { return name.rfind(r.first, 0) == 0; });
        if (override != kOverrides.end()) {
            EXPECT_EQ(kind, override->second.kind) << name << ": " << override->second.reason;
        } else if (rule == rules.end()) {
            ADD_FAILURE() << name << ": no rule for this sample; add one";
        } else if (rule->second < 0) {
            const uint32_t k = static_cast<uint32_t>(kind);
            EXPECT_TRUE(k == MK_MPEG2_PROGRAM || (k >= MK_SVCD && k <= MK_DVD_VR)) << name << " " << kind;
        } else {
            EXPECT_EQ(kind, rule->second) << name;
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

std::vector<uint8_t> ReadAll(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

TEST(RealWorldProbe, EveryFileGetsTheKindItsBytesCallFor)
{
    if (!fs::is_directory(kDir))
        GTEST_SKIP() << "no real-world samples at " << kDir;
    CheckDirectory(kDir, kRealWorldRules);
}

// The bytes behind the overrides, checked here so that the expectations above
// rest on the files and not on their names.
TEST(RealWorldProbe, OverriddenSamplesHaveTheBytesTheirReasonsName)
{
    const auto nav = ReadAll(kDir / "mpeg2ps_dvdnav_640x426_mp2.ps");
    const auto ac3 = ReadAll(kDir / "mpeg2ps_ac3_privstream1.ps");
    const auto m2ts = ReadAll(kDir / "m2ts_avchd_stub.mts");
    const auto mp4 = ReadAll(kDir / "mp4_broken_no_moov.mp4");
    if (nav.empty() || ac3.empty() || m2ts.empty() || mp4.empty())
        GTEST_SKIP() << "sample missing";
    // A navigation packet (and no DVD-VR data packet) before the first sequence header.
    const uint8_t pci[] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xD4, 0x00};
    const uint8_t vr[] = {0x00, 0x00, 0x01, 0xBF, 0x07, 0xD4, 0x50};
    const uint8_t seq[] = {0x00, 0x00, 0x01, 0xB3};
    const auto seqAt = std::search(nav.begin(), nav.end(), std::begin(seq), std::end(seq));
    ASSERT_NE(seqAt, nav.end());
    EXPECT_NE(std::search(nav.begin(), seqAt, std::begin(pci), std::end(pci)), seqAt);
    EXPECT_EQ(std::search(nav.begin(), seqAt, std::begin(vr), std::end(vr)), seqAt);
    // Below the size limits of their tests.
    EXPECT_LE(ac3.size(), 2048u);
    EXPECT_LE(m2ts.size(), 2040u);
    EXPECT_EQ(m2ts[4], 0x47);  // a 192-byte-packet stream all the same
    ASSERT_GT(mp4.size(), 2048u);
    EXPECT_TRUE(std::equal(mp4.begin() + 4, mp4.begin() + 8, "ftyp"));
}

// The bundled synthetic samples, named container_videocodec_..., each checked
// against the kind its container calls for.
TEST(BundledSamplesProbe, EveryContainerGetsItsKind)
{
    const fs::path dir = MD_TEST_DATA_DIR;
    if (!fs::is_directory(dir))
        GTEST_SKIP() << "no bundled samples at " << dir;
    CheckDirectory(dir, kBundledRules);
}

}  // namespace
