// Where the Matroska code comes from: linked in (tests, benchmarks, fuzzers),
// or the plugin libmdmatroska.so beside the module that holds this code,
// loaded on first use.
#pragma once

#include <memory>

#include "mkv/matroska_entry.h"
#include "mkv/mkv_demux.h"

namespace md {

// The entry points, or null when the plugin cannot be loaded (then no file is
// Matroska). Loaded once per process; safe to call from several threads.
const MatroskaEntryPoints* MatroskaCode() noexcept;

// Gives a demultiplexer back to the code that made it.
struct MatroskaDemuxDeleter {
    void operator()(MKVDemux* demux) const noexcept;
};
using MatroskaDemuxPtr = std::unique_ptr<MKVDemux, MatroskaDemuxDeleter>;

// A new Matroska demultiplexer, or null when the code is missing or memory is short.
MatroskaDemuxPtr NewMatroskaDemux() noexcept;

// Adds a Matroska file's Info and global tags to tags and, with cover, finds where its cover attachment lies;
// nothing when the code is missing.
void ReadMatroskaFileTags(ZPMP::InputStream& stream, TagList& tags, CoverLocation* cover) noexcept;

}  // namespace md
