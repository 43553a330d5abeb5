// Sample entries (the children of 'stsd') and their codec configuration: the
// 'esds' MPEG-4 descriptors, 'avcC', 'd263' and 'damr', and the video object
// layer scan of MPEG-4 Visual decoder-specific info.
//
// Every entry reader takes the bytes of the entry box (exactly its size) and the
// length of its box header (8, or 16 with a 64-bit size); field offsets below are
// from the start of an entry with a 32-bit size. A reader returns none only when
// the entry must read as absent ('avc1' with an oversized parameter set).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "es/audio_headers.h"
#include "input/bytes.h"
#include "mp4/mp4_box.h"

namespace md {

// Largest descriptor payload, decoder-specific info and parameter set kept.
constexpr size_t kMaxConfigBytes = 256;

// ---- MPEG-4 descriptors ('esds') ---------------------------------------------------

struct Mp4Descriptor {
    int32_t tag = -1;  // -1 when absent or unusable
    uint32_t length = 0;  // payload length
    uint32_t totalLength = 0;  // tag + length bytes + payload
    std::array<uint8_t, kMaxConfigBytes> payload{};
};

// One descriptor: tag byte, a length of up to four 7-bit groups (continued while
// the top bit is set), then the payload. Tag -1 when the descriptor runs past
// available or its payload is longer than 256 bytes.
Mp4Descriptor ParseDescriptor(const uint8_t* bytes, size_t available);

struct EsdsInfo {
    uint32_t objectTypeIndication = 0;
    uint32_t bufferSizeDB = 0;
    uint32_t maxBitrate = 0;
    uint32_t avgBitrate = 0;
    std::array<uint8_t, kMaxConfigBytes> decoderSpecificInfo{};
    uint32_t decoderSpecificInfoLength = 0;
    Mp4Descriptor esDescriptor;                   // ES_Descriptor (tag 3)
    Mp4Descriptor decoderConfigDescriptor;        // DecoderConfigDescriptor (tag 4)
    Mp4Descriptor decoderSpecificInfoDescriptor;  // DecoderSpecificInfo (tag 5)
};

// Reads the descriptors of an 'esds' box that starts at bytes; available runs to
// the end of the enclosing sample entry. The box header is taken to be 8 bytes,
// whatever type it names.
EsdsInfo ReadEsdsInfo(const uint8_t* bytes, size_t available);

// ---- MPEG-4 Visual video object layer ------------------------------------------------

struct VolHeaderInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t parWidth = -1;  // -1:-1 for reserved aspect_ratio_info values
    int32_t parHeight = -1;
    int32_t interlaced = 0;
    int32_t vopTimeIncrementResolution = 0;
};

// Finds the video object layer start code 00 00 01 20 and reads the layer header
// up to the interlaced flag. Nothing when there is no start code, the shape is
// not rectangular, or the header runs past length.
std::optional<VolHeaderInfo> ScanVolHeader(const uint8_t* bytes, size_t length);

// ---- Sample entry records --------------------------------------------------------

struct Mp4SampleEntry : Mp4Box {
    uint16_t dataReferenceIndex = 0;  // offset 14
};

// 'cvid', 'jpeg' (and the base of the other visual entries).
struct Mp4VisualSampleEntry : Mp4SampleEntry {
    uint16_t width = 0;   // offset 32
    uint16_t height = 0;  // offset 34
};

// 'twos', 'sowt', 'raw ', '.mp3', 'ima4', 'alaw', 'ulaw' (and the base of the other audio entries).
struct Mp4AudioSampleEntry : Mp4SampleEntry {
    uint16_t channelCount = 0;  // offset 24
    uint16_t sampleSize = 0;    // offset 26
    uint32_t sampleRate = 0;    // integer part of the 16.16 value at 32
};

