#include "tools/scan.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "tools/report.h"

namespace md::tool {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Appends the regular files of dir, sorted by name; with recursive, each
// sub-folder's files at the sub-folder's place. Folders reached through a
// symbolic link are not entered (a link to a parent would never end).
void AddFolder(const fs::path& dir, bool recursive, std::vector<ScanItem>& out)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    std::vector<fs::directory_entry> entries;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        entries.push_back(*it);
    if (ec) {
        out.push_back({dir.string(), "cannot list the folder: " + ec.message()});
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& entry : entries) {
        if (entry.is_regular_file(ec))
            out.push_back({entry.path().string(), {}});
        else if (recursive && entry.is_directory(ec) && !entry.is_symlink(ec))
            AddFolder(entry.path(), recursive, out);
    }
}

// The progress line on standard error: drawn only while it is a terminal, at
// most ten times a second, and cleared before anything else is printed.
class ProgressLine {
public:
    ProgressLine() : m_enabled(::isatty(STDERR_FILENO) == 1) {}

    void Show(size_t done, size_t total, double rate, const std::string& current)
    {
        if (!m_enabled || Clock::now() - m_lastDrawn < std::chrono::milliseconds(100))
            return;
        m_lastDrawn = Clock::now();
        winsize size{};
        const size_t columns = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        char head[96];
        std::snprintf(head, sizeof head, "%zu/%zu  %.0f files/s  ", done, total, rate);
        std::string line = head + current;
        if (line.size() >= columns)
            line.resize(columns - 1);
        Write(stderr, "\r\033[K" + line);
        m_shown = true;
    }

    void Clear()
    {
        if (m_shown)
            Write(stderr, "\r\033[K");
        m_shown = false;
    }

private:
    bool m_enabled;
    bool m_shown = false;
    Clock::time_point m_lastDrawn{};
};

// What a listing collects: the objects so far, and whether it stopped at the cap or on a failure of ours.
struct Listing {
    std::vector<ScanItem>* out = nullptr;
    size_t count = 0;
    bool capped = false;
    bool failed = false;

    // Called by the module for each object; never lets an exception out into the module.
    static int32_t Add(void* context, const char* path, uint64_t /*size*/) noexcept
    {
        auto* listing = static_cast<Listing*>(context);
        if (listing->count >= kMaxListedObjects) {
            listing->capped = true;
            return 1;
        }
        try {
            listing->out->push_back({path ? std::string(path) : std::string(), {}});
        } catch (...) {
            listing->failed = true;
            return 1;
        }
        ++listing->count;
        return 0;
    }
};

}  // namespace

void ListRemotePrefix(const ModuleHost& host, uint32_t extensions, const std::string& prefix, bool recursive,
                      std::vector<ScanItem>& out)
{
    std::string error;
    IMediaDetect5* detector = host.CreateDetector(error);
    if (!detector) {
        out.push_back({prefix, "cannot list: " + error});
        return;
    }
    IMediaDetectInfo* info = nullptr;
    if (SUCCEEDED(detector->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info)))) {
        info->SetInfo(MDI_EXTENSIONS, &extensions);
        info->Release();
    }
    IMediaDetectRemote* remote = nullptr;
    HRESULT hr = detector->QueryInterface(IID_IMediaDetectRemote, reinterpret_cast<void**>(&remote));
    Listing listing;
    listing.out = &out;
    if (SUCCEEDED(hr)) {
        hr = remote->ListRemote(prefix.c_str(), recursive ? 1 : 0, &Listing::Add, &listing);
        remote->Release();
    }
    if (FAILED(hr)) {
        error = "cannot list: " + DescribeHresult(hr);
        if (const std::string reason = RemoteError(*detector); !reason.empty())
            error += ": " + reason;
        out.push_back({prefix, error});
    } else if (listing.capped) {
        out.push_back({prefix, "listing stopped after " + std::to_string(kMaxListedObjects) + " objects"});
    } else if (listing.failed) {
        out.push_back({prefix, "listing stopped: out of memory"});
    }
    detector->Release();
}

