// The input stream contract, which the file stream and the memory stream (its
// stand-in in tests, fuzzers and benchmarks) share; files above 4 GiB, failed
// opens, non-ASCII and long paths, the once-per-process choice of the file API.
#include "input/ms_file_input_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "input/memory_input_stream.h"
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

std::wstring Wide(const fs::path& p) { return md::Utf8ToWide(p.string()); }

// Each test gets a private temporary directory, removed with everything in it.
class MSFileInputStreamTest : public ::testing::Test {
protected:
    md::test::TempDir m_tmp;
    const fs::path m_dir = m_tmp.path();
};

// Reads (one read for the whole count, cut by the end), seeks past the end and past 4 GiB (the
// high half of the split position: reads find nothing), and a position negative as a signed
// value, which is refused: reading goes on where it was.
template <typename Stream>
void CheckContract(Stream& s, const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> buf(600);
    EXPECT_EQ(s.Size(), 1000u);
    EXPECT_EQ(s.Read(buf.data(), 600), 600u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin()));
    EXPECT_EQ(s.Read(buf.data(), 600), 400u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 400, bytes.begin() + 600));
    EXPECT_EQ(s.Position(), 1000u);
    EXPECT_EQ(s.Read(buf.data(), 16) + s.Read(buf.data(), 0), 0u);
    for (uint64_t at : {uint64_t(123), uint64_t(5000), uint64_t(0x100000010), uint64_t(100), uint64_t(-1)}) {
        EXPECT_EQ(s.Seek(at), 0) << at;
        if (at != uint64_t(-1)) {
            EXPECT_EQ(s.Position(), at);
        }
        EXPECT_EQ(s.Read(buf.data(), 1), at < 1000 || at == uint64_t(-1) ? 1u : 0u) << at;
        if (at < 1000) {
            EXPECT_EQ(buf[0], bytes[at]);
        }
    }
    EXPECT_EQ(buf[0], bytes[101]);  // after the refused position: the byte after 100
}

TEST_F(MSFileInputStreamTest, FileAndMemoryStreamsShareTheContract)
{
    const auto bytes = Pattern(1000);
    md::test::WriteFileBytes(m_dir / "a.bin", bytes);
    MSFileInputStream file(Wide(m_dir / "a.bin").c_str());
    ASSERT_TRUE(file.IsOpen());
    CheckContract(file, bytes);
    md::MemoryInputStream memory(bytes.data(), bytes.size(), "mem.bin");
    CheckContract(memory, bytes);
    // The memory stream counts bytes read, reads and seeks; it keeps its path.
    EXPECT_EQ(std::tuple(memory.BytesRead(), memory.Reads(), memory.Seeks()), std::tuple(1003u, 9u, 5u));
    std::string path;
    memory.GetPath(path);
    EXPECT_EQ(path, "mem.bin");
}

TEST_F(MSFileInputStreamTest, SizeAbove4GiBCombinesBothHalves)
{
    const fs::path p = m_dir / "sparse.bin";
    md::test::WriteFileBytes(p, Pattern(16));
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
    const fs::path missing = m_dir / "missing.bin";
    const std::wstring missingPath = Wide(missing), dirPath = Wide(m_dir);
    for (const wchar_t* path : {missingPath.c_str(), dirPath.c_str(), static_cast<const wchar_t*>(nullptr), L""}) {
        MSFileInputStream s(path);
        uint8_t buf[4];
        EXPECT_EQ(std::tuple(s.IsOpen(), s.Read(buf, 4), s.Seek(0), s.Size()), std::tuple(false, 0u, 1, 0u));
    }
    // The path is kept even when the open failed.
    MSFileInputStream s(Wide(missing).c_str());
    std::string path;
    s.GetPath(path);
    EXPECT_EQ(std::pair(path, std::wstring(s.GetWidePath())), std::pair(missing.string(), Wide(missing)));
    MSFileInputStream empty(L"");
    path = "x";
    empty.GetPath(path);
    EXPECT_EQ(path, "");
}

// Non-ASCII names open through the wide call. A narrow form longer than 259
// bytes is cut by the conversion, while the wide open (fewer than 260
// characters) still finds the file.
TEST_F(MSFileInputStreamTest, NonAsciiAndLongPathsOpenThroughTheWideCall)
{
    const std::wstring longDir = Wide(m_dir) + L"/" + std::wstring(120, L'\u00e9');  // 240 bytes in UTF-8
    fs::create_directory(fs::path(md::WideToUtf8(longDir)));
    ASSERT_GE(md::WideToUtf8(longDir + L"/f.bin").size(), MAX_PATH);
    for (const std::wstring& wide : {Wide(m_dir) + L"/caf\u00e9_\u6f22\u5b57_\U0001F3AC.mpg", longDir + L"/f.bin"}) {
        const std::string utf8 = md::WideToUtf8(wide);
        ASSERT_LT(wide.size(), MAX_PATH);
        md::test::WriteFileBytes(fs::path(utf8), Pattern(77));
        MSFileInputStream s(wide.c_str());
        ASSERT_TRUE(s.IsOpen()) << utf8;
        EXPECT_EQ(std::tuple(s.Size(), md::FileApiDecision(), std::wstring(s.GetWidePath())),
                  std::tuple(77u, 1, wide));  // this platform reports NT: wide calls
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
    const fs::path p = m_dir / "ansi.bin";
    md::test::WriteFileBytes(p, Pattern(9));
    md::SetFileApiDecisionForTesting(md::kFileApiUndecided);
    EXPECT_TRUE(md::UseWideFileApi());  // asked of GetVersionExA: NT
    EXPECT_EQ(md::FileApiDecision(), 1);
    md::SetFileApiDecisionForTesting(0);  // as on a non-NT platform
    {
        MSFileInputStream s(Wide(p).c_str());
        EXPECT_EQ(std::tuple(s.IsOpen(), s.Size()), std::tuple(true, 9u));
    }
    EXPECT_EQ(md::FileApiDecision(), 0);  // cached: not asked again
    md::SetFileApiDecisionForTesting(1);
    EXPECT_EQ(md::CreateFileOsDependent(nullptr, GENERIC_READ, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);

    const fs::path out = m_dir / "out.bmp";
    md::test::WriteFileBytes(out, std::vector<uint8_t>(100, 9));
    HANDLE h = md::CreateFileOsDependent(Wide(out).c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    UniqueHandle owner(h);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "BM", 2, &written));
    EXPECT_EQ(written, 2u);
    owner.reset();
    EXPECT_EQ(md::test::ReadFileBytes(out), (std::vector<uint8_t>{'B', 'M'}));  // truncated and written
}

}  // namespace
