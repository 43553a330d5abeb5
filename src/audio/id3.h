// ID3v2 tags at the start of an audio file (id3.org, ID3v2.3.0 and ID3v2.4.0 structure): they are not audio, and
// the file's frames start after them. Several tags may follow each other.
#pragma once

#include <cstdint>
#include <vector>

#include "demux/tag_list.h"
#include "input/bytes.h"
#include "input/input_stream.h"

namespace md {

// The size of the tag whose 10-byte header opens b ("ID3", version 2 to 4, a 28-bit syncsafe size), header and
// footer included; 0 when b does not open with such a header.
uint64_t Id3v2TagSize(Bytes b);

// Where the audio of a file starts: after the ID3v2 tags at its start (at most 16 in a row), or 0 without. A tag
// that claims more bytes than the file has ends the file.
uint64_t Id3v2TagsEnd(ZPMP::InputStream& input);

// The first bytes of a file's audio: at most limit bytes from the end of its ID3v2 tags on.
struct AudioHead {
    uint64_t start = 0;  // the end of the tags
    std::vector<uint8_t> bytes;
    Bytes View() const { return Bytes(bytes); }
};
AudioHead ReadAudioHead(ZPMP::InputStream& input, uint32_t limit);

// Lists what the ID3v2 tags at the start of a file say (at most 16 tags, the first kMaxId3ReadBytes of each: frames
// past that are not read), and with cover, where their pictures lie.
constexpr uint32_t kMaxId3ReadBytes = 256 * 1024;
void ReadStartTags(ZPMP::InputStream& input, TagList& tags, CoverLocation* cover = nullptr);

// The tags of an audio file made of frames (MP3, ADTS, AC-3, DTS): those at its start, then those at its end (after
// audioStart), into a cleared list; the cover of the tags at its start into a cleared cover.
void ReadFrameFileTags(ZPMP::InputStream& input, uint64_t audioStart, TagList& tags, CoverLocation& cover);

}  // namespace md
