// The box reader on synthetic boxes (coverage and list rules, hostile sizes and
// counts, search order, camera-maker boxes) and on the sample files.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "input/memory_input_stream.h"
#include "mp4/mp4_box.h"
#include "mp4/sample_entry.h"
#include "support/box_builder.h"
#include "support/files.h"

namespace {

using md::FourCC;
using md::Mp4Box;
using mdtest::BoxBuilder;

std::unique_ptr<Mp4Box> ReadBytes(const std::vector<uint8_t>& bytes)
{
    md::MemoryInputStream stream(bytes.data(), bytes.size());
    return md::ReadMp4Stream(stream);
}

std::unique_ptr<Mp4Box> Parse(const std::vector<uint8_t>& bytes) { return md::ParseBox(bytes.data(), bytes.size()); }

size_t CountList(const Mp4Box* b)
{
    size_t n = 0;
    for (; b != nullptr; b = b->next.get())
        ++n;
    return n;
}

void PutFtyp(BoxBuilder& b) { b.Begin("ftyp").Type("isom").U32(0x200).Type("isom").Type("mp42").End(); }

// moov holding one version-0 movie header.
void PutSmallMoov(BoxBuilder& b)
{
    b.Begin("moov").BeginFull("mvhd", 0, 0).U32(0).U32(0).U32(600).U32(1200).Zeros(80).End().End();
}

void PutMdat(BoxBuilder& b, size_t payload) { b.Begin("mdat").Zeros(payload).End(); }

std::vector<uint8_t> SmallMovie(size_t mdatPayload = 16)
{
    BoxBuilder b;
    PutFtyp(b);
    PutSmallMoov(b);
    PutMdat(b, mdatPayload);
    return b.Take();
}

// One box of each reader family: a version-1 full box, a string, a leaf whose
// payload holds boxes, sample entries; media data and padding are skipped, not
// read.
TEST(BoxReader, ReadsOneBoxOfEachReaderFamily)
{
    BoxBuilder b;
    PutFtyp(b);
    b.Begin("moov").Begin("trak");
    // tkhd version 1: 64-bit times, track_ID, reserved, 64-bit duration.
    b.BeginFull("tkhd", 1, 7).U64(1).U64(2).U32(7).U32(0).U64((uint64_t(1) << 33) + 5).Zeros(60).End();
    b.Begin("mdia");
    b.BeginFull("hdlr", 0, 0).U32(0).Type("vide").Zeros(12).Text("VideoHandler").End();
    b.Begin("minf");
    b.Begin("dinf").BeginFull("dref", 0, 0).U32(1).BeginFull("url ", 0, 1).End().End().End();
    b.Begin("stbl");
    b.BeginFull("stsd", 0, 0).U32(1).Begin("cvid");
    mdtest::PutVisualEntryFields(b, 320, 240);
    b.End().End();
    b.End().End().End().End().End();  // stbl, minf, mdia, trak, moov
    const size_t metadataBytes = b.Size();
    PutMdat(b, 200000);
    b.Begin("free").Zeros(3 << 20).End();  // padding larger than the work buffer
    const std::vector<uint8_t> file = b.Take();

    md::MemoryInputStream stream(file.data(), file.size());
    auto root = md::ReadMp4Stream(stream);
    ASSERT_TRUE(root);
    EXPECT_LE(stream.BytesRead(), metadataBytes + 16 + 8);
    const Mp4Box* mdat = md::FindBox(root.get(), FourCC("mdat"));
    ASSERT_TRUE(mdat);
    EXPECT_EQ(mdat->size, 200008u);
    ASSERT_TRUE(md::FindBox(root.get(), FourCC("free")));
    EXPECT_EQ(md::FindBox(root.get(), FourCC("free"))->size, (3u << 20) + 8);

    auto* tkhd = md::FindBoxAs<md::Mp4TkhdBox>(root.get(), FourCC("tkhd"));
    ASSERT_TRUE(tkhd);
    EXPECT_EQ(tkhd->flags, 0x01000007u);
    EXPECT_EQ(tkhd->trackId, 7u);
    EXPECT_EQ(tkhd->duration, (uint64_t(1) << 33) + 5);
    auto* hdlr = md::FindBoxAs<md::Mp4HdlrBox>(root.get(), FourCC("hdlr"));
    ASSERT_TRUE(hdlr);
    EXPECT_EQ(hdlr->name, "VideoHandler");
    // 'dref' is a leaf: its entries are not read as children.
    auto* dref = md::FindBoxAs<md::Mp4DrefBox>(root.get(), FourCC("dref"));
    ASSERT_TRUE(dref);
    EXPECT_EQ(dref->entryCount, 1u);
    EXPECT_FALSE(md::FindBox(root.get(), FourCC("url ")));
    // Sample entries hang off 'stsd', not among its children.
    auto* stsd = md::FindBoxAs<md::Mp4StsdBox>(root.get(), FourCC("stsd"));
    ASSERT_TRUE(stsd);
    auto* cvid = md::BoxAs<md::Mp4VisualSampleEntry>(stsd->entries.get());
    ASSERT_TRUE(cvid);
    EXPECT_EQ(cvid->width, 320);
    EXPECT_EQ(cvid->height, 240);
    EXPECT_FALSE(md::FindBox(root.get(), FourCC("cvid")));
}

TEST(BoxReader, FileMustBeExactlyCoveredByTopLevelBoxes)
{
    const std::vector<uint8_t> good = SmallMovie();
    ASSERT_TRUE(ReadBytes(good));

    // A last 'mdat' of size 0 runs to the end of the file.
    {
        std::vector<uint8_t> file = SmallMovie(100);
        const size_t mdatAt = file.size() - 108;
        file[mdatAt] = file[mdatAt + 1] = file[mdatAt + 2] = file[mdatAt + 3] = 0;
        auto root = ReadBytes(file);
        ASSERT_TRUE(root);
        const Mp4Box* mdat = md::FindBox(root.get(), FourCC("mdat"));
        ASSERT_TRUE(mdat);
        EXPECT_EQ(mdat->size, 108u);
        EXPECT_EQ(mdat->BoxSize(), 108u);
    }
    // One, seven or nine trailing bytes, a last box cut short. (Nine zero bytes
    // would be a box of size 0 running to the end, so the filler is not zero.)
    for (size_t extra : {1, 7, 9}) {
        std::vector<uint8_t> file = good;
        file.insert(file.end(), extra, 0xEE);
        EXPECT_FALSE(ReadBytes(file)) << extra << " trailing bytes";
    }
    // moov without mdat, mdat without moov, nothing, fewer than 8 bytes.
    BoxBuilder b;
    PutFtyp(b);
    PutSmallMoov(b);
    EXPECT_FALSE(ReadBytes(b.Take()));
    PutFtyp(b);
    PutMdat(b, 4);
    EXPECT_FALSE(ReadBytes(b.Take()));
    EXPECT_FALSE(ReadBytes({}));
    EXPECT_FALSE(ReadBytes({0, 0, 0, 8, 'f', 'r', 'e'}));

    // Hostile top-level sizes: past the end, below the header, a 64-bit size
    // near 2^64, a 32-bit size of 2..7. None may hang or read out of bounds.
    for (uint32_t size : {0xFFFFFFFFu, 2u, 4u, 7u}) {
        PutFtyp(b);
        b.U32(size).Type("free").Zeros(8);
        PutSmallMoov(b);
        PutMdat(b, 4);
        EXPECT_FALSE(ReadBytes(b.Take())) << size;
    }
    for (uint64_t large : {0xFFFFFFFFFFFFFFFFull, 0x8000000000000000ull, 8ull, 0ull}) {
        PutFtyp(b);
        b.U32(1).Type("free").U64(large).Zeros(8);
        PutSmallMoov(b);
        PutMdat(b, 4);
        EXPECT_FALSE(ReadBytes(b.Take())) << large;
    }
    // A 64-bit size on a box other than 'mdat' is read whole, and the walk goes on.
    {
        PutFtyp(b);
        b.BeginLarge("moov").BeginFull("mvhd", 0, 0).U32(0).U32(0).U32(1000).U32(5).Zeros(80).End().End();
        b.BeginLarge("mdat").Zeros(40).End();
        PutSmallMoov(b);
        auto root = ReadBytes(b.Take());
        ASSERT_TRUE(root);
        ASSERT_EQ(CountList(root.get()), 4u);
        const Mp4Box* moov = root->next.get();
        EXPECT_EQ(moov->size, 1u);
        EXPECT_EQ(moov->largeSize, 16u + 108u);
        auto* mvhd = md::BoxAs<md::Mp4MvhdBox>(moov->firstChild.get());
        ASSERT_TRUE(mvhd);
        EXPECT_EQ(mvhd->timeScale, 1000u);
    }
    // A top-level box whose record cannot be built is left out of the list but
    // the walk continues (a 'thmb' shorter than 20 bytes).
    {
        PutFtyp(b);
        b.Begin("thmb").U32(0).End();
        PutSmallMoov(b);
        PutMdat(b, 4);
        auto root = ReadBytes(b.Take());
        ASSERT_TRUE(root);
        EXPECT_EQ(CountList(root.get()), 3u);
    }
}

TEST(BoxReader, SiblingListRules)
{
    // A child larger than what is left of its parent is not built, and every
    // later sibling is dropped with it.
    {
        BoxBuilder b;
        b.Begin("moov").Begin("free").Zeros(8).End().U32(1000).Type("trak").Zeros(8).Begin("udta").End().End();
        auto moov = Parse(b.Take());
        ASSERT_TRUE(moov);
        ASSERT_EQ(CountList(moov->firstChild.get()), 1u);
        EXPECT_EQ(moov->firstChild->type, FourCC("free"));
    }
    // A child of size 0 runs to the end of its parent; its own children are read.
    {
        BoxBuilder b;
        b.Begin("moov").Begin("free").End();
        const size_t udtaAt = b.Size();
        b.Begin("udta").Begin("free").Zeros(4).End().End().End();
        std::vector<uint8_t> bytes = b.Take();
        bytes[udtaAt + 3] = 0;
        auto moov = Parse(bytes);
        ASSERT_TRUE(moov);
        const Mp4Box* udta = moov->firstChild->next.get();
        ASSERT_TRUE(udta);
        EXPECT_EQ(udta->size, 20u);
        ASSERT_TRUE(udta->firstChild);
        EXPECT_EQ(udta->firstChild->size, 12u);
    }
    // A child with a 64-bit size ends its list after being linked.
    {
        BoxBuilder b;
        b.Begin("moov").BeginLarge("udta").End().Begin("trak").End().End();
        const std::vector<uint8_t> bytes = b.Take();
        auto moov = Parse(bytes);
        ASSERT_TRUE(moov);
        ASSERT_EQ(CountList(moov->firstChild.get()), 1u);
        EXPECT_EQ(moov->firstChild->largeSize, 16u);
        const md::Mp4BoxList list = md::ParseBoxList(bytes.data() + 8, bytes.size() - 8);
        EXPECT_EQ(CountList(list.first.get()), 1u);
        EXPECT_EQ(list.consumed, 16u);
    }
    // Sizes below the header length end the list without looping.
    for (uint32_t size : {1u, 3u, 7u}) {
        BoxBuilder b;
        b.Begin("moov").Begin("free").End().U32(size).Type("trak").Zeros(8).End();
        auto moov = Parse(b.Take());
        ASSERT_TRUE(moov);
        EXPECT_EQ(CountList(moov->firstChild.get()), 1u) << size;
    }
    // ParseBox on too few bytes for the 64-bit size or for the size it states.
    const std::vector<uint8_t> large{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 16};
    EXPECT_FALSE(md::ParseBox(large.data(), 12));
    EXPECT_FALSE(md::ParseBox(large.data(), 15));
    EXPECT_TRUE(md::ParseBox(large.data(), 16));
    // 'meta' (a full box) and 'edts' are not read as containers.
    {
        BoxBuilder b;
        b.Begin("moov");
        b.BeginFull("meta", 0, 0).BeginFull("hdlr", 0, 0).U32(0).Type("mdir").Zeros(12).Text("").End().End();
        b.Begin("edts").BeginFull("elst", 0, 0).U32(0).End().End();
        b.End();
        auto moov = Parse(b.Take());
        ASSERT_TRUE(moov);
        ASSERT_EQ(CountList(moov->firstChild.get()), 2u);
        EXPECT_FALSE(moov->firstChild->firstChild);
        EXPECT_FALSE(moov->firstChild->next->firstChild);
    }
}

TEST(BoxReader, UuidBoxes)
{
    const std::array<uint8_t, 16> prof{'P', 'R', 'O', 'F', 0x21, 0xD2, 0x4F, 0xCE,
                                       0xBB, 0x88, 0x69, 0x5C, 0xFA, 0xC9, 0xC7, 0x40};
    const std::array<uint8_t, 16> cpgd{'c', 'p', 'g', 'd', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    // "PROF": the children start 8 bytes after the extended type.
    BoxBuilder b;
    b.Begin("uuid").Bytes(prof).U32(0).U32(2).Begin("OLYM").Zeros(38).End().End();
    auto uuid = Parse(b.Take());
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->userType, prof);
    ASSERT_TRUE(uuid->firstChild);
    EXPECT_EQ(uuid->firstChild->type, FourCC("OLYM"));
    EXPECT_EQ(uuid->firstChild->size, 46u);
    // Any other extended type: the children follow it directly.
    b.Begin("uuid").Bytes(cpgd).Begin("free").End().End();
    uuid = Parse(b.Take());
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->userType, cpgd);
    ASSERT_TRUE(uuid->firstChild);
    EXPECT_EQ(uuid->firstChild->type, FourCC("free"));
    // Too short for its extended type: a bare head, nothing read beyond the box.
    b.Begin("moov").Begin("uuid").Zeros(10).End().Begin("free").End().End();
    auto moov = Parse(b.Take());
    ASSERT_TRUE(moov);
    EXPECT_FALSE(moov->firstChild->firstChild);
    EXPECT_EQ(moov->firstChild->userType, (std::array<uint8_t, 16>{}));
    EXPECT_TRUE(moov->firstChild->next);
}

