#include "mxf/mxf_metadata.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>

#include "tags/tag_text.h"

namespace md {
namespace {

// ---- Keys ----

// Byte 7 of a SMPTE universal label is its registry version; labels of every version name the same thing.
constexpr size_t kVersionByte = 7;

// Whether key starts with the n bytes of prefix, byte 7 aside.
bool Matches(const uint8_t* key, const uint8_t* prefix, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (i != kVersionByte && key[i] != prefix[i])
            return false;
    return true;
}

constexpr uint8_t kPartitionPrefix[13] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};
constexpr uint8_t kPrimerKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                    0x0D, 0x01, 0x02, 0x01, 0x01, 0x05, 0x01, 0x00};
constexpr uint8_t kFillKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x01,
                                  0x03, 0x01, 0x02, 0x10, 0x01, 0x00, 0x00, 0x00};
constexpr uint8_t kIndexSegmentKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01,
                                          0x0D, 0x01, 0x02, 0x01, 0x01, 0x10, 0x01, 0x00};
// Local sets of 2-byte tags and lengths (byte 5 0x53); the structural metadata sets end 01 kind 00.
constexpr uint8_t kStructuralSetPrefix[14] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01,
                                              0x01, 0x0D, 0x01, 0x01, 0x01, 0x01, 0x01};
constexpr uint8_t kLocalSetPrefix[6] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53};
constexpr uint8_t kElementPrefix[12] = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01};
constexpr uint8_t kGcPictureItem = 0x15;
constexpr uint8_t kCpPictureItem = 0x05;  // SDTI-CP (D-10)

// Operational patterns: 06 0E 2B 34 04 01 01 xx 0D 01 02 01, item complexity, package complexity.
constexpr uint8_t kPatternPrefix[12] = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01};
constexpr uint8_t kOpAtom = 0x10;

// The structural sets this reader follows (byte 14 of their keys).
enum SetKind : uint8_t {
    kNoSet = 0,
    kFiller = 0x09,
    kSequence = 0x0F,
    kSourceClip = 0x11,
    kTimecodeComponent = 0x14,
    kContentStorage = 0x18,
    kGenericPictureDescriptor = 0x27,
    kCdciDescriptor = 0x28,
    kRgbaDescriptor = 0x29,
    kPreface = 0x2F,
    kIdentification = 0x30,
    kMaterialPackage = 0x36,
    kSourcePackage = 0x37,
    kTimelineTrack = 0x3B,
    kGenericSoundDescriptor = 0x42,
    kMultipleDescriptor = 0x44,
    kAes3Descriptor = 0x47,
    kWaveDescriptor = 0x48,
    kMpegVideoDescriptor = 0x51,
};

// Local tags of the items read (static tags: their meaning is fixed whatever the primer says).
enum Tag : uint16_t {
    kInstanceUid = 0x3C0A,
    kPrefaceContentStorage = 0x3B03,
    kPrefacePattern = 0x3B09,
    kPackages = 0x1901,
    kPackageTracks = 0x4403,
    kPackageDescriptor = 0x4701,
    kTrackId = 0x4801,
    kTrackNumber = 0x4804,
    kTrackSegment = 0x4803,
    kEditRate = 0x4B01,
    kDataDefinition = 0x0201,
    kDuration = 0x0202,
    kComponents = 0x1001,
    kLinkedTrackId = 0x3006,
    kSampleRate = 0x3001,
    kEssenceContainer = 0x3004,
    kSubDescriptors = 0x3F01,  // the descriptors of a Multiple Descriptor
    kPictureCoding = 0x3201,
    kStoredHeight = 0x3202,
    kStoredWidth = 0x3203,
    kSampledHeight = 0x3204,
    kSampledWidth = 0x3205,
    kDisplayHeight = 0x3208,
    kDisplayWidth = 0x3209,
    kFrameLayout = 0x320C,
    kVideoLineMap = 0x320D,
    kAspectRatio = 0x320E,
    kFieldDominance = 0x3212,
    kQuantizationBits = 0x3D01,
    kAudioSamplingRate = 0x3D03,
    kSoundCompression = 0x3D06,
    kChannelCount = 0x3D07,
    kAvgBps = 0x3D09,
    kBlockAlign = 0x3D0A,
    kIndexEditRate = 0x3F0B,
    kIndexStartPosition = 0x3F0C,
    kIndexDuration = 0x3F0D,
    // The Identification set: which application wrote or last changed the file.
    kCompanyName = 0x3C01,
    kProductName = 0x3C02,
    kProductVersion = 0x3C03,
    kVersionString = 0x3C04,
    kProductUid = 0x3C05,
    kModificationDate = 0x3C06,
    kToolkitVersion = 0x3C07,
    kPlatform = 0x3C08,
    kThisGenerationUid = 0x3C09,
};

