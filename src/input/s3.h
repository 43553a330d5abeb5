// S3 objects as remote input: s3://bucket/key paths mapped to URLs, the
// credentials requests are signed with, and the ListObjectsV2 listing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/http_client.h"
#include "input/remote_session.h"
#include "mediadetect/interfaces.h"

namespace md {

struct S3Location {
    std::string bucket;
    std::string key;  // empty: the bucket itself (listings)
};

// Splits "s3://bucket/key" (the scheme in any case); false for anything else or an
// unusable bucket name.
bool ParseS3Path(std::string_view path, S3Location& out);

struct S3Credentials {
    std::string accessKey;
    std::string secretKey;
    std::string sessionToken;
    bool Present() const { return !accessKey.empty() && !secretKey.empty(); }
};

// The settings S3 requests are made with, from the environment.
struct S3Settings {
    std::string endpoint;  // AWS_ENDPOINT_URL without a trailing '/': path-style URLs; empty: AWS's own hosts
    std::string region = "us-east-1";
    S3Credentials credentials;  // none: requests go unsigned
};

// AWS_ENDPOINT_URL, AWS_REGION (else AWS_DEFAULT_REGION), and the credentials of
// AWS_ACCESS_KEY_ID / AWS_SECRET_ACCESS_KEY / AWS_SESSION_TOKEN, else those of the
// [default] profile (AWS_PROFILE names another) of ~/.aws/credentials
// (AWS_SHARED_CREDENTIALS_FILE names another file).
S3Settings ReadS3Settings();

// The credentials of profile in the text of a shared credentials file (INI:
// [profile] sections of "name = value" lines, '#' and ';' comments). False when
// the profile has no access key and secret.
bool ParseCredentialsFile(std::string_view text, std::string_view profile, S3Credentials& out);

// Percent-encoding as SigV4 wants it: every byte but A-Z a-z 0-9 - _ . ~ as %XX
// (upper-case hex); '/' kept as it is when keepSlash.
std::string UriEncode(std::string_view text, bool keepSlash);

// The URL of an object: ${endpoint}/bucket/key, else https://bucket.s3.REGION.amazonaws.com/key;
// the key encoded segment by segment.
std::string S3ObjectUrl(const S3Settings& settings, const S3Location& location);

// The request target of url: signed with SigV4 for S3 when there are credentials.
RemoteTarget S3Target(const S3Settings& settings, std::string url);

// ---- ListObjectsV2 ----

struct S3Object {
    std::string key;
    uint64_t size = 0;
};

struct S3ListPage {
    std::vector<S3Object> objects;
    bool truncated = false;
    std::string nextToken;
};

// The query of one ListObjectsV2 page, its parameters in the sorted, encoded form
// SigV4 signs: continuation-token, delimiter ('/' unless recursive), list-type=2,
// max-keys, prefix.
std::string S3ListQuery(std::string_view prefix, bool recursive, uint32_t maxKeys, std::string_view token);

// Reads the Key and Size of every Contents, IsTruncated and NextContinuationToken
// from a ListBucketResult document (entities decoded). False (why: error) on a
// document that does not read as one, a truncated page without a token, or more
// than kMaxListedPerPage objects.
constexpr size_t kMaxListedPerPage = 10000;
bool ParseListPage(std::string_view xml, S3ListPage& page, std::string& error);

// Decodes the five XML entities and numeric character references; false on any other '&'.
bool DecodeXmlText(std::string_view text, std::string& out);

// Lists every object under the s3:// path, page by page, calling callback with
// "s3://bucket/key" and the size. S_FALSE when the callback stopped it.
HRESULT ListS3(std::string_view path, bool recursive, RemoteListCallback callback, void* context,
               RemoteSession& session);

}  // namespace md
