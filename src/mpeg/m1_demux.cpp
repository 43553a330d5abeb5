#include "mpeg/m1_demux.h"

#include "mediadetect/records.h"

#include <cstring>
#include <memory>
#include <new>

#include "es/audio_headers.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "input/bytes.h"
#include "input/chunk_buffer.h"

namespace md {

struct M1Demux::ScanState {
    bool videoTimeFound = false;
    bool audioPtsFound = false;
    bool videoSeen = false;
    bool audioSeen = false;
    uint32_t videoId = 0;  // 0 until a video packet with a sequence header was met
    uint32_t audioId = 0;  // 0 until an audio packet with a frame sync was met
    int64_t videoTime = 0;   // video start time, lowered by any smaller video PTS
    int64_t audioStart = 0;  // smallest audio PTS
    double frameRate = kDefaultFrameRate;
};

namespace {

// An MPEG audio record for the frame header at p.
std::unique_ptr<StreamRecord> BuildAudioRecord(const uint8_t* p, uint32_t len, uint32_t id)
{
    auto rec = NewStreamRecord();
    if (!rec || !ReadMpegAudioRecord(p, len, rec->audio))
        return nullptr;
    rec->streamClass = StreamClass::Audio;
    rec->streamId = id;
    rec->codec = StreamCodec::Mpeg1Audio;
    return rec;
}

// A sequence header that a sequence_extension follows is MPEG-2 video, which ffmpeg's "mpeg" muxer also writes in
// MPEG-1 packs: its display aspect, rates and progressive_sequence (MD_EXT_MORE_CODECS; the base rules read every
// sequence header of a system stream as MPEG-1). Null for an MPEG-1 sequence header.
std::unique_ptr<StreamRecord> BuildMpeg2VideoRecord(const uint8_t* h, uint32_t len, uint32_t id)
{
    auto rec = NewStreamRecord();
    if (!rec || !DescribeMpegVideo(h, len, *rec) || rec->codec != StreamCodec::Mpeg2Video)
        return nullptr;
    rec->streamClass = StreamClass::Video;
    rec->streamId = id;
    return rec;
}

}  // namespace

std::unique_ptr<StreamRecord> BuildMpeg1VideoRecord(const uint8_t* h, uint32_t len, uint32_t id)
{
    auto info = std::unique_ptr<SequenceHeaderInfo>(new (std::nothrow) SequenceHeaderInfo());
    if (!info || !ParseSequenceHeader(h, len, *info, kAspectMpeg1))
        return nullptr;
    auto rec = NewStreamRecord();
    if (!rec)
        return nullptr;
    rec->streamClass = StreamClass::Video;
    rec->streamId = id;
    rec->codec = StreamCodec::Mpeg1Video;
    ApplySequenceHeader(*info, *rec);
    const uint32_t headerLength = static_cast<uint32_t>(info->headerLength);  // 12, 76 or 140
    rec->extraData1Length = info->headerLength;
    std::memcpy(rec->extraData1, info->header, headerLength);
    rec->progressive = 1;
    rec->encoderMarker = 0;

    // The parser gives width : height x pel aspect. A pair that is not wider
    // than high is snapped through the picture size instead.
    uint32_t& x = rec->video.aspectX;
    uint32_t& y = rec->video.aspectY;
    if (y != 0 && x <= y)
        AspectFromSampleAspect(x, y, rec->video.width, rec->video.height);
    return rec;
}

uint32_t M1Demux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_input = input;
    if (input == nullptr)
        return 0;
    const uint32_t capacity = ZPMP::ChunkCapacity(*input, kChunkSize);
    ZPMP::ChunkBuffer chunk = ZPMP::NewChunkBuffer(capacity);
    if (!chunk)
        return 0;
    // Records go to a scratch list when the caller wants none, so that "already
    // described" is decided the same way in both cases.
    StreamList scratch;
    StreamList& list = streams != nullptr ? *streams : scratch;

    ScanState s;
    for (uint32_t chunks = 0;;) {
        const uint64_t got = input->Read(chunk.get(), capacity);
        if (got == 0)
            return 0;
        ScanChunk(chunk.get(), static_cast<uint32_t>(got < capacity ? got : capacity), s, list);

        if (++chunks >= kMaxChunks)
            break;
        if (s.videoSeen && s.videoId == 0)
            continue;
        if (s.audioSeen && s.audioId == 0)
            continue;
        if (s.videoSeen || s.audioSeen)
            break;
    }

    if (s.videoTimeFound && s.audioPtsFound)
        m_startTime = s.videoTime < s.audioStart ? s.videoTime : s.audioStart;
    else if (s.videoTimeFound)
        m_startTime = s.videoTime;
    else if (s.audioPtsFound)
        m_startTime = s.audioStart;
    else
        return m_parsedOnce;
    m_parsed = 1;
    m_parsedOnce = 1;
    return 1;
}

void M1Demux::ScanChunk(const uint8_t* chunk, uint32_t size, ScanState& s, StreamList& streams)
{
    uint32_t pos = 0;
    while (Has(size, pos, kScanReserve)) {
        const uint8_t* p = chunk + pos;
        const uint32_t left = size - pos;
        if (!IsStartCodeAt(p, left)) {
            ++pos;
            continue;
        }
        const uint8_t code = p[3];
        if (code == 0xBA) {  // pack_start_code: the MPEG-1 pack header is 12 bytes
            pos += 12;
        } else if (code == 0xBB) {  // system_header_start_code
            const uint32_t n = SystemHeaderLength(p, left);
            if (n == kPesNeedMore)
                return;
            pos += n;
        } else if (code >= 0xBC) {
            PesInfo pes{};
            const uint32_t n = ParseMpeg1PesHeader(p, left, pes);
            if (n == kPesNeedMore)  // the packet runs past the chunk
                return;
            if (n != kPesSkipStartCode) {
                if (IsAudioStreamId(code))
                    OnAudioPacket(p, code, pes, s, streams);
                else if (IsVideoStreamId(code))
                    OnVideoPacket(p, left, code, pes, s, streams);
            }
            pos += n;
        } else {
            ++pos;
        }
    }
}

