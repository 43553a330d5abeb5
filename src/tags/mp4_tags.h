// What MP4 and QuickTime files say about themselves, read from the boxes of 'moov' that carry it: the 'mvhd'
// creation time, QuickTime user data ('udta' boxes named "\xA9xyz", "\xA9mak", "\xA9nam", ...: a list of
// (length, language, text) strings), and 'meta' boxes with an 'ilst' item list: iTunes atoms ("\xA9nam", "trkn",
// "disk", "gnre", ...) or Apple's 'mdta' keys ('keys' names them, the items are numbered by them:
// "com.apple.quicktime.location.ISO6709", ".make", ".model", ".creationdate", ...), each value in a 'data' box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

// A box larger than this among those that carry tags ('udta', 'meta') is not read; a 'data' value larger than
// kMaxMp4ValueBytes (a cover picture) is skipped.
constexpr uint64_t kMaxMp4TagBoxBytes = 1024 * 1024;
constexpr size_t kMaxMp4ValueBytes = 16 * 1024;
// At most this many boxes are looked at in one list, and this many 'mdta' keys are named.
constexpr int kMaxMp4TagBoxes = 1024;
constexpr uint32_t kMaxMp4Keys = 1024;

// "2024-05-01T10:20:30Z" for a time in seconds since 1904-01-01 00:00:00 UTC, the epoch of the MP4 times; empty
// past the year 9999.
std::string Iso8601From1904(uint64_t seconds);

// The creation time of an 'mvhd' payload (after the box header) as "creation_time"; 0 (not set) lists nothing.
void ReadMvhdTags(Bytes mvhd, TagList& tags);

// The tags among the boxes of a 'udta' payload: its QuickTime strings and its 'meta' box.
void ReadUdtaTags(Bytes udta, TagList& tags);

// The tags of a 'meta' payload, with or without the full-box version and flags QuickTime leaves out.
void ReadMetaTags(Bytes meta, TagList& tags);

}  // namespace md
