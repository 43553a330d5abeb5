// The box reader on hand-built hostile boxes; a tree is compared as text, the sizes counted by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/memory_input_stream.h"
#include "mediadetect/records.h"
#include "mp4/mp4_box.h"
#include "support/counting_input_stream.h"
#include "support/mp4_builders.h"

namespace {

using md::Mp4Box;
using mdtest::BoxBuilder;
using Bytes = std::vector<uint8_t>;

std::string Shape(const Mp4Box* b)
{
    std::string s;
    for (; b != nullptr; b = b->next.get()) {
        const char type[4] = {char(b->type >> 24), char(b->type >> 16), char(b->type >> 8), char(b->type)};
        s += (s.empty() ? "" : " ") + std::string(type, 4) + std::to_string(b->BoxSize());
        if (b->firstChild)
            s += "[" + Shape(b->firstChild.get()) + "]";
    }
    return s;
}

std::unique_ptr<Mp4Box> ReadBytes(const Bytes& bytes)
{
    md::MemoryInputStream stream(bytes.data(), bytes.size());
    return md::ReadMp4Stream(stream);
}

// ftyp (24 bytes), and moov holding a version-0 mvhd (116 bytes).
BoxBuilder& FtypMoov(BoxBuilder& b)
{
    b.Begin("ftyp").Type("isom").U32(0x200).Type("isom").Type("mp42").End();
    return b.Begin("moov").BeginFull("mvhd", 0, 0).U32(0).U32(0).U32(600).U32(1200).Zeros(80).End().End();
}

TEST(BoxReader, TopLevelBoxesMustCoverTheFile)
{
    struct Row {
        const char* what;
        Bytes file;
        std::string shape;  // empty: no tree
    };
    std::vector<Row> rows;
    BoxBuilder b;
    rows.push_back(
        {"ftyp, moov, mdat", FtypMoov(b).Begin("mdat").Zeros(16).End().Take(), "ftyp24 moov116[mvhd108] mdat24"});
    Bytes zeroMdat = FtypMoov(b).Begin("mdat").Zeros(100).End().Take();
    zeroMdat[143] = 0;  // the last box's size 0: it runs to the end of the file
    rows.push_back({"mdat of size 0", zeroMdat, "ftyp24 moov116[mvhd108] mdat108"});
    for (size_t extra : {1, 9}) {  // nine zero bytes would be a box of size 0
        Bytes file = rows[0].file;
        file.insert(file.end(), extra, 0xEE);
        rows.push_back({"trailing bytes", file, ""});
    }
    rows.push_back({"moov without mdat", FtypMoov(b).Take(), ""});
    rows.push_back({"fewer than 8 bytes", {0, 0, 0, 8, 'f', 'r', 'e'}, ""});
    for (uint32_t size : {0xFFFFFFFFu, 7u})
        rows.push_back({"size past the end or below the header",
                        FtypMoov(b.U32(size).Type("free").Zeros(8)).Begin("mdat").End().Take(), ""});
    for (uint64_t large : {0x8000000000000000ull, 8ull})
        rows.push_back({"hostile 64-bit size",
                        FtypMoov(b.U32(1).Type("free").U64(large).Zeros(8)).Begin("mdat").End().Take(), ""});
    FtypMoov(b).BeginLarge("mdat").Zeros(40).End();
    b.BeginLarge("moov").BeginFull("mvhd", 0, 0).Zeros(96).End().End();
    rows.push_back(
        {"64-bit sizes are read and the walk goes on", b.Take(), "ftyp24 moov116[mvhd108] mdat56 moov124[mvhd108]"});
    rows.push_back({"a record that cannot be built is left out ('thmb' under 20 bytes)",
                    FtypMoov(b).Begin("thmb").U32(0).End().Begin("mdat").End().Take(),
                    "ftyp24 moov116[mvhd108] mdat8"});
    for (uint32_t length : {0u, 1u})  // a 'thmb' of a thumbnail of L bytes needs L + 20 bytes
        rows.push_back({"'thmb' of its least size",
                        FtypMoov(b).Begin("thmb").U32(length).Zeros(8).End().Begin("mdat").End().Take(),
                        length == 0 ? "ftyp24 moov116[mvhd108] thmb20 mdat8" : "ftyp24 moov116[mvhd108] mdat8"});
    for (size_t size : {278, 279})  // a camera maker's 'TAGS' block needs 279 bytes
        rows.push_back({"'TAGS' of its least size",
                        FtypMoov(b).Begin("TAGS").Zeros(size - 8).End().Begin("mdat").End().Take(),
                        size == 279 ? "ftyp24 moov116[mvhd108] TAGS279 mdat8" : "ftyp24 moov116[mvhd108] mdat8"});
    for (const Row& r : rows) {
        const auto root = ReadBytes(r.file);
        EXPECT_EQ(root ? Shape(root.get()) : "", r.shape) << r.what << ", " << r.file.size() << " bytes";
    }
}

// Each extension rule lets through the one shape it names, and only that: 1 to 7 bytes after the last box
// (MD_EXT_MP4_TRAILING_BYTES), a file of boxes with a 'moov' and no 'mdat' (MD_EXT_SMALL_FILES).
TEST(BoxReader, ExtensionRulesLetThroughTheShapeTheyName)
{
    const md::Mp4FileRules trailing = md::Mp4FileRulesOf(MD_EXT_MP4_TRAILING_BYTES),
                           moovOnly = md::Mp4FileRulesOf(MD_EXT_SMALL_FILES);
    BoxBuilder b;
    const Bytes withoutMdat = FtypMoov(b).Take();
    const Bytes whole = FtypMoov(b).Begin("mdat").Zeros(16).End().Take();
    Bytes threeAfter = whole, threeAfterMoov = withoutMdat;
    threeAfter.insert(threeAfter.end(), 3, 0xEE);
    threeAfterMoov.insert(threeAfterMoov.end(), 3, 0xEE);
    const Bytes moovAlone(withoutMdat.begin() + 24, withoutMdat.end());
    const Bytes noMoov = b.Begin("ftyp").Type("qt  ").U32(0).End().Begin("free").Zeros(8).End().Take();
    struct Row {
        const char* what;
        const Bytes& file;
        md::Mp4FileRules rules;
        std::string shape;  // empty: no tree
    };
    const Row rows[] = {
        {"no 'mdat', trailing bytes allowed", withoutMdat, trailing, ""},
        {"no 'mdat', small files", withoutMdat, moovOnly, "ftyp24 moov116[mvhd108]"},
        {"the 'moov' alone", moovAlone, moovOnly, "moov116[mvhd108]"},
        {"neither 'moov' nor 'mdat'", noMoov, moovOnly, ""},
        {"three bytes after the 'mdat', trailing bytes allowed", threeAfter, trailing,
         "ftyp24 moov116[mvhd108] mdat24"},
        {"three bytes after the 'moov', small files only", threeAfterMoov, moovOnly, ""},
    };
    for (const Row& r : rows) {
        md::MemoryInputStream stream(r.file.data(), r.file.size());
        const auto root = md::ReadMp4Stream(stream, r.rules);
        EXPECT_EQ(root ? Shape(root.get()) : "", r.shape) << r.what;
    }
}

// The boxes after a skipped box (the media data, a 'moov' at the end) are announced as one stretch to the end of
// the file, so a remote file fetches the 'moov' with its head; not when nothing follows, nor when more follows than
// a box the work buffer holds (1 MiB). (The files after an 'mdat' hold FtypMoov's 'ftyp' and 'moov', 140 bytes.)
TEST(BoxReader, WhatFollowsTheMediaDataIsAnnouncedWhenItIsSmall)
{
    BoxBuilder b;
    const Bytes moovFirst = FtypMoov(b).Begin("mdat").Zeros(16).End().Take();
    const Bytes moovLast = FtypMoov(b.Begin("ftyp").Type("isom").U32(0).End().Begin("mdat").Zeros(16).End()).Take();
    const Bytes largeTail =
        FtypMoov(b.Begin("ftyp").Type("isom").U32(0).End().Begin("mdat").End().Begin("free").Zeros(0x100000).End())
            .Take();
    using Stretches = std::vector<std::pair<uint64_t, uint64_t>>;
    const struct Row {
        const char* what;
        const Bytes& file;
        Stretches announced;
    } rows[] = {
        {"'moov' first", moovFirst, {}},
        {"'moov' last, after a 16-byte 'ftyp' and a 24-byte 'mdat'", moovLast, {{40, moovLast.size()}}},
        {"a 1 MiB 'free' after the 'mdat': only what follows the 'free'",
         largeTail,
         {{largeTail.size() - 140, largeTail.size()}}},
    };
    for (const Row& r : rows) {
        md::MemoryInputStream file(r.file.data(), r.file.size());
        md::test::CountingInputStream stream(file);
        ASSERT_NE(md::ReadMp4Stream(stream), nullptr) << r.what;
        EXPECT_EQ(stream.Announced(), r.announced) << r.what;
    }
}

TEST(BoxReader, ChildListRules)
{
    struct Row {
        const char* what;
        Bytes box;
        std::string shape;
        size_t available = 0;  // 0: the whole box
    };
    std::vector<Row> rows;
    BoxBuilder b;
    b.Begin("moov").Begin("free").Zeros(8).End().U32(1000).Type("trak").Zeros(8).Begin("udta").End().End();
    rows.push_back({"a child larger than the rest ends the list", b.Take(), "moov48[free16]"});
    b.Begin("moov").Begin("free").End().Begin("udta").Begin("free").Zeros(4).End().End().End();
    Bytes zeroSized = b.Take();
    zeroSized[19] = 0;
    rows.push_back({"a child of size 0 runs to the end of its parent", zeroSized, "moov36[free8 udta20[free12]]"});
    rows.push_back({"a 64-bit child ends its list",
                    b.Begin("moov").BeginLarge("udta").End().Begin("trak").End().End().Take(), "moov32[udta16]"});
    rows.push_back({"sizes below the header end the list",
                    b.Begin("moov").Begin("free").End().U32(7).Type("trak").Zeros(8).End().Take(), "moov32[free8]"});
    rows.push_back({"fewer than 8 bytes after a child hold no box",
                    b.Begin("moov").Begin("free").End().U32(0).End().Take(), "moov20[free8]"});
    const Bytes large{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 16};
    rows.push_back({"too few bytes for the 64-bit size", large, "", 12});
    rows.push_back({"64-bit size", large, "free16", 16});
    for (const Row& r : rows) {
        const auto box = md::ParseBox(r.box.data(), r.available ? r.available : r.box.size());
        EXPECT_EQ(box ? Shape(box.get()) : "", r.shape) << r.what;
    }
    const md::Mp4BoxList list = md::ParseBoxList(rows[2].box.data() + 8, rows[2].box.size() - 8);
    EXPECT_EQ(Shape(list.first.get()), "udta16");
    EXPECT_EQ(list.consumed, 16u);
}

}  // namespace
