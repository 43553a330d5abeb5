// The header list of an AVI file (RIFF 'AVI '): 'hdrl' holds the main header 'avih', one 'strl' list per stream
// ('strh' stream header, 'strf' stream format, and where the writer adds them the OpenDML 'indx' and the video
// properties 'vprp'), and the OpenDML 'odml' list whose 'dmlh' counts the frames of every RIFF of the file. All
// little-endian; chunks are padded to even sizes.
#pragma once

#include <array>
#include <cstdint>

#include "demux/file_demux.h"
#include "input/bytes.h"

namespace md {

// The chunk walk over a list body: each chunk's id, its body (cut to the list's end when its size runs past it)
// and the offset of the next chunk.
struct RiffChunk {
    uint32_t id = 0;  // the four bytes in file order, read big-endian (FourCC("strh"))
    uint32_t size = 0;  // as stated
    Bytes body;  // at most size bytes, inside the walked span
    uint32_t listType = 0;  // for 'LIST' chunks: the list type, and body is what follows it
};

// The chunk at offset off of b; false when no chunk header fits there.
bool ReadRiffChunk(Bytes b, size_t off, RiffChunk& out, size_t& next);

struct AviMainHeader {
    bool present = false;
    uint32_t microSecPerFrame = 0;  // dwMicroSecPerFrame
    uint32_t totalFrames = 0;  // dwTotalFrames: the frames of the first RIFF
    uint32_t width = 0;
    uint32_t height = 0;
};

struct AviStreamHeader {
    uint32_t type = 0;  // fccType: 'vids', 'auds', 'txts', 'iavs', ...
    uint32_t handler = 0;  // fccHandler
    uint32_t scale = 0;  // dwScale: the stream's time unit is dwScale / dwRate seconds
    uint32_t rate = 0;  // dwRate
    uint32_t start = 0;  // dwStart, in that unit
    uint32_t length = 0;  // dwLength, in that unit
    uint32_t sampleSize = 0;
};

struct AviStream {
    bool hasHeader = false;  // a 'strh' of the full 56 (at least 48) bytes
    AviStreamHeader header;
    Bytes format;  // the 'strf' body (BITMAPINFOHEADER, WAVEFORMATEX, ...)
    uint32_t aspectX = 0;  // 'vprp' dwFrameAspectRatio (high word : low word); 0 when absent or 0
    uint32_t aspectY = 0;
};

struct AviHeaders {
    AviMainHeader main;
    uint32_t odmlTotalFrames = 0;  // 'dmlh' dwTotalFrames, 0 when absent
    uint32_t streamCount = 0;  // 'strl' lists, in order (stream n's chunks in 'movi' are named n), at most
                               // kMaxFileStreams
    std::array<AviStream, kMaxFileStreams> streams{};
};

// Reads the body of 'LIST' 'hdrl' (what follows the list type). Chunks whose sizes run past b are read as far as b
// reaches. False when b holds no 'avih'.
bool ParseHeaderList(Bytes b, AviHeaders& out);

}  // namespace md
