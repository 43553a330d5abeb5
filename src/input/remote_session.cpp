#include "input/remote_session.h"

namespace md {
namespace {

std::mutex g_defaultsMutex;
RemoteOptions g_defaults;

}  // namespace

RemoteOptions DefaultRemoteOptions()
{
    std::lock_guard lock(g_defaultsMutex);
    return g_defaults;
}

void SetDefaultRemoteOptions(const RemoteOptions& options)
{
    std::lock_guard lock(g_defaultsMutex);
    g_defaults = options;
}

std::string ScrubReason(std::string_view reason, const std::vector<std::string>& secrets, size_t maxBytes)
{
    std::string text(reason.substr(0, reason.find_first_of("\r\n")));
    for (const std::string& secret : secrets) {
        if (secret.empty())
            continue;
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
            text.replace(at, secret.size(), "***");
    }
    if (text.size() > maxBytes) {
        size_t cut = maxBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a multi-byte character
        text.resize(cut);
    }
    return text;
}

void RemoteSession::KeepHead(const RemoteHead& head)
{
    std::lock_guard lock(m_mutex);
    m_head = head;
}

RemoteHead RemoteSession::Head() const
{
    std::lock_guard lock(m_mutex);
    return m_head;
}

void RemoteSession::AddSecret(std::string secret)
{
    std::lock_guard lock(m_mutex);
    m_secrets.push_back(std::move(secret));
}

void RemoteSession::SetError(std::string_view reason)
{
    std::lock_guard lock(m_mutex);
    m_error = ScrubReason(reason, m_secrets, kRemoteErrorSize - 1);
}

std::string RemoteSession::Error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

}  // namespace md
