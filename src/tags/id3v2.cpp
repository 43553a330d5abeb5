#include "tags/id3v2.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "tags/id3v1_ape.h"
#include "tags/tag_keys.h"
#include "tags/tag_text.h"

namespace md {
namespace {

constexpr size_t kHeaderSize = 10;
// Tag header flags.
constexpr uint8_t kTagUnsynchronised = 0x80;
constexpr uint8_t kTagExtendedHeader = 0x40;  // 2.3 and 2.4; in 2.2 the whole tag is compressed
// Frame format flags (the second flag byte) of 2.3 and of 2.4.
constexpr uint8_t kV3Compressed = 0x80, kV3Encrypted = 0x40, kV3Grouped = 0x20;
constexpr uint8_t kV4Grouped = 0x40, kV4Compressed = 0x08, kV4Encrypted = 0x04, kV4Unsynchronised = 0x02,
                  kV4DataLength = 0x01;

// Text encodings of the first byte of a text frame.
enum : uint8_t { kLatin1 = 0, kUtf16 = 1, kUtf16Be = 2, kUtf8 = 3 };

// A 28-bit size stored 7 bits a byte; false when a byte has its high bit set.
bool SyncSafe(const uint8_t* p, uint32_t& size)
{
    size = 0;
    for (int i = 0; i < 4; ++i) {
        if (p[i] & 0x80)
            return false;
        size = size << 7 | p[i];
    }
    return true;
}

// The bytes with each FF 00 turned back into FF.
std::vector<uint8_t> Resynchronise(Bytes b)
{
    std::vector<uint8_t> out;
    out.reserve(b.size());
    for (size_t i = 0; i < b.size(); ++i) {
        out.push_back(b[i]);
        if (b[i] == 0xFF && i + 1 < b.size() && b[i + 1] == 0x00)
            ++i;
    }
    return out;
}

// The string that opens b in a frame's encoding; *next receives the offset after its terminator.
std::string DecodeString(uint8_t encoding, Bytes b, size_t* next)
{
    const bool wide = encoding == kUtf16 || encoding == kUtf16Be;
    const size_t length = TerminatedLength(b, wide ? 2 : 1, next);
    const Bytes s = b.first(length);
    switch (encoding) {
    case kLatin1: return Latin1ToUtf8(s, kMaxTagValueBytes);
    case kUtf16: return Utf16ToUtf8(s, false, kMaxTagValueBytes);
    case kUtf16Be: return Utf16ToUtf8(s, true, kMaxTagValueBytes);
    default: return std::string(AsText(s));  // UTF-8, checked by the list
    }
}

bool IsFrameIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A genre given by its ID3v1 number, "(17)" or "17", by name; other text as it is.
std::string GenreName(const std::string& value)
{
    std::string_view digits = value;
    if (digits.size() >= 3 && digits.front() == '(' && digits.back() == ')')
        digits = digits.substr(1, digits.size() - 2);
    if (digits.empty() || digits.size() > 3)
        return value;
    uint32_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return value;
        n = n * 10 + uint32_t(c - '0');
    }
    const std::string_view name = Id3v1GenreName(n);
    return name.empty() ? value : std::string(name);
}

// Lists one frame's content: text frames, TXXX and COMM.
void TakeFrame(std::string_view id, Bytes d, TagList& tags)
{
    if (d.empty() || d[0] > kUtf8)
        return;
    const uint8_t encoding = d[0];
    const bool userText = id == "TXXX" || id == "TXX";
    const bool comment = id == "COMM" || id == "COM";
    size_t next = 0;
    if (userText || comment) {
        const size_t at = comment ? 4 : 1;  // encoding, and the comment's 3-byte language
        if (d.size() < at)
            return;
        const Bytes rest = d.subspan(at);
        const std::string description = DecodeString(encoding, rest, &next);
        const std::string value = DecodeString(encoding, rest.subspan(next), &next);
        if (userText && IsCommonKey(description)) {
            tags.Set(description, value);
            return;
        }
        const std::string key = std::string(comment ? "COMM:" : "TXXX:") + description;
        tags.Set(TagKey(TagSystem::Id3v2, key), value);
        return;
    }
    if (id[0] != 'T')
        return;
    std::string value = DecodeString(encoding, d.subspan(1), &next);
    if (id == "TCON" || id == "TCO")
        value = GenreName(value);
    tags.Set(TagKey(TagSystem::Id3v2, id), value);
}

// A picture frame's picture: after the encoding, the MIME type (APIC; PIC has a 3-character format), the picture
// type and the description. d holds what was read of the frame, frameSize the frame's whole length; pictureAt is
// the file offset of d's first byte.
void OfferPicture(std::string_view id, Bytes d, size_t frameSize, uint64_t pictureAt, CoverLocation& cover)
{
    constexpr uint8_t kFrontCover = 3;
    if (d.empty() || d[0] > kUtf8)
        return;
    const uint8_t encoding = d[0];
    size_t pos = 1;
    if (id == "PIC") {
        pos += 3;
    } else {
        size_t next = 0;
        const Bytes mime = d.subspan(pos);
        if (TerminatedLength(mime, 1, &next) == mime.size())
            return;  // no terminator within the bytes read
        pos += next;
    }
    if (!Has(d, pos, 1))
        return;
    const uint8_t pictureType = d[pos++];
    const Bytes description = d.subspan(pos);
    size_t next = 0;
    const bool wide = encoding == kUtf16 || encoding == kUtf16Be;
    if (TerminatedLength(description, wide ? 2 : 1, &next) == description.size())
        return;
    pos += next;
    if (pos < frameSize)
        cover.Offer(pictureAt + pos, frameSize - pos, pictureType == kFrontCover);
}

}  // namespace

