#include "input/http_client.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <thread>

#include "input/curl_api.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace md {
namespace {

constexpr size_t kMaxErrorBody = 4096;     // an error answer's body kept for its S3 error code
constexpr size_t kMaxHeaderLine = 8192;    // longer header lines are not looked at
constexpr const char* kUserAgent = "mediadetect";

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// A whole decimal number of s; false for anything else (signs, spaces, overflow).
bool ParseNumber(std::string_view s, uint64_t& out)
{
    if (s.empty())
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

// The <Code> of an S3 error document, empty when there is none.
std::string S3ErrorCode(std::string_view body)
{
    const size_t open = body.find("<Code>");
    if (open == std::string_view::npos)
        return {};
    const size_t start = open + 6;
    const size_t close = body.find("</Code>", start);
    if (close == std::string_view::npos || close - start > 64)
        return {};
    std::string code(body.substr(start, close - start));
    for (char c : code)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return {};
    return code;
}

bool IsBrokenTransfer(CURLcode code)
{
    return code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
           code == CURLE_GOT_NOTHING || code == CURLE_HTTP2 || code == CURLE_HTTP2_STREAM;
}

std::string RangeText(uint64_t start, uint64_t length)
{
    return "bytes " + std::to_string(start) + "-" + std::to_string(start + length - 1);
}

}  // namespace

std::string HostOfUrl(std::string_view url)
{
    const size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const size_t at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);  // user information
    if (!rest.empty() && rest.front() == '[')
        return std::string(rest.substr(0, rest.find(']') + 1));  // an IPv6 literal
    return std::string(rest.substr(0, rest.find(':')));
}

bool ParseContentRange(std::string_view value, ContentRange& out)
{
    out = {};
    value = Trim(value);
    if (!StartsWithNoCase(value, "bytes "))
        return false;
    value.remove_prefix(6);
    const size_t slash = value.find('/');
    if (slash == std::string_view::npos)
        return false;
    const std::string_view range = Trim(value.substr(0, slash));
    const std::string_view total = Trim(value.substr(slash + 1));
    if (total != "*") {
        if (!ParseNumber(total, out.total))
            return false;
        out.hasTotal = true;
    }
    if (range == "*")
        return out.hasTotal;
    const size_t dash = range.find('-');
    if (dash == std::string_view::npos || !ParseNumber(range.substr(0, dash), out.first) ||
        !ParseNumber(range.substr(dash + 1), out.last) || out.last < out.first ||
        (out.hasTotal && out.last >= out.total))
        return false;
    out.hasRange = true;
    return true;
}

HRESULT HresultOfStatus(long status)
{
    switch (status) {
    case 404:
    case 410: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case 401:
    case 403: return E_ACCESSDENIED;
    default: return MD_E_REMOTE_FAILED;
    }
}

// The state of one request: what was asked, and what its answer brought so far.
// The header fields describe the last response seen (a redirect's headers come
// first, then those of the answer that carries the body).
struct HttpClient::Transfer {
    // Asked.
    std::string url;
    bool ranged = false;
    uint64_t start = 0;
    uint64_t length = 0;
    uint8_t* dest = nullptr;   // room for length bytes (ranged)
    bool wholeAllowed = false;
    std::string* document = nullptr;  // the body of a document GET
    size_t documentMax = 0;
    // Answered.
    long status = 0;
    ContentRange range;
    bool rangeHeader = false;
    std::string rangeValue;
    bool hasLength = false;
    uint64_t contentLength = 0;
    bool bodyChecked = false;
    uint64_t received = 0;
    std::string errorBody;
    // Set when the body callback stopped the transfer.
    HRESULT abortResult = S_OK;
    std::string abortReason;
    // Why the attempt failed.
    std::string failure;
    HttpClient* client = nullptr;

    void NewResponse()
    {
        status = 0;
        range = {};
        rangeHeader = false;
        rangeValue.clear();
        hasLength = false;
        contentLength = 0;
        bodyChecked = false;
        received = 0;
        errorBody.clear();
    }
};

