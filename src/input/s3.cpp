#include "input/s3.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/text.h"

namespace md {
namespace {

constexpr size_t kMaxCredentialsFile = 1 << 20;     // a larger credentials file is not read
constexpr size_t kMaxListDocument = 16 << 20;       // one listing page's XML
constexpr uint32_t kMaxListPages = 1'000'000;       // pages of one listing
constexpr size_t kMaxBucketName = 255;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// At most maxBytes of the file at path; false when it cannot be read or is larger.
bool ReadSmallFile(const std::string& path, size_t maxBytes, std::string& out)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return false;
    out.clear();
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (out.size() + got > maxBytes)
            return false;
        out.append(buffer, got);
    }
    return std::ferror(file.get()) == 0;
}

void AppendUtf8(uint32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The text of the first <name>...</name> within [from, limit) of xml; npos-start when none.
struct Element {
    bool found = false;
    std::string_view text;
    size_t end = 0;  // just after the closing tag
};
Element FindElement(std::string_view xml, std::string_view name, size_t from, size_t limit)
{
    Element e;
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const size_t start = xml.find(open, from);
    if (start == std::string_view::npos || start >= limit)
        return e;
    const size_t textStart = start + open.size();
    const size_t stop = xml.find(close, textStart);
    if (stop == std::string_view::npos || stop + close.size() > limit)
        return e;
    e.found = true;
    e.text = xml.substr(textStart, stop - textStart);
    e.end = stop + close.size();
    return e;
}

}  // namespace

bool ParseS3Path(std::string_view path, S3Location& out)
{
    out = {};
    if (!StartsWithNoCase(path, "s3://"))
        return false;
    path.remove_prefix(5);
    const size_t slash = path.find('/');
    const std::string_view bucket = path.substr(0, slash);
    if (bucket.empty() || bucket.size() > kMaxBucketName)
        return false;
    for (char c : bucket) {
        const auto u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || c == '.' || c == '-' || c == '_'))
            return false;
    }
    out.bucket = std::string(bucket);
    if (slash != std::string_view::npos)
        out.key = std::string(path.substr(slash + 1));
    return true;
}

bool ParseCredentialsFile(std::string_view text, std::string_view profile, S3Credentials& out)
{
    out = {};
    bool inProfile = false;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        const std::string_view line = Trim(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            inProfile = close != std::string_view::npos && Trim(line.substr(1, close - 1)) == profile;
            continue;
        }
        const size_t eq = line.find('=');
        if (!inProfile || eq == std::string_view::npos)
            continue;
        const std::string_view name = Trim(line.substr(0, eq));
        const std::string value(Trim(line.substr(eq + 1)));
        if (name == "aws_access_key_id")
            out.accessKey = value;
        else if (name == "aws_secret_access_key")
            out.secretKey = value;
        else if (name == "aws_session_token")
            out.sessionToken = value;
    }
    return out.Present();
}

S3Settings ReadS3Settings()
{
    S3Settings s;
    s.endpoint = Env("AWS_ENDPOINT_URL");
    while (!s.endpoint.empty() && s.endpoint.back() == '/')
        s.endpoint.pop_back();
    for (const char* name : {"AWS_REGION", "AWS_DEFAULT_REGION"}) {
        if (const std::string region = Env(name); !region.empty()) {
            s.region = region;
            break;
        }
    }
    s.credentials.accessKey = Env("AWS_ACCESS_KEY_ID");
    s.credentials.secretKey = Env("AWS_SECRET_ACCESS_KEY");
    s.credentials.sessionToken = Env("AWS_SESSION_TOKEN");
    if (s.credentials.Present())
        return s;
    s.credentials = {};
    std::string file = Env("AWS_SHARED_CREDENTIALS_FILE");
    if (file.empty()) {
        const std::string home = Env("HOME");
        if (home.empty())
            return s;
        file = home + "/.aws/credentials";
    }
    std::string profile = Env("AWS_PROFILE");
    if (profile.empty())
        profile = "default";
    std::string text;
    if (ReadSmallFile(file, kMaxCredentialsFile, text))
        ParseCredentialsFile(text, profile, s.credentials);
    return s;
}

std::string UriEncode(std::string_view text, bool keepSlash)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~' || (keepSlash && c == '/')) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        }
    }
    return out;
}

namespace {

// The URL of a bucket, to which "/key" or "?query" is appended.
std::string BucketBase(const S3Settings& settings, std::string_view bucket)
{
    if (!settings.endpoint.empty())
        return settings.endpoint + "/" + std::string(bucket);
    return "https://" + std::string(bucket) + ".s3." + settings.region + ".amazonaws.com";
}

}  // namespace

std::string S3ObjectUrl(const S3Settings& settings, const S3Location& location)
{
    return BucketBase(settings, location.bucket) + "/" + UriEncode(location.key, true);
}

RemoteTarget S3Target(const S3Settings& settings, std::string url)
{
    RemoteTarget t;
    t.url = std::move(url);
    if (!settings.credentials.Present())
        return t;  // anonymous: a public bucket
    t.awsSigV4 = "aws:amz:" + settings.region + ":s3";
    t.userPassword = settings.credentials.accessKey + ":" + settings.credentials.secretKey;
    // S3 wants the payload's hash in a header of its own; a GET has none to sign.
    t.headers.push_back("x-amz-content-sha256: UNSIGNED-PAYLOAD");
    if (!settings.credentials.sessionToken.empty())
        t.headers.push_back("x-amz-security-token: " + settings.credentials.sessionToken);
    return t;
}

