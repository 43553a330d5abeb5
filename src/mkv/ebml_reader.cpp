#include "mkv/ebml_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <ebml/EbmlUnicodeString.h>

#include <ebml/EbmlElement.h>

namespace md {
namespace {

// Bytes read at a time when the window grows; a small element still costs one
// read of this size, which saves a read per element for headers that follow.
constexpr uint64_t kFillChunk = 0x10000;

// Longest element head: a 4-byte ID and an 8-byte size.
constexpr size_t kMaxIdLength = 4;
constexpr size_t kMaxSizeLength = 8;

// Nesting depth of master elements that is checked; Matroska's own tables nest
// less deeply than this.
constexpr int kMaxDepth = 16;

// The class that a context names for an element ID, or null when the ID is not
// one of its children.
const libebml::EbmlCallbacks* FindInContext(const libebml::EbmlSemanticContext& context, const ElementHeader& header)
{
    for (size_t i = 0; i < EBML_CTX_SIZE(context); ++i) {
        const libebml::EbmlId& id = EBML_CTX_IDX_ID(context, i);
        if (id.GetValue() == header.id && id.GetLength() == header.idLength)
            return &EBML_CTX_IDX_INFO(context, i);
    }
    return nullptr;
}

// Whether text, up to its first NUL, is well-formed UTF-8 (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF). libebml's Unicode strings throw
// on anything else, after allocating their buffer.
bool IsUtf8(Bytes text)
{
    size_t i = 0;
    while (i < text.size() && text[i] != 0) {
        const uint8_t b = text[i];
        const size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || !Has(text.size(), i, n))
            return false;
        uint32_t c = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            if ((text[i + k] & 0xC0) != 0x80)
                return false;
            c = c << 6 | (text[i + k] & 0x3F);
        }
        static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kSmallest[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

// Reads the children of master from data, its data bytes, which start at offset
// base of io. Each child must carry a known size that ends inside its parent,
// down to the deepest level: the element classes then never read past the
// element, and no child of one master is taken for the end of another, which
// is where libebml's own master reading gives up by throwing or drops elements
// it allocated. Children the context does not name, and children whose size
// their class does not allow, are left out.
bool ReadChildren(libebml::EbmlMaster& master, const libebml::EbmlSemanticContext& context, BoundedMemIO& io,
                  uint64_t base, Bytes data, int depth)
{
    if (depth > kMaxDepth)
        return false;
    // A new master holds default copies of its mandatory children; only what the
    // file holds is kept.
    for (libebml::EbmlElement* e : master.GetElementList())
        delete e;
    master.RemoveAll();
    size_t pos = 0;
    while (pos < data.size()) {
        ElementHeader header;
        if (ReadElementHeader(data.subspan(pos), header) != HeaderRead::Ok || header.unknownSize ||
            !Has(data.size(), pos + header.headSize, header.size))
            return false;
        const uint64_t at = base + pos;
        const Bytes inner = data.subspan(pos + header.headSize, static_cast<size_t>(header.size));
        pos += static_cast<size_t>(header.TotalSize());
        const libebml::EbmlCallbacks* callbacks = FindInContext(context, header);
        if (callbacks == nullptr)
            continue;
        io.setFilePointer(static_cast<int64_t>(at));
        std::unique_ptr<libebml::EbmlElement> child(libebml::EbmlElement::FindNextID(io, *callbacks, header.size));
        if (!child)
            continue;
        if (auto* childMaster = dynamic_cast<libebml::EbmlMaster*>(child.get())) {
            if (!ReadChildren(*childMaster, EBML_INFO_CONTEXT(*callbacks), io, at + header.headSize, inner, depth + 1))
                return false;
        } else if (dynamic_cast<libebml::EbmlUnicodeString*>(child.get()) != nullptr && !IsUtf8(inner)) {
            continue;
        } else {
            child->ReadData(io, libebml::SCOPE_ALL_DATA);
        }
        master.PushElement(*child.release());
    }
    return true;
}

}  // namespace

void BoundedMemIO::setFilePointer(int64_t offset, libebml::seek_mode mode)
{
    MemIOCallback::setFilePointer(offset, mode);
    if (dataBufferPos > dataBufferTotalSize)
        dataBufferPos = dataBufferTotalSize;
}

EbmlWindow::EbmlWindow(ZPMP::InputStream& input) noexcept : m_input(input)
{
    try {
        // The buffer starts small and grows with what is read, up to kCapacity:
        // most files need only their first few hundred kilobytes.
        auto io = std::make_unique<BoundedMemIO>(kFillChunk);
        if (io->IsOk() && io->GetDataBuffer() != nullptr)
            m_io = std::move(io);
    } catch (...) {
        m_io.reset();
    }
}

void EbmlWindow::Restart(uint64_t base) noexcept
{
    m_base = base;
    if (m_io) {
        m_io->SetDataBufferSize(0);
        m_io->setFilePointer(0);
    }
}

bool EbmlWindow::Fill(uint64_t end) noexcept
{
    if (!m_io || end < m_base || end - m_base > kCapacity)
        return false;
    const uint64_t want = end - m_base;
    uint64_t held = m_io->GetDataBufferSize();
    if (held >= want)
        return true;
    if (m_input.Seek(m_base + held) != 0)
        return false;
    try {
        while (held < want) {
            // Each read at least doubles the window, so its buffer grows a few times only.
            const uint64_t count = std::min(kCapacity - held, std::max({want - held, held, kFillChunk}));
            std::unique_ptr<uint8_t[]> chunk(new uint8_t[count]);
            const uint64_t got = m_input.Read(chunk.get(), static_cast<uint32_t>(count));
            if (got == 0 || got > count)
                break;
            m_io->setFilePointer(static_cast<int64_t>(held));
            if (m_io->write(chunk.get(), got) != got)
                break;
            held += got;
        }
    } catch (...) {
        return false;
    }
    return held >= want;
}

Bytes EbmlWindow::From(uint64_t pos) const noexcept
{
    if (!m_io || pos < m_base)
        return {};
    const uint64_t held = m_io->GetDataBufferSize();
    const uint64_t offset = pos - m_base;
    if (offset >= held)
        return {};
    return Bytes(m_io->GetDataBuffer() + offset, static_cast<size_t>(held - offset));
}

HeaderRead ReadElementHeader(Bytes bytes, ElementHeader& header) noexcept
{
    if (bytes.empty())
        return HeaderRead::Short;
    // An ID is at most 4 bytes long, so its first byte has a bit set above 0x0F.
    if (bytes[0] < 0x10)
        return HeaderRead::Invalid;
    uint64_t unknown = 0;
    uint32_t idLength = static_cast<uint32_t>(std::min(bytes.size(), kMaxIdLength));
    libebml::ReadCodedSizeValue(bytes.data(), idLength, unknown);
    if (idLength == 0)
        return HeaderRead::Short;
    if (bytes.size() == idLength)
        return HeaderRead::Short;
    // A size is at most 8 bytes long: a zero first byte cannot start one.
    if (bytes[idLength] == 0)
        return HeaderRead::Invalid;
    uint32_t sizeLength = static_cast<uint32_t>(std::min(bytes.size() - idLength, kMaxSizeLength));
    const uint64_t size = libebml::ReadCodedSizeValue(bytes.data() + idLength, sizeLength, unknown);
    if (sizeLength == 0)
        return HeaderRead::Short;

    const libebml::EbmlId id(bytes.data(), idLength);
    header.id = id.GetValue();
    header.idLength = idLength;
    header.size = size;
    header.unknownSize = size == unknown;
    header.headSize = idLength + sizeLength;
    return HeaderRead::Ok;
}

std::unique_ptr<libebml::EbmlMaster> ReadMasterElement(EbmlWindow& window, uint64_t pos,
                                                       const libebml::EbmlCallbacks& callbacks) noexcept
{
    if (!window.ok())
        return nullptr;
    window.Fill(pos + kMaxIdLength + kMaxSizeLength);
    ElementHeader header;
    if (ReadElementHeader(window.From(pos), header) != HeaderRead::Ok || header.unknownSize)
        return nullptr;
    const libebml::EbmlId& wanted = EBML_INFO_ID(callbacks);
    if (header.id != wanted.GetValue() || header.idLength != wanted.GetLength())
        return nullptr;
    if (header.size > EbmlWindow::kCapacity || !window.Fill(pos + header.TotalSize()))
        return nullptr;

    try {
        BoundedMemIO& io = window.Io();
        const uint64_t at = pos - window.Base();
        io.setFilePointer(static_cast<int64_t>(at));
        std::unique_ptr<libebml::EbmlElement> element(libebml::EbmlElement::FindNextID(io, callbacks, header.size));
        auto* master = dynamic_cast<libebml::EbmlMaster*>(element.get());
        const Bytes data = window.From(pos + header.headSize).first(static_cast<size_t>(header.size));
        if (master == nullptr ||
            !ReadChildren(*master, EBML_INFO_CONTEXT(callbacks), io, at + header.headSize, data, 0))
            return nullptr;
        element.release();
        return std::unique_ptr<libebml::EbmlMaster>(master);
    } catch (...) {
        return nullptr;
    }
}

bool IsMatroskaDocType(const libebml::EbmlString& docType, bool lenient)
{
    // libebml's value ends at the first NUL byte; the element's size counts them all.
    return (docType.GetSize() == 8 || lenient) && docType.GetValue() == "matroska";
}

bool IsWebmDocType(const libebml::EbmlString& docType, bool lenient)
{
    return (docType.GetSize() == 4 || lenient) && docType.GetValue() == "webm";
}

}  // namespace md
