#include "input/open_input.h"

#include "input/ms_file_input_stream.h"
#include "input/remote_input_stream.h"
#include "input/s3.h"
#include "platform/text.h"

namespace md {
namespace {

template <typename Char>
bool HasRemoteScheme(std::basic_string_view<Char> path)
{
    return StartsWithNoCase(path, "http://") || StartsWithNoCase(path, "https://") || StartsWithNoCase(path, "s3://");
}

}  // namespace

bool IsRemotePath(std::wstring_view path) { return HasRemoteScheme(path); }
bool IsRemotePath(std::string_view path) { return HasRemoteScheme(path); }

InputSource InputSource::File(std::wstring path)
{
    InputSource s;
    s.m_path = std::move(path);
    return s;
}

InputSource InputSource::Remote(std::wstring path, const RemoteOptions& options)
{
    InputSource s;
    s.m_path = std::move(path);
    s.m_session = std::make_shared<RemoteSession>(options);
    const std::string utf8 = WideToUtf8(s.m_path);
    S3Location location;
    if (ParseS3Path(utf8, location)) {
        if (location.key.empty()) {
            s.m_session->SetError("an s3:// path names no object (s3://bucket/key)");
            return s;
        }
        const S3Settings settings = ReadS3Settings();
        s.m_session->AddSecret(settings.credentials.secretKey);
        s.m_session->AddSecret(settings.credentials.sessionToken);
        s.m_target = std::make_shared<const RemoteTarget>(S3Target(settings, S3ObjectUrl(settings, location)));
    } else if (IsRemotePath(utf8)) {
        RemoteTarget target;
        target.url = utf8;
        s.m_target = std::make_shared<const RemoteTarget>(std::move(target));
    } else {
        s.m_session->SetError("not a remote path (http://, https:// or s3://bucket/key)");
    }
    return s;
}

namespace {

// The stream of a remote path that maps to no request: acts as a file that cannot be opened.
class UnopenedStream : public ZPMP::InputStream {
public:
    uint64_t Read(void*, uint32_t) override { return 0; }
    int32_t Seek(uint64_t) override { return 1; }
    uint64_t Size() override { return 0; }
    void GetPath(std::string& path) override { path.clear(); }
};

}  // namespace

std::unique_ptr<ZPMP::InputStream> InputSource::Open(HRESULT& result) const
{
    result = S_OK;
    if (!IsRemote())
        return std::make_unique<MSFileInputStream>(m_path.c_str());
    if (!m_target) {
        result = E_INVALIDARG;
        return std::make_unique<UnopenedStream>();
    }
    auto stream = std::make_unique<RemoteInputStream>(*m_target, m_session);
    result = stream->Result();
    return stream;
}

std::unique_ptr<ZPMP::InputStream> InputSource::Open() const
{
    HRESULT ignored = S_OK;
    return Open(ignored);
}

bool InputSource::IsOpen(ZPMP::InputStream& stream)
{
    if (auto* file = dynamic_cast<MSFileInputStream*>(&stream))
        return file->IsOpen();
    if (auto* remote = dynamic_cast<RemoteInputStream*>(&stream))
        return remote->IsOpen();
    return false;
}

bool InputSource::ReadFailed(ZPMP::InputStream& stream)
{
    auto* remote = dynamic_cast<RemoteInputStream*>(&stream);
    return remote != nullptr && remote->Failed();
}

}  // namespace md
