// Parsers of the first frame header of an audio elementary stream: MPEG audio
// (ISO/IEC 11172-3 / 13818-3), AC-3 (ATSC A/52), DTS (ETSI TS 102 114), DVD
// LPCM and MLP / Dolby TrueHD major syncs.
//
// Each parser takes a pointer to the first byte of the frame (the caller has
// already located the sync pattern or the sub-stream header) and the number of
// bytes available there, never reads beyond them, and fills caller-owned
// records. One valid header is enough; no parser looks for a second frame.
// On false the outputs are cleared or partly filled and must not be used.
#pragma once

#include <cstdint>
#include <span>

#include "demux/stream_record.h"

namespace md {

// The audio view of a stream record, in its order.
struct AudioFormat {
    uint32_t channels;
    uint32_t sampleRate;      // Hz
    uint32_t bytesPerSecond;  // average
    uint32_t blockAlign;      // bytes per frame (1 when frames vary in length)
    uint32_t bitsPerSample;   // 0 for compressed formats
};
static_assert(sizeof(AudioFormat) == 20);

// The codec-specific words that MPEG audio records carry.
struct MpegAudioInfo {
    uint32_t layerIndex;   // 0 Layer I, 1 Layer II, 2 Layer III
    uint32_t channelMode;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    uint32_t bitRate;      // bit/s, 0 for free format
    uint32_t headerWord;   // the four header bytes, first byte in the lowest byte
};
static_assert(sizeof(MpegAudioInfo) == 16);

// The codec-specific words that AC-3 records carry. The parser sets acmod,
// lfeon and bsid; the demultiplexer fills the sub-stream words.
struct Ac3Info {
    uint32_t acmod;
    uint32_t substreamHeaderSize;  // 0 from the parser
    uint32_t lfeon;                // low byte
    uint32_t substreamId;          // 0 from the parser
    uint32_t bsid;                 // low byte
};
static_assert(sizeof(Ac3Info) == 20);

// Second byte of DtsInfo::flags: the frame started with 01 80 FE 7F.
constexpr uint32_t kDtsReversedSync = 0x100;

struct DtsInfo {
    uint32_t flags;
};
static_assert(sizeof(DtsInfo) == 4);

// The E-AC-3 syncframe fields (ATSC A/52 Annex E, E.1.2.2) a record is made from.
struct Eac3Info {
    uint32_t strmtyp;      // 0 independent, 1 dependent, 2 independent converted from AC-3
    uint32_t substreamid;
    uint32_t frameBytes;   // (frmsiz + 1) x 2
    uint32_t blocks;       // audio blocks of 256 samples per syncframe: 1, 2, 3 or 6
    uint32_t acmod;
    uint32_t lfeon;
    uint32_t bsid;
    // A dependent substream's custom channel map when chanmape is set (Table E2.5 location 0, Left, in the top bit
    // of the 16-bit field), else 0.
    uint32_t chanmap;
};

struct MlpInfo {
    uint32_t channelLayout;
    uint8_t lfe;
};

// byte 0 = 0xFF and the top nibble of byte 1 = 0xF.
bool IsMpegAudioSync(const uint8_t* p, uint32_t len);

// The AC-3 syncword 0B 77, or 77 0B in a stream of byte-swapped 16-bit words;
// the caller has checked that 2 bytes are there.
constexpr bool IsAc3Sync(const uint8_t* p) { return (p[0] == 0x0B && p[1] == 0x77) || (p[0] == 0x77 && p[1] == 0x0B); }

// The DTS sync word 7F FE 80 01, or 01 80 FE 7F in a stream of byte-swapped
// 16-bit words; the caller has checked that 4 bytes are there.
constexpr bool IsDtsSync(const uint8_t* p)
{
    return (p[0] == 0x7F && p[1] == 0xFE && p[2] == 0x80 && p[3] == 0x01) ||
           (p[0] == 0x01 && p[1] == 0x80 && p[2] == 0xFE && p[3] == 0x7F);
}

// layer != 0, sampling_frequency != 3, bitrate_index != 15.
bool IsValidMpegAudioHeader(const uint8_t* p, uint32_t len);

// Bit rate (bit/s) of bitrate_index 0..14 for layer index 0..2 (Layer I, II,
// III) of ISO/IEC 11172-3; 0 for free format (index 0) and for indexes outside
// the table.
uint32_t MpegAudioBitRate(uint32_t layerIndex, uint32_t bitrateIndex);

// Bytes of the MPEG audio frame whose header is at p, padding included
// (ISO/IEC 11172-3 2.4.3.1; ISO/IEC 13818-3 2.4.3.1 for the lower sampling
// frequencies of ID 0); 0 for free format, an invalid header or fewer than 3 bytes.
uint32_t MpegAudioFrameBytes(const uint8_t* p, uint32_t len);

// An MPEG audio frame header of any version, as a walk from frame to frame needs it: MPEG-1 (ISO/IEC 11172-3),
// MPEG-2 at the lower sampling frequencies (ISO/IEC 13818-3, ID 0) and the MPEG-2.5 extension (sync 0xFFE, version
// bits 00: a quarter of the MPEG-1 rates). The bit rate is read from the table of the frame's own version.
enum class MpegAudioVersion : uint32_t { Mpeg1 = 1, Mpeg2 = 2, Mpeg25 = 25 };
struct MpegAudioFrame {
    MpegAudioVersion version;
    uint32_t layerIndex;   // 0 Layer I, 1 Layer II, 2 Layer III
    uint32_t sampleRate;   // Hz
    uint32_t bitRate;      // bit/s
    uint32_t frameBytes;   // header and padding slot included
    uint32_t samples;      // per frame: 384 (Layer I), 1152, or 576 (Layer III at the lower rates)
    uint32_t channelMode;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    bool crc;              // protection_bit 0: a 16-bit CRC follows the header
};

// False for another sync, the reserved version, layer, sampling_frequency or bitrate_index 15, free format (bitrate
// index 0: no length stated) and fewer than 4 bytes.
bool ParseMpegAudioFrame(const uint8_t* p, size_t len, MpegAudioFrame& frame);

// Sampling rate from the ID bit and sampling_frequency; 0 for fewer than 3 bytes.
uint32_t MpegAudioSampleRate(const uint8_t* p, uint32_t len);

bool ParseMpegAudioHeader(const uint8_t* p, uint32_t len, AudioFormat& format, MpegAudioInfo& info);

// Duration of one MPEG audio frame in 100-ns units: 384 samples for Layer I,
// 1152 otherwise, at 44.1, 48 or 32 kHz by sampling_frequency (the ID bit is not
// looked at); 0 for the reserved sampling_frequency. header holds 3 bytes.
int64_t MpegAudioFrameDuration(const uint8_t* header);

// Duration in 100-ns units of a frame of 1536 samples (an AC-3 syncframe) at
// sampleRate, in double arithmetic, truncated.
int64_t Frame1536Duration(uint32_t sampleRate);

// Copies the five words of a parsed header into a record's audio view.
void SetAudioFormat(AudioParams& audio, const AudioFormat& format);

// The first four codec-specific words of an MPEG audio record: layer index,
// channel mode, bit rate and header word; the fifth is left alone.
void SetMpegAudioWords(std::span<uint32_t, 5> codecSpecific, const MpegAudioInfo& info);

// Parses the MPEG audio frame header at p into a record's audio view: the five
// format words and the MPEG audio words. False, with the record untouched, when
// the header does not parse.
bool ReadMpegAudioRecord(const uint8_t* p, uint32_t len, AudioParams& audio);

// A stream a container names MPEG audio, AC-3 or DTS (r.codec) gets the codec's own parameters from the first frame
// header of that codec found in bytes: the audio view, the MPEG audio words (Mpeg2Audio at the lower sampling
// frequencies), the AC-3 words (acmod, lfeon, bsid) or the DTS flags. False when none is found.
bool ReadFirstFrameRecord(std::span<const uint8_t> bytes, StreamRecord& r);

// Accepts 0B 77 and the byte-swapped 77 0B. frameWords receives the syncframe
// size in 16-bit words (0 for the reserved fscod 3).
bool ParseAc3Header(const uint8_t* p, uint32_t len, AudioFormat& format, Ac3Info& info, uint32_t& frameWords);

// Parses the E-AC-3 syncframe header at p (0B 77, bsid 11..16): channels from
// acmod and lfeon, the sample rate from fscod (fscod2 when fscod is 3), the
// frame length as blockAlign and the byte rate it gives. False for another
// syncword or bsid, the reserved fscod2 and fewer than 6 bytes.
bool ParseEac3Header(const uint8_t* p, uint32_t len, AudioFormat& format, Eac3Info& info);

// The E-AC-3 custom channel map locations (ATSC A/52 Table E2.5) of an independent substream's channels: L, C, R,
// Ls, Rs as acmod has them (the single surround of 2/1 and 3/1 as Cs; 1+1 as L and R), LFE by lfeon.
uint32_t Eac3ChanmapOfAcmod(uint32_t acmod, uint32_t lfeon);

// The speakers (WAVEFORMATEXTENSIBLE bits) of the locations a chanmap names, and in channels how many channels
// it names, a pair counting two. Ls/Rs are the side speakers and Lrs/Rrs the back ones, as in a 7.1 layout;
// locations with no such speaker (Lsd/Rsd, Lw/Rw, Lts/Rts, LFE2) count as channels without a bit.
uint32_t Eac3ChanmapSpeakers(uint32_t chanmap, uint32_t& channels);

// Accepts 7F FE 80 01 and 01 80 FE 7F. frameDuration receives the duration of
// one frame in 100-ns units.
bool ParseDtsHeader(const uint8_t* p, uint32_t len, AudioFormat& format, DtsInfo& info, int64_t& frameDuration);

// How a DTS stream stores its words (ETSI TS 102 114 5.3.1, SYNC): 16-bit words big-endian (7F FE 80 01) or
// little-endian (FE 7F 01 80), or 14-bit words in 16-bit ones, the form of DTS on audio CDs (1F FF E8 00 07 Fx
// big-endian, FF 1F 00 E8 Fx 07 little-endian), where the top two bits of each word copy bit 13.
enum class DtsWordForm : uint8_t { None, Be16, Le16, Be14, Le14 };

// The form whose core sync word opens p (4 bytes for the 16-bit forms, 6 for the 14-bit ones); None for another.
DtsWordForm DtsCoreSync(const uint8_t* p, uint32_t len);

// Rewrites the words of a DTS stream at p, stored in form, into the 16-bit big-endian form in out: the bytes
// written, whole words only, at most outLen.
uint32_t DtsWordsToBe16(const uint8_t* p, uint32_t len, DtsWordForm form, uint8_t* out, uint32_t outLen);

// The bytes that be16Bytes of the 16-bit form take in form: the same, or for the 14-bit forms a 16-bit word per
// 14 bits, the last one partly filled.
uint64_t DtsStoredBytes(uint64_t be16Bytes, DtsWordForm form);

// The fields of a DTS core frame header (ETSI TS 102 114 5.3.1) a file's record and frame walk need.
struct DtsCoreHeader {
    uint32_t frameBytes;   // FSIZE + 1, in the 16-bit form
    uint32_t samples;      // (NBLKS + 1) blocks of 32 samples
    uint32_t sampleRate;   // SFREQ
    uint32_t amode;
    uint32_t lfe;          // 1 when LFF announces the low-frequency channel
    uint32_t channels;     // AMODE's (Table 5-4), the LFE, and the XCh extension's centre surround; 0 for user AMODEs
    uint32_t channelMask;  // the same as WAVEFORMATEXTENSIBLE speakers (surrounds as back speakers, as AC-3 masks)
};

// Parses the core frame header at p, in the 16-bit big-endian form (at least 11 bytes). False for another sync,
// NBLKS below 5 (fewer than 6 blocks), FSIZE below 95 (frames under 96 bytes), a reserved SFREQ and LFF 3.
bool ParseDtsCoreHeader(const uint8_t* p, uint32_t len, DtsCoreHeader& header);

// The bytes of the DTS-HD extension substream whose header opens p (SYNCEXTSSH 64 58 20 25, then
// UserDefinedBits, nExtSSIndex, bHeaderSizeType and nuExtSSHeaderSize / nuExtSSFsize in 8/16 or 12/20 bits):
// nuExtSSFsize + 1; 0 for no such header or a size below its header's.
uint32_t DtsHdSubstreamBytes(const uint8_t* p, uint32_t len);

// p points at the sub-stream id byte of a private-stream-1 LPCM packet.
bool ParseLpcmHeader(const uint8_t* p, uint32_t len, AudioFormat& format);

// p points at the major sync (F8 72 6F BA for TrueHD, F8 72 6F BB for MLP).
// pcmBytesPerUnit receives the PCM bytes one access unit decodes to.
bool ParseMlpHeader(const uint8_t* p, uint32_t len, AudioFormat& format, MlpInfo& info, uint32_t& pcmBytesPerUnit);

// The STREAMINFO metadata block of FLAC, as a "fLaC" stream header (after its marker) and MP4's 'dfLa' carry it.
// p points at the block header: last-block flag and type 0 in one byte, a 24-bit length of at least 34. Then minimum
// and maximum block size (16 bits each), minimum and maximum frame size (24 bits each), sample rate (20 bits),
// channels - 1 (3 bits), bits per sample - 1 (5 bits). False for another block, a rate of 0, or fewer bytes.
struct FlacStreamInfo {
    uint32_t sampleRate;
    uint32_t channels;
    uint32_t bitsPerSample;
};
bool ParseFlacStreamInfo(const uint8_t* p, size_t len, FlacStreamInfo& info);

}  // namespace md
