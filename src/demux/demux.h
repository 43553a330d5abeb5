// The demultiplexer contract shared by every container family, and the two
// lists a demultiplexer fills: stream descriptions (StreamList) and the PES
// packets or frames it splits out of a memory buffer (PacketList).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "input/input_stream.h"
#include "demux/stream_record.h"

namespace md {

// Owns the stream records a demultiplexer appends, in the order they were
// appended. At(0) is the first record appended.
//
// A list may be filled across a module boundary: the Matroska plugin carries its
// own C++ runtime and heap, and a record it allocated must never be freed by the
// detector module that owns the list. So the plugin hands records over by copy
// (AppendCopy), and AppendCopy is virtual: it runs the code of the module that made
// the list, which allocates the copy and grows the vector with its own runtime.
class StreamList {
public:
    StreamList() = default;
    StreamList(const StreamList&) = delete;
    StreamList& operator=(const StreamList&) = delete;
    virtual ~StreamList() = default;

    // Takes ownership; a null record is not appended. Only for records made on the
    // list's own side of a module boundary.
    void Append(std::unique_ptr<StreamRecord> record);
    // Appends a copy made by the list's owner; false when it cannot be allocated.
    virtual bool AppendCopy(const StreamRecord& record);
    uint32_t Count() const { return static_cast<uint32_t>(m_records.size()); }
    // Null for an index outside 0..Count()-1.
    StreamRecord* At(uint32_t index);
    const StreamRecord* At(uint32_t index) const;
    // Frees every record.
    void Clear() { m_records.clear(); }

    // Whether a record for this stream id (any class) / this class and id exists;
    // demultiplexers use it so one stream is described once.
    bool Contains(uint32_t streamId) const;
    bool Contains(StreamClass streamClass, uint32_t streamId) const;
    // The first record of a class, or null.
    const StreamRecord* First(StreamClass streamClass) const;

private:
    std::vector<std::unique_ptr<StreamRecord>> m_records;
};

// One PES packet (or one Matroska frame) found in a memory buffer.
struct PacketRecord {
    uint64_t ptsPresent;    // 0 or 1
    int64_t pts;            // 90 kHz
    uint8_t keyframe;       // Matroska only
    uint32_t blockDuration; // Matroska only
    uint32_t streamId;      // low byte of the start code; Matroska: track number
    uint32_t subStreamId;   // private stream 1: the first payload byte, else 0
    const uint8_t* packet;  // the 00 00 01 prefix, inside the caller's buffer
    uint32_t packetLength;  // 6 + PES_packet_length
    uint32_t payloadOffset; // from the packet start
    uint8_t discontinuity;  // first packet after a system clock discontinuity
};

// Owns the packet records, in the order they were appended.
class PacketList {
public:
    PacketList() = default;
    PacketList(const PacketList&) = delete;
    PacketList& operator=(const PacketList&) = delete;

    // Stores a copy of the record.
    void Append(const PacketRecord& record);
    uint32_t Count() const { return static_cast<uint32_t>(m_records.size()); }
    // Null for an index outside 0..Count()-1.
    const PacketRecord* At(uint32_t index) const;
    void Clear() { m_records.clear(); }

private:
    std::vector<PacketRecord> m_records;
};

// Base of every demultiplexer. Results are 1 for success and 0 for failure; no
// operation throws.
class CPDemux {
public:
    CPDemux() = default;
    CPDemux(const CPDemux&) = delete;
    CPDemux& operator=(const CPDemux&) = delete;
    virtual ~CPDemux() = default;

    // Reads enough of the stream (from its current position for program streams)
    // to describe each elementary stream, appending a record per stream to
    // streams (which may be null when only the demultiplexer's own results are
    // wanted).
    virtual uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) = 0;
    // Splits packets out of a memory buffer; returns the bytes consumed. stop, when
    // given, receives a flag that ended the split early (clock discontinuity, lost
    // sync).
    virtual uint32_t ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* stop) = 0;
    // Describes the streams found in a memory buffer.
    virtual uint32_t ParseBuffer(const uint8_t* buffer, uint32_t length, StreamList* streams) = 0;
    // Clears the parse state; startTime in 100-ns units.
    virtual void Reset(int64_t startTime) = 0;
    // Whether the container itself stated the display aspect ratio.
    virtual bool HasContainerAspect() = 0;

    // The extensions (MD_EXT_* bits) the host turned on; none unless set before Parse.
    void SetExtensions(uint32_t extensions) { m_extensions = extensions; }

protected:
    uint32_t m_extensions = 0;
};

}  // namespace md
