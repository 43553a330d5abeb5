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
    const RemoteOptions& o = m_session->Options();
    const uint64_t window = std::max<uint32_t>(o.headWindow, 1);
    m_lastFetchEnd = window;  // the head is fetched, or was: reads from 0 on go on from it
    if (m_session->SizeKnown(m_size))
        return;
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
    m_session->SetSize(m_size);
    if (reply.received > 0)
        m_session->Keep({0, reply.received, std::shared_ptr<const uint8_t[]>(std::move(bytes))});
}

RemoteInputStream::~RemoteInputStream() = default;

RemoteRun RemoteInputStream::Fetch(uint64_t position, uint64_t want)
{
    const RemoteOptions& o = m_session->Options();
    const uint64_t block = std::max<uint32_t>(o.blockSize, 1);
    // One fetch never holds more than half the cache, so the run a read
    // straddles from is still there.
    const uint64_t maxFetch = std::max<uint64_t>(AlignDown(o.cacheBytes / 2, block), block);
    // A miss at the end of the last fetch, or within a read-ahead (at least the first) past it, goes on with the
    // run: a walk over element heads jumps over the bodies between them, and each jump would be a request of its own.
    const bool continues = position >= m_lastFetchEnd &&
                           position - m_lastFetchEnd <= std::max<uint64_t>(m_readAhead, o.readAheadStart);
    if (continues)
        m_readAhead = m_readAhead == 0 ? o.readAheadStart : std::min<uint64_t>(m_readAhead * 2, o.readAheadMax);
    else
        m_readAhead = 0;  // a jump: only the blocks this read needs
    uint64_t from = AlignDown(position, block);
    uint64_t end = std::max(AlignUp(position + want, block), position + m_readAhead);
    if (position >= m_willReadStart && position < m_willReadEnd)
        end = std::max(end, m_willReadEnd);
    end = std::min({end, from + maxFetch, m_size});
    // No byte is fetched twice while a stream of the file holds it.
    m_session->Unheld(from, end);
    if (from > position || end <= position)
        return m_session->Find(position);  // another stream fetched it meanwhile

    const uint64_t length = end - from;
    std::unique_ptr<uint8_t[]> bytes = Allocate(length);
    if (!bytes) {
        m_session->SetError("out of memory for a read of " + std::to_string(length) + " bytes");
        m_failed = true;
        return {};
    }
    RangeReply reply;
    const HRESULT hr = m_client->GetRange(from, length, bytes.get(), false, reply);
    if (FAILED(hr) || reply.received != length || (reply.sizeKnown && reply.size != m_size)) {
        if (SUCCEEDED(hr))
            m_session->SetError("the object changed size while it was read");
        m_failed = true;  // later misses fail at once: no wait again on a server that failed
        return {};
    }
    m_lastFetchEnd = end;
    RemoteRun run{from, length, std::shared_ptr<const uint8_t[]>(std::move(bytes))};
    m_session->Keep(run);
    return run;
}

uint64_t RemoteInputStream::Read(void* buffer, uint32_t count)
{
    if (!IsOpen() || m_position >= m_size || count == 0)
        return 0;
    const uint64_t total = std::min<uint64_t>(count, m_size - m_position);
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < total) {
        RemoteRun run = m_session->Find(m_position);
        if (!run.bytes && (m_failed || !(run = Fetch(m_position, total - done)).bytes))
            break;  // as a failed file read: what reached the buffer before the failure
        const uint64_t offset = m_position - run.start;
        const uint64_t n = std::min(total - done, run.length - offset);
        std::memcpy(out + done, run.bytes.get() + offset, n);
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

void RemoteInputStream::WillRead(uint64_t start, uint64_t end)
{
    m_willReadStart = start;
    m_willReadEnd = end;
}

uint64_t RemoteInputStream::Size() { return IsOpen() ? m_size : 0; }

void RemoteInputStream::GetPath(std::string& path) { path = m_shownPath; }

}  // namespace md
