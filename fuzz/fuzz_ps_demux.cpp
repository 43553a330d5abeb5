// The program-stream demultiplexers over arbitrary bytes: Parse from the start,
// then packet splitting and stream discovery over the same buffer.
#include <cstddef>
#include <cstdint>

#include "input/memory_input_stream.h"
#include "mpeg/m1_demux.h"
#include "mpeg/m2_demux.h"

namespace {

template <typename Demux>
void Run(const uint8_t* data, size_t size)
{
    md::MemoryInputStream stream(data, size);
    md::StreamList streams;
    Demux demux;
    demux.Parse(&stream, &streams);
    md::PacketList packets;
    uint8_t stop = 0;
    const auto length = static_cast<uint32_t>(size);
    demux.ParsePackets(data, length, &packets, &stop);
    demux.ParseBuffer(data, length, &streams);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Run<md::M1Demux>(data, size);
    Run<md::M2Demux>(data, size);
    return 0;
}
