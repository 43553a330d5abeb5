// The headers of Flash Video audio and video tags, and the codec headers their first tags carry: what each tag's
// first byte says (codec, frame type, sound flags), the enhanced video header (a FourCC in place of the CodecID),
// and the stream parameters from the AVC, HEVC and AV1 configuration records, the Sorenson H.263 picture header,
// the VP6 key frame header, the screen video header, the AAC AudioSpecificConfig and the MP3 frame header.
// Stateless functions over one tag's data (the bytes after the 11-byte tag header).
#pragma once

#include <cstdint>

#include "demux/stream_record.h"
#include "input/bytes.h"

namespace md {

// VIDEODATA CodecID values.
enum class FlvVideoCodec : uint8_t {
    Jpeg = 1,
    SorensonH263 = 2,
    ScreenVideo = 3,
    Vp6 = 4,
    Vp6Alpha = 5,
    ScreenVideo2 = 6,
    Avc = 7,
};

// AUDIODATA SoundFormat values.
enum class FlvSoundFormat : uint8_t {
    PcmPlatformEndian = 0,
    Adpcm = 1,
    Mp3 = 2,
    PcmLittleEndian = 3,
    Nellymoser16kMono = 4,
    Nellymoser8kMono = 5,
    Nellymoser = 6,
    G711Alaw = 7,
    G711Mulaw = 8,
    ExHeader = 9,  // enhanced audio (a FourCC follows); not described
    Aac = 10,
    Speex = 11,
    Mp3At8k = 14,
    DeviceSpecific = 15,
};

// What a video tag's header says.
struct FlvVideoTag {
    bool enhanced = false;  // IsExHeader: a FourCC names the codec
    uint8_t frameType = 0;  // 1 key frame, 2 inter frame, 3 disposable, 4 generated key frame, 5 command frame
    uint8_t codecId = 0;  // FlvVideoCodec (legacy header)
    uint32_t fourCC = 0;  // 'avc1', 'hvc1', 'av01', 'vp09' (enhanced header)
    bool configuration = false;  // an AVC sequence header or an enhanced SequenceStart
    bool picture = false;  // carries a coded picture
    Bytes payload;  // the configuration record or the picture, after every header field
};

// Reads the header of a video tag's data. False when the data is empty or the header is one this reader does not
// follow (multitrack and ModEx enhanced packets).
bool ReadVideoTag(Bytes data, FlvVideoTag& tag);

// The codec of a video tag, or false for a CodecID or FourCC without one.
bool VideoCodecOf(const FlvVideoTag& tag, StreamCodec& codec);

// Fills the picture fields of a video record (its codec already set) from a tag: the configuration record of AVC,
// HEVC and AV1, the picture header of the codecs without one (Sorenson H.263, VP6 key frames, screen video). True
// when the tag gave the picture size, and for the codecs whose pictures are not read (JPEG, VP8, VP9). allProfiles:
// read H.264 parameter sets of every profile.
bool DescribeVideoTag(const FlvVideoTag& tag, StreamRecord& record, bool allProfiles);

// The size of a picture with square samples, its display aspect the picture's shape; progressive.
void SetSquarePicture(StreamRecord& record, uint32_t width, uint32_t height);

// What an audio tag's header says.
struct FlvAudioTag {
    uint8_t soundFormat = 0;  // FlvSoundFormat
    uint8_t rateIndex = 0;  // SoundRate: 0 5.5 kHz, 1 11 kHz, 2 22 kHz, 3 44 kHz
    bool sixteenBit = false;  // SoundSize
    bool stereo = false;  // SoundType
    bool aacSequenceHeader = false;  // AACPacketType 0: the AudioSpecificConfig
    Bytes payload;  // after the flags (and the AACPacketType)
};

// False for empty data.
bool ReadAudioTag(Bytes data, FlvAudioTag& tag);

// The sampling rate a SoundRate index names (5.5 kHz is 5512 Hz).
uint32_t FlvSoundRate(uint8_t rateIndex);

// The codec of an audio tag, or false for a sound format without one (enhanced audio, device-specific sound).
bool AudioCodecOf(const FlvAudioTag& tag, StreamCodec& codec);

// Fills an audio record (its codec already set) from a tag: the flags, the fixed parameters of the formats that
// have them (Nellymoser, G.711, Speex, MP3 8 kHz), the AudioSpecificConfig of an AAC sequence header, the MP3 frame
// header. True when the tag described the stream (for AAC: it was the sequence header).
bool DescribeAudioTag(const FlvAudioTag& tag, StreamRecord& record);

// The picture size and timing an AV1 sequence header OBU (AV1 5.5) states.
struct Av1SequenceInfo {
    uint32_t profile = 0;
    uint32_t level = 0;  // seq_level_idx of operating point 0
    uint32_t width = 0;  // max_frame_width_minus_1 + 1
    uint32_t height = 0;
    double frameRate = 0;  // from timing_info with equal_picture_interval, else 0
};
// config: an AV1CodecConfigurationRecord, whose configOBUs hold the sequence header OBU.
bool ParseAv1Configuration(Bytes config, Av1SequenceInfo& out);

}  // namespace md
