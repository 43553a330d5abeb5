// The container probe over arbitrary bytes, with and without the DirecTV hint, in the base behaviour and with every
// extension on.
#include <cstddef>
#include <cstdint>

#include "input/memory_input_stream.h"
#include "mediadetect/records.h"
#include "probe/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (uint32_t hint : {0u, 13u})
        for (uint32_t extensions : {0u, uint32_t(MD_EXT_ALL)}) {
            md::MemoryInputStream stream(data, size);
            const int32_t kind = ProbeMediaKind(&stream, hint, extensions);
            if (kind < 0 || kind > int32_t(extensions ? MK_DV : MK_MATROSKA_PROBED))
                __builtin_trap();
        }
    return 0;
}
