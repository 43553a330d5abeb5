#include "input/remote_input_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace md {
namespace {

uint64_t AlignDown(uint64_t value, uint64_t unit) { return value / unit * unit; }
uint64_t AlignUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

std::unique_ptr<uint8_t[]> Allocate(uint64_t bytes)
{
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

}  // namespace

RemoteInputStream::RemoteInputStream(const RemoteTarget& target, std::shared_ptr<RemoteSession> session)
    : m_session(std::move(session))
{
    m_shownPath = target.url.substr(0, target.url.find_first_of("?#"));
    m_client = HttpClient::Create(target, *m_session, m_result);
    if (!m_client)
        return;
    if (const RemoteHead kept = m_session->Head(); kept.bytes) {
        m_size = kept.size;
        m_lastFetchEnd = kept.length;
        if (kept.length > 0) {
            m_cached = kept.length;
            m_segments.push_front(Segment{0, kept.length, kept.bytes});
        }
        return;
    }
    const RemoteOptions& o = m_session->Options();
    const uint64_t window = std::max<uint32_t>(o.headWindow, 1);
    std::unique_ptr<uint8_t[]> bytes = Allocate(window);
    if (!bytes) {
        m_session->SetError("out of memory for the head window");
        m_result = E_OUTOFMEMORY;
        return;
    }
    RangeReply reply;
    m_result = m_client->GetRange(0, window, bytes.get(), true, reply);
    if (FAILED(m_result))
        return;
    if (!reply.sizeKnown) {
        m_session->SetError(HostOfUrl(target.url) + " did not tell the object's size (Content-Range total '*')");
        m_result = MD_E_REMOTE_FAILED;
        return;
    }
    m_size = reply.size;
    const RemoteHead head{std::shared_ptr<const uint8_t[]>(std::move(bytes)), reply.received, reply.size};
    m_session->KeepHead(head);
    m_lastFetchEnd = head.length;
    if (head.length > 0) {
        m_cached = head.length;
        m_segments.push_front(Segment{0, head.length, head.bytes});
    }
}

RemoteInputStream::~RemoteInputStream() = default;

const RemoteInputStream::Segment* RemoteInputStream::Find(uint64_t position)
{
    for (auto it = m_segments.begin(); it != m_segments.end(); ++it) {
        if (position >= it->start && position - it->start < it->length) {
            m_segments.splice(m_segments.begin(), m_segments, it);
            return &m_segments.front();
        }
    }
    return nullptr;
}

const RemoteInputStream::Segment* RemoteInputStream::Fetch(uint64_t position, uint64_t want)
{
    const RemoteOptions& o = m_session->Options();
    const uint64_t block = std::max<uint32_t>(o.blockSize, 1);
    // One fetch never holds more than half the cache, so the segment a read
    // straddles from is still there.
    const uint64_t maxFetch = std::max<uint64_t>(AlignDown(o.cacheBytes / 2, block), block);
    if (position == m_lastFetchEnd)
        m_readAhead = m_readAhead == 0 ? o.readAheadStart : std::min<uint64_t>(m_readAhead * 2, o.readAheadMax);
    else
        m_readAhead = 0;  // a jump: only the blocks this read needs
    const uint64_t start = AlignDown(position, block);
    uint64_t end = std::max(AlignUp(position + want, block), position + m_readAhead);
    end = std::min({end, start + maxFetch, m_size});
    // Up to the next cached run at most: no byte is fetched twice while it is held.
    for (const Segment& s : m_segments)
        if (s.start > position && s.start < end)
            end = s.start;
    // The block start may lie inside the run before: begin after it.
    uint64_t from = start;
    for (bool moved = true; moved;) {
        moved = false;
        for (const Segment& s : m_segments) {
            if (s.start <= from && from < s.start + s.length) {
                from = s.start + s.length;  // never past position: no run holds position
                moved = true;
            }
        }
    }

    const uint64_t length = end - from;
    std::unique_ptr<uint8_t[]> bytes = Allocate(length);
    if (!bytes) {
        m_session->SetError("out of memory for a read of " + std::to_string(length) + " bytes");
        m_failed = true;
        return nullptr;
    }
    RangeReply reply;
    const HRESULT hr = m_client->GetRange(from, length, bytes.get(), false, reply);
    if (FAILED(hr) || reply.received != length || (reply.sizeKnown && reply.size != m_size)) {
        if (SUCCEEDED(hr))
            m_session->SetError("the object changed size while it was read");
        m_failed = true;  // later misses fail at once: no wait again on a server that failed
        return nullptr;
    }
    m_lastFetchEnd = end;
    m_cached += length;
    m_segments.push_front(Segment{from, length, std::shared_ptr<const uint8_t[]>(std::move(bytes))});
    Evict();
    return &m_segments.front();
}

void RemoteInputStream::Evict()
{
    const uint64_t capacity = m_session->Options().cacheBytes;
    while (m_cached > capacity && m_segments.size() > 1) {
        m_cached -= m_segments.back().length;
        m_segments.pop_back();
    }
}

uint64_t RemoteInputStream::Read(void* buffer, uint32_t count)
{
    if (!IsOpen() || m_position >= m_size || count == 0)
        return 0;
    const uint64_t total = std::min<uint64_t>(count, m_size - m_position);
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < total) {
        const Segment* s = Find(m_position);
        if (s == nullptr && (m_failed || (s = Fetch(m_position, total - done)) == nullptr))
            break;  // as a failed file read: what reached the buffer before the failure
        const uint64_t offset = m_position - s->start;
        const uint64_t n = std::min(total - done, s->length - offset);
        std::memcpy(out + done, s->bytes.get() + offset, n);
        done += n;
        m_position += n;
    }
    return done;
}

int32_t RemoteInputStream::Seek(uint64_t position)
{
    if (!IsOpen())
        return 1;
    // As a file: any position is taken, past the end too (the next read gives 0);
    // one that is negative as a signed value is refused and changes nothing.
    if (position <= uint64_t(INT64_MAX))
        m_position = position;
    return 0;
}

uint64_t RemoteInputStream::Size() { return IsOpen() ? m_size : 0; }

void RemoteInputStream::GetPath(std::string& path) { path = m_shownPath; }

}  // namespace md
