#include "tags/tag_text.h"

#include <cstdint>

#include "demux/tag_list.h"

namespace md {
namespace {

constexpr uint32_t kReplacementChar = 0xFFFD;

// Appends code point c in UTF-8 unless that would pass maxBytes; false when it did not fit.
bool AppendUtf8(std::string& out, uint32_t c, size_t maxBytes)
{
    char b[4];
    size_t n = 0;
    if (c < 0x80) {
        b[n++] = char(c);
    } else if (c < 0x800) {
        b[n++] = char(0xC0 | c >> 6), b[n++] = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        b[n++] = char(0xE0 | c >> 12), b[n++] = char(0x80 | (c >> 6 & 0x3F)), b[n++] = char(0x80 | (c & 0x3F));
    } else {
        b[n++] = char(0xF0 | c >> 18), b[n++] = char(0x80 | (c >> 12 & 0x3F));
        b[n++] = char(0x80 | (c >> 6 & 0x3F)), b[n++] = char(0x80 | (c & 0x3F));
    }
    if (out.size() + n > maxBytes)
        return false;
    out.append(b, n);
    return true;
}

}  // namespace

std::string Latin1ToUtf8(Bytes text, size_t maxBytes)
{
    std::string out;
    for (const uint8_t c : text)
        if (c == 0 || !AppendUtf8(out, c, maxBytes))
            break;
    return out;
}

std::string Utf8OrLatin1(Bytes text, size_t maxBytes)
{
    return IsValidUtf8(AsText(text)) ? CleanUtf8(AsText(text), maxBytes) : Latin1ToUtf8(text, maxBytes);
}

std::string Utf16ToUtf8(Bytes text, bool bigEndian, size_t maxBytes)
{
    size_t at = 0;
    if (text.size() >= 2 && text[0] == 0xFF && text[1] == 0xFE)
        bigEndian = false, at = 2;
    else if (text.size() >= 2 && text[0] == 0xFE && text[1] == 0xFF)
        bigEndian = true, at = 2;
    else if (text.size() >= 2 && (text[0] == 0) != (text[1] == 0))
        bigEndian = text[0] == 0;
    const auto unit = [&](size_t i) -> uint32_t {
        return bigEndian ? uint32_t(text[i]) << 8 | text[i + 1] : uint32_t(text[i + 1]) << 8 | text[i];
    };
    std::string out;
    while (at + 2 <= text.size()) {
        uint32_t c = unit(at);
        at += 2;
        if (c == 0)
            break;
        if (c >= 0xD800 && c <= 0xDBFF) {
            const uint32_t low = at + 2 <= text.size() ? unit(at) : 0;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                at += 2;
            } else {
                c = kReplacementChar;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = kReplacementChar;
        }
        if (!AppendUtf8(out, c, maxBytes))
            break;
    }
    return out;
}

size_t TerminatedLength(Bytes b, size_t unitBytes, size_t* next)
{
    const size_t step = unitBytes == 2 ? 2 : 1;
    for (size_t i = 0; i + step <= b.size(); i += step) {
        if (b[i] == 0 && (step == 1 || b[i + 1] == 0)) {
            *next = i + step;
            return i;
        }
    }
    *next = b.size();
    return b.size();
}

std::string DvbTextToUtf8(Bytes text, size_t maxBytes)
{
    constexpr uint8_t kIso8859Part5 = 0x01, kIso8859Part15 = 0x0B, kIso8859TwoByte = 0x10, kUcs2 = 0x11, kUtf8 = 0x15,
                      kFirstCharacter = 0x20;
    constexpr uint8_t kLineBreak = 0x8A;
    bool latin1 = false;  // the high half is ISO 8859-1's
    if (!text.empty() && text[0] < kFirstCharacter) {
        const uint8_t table = text[0];
        if (table == kUtf8)
            return CleanUtf8(AsText(text.subspan(1)), maxBytes);
        if (table == kUcs2)
            return Utf16ToUtf8(text.subspan(1), true, maxBytes);
        if (table == kIso8859TwoByte) {
            if (text.size() < 3)
                return {};
            latin1 = text[1] == 0 && text[2] == 1;
            text = text.subspan(3);
        } else if (table >= kIso8859Part5 && table <= kIso8859Part15) {
            text = text.subspan(1);
        } else {
            return {};  // a table of Asian characters or one this reader does not know
        }
    }
    std::string out;
    for (const uint8_t c : text) {
        uint32_t code = c;
        if (c == 0)
            break;
        if (c >= 0x80 && c < 0xA0) {
            if (c != kLineBreak)
                continue;
            code = '\n';
        } else if (c >= 0xA0 && !latin1) {
            code = kReplacementChar;
        }
        if (!AppendUtf8(out, code, maxBytes))
            break;
    }
    return out;
}

}  // namespace md
