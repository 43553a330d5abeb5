// The BITMAPINFOHEADER video description that AVI stream formats and ASF stream properties carry (40 bytes,
// little-endian), and the video codec its compression FourCC names.
#pragma once

#include <cstdint>

#include "demux/stream_record.h"
#include "input/bytes.h"

namespace md {

struct BitmapInfo {
    uint32_t width = 0;
    uint32_t height = 0;       // the magnitude of biHeight (negative for top-down pictures)
    uint16_t bitCount = 0;
    uint32_t compression = 0;  // biCompression as its four bytes in file order, read big-endian ('XVID' = FourCC("XVID"))
    Bytes extra;               // the bytes after biSize (codec configuration: an avcC, a WMV sequence header, ...)
};

// Reads the 40-byte header at the start of b. False for fewer bytes, a biSize below 40 or a picture without width
// or height.
bool ParseBitmapInfo(Bytes b, BitmapInfo& out);

// The codec of a compression FourCC (0, BI_RGB, is uncompressed); StreamCodec::VfwVideo for one no record describes.
StreamCodec BitmapCodec(uint32_t compression);

}  // namespace md
