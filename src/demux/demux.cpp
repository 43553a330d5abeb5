#include "demux/demux.h"

#include <cstring>

namespace md {

void StreamList::Append(std::unique_ptr<StreamRecord> record)
{
    if (record)
        m_records.push_back(std::move(record));
}

bool StreamList::AppendCopy(const StreamRecord& record)
{
    std::unique_ptr<StreamRecord> copy = NewStreamRecord();
    if (!copy)
        return false;
    std::memcpy(copy.get(), &record, sizeof record);
    Append(std::move(copy));
    return true;
}

StreamRecord* StreamList::At(uint32_t index)
{
    return index < m_records.size() ? m_records[index].get() : nullptr;
}

const StreamRecord* StreamList::At(uint32_t index) const
{
    return index < m_records.size() ? m_records[index].get() : nullptr;
}

bool StreamList::Contains(uint32_t streamId) const
{
    for (const auto& r : m_records)
        if (r->streamId == streamId)
            return true;
    return false;
}

bool StreamList::Contains(StreamClass streamClass, uint32_t streamId) const
{
    for (const auto& r : m_records)
        if (r->streamClass == streamClass && r->streamId == streamId)
            return true;
    return false;
}

const StreamRecord* StreamList::First(StreamClass streamClass) const
{
    for (const auto& r : m_records)
        if (r->streamClass == streamClass)
            return r.get();
    return nullptr;
}

void PacketList::Append(const PacketRecord& record) { m_records.push_back(record); }

const PacketRecord* PacketList::At(uint32_t index) const
{
    return index < m_records.size() ? &m_records[index] : nullptr;
}

}  // namespace md
