// A ZPMP::InputStream over an object behind an HTTP(S) server, read with range
// requests. The first open of a file is one request for the head window, which
// brings the size and the first bytes every probe reads. Reads are served from
// the runs the file's streams fetched (RemoteSession); a miss fetches the blocks
// it needs with one request, and a miss at or a little past where the last fetch
// ended (a walk, or a walk over element heads) fetches ever more ahead, so a
// walk through the whole file fetches each byte once in few requests.
#pragma once

#include <cstdint>
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
    // A miss inside [start, end) fetches on to end (within the longest fetch), so a
    // walk over the element heads of a known stretch costs one request per fetch.
    void WillRead(uint64_t start, uint64_t end) override;

    // S_OK after a good open; the open's failure otherwise.
    HRESULT Result() const { return m_result; }
    bool IsOpen() const { return SUCCEEDED(m_result); }
    // Whether a read after the open failed; every later miss then fails at once.
    bool Failed() const { return m_failed; }

private:
    // Fetches a run starting at the block of position, long enough for want bytes
    // (and the read-ahead), and keeps it in the session; a run without bytes when
    // the fetch failed.
    RemoteRun Fetch(uint64_t position, uint64_t want);

    std::shared_ptr<RemoteSession> m_session;
    std::unique_ptr<HttpClient> m_client;
    std::string m_shownPath;
    HRESULT m_result = S_OK;
    bool m_failed = false;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
    uint64_t m_lastFetchEnd = 0;  // where the last fetch ended: a miss at or a little past it continues a run
    uint64_t m_readAhead = 0;     // the read-ahead of the next sequential miss (0: none yet)
    // The stretch the last WillRead announced.
    uint64_t m_willReadStart = 0;
    uint64_t m_willReadEnd = 0;
};

}  // namespace md
