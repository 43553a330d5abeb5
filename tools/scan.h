// `mediadetect scan`: examines whole folders and lists of files with several
// worker threads, each file with its own detector object, and prints one report
// per file in input order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/module_host.h"
#include "tools/report.h"

namespace md::tool {

struct ScanOptions {
    std::vector<std::string> paths;  // files, folders, and "-" for paths read from standard input
    bool recursive = false;          // also walk the folders inside the folders given
    unsigned jobs = 0;               // worker threads; 0 means one per core
    bool json = false;
    ExamineOptions examine;  // the container hint and extensions given to every detector
};

// A file to examine, or a path that could not be listed (error set).
struct ScanItem {
    std::string path;
    std::string error;
};

// Lists the objects under a remote prefix into out, in key order; a listing that fails adds one item with the
// reason. Empty: prefixes are examined as they are.
using RemoteLister = std::function<void(const std::string& prefix, std::vector<ScanItem>& out)>;

// The files the paths name, in order: a folder's entries sorted by name (its
// sub-folders walked in place when recursive), "-" replaced by the lines read
// from in, an s3:// prefix (IsRemotePrefix) replaced by its objects through
// listRemote. Folder entries that are neither regular files nor folders are
// skipped; a path named explicitly is kept whatever it is, and its report says
// why it cannot be read.
std::vector<ScanItem> CollectScanItems(const std::vector<std::string>& paths, bool recursive, std::FILE* in,
                                       const RemoteLister& listRemote = {});

// The lister of RunScan: IMediaDetectRemote::ListRemote of a new detector of the module with the given extensions,
// at most kMaxListedObjects objects (a longer listing ends with an item that says so).
constexpr size_t kMaxListedObjects = 1000000;
void ListRemotePrefix(const ModuleHost& host, uint32_t extensions, const std::string& prefix, bool recursive,
                      std::vector<ScanItem>& out);

// Examines every file and prints the reports; a progress line on standard
// error while it is a terminal, and a summary by kind there at the end.
// Returns true when every file was examined.
bool RunScan(const ModuleHost& host, const ScanOptions& options);

}  // namespace md::tool
