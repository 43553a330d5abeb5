// What the reads of one remote file share: the limits they work to, the
// requests and bytes they cost, and the reason of the last failure.
#pragma once

#include <atomic>
#include <cstdint>
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
    uint32_t readAheadMax = 8 * 1024 * 1024; // read-ahead doubles up to this
    uint32_t cacheBytes = 16 * 1024 * 1024;  // fetched bytes a stream keeps (least recently used go first)
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

// The head window of a remote file as its first open fetched it: every later
// stream of the same file starts from it without a request.
struct RemoteHead {
    std::shared_ptr<const uint8_t[]> bytes;
    uint64_t length = 0;  // bytes held (the window, or the whole file where it is smaller)
    uint64_t size = 0;    // the file's size
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

    void KeepHead(const RemoteHead& head);
    // The kept head; bytes null before a first good open.
    RemoteHead Head() const;

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
    RemoteHead m_head;
    std::string m_error;
};

// reason with every occurrence of each secret replaced by "***", cut at its first
// line break and to at most maxBytes bytes (never inside a UTF-8 character).
std::string ScrubReason(std::string_view reason, const std::vector<std::string>& secrets, size_t maxBytes);

}  // namespace md