std::unique_ptr<HttpClient> HttpClient::Create(const RemoteTarget& target, RemoteSession& session, HRESULT& hr)
{
    std::string error;
    const CurlApi* api = LoadCurl(error);
    if (api == nullptr) {
        session.SetError(error);
        hr = MD_E_REMOTE_FAILED;
        return nullptr;
    }
    CURL* handle = api->easy_init();
    if (handle == nullptr) {
        session.SetError("libcurl gave no handle");
        hr = MD_E_REMOTE_FAILED;
        return nullptr;
    }
    hr = S_OK;
    return std::unique_ptr<HttpClient>(new HttpClient(*api, handle, target, session));
}

HttpClient::HttpClient(const CurlApi& api, void* handle, const RemoteTarget& target, RemoteSession& session)
    : m_api(api), m_handle(handle), m_target(target), m_host(HostOfUrl(target.url)), m_session(session)
{
    curl_slist* headers = nullptr;
    for (const std::string& h : m_target.headers) {
        curl_slist* grown = m_api.slist_append(headers, h.c_str());
        if (grown == nullptr)
            break;
        headers = grown;
    }
    m_headers = headers;
}

HttpClient::~HttpClient()
{
    m_api.easy_cleanup(static_cast<CURL*>(m_handle));
    if (m_headers != nullptr)
        m_api.slist_free_all(static_cast<curl_slist*>(m_headers));
}

size_t HttpClient::OnHeader(char* data, size_t size, size_t count, void* self)
{
    auto& t = *static_cast<Transfer*>(self);
    const size_t bytes = size * count;
    if (bytes > kMaxHeaderLine)
        return bytes;
    const std::string_view line = Trim(std::string_view(data, bytes));
    if (StartsWithNoCase(line, "http/")) {
        t.NewResponse();
        const size_t space = line.find(' ');
        uint64_t status = 0;
        if (space != std::string_view::npos && ParseNumber(line.substr(space + 1, 3), status))
            t.status = static_cast<long>(status);
    } else if (StartsWithNoCase(line, "content-range:")) {
        t.rangeHeader = true;
        t.rangeValue = std::string(Trim(line.substr(14)).substr(0, 80));
        ParseContentRange(line.substr(14), t.range);
    } else if (StartsWithNoCase(line, "content-length:")) {
        t.hasLength = ParseNumber(Trim(line.substr(15)), t.contentLength);
    }
    return bytes;
}

size_t HttpClient::OnBody(char* data, size_t size, size_t count, void* self)
{
    auto& t = *static_cast<Transfer*>(self);
    const size_t bytes = size * count;
    t.client->m_session.CountBytes(bytes);
    const auto stop = [&](HRESULT hr, std::string reason) {
        t.abortResult = hr;
        t.abortReason = std::move(reason);
        return size_t{0};  // libcurl ends the transfer
    };
    if (t.status < 200 || t.status > 299) {
        // An error answer: its first bytes name the S3 error; the rest is not wanted.
        const size_t room = kMaxErrorBody - t.errorBody.size();
        t.errorBody.append(data, std::min(bytes, room));
        return bytes <= room ? bytes : 0;
    }
    if (!t.ranged) {
        if (t.document->size() + bytes > t.documentMax)
            return stop(MD_E_REMOTE_FAILED, t.client->m_host + " sent a document larger than " +
                                                std::to_string(t.documentMax) + " bytes");
        t.document->append(data, bytes);
        return bytes;
    }
    if (!t.bodyChecked) {
        t.bodyChecked = true;
        if (t.status == 200) {
            if (!t.wholeAllowed || (t.hasLength && t.contentLength > t.length))
                return stop(MD_E_REMOTE_NO_RANGES,
                            t.client->m_host + " ignores byte ranges: answered " + RangeText(t.start, t.length) +
                                " with the whole body" +
                                (t.hasLength ? " of " + std::to_string(t.contentLength) + " bytes" : std::string()));
        } else if (t.status == 206) {
            const ContentRange& r = t.range;
            const uint64_t askedLast = t.start + t.length - 1;
            const bool endsRight = r.last == askedLast || (r.hasTotal && r.last == r.total - 1 && r.last < askedLast);
            if (!r.hasRange || r.first != t.start || !endsRight)
                return stop(MD_E_REMOTE_FAILED, t.client->m_host + " answered " + RangeText(t.start, t.length) +
                                                    (t.rangeHeader ? " with Content-Range '" + t.rangeValue + "'"
                                                                   : " without a Content-Range"));
        } else {
            return stop(MD_E_REMOTE_FAILED,
                        "HTTP " + std::to_string(t.status) + " from " + t.client->m_host + " for a range request");
        }
    }
    if (t.received + bytes > t.length) {
        if (t.status == 200)
            return stop(MD_E_REMOTE_NO_RANGES, t.client->m_host + " ignores byte ranges: answered " +
                                                   RangeText(t.start, t.length) + " with more than " +
                                                   std::to_string(t.length) + " bytes");
        return stop(MD_E_REMOTE_FAILED, t.client->m_host + " sent more than the range asked");
    }
    std::memcpy(t.dest + t.received, data, bytes);
    t.received += bytes;
    return bytes;
}

