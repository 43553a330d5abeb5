#include "input/ms_file_input_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/files.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 31 + 7);
    return v;
}

void WriteBytes(const fs::path& p, const std::vector<uint8_t>& bytes) { md::test::WriteFileBytes(p, bytes); }

std::wstring Wide(const fs::path& p) { return md::Utf8ToWide(p.string()); }

// Each test gets a private temporary directory, removed with everything in it.
class MSFileInputStreamTest : public ::testing::Test {
protected:
    md::test::TempDir tmp;
    const fs::path dir = tmp.path();
};

TEST_F(MSFileInputStreamTest, ReadsSeeksAndTracksPosition)
{
    const auto bytes = Pattern(1000);
    const fs::path p = dir / "a.bin";
    WriteBytes(p, bytes);
    MSFileInputStream s(Wide(p).c_str());
    ASSERT_TRUE(s.IsOpen());
    EXPECT_EQ(s.Size(), 1000u);
    std::vector<uint8_t> buf(600);
    EXPECT_EQ(s.Read(buf.data(), 600), 600u);
    EXPECT_EQ(s.Position(), 600u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin()));
    // One read for the whole count, cut by the end of the file; then nothing.
    EXPECT_EQ(s.Read(buf.data(), 600), 400u);
    EXPECT_EQ(s.Position(), 1000u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 400, bytes.begin() + 600));
    EXPECT_EQ(s.Read(buf.data(), 16), 0u);
    EXPECT_EQ(s.Read(buf.data(), 0), 0u);

    uint8_t b = 0;
    EXPECT_EQ(s.Seek(123), 0);
    EXPECT_EQ(s.Position(), 123u);
    EXPECT_EQ(s.Read(&b, 1), 1u);
    EXPECT_EQ(b, bytes[123]);
    // Past the end, and past 4 GiB (the high half of the split position): the
    // seek succeeds and reads find nothing.
    for (uint64_t far : {5000ull, 0x100000010ull}) {
        EXPECT_EQ(s.Seek(far), 0);
        EXPECT_EQ(s.Position(), far);
        EXPECT_EQ(s.Read(&b, 1), 0u);
    }
    // -1 as a signed position: the OS refuses it, the stream still reports 0
    // and believes it is there, and reading continues where the file pointer was.
    ASSERT_EQ(s.Seek(100), 0);
    EXPECT_EQ(s.Seek(static_cast<uint64_t>(-1)), 0);
    EXPECT_EQ(s.Position(), static_cast<uint64_t>(-1));
    ASSERT_EQ(s.Read(&b, 1), 1u);
    EXPECT_EQ(b, bytes[100]);
}

TEST_F(MSFileInputStreamTest, SizeAbove4GiBCombinesBothHalves)
{
    const fs::path p = dir / "sparse.bin";
    WriteBytes(p, Pattern(16));
    std::error_code ec;
    fs::resize_file(p, 0x140000000ull, ec);  // 5 GiB, sparse
    if (ec)
        GTEST_SKIP() << "cannot make a sparse 5 GiB file here: " << ec.message();
    MSFileInputStream s(Wide(p).c_str());
    EXPECT_EQ(s.Size(), 0x140000000ull);
    ASSERT_EQ(s.Seek(0x13FFFFFF0ull), 0);
    uint8_t buf[32];
    EXPECT_EQ(s.Read(buf, 32), 16u);
}

TEST_F(MSFileInputStreamTest, MissingFileDirectoryNullAndEmptyPathsGiveAClosedStream)
{
    const fs::path missing = dir / "missing.bin";
    for (const std::wstring& path : {Wide(missing), Wide(dir)}) {
        MSFileInputStream s(path.c_str());
        EXPECT_FALSE(s.IsOpen());
        uint8_t buf[4];
        EXPECT_EQ(s.Read(buf, 4), 0u);
        EXPECT_EQ(s.Seek(0), 1);
        EXPECT_EQ(s.Size(), 0u);
    }
    // The path is kept even when the open failed.
    MSFileInputStream s(Wide(missing).c_str());
    std::string path;
    s.GetPath(path);
    EXPECT_EQ(path, missing.string());
    EXPECT_EQ(std::wstring(s.GetWidePath()), Wide(missing));

    MSFileInputStream a(nullptr);
    EXPECT_FALSE(a.IsOpen());
    MSFileInputStream b(L"");
    EXPECT_FALSE(b.IsOpen());
    path = "x";
    b.GetPath(path);
    EXPECT_EQ(path, "");
}

// Non-ASCII names open through the wide call. A narrow form longer than 259
// bytes is cut by the conversion, while the wide open (fewer than 260
// characters) still finds the file.
TEST_F(MSFileInputStreamTest, NonAsciiAndLongPathsOpenThroughTheWideCall)
{
    const std::wstring longDir = Wide(dir) + L"/" + std::wstring(120, L'\u00e9');  // 240 bytes in UTF-8
    fs::create_directory(fs::path(md::WideToUtf8(longDir)));
    ASSERT_GE(md::WideToUtf8(longDir + L"/f.bin").size(), MAX_PATH);
    for (const std::wstring& wide :
         {Wide(dir) + L"/caf\u00e9_\u6f22\u5b57_\U0001F3AC.mpg", longDir + L"/f.bin"}) {
        const std::string utf8 = md::WideToUtf8(wide);
        ASSERT_LT(wide.size(), MAX_PATH);
        WriteBytes(fs::path(utf8), Pattern(77));
        MSFileInputStream s(wide.c_str());
        ASSERT_TRUE(s.IsOpen()) << utf8;
        EXPECT_EQ(s.Size(), 77u);
        EXPECT_EQ(md::FileApiDecision(), 1);  // this platform reports NT: wide calls
        EXPECT_EQ(std::wstring(s.GetWidePath()), wide);
        std::string narrow;
        s.GetPath(narrow);
        if (utf8.size() < MAX_PATH) {
            EXPECT_EQ(narrow, utf8);  // UTF-8 is the ANSI code page here
        } else {
            EXPECT_LT(narrow.size(), MAX_PATH);
            EXPECT_EQ(utf8.rfind(narrow, 0), 0u) << "the narrow form is a prefix";
        }
    }
}

TEST_F(MSFileInputStreamTest, OsDecisionIsCachedAnsiBranchOpensAndFilesCanBeCreated)
{
    const fs::path p = dir / "ansi.bin";
    WriteBytes(p, Pattern(9));
    md::SetFileApiDecisionForTesting(md::kFileApiUndecided);
    EXPECT_TRUE(md::UseWideFileApi());  // asked of GetVersionExA: NT
    EXPECT_EQ(md::FileApiDecision(), 1);
    md::SetFileApiDecisionForTesting(0);  // as on a non-NT platform
    {
        MSFileInputStream s(Wide(p).c_str());
        EXPECT_TRUE(s.IsOpen());
        EXPECT_EQ(s.Size(), 9u);
    }
    EXPECT_EQ(md::FileApiDecision(), 0);  // cached: not asked again
    md::SetFileApiDecisionForTesting(1);

    const fs::path out = dir / "out.bmp";
    HANDLE h = md::CreateFileOsDependent(Wide(out).c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    UniqueHandle owner(h);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "BM", 2, &written));
    EXPECT_EQ(written, 2u);
    owner.reset();
    EXPECT_EQ(fs::file_size(out), 2u);
}

}  // namespace
