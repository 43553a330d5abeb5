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
}  // namespace

uint64_t Id3v2TagsEnd(ZPMP::InputStream& input)
{
    const uint64_t fileSize = input.Size();
    uint64_t end = 0;
    for (int tags = 0; tags < kMaxStartTags && end < fileSize; ++tags) {
        uint8_t header[10] = {};
        if (ZPMP::ReadAt(input, end, header, sizeof header) != sizeof header)
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
    head.start = std::min(Id3v2TagsEnd(input), fileSize);
    head.bytes.resize(static_cast<size_t>(std::min<uint64_t>(fileSize - head.start, limit)));
    head.bytes.resize(ZPMP::ReadAt(input, head.start, head.bytes.data(), static_cast<uint32_t>(head.bytes.size())));
    return head;
}

void ReadStartTags(ZPMP::InputStream& input, TagList& tags, CoverLocation* cover)
{
    const uint64_t fileSize = input.Size();
    uint64_t at = 0;
    std::vector<uint8_t> tag;
    for (int n = 0; n < kMaxStartTags && at < fileSize; ++n) {
        uint8_t header[10] = {};
        if (ZPMP::ReadAt(input, at, header, sizeof header) != sizeof header)
            return;
        const uint64_t size = Id3v2TagSize(Bytes(header, sizeof header));
        if (size == 0)
            return;
        tag.resize(size_t(std::min<uint64_t>({size, kMaxId3ReadBytes, fileSize - at})));
        tag.resize(ZPMP::ReadAt(input, at, tag.data(), uint32_t(tag.size())));
        ReadId3v2Tag(Bytes(tag), tags, cover, at);
        at += size;
    }
}

void ReadFrameFileTags(ZPMP::InputStream& input, uint64_t audioStart, TagList& tags, CoverLocation& cover)
{
    tags.Clear();
    cover = {};
    ReadStartTags(input, tags, &cover);
    ReadEndTags(input, audioStart, tags);
}

}  // namespace md
