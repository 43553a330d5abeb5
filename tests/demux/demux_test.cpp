#include "demux/demux.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace md {
namespace {

std::unique_ptr<StreamRecord> Record(StreamClass cls, uint32_t id)
{
    auto r = NewStreamRecord();
    r->streamClass = cls;
    r->streamId = id;
    return r;
}

TEST(StreamRecord, ZeroFilledAndCodecSpecificBytes)
{
    // Dirty the heap first so that a record that is merely allocated would not
    // read zero by luck.
    for (int i = 0; i < 4; ++i)
        std::memset(std::make_unique<uint8_t[]>(sizeof(StreamRecord)).get(), 0xA5, sizeof(StreamRecord));
    auto r = NewStreamRecord();
    ASSERT_NE(r, nullptr);
    const std::vector<uint8_t> zero(sizeof(StreamRecord), 0);
    EXPECT_EQ(std::memcmp(r.get(), zero.data(), zero.size()), 0);

    // An MPEG audio header FF FD 90 64 kept with its first byte in the lowest
    // byte: the protection bit is bit 0 of the second byte.
    const uint8_t header[4] = {0xFF, 0xFD, 0x90, 0x64};
    for (size_t k = 0; k < 4; ++k)
        r->audio.SetCodecByte(3, k, header[k]);
    EXPECT_EQ(r->audio.codecSpecific[3], 0x6490FDFFu);
    EXPECT_EQ(r->audio.CodecByte(3, 1), 0xFD);
    // Setting one byte keeps the other three.
    r->audio.codecSpecific[2] = 0xFFFF0000u;
    r->audio.SetCodecByte(2, 0, 1);
    r->audio.SetCodecByte(2, 3, 0);
    EXPECT_EQ(r->audio.codecSpecific[2], 0x00FF0001u);
    // Out-of-range indexes neither read nor write.
    r->audio.SetCodecByte(5, 0, 9);
    r->audio.SetCodecByte(0, 4, 9);
    EXPECT_EQ(r->audio.codecSpecific[0], 0u);
    EXPECT_EQ(r->audio.CodecByte(5, 0), 0);
}

TEST(StreamRecord, SubtitleViewRoundTripsAndSparesTheFixedFields)
{
    auto r = Record(StreamClass::Subtitle, 3);
    r->codec = StreamCodec::TextUtf8;
    r->extraData2Length = 42;
    r->frameRate = 12.5;

    static const uint8_t priv[] = {1, 2, 3};
    SubtitleParams s{};
    std::memcpy(s.language, "eng", 4);
    const char16_t name[] = u"Commentary";
    std::memcpy(s.trackName, name, sizeof name);
    s.trackName[255] = u'z';
    s.codecPrivate = priv;
    s.codecPrivateSize = sizeof priv;
    r->SetSubtitle(s);

    const SubtitleParams back = r->Subtitle();
    EXPECT_EQ(std::memcmp(back.language, "eng", 4), 0);
    EXPECT_EQ(std::u16string(back.trackName), u"Commentary");
    EXPECT_EQ(back.trackName[255], u'z');
    EXPECT_EQ(back.codecPrivate, priv);
    EXPECT_EQ(back.codecPrivateSize, 3u);
    // The fields around the class-dependent block keep their values.
    EXPECT_EQ(r->streamClass, StreamClass::Subtitle);
    EXPECT_EQ(r->streamId, 3u);
    EXPECT_EQ(r->codec, StreamCodec::TextUtf8);
    EXPECT_EQ(r->extraData2Length, 42);
    EXPECT_EQ(r->frameRate, 12.5);
}

TEST(StreamList, AppendLookupAndClear)
{
    StreamList list;
    list.Append(Record(StreamClass::Video, 0xE0));
    list.Append(nullptr);  // a record that could not be allocated
    list.Append(Record(StreamClass::Audio, 0xC0));
    list.Append(Record(StreamClass::Audio, 0xBD));
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.At(1)->streamId, 0xC0u);
    EXPECT_EQ(list.At(3), nullptr);
    EXPECT_EQ(list.At(0xFFFFFFFFu), nullptr);
    EXPECT_TRUE(list.Contains(0xC0));
    EXPECT_FALSE(list.Contains(0xC1));
    EXPECT_TRUE(list.Contains(StreamClass::Audio, 0xBD));
    EXPECT_FALSE(list.Contains(StreamClass::Video, 0xBD));
    ASSERT_NE(list.First(StreamClass::Audio), nullptr);
    EXPECT_EQ(list.First(StreamClass::Audio)->streamId, 0xC0u);
    EXPECT_EQ(list.First(StreamClass::Subtitle), nullptr);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.At(0), nullptr);
    EXPECT_FALSE(list.Contains(0xE0));
}

}  // namespace
}  // namespace md
