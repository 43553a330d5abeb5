// s3:// listings against a real S3-compatible server (s3rver from the npm registry, installed into the build folder
// from tests/remote/s3/package-lock.json) walk every page. Signed reads against the file on disk and a refused
// access key: tests/remote/s3_check.py.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "input/remote_session.h"
#include "input/s3.h"
#include "support/files.h"
#include "support/module.h"
#include "support/server_process.h"

namespace {

namespace fs = std::filesystem;
using namespace md::test;

constexpr char kBucket[] = "media";
constexpr char kAccessKey[] = "S3RVER";  // s3rver's built-in account
constexpr char kSecretKey[] = "S3RVER";
const char* const kUploaded[] = {
    "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts",
    "mp4_mpeg4_640x480_25fps_aac_44k_stereo.mp4",
    "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob",
};

int RunShell(const std::string& command) { return std::system(command.c_str()); }

// s3rver installed with npm ci into the build folder (once; later runs find it); the reason when it cannot be.
std::string InstallS3rver(const fs::path& dir)
{
    const fs::path source = TestDataDir().parent_path() / "remote" / "s3";
    if (fs::exists(dir / "node_modules" / "s3rver" / "bin" / "s3rver.js"))
        return {};
    std::error_code ec;
    fs::create_directories(dir, ec);
    fs::copy_file(source / "package.json", dir / "package.json", fs::copy_options::overwrite_existing, ec);
    fs::copy_file(source / "package-lock.json", dir / "package-lock.json", fs::copy_options::overwrite_existing, ec);
    // Tests run in parallel: one install at a time.
    const std::string command =
        "cd '" + dir.string() + "' && flock install.lock sh -c 'test -f node_modules/s3rver/bin/s3rver.js || "
        "timeout 180 npm ci --no-audit --no-fund --loglevel=error --fetch-retries=1 --fetch-timeout=20000' "
        ">install.log 2>&1";
    if (ec || RunShell(command) != 0)
        return "npm ci of s3rver failed (no npm registry?): see " + (dir / "install.log").string();
    return {};
}

using Listing = std::map<std::string, uint64_t>;
int32_t Collect(void* context, const char* path, uint64_t size)
{
    (*static_cast<Listing*>(context))[path] = size;
    return 0;
}

// s3rver on a port of its own with every file of kUploaded under "corpus/" and "corpus/sub dir/" (keys with a space
// and in folders); the reason when it cannot run.
std::string StartS3rver(std::unique_ptr<ServerProcess>& server, const TempDir& data, std::string& endpoint)
{
    for (const char* tool : {"node", "npm", "curl", "flock"})
        if (!OnPath(tool))
            return std::string(tool) + " is missing";
    const fs::path dir = BuildDir() / "s3rver";
    if (std::string why = InstallS3rver(dir); !why.empty())
        return why;
    // s3rver makes its continuation tokens with DES, which Node.js on OpenSSL 3 offers only from the legacy
    // provider (without it every truncated listing page is a 500).
    const bool legacy = RunShell("node --openssl-legacy-provider -e 0 >/dev/null 2>&1") == 0;
    server = std::make_unique<ServerProcess>(std::vector<std::string>{
        "node", legacy ? "--openssl-legacy-provider" : "--no-warnings",
        (dir / "node_modules" / "s3rver" / "bin" / "s3rver.js").string(), "-d", data.path().string(), "-a",
        "127.0.0.1", "-p", "0", "--silent", "--configure-bucket", kBucket});
    const std::string line = server->WaitForLine("S3rver listening on ", 30000);
    if (line.empty())
        return "s3rver did not start";
    endpoint = "http://" + line.substr(line.rfind(' ') + 1);
    for (const char* name : kUploaded) {
        for (const std::string& key : {std::string("corpus/") + name, std::string("corpus/sub dir/") + name}) {
            const std::string put = "curl -sf --max-time 30 --aws-sigv4 aws:amz:us-east-1:s3 --user " +
                                    std::string(kAccessKey) + ":" + kSecretKey +
                                    " -H 'x-amz-content-sha256: UNSIGNED-PAYLOAD' -T '" +
                                    (TestDataDir() / name).string() + "' '" + endpoint + "/" + kBucket + "/" +
                                    md::UriEncode(key, true) + "' >/dev/null";
            if (RunShell(put) != 0)
                return "an upload to s3rver failed";
        }
    }
    return {};
}

class S3Server : public DetectorTest {};

TEST_F(S3Server, ListingsWalkEveryPageAndACallbackMayStopThem)
{
    const TempDir data;  // outlives the server
    std::unique_ptr<ServerProcess> server;
    std::string endpoint;
    if (const std::string why = StartS3rver(server, data, endpoint); !why.empty())
        GTEST_SKIP() << why << ": no S3 test";
    setenv("AWS_ENDPOINT_URL", endpoint.c_str(), 1);
    setenv("AWS_ACCESS_KEY_ID", kAccessKey, 1);
    setenv("AWS_SECRET_ACCESS_KEY", kSecretKey, 1);
    setenv("AWS_REGION", "us-east-1", 1);
    IMediaDetectRemote* remote = nullptr;
    ASSERT_EQ(m_detector->QueryInterface(IID_IMediaDetectRemote, reinterpret_cast<void**>(&remote)), S_OK);
    const uint32_t extended = MD_EXT_ALL;
    ASSERT_EQ(m_info->SetInfo(MDI_EXTENSIONS, &extended), S_OK);

    Listing expected;
    for (const char* name : kUploaded) {
        expected[std::string("s3://media/corpus/") + name] = fs::file_size(TestDataDir() / name);
        expected[std::string("s3://media/corpus/sub dir/") + name] = fs::file_size(TestDataDir() / name);
    }
    // Pages of two keys: three pages, each asked with the token of the one before.
    md::RemoteSession session({.listPageKeys = 2});
    Listing all;
    EXPECT_EQ(md::ListS3("s3://media/corpus/", true, &Collect, &all, session), S_OK) << session.Error();
    EXPECT_EQ(all, expected);
    EXPECT_EQ(session.Stats().requests, 3u);

    // Through the module (its recursive and folder listings: tests/remote/s3_check.py's scans), a callback that says
    // stop ends the listing with S_FALSE.
    int calls = 0;
    const auto stopAtFirst = [](void* context, const char*, uint64_t) -> int32_t {
        ++*static_cast<int*>(context);
        return 1;
    };
    EXPECT_EQ(remote->ListRemote("s3://media/", 1, stopAtFirst, &calls), S_FALSE);
    EXPECT_EQ(calls, 1);
    Listing none;
    EXPECT_EQ(remote->ListRemote("http://127.0.0.1/x", 1, &Collect, &none), E_INVALIDARG);
    const uint32_t base = 0;
    ASSERT_EQ(m_info->SetInfo(MDI_EXTENSIONS, &base), S_OK);
    EXPECT_EQ(remote->ListRemote("s3://media/", 1, &Collect, &none), E_INVALIDARG);
    EXPECT_TRUE(none.empty());
    remote->Release();
    for (const char* name : {"AWS_ENDPOINT_URL", "AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_REGION"})
        unsetenv(name);
}

}  // namespace
