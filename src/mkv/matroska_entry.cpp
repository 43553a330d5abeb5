#include "mkv/matroska_entry.h"

#include <new>

#include "mkv/mkv_demux.h"
#include "mkv/mkv_tags.h"
#include "mkv/probe_matroska.h"

namespace {

md::MKVDemux* CreateDemux() noexcept { return new (std::nothrow) md::MKVDemux; }
void DestroyDemux(md::MKVDemux* demux) noexcept { delete demux; }

// Lists the tags in the plugin's own list, then hands each pair to the caller, who copies it into its own.
void ReadTags(ZPMP::InputStream& stream, void* context,
              void (*add)(void* context, const char* key, const char* value) noexcept,
              md::CoverLocation* cover) noexcept
{
    try {
        md::TagList tags;
        md::ReadMatroskaTags(stream, tags, cover);
        for (size_t i = 0; i < tags.Count(); ++i)
            add(context, tags.At(i).key.c_str(), tags.At(i).value.c_str());
    } catch (...) {
        // Out of memory: the tags handed over so far stay.
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const md::MatroskaEntryPoints* md_matroska_entry_points() noexcept
{
    static const md::MatroskaEntryPoints entryPoints{&md::ProbeMatroskaStream, &CreateDemux, &DestroyDemux, &ReadTags};
    return &entryPoints;
}
