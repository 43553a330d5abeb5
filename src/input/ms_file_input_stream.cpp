#include "input/ms_file_input_stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

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
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    if (m_bufferLength > 0) {
        const auto offset = static_cast<uint32_t>(m_position - m_bufferStart);
        done = std::min(count, m_bufferLength - offset);
        std::memcpy(out, m_buffer.get() + offset, done);
        m_position += done;
        if (offset + done == m_bufferLength)
            m_bufferLength = 0;  // all handed out: the file pointer is at m_position again
        if (done == count)
            return done;
    }
    // The read-ahead is empty. One ReadFile for the rest of a large count (or
    // after a refused seek, when m_position is not where the file pointer is); on
    // a failed read the count is what reached the buffer before the failure.
    const uint32_t rest = count - done;
    const bool small = rest < kReadAhead / 4 && m_position <= uint64_t(INT64_MAX);
    if (small && !m_buffer)
        m_buffer.reset(new (std::nothrow) uint8_t[kReadAhead]);
    if (!small || !m_buffer) {
        DWORD read = 0;
        ReadFile(m_handle.get(), out + done, rest, &read);
        m_position += read;
        return done + read;
    }
    DWORD read = 0;
    ReadFile(m_handle.get(), m_buffer.get(), kReadAhead, &read);
    const uint32_t take = std::min<uint32_t>(rest, read);
    std::memcpy(out + done, m_buffer.get(), take);
    m_bufferStart = m_position;
    m_bufferLength = take < read ? static_cast<uint32_t>(read) : 0;
    m_position += take;
    return done + take;
}

int32_t MSFileInputStream::Seek(uint64_t position)
{
    if (!m_handle.valid())
        return 1;
    if (m_bufferLength > 0) {
        if (position >= m_bufferStart && position - m_bufferStart < m_bufferLength) {
            m_position = position;  // inside the read-ahead
            return 0;
        }
        m_bufferLength = 0;
        // A position the OS refuses keeps the file pointer where an unbuffered
        // stream has it: at m_position, not at the end of the read-ahead.
        if (position > uint64_t(INT64_MAX)) {
            LONG high = static_cast<LONG>(static_cast<uint32_t>(m_position >> 32));
            SetFilePointer(m_handle.get(), static_cast<LONG>(static_cast<uint32_t>(m_position)), &high, FILE_BEGIN);
        }
    }
    // 64-bit position split into a signed low and a high half. A position the OS
    // refuses (negative as a signed value) leaves the file pointer where it was;
    // m_position takes the requested value either way.
    LONG high = static_cast<LONG>(static_cast<uint32_t>(position >> 32));
    SetFilePointer(m_handle.get(), static_cast<LONG>(static_cast<uint32_t>(position)), &high, FILE_BEGIN);
    m_position = position;
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
