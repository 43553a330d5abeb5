// The remote input stream against a server that misbehaves on purpose (fault_server.py): every
// way of answering a range request, with limits shortened so the whole test takes seconds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "input/http_client.h"
#include "input/open_input.h"
#include "input/remote_input_stream.h"
#include "platform/win32.h"
#include "support/files.h"
#include "support/server_process.h"

namespace {

using md::RemoteInputStream;
using md::RemoteOptions;
using md::RemoteSession;

// Larger than the shortened head window, and than the module's own (512 KiB).
const std::string kLarge = "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob";
// libcurl hands a body over in pieces of at most this many bytes (CURL_MAX_WRITE_SIZE).
constexpr uint64_t kLargestWritePiece = 16384;
// Smaller than the module's head window.
const std::string kSmall = "mp4_h264_320x240_25fps_rotated90_aac_48k_stereo.mp4";

constexpr RemoteOptions kShort{.headWindow = 64 * 1024, .blockSize = 16 * 1024, .readAheadStart = 32 * 1024,
                               .readAheadMax = 128 * 1024, .cacheBytes = 512 * 1024, .connectTimeoutMs = 2000,
                               .lowSpeedSeconds = 1, .retryBackoffMs = 10};

class RemoteStream : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_fault.Start(); }
    static void TearDownTestSuite() { s_fault.Stop(); }
    void SetUp() override
    {
        if (s_fault.base.empty())
            GTEST_SKIP() << "python3 is missing or the fault server did not start: no remote stream test";
    }

    // A stream on behaviour/name, with its own session.
    std::unique_ptr<RemoteInputStream> Open(const std::string& path)
    {
        m_session = std::make_shared<RemoteSession>(kShort);
        md::RemoteTarget target;
        target.url = s_fault.base + "/" + path;
        return std::make_unique<RemoteInputStream>(target, m_session);
    }

    static inline md::test::SuiteFaultServer s_fault;
    std::shared_ptr<RemoteSession> m_session;
};

std::vector<uint8_t> FileBytes(const std::string& name)
{
    return md::test::ReadFileBytes(md::test::TestDataDir() / name);
}

// Reads the whole stream in reads of chunk bytes, each at a position of its own.
std::vector<uint8_t> ReadAll(ZPMP::InputStream& s, uint32_t chunk)
{
    std::vector<uint8_t> out(s.Size());
    for (uint64_t at = 0; at < out.size(); at += chunk) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunk, out.size() - at));
        if (ZPMP::ReadAt(s, at, out.data() + at, n) != n) {
            out.resize(at);
            break;
        }
    }
    return out;
}