// The items MPEG video descriptors carry under dynamic tags, by their labels.
constexpr uint8_t kMpegBitRateLabel[16] = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x05,
                                           0x04, 0x01, 0x06, 0x02, 0x01, 0x0B, 0x00, 0x00};
constexpr uint8_t kMpegProfileLevelLabel[16] = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x05,
                                                0x04, 0x01, 0x06, 0x02, 0x01, 0x0A, 0x00, 0x00};

// Data definitions (the kind of a track's sequence): 06 0E 2B 34 04 01 01 01 01 03 02 02 01 (picture) / 02
// (sound).
constexpr uint8_t kDataDefinitionPrefix[12] = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x01, 0x03, 0x02, 0x02};
enum class TrackKind { Other, Picture, Sound };

// FrameLayout values (2, one field, is progressive like a full frame).
constexpr uint8_t kFullFrame = 0;
constexpr uint8_t kSeparateFields = 1;
constexpr uint8_t kMixedFields = 3;
constexpr uint8_t kSegmentedFrame = 4;

// Bounds on the walks: sets of the header metadata, KLV items scanned for index segments, references of one
// batch (packages, tracks, components, sub-descriptors).
constexpr size_t kMaxSets = 32768;
constexpr int kMaxIndexItems = 512;
constexpr uint32_t kMaxBatch = 4096;
// The longest time a file may state: about 31 years, far inside the 100-ns range of an int64.
constexpr int64_t kMaxSeconds = 1000000000;

// ---- Local sets ----

struct LocalSet {
    uint8_t kind = kNoSet;  // a structural set's kind, else kNoSet
    Bytes items;
};

// The value of the item of tag in a set's items; empty when absent or when an item before it runs past the set.
Bytes FindItem(Bytes items, uint16_t tag)
{
    size_t pos = 0;
    while (Has(items, pos, 4)) {
        const uint16_t t = Be16(items.data() + pos);
        const uint16_t n = Be16(items.data() + pos + 2);
        if (!Has(items, pos + 4, n))
            return {};
        if (t == tag)
            return items.subspan(pos + 4, n);
        pos += 4 + size_t(n);
    }
    return {};
}

// Item values of fixed sizes; false (value untouched) when the item is absent or of another size.
bool ItemU8(Bytes items, uint16_t tag, uint8_t& value)
{
    const Bytes v = FindItem(items, tag);
    return v.size() == 1 ? (value = v[0], true) : false;
}
bool ItemU16(Bytes items, uint16_t tag, uint32_t& value)
{
    const Bytes v = FindItem(items, tag);
    return v.size() == 2 ? (value = Be16(v.data()), true) : false;
}
bool ItemU32(Bytes items, uint16_t tag, uint32_t& value)
{
    const Bytes v = FindItem(items, tag);
    return v.size() == 4 ? (value = Be32(v.data()), true) : false;
}
bool ItemI64(Bytes items, uint16_t tag, int64_t& value)
{
    const Bytes v = FindItem(items, tag);
    return v.size() == 8 ? (value = int64_t(Be64(v.data())), true) : false;
}
struct Rational {
    int32_t num = 0;
    int32_t den = 0;
    bool Positive() const { return num > 0 && den > 0; }
};
bool ItemRational(Bytes items, uint16_t tag, Rational& value)
{
    const Bytes v = FindItem(items, tag);
    if (v.size() != 8)
        return false;
    value = {int32_t(Be32(v.data())), int32_t(Be32(v.data() + 4))};
    return true;
}
// A label item: its 16 bytes, or null.
const uint8_t* ItemLabel(Bytes items, uint16_t tag)
{
    const Bytes v = FindItem(items, tag);
    return v.size() == kKeySize ? v.data() : nullptr;
}

// The elements of a batch or array item (a count, an element size, the elements), as a span of count elements of
// size bytes; empty when the item is absent, its elements are of another size, or they run past it.
Bytes ItemBatch(Bytes items, uint16_t tag, size_t size, uint32_t& count)
{
    count = 0;
    const Bytes v = FindItem(items, tag);
    if (v.size() < 8 || Be32(v.data() + 4) != size)
        return {};
    const uint32_t n = std::min(Be32(v.data()), kMaxBatch);
    if (uint64_t(n) * size > v.size() - 8)
        return {};
    count = n;
    return v.subspan(8, size_t(n) * size);
}

// ---- Identification ----

// "76d755ad-89f2-44f6-ad89-7b14beac0baa" for a 16-byte UUID.
std::string UuidText(Bytes v)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < v.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kHex[v[i] >> 4];
        text += kHex[v[i] & 0x0F];
    }
    return text;
}

// "5.9.1.1.1" for a ProductVersion (major, minor, patch, build, release: five 16-bit numbers).
std::string VersionText(Bytes v)
{
    std::string text;
    for (size_t i = 0; i + 2 <= v.size(); i += 2)
        text += (i == 0 ? "" : ".") + std::to_string(Be16(v.data() + i));
    return text;
}

