#include "component/field_order_scan.h"

#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "input/byte_window.h"

namespace md {
namespace {

constexpr uint32_t kWindowCapacity = 20480;
constexpr uint32_t kReadSize = 4096;
constexpr int kMaxReads = 1001;
// Bytes kept at the end of each read so that a header split across two reads is
// seen whole after the next one.
constexpr uint32_t kTail = 32;

}  // namespace

void ScanMpeg2FieldOrder(ZPMP::InputStream& input, uint32_t& fieldOrder)
{
    ByteWindow window;
    if (!window.Allocate(kWindowCapacity, kReadSize))
        return;
    input.Seek(0);
    for (int reads = 0; reads < kMaxReads; ++reads) {
        const uint64_t got = input.Read(window.WritePointer(), kReadSize);
        if (got == 0 || !window.Commit(static_cast<uint32_t>(got)))
            break;
        uint32_t n = 0;
        const uint8_t* data = window.ReadPointer(n);
        bool found = false;
        for (uint32_t i = 0; n > kTail && i < n - kTail; ++i) {
            if (!IsStartCode(data + i, 0x00))  // picture_start_code
                continue;
            for (uint32_t j = i + 4; j + 4 <= n; ++j) {
                if (!IsStartCode(data + j, 0xB5))
                    continue;
                found = true;
                uint32_t order = 0;
                uint8_t progressiveFrame = 0;
                if (ReadFieldOrder(data + j, n - j, order, progressiveFrame) && (order == 1 || order == 2))
                    fieldOrder = order;
                break;
            }
        }
        if (found)
            break;
        if (n > kTail)
            window.Consume(n - kTail);
    }
    window.Free();
}

}  // namespace md
