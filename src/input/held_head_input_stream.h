// A stream over another that keeps the bytes of the first read from the file's start (at most a stated number) and
// serves later reads that lie wholly inside them from memory, so a second reader of the head (the Matroska tag
// reader after the probe) costs no read of the file. Every other read goes to the inner stream at the position this
// stream is at.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "input/input_stream.h"

namespace md {

class HeldHeadInputStream final : public ZPMP::InputStream {
public:
    // Reads through inner, which the caller keeps alive; keeps at most maxHeld bytes of the head.
    HeldHeadInputStream(ZPMP::InputStream& inner, uint32_t maxHeld) : m_inner(inner), m_maxHeld(maxHeld) {}

    HeldHeadInputStream(const HeldHeadInputStream&) = delete;
    HeldHeadInputStream& operator=(const HeldHeadInputStream&) = delete;

    uint64_t Read(void* buffer, uint32_t count) override
    {
        // Inside the head; where the head is the whole file, a read past its end is cut there, as the file's is.
        if (m_position <= m_head.size() && (count <= m_head.size() - m_position || m_wholeFile)) {
            const auto n = uint32_t(std::min<uint64_t>(count, m_head.size() - m_position));
            std::memcpy(buffer, m_head.data() + m_position, n);
            m_position += n;
            return n;
        }
        if (m_innerPosition != m_position && m_inner.Seek(m_position) != 0)
            return 0;
        const uint64_t got = m_inner.Read(buffer, count);
        if (m_position == 0 && m_head.empty()) {
            const auto* bytes = static_cast<const uint8_t*>(buffer);
            m_head.assign(bytes, bytes + std::min<uint64_t>(got, m_maxHeld));
            m_wholeFile = !m_head.empty() && m_head.size() == m_inner.Size();
        }
        m_position += got;
        m_innerPosition = m_position;
        return got;
    }
    int32_t Seek(uint64_t position) override
    {
        const int32_t result = m_inner.Seek(position);
        if (result == 0)
            m_position = m_innerPosition = position;
        return result;
    }
    uint64_t Size() override { return m_inner.Size(); }
    void GetPath(std::string& path) override { m_inner.GetPath(path); }

private:
    ZPMP::InputStream& m_inner;
    const uint32_t m_maxHeld;
    std::vector<uint8_t> m_head;
    bool m_wholeFile = false;  // the head holds every byte of the file
    uint64_t m_position = 0;
    uint64_t m_innerPosition = UINT64_MAX;  // where the inner stream is: not known until a seek or a read
};

}  // namespace md