// "2014-07-15T22:27:37.684000Z" for a Timestamp (year, month, day, hour, minute, second, quarter milliseconds);
// empty for a date of 0 (not set) or a field out of its range.
std::string TimestampText(Bytes v)
{
    const uint32_t year = Be16(v.data());
    const uint8_t month = v[2], day = v[3], hour = v[4], minute = v[5], second = v[6];
    if (year == 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
        v[7] >= 250)
        return {};
    char text[48];  // wide enough for any field values: unoptimised builds do not see the range checks above
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u000Z", year, month, day, hour, minute, second,
                  v[7] * 4u);
    return text;
}

// Lists what an Identification set says under the names ffprobe gives it, with the "mxf:" prefix.
void ReadIdentification(Bytes items, TagList& tags)
{
    constexpr size_t kVersionBytes = 10, kTimestampBytes = 8;
    const auto text = [&](uint16_t tag, const char* key) {  // UTF-16BE, possibly with a terminator
        const Bytes v = FindItem(items, tag);
        size_t next = 0;
        tags.Set(key, Utf16ToUtf8(v.first(TerminatedLength(v, 2, &next)), true, kMaxTagValueBytes));
    };
    const auto fixed = [&](uint16_t tag, const char* key, size_t size, std::string (*format)(Bytes)) {
        const Bytes v = FindItem(items, tag);
        if (v.size() == size)
            tags.Set(key, format(v));
    };
    text(kCompanyName, "mxf:company_name");
    text(kProductName, "mxf:product_name");
    text(kVersionString, "mxf:product_version");
    fixed(kProductVersion, "mxf:product_version_num", kVersionBytes, VersionText);
    fixed(kToolkitVersion, "mxf:toolkit_version_num", kVersionBytes, VersionText);
    text(kPlatform, "mxf:application_platform");
    fixed(kModificationDate, "mxf:modification_date", kTimestampBytes, TimestampText);
    fixed(kProductUid, "mxf:product_uid", kKeySize, UuidText);
    fixed(kThisGenerationUid, "mxf:generation_uid", kKeySize, UuidText);
    fixed(kInstanceUid, "mxf:uid", kKeySize, UuidText);
}

// ---- The object graph ----

using Uid = std::array<uint8_t, kKeySize>;

// The header metadata: its local sets, found by InstanceUID, and the dynamic tags of its primer.
class HeaderMetadata {
public:
    explicit HeaderMetadata(Bytes b)
    {
        size_t pos = 0;
        Klv klv;
        while (m_sets.size() < kMaxSets && ReadKlv(b, pos, klv) && klv.length <= b.size() - klv.valueOffset) {
            const Bytes value = b.subspan(klv.valueOffset, size_t(klv.length));
            if (Matches(klv.key, kPrimerKey, kKeySize))
                ReadPrimer(value);
            else if (Matches(klv.key, kLocalSetPrefix, sizeof kLocalSetPrefix))
                AddSet(klv.key, value);
            else if (!IsFill(klv.key))
                break;  // a partition pack, index table or essence: the header metadata has ended
            pos = klv.valueOffset + size_t(klv.length);
        }
        m_end = pos;
        std::sort(m_byUid.begin(), m_byUid.end());
    }

    // The offset of the first KLV item after the header metadata's sets.
    size_t End() const { return m_end; }

    // The first set of a kind (the Preface).
    const LocalSet* First(uint8_t kind) const
    {
        for (const LocalSet& s : m_sets)
            if (s.kind == kind)
                return &s;
        return nullptr;
    }
    // The last set of a kind (the Identification of the latest change).
    const LocalSet* Last(uint8_t kind) const
    {
        for (auto s = m_sets.rbegin(); s != m_sets.rend(); ++s)
            if (s->kind == kind)
                return &*s;
        return nullptr;
    }

    // The set a strong reference (16 bytes of an InstanceUID) points to, when it is of one of the kinds; null for
    // a reference to nothing or to a set of another kind.
    const LocalSet* Resolve(const uint8_t* ref, std::initializer_list<uint8_t> kinds) const
    {
        const LocalSet* s = ResolveAny(ref);
        return s != nullptr && std::find(kinds.begin(), kinds.end(), s->kind) != kinds.end() ? s : nullptr;
    }
    const LocalSet* ResolveAny(const uint8_t* ref) const
    {
        if (ref == nullptr)
            return nullptr;
        Uid uid;
        std::memcpy(uid.data(), ref, kKeySize);
        const auto it = std::lower_bound(m_byUid.begin(), m_byUid.end(), std::pair<Uid, size_t>{uid, 0});
        return it != m_byUid.end() && it->first == uid ? &m_sets[it->second] : nullptr;
    }

