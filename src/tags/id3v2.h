// ID3v2 tags (id3.org: ID3v2.2, ID3v2.3.0 and ID3v2.4.0): the text frames (T***), user text (TXXX) and comments
// (COMM) of one tag, in ISO-8859-1, UTF-16 with or without a byte order mark, UTF-16BE or UTF-8, with the
// unsynchronisation of the whole tag (2.2, 2.3) or of single frames (2.4) undone. Other frames (pictures, private
// data, ...) are skipped by their length.
#pragma once

#include <cstddef>

#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

// A frame longer than this (a picture, lyrics) is skipped, never decoded; text this long has been cut anyway.
constexpr size_t kMaxId3TextFrameBytes = 16 * 1024;
// At most this many frame headers are looked at in one tag.
constexpr int kMaxId3Frames = 1024;

// Lists the frames of the tag whose 10-byte header opens tag. tag may end before the tag does (a bounded read of
// a long tag): the frames that lie whole inside it are listed. Text frames go under their common key (TIT2: title,
// TRCK: track as given, TDRC and TYER: date, ...) or "id3:<frame id>"; TXXX under "id3:TXXX:<description>"; COMM
// without a description is the comment, with one "id3:COMM:<description>". A numeric genre ("(17)", "17") is
// named from the ID3v1 list. False when tag does not open with an ID3v2 header, or the tag is compressed (2.2).
// With cover, the pictures (APIC; PIC in 2.2) are offered to it at their place in the file, the tag opening at
// tagOffset: a picture frame whose header and picture header lie in tag is placed even when its picture runs past
// the bytes read. Pictures of an unsynchronised, compressed or encrypted frame are not placed.
bool ReadId3v2Tag(Bytes tag, TagList& tags, CoverLocation* cover = nullptr, uint64_t tagOffset = 0);

}  // namespace md
