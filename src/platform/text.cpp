#include "platform/text.h"

#include <cstdint>
#include <cstring>

namespace md {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i], advancing i. Overlong forms, surrogates
// and values above U+10FFFF decode as U+FFFD, consuming one byte.
char32_t DecodeOne(std::string_view s, size_t& i)
{
    const auto b0 = static_cast<uint8_t>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    size_t len = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return kReplacement;
    }
    char32_t cp = len == 2 ? b0 & 0x1F : len == 3 ? b0 & 0x0F : b0 & 0x07;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<uint8_t>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = cp << 6 | (b & 0x3F);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += len;
    return cp;
}

// Appends the UTF-8 form of cp to out (at most 4 bytes).
size_t EncodeOne(char32_t cp, char* out)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | cp >> 6);
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | cp >> 12);
        out[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | cp >> 18);
    out[1] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view s)
{
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();)
        out.push_back(static_cast<wchar_t>(DecodeOne(s, i)));
    return out;
}

std::string WideToUtf8(std::wstring_view s)
{
    std::string out;
    out.reserve(s.size());
    char buf[4];
    for (wchar_t c : s)
        out.append(buf, EncodeOne(static_cast<char32_t>(c), buf));
    return out;
}

bool AnsiToWideBuffer(const char* src, wchar_t* out, size_t capacity)
{
    if (out == nullptr || capacity == 0)
        return false;
    if (src == nullptr) {
        out[0] = L'\0';
        return true;
    }
    std::string_view s(src);
    size_t n = 0;
    for (size_t i = 0; i < s.size();) {
        if (n + 1 >= capacity) {
            out[n] = L'\0';
            return false;
        }
        out[n++] = static_cast<wchar_t>(DecodeOne(s, i));
    }
    out[n] = L'\0';
    return true;
}

bool WideToAnsiBuffer(const wchar_t* src, char* out, size_t capacity)
{
    if (out == nullptr || capacity == 0)
        return false;
    if (src == nullptr) {
        out[0] = '\0';
        return true;
    }
    size_t n = 0;
    char buf[4];
    for (const wchar_t* p = src; *p != L'\0'; ++p) {
        size_t len = EncodeOne(static_cast<char32_t>(*p), buf);
        if (n + len + 1 > capacity) {
            out[n] = '\0';
            return false;
        }
        std::memcpy(out + n, buf, len);
        n += len;
    }
    out[n] = '\0';
    return true;
}

}  // namespace md
