#include "mkv/mkv_tags.h"

#include <algorithm>
#include <string>
#include <string_view>

#include <ebml/EbmlDate.h>
#include <ebml/EbmlHead.h>
#include <matroska/KaxAttached.h>
#include <matroska/KaxAttachments.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxInfo.h>
#include <matroska/KaxInfoData.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSegment.h>
#include <matroska/KaxTag.h>
#include <matroska/KaxTags.h>

#include "mkv/ebml_reader.h"
#include "tags/matroska_tags.h"
#include "tags/tag_keys.h"

namespace md {
namespace {

using namespace libmatroska;

// Longest element head: a 4-byte ID and an 8-byte size.
constexpr uint64_t kMaxElementHead = 12;

// The nanoseconds since 2001 that a DateUTC holds: libebml hands out whole seconds since 1970 only, rounded toward
// zero, which would move dates before 2001 by a second.
struct DateNanoseconds : libebml::EbmlDate {
    static int64_t Of(const libebml::EbmlDate& date) { return date.*(&DateNanoseconds::myDate); }
};

// The header of the element at file offset pos, when all of it lies before limit.
bool HeaderAt(EbmlWindow& window, uint64_t pos, uint64_t limit, ElementHeader& header)
{
    if (pos >= limit)
        return false;
    window.Fill(std::min(pos + kMaxElementHead, limit));
    const Bytes held = window.From(pos);
    return ReadElementHeader(held.first(size_t(std::min<uint64_t>(held.size(), limit - pos))), header) ==
           HeaderRead::Ok;
}

// Whether the element at pos, of known size, ends at or before limit.
bool EndsBy(uint64_t pos, const ElementHeader& header, uint64_t limit)
{
    return !header.unknownSize && pos + header.headSize <= limit && header.size <= limit - pos - header.headSize;
}

void TakeInfo(const KaxInfo& info, TagList& tags)
{
    // In the file's order: a repeated element replaces the value of the one before it.
    for (const libebml::EbmlElement* e : info.GetElementList()) {
        if (const auto* title = dynamic_cast<const KaxTitle*>(e))
            tags.Set("title", title->GetValueUTF8());
        else if (const auto* muxer = dynamic_cast<const KaxMuxingApp*>(e))
            tags.Set("encoder", muxer->GetValueUTF8());
        else if (const auto* writer = dynamic_cast<const KaxWritingApp*>(e))
            tags.Set("writing_app", writer->GetValueUTF8());
        else if (const auto* date = dynamic_cast<const KaxDateUTC*>(e); date != nullptr && date->GetSize() == 8)
            tags.Set("creation_time", Iso8601FromMatroskaDate(DateNanoseconds::Of(*date)));
    }
}

// Calls take(header, at) for each child of the master element whose data spans [pos, end), at its file offset;
// a malformed header, a child that runs past end or the cap ends the walk.
template <typename Take>
void ForEachChild(EbmlWindow& window, uint64_t pos, uint64_t end, Take&& take)
{
    for (int n = 0; n < kMaxMatroskaTagElements && pos < end; ++n) {
        ElementHeader header;
        if (!HeaderAt(window, pos, end, header) || !EndsBy(pos, header, end))
            return;
        take(header, pos);
        pos += header.TotalSize();
    }
}

// Whether a Tag's Targets name a track, edition, chapter or attachment: then the Tag is not the file's. Targets
// that cannot be read are taken to name one, so that no track's tag is listed as the file's.
bool NamesAPart(EbmlWindow& window, uint64_t pos)
{
    const auto targets = ReadMaster<KaxTagTargets>(window, pos);
    if (!targets)
        return true;
    for (const libebml::EbmlElement* t : targets->GetElementList())
        if (HasId<KaxTagTrackUID>(*t) || HasId<KaxTagEditionUID>(*t) || HasId<KaxTagChapterUID>(*t) ||
            HasId<KaxTagAttachmentUID>(*t))
            return true;
    return false;
}

void TakeSimpleTag(const KaxTagSimple& simple, TagList& tags)
{
    std::string name, value;  // the last of each counts
    for (const libebml::EbmlElement* field : simple.GetElementList()) {
        if (const auto* n = dynamic_cast<const KaxTagName*>(field))
            name = n->GetValueUTF8();
        else if (const auto* s = dynamic_cast<const KaxTagString*>(field))
            value = s->GetValueUTF8();
    }
    if (!name.empty())
        tags.Set(TagKey(TagSystem::Matroska, name), value);
}

// A Tag whose Targets name no track, edition, chapter or attachment applies to the whole file. Its Targets and
// SimpleTags are read one by one, so that a damaged SimpleTag costs only itself.
void TakeTag(EbmlWindow& window, uint64_t pos, uint64_t end, TagList& tags)
{
    bool global = true;
    ForEachChild(window, pos, end, [&](const ElementHeader& header, uint64_t at) {
        if (HasId<KaxTagTargets>(header))
            global = global && !NamesAPart(window, at);
    });
    if (!global)
        return;
    ForEachChild(window, pos, end, [&](const ElementHeader& header, uint64_t at) {
        if (HasId<KaxTagSimple>(header))
            if (const auto simple = ReadMaster<KaxTagSimple>(window, at))
                TakeSimpleTag(static_cast<const KaxTagSimple&>(*simple), tags);
    });
}

// The Tag elements among [pos, end): each one that lies whole before end is read; the first that does not, or a
// malformed header, ends the list.
void TakeTags(EbmlWindow& window, uint64_t pos, uint64_t end, TagList& tags)
{
    ForEachChild(window, pos, end, [&](const ElementHeader& header, uint64_t at) {
        if (HasId<KaxTag>(header))
            TakeTag(window, at + header.headSize, at + header.TotalSize(), tags);
    });
}

// Where the SeekHead sends a reader, as file offsets (0: not named).
struct SeekPlaces {
    uint64_t tags = 0;
    uint64_t attachments = 0;
};

void TakeSeekHead(const KaxSeekHead& seekHead, uint64_t segmentAt, SeekPlaces& places)
{
    const uint64_t tagsId = EBML_ID(KaxTags).GetValue();
    const uint64_t attachmentsId = EBML_ID(KaxAttachments).GetValue();
    for (const libebml::EbmlElement* e : seekHead.GetElementList()) {
        const auto* seek = dynamic_cast<const KaxSeek*>(e);
        if (seek == nullptr)
            continue;
        // The ID as written, its length marker included.
        uint64_t id = 0;
        const Bytes written = BinaryBytes(FindFirst<KaxSeekID>(*seek));
        for (size_t i = 0; i < written.size() && i < sizeof id; ++i)
            id = id << 8 | written[i];
        const uint64_t position = UIntOf<KaxSeekPosition>(*seek);
        // A position counts from the segment's data; 0 (or one that overflows) names nothing.
        if (position == 0 || position > UINT64_MAX - segmentAt)
            continue;
        if (id == tagsId && places.tags == 0)
            places.tags = segmentAt + position;
        else if (id == attachmentsId && places.attachments == 0)
            places.attachments = segmentAt + position;
    }
}

// Reads the Info, Tags and SeekHead that lie whole in the file's first headEnd bytes, up to the first Cluster.
// Returns where the SeekHead places Tags (when the head held none) and Attachments.
SeekPlaces ReadHead(EbmlWindow& window, uint64_t headEnd, TagList& tags)
{
    SeekPlaces places;
    window.Restart(0);
    ElementHeader ebml, segment;
    if (!HeaderAt(window, 0, headEnd, ebml) || !HasId<libebml::EbmlHead>(ebml) || !EndsBy(0, ebml, headEnd) ||
        !HeaderAt(window, ebml.TotalSize(), headEnd, segment) || !HasId<KaxSegment>(segment))
        return places;
    const uint64_t segmentAt = ebml.TotalSize() + segment.headSize;
    bool tagsSeen = false;
    uint64_t pos = segmentAt;
    for (int n = 0; n < kMaxMatroskaTagElements && pos < headEnd; ++n) {
        ElementHeader header;
        // Clusters hold the media: the head's Info and Tags come before them.
        if (!HeaderAt(window, pos, headEnd, header) || HasId<KaxCluster>(header) || !EndsBy(pos, header, headEnd))
            break;
        if (HasId<KaxInfo>(header)) {
            if (const auto info = ReadMaster<KaxInfo>(window, pos))
                TakeInfo(static_cast<const KaxInfo&>(*info), tags);
        } else if (HasId<KaxTags>(header)) {
            TakeTags(window, pos + header.headSize, pos + header.TotalSize(), tags);
            tagsSeen = true;
        } else if (HasId<KaxSeekHead>(header)) {
            if (const auto seekHead = ReadMaster<KaxSeekHead>(window, pos))
                TakeSeekHead(static_cast<const KaxSeekHead&>(*seekHead), segmentAt, places);
        }
        pos += header.TotalSize();
    }
    if (tagsSeen)
        places.tags = 0;
    return places;
}

// Reads the Tags element at tagsAt, at most kMaxMatroskaTagsBytes of it: a larger one is read in part.
void ReadTagsAt(EbmlWindow& window, uint64_t tagsAt, uint64_t fileSize, TagList& tags)
{
    if (tagsAt >= fileSize)
        return;
    const uint64_t readEnd = tagsAt + std::min<uint64_t>(fileSize - tagsAt, kMaxMatroskaTagsBytes);
    window.Restart(tagsAt);
    // One read of all that may be looked at, as a remote file costs a request per read.
    window.Fill(readEnd);
    ElementHeader header;
    if (!HeaderAt(window, tagsAt, readEnd, header) || !HasId<KaxTags>(header))
        return;
    const uint64_t dataAt = tagsAt + header.headSize;
    const uint64_t end = EndsBy(tagsAt, header, readEnd) ? dataAt + header.size : readEnd;
    TakeTags(window, dataAt, end, tags);
}

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

// Offers cover the FileData of each attached file named "cover.*" in the Attachments element at attachmentsAt.
// An attached file cannot be read whole (its data is the picture), so its children's headers are walked and only
// the name is looked at; each attached file is read from its header on, kMatroskaAttachmentReadBytes at most.
void PlaceCover(EbmlWindow& window, uint64_t attachmentsAt, uint64_t fileSize, CoverLocation& cover)
{
    window.Restart(attachmentsAt);
    ElementHeader attachments;
    if (!HeaderAt(window, attachmentsAt, fileSize, attachments) || !HasId<KaxAttachments>(attachments))
        return;
    uint64_t pos = attachmentsAt + attachments.headSize;
    if (pos >= fileSize)
        return;
    const uint64_t end = EndsBy(attachmentsAt, attachments, fileSize) ? pos + attachments.size : fileSize;
    for (int n = 0; n < kMaxMatroskaAttachments && pos < end; ++n) {
        const uint64_t readEnd = pos + std::min<uint64_t>(kMatroskaAttachmentReadBytes, end - pos);
        window.Restart(pos);
        window.Fill(readEnd);
        ElementHeader file;
        if (!HeaderAt(window, pos, readEnd, file) || file.unknownSize)
            return;
        const uint64_t bodyAt = pos + file.headSize;
        if (HasId<KaxAttached>(file)) {
            const uint64_t fileEnd = EndsBy(pos, file, readEnd) ? bodyAt + file.size : readEnd;
            std::string name;
            uint64_t dataAt = 0, dataSize = 0;
            uint64_t at = bodyAt;
            for (int k = 0; k < kMaxMatroskaTagElements && at < fileEnd; ++k) {
                ElementHeader child;
                if (!HeaderAt(window, at, fileEnd, child))
                    break;
                const bool whole = EndsBy(at, child, fileEnd);
                if (HasId<KaxFileName>(child) && whole) {
                    const Bytes text = window.From(at + child.headSize);
                    if (text.size() < child.size)  // the read came back short
                        break;
                    name.assign(reinterpret_cast<const char*>(text.data()), size_t(child.size));
                } else if (HasId<KaxFileData>(child) && !child.unknownSize) {
                    dataAt = at + child.headSize;
                    dataSize = child.size;
                }
                if (!whole)
                    break;
                at += child.TotalSize();
            }
            // The data must lie within the attached file.
            if (IsCoverName(name) && dataSize != 0 && dataSize <= file.size && dataAt - bodyAt <= file.size - dataSize)
                cover.Offer(dataAt, dataSize, true);
        }
        if (!EndsBy(pos, file, end))
            return;
        pos += file.TotalSize();
    }
}

}  // namespace

void ReadMatroskaTags(ZPMP::InputStream& input, TagList& tags, CoverLocation* cover) noexcept
{
    try {
        EbmlWindow window(input);
        if (!window.ok())
            return;
        const uint64_t fileSize = input.Size();
        const SeekPlaces places = ReadHead(window, std::min<uint64_t>(fileSize, kMatroskaTagHeadBytes), tags);
        if (cover != nullptr && places.attachments != 0)
            PlaceCover(window, places.attachments, fileSize, *cover);
        if (places.tags != 0)
            ReadTagsAt(window, places.tags, fileSize, tags);
    } catch (...) {
        // Out of memory (libebml's own failures are caught where it is called): what was listed stays.
    }
}

}  // namespace md
