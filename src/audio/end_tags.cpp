#include "audio/end_tags.h"

#include <algorithm>
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

bool BytesAre(ZPMP::InputStream& input, uint64_t pos, const char* text)
{
    uint8_t b[16] = {};
    const size_t n = std::strlen(text);
    return n <= sizeof b && ZPMP::ReadAt(input, pos, b, uint32_t(n)) == n && std::memcmp(b, text, n) == 0;
}

// The bytes of the tag that ends at end (after audioStart), or 0 when no tag ends there.
uint64_t TagBefore(ZPMP::InputStream& input, uint64_t audioStart, uint64_t end)
{
    const uint64_t room = end - audioStart;
    if (room >= kId3v1Bytes && BytesAre(input, end - kId3v1Bytes, "TAG"))
        return kId3v1Bytes;
    if (room >= kLyrics3FooterBytes && BytesAre(input, end - 9, "LYRICS200")) {
        uint8_t digits[6] = {};
        uint64_t size = 0;  // the block from "LYRICSBEGIN" on, without the footer
        bool ok = ZPMP::ReadAt(input, end - kLyrics3FooterBytes, digits, sizeof digits) == sizeof digits;
        for (uint8_t d : digits) {
            ok = ok && d >= '0' && d <= '9';
            size = size * 10 + (d - '0');
        }
        const uint64_t total = size + kLyrics3FooterBytes;
        if (ok && size >= 11 && total <= room && BytesAre(input, end - total, "LYRICSBEGIN"))
            return total;
    }
    if (room >= kApeFooterBytes && BytesAre(input, end - kApeFooterBytes, "APETAGEX")) {
        uint8_t footer[kApeFooterBytes] = {};
        if (ZPMP::ReadAt(input, end - kApeFooterBytes, footer, sizeof footer) != sizeof footer)
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

uint64_t AudioEndBeforeTags(ZPMP::InputStream& input, uint64_t audioStart)
{
    uint64_t end = input.Size();
    if (audioStart >= end)
        return end;
    for (int tags = 0; tags < kMaxEndTags; ++tags) {
        const uint64_t bytes = TagBefore(input, audioStart, end);
        if (bytes == 0)
            break;
        end -= bytes;
    }
    return end;
}

void ReadEndTags(ZPMP::InputStream& input, uint64_t audioStart, TagList& tags)
{
    const uint64_t fileSize = input.Size();
    if (audioStart >= fileSize)
        return;
    uint8_t tail[kId3v1Size + kApeFooterSize] = {};
    const auto want = uint32_t(std::min<uint64_t>(sizeof tail, fileSize - audioStart));
    if (ZPMP::ReadAt(input, fileSize - want, tail + sizeof tail - want, want) != want)
        return;
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
