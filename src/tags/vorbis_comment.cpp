#include "tags/vorbis_comment.h"

#include <cstring>
#include <string>

#include "tags/pictures.h"
#include "tags/tag_keys.h"
#include "tags/tag_text.h"

namespace md {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char c = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 'a' + 'A') : a[i];
        if (c != b[i])
            return false;
    }
    return true;
}

}  // namespace

bool ReadVorbisComment(Bytes b, TagList& tags, CoverLocation* cover, uint64_t at)
{
    const uint32_t vendorLength = Le32At(b, 0);
    if (!Has(b, 4, vendorLength) || !Has(b, 4 + size_t(vendorLength), 4))
        return false;
    tags.Set("vorbis:vendor", AsText(b.subspan(4, vendorLength)));
    size_t pos = 4 + size_t(vendorLength);
    const uint32_t count = Le32(b.data() + pos);
    pos += 4;
    for (uint32_t i = 0; i < count && i < kMaxVorbisFields && Has(b, pos, 4); ++i) {
        const uint32_t length = Le32(b.data() + pos);
        pos += 4;
        if (!Has(b, pos, length))
            break;  // cut short
        const Bytes field = b.subspan(pos, length);
        const uint64_t fieldAt = at + pos;
        pos += length;
        constexpr std::string_view kPicture = "METADATA_BLOCK_PICTURE=";
        if (cover && length > kPicture.size() && EqualsIgnoringCase(AsText(field.first(kPicture.size())), kPicture)) {
            PlaceBase64FlacPicture(field.subspan(kPicture.size()), fieldAt + kPicture.size(), *cover);
            continue;
        }
        if (length > kMaxVorbisFieldBytes)
            continue;
        const std::string_view text = AsText(field);
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos || equals == 0)
            continue;
        std::string name(text.substr(0, equals));
        for (char& c : name)
            c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
        tags.Set(TagKey(TagSystem::Vorbis, name), text.substr(equals + 1));
    }
    return true;
}

bool ReadXiphCommentPacket(Bytes packet, TagList& tags, CoverLocation* cover, uint64_t at)
{
    constexpr uint8_t kVorbis[] = {0x03, 'v', 'o', 'r', 'b', 'i', 's'};
    constexpr uint8_t kOpus[] = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's'};
    constexpr uint8_t kTheora[] = {0x81, 't', 'h', 'e', 'o', 'r', 'a'};
    for (const Bytes prefix : {Bytes(kVorbis), Bytes(kOpus), Bytes(kTheora)})
        if (packet.size() >= prefix.size() && std::memcmp(packet.data(), prefix.data(), prefix.size()) == 0)
            return ReadVorbisComment(packet.subspan(prefix.size()), tags, cover, at + prefix.size());
    return false;
}

}  // namespace md
