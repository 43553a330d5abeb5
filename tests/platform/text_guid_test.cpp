#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mediadetect/interfaces.h"
#include "platform/guid.h"
#include "platform/module.h"
#include "platform/text.h"

namespace md {
namespace {

TEST(Text, Utf8WideAndFixedBuffers)
{
    // Both ways at the edges of the sequence lengths and the surrogate range (RFC 3629); just past them and in
    // a rejected sequence, each byte becomes one U+FFFD, and a lone surrogate going out too.
    const std::pair<uint32_t, const char*> edges[] = {{0x7F, "\x7F"},
                                                      {0x80, "\xC2\x80"},
                                                      {0x7FF, "\xDF\xBF"},
                                                      {0x800, "\xE0\xA0\x80"},
                                                      {0xD7FF, "\xED\x9F\xBF"},
                                                      {0xE000, "\xEE\x80\x80"},
                                                      {0x10000, "\xF0\x90\x80\x80"},
                                                      {0x10FFFF, "\xF4\x8F\xBF\xBF"}};
    for (const auto& [cp, bytes] : edges) {
        EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(cp))), bytes) << cp;
        EXPECT_EQ(Utf8ToWide(bytes), std::wstring(1, static_cast<wchar_t>(cp))) << cp;
    }
    for (uint32_t cp : {0xD800u, 0xDFFFu, 0x110000u})
        EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(cp))), "\xEF\xBF\xBD") << cp;
    for (const char* rejected :
         {"\x80", "\xC0\xAF", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF"})
        EXPECT_EQ(Utf8ToWide(rejected), std::wstring(std::strlen(rejected), static_cast<wchar_t>(0xFFFD))) << rejected;

    // Fixed buffers are cut at character boundaries: of "aé€" (1 + 2 + 3 bytes) only "aé" fits in 4 and the end.
    wchar_t w[4];
    EXPECT_TRUE(AnsiToWideBuffer("abc", w, 4) && !AnsiToWideBuffer("abcd", w, 4) && std::wstring(w) == L"abc");
    char narrow[5];
    EXPECT_TRUE(!WideToAnsiBuffer(L"a\u00E9\u20AC", narrow, sizeof narrow) && std::string(narrow) == "a\xC3\xA9");
    EXPECT_TRUE(WideToAnsiBuffer(L"a\u00E9", narrow, sizeof narrow));
}

TEST(Guid, RegistryFormIsBracedUpperCaseAndParsesBack)
{
    wchar_t text[39];
    ASSERT_EQ(StringFromGUID2(CLSID_ZPMediaDetect, text, 39), 39);
    EXPECT_EQ(std::wstring(text), L"{5A486531-0201-43E0-BD81-D544BB08D0DC}");
    EXPECT_EQ(StringFromGUID2(CLSID_ZPMediaDetect, text, 38), 0);
    EXPECT_EQ(GuidToString(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");
    EXPECT_TRUE(GuidFromString("{5a486531-0201-43e0-bd81-d544bb08d0dc}") == CLSID_ZPMediaDetect);
    // Hex digits at the edges of '0'..'9', 'a'..'f' and 'A'..'F', and the characters just outside them.
    EXPECT_EQ(GuidFromString("{09afAF90-0000-0000-0000-000000000000}").value_or(GUID{}).Data1, 0x09AFAF90u);
    std::vector<std::string> bad = {"5a486531-0201-43e0-bd81-d544bb08d0dc", "{5a486531+0201-43e0-bd81-d544bb08d0dc}"};
    for (char c : {'/', ':', '`', 'g', '@', 'G'})
        bad.push_back(std::string("{") + c + "0000000-0000-0000-0000-000000000000}");
    for (const std::string& b : bad)
        EXPECT_FALSE(GuidFromString(b).has_value()) << b;
}

TEST(Module, FileNameFitsOrIsCutWithTheTerminator)
{
    const HMODULE self = ModuleFromAddress(reinterpret_cast<const void*>(&ModuleFromAddress));
    char full[4096];
    const DWORD len = GetModuleFileNameA(self, full, sizeof full);
    ASSERT_TRUE(len > 1 && std::strlen(full) == len);
    std::vector<char> out(len + 1, 'x');
    EXPECT_EQ(GetModuleFileNameA(self, out.data(), len + 1), len);  // exactly room for the terminator
    EXPECT_EQ(std::pair(std::string(out.data()), GetLastError()), std::pair(std::string(full), DWORD(ERROR_SUCCESS)));
    EXPECT_EQ(GetModuleFileNameA(self, out.data(), len), len);  // one short: cut
    EXPECT_EQ(std::pair(std::string(out.data()), GetLastError()),
              std::pair(std::string(full, len - 1), DWORD(ERROR_FILENAME_EXCED_RANGE)));
    EXPECT_EQ(GetModuleFileNameA(nullptr, out.data(), len), 0u);
}

}  // namespace
}  // namespace md
