// The detector object through its interfaces: argument checks, info values before any open, bitmaps, the container
// hint and registration (the binary contract: tests/tools/c_host.c).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/com_runtime.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/module.h"
#include "support/stream_builders.h"

namespace {

using md::test::TempDir;

class Detector : public md::test::DetectorTest {
protected:
    uint32_t Open(const std::filesystem::path& path)
    {
        uint32_t kind = 99;
        EXPECT_EQ(m_detector->OpenFileA(path.c_str(), &kind), S_OK) << path;
        return kind;
    }

    TempDir m_dir;
};

TEST_F(Detector, QueriesBeforeAnyOpenAnswerAsForAnUnknownFile)
{
    VideoInfo video{};
    AudioInfo audio{};
    MpegAudioLayerInfo layer{};
    MultiChannelInfo multi{};
    uint32_t word = 7;
    uint8_t byte = 7;
    // Kind 0 refuses the records; the multichannel record has no kind test, only its presence.
    const std::pair<HRESULT, HRESULT> calls[] = {
        {m_detector->GetVideoInfo(&video), E_INVALIDARG},     {m_detector->GetVideoInfoShort(&video), E_INVALIDARG},
        {m_detector->GetAudioInfo(&audio), E_INVALIDARG},     {m_detector->GetMpegAudioLayerInfo(&layer), E_INVALIDARG},
        {m_detector->GetMultiChannelInfo(&multi), E_FAIL},    {m_detector->GetMultiChannelInfo(nullptr), E_INVALIDARG},
        {m_info->GetInfo(MDI_FIELD_CODING, &word), S_OK},     {m_info->GetInfo(MDI_MOOV_FIRST, &byte), S_OK},
        {m_info->GetInfo(MDI_CODEC_HEADERS, &video), E_FAIL}, {m_info->GetInfo(MDI_THUMBNAIL, &video), E_FAIL},
        {m_info->GetInfo(3, &video), E_INVALIDARG},           {m_info->GetInfo(18, &video), E_INVALIDARG},
        {m_info->GetInfo(MDI_AAC_CLASS, nullptr), E_POINTER}, {m_info->GetInfo(MDI_MXF_PATTERN, &video), E_INVALIDARG},
    };
    for (size_t i = 0; i < std::size(calls); ++i)
        EXPECT_EQ(calls[i].first, calls[i].second) << "call " << i;
    EXPECT_EQ(std::tuple(word, byte), std::tuple(0u, 0));
}

TEST_F(Detector, OpenChecksItsArgumentsAndReportsUnreadableFilesAsUnknown)
{
    uint32_t kind = 5;
    EXPECT_EQ(m_detector->OpenFileA(nullptr, &kind), E_INVALIDARG);
    EXPECT_EQ(m_detector->OpenFile(nullptr, &kind), E_INVALIDARG);
    EXPECT_EQ(m_detector->OpenFileA("x", nullptr), E_INVALIDARG);
    EXPECT_EQ(kind, 5u);

    EXPECT_EQ(m_detector->OpenFileA(std::string(300, 'a').c_str(), &kind), MD_E_PATH_TOO_LONG);
    EXPECT_EQ(m_detector->OpenFile(std::wstring(260, L'a').c_str(), &kind), MD_E_PATH_TOO_LONG);

    md::test::WriteFileBytes(m_dir / "empty", {});  // missing, a folder, empty
    EXPECT_EQ(std::tuple(Open(m_dir / "missing.mpg"), Open(m_dir.path()), Open(m_dir / "empty")),
              std::tuple(MK_UNKNOWN, MK_UNKNOWN, MK_UNKNOWN));

    // A wide path with characters beyond ASCII.
    const auto path = m_dir / "s\xC3\xA9quence \xE6\x97\xA5.ts";
    md::test::WriteFileBytes(path, mdtest::TsStream(188, 200));
    ASSERT_EQ(m_detector->OpenFile(md::Utf8ToWide(path.string()).c_str(), &kind), S_OK);
    EXPECT_EQ(kind, MK_MPEG2_TRANSPORT);
}

// The queries of one container kind refuse the others and check their pointers.
TEST_F(Detector, StreamQueriesCheckTheKindAndTheirArguments)
{
    const auto data = md::test::TestDataDir();
    uint32_t count = 0;
    int32_t videoCount = 77, audioCount = 77;
    const StreamSelection selection{1, 0, 2, 0};
    ASSERT_EQ(Open(data / "ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts"), MK_MPEG2_TRANSPORT);
    // A PMT PID that is not in the table leaves the outputs untouched.
    ASSERT_EQ(m_detector->GetStreamLists(0x1234, &videoCount, nullptr, &audioCount, nullptr, 0), S_OK);
    EXPECT_EQ(videoCount, 77);
    EXPECT_EQ(m_detector->GetStreamLists(0, nullptr, nullptr, &audioCount, nullptr, 0), E_POINTER);
    EXPECT_EQ(m_detector->GetTransportPrograms(nullptr, nullptr, 0), E_POINTER);
    EXPECT_EQ(m_detector->SelectTransportProgram(nullptr, 0, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(m_detector->SelectMatroskaTracks(&selection, 0, 0, nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_detector->GetSubtitleTracks(&count, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(m_detector->ReopenProgramStream(0, nullptr, nullptr), E_INVALIDARG);

    // Matroska: an extra track that is the selected audio track is not reported.
    ASSERT_EQ(Open(data / "mkv_h264_480x270_25fps_vorbis_44k_stereo_srt.mkv"), MK_MATROSKA);
    uint32_t extra = 0;
    ASSERT_EQ(m_detector->SelectMatroskaTracks(&selection, 2, 0, nullptr, nullptr, &extra), S_OK);
    EXPECT_EQ(extra, 0u);
    EXPECT_EQ(m_detector->SelectMatroskaTracks(nullptr, 0, 0, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(m_detector->GetTransportPrograms(&count, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(m_detector->SelectTransportProgram(&selection, 0, nullptr, nullptr), E_INVALIDARG);

    ASSERT_EQ(Open(data / "ps_mpeg2video_640x480_4x3_25fps_mp2_48k_stereo.mpg"), MK_MPEG2_PROGRAM);
    EXPECT_EQ(m_detector->GetStreamLists(0, &videoCount, nullptr, &audioCount, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(m_detector->GetDuration(nullptr), E_INVALIDARG);
    EXPECT_EQ(m_detector->GetTimeRangeInfo(nullptr), E_INVALIDARG);
}

TEST_F(Detector, SaveBitmapWritesHeadersAndPixelsUnpadded)
{
    std::vector<uint8_t> pixels(66000);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(0xA0 + i);
    // Little-endian words of a BITMAPFILEHEADER + BITMAPINFOHEADER, written out by hand, then the first image bytes.
    const auto bitmap = [&pixels](uint32_t fileSize, uint32_t width, uint32_t height, uint16_t bits, uint32_t image) {
        std::vector<uint8_t> h;
        const auto put = [&h](uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                h.push_back(uint8_t(v >> (8 * i)));
        };
        put(0x4D42, 2), put(fileSize, 4), put(0, 4), put(54, 4);
        put(40, 4), put(width, 4), put(height, 4), put(1, 2), put(bits, 2), put(0, 4), put(image, 4);
        put(100, 4), put(100, 4), put(0, 4), put(0, 4);
        h.insert(h.end(), pixels.begin(), pixels.begin() + image);
        return h;
    };
    const auto rgba = m_dir / "rgba.bmp", rgb = m_dir / "rgb.bmp", other = m_dir / "other.bmp";
    ASSERT_EQ(m_detector->SaveBitmap(pixels.data(), 1, 2, 2, md::Utf8ToWide(rgba.string()).c_str()), S_OK);
    EXPECT_EQ(md::test::ReadFileBytes(rgba), bitmap(70, 2, 2, 32, 16));
    ASSERT_EQ(m_detector->SaveBitmapA(pixels.data(), 3, 1, rgb.c_str()), S_OK);
    EXPECT_EQ(md::test::ReadFileBytes(rgb), bitmap(63, 3, 1, 24, 9));  // 24-bit rows of 3 x 3 = 9 bytes, unpadded
    ASSERT_EQ(m_detector->SaveBitmapA(pixels.data(), 200, 110, rgb.c_str()), S_OK);  // sizes past 16 bits
    EXPECT_EQ(md::test::ReadFileBytes(rgb), bitmap(54 + 66000, 200, 110, 24, 66000));
    // An unknown pixel mode writes the headers with bit count 0 and no pixels.
    ASSERT_EQ(m_detector->SaveBitmap(pixels.data(), 7, 2, 2, md::Utf8ToWide(other.string()).c_str()), S_OK);
    EXPECT_EQ(md::test::ReadFileBytes(other), bitmap(54, 2, 2, 0, 0));

    EXPECT_EQ(m_detector->SaveBitmapA(nullptr, 1, 1, rgb.c_str()), E_INVALIDARG);
    EXPECT_EQ(m_detector->SaveBitmapA(pixels.data(), 1, 1, (m_dir / "missing" / "x.bmp").c_str()), E_INVALIDARG);
    EXPECT_EQ(m_detector->SaveBitmapA(pixels.data(), -2, 2, rgb.c_str()), E_INVALIDARG);
    EXPECT_EQ(m_detector->SaveBitmap(pixels.data(), 1, 0xFFFFFFFF, 0xFFFFFFFF, md::Utf8ToWide(rgb.string()).c_str()),
              E_INVALIDARG);
}

// The hint and the extensions stay for every later open until changed (the tool's DirecTV test opens without it).
TEST_F(Detector, ContainerHintAndExtensionsStayForLaterOpens)
{
    const auto path = m_dir / "feed.dtv";
    md::test::WriteFileBytes(path, mdtest::DirecTvStream(4000));
    const uint32_t directv = MK_DIRECTV, none = 0, all = UINT32_MAX;
    EXPECT_EQ(m_info->SetInfo(0x1003, &directv), E_INVALIDARG);
    uint32_t extensions = 1;
    ASSERT_EQ(m_info->GetInfo(MDI_EXTENSIONS, &extensions), S_OK);
    EXPECT_EQ(extensions, 0u);  // none on a new object
    ASSERT_EQ(m_info->SetInfo(MDI_EXTENSIONS, &all), S_OK);
    EXPECT_EQ(m_info->SetInfo(MDI_CONTAINER_HINT, nullptr), E_POINTER);
    ASSERT_EQ(m_info->SetInfo(MDI_CONTAINER_HINT, &directv), S_OK);
    EXPECT_EQ(std::tuple(Open(path), Open(path)), std::tuple(MK_DIRECTV, MK_DIRECTV));
    ASSERT_EQ(m_info->SetInfo(MDI_CONTAINER_HINT, &none), S_OK);
    EXPECT_NE(Open(path), MK_DIRECTV);
    ASSERT_EQ(m_info->GetInfo(MDI_EXTENSIONS, &extensions), S_OK);
    EXPECT_EQ(extensions, uint32_t(MD_EXT_ALL));  // the bits this version knows, kept across opens
}

// A registered class whose module does not load.
TEST(Registration, ClassWhoseModuleDoesNotLoadIsReported)
{
    TempDir dir;
    setenv("MEDIADETECT_REGISTRY", (dir / "registry.reg").c_str(), 1);
    const std::string key = "CLSID\\" + md::GuidToString(CLSID_ZPMediaDetect) + "\\InprocServer32";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, (dir / "nowhere.so").c_str()), ERROR_SUCCESS);
    void* out = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_ZPMediaDetect, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaDetect5, &out),
              CO_E_DLLNOTFOUND);
    EXPECT_EQ(out, nullptr);
    unsetenv("MEDIADETECT_REGISTRY");
}

}  // namespace