bool ReadId3v2Tag(Bytes tag, TagList& tags, CoverLocation* cover, uint64_t tagOffset)
{
    if (!Has(tag, 0, kHeaderSize) || tag[0] != 'I' || tag[1] != 'D' || tag[2] != '3')
        return false;
    const uint8_t version = tag[3];
    const uint8_t flags = tag[5];
    uint32_t size = 0;
    if (version < 2 || version > 4 || !SyncSafe(tag.data() + 6, size))
        return false;
    if (version == 2 && (flags & kTagExtendedHeader))
        return false;  // compressed, with no scheme defined
    Bytes body = tag.subspan(kHeaderSize, std::min<size_t>(size, tag.size() - kHeaderSize));
    std::vector<uint8_t> resynchronised;
    if (version < 4 && (flags & kTagUnsynchronised)) {
        resynchronised = Resynchronise(body);
        body = Bytes(resynchronised);
        cover = nullptr;  // offsets in the bytes resynchronised are not the file's
    }
    size_t pos = 0;
    if (version >= 3 && (flags & kTagExtendedHeader)) {
        if (!Has(body, 0, 4))
            return true;
        uint32_t extended = 0;
        if (version == 3)
            extended = Be32(body.data()) + 4;  // the size field counts what follows it
        else if (!SyncSafe(body.data(), extended))
            return true;
        pos = extended;
    }
    const size_t headerSize = version == 2 ? 6 : 10;
    const size_t idSize = version == 2 ? 3 : 4;
    for (int n = 0; n < kMaxId3Frames && Has(body, pos, headerSize); ++n) {
        const uint8_t* h = body.data() + pos;
        bool validId = true;
        for (size_t i = 0; i < idSize; ++i)
            validId = validId && IsFrameIdChar(h[i]);
        if (!validId)
            break;  // padding, or bytes that are no frame
        uint32_t frameSize = 0;
        if (version == 2)
            frameSize = Be24(h + 3);
        else if (version == 3 || !SyncSafe(h + 4, frameSize))
            frameSize = Be32(h + 4);  // 2.3; in 2.4 some writers store plain sizes
        const uint8_t format = version == 2 ? 0 : h[9];
        const size_t start = pos + headerSize;
        const std::string_view id(reinterpret_cast<const char*>(h), idSize);
        if (uint64_t(start) + frameSize > size)
            break;  // a frame running past the tag
        const bool whole = Has(body, start, frameSize);
        if (!whole && !(cover && (id == "APIC" || id == "PIC")))
            break;  // cut short by the tag's end or by the bytes read
        Bytes d = body.subspan(std::min(start, body.size()), std::min<size_t>(frameSize, body.size() - start));
        pos = start + frameSize;
        // The flags' extra bytes before the frame's content.
        size_t skip = 0;
        if (version == 3) {
            if (format & (kV3Compressed | kV3Encrypted))
                continue;
            skip += (format & kV3Grouped) ? 1 : 0;
        } else if (version == 4) {
            if (format & (kV4Compressed | kV4Encrypted))
                continue;
            skip += (format & kV4Grouped) ? 1 : 0;
            skip += (format & kV4DataLength) ? 4 : 0;
        }
        skip = std::min(skip, d.size());
        d = d.subspan(skip);
        const bool frameUnsynchronised = version == 4 && ((format & kV4Unsynchronised) || (flags & kTagUnsynchronised));
        if (cover && (id == "APIC" || id == "PIC") && !frameUnsynchronised)
            OfferPicture(id, d, frameSize - skip, tagOffset + kHeaderSize + start + skip, *cover);
        if (!whole)
            break;
        if (frameSize > kMaxId3TextFrameBytes)
            continue;
        std::vector<uint8_t> frameBytes;
        if (version == 4) {
            if (frameUnsynchronised) {
                frameBytes = Resynchronise(d);
                d = Bytes(frameBytes);
            }
        }
        TakeFrame(id, d, tags);
    }
    return true;
}

}  // namespace md
