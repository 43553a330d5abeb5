// Remote paths through the detector: the same records over HTTP as from disk, in the module with its own limits
// and in the static libraries with limits shortened so that the block cache and the read-ahead are exercised, at a
// bounded cost in requests and bytes; the time table over a URL; remote errors through the binary interface.
#include "component/describe.h"
#include "component/media_detect.h"
#include "component/time_table_host.h"
#include "input/remote_session.h"
#include "support/server_process.h"

namespace {

namespace fs = std::filesystem;
using namespace md::test;

// The container families whose readers open the path again (transport and Matroska queries, the MP4 box tree of
// a moov at the end, the program-stream time range scan) and a few read from their headers.
const char* const kFiles[] = {
    "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts",
    "mp4_mpeg4_640x480_25fps_aac_44k_stereo.mp4",
    "mp4_h264_1920x1080_16x9_25i_tff_aac_48k_stereo.mp4",
    "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob",
    "mkv_h264_640x360_25fps_aac_48k_stereo.mkv",
    "mxf_d10_720x608_25i_pcm_48k_stereo.mxf",
    "wav_pcm_s16le_48k_5.1.wav",
};

// The module's first request: what the probe reads first.
constexpr uint64_t kHeadWindow = 512 * 1024;

RemoteStats Stats(IMediaDetectInfo& info)
{
    RemoteStats stats{};
    EXPECT_EQ(info.GetInfo(MDI_REMOTE_STATS, &stats), S_OK);
    return stats;
}

class RemoteDetector : public TimeTableHost {
protected:
    static void SetUpTestSuite() { s_fault.Start(); }
    static void TearDownTestSuite() { s_fault.Stop(); }
    void SetUp() override
    {
        if (s_fault.base.empty())
            GTEST_SKIP() << "python3 is missing or the fault server did not start: no remote detector test";
        TimeTableHost::SetUp();
        const uint32_t all = MD_EXT_ALL;
        ASSERT_EQ(m_info->SetInfo(MDI_EXTENSIONS, &all), S_OK);
    }