TEST(BoxReader, FindBoxSearchOrder)
{
    // moov[ mvhd, trak[ udta[ INFO, free ] ], udta[ free ] ]
    BoxBuilder b;
    PutFtyp(b);
    b.Begin("moov").BeginFull("mvhd", 0, 0).Zeros(96).End();
    b.Begin("trak").Begin("udta").Begin("INFO").Zeros(32).End().Begin("free").End().End().End();
    b.Begin("udta").Begin("free").End().End();
    b.End();
    PutMdat(b, 0);
    auto root = ReadBytes(b.Take());
    ASSERT_TRUE(root);
    const Mp4Box* moov = root->next.get();
    const Mp4Box* trak = moov->firstChild->next.get();
    const Mp4Box* moovUdta = trak->next.get();
    // The whole child list of moov is tested before any grandchild.
    EXPECT_EQ(md::FindBox(root.get(), FourCC("udta")), moovUdta);
    // Children of the last sibling are searched before those of earlier ones.
    EXPECT_EQ(md::FindBox(moov->firstChild.get(), FourCC("free")), moovUdta->firstChild.get());
    EXPECT_EQ(md::FindBox(root.get(), FourCC("INFO")), trak->firstChild->firstChild.get());
    // A list whose first box has the type gives that box.
    EXPECT_EQ(md::FindBox(trak, FourCC("trak")), trak);
    EXPECT_EQ(md::FindBox(trak->firstChild.get(), FourCC("trak")), nullptr);
    EXPECT_EQ(md::FindBox(static_cast<const Mp4Box*>(nullptr), FourCC("moov")), nullptr);
    EXPECT_EQ(md::FindBoxAs<md::Mp4MvhdBox>(root.get(), FourCC("mdat")), nullptr);

    // The last box of a long sibling list, and a child behind it.
    BoxBuilder longList;
    for (int i = 0; i < 100000; ++i)
        longList.Begin("free").End();
    longList.Begin("moof").Begin("mfhd").U32(0).U32(77).End().End();
    const std::vector<uint8_t> bytes = longList.Take();
    const md::Mp4BoxList list = md::ParseBoxList(bytes.data(), bytes.size());
    auto* mfhd = md::FindBoxAs<md::Mp4MfhdBox>(list.first.get(), FourCC("mfhd"));
    ASSERT_TRUE(mfhd);
    EXPECT_EQ(mfhd->sequenceNumber, 77u);
}

