#include "mkv/probe_matroska.h"

#include <memory>

#include <ebml/EbmlHead.h>
#include <ebml/EbmlStream.h>
#include <ebml/EbmlSubHead.h>

#include "mediadetect/records.h"
#include "mkv/ebml_reader.h"

namespace md {
namespace {

// Bytes read before the header's size is known: ID (4) and size (up to 8) fit.
constexpr uint64_t kFirstRead = 16;

// Whether the children of the EBML header between start and end, walked by their
// heads, are all whole elements of known size and none is a DocType.
bool LacksDocType(EbmlWindow& window, uint64_t start, uint64_t end)
{
    constexpr uint64_t kDocTypeId = 0x4282;
    for (uint64_t pos = start; pos < end;) {
        ElementHeader child;
        if (ReadElementHeader(window.From(pos), child) != HeaderRead::Ok || child.unknownSize ||
            child.TotalSize() > end - pos || child.id == kDocTypeId)
            return false;
        pos += child.TotalSize();
    }
    return true;
}

// MK_MATROSKA_PROBED for a DocType "matroska", MK_WEBM for "webm" when webm is
// set, else 0.
int32_t ReadDocType(EbmlWindow& window, bool lenient, bool webm)
{
    libebml::MemIOCallback& io = window.Io();
    io.setFilePointer(0);
    libebml::EbmlStream stream(io);
    // The element at offset 0 must be the EBML header (any data size).
    std::unique_ptr<libebml::EbmlElement> head(stream.FindNextID(EBML_INFO(libebml::EbmlHead), UINT64_MAX));
    if (!head || !HasId<libebml::EbmlHead>(*head) || !head->IsFiniteSize())
        return 0;
    const uint64_t end = head->ElementSize(true);
    if (end > EbmlWindow::kCapacity)
        return 0;
    // A header cut by the end of the file is walked as far as it goes.
    window.Fill(end);

    const libebml::EbmlSemanticContext& context = EBML_CLASS_CONTEXT(libebml::EbmlHead);
    const uint64_t children = head->GetElementPosition() + head->HeadSize();
    // Without a DocType the EBML default holds: "matroska".
    if (lenient && LacksDocType(window, children, end))
        return MK_MATROSKA_PROBED;
    io.setFilePointer(static_cast<int64_t>(children));
    for (;;) {
        const uint64_t pos = io.getFilePointer();
        if (pos >= end)
            return 0;
        int upperLevel = 0;
        std::unique_ptr<libebml::EbmlElement> child(stream.FindNextElement(context, upperLevel, end - pos, false));
        if (!child || upperLevel != 0)
            return 0;
        if (HasId<libebml::EDocType>(*child)) {
            // A DocType cut by the end of the file cannot be compared (and libebml
            // would throw reading it).
            if (child->GetElementPosition() + child->HeadSize() + child->GetSize() > window.From(0).size())
                return 0;
            child->ReadData(io);
            const auto* docType = dynamic_cast<const libebml::EDocType*>(child.get());
            if (docType != nullptr && IsMatroskaDocType(*docType, lenient))
                return MK_MATROSKA_PROBED;
            if (webm && docType != nullptr && IsWebmDocType(*docType, lenient))
                return MK_WEBM;
        } else {
            // SkipData may hand back an element it met instead of skipping.
            std::unique_ptr<libebml::EbmlElement> met(child->SkipData(stream, context));
        }
        if (io.getFilePointer() <= pos)
            return 0;
    }
}

}  // namespace

int32_t ProbeMatroskaStream(ZPMP::InputStream& stream, bool lenient, bool webm) noexcept
{
    try {
        // The EBML header's ID starts with 0x1A; a first byte of 0x10 or below is
        // taken for some other format at once, before the read window (which
        // reads in large chunks) is set up.
        uint8_t first[kFirstRead] = {};
        if (stream.Seek(0) != 0 || stream.Read(first, sizeof first) == 0 || first[0] <= 0x10)
            return 0;
        EbmlWindow window(stream);
        if (!window.ok())
            return 0;
        window.Restart(0);
        window.Fill(kFirstRead);
        return ReadDocType(window, lenient, webm);
    } catch (...) {
        return 0;
    }
}

}  // namespace md
