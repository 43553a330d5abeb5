// The Matroska tag reader through the plugin's entry point, over hand-built EBML: which tags are the file's, where
// the SeekHead sends the reader (Tags and a cover attachment past the head), and element sizes that are unknown,
// malformed or past the end.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "demux/tag_list.h"
#include "input/memory_input_stream.h"
#include "mkv/matroska_entry.h"
#include "mkv/mkv_tags.h"
#include "support/tag_bytes.h"
#include "tags/matroska_tags.h"

namespace md {
namespace {

using namespace tagtest;

// The id's bytes as written (its length marker included).
ByteVector Id(uint32_t id)
{
    ByteVector b;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (!b.empty() || (id >> shift & 0xFF) != 0)
            b.push_back(uint8_t(id >> shift));
    return b;
}
// An element with an 8-byte size field (0x01 marker), as muxers write sizes they patch later.
ByteVector El(uint32_t id, const ByteVector& data)
{
    ByteVector size = {0x01};
    for (int shift = 48; shift >= 0; shift -= 8)
        size.push_back(uint8_t(uint64_t(data.size()) >> shift));
    return Cat({Id(id), size, data});
}
ByteVector U(uint32_t id, uint64_t v, int bytes)
{
    ByteVector b;
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
    return El(id, b);
}
ByteVector SimpleTag(const std::string& name, const std::string& value)
{
    return El(0x67C8, Cat({El(0x45A3, Text(name)), El(0x4487, Text(value))}));
}
ByteVector Tags(const std::string& name, const std::string& value)
{
    return El(0x1254C367, El(0x7373, SimpleTag(name, value)));
}
// A Void element of exactly total bytes (total >= 9).
ByteVector Void(size_t total) { return El(0xEC, ByteVector(total - 9, 0)); }
// A SeekHead naming one element's position (from the segment's data).
ByteVector SeekTo(uint32_t id, uint64_t position)
{
    return El(0x114D9B74, El(0x4DBB, Cat({El(0x53AB, Id(id)), U(0x53AC, position, 8)})));
}
// The length of an element's header: its id and an 8-byte size field.
size_t Head(uint32_t id) { return El(id, {}).size(); }
// SeekHead, Seek, SeekID and the 4-byte id, SeekPosition and its 8 bytes.
const size_t kSeekHeadBytes = Head(0x114D9B74) + Head(0x4DBB) + Head(0x53AB) + 4 + Head(0x53AC) + 8;
const ByteVector kEbml = El(0x1A45DFA3, El(0x4282, Text("matroska")));
constexpr size_t kSegmentHead = 4 + 8;
// A segment of unknown size (as live writers leave it) holding the given children.
ByteVector Segment(const ByteVector& children)
{
    return Cat({kEbml, Id(0x18538067), {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, children});
}
uint64_t SegmentData() { return kEbml.size() + kSegmentHead; }
// n empty Void elements.
ByteVector Voids(int n)
{
    ByteVector voids;
    for (int i = 0; i < n; ++i)
        voids.insert(voids.end(), {0xEC, 0x80});
    return voids;
}

struct Read {
    std::string listed;
    CoverLocation cover;
};

// What the plugin's entry point lists for file, copied out as the detector module copies it.
Read ReadThroughEntry(const ByteVector& file)
{
    MemoryInputStream input(file.data(), file.size());
    TagList tags;
    Read read;
    const auto add = [](void* context, const char* key, const char* value) noexcept {
        static_cast<TagList*>(context)->Set(key, value);
    };
    md_matroska_entry_points()->readTags(input, &tags, add, &read.cover);
    read.listed = All(tags);
    return read;
}

TEST(MatroskaTags, InfoAndGlobalTags)
{
    // DateUTC: 2024-05-01T10:20:30Z is 736251630 s after 2001-01-01.
    const ByteVector info = El(0x1549A966, Cat({El(0x7BA9, Text("T")), El(0x4D80, Text("mux")), El(0x5741, Text("app")),
                                                U(0x4461, 736251630ull * 1000000000ull, 8)}));
    const ByteVector global = El(
        0x7373, Cat({El(0x63C0, U(0x68CA, 50, 1)), SimpleTag("ARTIST", "A"), SimpleTag("replaygain_gain", "-6 dB")}));
    const ByteVector perTrack = El(0x7373, Cat({El(0x63C0, U(0x63C5, 12345, 2)), SimpleTag("DURATION", "00:01")}));
    const ByteVector perChapter = El(0x7373, Cat({El(0x63C0, U(0x63C4, 7, 1)), SimpleTag("TITLE", "chapter")}));
    const ByteVector cluster = El(0x1F43B675, U(0xE7, 0, 1));
    // Half a second before 2001: libebml's whole seconds would say 2001-01-01T00:00:00Z.
    const ByteVector before2001 = El(0x1549A966, U(0x4461, uint64_t(-500000000ll), 8));
    const Row rows[] = {
        {"Info: title, muxing and writing application, creation time", Segment(info),
         "title=T|encoder=mux|writing_app=app|creation_time=2024-05-01T10:20:30Z"},
        {"global tags listed, a track's and a chapter's not",
         Segment(Cat({El(0x1254C367, Cat({perTrack, global, perChapter}))})), "artist=A|mkv:replaygain_gain=-6 dB"},
        {"a tag's ENCODER replaces the muxing application", Segment(Cat({info, Tags("ENCODER", "enc")})),
         "title=T|encoder=enc|writing_app=app|creation_time=2024-05-01T10:20:30Z"},
        {"a date before 2001 rounds down", Segment(before2001), "creation_time=2000-12-31T23:59:59Z"},
        {"a SimpleTag without a name lists nothing", Segment(El(0x1254C367, El(0x7373, SimpleTag("", "v")))), ""},
        {"nothing after the first cluster", Segment(Cat({cluster, info})), ""},
        {"no EBML header: nothing", Cat({Id(0x18538067), {0x81}, info}), ""},
        {"an Info past the head is not read", Segment(Cat({Void(kMatroskaTagHeadBytes), info})), ""},
    };
    for (const Row& row : rows) {
        const Read read = ReadThroughEntry(row.bytes);
        EXPECT_EQ(read.listed, row.listed) << row.rule;
        EXPECT_FALSE(read.cover.Found()) << row.rule;
    }
    EXPECT_EQ(Iso8601FromMatroskaDate(INT64_MIN), "") << "before 1904";
}

TEST(MatroskaTags, TheSeekHeadSendsTheReaderToTagsPastTheHead)
{
    // Past the head: the SeekHead, a Void that runs past the head, then the Tags.
    const size_t gap = kMatroskaTagHeadBytes + 100;
    const uint64_t tagsPosition = kSeekHeadBytes + gap;
    const ByteVector seek = SeekTo(0x1254C367, tagsPosition);
    ASSERT_EQ(seek.size(), kSeekHeadBytes);
    // A Tags element of more than kMaxMatroskaTagsBytes: the Tag whole in the read is listed, the one after not.
    const ByteVector big =
        El(0x1254C367, Cat({El(0x7373, SimpleTag("ARTIST", "early")),
                            El(0x7373, SimpleTag("COMMENT", std::string(kMaxMatroskaTagsBytes, 'c'))),
                            El(0x7373, SimpleTag("GENRE", "late"))}));
    const ByteVector near = Tags("TITLE", "near");
    const Row rows[] = {
        {"Tags past the head, where the SeekHead says", Segment(Cat({seek, Void(gap), Tags("TITLE", "far")})),
         "title=far"},
        {"Tags in the head: no second read", Segment(Cat({seek, near, Void(gap - near.size()), Tags("TITLE", "far")})),
         "title=near"},
        {"the SeekHead's position points at something else", Segment(Cat({seek, Void(gap), Void(100)})), ""},
        {"a Tags element larger than the bound is read in part", Segment(Cat({seek, Void(gap), big})), "artist=early"},
        {"a position past the end of the file", Segment(Cat({SeekTo(0x1254C367, 1u << 30), Void(gap)})), ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ReadThroughEntry(row.bytes).listed, row.listed) << row.rule;
}

TEST(MatroskaTags, TheCoverIsTheDataOfAnAttachmentNamedCover)
{
    const ByteVector picture(300, 0xAB);
    const auto attached = [&](const std::string& name, const ByteVector& data) {
        return El(0x61A7, Cat({El(0x466E, Text(name)), El(0x4660, Text("image/jpeg")), El(0x465C, data)}));
    };
    // The SeekHead, then the Attachments right after it; the picture's data follows its 9-byte header.
    const auto file = [&](const ByteVector& files) {
        return Segment(Cat({SeekTo(0x1941A469, kSeekHeadBytes), El(0x1941A469, files)}));
    };
    const auto dataAt = [&](size_t before, const std::string& name) {
        // The Attachments' header, the attached files before, the AttachedFile's header, FileName, FileMimeType,
        // FileData's header.
        return SegmentData() + kSeekHeadBytes + Head(0x1941A469) + before + Head(0x61A7) + Head(0x466E) + name.size() +
               Head(0x4660) + 10 + Head(0x465C);
    };
    struct Row {
        const char* rule;
        ByteVector file;
        uint64_t offset;  // 0: no cover
    };
    const ByteVector other = attached("font.ttf", ByteVector(50, 1));
    const Row rows[] = {
        {"the name in any case, after another attached file", file(Cat({other, attached("COVER.PNG", picture)})),
         dataAt(other.size(), "COVER.PNG")},
        {"no extension: not a cover", file(attached("cover", picture)), 0},
        {"another name", file(attached("xcover.jpg", picture)), 0},
        {"empty data", file(attached("cover.jpg", {})), 0},
        {"no SeekHead entry: the attachments are not looked for",
         Segment(El(0x1941A469, attached("cover.jpg", picture))), 0},
    };
    for (const Row& row : rows) {
        const Read read = ReadThroughEntry(row.file);
        EXPECT_EQ(read.cover.offset, row.offset) << row.rule;
        EXPECT_EQ(read.cover.length, row.offset != 0 ? picture.size() : 0u) << row.rule;
        if (row.offset != 0) {
            EXPECT_EQ(ByteVector(row.file.begin() + row.offset, row.file.begin() + row.offset + 300), picture)
                << row.rule;
        }
    }
    // A FileData whose size runs past its attached file is none.
    ByteVector overrun = file(attached("cover.jpg", picture));
    const size_t sizeField = dataAt(0, "cover.jpg") - 8;
    overrun[sizeField + 6] = 0x7F;  // size 0x7F2C instead of 0x012C
    EXPECT_FALSE(ReadThroughEntry(overrun).cover.Found());
    // An attached file's children are read up to the element cap: FileName and FileData as the last two are read,
    // one Void more puts FileData past it.
    for (const int voids : {kMaxMatroskaTagElements - 2, kMaxMatroskaTagElements - 1}) {
        const ByteVector crowded = El(0x61A7, Cat({Voids(voids), El(0x466E, Text("cover.jpg")), El(0x465C, picture)}));
        EXPECT_EQ(ReadThroughEntry(file(crowded)).cover.Found(), voids == kMaxMatroskaTagElements - 2) << voids;
    }
}

TEST(MatroskaTags, MalformedSizesEndTheWalk)
{
    const ByteVector title = El(0x7BA9, Text("T"));
    const ByteVector info = El(0x1549A966, title);
    const ByteVector pastEnd = Cat({Id(0x4D80), {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, Text("m")});
    const ByteVector unknownTags = Cat({Id(0x1254C367), {0xFF}, El(0x7373, SimpleTag("TITLE", "x"))});
    const Row rows[] = {
        {"a DateUTC of the wrong length is left out", El(0x1549A966, Cat({title, U(0x4461, 1, 4)})), "title=T"},
        {"an Info with a child past its end is left out whole", Cat({El(0x1549A966, Cat({title, pastEnd}))}), ""},
        {"a size field of 9 bytes (a zero first byte) ends the walk", Cat({info, Id(0x4D80), {0x00, 0x01}, info}),
         "title=T"},
        {"an id of 5 bytes ends the walk", Cat({info, {0x08, 0x01, 0x02, 0x03, 0x04, 0x81, 'm'}, Tags("A", "b")}),
         "title=T"},
        {"a header cut short", Cat({info, {0x4D}}), "title=T"},
        {"a Tags element of unknown size ends the walk", Cat({info, unknownTags}), "title=T"},
        {"a damaged SimpleTag costs only itself",
         El(0x1254C367, El(0x7373, Cat({SimpleTag("ARTIST", "A"), El(0x67C8, Cat({Id(0x45A3), {0x85}, Text("X")})),
                                        SimpleTag("GENRE", "G")}))),
         "artist=A|genre=G"},
        {"Targets that cannot be read: the tag is not the file's",
         El(0x1254C367, El(0x7373, Cat({El(0x63C0, Cat({Id(0x68CA), {0x88}, {1}})), SimpleTag("ARTIST", "A")}))), ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ReadThroughEntry(Segment(row.bytes)).listed, row.listed) << row.rule;
    // Many empty elements: the walk stops at the cap, before the Info after them.
    EXPECT_EQ(ReadThroughEntry(Segment(Cat({Voids(kMaxMatroskaTagElements), info}))).listed, "");
    EXPECT_EQ(ReadThroughEntry(Segment(Cat({Voids(kMaxMatroskaTagElements - 1), info}))).listed, "title=T")
        << "one fewer: read";
}

}  // namespace
}  // namespace md
