// The time-index component: collects the entries of a table in memory between
// OpenTable and CloseTable and stores the whole table in the time-index store
// at CloseTable, so that an interrupted build never replaces a complete table
// with a partial one.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comserver/com_base.h"
#include "mediadetect/interfaces.h"
#include "timeindex/time_index_store.h"

namespace md {

class CTimeIndex final : public CUnknown, public ITimeIndex {
public:
    explicit CTimeIndex(IUnknown* outer) : CUnknown(outer) {}

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

    HRESULT QueryInterface(REFIID iid, void** out) noexcept override { return GetOwner()->QueryInterface(iid, out); }
    ULONG AddRef() noexcept override { return GetOwner()->AddRef(); }
    ULONG Release() noexcept override { return GetOwner()->Release(); }

    HRESULT OpenTable(const wchar_t* path, uint32_t reserved, uint32_t* table, uint32_t reserved2) noexcept override;
    HRESULT CloseTable(uint32_t table, uint32_t reserved) noexcept override;
    HRESULT RemoveEntries(uint32_t table, uint32_t type, int64_t from, int64_t to) noexcept override;
    HRESULT AddEntry(uint32_t table, uint32_t type, int64_t time, uint32_t size, const void* data) noexcept override;

#define MD_UNUSED(n) \
    HRESULT Unused##n() noexcept override { return E_NOTIMPL; }
    MD_UNUSED(3) MD_UNUSED(4) MD_UNUSED(5) MD_UNUSED(6) MD_UNUSED(9) MD_UNUSED(10) MD_UNUSED(11) MD_UNUSED(12)
    MD_UNUSED(13) MD_UNUSED(14) MD_UNUSED(15) MD_UNUSED(16) MD_UNUSED(17) MD_UNUSED(18) MD_UNUSED(19) MD_UNUSED(20)
    MD_UNUSED(21) MD_UNUSED(22) MD_UNUSED(23) MD_UNUSED(24) MD_UNUSED(25) MD_UNUSED(26) MD_UNUSED(27) MD_UNUSED(28)
    MD_UNUSED(29) MD_UNUSED(30) MD_UNUSED(31) MD_UNUSED(32) MD_UNUSED(34) MD_UNUSED(35) MD_UNUSED(36) MD_UNUSED(37)
    MD_UNUSED(38) MD_UNUSED(39) MD_UNUSED(40) MD_UNUSED(41)
#undef MD_UNUSED

private:
    struct Table {
        std::string key;
        std::vector<TimeIndexEntry> entries;
        // Set when RemoveEntries withdrew the whole time range: the build was
        // abandoned, and closing the table stores nothing.
        bool abandoned = false;
    };

    std::mutex m_mutex;
    std::unique_ptr<TimeIndexStore> m_store;
    std::map<uint32_t, Table> m_tables;
    uint32_t m_nextHandle = 1;
};

}  // namespace md
