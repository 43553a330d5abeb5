#include "component/time_table_worker.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>

#include "mpeg/pack_check.h"
#include "platform/com_runtime.h"
#include "platform/text.h"

namespace md {
namespace {

// The walk covers the file's whole 64 KiB chunks only: a last partial chunk is
// never scanned. It reads 16 chunks at a time, after the unfinished pack that the
// previous scan leaves for the next one.
constexpr uint32_t kChunkSize = 0x10000;
constexpr uint32_t kReadSize = 16 * kChunkSize;
constexpr uint32_t kBufferSize = kReadSize + 4 * kChunkSize;
constexpr uint32_t kClassContext = 0x15;     // in-process, local or remote server

std::unique_ptr<MpegPackCheck> NewPackCheck(uint32_t kind)
{
    switch (kind) {
    case MK_MPEG1_SYSTEM:
    case MK_VCD: return std::make_unique<Mpeg1PackCheck>();
    case MK_MPEG2_PROGRAM:
    case MK_SVCD:
    case MK_DVD_VIDEO:
    case MK_DVD_VR: return std::make_unique<Mpeg2PackCheck>();
    default: return nullptr;
    }
}

// Releases the time-index component when the walk ends, however it ends.
struct IndexReleaser {
    void operator()(ITimeIndex* index) const { index->Release(); }
};

}  // namespace

bool TimeTableWorker::Start(const InputSource& source, std::unique_ptr<ZPMP::InputStream> opened, uint32_t kind,
                            TimeTableCallback callback, void* context)
{
    // A walk still running, or a start from inside the callback, is refused.
    if (m_running.load() || (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()))
        return false;
    if (m_thread.joinable())
        m_thread.join();  // the previous walk has finished
    if (source.IsRemote()) {
        if (!opened || opened->Size() < 1 || opened->Size() > uint64_t(INT64_MAX))
            return true;
        m_fileSize = static_cast<int64_t>(opened->Size());
        m_opened = std::move(opened);
    } else {
        struct stat st {};
        if (::stat(WideToUtf8(source.Path()).c_str(), &st) != 0 || st.st_size < 1)
            return true;
        m_fileSize = st.st_size;
        m_opened.reset();
    }
    m_source = source;
    m_context = context;
    m_bytesDone = 0;
    m_kind = kind;
    m_callback = callback;
    m_stopRequested = 0;
    m_running = true;
    try {
        m_thread = std::thread(&TimeTableWorker::Run, this);
    } catch (const std::system_error&) {
        m_running = false;  // no thread, no callback
    }
    return true;
}

uint32_t TimeTableWorker::Progress() const
{
    return m_fileSize == 0 ? 0 : static_cast<uint32_t>(m_bytesDone.load() * 100 / m_fileSize);
}

void TimeTableWorker::Stop()
{
    m_stopRequested = 1;
    if (m_thread.joinable())
        m_thread.join();
}

void TimeTableWorker::Run()
{
    const HRESULT init = CoInitialize(nullptr);
    const uint32_t result = Walk();
    // The walk is over: a new one may start as soon as the host hears of it.
    m_running = false;
    if (m_callback)
        m_callback(m_context, result);
    if (SUCCEEDED(init))
        CoUninitialize();
}

uint32_t TimeTableWorker::Walk()
{
    ITimeIndex* created = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TimeIndex, nullptr, kClassContext, IID_ITimeIndex,
                                reinterpret_cast<void**>(&created))) ||
        created == nullptr)
        return kTimeTableNoIndex;
    const std::unique_ptr<ITimeIndex, IndexReleaser> index(created);
    uint32_t table = 0;
    // A remote file's table is stored under its path without the query string,
    // which may hold a signature.
    const std::wstring& path = m_source.PathString();
    const std::wstring key = m_source.IsRemote() ? path.substr(0, path.find_first_of(L"?#")) : path;
    if (FAILED(index->OpenTable(key.c_str(), 0, &table, 0)))
        return kTimeTableNoIndex;

    const std::unique_ptr<ZPMP::InputStream> opened = m_opened ? std::move(m_opened) : m_source.Open();
    ZPMP::InputStream& input = *opened;
    if (!InputSource::IsOpen(input))
        return kTimeTableUnreadable;
    input.Seek(0);
    const std::unique_ptr<MpegPackCheck> checker = NewPackCheck(m_kind);
    if (!checker)
        return kTimeTableUnreadable;
    checker->SetInspect(true);

    m_bytesDone = 0;
    const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kBufferSize]);
    if (!buffer)
        return kTimeTableUnreadable;
    PackEntryList entries;
    bool aborted = false;
    uint32_t carried = 0;  // the unfinished pack of the last scan, at the buffer start
    while (m_stopRequested == 0) {
        // A pack that fills the buffer leaves no room for a chunk: no later pack
        // start can be reached, so no entry can follow.
        const uint32_t room = std::min(kReadSize, (kBufferSize - carried) / kChunkSize * kChunkSize);
        if (room == 0)
            break;
        const uint64_t got = input.Read(buffer.get() + carried, room);
        const auto whole = static_cast<uint32_t>(got / kChunkSize * kChunkSize);
        if (whole == 0)
            break;
        const uint32_t count = carried + whole;
        const uint32_t consumed = checker->ScanPacks(buffer.get(), count, &entries, false);
        for (const PackEntry& entry : entries) {
            if (!entry.ptsPresent || !entry.key)
                continue;
            const int64_t position = static_cast<int64_t>(entry.offset) + m_bytesDone.load();
            if (FAILED(index->AddEntry(table, kTimeIndexPackEntry, entry.videoTime, sizeof position, &position))) {
                aborted = true;
                break;
            }
        }
        entries.clear();
        m_bytesDone += consumed;
        if (aborted || got < room)
            break;  // an entry refused, or the end of the file (or a failed read)
        carried = count - consumed;
        std::memmove(buffer.get(), buffer.get() + consumed, carried);
    }

    // A remote read that failed on the way leaves no table of part of the file.
    const bool unreadable = InputSource::ReadFailed(input);
    if (aborted || m_stopRequested != 0 || unreadable) {
        index->RemoveEntries(table, kTimeIndexPackEntry, 0, -1);
        index->CloseTable(table, 0);
        return unreadable ? kTimeTableUnreadable : kTimeTableInterrupted;
    }
    return SUCCEEDED(index->CloseTable(table, 0)) ? kTimeTableComplete : kTimeTableInterrupted;
}

}  // namespace md
