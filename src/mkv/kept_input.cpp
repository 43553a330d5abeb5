#include "mkv/kept_input.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <span>

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
        // A gap up to the next kept run or the end of the request: one read, and a
        // short one is handed on as the stream gave it.
        uint64_t gap = count - done;
        if (next != m_runs.end())
            gap = std::min(gap, next->first - pos);
        if (pos >= m_end || m_input.Seek(pos) != 0)
            break;
        const uint64_t got = m_input.Read(out + done, static_cast<uint32_t>(gap));
        if (got == 0)
            m_end = pos;
        if (got == 0 || got > gap)
            break;
        Keep(pos, out + done, static_cast<uint32_t>(got));
        done += static_cast<uint32_t>(got);
        if (got < gap)
            break;
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

void KeptInput::KeepOnly(std::vector<Range> ranges)
{
    // Sorted and merged, so that the parts kept of one read never overlap.
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
    m_ranges.clear();
    for (const Range& r : ranges) {
        if (!m_ranges.empty() && r.begin <= m_ranges.back().end)
            m_ranges.back().end = std::max(m_ranges.back().end, r.end);
        else if (r.begin < r.end)
            m_ranges.push_back(r);
    }
    m_keepAll = false;
}

void KeptInput::Keep(uint64_t position, const uint8_t* bytes, uint32_t count)
{
    const uint64_t end = position + count;
    const Range all[1] = {{position, end}};
    for (const Range& r : m_keepAll ? std::span<const Range>(all) : std::span<const Range>(m_ranges)) {
        const uint64_t begin = std::max(position, r.begin);
        const uint64_t stop = std::min(end, r.end);
        if (begin >= stop || stop - begin > m_limit - m_kept)
            continue;
        try {
            m_runs.emplace(begin, std::vector<uint8_t>(bytes + (begin - position), bytes + (stop - position)));
            m_kept += stop - begin;
        } catch (const std::bad_alloc&) {
            // Not kept: a later read of these bytes reads them again.
        }
    }
}

}  // namespace md
