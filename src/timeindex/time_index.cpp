#include "timeindex/time_index.h"

#include <algorithm>

#include "platform/text.h"

namespace md {

HRESULT CTimeIndex::NonDelegatingQueryInterface(REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_ITimeIndex)
        return GetInterface(static_cast<ITimeIndex*>(this), out);
    return CUnknown::NonDelegatingQueryInterface(iid, out);
}

HRESULT CTimeIndex::OpenTable(const wchar_t* path, uint32_t, uint32_t* table, uint32_t) noexcept
{
    if (path == nullptr || table == nullptr)
        return E_POINTER;
    return Guarded([&] {
        std::lock_guard lock(m_mutex);
        if (!m_store) {
            std::string error;
            m_store = TimeIndexStore::Open(DefaultTimeIndexPath(), error);
            if (!m_store)
                return E_FAIL;
        }
        const uint32_t handle = m_nextHandle++;
        m_tables[handle].key = TimeIndexKey(WideToUtf8(path));
        *table = handle;
        return S_OK;
    });
}

HRESULT CTimeIndex::CloseTable(uint32_t table, uint32_t) noexcept
{
    return Guarded([&] {
        std::lock_guard lock(m_mutex);
        const auto it = m_tables.find(table);
        if (it == m_tables.end())
            return E_INVALIDARG;
        const Table closed = std::move(it->second);
        m_tables.erase(it);
        if (closed.abandoned)
            return S_OK;
        return m_store->ReplaceTable(closed.key, closed.entries) ? S_OK : E_FAIL;
    });
}

HRESULT CTimeIndex::RemoveEntries(uint32_t table, uint32_t type, int64_t from, int64_t to) noexcept
{
    return Guarded([&] {
        std::lock_guard lock(m_mutex);
        const auto it = m_tables.find(table);
        if (it == m_tables.end())
            return E_INVALIDARG;
        auto& entries = it->second.entries;
        const auto inRange = [&](const TimeIndexEntry& e) {
            return e.type == type && e.time >= from && (to == -1 || e.time <= to);
        };
        entries.erase(std::remove_if(entries.begin(), entries.end(), inRange), entries.end());
        if (from <= 0 && to == -1)
            it->second.abandoned = true;
        return S_OK;
    });
}

HRESULT CTimeIndex::AddEntry(uint32_t table, uint32_t type, int64_t time, uint32_t size, const void* data) noexcept
{
    if (data == nullptr && size > 0)
        return E_POINTER;
    return Guarded([&] {
        std::lock_guard lock(m_mutex);
        const auto it = m_tables.find(table);
        if (it == m_tables.end())
            return E_INVALIDARG;
        const auto* bytes = static_cast<const uint8_t*>(data);
        it->second.entries.push_back({type, time, std::vector<uint8_t>(bytes, bytes + size)});
        return S_OK;
    });
}

}  // namespace md