// 'mp4v'. width and height are the video object layer's when the scan found one;
// the four VOL-derived fields stay -1 otherwise.
struct Mp4Mp4vEntry : Mp4VisualSampleEntry {
    EsdsInfo esds;
    int32_t parWidth = -1;
    int32_t parHeight = -1;
    int32_t interlaced = -1;
    int32_t vopTimeIncrementResolution = -1;
};

// 'mp4a'. With an AudioSpecificConfig the channel count and sampling rate are
// the ones it gives (the channel count as its channelConfiguration number).
struct Mp4Mp4aEntry : Mp4AudioSampleEntry {
    EsdsInfo esds;
    // The channels the AudioSpecificConfig stands for (ParseAudioSpecificConfig: configuration 7 is eight,
    // configuration 0 counts its program_config_element); 0 when it states none.
    uint32_t configChannels = 0;
};

struct ParameterSetRecord {
    uint32_t length = 0;  // parameter set length + 2
    std::array<uint8_t, kMaxConfigBytes> bytes{};  // the 2-byte length prefix, then the set
};

// 'avc1' with the fields of its 'avcC' (none when the entry has no 'avcC').
struct Mp4Avc1Entry : Mp4VisualSampleEntry {
    bool hasAvcC = false;
    uint8_t profileIndication = 0;
    uint8_t profileCompatibility = 0;
    uint8_t levelIndication = 0;
    uint8_t lengthSizeMinusOne = 0;
    std::vector<ParameterSetRecord> sequenceParameterSets;
    std::vector<ParameterSetRecord> pictureParameterSets;
};

// 's263' with its 'd263' (offset 86) and 'bitr' fields.
struct Mp4S263Entry : Mp4VisualSampleEntry {
    uint32_t vendor = 0;
    uint8_t decoderVersion = 0;
    uint8_t level = 0;
    uint8_t profile = 0;
    uint32_t avgBitrate = 0;
    uint32_t maxBitrate = 0;
};

// 'samr' and 'sawb' with their 'damr' (offset 36).
struct Mp4AmrEntry : Mp4AudioSampleEntry {
    uint32_t vendor = 0;
    uint8_t decoderVersion = 0;
    uint16_t modeSet = 0;
    uint8_t modeChangePeriod = 0;
    uint8_t framesPerSample = 0;
};

// 'hvc1' and 'hev1' with the payload of their 'hvcC' (an
// HEVCDecoderConfigurationRecord); empty without one.
struct Mp4HevcEntry : Mp4VisualSampleEntry {
    std::vector<uint8_t> configuration;
};

// 'av01' with the sequence fields of its 'av1C'.
struct Mp4Av01Entry : Mp4VisualSampleEntry {
    bool hasAv1C = false;
    uint8_t seqProfile = 0;
    uint8_t seqLevelIdx = 0;
};

// 'Opus' with its 'dOps'.
struct Mp4OpusEntry : Mp4AudioSampleEntry {
    bool hasDOps = false;
    uint8_t outputChannelCount = 0;
    uint16_t preSkip = 0;
    uint32_t inputSampleRate = 0;
};

// 'fLaC' with the STREAMINFO block of its 'dfLa'.
struct Mp4FlacEntry : Mp4AudioSampleEntry {
    bool hasStreamInfo = false;
    FlacStreamInfo streamInfo{};
};

// 'ac-3' with its 'dac3', 'ec-3' with the first independent substream of its
// 'dec3' (the fields neither carries stay 0).
struct Mp4Ac3Entry : Mp4AudioSampleEntry {
    bool hasConfig = false;
    uint8_t fscod = 0;
    uint8_t bsid = 0;
    uint8_t bsmod = 0;
    uint8_t acmod = 0;
    uint8_t lfeon = 0;
    uint8_t bitRateCode = 0;  // 'dac3' only
    uint16_t dataRate = 0;  // 'dec3' only, kbit/s
    uint8_t numDepSub = 0;  // 'dec3' only
    uint16_t chanLoc = 0;  // 'dec3' only, with dependent substreams
};

