#include <gtest/gtest.h>

#include <tuple>

#include "mediadetect/interfaces.h"
#include "platform/guid.h"
#include "platform/text.h"

namespace md {
namespace {

TEST(Text, Utf8WideAndFixedBuffers)
{
    // "Grüße, 日本, 😀": 2-, 3- and 4-byte sequences, both ways.
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e, \xE6\x97\xA5\xE6\x9C\xAC, \xF0\x9F\x98\x80";
    const std::wstring wide = Utf8ToWide(utf8);
    ASSERT_EQ(wide.size(), 12u);
    EXPECT_EQ(std::tuple(wide[2], wide[7], uint32_t(wide[11])), std::tuple(L'\u00FC', L'\u65E5', 0x1F600u));
    EXPECT_EQ(WideToUtf8(wide), utf8);

    // A lone continuation byte, an overlong '/', a truncated 3-byte sequence, an encoded
    // surrogate: each becomes U+FFFD, the letters stay; a lone surrogate going out too.
    const std::wstring bad = Utf8ToWide("a\x80" "b\xC0\xAF" "c\xE6\x97" "d\xED\xA0\x80");
    std::wstring letters;
    for (wchar_t c : bad)
        if (c != 0xFFFD)
            letters += c;
    EXPECT_EQ(letters, L"abcd");
    EXPECT_EQ(bad.back(), static_cast<wchar_t>(0xFFFD));
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");

    // Fixed buffers are cut at character boundaries: "aé€" needs 1 + 2 + 3 bytes, only "aé" fits
    // in 4 bytes and the terminator.
    wchar_t w[4];
    EXPECT_TRUE(AnsiToWideBuffer("abc", w, 4));
    EXPECT_FALSE(AnsiToWideBuffer("abcd", w, 4));
    EXPECT_EQ(std::wstring(w), L"abc");
    char narrow[5];
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
    EXPECT_EQ(GuidToString(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");
    auto parsed = GuidFromString("{5a486531-0201-43e0-bd81-d544bb08d0dc}");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_TRUE(*parsed == CLSID_ZPMediaDetect);
    for (const char* bad : {"5a486531-0201-43e0-bd81-d544bb08d0dc", "{5a486531-0201-43e0-bd81-d544bb08d0dg}",
                            "{5a486531+0201-43e0-bd81-d544bb08d0dc}"})
        EXPECT_FALSE(GuidFromString(bad).has_value()) << bad;
}

}  // namespace
}  // namespace md