    static inline SuiteFaultServer s_fault;
};

TEST_F(RemoteDetector, TheModuleDescribesAUrlAsTheFileOnDiskInAFewRequests)
{
    for (const char* name : kFiles) {
        SCOPED_TRACE(name);
        const fs::path file = TestDataDir() / name;
        const std::string local = Describe(*m_detector, *m_info, file.string());
        RemoteStats none{};
        EXPECT_EQ(m_info->GetInfo(MDI_REMOTE_STATS, &none), E_FAIL);  // a local file
        EXPECT_EQ(Describe(*m_detector, *m_info, s_fault.base + "/range/" + name), local);
        // The queries reopen the path, each from the head window the open fetched (these files are at most 40%
        // larger than it); beyond it each stream fetches what it reads: the tail twice at most.
        const RemoteStats stats = Stats(*m_info);
        EXPECT_GE(stats.requests, 1u);
        EXPECT_LE(stats.requests, 4u);
        const uint64_t size = fs::file_size(file);
        const uint64_t tail = size > kHeadWindow ? size - kHeadWindow : 0;
        EXPECT_LE(stats.bytesFetched, size + tail);
    }
}

TEST_F(RemoteDetector, ATimeTableOverAUrlStreamsTheObjectOnceAndStoresTheTableOfTheFile)
{
    const char* name = "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob";
    const fs::path file = TestDataDir() / name;
    ASSERT_EQ(Build(file), 0u);
    const auto expected = Stored(file);
    ASSERT_TRUE(expected && !expected->empty());

    const std::string url = s_fault.base + "/range/" + name;
    uint32_t kind = 0;
    ASSERT_EQ(m_detector->OpenFileA(url.c_str(), &kind), S_OK);
    const RemoteStats opened = Stats(*m_info);
    ASSERT_EQ(Build(url), 0u);
    EXPECT_EQ(Stored(url), expected);
    const RemoteStats walked = Stats(*m_info);
    // What the open fetched serves the walk too; the rest comes in at most one read-ahead run: every byte once.
    EXPECT_EQ(walked.bytesFetched, fs::file_size(file));
    EXPECT_LE(walked.requests - opened.requests, 1u);

    // A server that fails after the first request: the walk ends unreadable and stores nothing.
    const std::string failing = s_fault.base + "/failafterfirst/" + name;
    ASSERT_EQ(m_detector->OpenFileA(failing.c_str(), &kind), S_OK);
    EXPECT_EQ(Build(failing), 1u);
    EXPECT_EQ(Stored(failing), std::nullopt);
    char reason[kRemoteErrorSize];
    ASSERT_EQ(m_info->GetInfo(MDI_REMOTE_ERROR, reason), S_OK);
    EXPECT_NE(std::string(reason).find("HTTP 500 from 127.0.0.1"), std::string::npos) << reason;
}

// A failed remote open is the stream's file error, with its reason served as MDI_REMOTE_ERROR (each server failure's
// error and reason, and the secrets they lose: tests/input/remote_input_stream_test.cpp).
TEST_F(RemoteDetector, FailuresAreTheFileErrorsWithAReasonThatHoldsNoSecret)
{
    const char* name = "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob";
    setenv("AWS_SECRET_ACCESS_KEY", "Sup3rSecretValue", 1);
    uint32_t kind = 77;
    const std::string missing = s_fault.base + "/missing/" + name + "?X-Amz-Signature=Sup3rSecretValue";
    EXPECT_EQ(m_detector->OpenFileA(missing.c_str(), &kind), HRESULT_FROM_WIN32(2));
    unsetenv("AWS_SECRET_ACCESS_KEY");
    EXPECT_EQ(kind, uint32_t{MK_UNKNOWN});
    char reason[kRemoteErrorSize];
    ASSERT_EQ(m_info->GetInfo(MDI_REMOTE_ERROR, reason), S_OK);
    EXPECT_NE(std::string(reason).find("HTTP 404 from 127.0.0.1 (S3 NoSuchKey)"), std::string::npos) << reason;
    EXPECT_EQ(std::string(reason).find("Sup3rSecretValue"), std::string::npos) << reason;
    // A good open keeps no reason; without the extension a URL is a file name (which does not exist).
    ASSERT_EQ(m_detector->OpenFileA((s_fault.base + "/range/" + name).c_str(), &kind), S_OK);
    EXPECT_EQ(m_info->GetInfo(MDI_REMOTE_ERROR, reason), E_FAIL);
    const uint32_t none = 0;
    ASSERT_EQ(m_info->SetInfo(MDI_EXTENSIONS, &none), S_OK);
    EXPECT_EQ(m_detector->OpenFileA((s_fault.base + "/range/" + name).c_str(), &kind), S_OK);
    EXPECT_EQ(kind, uint32_t{MK_UNKNOWN});
    RemoteStats stats{};
    EXPECT_EQ(m_info->GetInfo(MDI_REMOTE_STATS, &stats), E_FAIL);
}

TEST_F(RemoteDetector, RemotePathsMayRunToTwoThousandCharacters)
{
    const std::string url = s_fault.base + "/range/wav_pcm_s16le_48k_5.1.wav?pad=";
    uint32_t kind = 0;
    EXPECT_EQ(m_detector->OpenFileA((url + std::string(2048 - url.size(), 'x')).c_str(), &kind), S_OK);
    EXPECT_EQ(kind, uint32_t{MK_WAV});
    EXPECT_EQ(m_detector->OpenFileA((url + std::string(2049 - url.size(), 'x')).c_str(), &kind), MD_E_PATH_TOO_LONG);
    const std::wstring wide = md::Utf8ToWide(url + std::string(2048 - url.size(), 'x'));
    EXPECT_EQ(m_detector->OpenFile(wide.c_str(), &kind), S_OK);
}

// The detector of the static libraries, whose remote limits the test sets.
class SmallCacheDetector : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server = StartFaultServer(m_base);
        if (!m_server)
            GTEST_SKIP() << "python3 is missing or the fault server did not start: no remote detector test";
        md::SetDefaultRemoteOptions({.headWindow = 32 * 1024, .blockSize = 8 * 1024, .readAheadStart = 16 * 1024,
                                     .readAheadMax = 64 * 1024, .cacheBytes = 160 * 1024, .retryBackoffMs = 10});
        auto* object = new md::ZPMediaDetect(nullptr);
        ASSERT_EQ(object->NonDelegatingQueryInterface(IID_IMediaDetect5, reinterpret_cast<void**>(&m_detector)), S_OK);
        ASSERT_EQ(m_detector->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&m_info)), S_OK);
        const uint32_t all = MD_EXT_ALL;
        ASSERT_EQ(m_info->SetInfo(MDI_EXTENSIONS, &all), S_OK);
    }
    void TearDown() override
    {
        if (m_info)
            m_info->Release();
        if (m_detector)
            m_detector->Release();
        md::SetDefaultRemoteOptions({});
    }

    std::unique_ptr<ServerProcess> m_server;
    std::string m_base;
    IMediaDetect5* m_detector = nullptr;
    IMediaDetectInfo* m_info = nullptr;
};

TEST_F(SmallCacheDetector, ScatteredReadsThroughASmallCacheGiveTheSameRecordsAsTheFile)
{
    for (const char* name : kFiles) {
        SCOPED_TRACE(name);
        const fs::path file = TestDataDir() / name;
        const std::string local = Describe(*m_detector, *m_info, file.string());
        EXPECT_EQ(Describe(*m_detector, *m_info, m_base + "/range/" + name), local);
        const RemoteStats stats = Stats(*m_info);
        // Several streams reopen the path (one per query) and each may read the whole file; never more.
        EXPECT_LE(stats.bytesFetched, 6 * fs::file_size(file)) << stats.requests << " requests";
        EXPECT_LE(stats.requests, 6 * fs::file_size(file) / (8 * 1024) + 6);
        // A server that fails once in the middle of a body or with a 500 changes nothing.
        EXPECT_EQ(Describe(*m_detector, *m_info, m_base + "/closeonce/" + name), local);
        EXPECT_EQ(Describe(*m_detector, *m_info, m_base + "/fail500once/" + name), local);
    }
}

}  // namespace
