#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "platform/win32.h"
#include "support/files.h"

namespace {

TEST(File, ReadSeekAndSizeFollowWin32Rules)
{
    md::test::TempDir dir;
    md::test::WriteFileBytes(dir / "f.bin", {1, 2, 3, 4, 5});
    const std::wstring path = md::Utf8ToWide((dir / "f.bin").string());
    UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(h.valid());

    DWORD high = 7;
    EXPECT_EQ(GetFileSize(h.get(), &high), 5u);
    EXPECT_EQ(high, 0u);

    uint8_t buf[8] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(h.get(), buf, 8, &got));
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(buf[4], 5);
    ASSERT_TRUE(ReadFile(h.get(), buf, 8, &got));
    EXPECT_EQ(got, 0u);  // end of file is success with no bytes

    LONG hi = 0;
    EXPECT_EQ(SetFilePointer(h.get(), 2, &hi, FILE_BEGIN), 2u);
    ASSERT_TRUE(ReadFile(h.get(), buf, 1, &got));
    EXPECT_EQ(buf[0], 3);

    // A negative position is refused and the pointer stays.
    hi = -1;
    EXPECT_EQ(SetFilePointer(h.get(), -1, &hi, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    ASSERT_TRUE(ReadFile(h.get(), buf, 1, &got));
    EXPECT_EQ(buf[0], 4);

    // A 64-bit position past the end is accepted; reads there give nothing.
    hi = 1;
    EXPECT_EQ(SetFilePointer(h.get(), 0, &hi, FILE_BEGIN), 0u);
    EXPECT_EQ(hi, 1);
    ASSERT_TRUE(ReadFile(h.get(), buf, 1, &got));
    EXPECT_EQ(got, 0u);
}

TEST(File, OpenRefusesMissingFilesDirectoriesAndOverlongPaths)
{
    md::test::TempDir dir;
    EXPECT_EQ(CreateFileA((dir / "missing").c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileA(dir.path().c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const std::wstring longPath(MAX_PATH, L'a');
    EXPECT_EQ(CreateFileW(longPath.c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST(File, CreateAlwaysTruncatesAndWrites)
{
    md::test::TempDir dir;
    md::test::WriteFileBytes(dir / "out.bin", std::vector<uint8_t>(100, 9));
    UniqueHandle h(CreateFileA((dir / "out.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, 0));
    ASSERT_TRUE(h.valid());
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(h.get(), "BM", 2, &put));
    EXPECT_EQ(put, 2u);
    h.reset();
    EXPECT_EQ(md::test::ReadFileBytes(dir / "out.bin"), (std::vector<uint8_t>{'B', 'M'}));
}

TEST(File, VersionQueryReportsTheNtPlatform)
{
    OSVERSIONINFOA info{};
    EXPECT_FALSE(GetVersionExA(&info));  // the size field must be set
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
}

}  // namespace
