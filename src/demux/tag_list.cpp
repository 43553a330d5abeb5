#include "demux/tag_list.h"

#include <cstdint>

namespace md {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 character that opens s (1 to 4), or 0 when s does not open with one.
size_t CharLength(std::string_view s)
{
    const auto b = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
    const auto cont = [&](size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
    const uint8_t c = b(0);
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) >= 0xA0))
            return 0;  // overlong, or a UTF-16 surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if ((c == 0xF0 && b(1) < 0x90) || (c == 0xF4 && b(1) >= 0x90))
            return 0;  // overlong, or past U+10FFFF
        return 4;
    }
    return 0;
}

}  // namespace

std::string CleanUtf8(std::string_view text, size_t maxBytes)
{
    std::string out;
    out.reserve(text.size() < maxBytes ? text.size() : maxBytes);
    size_t i = 0;
    while (i < text.size() && text[i] != '\0') {
        const size_t n = CharLength(text.substr(i));
        const std::string_view piece = n != 0 ? text.substr(i, n) : kReplacement;
        if (out.size() + piece.size() > maxBytes)
            break;
        out += piece;
        i += n != 0 ? n : 1;
    }
    return out;
}

bool IsValidUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t n = CharLength(text.substr(i));
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

bool TagList::Set(std::string_view key, std::string_view value)
{
    std::string k = CleanUtf8(key, kMaxTagKeyBytes);
    std::string v = CleanUtf8(value, kMaxTagValueBytes);
    if (k.empty() || v.empty())
        return false;
    for (Tag& t : m_tags) {
        if (t.key == k) {
            t.value = std::move(v);
            return true;
        }
    }
    if (m_tags.size() >= kMaxTags)
        return false;
    m_tags.push_back({std::move(k), std::move(v)});
    return true;
}

bool TagList::SetIfMissing(std::string_view key, std::string_view value)
{
    if (Find(CleanUtf8(key, kMaxTagKeyBytes)) != nullptr)
        return false;
    return Set(key, value);
}

const std::string* TagList::Find(std::string_view key) const
{
    for (const Tag& t : m_tags)
        if (t.key == key)
            return &t.value;
    return nullptr;
}

void CoverLocation::Offer(uint64_t pictureOffset, uint64_t pictureLength, bool frontCover, bool base64)
{
    if (pictureLength == 0 || pictureLength > kMaxCoverBytes || (Found() && (front || !frontCover)))
        return;
    offset = pictureOffset;
    length = uint32_t(pictureLength);
    front = frontCover;
    base64FlacPicture = base64;
}

}  // namespace md