TEST(BoxReader, CountsBeyondTheBoxAllocateOnlyWhatTheBoxHolds)
{
    BoxBuilder b;
    b.Begin("stbl");
    b.BeginFull("stsz", 0, 0).U32(0).U32(0x80000000u).U32(1).U32(2).U32(3).End();
    b.BeginFull("stts", 0, 0).U32(0xFFFFFFFFu).U32(1).U32(2).U32(3).End();  // one and a half entries
    // trun with duration, size, flags and composition offset: 16 bytes a sample,
    // 20 bytes left after data_offset and first_sample_flags, so one sample.
    b.BeginFull("trun", 0, 0xF05).U32(0x80000000u).U32(16).U32(0).Zeros(20).End();
    b.End();
    auto stbl = Parse(b.Take());
    ASSERT_TRUE(stbl);
    const Mp4Box* c = stbl->firstChild.get();

    auto* stsz = md::FindBoxAs<md::Mp4StszBox>(c, FourCC("stsz"));
    ASSERT_TRUE(stsz);
    EXPECT_EQ(stsz->sampleCount, 0x80000000u);
    EXPECT_EQ(stsz->entrySize, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_LE(stsz->entrySize.capacity(), 3u);
    EXPECT_EQ(md::TableAt(stsz->entrySize, 3), 0u);
    EXPECT_EQ(md::TableAt(stsz->entrySize, 0x7FFFFFFF), 0u);
    auto* stts = md::FindBoxAs<md::Mp4SttsBox>(c, FourCC("stts"));
    ASSERT_TRUE(stts);
    EXPECT_EQ(stts->entryCount, 0xFFFFFFFFu);
    EXPECT_EQ(stts->sampleCount, (std::vector<uint32_t>{1}));
    EXPECT_EQ(stts->sampleDelta, (std::vector<uint32_t>{2}));
    auto* trun = md::FindBoxAs<md::Mp4TrunBox>(c, FourCC("trun"));
    ASSERT_TRUE(trun);
    EXPECT_EQ(trun->dataOffset, 16u);
    EXPECT_EQ(trun->sampleDuration.size(), 1u);
    EXPECT_EQ(trun->sampleCompositionTimeOffset.size(), 1u);
}

TEST(BoxReader, DeepNestingAndLongListsUseNoDeepRecursion)
{
    // 10,000 nested containers: read down to the depth cap, and released.
    BoxBuilder b;
    PutFtyp(b);
    for (int i = 0; i < 10000; ++i)
        b.Begin(i % 2 ? "trak" : "moov");
    for (int i = 0; i < 10000; ++i)
        b.End();
    PutMdat(b, 0);
    auto root = ReadBytes(b.Take());
    ASSERT_TRUE(root);
    int depth = 0;
    for (const Mp4Box* box = root->next.get(); box != nullptr; box = box->firstChild.get())
        ++depth;
    EXPECT_EQ(depth, md::kMaxBoxDepth + 1);
    md::FreeBoxTree(std::move(root));

    // A file may give 'stsd' boxes with long entry lists and long sibling
    // lists: released without recursion too (300,000 siblings, 10 of them with
    // 30,000 entries each).
    auto first = std::make_unique<Mp4Box>();
    Mp4Box* at = first.get();
    for (int i = 0; i < 300000; ++i) {
        auto stsd = std::make_unique<md::Mp4StsdBox>();
        if (i % 30000 == 0) {
            std::unique_ptr<Mp4Box>* entry = &stsd->entries;
            for (int k = 0; k < 30000; ++k, entry = &(*entry)->next)
                *entry = std::make_unique<md::Mp4SampleEntry>();
        }
        at->next = std::move(stsd);
        at = at->next.get();
    }
    md::FreeBoxTree(std::move(first));
}

TEST(BoxReader, CameraMakerBoxes)
{
    const std::string maker = "OLYMPUS DIGITAL CAMERA";
    // 'thmb': length, then the JPEG whose first four bytes are replaced.
    {
        BoxBuilder b;
        b.Begin("thmb").U32(6).U32(0x01020304).U16(0x0506).Zeros(8).End();
        auto thmb = Parse(b.Take());
        auto* t = md::BoxAs<md::Mp4ThmbBox>(thmb.get());
        ASSERT_TRUE(t);
        EXPECT_EQ(t->thumbnailLength, 6u);
        EXPECT_EQ(t->thumbnail, (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xDB, 0x05, 0x06}));
    }
    // Absent: a length above size - 20, a size below 20, a 64-bit size. An
    // absent box ends its sibling list.
    {
        BoxBuilder b;
        b.Begin("udta").Begin("thmb").U32(7).Zeros(14).End().Begin("free").End().End();
        b.Begin("udta").Begin("thmb").U32(0).Zeros(7).End().Begin("free").End().End();
        b.Begin("udta").BeginLarge("thmb").U32(0).Zeros(8).End().Begin("free").End().End();
        const std::vector<uint8_t> bytes = b.Take();
        const md::Mp4BoxList list = md::ParseBoxList(bytes.data(), bytes.size());
        ASSERT_EQ(CountList(list.first.get()), 3u);
        for (const Mp4Box* udta = list.first.get(); udta != nullptr; udta = udta->next.get())
            EXPECT_FALSE(udta->firstChild);
    }
    // 'TAGS': the maker text, three tag words, the thumbnail length and offset
    // (little-endian, the offset counted from payload byte 235).
    auto tags = [&](const std::string& text, uint32_t length, uint32_t offset) {
        BoxBuilder b;
        b.Begin("TAGS").Text(text).Zeros(235 - text.size() - 1);
        b.Le32(0x11).Le32(0x22).Le32(0x33).Le32(length).Le32(offset);
        b.Zeros(20).U32(0xAABBCCDD).U32(0x01020304).Zeros(16).End();
        return Parse(b.Take());
    };
    auto box = tags(maker, 6, 40);
    auto* t = md::BoxAs<md::Mp4TagsBox>(box.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->tagValues, (std::array<uint32_t, 3>{0x11, 0x22, 0x33}));
    EXPECT_EQ(t->thumbnail, (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xDB, 0x01, 0x02}));
    // A thumbnail running past the box, or another maker: no thumbnail, the
    // record stays.
    for (const auto& [text, length, offset] :
         {std::tuple{maker, 60u, 40u}, {maker, 4u, 0xFFFFFFF0u}, {std::string("OTHER CAMERA"), 6u, 40u}}) {
        box = tags(text, length, offset);
        t = md::BoxAs<md::Mp4TagsBox>(box.get());
        ASSERT_TRUE(t) << text << " " << length << "@" << offset;
        EXPECT_EQ(t->thumbnailLength, 0u);
        EXPECT_TRUE(t->thumbnail.empty());
    }
    // A 278-byte 'TAGS' reads as absent and ends its list; 279 bytes is enough.
    BoxBuilder b;
    b.Begin("udta").Begin("TAGS").Text(maker).Zeros(278 - 8 - 23).End().Begin("free").End().End();
    auto udta = Parse(b.Take());
    ASSERT_TRUE(udta);
    EXPECT_FALSE(udta->firstChild);
    b.Begin("TAGS").Text(maker).Zeros(279 - 8 - 23).End();
    EXPECT_TRUE(md::BoxAs<md::Mp4TagsBox>(Parse(b.Take()).get()));
}

