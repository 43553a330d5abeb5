// What a Matroska or WebM file says about itself, read with libmatroska: the segment's Info (Title, MuxingApp,
// WritingApp, DateUTC), its global Tags (SimpleTag name and string pairs whose Targets name no track, edition,
// chapter or attachment) and where an attached file named "cover.*" keeps its data. Read from the head of the file
// and, where the SeekHead places them past it, from one bounded read of the Tags and a few of the Attachments.
#pragma once

#include <cstdint>

#include "demux/tag_list.h"
#include "input/input_stream.h"

namespace md {

// The head read for Info and Tags, and the most of a Tags element read elsewhere.
constexpr uint32_t kMatroskaTagHeadBytes = 64 * 1024;
constexpr uint32_t kMaxMatroskaTagsBytes = 256 * 1024;
// At most this many elements are looked at in the segment's head, in one Tags element or in one attached file.
constexpr int kMaxMatroskaTagElements = 4096;
// The most of an Attachments element read at once (one attached file's name and the start of its data must lie
// within one read; the data itself is never read), and the most attached files looked at.
constexpr uint32_t kMatroskaAttachmentReadBytes = 64 * 1024;
constexpr int kMaxMatroskaAttachments = 64;

// Lists the file's Info and global tags into tags and, with cover, offers it the data of each attached file named
// "cover.*" (any case) that the SeekHead's Attachments hold. Nothing is thrown: libebml's failures end the reading.
void ReadMatroskaTags(ZPMP::InputStream& input, TagList& tags, CoverLocation* cover) noexcept;

}  // namespace md