    // The local tag the primer gives a dynamic item's label; 0 when it names none.
    uint16_t DynamicTag(const uint8_t (&label)[16]) const
    {
        for (const auto& [tag, ul] : m_primer)
            if (tag >= 0x8000 && Matches(ul, label, kKeySize))
                return tag;
        return 0;
    }

private:
    void ReadPrimer(Bytes value)
    {
        constexpr size_t kEntry = 2 + kKeySize;
        if (value.size() < 8 || Be32(value.data() + 4) != kEntry)
            return;
        const size_t n = std::min<size_t>(Be32(value.data()), (value.size() - 8) / kEntry);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* e = value.data() + 8 + i * kEntry;
            m_primer.emplace_back(Be16(e), e + 2);
        }
    }

    void AddSet(const uint8_t* key, Bytes value)
    {
        LocalSet s;
        s.items = value;
        if (Matches(key, kStructuralSetPrefix, sizeof kStructuralSetPrefix) && key[15] == 0)
            s.kind = key[14];
        const Bytes uid = FindItem(value, kInstanceUid);
        if (uid.size() == kKeySize) {
            Uid u;
            std::memcpy(u.data(), uid.data(), kKeySize);
            m_byUid.emplace_back(u, m_sets.size());
        }
        m_sets.push_back(s);
    }

    std::vector<LocalSet> m_sets;
    std::vector<std::pair<Uid, size_t>> m_byUid;  // sorted; the first of equal UIDs wins
    std::vector<std::pair<uint16_t, const uint8_t*>> m_primer;
    size_t m_end = 0;
};

bool IsPictureDescriptor(uint8_t kind)
{
    return kind == kGenericPictureDescriptor || kind == kCdciDescriptor || kind == kRgbaDescriptor ||
           kind == kMpegVideoDescriptor;
}
bool IsSoundDescriptor(uint8_t kind)
{
    return kind == kGenericSoundDescriptor || kind == kAes3Descriptor || kind == kWaveDescriptor;
}

TrackKind KindOfDataDefinition(const uint8_t* label)
{
    if (label == nullptr || !Matches(label, kDataDefinitionPrefix, sizeof kDataDefinitionPrefix))
        return TrackKind::Other;
    return label[12] == 0x01 ? TrackKind::Picture : label[12] == 0x02 ? TrackKind::Sound : TrackKind::Other;
}

// A track's segment: a Sequence of components, or a single component.
const LocalSet* TrackSegment(const HeaderMetadata& m, const LocalSet& track)
{
    return m.Resolve(ItemLabel(track.items, kTrackSegment), {kSequence, kSourceClip, kFiller, kTimecodeComponent});
}

// The duration of a segment in edit units: its Duration, else the sum of its components' (all stated); -1 when
// unknown.
int64_t SegmentDuration(const HeaderMetadata& m, const LocalSet& segment)
{
    int64_t duration = -1;
    if (ItemI64(segment.items, kDuration, duration) && duration >= 0)
        return duration;
    if (segment.kind != kSequence)
        return -1;
    uint32_t count = 0;
    const Bytes refs = ItemBatch(segment.items, kComponents, kKeySize, count);
    int64_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const LocalSet* c = m.Resolve(refs.data() + i * kKeySize, {kSourceClip, kFiller, kTimecodeComponent});
        int64_t d = -1;
        if (c == nullptr || !ItemI64(c->items, kDuration, d) || d < 0 || d > INT64_MAX - sum)
            return -1;
        sum += d;
    }
    return count > 0 ? sum : -1;
}

// The timeline tracks of a package, each once.
std::vector<const LocalSet*> PackageTracks(const HeaderMetadata& m, const LocalSet& package)
{
    std::vector<const LocalSet*> tracks;
    uint32_t count = 0;
    const Bytes refs = ItemBatch(package.items, kPackageTracks, kKeySize, count);
    for (uint32_t i = 0; i < count; ++i) {
        const LocalSet* t = m.Resolve(refs.data() + i * kKeySize, {kTimelineTrack});
        if (t != nullptr && std::find(tracks.begin(), tracks.end(), t) == tracks.end())
            tracks.push_back(t);
    }
    return tracks;
}

TrackKind KindOfTrack(const HeaderMetadata& m, const LocalSet& track)
{
    const LocalSet* segment = TrackSegment(m, track);
    return segment ? KindOfDataDefinition(ItemLabel(segment->items, kDataDefinition)) : TrackKind::Other;
}

// ---- Essence descriptors ----

// Picture coding labels: 06 0E 2B 34 04 01 01 xx 04 01 02, then 01 (uncompressed) or 02 (compressed) and the
// scheme.
constexpr uint8_t kPictureCodingPrefix[11] = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x04, 0x01, 0x02};
// Generic container labels: 06 0E 2B 34 04 01 01 xx 0D 01 03 01 02, then the mapping.
constexpr uint8_t kContainerPrefix[13] = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x02};
// Sound coding labels: 06 0E 2B 34 04 01 01 xx 04 02 02, then 01 (uncompressed) or 02 (compressed).
constexpr uint8_t kSoundCodingPrefix[11] = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x04, 0x02, 0x02};

