// The duration of a raw stream of audio frames (AC-3, E-AC-3, DTS, AMR) measured from a bounded sample of it: the
// frames of the sample are counted; where the sample does not reach the end of the stream, the rest is taken to
// hold as many samples per byte as the sample did.
#pragma once

#include <cmath>
#include <cstdint>

#include "demux/file_demux.h"

namespace md {

// Past this (about 29,000 years in 100-ns units) an extrapolated duration is no duration.
constexpr double kMaxDuration = 9.0e18;

struct FrameSample {
    uint64_t samples = 0;  // audio samples of the whole frames counted
    uint64_t bytes = 0;  // bytes those frames (and the substreams between them) take
    bool wholeStream = false;  // the count ran to the end of the stream (a last frame cut short is not counted)
};

// Sets the audio times of a stream of streamBytes bytes at rate Hz from sample; frameDuration (100-ns units) is
// the duration of one frame. Unknown when nothing was counted and the stream is not known to be empty.
inline void SetSampledDuration(FileTimes& times, const FrameSample& sample, uint32_t rate, uint64_t streamBytes,
                               uint32_t frameDuration)
{
    if (rate == 0)
        return;
    const int64_t counted = SamplesToUnits(sample.samples, rate);
    if (sample.wholeStream) {
        times.SetAudio(counted, frameDuration);
        return;
    }
    if (sample.bytes == 0 || sample.samples == 0)
        return;
    const double scale = static_cast<double>(streamBytes) / static_cast<double>(sample.bytes);
    const double duration = static_cast<double>(counted) * scale;
    if (!(duration < kMaxDuration))
        return;
    times.SetAudio(std::llround(duration), frameDuration);
    times.estimated = true;
}

}  // namespace md