TEST(BoxReader, StringsStayInsideTheirBox)
{
    // A name without a NUL before the end of the box (a QuickTime counted
    // string) is absent, even when a NUL follows the box in memory.
    BoxBuilder b;
    b.BeginFull("hdlr", 0, 0).U32(0).Type("soun").Zeros(12).Text("Sound", false).End();
    std::vector<uint8_t> bytes = b.Take();
    bytes.push_back(0);
    auto hdlr = md::ParseBox(bytes.data(), bytes.size() - 1);
    auto* h = md::BoxAs<md::Mp4HdlrBox>(hdlr.get());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->handlerType, FourCC("soun"));
    EXPECT_EQ(h->nameLength, 0u);
    EXPECT_TRUE(h->name.empty());

    b.BeginFull("urn ", 0, 0).Text("name").Text("where").End();
    b.BeginFull("urn ", 0, 0).Text("unterminated", false).End();
    const std::vector<uint8_t> entries = b.Take();
    const md::Mp4BoxList list = md::ParseBoxList(entries.data(), entries.size());
    ASSERT_EQ(CountList(list.first.get()), 2u);
    auto* urn = md::BoxAs<md::Mp4DataEntryBox>(list.first.get());
    ASSERT_TRUE(urn);
    EXPECT_EQ(urn->name, "name");
    EXPECT_EQ(urn->location, "where");
    EXPECT_EQ(urn->locationLength, 6u);
    auto* broken = md::BoxAs<md::Mp4DataEntryBox>(list.first->next.get());
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->nameLength, 0u);
    EXPECT_EQ(broken->locationLength, 0u);
}

