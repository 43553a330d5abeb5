#include "probe/probe.h"

#include "mkv/probe_matroska.h"

// The Matroska test reads the EBML header through libebml, with the Matroska
// demultiplexer's read window.
int32_t ProbeMatroska(ZPMP::InputStream& stream) noexcept { return md::ProbeMatroskaStream(stream); }
