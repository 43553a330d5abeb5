// ASF (WMV, WMA) tags: the Content Description Object (title, author, copyright, description, rating, as five
// UTF-16LE strings) and the Extended Content Description Object (named values: "WM/AlbumTitle", "WM/TrackNumber",
// "WM/Year", ...; strings, integers and booleans; byte arrays such as pictures are skipped).
#pragma once

#include <cstddef>
#include <cstdint>

#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

// The objects' identifiers as ASF stores them ({75B22633-668E-11CF-A6D9-00AA0062CE6C} and
// {D2D0A440-E307-11D2-97F0-00A0C95EA850}).
constexpr uint8_t kAsfContentDescription[16] = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfExtendedContentDescription[16] = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                                        0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
// At most this many named values are looked at; a value longer than this is skipped.
constexpr uint32_t kMaxAsfDescriptors = 1024;
constexpr size_t kMaxAsfValueBytes = 16 * 1024;

// The body of a Content Description Object (after its 24-byte header).
void ReadAsfContentDescription(Bytes body, TagList& tags);
// The body of an Extended Content Description Object: names under their common key ("WM/AlbumTitle": album; a
// common key's own name, as some writers store it, as it is) or "asf:<name>".
void ReadAsfExtendedContent(Bytes body, TagList& tags);

}  // namespace md
