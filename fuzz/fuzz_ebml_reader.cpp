// The EBML reader over arbitrary bytes: element headers are decoded at every
// position a walk of the element tree reaches (each element's data is walked as
// a list of children, a few levels deep), and at each header whose ID names one
// of the master elements the Matroska reader reads whole (the EBML header, Info,
// SeekHead, Tracks and a TrackEntry, Cues; never a Cluster, whose blocks are
// parsed without libmatroska), that master is read through the window and every
// value of its tree is taken. A decoded header must fit the bytes it came from
// and a tree read must keep each child inside its parent.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <ebml/EbmlHead.h>
#include <ebml/EbmlSInteger.h>
#include <ebml/EbmlSubHead.h>
#include <ebml/EbmlUnicodeString.h>
#include <matroska/KaxCues.h>
#include <matroska/KaxCuesData.h>
#include <matroska/KaxInfo.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSemantic.h>
#include <matroska/KaxTracks.h>

#include "input/memory_input_stream.h"
#include "mkv/ebml_reader.h"
#include "fuzz_check.h"

namespace {

constexpr int kMaxDepth = 5;
constexpr int kMaxHeaders = 4000;

// Takes every value of the tree; a binary element's bytes are read in full.
uint64_t TakeValues(const libebml::EbmlMaster& master, int depth)
{
    uint64_t sink = 0;
    uint64_t childBytes = 0;
    for (const libebml::EbmlElement* e : master.GetElementList()) {
        childBytes += e->GetSize();
        if (const auto* m = dynamic_cast<const libebml::EbmlMaster*>(e)) {
            if (depth < 32)
                sink += TakeValues(*m, depth + 1);
        } else if (const auto* u = dynamic_cast<const libebml::EbmlUInteger*>(e)) {
            sink += u->GetValue();
        } else if (const auto* s = dynamic_cast<const libebml::EbmlSInteger*>(e)) {
            sink += static_cast<uint64_t>(s->GetValue());
        } else if (const auto* f = dynamic_cast<const libebml::EbmlFloat*>(e)) {
            sink += f->GetValue() > 0 ? 1 : 0;
        } else if (const auto* t = dynamic_cast<const libebml::EbmlString*>(e)) {
            sink += t->GetValue().size();
        } else if (const auto* w = dynamic_cast<const libebml::EbmlUnicodeString*>(e)) {
            sink += w->GetValueUTF8().size();
        } else if (const auto* b = dynamic_cast<const libebml::EbmlBinary*>(e)) {
            for (uint8_t byte : md::BinaryBytes(b))
                sink += byte;
        }
    }
    Check(childBytes <= master.GetSize());
    return sink;
}

// Reads the master element of the header's class at pos, when it names one.
void ReadKnownMaster(md::EbmlWindow& window, const md::ElementHeader& header, uint64_t pos)
{
    std::unique_ptr<libebml::EbmlMaster> master;
    if (md::HasId<libebml::EbmlHead>(header))
        master = md::ReadMaster<libebml::EbmlHead>(window, pos);
    else if (md::HasId<libmatroska::KaxInfo>(header))
        master = md::ReadMaster<libmatroska::KaxInfo>(window, pos);
    else if (md::HasId<libmatroska::KaxSeekHead>(header))
        master = md::ReadMaster<libmatroska::KaxSeekHead>(window, pos);
    else if (md::HasId<libmatroska::KaxTracks>(header))
        master = md::ReadMaster<libmatroska::KaxTracks>(window, pos);
    else if (md::HasId<libmatroska::KaxTrackEntry>(header))
        master = md::ReadMaster<libmatroska::KaxTrackEntry>(window, pos);
    else if (md::HasId<libmatroska::KaxCues>(header))
        master = md::ReadMaster<libmatroska::KaxCues>(window, pos);
    if (!master)
        return;
    Check(master->GetSize() == header.size);
    TakeValues(*master, 0);
    if (const auto* docType = md::FindFirst<libebml::EDocType>(*master))
        md::IsMatroskaDocType(*docType);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const md::Bytes bytes(data, size);
    md::MemoryInputStream stream(data, size);
    md::EbmlWindow window(stream);
    if (!window.ok())
        return 0;
    window.Restart(0);

    struct Span {
        uint64_t pos;
        uint64_t end;
        int depth;
    };
    std::vector<Span> pending = {{0, size, 0}};
    int headers = 0;
    while (!pending.empty() && headers < kMaxHeaders) {
        Span span = pending.back();
        pending.pop_back();
        while (span.pos < span.end && headers < kMaxHeaders) {
            md::ElementHeader header;
            const md::Bytes at = bytes.subspan(span.pos, span.end - span.pos);
            if (md::ReadElementHeader(at, header) != md::HeaderRead::Ok)
                break;
            ++headers;
            Check(header.idLength >= 1 && header.idLength <= 4);
            Check(header.headSize > header.idLength && header.headSize <= header.idLength + 8);
            Check(header.headSize <= at.size());
            ReadKnownMaster(window, header, span.pos);
            if (header.unknownSize || header.size > span.end - span.pos - header.headSize)
                break;
            if (span.depth < kMaxDepth && header.size >= 2)
                pending.push_back({span.pos + header.headSize, span.pos + header.TotalSize(), span.depth + 1});
            span.pos += header.TotalSize();
        }
    }
    return 0;
}
