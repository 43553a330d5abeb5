// Reading tags costs no read of the file where the tags lie in what the open reads anyway: each tagged corpus file
// is opened as the detector opens it (the probe, then the family's demultiplexer on the same stream) with every
// extension but MD_EXT_TAGS and with all of them, and the two opens must make the same reads of the same bytes;
// with tags on, the tags (and the cover, where the file has one) must be found.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "demux/file_demux.h"
#include "demux/stream_record.h"
#include "input/held_head_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "mediadetect/records.h"
#include "mp4/m4_demux.h"
#include "platform/text.h"
#include "probe/families.h"
#include "probe/matroska_plugin.h"
#include "probe/probe.h"
#include "support/counting_input_stream.h"
#include "support/files.h"
#include "support/tag_bytes.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kTagsOn = MD_EXT_ALL;
constexpr uint32_t kTagsOff = MD_EXT_ALL & ~MD_EXT_TAGS;

// What one open of a file cost and found.
struct OpenCost {
    uint32_t kind = 0;
    uint64_t reads = 0;
    uint64_t bytes = 0;
    size_t tags = 0;
    bool cover = false;
};

// The probe and then the demultiplexer of the kind it found, over one counted stream of the file, as the
// detector's open runs them.
OpenCost OpenCounted(const fs::path& path, uint32_t extensions)
{
    MSFileInputStream file(md::Utf8ToWide(path.string()).c_str());
    md::test::CountingInputStream input(file);
    md::HeldHeadInputStream held(input, kProbeBufferSize);
    OpenCost cost;
    held.Seek(0);
    cost.kind = uint32_t(ProbeMediaKind(&held, 0, extensions));
    md::StreamList streams;
    input.Seek(0);
    if (cost.kind == MK_MP4) {
        md::M4Demux demux;
        demux.SetExtensions(extensions);
        demux.Parse(&input, &streams);
        cost.tags = demux.Tags().Count();
        cost.cover = demux.Cover().Found();
    } else if (cost.kind == MK_MATROSKA || cost.kind == MK_MATROSKA_PROBED) {
        // The open reads a Matroska file's tags alone (its tracks wait for the queries), from the head the probe
        // read, which the detector keeps with tags on.
        if (extensions & MD_EXT_TAGS) {
            md::TagList tags;
            md::CoverLocation cover;
            md::ReadMatroskaFileTags(held, tags, &cover);
            cost.tags = tags.Count();
            cost.cover = cover.Found();
        }
    } else if (const md::ContainerFamily* family = md::FamilyOf(cost.kind)) {
        const std::unique_ptr<md::FileDemux> demux = family->make();
        demux->SetExtensions(extensions);
        demux->Parse(&input, &streams);
        cost.tags = demux->Tags().Count();
        cost.cover = demux->Cover().Found();
    }
    cost.reads = input.Reads();
    cost.bytes = input.Bytes();
    return cost;
}

struct Row {
    const char* file;  // in tests/data, or "realworld/NAME" for ../shared/realworld
    uint32_t kind;
    bool cover;  // the file carries a cover picture, placed at the open
    // Where tags lie past what the open reads otherwise: the reads and bytes they cost.
    uint64_t extraReads = 0;
    uint64_t extraBytes = 0;
};