HRESULT HttpClient::Attempt(Transfer& t, bool& retry)
{
    retry = false;
    t.NewResponse();
    t.abortResult = S_OK;
    t.abortReason.clear();
    t.failure.clear();
    t.client = this;
    if (t.document != nullptr)
        t.document->clear();
    const RemoteOptions& o = m_session.Options();
    CURL* h = static_cast<CURL*>(m_handle);
    // A reset keeps the handle's live connections and TLS sessions; every option is set again below.
    m_api.easy_reset(h);
    char errorText[CURL_ERROR_SIZE] = {};
    m_api.easy_setopt(h, CURLOPT_URL, t.url.c_str());
    m_api.easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    m_api.easy_setopt(h, CURLOPT_HTTPGET, 1L);
    m_api.easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    m_api.easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    m_api.easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    m_api.easy_setopt(h, CURLOPT_MAXREDIRS, o.maxRedirects);
    m_api.easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, o.connectTimeoutMs);
    m_api.easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, o.lowSpeedBytes);
    m_api.easy_setopt(h, CURLOPT_LOW_SPEED_TIME, o.lowSpeedSeconds);
    m_api.easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    m_api.easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    m_api.easy_setopt(h, CURLOPT_HEADERFUNCTION, &HttpClient::OnHeader);
    m_api.easy_setopt(h, CURLOPT_HEADERDATA, &t);
    m_api.easy_setopt(h, CURLOPT_WRITEFUNCTION, &HttpClient::OnBody);
    m_api.easy_setopt(h, CURLOPT_WRITEDATA, &t);
    if (m_headers != nullptr)
        m_api.easy_setopt(h, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(m_headers));
    if (!m_target.awsSigV4.empty()) {
        m_api.easy_setopt(h, CURLOPT_AWS_SIGV4, m_target.awsSigV4.c_str());
        m_api.easy_setopt(h, CURLOPT_USERPWD, m_target.userPassword.c_str());
    }
    // Certificates: the system store, and the PEM bundle MEDIADETECT_CA_BUNDLE names beside it.
    if (const char* bundle = std::getenv("MEDIADETECT_CA_BUNDLE"); bundle != nullptr && *bundle != 0) {
        m_api.easy_setopt(h, CURLOPT_CAINFO, bundle);
        const curl_version_info_data* version = m_api.version_info(CURLVERSION_NOW);
        const char* capath = version != nullptr && version->age >= CURLVERSION_SEVENTH ? version->capath : nullptr;
        m_api.easy_setopt(h, CURLOPT_CAPATH, capath != nullptr ? capath : "/etc/ssl/certs");
    }
    std::string range;
    if (t.ranged) {
        range = std::to_string(t.start) + "-" + std::to_string(t.start + t.length - 1);
        m_api.easy_setopt(h, CURLOPT_RANGE, range.c_str());
    }

    const CURLcode code = m_api.easy_perform(h);
    long redirects = 0;
    m_api.easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &redirects);
    for (long i = 0; i <= redirects; ++i)
        m_session.CountRequest();
    m_api.easy_setopt(h, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));

    const auto fail = [&](HRESULT hr, const std::string& reason) {
        t.failure = reason;
        return hr;
    };
    const auto broken = [&](const std::string& reason) {
        retry = true;
        t.failure = reason;
        return MD_E_REMOTE_FAILED;
    };
    if (t.abortResult != S_OK)
        return fail(t.abortResult, t.abortReason);
    if (code == CURLE_OPERATION_TIMEDOUT)
        return fail(MD_E_REMOTE_TIMEOUT, m_host + ": timed out (no connection within " +
                                             std::to_string(o.connectTimeoutMs / 1000) + " s, or under " +
                                             std::to_string(o.lowSpeedBytes) + " bytes/s for " +
                                             std::to_string(o.lowSpeedSeconds) + " s)");
    if (code == CURLE_TOO_MANY_REDIRECTS)
        return fail(MD_E_REMOTE_FAILED, m_host + ": more than " + std::to_string(o.maxRedirects) + " redirects");
    if (code != CURLE_OK && code != CURLE_WRITE_ERROR) {
        if (IsBrokenTransfer(code))
            return broken(m_host + " closed the connection mid-answer (" + m_api.easy_strerror(code) + ")");
        return fail(MD_E_REMOTE_FAILED,
                    m_host + ": " + (errorText[0] != 0 ? std::string(errorText) : m_api.easy_strerror(code)));
    }
    const std::string statusText = "HTTP " + std::to_string(t.status) + " from " + m_host;
    if (t.status >= 500 && t.status <= 599)
        return broken(statusText);
    if (t.ranged && t.status == 206) {
        if (!t.range.hasRange || t.received != t.range.last - t.range.first + 1)
            return broken(m_host + " closed the connection mid-body");
        return S_OK;
    }
    if (t.status == 200 && (!t.ranged || t.wholeAllowed)) {
        if (t.hasLength && (t.ranged ? t.received : t.document->size()) != t.contentLength)
            return broken(m_host + " closed the connection mid-body");
        return S_OK;
    }
    if (t.ranged && t.wholeAllowed && t.status == 416 && t.range.hasTotal && t.range.total == 0)
        return S_OK;  // an empty object: no byte of it can be asked for
    if (t.status >= 200 && t.status <= 299)
        return fail(MD_E_REMOTE_FAILED, statusText + " where " + (t.ranged ? "206" : "200") + " was expected");
    const std::string s3Code = S3ErrorCode(t.errorBody);
    return fail(HresultOfStatus(t.status), statusText + (s3Code.empty() ? std::string() : " (S3 " + s3Code + ")"));
}

