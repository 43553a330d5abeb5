#include "tags/riff_info.h"

#include <cstring>
#include <string>

#include "tags/tag_keys.h"
#include "tags/tag_text.h"

namespace md {

bool ReadRiffInfo(Bytes b, TagList& tags)
{
    if (!Has(b, 0, 4) || std::memcmp(b.data(), "INFO", 4) != 0)
        return false;
    size_t pos = 4;
    for (int n = 0; n < kMaxRiffInfoFields && Has(b, pos, 8); ++n) {
        const Bytes id = b.subspan(pos, 4);
        const uint32_t size = Le32(b.data() + pos + 4);
        if (!Has(b, pos + 8, size))
            break;  // cut short
        size_t next = 0;
        const Bytes field = b.subspan(pos + 8, size);
        const Bytes text = field.first(TerminatedLength(field, 1, &next));
        // Writers store the system's code page or UTF-8.
        tags.Set(TagKey(TagSystem::Riff, AsText(id)), Utf8OrLatin1(text, kMaxTagValueBytes));
        pos += 8 + size_t(size) + (size & 1);
    }
    return true;
}

namespace {

// A fixed-length ASCII field of 'bext', up to its first NUL, as ISO-8859-1 where it is not UTF-8.
std::string BextField(Bytes b, size_t at, size_t length)
{
    Bytes field = b.subspan(at, length);
    size_t next = 0;
    field = field.first(TerminatedLength(field, 1, &next));
    return Utf8OrLatin1(field, kMaxTagValueBytes);
}

}  // namespace

void ReadBext(Bytes b, TagList& tags)
{
    if (b.size() < kBextFixedBytes)
        return;
    tags.Set("comment", BextField(b, 0, 256));
    tags.Set("encoded_by", BextField(b, 256, 32));
    tags.Set("riff:bext:originator_reference", BextField(b, 288, 32));
    tags.Set("date", BextField(b, 320, 10));
    tags.Set("riff:bext:origination_time", BextField(b, 330, 8));
    tags.Set("riff:bext:time_reference", std::to_string(Le64(b.data() + 338)));
    tags.Set("riff:bext:coding_history", BextField(b, kBextFixedBytes, b.size() - kBextFixedBytes));
}

}  // namespace md
