#include "mxf/mxf.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "mxf/mxf_metadata.h"

namespace md {
namespace {

// A run-in before the header partition is at most 64 KiB long.
constexpr size_t kMaxRunIn = 0x10000;
// Bounds on the reads: a partition pack's value, the header metadata (stated, or not), the start of the first
// picture, an index table segment read on the way to it, the end of the file searched for the footer.
constexpr uint64_t kMaxPartitionPack = 0x10000;
constexpr uint64_t kMaxHeaderMetadata = 4 << 20;
constexpr uint64_t kUnstatedHeaderMetadata = 512 << 10;
constexpr uint32_t kFirstPictureBytes = 0x10000;
constexpr uint64_t kMaxIndexSegment = 0x10000;
constexpr uint32_t kTailBytes = 0x10000;
// KLV items stepped over: fill after the partition pack, items on the way to the first picture.
constexpr int kMaxFillItems = 16;
constexpr int kMaxEssenceItems = 64;
// A key and the longest BER length (0x88 and eight bytes).
constexpr uint32_t kKlvHeaderBytes = kKeySize + 9;

// The offset of the header partition pack key among the first kMaxRunIn + 1 offsets of b, or -1.
int64_t FindHeaderPartition(Bytes b)
{
    const size_t last = std::min(b.size() < kKeySize ? 0 : b.size() - kKeySize + 1, kMaxRunIn + 1);
    for (size_t i = 0; i < last; ++i)
        if (b[i] == 0x06 && IsPartitionPack(b.data() + i, kHeaderPartition))
            return int64_t(i);
    return -1;
}

// The KLV item at pos of the file: its key bytes, where its value starts and its length. False when the key or
// the length is cut off or malformed, or the value runs past the end of the file.
struct FileKlv {
    uint8_t key[kKeySize] = {};
    uint64_t value = 0;
    uint64_t length = 0;
};
bool ReadFileKlv(ZPMP::InputStream& input, uint64_t pos, uint64_t fileSize, FileKlv& out)
{
    uint8_t h[kKlvHeaderBytes] = {};
    const uint32_t n = ZPMP::ReadAt(input, pos, h, kKlvHeaderBytes);
    Klv klv;
    if (!ReadKlv(Bytes(h, n), 0, klv))
        return false;
    std::memcpy(out.key, h, kKeySize);
    out.value = pos + klv.valueOffset;
    out.length = klv.length;
    return out.value <= fileSize && out.length <= fileSize - out.value;
}

// Reads n bytes at pos into a buffer sized to what was read.
std::vector<uint8_t> ReadBytes(ZPMP::InputStream& input, uint64_t pos, uint64_t n)
{
    std::vector<uint8_t> b(static_cast<size_t>(n));
    b.resize(ZPMP::ReadAt(input, pos, b.data(), uint32_t(b.size())));
    return b;
}

// The first picture of MPEG-2 video: its sequence and picture headers, and where the descriptor says the
// pictures are interlaced, whether this one comes top or bottom field first (a progressive frame is shown as one).
void ReadFirstMpeg2Picture(Bytes es, MxfTrack& track)
{
    StreamRecord& r = *track.record;
    if (!CollectHeaders(es.data(), uint32_t(es.size()), r.extraData1, r.extraData1Length, r.extraData2,
                        r.extraData2Length, kModeMpegVideo))
        return;
    uint32_t order = 0;
    uint8_t progressiveFrame = 0;
    if (track.fieldsFromPicture && FirstPictureCoding(r, order, progressiveFrame))
        r.fieldOrder = progressiveFrame ? 0 : order != 0 ? order : r.fieldOrder;
}

// Steps over the KLV items after the header metadata to the first picture element of the track (its TrackNumber
// in the key's last four bytes, or any picture element when it states none) and reads its start; the index table
// segments of the header partition (those before the next partition pack) are folded into the extent.
void WalkToFirstPicture(ZPMP::InputStream& input, uint64_t pos, uint64_t fileSize, MxfTrack* track, IndexExtent& index)
{
    FileKlv klv;
    bool headerPartition = true;
    for (int n = 0; n < kMaxEssenceItems && ReadFileKlv(input, pos, fileSize, klv); ++n) {
        headerPartition = headerPartition && !IsAnyPartitionPack(klv.key);
        if (headerPartition && IsIndexSegment(klv.key) && klv.length <= kMaxIndexSegment) {
            const std::vector<uint8_t> value = ReadBytes(input, klv.value, klv.length);
            index.Add(value);
        } else if (track != nullptr && IsPictureElement(klv.key) &&
                   (track->trackNumber == 0 || Be32(klv.key + 12) == track->trackNumber)) {
            const std::vector<uint8_t> es =
                ReadBytes(input, klv.value, std::min<uint64_t>(klv.length, kFirstPictureBytes));
            ReadFirstMpeg2Picture(es, *track);
            return;
        }
        pos = klv.value + klv.length;
    }
}

// The index table segments of the footer partition, from the last 64 KiB of the file: the footer the header
// partition points to, else the last footer partition pack found there.
void ReadFooterIndex(ZPMP::InputStream& input, uint64_t fileSize, uint64_t statedFooter, IndexExtent& index)
{
    const uint64_t start = fileSize - std::min<uint64_t>(fileSize, kTailBytes);
    const std::vector<uint8_t> tail = ReadBytes(input, start, fileSize - start);
    const Bytes b(tail);
    int64_t footer = -1;
    if (statedFooter >= start && statedFooter - start + kKeySize <= b.size() &&
        IsPartitionPack(b.data() + (statedFooter - start), kFooterPartition))
        footer = int64_t(statedFooter - start);
    for (size_t i = b.size() >= kKeySize ? b.size() - kKeySize + 1 : 0; footer < 0 && i-- > 0;)
        if (b[i] == 0x06 && IsPartitionPack(b.data() + i, kFooterPartition))
            footer = int64_t(i);
    if (footer >= 0)
        ScanIndexSegments(b, size_t(footer), index);
}

}  // namespace

bool ProbeMxf(const ProbeInput& input) { return FindHeaderPartition(input.head) >= 0; }

uint32_t MxfDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    std::memset(m_pattern, 0, sizeof m_pattern);
    if (input == nullptr)
        return 0;
    const uint64_t fileSize = input->Size();
    const std::vector<uint8_t> head = ReadBytes(*input, 0, std::min<uint64_t>(fileSize, kMaxRunIn + kKeySize));
    const int64_t runIn = FindHeaderPartition(head);
    if (runIn < 0)
        return 0;

