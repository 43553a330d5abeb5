// Demultiplexer of Matroska files. Parse reads the EBML header, the segment's
// Info, Tracks, SeekHead and Cues elements and the first cluster's timecode,
// describes each video, audio and subtitle track in a stream record, and, for the
// video and audio tracks selected beforehand, measures start and end times, bit
// rate and the properties of the first frame by reading clusters at the cue
// points. ParsePackets splits cluster data into one packet record per frame.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "demux/demux.h"
#include "mediadetect/records.h"

namespace libebml {
class EbmlMaster;
}
namespace libmatroska {
class KaxCuePoint;
}

namespace md {

class EbmlWindow;
struct ElementHeader;

class MKVDemux : public CPDemux {
public:
    MKVDemux();
    ~MKVDemux() override;

    // Reads the file from offset 0 and appends one record per video, audio and
    // subtitle track with a known CodecID to streams (which may be null). 1 when
    // the segment has an Info element; 0 when input is missing, the DocType is not
    // "matroska" (or, with MD_EXT_WEBM, "webm"), there is no segment or no Info.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
    // Splits the clusters in buffer into one record per frame (timecodes in
    // TimecodeScale units, frame pointers valid until the next call or Reset). A
    // cluster cut by the buffer's end is kept and completed by the next call. Returns
    // the bytes taken; an element head cut by the end is left for the next call.
    // lostSync, when given, is set to 1 when data that is no level-1 element
    // followed a parsed cluster.
    uint32_t ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* lostSync) override;
    uint32_t ParseBuffer(const uint8_t*, uint32_t, StreamList*) override { return 0; }
    // Forgets the cluster being assembled and the sync state.
    void Reset(int64_t startTime) override;
    bool HasContainerAspect() override { return false; }

    // The detector loads this code on demand and calls the methods it needs
    // through the object: they are virtual, or inline.

    // The tracks to measure, by track number; called before Parse. The second and
    // fourth values (the host's stream types) are kept but not used.
    virtual void SelectTracks(uint32_t videoTrack, uint32_t videoStreamType, uint32_t audioTrack,
                              uint32_t audioStreamType);

    // Counts and track numbers of the video, audio and subtitle tracks of the last
    // Parse, in file order. Any pointer may be null; an array must hold as many
    // numbers as its count.
    void GetTrackLists(uint32_t* videoCount, uint32_t* videoTracks, uint32_t* audioCount, uint32_t* audioTracks,
                       uint32_t* subtitleCount, uint32_t* subtitleTracks) const;
    std::span<const uint32_t> VideoTracks() const { return m_videoTracks; }
    std::span<const uint32_t> AudioTracks() const { return m_audioTracks; }
    std::span<const uint32_t> SubtitleTracks() const { return m_subtitleTracks; }

    // Times of the selected tracks in 100-ns units (-1 when unknown); the start is
    // the smaller known start time.
    virtual void GetTimeRange(TimeRangeInfo& range) const;
    // The segment duration in 100-ns units.
    int64_t GetDuration() const { return m_durationNs / 100; }
    // The first cluster's Timecode (or the first CueTime when no cluster was
    // reached), in TimecodeScale units.
    uint64_t FirstTimecode() const { return m_firstTimecode; }
    uint64_t TimecodeScale() const { return m_timecodeScale; }

private:
    struct TrackInfo;
    class FrameSearch;
    using CuePoints = std::vector<const libmatroska::KaxCuePoint*>;

    void ClearParseState();
    uint32_t ParseFile(ZPMP::InputStream& file, StreamList* streams);
    void WalkSegment(EbmlWindow& window, uint64_t pos, uint64_t end);
    void ReadFirstClusterTimecode(EbmlWindow& window, uint64_t pos, const ElementHeader& cluster);
    void ReadInfo(const libebml::EbmlMaster& info);
    void ReadCuesFromSeekHead(EbmlWindow& window);

    void BuildRecords(std::vector<TrackInfo>& tracks);
    void FillVideo(const libebml::EbmlMaster& entry, const libebml::EbmlMaster& video, StreamRecord& r);
    void FillAudio(const libebml::EbmlMaster& entry, const libebml::EbmlMaster& audio, StreamRecord& r);
    void FillSubtitle(const libebml::EbmlMaster& entry, StreamRecord& r);

    void MeasureSelectedTracks(ZPMP::InputStream& input, std::vector<TrackInfo>& tracks);
    int64_t ToTime(int64_t timecode, double trackScale) const;
    int64_t StartTime(FrameSearch& search, const CuePoints& cues, const TrackInfo& track) const;
    void MeasureEndTimes(FrameSearch& search, const CuePoints& cues, const TrackInfo* video, const TrackInfo* audio);
    void EstimateBitRates(FrameSearch& search, const CuePoints& cues, const TrackInfo* video, const TrackInfo* audio,
                          uint64_t fileSize, uint32_t (&rates)[2]) const;
    uint32_t SampleBitRate(const PacketList& packets, const TrackInfo& track) const;
    static void ApplyFirstFrame(FrameSearch& search, const CuePoints& cues, StreamRecord& r);
    static void ApplyFrameHeaders(const uint8_t* frame, uint32_t length, StreamRecord& r);

    void ParseCluster(const uint8_t* cluster, size_t size, PacketList* packets);
    static void ParseBlock(const uint8_t* block, size_t size, int64_t clusterTimecode, bool simpleBlock,
                           bool keyframe, uint32_t duration, PacketList* packets);

    // Sync and cluster assembly of ParsePackets.
    uint8_t m_synced = 0;
    std::vector<uint8_t> m_cluster;  // the cluster being assembled, then those completed by this call
    size_t m_clusterStart = 0;       // where the cluster being assembled starts in m_cluster
    uint64_t m_clusterSize = 0;      // its whole size, head included; 0 when none is assembled
    uint64_t m_skipRemaining = 0;    // bytes of a skipped level-1 element still to come

    // Segment facts.
    uint64_t m_segmentDataStart = 0;
    uint64_t m_firstTimecode = 0;
    int64_t m_durationNs = 0;
    uint64_t m_timecodeScale = 1000000;
    bool m_infoSeen = false;
    bool m_clusterReached = false;
    bool m_webm = false;  // the DocType is "webm" (read only with MD_EXT_WEBM)
    std::unique_ptr<libebml::EbmlMaster> m_tracks;
    std::unique_ptr<libebml::EbmlMaster> m_seekHead;
    std::unique_ptr<libebml::EbmlMaster> m_cues;

    // Selection and results.
    bool m_hasSelection = false;
    uint32_t m_selection[4] = {};
    std::vector<uint32_t> m_videoTracks;
    std::vector<uint32_t> m_audioTracks;
    std::vector<uint32_t> m_subtitleTracks;
    int64_t m_videoFrameDuration = -1;
    int64_t m_audioFrameDuration = -1;
    int64_t m_videoStart = -1;
    int64_t m_audioStart = -1;
    int64_t m_videoEnd = -1;
    int64_t m_audioEnd = -1;
};

}  // namespace md
