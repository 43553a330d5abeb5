#include "tools/time_table.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/text.h"
#include "timeindex/time_index_store.h"
#include "tools/module_host.h"
#include "tools/report.h"

namespace md::tool {
namespace {

constexpr std::chrono::milliseconds kProgressInterval{250};
bool g_showProgress = false;

struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<uint32_t> result;

    static void Callback(void* context, uint32_t result)
    {
        auto* c = static_cast<Completion*>(context);
        std::lock_guard lock(c->mutex);
        c->result = result;
        c->done.notify_all();
    }
};

const char* DescribeResult(uint32_t result)
{
    switch (result) {
    case 1: return "the file cannot be read, or is not an MPEG program stream with packs to index";
    case 2: return "the time-index component is not available (run 'mediadetect register')";
    case 3: return "the time table was interrupted or could not be stored";
    default: return "the time table failed";
    }
}

}  // namespace

TimeTable BuildTimeTable(IMediaDetect5& detector, const std::string& file)
{
    TimeTable table;
    std::error_code ec;
    // A remote object is the module's to reach: the worker reads it through the module's remote input.
    if (!IsRemotePath(file) && (std::filesystem::file_size(file, ec) == 0 || ec)) {
        table.error = ec ? ec.message() : "the file is empty";  // no walk starts, no callback comes
        return table;
    }
    ITimeTableInfo* info = nullptr;
    if (FAILED(detector.QueryInterface(IID_ITimeTableInfo, reinterpret_cast<void**>(&info)))) {
        table.error = "the detector offers no time table";
        return table;
    }
    Completion completion;
    const HRESULT hr = info->StartTimeTable(Utf8ToWide(file).c_str(), &Completion::Callback, &completion);
    if (SUCCEEDED(hr)) {
        bool shown = false;
        std::unique_lock lock(completion.mutex);
        while (!completion.done.wait_for(lock, kProgressInterval, [&] { return completion.result.has_value(); })) {
            uint32_t percent = 0;
            if (g_showProgress && SUCCEEDED(info->GetTimeTableProgress(&percent))) {
                Write(stderr, "\rmediadetect: time table of " + std::filesystem::path(file).filename().string() +
                                  ": " + std::to_string(percent) + "%");
                shown = true;
            }
        }
        if (shown)
            Write(stderr, "\r\x1b[K");  // back to the line start, erase the line
    }
    info->StopTimeTable();  // joins the finished worker
    info->Release();
    if (FAILED(hr)) {
        table.error = hr == E_FAIL ? "no time table for this kind of file" : "cannot build a time table: " +
                                                                               DescribeHresult(hr);
        return table;
    }
    if (*completion.result != 0) {
        table.error = DescribeResult(*completion.result);
        return table;
    }

    std::string error;
    auto store = TimeIndexStore::Open(DefaultTimeIndexPath(), error);
    const auto entries = store ? store->ReadTable(TimeIndexKey(file)) : std::nullopt;
    if (!entries) {
        table.error = "cannot read the time-index store " + DefaultTimeIndexPath().string() +
                      (error.empty() ? "" : ": " + error);
        return table;
    }
    for (const TimeIndexEntry& e : *entries) {
        int64_t position = -1;
        if (e.data.size() == sizeof position)
            std::memcpy(&position, e.data.data(), sizeof position);
        table.entries.emplace_back(e.time, position);
    }
    return table;
}

void ShowTimeTableProgress(bool show) { g_showProgress = show; }

}  // namespace md::tool
