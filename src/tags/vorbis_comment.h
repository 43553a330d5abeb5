// Vorbis comments (Xiph's comment header: a vendor string and a list of "NAME=value" fields, lengths 32-bit
// little-endian), as FLAC's VORBIS_COMMENT block, Ogg Vorbis (after "\x03vorbis"), Opus ("OpusTags"), Theora
// ("\x81theora") and Speex carry them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

// A field longer than this (an embedded picture) is skipped by its length.
constexpr size_t kMaxVorbisFieldBytes = 16 * 1024;
// At most this many fields are looked at, whatever the count states.
constexpr uint32_t kMaxVorbisFields = 4096;

// Lists the fields of the comment that opens b (without any codec prefix): under their common key (TITLE,
// TRACKNUMBER as track, DATE, ...) or "vorbis:<NAME>" in upper case; the vendor string as "vorbis:vendor". Fields
// cut short by the end of b are left out; a later field of the same name replaces an earlier one. False when b is
// too short for the vendor string and the count. With cover, a METADATA_BLOCK_PICTURE field that lies whole in b
// is offered to it (whatever its length), b's first byte lying at file offset at.
bool ReadVorbisComment(Bytes b, TagList& tags, CoverLocation* cover = nullptr, uint64_t at = 0);

// The same after the codec's own prefix, found by the packet's first bytes: "\x03vorbis", "OpusTags",
// "\x81theora"; false for any other packet.
bool ReadXiphCommentPacket(Bytes packet, TagList& tags, CoverLocation* cover = nullptr, uint64_t at = 0);

}  // namespace md
