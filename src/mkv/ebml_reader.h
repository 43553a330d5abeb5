// The one place where Matroska files meet libebml and libmatroska: a bounded
// read window that is filled from an input stream on demand, element headers
// decoded from a byte span, whole master elements read into an owned tree, and
// typed lookups of their children.
//
// libebml reports failures by throwing and hands out owning raw pointers; both
// stop here. The functions that read from a file are noexcept, every element
// they return is owned by a std::unique_ptr, and the lookups on a tree that has
// been read throw nothing but std::bad_alloc.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <ebml/EbmlBinary.h>
#include <ebml/EbmlFloat.h>
#include <ebml/EbmlMaster.h>
#include <ebml/EbmlString.h>
#include <ebml/EbmlUInteger.h>
#include <ebml/MemIOCallback.h>

#include "input/bytes.h"
#include "input/input_stream.h"

namespace md {

// A MemIOCallback whose position never passes the bytes written: libebml seeks
// to positions computed from sizes in the file, and a damaged size must not make
// a later read start beyond the buffer.
class BoundedMemIO : public libebml::MemIOCallback {
public:
    explicit BoundedMemIO(uint64_t capacity) : MemIOCallback(capacity) {}
    void setFilePointer(int64_t offset, libebml::seek_mode mode = libebml::seek_beginning) override;
};

// A window of at most kCapacity bytes of a file, starting at a base
// offset, that grows by reading the input at its end. Elements are read out of
// it by libebml, so an element can be read only when all of it lies inside.
class EbmlWindow {
public:
    static constexpr uint64_t kCapacity = 0xA00000;  // 10 MiB

    explicit EbmlWindow(ZPMP::InputStream& input) noexcept;
    EbmlWindow(const EbmlWindow&) = delete;
    EbmlWindow& operator=(const EbmlWindow&) = delete;

    // False when the buffer could not be allocated.
    bool ok() const { return m_io != nullptr; }
    // Empties the window; it then starts at file offset base.
    void Restart(uint64_t base) noexcept;
    uint64_t Base() const { return m_base; }
    // Reads until the window holds the file up to offset end. False when end
    // lies more than kCapacity past the base or the file ends before it.
    bool Fill(uint64_t end) noexcept;
    // The bytes held from file offset pos on; empty when pos is not inside.
    Bytes From(uint64_t pos) const noexcept;
    BoundedMemIO& Io() { return *m_io; }

private:
    ZPMP::InputStream& m_input;
    std::unique_ptr<BoundedMemIO> m_io;
    uint64_t m_base = 0;
};

// The head of one EBML element: ID (with its length marker, as the Matroska
// tables write IDs), data size and the length of both fields.
struct ElementHeader {
    uint32_t id = 0;
    uint32_t idLength = 0;
    uint64_t size = 0;      // data bytes; meaningless when unknownSize
    bool unknownSize = false;  // every size bit set: "size unknown"
    uint32_t headSize = 0;  // ID and size fields

    uint64_t TotalSize() const { return headSize + size; }
};

enum class HeaderRead {
    Ok,
    Short,    // the span ends inside the header
    Invalid,  // an ID longer than 4 bytes or a size longer than 8
};

// Decodes the element header at the start of bytes with ReadCodedSizeValue.
HeaderRead ReadElementHeader(Bytes bytes, ElementHeader& header) noexcept;

// Whether a header carries the ID of the libebml / libmatroska class T.
template <class T>
bool HasId(const ElementHeader& header)
{
    const libebml::EbmlId& id = EBML_ID(T);
    return header.id == id.GetValue() && header.idLength == id.GetLength();
}

template <class T>
bool HasId(const libebml::EbmlElement& element)
{
    return static_cast<const libebml::EbmlId&>(element) == EBML_ID(T);
}

// Reads the master element of class T that starts at file offset pos, with all
// its children, when the window can hold the whole element. Every element inside
// must have a known size that ends inside its parent; children that T's tables
// do not name, children of a size their class does not allow and Unicode strings
// that are not UTF-8 are left out. Null when the ID is not T's, a size is
// unknown or overruns, the element does not fit the window, or libebml fails.
std::unique_ptr<libebml::EbmlMaster> ReadMasterElement(EbmlWindow& window, uint64_t pos,
                                                       const libebml::EbmlCallbacks& callbacks) noexcept;

template <class T>
std::unique_ptr<libebml::EbmlMaster> ReadMaster(EbmlWindow& window, uint64_t pos) noexcept
{
    return ReadMasterElement(window, pos, EBML_INFO(T));
}

// The first child of class T, or null.
template <class T>
const T* FindFirst(const libebml::EbmlMaster& master)
{
    return dynamic_cast<const T*>(master.FindFirstElt(EBML_INFO(T)));
}

// The next child of the same class after previous, or null.
template <class T>
const T* FindNext(const libebml::EbmlMaster& master, const T& previous)
{
    return dynamic_cast<const T*>(master.FindNextElt(previous));
}

// Values of children: the element's value when present, else the default the
// Matroska element table gives it, else 0 (or empty).
template <class T>
uint64_t UIntOf(const libebml::EbmlMaster& master)
{
    if (const T* e = FindFirst<T>(master))
        return e->GetValue();
    const T fresh;
    return fresh.DefaultISset() ? fresh.DefaultVal() : 0;
}

template <class T>
double FloatOf(const libebml::EbmlMaster& master)
{
    if (const T* e = FindFirst<T>(master))
        return e->GetValue();
    const T fresh;
    return fresh.DefaultISset() ? fresh.DefaultVal() : 0.0;
}

template <class T>
std::string StringOf(const libebml::EbmlMaster& master)
{
    if (const T* e = FindFirst<T>(master))
        return e->GetValue();
    const T fresh;
    return fresh.DefaultISset() ? fresh.DefaultVal() : std::string();
}

// The bytes of a binary element (empty when it is absent or empty).
inline Bytes BinaryBytes(const libebml::EbmlBinary* e)
{
    if (e == nullptr || e->GetBuffer() == nullptr)
        return {};
    return Bytes(e->GetBuffer(), static_cast<size_t>(e->GetSize()));
}

// The DocType is "matroska": exactly those 8 bytes, or with lenient also
// followed by NUL bytes as some muxers write it.
bool IsMatroskaDocType(const libebml::EbmlString& docType, bool lenient = false);
// The same for "webm", the DocType of WebM files (a subset of Matroska).
bool IsWebmDocType(const libebml::EbmlString& docType, bool lenient = false);

}  // namespace md
