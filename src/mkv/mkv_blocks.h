// Clusters and blocks: the level-1 elements met between clusters, the head of a
// Block or SimpleBlock with the frame sizes its lacing gives, and the packet
// records of a block's frames. The frame searches read these heads from the file;
// ParsePackets (mkv_blocks.cpp) reads them from a buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "demux/demux.h"
#include "input/bytes.h"
#include "mkv/ebml_reader.h"

namespace md::mkv {

// Whether a level-1 element of this ID is passed over between clusters.
bool IsSkippedLevel1(const ElementHeader& header);

// The first byte of the Cluster ID, where a search for sync stops.
uint8_t ClusterIdFirstByte();

// The head of a Block or SimpleBlock: track number, relative timecode, flags and
// the frame sizes the lacing gives.
struct BlockHead {
    uint64_t track = 0;
    int16_t relative = 0;
    uint8_t flags = 0;
    uint32_t frames = 0;
    size_t dataOffset = 0;  // where the first frame starts
    uint32_t sizes[256];
};

enum class BlockRead {
    Ok,
    Damaged,  // the block yields no frames
    Short,  // head, the first bytes of a block of size bytes, ends before the lace sizes do
};

BlockRead DecodeBlockHead(Bytes head, size_t size, BlockHead& b);

// One record per frame of a decoded block; the first frame carries the timecode.
// frames, when given, is where the first frame's bytes are.
void AppendFrames(const BlockHead& b, int64_t clusterTimecode, bool keyframe, uint32_t duration, const uint8_t* frames,
                  PacketList& packets);

}  // namespace md::mkv