StreamCodec CodecOfPictureCoding(const uint8_t* l)
{
    if (l == nullptr || !Matches(l, kPictureCodingPrefix, sizeof kPictureCodingPrefix))
        return StreamCodec::VfwVideo;
    if (l[11] == 0x01)
        return StreamCodec::RawVideo;
    if (l[11] != 0x02)
        return StreamCodec::VfwVideo;
    switch (l[12]) {
    case 0x01:  // MPEG: 01..09 MPEG-2 (D-10 is 01 02 01 xx), 10 MPEG-1, 20 MPEG-4 Visual, 30..3F AVC (32 AVC-Intra)
        if (l[13] >= 0x01 && l[13] <= 0x09)
            return StreamCodec::Mpeg2Video;
        if (l[13] == 0x10)
            return StreamCodec::Mpeg1Video;
        if (l[13] == 0x20)
            return StreamCodec::Mpeg4Video;
        if (l[13] >= 0x30 && l[13] <= 0x3F)
            return StreamCodec::H264;
        return StreamCodec::VfwVideo;
    case 0x02: return StreamCodec::DvVideo;  // 02 01 IEC DV, 02 02 DV-based
    case 0x03:  // 03 01 JPEG 2000, 03 06 ProRes
        return l[13] == 0x01 ? StreamCodec::Jpeg2000 : l[13] == 0x06 ? StreamCodec::ProRes : StreamCodec::VfwVideo;
    case 0x71: return StreamCodec::DnxHd;  // VC-3
    default: return StreamCodec::VfwVideo;
    }
}

// The codec a generic container mapping implies, for descriptors without a coding label.
StreamCodec CodecOfContainer(const uint8_t* l)
{
    if (l == nullptr || !Matches(l, kContainerPrefix, sizeof kContainerPrefix))
        return StreamCodec::VfwVideo;
    switch (l[13]) {
    case 0x01: return StreamCodec::Mpeg2Video;  // D-10
    case 0x02: return StreamCodec::DvVideo;
    case 0x04: return StreamCodec::Mpeg2Video;  // MPEG elementary stream
    case 0x05: return StreamCodec::RawVideo;
    case 0x0C: return StreamCodec::Jpeg2000;
    case 0x10: return StreamCodec::H264;  // AVC NAL unit or byte stream
    case 0x11: return StreamCodec::DnxHd;
    case 0x1C: return StreamCodec::ProRes;
    default: return StreamCodec::VfwVideo;
    }
}

// Which field of an interlaced picture comes first. FieldDominance names the temporally first field (1, the
// default, or 2); the VideoLineMap's first lines of field 1 and field 2 say which lies on top: in the 625- and
// 1125-line systems field 2 starts (total + 1) / 2 lines after field 1 -- an odd count -- and field 1 is the top
// field; in the 525-line system it starts (total - 1) / 2 lines after -- even -- and field 2 is on top.
uint32_t FieldOrderOfDescriptor(Bytes items)
{
    uint8_t dominance = 1;
    ItemU8(items, kFieldDominance, dominance);
    bool field1OnTop = true;
    uint32_t count = 0;
    const Bytes lines = ItemBatch(items, kVideoLineMap, 4, count);
    if (count >= 2) {
        const int64_t first = int32_t(Be32(lines.data())), second = int32_t(Be32(lines.data() + 4));
        if (first > 0 && second > first)
            field1OnTop = (second - first) % 2 == 1;
    }
    const bool field1First = dominance != 2;
    return field1First == field1OnTop ? 1 : 2;
}

