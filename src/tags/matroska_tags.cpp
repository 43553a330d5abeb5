#include "tags/matroska_tags.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "tags/mp4_tags.h"
#include "tags/tag_keys.h"
#include "tags/tag_text.h"

namespace md {
namespace {

constexpr uint32_t kEbmlHeader = 0x1A45DFA3, kSegment = 0x18538067, kSeekHead = 0x114D9B74, kSeek = 0x4DBB,
                   kSeekId = 0x53AB, kSeekPosition = 0x53AC, kInfo = 0x1549A966, kTitle = 0x7BA9, kMuxingApp = 0x4D80,
                   kWritingApp = 0x5741, kDateUtc = 0x4461, kTags = 0x1254C367, kTag = 0x7373, kTargets = 0x63C0,
                   kTagTrackUid = 0x63C5, kTagEditionUid = 0x63C9, kTagChapterUid = 0x63C4, kTagAttachmentUid = 0x63C6,
                   kSimpleTag = 0x67C8, kTagName = 0x45A3, kTagString = 0x4487, kCluster = 0x1F43B675,
                   kAttachments = 0x1941A469, kAttachedFile = 0x61A7, kFileName = 0x466E, kFileData = 0x465C;
constexpr uint64_t kUnknownSize = ~uint64_t(0);

// One element: its id (with its length marker), where its data starts and its size (kUnknownSize: unknown).
struct Element {
    uint32_t id = 0;
    size_t dataAt = 0;
    uint64_t size = 0;
};

// The variable-length integer at b[pos]: its length (1 to maxLength), 0 when malformed or cut short.
size_t VintLength(Bytes b, size_t pos, size_t maxLength)
{
    if (!Has(b, pos, 1) || b[pos] == 0)
        return 0;
    const size_t length = size_t(std::countl_zero(b[pos])) + 1;
    return length <= maxLength && Has(b, pos, length) ? length : 0;
}

// The element header at b[pos]; false when it is malformed or cut short.
bool ReadElement(Bytes b, size_t pos, Element& e)
{
    const size_t idLength = VintLength(b, pos, 4);
    if (idLength == 0)
        return false;
    e.id = 0;
    for (size_t i = 0; i < idLength; ++i)
        e.id = e.id << 8 | b[pos + i];
    const size_t sizeAt = pos + idLength;
    const size_t sizeLength = VintLength(b, sizeAt, 8);
    if (sizeLength == 0)
        return false;
    uint64_t size = b[sizeAt] & (0xFF >> sizeLength);
    bool allOnes = size == (0xFFu >> sizeLength);
    for (size_t i = 1; i < sizeLength; ++i) {
        size = size << 8 | b[sizeAt + i];
        allOnes = allOnes && b[sizeAt + i] == 0xFF;
    }
    e.dataAt = sizeAt + sizeLength;
    e.size = allOnes ? kUnknownSize : size;
    return true;
}

// Calls take(element, data) for each child of a master element's data, data cut to what b holds; stops at a
// malformed header, an element of unknown size (its data runs to the end of body) after taking it, or the cap.
template <typename Take>
void ForEachElement(Bytes body, Take&& take)
{
    size_t pos = 0;
    for (int n = 0; n < kMaxEbmlElements && pos < body.size(); ++n) {
        Element e;
        if (!ReadElement(body, pos, e))
            return;
        const size_t available = body.size() - std::min(e.dataAt, body.size());
        const bool whole = e.size != kUnknownSize && e.size <= available;
        if (!take(e, body.subspan(std::min(e.dataAt, body.size()), whole ? size_t(e.size) : available), whole) ||
            !whole)
            return;
        pos = e.dataAt + size_t(e.size);
    }
}

uint64_t UnsignedOf(Bytes data)
{
    uint64_t v = 0;
    for (size_t i = 0; i < data.size() && i < 8; ++i)
        v = v << 8 | data[i];
    return v;
}

void TakeInfo(Bytes info, TagList& tags)
{
    ForEachElement(info, [&](const Element& e, Bytes data, bool whole) {
        if (!whole)
            return false;
        if (e.id == kTitle)
            tags.Set("title", AsText(data));
        else if (e.id == kMuxingApp)
            tags.Set("encoder", AsText(data));
        else if (e.id == kWritingApp)
            tags.Set("writing_app", AsText(data));
        else if (e.id == kDateUtc && data.size() == 8)
            tags.Set("creation_time", Iso8601FromMatroskaDate(int64_t(UnsignedOf(data))));
        return true;
    });
}

// A Tag whose Targets name no track, edition, chapter or attachment applies to the whole file.
void TakeTag(Bytes tag, TagList& tags)
{
    bool global = true;
    ForEachElement(tag, [&](const Element& e, Bytes data, bool) {
        if (e.id == kTargets)
            ForEachElement(data, [&](const Element& t, Bytes, bool) {
                global = global && t.id != kTagTrackUid && t.id != kTagEditionUid && t.id != kTagChapterUid &&
                         t.id != kTagAttachmentUid;
                return true;
            });
        return true;
    });
    if (!global)
        return;
    ForEachElement(tag, [&](const Element& e, Bytes data, bool whole) {
        if (e.id != kSimpleTag || !whole)
            return whole;
        Bytes name, value;
        ForEachElement(data, [&](const Element& s, Bytes field, bool fieldWhole) {
            if (s.id == kTagName && fieldWhole)
                name = field;
            else if (s.id == kTagString && fieldWhole)
                value = field;
            return fieldWhole;
        });
        if (!name.empty())
            tags.Set(TagKey(TagSystem::Matroska, AsText(name)), AsText(value));
        return true;
    });
}

}  // namespace

std::string Iso8601FromMatroskaDate(int64_t nanoseconds)
{
    constexpr int64_t k1904To2001 = 3061152000;  // seconds: 97 years, 24 of them leap years
    constexpr int64_t kNanoseconds = 1000000000;
    // Whole seconds, rounded down (before 2001 too).
    const int64_t seconds = nanoseconds / kNanoseconds - (nanoseconds % kNanoseconds < 0 ? 1 : 0);
    if (seconds < -k1904To2001)
        return {};
    return Iso8601From1904(uint64_t(seconds + k1904To2001));
}

void ReadMatroskaTagsBody(Bytes body, TagList& tags)
{
    ForEachElement(body, [&](const Element& e, Bytes data, bool whole) {
        if (e.id == kTag && whole)
            TakeTag(data, tags);
        return whole;
    });
}

void ReadMatroskaHead(Bytes head, TagList& tags, uint64_t* tagsAt, uint64_t* attachmentsAt)
{
    *tagsAt = 0;
    uint64_t seekAttachments = 0;
    Element ebml, segment;
    if (!ReadElement(head, 0, ebml) || ebml.id != kEbmlHeader || ebml.dataAt > head.size() ||
        ebml.size > head.size() - ebml.dataAt || !ReadElement(head, ebml.dataAt + size_t(ebml.size), segment) ||
        segment.id != kSegment || segment.dataAt > head.size())
        return;
    const size_t segmentAt = segment.dataAt;
    bool tagsSeen = false;
    uint64_t seekTags = 0;
    ForEachElement(head.subspan(segmentAt), [&](const Element& e, Bytes data, bool whole) {
        if (e.id == kInfo && whole) {
            TakeInfo(data, tags);
        } else if (e.id == kTags && whole) {
            ReadMatroskaTagsBody(data, tags);
            tagsSeen = true;
        } else if (e.id == kSeekHead && whole) {
            ForEachElement(data, [&](const Element& s, Bytes seek, bool) {
                if (s.id != kSeek)
                    return true;
                uint64_t id = 0, position = 0;
                ForEachElement(seek, [&](const Element& f, Bytes field, bool) {
                    if (f.id == kSeekId)
                        id = UnsignedOf(field);
                    else if (f.id == kSeekPosition)
                        position = UnsignedOf(field);
                    return true;
                });
                if (id == kTags && seekTags == 0)
                    seekTags = position;
                else if (id == kAttachments && seekAttachments == 0)
                    seekAttachments = position;
                return true;
            });
        }
        // Clusters hold the media: the head's Info and Tags come before them.
        return e.id != kCluster;
    });
    if (!tagsSeen && seekTags != 0 && seekTags <= UINT64_MAX - segmentAt)
        *tagsAt = segmentAt + seekTags;
    if (attachmentsAt)
        *attachmentsAt =
            seekAttachments != 0 && seekAttachments <= UINT64_MAX - segmentAt ? segmentAt + seekAttachments : 0;
}

namespace {

// Whether an attached file's name is "cover.<extension>", in any case.
bool IsCoverName(std::string_view name)
{
    constexpr std::string_view kCover = "cover.";
    if (name.size() <= kCover.size())
        return false;
    for (size_t i = 0; i < kCover.size(); ++i)
        if (char(name[i] | 0x20) != kCover[i])
            return false;
    return true;
}

}  // namespace

void PlaceMatroskaCover(ZPMP::InputStream& input, uint64_t attachmentsAt, CoverLocation& cover)
{
    const uint64_t fileSize = input.Size();
    std::vector<uint8_t> bytes(size_t(std::min<uint64_t>(kMatroskaAttachmentReadBytes, fileSize)));
    uint8_t header[16] = {};
    Element attachments;
    const uint32_t got = attachmentsAt < fileSize ? ZPMP::ReadAt(input, attachmentsAt, header, sizeof header) : 0;
    if (!ReadElement(Bytes(header, got), 0, attachments) || attachments.id != kAttachments)
        return;
    uint64_t pos = attachmentsAt + attachments.dataAt;
    if (pos >= fileSize)
        return;
    const uint64_t end = attachments.size > fileSize - pos ? fileSize : pos + attachments.size;
    for (int n = 0; n < kMaxMatroskaAttachments && pos < end; ++n) {
        // One read from the attached file's header on; its position in the file is pos.
        bytes.resize(size_t(std::min<uint64_t>(kMatroskaAttachmentReadBytes, end - pos)));
        bytes.resize(ZPMP::ReadAt(input, pos, bytes.data(), uint32_t(bytes.size())));
        const Bytes read(bytes);
        Element file;
        if (!ReadElement(read, 0, file) || file.size == kUnknownSize || file.dataAt > read.size())
            return;
        if (file.id == kAttachedFile) {
            const Bytes body =
                read.subspan(file.dataAt, size_t(std::min<uint64_t>(file.size, read.size() - file.dataAt)));
            std::string_view name;
            uint64_t dataAt = 0, dataSize = 0;
            ForEachElement(body, [&](const Element& e, Bytes data, bool whole) {
                if (e.id == kFileName && whole)
                    name = AsText(data);
                else if (e.id == kFileData && e.size != kUnknownSize && e.dataAt <= body.size()) {
                    dataAt = pos + file.dataAt + e.dataAt;
                    dataSize = e.size;
                }
                return true;
            });
            // The data must lie within the attached file.
            if (IsCoverName(name) && dataSize != 0 && dataAt + dataSize <= pos + file.dataAt + file.size)
                cover.Offer(dataAt, dataSize, true);
        }
        if (file.size > end - pos - std::min<uint64_t>(file.dataAt, end - pos))
            return;
        pos += file.dataAt + file.size;
    }
}

void ReadMatroskaFileTags(ZPMP::InputStream& input, TagList& tags, CoverLocation* cover)
{
    const uint64_t fileSize = input.Size();
    std::vector<uint8_t> bytes(size_t(std::min<uint64_t>(fileSize, kMatroskaTagHeadBytes)));
    bytes.resize(ZPMP::ReadAt(input, 0, bytes.data(), uint32_t(bytes.size())));
    uint64_t tagsAt = 0, attachmentsAt = 0;
    ReadMatroskaHead(Bytes(bytes), tags, &tagsAt, &attachmentsAt);
    if (cover && attachmentsAt != 0)
        PlaceMatroskaCover(input, attachmentsAt, *cover);
    if (tagsAt == 0 || tagsAt >= fileSize)
        return;
    bytes.resize(size_t(std::min<uint64_t>(fileSize - tagsAt, kMaxMatroskaTagsBytes)));
    bytes.resize(ZPMP::ReadAt(input, tagsAt, bytes.data(), uint32_t(bytes.size())));
    Element e;
    if (!ReadElement(Bytes(bytes), 0, e) || e.id != kTags || e.dataAt > bytes.size())
        return;
    const uint64_t available = bytes.size() - e.dataAt;  // a Tags element larger than the read is read in part
    ReadMatroskaTagsBody(Bytes(bytes).subspan(e.dataAt, size_t(std::min(e.size, available))), tags);
}

}  // namespace md
