// The container families beyond MPEG, MP4 and Matroska over arbitrary bytes: each family's probe test, then its
// demultiplexer. A demultiplexer answers 0 or 1; its records stay within the stream limit; its times are -1 or
// ordered (a start no later than either end, never a negative duration). With MD_EXT_TAGS every other run, a
// cover picture placed is within the limit.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "input/memory_input_stream.h"
#include "mediadetect/interfaces.h"
#include "probe/families.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const md::ContainerFamily& family : md::ContainerFamilies()) {
        md::MemoryInputStream stream(data, size);
        family.probe({.head = md::Bytes(data, size), .headOffset = 0, .fileSize = size, .stream = &stream});
        const auto demux = family.make();
        if (size % 2 == 0)
            demux->SetExtensions(MD_EXT_TAGS);
        md::StreamList streams;
        const uint32_t result = demux->Parse(&stream, &streams);
        Check(result <= 1 && streams.Count() <= md::kMaxFileStreams);
        const TimeRangeInfo& r = demux->Times().range;
        for (const int64_t end : {r.videoEndTime, r.audioEndTime})
            Check(end == -1 || (r.startTime >= 0 && end >= r.startTime));
        Check(r.startTime >= -1);
        Check(demux->Cover().length <= md::kMaxCoverBytes);
    }
    return 0;
}
