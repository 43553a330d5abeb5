#include "platform/guid.h"

#include <cstdio>

int StringFromGUID2(const GUID& guid, wchar_t* out, int max)
{
    if (out == nullptr || max < 39)
        return 0;
    const std::string text = md::GuidToString(guid);
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<wchar_t>(text[i]);
    out[text.size()] = L'\0';
    return static_cast<int>(text.size() + 1);
}

namespace md {

std::string GuidToString(const GUID& g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::optional<GUID> GuidFromString(std::string_view text)
{
    // {8-4-4-4-12}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return std::nullopt;
    uint8_t bytes[16];
    size_t nibbles = 0;
    for (size_t i = 1; i < 37; ++i) {
        const char c = text[i];
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (c != '-')
                return std::nullopt;
            continue;
        }
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0)
            return std::nullopt;
        if (nibbles % 2 == 0)
            bytes[nibbles / 2] = static_cast<uint8_t>(v << 4);
        else
            bytes[nibbles / 2] |= static_cast<uint8_t>(v);
        ++nibbles;
    }
    GUID g{};
    g.Data1 = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    g.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    g.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = bytes[8 + i];
    return g;
}

}  // namespace md
