// `mediadetect scan`: examines whole folders and lists of files with several
// worker threads, each file with its own detector object, and prints one report
// per file in input order.
#pragma once

#include <cstdint>
#include <cstdio>
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

// The files the paths name, in order: a folder's entries sorted by name (its
// sub-folders walked in place when recursive), "-" replaced by the lines read
// from in. Folder entries that are neither regular files nor folders are
// skipped; a path named explicitly is kept whatever it is, and its report says
// why it cannot be read.
std::vector<ScanItem> CollectScanItems(const std::vector<std::string>& paths, bool recursive, std::FILE* in);

// Examines every file and prints the reports; a progress line on standard
// error while it is a terminal, and a summary by kind there at the end.
// Returns true when every file was examined.
bool RunScan(const ModuleHost& host, const ScanOptions& options);

}  // namespace md::tool
