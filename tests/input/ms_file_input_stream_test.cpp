#include "input/ms_file_input_stream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// A private temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "md_input_XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = buf.data();
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void WriteBytes(const fs::path& p, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 31 + 7);
    return v;
}

std::wstring Wide(const fs::path& p) { return md::Utf8ToWide(p.string()); }

class MSFileInputStreamTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(MSFileInputStreamTest, ReadsSizesAndTracksPosition)
{
    const auto bytes = Pattern(1000);
    const fs::path p = dir.path() / "a.bin";
    WriteBytes(p, bytes);
    MSFileInputStream s(Wide(p).c_str());
    ASSERT_TRUE(s.IsOpen());
    EXPECT_EQ(s.Size(), 1000u);
    std::vector<uint8_t> buf(600);
    EXPECT_EQ(s.Read(buf.data(), 600), 600u);
    EXPECT_EQ(s.Position(), 600u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin()));
    // One read for the whole count, cut by the end of the file.
    EXPECT_EQ(s.Read(buf.data(), 600), 400u);
    EXPECT_EQ(s.Position(), 1000u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 400, bytes.begin() + 600));
}

TEST_F(MSFileInputStreamTest, ReadAtEndOfFileReturnsZero)
{
    const fs::path p = dir.path() / "b.bin";
    WriteBytes(p, Pattern(10));
    MSFileInputStream s(Wide(p).c_str());
    uint8_t buf[16];
    ASSERT_EQ(s.Read(buf, 16), 10u);
    EXPECT_EQ(s.Read(buf, 16), 0u);
    EXPECT_EQ(s.Read(buf, 0), 0u);  // a read of 0 bytes at the end
    EXPECT_EQ(s.Position(), 10u);
}

TEST_F(MSFileInputStreamTest, SeekMovesAndPastTheEndSucceeds)
{
    const auto bytes = Pattern(300);
    const fs::path p = dir.path() / "c.bin";
    WriteBytes(p, bytes);
    MSFileInputStream s(Wide(p).c_str());
    uint8_t b = 0;
    EXPECT_EQ(s.Seek(123), 0);
    EXPECT_EQ(s.Position(), 123u);
    EXPECT_EQ(s.Read(&b, 1), 1u);
    EXPECT_EQ(b, bytes[123]);
    EXPECT_EQ(s.Seek(5000), 0);
    EXPECT_EQ(s.Position(), 5000u);
    EXPECT_EQ(s.Read(&b, 1), 0u);
    // Past 4 GiB: the high half of the split position is used.
    EXPECT_EQ(s.Seek(0x100000010ull), 0);
    EXPECT_EQ(s.Position(), 0x100000010ull);
    EXPECT_EQ(s.Read(&b, 1), 0u);
    EXPECT_EQ(s.Seek(0), 0);
    EXPECT_EQ(s.Read(&b, 1), 1u);
    EXPECT_EQ(b, bytes[0]);
}

TEST_F(MSFileInputStreamTest, RefusedNegativeSeekLeavesTheFilePointer)
{
    const auto bytes = Pattern(300);
    const fs::path p = dir.path() / "d.bin";
    WriteBytes(p, bytes);
    MSFileInputStream s(Wide(p).c_str());
    ASSERT_EQ(s.Seek(100), 0);
    // -1 as a signed position: the OS refuses it, the stream still reports 0
    // and believes it is there, and reading continues at 100.
    EXPECT_EQ(s.Seek(static_cast<uint64_t>(-1)), 0);
    EXPECT_EQ(s.Position(), static_cast<uint64_t>(-1));
    uint8_t b = 0;
    ASSERT_EQ(s.Read(&b, 1), 1u);
    EXPECT_EQ(b, bytes[100]);
}

