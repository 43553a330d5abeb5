// The box reader: turns an ISO base media file into a tree of box records.
//
// Every box is parsed from a span that holds exactly the box, so no reader can
// look past its box; after a box the list always continues at box start + size,
// whatever its reader consumed. Counts read from the file size arrays only up to
// the entries the box really holds. Container nesting is capped at kMaxBoxDepth.
#include <algorithm>
#include <cstring>
#include <new>

#include "input/chunk_buffer.h"
#include "input/input_stream.h"
#include "mediadetect/records.h"
#include "mp4/mp4_box.h"
#include "mp4/sample_entry.h"

namespace md {
namespace {

// Work buffer for top-level boxes; grows only for a larger box.
constexpr uint32_t kWorkBufferSize = 0x100000;

struct BoxHeader {
    uint32_t size = 0;  // as the record keeps it (see Mp4Box::size)
    uint32_t type = 0;
    uint64_t largeSize = 0;
    uint64_t boxSize = 0;
    size_t headerLength = 0;
};

// Decodes the size and type of the box that starts at bytes; available is the
// extent of the enclosing range (bytes may hold only the header, as for a
// top-level 'mdat'). False when the header does not fit, the box is larger than
// available, or its size is smaller than its own header.
bool DecodeHeader(Bytes bytes, uint64_t available, BoxHeader& h)
{
    if (available < 8 || bytes.size() < 8)
        return false;
    h.size = Be32(bytes.data());
    h.type = Be32(bytes.data() + 4);
    h.headerLength = 8;
    if (h.size == 1) {
        if (available < 16 || bytes.size() < 16)
            return false;
        h.largeSize = Be64(bytes.data() + 8);
        h.boxSize = h.largeSize;
        h.headerLength = 16;
    } else if (h.size == 0) {
        // Runs to the end of the range; the record keeps that byte count, in the
        // 64-bit field when it does not fit the 32-bit one.
        h.boxSize = available;
        if (available > UINT32_MAX) {
            h.size = 1;
            h.largeSize = available;
        } else {
            h.size = static_cast<uint32_t>(available);
        }
    } else {
        h.boxSize = h.size;
    }
    return h.boxSize <= available && h.boxSize >= h.headerLength;
}

template <class T>
std::unique_ptr<T> MakeRecord()
{
    return std::unique_ptr<T>(new (std::nothrow) T());
}

// Resizes a table array to the entries the box holds: min(count, remaining /
// entryBytes). An allocation failure leaves the array empty.
template <class V>
void SizeTable(V& array, uint64_t count, size_t remaining, size_t entryBytes)
{
    const uint64_t held = std::min<uint64_t>(count, remaining / entryBytes);
    try {
        array.resize(static_cast<size_t>(held));
    } catch (const std::bad_alloc&) {
        array = V();
    }
}

// The NUL-terminated string at the reader's position, searched only inside its
// bytes. False (and the string absent) when no NUL lies before the end.
bool ReadCString(ByteReader& r, std::string& text, uint32_t& length)
{
    const Bytes rest = r.Rest();
    const void* nul = rest.empty() ? nullptr : std::memchr(rest.data(), 0, rest.size());
    if (nul == nullptr)
        return false;
    const size_t n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - rest.data());
    try {
        text.assign(reinterpret_cast<const char*>(rest.data()), n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    length = static_cast<uint32_t>(n + 1);
    r.Skip(n + 1);
    return true;
}

// Copies the bytes at payload offset off that lie inside the payload; the rest
// of dst keeps its zeros.
template <size_t N>
void CopyRaw(Bytes payload, size_t off, std::array<uint8_t, N>& dst)
{
    if (off >= payload.size())
        return;
    std::memcpy(dst.data(), payload.data() + off, std::min(N, payload.size() - off));
}

// JPEG start-of-image and quantisation-table markers written over the first
// bytes of a camera-maker thumbnail.
void MarkJpeg(std::vector<uint8_t>& thumbnail)
{
    static constexpr uint8_t kMarker[4] = {0xFF, 0xD8, 0xFF, 0xDB};
    if (!thumbnail.empty())
        std::memcpy(thumbnail.data(), kMarker, std::min<size_t>(4, thumbnail.size()));
}

// ---- Leaf readers: each gets exactly its box and the header length -----------

using LeafReader = std::unique_ptr<Mp4Box> (*)(Bytes box, size_t headerLength, int depth);

std::unique_ptr<Mp4Box> ParseBoxAt(Bytes range, int depth);
Mp4BoxList ParseBoxListAt(Bytes range, int depth);

template <class T>
std::unique_ptr<T> StartFullBox(ByteReader& r)
{
    auto rec = MakeRecord<T>();
    if (rec) {
        rec->flags = r.U32();
        rec->version = static_cast<uint8_t>(rec->flags >> 24);
    }
    return rec;
}

std::unique_ptr<Mp4Box> ReadFtyp(Bytes box, size_t hl, int)
{
    auto rec = MakeRecord<Mp4FtypBox>();
    if (!rec)
        return nullptr;
    ByteReader r(box.subspan(hl));
    rec->majorBrand = r.U32();
    rec->minorVersion = r.U32();
    SizeTable(rec->compatibleBrands, r.Remaining() / 4, r.Remaining(), 4);
    for (auto& brand : rec->compatibleBrands) {
        const Bytes b = r.Span(4);
        std::copy(b.begin(), b.end(), brand.begin());
    }
    return rec;
}

// 'mvhd' and 'mdhd' share the layout of their times, time scale and duration.
template <class T>
std::unique_ptr<Mp4Box> ReadMovieOrMediaHeader(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<T>(r);
    if (!rec)
        return nullptr;
    const bool wide = rec->version == 1;
    rec->creationTime = wide ? r.U64() : r.U32();
    rec->modificationTime = wide ? r.U64() : r.U32();
    rec->timeScale = r.U32();
    rec->duration = wide ? r.U64() : r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadTkhd(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4TkhdBox>(r);
    if (!rec)
        return nullptr;
    const bool wide = rec->version == 1;
    rec->creationTime = wide ? r.U64() : r.U32();
    rec->modificationTime = wide ? r.U64() : r.U32();
    rec->trackId = r.U32();
    r.Skip(4);  // reserved
    rec->duration = wide ? r.U64() : r.U32();
    r.Skip(16);  // reserved, layer, alternate_group, volume, reserved
    for (int32_t& m : rec->matrix)
        m = static_cast<int32_t>(r.U32());
    if (r.failed())
        rec->matrix = {};
    return rec;
}

std::unique_ptr<Mp4Box> ReadHdlr(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4HdlrBox>(r);
    if (!rec)
        return nullptr;
    r.Skip(4);  // pre_defined
    rec->handlerType = r.U32();
    if (r.Skip(12))  // reserved
        ReadCString(r, rec->name, rec->nameLength);
    return rec;
}

std::unique_ptr<Mp4Box> ReadDref(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4DrefBox>(r);
    if (rec)
        rec->entryCount = r.U32();
    return rec;
}

// 'url ' holds a location, 'urn ' a name and then a location.
template <bool kHasName>
std::unique_ptr<Mp4Box> ReadDataEntry(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4DataEntryBox>(r);
    if (!rec || r.failed())
        return rec;
    if (kHasName && !ReadCString(r, rec->name, rec->nameLength))
        return rec;
    ReadCString(r, rec->location, rec->locationLength);
    return rec;
}

// 'stts' and 'ctts': 8-byte entries of a count and a value.
template <class T, std::vector<uint32_t> T::*kValues>
std::unique_ptr<Mp4Box> ReadCountValueTable(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<T>(r);
    if (!rec)
        return nullptr;
    rec->entryCount = r.U32();
    auto& values = (*rec).*kValues;
    SizeTable(rec->sampleCount, rec->entryCount, r.Remaining(), 8);
    SizeTable(values, rec->sampleCount.size(), r.Remaining(), 8);
    rec->sampleCount.resize(std::min(rec->sampleCount.size(), values.size()));
    for (size_t i = 0; i < rec->sampleCount.size(); ++i) {
        rec->sampleCount[i] = r.U32();
        values[i] = r.U32();
    }
    return rec;
}

std::unique_ptr<Mp4Box> ReadStsz(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4StszBox>(r);
    if (!rec)
        return nullptr;
    rec->sampleSize = r.U32();
    rec->sampleCount = r.U32();
    if (rec->sampleSize == 0 && r.ok()) {
        SizeTable(rec->entrySize, rec->sampleCount, r.Remaining(), 4);
        for (auto& size : rec->entrySize)
            size = r.U32();
    }
    return rec;
}

std::unique_ptr<Mp4Box> ReadStz2(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4Stz2Box>(r);
    if (!rec)
        return nullptr;
    r.Skip(3);  // reserved
    rec->fieldSize = r.U8();
    rec->sampleCount = r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadStsc(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4StscBox>(r);
    if (!rec)
        return nullptr;
    rec->entryCount = r.U32();
    SizeTable(rec->firstChunk, rec->entryCount, r.Remaining(), 12);
    SizeTable(rec->samplesPerChunk, rec->firstChunk.size(), r.Remaining(), 12);
    SizeTable(rec->sampleDescriptionIndex, rec->samplesPerChunk.size(), r.Remaining(), 12);
    const size_t n = rec->sampleDescriptionIndex.size();
    rec->firstChunk.resize(n);
    rec->samplesPerChunk.resize(n);
    for (size_t i = 0; i < n; ++i) {
        rec->firstChunk[i] = r.U32();
        rec->samplesPerChunk[i] = r.U32();
        rec->sampleDescriptionIndex[i] = r.U32();
    }
    return rec;
}

// 'stco', 'co64' and 'stss': a count and one array of u32 or u64.
template <class T, class V, V T::*kArray, size_t kEntryBytes>
std::unique_ptr<Mp4Box> ReadSingleTable(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<T>(r);
    if (!rec)
        return nullptr;
    rec->entryCount = r.U32();
    auto& values = (*rec).*kArray;
    SizeTable(values, rec->entryCount, r.Remaining(), kEntryBytes);
    for (auto& v : values)
        v = kEntryBytes == 8 ? r.U64() : r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadStsd(Bytes box, size_t hl, int depth)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4StsdBox>(r);
    if (!rec)
        return nullptr;
    rec->entryCount = r.U32();
    if (rec->entryCount != 0 && r.ok() && depth < kMaxBoxDepth)
        rec->entries = ParseBoxListAt(r.Rest(), depth + 1).first;
    return rec;
}

std::unique_ptr<Mp4Box> ReadMehd(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4MehdBox>(r);
    if (rec)
        rec->fragmentDuration = rec->version == 1 ? r.U64() : r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadTrex(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4TrexBox>(r);
    if (!rec)
        return nullptr;
    rec->trackId = r.U32();
    rec->defaultSampleDescriptionIndex = r.U32();
    rec->defaultSampleDuration = r.U32();
    rec->defaultSampleSize = r.U32();
    rec->defaultSampleFlags = r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadMfhd(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4MfhdBox>(r);
    if (rec)
        rec->sequenceNumber = r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadTfhd(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4TfhdBox>(r);
    if (!rec)
        return nullptr;
    rec->trackId = r.U32();
    if (rec->flags & kTfhdBaseDataOffset)
        rec->baseDataOffset = r.U64();
    if (rec->flags & kTfhdSampleDescriptionIndex)
        rec->sampleDescriptionIndex = r.U32();
    if (rec->flags & kTfhdDefaultSampleDuration)
        rec->defaultSampleDuration = r.U32();
    if (rec->flags & kTfhdDefaultSampleSize)
        rec->defaultSampleSize = r.U32();
    if (rec->flags & kTfhdDefaultSampleFlags)
        rec->defaultSampleFlags = r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadTrun(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4TrunBox>(r);
    if (!rec)
        return nullptr;
    rec->sampleCount = r.U32();
    if (rec->flags & kTrunDataOffset)
        rec->dataOffset = r.U32();
    if (rec->flags & kTrunFirstSampleFlags)
        rec->firstSampleFlags = r.U32();
    // Per-sample fields are interleaved; each present field costs 4 bytes a sample.
    struct Field {
        uint32_t flag;
        std::vector<uint32_t> Mp4TrunBox::*array;
    };
    static constexpr Field kFields[] = {
        {kTrunSampleDuration, &Mp4TrunBox::sampleDuration},
        {kTrunSampleSize, &Mp4TrunBox::sampleSize},
        {kTrunSampleFlags, &Mp4TrunBox::sampleFlags},
        {kTrunSampleCompositionTimeOffset, &Mp4TrunBox::sampleCompositionTimeOffset},
    };
    size_t perSample = 0;
    for (const Field& f : kFields)
        perSample += (rec->flags & f.flag) ? 4 : 0;
    if (perSample == 0 || r.failed())
        return rec;
    const uint64_t held = std::min<uint64_t>(rec->sampleCount, r.Remaining() / perSample);
    for (const Field& f : kFields) {
        if (!(rec->flags & f.flag))
            continue;
        SizeTable((*rec).*f.array, held, r.Remaining(), 4);
        if (((*rec).*f.array).size() != held)
            return rec;  // allocation failed: leave the arrays as they are
    }
    for (size_t i = 0; i < held; ++i)
        for (const Field& f : kFields)
            if (rec->flags & f.flag)
                ((*rec).*f.array)[i] = r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadTfra(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4TfraBox>(r);
    if (!rec)
        return nullptr;
    rec->trackId = r.U32();
    const uint32_t lengths = r.U32();
    rec->lengthSizeOfTrafNum = static_cast<uint8_t>(lengths >> 4 & 3);
    rec->lengthSizeOfTrunNum = static_cast<uint8_t>(lengths >> 2 & 3);
    rec->lengthSizeOfSampleNum = static_cast<uint8_t>(lengths & 3);
    rec->entryCount = r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadMfro(Bytes box, size_t hl, int)
{
    ByteReader r(box.subspan(hl));
    auto rec = StartFullBox<Mp4MfroBox>(r);
    if (rec)
        rec->mfraSize = r.U32();
    return rec;
}

std::unique_ptr<Mp4Box> ReadInfo(Bytes box, size_t hl, int)
{
    auto rec = MakeRecord<Mp4InfoBox>();
    if (!rec)
        return nullptr;
    const Bytes p = box.subspan(hl);
    rec->value12 = Be32At(p, 4);
    rec->value20 = Be32At(p, 12);
    rec->value28 = Be32At(p, 20);
    rec->aspectCode = Be32At(p, 28);
    return rec;
}

std::unique_ptr<Mp4Box> ReadOlym(Bytes box, size_t hl, int)
{
    auto rec = MakeRecord<Mp4OlymBox>();
    if (!rec)
        return nullptr;
    const Bytes p = box.subspan(hl);
    CopyRaw(p, 0, rec->raw0);
    CopyRaw(p, 8, rec->raw8);
    CopyRaw(p, 12, rec->raw12);
    CopyRaw(p, 14, rec->makerText);
    return rec;
}

std::unique_ptr<Mp4Box> ReadCinf(Bytes box, size_t hl, int)
{
    auto rec = MakeRecord<Mp4CinfBox>();
    if (!rec)
        return nullptr;
    const Bytes p = box.subspan(hl);
    rec->value = Be32At(p, 0);
    CopyRaw(p, 4, rec->makerText);
    rec->trailer = Has(p, 52, 1) ? p[52] : 0;
    return rec;
}

std::unique_ptr<Mp4Box> ReadCfmt(Bytes box, size_t hl, int)
{
    auto rec = MakeRecord<Mp4CfmtBox>();
    if (!rec)
        return nullptr;
    const Bytes p = box.subspan(hl);
    rec->value = Be32At(p, 0);
    CopyRaw(p, 4, rec->raw4);
    CopyRaw(p, 12, rec->raw12);
    CopyRaw(p, 16, rec->raw16);
    return rec;
}

// 'thmb': u32 length L, then the JPEG. Needs a 32-bit size of at least 20 and
// L <= size - 20; otherwise the box reads as absent.
std::unique_ptr<Mp4Box> ReadThmb(Bytes box, size_t hl, int)
{
    if (hl != 8 || box.size() < 20)
        return nullptr;
    const uint32_t length = Be32(box.data() + 8);
    if (box.size() - 20 < length)
        return nullptr;
    auto rec = MakeRecord<Mp4ThmbBox>();
    if (!rec)
        return nullptr;
    rec->thumbnail.assign(box.data() + 12, box.data() + 12 + length);
    MarkJpeg(rec->thumbnail);
    rec->thumbnailLength = length;
    return rec;
}

// 'TAGS': the camera maker's tag block. Needs a 32-bit size of at least 279.
std::unique_ptr<Mp4Box> ReadTags(Bytes box, size_t hl, int)
{
    if (hl != 8 || box.size() < 279)
        return nullptr;
    auto rec = MakeRecord<Mp4TagsBox>();
    if (!rec)
        return nullptr;
    const uint8_t* p = box.data() + hl;
    if (std::memcmp(p, kCameraMakerText, sizeof(kCameraMakerText)) != 0)  // with its NUL
        return rec;
    rec->tagValues = {Le32(p + 235), Le32(p + 239), Le32(p + 243)};
    const uint32_t length = Le32(p + 247);
    const uint32_t offset = Le32(p + 251);
    const uint64_t start = uint64_t(hl) + 235 + offset;
    rec->thumbnailOffset = offset;
    if (start <= box.size() && start + length <= box.size()) {
        rec->thumbnail.assign(box.data() + start, box.data() + start + length);
        MarkJpeg(rec->thumbnail);
        rec->thumbnailLength = length;
    }
    return rec;
}

template <std::unique_ptr<Mp4Box> (*kReader)(Bytes, size_t)>
std::unique_ptr<Mp4Box> ReadEntry(Bytes box, size_t hl, int)
{
    return kReader(box, hl);
}

// ---- The dispatch table -------------------------------------------------------
// Types not listed ('vmhd', 'smhd', 'mdat', 'edts', 'meta', ...) become a bare
// head without children.

enum class BoxKind : uint8_t { kContainer, kLeaf };

struct BoxHandler {
    uint32_t type;
    BoxKind kind;
    LeafReader read;  // leaves only
};

constexpr BoxHandler Container(const char (&type)[5]) { return {FourCC(type), BoxKind::kContainer, nullptr}; }
constexpr BoxHandler Leaf(const char (&type)[5], LeafReader read) { return {FourCC(type), BoxKind::kLeaf, read}; }

constexpr BoxHandler kBoxHandlers[] = {
    Container("moov"), Container("trak"), Container("mdia"), Container("minf"), Container("stbl"),
    Container("dinf"), Container("udta"), Container("moof"), Container("traf"), Container("mvex"),
    Container("mfra"), Container("uuid"),
    Leaf("ftyp", ReadFtyp),
    Leaf("mvhd", ReadMovieOrMediaHeader<Mp4MvhdBox>),
    Leaf("tkhd", ReadTkhd),
    Leaf("mdhd", ReadMovieOrMediaHeader<Mp4MdhdBox>),
    Leaf("hdlr", ReadHdlr),
    Leaf("dref", ReadDref),
    Leaf("url ", ReadDataEntry<false>),
    Leaf("urn ", ReadDataEntry<true>),
    Leaf("stts", ReadCountValueTable<Mp4SttsBox, &Mp4SttsBox::sampleDelta>),
    Leaf("ctts", ReadCountValueTable<Mp4CttsBox, &Mp4CttsBox::sampleOffset>),
    Leaf("stsz", ReadStsz),
    Leaf("stz2", ReadStz2),
    Leaf("stsc", ReadStsc),
    Leaf("stco", ReadSingleTable<Mp4StcoBox, std::vector<uint32_t>, &Mp4StcoBox::chunkOffset, 4>),
    Leaf("co64", ReadSingleTable<Mp4Co64Box, std::vector<uint64_t>, &Mp4Co64Box::chunkOffset, 8>),
    Leaf("stss", ReadSingleTable<Mp4StssBox, std::vector<uint32_t>, &Mp4StssBox::sampleNumber, 4>),
    Leaf("stsd", ReadStsd),
    Leaf("mehd", ReadMehd),
    Leaf("trex", ReadTrex),
    Leaf("mfhd", ReadMfhd),
    Leaf("tfhd", ReadTfhd),
    Leaf("trun", ReadTrun),
    Leaf("tfra", ReadTfra),
    Leaf("mfro", ReadMfro),
    Leaf("INFO", ReadInfo),
    Leaf("OLYM", ReadOlym),
    Leaf("\xA9inf", ReadCinf),
    Leaf("\xA9" "fmt", ReadCfmt),
    Leaf("thmb", ReadThmb),
    Leaf("TAGS", ReadTags),
    Leaf("mp4v", ReadEntry<ReadMp4vEntry>),
    Leaf("avc1", ReadEntry<ReadAvc1Entry>),
    Leaf("s263", ReadEntry<ReadS263Entry>),
    Leaf("cvid", ReadEntry<ReadVisualEntry>),
    Leaf("jpeg", ReadEntry<ReadVisualEntry>),
    Leaf("mp4a", ReadEntry<ReadMp4aEntry>),
    Leaf("twos", ReadEntry<ReadAudioEntry>),
    Leaf("sowt", ReadEntry<ReadAudioEntry>),
    Leaf("raw ", ReadEntry<ReadAudioEntry>),
    Leaf(".mp3", ReadEntry<ReadAudioEntry>),
    Leaf("samr", ReadEntry<ReadAmrEntry>),
    Leaf("sawb", ReadEntry<ReadAmrEntry>),
    Leaf("mjpa", ReadEntry<ReadVisualEntry>),
    Leaf("mjpb", ReadEntry<ReadVisualEntry>),
    Leaf("av01", ReadEntry<ReadAv01Entry>),
    Leaf("hvc1", ReadEntry<ReadHevcEntry>),
    Leaf("hev1", ReadEntry<ReadHevcEntry>),
    Leaf("Opus", ReadEntry<ReadOpusEntry>),
    Leaf("fLaC", ReadEntry<ReadFlacEntry>),
    Leaf("ac-3", ReadEntry<ReadAc3Entry>),
    Leaf("ec-3", ReadEntry<ReadAc3Entry>),
    Leaf("lpcm", ReadEntry<ReadPcmEntry>),
    Leaf("in24", ReadEntry<ReadPcmEntry>),
    Leaf("in32", ReadEntry<ReadPcmEntry>),
    Leaf("fl32", ReadEntry<ReadPcmEntry>),
    Leaf("fl64", ReadEntry<ReadPcmEntry>),
    Leaf("NONE", ReadEntry<ReadPcmEntry>),
    Leaf("alac", ReadEntry<ReadAlacEntry>),
    Leaf("ima4", ReadEntry<ReadAudioEntry>),
    Leaf("alaw", ReadEntry<ReadAudioEntry>),
    Leaf("ulaw", ReadEntry<ReadAudioEntry>),
    Leaf("apco", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("apcs", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("apcn", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("apch", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("ap4h", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("ap4x", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dvc ", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dvcp", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dvpp", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dv5n", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dv5p", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dvh5", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dvh6", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dvhq", ReadEntry<ReadQuickTimeVideoEntry>),
    Leaf("dvhp", ReadEntry<ReadQuickTimeVideoEntry>),
};

const BoxHandler* FindHandler(uint32_t type)
{
    for (const BoxHandler& h : kBoxHandlers)
        if (h.type == type)
            return &h;
    return nullptr;
}

// A container: its header, then a sibling list that fills the rest of the box.
// A 'uuid' box adds its 16-byte extended type, and 8 bytes more when that starts
// with "PROF".
std::unique_ptr<Mp4Box> ReadContainer(Bytes box, const BoxHeader& h, int depth)
{
    auto rec = MakeRecord<Mp4Box>();
    if (!rec)
        return nullptr;
    size_t childStart = h.headerLength;
    if (h.type == FourCC("uuid")) {
        if (!Has(box, childStart, 16))
            return rec;  // too short for its extended type: a bare head
        std::memcpy(rec->userType.data(), box.data() + childStart, 16);
        childStart += 16;
        if (std::memcmp(rec->userType.data(), "PROF", 4) == 0)
            childStart += 8;
        if (childStart > box.size())
            return rec;
    }
    if (depth < kMaxBoxDepth)
        rec->firstChild = ParseBoxListAt(box.subspan(childStart), depth + 1).first;
    return rec;
}

void FillHead(Mp4Box& rec, const BoxHeader& h)
{
    rec.size = h.size;
    rec.type = h.type;
    rec.largeSize = h.size == 1 ? h.largeSize : 0;
}

std::unique_ptr<Mp4Box> ParseBoxAt(Bytes range, int depth)
{
    BoxHeader h;
    if (!DecodeHeader(range, range.size(), h))
        return nullptr;
    const Bytes box = range.first(static_cast<size_t>(h.boxSize));
    std::unique_ptr<Mp4Box> rec;
    try {
        const BoxHandler* handler = FindHandler(h.type);
        if (handler == nullptr)
            rec = MakeRecord<Mp4Box>();
        else if (handler->kind == BoxKind::kContainer)
            rec = ReadContainer(box, h, depth);
        else
            rec = handler->read(box, h.headerLength, depth);
    } catch (const std::bad_alloc&) {
        return nullptr;  // a record that cannot be allocated reads as absent
    }
    if (rec)
        FillHead(*rec, h);
    return rec;
}

// Builds records one after another; each next box starts at the previous box's
// start + size. The list ends at the first box that cannot be built, and after a
// box whose size field is 0 or 1.
Mp4BoxList ParseBoxListAt(Bytes range, int depth)
{
    Mp4BoxList list;
    std::unique_ptr<Mp4Box>* tail = &list.first;
    size_t offset = 0;
    while (offset < range.size()) {
        std::unique_ptr<Mp4Box> rec = ParseBoxAt(range.subspan(offset), depth);
        if (!rec)
            break;
        const uint32_t size = rec->size;
        const uint64_t boxSize = rec->BoxSize();
        *tail = std::move(rec);
        tail = &(*tail)->next;
        list.consumed += boxSize;
        if (size == 0 || size == 1)
            break;
        offset += size;
    }
    return list;
}

// Moves the sibling chain list in front of pending.
void PrependList(std::unique_ptr<Mp4Box>& pending, std::unique_ptr<Mp4Box> list)
{
    if (!list)
        return;
    Mp4Box* tail = list.get();
    while (tail->next)
        tail = tail->next.get();
    tail->next = std::move(pending);
    pending = std::move(list);
}

}  // namespace

// Releases the subtree without recursion: the links of each box are moved onto
// one pending chain before the box itself is deleted.
Mp4Box::~Mp4Box()
{
    std::unique_ptr<Mp4Box> pending = std::move(next);
    PrependList(pending, std::move(firstChild));
    while (pending) {
        std::unique_ptr<Mp4Box> box = std::move(pending);
        pending = std::move(box->next);
        PrependList(pending, std::move(box->firstChild));
        if (std::unique_ptr<Mp4Box>* extra = box->ExtraList())
            PrependList(pending, std::move(*extra));
    }
}

std::unique_ptr<Mp4Box> ParseBox(const uint8_t* bytes, size_t available)
{
    if (bytes == nullptr)
        return nullptr;
    return ParseBoxAt(Bytes(bytes, available), 0);
}

Mp4BoxList ParseBoxList(const uint8_t* bytes, size_t available)
{
    if (bytes == nullptr)
        return {};
    return ParseBoxListAt(Bytes(bytes, available), 0);
}

Mp4FileRules Mp4FileRulesOf(uint32_t extensions)
{
    return {.trailingBytes = (extensions & MD_EXT_MP4_TRAILING_BYTES) != 0,
            .moovWithoutMdat = (extensions & MD_EXT_SMALL_FILES) != 0};
}

std::unique_ptr<Mp4Box> ReadMp4Stream(ZPMP::InputStream& stream, Mp4FileRules rules, const Mp4MoovBytesReader& onMoov)
{
    uint64_t remaining = stream.Size();
    if (remaining < 8 || stream.Seek(0) != 0)
        return nullptr;
    // The work buffer holds one top-level box at a time: 1 MiB (less for a
    // smaller file), grown only for a larger box. It is left uninitialised so
    // that only the pages a box fills are ever touched.
    size_t capacity = ZPMP::ChunkCapacity(stream, kWorkBufferSize);
    ZPMP::ChunkBuffer buffer(new (std::nothrow) uint8_t[capacity]);
    if (!buffer)
        return nullptr;

    Mp4BoxList top;
    std::unique_ptr<Mp4Box>* tail = &top.first;
    bool moovSeen = false;
    bool mdatSeen = false;
    uint64_t position = 0;
    while (remaining >= 8) {
        uint8_t header[16];
        if (stream.Read(header, 8) != 8)
            break;
        const uint32_t size = Be32(header);
        const uint32_t type = Be32(header + 4);
        const bool firstMoov = type == FourCC("moov") && !moovSeen;
        moovSeen |= type == FourCC("moov");
        mdatSeen |= type == FourCC("mdat");
        uint64_t boxSize = size;
        size_t headerLength = 8;
        if (size == 1) {
            if (remaining < 16 || stream.Read(header + 8, 8) != 8)
                break;
            boxSize = Be64(header + 8);
            headerLength = 16;
        } else if (size == 0) {
            boxSize = remaining;
        }
        if (boxSize > remaining || boxSize < headerLength)
            break;

        std::unique_ptr<Mp4Box> rec;
        if (type == FourCC("mdat") || FindHandler(type) == nullptr) {
            // Media data, and any box that becomes a bare head ('free', 'skip',
            // 'wide', 'meta', ...): the payload is skipped, never read, so a
            // large padding box costs no memory. The record is built from the header.
            position += boxSize;
            stream.Seek(position);
            // What follows the media data (a 'moov' at the end) is read whole
            // when it is no larger than a box the work buffer holds.
            if (const uint64_t rest = remaining - boxSize; rest > 0 && rest <= kWorkBufferSize)
                stream.WillRead(position, position + rest);
            BoxHeader h;
            if (DecodeHeader(Bytes(header, headerLength), boxSize, h)) {
                rec = MakeRecord<Mp4Box>();
                if (rec)
                    FillHead(*rec, h);
            }
        } else {
            if (boxSize > UINT32_MAX)
                break;
            if (boxSize > capacity) {
                capacity = static_cast<size_t>(boxSize);
                buffer = ZPMP::NewChunkBuffer(capacity);  // filled by the box
                if (!buffer)
                    break;
            }
            std::memcpy(buffer.get(), header, headerLength);
            const auto bodySize = static_cast<uint32_t>(boxSize - headerLength);
            if (ZPMP::ReadFully(stream, buffer.get() + headerLength, bodySize) != bodySize)
                break;
            const Bytes box(buffer.get(), static_cast<size_t>(boxSize));
            if (firstMoov && onMoov)
                onMoov(box, position);
            position += boxSize;
            rec = ParseBoxAt(box, 0);
        }
        if (rec) {
            *tail = std::move(rec);
            tail = &(*tail)->next;
        }
        remaining -= boxSize;
    }
    if ((remaining != 0 && !(rules.trailingBytes && remaining < 8)) || !moovSeen ||
        (!mdatSeen && !rules.moovWithoutMdat))
        return nullptr;
    return std::move(top.first);
}

std::unique_ptr<Mp4Box> ReadMp4File(const InputSource& source, Mp4FileRules rules)
{
    const std::unique_ptr<ZPMP::InputStream> stream = source.Open();
    if (!InputSource::IsOpen(*stream))
        return nullptr;
    return ReadMp4Stream(*stream, rules);
}

const Mp4Box* FindBox(const Mp4Box* first, uint32_t type)
{
    for (const Mp4Box* b = first; b != nullptr; b = b->next.get())
        if (b->type == type)
            return b;
    // Then the children, from the last sibling that has any back to the first.
    // Most lists have at most one box with children: no list of them is needed.
    const Mp4Box* onlyParent = nullptr;
    size_t parentCount = 0;
    for (const Mp4Box* b = first; b != nullptr; b = b->next.get()) {
        if (b->firstChild) {
            onlyParent = b;
            ++parentCount;
        }
    }
    if (parentCount <= 1)
        return onlyParent != nullptr ? FindBox(onlyParent->firstChild.get(), type) : nullptr;
    std::vector<const Mp4Box*> parents;
    try {
        parents.reserve(parentCount);
        for (const Mp4Box* b = first; b != nullptr; b = b->next.get())
            if (b->firstChild)
                parents.push_back(b);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (auto it = parents.rbegin(); it != parents.rend(); ++it)
        if (const Mp4Box* found = FindBox((*it)->firstChild.get(), type))
            return found;
    return nullptr;
}

Mp4Box* FindBox(Mp4Box* first, uint32_t type)
{
    return const_cast<Mp4Box*>(FindBox(static_cast<const Mp4Box*>(first), type));
}

int IsMoovBeforeMdat(const Mp4Box* root)
{
    for (const Mp4Box* b = root; b != nullptr; b = b->next.get()) {
        if (b->type == FourCC("mdat"))
            return 0;
        if (b->type == FourCC("moov"))
            return 1;
    }
    return 0;
}

void FreeBoxTree(std::unique_ptr<Mp4Box> root) { root.reset(); }

}  // namespace md