void DescribePicture(const HeaderMetadata& m, const LocalSet& d, MxfTrack& track)
{
    StreamRecord& r = *track.record;
    r.streamClass = StreamClass::Video;
    r.codec = CodecOfPictureCoding(ItemLabel(d.items, kPictureCoding));
    if (r.codec == StreamCodec::VfwVideo && ItemLabel(d.items, kPictureCoding) == nullptr) {
        r.codec = CodecOfContainer(ItemLabel(d.items, kEssenceContainer));
        if (r.codec == StreamCodec::VfwVideo && d.kind == kMpegVideoDescriptor)
            r.codec = StreamCodec::Mpeg2Video;
    }

    // The picture the codec delivers is the sampled area: the stored one is rounded up to whole coding blocks
    // (1920x1088 for a 1080-line picture), and the displayed one may leave out lines the codec carries (D-10's 32
    // VBI lines). Where the sampled area is not stated, the displayed one, else the stored one. Interlaced and
    // segmented layouts state field heights.
    const auto size = [&d](uint16_t sampled, uint16_t display, uint16_t stored) {
        uint32_t value = 0;
        if (!ItemU32(d.items, sampled, value) && !ItemU32(d.items, display, value))
            ItemU32(d.items, stored, value);
        return value;
    };
    const uint32_t width = size(kSampledWidth, kDisplayWidth, kStoredWidth);
    const uint32_t height = size(kSampledHeight, kDisplayHeight, kStoredHeight);
    uint8_t layout = kFullFrame;
    ItemU8(d.items, kFrameLayout, layout);
    const bool fieldHeights = layout == kSeparateFields || layout == kMixedFields || layout == kSegmentedFrame;
    r.video.width = width;
    r.video.height = fieldHeights && height <= UINT32_MAX / 2 ? height * 2 : height;

    Rational aspect;
    if (ItemRational(d.items, kAspectRatio, aspect) && aspect.Positive()) {
        const int32_t g = std::gcd(aspect.num, aspect.den);
        r.video.aspectX = uint32_t(aspect.num / g);
        r.video.aspectY = uint32_t(aspect.den / g);
    }
    Rational rate;
    if (ItemRational(d.items, kSampleRate, rate) && rate.Positive()) {
        r.frameRate = double(rate.num) / rate.den;
        r.video.frameDuration = SamplesToUnits(uint64_t(rate.den), uint32_t(rate.num));
    }

    // MPEG video descriptors: the bit rate and profile_and_level_indication under dynamic tags.
    uint32_t bitRate = 0;
    if (const uint16_t tag = m.DynamicTag(kMpegBitRateLabel); tag != 0 && ItemU32(d.items, tag, bitRate))
        r.video.bitRate = bitRate;
    uint8_t profileLevel = 0;
    if (const uint16_t tag = m.DynamicTag(kMpegProfileLevelLabel); tag != 0 && ItemU8(d.items, tag, profileLevel)) {
        r.video.profile = (profileLevel >> 4) & 0x07;
        r.video.level = profileLevel & 0x0F;
    }

    // Full and segmented frames are progressive pictures; one stored field is shown as a picture of its own.
    const bool interlaced = layout == kSeparateFields || layout == kMixedFields;
    r.progressive = interlaced ? 0 : 1;
    r.fieldOrder = interlaced ? FieldOrderOfDescriptor(d.items) : 0;
    track.fieldsFromPicture = interlaced && r.codec == StreamCodec::Mpeg2Video;
}

StreamCodec CodecOfSound(const LocalSet& d)
{
    const uint8_t* l = ItemLabel(d.items, kSoundCompression);
    if (l == nullptr)
        return StreamCodec::PcmLittleEndian;  // AES3 and BWF sound, and descriptors that state no compression
    if (!Matches(l, kSoundCodingPrefix, sizeof kSoundCodingPrefix))
        return StreamCodec::VfwVideo;
    if (l[11] == 0x01)  // uncompressed; 01 7E is big-endian
        return l[12] == 0x7E ? StreamCodec::Lpcm : StreamCodec::PcmLittleEndian;
    if (l[11] == 0x02 && l[12] == 0x03 && l[13] == 0x01 && l[14] == 0x01)
        return StreamCodec::Alaw;
    return StreamCodec::VfwVideo;
}

void DescribeSound(const LocalSet& d, MxfTrack& track)
{
    StreamRecord& r = *track.record;
    r.streamClass = StreamClass::Audio;
    r.codec = CodecOfSound(d);
    AudioParams& a = r.audio;
    Rational rate;
    if (ItemRational(d.items, kAudioSamplingRate, rate) && rate.Positive())
        a.sampleRate = uint32_t((int64_t(rate.num) + rate.den / 2) / rate.den);
    ItemU32(d.items, kChannelCount, a.channels);
    ItemU32(d.items, kQuantizationBits, a.bitsPerSample);
    const bool pcm = r.codec == StreamCodec::PcmLittleEndian || r.codec == StreamCodec::Lpcm;
    if (!ItemU16(d.items, kBlockAlign, a.blockAlign))
        a.blockAlign = pcm ? a.channels * ((a.bitsPerSample + 7) / 8) : 1;
    if (!ItemU32(d.items, kAvgBps, a.bytesPerSecond))
        a.bytesPerSecond = uint32_t(std::min<uint64_t>(uint64_t(a.sampleRate) * a.blockAlign, UINT32_MAX));
}

// The descriptors of a file package: its own, or those a Multiple Descriptor lists; empty when the package's
// descriptor describes no file essence (a tape or import source).
std::vector<const LocalSet*> FileDescriptors(const HeaderMetadata& m, const LocalSet& package)
{
    const auto essence = [](const LocalSet* d) {
        return d != nullptr && (IsPictureDescriptor(d->kind) || IsSoundDescriptor(d->kind));
    };
    std::vector<const LocalSet*> out;
    const LocalSet* d = m.ResolveAny(ItemLabel(package.items, kPackageDescriptor));
    if (essence(d)) {
        out.push_back(d);
    } else if (d != nullptr && d->kind == kMultipleDescriptor) {
        uint32_t count = 0;
        const Bytes refs = ItemBatch(d->items, kSubDescriptors, kKeySize, count);
        for (uint32_t i = 0; i < count; ++i)
            if (const LocalSet* s = m.ResolveAny(refs.data() + i * kKeySize); essence(s))
                out.push_back(s);
    }
    return out;
}

