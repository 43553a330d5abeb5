#include "mkv/kept_input.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

namespace md {

uint64_t KeptInput::Read(void* buffer, uint32_t count)
{
    if (m_direct)
        return m_input.Read(buffer, count);
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const uint64_t pos = m_position + done;
        const auto next = m_runs.upper_bound(pos);
        if (next != m_runs.begin()) {
            const auto& [start, bytes] = *std::prev(next);
            if (pos - start < bytes.size()) {
                const auto n = static_cast<uint32_t>(std::min<uint64_t>(count - done, bytes.size() - (pos - start)));
                std::memcpy(out + done, bytes.data() + (pos - start), n);
                done += n;
                continue;
            }
        }
        // A gap up to the next kept run or the end of the request: one read.
        uint64_t gap = count - done;
        if (next != m_runs.end())
            gap = std::min(gap, next->first - pos);
        if (pos >= m_end)
            break;
        const uint32_t got = ZPMP::ReadAt(m_input, pos, out + done, static_cast<uint32_t>(gap));
        Keep(pos, out + done, got);
        done += got;
        if (got < gap) {
            m_end = pos + got;
            break;
        }
    }
    m_position += done;
    return done;
}

int32_t KeptInput::Seek(uint64_t position)
{
    m_position = position;
    m_direct = position > uint64_t(INT64_MAX);
    return m_direct ? m_input.Seek(position) : 0;
}

void KeptInput::Keep(uint64_t position, const uint8_t* bytes, uint32_t count)
{
    if (count == 0 || count > m_limit - m_kept)
        return;
    try {
        m_runs.emplace(position, std::vector<uint8_t>(bytes, bytes + count));
        m_kept += count;
    } catch (const std::bad_alloc&) {
        // Not kept: a later read of these bytes reads them again.
    }
}

}  // namespace md
