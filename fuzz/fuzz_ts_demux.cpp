// The transport stream demultiplexer over arbitrary bytes, as the detector
// drives it: a listing Parse, the program queries, then a Parse with the first
// video and audio PID of the first program selected, the time range and the
// key-picture search from the start and from the middle, then the selected Parse with every extension on. The
// lister reads the SDT (MD_EXT_TAGS): every service name it lists is valid UTF-8 of bounded length.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "input/memory_input_stream.h"
#include "mediadetect/interfaces.h"
#include "ts/ts_demux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int32_t videoPid = 0;
    int32_t audioPid = 0;
    {
        md::MemoryInputStream in(data, size);
        md::TSDemux lister;
        lister.SetExtensions(MD_EXT_TAGS);
        lister.Parse(&in, nullptr);
        md::TagList tags;
        lister.ServiceTags(-1, tags);
        for (size_t i = 0; i < tags.Count(); ++i)
            Check(tags.At(i).value.size() <= md::kMaxServiceNameBytes &&
                  md::CleanUtf8(tags.At(i).value, md::kMaxServiceNameBytes) == tags.At(i).value);
        uint32_t count = 0;
        uint32_t pmtPids[md::kTsMaxPrograms] = {};
        int32_t videoCount = 0;
        int32_t audioCount = 0;
        uint32_t video[md::kTsMaxStreams] = {};
        uint32_t audio[md::kTsMaxStreams] = {};
        if (lister.GetProgramList(count, pmtPids)) {
            for (uint32_t i = 0; i < count; ++i)
                lister.GetProgramStreams(pmtPids[i], videoCount, video, audioCount, audio);
            videoCount = audioCount = 0;
            lister.GetProgramStreams(0, videoCount, video, audioCount, audio);
            videoPid = videoCount > 0 ? int32_t(video[0]) : 0;
            audioPid = audioCount > 0 ? int32_t(audio[0]) : 0;
        }
    }

    md::MemoryInputStream in(data, size);
    md::TSDemux demux;
    demux.SetSelection(videoPid, 0, audioPid, 0);
    md::StreamList streams;
    demux.Parse(&in, &streams);
    TimeRangeInfo range{};
    demux.GetTimeRange(range);
    uint8_t registration = 0;
    demux.HasRegistrationDescriptor(registration);
    int64_t time = 0;
    md::MemoryInputStream again(data, size);
    demux.FindKeyframeTime(&again, 0, time);
    demux.FindKeyframeTime(&again, int64_t(size / 2), time);

    // The same selection with every extension: more stream types and descriptors, the H.264 field order.
    md::MemoryInputStream extendedInput(data, size);
    md::TSDemux extended;
    extended.SetExtensions(MD_EXT_ALL);
    extended.SetSelection(videoPid, 0, audioPid, 0);
    md::StreamList extendedStreams;
    extended.Parse(&extendedInput, &extendedStreams);
    return 0;
}
