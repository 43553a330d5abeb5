// The identification headers of the Xiph.org codecs, as Ogg carries them in the first packet of a logical stream
// and Matroska in a track's CodecPrivate: Vorbis, Opus, Speex and Theora; and the number of samples an Opus packet
// decodes to (its TOC byte). Each parser takes the packet's bytes and returns false for a packet of another codec,
// one cut short, or one whose fields no decoder accepts.
#pragma once

#include <cstdint>

#include "input/bytes.h"

namespace md {

// Opus decoders always put out 48 kHz, whatever rate the encoder was fed (RFC 7845 5.1); granule positions count
// at that rate too.
constexpr uint32_t kOpusOutputRate = 48000;

// Vorbis I identification header (packet type 1, "vorbis"; all fields little-endian): vorbis_version (0),
// audio_channels, audio_sample_rate, the maximum, nominal and minimum bit rates (0 or negative: not stated),
// blocksize_0/1 and the framing bit, 30 bytes in all.
struct VorbisIdHeader {
    uint32_t channels;
    uint32_t sampleRate;
    int32_t bitrateMaximum;
    int32_t bitrateNominal;
    int32_t bitrateMinimum;
};
bool ParseVorbisIdHeader(Bytes packet, VorbisIdHeader& out);

// The Opus identification header "OpusHead" (RFC 7845 5.1): version, output channel count, pre-skip (samples at
// 48 kHz the decoder puts out before the stream's first sample), the encoder's input sample rate (information
// only), output gain and the channel mapping family, at least 19 bytes. False for fewer bytes, another magic or no
// channels; the version is left to the caller (a major version above 0, version >= 16, is not this format).
struct OpusHead {
    uint32_t version;
    uint32_t channels;
    uint32_t preSkip;
    uint32_t inputSampleRate;
    uint32_t mappingFamily;
};
bool ParseOpusHead(Bytes packet, OpusHead& out);

// The speakers (WAVEFORMATEXTENSIBLE bits) of an Opus channel layout: mapping family 1 puts 3 to 8 channels in the
// Vorbis order (RFC 7845 5.1.1.2): L C R; L R BL BR; L C R BL BR; L C R BL BR LFE; L C R SL SR BC LFE; L C R SL SR
// BL BR LFE. Mono and stereo (family 0, or 1 with one or two channels), the ambisonics families and the
// application-defined family 255 give no mask.
uint32_t OpusChannelMask(uint32_t mappingFamily, uint32_t channels);

// The samples at 48 kHz one Opus packet decodes to, from its TOC byte (RFC 6716 3.1): the frame size of the
// configuration times the frame count of the code (code 3: the count in the second byte). 0 for an empty packet,
// a code 3 packet without its count byte or one over 120 ms.
uint32_t OpusPacketSamples(Bytes packet);

// The Speex header ("Speex   ", then little-endian 32-bit fields; 80 bytes): the rate, mode, channel count, bit
// rate (-1: not stated), frame size in samples, frames per Ogg packet and the number of extra header packets after
// the comment packet. False for fewer bytes, another magic, a rate or channel count of 0.
struct SpeexHeader {
    uint32_t sampleRate;
    uint32_t mode;  // 0 narrowband, 1 wideband, 2 ultra-wideband
    uint32_t channels;
    int32_t bitrate;
    uint32_t frameSize;
    uint32_t framesPerPacket;
    uint32_t extraHeaders;
};
bool ParseSpeexHeader(Bytes packet, SpeexHeader& out);

// The Theora identification header (packet type 0x80, "theora"; big-endian fields, 42 bytes): version VMAJ.VMIN
// .VREV (3.2.x), the frame size in macroblocks, the picture region inside it, the frame rate FRN/FRD, the pixel
// aspect PARN:PARD (0 when not stated), the nominal bit rate and KFGSHIFT, the bits of a granule position that
// count the frames since the last keyframe. False for another codec, a version other than 3.2, an empty frame or
// a picture larger than the frame.
struct TheoraIdHeader {
    uint32_t versionRevision;  // VREV: from 1 (3.2.1) on, a granule position counts the frame it ends with
    uint32_t pictureWidth;
    uint32_t pictureHeight;
    uint32_t frameRateNumerator;
    uint32_t frameRateDenominator;
    uint32_t pixelAspectNumerator;
    uint32_t pixelAspectDenominator;
    uint32_t nominalBitrate;
    uint32_t keyframeGranuleShift;
};
bool ParseTheoraIdHeader(Bytes packet, TheoraIdHeader& out);

}  // namespace md
