// Builders of the stream records of a transport stream: the description of a
// video PID from the headers held from its first PES payloads, and of an audio
// PID from two consecutive packet payloads, by MPEG-2 stream_type. TSDemux feeds
// them packet by packet (HandleVideoPacket, HandleAudioPacket).
#pragma once

#include <cstdint>

#include "demux/stream_record.h"
#include "ts/ts_packet.h"

namespace md {

// The StreamCodec a stream_type is described with; false for types that never
// get a record (0x01, MPEG-1 video, and every type not classed as audio/video).
// The types only extensions class (0x10, 0x24, 0x82, 0x87, kTsOpusStreamType) have their codec too.
bool TsStreamCodec(uint32_t streamType, bool mpeg1, StreamCodec& codec);

// Whether the bytes hold the sequence-level header a video record starts from:
// HasSequenceHeader's, and with extensions a VOL start code (0x10, MPEG-4
// Visual, MD_EXT_MORE_CODECS) or a VPS or SPS NAL unit (0x24, HEVC, MD_EXT_TS_CODECS).
bool HasTsSequenceHeader(const uint8_t* p, uint32_t length, uint32_t streamType, uint32_t extensions);

enum class TsVideoBuild {
    Built,     // the record is filled
    Rejected,  // the held bytes give no record; they will not give one later
    NoMemory,  // an allocation failed; the same bytes may be tried again
};

// Fills a zero-filled video record from the held bytes of a video PID of
// stream_type 2 (MPEG-1/2 video), 0x1B (H.264) or 0x20 (MVC): the sequence-level
// and picture-level headers (extra-data 1 and 2), the picture parameters, the
// progressive flag, the encoder marker and the field coding. headersFound is set
// when the headers were collected; mpeg1 is set when no extension start code
// follows an MPEG sequence header, and selects codec 0 from then on. allProfiles
// (MD_EXT_H264_PROFILES): H.264 sequence parameter sets of every profile are read,
// and an interlaced stream's record states the field its first picture outputs
// first (fieldOrder, H264FirstFieldOrder). With
// MD_EXT_MORE_CODECS in extensions, stream_type 0x10 (MPEG-4 Visual) is
// described from its video object layer header; with MD_EXT_TS_CODECS, stream_type
// 0x24 (HEVC) from its parameter sets and first picture timing SEI.
TsVideoBuild BuildTsVideoRecord(const uint8_t* held, uint32_t length, uint32_t streamType, uint32_t pid,
                                uint8_t& mpeg1, uint8_t& headersFound, StreamRecord& record, bool allProfiles = false,
                                uint32_t extensions = 0);

// Describes an audio PID from buffer (the previous and the current payload of
// the PID) by its stream_type. The 0x85, 0x86 and 0xA2 types are described (with
// fixed values) only when a registration_descriptor was seen. frameDuration
// receives the audio frame duration (100-ns units) when the format gives one.
// With frameChecks an MPEG audio header counts only when the next one stands
// where its frame length says (or the bytes end first), and ADTS frames found so
// make the stream AAC whatever its stream_type says. extensions (MD_EXT_* bits):
// with MD_EXT_TS_CODECS stream_type 0x87 is E-AC-3, described from its first
// independent syncframe; with MD_EXT_MORE_CODECS stream_type 0x82, and 0x85 and
// 0x86 without a registration_descriptor, are DTS where a core frame header is found, with the header's speakers
// (channelMask) and LFE flag (third codec-specific word) where it comes in the 16-bit big-endian form; with
// MD_EXT_TS_CODECS kTsOpusStreamType is Opus where an access unit's control header is found, with the channels and
// speakers of opusLayout (the PMT's Opus audio descriptor) and the unit's duration.
// Null when no record can be made from these bytes.
std::unique_ptr<StreamRecord> BuildTsAudioRecord(const uint8_t* buffer, uint32_t length, uint32_t streamType,
                                                 bool registration, uint32_t pid, int64_t& frameDuration,
                                                 bool frameChecks = false, uint32_t extensions = 0,
                                                 const TsOpusLayout& opusLayout = {});

}  // namespace md
