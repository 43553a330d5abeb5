// The container probe's Matroska test: an EBML header whose DocType is
// "matroska" (or "webm").
#pragma once

#include <cstdint>

#include "input/input_stream.h"

namespace md {

// 15 (MK_MATROSKA_PROBED) when the stream starts with an EBML header holding the
// DocType "matroska" (exactly those 8 bytes; with lenient, also followed by NUL
// bytes, or no DocType at all); with webm, 16 (MK_WEBM) when it holds the DocType
// "webm" (as strictly); else 0. Reads from offset 0.
int32_t ProbeMatroskaStream(ZPMP::InputStream& stream, bool lenient = false, bool webm = false) noexcept;

}  // namespace md
