#include "mpeg/m2_demux.h"

#include "mediadetect/records.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "es/audio_headers.h"
#include "es/mpeg_video.h"
#include "es/pes.h"
#include "es/start_code.h"
#include "input/bytes.h"
#include "input/chunk_buffer.h"

namespace md {

namespace {

std::unique_ptr<StreamRecord> NewAudioRecord(uint32_t id, StreamCodec codec, const AudioFormat& format)
{
    auto rec = NewStreamRecord();
    if (!rec)
        return nullptr;
    rec->streamClass = StreamClass::Audio;
    rec->streamId = id;
    rec->codec = codec;
    SetAudioFormat(rec->audio, format);
    return rec;
}

// An MPEG audio record for the frame header at p.
std::unique_ptr<StreamRecord> BuildMpegAudioRecord(const uint8_t* p, uint32_t len, uint32_t id)
{
    auto rec = NewAudioRecord(id, StreamCodec::Mpeg1Audio, AudioFormat{});
    if (!rec || !ReadMpegAudioRecord(p, len, rec->audio))
        return nullptr;
    return rec;
}

// Size of the sub-stream header of a DVD audio sub-stream: sub_stream_id,
// number_of_frame_headers and a 16-bit first_access_unit_pointer.
constexpr uint32_t kSubStreamHeaderSize = 4;
// A frame header is looked for while this many bytes remain.
constexpr uint32_t kMinFrameBytes = 11;

// The channels and speakers of the DTS core frame header at p, in the 16-bit big-endian form DVD sub-streams carry
// (AMODE, LFF and the XCh extension), in place of the fixed six channels. The LFE flag then takes the word AC-3
// records keep lfeon in and the sub-stream id moves to the next one, where AC-3 records keep it. A header of
// another word form or a user-defined AMODE leaves the record as it is.
void ApplyDtsCoreLayout(const uint8_t* p, uint32_t len, uint8_t subStreamId, AudioParams& audio)
{
    DtsCoreHeader core{};
    if (!ParseDtsCoreHeader(p, len, core) || core.channels == 0)
        return;
    audio.channels = core.channels;
    audio.channelMask = core.channelMask;
    audio.codecSpecific[2] = core.lfe;
    audio.codecSpecific[3] = subStreamId;
}

// A record for the private-stream-1 payload at p, whose first byte is the
// sub-stream id: LPCM (0xA0-0xA7), AC-3 (0x80-0x87) or DTS (0x88-0x9F,
// 0xA8-0xFF). Subpictures and the other ids below 0x80 give none.
// dtsLayout (MD_EXT_MORE_CODECS): a DTS record takes its channels from the core header (ApplyDtsCoreLayout).
std::unique_ptr<StreamRecord> BuildPrivateStream1Record(const uint8_t* p, uint32_t len, bool dtsLayout)
{
    if (len == 0)
        return nullptr;
    const uint8_t sub = p[0];
    AudioFormat format{};
    if (sub >= 0xA0 && sub <= 0xA7) {
        if (!ParseLpcmHeader(p, len, format))
            return nullptr;
        auto rec = NewAudioRecord(0xBD, StreamCodec::Lpcm, format);
        if (rec) {
            rec->audio.codecSpecific[0] = 7;
            rec->audio.codecSpecific[1] = sub;
        }
        return rec;
    }
    if (sub >= 0x80 && sub <= 0x87) {
        for (uint32_t i = kSubStreamHeaderSize; Has(len, i, kMinFrameBytes); ++i) {
            if (!IsAc3Sync(p + i))
                continue;
            Ac3Info info{};
            uint32_t frameWords = 0;
            if (!ParseAc3Header(p + i, len - i, format, info, frameWords))
                return nullptr;
            auto rec = NewAudioRecord(0xBD, StreamCodec::Ac3, format);
            if (rec) {
                rec->audio.codecSpecific[0] = info.acmod;
                rec->audio.codecSpecific[1] = kSubStreamHeaderSize;
                rec->audio.codecSpecific[2] = (info.lfeon & 0xFF) | 0x100;  // lfeon, sub-stream header present
                rec->audio.codecSpecific[3] = sub;
                rec->audio.codecSpecific[4] = info.bsid & 0xFF;
            }
            return rec;
        }
        return nullptr;
    }
    if (sub >= 0x88) {
        const uint32_t start = sub <= 0x8F ? kSubStreamHeaderSize : 0;
        for (uint32_t i = start; Has(len, i, kMinFrameBytes); ++i) {
            if (!IsDtsSync(p + i))
                continue;
            DtsInfo info{};
            int64_t frameDuration = 0;
            if (!ParseDtsHeader(p + i, len - i, format, info, frameDuration))
                return nullptr;
            auto rec = NewAudioRecord(0xBD, StreamCodec::Dts, format);
            if (rec) {
                rec->audio.codecSpecific[0] = info.flags & kDtsReversedSync;
                rec->audio.codecSpecific[1] = start;
                rec->audio.codecSpecific[2] = sub;
                if (dtsLayout)
                    ApplyDtsCoreLayout(p + i, len - i, sub, rec->audio);
            }
            return rec;
        }
    }
    return nullptr;
}

}  // namespace

uint32_t M2Demux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_input = input;
    if (input == nullptr) {
        m_stop = 1;
        return 0;
    }
    const uint32_t capacity = ZPMP::ChunkCapacity(*input, kChunkSize);
    ZPMP::ChunkBuffer chunk = ZPMP::NewChunkBuffer(capacity);
    if (!chunk)
        return 0;
    m_aspectOverride = 0;
    // Records go to a scratch list when the caller wants none, so that "already
    // described" is decided the same way in both cases.
    StreamList scratch;
    StreamList& list = streams != nullptr ? *streams : scratch;

