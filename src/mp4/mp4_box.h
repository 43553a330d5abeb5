// The MP4 / QuickTime / 3GP box tree: the records the box reader builds and the
// free functions that read, search and release a tree.
//
// A tree is a set of owning nodes. Every record starts with the common head
// (`Mp4Box`); type-specific records derive from it. Siblings are chained through
// `next`, the children of a container start at `firstChild`, and the sample
// entries of 'stsd' hang off `Mp4StsdBox::entries`. Destroying a record (or
// calling FreeBoxTree) releases everything reachable from it without recursion,
// so neither a long sibling list nor a deep tree can exhaust the stack.
//
// Table arrays (stts, ctts, stsz, stsc, stco, co64, stss, trun) hold only the
// entries that the box really contains; the count fields keep the value stored
// in the file and may be larger. Index the arrays through TableAt(), which gives
// 0 outside the array.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "input/bytes.h"
#include "input/open_input.h"

namespace ZPMP {
class InputStream;
}

namespace md {

// Deepest container nesting that is read; a container below it keeps its head
// but no children.
constexpr int kMaxBoxDepth = 32;

struct Mp4Box {
    Mp4Box() = default;
    Mp4Box(const Mp4Box&) = delete;
    Mp4Box& operator=(const Mp4Box&) = delete;
    virtual ~Mp4Box();

    // The 32-bit size field as stored; for a stored 0 the number of bytes the box
    // was given (it runs to the end of its parent or of the file; kept as a
    // 64-bit size when it does not fit 32 bits); 1 when largeSize holds the size.
    uint32_t size = 0;
    uint32_t type = 0;       // four-character code as a big-endian u32
    uint64_t largeSize = 0;  // the 64-bit size when size is 1, else 0
    std::array<uint8_t, 16> userType{};  // extended type of a 'uuid' box
    std::unique_ptr<Mp4Box> next;
    std::unique_ptr<Mp4Box> firstChild;

    // The box's size in bytes whichever size field holds it.
    uint64_t BoxSize() const { return size == 1 ? largeSize : size; }

