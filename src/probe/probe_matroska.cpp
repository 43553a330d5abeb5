#include "probe/probe.h"

#include "probe/matroska_plugin.h"

// The Matroska test reads the EBML header through libebml, with the Matroska
// demultiplexer's read window.
int32_t ProbeMatroska(ZPMP::InputStream& stream, uint32_t extensions) noexcept
{
    const md::MatroskaEntryPoints* code = md::MatroskaCode();
    return code != nullptr
               ? code->probe(stream, (extensions & MD_EXT_MATROSKA_HEADER) != 0, (extensions & MD_EXT_WEBM) != 0)
               : 0;
}