    ScanState s;
    for (uint32_t chunks = 0; chunks < kMaxChunks;) {
        const uint64_t got = input->Read(chunk.get(), capacity);
        if (got == 0)
            break;
        ScanChunk(chunk.get(), static_cast<uint32_t>(std::min<uint64_t>(got, capacity)), true, s, list);

        if (++chunks >= kMaxChunks)
            break;
        const bool haveVideo = list.First(StreamClass::Video) != nullptr;
        const bool haveAudio = list.First(StreamClass::Audio) != nullptr;
        if (m_video && !haveVideo)
            continue;
        if (m_audio && !haveAudio)
            continue;
        if (m_video || m_audio)
            break;
    }
    chunk.reset();

    if (s.videoTimeFound && s.audioPtsFound)
        m_startTime = std::min(s.audioPts, m_videoStartTime);
    else if (s.videoTimeFound)
        m_startTime = m_videoStartTime;
    else if (s.audioPtsFound)
        m_startTime = s.audioPts;
    if (s.videoTimeFound || s.audioPtsFound) {
        m_parsed = 1;
        m_parsedFlag = 1;
    }
    if (!m_parsedFlag)
        return 0;
    if (list.First(StreamClass::Audio) == nullptr && list.First(StreamClass::Video) == nullptr)
        return 0;
    m_stop = 0;
    return 1;
}

void M2Demux::ScanChunk(const uint8_t* buffer, uint32_t size, bool fromFile, ScanState& s, StreamList& streams)
{
    uint32_t pos = 0;
    while (Has(size, pos, kScanReserve)) {
        const uint8_t* p = buffer + pos;
        const uint32_t left = size - pos;
        if (!IsStartCodeAt(p, left)) {
            ++pos;
            continue;
        }
        const uint8_t code = p[3];
        if (code == 0xBA) {
            // pack_header: 14 bytes and pack_stuffing_length bytes of stuffing.
            if (!Has(left, 0, 14))
                return;
            const uint32_t n = 14 + (p[13] & 0x07);
            if (n > left)
                return;
            pos += n;
        } else if (code == 0xBB) {
            const uint32_t n = SystemHeaderLength(p, left);
            if (n == kPesNeedMore)
                return;
            if (n != kPesSkipStartCode) {
                // The stream entries say which kinds of stream the multiplex carries.
                for (uint32_t i = 12; Has(n, i, 3); i += 3) {
                    const uint8_t id = p[i];
                    if (id == 0xB8 || id == 0xBD || IsAudioStreamId(id))
                        m_audio = 1;
                    if (id == 0xB9 || IsVideoStreamId(id))
                        m_video = 1;
                }
            }
            pos += n;
        } else if (code == 0xBF && fromFile) {
            ReadNavigationAspect(p, left);
            const uint32_t n = 6 + Be16(p + 4);
            pos += Has(left, 0, n) ? n : 1;
        } else if (code >= 0xBC) {
            PesInfo pes{};
            const uint32_t n = ParseMpeg2PesHeader(p, left, pes);
            if (n == kPesNeedMore)  // the packet runs past the buffer
                return;
            if (n == kPesSkipStartCode) {
                ++pos;
                continue;
            }
            OnPesPacket(p, pes, fromFile, s, streams);
            pos += n;
        } else {
            ++pos;
        }
    }
}

