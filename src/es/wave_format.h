// The WAVEFORMATEX audio description (and WAVEFORMATEXTENSIBLE) that RIFF WAVE and AVI files and ASF stream
// properties carry: a format tag, the sample layout and the codec's own bytes after it. Little-endian throughout.
#pragma once

#include <cstdint>

#include "demux/stream_record.h"
#include "input/bytes.h"

namespace md {

constexpr uint16_t kWaveFormatPcm = 0x0001;
constexpr uint16_t kWaveFormatAdpcm = 0x0002;
constexpr uint16_t kWaveFormatIeeeFloat = 0x0003;
constexpr uint16_t kWaveFormatAlaw = 0x0006;
constexpr uint16_t kWaveFormatMulaw = 0x0007;
constexpr uint16_t kWaveFormatMpeg = 0x0050;      // MPEG-1 audio Layer I or II
constexpr uint16_t kWaveFormatMpegLayer3 = 0x0055;
constexpr uint16_t kWaveFormatAc3 = 0x2000;
constexpr uint16_t kWaveFormatDts = 0x2001;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

struct WaveFormat {
    uint16_t formatTag = 0;  // for WAVE_FORMAT_EXTENSIBLE, the tag its SubFormat GUID carries
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t bytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;  // 0 when the description stops before it (a 14-byte WAVEFORMAT)
    uint32_t channelMask = 0;    // WAVE_FORMAT_EXTENSIBLE's dwChannelMask, else 0
    Bytes extra;                 // the cbSize bytes after the 18-byte WAVEFORMATEX (inside the caller's buffer)
};

// Reads the description at the start of b (at least the 14 bytes of WAVEFORMAT). False for fewer bytes, no
// channels or a rate of 0. An extensible description's extra bytes are those after its 22 bytes of extension.
bool ParseWaveFormat(Bytes b, WaveFormat& out);

// The codec of a format tag; StreamCodec::VfwVideo (no audio codec) for tags no record describes.
StreamCodec WaveFormatCodec(uint16_t formatTag);

// The record's audio view from a description: channels, rate, byte rate, block align, bits (0 for compressed
// codecs) and the channel mask.
void SetWaveAudio(const WaveFormat& format, AudioParams& audio);

}  // namespace md
