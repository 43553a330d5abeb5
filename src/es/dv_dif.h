// DV frames as DIF blocks (IEC 61834-2 and -4, SMPTE 314M): the block IDs, the DIF sequence a frame is made of, and
// the description a frame's auxiliary packs give -- the system (525/60 or 625/50) from the header block, the display
// shape and scan from the VAUX source control pack (0x61), the audio of each audio block from its AAUX source pack
// (0x50). Raw DV files, DV in AVI and DV in MXF all carry whole frames of these blocks.
//
// A DIF block is 80 bytes: a 3-byte ID (SCT: section type, Dseq: DIF sequence number, FSC: channel, DBN: block
// number in the section) and 77 bytes of payload. A DIF sequence is 150 blocks (12000 bytes): the header block, two
// subcode blocks, three VAUX blocks, then nine groups of one audio and fifteen video blocks. A frame of the 25 Mbps
// format is 10 sequences (525/60: 120000 bytes) or 12 (625/50: 144000 bytes); the 50 Mbps format doubles them with
// a second channel (FSC 1).
#pragma once

#include <cstdint>

#include "demux/stream_record.h"
#include "input/bytes.h"

namespace md {

constexpr uint32_t kDifBlockSize = 80;
constexpr uint32_t kDifSequenceSize = 150 * kDifBlockSize;  // 12000 bytes
// The largest frame ParseDvFrame describes: 625/50 at 50 Mbps, two channels of 12 sequences.
constexpr uint32_t kMaxDvFrameBytes = 2 * 12 * kDifSequenceSize;

// Section types (SCT).
enum class DifSection : uint8_t {
    Header = 0,
    Subcode = 1,
    Vaux = 2,
    Audio = 3,
    Video = 4,
};

struct DifBlockId {
    uint8_t section = 0;  // SCT, the top three bits of the first byte
    uint8_t sequence = 0;  // Dseq, the top four bits of the second byte
    uint8_t channel = 0;  // FSC: 0 for the first channel, 1 for the second (50 Mbps)
    uint8_t number = 0;  // DBN
};

// The ID of the block at p (3 bytes).
DifBlockId ReadDifBlockId(const uint8_t* p);

// Whether b starts with the first DIF sequence of a frame: a header block of sequence 0 and channel 0, followed by
// the subcode, VAUX, audio and video blocks of the same sequence in their places and numbered in order (the first
// 640 bytes are looked at).
bool IsDvFrameStart(Bytes b);

struct DvAudioStream {
    uint32_t sampleRate = 0;  // 48000, 44100 or 32000
    uint32_t channels = 0;  // 1 or 2
    uint32_t bitsPerSample = 0;  // 16 (linear), 12 (non-linear) or 20
};

// What a DV frame states. Frames of the 25 and 50 Mbps formats are described.
struct DvFrameInfo {
    bool system625 = false;  // DSF: 625 lines, 50 fields (else 525/60)
    uint32_t sequences = 0;  // DIF sequences per channel: 10 or 12
    uint32_t channels = 0;  // 1 (25 Mbps) or 2 (50 Mbps)
    uint32_t frameBytes = 0;  // channels x sequences x 12000
    uint32_t width = 0;  // 720
    uint32_t height = 0;  // 480 or 576
    uint32_t rateNumerator = 0;  // 30000/1001 or 25/1 frames per second
    uint32_t rateDenominator = 0;
    uint32_t aspectX = 0;  // 4:3 or 16:9
    uint32_t aspectY = 0;
    bool interlaced = true;  // VSC IL; DV fields are bottom first
    uint32_t audioStreams = 0;  // stereo pairs (or single channels) the AAUX source packs describe
    DvAudioStream audio[4] = {};
};

// Describes the frame at the start of b. The header block and the first channel's VAUX give the video; each audio
// block's AAUX source pack is looked for in its half of the channel's sequences as far as b reaches (an audio block
// b does not reach is taken for the second channel of the pair the first block opens). The second channel is known
// by the header block that follows the first channel's sequences (FSC 1) where b reaches it. False when b does not
// start with a frame (IsDvFrameStart) or the VAUX source pack names a format other than the 25 and 50 Mbps ones.
bool ParseDvFrame(Bytes b, DvFrameInfo& out);

// The duration of one frame in 100-ns units: 400000, or 333667 (1001/30000 s, rounded).
int64_t DvFrameDuration(const DvFrameInfo& info);

// A video record of a parsed frame (codec DvVideo; class, stream id and the rest left to the caller): picture size,
// display shape, frame rate and duration, the 25 or 50 Mbps video rate, and the scan: interlaced frames bottom
// field first.
void FillDvVideoRecord(const DvFrameInfo& info, StreamRecord& record);

// An audio record (PCM; class and stream id left to the caller) of audio stream index of a parsed frame. False for
// an index past info.audioStreams.
bool FillDvAudioRecord(const DvFrameInfo& info, uint32_t index, StreamRecord& record);

}  // namespace md
