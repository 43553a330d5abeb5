// Tags at the end of an audio file, after the last frame: ID3v1 ("TAG" and 125 bytes), Lyrics3 v2 (a 6-digit size
// and "LYRICS200" after a block that opens with "LYRICSBEGIN", before ID3v1) and APEv2 (a 32-byte "APETAGEX"
// footer, with or without the 32-byte header its flags announce). They are not audio.
#pragma once

#include <cstdint>
#include <vector>

#include "demux/tag_list.h"
#include "input/bytes.h"
#include "input/input_stream.h"

namespace md {

// Bytes of a file already read, and the position of their first byte.
struct HeldBytes {
    uint64_t at = 0;
    Bytes bytes;
};

// Reads count bytes at pos into out: copied from held where it holds them all, else one read of the file. Returns
// the bytes got.
uint32_t ReadHeldOrFile(ZPMP::InputStream& input, HeldBytes held, uint64_t pos, uint8_t* out, uint32_t count);

// The last bytes of a file after audioStart (at most kEndTailBytes, the ID3v1 tag and an APE footer before it),
// read once: the search for the tags at the end and the tag readers both look there.
constexpr uint64_t kEndTailBytes = 160;
struct EndTail {
    uint64_t at = 0;
    std::vector<uint8_t> bytes;
    HeldBytes Held() const { return {at, Bytes(bytes)}; }
};
EndTail ReadEndTail(ZPMP::InputStream& input, uint64_t audioStart);

// Where the audio of a file ends: before the tags at its end, each found by its footer and stripped in any order
// (at most kMaxEndTags of them); audioStart bounds every tag (a tag claiming bytes before it is not one).
constexpr int kMaxEndTags = 4;
// The footers in tail are checked from it; the tags further back are read from the file.
uint64_t AudioEndBeforeTags(ZPMP::InputStream& input, uint64_t audioStart, const EndTail& tail);
uint64_t AudioEndBeforeTags(ZPMP::InputStream& input, uint64_t audioStart);

// Lists what the tags at the end say: an ID3v1 tag in the last 128 bytes, and an APEv2 tag whose footer ends the
// file or stands before the ID3v1 tag (in the last 160 bytes: tail where given, else one read; where an APE footer
// is found, one more read of at most kMaxApeReadBytes of its items). The ID3v1 fields only fill keys the list does
// not have yet.
constexpr uint32_t kMaxApeReadBytes = 64 * 1024;
void ReadEndTags(ZPMP::InputStream& input, uint64_t audioStart, TagList& tags, const EndTail* tail = nullptr);

}  // namespace md
