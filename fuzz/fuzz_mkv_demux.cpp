// The Matroska probe and demultiplexer over arbitrary bytes: the probe, Parse
// without and with a track selection (which runs the cue-point frame searches),
// then packet splitting of the same bytes fed in two pieces; and the tag reader,
// whose cover starts within the file (its stated length may run past the end of
// a cut file: the detector drops such a cover).
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "input/memory_input_stream.h"
#include "mkv/mkv_demux.h"
#include "mkv/mkv_tags.h"
#include "mkv/probe_matroska.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    md::MemoryInputStream stream(data, size);
    md::ProbeMatroskaStream(stream);

    md::TagList tags;
    md::CoverLocation cover;
    md::ReadMatroskaTags(stream, tags, &cover);
    Check(tags.Count() <= md::kMaxTags);
    Check(cover.offset <= size && cover.length <= md::kMaxCoverBytes);

    md::StreamList streams;
    md::MKVDemux listing;
    listing.Parse(&stream, &streams);
    streams.Clear();

    md::MKVDemux selected;
    selected.SelectTracks(1, 0, 2, 0);
    selected.Parse(&stream, &streams);
    TimeRangeInfo range;
    selected.GetTimeRange(range);

    md::PacketList packets;
    uint8_t lostSync = 0;
    const auto length = static_cast<uint32_t>(size);
    const uint32_t half = length / 2;
    const uint32_t used = selected.ParsePackets(data, half, &packets, &lostSync);
    selected.ParsePackets(data + used, length - used, &packets, &lostSync);
    return 0;
}
