#include "avi/avi_headers.h"

#include <algorithm>

namespace md {
namespace {

// No list of a header holds more chunks than this (a 'strl' has a handful, 'hdrl' one per stream and a few more).
constexpr int kMaxChunksPerList = 256;
constexpr size_t kChunkHeaderSize = 8;
constexpr size_t kMainHeaderMinSize = 40;  // 'avih' up to dwHeight (56 bytes with dwReserved)
constexpr size_t kStreamHeaderMinSize = 48;  // 'strh' up to dwSampleSize (56 bytes with rcFrame)
constexpr size_t kVideoPropertiesMinSize = 24;  // 'vprp' up to dwFrameAspectRatio

void ReadStreamList(Bytes b, AviStream& s)
{
    size_t off = 0;
    RiffChunk c;
    for (int n = 0; n < kMaxChunksPerList && ReadRiffChunk(b, off, c, off); ++n) {
        if (c.id == FourCC("strh") && c.body.size() >= kStreamHeaderMinSize) {
            const Bytes h = c.body;
            s.hasHeader = true;
            s.header = {Be32At(h, 0),  Be32At(h, 4),  Le32At(h, 20), Le32At(h, 24),
                        Le32At(h, 28), Le32At(h, 32), Le32At(h, 44)};
        } else if (c.id == FourCC("strf")) {
            s.format = c.body;
        } else if (c.id == FourCC("vprp") && c.body.size() >= kVideoPropertiesMinSize) {
            // dwFrameAspectRatio: X in the high word, Y in the low word (0x00040003 is 4:3).
            const uint32_t ratio = Le32At(c.body, 20);
            if ((ratio >> 16) != 0 && (ratio & 0xFFFF) != 0)
                s.aspectX = ratio >> 16, s.aspectY = ratio & 0xFFFF;
        }
    }
}

}  // namespace

bool ReadRiffChunk(Bytes b, size_t off, RiffChunk& out, size_t& next)
{
    if (!Has(b, off, kChunkHeaderSize))
        return false;
    out = {};
    out.id = Be32At(b, off);
    out.size = Le32At(b, off + 4);
    const size_t bodyStart = off + kChunkHeaderSize;
    const size_t available = std::min<size_t>(out.size, b.size() - bodyStart);
    out.body = b.subspan(bodyStart, available);
    if (out.id == FourCC("LIST") && out.body.size() >= 4) {
        out.listType = Be32At(out.body, 0);
        out.body = out.body.subspan(4);
    }
    // Chunks are padded to an even size; a size past the span ends the walk after this chunk.
    next = available < out.size ? b.size() : bodyStart + available + (available & 1);
    return true;
}

bool ParseHeaderList(Bytes b, AviHeaders& out)
{
    out = {};
    size_t off = 0;
    RiffChunk c;
    for (int n = 0; n < kMaxChunksPerList && ReadRiffChunk(b, off, c, off); ++n) {
        if (c.id == FourCC("avih") && c.body.size() >= kMainHeaderMinSize) {
            out.main = {true, Le32At(c.body, 0), Le32At(c.body, 16), Le32At(c.body, 32), Le32At(c.body, 36)};
        } else if (c.id == FourCC("LIST") && c.listType == FourCC("strl")) {
            if (out.streamCount < kMaxFileStreams)
                ReadStreamList(c.body, out.streams[out.streamCount++]);
        } else if (c.id == FourCC("LIST") && c.listType == FourCC("odml")) {
            size_t inner = 0;
            RiffChunk d;
            for (int k = 0; k < kMaxChunksPerList && ReadRiffChunk(c.body, inner, d, inner); ++k)
                if (d.id == FourCC("dmlh") && d.body.size() >= 4)
                    out.odmlTotalFrames = Le32At(d.body, 0);
        }
    }
    return out.main.present;
}

}  // namespace md
