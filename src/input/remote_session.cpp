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

void RemoteSession::SetSize(uint64_t size)
{
    std::lock_guard lock(m_mutex);
    m_size = size;
    m_sizeKnown = true;
}

bool RemoteSession::SizeKnown(uint64_t& size) const
{
    std::lock_guard lock(m_mutex);
    size = m_size;
    return m_sizeKnown;
}

RemoteRun RemoteSession::Find(uint64_t position)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_runs.begin(); it != m_runs.end(); ++it) {
        if (position >= it->start && position - it->start < it->length) {
            m_runs.splice(m_runs.begin(), m_runs, it);
            return m_runs.front();
        }
    }
    return {};
}

void RemoteSession::Unheld(uint64_t& from, uint64_t& end) const
{
    std::lock_guard lock(m_mutex);
    for (bool moved = true; moved;) {
        moved = false;
        for (const RemoteRun& r : m_runs) {
            if (r.start <= from && from < r.start + r.length) {
                from = r.start + r.length;
                moved = true;
            }
        }
    }
    for (const RemoteRun& r : m_runs)
        if (r.start > from && r.start < end)
            end = r.start;
}

void RemoteSession::Keep(RemoteRun run)
{
    std::lock_guard lock(m_mutex);
    m_held += run.length;
    m_runs.push_front(std::move(run));
    while (m_held > m_options.cacheBytes && m_runs.size() > 1) {
        m_held -= m_runs.back().length;
        m_runs.pop_back();
    }
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
