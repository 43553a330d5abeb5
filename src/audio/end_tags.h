// Tags at the end of an audio file, after the last frame: ID3v1 ("TAG" and 125 bytes), Lyrics3 v2 (a 6-digit size
// and "LYRICS200" after a block that opens with "LYRICSBEGIN", before ID3v1) and APEv2 (a 32-byte "APETAGEX"
// footer, with or without the 32-byte header its flags announce). They are not audio.
#pragma once

#include <cstdint>

#include "input/input_stream.h"

namespace md {

// Where the audio of a file ends: before the tags at its end, each found by its footer and stripped in any order
// (at most kMaxEndTags of them); audioStart bounds every tag (a tag claiming bytes before it is not one).
constexpr int kMaxEndTags = 4;
uint64_t AudioEndBeforeTags(ZPMP::InputStream& input, uint64_t audioStart);

}  // namespace md