// QuickTime uncompressed sound ('lpcm', 'in24', 'in32', 'fl32', 'fl64', 'NONE')
// with what the sound description version and its 'enda' say.
struct Mp4PcmEntry : Mp4AudioSampleEntry {
    uint16_t soundVersion = 0;  // offset 16
    bool littleEndian = false;
};

// QuickTime video entries ('apcn' and the other ProRes types, 'dvc ', 'dvcp' and the other DV types) with the
// pixel aspect of their 'pasp' and the field handling of their 'fiel'.
struct Mp4QuickTimeVideoEntry : Mp4VisualSampleEntry {
    uint32_t hSpacing = 0;  // 'pasp': the pixel aspect hSpacing:vSpacing; 0:0 without one
    uint32_t vSpacing = 0;
    uint8_t fieldCount = 0;  // 'fiel': 1 progressive, 2 interlaced; 0 without one
    uint8_t fieldDetail = 0;  // 'fiel': which field comes first (1 and 14 top, 6 and 9 bottom)
};

// 'alac' with the ALACSpecificConfig (the magic cookie) of its 'alac' box, directly inside the entry (MP4) or
// inside its 'wave' (QuickTime sound description version 1).
struct Mp4AlacEntry : Mp4AudioSampleEntry {
    bool hasConfig = false;  // a cookie of a known version, bit depth, channel count and rate
    uint8_t bitDepth = 0;
    uint8_t channels = 0;
    uint32_t configSampleRate = 0;
};

// ---- Entry readers -----------------------------------------------------------------

std::unique_ptr<Mp4Box> ReadMp4vEntry(Bytes box, size_t headerLength);
std::unique_ptr<Mp4Box> ReadAvc1Entry(Bytes box, size_t headerLength);
std::unique_ptr<Mp4Box> ReadS263Entry(Bytes box, size_t headerLength);
std::unique_ptr<Mp4Box> ReadVisualEntry(Bytes box, size_t headerLength);  // 'cvid', 'jpeg'
std::unique_ptr<Mp4Box> ReadMp4aEntry(Bytes box, size_t headerLength);
// 'twos', 'sowt', 'raw ', '.mp3', 'ima4', 'alaw', 'ulaw'
std::unique_ptr<Mp4Box> ReadAudioEntry(Bytes box, size_t headerLength);
std::unique_ptr<Mp4Box> ReadAmrEntry(Bytes box, size_t headerLength);    // 'samr', 'sawb'
std::unique_ptr<Mp4Box> ReadAv01Entry(Bytes box, size_t headerLength);
std::unique_ptr<Mp4Box> ReadHevcEntry(Bytes box, size_t headerLength);  // 'hvc1', 'hev1'
std::unique_ptr<Mp4Box> ReadOpusEntry(Bytes box, size_t headerLength);
std::unique_ptr<Mp4Box> ReadFlacEntry(Bytes box, size_t headerLength);
std::unique_ptr<Mp4Box> ReadAc3Entry(Bytes box, size_t headerLength);  // 'ac-3', 'ec-3'
std::unique_ptr<Mp4Box> ReadPcmEntry(Bytes box, size_t headerLength);
std::unique_ptr<Mp4Box> ReadQuickTimeVideoEntry(Bytes box, size_t headerLength);  // ProRes, DV
std::unique_ptr<Mp4Box> ReadAlacEntry(Bytes box, size_t headerLength);

// AC-3 channels of an audio coding mode and LFE flag (ATSC A/52 Table 5.8); an
// E-AC-3 chan_loc adds the channels of its dependent substreams.
uint32_t Ac3Channels(uint32_t acmod, uint32_t lfeon, uint32_t chanLoc = 0);

// Sampling rate of an AudioSpecificConfig sampling-frequency index (0 for 13-15).
uint32_t AacSamplingFrequency(uint32_t index);

}  // namespace md
