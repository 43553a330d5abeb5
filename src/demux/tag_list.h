// What a file says about itself: an ordered list of (key, value) pairs in UTF-8, as the tag readers of each
// container fill it. Keys are the common names (title, artist, album, track, date, creation_time, location, ...)
// where the tag system has one, else the system's own key with its prefix ("id3:TBPM", "vorbis:REPLAYGAIN_...",
// "mp4:©too"). Every pair is bounded: a list holds at most kMaxTags pairs, a key at most kMaxTagKeyBytes bytes and
// a value at most kMaxTagValueBytes bytes, cut at a UTF-8 character boundary; invalid UTF-8 is replaced by U+FFFD,
// so every key and value is valid UTF-8 without NUL bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace md {

constexpr size_t kMaxTags = 256;
constexpr size_t kMaxTagKeyBytes = 128;
constexpr size_t kMaxTagValueBytes = 4096;

struct Tag {
    std::string key;
    std::string value;
};

// text as valid UTF-8 of at most maxBytes bytes: each invalid byte (a stray continuation byte, an overlong or
// surrogate form, a sequence cut short) becomes U+FFFD, a NUL byte ends the text, and the text is cut before the
// first character that would not fit.
std::string CleanUtf8(std::string_view text, size_t maxBytes);

// Whether text is valid UTF-8 throughout (no invalid byte; NUL bytes are valid).
bool IsValidUtf8(std::string_view text);

class TagList {
public:
    // Sets key to value: a key already listed takes the new value in its place, a new one goes last. An empty key
    // or value, or a new key when the list is full, is not listed. True when listed.
    bool Set(std::string_view key, std::string_view value);
    // Lists key only when it is not listed yet (a lower-priority source of the same facts).
    bool SetIfMissing(std::string_view key, std::string_view value);

    size_t Count() const { return m_tags.size(); }
    bool Empty() const { return m_tags.empty(); }
    const Tag& At(size_t i) const { return m_tags[i]; }
    // The value of a key, or null.
    const std::string* Find(std::string_view key) const;
    void Clear() { m_tags.clear(); }

private:
    std::vector<Tag> m_tags;
};

// Where a file's cover picture lies: bytes [offset, offset + length) of the file, the picture as stored (JPEG,
// PNG, ...). The open keeps the place; the picture is read only when a host asks for it. length 0: none.
struct CoverLocation {
    uint64_t offset = 0;
    uint32_t length = 0;
    bool front = false;  // a front cover: ID3 and FLAC picture type 3, an MP4 'covr', a Matroska "cover.*"
    // The bytes are the base64 text of a FLAC PICTURE block (a Vorbis comment's METADATA_BLOCK_PICTURE), not the
    // picture itself: the picture is decoded from them when it is read.
    bool base64FlacPicture = false;

    bool Found() const { return length != 0; }
    // Takes (offset, length) in place of the kept one when none is kept or it is a front cover and the kept one
    // is not. An empty picture, or one longer than kMaxCoverBytes, is not taken.
    void Offer(uint64_t pictureOffset, uint64_t pictureLength, bool frontCover, bool base64 = false);
};

// A picture longer than this is left out by its length, never read.
constexpr uint32_t kMaxCoverBytes = 16 * 1024 * 1024;

}  // namespace md
