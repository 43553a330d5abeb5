// The cluster and block parser behind ParsePackets: cluster assembly across
// buffers, sync, lacing, and one packet record per frame.
#include "mkv/mkv_blocks.h"

#include <algorithm>
#include <cstring>

#include <ebml/EbmlVoid.h>
#include <matroska/KaxBlock.h>
#include <matroska/KaxBlockData.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxCues.h>
#include <matroska/KaxInfo.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSemantic.h>
#include <matroska/KaxTracks.h>

#include "mkv/mkv_demux.h"
#include "mkv/mkv_values.h"

namespace md {

using namespace libmatroska;

namespace mkv {

bool IsSkippedLevel1(const ElementHeader& header)
{
    return HasId<KaxInfo>(header) || HasId<KaxSeekHead>(header) || HasId<KaxTracks>(header) || HasId<KaxCues>(header) ||
           HasId<KaxAttachments>(header) || HasId<KaxChapters>(header) || HasId<KaxTags>(header) ||
           HasId<libebml::EbmlVoid>(header);
}

uint8_t ClusterIdFirstByte()
{
    const libebml::EbmlId& id = EBML_ID(KaxCluster);
    return static_cast<uint8_t>(id.GetValue() >> (8 * (id.GetLength() - 1)));
}

BlockRead DecodeBlockHead(Bytes head, size_t size, BlockHead& b)
{
    const size_t have = head.size();
    const auto missing = [&](size_t end) { return end > have && have < size; };
    const uint8_t* block = head.data();
    uint64_t unknown = 0;
    uint32_t numberLength = static_cast<uint32_t>(std::min<size_t>(size, 8));
    if (missing(numberLength))
        return BlockRead::Short;
    b.track = libebml::ReadCodedSizeValue(block, numberLength, unknown);
    if (numberLength == 0 || !Has(size, numberLength, 3))
        return BlockRead::Damaged;
    size_t pos = numberLength;
    if (missing(pos + 3))
        return BlockRead::Short;
    b.relative = static_cast<int16_t>(Be16(block + pos));
    b.flags = block[pos + 2];
    pos += 3;

    // Frame sizes by lacing (flags bits 2..1): none, Xiph, fixed-size, EBML.
    b.frames = 1;
    const uint32_t lacing = (b.flags >> 1) & 3;
    if (lacing == 0) {
        b.sizes[0] = ToUInt32(size - pos);
        b.dataOffset = pos;
        return BlockRead::Ok;
    }
    if (pos >= size)
        return BlockRead::Damaged;
    if (missing(pos + 1))
        return BlockRead::Short;
    b.frames = block[pos++] + 1u;
    uint64_t laced = 0;  // bytes of every frame but the last
    if (lacing == 1) {
        for (uint32_t i = 0; i + 1 < b.frames; ++i) {
            uint64_t n = 0;
            uint8_t c = 0;
            do {
                if (pos >= size)
                    return BlockRead::Damaged;
                if (missing(pos + 1))
                    return BlockRead::Short;
                c = block[pos++];
                n += c;
            } while (c == 255);
            b.sizes[i] = ToUInt32(n);
            laced += n;
        }
    } else if (lacing == 2) {
        const size_t each = (size - pos) / b.frames;
        if (each * b.frames != size - pos)
            return BlockRead::Damaged;
        for (uint32_t i = 0; i + 1 < b.frames; ++i)
            b.sizes[i] = static_cast<uint32_t>(each);
        laced = uint64_t(each) * (b.frames - 1);
    } else {
        int64_t previous = 0;
        for (uint32_t i = 0; i + 1 < b.frames; ++i) {
            uint32_t len = static_cast<uint32_t>(std::min<size_t>(size - pos, 8));
            if (missing(pos + len))
                return BlockRead::Short;
            int64_t n = 0;
            if (i == 0)
                n = static_cast<int64_t>(libebml::ReadCodedSizeValue(block + pos, len, unknown));
            else
                n = previous + libebml::ReadCodedSizeSignedValue(block + pos, len, unknown);
            if (len == 0 || n < 0 || n > int64_t(UINT32_MAX))
                return BlockRead::Damaged;
            pos += len;
            b.sizes[i] = static_cast<uint32_t>(n);
            laced += uint64_t(n);
            previous = n;
        }
    }
    if (laced > size - pos)
        return BlockRead::Damaged;
    b.sizes[b.frames - 1] = ToUInt32(size - pos - laced);
    b.dataOffset = pos;
    return BlockRead::Ok;
}

void AppendFrames(const BlockHead& b, int64_t clusterTimecode, bool keyframe, uint32_t duration, const uint8_t* frames,
                  PacketList& packets)
{
    for (uint32_t i = 0; i < b.frames; ++i) {
        PacketRecord p{};
        p.ptsPresent = i == 0 ? 1 : 0;
        // Wrapping sum: a damaged cluster Timecode may lie at the ends of the range.
        p.pts = i == 0 ? static_cast<int64_t>(static_cast<uint64_t>(clusterTimecode) +
                                              static_cast<uint64_t>(int64_t{b.relative}))
                       : -1;
        p.keyframe = keyframe ? 1 : 0;
        p.blockDuration = duration;
        p.streamId = ToUInt32(b.track);
        p.packet = frames;
        p.packetLength = b.sizes[i];
        packets.Append(p);
        if (frames != nullptr)
            frames += b.sizes[i];
    }
}

}  // namespace mkv

using namespace mkv;

void MKVDemux::Reset(int64_t)
{
    m_synced = 0;
    m_cluster.clear();
    m_clusterStart = 0;
    m_clusterSize = 0;
    m_skipRemaining = 0;
}

uint32_t MKVDemux::ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* lostSync)
{
    if (lostSync != nullptr)
        *lostSync = 0;
    if (buffer == nullptr)
        return 0;
    try {
        // Frames of clusters completed by the previous call are released: only the
        // cluster still being assembled stays, at the start. Room for all of this
        // call's bytes is made now, so the frame pointers handed out below stay valid.
        if (m_clusterSize > 0)
            m_cluster.erase(m_cluster.begin(), m_cluster.begin() + static_cast<ptrdiff_t>(m_clusterStart));
        else
            m_cluster.clear();
        m_clusterStart = 0;
        m_cluster.reserve(m_cluster.size() + length);

        size_t pos = 0;
        while (pos < length) {
            const size_t left = length - pos;
            if (m_clusterSize > 0) {
                const uint64_t have = m_cluster.size() - m_clusterStart;
                const auto take = static_cast<size_t>(std::min<uint64_t>(left, m_clusterSize - have));
                m_cluster.insert(m_cluster.end(), buffer + pos, buffer + pos + take);
                pos += take;
                if (have + take == m_clusterSize) {
                    ParseCluster(m_cluster.data() + m_clusterStart, static_cast<size_t>(m_clusterSize), packets);
                    m_clusterStart = m_cluster.size();
                    m_clusterSize = 0;
                    m_synced = 1;
                }
                continue;
            }
            if (m_skipRemaining > 0) {
                const auto take = static_cast<size_t>(std::min<uint64_t>(left, m_skipRemaining));
                pos += take;
                m_skipRemaining -= take;
                continue;
            }
            if (!m_synced) {
                // Out of sync only a cluster can start: move on to the next byte
                // that can begin its ID, as a byte-by-byte search would.
                const auto* next = static_cast<const uint8_t*>(std::memchr(buffer + pos, ClusterIdFirstByte(), left));
                pos = next != nullptr ? static_cast<size_t>(next - buffer) : length;
                if (pos == length)
                    break;
            }
            ElementHeader header;
            const HeaderRead read = ReadElementHeader(Bytes(buffer + pos, length - pos), header);
            if (read == HeaderRead::Short)
                break;
            if (read == HeaderRead::Ok && !header.unknownSize) {
                if (HasId<KaxCluster>(header) && header.TotalSize() <= kMaxClusterSize) {
                    m_clusterSize = header.TotalSize();
                    m_clusterStart = m_cluster.size();
                    continue;
                }
                if (m_synced && IsSkippedLevel1(header) && header.size <= UINT64_MAX - header.headSize) {
                    m_skipRemaining = header.TotalSize();
                    continue;
                }
            }
            // Not a level-1 element here: move on by one byte looking for a cluster.
            if (m_synced) {
                m_synced = 0;
                if (lostSync != nullptr)
                    *lostSync = 1;
            }
            ++pos;
        }
        return static_cast<uint32_t>(pos);
    } catch (...) {
        Reset(0);
        return 0;
    }
}

