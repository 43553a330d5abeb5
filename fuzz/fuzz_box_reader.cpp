// The box reader over arbitrary bytes: the whole-file walk through an in-memory
// stream, the box list and box parsers straight over the bytes (so leaf readers
// run even when the file is not exactly covered by boxes), every sample entry
// reader, the descriptor chain and the video object layer scan. The tree is
// then walked and searched.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "input/memory_input_stream.h"
#include "mp4/mp4_box.h"
#include "mp4/sample_entry.h"

namespace {

// Visits every record (children, siblings and 'stsd' entries) without
// recursion and checks what must hold for any tree the reader builds.
void WalkTree(const md::Mp4Box* root, size_t inputSize)
{
    std::vector<const md::Mp4Box*> pending;
    if (root != nullptr)
        pending.push_back(root);
    int depth = 0;
    for (const md::Mp4Box* b = root; b != nullptr; b = b->firstChild.get())
        ++depth;
    if (depth > md::kMaxBoxDepth + 2)
        __builtin_trap();
    while (!pending.empty()) {
        const md::Mp4Box* b = pending.back();
        pending.pop_back();
        // Every record was built from bytes it was given ('mdat' from its header,
        // but its size never exceeds the bytes left in the input).
        if (b->BoxSize() > inputSize)
            __builtin_trap();
        if (const auto* stsz = md::BoxAs<md::Mp4StszBox>(b))
            if (stsz->entrySize.size() * 4 > inputSize)
                __builtin_trap();
        if (const auto* avc = md::BoxAs<md::Mp4Avc1Entry>(b))
            for (const auto& set : avc->sequenceParameterSets)
                if (set.length > md::kMaxConfigBytes)
                    __builtin_trap();
        if (b->next)
            pending.push_back(b->next.get());
        if (b->firstChild)
            pending.push_back(b->firstChild.get());
        if (const auto* stsd = md::BoxAs<md::Mp4StsdBox>(b); stsd && stsd->entries)
            pending.push_back(stsd->entries.get());
    }
    for (uint32_t type : {md::FourCC("moov"), md::FourCC("trak"), md::FourCC("stsd"), md::FourCC("stsz"),
                          md::FourCC("udta"), md::FourCC("thmb"), md::FourCC("TAGS"), md::FourCC("moof"),
                          md::FourCC("trun")})
        md::FindBox(root, type);
    md::IsMoovBeforeMdat(root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        md::MemoryInputStream stream(data, size);
        auto root = md::ReadMp4Stream(stream);
        WalkTree(root.get(), size);
    }
    {
        md::Mp4BoxList list = md::ParseBoxList(data, size);
        if (list.consumed > size)
            __builtin_trap();
        WalkTree(list.first.get(), size);
    }
    if (size >= 8) {
        const md::Bytes box(data, size);
        for (auto reader : {md::ReadMp4vEntry, md::ReadAvc1Entry, md::ReadS263Entry, md::ReadVisualEntry,
                            md::ReadMp4aEntry, md::ReadAudioEntry, md::ReadAmrEntry})
            WalkTree(reader(box, 8).get(), size);
    }
    // Codec configuration is at most a few hundred bytes; a bounded prefix keeps
    // the replay of large sample files fast.
    const size_t head = std::min<size_t>(size, 4096);
    const md::EsdsInfo esds = md::ReadEsdsInfo(data, head);
    if (esds.decoderSpecificInfoLength > md::kMaxConfigBytes)
        __builtin_trap();
    md::ScanVolHeader(data, head);
    md::ParseDescriptor(data, head);
    return 0;
}
