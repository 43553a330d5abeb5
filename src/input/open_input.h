// The one place that opens "a fresh input stream on the same path": the file
// input stream for a file name, the remote input stream for an http://, https://
// or s3:// path when remote input is on. Every reader that opens the path again
// (a query's demultiplexer, the time range scans, the time-table walk) goes
// through the InputSource the open made, so its requests count with the others.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "input/http_client.h"
#include "input/input_stream.h"
#include "input/remote_session.h"
#include "mediadetect/com.h"

namespace md {

// The longest remote path taken (presigned URLs run long), in characters.
constexpr size_t kMaxRemotePath = 2048;

// Whether path starts with http://, https:// or s3:// (the scheme in any case).
bool IsRemotePath(std::wstring_view path);
bool IsRemotePath(std::string_view path);

class InputSource {
public:
    InputSource() = default;
    // The file path as it is.
    static InputSource File(std::wstring path);
    // A remote path (IsRemotePath): its request target (an s3:// path mapped to its
    // URL and signed with the credentials of the environment) and a new session
    // whose counters every stream opened from here shares.
    static InputSource Remote(std::wstring path, const RemoteOptions& options);

    const wchar_t* Path() const { return m_path.c_str(); }
    const std::wstring& PathString() const { return m_path; }
    bool IsRemote() const { return m_session != nullptr; }
    // The session of a remote source, null for a file.
    const std::shared_ptr<RemoteSession>& Session() const { return m_session; }

    // A fresh stream at position 0; never null. A file that cannot be opened gives
    // a stream without a file (size 0, reads 0), as the file input stream does;
    // result is S_OK for every file, and a remote open's failure otherwise.
    std::unique_ptr<ZPMP::InputStream> Open(HRESULT& result) const;
    std::unique_ptr<ZPMP::InputStream> Open() const;
    // Opened and readable: a file that exists, a remote object that answered.
    static bool IsOpen(ZPMP::InputStream& stream);
    // A remote stream whose read failed after the open (a file's reads are taken as they come).
    static bool ReadFailed(ZPMP::InputStream& stream);

private:
    std::wstring m_path;
    std::shared_ptr<RemoteSession> m_session;
    std::shared_ptr<const RemoteTarget> m_target;  // null: the path did not map to a target
};

}  // namespace md
