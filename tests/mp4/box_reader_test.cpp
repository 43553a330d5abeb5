// The box reader on synthetic boxes (field layouts, list and coverage rules,
// hostile sizes and counts, search order) and on the sample files.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
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

// A movie header of version 0 with the given time scale and duration.
void PutMvhd(BoxBuilder& b, uint32_t timeScale, uint32_t duration)
{
    b.BeginFull("mvhd", 0, 0).U32(3500000000u).U32(3500000100u).U32(timeScale).U32(duration).Zeros(80).End();
}

// moov with one movie header and nothing else.
void PutSmallMoov(BoxBuilder& b)
{
    b.Begin("moov");
    PutMvhd(b, 600, 1200);
    b.End();
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

TEST(BoxReader, ReadsMovieFieldsIntoTree)
{
    BoxBuilder b;
    PutFtyp(b);
    b.Begin("moov");
    PutMvhd(b, 600, 1200);
    b.Begin("trak");
    // tkhd version 1: 64-bit times, track_ID, reserved, 64-bit duration.
    b.BeginFull("tkhd", 1, 7).U64(1).U64(2).U32(7).U32(0).U64((uint64_t(1) << 33) + 5).Zeros(60).End();
    b.Begin("mdia");
    b.BeginFull("mdhd", 1, 0).U64(10).U64(20).U32(48000).U64(uint64_t(1) << 40).U16(0x55C4).U16(0).End();
    b.BeginFull("hdlr", 0, 0).U32(0).Type("vide").Zeros(12).Text("VideoHandler").End();
    b.Begin("minf");
    b.BeginFull("vmhd", 0, 1).Zeros(8).End();
    b.Begin("dinf").BeginFull("dref", 0, 0).U32(1).BeginFull("url ", 0, 1).End().End().End();
    b.Begin("stbl");
    b.BeginFull("stsd", 0, 0).U32(1).Begin("cvid");
    mdtest::PutVisualEntryFields(b, 320, 240);
    b.End().End();
    b.BeginFull("stts", 0, 0).U32(2).U32(10).U32(1001).U32(5).U32(2002).End();
    b.BeginFull("ctts", 0, 0).U32(1).U32(15).U32(2002).End();
    b.BeginFull("stsz", 0, 0).U32(0).U32(3).U32(100).U32(200).U32(300).End();
    b.BeginFull("stz2", 0, 0).U24(0).U8(16).U32(9).End();
    b.BeginFull("stsc", 0, 0).U32(1).U32(1).U32(3).U32(1).End();
    b.BeginFull("stco", 0, 0).U32(2).U32(4096).U32(8192).End();
    b.BeginFull("co64", 0, 0).U32(1).U64(0x123456789ull).End();
    b.BeginFull("stss", 0, 0).U32(1).U32(1).End();
    b.End().End().End().End();  // stbl, minf, mdia, trak
    b.End();                    // moov
    const size_t metadataBytes = b.Size();
    PutMdat(b, 200000);
    b.Begin("free").Zeros(3 << 20).End();  // padding larger than the work buffer
    const std::vector<uint8_t> file = b.Take();

    md::MemoryInputStream stream(file.data(), file.size());
    auto root = md::ReadMp4Stream(stream);
    ASSERT_TRUE(root);
    // The payloads of 'mdat' and of the padding box are skipped, not read.
    EXPECT_LE(stream.BytesRead(), metadataBytes + 16 + 8);
    const md::Mp4Box* free = md::FindBox(root.get(), md::FourCC("free"));
    ASSERT_TRUE(free);
    EXPECT_EQ(free->size, (3u << 20) + 8);

    auto* ftyp = md::BoxAs<md::Mp4FtypBox>(root.get());
    ASSERT_TRUE(ftyp);
    EXPECT_EQ(ftyp->type, 0x66747970u);
    EXPECT_EQ(ftyp->size, 24u);
    EXPECT_EQ(ftyp->majorBrand, 0x69736F6Du);
    EXPECT_EQ(ftyp->minorVersion, 0x200u);
    ASSERT_EQ(ftyp->compatibleBrands.size(), 2u);
    EXPECT_EQ(ftyp->compatibleBrands[1], (std::array<uint8_t, 4>{'m', 'p', '4', '2'}));

    auto* mvhd = md::FindBoxAs<md::Mp4MvhdBox>(root.get(), FourCC("mvhd"));
    ASSERT_TRUE(mvhd);
    EXPECT_EQ(mvhd->creationTime, 3500000000u);
    EXPECT_EQ(mvhd->modificationTime, 3500000100u);
    EXPECT_EQ(mvhd->timeScale, 600u);
    EXPECT_EQ(mvhd->duration, 1200u);

    auto* tkhd = md::FindBoxAs<md::Mp4TkhdBox>(root.get(), FourCC("tkhd"));
    ASSERT_TRUE(tkhd);
    EXPECT_EQ(tkhd->version, 1);
    EXPECT_EQ(tkhd->flags, 0x01000007u);
    EXPECT_EQ(tkhd->trackId, 7u);
    EXPECT_EQ(tkhd->modificationTime, 2u);
    EXPECT_EQ(tkhd->duration, (uint64_t(1) << 33) + 5);

    auto* mdhd = md::FindBoxAs<md::Mp4MdhdBox>(root.get(), FourCC("mdhd"));
    ASSERT_TRUE(mdhd);
    EXPECT_EQ(mdhd->timeScale, 48000u);
    EXPECT_EQ(mdhd->duration, uint64_t(1) << 40);

    auto* hdlr = md::FindBoxAs<md::Mp4HdlrBox>(root.get(), FourCC("hdlr"));
    ASSERT_TRUE(hdlr);
    EXPECT_EQ(hdlr->handlerType, FourCC("vide"));
    EXPECT_EQ(hdlr->name, "VideoHandler");
    EXPECT_EQ(hdlr->nameLength, 13u);

    // 'dref' is a leaf: its entries are not read as children.
    auto* dref = md::FindBoxAs<md::Mp4DrefBox>(root.get(), FourCC("dref"));
    ASSERT_TRUE(dref);
    EXPECT_EQ(dref->entryCount, 1u);
    EXPECT_FALSE(dref->firstChild);
    EXPECT_FALSE(md::FindBox(root.get(), FourCC("url ")));

    auto* stsd = md::FindBoxAs<md::Mp4StsdBox>(root.get(), FourCC("stsd"));
    ASSERT_TRUE(stsd);
    EXPECT_EQ(stsd->entryCount, 1u);
    auto* cvid = md::BoxAs<md::Mp4VisualSampleEntry>(stsd->entries.get());
    ASSERT_TRUE(cvid);
    EXPECT_EQ(cvid->type, FourCC("cvid"));
    EXPECT_EQ(cvid->size, 86u);
    EXPECT_EQ(cvid->width, 320);
    EXPECT_EQ(cvid->height, 240);
    // Sample entries are not children: FindBox does not reach them.
    EXPECT_FALSE(md::FindBox(root.get(), FourCC("cvid")));

    auto* stts = md::FindBoxAs<md::Mp4SttsBox>(root.get(), FourCC("stts"));
    ASSERT_TRUE(stts);
    EXPECT_EQ(stts->sampleCount, (std::vector<uint32_t>{10, 5}));
    EXPECT_EQ(stts->sampleDelta, (std::vector<uint32_t>{1001, 2002}));
    auto* ctts = md::FindBoxAs<md::Mp4CttsBox>(root.get(), FourCC("ctts"));
    ASSERT_TRUE(ctts);
    EXPECT_EQ(ctts->sampleOffset, (std::vector<uint32_t>{2002}));
    auto* stsz = md::FindBoxAs<md::Mp4StszBox>(root.get(), FourCC("stsz"));
    ASSERT_TRUE(stsz);
    EXPECT_EQ(stsz->sampleCount, 3u);
    EXPECT_EQ(stsz->entrySize, (std::vector<uint32_t>{100, 200, 300}));
    auto* stz2 = md::FindBoxAs<md::Mp4Stz2Box>(root.get(), FourCC("stz2"));
    ASSERT_TRUE(stz2);
    EXPECT_EQ(stz2->fieldSize, 16);
    EXPECT_EQ(stz2->sampleCount, 9u);
    auto* stsc = md::FindBoxAs<md::Mp4StscBox>(root.get(), FourCC("stsc"));
    ASSERT_TRUE(stsc);
    EXPECT_EQ(stsc->samplesPerChunk, (std::vector<uint32_t>{3}));
    auto* stco = md::FindBoxAs<md::Mp4StcoBox>(root.get(), FourCC("stco"));
    ASSERT_TRUE(stco);
    EXPECT_EQ(stco->chunkOffset, (std::vector<uint32_t>{4096, 8192}));
    auto* co64 = md::FindBoxAs<md::Mp4Co64Box>(root.get(), FourCC("co64"));
    ASSERT_TRUE(co64);
    EXPECT_EQ(co64->chunkOffset, (std::vector<uint64_t>{0x123456789ull}));
    auto* stss = md::FindBoxAs<md::Mp4StssBox>(root.get(), FourCC("stss"));
    ASSERT_TRUE(stss);
    EXPECT_EQ(stss->sampleNumber, (std::vector<uint32_t>{1}));

    const Mp4Box* mdat = md::FindBox(root.get(), FourCC("mdat"));
    ASSERT_TRUE(mdat);
    EXPECT_EQ(mdat->size, 200008u);
    EXPECT_FALSE(mdat->firstChild);
    EXPECT_EQ(md::IsMoovBeforeMdat(root.get()), 1);
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
    {
        std::vector<uint8_t> file = good;
        file.pop_back();
        EXPECT_FALSE(ReadBytes(file));
    }
    // moov without mdat, mdat without moov.
    {
        BoxBuilder b;
        PutFtyp(b);
        PutSmallMoov(b);
        EXPECT_FALSE(ReadBytes(b.Take()));
        PutFtyp(b);
        PutMdat(b, 4);
        EXPECT_FALSE(ReadBytes(b.Take()));
    }
    // Nothing, or fewer than 8 bytes.
    EXPECT_FALSE(ReadBytes({}));
    EXPECT_FALSE(ReadBytes({0, 0, 0, 8, 'f', 'r', 'e'}));

    // Hostile top-level sizes: past the end, below the header, a 64-bit size
    // near 2^64, a 32-bit size of 2..7. None may hang or read out of bounds.
    for (uint32_t size : {0xFFFFFFFFu, 2u, 4u, 7u}) {
        BoxBuilder b;
        PutFtyp(b);
        b.U32(size).Type("free").Zeros(8);
        PutSmallMoov(b);
        PutMdat(b, 4);
        EXPECT_FALSE(ReadBytes(b.Take())) << size;
    }
    for (uint64_t large : {0xFFFFFFFFFFFFFFFFull, 0x8000000000000000ull, 8ull, 0ull}) {
        BoxBuilder b;
        PutFtyp(b);
        b.U32(1).Type("free").U64(large).Zeros(8);
        PutSmallMoov(b);
        PutMdat(b, 4);
        EXPECT_FALSE(ReadBytes(b.Take())) << large;
    }
    // A 64-bit size on a box other than 'mdat' is read whole, and the walk goes on.
    {
        BoxBuilder b;
        PutFtyp(b);
        b.BeginLarge("moov");
        PutMvhd(b, 1000, 5);
        b.End();
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
        EXPECT_EQ(moov->next->largeSize, 56u);
        EXPECT_EQ(md::IsMoovBeforeMdat(root.get()), 1);
    }
    // A top-level box whose record cannot be built is left out of the list but
    // the walk continues (a 'thmb' shorter than 20 bytes).
    {
        BoxBuilder b;
        PutFtyp(b);
        b.Begin("thmb").U32(0).End();
        PutSmallMoov(b);
        PutMdat(b, 4);
        auto root = ReadBytes(b.Take());
        ASSERT_TRUE(root);
        EXPECT_EQ(CountList(root.get()), 3u);
        EXPECT_FALSE(md::FindBox(root.get(), FourCC("thmb")));
    }
}

TEST(BoxReader, IsMoovBeforeMdat)
{
    BoxBuilder b;
    PutFtyp(b);
    PutMdat(b, 4);
    PutSmallMoov(b);
    auto mdatFirst = ReadBytes(b.Take());
    ASSERT_TRUE(mdatFirst);
    EXPECT_EQ(md::IsMoovBeforeMdat(mdatFirst.get()), 0);
    auto moovFirst = ReadBytes(SmallMovie());
    ASSERT_TRUE(moovFirst);
    EXPECT_EQ(md::IsMoovBeforeMdat(moovFirst.get()), 1);
    EXPECT_EQ(md::IsMoovBeforeMdat(nullptr), 0);
}

TEST(BoxReader, SiblingListRules)
{
    // A child larger than what is left of its parent is not built, and every
    // later sibling is dropped with it.
    {
        BoxBuilder b;
        b.Begin("moov").Begin("free").Zeros(8).End();
        b.U32(1000).Type("trak").Zeros(8);
        b.Begin("udta").End();
        b.End();
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
        b.Begin("udta").Begin("free").Zeros(4).End().End();
        b.End();
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
    // ParseBox on too few bytes and on sizes that do not fit.
    {
        const std::vector<uint8_t> head{0, 0, 0, 8, 'f', 'r', 'e', 'e'};
        EXPECT_FALSE(md::ParseBox(head.data(), 7));
        EXPECT_TRUE(md::ParseBox(head.data(), 8));
        EXPECT_FALSE(md::ParseBox(nullptr, 8));
        const std::vector<uint8_t> large{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 16};
        EXPECT_FALSE(md::ParseBox(large.data(), 12));
        EXPECT_TRUE(md::ParseBox(large.data(), 16));
        EXPECT_FALSE(md::ParseBox(large.data(), 15));
    }
    // ParseBoxList covers a range of siblings and reports what it consumed.
    {
        BoxBuilder b;
        b.Begin("free").Zeros(4).End().Begin("skip").End().Begin("wide").Zeros(2).End();
        const std::vector<uint8_t> bytes = b.Take();
        const md::Mp4BoxList list = md::ParseBoxList(bytes.data(), bytes.size());
        EXPECT_EQ(CountList(list.first.get()), 3u);
        EXPECT_EQ(list.consumed, 30u);
    }
    // Types that are not containers keep no children ('meta', 'edts').
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
        EXPECT_FALSE(md::FindBox(moov.get(), FourCC("hdlr")));
    }
}

TEST(BoxReader, UuidBoxes)
{
    const std::array<uint8_t, 16> prof{'P', 'R', 'O', 'F', 0x21, 0xD2, 0x4F, 0xCE,
                                       0xBB, 0x88, 0x69, 0x5C, 0xFA, 0xC9, 0xC7, 0x40};
    const std::array<uint8_t, 16> cpgd{'c', 'p', 'g', 'd', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    // "PROF": the children start 8 bytes after the extended type.
    {
        BoxBuilder b;
        b.Begin("uuid").Bytes(prof).U32(0).U32(2);
        b.Begin("OLYM").Zeros(38).End();
        b.End();
        auto uuid = Parse(b.Take());
        ASSERT_TRUE(uuid);
        EXPECT_EQ(uuid->userType, prof);
        ASSERT_TRUE(uuid->firstChild);
        EXPECT_EQ(uuid->firstChild->type, FourCC("OLYM"));
        EXPECT_EQ(uuid->firstChild->size, 46u);
    }
    // Any other extended type: the children follow it directly.
    {
        BoxBuilder b;
        b.Begin("uuid").Bytes(cpgd);
        b.Begin("free").End();
        b.End();
        auto uuid = Parse(b.Take());
        ASSERT_TRUE(uuid);
        EXPECT_EQ(uuid->userType, cpgd);
        ASSERT_TRUE(uuid->firstChild);
        EXPECT_EQ(uuid->firstChild->type, FourCC("free"));
    }
    // Too short for its extended type: a bare head, nothing read beyond the box.
    {
        BoxBuilder b;
        b.Begin("moov").Begin("uuid").Zeros(10).End().Begin("free").End().End();
        auto moov = Parse(b.Take());
        ASSERT_TRUE(moov);
        EXPECT_FALSE(moov->firstChild->firstChild);
        EXPECT_EQ(moov->firstChild->userType, (std::array<uint8_t, 16>{}));
        EXPECT_TRUE(moov->firstChild->next);
    }
}

TEST(BoxReader, FindBoxSearchOrder)
{
    // moov[ mvhd, trak[ udta[ INFO ] ], udta[ free ] ]
    BoxBuilder b;
    PutFtyp(b);
    b.Begin("moov");
    PutMvhd(b, 600, 0);
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
    const auto start = std::chrono::steady_clock::now();
    BoxBuilder b;
    b.Begin("stbl");
    b.BeginFull("stsz", 0, 0).U32(0).U32(0x80000000u).U32(1).U32(2).U32(3).End();
    b.BeginFull("stts", 0, 0).U32(0xFFFFFFFFu).U32(1).U32(2).U32(3).End();  // one and a half entries
    b.BeginFull("ctts", 0, 0).U32(0x40000000u).End();
    b.BeginFull("stsc", 0, 0).U32(0xFFFFFFFFu).U32(1).U32(2).U32(3).U32(4).End();
    b.BeginFull("stco", 0, 0).U32(0xFFFFFFFFu).U32(5).U32(6).End();
    b.BeginFull("co64", 0, 0).U32(0xFFFFFFFFu).U64(7).U32(8).End();
    b.BeginFull("stss", 0, 0).U32(0x80000000u).U32(9).End();
    b.BeginFull("trun", 0, 0xF05).U32(0x80000000u).U32(16).U32(0).Zeros(20).End();
    b.BeginFull("stsz", 0, 0).U32(512).U32(0xFFFFFFFFu).End();  // constant size: no array
    b.End();
    auto stbl = Parse(b.Take());
    ASSERT_TRUE(stbl);

    auto* stsz = md::FindBoxAs<md::Mp4StszBox>(stbl.get(), FourCC("stsz"));
    ASSERT_TRUE(stsz);
    EXPECT_EQ(stsz->sampleCount, 0x80000000u);
    EXPECT_EQ(stsz->entrySize, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_LE(stsz->entrySize.capacity(), 3u);
    EXPECT_EQ(md::TableAt(stsz->entrySize, 2), 3u);
    EXPECT_EQ(md::TableAt(stsz->entrySize, 3), 0u);
    EXPECT_EQ(md::TableAt(stsz->entrySize, 0x7FFFFFFF), 0u);

    auto* stts = md::FindBoxAs<md::Mp4SttsBox>(stbl.get(), FourCC("stts"));
    ASSERT_TRUE(stts);
    EXPECT_EQ(stts->entryCount, 0xFFFFFFFFu);
    EXPECT_EQ(stts->sampleCount, (std::vector<uint32_t>{1}));
    EXPECT_EQ(stts->sampleDelta, (std::vector<uint32_t>{2}));
    auto* ctts = md::FindBoxAs<md::Mp4CttsBox>(stbl.get(), FourCC("ctts"));
    ASSERT_TRUE(ctts);
    EXPECT_EQ(ctts->entryCount, 0x40000000u);
    EXPECT_TRUE(ctts->sampleCount.empty());
    auto* stsc = md::FindBoxAs<md::Mp4StscBox>(stbl.get(), FourCC("stsc"));
    ASSERT_TRUE(stsc);
    EXPECT_EQ(stsc->firstChunk, (std::vector<uint32_t>{1}));
    EXPECT_EQ(stsc->sampleDescriptionIndex, (std::vector<uint32_t>{3}));
    auto* stco = md::FindBoxAs<md::Mp4StcoBox>(stbl.get(), FourCC("stco"));
    ASSERT_TRUE(stco);
    EXPECT_EQ(stco->chunkOffset, (std::vector<uint32_t>{5, 6}));
    auto* co64 = md::FindBoxAs<md::Mp4Co64Box>(stbl.get(), FourCC("co64"));
    ASSERT_TRUE(co64);
    EXPECT_EQ(co64->chunkOffset, (std::vector<uint64_t>{7}));
    auto* stss = md::FindBoxAs<md::Mp4StssBox>(stbl.get(), FourCC("stss"));
    ASSERT_TRUE(stss);
    EXPECT_EQ(stss->sampleNumber, (std::vector<uint32_t>{9}));
    // trun with duration, size, flags and composition offset: 16 bytes a sample,
    // 20 bytes left after data_offset and first_sample_flags → one sample.
    auto* trun = md::FindBoxAs<md::Mp4TrunBox>(stbl.get(), FourCC("trun"));
    ASSERT_TRUE(trun);
    EXPECT_EQ(trun->sampleCount, 0x80000000u);
    EXPECT_EQ(trun->dataOffset, 16u);
    EXPECT_EQ(trun->sampleDuration.size(), 1u);
    EXPECT_EQ(trun->sampleCompositionTimeOffset.size(), 1u);
    const Mp4Box* second = stbl->firstChild.get();
    while (second->next)
        second = second->next.get();
    auto* constant = md::BoxAs<md::Mp4StszBox>(second);
    ASSERT_TRUE(constant);
    EXPECT_EQ(constant->sampleSize, 512u);
    EXPECT_TRUE(constant->entrySize.empty());

    // A whole file whose stsz claims 2^31 samples reads at once.
    BoxBuilder f;
    PutFtyp(f);
    f.Begin("moov").Begin("trak").Begin("mdia").Begin("minf").Begin("stbl");
    f.BeginFull("stsz", 0, 0).U32(0).U32(0x80000000u).U32(1).End();
    f.End().End().End().End().End();
    PutMdat(f, 4);
    auto root = ReadBytes(f.Take());
    ASSERT_TRUE(root);
    auto* fileStsz = md::FindBoxAs<md::Mp4StszBox>(root.get(), FourCC("stsz"));
    ASSERT_TRUE(fileStsz);
    EXPECT_EQ(fileStsz->entrySize.size(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
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
    EXPECT_FALSE(root);

    // Trees built by hand far deeper and longer than any file gives: a chain of
    // 300,000 first children, 300,000 siblings, and long 'stsd' entry lists.
    auto deep = std::make_unique<Mp4Box>();
    Mp4Box* at = deep.get();
    for (int i = 0; i < 300000; ++i) {
        at->firstChild = std::make_unique<Mp4Box>();
        at = at->firstChild.get();
    }
    auto wide = std::make_unique<Mp4Box>();
    at = wide.get();
    for (int i = 0; i < 300000; ++i) {
        auto stsd = std::make_unique<md::Mp4StsdBox>();
        if (i % 30000 == 0) {
            Mp4Box* entry = nullptr;
            for (int k = 0; k < 30000; ++k) {
                auto e = std::make_unique<md::Mp4SampleEntry>();
                if (entry == nullptr) {
                    stsd->entries = std::move(e);
                    entry = stsd->entries.get();
                } else {
                    entry->next = std::move(e);
                    entry = entry->next.get();
                }
            }
        }
        at->next = std::move(stsd);
        at = at->next.get();
    }
    deep->next = std::move(wide);
    EXPECT_EQ(CountList(deep.get()), 300002u);
    md::FreeBoxTree(std::move(deep));
}

TEST(BoxReader, CameraMakerBoxes)
{
    const std::string maker = "OLYMPUS DIGITAL CAMERA";
    // 'thmb': length, then the JPEG whose first four bytes are replaced.
    {
        BoxBuilder b;
        b.Begin("udta");
        b.Begin("thmb").U32(6).U32(0x01020304).U16(0x0506).Zeros(8).End();
        b.End();
        auto udta = Parse(b.Take());
        ASSERT_TRUE(udta);
        auto* thmb = md::BoxAs<md::Mp4ThmbBox>(udta->firstChild.get());
        ASSERT_TRUE(thmb);
        EXPECT_EQ(thmb->thumbnailLength, 6u);
        EXPECT_EQ(thmb->thumbnail, (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xDB, 0x05, 0x06}));
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
    auto tags = [&](const std::string& text, uint32_t length, uint32_t offset, size_t padding) {
        BoxBuilder b;
        b.Begin("TAGS").Text(text).Zeros(235 - text.size() - 1);
        b.Le32(0x11).Le32(0x22).Le32(0x33).Le32(length).Le32(offset);
        b.Zeros(20).U32(0xAABBCCDD).U32(0x01020304).Zeros(padding);
        b.End();
        return b.Take();
    };
    {
        auto box = Parse(tags(maker, 6, 40, 16));
        auto* t = md::BoxAs<md::Mp4TagsBox>(box.get());
        ASSERT_TRUE(t);
        EXPECT_EQ(t->tagValues, (std::array<uint32_t, 3>{0x11, 0x22, 0x33}));
        EXPECT_EQ(t->thumbnailLength, 6u);
        EXPECT_EQ(t->thumbnail, (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xDB, 0x01, 0x02}));
    }
    {
        // The thumbnail would run past the box: no thumbnail, the record stays.
        auto box = Parse(tags(maker, 60, 40, 16));
        auto* t = md::BoxAs<md::Mp4TagsBox>(box.get());
        ASSERT_TRUE(t);
        EXPECT_EQ(t->thumbnailLength, 0u);
        EXPECT_TRUE(t->thumbnail.empty());
        auto far = Parse(tags(maker, 4, 0xFFFFFFF0u, 16));
        ASSERT_TRUE(md::BoxAs<md::Mp4TagsBox>(far.get()));
        EXPECT_EQ(md::BoxAs<md::Mp4TagsBox>(far.get())->thumbnailLength, 0u);
    }
    {
        auto other = Parse(tags("OTHER CAMERA", 6, 40, 16));
        auto* t = md::BoxAs<md::Mp4TagsBox>(other.get());
        ASSERT_TRUE(t);
        EXPECT_EQ(t->thumbnailLength, 0u);
        EXPECT_EQ(t->tagValues[0], 0u);
    }
    {
        // A 278-byte 'TAGS' reads as absent and ends its list.
        BoxBuilder b;
        b.Begin("udta").Begin("TAGS").Text(maker).Zeros(278 - 8 - 23).End().Begin("free").End().End();
        auto udta = Parse(b.Take());
        ASSERT_TRUE(udta);
        EXPECT_FALSE(udta->firstChild);
        BoxBuilder least;
        least.Begin("TAGS").Text(maker).Zeros(279 - 8 - 23).End();
        auto box = Parse(least.Take());
        ASSERT_TRUE(md::BoxAs<md::Mp4TagsBox>(box.get()));
        EXPECT_EQ(box->size, 279u);
    }
    // 'OLYM', '©inf', '©fmt', 'INFO'.
    {
        BoxBuilder b;
        b.Begin("udta");
        b.Begin("OLYM").U32(1).U32(2).U32(3).U16(4).Text(maker, false).Zeros(2).End();
        b.Begin("\xA9inf").U32(0x0A0B0C0D).Text(maker).Zeros(25).U8(0x5A).End();
        b.Begin("\xA9" "fmt").U32(9).U64(0x1112131415161718ull).U32(0x21222324).U16(0x3132).End();
        b.Begin("INFO").U32(0).U32(1).U32(0).U32(2).U32(0).U32(3).U32(0).U32(2).End();
        b.End();
        auto udta = Parse(b.Take());
        ASSERT_TRUE(udta);
        auto* olym = md::FindBoxAs<md::Mp4OlymBox>(udta->firstChild.get(), FourCC("OLYM"));
        ASSERT_TRUE(olym);
        EXPECT_EQ(std::string(olym->makerText.begin(), olym->makerText.begin() + 22), maker);
        EXPECT_EQ(olym->raw12, (std::array<uint8_t, 2>{0, 4}));
        auto* inf = md::FindBoxAs<md::Mp4CinfBox>(udta->firstChild.get(), 0xA9696E66u);
        ASSERT_TRUE(inf);
        EXPECT_EQ(inf->value, 0x0A0B0C0Du);
        EXPECT_EQ(std::string(inf->makerText.begin(), inf->makerText.begin() + 22), maker);
        EXPECT_EQ(inf->trailer, 0x5A);
        auto* fmt = md::FindBoxAs<md::Mp4CfmtBox>(udta->firstChild.get(), 0xA9666D74u);
        ASSERT_TRUE(fmt);
        EXPECT_EQ(fmt->value, 9u);
        EXPECT_EQ(fmt->raw4[7], 0x18);
        EXPECT_EQ(fmt->raw12[0], 0x21);
        EXPECT_EQ(fmt->raw16[1], 0x32);
        auto* info = md::FindBoxAs<md::Mp4InfoBox>(udta->firstChild.get(), FourCC("INFO"));
        ASSERT_TRUE(info);
        EXPECT_EQ(info->value12, 1u);
        EXPECT_EQ(info->value20, 2u);
        EXPECT_EQ(info->value28, 3u);
        EXPECT_EQ(info->aspectCode, 2u);
    }
}

TEST(BoxReader, FragmentBoxes)
{
    BoxBuilder b;
    b.Begin("moof");
    b.BeginFull("mfhd", 0, 0).U32(3).End();
    b.Begin("traf");
    // base_data_offset, sample_description_index, default duration and flags
    // (no default size).
    b.BeginFull("tfhd", 0, 0x2B).U32(2).U64(0x100000000ull).U32(1).U32(1024).U32(0x01010000).End();
    // data_offset, then duration and composition offset for each of 2 samples.
    b.BeginFull("trun", 1, 0x901).U32(2).U32(0xFFFFFFF0u).U32(512).U32(100).U32(1024).U32(0xFFFFFF00u).End();
    b.End().End();
    b.Begin("mvex").BeginFull("mehd", 1, 0).U64(0x200000000ull).End();
    b.BeginFull("trex", 0, 0).U32(2).U32(1).U32(1024).U32(300).U32(0x02000000).End().End();
    b.Begin("mfra").BeginFull("tfra", 0, 0).U32(2).U32(0x3F & 0x1B).U32(0).End();
    b.BeginFull("mfro", 0, 0).U32(77).End().End();
    const std::vector<uint8_t> bytes = b.Take();
    const md::Mp4BoxList list = md::ParseBoxList(bytes.data(), bytes.size());
    const Mp4Box* root = list.first.get();
    ASSERT_EQ(CountList(root), 3u);

    auto* mfhd = md::FindBoxAs<md::Mp4MfhdBox>(root, FourCC("mfhd"));
    ASSERT_TRUE(mfhd);
    EXPECT_EQ(mfhd->sequenceNumber, 3u);
    auto* tfhd = md::FindBoxAs<md::Mp4TfhdBox>(root, FourCC("tfhd"));
    ASSERT_TRUE(tfhd);
    EXPECT_EQ(tfhd->trackId, 2u);
    EXPECT_EQ(tfhd->baseDataOffset, 0x100000000ull);
    EXPECT_EQ(tfhd->sampleDescriptionIndex, 1u);
    EXPECT_EQ(tfhd->defaultSampleDuration, 1024u);
    EXPECT_EQ(tfhd->defaultSampleSize, 0u);
    EXPECT_EQ(tfhd->defaultSampleFlags, 0x01010000u);
    auto* trun = md::FindBoxAs<md::Mp4TrunBox>(root, FourCC("trun"));
    ASSERT_TRUE(trun);
    EXPECT_EQ(trun->version, 1);
    EXPECT_EQ(trun->sampleCount, 2u);
    EXPECT_EQ(static_cast<int32_t>(trun->dataOffset), -16);
    EXPECT_EQ(trun->firstSampleFlags, 0u);
    EXPECT_EQ(trun->sampleDuration, (std::vector<uint32_t>{512, 1024}));
    EXPECT_EQ(trun->sampleCompositionTimeOffset, (std::vector<uint32_t>{100, 0xFFFFFF00u}));
    EXPECT_TRUE(trun->sampleSize.empty());
    EXPECT_TRUE(trun->sampleFlags.empty());
    auto* mehd = md::FindBoxAs<md::Mp4MehdBox>(root, FourCC("mehd"));
    ASSERT_TRUE(mehd);
    EXPECT_EQ(mehd->fragmentDuration, 0x200000000ull);
    auto* trex = md::FindBoxAs<md::Mp4TrexBox>(root, FourCC("trex"));
    ASSERT_TRUE(trex);
    EXPECT_EQ(trex->trackId, 2u);
    EXPECT_EQ(trex->defaultSampleSize, 300u);
    EXPECT_EQ(trex->defaultSampleFlags, 0x02000000u);
    auto* tfra = md::FindBoxAs<md::Mp4TfraBox>(root, FourCC("tfra"));
    ASSERT_TRUE(tfra);
    // 0x1B = 01 10 11: traf 1, trun 2, sample 3.
    EXPECT_EQ(tfra->lengthSizeOfTrafNum, 1);
    EXPECT_EQ(tfra->lengthSizeOfTrunNum, 2);
    EXPECT_EQ(tfra->lengthSizeOfSampleNum, 3);
    auto* mfro = md::FindBoxAs<md::Mp4MfroBox>(root, FourCC("mfro"));
    ASSERT_TRUE(mfro);
    EXPECT_EQ(mfro->mfraSize, 77u);
}

TEST(BoxReader, StringsStayInsideTheirBox)
{
    auto hdlr = [](bool nul) {
        BoxBuilder b;
        b.BeginFull("hdlr", 0, 0).U32(0).Type("soun").Zeros(12).Text("Sound", nul).End();
        return b.Take();
    };
    auto withNul = Parse(hdlr(true));
    ASSERT_TRUE(md::BoxAs<md::Mp4HdlrBox>(withNul.get()));
    EXPECT_EQ(md::BoxAs<md::Mp4HdlrBox>(withNul.get())->name, "Sound");
    EXPECT_EQ(md::BoxAs<md::Mp4HdlrBox>(withNul.get())->nameLength, 6u);
    // No NUL before the end of the box (a QuickTime counted string): absent,
    // even when a NUL follows the box in memory.
    std::vector<uint8_t> bytes = hdlr(false);
    bytes.push_back(0);
    auto without = md::ParseBox(bytes.data(), bytes.size() - 1);
    auto* h = md::BoxAs<md::Mp4HdlrBox>(without.get());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->handlerType, FourCC("soun"));
    EXPECT_EQ(h->nameLength, 0u);
    EXPECT_TRUE(h->name.empty());

    BoxBuilder b;
    b.BeginFull("url ", 0, 0).Text("file.mp4").End();
    b.BeginFull("urn ", 0, 0).Text("name").Text("where").End();
    b.BeginFull("urn ", 0, 0).Text("unterminated", false).End();
    const std::vector<uint8_t> entries = b.Take();
    const md::Mp4BoxList list = md::ParseBoxList(entries.data(), entries.size());
    ASSERT_EQ(CountList(list.first.get()), 3u);
    auto* url = md::BoxAs<md::Mp4DataEntryBox>(list.first.get());
    ASSERT_TRUE(url);
    EXPECT_EQ(url->location, "file.mp4");
    EXPECT_EQ(url->locationLength, 9u);
    EXPECT_EQ(url->nameLength, 0u);
    auto* urn = md::BoxAs<md::Mp4DataEntryBox>(list.first->next.get());
    ASSERT_TRUE(urn);
    EXPECT_EQ(urn->name, "name");
    EXPECT_EQ(urn->location, "where");
    auto* broken = md::BoxAs<md::Mp4DataEntryBox>(list.first->next->next.get());
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->nameLength, 0u);
    EXPECT_EQ(broken->locationLength, 0u);
}

TEST(BoxReader, ReadMp4FileOpensThePath)
{
    md::test::TempDir dir;
    const auto path = dir / "movie.mp4";
    md::test::WriteFileBytes(path, SmallMovie());
    auto root = md::ReadMp4File(path.wstring().c_str());
    ASSERT_TRUE(root);
    EXPECT_EQ(CountList(root.get()), 3u);
    EXPECT_FALSE(md::ReadMp4File((dir / "missing.mp4").wstring().c_str()));
    EXPECT_FALSE(md::ReadMp4File(nullptr));
}

// ---- Sample files against ffprobe ------------------------------------------------

struct FileDifference {
    const char* reason;
};

// Files where the box reader's rules give another answer than ffprobe.
const std::map<std::string, FileDifference> kNoTree = {
    {"mp4_broken_no_moov.mp4", {"no 'moov' box (ffprobe fails on it too)"}},
    {"mov_ios9_mebx.mov",
     {"two bytes trail the last top-level box ('moov' ends at 546092 of 546094), so the top-level boxes do "
      "not cover the file exactly"}},
};

struct FieldDifference {
    int stream;
    const char* field;
    int64_t value;  // what the sample entry says
    const char* reason;
};

const std::multimap<std::string, FieldDifference> kFieldDifferences = {
    {"3gp_amrnb_audio.3gp",
     {0, "channels", 2,
      "the 'samr' entry stores channelcount 2 as 3GPP TS 26.244 fixes it; ffprobe reports the AMR decoder's 1"}},
};

bool IsMp4Name(const std::string& name)
{
    for (const char* ext : {".mp4", ".mov", ".3gp"})
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ext) == 0)
            return true;
    return false;
}

