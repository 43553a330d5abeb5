// The container probe over arbitrary bytes, with and without the DirecTV hint.
#include <cstddef>
#include <cstdint>

#include "input/memory_input_stream.h"
#include "probe/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (uint32_t hint : {0u, 13u}) {
        md::MemoryInputStream stream(data, size);
        const int32_t kind = ProbeMediaKind(&stream, hint);
        if (kind < 0 || kind > 15)
            __builtin_trap();
    }
    return 0;
}
