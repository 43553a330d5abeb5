// Tags at the end of an audio file, after the last frame: ID3v1 ("TAG" and 125 bytes), Lyrics3 v2 (a 6-digit size
// and "LYRICS200" after a block that opens with "LYRICSBEGIN", before ID3v1) and APEv2 (a 32-byte "APETAGEX"
// footer, with or without the 32-byte header its flags announce). They are not audio.
#pragma once

#include <cstdint>

#include "demux/tag_list.h"
#include "input/input_stream.h"

namespace md {

// Where the audio of a file ends: before the tags at its end, each found by its footer and stripped in any order
// (at most kMaxEndTags of them); audioStart bounds every tag (a tag claiming bytes before it is not one).
constexpr int kMaxEndTags = 4;
uint64_t AudioEndBeforeTags(ZPMP::InputStream& input, uint64_t audioStart);

// Lists what the tags at the end say: an ID3v1 tag in the last 128 bytes, and an APEv2 tag whose footer ends the
// file or stands before the ID3v1 tag (one read of the last 160 bytes; where an APE footer is found, one more of
// at most kMaxApeReadBytes of its items). The ID3v1 fields only fill keys the list does not have yet.
constexpr uint32_t kMaxApeReadBytes = 64 * 1024;
void ReadEndTags(ZPMP::InputStream& input, uint64_t audioStart, TagList& tags);

}  // namespace md
