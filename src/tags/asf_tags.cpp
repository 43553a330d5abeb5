#include "tags/asf_tags.h"

#include <string>

#include "tags/tag_keys.h"
#include "tags/tag_text.h"

namespace md {
namespace {

// Extended content value types.
enum : uint32_t { kUnicode = 0, kBool = 2, kDword = 3, kQword = 4, kWord = 5 };  // 1: a byte array

constexpr size_t kMaxNameBytes = 2 * 256;

std::string Utf16Le(Bytes b) { return Utf16ToUtf8(b, false, kMaxTagValueBytes); }

// A value as text; empty for byte arrays (pictures) and values whose length does not fit their type.
std::string ValueText(uint32_t type, Bytes v)
{
    switch (type) {
    case kUnicode: return Utf16Le(v);
    case kBool: return v.size() == 4 ? std::to_string(Le32(v.data()) != 0 ? 1 : 0) : std::string();
    case kDword: return v.size() == 4 ? std::to_string(Le32(v.data())) : std::string();
    case kQword: return v.size() == 8 ? std::to_string(Le64(v.data())) : std::string();
    case kWord: return v.size() == 2 ? std::to_string(Le16(v.data())) : std::string();
    default: return {};
    }
}

}  // namespace

void ReadAsfContentDescription(Bytes body, TagList& tags)
{
    static constexpr const char* kNames[5] = {"Title", "Author", "Copyright", "Description", "Rating"};
    if (!Has(body, 0, 10))
        return;
    size_t pos = 10;
    for (size_t i = 0; i < 5; ++i) {
        const uint32_t length = Le16(body.data() + 2 * i);
        if (!Has(body, pos, length))
            return;
        tags.Set(TagKey(TagSystem::Asf, kNames[i]), Utf16Le(body.subspan(pos, length)));
        pos += length;
    }
}

void ReadAsfExtendedContent(Bytes body, TagList& tags)
{
    const uint32_t count = Le16At(body, 0);
    size_t pos = 2;
    for (uint32_t i = 0; i < count && i < kMaxAsfDescriptors && Has(body, pos, 2); ++i) {
        const uint32_t nameLength = Le16(body.data() + pos);
        if (!Has(body, pos + 2, size_t(nameLength) + 4))
            return;
        const Bytes name = body.subspan(pos + 2, nameLength);
        const size_t typeAt = pos + 2 + nameLength;
        const uint32_t type = Le16(body.data() + typeAt), valueLength = Le16(body.data() + typeAt + 2);
        if (!Has(body, typeAt + 4, valueLength))
            return;
        const Bytes v = body.subspan(typeAt + 4, valueLength);
        pos = typeAt + 4 + valueLength;
        if (nameLength > kMaxNameBytes || valueLength > kMaxAsfValueBytes)
            continue;  // oversized fields are skipped by their length
        // Writers store a field ASF names nowhere under its common name ("date"): listed under it.
        const std::string key = Utf16Le(name);
        tags.Set(IsCommonKey(key) ? key : TagKey(TagSystem::Asf, key), ValueText(type, v));
    }
}

}  // namespace md
