// The file input stream: a ZPMP::InputStream over a file handle opened
// read-only on a path, and the open function that picks the wide or the ANSI
// CreateFile once per process.
#pragma once

#include <cstdint>
#include <string>

#include "input/input_stream.h"
#include "platform/win32.h"

namespace md {

// Opens a file through CreateFileW on the NT platform, else through CreateFileA
// with the path converted to the ANSI code page (260 bytes). Used by the input
// stream and by the bitmap writer.
HANDLE CreateFileOsDependent(const wchar_t* path, DWORD access, DWORD shareMode, DWORD disposition,
                             DWORD attributes);

// Whether the wide file functions are used: asked of GetVersionExA on first use
// (platform identifier 2, NT, means yes) and cached for the process.
bool UseWideFileApi();

// The cached decision: 1 wide, 0 ANSI, kFileApiUndecided before the first use.
// The setter exists for tests of the ANSI branch.
constexpr int kFileApiUndecided = 2;
int FileApiDecision();
void SetFileApiDecisionForTesting(int decision);

}  // namespace md

class MSFileInputStream : public ZPMP::InputStream {
public:
    // Opens path (zero-terminated, wide) for reading. A file that cannot be
    // opened leaves the stream without a handle; the constructor never fails.
    explicit MSFileInputStream(const wchar_t* path);
    ~MSFileInputStream() override = default;

    MSFileInputStream(const MSFileInputStream&) = delete;
    MSFileInputStream& operator=(const MSFileInputStream&) = delete;

    uint64_t Read(void* buffer, uint32_t count) override;
    int32_t Seek(uint64_t position) override;
    uint64_t Size() override;
    void GetPath(std::string& path) override;

    const wchar_t* GetWidePath() const { return m_widePath.c_str(); }
    bool IsOpen() const { return m_handle.valid(); }
    // The byte position the stream believes it is at.
    uint64_t Position() const { return m_position; }

private:
    UniqueHandle m_handle;
    uint64_t m_position = 0;
    char m_narrowPath[MAX_PATH] = {};
    std::wstring m_widePath;
    // Where the next read starts: the file pointer as the OS would hold it. A read
    // names it (one positioned read where a seek and a read were two system calls);
    // a seek only records it, and asks the OS only past the end of the file as last
    // measured, where the OS may refuse the position.
    uint64_t m_filePointer = 0;
    uint64_t m_sizeSeen = 0;
};
