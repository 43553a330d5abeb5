// The probe's test for bare MPEG video elementary streams.
#include <algorithm>
#include <memory>

#include "es/h264.h"
#include "es/hevc.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "probe/probe.h"
#include "mediadetect/records.h"

namespace {

// A bare H.264 or HEVC byte stream: after any leading zero bytes, a start code whose NAL unit may begin an access
// unit, and parameter sets that parse before the first picture (HEVC: a valid SPS; H.264: a valid SPS and a PPS).
int32_t ProbeAnnexB(const uint8_t* buf, uint32_t len, bool allProfiles)
{
    uint32_t zeros = 0;
    while (zeros < len && zeros < 8 && buf[zeros] == 0)
        ++zeros;
    if (zeros < 2 || zeros >= len || buf[zeros] != 1 || !md::Has(len, zeros, 3))
        return 0;
    const uint8_t h0 = buf[zeros + 1], h1 = buf[zeros + 2];
    const uint32_t hevcType = h0 >> 1 & 0x3F;
    md::HevcPictureProperties hevc{};
    // HEVC: VPS, SPS, PPS, access unit delimiter or prefix SEI, in layer 0 with TemporalId 0.
    if ((h0 & 0x81) == 0 && h1 == 1 && ((hevcType >= 32 && hevcType <= 35) || hevcType == 39))
        return md::DescribeHevcAnnexB(buf, len, hevc) ? int32_t{MK_HEVC_ES} : 0;
    // H.264: SEI, SPS or access unit delimiter.
    const uint32_t h264Type = h0 & 0x1F;
    if ((h0 & 0x80) != 0 || (h264Type != 6 && h264Type != 7 && h264Type != 9))
        return 0;
    md::NalScanInfo scan{};
    md::ScanNalUnits(buf, len, scan);
    if (scan.firstSps == nullptr || scan.ppsCount == 0)
        return 0;
    const uint32_t prefix = scan.firstSps[2] == 1 ? 3 : 4;
    auto sps = std::unique_ptr<md::SpsInfo>(new (std::nothrow) md::SpsInfo());
    return sps && scan.firstSpsLength > prefix &&
                   md::ParseSps(scan.firstSps + prefix, scan.firstSpsLength - prefix, *sps, allProfiles)
               ? int32_t{MK_H264_ES}
               : 0;
}

}  // namespace

int32_t ProbeElementary(const uint8_t* buf, size_t n, uint32_t extensions) noexcept
{
    if (buf == nullptr || n < 4)
        return 0;
    const bool bare = (extensions & MD_EXT_ANNEXB_ES) != 0;
    if (bare && !md::IsStartCodePrefix(buf))
        return ProbeAnnexB(buf, static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX)),
                           (extensions & MD_EXT_H264_PROFILES) != 0);
    if (!md::IsStartCodePrefix(buf))
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
    if (!bare)
        return 0;
    // MPEG-4 Visual as encoders write it: a visual object sequence, visual object, video object or video object
    // layer start code first.
    if ((buf[3] == 0xB0 || buf[3] == 0xB5 || buf[3] <= 0x2F) && md::ParseVolHeader(buf, len, *info))
        return MK_MPEG4_VIDEO_ES;
    return ProbeAnnexB(buf, len, (extensions & MD_EXT_H264_PROFILES) != 0);
}
