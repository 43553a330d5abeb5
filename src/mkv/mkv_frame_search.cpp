// The cue points and the frame search of mkv_frame_search.h: the walk over the
// element heads, and the chunked reader it gives way to.
#include "mkv/mkv_frame_search.h"

#include <matroska/KaxBlock.h>
#include <matroska/KaxBlockData.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxCues.h>
#include <matroska/KaxCuesData.h>

#include "mkv/ebml_reader.h"

namespace md {

using namespace libmatroska;
using libebml::EbmlMaster;

namespace mkv {

std::vector<const KaxCuePoint*> ListCuePoints(const EbmlMaster* cues)
{
    std::vector<const KaxCuePoint*> points;
    if (cues != nullptr)
        for (const libebml::EbmlElement* e : cues->GetElementList())
            if (const auto* point = dynamic_cast<const KaxCuePoint*>(e))
                points.push_back(point);
    return points;
}

bool CueHasTrack(const KaxCuePoint& point, uint32_t track)
{
    for (const auto* p = FindFirst<KaxCueTrackPositions>(point); p != nullptr; p = FindNext(point, *p))
        if (p->TrackNumber() == track)
            return true;
    return false;
}

bool CueClusterPosition(const KaxCuePoint& point, uint64_t& position)
{
    const auto* p = FindFirst<KaxCueTrackPositions>(point);
    if (p == nullptr)
        return false;
    position = p->ClusterPosition();
    return true;
}

}  // namespace mkv

using namespace mkv;

const PacketList& MKVDemux::FrameSearch::ReadOnce(uint64_t clusterPosition, uint32_t length)
{
    m_mode = Mode::All;
    m_packets.Clear();
    m_positions.clear();
    uint64_t start = 0;
    Walk walk = Start(clusterPosition, start);
    if (walk == Walk::Ready) {
        uint64_t taken = 0;
        walk = WalkTo(start + std::min<uint64_t>(std::min(length, kSearchChunk), Available(start)), taken);
    }
    if (walk == Walk::Unsure)
        ReadOnceChunked(clusterPosition, length);
    return m_packets;
}

Bytes MKVDemux::FrameSearch::Frame(const PacketList& packets, uint32_t index)
{
    const PacketRecord& p = *packets.At(index);
    if (p.packet != nullptr)
        return Bytes(p.packet, p.packetLength);
    m_frame.resize(size_t{p.packetLength} + 1);
    const uint32_t got = ZPMP::ReadAt(m_input, m_positions[index], m_frame.data(), p.packetLength);
    m_filePosition = UINT64_MAX;
    return Bytes(m_frame.data(), got);
}

MKVDemux::FrameSearch::Walk MKVDemux::FrameSearch::WalkChunks(uint64_t clusterPosition, uint64_t& budget)
{
    uint64_t start = 0;
    const Walk walk = Start(clusterPosition, start);
    if (walk != Walk::Ready)
        return walk;
    // read: end of the bytes the chunked reader has read; consumed: end of
    // those ParsePackets has taken (what is left is an element head cut by the
    // end of a chunk, kept for the next one).
    uint64_t read = start;
    uint64_t consumed = start;
    while (budget > 0) {
        const uint64_t want = std::min<uint64_t>(kSearchChunk - (read - consumed), budget);
        const uint64_t got = std::min(want, Available(read));
        budget -= got;
        read += got;
        if (read == consumed)
            return Walk::Ended;
        uint64_t taken = 0;
        const Walk walk = WalkTo(read, taken);
        if (walk != Walk::Ended)
            return walk;
        if (taken == consumed)
            return Walk::Ended;
        consumed = taken;
    }
    return Walk::Ended;
}

MKVDemux::FrameSearch::Walk MKVDemux::FrameSearch::Start(uint64_t clusterPosition, uint64_t& start)
{
    m_demux.Reset(0);
    if (clusterPosition > UINT64_MAX - m_segmentDataStart)
        return Walk::Ended;
    start = m_segmentDataStart + clusterPosition;
    // A position that is negative as a signed value leaves the file where it was.
    if (start > uint64_t(INT64_MAX))
        return Walk::Unsure;
    if (m_input.Seek(start) != 0)
        return Walk::Ended;
    m_filePosition = start;
    m_next = start;
    m_pending = UINT64_MAX;
    m_synced = false;
    return Walk::Ready;
}

MKVDemux::FrameSearch::Walk MKVDemux::FrameSearch::WalkTo(uint64_t end, uint64_t& taken)
{
    taken = end;
    if (m_pending != UINT64_MAX) {
        if (m_next > end)
            return Walk::Ended;
        m_synced = true;
        const Walk walk = HandOn(std::exchange(m_pending, UINT64_MAX), m_next);
        if (walk != Walk::Ended)
            return walk;
    }
    while (m_next < end) {
        const std::optional<Bytes> head = HeadAt(m_next, end);
        if (!head || (!m_synced && (*head)[0] != ClusterIdFirstByte()))
            return Walk::Unsure;
        ElementHeader header;
        const HeaderRead read = ReadElementHeader(*head, header);
        if (read == HeaderRead::Short) {
            taken = m_next;
            return Walk::Ended;
        }
        if (read != HeaderRead::Ok || header.unknownSize)
            return Walk::Unsure;
        if (HasId<KaxCluster>(header) && header.TotalSize() <= kMaxClusterSize) {
            const uint64_t start = m_next;
            m_next += header.TotalSize();
            if (m_next > end) {
                m_pending = start;
                return Walk::Ended;
            }
            m_synced = true;
            const Walk walk = HandOn(start, m_next);
            if (walk != Walk::Ended)
                return walk;
        } else if (m_synced && IsSkippedLevel1(header) && header.size <= UINT64_MAX - header.headSize) {
            m_next += std::min(header.TotalSize(), UINT64_MAX - m_next);
        } else {
            return Walk::Unsure;
        }
    }
    return Walk::Ended;
}

MKVDemux::FrameSearch::Walk MKVDemux::FrameSearch::HandOn(uint64_t start, uint64_t end)
{
    if (m_mode != Mode::Clusters)
        return WalkCluster(start, end);
    m_clusters.emplace_back(start, end);
    return Walk::Ended;
}

MKVDemux::FrameSearch::Walk MKVDemux::FrameSearch::WalkCluster(uint64_t start, uint64_t end)
{
    ElementHeader header;
    const size_t headLength = static_cast<size_t>(std::min<uint64_t>(kMaxElementHead, end - start));
    if (ReadElementHeader(Peek(start, headLength), header) != HeaderRead::Ok)
        return Walk::Unsure;
    // Every block head of the cluster is read when all its frames are wanted.
    if (m_mode == Mode::All)
        m_input.WillRead(start, end);
    int64_t timecode = 0;
    uint64_t pos = start + header.headSize;
    while (pos < end) {
        const std::optional<Bytes> head = HeadAt(pos, end);
        if (!head)
            return Walk::Unsure;
        ElementHeader child;
        if (ReadElementHeader(*head, child) != HeaderRead::Ok || child.unknownSize)
            return Walk::Ended;
        const uint64_t dataStart = pos + child.headSize;
        if (dataStart > end || child.size > end - dataStart)
            return Walk::Ended;
        Walk walk = Walk::Ended;
        if (HasId<KaxClusterTimecode>(child))
            walk = ReadValue(dataStart, child.size, timecode);
        else if (HasId<KaxSimpleBlock>(child))
            walk = WalkBlock(dataStart, child.size, timecode, true, false, 0);
        else if (HasId<KaxBlockGroup>(child))
            walk = WalkBlockGroup(dataStart, dataStart + child.size, timecode);
        if (walk != Walk::Ended)
            return walk;
        pos = dataStart + child.size;
    }
    return Walk::Ended;
}

MKVDemux::FrameSearch::Walk MKVDemux::FrameSearch::WalkBlockGroup(uint64_t pos, uint64_t end, int64_t timecode)
{
    uint64_t block = 0;
    uint64_t blockSize = 0;
    int64_t duration = 0;
    bool referenced = false;
    while (pos < end) {
        const std::optional<Bytes> head = HeadAt(pos, end);
        if (!head)
            return Walk::Unsure;
        ElementHeader h;
        if (ReadElementHeader(*head, h) != HeaderRead::Ok || h.unknownSize || pos + h.headSize > end ||
            h.size > end - pos - h.headSize)
            break;
        if (HasId<KaxBlock>(h)) {
            block = pos + h.headSize;
            blockSize = h.size;
        } else if (HasId<KaxBlockDuration>(h) && ReadValue(pos + h.headSize, h.size, duration) != Walk::Ended) {
            return Walk::Unsure;
        } else if (HasId<KaxReferenceBlock>(h)) {
            referenced = true;
        }
        pos += h.TotalSize();
    }
    if (blockSize == 0)
        return Walk::Ended;
    return WalkBlock(block, blockSize, timecode, false, !referenced, ToUInt32(static_cast<uint64_t>(duration)));
}

MKVDemux::FrameSearch::Walk MKVDemux::FrameSearch::WalkBlock(uint64_t pos, uint64_t size, int64_t clusterTimecode,
                                                             bool simpleBlock, bool keyframe, uint32_t duration)
{
    const size_t peek = static_cast<size_t>(std::min<uint64_t>(size, kBlockHeadPeek));
    Bytes head = Peek(pos, peek);
    if (head.size() < peek)
        return Walk::Unsure;
    BlockRead read = DecodeBlockHead(head, static_cast<size_t>(size), m_block);
    if (read == BlockRead::Short) {
        // Lace sizes longer than the peek: the whole block is read.
        m_frame.resize(static_cast<size_t>(size));
        if (ZPMP::ReadAt(m_input, pos, m_frame.data(), static_cast<uint32_t>(size)) != size)
            return Walk::Unsure;
        m_filePosition = UINT64_MAX;
        read = DecodeBlockHead(Bytes(m_frame.data(), m_frame.size()), m_frame.size(), m_block);
    }
    if (read != BlockRead::Ok)
        return Walk::Ended;
    if (simpleBlock)
        keyframe = (m_block.flags & 0x80) != 0;
    if (m_mode == Mode::EachBlock) {
        m_packets.Clear();
        m_positions.clear();
    }
    AppendFrames(m_block, clusterTimecode, keyframe, duration, nullptr, m_packets);
    uint64_t at = pos + m_block.dataOffset;
    for (uint32_t i = 0; i < m_block.frames; ++i) {
        m_positions.push_back(at);
        at += m_block.sizes[i];
    }
    if (m_mode == Mode::EachBlock && m_visit(m_visitTarget, m_packets))
        return Walk::Found;
    return Walk::Ended;
}

MKVDemux::FrameSearch::Walk MKVDemux::FrameSearch::ReadValue(uint64_t pos, uint64_t size, int64_t& value)
{
    const size_t length = static_cast<size_t>(std::min<uint64_t>(size, 8));
    const Bytes bytes = Peek(pos, length);
    if (bytes.size() < length)
        return Walk::Unsure;
    value = static_cast<int64_t>(ReadUnsigned(bytes));
    return Walk::Ended;
}

std::optional<Bytes> MKVDemux::FrameSearch::HeadAt(uint64_t pos, uint64_t end)
{
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kMaxElementHead, end - pos));
    const Bytes head = Peek(pos, length);
    return head.size() < length ? std::nullopt : std::optional<Bytes>(head);
}

