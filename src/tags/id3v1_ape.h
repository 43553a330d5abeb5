// Tags at the end of an audio file: ID3v1 and ID3v1.1 ("TAG" and 125 bytes of fixed ISO-8859-1 fields) and APEv2
// (items of a key, flags and a value, framed by a 32-byte "APETAGEX" footer and an optional header).
#pragma once

#include <cstdint>
#include <string_view>

#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

constexpr size_t kId3v1Size = 128;
constexpr size_t kApeFooterSize = 32;
// An APE item value longer than this (a picture) is skipped.
constexpr size_t kMaxApeItemBytes = 16 * 1024;
// At most this many APE items are looked at.
constexpr uint32_t kMaxApeItems = 1024;

// The name of an ID3v1 genre number (the 80 of ID3v1 and Winamp's additions), empty for an unknown one.
std::string_view Id3v1GenreName(uint32_t genre);

// Lists the fields of a 128-byte ID3v1 tag (title, artist, album, date, comment, track in 1.1, genre), each only
// where the list has no value for its key yet (the ID3v2 tags at the start come first). False when tag is not one.
bool ReadId3v1Tag(Bytes tag, TagList& tags);

// What a 32-byte APEv2 footer states.
struct ApeFooter {
    uint32_t version = 0;  // 1000 or 2000
    uint32_t tagSize = 0;  // the items and the footer
    uint32_t itemCount = 0;
    bool hasHeader = false;  // a 32-byte header stands before the items
};
bool ParseApeFooter(Bytes footer, ApeFooter& out);

// Lists the text items among the bytes between the header (if any) and the footer: under their common key (Title,
// Artist, Album, Track, Year as date, ...) or "ape:<key>". Binary and link items, and values longer than
// kMaxApeItemBytes, are skipped by their length; items stops at the first item cut short.
void ReadApeItems(Bytes items, uint32_t itemCount, TagList& tags);

}  // namespace md
