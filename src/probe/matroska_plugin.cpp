#include "probe/matroska_plugin.h"

#include <dlfcn.h>
#include <string>

// Defined when md_mkv is linked into the program; null in the module.
extern "C" const md::MatroskaEntryPoints* md_matroska_entry_points() noexcept __attribute__((weak));

namespace md {
namespace {

using EntryPointsFn = const MatroskaEntryPoints* (*)() noexcept;

const MatroskaEntryPoints* LoadPlugin() noexcept
{
    // The plugin lies in the folder of the module this code is part of.
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&LoadPlugin), &self) == 0 || self.dli_fname == nullptr)
        return nullptr;
    try {
        std::string path = self.dli_fname;
        path = path.substr(0, path.find_last_of('/') + 1) + "libmdmatroska.so";
        // Never closed: demultiplexers it made may outlive any owner we could give it.
        // Bound lazily: libmatroska, libebml and libstdc++ import thousands of functions
        // of which an examination calls a few dozen, and binding them all up front is a
        // sixth of the load (their sonames fix the interfaces, so none can be missing).
        void* plugin = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (plugin == nullptr)
            return nullptr;
        const auto entry = reinterpret_cast<EntryPointsFn>(::dlsym(plugin, "md_matroska_entry_points"));
        return entry != nullptr ? entry() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

const MatroskaEntryPoints* MatroskaCode() noexcept
{
    if (md_matroska_entry_points != nullptr)
        return md_matroska_entry_points();
    static const MatroskaEntryPoints* const loaded = LoadPlugin();
    return loaded;
}

void MatroskaDemuxDeleter::operator()(MKVDemux* demux) const noexcept
{
    // Only the code that made a demultiplexer exists to give it back to.
    if (demux != nullptr)
        MatroskaCode()->destroyDemux(demux);
}

MatroskaDemuxPtr NewMatroskaDemux() noexcept
{
    const MatroskaEntryPoints* code = MatroskaCode();
    return MatroskaDemuxPtr(code != nullptr ? code->createDemux() : nullptr);
}

void ReadMatroskaFileTags(ZPMP::InputStream& stream, TagList& tags, CoverLocation* cover) noexcept
{
    const MatroskaEntryPoints* code = MatroskaCode();
    if (code == nullptr)
        return;
    // Called from the plugin: the copy into the module's own list throws nothing back across.
    const auto add = [](void* context, const char* key, const char* value) noexcept {
        try {
            static_cast<TagList*>(context)->Set(key, value);
        } catch (...) {
            // Out of memory: this tag is left out.
        }
    };
    code->readTags(stream, &tags, add, cover);
}

}  // namespace md
