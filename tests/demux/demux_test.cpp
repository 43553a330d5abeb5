#include "demux/demux.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
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

TEST(StreamRecord, ZeroFilledCodecBytesAndSubtitleView)
{
    // Dirty the heap first so that a record that is merely allocated would not read zero by luck.
    for (int i = 0; i < 4; ++i)
        std::memset(std::make_unique<uint8_t[]>(sizeof(StreamRecord)).get(), 0xA5, sizeof(StreamRecord));
    auto r = NewStreamRecord();
    const std::vector<uint8_t> zero(sizeof(StreamRecord), 0);
    EXPECT_EQ(std::memcmp(r.get(), zero.data(), zero.size()), 0);

    // The subtitle view shares the class-dependent block; the fields around it keep their values.
    r = Record(StreamClass::Subtitle, 3);
    r->codec = StreamCodec::TextUtf8, r->extraData2Length = 42, r->frameRate = 12.5;
    static const uint8_t priv[] = {1, 2, 3};
    SubtitleParams s{};
    std::memcpy(s.language, "eng", 4);
    const char16_t name[] = u"Commentary";
    std::memcpy(s.trackName, name, sizeof name);
    s.trackName[255] = u'z';
    s.codecPrivate = priv, s.codecPrivateSize = sizeof priv;
    r->SetSubtitle(s);
    const SubtitleParams back = r->Subtitle();
    EXPECT_EQ(std::memcmp(back.language, "eng", 4), 0);
    EXPECT_EQ(std::tuple(std::u16string(back.trackName), back.trackName[255], back.codecPrivate, back.codecPrivateSize),
              std::tuple(std::u16string(u"Commentary"), u'z', priv, 3u));
    EXPECT_EQ(std::tuple(r->streamClass, r->streamId, r->codec, r->extraData2Length, r->frameRate),
              std::tuple(StreamClass::Subtitle, 3u, StreamCodec::TextUtf8, 42, 12.5));
}

TEST(StreamList, AppendLookupAndClear)
{
    StreamList list;
    list.Append(Record(StreamClass::Video, 0xE0));
    list.Append(nullptr);  // a record that could not be allocated
    list.Append(Record(StreamClass::Audio, 0xC0));
    list.Append(Record(StreamClass::Audio, 0xBD));
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(std::tuple(list.At(1)->streamId, list.At(3), list.At(0xFFFFFFFFu),
                         list.First(StreamClass::Audio)->streamId, list.First(StreamClass::Subtitle)),
              std::tuple(0xC0u, nullptr, nullptr, 0xC0u, nullptr));
    EXPECT_EQ(std::tuple(list.Contains(0xC0), list.Contains(0xC1), list.Contains(StreamClass::Audio, 0xBD),
                         list.Contains(StreamClass::Video, 0xBD)),
              std::tuple(true, false, true, false));
    list.Clear();
    EXPECT_EQ(std::tuple(list.Count(), list.At(0), list.Contains(0xE0)), std::tuple(0u, nullptr, false));
}

}  // namespace
}  // namespace md