TEST_F(RemoteStream, ServersThatHonourRangesOrFailOnceGiveTheFileAndTheFailuresGiveTheirErrors)
{
    struct Row {
        std::string path;
        HRESULT open;
        const char* reason;  // a part of the kept reason of a failure
    };
    const Row rows[] = {
        {"range/" + kLarge, S_OK, nullptr},
        {"range/" + kSmall, S_OK, nullptr},
        {"norange/" + kSmall, S_OK, nullptr},  // the whole file fits the head window: cached whole
        {"closeonce/" + kLarge, S_OK, nullptr},
        {"fail500once/" + kLarge, S_OK, nullptr},
        {"redirect/5/" + kLarge, S_OK, nullptr},
        {"norange/" + kLarge, MD_E_REMOTE_NO_RANGES, "ignores byte ranges"},
        {"fail500/" + kLarge, MD_E_REMOTE_FAILED, "HTTP 500 from 127.0.0.1 (after 3 attempts)"},
        {"badrange/" + kLarge, MD_E_REMOTE_FAILED, "with Content-Range 'bytes 1-65536/"},
        {"missing/" + kLarge, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "HTTP 404 from 127.0.0.1 (S3 NoSuchKey)"},
        {"denied/" + kLarge, E_ACCESSDENIED, "HTTP 403 from 127.0.0.1"},
        {"redirect/6/" + kLarge, MD_E_REMOTE_FAILED, "more than 5 redirects"},
        {"stall/" + kLarge, MD_E_REMOTE_TIMEOUT, "timed out"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const auto begin = std::chrono::steady_clock::now();
        const auto stream = Open(row.path);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_LT(seconds, 5.0);
        EXPECT_EQ(stream->Result(), row.open);
        if (row.reason) {
            EXPECT_NE(m_session->Error().find(row.reason), std::string::npos) << m_session->Error();
            EXPECT_EQ(stream->Size(), 0u);
            EXPECT_EQ(stream->Seek(0), 1);
            continue;
        }
        EXPECT_EQ(m_session->Error(), "");
        const auto file = FileBytes(row.path.substr(row.path.rfind('/') + 1));
        ASSERT_EQ(stream->Size(), file.size());
        EXPECT_TRUE(ReadAll(*stream, 1 << 20) == file);
    }
}

TEST_F(RemoteStream, AServerIgnoringRangesIsLeftAsSoonAsMoreThanTheWindowArrived)
{
    const auto stream = Open("norange/" + kLarge);
    EXPECT_EQ(stream->Result(), MD_E_REMOTE_NO_RANGES);
    // The answer's Content-Length already tells: the transfer stops at its first piece of body.
    EXPECT_LE(m_session->Stats().bytesFetched, kShort.headWindow + kLargestWritePiece);
    EXPECT_EQ(m_session->Stats().requests, 1u);
}

TEST_F(RemoteStream, SequentialReadsFetchEveryByteOnceWithGrowingRequestsScatteredOnesOnlyTheirBlocks)
{
    const std::string path = "range/" + kLarge;
    const auto file = FileBytes(kLarge);
    {
        const auto stream = Open(path);
        ASSERT_EQ(stream->Result(), S_OK);
        ASSERT_TRUE(ReadAll(*stream, 8192) == file);
        EXPECT_EQ(m_session->Stats().bytesFetched, file.size());
        // The head window, then read-aheads of 32, 64 and 128 KiB and 128 KiB on: 64 + 32 + 64 + 128 * n.
        const uint64_t afterRamp = file.size() - 64 * 1024 - 32 * 1024 - 64 * 1024;
        const uint64_t expected = 1 + 2 + (afterRamp + kShort.readAheadMax - 1) / kShort.readAheadMax;
        EXPECT_EQ(m_session->Stats().requests, expected);
    }
    {
        // Two small reads far apart past the head: one block each.
        const auto stream = Open(path);
        ASSERT_EQ(stream->Result(), S_OK);
        uint8_t bytes[100];
        ASSERT_EQ(ZPMP::ReadAt(*stream, 300'000, bytes, sizeof bytes), sizeof bytes);
        EXPECT_TRUE(std::equal(bytes, bytes + sizeof bytes, file.begin() + 300'000));
        ASSERT_EQ(ZPMP::ReadAt(*stream, 600'000, bytes, sizeof bytes), sizeof bytes);
        EXPECT_TRUE(std::equal(bytes, bytes + sizeof bytes, file.begin() + 600'000));
        EXPECT_EQ(m_session->Stats().requests, 3u);
        EXPECT_EQ(m_session->Stats().bytesFetched, kShort.headWindow + 2 * kShort.blockSize);
        // Read again: served from the cache.
        ASSERT_EQ(ZPMP::ReadAt(*stream, 300'050, bytes, 50), 50u);
        EXPECT_EQ(m_session->Stats().requests, 3u);
    }
}

TEST_F(RemoteStream, StreamsOfOneFileShareWhatWasFetchedAndAWalkOverHeadsGrowsItsRequestsOrTakesAnAnnouncedStretch)
{
    const std::string path = "range/" + kLarge;
    const auto file = FileBytes(kLarge);
    const auto first = Open(path);
    ASSERT_EQ(first->Result(), S_OK);
    uint8_t bytes[100];
    ASSERT_EQ(ZPMP::ReadAt(*first, 300'000, bytes, sizeof bytes), sizeof bytes);
    const RemoteStats one = m_session->Stats();
    // A second stream of the same file (a query's reopen): no request for the size, the head or the block held.
    md::RemoteTarget target;
    target.url = s_fault.base + "/" + path;
    RemoteInputStream second(target, m_session);
    ASSERT_EQ(second.Result(), S_OK);
    EXPECT_EQ(second.Size(), file.size());
    ASSERT_EQ(ZPMP::ReadAt(second, 10, bytes, sizeof bytes), sizeof bytes);
    ASSERT_EQ(ZPMP::ReadAt(second, 300'050, bytes, sizeof bytes), sizeof bytes);
    EXPECT_TRUE(std::equal(bytes, bytes + sizeof bytes, file.begin() + 300'050));
    EXPECT_EQ(m_session->Stats().requests, one.requests);

    // Small reads stepping 20 KB forward (more than a block apart): the first jump fetches its block, each later
    // miss lies within the read-ahead past the last fetch and doubles it, so ten heads cost far fewer requests.
    const RemoteStats before = m_session->Stats();
    for (uint64_t at = 360'000; at < 560'000; at += 20'000) {
        ASSERT_EQ(ZPMP::ReadAt(second, at, bytes, sizeof bytes), sizeof bytes);
        EXPECT_TRUE(std::equal(bytes, bytes + sizeof bytes, file.begin() + at));
    }
    EXPECT_LE(m_session->Stats().requests - before.requests, 4u);
    EXPECT_LE(m_session->Stats().bytesFetched - before.bytesFetched, 200'000 + 2 * kShort.readAheadMax);

    // A stretch announced before its walk (a cluster whose every block head is read): its first miss fetches from
    // its block to its end, nothing past it, and the later heads are held.
    const auto third = Open(path);
    ASSERT_EQ(third->Result(), S_OK);
    third->WillRead(450'000, 700'000);
    for (uint64_t at = 450'000; at < 700'000; at += 25'000) {
        ASSERT_EQ(ZPMP::ReadAt(*third, at, bytes, sizeof bytes), sizeof bytes);
        EXPECT_TRUE(std::equal(bytes, bytes + sizeof bytes, file.begin() + at));
    }
    EXPECT_EQ(m_session->Stats().requests, 2u);
    const uint64_t stretchFrom = 450'000 / kShort.blockSize * kShort.blockSize;
    EXPECT_EQ(m_session->Stats().bytesFetched, kShort.headWindow + (700'000 - stretchFrom));
}

TEST_F(RemoteStream, AReadFailingAfterTheOpenGivesWhatArrivedAndKeepsTheReason)
{
    // The first request is served, every later one refused.
    const auto stream = Open("failafterfirst/" + kLarge);
    ASSERT_EQ(stream->Result(), S_OK);
    const auto file = FileBytes(kLarge);
    std::vector<uint8_t> bytes(100'000);
    // A read across the end of the head: the head's bytes, then the failure.
    EXPECT_EQ(ZPMP::ReadAt(*stream, kShort.headWindow - 1000, bytes.data(), 5000), 1000u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 1000, file.begin() + (kShort.headWindow - 1000)));
    EXPECT_TRUE(stream->Failed());
    EXPECT_NE(m_session->Error().find("HTTP 500 from 127.0.0.1 (after 3 attempts)"), std::string::npos)
        << m_session->Error();
    // Later misses fail at once, without asking the server again; the head is still served.
    const uint64_t requests = m_session->Stats().requests;
    EXPECT_EQ(ZPMP::ReadAt(*stream, 400'000, bytes.data(), 10), 0u);
    EXPECT_EQ(m_session->Stats().requests, requests);
    EXPECT_EQ(ZPMP::ReadAt(*stream, 0, bytes.data(), 10), 10u);
}

// Without a usable libcurl a remote open fails with a reason, and nothing else: run in a child process, whose loader
// finds a library named libcurl.so.4 that is not libcurl (a copy of libm) first.
TEST(RemoteWithoutCurl, AnOpenFailsWithTheReason)
{
    if (std::getenv("MD_TEST_FAKE_CURL_CHILD") != nullptr) {
        auto session = std::make_shared<RemoteSession>(kShort);
        md::RemoteTarget target;
        target.url = "http://127.0.0.1:9/x";
        EXPECT_EQ(RemoteInputStream(target, session).Result(), MD_E_REMOTE_FAILED);
        EXPECT_EQ(session->Error(), "libcurl.so.4 lacks curl_global_init");
        return;
    }
    md::test::TempDir dir;
    std::error_code ec;
    std::filesystem::copy_file("/lib/x86_64-linux-gnu/libm.so.6", dir / "libcurl.so.4", ec);
    if (ec)
        GTEST_SKIP() << "no libm to stand in for libcurl: " << ec.message();
    const std::string command = "MD_TEST_FAKE_CURL_CHILD=1 LD_LIBRARY_PATH='" + dir.path().string() +
                                "' /proc/" + std::to_string(getpid()) +
                                "/exe --gtest_filter=RemoteWithoutCurl.* >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST(RemotePieces, ContentRangeHeadersAndStatuses)
{
    struct Row {
        const char* value;
        bool ok;
        md::ContentRange expected;
    };
    const Row rows[] = {
        {"bytes 0-99/1000", true, {true, 0, 99, true, 1000}},
        {" bytes 5-5/6\r\n", true, {true, 5, 5, true, 6}},
        {"bytes 0-99/*", true, {true, 0, 99, false, 0}},
        {"bytes */0", true, {false, 0, 0, true, 0}},
        {"BYTES 1-2/3", true, {true, 1, 2, true, 3}},
        {"bytes 100-99/1000", false, {}},   // last before first
        {"bytes 0-1000/1000", false, {}},   // past the total
        {"bytes */*", false, {}},
        {"bytes 0-99", false, {}},
        {"bytes -1-99/1000", false, {}},
        {"bytes 0-99/10000000000000000000000", false, {}},  // beyond 64 bits
        {"items 0-99/1000", false, {}},
    };
    for (const Row& row : rows) {
        md::ContentRange r;
        EXPECT_EQ(md::ParseContentRange(row.value, r), row.ok) << row.value;
        if (row.ok) {
            EXPECT_EQ(std::tuple(r.hasRange, r.first, r.last, r.hasTotal, r.total),
                      std::tuple(row.expected.hasRange, row.expected.first, row.expected.last,
                                 row.expected.hasTotal, row.expected.total))
                << row.value;
        }
    }
    EXPECT_EQ(md::HresultOfStatus(401), E_ACCESSDENIED);  // 404, 403 and 500: the servers' rows
    EXPECT_EQ(std::tuple(md::HostOfUrl("https://user:pw@example.com:8443/a?X-Amz-Signature=1"),
                         md::HostOfUrl("http://[::1]:80/x"), md::HostOfUrl("http://h?q=/x")),
              std::tuple("example.com", "[::1]", "h"));
}

TEST(RemotePieces, ReasonsLoseSecretsAndStayOneShortLine)
{
    const std::vector<std::string> secrets = {"wJalrXUtnFEMI", "tok/en"};
    EXPECT_EQ(md::ScrubReason("key wJalrXUtnFEMI and tok/en, wJalrXUtnFEMI", secrets, 255), "key *** and ***, ***");
    EXPECT_EQ(md::ScrubReason("first\nsecond", secrets, 255), "first");
    EXPECT_EQ(md::ScrubReason("abcdef", {}, 3), "abc");
    EXPECT_EQ(md::ScrubReason("a\xC3\xA9", {}, 2), "a");  // never half a character
    EXPECT_EQ(md::ScrubReason("x", {""}, 3), "x");         // an empty secret blanks nothing
}

TEST(RemotePieces, RemotePathsAreKnownByTheirScheme)
{
    EXPECT_TRUE(md::IsRemotePath(std::wstring_view(L"HTTP://a/b")));
    for (const auto& [path, remote] : {std::pair{"https://a/b", true}, {"s3://bucket/key", true},
                                       {"/data/http://x", false}, {"ftp://a/b", false}, {"s3:/bucket", false}})
        EXPECT_EQ(md::IsRemotePath(std::string_view(path)), remote) << path;
}

}  // namespace
