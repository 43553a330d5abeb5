// What a Matroska or WebM file says about itself: the segment's Info (Title, MuxingApp, WritingApp, DateUTC) and
// its global Tags (SimpleTag name and string pairs whose Targets name no track, edition, chapter or attachment).
// Read from the head of the file and, where the SeekHead places Tags past it, from one bounded read there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "demux/tag_list.h"
#include "input/bytes.h"
#include "input/input_stream.h"

namespace md {

// The head read for Info and Tags, and the most of a Tags element read elsewhere.
constexpr uint32_t kMatroskaTagHeadBytes = 64 * 1024;
constexpr uint32_t kMaxMatroskaTagsBytes = 256 * 1024;
// At most this many elements are looked at in one master element.
constexpr int kMaxEbmlElements = 4096;

// "2024-05-01T10:20:30Z" for DateUTC (nanoseconds since 2001-01-01T00:00:00 UTC, rounded down to the second);
// empty before 1904.
std::string Iso8601FromMatroskaDate(int64_t nanoseconds);

// Lists the Info and the global Tags among the top-level children of the segment in head, the file's first bytes
// (the EBML header, then the Segment). *tagsAt receives the file position of a Tags element the SeekHead names and
// head does not hold whole (0: none); *attachmentsAt, when not null, that of the Attachments the SeekHead names.
void ReadMatroskaHead(Bytes head, TagList& tags, uint64_t* tagsAt, uint64_t* attachmentsAt = nullptr);

// The most of an Attachments element read at once, and the most attached files looked at.
constexpr uint32_t kMatroskaAttachmentReadBytes = 64 * 1024;
constexpr int kMaxMatroskaAttachments = 64;

// Offers cover the FileData of each attached file named "cover.*" (any case) among the Attachments element at file
// position attachmentsAt: the element is read kMatroskaAttachmentReadBytes at a time, from one attached file to the
// next, so a file's name and the start of its data must lie within one read; the data itself is not read.
void PlaceMatroskaCover(ZPMP::InputStream& input, uint64_t attachmentsAt, CoverLocation& cover);

// Lists the global tags of a Tags element's body.
void ReadMatroskaTagsBody(Bytes body, TagList& tags);

// The whole: the head, then a Tags element past it; with cover, where the cover attachment lies.
void ReadMatroskaFileTags(ZPMP::InputStream& input, TagList& tags, CoverLocation* cover = nullptr);

}  // namespace md
