#include "component/elementary_video.h"

#include <algorithm>
#include <vector>

#include "es/hevc.h"
#include "es/mpeg_video.h"
#include "mediadetect/records.h"
#include "mpeg/m1_demux.h"
#include "ts/ts_records.h"

namespace md {

// Parameter sets, sequence headers and the first pictures' headers all lie well inside this.
constexpr uint32_t kHeadBytes = 128 * 1024;

std::unique_ptr<StreamRecord> DescribeElementaryVideo(ZPMP::InputStream& input, uint32_t kind, uint32_t extensions)
{
    std::vector<uint8_t> head(kHeadBytes);
    input.Seek(0);
    const auto len = static_cast<uint32_t>(std::min<uint64_t>(input.Read(head.data(), kHeadBytes), kHeadBytes));
    const uint8_t* p = head.data();
    switch (kind) {
    case MK_MPEG1_VIDEO_ES: return BuildMpeg1VideoRecord(p, len, 0xE0);
    case MK_MPEG4_VIDEO_ES: {
        auto rec = NewStreamRecord();
        if (!rec || !FillMpeg4VisualRecord(p, len, *rec, true))
            return nullptr;
        rec->streamClass = StreamClass::Video;
        rec->codec = StreamCodec::Mpeg4Video;
        return rec;
    }
    case MK_MPEG2_VIDEO_ES:
    case MK_H264_ES: {
        auto rec = NewStreamRecord();
        uint8_t mpeg1 = 0, headersFound = 0;
        const uint32_t mode = kind == MK_H264_ES ? kModeH264 : kModeMpegVideo;
        const bool allH264Profiles = (extensions & MD_EXT_H264_PROFILES) != 0;
        if (!rec || BuildTsVideoRecord(p, len, mode, 0xE0, mpeg1, headersFound, *rec, allH264Profiles, extensions) !=
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
        CollectHevcHeaders(p, len, false, *rec);
        rec->streamId = 0xE0;
        return rec;
    }
    default: return nullptr;
    }
}

}  // namespace md
