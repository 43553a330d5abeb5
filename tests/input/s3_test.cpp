// S3 paths: the URL of an object in both addressing styles, the credentials file, the ListObjectsV2 reader on
// hostile documents, and requests signed by libcurl checked by a server that verifies SigV4 itself.
#include <gtest/gtest.h>

#include <cstdlib>

#include "input/remote_input_stream.h"
#include "input/s3.h"
#include "support/files.h"
#include "support/server_process.h"

namespace {

TEST(S3Paths, PathsMapToUrlsInBothStylesWithKeysEncodedSegmentBySegment)
{
    struct Row {
        const char* path;
        const char* endpoint;
        const char* region;
        const char* url;  // null: not an s3 path
    };
    const Row rows[] = {
        {"s3://media/a/b.ts", "", "us-east-1", "https://media.s3.us-east-1.amazonaws.com/a/b.ts"},
        {"S3://media/a/b.ts", "", "eu-west-3", "https://media.s3.eu-west-3.amazonaws.com/a/b.ts"},
        {"s3://media/a/b.ts", "http://127.0.0.1:9000", "us-east-1", "http://127.0.0.1:9000/media/a/b.ts"},
        {"s3://media/dir with space/x+y&z=1?.mp4", "http://h", "r", "http://h/media/dir%20with%20space/x%2By%26z%3D1%3F.mp4"},
        {"s3://media/caf\xC3\xA9~_-.mp4", "http://h", "r", "http://h/media/caf%C3%A9~_-.mp4"},
        {"s3://media//double", "http://h", "r", "http://h/media//double"},
        {"s3://media", "http://h", "r", "http://h/media/"},
        {"s3://", "", "r", nullptr},
        {"s3://bad?x/key", "", "r", nullptr},
        {"s3://bad/bucket?x", "http://h", "r", "http://h/bad/bucket%3Fx"},
        {"http://media/a", "", "r", nullptr},
    };
    for (const Row& row : rows) {
        md::S3Location location;
        const bool parsed = md::ParseS3Path(row.path, location);
        EXPECT_EQ(parsed, row.url != nullptr) << row.path;
        if (!parsed || row.url == nullptr)
            continue;
        md::S3Settings settings;
        settings.endpoint = row.endpoint;
        settings.region = row.region;
        EXPECT_EQ(md::S3ObjectUrl(settings, location), row.url) << row.path;
    }
    EXPECT_EQ(md::UriEncode("a/b c", false), "a%2Fb%20c");
    EXPECT_EQ(md::S3ListQuery("dir/", false, 2, "tok+en="),
              "continuation-token=tok%2Ben%3D&delimiter=%2F&list-type=2&max-keys=2&prefix=dir%2F");
    EXPECT_EQ(md::S3ListQuery("", true, 1000, ""), "list-type=2&max-keys=1000&prefix=");
}

TEST(S3Paths, CredentialsComeFromTheEnvironmentElseTheProfileOfTheSharedFile)
{
    struct Row {
        const char* text;
        const char* profile;
        bool found;
        const char* key;
        const char* secret;
        const char* token;
    };
    const Row rows[] = {
        {"[default]\naws_access_key_id = AK\naws_secret_access_key=SK\n", "default", true, "AK", "SK", ""},
        {"[other]\naws_access_key_id=X\naws_secret_access_key=Y\n[default]\r\naws_access_key_id = AK \r\n"
         "aws_secret_access_key = SK\r\naws_session_token = TOK\r\n",
         "default", true, "AK", "SK", "TOK"},
        {"[default]\naws_access_key_id=AK\n", "default", false, "AK", "", ""},  // no secret
        {"# [default]\n; aws_access_key_id=AK\n[ default ]\naws_access_key_id=K2\naws_secret_access_key=S2", "default",
         true, "K2", "S2", ""},
        {"[default]\naws_access_key_id=AK\naws_secret_access_key=SK\n", "prod", false, "", "", ""},
        {"aws_access_key_id=AK\naws_secret_access_key=SK\n", "default", false, "", "", ""},  // outside any profile
        {"[default\naws_access_key_id=AK\naws_secret_access_key=SK\n", "default", false, "", "", ""},
    };
    for (const Row& row : rows) {
        md::S3Credentials c;
        EXPECT_EQ(md::ParseCredentialsFile(row.text, row.profile, c), row.found) << row.text;
        EXPECT_EQ(std::tuple(c.accessKey, c.secretKey, c.sessionToken), std::tuple(row.key, row.secret, row.token))
            << row.text;
    }

    md::test::TempDir dir;
    const auto file = dir / "credentials";
    const std::string text = "[default]\naws_access_key_id=FILEKEY\naws_secret_access_key=FILESECRET\n";
    md::test::WriteFileBytes(file, std::vector<uint8_t>(text.begin(), text.end()));
    setenv("AWS_SHARED_CREDENTIALS_FILE", file.c_str(), 1);
    unsetenv("AWS_ACCESS_KEY_ID");
    unsetenv("AWS_SECRET_ACCESS_KEY");
    unsetenv("AWS_PROFILE");
    setenv("AWS_DEFAULT_REGION", "ap-south-1", 1);
    setenv("AWS_ENDPOINT_URL", "http://127.0.0.1:1/", 1);
    md::S3Settings s = md::ReadS3Settings();
    EXPECT_EQ(std::tuple(s.credentials.accessKey, s.credentials.secretKey, s.region, s.endpoint),
              std::tuple("FILEKEY", "FILESECRET", "ap-south-1", "http://127.0.0.1:1"));
    setenv("AWS_ACCESS_KEY_ID", "ENVKEY", 1);
    setenv("AWS_SECRET_ACCESS_KEY", "ENVSECRET", 1);
    setenv("AWS_REGION", "eu-north-1", 1);
    s = md::ReadS3Settings();
    EXPECT_EQ(std::tuple(s.credentials.accessKey, s.credentials.secretKey, s.region),
              std::tuple("ENVKEY", "ENVSECRET", "eu-north-1"));
    // Without credentials the requests go unsigned.
    for (const char* name : {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_REGION", "AWS_DEFAULT_REGION",
                             "AWS_ENDPOINT_URL"})
        unsetenv(name);
    setenv("AWS_SHARED_CREDENTIALS_FILE", (dir / "absent").c_str(), 1);
    s = md::ReadS3Settings();
    EXPECT_FALSE(s.credentials.Present());
    EXPECT_EQ(s.region, "us-east-1");
    EXPECT_TRUE(md::S3Target(s, "http://x/y").awsSigV4.empty());
    unsetenv("AWS_SHARED_CREDENTIALS_FILE");
}

TEST(S3Listing, ThePageReaderTakesKeysSizesAndTokensAndRefusesWhatItCannotTrust)
{
    const std::string head = "<?xml version=\"1.0\"?><ListBucketResult xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">";
    struct Row {
        std::string xml;
        bool ok;
        std::vector<std::pair<std::string, uint64_t>> objects;
        bool truncated;
        std::string token;
    };
    const Row rows[] = {
        {head + "<Contents><Key>a.ts</Key><Size>10</Size></Contents><Contents><ETag>x</ETag><Size>0</Size>"
                "<Key>b &amp; c&#39;&#x263A;.mp4</Key></Contents><IsTruncated>false</IsTruncated></ListBucketResult>",
         true, {{"a.ts", 10}, {"b & c'\xE2\x98\xBA.mp4", 0}}, false, ""},
        {head + "<IsTruncated>true</IsTruncated><Contents><Key>k</Key><Size>18446744073709551615</Size></Contents>"
                "<NextContinuationToken>1/a+b&lt;</NextContinuationToken></ListBucketResult>",
         true, {{"k", 18446744073709551615u}}, true, "1/a+b<"},
        // Folders (CommonPrefixes) are not objects.
        {head + "<CommonPrefixes><Prefix>d/</Prefix></CommonPrefixes><IsTruncated>false</IsTruncated></ListBucketResult>",
         true, {}, false, ""},
        {head + "<IsTruncated>true</IsTruncated></ListBucketResult>", false, {}, false, ""},  // no token: endless
        {head + "<Contents><Key>a</Key><Size>18446744073709551616</Size></Contents>", false, {}, false, ""},
        {head + "<Contents><Key>a</Key></Contents><Contents><Size>3</Size></Contents>", false, {}, false, ""},
        {head + "<Contents><Key>a &bogus; b</Key><Size>1</Size></Contents>", false, {}, false, ""},
        {head + "<Contents><Key>a &#0; b</Key><Size>1</Size></Contents>", false, {}, false, ""},
        {head + "<Contents><Key>a &#xD800; b</Key><Size>1</Size></Contents>", false, {}, false, ""},
        {head + "<Contents><Key>a</Key><Size>1</Size>", true, {}, false, ""},  // an unclosed entry is no entry
        {"<Error><Code>AccessDenied</Code></Error>", false, {}, false, ""},
    };
    for (const Row& row : rows) {
        md::S3ListPage page;
        std::string error;
        EXPECT_EQ(md::ParseListPage(row.xml, page, error), row.ok) << row.xml;
        if (!row.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        std::vector<std::pair<std::string, uint64_t>> objects;
        for (const md::S3Object& o : page.objects)
            objects.emplace_back(o.key, o.size);
        EXPECT_EQ(objects, row.objects) << row.xml;
        EXPECT_EQ(std::tuple(page.truncated, page.nextToken), std::tuple(row.truncated, row.token)) << row.xml;
    }
    // A page of more entries than any server sends is refused, not stored.
    std::string many = head;
    for (size_t i = 0; i <= md::kMaxListedPerPage; ++i)
        many += "<Contents><Key>k</Key><Size>1</Size></Contents>";
    md::S3ListPage page;
    std::string error;
    EXPECT_FALSE(md::ParseListPage(many, page, error));
}

TEST(SignedRequests, LibcurlSignsWithSigV4AndAWrongSecretIsRefused)
{
    std::string base;
    const auto server = md::test::StartFaultServer(base);
    if (!server)
        GTEST_SKIP() << "python3 is missing or the fault server did not start: no signed request test";
    const char* name = "wav_pcm_s16le_48k_5.1.wav";
    const auto file = md::test::ReadFileBytes(md::test::TestDataDir() / name);
    struct Row {
        const char* secret;
        const char* token;
        HRESULT hr;
    };
    const Row rows[] = {
        {"FAULTSERVERSECRET", "", S_OK},
        {"FAULTSERVERSECRET", "SessionTok3n/+=", S_OK},  // the token travels signed
        {"WrongSecretValue", "", E_ACCESSDENIED},
    };
    for (const Row& row : rows) {
        md::S3Settings settings;
        settings.endpoint = base;  // path style: ${endpoint}/signed/<name>, the server's signed behaviour
        settings.credentials = {"AKIDMEDIADETECT", row.secret, row.token};
        md::S3Location location{"signed", name};
        auto session = std::make_shared<md::RemoteSession>(md::RemoteOptions{});
        session->AddSecret(row.secret);
        md::RemoteInputStream stream(md::S3Target(settings, md::S3ObjectUrl(settings, location)), session);
        EXPECT_EQ(stream.Result(), row.hr) << row.secret;
        if (FAILED(row.hr)) {
            EXPECT_NE(session->Error().find("HTTP 403 from 127.0.0.1 (S3 SignatureDoesNotMatch)"), std::string::npos)
                << session->Error();
            EXPECT_EQ(session->Error().find(row.secret), std::string::npos);
            continue;
        }
        std::vector<uint8_t> bytes(file.size());
        EXPECT_EQ(ZPMP::ReadAt(stream, 0, bytes.data(), static_cast<uint32_t>(bytes.size())), file.size());
        EXPECT_TRUE(bytes == file);
    }
}

}  // namespace
