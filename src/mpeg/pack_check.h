// Pack checkers of the time table: they cut a buffer of an MPEG-1 system stream
// (ISO/IEC 11172-1) or an MPEG-2 program stream (ISO/IEC 13818-1) into packs and
// describe each complete pack in a PackEntry: where it lies, its
// system_clock_reference, whether it holds video or audio and, for the time
// table, the presentation time of its video packet and whether that packet
// starts a group of pictures or an I-picture.
//
// A checker is fed consecutive buffers of one file in order: the first video
// PTS (and, for MPEG-2, the clock offset and the last SCR) carry over from one
// ScanPacks call to the next.
#pragma once

#include <cstdint>
#include <vector>

namespace md {

struct PackEntry {
    uint64_t scrBase;       // the 33-bit system_clock_reference (MPEG-2: its base)
    uint64_t scrExtension;  // MPEG-2 SCR_extension; 0 for MPEG-1
    // 100-ns units from the first video PTS (MPEG-2: plus the clock offset) to
    // the PTS of the pack's last video packet; -1 when that packet had no PTS or
    // no video packet was inspected.
    int64_t videoTime;
    const uint8_t* pack;  // the pack start inside the caller's buffer
    uint32_t length;      // bytes of the pack
    uint8_t video;        // a video packet was inspected in this pack
    uint8_t audio;        // an audio or private-stream-1 packet was seen
    uint8_t ptsPresent;   // the last PES packet of the pack had a PTS
    // The last video packet starts a GOP or holds an I-picture; looked for only
    // when ptsPresent is set (the packs a time table takes), else 0.
    uint8_t key;
    uint64_t offset;      // of the pack from the buffer start
};

// The entries of one or more ScanPacks calls, in the order the packs lie.
using PackEntryList = std::vector<PackEntry>;

class MpegPackCheck {
public:
    MpegPackCheck() = default;
    MpegPackCheck(const MpegPackCheck&) = delete;
    MpegPackCheck& operator=(const MpegPackCheck&) = delete;
    virtual ~MpegPackCheck() = default;

    // Appends an entry (when entries is given) for every complete pack of the
    // buffer that holds no packet of stream 0xFA or 0xFF, and returns the bytes
    // that belong to those packs: the offset of the last pack start, whose bytes
    // the caller presents again with more data. With final set the last pack is
    // emitted too (it runs to the end of the buffer) and the result is the
    // length minus the bytes the walk did not reach (at most 16).
    virtual uint32_t ScanPacks(const uint8_t* buffer, uint32_t length, PackEntryList* entries, bool final) = 0;
    // Turns on the inspection of PES payloads: video times, key pictures and the
    // video and audio flags. Without it only pack positions, lengths and SCRs
    // are produced.
    virtual void SetInspect(bool inspect) = 0;
};

// What a checker carries from one buffer to the next.
struct PackCheckState {
    bool inspect = false;
    int64_t firstVideoPts = -1;  // 90 kHz
    int64_t clockOffset = 0;     // 90 kHz, grows at each clock reset (MPEG-2 only)
    int64_t lastScr = 0;         // 27 MHz (MPEG-2 only)
};

class Mpeg1PackCheck : public MpegPackCheck {
public:
    uint32_t ScanPacks(const uint8_t* buffer, uint32_t length, PackEntryList* entries, bool final) override;
    void SetInspect(bool inspect) override { m_state.inspect = inspect; }

private:
    PackCheckState m_state;
};

// Follows the system clock across resets: when an SCR goes back (or falls to
// 0), the clock offset grows by the last SCR, so video times keep rising.
class Mpeg2PackCheck : public MpegPackCheck {
public:
    uint32_t ScanPacks(const uint8_t* buffer, uint32_t length, PackEntryList* entries, bool final) override;
    void SetInspect(bool inspect) override { m_state.inspect = inspect; }

private:
    PackCheckState m_state;
};

// Whether the video PES packet at p (available bytes from its start code) begins
// a group of pictures or an I-picture. Scans from byte 6 for the first GOP
// (00 00 01 B8) or picture (00 00 01 00) start code: a GOP sets the key flag and
// gives its closed_gop and the temporal_reference of the picture after it; a
// picture met first sets it only when picture_coding_type is 1. Every output is
// cleared first; the packet must fit in available and be at least 11 bytes.
bool KeyPictureInPes(const uint8_t* p, uint32_t available, uint8_t& key, uint8_t& closedGop,
                     uint32_t& temporalReference);

}  // namespace md
