// What the reads of one remote file share: the limits they work to, the
// requests and bytes they cost, and the reason of the last failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "mediadetect/records.h"

namespace md {

// The limits of remote reads. The defaults are the module's; tests shorten them.
struct RemoteOptions {
    uint32_t headWindow = 512 * 1024;        // the open's first request: what the probe reads first
    uint32_t blockSize = 128 * 1024;         // fetches start and end on multiples of this
    uint32_t readAheadStart = 256 * 1024;    // the first read-ahead of a sequential run of reads
    uint32_t readAheadMax = 2 * 1024 * 1024; // read-ahead doubles up to this
    uint32_t cacheBytes = 4 * 1024 * 1024;   // fetched bytes the streams of a file keep (least recently used go first)
    long connectTimeoutMs = 10'000;          // no connection within this: MD_E_REMOTE_TIMEOUT
    long lowSpeedBytes = 1024;               // less than this many bytes per second ...
    long lowSpeedSeconds = 15;               // ... for this long: MD_E_REMOTE_TIMEOUT
    uint32_t retries = 2;                    // further attempts after a 5xx or a connection closed mid-body
    uint32_t retryBackoffMs = 200;           // wait before retry n: n times this
    long maxRedirects = 5;
    uint32_t listPageKeys = 1000;            // keys asked per page of an S3 listing
};

// The options every new remote file gets; tests may set others (before opening).
RemoteOptions DefaultRemoteOptions();
void SetDefaultRemoteOptions(const RemoteOptions& options);

// A run of a remote file's bytes fetched with one request.
struct RemoteRun {
    uint64_t start = 0;
    uint64_t length = 0;
    std::shared_ptr<const uint8_t[]> bytes;  // null: no run
};

// Shared by every stream a detector object opens on its current remote file,
// possibly on several threads (the time-table walk has its own).
class RemoteSession {
public:
    explicit RemoteSession(const RemoteOptions& options) : m_options(options) {}

    const RemoteOptions& Options() const { return m_options; }

    void CountRequest() { m_requests.fetch_add(1, std::memory_order_relaxed); }
    void CountBytes(uint64_t bytes) { m_bytes.fetch_add(bytes, std::memory_order_relaxed); }
    RemoteStats Stats() const
    {
        return {m_requests.load(std::memory_order_relaxed), m_bytes.load(std::memory_order_relaxed)};
    }

    // The file's size as the first good open learned it; every later stream of the
    // file starts from it without a request.
    void SetSize(uint64_t size);
    bool SizeKnown(uint64_t& size) const;

    // The fetched runs, shared by every stream of the file, so that no stream
    // fetches what another already holds. Find gives the run holding position
    // (now the most recently used), or one without bytes.
    RemoteRun Find(uint64_t position);
    // Narrows [from, end) to bytes no run holds: from past a run holding it, end
    // to the start of the next run. from never passes a position no run holds.
    void Unheld(uint64_t& from, uint64_t& end) const;
    // Keeps run, dropping the least recently used runs beyond the cache size
    // (never run itself).
    void Keep(RemoteRun run);

    // Values that must never appear in a reason (a secret key, a session token).
    void AddSecret(std::string secret);
    // Keeps the reason of a failure (the first line, cut to fit MDI_REMOTE_ERROR,
    // with every secret blanked).
    void SetError(std::string_view reason);
    // The last reason kept; empty when nothing failed.
    std::string Error() const;

private:
    const RemoteOptions m_options;
    std::atomic<uint64_t> m_requests{0};
    std::atomic<uint64_t> m_bytes{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_secrets;
    bool m_sizeKnown = false;
    uint64_t m_size = 0;
    std::list<RemoteRun> m_runs;  // most recently used first
    uint64_t m_held = 0;          // bytes in m_runs
    std::string m_error;
};

// reason with every occurrence of each secret replaced by "***", cut at its first
// line break and to at most maxBytes bytes (never inside a UTF-8 character).
std::string ScrubReason(std::string_view reason, const std::vector<std::string>& secrets, size_t maxBytes);

}  // namespace md
