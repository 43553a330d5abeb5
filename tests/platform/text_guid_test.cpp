#include <gtest/gtest.h>

#include "mediadetect/interfaces.h"
#include "platform/guid.h"
#include "platform/text.h"

namespace md {
namespace {

TEST(Text, Utf8AndWideRoundTripIncludingOtherPlanes)
{
    // "Grüße, 日本, 😀": 2-, 3- and 4-byte sequences.
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e, \xE6\x97\xA5\xE6\x9C\xAC, \xF0\x9F\x98\x80";
    const std::wstring wide = Utf8ToWide(utf8);
    ASSERT_EQ(wide.size(), 12u);
    EXPECT_EQ(wide[2], L'\u00FC');
    EXPECT_EQ(wide[7], L'\u65E5');
    EXPECT_EQ(static_cast<uint32_t>(wide[11]), 0x1F600u);
    EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(Text, InvalidSequencesBecomeReplacementCharacters)
{
    // A lone continuation byte, an overlong '/', a truncated 3-byte sequence, an encoded surrogate.
    const std::wstring wide = Utf8ToWide("a\x80" "b\xC0\xAF" "c\xE6\x97" "d\xED\xA0\x80");
    EXPECT_EQ(wide.front(), L'a');
    EXPECT_EQ(wide.back(), static_cast<wchar_t>(0xFFFD));
    EXPECT_NE(wide.find(L'b'), std::wstring::npos);
    EXPECT_NE(wide.find(L'c'), std::wstring::npos);
    EXPECT_NE(wide.find(L'd'), std::wstring::npos);
    for (wchar_t c : wide)
        EXPECT_TRUE(c == L'a' || c == L'b' || c == L'c' || c == L'd' || c == 0xFFFD) << static_cast<uint32_t>(c);
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, FixedBuffersAreCutAtCharacterBoundaries)
{
    wchar_t wide[4];
    EXPECT_TRUE(AnsiToWideBuffer("abc", wide, 4));
    EXPECT_EQ(std::wstring(wide), L"abc");
    EXPECT_FALSE(AnsiToWideBuffer("abcd", wide, 4));
    EXPECT_EQ(std::wstring(wide), L"abc");

    char narrow[5];
    // "aé€" needs 1 + 2 + 3 bytes: only "aé" fits in 4 bytes plus the terminator.
    EXPECT_FALSE(WideToAnsiBuffer(L"a\u00E9\u20AC", narrow, sizeof narrow));
    EXPECT_STREQ(narrow, "a\xC3\xA9");
    EXPECT_TRUE(WideToAnsiBuffer(L"a\u00E9", narrow, sizeof narrow));
}

TEST(Guid, RegistryFormIsBracedUpperCaseAndParsesBack)
{
    wchar_t text[39];
    ASSERT_EQ(StringFromGUID2(CLSID_ZPMediaDetect, text, 39), 39);
    EXPECT_EQ(std::wstring(text), L"{5A486531-0201-43E0-BD81-D544BB08D0DC}");
    EXPECT_EQ(StringFromGUID2(CLSID_ZPMediaDetect, text, 38), 0);

    auto parsed = GuidFromString("{5a486531-0201-43e0-bd81-d544bb08d0dc}");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_TRUE(*parsed == CLSID_ZPMediaDetect);
    EXPECT_EQ(GuidToString(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");

    EXPECT_FALSE(GuidFromString("5a486531-0201-43e0-bd81-d544bb08d0dc").has_value());
    EXPECT_FALSE(GuidFromString("{5a486531-0201-43e0-bd81-d544bb08d0dg}").has_value());
    EXPECT_FALSE(GuidFromString("{5a486531+0201-43e0-bd81-d544bb08d0dc}").has_value());
}

}  // namespace
}  // namespace md
