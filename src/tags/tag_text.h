// Text as tag systems store it, turned into UTF-8: ISO-8859-1, UTF-16 in either byte order with or without a byte
// order mark, and UTF-8. Each takes a span that holds exactly the string (its terminator already cut off) and
// stops after maxBytes bytes of output; invalid input becomes U+FFFD (TagList checks UTF-8 once more).
#pragma once

#include <cstddef>
#include <string>

#include "input/bytes.h"

namespace md {

std::string Latin1ToUtf8(Bytes text, size_t maxBytes);

// Text in a field whose encoding is not stated (RIFF INFO, AIFF text chunks): UTF-8 where it is valid, else
// ISO-8859-1.
std::string Utf8OrLatin1(Bytes text, size_t maxBytes);

// UTF-16 text. A byte order mark (FF FE little-endian, FE FF big-endian) decides the order and is dropped; without
// one, bigEndian decides, unless the bytes show the order themselves: text whose first code unit has its high byte
// 0 and its low byte not (as Latin text does) is read in that order. An odd last byte is dropped; an unpaired
// surrogate becomes U+FFFD.
std::string Utf16ToUtf8(Bytes text, bool bigEndian, size_t maxBytes);

// A DVB string (ETSI EN 300 468 annex A): a first byte below 0x20 selects the character table. 0x15 is UTF-8,
// 0x11 UCS-2 big-endian, 0x10 0x00 0x01 and 0x01.. (ISO 8859-1 and the parts 5 to 15) ISO 8859; without one the
// table is ISO 6937. ASCII reads the same in every table; where the table's other characters are not Latin-1's
// (the ISO 6937 accents and the other ISO 8859 parts) they become U+FFFD, and ISO 8859-1 is read exactly. The
// control codes 0x80-0x9F are dropped, but for 0x8A, a line break.
std::string DvbTextToUtf8(Bytes text, size_t maxBytes);

// The length of the string that opens b: up to its first NUL code unit (unitBytes 1 or 2, a unit at an even
// offset for 2), or all of b when it has none. *next receives the offset after the terminator (b.size() without).
size_t TerminatedLength(Bytes b, size_t unitBytes, size_t* next);

// Bytes as a string view, for ASCII and UTF-8 fields.
inline std::string_view AsText(Bytes b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

}  // namespace md
