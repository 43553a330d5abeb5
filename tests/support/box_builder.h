// Writer of synthetic ISO base media boxes for tests: boxes nest, and a box's size is written when it is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace mdtest {

class BoxBuilder {
public:
    // Opens a box of a four-byte type; a large box has size field 1 and a 64-bit size; a full box adds version
    // and flags. End() writes the size.
    BoxBuilder& Begin(std::string_view type, bool large = false);
    BoxBuilder& BeginLarge(std::string_view type) { return Begin(type, true); }
    BoxBuilder& BeginFull(std::string_view type, uint8_t version, uint32_t flags);
    BoxBuilder& End();

    BoxBuilder& U8(uint64_t v) { return Big(v, 1); }
    BoxBuilder& U16(uint64_t v) { return Big(v, 2); }
    BoxBuilder& U32(uint64_t v) { return Big(v, 4); }
    BoxBuilder& U64(uint64_t v) { return Big(v, 8); }
    BoxBuilder& Bytes(std::span<const uint8_t> bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    BoxBuilder& Zeros(size_t n) { return Bytes(std::vector<uint8_t>(n)); }
    // The characters of text, then a NUL unless withNul is false.
    BoxBuilder& Text(std::string_view text, bool withNul = true)
    {
        Bytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
        return withNul ? U8(0) : *this;
    }
    // The four bytes of a four-character code.
    BoxBuilder& Type(std::string_view type) { return Text(type.substr(0, 4), false); }

    size_t Size() const { return m_bytes.size(); }
    // The bytes built; every box must be closed.
    std::vector<uint8_t> Take() { return std::exchange(m_bytes, {}); }

private:
    BoxBuilder& Big(uint64_t v, int bytes);
    std::vector<uint8_t> m_bytes;
    std::vector<std::pair<size_t, bool>> m_open;  // start and largeness of the open boxes
};

}  // namespace mdtest
