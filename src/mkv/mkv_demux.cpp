// The Matroska demultiplexer: the level-1 walk of the segment, and the track
// lists and times of the last Parse. Its parts: one stream record per track entry
// (mkv_tracks.cpp), the frame searches at the cue points (mkv_frame_search.cpp)
// that give the selected tracks their times, bit rates and first-frame headers
// (mkv_measure.cpp), and the cluster and block parser behind them
// (mkv_blocks.cpp).
#include "mkv/mkv_demux.h"

#include <cstring>
#include <string>
#include <vector>

#include <ebml/EbmlHead.h>
#include <ebml/EbmlSubHead.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxCues.h>
#include <matroska/KaxCuesData.h>
#include <matroska/KaxInfo.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSegment.h>
#include <matroska/KaxSemantic.h>
#include <matroska/KaxTracks.h>

#include "mkv/ebml_reader.h"
#include "mkv/mkv_frame_search.h"
#include "mkv/mkv_tracks.h"
#include "mkv/mkv_values.h"

namespace md {

using namespace libmatroska;
using libebml::EbmlMaster;
using namespace mkv;

namespace {

constexpr uint64_t kDefaultTimecodeScale = 1000000;

}  // namespace

MKVDemux::MKVDemux() = default;
MKVDemux::~MKVDemux() = default;

void MKVDemux::SelectTracks(uint32_t videoTrack, uint32_t videoStreamType, uint32_t audioTrack,
                            uint32_t audioStreamType)
{
    m_selection[0] = videoTrack;
    m_selection[1] = videoStreamType;
    m_selection[2] = audioTrack;
    m_selection[3] = audioStreamType;
    m_hasSelection = true;
}

void MKVDemux::GetTrackLists(uint32_t* videoCount, uint32_t* videoTracks, uint32_t* audioCount,
                             uint32_t* audioTracks, uint32_t* subtitleCount, uint32_t* subtitleTracks) const
{
    const auto copy = [](const std::vector<uint32_t>& from, uint32_t* count, uint32_t* numbers) {
        if (count != nullptr)
            *count = static_cast<uint32_t>(from.size());
        if (numbers != nullptr && !from.empty())
            std::memcpy(numbers, from.data(), from.size() * sizeof(uint32_t));
    };
    copy(m_videoTracks, videoCount, videoTracks);
    copy(m_audioTracks, audioCount, audioTracks);
    copy(m_subtitleTracks, subtitleCount, subtitleTracks);
}

void MKVDemux::GetTimeRange(TimeRangeInfo& range) const
{
    range = TimeRangeInfo{};
    int64_t start = -1;
    for (const int64_t t : {m_videoStart, m_audioStart})
        if (t != -1 && (start == -1 || t < start))
            start = t;
    range.startTime = start;
    range.videoFirstTime = m_videoStart;
    range.audioFirstTime = m_audioStart;
    range.videoEndTime = m_videoEnd;
    range.audioEndTime = m_audioEnd;
    range.videoFrameDuration = static_cast<uint32_t>(m_videoFrameDuration);
    range.audioFrameDuration = static_cast<uint32_t>(m_audioFrameDuration);
}

void MKVDemux::ClearParseState()
{
    Reset(0);
    m_segmentDataStart = 0;
    m_firstTimecode = 0;
    m_durationNs = 0;
    m_timecodeScale = kDefaultTimecodeScale;
    m_infoSeen = false;
    m_clusterReached = false;
    m_webm = false;
    m_tracks.reset();
    m_seekHead.reset();
    m_cues.reset();
    m_videoTracks.clear();
    m_audioTracks.clear();
    m_subtitleTracks.clear();
    m_videoFrameDuration = m_audioFrameDuration = -1;
    m_videoStart = m_audioStart = m_videoEnd = m_audioEnd = -1;
}

uint32_t MKVDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    try {
        ClearParseState();
        if (input == nullptr)
            return 0;
        return ParseFile(*input, streams);
    } catch (...) {
        // Only an allocation can fail here; libebml's own exceptions stop in the reader.
        return 0;
    }
}