std::vector<ScanItem> CollectScanItems(const std::vector<std::string>& paths, bool recursive, std::FILE* in,
                                       const RemoteLister& listRemote)
{
    std::vector<ScanItem> items;
    for (const std::string& path : paths) {
        std::error_code ec;
        if (path == "-") {
            char* buffer = nullptr;
            size_t capacity = 0;
            for (ssize_t n; (n = ::getline(&buffer, &capacity, in)) > 0;) {
                std::string line(buffer, static_cast<size_t>(n));
                if (line.back() == '\n')
                    line.pop_back();
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (!line.empty())
                    items.push_back({line, {}});
            }
            std::free(buffer);
        } else if (listRemote && IsRemotePrefix(path)) {
            listRemote(path, items);
        } else if (fs::is_directory(path, ec)) {
            AddFolder(path, recursive, items);
        } else {
            items.push_back({path, {}});
        }
    }
    return items;
}

bool RunScan(const ModuleHost& host, const ScanOptions& options)
{
    const Clock::time_point start = Clock::now();
    RemoteLister lister;
    if ((options.examine.extensions & MD_EXT_REMOTE) != 0)
        lister = [&](const std::string& prefix, std::vector<ScanItem>& out) {
            ListRemotePrefix(host, options.examine.extensions, prefix, options.recursive, out);
        };
    const std::vector<ScanItem> items = CollectScanItems(options.paths, options.recursive, stdin, lister);
    const size_t total = items.size();
    size_t width = 0;
    for (const ScanItem& item : items)
        width = std::max(width, item.path.size());

    // Workers take the next file by index and leave its report in its slot;
    // this thread prints the slots in input order as they fill.
    std::vector<std::optional<FileReport>> slots(total);
    std::mutex mutex;
    std::condition_variable filled;
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < total;) {
            FileReport r;
            if (items[i].error.empty()) {
                r = ExamineWithNewDetector(host, items[i].path, options.examine);
            } else {
                r.file = items[i].path;
                r.error = items[i].error;
            }
            {
                std::lock_guard lock(mutex);
                slots[i] = std::move(r);
            }
            filled.notify_one();
        }
    };
    const unsigned jobs = options.jobs > 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> workers;
    for (unsigned j = 0; j < jobs && j < total; ++j) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // run with the workers there are
        }
    }
    if (workers.empty())
        work();

    ProgressLine progress;
    std::map<std::string, size_t> byKind;
    size_t failed = 0;
    for (size_t printed = 0; printed < total;) {
        std::vector<FileReport> ready;
        {
            std::unique_lock lock(mutex);
            filled.wait_for(lock, std::chrono::milliseconds(100), [&] { return slots[printed].has_value(); });
            for (; printed < total && slots[printed]; ++printed) {
                ready.push_back(std::move(*slots[printed]));
                slots[printed].reset();
            }
        }
        if (!ready.empty())
            progress.Clear();
        for (const FileReport& r : ready) {
            PrintReport(r, options.json, width);
            ++byKind[r.error.empty() ? KindName(r.kind) : "unreadable"];
            failed += r.error.empty() ? 0 : 1;
        }
        const size_t started = std::min(next.load(), total);
        progress.Show(printed, total, static_cast<double>(printed) / Seconds(start),
                      started > 0 ? items[started - 1].path : std::string());
    }
    for (std::thread& worker : workers)
        worker.join();
    progress.Clear();

    // The summary, most frequent kind first.
    std::vector<std::pair<std::string, size_t>> kinds(byKind.begin(), byKind.end());
    std::stable_sort(kinds.begin(), kinds.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    const double seconds = Seconds(start);
    char head[128];
    std::snprintf(head, sizeof head, "mediadetect: %zu files in %.2f s (%.0f files/s)", total, seconds,
                  seconds > 0 ? static_cast<double>(total) / seconds : 0.0);
    std::string summary = head;
    const char* separator = ": ";
    for (const auto& [kind, count] : kinds) {
        summary += separator + std::to_string(count) + ' ' + kind;
        separator = ", ";
    }
    Write(stderr, summary + "\n");
    return failed == 0;
}

}  // namespace md::tool
