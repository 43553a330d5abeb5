// The MP4 and QuickTime tag boxes over hand-built bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "demux/tag_list.h"
#include "support/tag_bytes.h"
#include "tags/mp4_tags.h"

namespace md {
namespace {

using namespace tagtest;

ByteVector U32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
ByteVector U16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
// A box of a four-character type (the copyright sign as the byte 0xA9).
ByteVector Box(const std::string& type, const ByteVector& payload)
{
    return Cat({U32(uint32_t(payload.size() + 8)), Text(type), payload});
}
ByteVector Data(uint32_t type, const ByteVector& value) { return Box("data", Cat({U32(type), U32(0), value})); }
ByteVector Ilst(const ByteVector& items) { return Box("ilst", items); }
// An ISO 'meta' (version and flags first) with an 'hdlr' of handler mdir and the boxes given.
ByteVector IsoMeta(const ByteVector& boxes) { return Cat({U32(0), Box("hdlr", ByteVector(25, 0)), boxes}); }

// The tags a reader lists from the bytes.
std::string Listed(void (*read)(Bytes, TagList&), const ByteVector& bytes)
{
    TagList tags;
    read(Bytes(bytes), tags);
    return All(tags);
}

// The QuickTime types that open with the copyright sign (0xA9).
const std::string kArt = std::string(1, '\xA9') + "ART", kNam = std::string(1, '\xA9') + "nam",
                  kDay = std::string(1, '\xA9') + "day";

TEST(Mp4Tags, CreationTimeFrom1904)
{
    const struct {
        const char* rule;
        uint64_t seconds;
        const char* text;
    } dates[] = {
        {"the epoch itself", 0, "1904-01-01T00:00:00Z"},
        {"a leap day", 951782400ull + 2082844800ull, "2000-02-29T00:00:00Z"},
        {"the day before the Unix epoch", 2082844800ull - 1, "1969-12-31T23:59:59Z"},
        {"1 March 2100: a century year has no leap day", 6190387200ull, "2100-03-01T00:00:00Z"},
        {"the last second of 9999", 253402300799ull + 2082844800ull, "9999-12-31T23:59:59Z"},
        {"past 9999: none", 253402300800ull + 2082844800ull, ""},
    };
    for (const auto& row : dates)
        EXPECT_EQ(Iso8601From1904(row.seconds), row.text) << row.rule;

    // 'mvhd' payloads (version 0, 32-bit times, is the corpus's phone .mov, compared with ffprobe's creation_time).
    const Row mvhds[] = {
        {"version 1: 64-bit times", Cat({U32(0x01000000), U32(0), U32(3797403630u), ByteVector(8, 0)}),
         "creation_time=2024-05-01T10:20:30Z"},
        {"0 is no time", Cat({U32(0), U32(0), U32(0), U32(1000), U32(0)}), ""},
        {"a payload cut short", {1, 0, 0}, ""},
    };
    for (const Row& row : mvhds)
        EXPECT_EQ(Listed(ReadMvhdTags, row.bytes), row.listed) << row.rule;
}

TEST(Mp4Tags, ItemsOfEveryKind)
{
    const Row rows[] = {
        {"trkn and disk: number and total",
         Box("meta", IsoMeta(Ilst(Cat({Box("trkn", Data(0, Cat({U16(0), U16(3), U16(12), U16(0)}))),
                                       Box("disk", Data(0, Cat({U16(0), U16(1), U16(0)})))})))),
         "track=3/12|disc=1"},
        {"gnre: the ID3v1 genre plus one", Box("meta", IsoMeta(Ilst(Box("gnre", Data(0, U16(18)))))), "genre=Rock"},
        {"integers, signed and unsigned",
         Box("meta", IsoMeta(Ilst(Cat({Box("tmpo", Data(21, U16(120))), Box("rtng", Data(21, {0xFF})),
                                       Box("plID", Data(22, U32(0xFFFFFFFF))), Box("cnID", Data(21, ByteVector(8, 0xFF))),
                                       Box("atID", Data(22, ByteVector(9, 1)))})))),
         "mp4:tmpo=120|mp4:rtng=-1|mp4:plID=4294967295|mp4:cnID=-1"},
        {"an item of a 64-bit size",
         Box("meta", IsoMeta(Ilst(Cat({U32(1), Text(kNam), U32(0), U32(16 + Data(1, Text("T")).size()),
                                       Data(1, Text("T"))})))),
         "title=T"},
        {"UTF-16 text", Box("meta", IsoMeta(Ilst(Box(kArt, Data(2, {0, 'A', 0, 'B'}))))), "artist=AB"},
        {"pictures skipped",
         Box("meta",
             IsoMeta(Ilst(Cat({Box("covr", Data(13, ByteVector(64, 0xFF))), Box("\xA9too", Data(1, Text("enc")))})))),
         "encoder=enc"},
        {"a value over the limit skipped",
         Box("meta", IsoMeta(Ilst(Cat({Box("\xA9lyr", Data(1, ByteVector(kMaxMp4ValueBytes + 1, 'l'))),
                                       Box(kNam, Data(1, Text("T")))})))),
         "title=T"},
        {"a freeform item named by its 'name'",
         Box("meta", IsoMeta(Ilst(Box("----", Cat({Box("mean", Cat({U32(0), Text("com.apple.iTunes")})),
                                                   Box("name", Cat({U32(0), Text("REPLAYGAIN_TRACK_GAIN")})),
                                                   Data(1, Text("-6 dB"))}))))),
         "mp4:REPLAYGAIN_TRACK_GAIN=-6 dB"},
        {"a Macintosh language: the text byte by byte", Box("\xA9mod", Cat({U16(3), U16(0), {'C', 'a', 0xE9}})),
         "model=Ca\xC3\xA9"},
        {"a packed language: UTF-8 text", Box("\xA9mod", Cat({U16(5), U16(0x5500), Text("Caf\xC3\xA9")})),
         "model=Caf\xC3\xA9"},
        {"a string longer than its box", Box("\xA9mod", Cat({U16(40), U16(0), Text("short")})), ""},
        {"QuickTime 'meta' without version and flags",
         Box("meta", Cat({Box("hdlr", ByteVector(25, 0)), Ilst(Box(kDay, Data(1, Text("2024"))))})), "date=2024"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Listed(ReadUdtaTags, row.bytes), row.listed) << row.rule;
}

// Apple's 'mdta' keys: the 'keys' box names them, an item's type is its key's 1-based number.
TEST(Mp4Tags, AppleKeysNameTheItems)
{
    const auto key = [](const std::string& name) {
        return Cat({U32(uint32_t(name.size() + 8)), Text("mdta"), Text(name)});
    };
    const ByteVector keys =
        Box("keys", Cat({U32(0), U32(3), key("com.apple.quicktime.location.ISO6709"), key("com.apple.quicktime.make"),
                         key("com.apple.quicktime.creationdate")}));
    const ByteVector items = Ilst(Cat({Box(std::string("\0\0\0\1", 4), Data(1, Text("+40.6-111.8/"))),
                                       Box(std::string("\0\0\0\2", 4), Data(1, Text("Apple"))),
                                       Box(std::string("\0\0\0\3", 4), Data(1, Text("2016-02-02T10:51:27-0700"))),
                                       Box(std::string("\0\0\0\7", 4), Data(1, Text("no such key")))}));
    EXPECT_EQ(Listed(ReadMetaTags, Cat({U32(0), Box("hdlr", ByteVector(25, 0)), keys, items})),
              "location=+40.6-111.8/|make=Apple|"
              "mp4:com.apple.quicktime.creationdate=2016-02-02T10:51:27-0700");
    // A key count of 2^32-1 over two keys, and a key whose size overruns: the keys up to it.
    const ByteVector hostileKeys =
        Box("keys", Cat({U32(0), U32(0xFFFFFFFF), key("com.apple.quicktime.make"), U32(0x7FFFFFFF), Text("mdta")}));
    const ByteVector firstItem = Ilst(Box(std::string("\0\0\0\1", 4), Data(1, Text("A"))));
    EXPECT_EQ(Listed(ReadMetaTags, Cat({U32(0), hostileKeys, firstItem})), "make=A");
}

TEST(Mp4Tags, ListsThatOverrunOrNeverEndStop)
{
    const ByteVector title = Box(kNam, Data(1, Text("T")));
    // A box of size 0 runs to the end of its list; a size below the header or past the end stops the list.
    const ByteVector sizeZero = Cat({U32(0), Text(kArt), Data(1, Text("A"))});
    const ByteVector tooSmall = Cat({U32(4), Text(kArt)});
    const ByteVector pastEnd = Cat({U32(0x7FFFFFF0), Text(kArt), Data(1, Text("A"))});
    const ByteVector largeSizeTooSmall = Cat({U32(1), Text(kArt), U32(0), U32(8)});
    const ByteVector dataCutShort = Box(kArt, Cat({U32(100), Text("data"), U32(1)}));
    const Row rows[] = {
        {"a size of 0 runs to the end", Cat({title, sizeZero}), "title=T|artist=A"},
        {"a size below the header stops", Cat({title, tooSmall, title}), "title=T"},
        {"a size past the end stops", Cat({title, pastEnd}), "title=T"},
        {"a 64-bit size below the header stops", Cat({title, largeSizeTooSmall}), "title=T"},
        {"a 'data' box cut short", Cat({title, dataCutShort}), "title=T"},
        {"an item without 'data'", Cat({Box(kArt, Box("free", {})), title}), "title=T"},
        {"a 'data' of fewer than 8 bytes", Box(kArt, Box("data", {0, 0, 0, 1})), ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Listed(ReadMetaTags, IsoMeta(Ilst(row.bytes))), row.listed) << row.rule;
    // Many empty boxes: the walk stops after kMaxMp4TagBoxes of them, the item after them is not reached.
    ByteVector many;
    for (int i = 0; i < kMaxMp4TagBoxes; ++i)
        many = Cat({many, Box("free", {})});
    EXPECT_EQ(Listed(ReadMetaTags, IsoMeta(Ilst(Cat({title, many, Box(kArt, Data(1, Text("A")))})))), "title=T");
}

}  // namespace
}  // namespace md
