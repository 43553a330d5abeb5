// Code-page conversion. The ANSI code page of this platform is UTF-8, and
// wchar_t holds UTF-32 code points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace md {

// UTF-8 to wide. Invalid sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view s);
// Wide to UTF-8. Values that are not Unicode scalar values become U+FFFD.
std::string WideToUtf8(std::wstring_view s);

// Fixed-buffer forms as the Win32 conversions work: convert the zero-terminated
// source into out[0..capacity), always terminated. Returns false when the
// result had to be cut (the output then holds the longest prefix that fits,
// never half a character).
bool AnsiToWideBuffer(const char* src, wchar_t* out, size_t capacity);
bool WideToAnsiBuffer(const wchar_t* src, char* out, size_t capacity);

// Whether text starts with prefix (ASCII, given in lower case), the text's letters in any case: schemes, header
// names. A unit past ASCII matches nothing.
template <typename Char>
bool StartsWithNoCase(std::basic_string_view<Char> text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const auto c = static_cast<uint32_t>(text[i]);
        if (c >= 0x80 || (c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c)) != prefix[i])
            return false;
    }
    return true;
}

}  // namespace md
