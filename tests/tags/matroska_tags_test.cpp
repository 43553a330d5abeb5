// The Matroska Info and Tags reader over hand-built EBML: which tags are the file's, where the SeekHead sends the
// reader, and element sizes that are unknown, malformed or past the end.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "demux/tag_list.h"
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
const ByteVector kEbml = El(0x1A45DFA3, El(0x4282, Text("matroska")));
// A segment of unknown size (as live writers leave it) holding the given children.
ByteVector Segment(const ByteVector& children)
{
    return Cat({kEbml, Id(0x18538067), {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, children});
}

TEST(MatroskaTags, InfoAndGlobalTags)
{
    // DateUTC: 2024-05-01T10:20:30Z is 736251630 s after 2001-01-01.
    const ByteVector info = El(0x1549A966, Cat({El(0x7BA9, Text("T")), El(0x4D80, Text("mux")), El(0x5741, Text("app")),
                                                U(0x4461, 736251630ull * 1000000000ull, 8)}));
    const ByteVector global = El(
        0x7373, Cat({El(0x63C0, U(0x68CA, 50, 1)), SimpleTag("ARTIST", "A"), SimpleTag("replaygain_gain", "-6 dB")}));
    const ByteVector perTrack = El(0x7373, Cat({El(0x63C0, U(0x63C5, 12345, 2)), SimpleTag("DURATION", "00:01")}));
    const ByteVector cluster = El(0x1F43B675, U(0xE7, 0, 1));
    struct Row {
        const char* rule;
        ByteVector file;
        std::string listed;
    };
    const Row rows[] = {
        {"Info: title, muxing and writing application, creation time", Segment(info),
         "title=T|encoder=mux|writing_app=app|creation_time=2024-05-01T10:20:30Z"},
        {"global tags listed, a track's not", Segment(Cat({El(0x1254C367, Cat({perTrack, global}))})),
         "artist=A|mkv:replaygain_gain=-6 dB"},  // names as written
        {"a tag's ENCODER replaces the muxing application",
         Segment(Cat({info, El(0x1254C367, El(0x7373, SimpleTag("ENCODER", "enc")))})),
         "title=T|encoder=enc|writing_app=app|creation_time=2024-05-01T10:20:30Z"},
        {"nothing after the first cluster", Segment(Cat({cluster, info})), ""},
        {"no EBML header: nothing", Cat({Id(0x18538067), {0x81}, info}), ""},
    };
    for (const Row& row : rows) {
        TagList tags;
        uint64_t tagsAt = 99;
        ReadMatroskaHead(Bytes(row.file), tags, &tagsAt);
        EXPECT_EQ(All(tags), row.listed) << row.rule;
        EXPECT_EQ(tagsAt, 0u) << row.rule;
    }
    EXPECT_EQ(Iso8601FromMatroskaDate(0), "2001-01-01T00:00:00Z");
    EXPECT_EQ(Iso8601FromMatroskaDate(-1), "2000-12-31T23:59:59Z") << "rounded down";
    EXPECT_EQ(Iso8601FromMatroskaDate(INT64_MIN), "") << "before 1904";
}

TEST(MatroskaTags, TheSeekHeadSendsTheReaderToTagsPastTheHead)
{
    const ByteVector seek = El(0x114D9B74, El(0x4DBB, Cat({El(0x53AB, Id(0x1254C367)), U(0x53AC, 123456, 4)})));
    const ByteVector file = Segment(seek);
    TagList tags;
    uint64_t tagsAt = 0;
    ReadMatroskaHead(Bytes(file), tags, &tagsAt);
    const uint64_t segmentData = kEbml.size() + 4 + 8;
    EXPECT_EQ(tagsAt, segmentData + 123456) << "the position counts from the segment's data";
    // Tags already in the head: no second read.
    ReadMatroskaHead(Bytes(Cat({file, El(0x1254C367, El(0x7373, SimpleTag("TITLE", "x")))})), tags, &tagsAt);
    EXPECT_EQ(tagsAt, 0u);
    EXPECT_EQ(All(tags), "title=x");
}

TEST(MatroskaTags, MalformedSizesEndTheWalk)
{
    const ByteVector title = El(0x7BA9, Text("T"));
    struct Row {
        const char* rule;
        ByteVector info;
        std::string listed;
    };
    ByteVector pastEnd = Cat({Id(0x4D80), {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, Text("m")});
    const Row rows[] = {
        {"a size past the end", Cat({title, pastEnd}), "title=T"},
        {"a size field of 9 bytes (a zero first byte)", Cat({title, Id(0x4D80), {0x00, 0x01}, Text("m")}), "title=T"},
        {"an id of 5 bytes", Cat({title, {0x08, 0x01, 0x02, 0x03, 0x04, 0x81, 'm'}}), "title=T"},
        {"a header cut short", Cat({title, {0x4D}}), "title=T"},
        {"a DateUTC of the wrong length", Cat({title, U(0x4461, 1, 4)}), "title=T"},
    };
    for (const Row& row : rows) {
        TagList tags;
        uint64_t tagsAt = 0;
        ReadMatroskaHead(Bytes(Segment(El(0x1549A966, row.info))), tags, &tagsAt);
        EXPECT_EQ(All(tags), row.listed) << row.rule;
    }
    // Many empty elements: the walk stops at the cap, before the title after them.
    ByteVector many;
    for (int i = 0; i < kMaxEbmlElements; ++i)
        many = Cat({many, {0xEC, 0x80}});  // Void, size 0
    TagList tags;
    uint64_t tagsAt = 0;
    ReadMatroskaHead(Bytes(Segment(El(0x1549A966, Cat({many, title})))), tags, &tagsAt);
    EXPECT_EQ(All(tags), "");
}

}  // namespace
}  // namespace md
