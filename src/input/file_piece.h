// A piece of a file read by a walk over its chunks: the walk reads a piece (of at most the piece size) at a chunk
// header the piece does not hold yet, and takes the headers that follow and the small bodies among them from it,
// so the readers of those bodies (the tag readers among them) cost no read of their own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "input/bytes.h"
#include "input/input_stream.h"

namespace md {

class FilePiece {
public:
    // Reads input, which the caller keeps alive, in pieces of pieceBytes.
    FilePiece(ZPMP::InputStream& input, uint32_t pieceBytes) : m_input(input), m_pieceBytes(pieceBytes) {}

    FilePiece(const FilePiece&) = delete;
    FilePiece& operator=(const FilePiece&) = delete;

    // The count bytes of a header at pos (count at most the piece size): from the piece that holds them, else from
    // a new piece read at pos. Fewer where the file ends first (or cannot be read), as a read would return.
    Bytes Header(uint64_t pos, uint32_t count)
    {
        if (const Bytes held = Held(pos, count); held.size() == count)
            return held;
        const uint64_t fileSize = m_input.Size();
        m_at = pos;
        m_bytes.resize(size_t(std::min<uint64_t>(m_pieceBytes, fileSize - std::min(fileSize, pos))));
        m_bytes.resize(ZPMP::ReadAt(m_input, pos, m_bytes.data(), uint32_t(m_bytes.size())));
        return Bytes(m_bytes).first(std::min<size_t>(count, m_bytes.size()));
    }

    // The count bytes of a body at pos: from the piece where it holds them all, else one read of them (fewer where
    // the file ends first). The bytes last until the next call of Body or Header.
    Bytes Body(uint64_t pos, uint32_t count)
    {
        if (const Bytes held = Held(pos, count); held.size() == count)
            return held;
        m_spare.resize(count);
        m_spare.resize(ZPMP::ReadAt(m_input, pos, m_spare.data(), count));
        return Bytes(m_spare);
    }

private:
    // The count bytes at pos when the piece holds them all, else empty.
    Bytes Held(uint64_t pos, uint32_t count) const
    {
        if (pos < m_at || pos - m_at > m_bytes.size() || count > m_bytes.size() - (pos - m_at))
            return {};
        return Bytes(m_bytes).subspan(size_t(pos - m_at), count);
    }

    ZPMP::InputStream& m_input;
    const uint32_t m_pieceBytes;
    uint64_t m_at = 0;
    std::vector<uint8_t> m_bytes;
    std::vector<uint8_t> m_spare;
};

}  // namespace md