HRESULT HttpClient::Run(Transfer& t, uint64_t& carried)
{
    const RemoteOptions& o = m_session.Options();
    carried = 0;
    for (uint32_t attempt = 0;; ++attempt) {
        bool retry = false;
        const HRESULT hr = Attempt(t, retry);
        if (FAILED(hr) && !retry)
            m_session.SetError(t.failure);
        if (!retry)
            return hr;
        if (attempt >= o.retries) {
            m_session.SetError(t.failure + " (after " + std::to_string(attempt + 1) + " attempts)");
            return hr;
        }
        // A range answer cut short goes on from its last byte; a whole body starts again.
        if (t.ranged && t.status == 206 && t.received > 0 && t.received < t.length) {
            carried += t.received;
            t.start += t.received;
            t.dest += t.received;
            t.length -= t.received;
            t.wholeAllowed = false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(uint64_t{o.retryBackoffMs} * (attempt + 1)));
    }
}

HRESULT HttpClient::GetRange(uint64_t start, uint64_t length, uint8_t* dest, bool wholeAllowed, RangeReply& reply)
{
    reply = {};
    if (length == 0)
        return E_INVALIDARG;
    Transfer t;
    t.url = m_target.url;
    t.ranged = true;
    t.start = start;
    t.length = length;
    t.dest = dest;
    t.wholeAllowed = wholeAllowed && start == 0;
    uint64_t carried = 0;
    const HRESULT hr = Run(t, carried);
    if (FAILED(hr))
        return hr;
    reply.received = carried + t.received;
    if (t.status == 206) {
        reply.sizeKnown = t.range.hasTotal;
        reply.size = t.range.total;
    } else {
        reply.sizeKnown = true;  // a whole body (200), or nothing at all (416 of an empty object)
        reply.size = t.status == 200 ? t.received : 0;
    }
    return S_OK;
}

HRESULT HttpClient::GetDocument(const std::string& url, size_t maxBytes, std::string& body)
{
    Transfer t;
    t.url = url;
    t.document = &body;
    t.documentMax = maxBytes;
    uint64_t carried = 0;
    return Run(t, carried);
}

}  // namespace md
