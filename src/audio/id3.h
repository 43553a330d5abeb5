// ID3v2 tags at the start of an audio file (id3.org, ID3v2.3.0 and ID3v2.4.0 structure): they are not audio, and
// the file's frames start after them. Several tags may follow each other.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/end_tags.h"
#include "demux/tag_list.h"
#include "input/bytes.h"
#include "input/input_stream.h"

namespace md {

// The size of the tag whose 10-byte header opens b ("ID3", version 2 to 4, a 28-bit syncsafe size), header and
// footer included; 0 when b does not open with such a header.
uint64_t Id3v2TagSize(Bytes b);

// Where the audio of a file starts: after the ID3v2 tags at its start (at most 16 in a row), or 0 without. A tag
// that claims more bytes than the file has ends the file. The headers that lie in head (the file's first bytes,
// already read) are taken from it.
uint64_t Id3v2TagsEnd(ZPMP::InputStream& input, Bytes head = {});

// The first bytes of a file's audio: at most limit bytes from the end of its ID3v2 tags on. Where the first tag
// is at most kMaxId3InHead bytes, one read from the file's start takes it and the audio's first bytes together,
// and the head keeps the tags' bytes for the tag readers.
constexpr uint64_t kMaxId3InHead = 256 * 1024;
struct AudioHead {
    uint64_t start = 0;  // the end of the tags
    std::vector<uint8_t> held;  // the bytes read: from the file's start, or from start
    size_t audioAt = 0;         // where start lies in held
    Bytes View() const { return Bytes(held).subspan(audioAt); }
    // The bytes held when they start at the file's start (its ID3v2 tags and the audio's first bytes), else empty.
    Bytes FileStart() const { return audioAt == start ? Bytes(held) : Bytes(); }
};
AudioHead ReadAudioHead(ZPMP::InputStream& input, uint32_t limit);

// Lists what the ID3v2 tags at the start of a file say (at most 16 tags, the first kMaxId3ReadBytes of each: frames
// past that are not read), and with cover, where their pictures lie. The tags that lie in head (the file's first
// bytes, already read) are taken from it.
constexpr uint32_t kMaxId3ReadBytes = 256 * 1024;
void ReadStartTags(ZPMP::InputStream& input, TagList& tags, CoverLocation* cover = nullptr, Bytes head = {});

// The tags of an audio file made of frames (MP3, ADTS, AC-3, DTS): those at its start, then those at its end (after
// audioStart), into a cleared list; the cover of the tags at its start into a cleared cover. head (the file's
// first bytes) and tail (its last), where given, hold bytes already read.
void ReadFrameFileTags(ZPMP::InputStream& input, uint64_t audioStart, TagList& tags, CoverLocation& cover,
                       Bytes head = {}, const EndTail* tail = nullptr);

}  // namespace md
