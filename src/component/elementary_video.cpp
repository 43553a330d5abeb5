#include "component/elementary_video.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "es/hevc.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "mediadetect/records.h"
#include "mpeg/m1_demux.h"
#include "ts/ts_records.h"

namespace md {
namespace {

// Parameter sets, sequence headers and the first pictures' headers all lie well inside this.
constexpr uint32_t kHeadBytes = 128 * 1024;

std::unique_ptr<StreamRecord> DescribeMpeg4Visual(const uint8_t* p, uint32_t len)
{
    auto info = std::unique_ptr<SequenceHeaderInfo>(new (std::nothrow) SequenceHeaderInfo());
    auto rec = NewStreamRecord();
    if (!info || !rec || !ParseVolHeader(p, len, *info))
        return nullptr;
    rec->streamClass = StreamClass::Video;
    rec->codec = StreamCodec::Mpeg4Video;
    // Without fixed_vop_rate the VOL's rate is a default: the VOP times tell the real one.
    double fps = 0;
    if (info->unfixedVopResolution != 0 && Mpeg4VopRate(p, len, info->unfixedVopResolution, fps)) {
        info->frameRate = fps;
        info->frameDuration = static_cast<int64_t>(1e7 / fps);
        info->statedFrameDuration = static_cast<uint32_t>(info->frameDuration);
    }
    ApplySequenceHeader(*info, *rec);
    rec->progressive = 1;
    // The configuration headers run from the first start code to the first group_of_VOP or VOP.
    if (info->headerLength > 0 && uint32_t(info->headerLength) <= std::min<uint64_t>(len, kExtraDataSize)) {
        rec->extraData1Length = info->headerLength;
        std::memcpy(rec->extraData1, p, uint32_t(info->headerLength));
    }
    if (rec->video.aspectX == 1 && rec->video.aspectY == 1)
        AspectFromSampleAspect(rec->video.aspectX, rec->video.aspectY, rec->video.width, rec->video.height);
    return rec;
}

}  // namespace

std::unique_ptr<StreamRecord> DescribeElementaryVideo(ZPMP::InputStream& input, uint32_t kind, bool allH264Profiles)
{
    std::vector<uint8_t> head(kHeadBytes);
    input.Seek(0);
    const auto len = static_cast<uint32_t>(std::min<uint64_t>(input.Read(head.data(), kHeadBytes), kHeadBytes));
    const uint8_t* p = head.data();
    switch (kind) {
    case MK_MPEG1_VIDEO_ES: return BuildMpeg1VideoRecord(p, len, 0xE0);
    case MK_MPEG4_VIDEO_ES: return DescribeMpeg4Visual(p, len);
    case MK_MPEG2_VIDEO_ES:
    case MK_H264_ES: {
        auto rec = NewStreamRecord();
        uint8_t mpeg1 = 0, headersFound = 0;
        const uint32_t mode = kind == MK_H264_ES ? kModeH264 : kModeMpegVideo;
        if (!rec || BuildTsVideoRecord(p, len, mode, 0xE0, mpeg1, headersFound, *rec, allH264Profiles) !=
                        TsVideoBuild::Built)
            return nullptr;
        return rec;
    }
    case MK_HEVC_ES: {
        auto rec = NewStreamRecord();
        HevcPictureProperties props{};
        if (!rec || !DescribeHevcAnnexB(p, len, props))
            return nullptr;
        ApplyHevcProperties(props, *rec);
        rec->streamId = 0xE0;
        return rec;
    }
    default: return nullptr;
    }
}

}  // namespace md
