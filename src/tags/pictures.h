// Where cover pictures lie in files whose tags carry them as binary records: FLAC's PICTURE metadata block and the
// 'covr' item of an MP4 'ilst'. Each places the picture (its offset and length in the file) without reading it.
#pragma once

#include <cstdint>
#include <vector>

#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

// A FLAC PICTURE block's body (after its 4-byte header) whose first byte is at file offset bodyOffset and which
// is blockLength bytes long; body holds at least its first bytes (the picture type, MIME type, description, the
// picture's dimensions and length). The picture is offered to cover when it lies within the block.
void PlaceFlacPicture(Bytes body, uint64_t bodyOffset, uint32_t blockLength, CoverLocation& cover);

// The bytes of base64 text (RFC 4648, with or without '=' padding); false at a character outside the alphabet.
bool DecodeBase64(Bytes text, std::vector<uint8_t>& out);

// Offers cover the METADATA_BLOCK_PICTURE value of a Vorbis comment (base64 text of a FLAC PICTURE block) lying at
// file offset textOffset; its picture type is decoded from the text's first bytes, the rest when it is read.
void PlaceBase64FlacPicture(Bytes text, uint64_t textOffset, CoverLocation& cover);

// The picture of a decoded FLAC PICTURE block; empty when the block is malformed.
std::vector<uint8_t> FlacPictureBytes(Bytes block);

// At most this many box headers are looked at for an MP4 cover.
constexpr int kMaxMp4CoverBoxes = 256;

// The first 'data' of the 'covr' item in the 'ilst' of moov/udta/meta or moov/meta, moov being the 'moov' box's
// payload, whose first byte is at file offset moovOffset; found box header by box header.
void PlaceMp4Cover(Bytes moov, uint64_t moovOffset, CoverLocation& cover);

}  // namespace md
