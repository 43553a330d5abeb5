// Builder of synthetic ISO base media boxes for tests: boxes nest, and each
// box's size field is written when the box is closed. Full-box helpers write
// the version-and-flags word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace mdtest {

class BoxBuilder {
public:
    // Opens a box of the given four-character type (exactly 4 bytes, e.g.
    // "moov" or "\xA9inf"). The size is filled in by End().
    BoxBuilder& Begin(std::string_view type);
    // Opens a box with size field 1 and a 64-bit size, filled in by End().
    BoxBuilder& BeginLarge(std::string_view type);
    // Opens a full box: header, then version (8 bits) and flags (24 bits).
    BoxBuilder& BeginFull(std::string_view type, uint8_t version, uint32_t flags);
    // Closes the innermost open box and writes its size.
    BoxBuilder& End();

    BoxBuilder& U8(uint32_t v);
    BoxBuilder& U16(uint32_t v);
    BoxBuilder& U24(uint32_t v);
    BoxBuilder& U32(uint32_t v);
    BoxBuilder& U64(uint64_t v);
    BoxBuilder& Le32(uint32_t v);
    BoxBuilder& Bytes(std::span<const uint8_t> bytes);
    BoxBuilder& Zeros(size_t n);
    // The characters of text, then a NUL unless withNul is false.
    BoxBuilder& Text(std::string_view text, bool withNul = true);
    // The four bytes of a four-character code.
    BoxBuilder& Type(std::string_view type);

    // Overwrites the u32 at an absolute offset (End() fills in sizes with it).
    BoxBuilder& PatchU32(size_t offset, uint32_t v);

    size_t Size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& Data() const { return m_bytes; }
    // The bytes built; every box must be closed.
    std::vector<uint8_t> Take();

private:
    struct Open {
        size_t start;
        bool large;
    };
    std::vector<uint8_t> m_bytes;
    std::vector<Open> m_open;
};

// Visual and audio sample entry fixed parts (after the 8-byte header), as
// ISO/IEC 14496-12 lays them out.
void PutVisualEntryFields(BoxBuilder& b, uint16_t width, uint16_t height);
void PutAudioEntryFields(BoxBuilder& b, uint16_t channels, uint16_t sampleSize, uint32_t sampleRate);

// An MPEG-4 descriptor: tag, the payload length in 7-bit groups (lengthBytes of
// them, 1 to 4), then the payload.
std::vector<uint8_t> Descriptor(uint8_t tag, std::span<const uint8_t> payload, int lengthBytes = 1);
// An ES_Descriptor holding a DecoderConfigDescriptor (object type, buffer size,
// bit rates) holding a DecoderSpecificInfo with dsi (none when dsi is empty).
std::vector<uint8_t> EsDescriptor(uint8_t objectType, uint32_t bufferSize, uint32_t maxBitrate, uint32_t avgBitrate,
                                  std::span<const uint8_t> dsi);

}  // namespace mdtest
