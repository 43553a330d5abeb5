#include "audio/end_tags.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <vector>

#include "input/bytes.h"
#include "tags/id3v1_ape.h"

namespace md {
namespace {

constexpr uint64_t kId3v1Bytes = 128;
constexpr uint64_t kLyrics3FooterBytes = 15;  // the 6-digit size and "LYRICS200"
constexpr uint64_t kApeFooterBytes = 32;
constexpr uint32_t kApeHasHeader = 0x80000000;  // tag flags bit 31

bool BytesAre(ZPMP::InputStream& input, HeldBytes tail, uint64_t pos, const char* text)
{
    uint8_t b[16] = {};
    const size_t n = std::strlen(text);
    return n <= sizeof b && ReadHeldOrFile(input, tail, pos, b, uint32_t(n)) == n && std::memcmp(b, text, n) == 0;
}

// The bytes of the tag that ends at end (after audioStart), or 0 when no tag ends there.
uint64_t TagBefore(ZPMP::InputStream& input, HeldBytes tail, uint64_t audioStart, uint64_t end)
{
    const uint64_t room = end - audioStart;
    if (room >= kId3v1Bytes && BytesAre(input, tail, end - kId3v1Bytes, "TAG"))
        return kId3v1Bytes;
    if (room >= kLyrics3FooterBytes && BytesAre(input, tail, end - 9, "LYRICS200")) {
        uint8_t digits[6] = {};
        uint64_t size = 0;  // the block from "LYRICSBEGIN" on, without the footer
        bool ok = ReadHeldOrFile(input, tail, end - kLyrics3FooterBytes, digits, sizeof digits) == sizeof digits;
        for (uint8_t d : digits) {
            ok = ok && d >= '0' && d <= '9';
            size = size * 10 + (d - '0');
        }
        const uint64_t total = size + kLyrics3FooterBytes;
        if (ok && size >= 11 && total <= room && BytesAre(input, tail, end - total, "LYRICSBEGIN"))
            return total;
    }
    if (room >= kApeFooterBytes && BytesAre(input, tail, end - kApeFooterBytes, "APETAGEX")) {
        uint8_t footer[kApeFooterBytes] = {};
        if (ReadHeldOrFile(input, tail, end - kApeFooterBytes, footer, sizeof footer) != sizeof footer)
            return 0;
        // The size counts the items and the footer; a header, when the flags announce one, comes on top.
        const uint64_t size = Le32(footer + 12);
        const uint64_t total = size + ((Le32(footer + 20) & kApeHasHeader) ? kApeFooterBytes : 0);
        if (size >= kApeFooterBytes && total <= room)
            return total;
    }
    return 0;
}

}  // namespace

uint32_t ReadHeldOrFile(ZPMP::InputStream& input, HeldBytes held, uint64_t pos, uint8_t* out, uint32_t count)
{
    if (count == 0)
        return 0;
    if (pos >= held.at && Has(held.bytes, size_t(std::min<uint64_t>(pos - held.at, SIZE_MAX)), count)) {
        std::memcpy(out, held.bytes.data() + (pos - held.at), count);
        return count;
    }
    return ZPMP::ReadAt(input, pos, out, count);
}

EndTail ReadEndTail(ZPMP::InputStream& input, uint64_t audioStart)
{
    EndTail tail;
    const uint64_t fileSize = input.Size();
    if (audioStart >= fileSize)
        return tail;
    tail.bytes.resize(size_t(std::min(kEndTailBytes, fileSize - audioStart)));
    tail.at = fileSize - tail.bytes.size();
    tail.bytes.resize(ZPMP::ReadAt(input, tail.at, tail.bytes.data(), uint32_t(tail.bytes.size())));
    return tail;
}

uint64_t AudioEndBeforeTags(ZPMP::InputStream& input, uint64_t audioStart)
{
    return AudioEndBeforeTags(input, audioStart, ReadEndTail(input, audioStart));
}

uint64_t AudioEndBeforeTags(ZPMP::InputStream& input, uint64_t audioStart, const EndTail& tail)
{
    uint64_t end = input.Size();
    if (audioStart >= end)
        return end;
    for (int tags = 0; tags < kMaxEndTags; ++tags) {
        const uint64_t bytes = TagBefore(input, tail.Held(), audioStart, end);
        if (bytes == 0)
            break;
        end -= bytes;
    }
    return end;
}

void ReadEndTags(ZPMP::InputStream& input, uint64_t audioStart, TagList& tags, const EndTail* held)
{
    static_assert(kEndTailBytes == kId3v1Size + kApeFooterSize);
    const uint64_t fileSize = input.Size();
    if (audioStart >= fileSize)
        return;
    const EndTail read = held ? EndTail{} : ReadEndTail(input, audioStart);
    const EndTail& end = held ? *held : read;
    // The last bytes, aligned to the end of a zeroed buffer of the full tail's size.
    uint8_t tail[kEndTailBytes] = {};
    const auto want = uint32_t(std::min<uint64_t>(sizeof tail, fileSize - audioStart));
    if (end.bytes.size() != want || end.at != fileSize - want)
        return;
    std::memcpy(tail + sizeof tail - want, end.bytes.data(), want);
    const Bytes last(tail, sizeof tail);
    const bool id3v1 = want >= kId3v1Size && ReadId3v1Tag(last.subspan(kApeFooterSize), tags);
    // The APE footer ends the file, or stands just before an ID3v1 tag.
    const uint64_t footerEnd = fileSize - (id3v1 ? kId3v1Size : 0);
    const size_t footerAt = id3v1 ? 0 : kId3v1Size;
    ApeFooter footer;
    if (footerEnd - audioStart < kApeFooterSize || footerEnd - kApeFooterSize < audioStart ||
        !ParseApeFooter(last.subspan(footerAt, kApeFooterSize), footer))
        return;
    const uint64_t itemsBytes = footer.tagSize - kApeFooterSize;
    const uint64_t footerStart = footerEnd - kApeFooterSize;
    if (itemsBytes > footerStart - audioStart)
        return;  // a tag claiming bytes before the audio's start
    std::vector<uint8_t> items(size_t(std::min<uint64_t>(itemsBytes, kMaxApeReadBytes)));
    items.resize(ZPMP::ReadAt(input, footerStart - itemsBytes, items.data(), uint32_t(items.size())));
    ReadApeItems(Bytes(items), footer.itemCount, tags);
}

}  // namespace md
