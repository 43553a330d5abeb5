// Field-order scans the detector runs over a file after its demultiplexer
// described an interlaced video stream.
#pragma once

#include <cstdint>

#include "input/input_stream.h"

namespace md {

// MPEG-2 picture scan: reads the file from offset 0 in 4096-byte steps (at most
// 1001) and takes the field order (1 top first, 2 bottom first) of the picture
// coding extension that follows each picture header; stops after the first read
// that held one. Leaves fieldOrder alone when no extension gives 1 or 2.
void ScanMpeg2FieldOrder(ZPMP::InputStream& input, uint32_t& fieldOrder);

}  // namespace md
