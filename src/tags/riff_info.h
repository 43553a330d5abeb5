// RIFF INFO lists (WAV, AVI): a 'LIST' chunk of type "INFO" whose sub-chunks each hold one NUL-terminated text
// field named by its id (INAM title, IART artist, IPRD album, ICMT comment, ISFT encoder, ICRD date, ...).
#pragma once

#include <cstddef>

#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

// A LIST INFO larger than this is read only this far.
constexpr size_t kMaxRiffInfoBytes = 64 * 1024;
// At most this many sub-chunks are looked at.
constexpr int kMaxRiffInfoFields = 256;

// Lists the fields of a LIST body that starts with its type "INFO" (b may end before the list does: the fields
// whole inside it are read). Text is taken as UTF-8 where it is valid, else as ISO-8859-1. False when b is not
// an INFO list.
bool ReadRiffInfo(Bytes b, TagList& tags);

// The Broadcast Wave 'bext' chunk (EBU Tech 3285): its description as the comment, its originator as encoded_by,
// its origination date as the date (as written: "2005:08:04"), the rest under "riff:bext:..." (the origination
// time is a local time of day, not a creation time). b is the chunk body, at most kMaxBextBytes of it.
constexpr size_t kBextFixedBytes = 602;  // the fields before the coding history
constexpr size_t kMaxBextBytes = kBextFixedBytes + 4096;
void ReadBext(Bytes b, TagList& tags);

// The iXML chunk of a production recorder (an XML document whose root is BWFXML): the text of the root's simple
// children that name the take (PROJECT, SCENE, TAKE, TAPE, CIRCLED, NOTE, FILE_UID, UBITS) as "ixml:NAME", entities
// decoded; elements nested deeper (a SPEED block's NOTE, say) are not the take's. b is the chunk body, at most
// kMaxIxmlBytes of it: a document cut there keeps the fields before the cut.
constexpr size_t kMaxIxmlBytes = 64 * 1024;
void ReadIxml(Bytes b, TagList& tags);

}  // namespace md
