// The tag readers over hand-built bytes: each row a rule of a tag system or a hostile size that must end in a clear
// answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "demux/tag_list.h"
#include "support/stream_builders.h"
#include "support/tag_bytes.h"
#include "tags/asf_tags.h"
#include "tags/id3v1_ape.h"
#include "tags/id3v2.h"
#include "tags/pictures.h"
#include "tags/riff_info.h"
#include "tags/tag_text.h"
#include "tags/vorbis_comment.h"

namespace md {
namespace {

using namespace tagtest;

const std::string kFffd = "\xEF\xBF\xBD";  // U+FFFD, the replacement character, in UTF-8

using mdtest::Be;
using mdtest::Le;
ByteVector SyncSafe(uint32_t v)
{
    return {uint8_t(v >> 21 & 0x7F), uint8_t(v >> 14 & 0x7F), uint8_t(v >> 7 & 0x7F), uint8_t(v & 0x7F)};
}

// An ID3v2.3 or 2.4 frame: id, size (plain in 2.3, syncsafe in 2.4), two flag bytes, body.
ByteVector Frame(int version, const std::string& id, const ByteVector& body, uint8_t format = 0)
{
    const ByteVector size = version == 4 ? SyncSafe(uint32_t(body.size())) : Be(body.size(), 4);
    return Cat({Text(id), size, {0, format}, body});
}
// An ID3v2.2 frame: 3-character id, 24-bit size.
ByteVector Frame22(const std::string& id, const ByteVector& body)
{
    const auto n = uint32_t(body.size());
    return Cat({Text(id), {uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}, body});
}
// A tag header over frames; statedSize replaces the frames' size when given.
ByteVector Tag(int version, const ByteVector& frames, uint8_t flags = 0, int64_t statedSize = -1)
{
    const auto size = uint32_t(statedSize >= 0 ? statedSize : int64_t(frames.size()));
    return Cat({Text("ID3"), {uint8_t(version), 0, flags}, SyncSafe(size), frames});
}

TEST(TagList, KeysAndValuesAreBoundedValidUtf8)
{
    const std::string e = "\xC3\xA9";  // é, two bytes
    struct Row {
        const char* rule;
        std::string value;
        std::string listed;
    };
    const Row rows[] = {
        {"a cut falls before a character that does not fit", std::string(kMaxTagValueBytes - 1, 'a') + e,
         std::string(kMaxTagValueBytes - 1, 'a')},
        {"a stray continuation byte becomes U+FFFD", "a\x80" "b", "a" + kFffd + "b"},
        {"a sequence cut short becomes U+FFFD", "a\xE2\x82", "a" + kFffd + kFffd},
        {"an overlong form becomes U+FFFD", "\xC0\xAF", kFffd + kFffd},
        {"a UTF-16 surrogate in UTF-8 becomes U+FFFD", "\xED\xA0\x80", kFffd + kFffd + kFffd},
        {"a NUL byte ends the value", std::string("ab\0cd", 5), "ab"},
    };
    for (const Row& row : rows) {
        TagList tags;
        tags.Set("k", row.value);
        EXPECT_EQ(tags.Find("k") ? *tags.Find("k") : "(none)", row.listed) << row.rule;
    }
    TagList tags;
    EXPECT_FALSE(tags.Set("", "v"));
    EXPECT_FALSE(tags.Set("k", ""));
    tags.Set(std::string(200, 'k'), "v");
    EXPECT_EQ(tags.At(0).key.size(), kMaxTagKeyBytes);
    for (size_t i = 0; i < kMaxTags + 10; ++i)
        tags.Set("key" + std::to_string(i), "v");
    EXPECT_EQ(tags.Count(), kMaxTags);
    EXPECT_TRUE(tags.Set("key0", "new")) << "a listed key takes a new value when the list is full";
    EXPECT_EQ(*tags.Find("key0"), "new");
    EXPECT_FALSE(tags.SetIfMissing("key0", "other"));
    EXPECT_EQ(*tags.Find("key0"), "new");
}

TEST(TagText, Utf16InEveryOrder)
{
    struct Row {
        const char* rule;
        ByteVector bytes;
        bool bigEndian;
        std::string text;
    };
    const Row rows[] = {
        {"a big-endian mark", {0xFE, 0xFF, 0, 'A', 0, 0xE9}, false, "A\xC3\xA9"},
        {"no mark: Latin text shows little-endian", {'A', 0, 'B', 0}, true, "AB"},
        {"no mark, no hint in the bytes: the given order", {0x03, 0xA9}, true, "\xCE\xA9"},
        {"a surrogate pair is one character", {0xFF, 0xFE, 0x3C, 0xD8, 0xB5, 0xDF}, false, "\xF0\x9F\x8E\xB5"},
        {"an unpaired high surrogate", {0xFF, 0xFE, 0x3C, 0xD8, 'A', 0}, false, kFffd + "A"},
        {"an unpaired low surrogate", {0xFF, 0xFE, 0xFF, 0xDF, 'A', 0}, false, kFffd + "A"},
        {"a mark alone is no text", {0xFF, 0xFE}, true, ""},
        {"a NUL unit ends the text", {0xFF, 0xFE, 'A', 0, 0, 0, 'B', 0}, false, "A"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Utf16ToUtf8(Bytes(row.bytes), row.bigEndian, 100), row.text) << row.rule;
    EXPECT_EQ(Latin1ToUtf8(Bytes(ByteVector{'C', 'a', 'f', 0xE9}), 100), "Caf\xC3\xA9");
    EXPECT_EQ(Latin1ToUtf8(Bytes(ByteVector{0xE9, 0xE9}), 3), "\xC3\xA9") << "cut before a character that does not fit";
}

// The tags an ID3v2 tag lists, or "(refused)".
std::string Id3v2Tags(const ByteVector& tag)
{
    TagList tags;
    return ReadId3v2Tag(Bytes(tag), tags) ? All(tags) : "(refused)";
}

TEST(Id3v2, FramesOfEachVersionAndEncoding)
{
    const Row rows[] = {
        {"2.4 UTF-16BE", Tag(4, Frame(4, "TALB", {2, 0, 'A', 0, 'B'})), "album=AB"},
        {"2.4: the first of several NUL-separated strings",
         Tag(4, Frame(4, "TCON", Cat({{3}, Text("Rock"), {0}, Text("Pop")}))), "genre=Rock"},
        {"2.2 three-character frames",
         Tag(2, Cat({Frame22("TT2", Cat({{0}, Text("T")})), Frame22("TRK", Cat({{0}, Text("3/12")}))})),
         "title=T|track=3/12"},
        {"COMM with one is named by it",
         Tag(3, Frame(3, "COMM", Cat({{1}, Text("eng"), {0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'x', 0}}))),
         "id3:COMM:d=x"},
        {"a numeric genre is named", Tag(3, Frame(3, "TCON", Cat({{0}, Text("(17)")}))), "genre=Rock"},
        {"pictures and private frames are skipped",
         Tag(3, Cat({Frame(3, "APIC", ByteVector(100, 0x55)), Frame(3, "TIT2", Cat({{0}, Text("T")}))})), "title=T"},
        {"an unknown encoding byte (4, the first after UTF-8) is skipped",
         Tag(3, Frame(3, "TIT2", Cat({{4}, Text("T")}))), ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Id3v2Tags(row.bytes), row.listed) << row.rule;
}

TEST(Id3v2, FlagsUnsynchronisationAndHeaders)
{
    // "\xFF\x00" in the stored frame is one 0xFF byte: in 2.3 for the whole tag (sizes count the stored bytes
    // after the undoing), in 2.4 per frame.
    const ByteVector v3Frame = Frame(3, "TIT2", {0, 'a', 0xFF, 'b'});  // 0xFF in Latin-1: ÿ
    ByteVector v3Stored;
    for (uint8_t b : v3Frame) {
        v3Stored.push_back(b);
        if (b == 0xFF)
            v3Stored.push_back(0);
    }
    const ByteVector v4Body = {0, 'a', 0xFF, 0, 'b'};
    const std::string undone = "title=a\xC3\xBF" "b";
    const Row rows[] = {
        {"2.3 unsynchronised tag", Tag(3, v3Stored, 0x80), undone},
        {"2.4 unsynchronised frame", Tag(4, Frame(4, "TIT2", v4Body, 0x02)), undone},
        {"2.4 unsynchronised tag, frame flag clear", Tag(4, Frame(4, "TIT2", v4Body), 0x80), undone},
        {"2.3 extended header skipped", Tag(3, Cat({Be(6, 4), ByteVector(6, 0), Frame(3, "TIT2", {0, 'T'})}), 0x40),
         "title=T"},
        {"2.4 extended header skipped (its size counts itself)",
         Tag(4, Cat({SyncSafe(6), {1, 0}, Frame(4, "TIT2", {0, 'T'})}), 0x40), "title=T"},
        {"2.3 compressed frame skipped", Tag(3, Frame(3, "TIT2", {0, 0, 0, 9, 0x78, 0x9C}, 0x80)), ""},
        {"2.3 encrypted frame skipped", Tag(3, Frame(3, "TIT2", {1, 0, 'T'}, 0x40)), ""},
        {"2.3 grouped frame: the group byte first", Tag(3, Frame(3, "TIT2", {7, 0, 'T'}, 0x20)), "title=T"},
        {"2.4 data length indicator skipped", Tag(4, Frame(4, "TIT2", {0, 0, 0, 2, 0, 'T'}, 0x01)), "title=T"},
        {"2.4 with a plain (not syncsafe) frame size",
         Tag(4, Cat({Text("TIT2"), Be(0x81, 4), {0, 0}, {0}, ByteVector(0x80, 'x')})),
         "title=" + std::string(0x80, 'x')},
        {"2.2 compressed tag", Tag(2, Frame22("TT2", {0, 'T'}), 0x40), "(refused)"},
        {"version 5", Tag(5, Frame(4, "TIT2", {0, 'T'})), "(refused)"},
        {"a header cut short", Text("ID3\x03"), "(refused)"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Id3v2Tags(row.bytes), row.listed) << row.rule;
}

TEST(Id3v2, HostileSizesEndInAClearAnswer)
{
    const ByteVector title = Frame(3, "TIT2", {0, 'T'});
    ByteVector hugeFrame = Cat({Text("TALB"), Be(1u << 28, 4), {0, 0}, {0, 'A'}});
    ByteVector oddUtf16 = Frame(3, "TPE1", {1, 0xFF, 0xFE, 'A', 0, 'B'});
    ByteVector lyrics = Frame(3, "TIT3", Cat({{0}, ByteVector(kMaxId3TextFrameBytes + 1, 'L')}));
    const ByteVector album = Frame(3, "TALB", Cat({{0}, ByteVector(150, 'A')}));
    const Row rows[] = {
        {"a tag of more than 127 bytes ends where its syncsafe size says", Tag(3, Cat({album, title}), 0, album.size()),
         "album=" + std::string(150, 'A')},
        {"a tag size past the end: the whole frames in the bytes", Tag(3, title, 0, 1 << 20), "title=T"},
        {"a frame of 2^28 bytes ends the walk", Tag(3, Cat({title, hugeFrame}), 0, 1 << 27), "title=T"},
        {"UTF-16 of odd length", Tag(3, oddUtf16), "artist=A"},
        {"a text frame over the limit is skipped by its length", Tag(3, Cat({lyrics, title})), "title=T"},
        {"a frame id of other bytes ends the walk", Tag(3, Cat({title, Text("ti!2"), Be(1, 4), {0, 0, 0}})),
         "title=T"},
        {"an extended header larger than the tag", Tag(3, Cat({Be(0xFFFFFFF0, 4), title}), 0x40), ""},
        {"a frame header cut short", Tag(3, Cat({title, Text("TAL")})), "title=T"},
        {"empty frames", Tag(3, Cat({Frame(3, "TIT2", {}), Frame(3, "TXXX", {0}), Frame(3, "COMM", {0, 'e'})})), ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Id3v2Tags(row.bytes), row.listed) << row.rule;
    // A tag of frames up to the frame cap: the walk stops there.
    ByteVector many;
    for (int i = 0; i < kMaxId3Frames + 5; ++i)
        many = Cat({many, Frame(3, "TBPM", Cat({{0}, Text(std::to_string(i))}))});
    TagList tags;
    ReadId3v2Tag(Bytes(Tag(3, many)), tags);
    EXPECT_EQ(*tags.Find("id3:TBPM"), std::to_string(kMaxId3Frames - 1));
}

ByteVector Id3v1(const std::string& title, uint8_t commentByte28, uint8_t commentByte29, uint8_t genre)
{
    ByteVector t = Text("TAG");
    ByteVector field(30, 0);
    std::copy(title.begin(), title.end(), field.begin());
    t = Cat({t, field, Text("Artist   "), ByteVector(21, ' '), ByteVector(30, 0), Text("1999")});
    ByteVector comment(28, 0);
    comment[0] = 'c';
    return Cat({t, comment, {commentByte28, commentByte29, genre}});
}

TEST(Id3v1, FieldsTrackAndGenre)
{
    const Row rows[] = {
        {"ID3v1.1: a zero before the last comment byte makes it the track", Id3v1("T", 0, 7, 17),
         "title=T|artist=Artist|date=1999|comment=c|track=7|genre=Rock"},
        {"ID3v1: 30 comment bytes, an unknown genre", Id3v1("T", 'x', 'y', 255),
         "title=T|artist=Artist|date=1999|comment=c"},
        {"ISO-8859-1 text", Id3v1("\xC9t\xE9", 0, 0, 0),
         "title=\xC3\x89t\xC3\xA9|artist=Artist|date=1999|comment=c|genre=Blues"},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(row.bytes.size(), kId3v1Size) << row.rule;
        TagList tags;
        EXPECT_TRUE(ReadId3v1Tag(Bytes(row.bytes), tags)) << row.rule;
        EXPECT_EQ(All(tags), row.listed) << row.rule;
    }
    TagList tags;
    tags.Set("title", "from ID3v2");
    ReadId3v1Tag(Bytes(Id3v1("T", 0, 7, 17)), tags);
    EXPECT_EQ(*tags.Find("title"), "from ID3v2") << "ID3v1 only fills keys not listed yet";
    ByteVector notTag = Id3v1("T", 0, 7, 17);
    notTag[0] = 'X';
    EXPECT_FALSE(ReadId3v1Tag(Bytes(notTag), tags));
    EXPECT_EQ(Id3v1GenreName(147), "Synthpop");
    EXPECT_EQ(Id3v1GenreName(148), "");
}

ByteVector ApeItem(const std::string& key, const ByteVector& value, uint32_t flags = 0, int64_t statedSize = -1)
{
    const auto size = uint32_t(statedSize >= 0 ? statedSize : int64_t(value.size()));
    return Cat({Le(size, 4), Le(flags, 4), Text(key), {0}, value});
}

TEST(Ape, ItemsAndFooter)
{
    struct Row {
        const char* rule;
        ByteVector items;
        uint32_t count;
        std::string listed;
    };
    const Row rows[] = {
        {"text items under their common keys, without case",
         Cat({ApeItem("Title", Text("T")), ApeItem("ARTIST", Text("A")), ApeItem("Year", Text("2001"))}), 3,
         "title=T|artist=A|date=2001"},
        {"other keys prefixed", ApeItem("MUSICBRAINZ_ALBUMID", Text("x")), 1, "ape:MUSICBRAINZ_ALBUMID=x"},
        {"binary items skipped",
         Cat({ApeItem("Cover Art (Front)", ByteVector(64, 1), 1 << 1), ApeItem("Title", Text("T"))}), 2, "title=T"},
        {"a value over the limit skipped by its length",
         Cat({ApeItem("Comment", ByteVector(kMaxApeItemBytes + 1, 'c')), ApeItem("Title", Text("T"))}), 2, "title=T"},
        {"the count bounds the items", Cat({ApeItem("Title", Text("T")), ApeItem("Album", Text("A"))}), 1, "title=T"},
        {"a value size past the end stops",
         Cat({ApeItem("Title", Text("T")), ApeItem("Album", Text("A"), 0, 1u << 31)}), 2, "title=T"},
        {"a key without its terminator stops",
         Cat({ApeItem("Title", Text("T")), Le(1, 4), Le(0, 4), Text("Key")}), 2, "title=T"},
        {"a key of control bytes stops", ApeItem("a\x01", Text("x")), 1, ""},
        {"a count of 2^32-1 over two items", Cat({ApeItem("Title", Text("T")), ApeItem("Album", Text("A"))}),
         0xFFFFFFFF, "title=T|album=A"},
    };
    for (const Row& row : rows) {
        TagList tags;
        ReadApeItems(Bytes(row.items), row.count, tags);
        EXPECT_EQ(All(tags), row.listed) << row.rule;
    }
    ApeFooter footer;
    const ByteVector good =
        Cat({Text("APETAGEX"), Le(2000, 4), Le(64, 4), Le(2, 4), Le(0x80000000, 4), ByteVector(8, 0)});
    ASSERT_TRUE(ParseApeFooter(Bytes(good), footer));
    EXPECT_EQ(std::tuple(footer.tagSize, footer.itemCount, footer.hasHeader), std::tuple(64u, 2u, true));
    ByteVector badVersion = good;
    badVersion[8] = 1;
    EXPECT_FALSE(ParseApeFooter(Bytes(badVersion), footer));
    ByteVector tooSmall = good;
    tooSmall[12] = 31;
    EXPECT_FALSE(ParseApeFooter(Bytes(tooSmall), footer)) << "a size below the footer's own";
}

ByteVector Comment(const std::string& vendor, const std::vector<std::string>& fields, int64_t statedCount = -1)
{
    const uint64_t count = statedCount >= 0 ? uint64_t(statedCount) : fields.size();
    ByteVector b = Cat({Le(vendor.size(), 4), Text(vendor), Le(count, 4)});
    for (const std::string& f : fields)
        b = Cat({b, Le(f.size(), 4), Text(f)});
    return b;
}

TEST(VorbisComment, FieldsAndHostileCounts)
{
    ByteVector longField =
        Comment("v", {"METADATA_BLOCK_PICTURE=" + std::string(kMaxVorbisFieldBytes, 'p'), "TITLE=T"});
    ByteVector cutShort = Comment("v", {"TITLE=T"});
    cutShort = Cat({cutShort, Le(100, 4), Text("ALBUM=A")});
    const Row rows[] = {
        {"names without case, common keys", Comment("lib", {"title=T", "TrackNumber=3", "ALBUMARTIST=AA"}),
         "vorbis:vendor=lib|title=T|track=3|album_artist=AA"},
        {"other names upper-cased and prefixed", Comment("", {"replaygain_track_gain=-6 dB"}),
         "vorbis:REPLAYGAIN_TRACK_GAIN=-6 dB"},
        {"a field without '=' or without a name is skipped", Comment("", {"NOEQUALS", "=x", "DATE=2024"}), "date=2024"},
        {"a value may hold '='", Comment("", {"COMMENT=a=b"}), "comment=a=b"},
        {"a field over the limit is skipped by its length", longField, "vorbis:vendor=v|title=T"},
        {"a field cut short ends the list", cutShort, "vorbis:vendor=v|title=T"},
        {"a count of 2^32-1 over one field", Comment("v", {"TITLE=T"}, 0xFFFFFFFF), "vorbis:vendor=v|title=T"},
        {"a count below the fields bounds them", Comment("v", {"TITLE=T", "ALBUM=A"}, 1), "vorbis:vendor=v|title=T"},
    };
    for (const Row& row : rows) {
        TagList tags;
        EXPECT_TRUE(ReadVorbisComment(Bytes(row.bytes), tags)) << row.rule;
        EXPECT_EQ(All(tags), row.listed) << row.rule;
    }
    TagList tags;
    EXPECT_FALSE(ReadVorbisComment(Bytes(Cat({Le(0xFFFFFFFF, 4), Text("vendor")})), tags))
        << "a vendor length past the end";
    EXPECT_FALSE(ReadVorbisComment(Bytes(Le(0, 4)), tags)) << "no count";
    // The codec packets: their prefix, then the comment.
    EXPECT_TRUE(ReadXiphCommentPacket(Bytes(Cat({{3}, Text("vorbis"), Comment("", {"TITLE=V"})})), tags));
    EXPECT_TRUE(ReadXiphCommentPacket(Bytes(Cat({Text("OpusTags"), Comment("", {"ARTIST=O"})})), tags));
    EXPECT_FALSE(ReadXiphCommentPacket(Bytes(Cat({Text("OpusHead"), Comment("", {"ALBUM=X"})})), tags));
    EXPECT_EQ(All(tags), "title=V|artist=O");
}

ByteVector RiffField(const std::string& id, const ByteVector& text)
{
    ByteVector f = Cat({Text(id), Le(text.size(), 4), text});
    if (text.size() & 1)
        f.push_back(0);  // the pad byte of an odd chunk
    return f;
}

TEST(RiffInfo, FieldsBextAndIxml)
{
    const Row rows[] = {
        {"other ids prefixed", Cat({Text("INFO"), RiffField("IXYZ", Text("v"))}), "riff:IXYZ=v"},
        {"text that is not UTF-8 is ISO-8859-1", Cat({Text("INFO"), RiffField("INAM", {'C', 'a', 'f', 0xE9})}),
         "title=Caf\xC3\xA9"},
        {"UTF-8 text as it is", Cat({Text("INFO"), RiffField("INAM", {'C', 'a', 'f', 0xC3, 0xA9})}),
         "title=Caf\xC3\xA9"},
        {"a field size past the end stops",
         Cat({Text("INFO"), RiffField("INAM", Text("T")), Text("IART"), Le(0xFFFFFFFF, 4), Text("A")}), "title=T"},
    };
    for (const Row& row : rows) {
        TagList tags;
        EXPECT_TRUE(ReadRiffInfo(Bytes(row.bytes), tags)) << row.rule;
        EXPECT_EQ(All(tags), row.listed) << row.rule;
    }
    TagList tags;
    EXPECT_FALSE(ReadRiffInfo(Bytes(Cat({Text("adtl"), RiffField("labl", Text("x"))})), tags)) << "not an INFO list";
    // Up to the field cap: a title as the last field is read, one field later it is not.
    for (const int before : {kMaxRiffInfoFields - 1, kMaxRiffInfoFields}) {
        ByteVector list = Text("INFO");
        for (int i = 0; i < before; ++i)
            list = Cat({list, RiffField("IXYZ", {})});
        TagList capped;
        ReadRiffInfo(Bytes(Cat({list, RiffField("INAM", Text("T"))})), capped);
        EXPECT_EQ(capped.Find("title") != nullptr, before < kMaxRiffInfoFields) << before;
    }

    // EBU Tech 3285: Description 256, Originator 32, OriginatorReference 32, OriginationDate 10, OriginationTime 8,
    // TimeReference 8, Version 2, UMID 64, loudness 10, reserved 180: 602 bytes, then the coding history.
    ByteVector bext(602, 0);
    const auto put = [&](size_t at, const std::string& s) { std::copy(s.begin(), s.end(), bext.begin() + long(at)); };
    put(0, "scene 1"), put(256, "Recorder"), put(320, "2005:08:04"), put(330, "16:55:54");
    std::ranges::copy(Le(4090608000u, 4), bext.begin() + 338);
    ReadBext(Bytes(Cat({bext, Text("A=PCM")})), tags);
    EXPECT_EQ(All(tags),
              "comment=scene 1|encoded_by=Recorder|date=2005:08:04|riff:bext:origination_time=16:55:54|"
              "riff:bext:time_reference=4090608000|riff:bext:coding_history=A=PCM");
    tags.Clear();
    ReadBext(Bytes(bext).first(601), tags);
    EXPECT_EQ(All(tags), "") << "a chunk shorter than its fixed fields";

    // iXML: the take's fields among the root's own children, not those nested deeper.
    const std::string doc = "<?xml version=\"1.0\"?><!-- recorder --><BWFXML><IXML_VERSION>1.4</IXML_VERSION>"
                            "<PROJECT>Rock &amp; Roll</PROJECT><SCENE>21</SCENE><EMPTY/>"
                            "<SPEED><NOTE>overcranked</NOTE><MASTER_SPEED>24/1</MASTER_SPEED></SPEED>"
                            "<TAKE>33</TAKE><NOTE>free &lt;note&gt;</NOTE></BWFXML><TAPE>after the root</TAPE>";
    const struct {
        const char* rule;
        size_t length;
        std::string listed;
    } ixml[] = {
        {"whole", doc.size(), "ixml:PROJECT=Rock & Roll|ixml:SCENE=21|ixml:TAKE=33|ixml:NOTE=free <note>"},
        {"cut inside SPEED", doc.find("<MASTER_SPEED>"), "ixml:PROJECT=Rock & Roll|ixml:SCENE=21"},
        {"no root", doc.find("<BWFXML>") + 3, ""},
    };
    for (const auto& row : ixml) {
        tags.Clear();
        ReadIxml(Bytes(reinterpret_cast<const uint8_t*>(doc.data()), row.length), tags);
        EXPECT_EQ(All(tags), row.listed) << row.rule;
    }
}

ByteVector Utf16Le(const std::string& ascii)
{
    ByteVector out;
    for (const char c : ascii)
        out.insert(out.end(), {uint8_t(c), 0});
    return out;
}
ByteVector Descriptor(const std::string& name, uint32_t type, const ByteVector& value, int64_t statedLength = -1)
{
    const ByteVector n = Cat({Utf16Le(name), {0, 0}});
    const uint64_t length = statedLength >= 0 ? uint64_t(statedLength) : value.size();
    return Cat({Le(n.size(), 2), n, Le(type, 2), Le(length, 2), value});
}

TEST(AsfTags, ContentDescriptionsOfEveryType)
{
    const ByteVector title = Cat({Utf16Le("T"), {0, 0}}), author = Cat({Utf16Le("A"), {0, 0}});
    TagList tags;
    ReadAsfContentDescription(
        Bytes(Cat({Le(4, 2), Le(4, 2), Le(0, 2), Le(0, 2), Le(0, 2), title, author})), tags);
    EXPECT_EQ(All(tags), "title=T|artist=A");
    tags.Clear();
    ReadAsfContentDescription(
        Bytes(Cat({Le(4, 2), Le(0xFFFF, 2), Le(0, 2), Le(0, 2), Le(0, 2), title})), tags);
    EXPECT_EQ(All(tags), "title=T") << "a length past the end stops";
    tags.Clear();
    const ByteVector noStrings(10, 0);  // the five lengths alone, all 0: nothing is read past them
    ReadAsfContentDescription(Bytes(noStrings), tags);
    EXPECT_EQ(All(tags), "");

    struct Row {
        const char* rule;
        ByteVector descriptors;
        uint32_t count;
        std::string listed;
    };
    const Row rows[] = {
        {"integers and booleans",
         Cat({Descriptor("WM/Track", 3, Le(2, 4)), Descriptor("IsVBR", 2, Le(1, 4)),
              Descriptor("WM/Q", 4, Cat({Le(1, 4), Le(1, 4)})), Descriptor("WM/W", 5, Le(7, 2))}),
         4, "asf:WM/Track=2|asf:IsVBR=1|asf:WM/Q=4294967297|asf:WM/W=7"},
        {"a common key's own name", Descriptor("date", 0, Cat({Utf16Le("2024"), {0, 0}})), 1, "date=2024"},
        {"byte arrays and integers of a wrong length skipped",
         Cat({Descriptor("WM/Picture", 1, ByteVector(32, 0xFF)), Descriptor("WM/Track", 3, Le(2, 2)),
              Descriptor("WM/Year", 0, Cat({Utf16Le("1999"), {0, 0}}))}),
         3, "date=1999"},
        {"a value length past the end stops",
         Cat({Descriptor("WM/Year", 0, Utf16Le("1999")), Descriptor("WM/Genre", 0, Utf16Le("Rock"), 0xFFFF)}), 2,
         "date=1999"},
        {"a count of 65535 over one descriptor", Descriptor("WM/Year", 0, Utf16Le("1999")), 0xFFFF, "date=1999"},
    };
    for (const Row& row : rows) {
        tags.Clear();
        ReadAsfExtendedContent(Bytes(Cat({Le(row.count, 2), row.descriptors})), tags);
        EXPECT_EQ(All(tags), row.listed) << row.rule;
    }
}

// Pictures are placed (file offset and length), never read: a front cover wins over the first picture; pictures
// whose bytes in the file are not the picture's (unsynchronised, or past the tag) are not placed. A tag read in part
// and the size limit go through the module in Tags.CoversArePlacedAtTheOpenAndReadAtTheQuery.
TEST(Covers, PicturesArePlacedByTheirHeaders)
{
    constexpr uint64_t kTagAt = 1000;  // where the tag lies in the file
    // APIC content: encoding, MIME type, picture type, description "d", then the picture.
    const auto apic = [](uint8_t type) { return Cat({{0}, Text("image/png"), {0, type}, Text("d"), {0}}); };
    constexpr uint64_t kApicHeader = 1 + 10 + 1 + 2;
    // The picture of the first frame of a 2.3 tag starts after the tag and frame headers and the APIC header.
    constexpr uint64_t kFirstPicture = kTagAt + 10 + 10 + kApicHeader;
    // A frame that states a picture of length bytes, of which only the APIC header is there; a tag stating room
    // for all of it.
    const auto bigFrame = [&](uint32_t length) {
        return Cat({Text("APIC"), Be(kApicHeader + length, 4), {0, 0}, apic(3)});
    };
    const auto bigTag = [&](uint32_t length) { return Tag(3, bigFrame(length), 0, 100 + kApicHeader + length); };
    const ByteVector back = Frame(3, "APIC", Cat({apic(4), ByteVector(40, 0xBB)}));
    const ByteVector front = Frame(3, "APIC", Cat({apic(3), ByteVector(30, 0xCC)}));
    struct Row {
        const char* rule;
        ByteVector bytes;
        uint64_t offset;
        uint32_t length;
    };
    const Row rows[] = {
        {"the first picture when there is no front cover", Tag(3, back), kFirstPicture, 40},
        {"a front cover after another picture wins", Tag(3, Cat({back, front})), kFirstPicture + back.size(), 30},
        {"2.2 PIC: a 3-character format in place of the MIME type",
         Tag(2, Frame22("PIC", Cat({{0}, Text("PNG"), {3}, Text("d"), {0}, ByteVector(9, 1)}))), kTagAt + 10 + 6 + 7,
         9},
        {"a picture at the size limit, its header alone read", bigTag(kMaxCoverBytes), kFirstPicture, kMaxCoverBytes},
        {"a picture past the size limit", bigTag(kMaxCoverBytes + 1), 0, 0},
        {"a frame running past the tag", Tag(3, bigFrame(100), 0, 50), 0, 0},
        {"an unsynchronised 2.4 frame", Tag(4, Frame(4, "APIC", Cat({apic(3), ByteVector(5, 1)}), 0x02)), 0, 0},
        {"a description without its terminator", Tag(3, Frame(3, "APIC", Cat({{0}, Text("image/png"), {0, 3, 'd'}}))),
         0, 0},
    };
    for (const Row& row : rows) {
        TagList tags;
        CoverLocation cover;
        ReadId3v2Tag(Bytes(row.bytes), tags, &cover, kTagAt);
        EXPECT_EQ(std::pair(cover.offset, cover.length), std::pair(row.offset, row.length)) << row.rule;
    }

    // A FLAC PICTURE (type, MIME type, description, 16 bytes of dimensions, length) whose picture runs one byte
    // past its block is not placed (a whole one is the corpus FLAC's cover, served byte for byte in Conformance).
    const ByteVector past = Cat({Be(3, 4), Be(9, 4), Text("image/png"), Be(1, 4), Text("d"), ByteVector(16, 0),
                                 Be(21, 4), ByteVector(20, 0xAA)});
    CoverLocation overrun;
    PlaceFlacPicture(Bytes(past), 500, uint32_t(past.size()), overrun);
    EXPECT_FALSE(overrun.Found());

    // A Vorbis comment's METADATA_BLOCK_PICTURE (any case, any length) is placed as its base64 text: "AAAAAw" is
    // the picture type 3. The comment opens at file offset 100: vendor "v" (5 bytes), the count (4), the length
    // (4), then the field name (23 bytes).
    const ByteVector comment =
        Comment("v", {"metadata_block_picture=AAAAAwAA" + std::string(kMaxVorbisFieldBytes, 'A')});
    TagList tags;
    CoverLocation vorbis;
    ReadVorbisComment(Bytes(comment), tags, &vorbis, 100);
    EXPECT_EQ(std::tuple(vorbis.offset, vorbis.length, vorbis.front, vorbis.base64FlacPicture),
              std::tuple(uint64_t(100 + 5 + 4 + 4 + 23), uint32_t(8 + kMaxVorbisFieldBytes), true, true));
    EXPECT_EQ(All(tags), "vorbis:vendor=v") << "the picture is no tag";
    // The text must hold more than the 8 characters of the picture type: those alone are no picture.
    for (const std::string text : {"AAAAAwAA", "AAAAAwAAA"}) {
        TagList listed;
        CoverLocation cover;
        ReadVorbisComment(Bytes(Comment("v", {"METADATA_BLOCK_PICTURE=" + text})), listed, &cover);
        EXPECT_EQ(cover.Found(), text.size() > 8) << text;
    }
    struct Base64Row {
        const char* text;
        bool valid;
        ByteVector bytes;
    };
    const Base64Row decoded[] = {
        {"TWE=", true, Text("Ma")}, {"TQ==", true, Text("M")}, {"TQ", true, Text("M")},
        {"T=Fu", false, {}},        {"TW\nFu", false, {}},     {"+/z9", true, {0xFB, 0xFC, 0xFD}},
    };
    for (const Base64Row& row : decoded) {
        ByteVector out;
        EXPECT_EQ(DecodeBase64(Bytes(Text(row.text)), out), row.valid) << row.text;
        EXPECT_TRUE(!row.valid || out == row.bytes) << row.text;
    }
}

}  // namespace
}  // namespace md