std::string S3ListQuery(std::string_view prefix, bool recursive, uint32_t maxKeys, std::string_view token)
{
    std::string q;
    if (!token.empty())
        q += "continuation-token=" + UriEncode(token, false) + "&";
    if (!recursive)
        q += "delimiter=%2F&";
    q += "list-type=2&max-keys=" + std::to_string(maxKeys) + "&prefix=" + UriEncode(prefix, false);
    return q;
}

bool DecodeXmlText(std::string_view text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        const size_t semi = text.find(';', i);
        if (semi == std::string_view::npos || semi - i > 12)
            return false;
        const std::string_view entity = text.substr(i + 1, semi - i - 1);
        i = semi + 1;
        if (entity == "amp")
            out += '&';
        else if (entity == "lt")
            out += '<';
        else if (entity == "gt")
            out += '>';
        else if (entity == "quot")
            out += '"';
        else if (entity == "apos")
            out += '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            uint32_t cp = 0;
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
            if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || cp == 0 ||
                cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                return false;
            AppendUtf8(cp, out);
        } else {
            return false;
        }
    }
    return true;
}

bool ParseListPage(std::string_view xml, S3ListPage& page, std::string& error)
{
    page = {};
    if (xml.find("<ListBucketResult") == std::string_view::npos) {
        error = "the answer is not a ListBucketResult";
        return false;
    }
    size_t at = 0;
    while (true) {
        const Element contents = FindElement(xml, "Contents", at, xml.size());
        if (!contents.found)
            break;
        at = contents.end;
        const size_t from = static_cast<size_t>(contents.text.data() - xml.data());
        const size_t limit = from + contents.text.size();
        const Element key = FindElement(xml, "Key", from, limit);
        const Element size = FindElement(xml, "Size", from, limit);
        S3Object object;
        const auto [end, ec] = std::from_chars(size.text.data(), size.text.data() + size.text.size(), object.size);
        if (!key.found || !size.found || size.text.empty() || ec != std::errc() ||
            end != size.text.data() + size.text.size() || !DecodeXmlText(key.text, object.key)) {
            error = "a Contents entry without a readable Key and Size";
            return false;
        }
        if (page.objects.size() >= kMaxListedPerPage) {
            error = "more than " + std::to_string(kMaxListedPerPage) + " objects in one page";
            return false;
        }
        page.objects.push_back(std::move(object));
    }
    const Element truncated = FindElement(xml, "IsTruncated", 0, xml.size());
    page.truncated = truncated.found && Trim(truncated.text) == "true";
    if (page.truncated) {
        const Element token = FindElement(xml, "NextContinuationToken", 0, xml.size());
        if (!token.found || !DecodeXmlText(token.text, page.nextToken) || page.nextToken.empty()) {
            error = "a truncated page without a NextContinuationToken";
            return false;
        }
    }
    return true;
}

HRESULT ListS3(std::string_view path, bool recursive, RemoteListCallback callback, void* context,
               RemoteSession& session)
{
    S3Location location;
    if (!ParseS3Path(path, location) || callback == nullptr)
        return E_INVALIDARG;
    const S3Settings settings = ReadS3Settings();
    if (!settings.credentials.secretKey.empty())
        session.AddSecret(settings.credentials.secretKey);
    if (!settings.credentials.sessionToken.empty())
        session.AddSecret(settings.credentials.sessionToken);
    const std::string base = BucketBase(settings, location.bucket);
    HRESULT hr = S_OK;
    const std::unique_ptr<HttpClient> client = HttpClient::Create(S3Target(settings, base), session, hr);
    if (!client)
        return hr;
    const uint32_t pageKeys = std::max<uint32_t>(session.Options().listPageKeys, 1);
    std::string token;
    std::string body;
    for (uint32_t pages = 0; pages < kMaxListPages; ++pages) {
        const std::string url = base + "?" + S3ListQuery(location.key, recursive, pageKeys, token);
        hr = client->GetDocument(url, kMaxListDocument, body);
        if (FAILED(hr))
            return hr;
        S3ListPage page;
        std::string error;
        if (!ParseListPage(body, page, error)) {
            session.SetError("listing of s3://" + location.bucket + ": " + error);
            return MD_E_REMOTE_FAILED;
        }
        for (const S3Object& object : page.objects) {
            const std::string objectPath = "s3://" + location.bucket + "/" + object.key;
            if (callback(context, objectPath.c_str(), object.size) != 0)
                return S_FALSE;
        }
        if (!page.truncated)
            return S_OK;
        if (page.nextToken == token) {
            session.SetError("listing of s3://" + location.bucket + ": the continuation token did not change");
            return MD_E_REMOTE_FAILED;
        }
        token = std::move(page.nextToken);
    }
    session.SetError("listing of s3://" + location.bucket + ": more than " + std::to_string(kMaxListPages) +
                     " pages");
    return MD_E_REMOTE_FAILED;
}

}  // namespace md