TEST_F(MSFileInputStreamTest, SizeAbove4GiBCombinesBothHalves)
{
    const fs::path p = dir.path() / "sparse.bin";
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

TEST_F(MSFileInputStreamTest, MissingFileLeavesTheStreamWithoutHandle)
{
    const fs::path p = dir.path() / "missing.bin";
    MSFileInputStream s(Wide(p).c_str());
    EXPECT_FALSE(s.IsOpen());
    uint8_t buf[4];
    EXPECT_EQ(s.Read(buf, 4), 0u);
    EXPECT_EQ(s.Seek(0), 1);
    EXPECT_EQ(s.Size(), 0u);
    std::string path;
    s.GetPath(path);
    EXPECT_EQ(path, p.string());
    EXPECT_EQ(std::wstring(s.GetWidePath()), Wide(p));
}

TEST_F(MSFileInputStreamTest, DirectoryIsNotOpened)
{
    MSFileInputStream s(Wide(dir.path()).c_str());
    EXPECT_FALSE(s.IsOpen());
    uint8_t buf[4];
    EXPECT_EQ(s.Read(buf, 4), 0u);
    EXPECT_EQ(s.Seek(0), 1);
    EXPECT_EQ(s.Size(), 0u);
}

TEST_F(MSFileInputStreamTest, NullAndEmptyPathsGiveAClosedStream)
{
    MSFileInputStream a(nullptr);
    EXPECT_FALSE(a.IsOpen());
    MSFileInputStream b(L"");
    EXPECT_FALSE(b.IsOpen());
    std::string path = "x";
    b.GetPath(path);
    EXPECT_EQ(path, "");
}

TEST_F(MSFileInputStreamTest, NonAsciiPathOpensThroughTheWideCall)
{
    const std::wstring name = L"caf\u00e9_\u6f22\u5b57_\U0001F3AC.mpg";
    const std::wstring wide = Wide(dir.path()) + L"/" + name;
    WriteBytes(fs::path(md::WideToUtf8(wide)), Pattern(77));
    MSFileInputStream s(wide.c_str());
    ASSERT_TRUE(s.IsOpen());
    EXPECT_EQ(s.Size(), 77u);
    EXPECT_EQ(md::FileApiDecision(), 1);  // this platform reports NT: wide calls
    std::string narrow;
    s.GetPath(narrow);
    EXPECT_EQ(narrow, md::WideToUtf8(wide));  // UTF-8 is the ANSI code page here
    EXPECT_EQ(std::wstring(s.GetWidePath()), wide);
}

// The narrow form is cut at 260 bytes by the conversion, while the wide open
// (fewer than 260 characters) still finds the file.
TEST_F(MSFileInputStreamTest, LongNarrowFormIsCutButTheWideOpenWorks)
{
    const std::wstring component(120, L'\u00e9');  // 240 bytes in UTF-8
    const std::wstring wideDir = Wide(dir.path()) + L"/" + component;
    fs::create_directory(fs::path(md::WideToUtf8(wideDir)));
    const std::wstring wide = wideDir + L"/f.bin";
    ASSERT_LT(wide.size(), MAX_PATH);
    ASSERT_GT(md::WideToUtf8(wide).size(), MAX_PATH - 1);
    WriteBytes(fs::path(md::WideToUtf8(wide)), Pattern(5));
    MSFileInputStream s(wide.c_str());
    ASSERT_TRUE(s.IsOpen());
    EXPECT_EQ(s.Size(), 5u);
    std::string narrow;
    s.GetPath(narrow);
    EXPECT_LT(narrow.size(), MAX_PATH);
    EXPECT_EQ(md::WideToUtf8(wide).rfind(narrow, 0), 0u) << "the narrow form is a prefix";
}

TEST_F(MSFileInputStreamTest, OsDecisionIsCachedAndTheAnsiBranchOpensToo)
{
    const fs::path p = dir.path() / "ansi.bin";
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
}

TEST_F(MSFileInputStreamTest, OsDependentOpenCreatesFilesForWriting)
{
    const fs::path p = dir.path() / "out.bmp";
    HANDLE h = md::CreateFileOsDependent(Wide(p).c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    UniqueHandle owner(h);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "BM", 2, &written));
    EXPECT_EQ(written, 2u);
    owner.reset();
    EXPECT_EQ(fs::file_size(p), 2u);
}

}  // namespace
