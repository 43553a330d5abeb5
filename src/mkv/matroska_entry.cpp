#include "mkv/matroska_entry.h"

#include <new>

#include "mkv/mkv_demux.h"
#include "mkv/probe_matroska.h"

namespace {

md::MKVDemux* CreateDemux() noexcept { return new (std::nothrow) md::MKVDemux; }
void DestroyDemux(md::MKVDemux* demux) noexcept { delete demux; }

}  // namespace

extern "C" __attribute__((visibility("default"))) const md::MatroskaEntryPoints* md_matroska_entry_points() noexcept
{
    static const md::MatroskaEntryPoints entryPoints{&md::ProbeMatroskaStream, &CreateDemux, &DestroyDemux};
    return &entryPoints;
}