void M2Demux::ReadNavigationAspect(const uint8_t* packet, uint32_t available)
{
    // A DVD-VR real-time data packet: private stream 2 of PES_packet_length 2004
    // whose payload starts with 'P'. The high nibble of byte 29 holds the display
    // aspect ratio of the recording.
    if (!Has(available, 0, 30) || Be16(packet + 4) != 2004 || packet[6] != 0x50)
        return;
    m_aspectOverride = 1;
    switch (packet[29] >> 4) {
    case 0:
        m_overrideX = 4;
        m_overrideY = 3;
        break;
    case 1: case 2: case 11: case 13:
        m_overrideX = 16;
        m_overrideY = 9;
        break;
    case 4: case 6: case 7: case 8:
        m_overrideX = 14;
        m_overrideY = 9;
        break;
    default:
        break;
    }
}

void M2Demux::OnPesPacket(const uint8_t* packet, const PesInfo& pes, bool fromFile, ScanState& s,
                          StreamList& streams)
{
    const uint32_t id = packet[3];
    const uint8_t* data = packet + pes.payloadOffset;
    uint32_t length = pes.packetLength - pes.payloadOffset;

    if (IsVideoStreamId(id)) {
        m_video = 1;
        if (fromFile && m_carryCount > 0 && m_carry) {
            // Complete the sequence header the previous video packet began.
            const uint32_t take = std::min(length, kCarrySize - m_carryCount);
            std::memcpy(m_carry.get() + m_carryCount, data, take);
            data = m_carry.get();
            length = m_carryCount + take;
            m_carryCount = 0;
        }
        uint32_t at = 0;
        if (m_mpeg4) {
            at = FindAnyCode(data, length);
        } else {
            // One pass finds the first sequence_header_code (B3) or vop_start_code (B6);
            // past a B3 the rest is searched for a B6 only. A B6 anywhere makes the stream
            // MPEG-4, whose packets are taken from their first start code of any kind.
            at = FindCodeIf(data, length, [](uint8_t c) { return c == 0xB3 || c == 0xB6; });
            if (at < length &&
                (data[at + 3] == 0xB6 || FindCode(data + at + 1, length - at - 1, 0xB6) < length - at - 1)) {
                m_mpeg4 = 1;
                at = FindAnyCode(data, length);
            }
        }
        if (at >= length)
            return;
        data += at;
        length -= at;
    } else if (IsAudioStreamId(id)) {
        m_audio = 1;
        const uint32_t at = FindMpegAudioSync(data, length);
        if (at >= length)
            return;
        data += at;
        length -= at;
    }
    if (streams.Contains(id))
        return;

    std::unique_ptr<StreamRecord> rec;
    if (IsVideoStreamId(id)) {
        rec = BuildVideoRecord(data, length, id, fromFile);
        if (!rec)
            return;
        m_video = 1;
        if (fromFile) {
            // The first picture in display order: in a closed GOP (or without a
            // GOP header) the pictures before the first coded one are decodable,
            // so step back by its temporal_reference; the leading pictures of an
            // open GOP are dropped at the start of a stream.
            const int64_t frameTicks = rec->frameRate > 0 ? static_cast<int64_t>(90000.0 / rec->frameRate) : 0;
            uint8_t closedGop = 0;
            uint8_t brokenLink = 0;
            uint32_t temporalReference = 0;
            if (!ReadGopFlags(data, length, closedGop, brokenLink) || closedGop) {
                if (!ReadTemporalReference(data, length, temporalReference))
                    temporalReference = 0;
            }
            // A malformed PTS field (-1) counts as none.
            const int64_t pts = pes.ptsPresent && pes.pts >= 0 ? pes.pts : 0;
            m_videoStartTime = pts - static_cast<int64_t>(temporalReference) * frameTicks;
            s.videoTimeFound = true;

            // MPEG-1/2 video: the sequence-level and picture-level headers up to the
            // first slice. MPEG-4 Visual keeps its configuration headers: its
            // start codes do not follow the MPEG-1/2 unit layout (a video object
            // layer code lies in the slice range).
            if (!m_mpeg4) {
                CollectHeaders(data, length, rec->extraData1, rec->extraData1Length, rec->extraData2,
                               rec->extraData2Length, kModeMpegVideo);
                RewriteStoredAspect(*rec);
            }
        }
    } else {
        if (IsAudioStreamId(id)) {
            rec = BuildMpegAudioRecord(data, length, id);
            if (rec)
                m_audio = 1;
        } else if (IsPrivateStream1(id)) {
            rec = BuildPrivateStream1Record(data, length, (m_extensions & MD_EXT_MORE_CODECS) != 0);
        }
        if (!rec)
            return;
        if (fromFile && pes.ptsPresent && pes.pts >= 0 && (!s.audioPtsFound || pes.pts < s.audioPts)) {
            s.audioPts = pes.pts;
            s.audioPtsFound = true;
        }
    }
    streams.Append(std::move(rec));
}

