#include "demux/demux.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

namespace md {
namespace {

TEST(StreamRecord, ZeroFilled)
{
    // Dirty the heap first: a record merely allocated would not read zero by luck.
    for (int i = 0; i < 4; ++i)
        std::memset(std::make_unique<uint8_t[]>(sizeof(StreamRecord)).get(), 0xA5, sizeof(StreamRecord));
    auto r = NewStreamRecord();
    const std::vector<uint8_t> zero(sizeof(StreamRecord), 0);
    EXPECT_EQ(std::memcmp(r.get(), zero.data(), zero.size()), 0);
}

TEST(StreamList, AppendLookupAndClear)
{
    StreamList list;
    for (const auto& [cls, id] : {std::pair(StreamClass::Video, 0xE0u), std::pair(StreamClass::Audio, 0xC0u),
                                  std::pair(StreamClass::Audio, 0xBDu)}) {
        auto r = NewStreamRecord();
        r->streamClass = cls, r->streamId = id;
        list.Append(std::move(r));
        list.Append(nullptr);  // a record that could not be allocated
    }
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(std::tuple(list.At(1)->streamId, list.At(3), list.First(StreamClass::Audio)->streamId,
                         list.First(StreamClass::Subtitle), list.Contains(0xC0), list.Contains(0xC1)),
              std::tuple(0xC0u, nullptr, 0xC0u, nullptr, true, false));
    EXPECT_EQ(std::pair(list.Contains(StreamClass::Audio, 0xBD), list.Contains(StreamClass::Video, 0xBD)),
              std::pair(true, false));
    list.Clear();
    EXPECT_EQ(std::tuple(list.Count(), list.At(0), list.Contains(0xE0)), std::tuple(0u, nullptr, false));
}

}  // namespace
}  // namespace md
