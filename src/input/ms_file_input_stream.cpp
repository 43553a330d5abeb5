#include "input/ms_file_input_stream.h"

#include <atomic>

#include "platform/text.h"

namespace md {
namespace {

// 1 wide, 0 ANSI, anything else: not asked yet. Two threads that race here both
// store the same answer.
std::atomic<int> g_fileApiDecision{kFileApiUndecided};

}  // namespace

int FileApiDecision() { return g_fileApiDecision.load(std::memory_order_relaxed); }

void SetFileApiDecisionForTesting(int decision) { g_fileApiDecision.store(decision, std::memory_order_relaxed); }

bool UseWideFileApi()
{
    int decision = g_fileApiDecision.load(std::memory_order_relaxed);
    if (decision != 0 && decision != 1) {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof(info);
        decision = (GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT) ? 1 : 0;
        g_fileApiDecision.store(decision, std::memory_order_relaxed);
    }
    return decision == 1;
}

HANDLE CreateFileOsDependent(const wchar_t* path, DWORD access, DWORD shareMode, DWORD disposition,
                             DWORD attributes)
{
    if (path == nullptr)
        return INVALID_HANDLE_VALUE;
    if (UseWideFileApi())
        return CreateFileW(path, access, shareMode, disposition, attributes);
    char narrow[MAX_PATH] = {};
    WideToAnsiBuffer(path, narrow, sizeof(narrow));
    return CreateFileA(narrow, access, shareMode, disposition, attributes);
}

}  // namespace md

MSFileInputStream::MSFileInputStream(const wchar_t* path)
{
    if (path == nullptr)
        path = L"";
    m_widePath = path;
    md::WideToAnsiBuffer(path, m_narrowPath, sizeof(m_narrowPath));
    m_handle.reset(md::CreateFileOsDependent(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL));
}

uint64_t MSFileInputStream::Read(void* buffer, uint32_t count)
{
    if (!m_handle.valid())
        return 0;
    // One ReadFile for the whole count. On a failed read the count is what
    // reached the buffer before the failure (normally 0).
    DWORD read = 0;
    ReadFileAt(m_handle.get(), m_filePointer, buffer, count, &read);
    m_filePointer += read;
    m_position += read;
    return read;
}

int32_t MSFileInputStream::Seek(uint64_t position)
{
    if (!m_handle.valid())
        return 1;
    // m_position takes the requested value whatever happens. Any position up to the
    // end of the file is one the OS takes.
    m_position = position;
    if (position > m_sizeSeen)
        m_sizeSeen = Size();
    if (position <= m_sizeSeen) {
        m_filePointer = position;
        return 0;
    }
    // Past the end the OS decides: 64-bit position split into a signed low and a
    // high half; a position it refuses (negative as a signed value, or beyond the
    // largest file the file system holds) leaves the file pointer where it was.
    LONG high = static_cast<LONG>(static_cast<uint32_t>(position >> 32));
    SetLastError(ERROR_SUCCESS);
    SetFilePointer(m_handle.get(), static_cast<LONG>(static_cast<uint32_t>(position)), &high, FILE_BEGIN);
    if (GetLastError() == ERROR_SUCCESS)
        m_filePointer = position;
    return 0;
}

uint64_t MSFileInputStream::Size()
{
    if (!m_handle.valid())
        return 0;
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD low = GetFileSize(m_handle.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        return 0;
    return uint64_t(high) << 32 | low;
}

void MSFileInputStream::GetPath(std::string& path) { path = m_narrowPath; }
