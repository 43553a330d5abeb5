// The DirecTV parser over arbitrary bytes: a first Parse without a list reads
// the program table, then a second parser selects the table's first video and
// audio SCIDs and parses again with a list, as the detector does.
#include <cstddef>
#include <cstdint>

#include "input/memory_input_stream.h"
#include "mediadetect/records.h"
#include "ts/directv_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    md::CDirecTVParser table;
    {
        md::MemoryInputStream stream(data, size);
        if (table.Parse(&stream, nullptr) == 0)
            return 0;
    }
    TimeRangeInfo range{};
    table.GetTimeRange(range);
    for (uint32_t n = 0; n <= table.GetVideoStreamCount() + 1; ++n)
        table.GetVideoStreamScid(n);
    for (uint32_t n = 0; n <= table.GetAudioStreamCount() + 1; ++n)
        table.GetStreamType(static_cast<uint32_t>(table.GetAudioStreamScid(n)));

    md::CDirecTVParser selected;
    selected.SelectVideoScid(table.GetVideoStreamScid(1));
    selected.SelectAudioScid(table.GetAudioStreamScid(1));
    md::MemoryInputStream stream(data, size);
    md::StreamList streams;
    selected.Parse(&stream, &streams);
    selected.GetTimeRange(range);
    return 0;
}