// ---- Sample files against ffprobe ------------------------------------------------

// Each track's first sample entry against ffprobe's stream of that index. Where
// the box reader's rules give another answer: 'mp4_broken_no_moov.mp4' has no
// 'moov' (ffprobe fails on it too); in 'mov_ios9_mebx.mov' two bytes trail the
// last top-level box ('moov' ends at 546092 of 546094), so the boxes do not
// cover the file; the 'samr' entry of '3gp_amrnb_audio.3gp' stores channelcount
// 2 as 3GPP TS 26.244 fixes it, where ffprobe reports the AMR decoder's 1.
void CheckSamplesIn(const std::filesystem::path& dir)
{
    if (dir.empty() || !std::filesystem::exists(dir))
        GTEST_SKIP() << "no sample directory " << dir;
    int checked = 0;
    for (const auto& path : md::test::MediaFiles(dir)) {
        const std::string name = path.filename().string();
        const std::string ext = path.extension().string();
        const auto jsonPath = dir / "reference" / (name + ".ffprobe.json");
        if ((ext != ".mp4" && ext != ".mov" && ext != ".3gp") || !std::filesystem::exists(jsonPath))
            continue;
        SCOPED_TRACE(name);
        std::ifstream in(jsonPath);
        const nlohmann::json probe = nlohmann::json::parse(in, nullptr, false);
        ASSERT_FALSE(probe.is_discarded());
        auto root = md::ReadMp4File(path.wstring().c_str());
        if (name == "mp4_broken_no_moov.mp4" || name == "mov_ios9_mebx.mov") {
            EXPECT_FALSE(root);
            continue;
        }
        ASSERT_TRUE(root);
        const Mp4Box* moov = md::FindBox(root.get(), FourCC("moov"));
        ASSERT_TRUE(moov);
        const auto& streams = probe.at("streams");
        size_t index = 0;
        for (const Mp4Box* trak = moov->firstChild.get(); trak != nullptr; trak = trak->next.get()) {
            if (trak->type != FourCC("trak"))
                continue;
            ASSERT_LT(index, streams.size());
            const auto& s = streams[index++];
            SCOPED_TRACE("track " + std::to_string(index - 1));
            auto* stsd = md::FindBoxAs<md::Mp4StsdBox>(trak->firstChild.get(), FourCC("stsd"));
            ASSERT_TRUE(stsd);
            ASSERT_TRUE(stsd->entries);
            const uint32_t type = stsd->entries->type;
            const char tag[4] = {char(type >> 24), char(type >> 16), char(type >> 8), char(type)};
            EXPECT_EQ(std::string(tag, 4), s.value("codec_tag_string", ""));
            if (s.value("codec_type", "") == "video") {
                auto* v = md::BoxAs<md::Mp4VisualSampleEntry>(stsd->entries.get());
                ASSERT_TRUE(v);
                EXPECT_EQ(v->width, s.at("width").get<int64_t>());
                EXPECT_EQ(v->height, s.at("height").get<int64_t>());
            } else if (s.value("codec_type", "") == "audio") {
                auto* a = md::BoxAs<md::Mp4AudioSampleEntry>(stsd->entries.get());
                ASSERT_TRUE(a);
                const int64_t channels = s.at("channels").get<int64_t>();
                EXPECT_EQ(a->channelCount, name == "3gp_amrnb_audio.3gp" ? 2 : channels);
                EXPECT_EQ(a->sampleRate, std::stoll(s.at("sample_rate").get<std::string>()));
            }
        }
        EXPECT_EQ(index, streams.size());
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(BoxReaderFiles, BundledSamplesAgreeWithFfprobe) { CheckSamplesIn(md::test::TestDataDir()); }

TEST(BoxReaderFiles, RealWorldSamplesAgreeWithFfprobe) { CheckSamplesIn(md::test::RealWorldDir()); }

}  // namespace