std::string TypeText(uint32_t type)
{
    std::string s;
    for (int i = 3; i >= 0; --i)
        s += static_cast<char>(type >> (8 * i));
    return s;
}

int64_t Expected(const std::string& file, int stream, const char* field, int64_t ffprobe)
{
    auto range = kFieldDifferences.equal_range(file);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second.stream == stream && std::string(it->second.field) == field)
            return it->second.value;
    return ffprobe;
}

void CheckSamplesIn(const std::filesystem::path& dir)
{
    if (dir.empty() || !std::filesystem::exists(dir))
        GTEST_SKIP() << "no sample directory " << dir;
    int checked = 0;
    for (const auto& path : md::test::MediaFiles(dir)) {
        const std::string name = path.filename().string();
        if (!IsMp4Name(name))
            continue;
        SCOPED_TRACE(name);
        const auto jsonPath = dir / "reference" / (name + ".ffprobe.json");
        if (!std::filesystem::exists(jsonPath))
            continue;
        std::ifstream in(jsonPath);
        const nlohmann::json probe = nlohmann::json::parse(in, nullptr, false);
        ASSERT_FALSE(probe.is_discarded());

        auto root = md::ReadMp4File(path.wstring().c_str());
        if (kNoTree.count(name)) {
            EXPECT_FALSE(root) << kNoTree.at(name).reason;
            continue;
        }
        ASSERT_TRUE(root);
        const Mp4Box* moov = md::FindBox(root.get(), FourCC("moov"));
        ASSERT_TRUE(moov);
        const auto& streams = probe.at("streams");
        // ffprobe lists one stream per track, in track order.
        int index = 0;
        for (const Mp4Box* trak = md::FindBox(moov->firstChild.get(), FourCC("trak")); trak != nullptr;
             trak = trak->next.get()) {
            if (trak->type != FourCC("trak"))
                continue;
            ASSERT_LT(index, static_cast<int>(streams.size()));
            const auto& s = streams[static_cast<size_t>(index)];
            SCOPED_TRACE("track " + std::to_string(index));
            auto* stsd = md::FindBoxAs<md::Mp4StsdBox>(trak->firstChild.get(), FourCC("stsd"));
            ASSERT_TRUE(stsd);
            const Mp4Box* entry = stsd->entries.get();
            ASSERT_TRUE(entry);
            EXPECT_EQ(TypeText(entry->type), s.value("codec_tag_string", ""));
            const std::string kind = s.value("codec_type", "");
            if (kind == "video") {
                auto* v = md::BoxAs<md::Mp4VisualSampleEntry>(entry);
                ASSERT_TRUE(v);
                EXPECT_EQ(v->width, Expected(name, index, "width", s.at("width").get<int64_t>()));
                EXPECT_EQ(v->height, Expected(name, index, "height", s.at("height").get<int64_t>()));
            } else if (kind == "audio") {
                auto* a = md::BoxAs<md::Mp4AudioSampleEntry>(entry);
                ASSERT_TRUE(a);
                EXPECT_EQ(a->channelCount, Expected(name, index, "channels", s.at("channels").get<int64_t>()));
                EXPECT_EQ(a->sampleRate,
                          Expected(name, index, "sample_rate", std::stoll(s.at("sample_rate").get<std::string>())));
            }
            ++index;
        }
        EXPECT_EQ(index, static_cast<int>(streams.size()));
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(BoxReaderFiles, BundledSamplesAgreeWithFfprobe) { CheckSamplesIn(md::test::TestDataDir()); }

TEST(BoxReaderFiles, RealWorldSamplesAgreeWithFfprobe) { CheckSamplesIn(md::test::RealWorldDir()); }

}  // namespace
