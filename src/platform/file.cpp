#include "platform/win32.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

DWORD ErrorFromErrno(int e)
{
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_ACCESS_DENIED;
    }
}

HANDLE OpenUtf8(const char* path, DWORD access, DWORD disposition)
{
    if (path == nullptr || *path == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    if (disposition == CREATE_ALWAYS)
        flags |= O_CREAT | O_TRUNC;
    else if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return fd;
}

}  // namespace

HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD /*shareMode*/, DWORD disposition, DWORD /*attributes*/)
{
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (std::wcslen(path) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    return OpenUtf8(md::WideToUtf8(path).c_str(), access, disposition);
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD /*shareMode*/, DWORD disposition, DWORD /*attributes*/)
{
    if (path != nullptr && std::strlen(path) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    return OpenUtf8(path, access, disposition);
}

namespace {

// ReadFile and ReadFileAt: from the file pointer (offset null) or from *offset.
BOOL ReadWhole(HANDLE h, const uint64_t* offset, void* buffer, DWORD count, DWORD* read)
{
    if (read)
        *read = 0;
    if (h == INVALID_HANDLE_VALUE || (buffer == nullptr && count > 0)) {
        SetLastError(h == INVALID_HANDLE_VALUE ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    // One call reads the whole count unless end of file comes first.
    const int fd = static_cast<int>(h);
    size_t done = 0;
    auto* dst = static_cast<uint8_t*>(buffer);
    while (done < count) {
        const ssize_t got = offset ? ::pread(fd, dst + done, count - done, static_cast<off_t>(*offset + done))
                                   : ::read(fd, dst + done, count - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : ERROR_READ_FAULT);
            if (read)
                *read = static_cast<DWORD>(done);
            return 0;
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    if (read)
        *read = static_cast<DWORD>(done);
    return 1;
}

}  // namespace

BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read) { return ReadWhole(h, nullptr, buffer, count, read); }

BOOL ReadFileAt(HANDLE h, uint64_t offset, void* buffer, DWORD count, DWORD* read)
{
    return ReadWhole(h, &offset, buffer, count, read);
}

BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written)
{
    if (written)
        *written = 0;
    if (h == INVALID_HANDLE_VALUE || (buffer == nullptr && count > 0)) {
        SetLastError(h == INVALID_HANDLE_VALUE ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t done = 0;
    const auto* src = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        ssize_t put = ::write(static_cast<int>(h), src + done, count - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            SetLastError(ERROR_WRITE_FAULT);
            if (written)
                *written = static_cast<DWORD>(done);
            return 0;
        }
        done += static_cast<size_t>(put);
    }
    if (written)
        *written = static_cast<DWORD>(done);
    return 1;
}

DWORD SetFilePointer(HANDLE h, LONG low, LONG* high, DWORD method)
{
    if (h == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high half the low half is a signed 32-bit distance.
    int64_t distance = high ? static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(*high)) << 32 |
                                                   static_cast<uint32_t>(low))
                            : static_cast<int64_t>(low);
    int whence = method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : SEEK_SET;
    if (method > FILE_END) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (whence == SEEK_SET && distance < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    off_t pos = ::lseek(static_cast<int>(h), static_cast<off_t>(distance), whence);
    if (pos < 0) {
        SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    if (high)
        *high = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(static_cast<uint64_t>(pos) & 0xFFFFFFFFu);
}

DWORD GetFileSize(HANDLE h, DWORD* high)
{
    struct stat st {};
    if (h == INVALID_HANDLE_VALUE || ::fstat(static_cast<int>(h), &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        if (high)
            *high = 0;
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    if (high)
        *high = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL CloseHandle(HANDLE h)
{
    if (h == INVALID_HANDLE_VALUE || ::close(static_cast<int>(h)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return 1;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

BOOL GetVersionExA(OSVERSIONINFOA* info)
{
    if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 0;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = '\0';
    return 1;
}