    // A further owned sibling list beside firstChild (the entry list of
    // 'stsd'); released with the tree, not searched by FindBox.
    virtual std::unique_ptr<Mp4Box>* ExtraList() { return nullptr; }
};

// Version and flags of a full box: version is the top 8 bits of the word, flags
// the whole word (tests use its low 24 bits).
struct Mp4FullBox : Mp4Box {
    uint8_t version = 0;
    uint32_t flags = 0;
};

// The record as the derived type T, or null when it is another kind of record.
template <class T>
T* BoxAs(Mp4Box* box)
{
    return dynamic_cast<T*>(box);
}
template <class T>
const T* BoxAs(const Mp4Box* box)
{
    return dynamic_cast<const T*>(box);
}

// Element i of a table array, or 0 when the box did not hold that entry.
template <class V>
typename V::value_type TableAt(const V& array, uint64_t i)
{
    return i < array.size() ? array[static_cast<size_t>(i)] : typename V::value_type{};
}

// ---- File-level and movie-level boxes ----------------------------------------

struct Mp4FtypBox : Mp4Box {  // 'ftyp'
    uint32_t majorBrand = 0;
    uint32_t minorVersion = 0;
    // Each brand as its four bytes in file order.
    std::vector<std::array<uint8_t, 4>> compatibleBrands;
};

struct Mp4MvhdBox : Mp4FullBox {  // 'mvhd'; times in seconds since 1904-01-01
    uint64_t creationTime = 0;
    uint64_t modificationTime = 0;
    uint32_t timeScale = 0;
    uint64_t duration = 0;
};

struct Mp4TkhdBox : Mp4FullBox {  // 'tkhd'
    uint64_t creationTime = 0;
    uint64_t modificationTime = 0;
    uint32_t trackId = 0;
    uint64_t duration = 0;
    // The display transform {a, b, u, c, d, v, x, y, w}: a, b, c, d, x and y in
    // 16.16 fixed point, u, v and w in 2.30; all 0 when the box is cut short.
    std::array<int32_t, 9> matrix{};
};

struct Mp4MdhdBox : Mp4FullBox {  // 'mdhd'
    uint64_t creationTime = 0;
    uint64_t modificationTime = 0;
    uint32_t timeScale = 0;
    uint64_t duration = 0;
};

struct Mp4HdlrBox : Mp4FullBox {  // 'hdlr'
    uint32_t handlerType = 0;
    // The name without its NUL; nameLength counts the NUL and is 0 when the
    // box holds no NUL-terminated name.
    std::string name;
    uint32_t nameLength = 0;
};

struct Mp4DrefBox : Mp4FullBox {  // 'dref'; the entries are not read
    uint32_t entryCount = 0;
};

struct Mp4DataEntryBox : Mp4FullBox {  // 'url ' and 'urn '
    std::string name;  // 'urn ' only
    uint32_t nameLength = 0;  // with the NUL; 0 when absent
    std::string location;
    uint32_t locationLength = 0;  // with the NUL; 0 when absent
};

// ---- Sample tables ------------------------------------------------------------

struct Mp4SttsBox : Mp4FullBox {  // 'stts'
    uint32_t entryCount = 0;
    std::vector<uint32_t> sampleCount;
    std::vector<uint32_t> sampleDelta;
};

struct Mp4CttsBox : Mp4FullBox {  // 'ctts'
    uint32_t entryCount = 0;
    std::vector<uint32_t> sampleCount;
    std::vector<uint32_t> sampleOffset;
};

struct Mp4StszBox : Mp4FullBox {  // 'stsz'
    uint32_t sampleSize = 0;
    uint32_t sampleCount = 0;
    std::vector<uint32_t> entrySize;  // only when sampleSize is 0
};

struct Mp4Stz2Box : Mp4FullBox {  // 'stz2'; the entries are not read
    uint8_t fieldSize = 0;
    uint32_t sampleCount = 0;
};

struct Mp4StscBox : Mp4FullBox {  // 'stsc'
    uint32_t entryCount = 0;
    std::vector<uint32_t> firstChunk;
    std::vector<uint32_t> samplesPerChunk;
    std::vector<uint32_t> sampleDescriptionIndex;
};

struct Mp4StcoBox : Mp4FullBox {  // 'stco'
    uint32_t entryCount = 0;
    std::vector<uint32_t> chunkOffset;
};

struct Mp4Co64Box : Mp4FullBox {  // 'co64'
    uint32_t entryCount = 0;
    std::vector<uint64_t> chunkOffset;
};

struct Mp4StssBox : Mp4FullBox {  // 'stss'
    uint32_t entryCount = 0;
    std::vector<uint32_t> sampleNumber;
};

struct Mp4StsdBox : Mp4FullBox {  // 'stsd'
    uint32_t entryCount = 0;
    // The sample entries (records of sample_entry.h), when entryCount is not 0.
    std::unique_ptr<Mp4Box> entries;
    std::unique_ptr<Mp4Box>* ExtraList() override { return &entries; }
};

// ---- Movie fragments -------------------------------------------------------------

struct Mp4MehdBox : Mp4FullBox {  // 'mehd'
    uint64_t fragmentDuration = 0;
};

struct Mp4TrexBox : Mp4FullBox {  // 'trex'
    uint32_t trackId = 0;
    uint32_t defaultSampleDescriptionIndex = 0;
    uint32_t defaultSampleDuration = 0;
    uint32_t defaultSampleSize = 0;
    uint32_t defaultSampleFlags = 0;
};

struct Mp4MfhdBox : Mp4FullBox {  // 'mfhd'
    uint32_t sequenceNumber = 0;
};

// 'tfhd' flags.
constexpr uint32_t kTfhdBaseDataOffset = 0x000001;
constexpr uint32_t kTfhdSampleDescriptionIndex = 0x000002;
constexpr uint32_t kTfhdDefaultSampleDuration = 0x000008;
constexpr uint32_t kTfhdDefaultSampleSize = 0x000010;
constexpr uint32_t kTfhdDefaultSampleFlags = 0x000020;

struct Mp4TfhdBox : Mp4FullBox {  // 'tfhd'; absent fields are 0
    uint32_t trackId = 0;
    uint64_t baseDataOffset = 0;
    uint32_t sampleDescriptionIndex = 0;
    uint32_t defaultSampleDuration = 0;
    uint32_t defaultSampleSize = 0;
    uint32_t defaultSampleFlags = 0;
};

// 'trun' flags.
constexpr uint32_t kTrunDataOffset = 0x000001;
constexpr uint32_t kTrunFirstSampleFlags = 0x000004;
constexpr uint32_t kTrunSampleDuration = 0x000100;
constexpr uint32_t kTrunSampleSize = 0x000200;
constexpr uint32_t kTrunSampleFlags = 0x000400;
constexpr uint32_t kTrunSampleCompositionTimeOffset = 0x000800;

struct Mp4TrunBox : Mp4FullBox {  // 'trun'
    uint32_t sampleCount = 0;
    uint32_t dataOffset = 0;  // signed in the file; 32-bit wrap-around adds it
    uint32_t firstSampleFlags = 0;
    // Each array is present only when its flag is set.
    std::vector<uint32_t> sampleDuration;
    std::vector<uint32_t> sampleSize;
    std::vector<uint32_t> sampleFlags;
    std::vector<uint32_t> sampleCompositionTimeOffset;
};

struct Mp4TfraBox : Mp4FullBox {  // 'tfra'; the entries are not read
    uint32_t trackId = 0;
    uint8_t lengthSizeOfTrafNum = 0;
    uint8_t lengthSizeOfTrunNum = 0;
    uint8_t lengthSizeOfSampleNum = 0;
    uint32_t entryCount = 0;
};

struct Mp4MfroBox : Mp4FullBox {  // 'mfro'
    uint32_t mfraSize = 0;  // the 'mfra' size field (named so beside the head's size)
};

// ---- Camera-maker boxes ------------------------------------------------------------

struct Mp4InfoBox : Mp4Box {  // 'INFO': u32 at box offsets 12, 20, 28 and 36
    uint32_t value12 = 0;
    uint32_t value20 = 0;
    uint32_t value28 = 0;
    uint32_t aspectCode = 0;  // offset 36: 1 for 4:3, 2 for 16:9
};

// The camera maker's text in the 'OLYM', '©inf' and 'TAGS' boxes.
inline constexpr char kCameraMakerText[] = "OLYMPUS DIGITAL CAMERA";

struct Mp4OlymBox : Mp4Box {  // 'OLYM': raw payload bytes
    std::array<uint8_t, 8> raw0{};        // payload 0-7
    std::array<uint8_t, 4> raw8{};        // payload 8-11
    std::array<uint8_t, 2> raw12{};       // payload 12-13
    std::array<uint8_t, 24> makerText{};  // payload 14-37
};

struct Mp4CinfBox : Mp4Box {  // '©inf'
    uint32_t value = 0;                   // payload 0
    std::array<uint8_t, 48> makerText{};  // payload 4-51
    uint8_t trailer = 0;                  // payload 52
};

struct Mp4CfmtBox : Mp4Box {  // '©fmt'
    uint32_t value = 0;             // payload 0
    std::array<uint8_t, 8> raw4{};  // payload 4-11
    std::array<uint8_t, 4> raw12{};  // payload 12-15
    std::array<uint8_t, 2> raw16{};  // payload 16-17
};

struct Mp4ThmbBox : Mp4Box {  // 'thmb': a JPEG thumbnail
    uint32_t thumbnailLength = 0;
    std::vector<uint8_t> thumbnail;
};

struct Mp4TagsBox : Mp4Box {  // 'TAGS': camera-maker tag block
    std::array<uint32_t, 3> tagValues{};  // little-endian u32 at payload 235, 239, 243
    uint32_t thumbnailLength = 0;         // 0 when there is no usable thumbnail
    uint32_t thumbnailOffset = 0;         // relative to payload 235
    std::vector<uint8_t> thumbnail;
};

// ---- The tree API ---------------------------------------------------------------

// What a file may have beyond top-level boxes that cover it exactly, with a
// 'moov' and an 'mdat' among them.
struct Mp4FileRules {
    // 1 to 7 bytes after the last box (too few for a box header, as some cameras
    // leave): MD_EXT_MP4_TRAILING_BYTES.
    bool trailingBytes = false;
    // No 'mdat': a movie reduced to its 'moov' (a reference movie, or a camera
    // movie whose media was cut away) still has its tracks: MD_EXT_SMALL_FILES.
    bool moovWithoutMdat = false;
};

// The rules of the extension bits that are on.
Mp4FileRules Mp4FileRulesOf(uint32_t extensions);

// Reads the file of source (a fresh stream on its path) into a box tree. None when
// the file cannot be opened, is not exactly covered by its top-level boxes, or
// lacks a top-level 'moov' or 'mdat' (as far as rules allow otherwise).
std::unique_ptr<Mp4Box> ReadMp4File(const InputSource& source, Mp4FileRules rules = {});

// Handed the bytes of the file's first top-level 'moov' box (its header included) and the file offset of its first
// byte while the box reader holds them, so that a reader of its payloads (the tags) needs no read of its own.
using Mp4MoovBytesReader = std::function<void(Bytes moov, uint64_t offset)>;

// The same over any input stream (read from position 0 to Size()); onMoov, when set, sees the first 'moov'.
std::unique_ptr<Mp4Box> ReadMp4Stream(ZPMP::InputStream& stream, Mp4FileRules rules = {},
                                      const Mp4MoovBytesReader& onMoov = {});

// One record, with its subtree, from the box at bytes; available is the number of
// bytes from there to the end of the enclosing range. None when the box header
// does not fit or the box is larger than available.
std::unique_ptr<Mp4Box> ParseBox(const uint8_t* bytes, size_t available);

// The sibling list that fills the range, and the bytes its records cover.
struct Mp4BoxList {
    std::unique_ptr<Mp4Box> first;
    uint64_t consumed = 0;
};
Mp4BoxList ParseBoxList(const uint8_t* bytes, size_t available);

// The first record of the given type: every box of the list starting at first is
// tested in order, then the children of the last sibling are searched (by this
// same rule), then those of the one before it, back to the first. first may be
// null. Long sibling lists cost no call depth; the call depth follows the depth
// of the tree (at most kMaxBoxDepth + 1 for trees the reader builds).
Mp4Box* FindBox(Mp4Box* first, uint32_t type);
const Mp4Box* FindBox(const Mp4Box* first, uint32_t type);

// FindBox cast to the record type; null when absent or of another record type.
template <class T>
T* FindBoxAs(Mp4Box* first, uint32_t type)
{
    return BoxAs<T>(FindBox(first, type));
}
template <class T>
const T* FindBoxAs(const Mp4Box* first, uint32_t type)
{
    return BoxAs<T>(FindBox(first, type));
}

// 1 when a top-level 'moov' comes before every top-level 'mdat', else 0.
int IsMoovBeforeMdat(const Mp4Box* root);

// Releases the record and everything reachable from it (equivalent to letting the
// pointer go out of scope).
void FreeBoxTree(std::unique_ptr<Mp4Box> root);

}  // namespace md