std::unique_ptr<StreamRecord> M2Demux::BuildVideoRecord(const uint8_t* header, uint32_t length, uint32_t id,
                                                        bool useCarry)
{
    const uint8_t* p = header;
    uint32_t len = length;
    if (!FindStartCode(p, len) || !IsStartCodeAt(p, len))
        return nullptr;
    if (!m_mpeg4 && p[3] != 0xB3)
        return nullptr;
    if (len < 12)
        return nullptr;

    auto info = std::unique_ptr<SequenceHeaderInfo>(new (std::nothrow) SequenceHeaderInfo());
    if (!info)
        return nullptr;
    uint8_t progressive = 1;
    uint8_t encoderMarker = 0;
    uint32_t displayWidth = 0;
    uint32_t displayHeight = 0;
    if (m_mpeg4) {
        if (!ParseVolHeader(p, len, *info))
            return nullptr;
    } else {
        if (!ParseSequenceHeader(p, len, *info, kAspectMpeg2)) {
            // Cut short by the end of the packet: keep the bytes so the next
            // video packet can complete the header.
            const uint32_t need = SequenceHeaderLength(p, len);
            if (useCarry && (need == 0 || len < need))
                KeepForNextPacket(p, len);
            return nullptr;
        }
        const uint32_t headerLength = static_cast<uint32_t>(info->headerLength);
        const uint8_t* ext = p + headerLength;
        uint32_t extLen = len - headerLength;
        if (!FindStartCode(ext, extLen) || !IsStartCodeAt(ext, extLen))
            return nullptr;
        if (ext[3] != 0xB5) {
            m_noExtension = 1;
        } else if (!m_noExtension) {
            if (!ReadDisplaySize(p, len, displayWidth, displayHeight)) {
                displayWidth = 0;
                displayHeight = 0;
            }
            ReadProgressiveSequence(ext, extLen, progressive);
            if (extLen < 14 || (ext[4] >> 4) != 1)  // sequence_extension
                return nullptr;
            ApplySequenceExtension(ext, extLen, *info, (m_extensions & MD_EXT_FRAME_RATES) != 0);
            FindEncoderMarker(p, len, encoderMarker);
        }
    }

    auto rec = NewStreamRecord();
    if (!rec)
        return nullptr;
    rec->streamClass = StreamClass::Video;
    rec->streamId = id;
    rec->codec = m_mpeg4 ? StreamCodec::Mpeg4Video : m_noExtension ? StreamCodec::Mpeg1Video : StreamCodec::Mpeg2Video;
    ApplySequenceHeader(*info, *rec);
    if (m_mpeg4) {
        // The configuration headers run from the first start code up to the
        // first group_of_VOP or VOP.
        const int32_t n = info->headerLength;
        if (n > 0 && static_cast<uint32_t>(n) <= len && static_cast<uint32_t>(n) <= kExtraDataSize) {
            rec->extraData1Length = n;
            std::memcpy(rec->extraData1, p, static_cast<uint32_t>(n));
        }
    } else {
        rec->extraData1Length = info->headerLength;
        std::memcpy(rec->extraData1, info->header, static_cast<uint32_t>(info->headerLength));
    }
    rec->progressive = (m_mpeg4 || m_noExtension) ? 1 : progressive;
    rec->encoderMarker = m_mpeg4 || m_noExtension ? 0 : encoderMarker;

    uint32_t& x = rec->video.aspectX;
    uint32_t& y = rec->video.aspectY;
    if (m_aspectOverride) {
        x = m_overrideX;
        y = m_overrideY;
    } else if (x == 1 && y == 1) {
        AspectFromSampleAspect(x, y, rec->video.width, rec->video.height);
    }
    // A sequence display extension that shows part of the coded picture: the
    // ratio of the whole coded picture follows from the two sizes.
    AspectFromDisplaySize(x, y, rec->video.width, rec->video.height, displayWidth, displayHeight);
    RewriteStoredAspect(*rec);
    return rec;
}

