#include "audio/id3.h"

#include <algorithm>

#include "audio/end_tags.h"
#include "tags/id3v2.h"

namespace md {

uint64_t Id3v2TagSize(Bytes b)
{
    if (!Has(b, 0, 10) || b[0] != 'I' || b[1] != 'D' || b[2] != '3' || b[3] < 2 || b[3] > 4 || b[4] == 0xFF)
        return 0;
    uint32_t size = 0;
    for (size_t i = 6; i < 10; ++i) {
        if (b[i] & 0x80)
            return 0;  // not syncsafe
        size = size << 7 | b[i];
    }
    const bool footer = b[3] == 4 && (b[5] & 0x10) != 0;
    return 10 + uint64_t(size) + (footer ? 10 : 0);
}

namespace {
constexpr int kMaxStartTags = 16;
constexpr uint32_t kId3HeaderBytes = 10;
}  // namespace

uint64_t Id3v2TagsEnd(ZPMP::InputStream& input, Bytes head)
{
    const uint64_t fileSize = input.Size();
    uint64_t end = 0;
    for (int tags = 0; tags < kMaxStartTags && end < fileSize; ++tags) {
        uint8_t header[kId3HeaderBytes] = {};
        if (ReadHeldOrFile(input, {0, head}, end, header, sizeof header) != sizeof header)
            break;
        const uint64_t size = Id3v2TagSize(Bytes(header, sizeof header));
        if (size == 0)
            break;
        end = std::min(end + size, fileSize);
    }
    return end;
}

AudioHead ReadAudioHead(ZPMP::InputStream& input, uint32_t limit)
{
    AudioHead head;
    const uint64_t fileSize = input.Size();
    uint8_t first[kId3HeaderBytes] = {};
    const uint32_t got = ZPMP::ReadAt(input, 0, first, sizeof first);
    const uint64_t firstTag = Id3v2TagSize(Bytes(first, got));
    if (firstTag != 0 && firstTag <= kMaxId3InHead) {
        // The tag and the audio's first bytes in one piece; tags after the first that reach past it are followed
        // by reads of their headers.
        head.held.resize(size_t(std::min(fileSize, firstTag + limit)));
        head.held.resize(ZPMP::ReadAt(input, 0, head.held.data(), uint32_t(head.held.size())));
        head.start = std::min(Id3v2TagsEnd(input, Bytes(head.held)), fileSize);
        const uint64_t wanted = std::min<uint64_t>(fileSize - head.start, limit);
        if (head.start <= head.held.size() && head.held.size() - head.start >= wanted) {
            head.held.resize(size_t(head.start + wanted));
            head.audioAt = size_t(head.start);
            return head;
        }
    } else {
        head.start = std::min(Id3v2TagsEnd(input, Bytes(first, got)), fileSize);
    }
    head.audioAt = 0;
    head.held.resize(static_cast<size_t>(std::min<uint64_t>(fileSize - head.start, limit)));
    head.held.resize(ZPMP::ReadAt(input, head.start, head.held.data(), static_cast<uint32_t>(head.held.size())));
    return head;
}

void ReadStartTags(ZPMP::InputStream& input, TagList& tags, CoverLocation* cover, Bytes head)
{
    const uint64_t fileSize = input.Size();
    uint64_t at = 0;
    std::vector<uint8_t> spare;
    for (int n = 0; n < kMaxStartTags && at < fileSize; ++n) {
        uint8_t header[kId3HeaderBytes] = {};
        if (ReadHeldOrFile(input, {0, head}, at, header, sizeof header) != sizeof header)
            return;
        const uint64_t size = Id3v2TagSize(Bytes(header, sizeof header));
        if (size == 0)
            return;
        const uint64_t want = std::min<uint64_t>({size, kMaxId3ReadBytes, fileSize - at});
        Bytes tag;
        if (at <= head.size() && want <= head.size() - at) {
            tag = head.subspan(size_t(at), size_t(want));
        } else {
            spare.resize(size_t(want));
            spare.resize(ZPMP::ReadAt(input, at, spare.data(), uint32_t(spare.size())));
            tag = Bytes(spare);
        }
        ReadId3v2Tag(tag, tags, cover, at);
        at += size;
    }
}

void ReadFrameFileTags(ZPMP::InputStream& input, uint64_t audioStart, TagList& tags, CoverLocation& cover,
                       Bytes head, const EndTail* tail)
{
    tags.Clear();
    cover = {};
    ReadStartTags(input, tags, &cover, head);
    ReadEndTags(input, audioStart, tags, tail);
}

}  // namespace md
