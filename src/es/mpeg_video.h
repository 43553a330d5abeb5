// MPEG-1/2 video (ISO/IEC 11172-2, 13818-2) sequence-level headers and their
// extensions, MPEG-4 Visual (ISO/IEC 14496-2) video object layer headers, the
// picture-level fields the field-order and GOP scans read, and the collector of
// the sequence-level and picture-level headers of a stream.
//
// Every function takes a pointer and a length, reads nothing beyond them, and
// writes only to the outputs the caller passes.
#pragma once

#include <cstdint>

#include "demux/stream_record.h"

namespace md {

// Aspect modes of ParseSequenceHeader.
constexpr uint32_t kAspectMpeg1 = 1;  // pel aspect ratio
constexpr uint32_t kAspectMpeg2 = 2;  // display aspect ratio

struct SequenceHeaderInfo {
    uint32_t profile;  // ParseVolHeader: 2; ParseSequenceHeader leaves it alone
    uint32_t level;    // ParseVolHeader: 1; ParseSequenceHeader leaves it alone
    uint32_t width;
    uint32_t height;
    uint32_t vbvBufferSize;        // MPEG-1/2: bytes; MPEG-4: as the VOL computes it
    int64_t frameDuration;         // 100-ns units
    double frameRate;              // frames per second
    uint32_t statedFrameDuration;  // 90 kHz ticks (MPEG-1/2) or 100-ns units (MPEG-4)
    uint32_t bitRate;              // bit/s; 0 when variable
    uint32_t aspectX;
    uint32_t aspectY;
    uint32_t reserved[2];
    uint32_t reserved2;
    // MPEG-4: vop_time_increment_resolution when fixed_vop_rate is 0 (the rate then is a default), else 0.
    uint32_t unfixedVopResolution;
    // MPEG-1/2: bytes of the sequence header with its quantiser matrices (12, 76
    // or 140). MPEG-4: offset from the buffer start of the first group_of_VOP or
    // VOP start code after the VOL, or -1 when none follows.
    int32_t headerLength;
    uint8_t header[kExtraDataSize];  // MPEG-1/2: the sequence header bytes
};

struct MpegFrameRate {
    int64_t duration;  // 100-ns units: 10^7 / fps, truncated
    double fps;
};

// frame_rate_code 1..8 (ISO/IEC 13818-2 Table 6-4). False, with out untouched,
// for the forbidden code 0 and the reserved codes 9..15.
bool LookupFrameRate(uint32_t code, MpegFrameRate& out);

// Length of the sequence header at p (00 00 01 B3) with its quantiser matrices:
// 12, 76 or 140. 0 when the bytes that decide it are not all there.
uint32_t SequenceHeaderLength(const uint8_t* p, uint32_t len);

// Parses a sequence header at p (00 00 01 B3). mode selects the aspect rule:
// kAspectMpeg1 (width : height x pel aspect), kAspectMpeg2 (display aspect
// table), anything else 4:3. Fills everything but profile and level; on false
// info is untouched.
bool ParseSequenceHeader(const uint8_t* p, uint32_t len, SequenceHeaderInfo& info, uint32_t mode);

// Applies an MPEG-2 sequence extension at p (00 00 01 B5, extension id 1; at
// least 14 bytes) to a parsed sequence header: profile and level codes, the size
// extensions and the bit-rate extension (added in 32-bit arithmetic). With
// rateExtension (MD_EXT_FRAME_RATES) also frame_rate_extension_n and _d: the frame
// rate of frame_rate_code times (n + 1) / (d + 1). On false info is untouched.
bool ApplySequenceExtension(const uint8_t* p, uint32_t len, SequenceHeaderInfo& info, bool rateExtension = false);

// frame_rate_extension_n + 1 and frame_rate_extension_d + 1 of the sequence
// extension at p (00 00 01 B5, extension id 1): the factor ISO/IEC 13818-2 6.3.3
// applies to frame_rate_code's rate. False (1 and 1) when p holds none.
bool ReadFrameRateExtension(const uint8_t* p, uint32_t len, uint32_t& numerator, uint32_t& denominator);

// progressive_sequence of the sequence extension at p. progressive is set to 1
// first; false (leaving it 1) when p is not at 00 00 01 B5 or the byte holding
// the flag is not there.
bool ReadProgressiveSequence(const uint8_t* p, uint32_t len, uint8_t& progressive);

// display_horizontal_size / display_vertical_size of the first sequence display
// extension in the buffer. True with the outputs untouched when there is none;
// false when one is there but cut short.
bool ReadDisplaySize(const uint8_t* p, uint32_t len, uint32_t& width, uint32_t& height);

// The encoder marker: the first sequence display extension with a colour
// description (extension byte 0x2B or 0x21) has transfer_characteristics 11.
// flag is cleared first; returns the flag.
bool FindEncoderMarker(const uint8_t* p, uint32_t len, uint8_t& flag);

// closed_gop and broken_link of the first group_of_pictures header. False when
// none starts at least 8 bytes before the end.
bool ReadGopFlags(const uint8_t* p, uint32_t len, uint8_t& closedGop, uint8_t& brokenLink);

// temporal_reference of the first picture header. False when none starts more
// than 8 bytes before the end.
bool ReadTemporalReference(const uint8_t* p, uint32_t len, uint32_t& value);

// From the picture coding extension at p (00 00 01 B5, at least 8 bytes): order
// 1 top field first, 2 bottom field first, 0 for picture_structure 0; a frame
// picture gives its top_field_first. progressiveFrame is progressive_frame, or 0
// when its byte is not there.
bool ReadFieldOrder(const uint8_t* p, uint32_t len, uint32_t& order, uint8_t& progressiveFrame);

// ReadFieldOrder on the first picture coding extension among the picture-level headers a record keeps (its extra
// data 2). False when there is none.
bool FirstPictureCoding(const StreamRecord& record, uint32_t& order, uint8_t& progressiveFrame);

// Parses the first MPEG-4 video object layer header in the buffer. Sets profile
// 2 and level 1, picture size, bit rate, VBV size, frame rate and durations, and
// the aspect ratio; headerLength is the offset of the first group_of_VOP or VOP
// start code after the VOL (-1 when none). On false info is untouched.
bool ParseVolHeader(const uint8_t* p, uint32_t len, SequenceHeaderInfo& info);

// The VOP rate of an MPEG-4 Visual stream whose VOL states no fixed_vop_rate: the VOP headers of the buffer that
// lie in its first second (modulo_time_base 0) give their vop_time_increment; resolution over the smallest
// difference between two of them (in display order, whatever the coding order) is the rate. False when fewer than
// two such VOPs differ.
bool Mpeg4VopRate(const uint8_t* p, uint32_t len, uint32_t resolution, double& fps);

// A video record from the first MPEG-4 Visual VOL of the buffer: the VOL's fields, square pels as the picture's
// shape, the configuration headers (from the first start code to the first group_of_VOP or VOP) as the sequence
// headers. vopRate: without fixed_vop_rate the VOP times of the buffer give the rate (Mpeg4VopRate). False when no
// VOL parses.
bool FillMpeg4VisualRecord(const uint8_t* p, uint32_t len, StreamRecord& record, bool vopRate);

// Copies the sequence-level headers into area1 and the picture-level headers into
// area2, each unit running from its start code to the next one.
// kModeMpegVideo: sequence header, sequence extension and sequence display
// extension → area1; picture header and picture coding extension → area2; the
// walk ends at the first slice, and succeeds only if it gets there.
// kModeH264 / kModeMvc: SPS and subset SPS → area1, PPS → area2, each unit
// taken from the byte before its prefix; succeeds when both areas got a unit.
// A unit that would not fit in the rest of its area is left out. On false the
// outputs are untouched.
bool CollectHeaders(const uint8_t* p, uint32_t len, uint8_t (&area1)[kExtraDataSize], int32_t& length1,
                    uint8_t (&area2)[kExtraDataSize], int32_t& length2, uint32_t mode);

// The display shapes every container names rather than states: 4:3 when
// 100 X / Y (integer division) is 133, 16:9 when it is 177, 1:1 when X equals Y.
// False, with x and y untouched, for any other X:Y and for Y = 0.
bool SnapDisplayAspect(uint64_t X, uint64_t Y, uint32_t& x, uint32_t& y);

// Display aspect from a sample aspect x:y and the picture size: X' = x * width,
// Y' = y * height snapped as SnapDisplayAspect does, else X':Y' unreduced (each
// truncated to 32 bits); 0:0 becomes 1:1.
void AspectFromSampleAspect(uint32_t& x, uint32_t& y, uint32_t width, uint32_t height);

// Display aspect when a sequence display extension gives a display size other
// than the coded size: x * displayHeight * width : y * height * displayWidth,
// reduced by the greatest common divisor. x:y stays when a term is 0 or the
// reduced pair does not fit 32 bits.
void AspectFromDisplaySize(uint32_t& x, uint32_t& y, uint32_t width, uint32_t height, uint32_t displayWidth,
                           uint32_t displayHeight);

// Snaps a measured frame rate to the nominal one near it (29.97, 30, 23.976,
// 59.94, 60, 15); other rates stay.
void NormalizeFrameRate(double& fps);

// Copies the picture parameters of a parsed header into a video stream record:
// profile, level, size, VBV size, durations, bit rate, aspect and frame rate.
void ApplySequenceHeader(const SequenceHeaderInfo& info, StreamRecord& record);

// MPEG-1 or MPEG-2 video from the first sequence header in p (a frame, or a
// decoder configuration): size, aspect, rates and VBV size from the header;
// profile, level and progressive_sequence from an MPEG-2 sequence extension after
// it (without one the stream is MPEG-1 and its aspect the pel aspect's); the
// headers up to the first slice into the header areas; a square-pel aspect
// becomes the picture's shape. False when no sequence header parses.
bool DescribeMpegVideo(const uint8_t* p, uint32_t len, StreamRecord& record);

}  // namespace md
