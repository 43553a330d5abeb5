#include "tags/mp4_tags.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "tags/id3v1_ape.h"
#include "tags/tag_keys.h"
#include "tags/tag_text.h"

namespace md {
namespace {

constexpr uint32_t kHdlr = FourCC("hdlr"), kIlst = FourCC("ilst"), kKeys = FourCC("keys"), kMeta = FourCC("meta"),
                   kData = FourCC("data"), kName = FourCC("name"), kFree = FourCC("----"), kTrkn = FourCC("trkn"),
                   kDisk = FourCC("disk"), kGnre = FourCC("gnre");
constexpr uint8_t kCopyright = 0xA9;  // the first byte of QuickTime's text user data types

// The 'data' box well-known types: text, and big-endian signed integers.
constexpr uint32_t kDataUtf8 = 1, kDataUtf16 = 2, kDataSignedInt = 21, kDataUnsignedInt = 22;
// A QuickTime string's language below this is a Macintosh language code (text in Mac encodings); from it on a
// packed ISO 639-2 code (text in UTF-8).
constexpr uint32_t kFirstPackedLanguage = 0x400;

// One box of a list: its type and payload.
struct Box {
    uint32_t type = 0;
    Bytes payload;
};

// Walks the boxes of b (32-bit and 64-bit sizes; size 0: to the end) and hands each to take; stops at a box that
// overruns b or after kMaxMp4TagBoxes boxes.
template <typename Take>
void ForEachBox(Bytes b, Take&& take)
{
    size_t pos = 0;
    for (int n = 0; n < kMaxMp4TagBoxes && Has(b, pos, 8); ++n) {
        uint64_t size = Be32(b.data() + pos);
        const uint32_t type = Be32(b.data() + pos + 4);
        size_t header = 8;
        if (size == 1) {
            if (!Has(b, pos, 16))
                return;
            size = Be64(b.data() + pos + 8);
            header = 16;
        } else if (size == 0) {
            size = b.size() - pos;
        }
        if (size < header || size > b.size() - pos)
            return;
        take(Box{type, b.subspan(pos + header, size_t(size) - header)});
        pos += size_t(size);
    }
}

// A four-character code as the key it is listed under: the copyright sign as UTF-8, the other bytes as they are.
std::string TypeName(uint32_t type)
{
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = uint8_t(type >> shift);
        if (c == kCopyright)
            name += "\xC2\xA9";
        else if (c >= 0x20 && c < 0x7F)
            name += char(c);
        else
            name += '?';
    }
    return name;
}

// "3/12" from the 'trkn' and 'disk' binary layout: 2 bytes, the number, the total (16 bits each); "3" without a
// total; empty without a number.
std::string NumberOfTotal(Bytes v)
{
    if (!Has(v, 0, 6))
        return {};
    const uint32_t number = Be16(v.data() + 2), total = Be16(v.data() + 4);
    if (number == 0)
        return {};
    return total != 0 ? std::to_string(number) + "/" + std::to_string(total) : std::to_string(number);
}

// A 'data' value as text: UTF-8, UTF-16, or a big-endian integer of 1 to 8 bytes.
std::string DataText(uint32_t dataType, Bytes v)
{
    if (dataType == kDataUtf8)
        return std::string(AsText(v));
    if (dataType == kDataUtf16)
        return Utf16ToUtf8(v, true, kMaxTagValueBytes);
    if ((dataType == kDataSignedInt || dataType == kDataUnsignedInt) && !v.empty() && v.size() <= 8) {
        uint64_t u = 0;
        for (const uint8_t c : v)
            u = u << 8 | c;
        if (dataType == kDataSignedInt && (v[0] & 0x80) && v.size() < 8)
            u |= ~uint64_t(0) << (v.size() * 8);  // sign extension
        return dataType == kDataSignedInt ? std::to_string(int64_t(u)) : std::to_string(u);
    }
    return {};
}

// One 'ilst' item: its first 'data' value under key.
void TakeItem(uint32_t type, const std::string& key, Bytes item, TagList& tags)
{
    std::string meanName;  // a '----' item names itself
    bool taken = false;
    ForEachBox(item, [&](const Box& box) {
        if (type == kFree && box.type == kName && box.payload.size() > 4)
            meanName = std::string(AsText(box.payload.subspan(4)));
        if (box.type != kData || taken || !Has(box.payload, 0, 8) || box.payload.size() - 8 > kMaxMp4ValueBytes)
            return;
        const uint32_t dataType = Be32(box.payload.data()) & 0xFFFFFF;
        const Bytes v = box.payload.subspan(8);  // after the type and the locale
        std::string text;
        if (type == kTrkn || type == kDisk)
            text = NumberOfTotal(v);
        else if (type == kGnre && v.size() == 2 && Be16(v.data()) != 0)
            text = std::string(Id3v1GenreName(Be16(v.data()) - 1u));  // ID3v1 numbers from 1
        else
            text = DataText(dataType, v);
        taken = !text.empty();
        if (!taken)
            return;
        const std::string name = type == kFree ? meanName : key;
        if (!name.empty())
            tags.Set(TagKey(TagSystem::Mp4, name), text);
    });
}

// The names of a 'keys' payload, in order (item type k names keys[k - 1]).
std::vector<std::string> ReadKeys(Bytes keys)
{
    std::vector<std::string> names;
    if (!Has(keys, 0, 8))
        return names;
    const uint32_t count = Be32(keys.data() + 4);
    size_t pos = 8;
    for (uint32_t i = 0; i < count && i < kMaxMp4Keys && Has(keys, pos, 8); ++i) {
        const uint32_t size = Be32(keys.data() + pos);
        if (size < 8 || !Has(keys, pos, size))
            break;
        names.emplace_back(AsText(keys.subspan(pos + 8, size - 8)).substr(0, kMaxTagKeyBytes));
        pos += size;
    }
    return names;
}

// A QuickTime text user data box: (16-bit length, 16-bit language, text) strings; the first is listed.
void TakeUserText(uint32_t type, Bytes payload, TagList& tags)
{
    if (!Has(payload, 0, 4))
        return;
    const uint32_t length = Be16(payload.data()), language = Be16(payload.data() + 2);
    if (!Has(payload, 4, length))
        return;
    const Bytes text = payload.subspan(4, length);
    const std::string value =
        language < kFirstPackedLanguage ? Latin1ToUtf8(text, kMaxTagValueBytes) : std::string(AsText(text));
    tags.Set(TagKey(TagSystem::Mp4, TypeName(type)), value);
}

constexpr int kDaysPerEra = 146097;

// The Gregorian date of a day count from 1970-01-01 (Howard Hinnant's days-to-civil algorithm).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - (kDaysPerEra - 1)) / kDaysPerEra;
    const auto doe = unsigned(days - era * kDaysPerEra);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = int64_t(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string Iso8601From1904(uint64_t seconds)
{
    constexpr int64_t k1904To1970 = 2082844800;  // 66 years, 17 of them leap years
    constexpr uint64_t kLast = 253402300799 + k1904To1970;  // 9999-12-31T23:59:59Z: four-digit years only
    constexpr int64_t kSecondsPerDay = 86400;
    if (seconds > kLast)
        return {};
    const int64_t unix = int64_t(seconds) - k1904To1970;
    const int64_t days = unix >= 0 ? unix / kSecondsPerDay : (unix - (kSecondsPerDay - 1)) / kSecondsPerDay;
    const int64_t rest = unix - days * kSecondsPerDay;
    int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(year), month, day,
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return text;
}

void ReadMvhdTags(Bytes mvhd, TagList& tags)
{
    if (mvhd.empty())
        return;
    const uint64_t created = mvhd[0] == 1 ? Be64At(mvhd, 4) : Be32At(mvhd, 4);
    if (created != 0)
        tags.Set("creation_time", Iso8601From1904(created));
}

void ReadMetaTags(Bytes meta, TagList& tags)
{
    // QuickTime's 'meta' opens with its 'hdlr' box; the ISO one with four bytes of version and flags first.
    const bool fullBox = !(Has(meta, 0, 8) && Be32(meta.data() + 4) == kHdlr);
    const Bytes boxes = meta.subspan(fullBox ? std::min<size_t>(4, meta.size()) : 0);
    std::vector<std::string> keys;
    ForEachBox(boxes, [&](const Box& box) {
        if (box.type == kKeys)
            keys = ReadKeys(box.payload);
    });
    ForEachBox(boxes, [&](const Box& box) {
        if (box.type != kIlst)
            return;
        ForEachBox(box.payload, [&](const Box& item) {
            // With 'keys' an item's type is the 1-based number of its key; else it is the atom's own name.
            std::string key;
            if (!keys.empty() && item.type >= 1 && item.type <= keys.size())
                key = keys[item.type - 1];
            else if (keys.empty())
                key = TypeName(item.type);
            if (!key.empty() || item.type == kFree)
                TakeItem(item.type, key, item.payload, tags);
        });
    });
}

void ReadUdtaTags(Bytes udta, TagList& tags)
{
    ForEachBox(udta, [&](const Box& box) {
        if (box.type == kMeta)
            ReadMetaTags(box.payload, tags);
        else if (uint8_t(box.type >> 24) == kCopyright)
            TakeUserText(box.type, box.payload, tags);
    });
}

}  // namespace md