// Every tagged corpus file whose tags the open reads.
const Row kRows[] = {
    {"tags_mp3_id3v23_44k_stereo.mp3", MK_MP3, false},
    {"tags_mp3_id3v24_id3v1_44k_stereo.mp3", MK_MP3, false},
    {"mp3_id3v23_cover_48k_mono.mp3", MK_MP3, true},
    {"tags_flac_44k_stereo.flac", MK_FLAC, false},
    {"flac_44k_stereo_cover.flac", MK_FLAC, true},
    {"tags_wav_pcm_s16le_44k_stereo.wav", MK_WAV, false},
    // The text chunks precede COMM; the "ID3 " chunk follows SSND, at 88342 of the file's 88660 bytes, where the
    // walk without tags, which stops at COMM, does not go: one read of the rest of the file from its header on.
    {"tags_aiff_pcm_s16be_44k_stereo.aiff", MK_AIFF, false, 1, 88660 - 88342},
    {"tags_ogg_vorbis_44k_stereo.ogg", MK_OGG, false},
    {"tags_ogg_opus_48k_stereo.opus", MK_OGG, false},
    {"cover_ogg_vorbis_44k_stereo.ogg", MK_OGG, true},
    {"tags_m4a_aac_44k_stereo.m4a", MK_MP4, false},
    {"cover_m4a_aac_44k_stereo.m4a", MK_MP4, true},
    {"tags_mov_h264_320x240_25fps_phone.mov", MK_MP4, false},
    {"tags_avi_mpeg4_320x240_25fps.avi", MK_AVI, false},
    {"tags_flv_flv1_320x240_25fps.flv", MK_FLV, false},
    {"tags_asf_wmav2_44k_stereo.wma", MK_ASF, false},
    {"realworld/mov_iphone_rotated.mov", MK_MP4, false},
    {"tags_mkv_h264_320x240_25fps.mkv", MK_MATROSKA_PROBED, false},
    {"cover_mkv_h264_320x240_25fps.mkv", MK_MATROSKA_PROBED, true},
    {"realworld/mkv_ffv1_flac_reference.mkv", MK_MATROSKA_PROBED, false},
};

TEST(TagReads, TagsInTheHeadCostNoRead)
{
    for (const Row& row : kRows) {
        const std::string name = row.file;
        fs::path path = md::test::TestDataDir() / name;
        if (name.starts_with("realworld/")) {
            const fs::path dir = md::test::RealWorldDir();
            if (dir.empty()) {
                std::printf("[ SKIPPED  ] %s: no real-world samples at %s\n", row.file,
                            md::test::RealWorldPath().string().c_str());
                continue;
            }
            path = dir / name.substr(std::string("realworld/").size());
        }
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(path)) << path;
        const OpenCost off = OpenCounted(path, kTagsOff);
        const OpenCost on = OpenCounted(path, kTagsOn);
        EXPECT_EQ(std::tuple(off.kind, on.kind, off.tags, off.cover, on.cover),
                  std::tuple(row.kind, row.kind, size_t(0), false, row.cover));
        EXPECT_EQ(std::tuple(on.reads, on.bytes), std::tuple(off.reads + row.extraReads, off.bytes + row.extraBytes));
        EXPECT_TRUE(on.tags > 0 || row.cover);  // a file tagged with a cover alone lists no other tag
    }
}

// The frame files of the corpus between an ID3v2.3 tag (a title) and an ID3v1 tag, as taggers leave them: the
// ID3v2 tag lies in the head the frame search reads; ADTS reads the last 160 bytes for its duration anyway, AC-3 and
// DTS do not, so their ID3v1 tag costs that one read.
TEST(TagReads, FrameFilesBetweenId3Tags)
{
    using namespace md::tagtest;
    const ByteVector title = Cat({Text("TIT2"), {0, 0, 0, 6, 0, 0, 0}, Text("Title")});
    const ByteVector id3v2 = Cat({Text("ID3"), {3, 0, 0, 0, 0, 0, uint8_t(title.size())}, title});
    ByteVector id3v1 = Cat({Text("TAG"), Text("Old title")});
    id3v1.resize(128);
    id3v1[127] = 255;  // no genre
    const struct {
        const char* file;
        uint32_t kind;
        uint64_t extraReads, extraBytes;
    } rows[] = {
        {"adts_aac_lc_48k_stereo.aac", MK_ADTS, 0, 0},
        {"ac3_384k_48k_5.1.ac3", MK_AC3, 1, 160},
        {"dts_768k_48k_5.1.dts", MK_DTS, 1, 160},
    };
    const md::test::TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const fs::path path = dir / row.file;
        md::test::WriteFileBytes(path, Cat({id3v2, md::test::ReadFileBytes(md::test::TestDataDir() / row.file), id3v1}));
        const OpenCost off = OpenCounted(path, kTagsOff);
        const OpenCost on = OpenCounted(path, kTagsOn);
        EXPECT_EQ(std::tuple(off.kind, on.kind, off.tags, on.tags), std::tuple(row.kind, row.kind, size_t(0), size_t(1)));
        EXPECT_EQ(on.reads, off.reads + row.extraReads);
        EXPECT_EQ(on.bytes, off.bytes + row.extraBytes);
    }
}

}  // namespace