void MKVDemux::ParseCluster(const uint8_t* cluster, size_t size, PacketList* packets)
{
    const Bytes bytes(cluster, size);
    ElementHeader header;
    if (ReadElementHeader(bytes, header) != HeaderRead::Ok)
        return;
    int64_t timecode = 0;
    size_t pos = header.headSize;
    while (pos < size) {
        ElementHeader child;
        if (ReadElementHeader(bytes.subspan(pos), child) != HeaderRead::Ok || child.unknownSize)
            return;
        const size_t dataStart = pos + child.headSize;
        if (!Has(size, dataStart, child.size))
            return;
        const Bytes data = bytes.subspan(dataStart, static_cast<size_t>(child.size));
        if (HasId<KaxClusterTimecode>(child)) {
            timecode = static_cast<int64_t>(ReadUnsigned(data));
        } else if (HasId<KaxSimpleBlock>(child)) {
            ParseBlock(data.data(), data.size(), timecode, true, false, 0, packets);
        } else if (HasId<KaxBlockGroup>(child)) {
            // Block, BlockDuration and ReferenceBlock; a group without a reference
            // holds a keyframe.
            Bytes block;
            uint64_t duration = 0;
            bool referenced = false;
            size_t at = 0;
            while (at < data.size()) {
                ElementHeader h;
                if (ReadElementHeader(data.subspan(at), h) != HeaderRead::Ok || h.unknownSize ||
                    !Has(data.size(), at + h.headSize, h.size))
                    break;
                const Bytes value = data.subspan(at + h.headSize, static_cast<size_t>(h.size));
                if (HasId<KaxBlock>(h))
                    block = value;
                else if (HasId<KaxBlockDuration>(h))
                    duration = ReadUnsigned(value);
                else if (HasId<KaxReferenceBlock>(h))
                    referenced = true;
                at += static_cast<size_t>(h.TotalSize());
            }
            if (!block.empty())
                ParseBlock(block.data(), block.size(), timecode, false, !referenced, ToUInt32(duration), packets);
        }
        pos = dataStart + static_cast<size_t>(child.size);
    }
}

void MKVDemux::ParseBlock(const uint8_t* block, size_t size, int64_t clusterTimecode, bool simpleBlock, bool keyframe,
                          uint32_t duration, PacketList* packets)
{
    BlockHead head;
    if (DecodeBlockHead(Bytes(block, size), size, head) != BlockRead::Ok || packets == nullptr)
        return;
    if (simpleBlock)
        keyframe = (head.flags & 0x80) != 0;
    AppendFrames(head, clusterTimecode, keyframe, duration, block + head.dataOffset, *packets);
}

}  // namespace md