    // The partition pack, the fill after it, and the header metadata from the Primer Pack on.
    FileKlv pack;
    PartitionPack partition;
    if (!ReadFileKlv(*input, uint64_t(runIn), fileSize, pack) || pack.length > kMaxPartitionPack ||
        !ReadPartitionPack(ReadBytes(*input, pack.value, pack.length), partition))
        return 1;
    uint64_t primer = pack.value + pack.length;
    FileKlv fill;
    for (int n = 0; n < kMaxFillItems && ReadFileKlv(*input, primer, fileSize, fill) && IsFill(fill.key); ++n)
        primer = fill.value + fill.length;
    const uint64_t stated = partition.headerByteCount != 0 ? partition.headerByteCount : kUnstatedHeaderMetadata;
    const std::vector<uint8_t> metadata =
        ReadBytes(*input, primer, std::min({stated, kMaxHeaderMetadata, fileSize - std::min(primer, fileSize)}));
    m_tags.Clear();
    MxfDescription d = DescribeHeaderMetadata(metadata, WantsTags() ? &m_tags : nullptr);

    PatternName(partition.pattern, m_pattern);
    if (m_pattern[0] == 0)
        PatternName(d.pattern, m_pattern);

    // The first MPEG-2 picture track's first picture, and index table segments on the way to it.
    MxfTrack* mpeg2 = nullptr;
    for (MxfTrack& t : d.tracks)
        if (!mpeg2 && t.record->streamClass == StreamClass::Video && t.record->codec == StreamCodec::Mpeg2Video)
            mpeg2 = &t;
    IndexExtent index;
    const bool timed = d.videoEnd >= 0 || d.audioEnd >= 0;
    if (mpeg2 != nullptr || (!timed && !d.tracks.empty()))
        WalkToFirstPicture(*input, primer + d.metadataEnd, fileSize, mpeg2, index);

    // The duration: the material package's tracks, else the index table's edit units (those of the essence
    // container: the picture's where there is one).
    if (timed) {
        m_times.SetVideo(d.videoEnd, d.videoFrameDuration);
        m_times.SetAudio(d.audioEnd, 0);
    } else if (!d.tracks.empty()) {
        if (index.end < 0)
            ReadFooterIndex(*input, fileSize, partition.footerPartition + uint64_t(runIn), index);
        const bool video = std::any_of(d.tracks.begin(), d.tracks.end(),
                                       [](const MxfTrack& t) { return t.record->streamClass == StreamClass::Video; });
        const int64_t end = index.EndTime();
        if (video)
            m_times.SetVideo(end, uint32_t(std::max<int64_t>(EditUnitsToTime(1, index.rateNum, index.rateDen), 0)));
        else
            m_times.SetAudio(end, 0);
    }

    if (streams)
        for (MxfTrack& t : d.tracks)
            streams->Append(std::move(t.record));
    return 1;
}

}  // namespace md