Bytes MKVDemux::FrameSearch::Peek(uint64_t pos, size_t length)
{
    if (pos >= m_bufferStart && pos - m_bufferStart <= m_bufferLength &&
        length <= m_bufferLength - (pos - m_bufferStart))
        return Bytes(m_buffer.data() + (pos - m_bufferStart), length);
    m_bufferStart = pos;
    m_bufferLength = 0;
    if (pos != m_filePosition && m_input.Seek(pos) != 0)
        return {};
    const auto want = static_cast<uint32_t>(std::min<uint64_t>(kHeadBuffer, Available(pos)));
    const uint64_t got = want > 0 ? m_input.Read(m_buffer.data(), want) : 0;
    m_bufferLength = got == want ? want : 0;
    m_filePosition = got == want ? pos + want : UINT64_MAX;
    return Bytes(m_buffer.data(), std::min(length, m_bufferLength));
}

void MKVDemux::FrameSearch::ReadOnceChunked(uint64_t clusterPosition, uint32_t length)
{
    m_packets.Clear();
    if (!SeekToCluster(clusterPosition))
        return;
    const uint32_t held = ZPMP::ReadFully(m_input, m_chunk.get(), std::min(length, m_chunkSize));
    uint8_t lostSync = 0;
    m_demux.ParsePackets(m_chunk.get(), held, &m_packets, &lostSync);
}

bool MKVDemux::FrameSearch::SeekToCluster(uint64_t clusterPosition)
{
    m_demux.Reset(0);
    m_filePosition = UINT64_MAX;
    if (clusterPosition > UINT64_MAX - m_segmentDataStart)
        return false;
    // Left uninitialised: only the bytes read into it are ever looked at. No
    // larger than the file, which no read can exceed.
    if (!m_chunk) {
        m_chunkSize = ZPMP::ChunkCapacity(m_input, kSearchChunk);
        m_chunk = ZPMP::NewChunkBuffer(m_chunkSize);
    }
    return m_chunk && m_input.Seek(m_segmentDataStart + clusterPosition) == 0;
}

}  // namespace md
