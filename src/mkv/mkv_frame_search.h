// Cue points and the frame searches that start at them: the searches find the
// frames of the selected tracks from a cue's cluster on, for their start and end
// times, bit rates and first-frame headers (mkv_measure.cpp).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "demux/demux.h"
#include "input/bytes.h"
#include "input/chunk_buffer.h"
#include "input/input_stream.h"
#include "mkv/mkv_blocks.h"
#include "mkv/mkv_demux.h"
#include "mkv/mkv_values.h"

namespace libebml {
class EbmlMaster;
}

namespace md {
namespace mkv {

// The cue points of a Cues element (none when cues is null), in file order.
std::vector<const libmatroska::KaxCuePoint*> ListCuePoints(const libebml::EbmlMaster* cues);

bool CueHasTrack(const libmatroska::KaxCuePoint& point, uint32_t track);

// ClusterPosition of the cue point's first CueTrackPositions.
bool CueClusterPosition(const libmatroska::KaxCuePoint& point, uint64_t& position);

inline bool IsTimedFrameOf(const PacketRecord& p, uint32_t track) { return p.streamId == track && p.ptsPresent != 0; }

}  // namespace mkv

// Finds the frames a search from a cue's cluster on meets. The searches were
// defined on a reader that takes kSearchChunk bytes at a time, within a byte
// budget, and splits them with ParsePackets: a cluster's frames come with the
// first chunk that holds the whole cluster, and the search stops where sync is
// lost. The same frames are found from the element heads alone: the reads a
// chunked reader would make are worked out from positions, and only the heads of
// level-1 elements, cluster children, blocks and their lace sizes are read,
// through a small buffer, the payloads being skipped. Where the chunked reader
// would search for sync byte by byte (the data at the cue is no cluster, or no
// level-1 element follows a cluster), or the stream hands out fewer bytes than
// its size promises, the search is made the chunked way instead. Frames found by
// the walk carry no bytes; Frame reads them.
class MKVDemux::FrameSearch {
public:
    FrameSearch(MKVDemux& demux, ZPMP::InputStream& input, uint64_t segmentDataStart)
        : m_demux(demux), m_input(input), m_segmentDataStart(segmentDataStart), m_fileSize(input.Size())
    {
    }

    // Hands the frames to visit in file order, a block's or a chunk's at a time,
    // until visit returns true (the result is then true), no bytes are taken or
    // sync is lost, or budget bytes have been read. visit may see the first
    // frames twice when the walk gives way to the chunked reader.
    template <class Visit>
    bool Run(uint64_t clusterPosition, uint64_t& budget, Visit&& visit)
    {
        m_mode = Mode::EachBlock;
        SetVisit(visit);
        uint64_t left = budget;
        const Walk walk = WalkChunks(clusterPosition, left);
        if (walk == Walk::Unsure)
            return ReadChunks(clusterPosition, budget, visit);
        budget = left;
        return walk == Walk::Found;
    }

    // The same search, but the frames go to visit a cluster at a time from the
    // last cluster found back to the first, until visit returns true: for
    // searches that want the last frames. These frames carry no bytes.
    template <class Visit>
    bool RunFromEnd(uint64_t clusterPosition, uint64_t& budget, Visit&& visit)
    {
        m_mode = Mode::Clusters;
        m_clusters.clear();
        uint64_t left = budget;
        Walk walk = WalkChunks(clusterPosition, left);
        if (walk == Walk::Ended) {
            m_mode = Mode::All;
            for (size_t i = m_clusters.size(); i-- > 0 && walk == Walk::Ended;) {
                m_packets.Clear();
                m_positions.clear();
                walk = WalkCluster(m_clusters[i].first, m_clusters[i].second);
                if (walk == Walk::Ended && visit(std::as_const(m_packets)))
                    walk = Walk::Found;
            }
        }
        if (walk != Walk::Unsure) {
            budget = left;
            return walk == Walk::Found;
        }
        m_all.Clear();
        ReadChunks(clusterPosition, budget, [&](const PacketList& packets) {
            for (uint32_t i = 0; i < packets.Count(); ++i) {
                PacketRecord p = *packets.At(i);
                p.packet = nullptr;  // the chunk's bytes do not outlive the next read
                m_all.Append(p);
            }
            return false;
        });
        return visit(std::as_const(m_all));
    }

    // The frames of one read of up to length bytes at the cluster, split once.
    const PacketList& ReadOnce(uint64_t clusterPosition, uint32_t length);

