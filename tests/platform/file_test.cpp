// The Win32 file calls here: end of file, 64-bit and negative positions, failed opens' codes, the version query.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "platform/win32.h"
#include "support/files.h"

namespace {

TEST(File, ReadSeekSizeAndErrorsFollowWin32Rules)
{
    md::test::TempDir dir;
    md::test::WriteFileBytes(dir / "f.bin", {1, 2, 3, 4, 5});
    const std::wstring path = md::Utf8ToWide((dir / "f.bin").string());
    UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(h.valid());
    DWORD high = 7;
    EXPECT_EQ(std::pair(GetFileSize(h.get(), &high), high), std::pair(5u, 0u));

    uint8_t buf[8] = {};
    DWORD got = 0;
    // A position; a negative one is refused and the pointer stays; one past the end (64-bit) reads nothing.
    LONG hi = 0, negative = -1, far = 1;
    EXPECT_EQ(SetFilePointer(h.get(), 2, &hi, FILE_BEGIN), 2u);
    EXPECT_EQ(SetFilePointer(h.get(), -1, &negative, FILE_BEGIN) == INVALID_SET_FILE_POINTER ? GetLastError() : 0,
              ERROR_NEGATIVE_SEEK);
    ASSERT_TRUE(ReadFile(h.get(), buf, 1, &got) && buf[0] == 3);
    // Back before the start from the current position: refused as a negative seek; the start itself is a position.
    EXPECT_EQ(SetFilePointer(h.get(), -10, nullptr, FILE_CURRENT) == INVALID_SET_FILE_POINTER ? GetLastError() : 0,
              ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(h.get(), 0, nullptr, FILE_BEGIN), 0u);
    EXPECT_EQ(std::pair(SetFilePointer(h.get(), 0, &far, FILE_BEGIN), far), std::pair(0u, LONG(1)));
    EXPECT_TRUE(ReadFile(h.get(), buf, 1, &got) && got == 0);

    // An invalid handle, or no buffer for the bytes, is refused with its code before the file is touched.
    const auto refused = [](BOOL ok) { return ok ? DWORD(0) : GetLastError(); };
    EXPECT_EQ(refused(ReadFile(INVALID_HANDLE_VALUE, buf, 1, &got)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(refused(ReadFile(h.get(), nullptr, 1, &got)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(refused(WriteFile(INVALID_HANDLE_VALUE, buf, 1, &got)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(refused(WriteFile(h.get(), nullptr, 1, &got)), ERROR_INVALID_PARAMETER);
    const std::wstring written = md::Utf8ToWide((dir / "w.bin").string());
    UniqueHandle w(CreateFileW(written.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(w.valid() && WriteFile(w.get(), "ab", 2, &got) && got == 2);

    // Missing files, directories and overlong paths are refused with their codes.
    const auto failure = [](HANDLE f) { return f == INVALID_HANDLE_VALUE ? GetLastError() : DWORD(0); };
    EXPECT_EQ(failure(CreateFileA((dir / "missing").c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0)), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failure(CreateFileA(dir.path().c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0)), ERROR_ACCESS_DENIED);
    const std::wstring longPath(MAX_PATH, L'a');
    EXPECT_EQ(failure(CreateFileW(longPath.c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0)), ERROR_FILENAME_EXCED_RANGE);

    // The version query wants its size field set, then reports the NT platform.
    OSVERSIONINFOA info{};
    EXPECT_FALSE(GetVersionExA(&info));
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT);
}

}  // namespace
