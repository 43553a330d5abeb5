// A ZPMP::InputStream over an object behind an HTTP(S) server, read with range
// requests. The open is one request for the head window, which brings the size
// and the first bytes every probe reads. Later reads are served from a small
// cache of fetched runs; a miss fetches the blocks it needs with one request, and
// reads that go on where the last one ended fetch ever more ahead, so a walk
// through the whole file fetches each byte once in few requests.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "input/http_client.h"
#include "input/input_stream.h"
#include "input/remote_session.h"

namespace md {

class RemoteInputStream : public ZPMP::InputStream {
public:
    // Opens target: the first request, unless an earlier stream of the session
    // fetched the head window already (the queries of a file each open the path
    // again: they start from the same head without a round trip). A failed open leaves a stream that acts as
    // a file that could not be opened (size 0, reads 0, seeks refused); Result()
    // says why and the session keeps the reason.
    RemoteInputStream(const RemoteTarget& target, std::shared_ptr<RemoteSession> session);
    ~RemoteInputStream() override;

    RemoteInputStream(const RemoteInputStream&) = delete;
    RemoteInputStream& operator=(const RemoteInputStream&) = delete;

    uint64_t Read(void* buffer, uint32_t count) override;
    int32_t Seek(uint64_t position) override;
    uint64_t Size() override;
    // The URL without its query string (which may hold a signature).
    void GetPath(std::string& path) override;

    // S_OK after a good open; the open's failure otherwise.
    HRESULT Result() const { return m_result; }
    bool IsOpen() const { return SUCCEEDED(m_result); }
    // Whether a read after the open failed; every later miss then fails at once.
    bool Failed() const { return m_failed; }

private:
    // A run of bytes fetched with one request.
    struct Segment {
        uint64_t start = 0;
        uint64_t length = 0;
        std::shared_ptr<const uint8_t[]> bytes;  // the head's may be shared with other streams
    };
    // The segment holding position, moved to the front (most recently used); null when none does.
    const Segment* Find(uint64_t position);
    // Fetches a run starting at the block of position, long enough for want bytes
    // (and the read-ahead), into a new front segment; null when the fetch failed.
    const Segment* Fetch(uint64_t position, uint64_t want);
    // Drops the least recently used segments beyond the cache size, never the front one.
    void Evict();

    std::shared_ptr<RemoteSession> m_session;
    std::unique_ptr<HttpClient> m_client;
    std::string m_shownPath;
    HRESULT m_result = S_OK;
    bool m_failed = false;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
    uint64_t m_lastFetchEnd = 0;  // where the last fetch ended: a miss there continues a sequential run
    uint64_t m_readAhead = 0;     // the read-ahead of the next sequential miss (0: none yet)
    std::list<Segment> m_segments;  // most recently used first
    uint64_t m_cached = 0;          // bytes in m_segments
};

}  // namespace md
