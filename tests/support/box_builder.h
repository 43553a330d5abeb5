// Writer of synthetic ISO base media boxes for tests: boxes nest, and each box's
// size field is written when the box is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace mdtest {

class BoxBuilder {
public:
    // Opens a box of a four-byte type ("moov", "\xA9inf"); End() writes its size.
    // A large box has size field 1 and a 64-bit size; a full box adds version and flags.
    BoxBuilder& Begin(std::string_view type);
    BoxBuilder& BeginLarge(std::string_view type);
    BoxBuilder& BeginFull(std::string_view type, uint8_t version, uint32_t flags);
    BoxBuilder& End();

    BoxBuilder& U8(uint64_t v) { return Big(v, 1); }
    BoxBuilder& U16(uint64_t v) { return Big(v, 2); }
    BoxBuilder& U32(uint64_t v) { return Big(v, 4); }
    BoxBuilder& U64(uint64_t v) { return Big(v, 8); }
    BoxBuilder& Le32(uint32_t v);
    BoxBuilder& Bytes(std::span<const uint8_t> bytes);
    BoxBuilder& Zeros(size_t n);
    // The characters of text, then a NUL unless withNul is false.
    BoxBuilder& Text(std::string_view text, bool withNul = true);
    // The four bytes of a four-character code.
    BoxBuilder& Type(std::string_view type);

    size_t Size() const { return m_bytes.size(); }
    // The bytes built; every box must be closed.
    std::vector<uint8_t> Take();

private:
    BoxBuilder& Big(uint64_t v, int bytes);
    struct Open {
        size_t start;
        bool large;
    };
    std::vector<uint8_t> m_bytes;
    std::vector<Open> m_open;
};

}  // namespace mdtest