uint32_t MKVDemux::ParseFile(ZPMP::InputStream& file, StreamList* streams)
{
    EbmlWindow window(file);
    if (!window.ok())
        return 0;
    window.Restart(0);

    // EBML header with DocType "matroska" (with the header extension also padded
    // with NUL bytes, or absent: the EBML default).
    const bool lenient = (m_extensions & MD_EXT_MATROSKA_HEADER) != 0;
    const auto head = ReadMaster<libebml::EbmlHead>(window, 0);
    const auto* docType = head ? FindFirst<libebml::EDocType>(*head) : nullptr;
    if (head == nullptr || (docType == nullptr ? !lenient : !IsMatroskaDocType(*docType, lenient))) {
        // A WebM file is read as Matroska.
        m_webm = (m_extensions & MD_EXT_WEBM) != 0 && docType != nullptr && IsWebmDocType(*docType, lenient);
        if (!m_webm)
            return 0;
    }

    // The segment: the first level-0 element of that ID after the header.
    ElementHeader header;
    uint64_t pos = 0;
    for (;;) {
        window.Fill(pos + kMaxElementHead);
        if (ReadElementHeader(window.From(pos), header) != HeaderRead::Ok)
            return 0;
        if (HasId<KaxSegment>(header))
            break;
        if (header.unknownSize || header.size > EbmlWindow::kCapacity)
            return 0;
        pos += header.TotalSize();
    }
    m_segmentDataStart = pos + header.headSize;
    const uint64_t segmentEnd = header.unknownSize || header.size > UINT64_MAX - m_segmentDataStart
                                    ? UINT64_MAX
                                    : m_segmentDataStart + header.size;
    WalkSegment(window, m_segmentDataStart, segmentEnd);

    std::vector<TrackInfo> tracks;
    BuildRecords(tracks);

    if (m_hasSelection) {
        if (!m_cues && m_seekHead)
            ReadCuesFromSeekHead(window);
        MeasureSelectedTracks(file, tracks);
    }

    for (TrackInfo& t : tracks) {
        const StreamRecord& r = *t.record;
        if (r.streamClass == StreamClass::Video)
            m_videoTracks.push_back(r.streamId);
        else if (r.streamClass == StreamClass::Audio)
            m_audioTracks.push_back(r.streamId);
        else
            m_subtitleTracks.push_back(r.streamId);
        // By copy: the list may belong to the detector module, which must not free what this code allocated.
        if (streams != nullptr)
            streams->AppendCopy(*t.record);
    }
    return m_infoSeen ? 1 : 0;
}

void MKVDemux::WalkSegment(EbmlWindow& window, uint64_t pos, uint64_t end)
{
    ElementHeader header;
    while (pos < end) {
        window.Fill(pos + kMaxElementHead);
        if (ReadElementHeader(window.From(pos), header) != HeaderRead::Ok)
            return;
        if (HasId<KaxCluster>(header)) {
            m_clusterReached = true;
            ReadFirstClusterTimecode(window, pos + header.headSize, header);
            return;
        }
        if (header.unknownSize || header.size > UINT64_MAX - pos - header.headSize)
            return;
        if (HasId<KaxInfo>(header) && !m_infoSeen) {
            const auto info = ReadMaster<KaxInfo>(window, pos);
            if (!info)
                return;
            ReadInfo(*info);
            m_infoSeen = true;
        } else if (HasId<KaxSeekHead>(header) && !m_seekHead) {
            if (!(m_seekHead = ReadMaster<KaxSeekHead>(window, pos)))
                return;
        } else if (HasId<KaxTracks>(header) && !m_tracks) {
            if (!(m_tracks = ReadMaster<KaxTracks>(window, pos)))
                return;
        } else if (HasId<KaxCues>(header) && !m_cues) {
            if (!(m_cues = ReadMaster<KaxCues>(window, pos)))
                return;
        }
        pos += header.TotalSize();
    }
}

void MKVDemux::ReadFirstClusterTimecode(EbmlWindow& window, uint64_t pos, const ElementHeader& cluster)
{
    // Timecode comes before the cluster's blocks; the children are walked up to
    // the first block.
    const uint64_t end = cluster.unknownSize ? UINT64_MAX : pos + cluster.size;
    ElementHeader header;
    while (pos < end) {
        window.Fill(pos + kMaxElementHead);
        if (ReadElementHeader(window.From(pos), header) != HeaderRead::Ok || header.unknownSize)
            return;
        if (HasId<KaxSimpleBlock>(header) || HasId<KaxBlockGroup>(header))
            return;
        if (header.size > EbmlWindow::kCapacity)
            return;
        const uint64_t next = pos + header.TotalSize();
        if (HasId<KaxClusterTimecode>(header)) {
            if (header.size > 8 || !window.Fill(next))
                return;
            m_firstTimecode = ReadUnsigned(window.From(pos + header.headSize).first(header.size));
            return;
        }
        pos = next;
    }
}

void MKVDemux::ReadInfo(const EbmlMaster& info)
{
    m_timecodeScale = UIntOf<KaxTimecodeScale>(info);
    const double duration = FloatOf<KaxDuration>(info);
    // Duration x TimecodeScale in single precision, as nanoseconds.
    const float ns = static_cast<float>(duration) * static_cast<float>(m_timecodeScale);
    m_durationNs = SaturateToInt64(ns);
}

void MKVDemux::ReadCuesFromSeekHead(EbmlWindow& window)
{
    for (const auto* seek = FindFirst<KaxSeek>(*m_seekHead); seek != nullptr; seek = FindNext(*m_seekHead, *seek)) {
        if (!seek->IsEbmlId(EBML_ID(KaxCues)))
            continue;
        const int64_t location = seek->Location();
        if (location < 0 || uint64_t(location) > UINT64_MAX - m_segmentDataStart)
            continue;
        const uint64_t pos = m_segmentDataStart + uint64_t(location);
        window.Restart(pos);
        m_cues = ReadMaster<KaxCues>(window, pos);
        if (!m_cues)
            continue;
        if (!m_clusterReached) {
            const std::vector<const KaxCuePoint*> points = ListCuePoints(m_cues.get());
            if (!points.empty())
                m_firstTimecode = UIntOf<KaxCueTime>(*points.front());
        }
        return;
    }
}

}  // namespace md
