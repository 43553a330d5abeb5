// The file input stream: failed opens, where reads continue after seeks, and the once-per-process choice of
// the file API.
#include "input/ms_file_input_stream.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/text.h"
#include "support/files.h"

namespace {

namespace fs = std::filesystem;

std::wstring Wide(const fs::path& p) { return md::Utf8ToWide(p.string()); }

// Each test gets a private temporary directory, removed with everything in it.
class MSFileInputStreamTest : public ::testing::Test {
protected:
    md::test::TempDir m_dir;
};

TEST_F(MSFileInputStreamTest, MissingFileDirectoryNullAndEmptyPathsGiveAClosedStream)
{
    const fs::path missing = m_dir / "missing.bin";
    const std::wstring missingPath = Wide(missing), dirPath = Wide(m_dir.path());
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
    path = "x";
    MSFileInputStream(L"").GetPath(path);
    EXPECT_EQ(path, "");
}

TEST_F(MSFileInputStreamTest, ReadsContinueWhereTheLastAcceptedSeekOrReadLeftThem)
{
    const fs::path p = m_dir / "bytes.bin";
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    md::test::WriteFileBytes(p, bytes);
    MSFileInputStream s(Wide(p).c_str());
    uint8_t buf[4] = {};
    const auto at = [&](size_t offset) { return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + 4); };
    const auto read4 = [&] { return s.Read(buf, 4) == 4 ? std::vector<uint8_t>(buf, buf + 4) : std::vector<uint8_t>{}; };
    EXPECT_EQ(read4(), at(0));
    EXPECT_EQ(read4(), at(4));
    EXPECT_EQ(s.Seek(500), 0);
    EXPECT_EQ(read4(), at(500));
    // A position the OS refuses (negative as a signed value) leaves the file pointer where it
    // was, though the stream believes it moved.
    EXPECT_EQ(s.Seek(UINT64_MAX), 0);
    EXPECT_EQ(s.Position(), UINT64_MAX);
    EXPECT_EQ(read4(), at(504));
    // Past the end: accepted, nothing to read; back inside, reads resume there.
    EXPECT_EQ(s.Seek(5000), 0);
    EXPECT_EQ(s.Read(buf, 4), 0u);
    EXPECT_EQ(s.Seek(996), 0);
    EXPECT_EQ(s.Read(buf, 8), 4u);  // a short read at the end
    // The file grows while the stream is open: a seek past the old end reaches the new bytes.
    bytes.resize(1200, 0x5A);
    md::test::WriteFileBytes(p, bytes);
    EXPECT_EQ(s.Seek(1100), 0);
    EXPECT_EQ(read4(), at(1100));
}

// Sizes and positions past 4 GiB (a sparse file: no disk space taken) keep their high words.
TEST_F(MSFileInputStreamTest, FilesPastFourGigabytes)
{
    const fs::path p = m_dir / "large.bin";
    const uint64_t size = (uint64_t(5) << 32) + 12;
    md::test::WriteFileBytes(p, {1, 2, 3, 4});
    std::error_code ec;
    fs::resize_file(p, size, ec);
    if (ec)
        GTEST_SKIP() << "no sparse file of 20 GiB here: " << ec.message();
    MSFileInputStream s(Wide(p).c_str());
    EXPECT_EQ(s.Size(), size);
    EXPECT_EQ(s.Seek(size - 4), 0);
    EXPECT_EQ(s.Position(), size - 4);
    uint8_t buf[8] = {1, 1, 1, 1};
    EXPECT_EQ(s.Read(buf, 8), 4u);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), std::vector<uint8_t>(4, 0));
}

TEST_F(MSFileInputStreamTest, OsDecisionIsCachedAnsiBranchOpensAndFilesCanBeCreated)
{
    const fs::path p = m_dir / "ansi.bin";
    md::test::WriteFileBytes(p, std::vector<uint8_t>(9, 7));
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
    ASSERT_TRUE(WriteFile(h, "BM", 2, &written) && written == 2);
    owner.reset();
    EXPECT_EQ(md::test::ReadFileBytes(out), (std::vector<uint8_t>{'B', 'M'}));  // truncated and written
}

}  // namespace
