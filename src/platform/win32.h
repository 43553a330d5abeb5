// Linux stand-ins for the few Win32 services the detector calls: file handles,
// the version query and the last-error value. Thin wrappers over POSIX.
#pragma once

#include <cstdint>
#include <memory>

#include "mediadetect/com.h"

using DWORD = uint32_t;
using LONG = int32_t;
using HANDLE = intptr_t;  // a POSIX file descriptor, or INVALID_HANDLE_VALUE

constexpr HANDLE INVALID_HANDLE_VALUE = -1;

// Access, sharing, disposition and attribute values of CreateFile.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

// Win32 error codes the stand-ins report through GetLastError.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;

// Opens a file. Directories are refused (ERROR_ACCESS_DENIED) as on Windows.
// Paths of MAX_PATH characters or more are refused (ERROR_FILENAME_EXCED_RANGE).
HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD shareMode, DWORD disposition, DWORD attributes);
HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition, DWORD attributes);
BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read);
// ReadFile from a given byte offset (Win32: an OVERLAPPED offset on a synchronous
// handle), except that the file pointer stays where it is: one call where a seek
// and a read were two.
BOOL ReadFileAt(HANDLE h, uint64_t offset, void* buffer, DWORD count, DWORD* read);
BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written);
// Moves the file pointer; the position is split into a signed low half and an
// optional high half, as in Win32. A negative resulting position is refused
// (ERROR_NEGATIVE_SEEK) and leaves the pointer where it was.
DWORD SetFilePointer(HANDLE h, LONG low, LONG* high, DWORD method);
DWORD GetFileSize(HANDLE h, DWORD* high);
BOOL CloseHandle(HANDLE h);
DWORD GetLastError();
void SetLastError(DWORD error);

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// Linux has wide (Unicode) file names everywhere: reports the NT platform.
BOOL GetVersionExA(OSVERSIONINFOA* info);

// Owns a HANDLE and closes it.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_handle(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : m_handle(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept
    {
        reset(o.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE release()
    {
        HANDLE h = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h = INVALID_HANDLE_VALUE)
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = h;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};
