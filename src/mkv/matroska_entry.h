// The entry point of the Matroska code. The detector module does not link it:
// libebml and libmatroska take longer to load than most files take to examine,
// so this code lives in a plugin beside the module (libmdmatroska.so) that is
// loaded when the first file starting with an EBML header is met. Programs
// that link md_mkv statically (the tests, benchmarks and fuzzers) get the same
// entry point linked in.
#pragma once

#include <cstdint>

#include "demux/tag_list.h"
#include "input/input_stream.h"

namespace md {

class MKVDemux;

// What crosses between the detector module and the plugin: each side frees only what it allocated. The plugin makes
// and destroys its demultiplexers (createDemux, destroyDemux); the module's stream lists receive copies of the
// plugin's records (StreamList::AppendCopy) and its tag lists the plugin's tags as C strings (readTags); no
// standard-library object changes hands.
struct MatroskaEntryPoints {
    // ProbeMatroskaStream.
    int32_t (*probe)(ZPMP::InputStream& stream, bool lenient, bool webm) noexcept;
    // A new demultiplexer, or null when out of memory; give it back to destroyDemux.
    MKVDemux* (*createDemux)() noexcept;
    void (*destroyDemux)(MKVDemux* demux) noexcept;
    // The file's Info and global tags, each passed to add(context, key, value) as NUL-terminated UTF-8 that lives
    // for the call only, in the order they are listed; with cover (a plain struct the caller owns), where the
    // attached cover picture lies.
    void (*readTags)(ZPMP::InputStream& stream, void* context,
                     void (*add)(void* context, const char* key, const char* value) noexcept,
                     CoverLocation* cover) noexcept;
};

}  // namespace md

extern "C" const md::MatroskaEntryPoints* md_matroska_entry_points() noexcept;
