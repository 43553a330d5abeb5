#include "dv/dv_demux.h"

#include <algorithm>
#include <vector>

#include "es/dv_dif.h"

namespace md {

bool ProbeDv(const ProbeInput& input) { return IsDvFrameStart(input.head); }

uint32_t DvDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    // One read covers the largest frame described (a 50 Mbps 625/50 frame, 288000 bytes).
    const uint64_t fileSize = input->Size();
    std::vector<uint8_t> frame(static_cast<size_t>(std::min<uint64_t>(fileSize, kMaxDvFrameBytes)));
    frame.resize(ZPMP::ReadAt(*input, 0, frame.data(), static_cast<uint32_t>(frame.size())));
    if (!IsDvFrameStart(frame))
        return 0;
    DvFrameInfo info;
    if (!ParseDvFrame(frame, info))
        return 1;

    if (streams) {
        auto video = NewStreamRecord();
        if (!video)
            return 1;
        video->streamClass = StreamClass::Video;
        video->streamId = 1;
        FillDvVideoRecord(info, *video);
        streams->Append(std::move(video));
        for (uint32_t k = 0; k < info.audioStreams; ++k) {
            auto audio = NewStreamRecord();
            if (!audio || !FillDvAudioRecord(info, k, *audio))
                break;
            audio->streamClass = StreamClass::Audio;
            audio->streamId = 2 + k;
            streams->Append(std::move(audio));
        }
    }

    // Whole frames only: a file cut inside its first frame has no duration.
    const uint64_t frames = fileSize / info.frameBytes;
    if (frames == 0)
        return 1;
    const int64_t duration =
        SamplesToUnits(frames * info.rateDenominator, info.rateNumerator);  // frames x den / num seconds
    const auto frameDuration = static_cast<uint32_t>(DvFrameDuration(info));
    m_times.SetVideo(duration, frameDuration);
    if (info.audioStreams > 0)
        m_times.SetAudio(duration, frameDuration);
    return 1;
}

}  // namespace md
