#include "tools/seek.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "timeindex/time_index_store.h"
#include "tools/module_host.h"
#include "tools/report.h"
#include "tools/time_table.h"

namespace md::tool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 2;
constexpr double kUnitsPerSecond = 1e7;  // table times are in 100-ns units

int Fail(const std::string& file, const std::string& why)
{
    Write(stderr, "mediadetect: " + file + ": " + why + "\n");
    return kExitError;
}

// The whole text as a finite number, else false.
bool ParseSeconds(const std::string& text, double& seconds)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    seconds = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && errno == 0 && std::isfinite(seconds);
}

// Builds and stores the file's time table through the detector module.
std::string BuildTable(const std::string& file, const std::string& modulePath)
{
    ModuleHost host;
    if (!host.Load(modulePath))
        return host.error();
    std::string error;
    IMediaDetect5* detector = host.CreateDetector(error);
    if (!detector)
        return error;
    const TimeTable table = BuildTimeTable(*detector, file);
    detector->Release();
    return table.error;
}

}  // namespace

int RunSeek(const SeekRequest& request, const std::string& modulePath)
{
    const std::string& file = request.file;
    double seconds = 0;
    if (!ParseSeconds(request.seconds, seconds))
        return Fail(file, "'" + request.seconds + "' is not a number of seconds");
    if (seconds < 0)
        return Fail(file, "the time must not be negative (" + request.seconds + " s)");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return Fail(file, ec ? ec.message() : "not a regular file");
    // Beyond the int64 range of 100-ns units every entry lies before the time.
    const double units = std::round(seconds * kUnitsPerSecond);
    const int64_t time = units >= 9.2e18 ? INT64_MAX : static_cast<int64_t>(units);

    std::string error;
    const auto store = TimeIndexStore::Open(DefaultTimeIndexPath(), error);
    if (!store)
        return Fail(file, "cannot open the time-index store " + DefaultTimeIndexPath().string() + ": " + error);
    const std::string key = TimeIndexKey(file);
    TimeIndexEntry entry;
    TimeIndexStore::SeekStatus status = store->Seek(key, time, entry);
    if (!store->Notice().empty())
        Write(stderr, "mediadetect: note: " + store->Notice() + "\n");
    if (status == TimeIndexStore::SeekStatus::kNoTable) {
        if (const std::string why = BuildTable(file, modulePath); !why.empty())
            return Fail(file, "cannot seek: " + why);
        status = store->Seek(key, time, entry);
    }
    int64_t offset = -1;
    if (entry.data.size() == sizeof offset)
        std::memcpy(&offset, entry.data.data(), sizeof offset);
    switch (status) {
    case TimeIndexStore::SeekStatus::kAtOrBefore: break;
    case TimeIndexStore::SeekStatus::kBeforeFirst:
        char first[32];
        std::snprintf(first, sizeof first, "%g", entry.time / kUnitsPerSecond);
        Write(stderr, "mediadetect: " + file + ": note: " + request.seconds + " s lies before the first key picture (" +
                          first + " s); its offset is given\n");
        break;
    case TimeIndexStore::SeekStatus::kEmptyTable: return Fail(file, "the time table holds no key picture");
    case TimeIndexStore::SeekStatus::kNoTable: return Fail(file, "the time table was built but is not stored");
    case TimeIndexStore::SeekStatus::kFailed: return Fail(file, "cannot read the time table: " + store->LastError());
    }
    if (offset < 0)
        return Fail(file, "the time table entry holds no byte offset");

    if (request.json) {
        const nlohmann::ordered_json j = {
            {"file", file}, {"seconds", seconds}, {"timeSeconds", entry.time / kUnitsPerSecond}, {"offset", offset}};
        Write(stdout, j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    } else {
        Write(stdout, std::to_string(offset) + "\n");
    }
    return kExitOk;
}

}  // namespace md::tool
