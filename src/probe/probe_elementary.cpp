// The probe's test for bare MPEG video elementary streams.
#include <algorithm>
#include <memory>

#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "probe/probe.h"
#include "mediadetect/records.h"

int32_t ProbeElementary(const uint8_t* buf, size_t n) noexcept
{
    if (buf == nullptr || n < 4 || !md::IsStartCodePrefix(buf))
        return 0;
    const uint32_t len = static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX));
    // The parse records carry a 25600-byte header copy: keep them off the stack.
    auto info = std::unique_ptr<md::SequenceHeaderInfo>(new (std::nothrow) md::SequenceHeaderInfo());
    if (!info)
        return 0;
    if (buf[3] == 0xB3) {
        // A sequence header at byte 0: MPEG-2 video when the next start code is a
        // sequence extension, MPEG-1 video otherwise.
        if (!md::ParseSequenceHeader(buf, len, *info, md::kAspectMpeg2))
            return 0;
        const uint8_t* p = buf + 4;
        uint32_t remaining = len - 4;
        if (!md::FindStartCode(p, remaining) || !md::IsStartCodeAt(p, remaining))
            return 0;
        return p[3] == 0xB5 ? int32_t{MK_MPEG2_VIDEO_ES} : int32_t{MK_MPEG1_VIDEO_ES};
    }
    if (buf[3] == 0xB6)
        return md::ParseVolHeader(buf, len, *info) ? int32_t{MK_MPEG4_VIDEO_ES} : 0;
    return 0;
}