void M2Demux::KeepForNextPacket(const uint8_t* bytes, uint32_t length)
{
    if (!m_carry) {
        m_carry.reset(new (std::nothrow) uint8_t[kCarrySize]());
        if (!m_carry)
            return;
    }
    const uint32_t n = std::min(length, kCarrySize);
    // The bytes may already lie in the carry buffer (a joined header that is
    // still short).
    std::memmove(m_carry.get(), bytes, n);
    m_carryCount = n;
}

void M2Demux::RewriteStoredAspect(StreamRecord& rec) const
{
    // Make the stored sequence header agree with the navigation packet's aspect:
    // aspect_ratio_information is masked with 3 for 16:9 and with 2 otherwise;
    // frame_rate_code stays.
    if (!m_aspectOverride || rec.extraData1Length < 9)
        return;
    uint8_t* h = rec.extraData1;
    if (!IsStartCode(h, 0xB3))
        return;
    const uint8_t mask = (m_overrideX == 16 && m_overrideY == 9) ? 3 : 2;
    h[7] = static_cast<uint8_t>(((h[7] >> 4) & mask) << 4 | (h[7] & 0x0F));
}

uint32_t M2Demux::ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* stop)
{
    uint32_t pos = 0;
    while (buffer != nullptr && !m_stop && length - pos > 16) {
        const uint8_t* p = buffer + pos;
        const uint32_t left = length - pos;
        const uint32_t code = Be32(p);
        if (code == 0x000001BA) {
            if (!Has(left, 0, 14))
                break;
            const uint32_t n = 14 + (p[13] & 0x07);
            if (n > left)
                break;
            // A clock that went back (or restarted at 0) starts a new time base:
            // later PTS values are moved past the old one.
            const auto scr = static_cast<int64_t>(ReadMpeg2Scr27MHz(p));
            if ((scr == 0 && m_lastScr != 0) || scr < m_lastScr) {
                m_timeOffset += m_lastScr / 300;
                m_discontinuityPending = 1;
                m_stop = 1;
            }
            m_lastScr = scr;
            pos += n;
        } else if (code == 0x000001BB) {
            const uint32_t n = SystemHeaderLength(p, left);
            if (n == kPesNeedMore)
                break;
            pos += n;
        } else if (code >= 0x000001BC && code <= 0x000001FF) {
            PesInfo pes{};
            const uint32_t n = ParseMpeg2PesHeader(p, left, pes);
            if (n == kPesNeedMore)
                break;
            if (n == kPesSkipStartCode) {
                pos += kPesSkipStartCode;
                continue;
            }
            PacketRecord rec{};
            rec.ptsPresent = pes.ptsPresent;
            // A malformed PTS field stays -1.
            rec.pts = pes.ptsPresent && pes.pts >= 0 ? pes.pts + m_timeOffset : pes.pts;
            rec.streamId = p[3];
            rec.subStreamId = p[3] == 0xBD && pes.payloadOffset < pes.packetLength ? p[pes.payloadOffset] : 0;
            rec.packet = p;
            rec.packetLength = pes.packetLength;
            rec.payloadOffset = pes.payloadOffset;
            rec.discontinuity = m_discontinuityPending;
            m_discontinuityPending = 0;
            if (packets != nullptr)
                packets->Append(rec);
            pos += n;
        } else {
            ++pos;
        }
    }
    if (stop != nullptr)
        *stop = m_stop;
    return pos;
}

uint32_t M2Demux::ParseBuffer(const uint8_t* buffer, uint32_t length, StreamList* streams)
{
    StreamList scratch;
    StreamList& list = streams != nullptr ? *streams : scratch;
    if (buffer != nullptr && length >= kScanReserve) {
        ScanState s;
        ScanChunk(buffer, length, false, s, list);
    }
    const bool haveVideo = list.First(StreamClass::Video) != nullptr;
    const bool haveAudio = list.First(StreamClass::Audio) != nullptr;
    uint32_t result = 1;
    if (m_video)
        result = haveVideo && (!m_audio || haveAudio) ? 1 : 0;
    else if (m_audio)
        result = haveAudio ? 1 : 0;
    if (result == 1)
        m_stop = 0;
    return result;
}

void M2Demux::Reset(int64_t startTime)
{
    m_lastScr = 0;
    m_discontinuityPending = 0;
    m_timeOffset = startTime * 9 / 1000;
}

bool M2Demux::HasContainerAspect() { return m_aspectOverride != 0; }

}  // namespace md