void M1Demux::OnAudioPacket(const uint8_t* packet, uint32_t id, const PesInfo& pes, ScanState& s,
                            StreamList& streams)
{
    s.audioSeen = true;
    // A malformed PTS field (-1) counts as none.
    if (pes.ptsPresent && pes.pts >= 0 && (!s.audioPtsFound || pes.pts < s.audioStart)) {
        s.audioStart = pes.pts;
        s.audioPtsFound = true;
    }
    if (m_audioDescribed)
        return;
    const uint8_t* payload = packet + pes.payloadOffset;
    const uint32_t payloadLength = pes.packetLength - pes.payloadOffset;
    const uint32_t sync = FindMpegAudioSync(payload, payloadLength);
    if (sync >= payloadLength)
        return;
    s.audioId = id;
    if (streams.Contains(StreamClass::Audio, id))
        return;
    auto rec = BuildAudioRecord(payload + sync, payloadLength - sync, id);
    if (!rec)
        return;
    streams.Append(std::move(rec));
    m_audioDescribed = 1;
}

void M1Demux::OnVideoPacket(const uint8_t* packet, uint32_t available, uint32_t id, const PesInfo& pes,
                            ScanState& s, StreamList& streams)
{
    s.videoSeen = true;
    const uint8_t* payload = packet + pes.payloadOffset;
    const uint32_t payloadLength = pes.packetLength - pes.payloadOffset;
    if (!m_videoDescribed) {
        const uint32_t seq = FindCode(payload, payloadLength, 0xB3);
        if (seq >= payloadLength)
            return;
        s.videoId = id;
        if (!streams.Contains(StreamClass::Video, id)) {
            // The sequence header and the headers after it may run on past this
            // packet: the parsers get the rest of the chunk.
            const uint8_t* header = payload + seq;
            const uint32_t rest = available - pes.payloadOffset - seq;
            std::unique_ptr<StreamRecord> rec;
            if ((m_extensions & MD_EXT_MORE_CODECS) != 0)
                rec = BuildMpeg2VideoRecord(header, rest, id);
            if (!rec)
                rec = BuildMpeg1VideoRecord(header, rest, id);
            if (rec) {
                CollectHeaders(header, rest, rec->extraData1, rec->extraData1Length, rec->extraData2,
                               rec->extraData2Length, kModeMpegVideo);
                s.frameRate = rec->frameRate;
                streams.Append(std::move(rec));
                m_videoDescribed = 1;
            }
        }
    }

    if (!pes.ptsPresent || pes.pts < 0)
        return;
    if (s.videoTimeFound) {
        if (pes.pts < s.videoTime)
            s.videoTime = pes.pts;
        return;
    }
    const int64_t frameTicks = s.frameRate > 0 ? static_cast<int64_t>(90000.0 / s.frameRate) : kDefaultFrameTicks;
    // In a closed GOP (or without a GOP header) the pictures displayed before the
    // first coded one are decodable: step back by its temporal_reference. An open
    // GOP's leading pictures are dropped at the start of a stream.
    uint8_t closedGop = 0;
    uint8_t brokenLink = 0;
    uint32_t temporalReference = 0;
    if (!ReadGopFlags(payload, payloadLength, closedGop, brokenLink) || closedGop) {
        if (!ReadTemporalReference(payload, payloadLength, temporalReference))
            temporalReference = 0;
    }
    m_videoStartTime = pes.pts - static_cast<int64_t>(temporalReference) * frameTicks;
    s.videoTimeFound = true;
    s.videoTime = m_videoStartTime;
}

uint32_t M1Demux::ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* /*stop*/)
{
    if (buffer == nullptr)
        return 0;
    uint32_t pos = 0;
    while (length - pos > 16) {
        const uint8_t* p = buffer + pos;
        const uint32_t left = length - pos;
        const uint32_t code = Be32(p);
        if (code == 0x000001BA) {
            m_systemHeader = 0;
            pos += 12;
        } else if (code == 0x000001BB) {
            m_systemHeader = 1;
            const uint32_t n = SystemHeaderLength(p, left);
            if (n == kPesNeedMore)
                break;
            pos += n;
        } else if (code >= 0x000001BC && code <= 0x000001FF) {
            m_systemHeader = 0;
            PesInfo pes{};
            const uint32_t n = ParseMpeg1PesHeader(p, left, pes);
            if (n == kPesNeedMore)
                break;
            if (n != kPesSkipStartCode && packets != nullptr) {
                PacketRecord rec{};
                rec.ptsPresent = pes.ptsPresent;
                rec.pts = pes.pts;
                rec.streamId = p[3];
                rec.subStreamId = 0;
                rec.packet = p;
                rec.packetLength = pes.packetLength;
                rec.payloadOffset = pes.payloadOffset;
                rec.discontinuity = 0;
                packets->Append(rec);
            }
            pos += n;
        } else {
            ++pos;
        }
    }
    return pos;
}

uint32_t M1Demux::ParseBuffer(const uint8_t* /*buffer*/, uint32_t /*length*/, StreamList* /*streams*/) { return 1; }

void M1Demux::Reset(int64_t /*startTime*/) {}

bool M1Demux::HasContainerAspect() { return false; }

}  // namespace md
