#include "component/time_table_worker.h"

#include <memory>
#include <sys/stat.h>

#include "input/byte_window.h"
#include "input/ms_file_input_stream.h"
#include "mpeg/pack_check.h"
#include "platform/com_runtime.h"
#include "platform/text.h"

namespace md {
namespace {

constexpr uint32_t kChunkSize = 0x10000;      // 64 KiB per read
constexpr uint32_t kWindowCapacity = 0x50000;
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

bool TimeTableWorker::Start(const wchar_t* path, uint32_t kind, TimeTableCallback callback, void* context)
{
    // A walk still running, or a start from inside the callback, is refused.
    if (m_running.load() || (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()))
        return false;
    if (m_thread.joinable())
        m_thread.join();  // the previous walk has finished
    struct stat st {};
    if (::stat(WideToUtf8(path).c_str(), &st) != 0 || st.st_size < 1)
        return true;
    m_fileSize = st.st_size;
    m_path = path;
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
    if (FAILED(index->OpenTable(m_path.c_str(), 0, &table, 0)))
        return kTimeTableNoIndex;

    MSFileInputStream input(m_path.c_str());
    if (!input.IsOpen())
        return kTimeTableUnreadable;
    input.Seek(0);
    const std::unique_ptr<MpegPackCheck> checker = NewPackCheck(m_kind);
    if (!checker)
        return kTimeTableUnreadable;
    checker->SetInspect(true);

    m_bytesDone = 0;
    ByteWindow window;
    if (!window.Allocate(kWindowCapacity, kChunkSize))
        return kTimeTableUnreadable;
    PackEntryList entries;
    bool aborted = false;
    uint64_t got = input.Read(window.WritePointer(), kChunkSize);
    while (got == kChunkSize && m_stopRequested == 0) {
        window.Commit(kChunkSize);
        uint32_t count = 0;
        const uint8_t* bytes = window.ReadPointer(count);
        if (count >= 1) {
            const uint32_t consumed = checker->ScanPacks(bytes, count, &entries, false);
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
            window.Consume(consumed);
            m_bytesDone += consumed;
            if (aborted)
                break;
        }
        got = input.Read(window.WritePointer(), kChunkSize);
    }

    if (aborted || m_stopRequested != 0) {
        index->RemoveEntries(table, kTimeIndexPackEntry, 0, -1);
        index->CloseTable(table, 0);
        return kTimeTableInterrupted;
    }
    return SUCCEEDED(index->CloseTable(table, 0)) ? kTimeTableComplete : kTimeTableInterrupted;
}

}  // namespace md