// The descriptor of a track: the one linked to its TrackID, else one of its kind that names no track.
const LocalSet* DescriptorOf(const std::vector<const LocalSet*>& descriptors, uint32_t trackId, TrackKind kind)
{
    const auto ofKind = [kind](const LocalSet* d) {
        return kind == TrackKind::Picture ? IsPictureDescriptor(d->kind) : IsSoundDescriptor(d->kind);
    };
    for (const LocalSet* d : descriptors) {
        uint32_t linked = 0;
        if (ofKind(d) && ItemU32(d->items, kLinkedTrackId, linked) && linked == trackId)
            return d;
    }
    for (const LocalSet* d : descriptors) {
        uint32_t linked = 0;
        if (ofKind(d) && !ItemU32(d->items, kLinkedTrackId, linked))
            return d;
    }
    return nullptr;
}

// The records of a file package's picture and sound tracks. Stream ids are the TrackIDs; an id of 0 or one an
// earlier package took gets the next id above every id given.
void DescribeFilePackage(const HeaderMetadata& m, const LocalSet& package, MxfDescription& out)
{
    const std::vector<const LocalSet*> descriptors = FileDescriptors(m, package);
    if (descriptors.empty())
        return;
    for (const LocalSet* track : PackageTracks(m, package)) {
        if (out.tracks.size() >= kMaxFileStreams)
            return;
        const TrackKind kind = KindOfTrack(m, *track);
        uint32_t trackId = 0;
        ItemU32(track->items, kTrackId, trackId);
        const LocalSet* d = kind == TrackKind::Other ? nullptr : DescriptorOf(descriptors, trackId, kind);
        if (d == nullptr)
            continue;
        MxfTrack t;
        t.record = NewStreamRecord();
        if (!t.record)
            return;
        ItemU32(track->items, kTrackNumber, t.trackNumber);
        uint32_t highest = 0;
        bool taken = false;
        for (const MxfTrack& other : out.tracks) {
            highest = std::max(highest, other.record->streamId);
            taken = taken || other.record->streamId == trackId;
        }
        t.record->streamId = trackId != 0 && !taken ? trackId : highest + 1;
        if (kind == TrackKind::Picture)
            DescribePicture(m, *d, t);
        else
            DescribeSound(*d, t);
        out.tracks.push_back(std::move(t));
    }
}

// The material package's picture and sound tracks: the longest of each kind.
void MeasureMaterialPackage(const HeaderMetadata& m, const LocalSet& package, MxfDescription& out)
{
    for (const LocalSet* track : PackageTracks(m, package)) {
        const LocalSet* segment = TrackSegment(m, *track);
        const TrackKind kind = KindOfTrack(m, *track);
        Rational rate;
        if (segment == nullptr || kind == TrackKind::Other || !ItemRational(track->items, kEditRate, rate))
            continue;
        const int64_t end = EditUnitsToTime(SegmentDuration(m, *segment), rate.num, rate.den);
        if (kind == TrackKind::Picture && end > out.videoEnd) {
            out.videoEnd = end;
            out.videoFrameDuration = uint32_t(EditUnitsToTime(1, rate.num, rate.den));
        } else if (kind == TrackKind::Sound) {
            out.audioEnd = std::max(out.audioEnd, end);
        }
    }
}

}  // namespace

// ---- KLV coding ----

bool ReadBerLength(Bytes b, size_t off, uint64_t& length, size_t& size)
{
    if (!Has(b, off, 1))
        return false;
    const uint8_t first = b[off];
    if (first < 0x80) {
        length = first, size = 1;
        return true;
    }
    const size_t n = first & 0x7F;
    if (n == 0 || n > 8 || !Has(b, off + 1, n))
        return false;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v = v << 8 | b[off + 1 + i];
    length = v, size = 1 + n;
    return true;
}

bool ReadKlv(Bytes b, size_t off, Klv& out)
{
    uint64_t length = 0;
    size_t size = 0;
    if (!Has(b, off, kKeySize) || !ReadBerLength(b, off + kKeySize, length, size))
        return false;
    out = {b.data() + off, off + kKeySize + size, length};
    return true;
}

bool IsPartitionPack(const uint8_t* key, uint8_t kind)
{
    return std::memcmp(key, kPartitionPrefix, sizeof kPartitionPrefix) == 0 && key[13] == kind && key[14] >= 1 &&
           key[14] <= 4 && key[15] == 0;
}

bool IsAnyPartitionPack(const uint8_t* key)
{
    return IsPartitionPack(key, kHeaderPartition) || IsPartitionPack(key, 0x03) ||
           IsPartitionPack(key, kFooterPartition);
}

