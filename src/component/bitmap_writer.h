// Writing a caller's pixel buffer as a Windows bitmap file: the 14-byte file
// header, the 40-byte BITMAPINFOHEADER and the pixel bytes as given (rows are
// not padded to four bytes).
#pragma once

#include <cstdint>

#include "mediadetect/com.h"
#include "platform/win32.h"

namespace md {

// Writes the bitmap to an open file and closes it. bytesPerPixel is 3 or 4 for
// 24- and 32-bit pixels; 0 writes the headers with bit count 0 and no pixels.
// E_INVALIDARG when a write or the close fails, or when width x height x
// bytesPerPixel is negative or does not fit the header's 32-bit image size.
HRESULT WriteBitmapFile(HANDLE file, const uint8_t* pixels, int64_t width, int64_t height, uint32_t bytesPerPixel);

}  // namespace md
