#include "tags/riff_info.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

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

namespace {

constexpr std::string_view kIxmlFields[] = {"PROJECT", "SCENE", "TAKE", "TAPE", "CIRCLED", "NOTE", "FILE_UID", "UBITS"};
constexpr int kMaxIxmlElements = 4096;

// XML text with its five predefined entities decoded; any other '&' is kept as it stands.
std::string DecodeXmlText(std::string_view text)
{
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto* e = std::find_if(std::begin(kEntities), std::end(kEntities),
                                     [&](const auto& entity) { return text.substr(i).starts_with(entity.first); });
        if (e != std::end(kEntities)) {
            out += e->second;
            i += e->first.size() - 1;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

void ReadIxml(Bytes b, TagList& tags)
{
    const std::string_view doc = AsText(b);
    const size_t root = doc.find("<BWFXML>");
    if (root == std::string_view::npos)
        return;
    size_t pos = root + 8;
    int depth = 0;  // elements open inside the root
    for (int n = 0; n < kMaxIxmlElements; ++n) {
        const size_t open = doc.find('<', pos);
        const size_t close = open == std::string_view::npos ? open : doc.find('>', open);
        if (close == std::string_view::npos)
            return;  // cut short
        const std::string_view tag = doc.substr(open + 1, close - open - 1);
        pos = close + 1;
        if (tag.starts_with('?') || tag.starts_with('!') || tag.ends_with('/'))
            continue;  // a declaration, a comment, an empty element
        if (tag.starts_with('/')) {
            if (depth-- == 0)
                return;  // the root's end
            continue;
        }
        const std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n"));
        // A simple element: text up to its own end tag.
        const size_t textEnd = doc.find('<', pos);
        if (textEnd != std::string_view::npos && doc.substr(textEnd + 1).starts_with('/') &&
            doc.substr(textEnd + 2).starts_with(name) && doc.substr(textEnd + 2 + name.size()).starts_with('>')) {
            if (depth == 0 && std::find(std::begin(kIxmlFields), std::end(kIxmlFields), name) != std::end(kIxmlFields)) {
                const std::string text = DecodeXmlText(doc.substr(pos, textEnd - pos));
                const Bytes bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
                tags.Set("ixml:" + std::string(name), Utf8OrLatin1(bytes, kMaxTagValueBytes));
            }
            pos = textEnd + 3 + name.size();
            continue;
        }
        ++depth;
    }
}

}  // namespace md