bool IsFill(const uint8_t* key) { return Matches(key, kFillKey, kKeySize); }

bool IsIndexSegment(const uint8_t* key) { return Matches(key, kIndexSegmentKey, kKeySize); }

bool IsPictureElement(const uint8_t* key)
{
    return Matches(key, kElementPrefix, sizeof kElementPrefix) &&
           (key[12] == kGcPictureItem || key[12] == kCpPictureItem);
}

bool ReadPartitionPack(Bytes value, PartitionPack& out)
{
    // MajorVersion, MinorVersion, KAGSize, ThisPartition, PreviousPartition, FooterPartition, HeaderByteCount,
    // IndexByteCount, IndexSID, BodyOffset, BodySID, OperationalPattern.
    constexpr size_t kFooterAt = 24, kHeaderByteCountAt = 32, kPatternAt = 64;
    if (!Has(value, kPatternAt, kKeySize))
        return false;
    out.footerPartition = Be64(value.data() + kFooterAt);
    out.headerByteCount = Be64(value.data() + kHeaderByteCountAt);
    std::memcpy(out.pattern, value.data() + kPatternAt, kKeySize);
    return true;
}

void PatternName(const uint8_t* label, char (&text)[16])
{
    std::memset(text, 0, sizeof text);
    if (label == nullptr || !Matches(label, kPatternPrefix, sizeof kPatternPrefix))
        return;
    const uint8_t item = label[12], package = label[13];
    if (item == kOpAtom) {
        std::memcpy(text, "OP-Atom", 7);
    } else if (item >= 1 && item <= 3 && package >= 1 && package <= 3) {
        text[0] = 'O', text[1] = 'P', text[2] = char('0' + item), text[3] = char('a' + package - 1);
    }
}

// ---- Index table segments ----

void IndexExtent::Add(Bytes value)
{
    Rational rate;
    int64_t start = 0, duration = 0;
    if (!ItemRational(value, kIndexEditRate, rate) || !rate.Positive() || !ItemI64(value, kIndexDuration, duration) ||
        duration <= 0)
        return;
    ItemI64(value, kIndexStartPosition, start);
    if (start < 0 || duration > INT64_MAX - start)
        return;
    if (end < 0)
        rateNum = rate.num, rateDen = rate.den;
    else if (rate.num != rateNum || rate.den != rateDen)
        return;
    end = std::max(end, start + duration);
}

int64_t IndexExtent::EndTime() const { return EditUnitsToTime(end, rateNum, rateDen); }

void ScanIndexSegments(Bytes b, size_t off, IndexExtent& extent)
{
    Klv klv;
    for (int n = 0; n < kMaxIndexItems && ReadKlv(b, off, klv) && klv.length <= b.size() - klv.valueOffset; ++n) {
        if (IsIndexSegment(klv.key))
            extent.Add(b.subspan(klv.valueOffset, size_t(klv.length)));
        off = klv.valueOffset + size_t(klv.length);
    }
}

// ---- Header metadata ----

MxfDescription DescribeHeaderMetadata(Bytes b, TagList* tags)
{
    MxfDescription out;
    const HeaderMetadata m(b);
    out.metadataEnd = m.End();
    if (const LocalSet* identification = m.Last(kIdentification); identification && tags)
        ReadIdentification(identification->items, *tags);
    const LocalSet* preface = m.First(kPreface);
    if (preface == nullptr)
        return out;
    if (const uint8_t* pattern = ItemLabel(preface->items, kPrefacePattern))
        std::memcpy(out.pattern, pattern, kKeySize);
    const LocalSet* storage = m.Resolve(ItemLabel(preface->items, kPrefaceContentStorage), {kContentStorage});
    if (storage == nullptr)
        return out;
    uint32_t count = 0;
    const Bytes refs = ItemBatch(storage->items, kPackages, kKeySize, count);
    std::vector<const LocalSet*> seen;
    for (uint32_t i = 0; i < count; ++i) {
        const LocalSet* p = m.Resolve(refs.data() + i * kKeySize, {kMaterialPackage, kSourcePackage});
        if (p == nullptr || std::find(seen.begin(), seen.end(), p) != seen.end())
            continue;
        seen.push_back(p);
        if (p->kind == kMaterialPackage)
            MeasureMaterialPackage(m, *p, out);
        else
            DescribeFilePackage(m, *p, out);
    }
    return out;
}

int64_t EditUnitsToTime(int64_t count, int32_t num, int32_t den)
{
    if (count < 0 || num <= 0 || den <= 0 || uint64_t(count) > UINT64_MAX / uint64_t(den))
        return -1;
    const uint64_t units = uint64_t(count) * uint64_t(den);  // at 1/num-second ticks
    if (units / uint64_t(num) > uint64_t(kMaxSeconds))
        return -1;
    return SamplesToUnits(units, uint32_t(num));
}

}  // namespace md