    // The bytes of frame index of the frames last handed out.
    Bytes Frame(const PacketList& packets, uint32_t index);

private:
    enum class Walk {
        Ready,  // Start: the walk can begin
        Found,  // visit returned true
        Ended,  // the search, a chunk or a cluster ended without a find
        Unsure,  // the chunked reader must take over
    };
    // What becomes of the frames of a complete cluster: visit is called after
    // each block, they are all gathered in m_packets, or only the cluster's place
    // is noted (in m_clusters).
    enum class Mode { EachBlock, All, Clusters };
    static constexpr size_t kHeadBuffer = 0x1000;
    static constexpr size_t kBlockHeadPeek = 64;

    template <class Visit>
    void SetVisit(Visit& visit)
    {
        m_visitTarget = &visit;
        m_visit = [](void* target, const PacketList& packets) { return (*static_cast<Visit*>(target))(packets); };
    }

    Walk WalkChunks(uint64_t clusterPosition, uint64_t& budget);

    // Seeks as the chunked reader would and sets up the walk from the cluster.
    Walk Start(uint64_t clusterPosition, uint64_t& start);

    uint64_t Available(uint64_t pos) const { return m_fileSize > pos ? m_fileSize - pos : 0; }

    // What one ParsePackets call takes of the bytes up to end, the previous calls
    // having taken those before (taken: where the taken bytes end); the clusters
    // that end by then are handed on as m_mode says. Unsure when the call would
    // search for sync or a read came back short.
    Walk WalkTo(uint64_t end, uint64_t& taken);

    Walk HandOn(uint64_t start, uint64_t end);

    // ParseCluster on the heads of the cluster from start to end.
    Walk WalkCluster(uint64_t start, uint64_t end);

    Walk WalkBlockGroup(uint64_t pos, uint64_t end, int64_t timecode);

    Walk WalkBlock(uint64_t pos, uint64_t size, int64_t clusterTimecode, bool simpleBlock, bool keyframe,
                   uint32_t duration);

    // An unsigned big-endian value of up to 8 bytes (the first 8 of a longer one).
    Walk ReadValue(uint64_t pos, uint64_t size, int64_t& value);

    // The bytes of the element head at pos (at most kMaxElementHead, none past
    // end); nothing when the read came back short.
    std::optional<Bytes> HeadAt(uint64_t pos, uint64_t end);

    // The length bytes at pos (at most kHeadBuffer), fewer when the file holds
    // fewer; from the buffer when it holds them, else read into it.
    Bytes Peek(uint64_t pos, size_t length);

    // The chunked reader itself.
    template <class Visit>
    bool ReadChunks(uint64_t clusterPosition, uint64_t& budget, Visit&& visit)
    {
        if (!SeekToCluster(clusterPosition))
            return false;
        uint32_t held = 0;
        while (budget > 0) {
            const auto want = static_cast<uint32_t>(std::min<uint64_t>(m_chunkSize - held, budget));
            const uint64_t got = want > 0 ? m_input.Read(m_chunk.get() + held, want) : 0;
            if (got > want)
                return false;
            budget -= got;
            held += static_cast<uint32_t>(got);
            if (held == 0)
                return false;
            m_packets.Clear();
            uint8_t lostSync = 0;
            const uint32_t used = m_demux.ParsePackets(m_chunk.get(), held, &m_packets, &lostSync);
            if (visit(std::as_const(m_packets)))
                return true;
            if (used == 0 || used > held || lostSync)
                return false;
            std::memmove(m_chunk.get(), m_chunk.get() + used, held - used);
            held -= used;
        }
        return false;
    }

    void ReadOnceChunked(uint64_t clusterPosition, uint32_t length);

    bool SeekToCluster(uint64_t clusterPosition);

    MKVDemux& m_demux;
    ZPMP::InputStream& m_input;
    uint64_t m_segmentDataStart;
    uint64_t m_fileSize;
    Mode m_mode = Mode::EachBlock;
    void* m_visitTarget = nullptr;
    bool (*m_visit)(void*, const PacketList&) = nullptr;
    PacketList m_packets;
    std::vector<uint64_t> m_positions;  // file offset of each frame of m_packets found by the walk
    std::vector<std::pair<uint64_t, uint64_t>> m_clusters;  // start and end of each cluster found
    PacketList m_all;

    // The walk: the next level-1 element to look at, or the end of the cluster
    // waiting for its last bytes (which starts at m_pending).
    uint64_t m_next = 0;
    uint64_t m_pending = UINT64_MAX;
    bool m_synced = false;
    mkv::BlockHead m_block;

    std::array<uint8_t, kHeadBuffer> m_buffer;
    uint64_t m_bufferStart = 0;
    size_t m_bufferLength = 0;
    uint64_t m_filePosition = UINT64_MAX;  // where the stream stands, when known
    std::vector<uint8_t> m_frame;
    ZPMP::ChunkBuffer m_chunk;
    uint32_t m_chunkSize = 0;
};

}  // namespace md
