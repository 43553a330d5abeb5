// HTTP GETs for remote input, over one libcurl easy handle reused for every
// request of a stream (keep-alive, TLS session reuse). Checks each answer
// against what was asked, retries what a retry can mend, and maps failures to
// the file errors a host knows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/remote_session.h"
#include "mediadetect/com.h"

namespace md {

struct CurlApi;

// Where remote requests go and how they are signed.
struct RemoteTarget {
    std::string url;                   // may hold a signed query string: never shown
    std::string awsSigV4;              // "aws:amz:REGION:s3" to sign with SigV4; empty: unsigned
    std::string userPassword;          // "ACCESS_KEY:SECRET" with awsSigV4
    std::vector<std::string> headers;  // further request headers ("Name: value")
};

// The host of a URL for messages: what stands between "://" and the path, without
// any user information or port.
std::string HostOfUrl(std::string_view url);

// A Content-Range header value: "bytes FIRST-LAST/TOTAL", "bytes FIRST-LAST/*" or "bytes */TOTAL".
struct ContentRange {
    bool hasRange = false;
    uint64_t first = 0;
    uint64_t last = 0;
    bool hasTotal = false;
    uint64_t total = 0;
};
bool ParseContentRange(std::string_view value, ContentRange& out);

// The HRESULT of a final HTTP status that is not a success: a missing object is
// the file-not-found error, a refused one E_ACCESSDENIED, anything else MD_E_REMOTE_FAILED.
HRESULT HresultOfStatus(long status);

// What a ranged GET brought.
struct RangeReply {
    uint64_t size = 0;       // the object's size: the Content-Range total, or the length of a whole body
    uint64_t received = 0;   // bytes that landed in the buffer
    bool sizeKnown = false;  // false only for a 206 whose total is "*"
};

class HttpClient {
public:
    // A client for target, or null (hr and the session's reason say why) when
    // libcurl cannot be loaded or gives no handle.
    static std::unique_ptr<HttpClient> Create(const RemoteTarget& target, RemoteSession& session, HRESULT& hr);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // GET of bytes [start, start + length) into dest, which has room for length
    // bytes. With wholeAllowed (the open's first request, start 0), a 200 whose
    // body fits in length is the whole object; a larger one is MD_E_REMOTE_NO_RANGES
    // (the transfer stops as soon as more than length bytes arrived).
    HRESULT GetRange(uint64_t start, uint64_t length, uint8_t* dest, bool wholeAllowed, RangeReply& reply);
    // GET of url (signed as the target is) whose body, at most maxBytes, lands in body.
    HRESULT GetDocument(const std::string& url, size_t maxBytes, std::string& body);

private:
    struct Transfer;
    HttpClient(const CurlApi& api, void* handle, const RemoteTarget& target, RemoteSession& session);
    // One request (with its redirects) of t.url; the result of that one attempt.
    // retry: the failure is one a later attempt may mend (a 5xx, a connection closed mid-body).
    HRESULT Attempt(Transfer& t, bool& retry);
    // Attempts until one succeeds or fails for good; carried: the bytes of range
    // answers cut short that the later attempts went on from.
    HRESULT Run(Transfer& t, uint64_t& carried);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);

    const CurlApi& m_api;
    void* m_handle;     // CURL*, cleaned up by the destructor
    void* m_headers = nullptr;  // curl_slist*, freed by the destructor
    RemoteTarget m_target;
    std::string m_host;
    RemoteSession& m_session;
};

}  // namespace md
