#include "mpeg/system_decoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "es/audio_headers.h"
#include "es/pes.h"
#include "es/start_code.h"
#include "input/bytes.h"

namespace md {

namespace {

constexpr uint32_t kMaxPacketSize = 6 + 65535;

// 90 kHz ticks to 100-ns units, truncating.
int64_t TicksTo100ns(int64_t ticks) { return ticks * 10000 / 90; }

bool IsSystemCode(uint32_t code)
{
    return code == 0x1BA || code == 0x1B9 || code == 0x1BB || (code >= 0x1BC && code <= 0x1FF);
}

constexpr int32_t kMpegAudioSampleRates[3] = {44100, 48000, 32000};
// Header bits a locked frame may change: protection_bit (16), padding_bit (9),
// private_bit (8), copyright, original/copy and emphasis (3..0).
constexpr uint32_t kLockMask = ~(uint32_t(1) << 16 | uint32_t(1) << 9 | uint32_t(1) << 8 | 0x0Fu);

}  // namespace

int64_t Ac3FrameDuration(uint32_t bytesPerSecond, uint32_t frameWords)
{
    return frameWords == 0 ? 0 : int64_t(bytesPerSecond) * 10240 / (2 * int64_t(frameWords));
}

int64_t Ac3SyncframeDuration(uint32_t sampleRate)
{
    constexpr int64_t kSamplesPerSyncframe = 6 * 256;
    return sampleRate == 0 ? 0 : (kSamplesPerSyncframe * 10000000 + sampleRate / 2) / sampleRate;
}

// ---- CMpegMuxDec -------------------------------------------------------------------

CMpegMuxDec::CMpegMuxDec(int32_t capacity) : m_capacity(capacity)
{
    m_packet.reset(new (std::nothrow) uint8_t[kMaxPacketSize]);
}

CMpegMuxDec::~CMpegMuxDec() = default;

void CMpegMuxDec::BeginStream()
{
    m_state = kStateSearching;
    for (auto& slot : m_audio)
        slot = StreamSlot{};
    for (auto& slot : m_video)
        slot = StreamSlot{};
    m_audioQueuePosition = 0;
    m_videoQueuePosition = 0;
    m_audioCoding.fill(kAudioCodingNone);
    m_subStreams.fill(SubStreamRecord{});
    m_currentAudio = -1;
    m_currentVideo = -1;
    m_unit.reset(new (std::nothrow) RingBuffer(m_capacity));
    m_unitOffset = 0;
    m_takenCount = 0;
    m_takenIndex = -1;
    m_takenVideo = false;
    m_locked = false;
    m_lockedHeader = 0;
    m_lockedFrameSize = 0;
    m_lpcmUnitSize = 0;
    m_ac3UnitSize = 0;
    m_ac3TimeStep = 0;
    m_dtsUnitSize = 0;
    m_dtsTimeStep = 0;
    m_ac3Settled = false;
    m_dtsSettled = false;
    m_input.reset(new (std::nothrow) RingBuffer(m_capacity));
}

void CMpegMuxDec::SetTrace(uint32_t flag) { m_trace = flag; }

void CMpegMuxDec::Trace(const char* format, ...)
{
    if (m_trace == 0 || format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void CMpegMuxDec::EndStream()
{
    for (auto& slot : m_audio)
        slot.buffer.reset();
    for (auto& slot : m_video)
        slot.buffer.reset();
    m_input.reset();
}

uint32_t CMpegMuxDec::Feed(const uint8_t* bytes, uint32_t count)
{
    if (!m_input || m_input->Capacity() < 2 || !m_packet || bytes == nullptr)
        return 0;
    uint32_t result = 0;
    while (count > 0) {
        // Keep the fill below the capacity. Input that cannot be placed means the
        // machine has been waiting for bytes that never complete a packet: drop
        // what is held and look for the next pack.
        uint32_t room = static_cast<uint32_t>(m_input->Capacity() - 1) - m_input->Count();
        if (room == 0) {
            Trace("input buffer full: %u bytes dropped\n", m_input->Count());
            m_input->Clear();
            if (m_state != kStateProgramEnd)
                m_state = kStateSearching;
            room = static_cast<uint32_t>(m_input->Capacity() - 1);
        }
        const uint32_t piece = std::min(count, room);
        m_input->Write(bytes, piece);
        bytes += piece;
        count -= piece;

        // Run the handlers while they make progress.
        for (;;) {
            switch (m_state) {
            case kStateSearching: {
                const int32_t code = NextStartCode();
                result = code < 0 ? 0 : 1;
                if (code == 0x1BA)
                    m_state = kStatePackHeader;
                break;
            }
            case kStateDispatch: {
                const int32_t code = NextStartCode();
                result = code < 0 ? 0 : 1;
                if (code >= 0)
                    Dispatch(code);
                break;
            }
            case kStatePackHeader:
                result = ParsePackHeader();
                break;
            case kStateSystemHeader:
                result = ParseSystemHeader();
                break;
            case kStatePacket:
                result = ParsePacket();
                break;
            default:  // program end: bytes are only appended until the next BeginStream
                result = 0;
                break;
            }
            if (result != 1)
                break;
        }
    }
    return result;
}

void CMpegMuxDec::Dispatch(int32_t code)
{
    switch (code) {
    case 0x1BA:
        m_state = kStatePackHeader;
        return;
    case 0x1B9:
        m_state = kStateProgramEnd;
        return;
    case 0x1BB:
        m_state = kStateSystemHeader;
        return;
    default:
        break;
    }
    uint8_t id = static_cast<uint8_t>(code & 0xFF);
    bool remapped = false;
    if (m_remap) {
        if (IsAudioStreamId(id) && id == m_remapAudioId) {
            id = 0xC0;
            remapped = true;
        } else if (IsVideoStreamId(id) && id == m_remapVideoId) {
            id = 0xE0;
            remapped = true;
        }
    }
    m_packetId = id;
    m_packetRemapped = remapped;
    m_state = kStatePacket;
}

int32_t CMpegMuxDec::NextStartCode()
{
    if (!m_input)
        return -1;
    for (;;) {
        m_input->SkipToStartCode();
        uint8_t code[4];
        if (m_input->Peek(code, 4) < 4)
            return -1;
        const uint32_t value = Be32(code);
        if ((value >> 8) == 1 && IsSystemCode(value)) {
            SkipInput(4);
            return static_cast<int32_t>(value);
        }
        SkipInput(1);
    }
}

void CMpegMuxDec::SkipInput(uint32_t n)
{
    uint8_t scratch[256];
    while (n > 0) {
        const uint32_t got = m_input->Read(scratch, std::min<uint32_t>(n, sizeof scratch));
        if (got == 0)
            return;
        n -= got;
    }
}

uint32_t CMpegMuxDec::ParseSystemHeader()
{
    uint8_t h[8] = {};
    if (!m_input || m_input->Peek(h, 2) < 2)
        return 0;
    const uint32_t length = 2 + Be16(h);  // header_length and the bytes it counts
    if (m_input->Count() < length)
        return 0;
    m_input->Peek(h, sizeof h);
    // rate_bound, audio_bound and video_bound; nothing of the header is kept.
    const uint32_t rateBound = uint32_t(h[2] & 0x7F) << 15 | uint32_t(h[3]) << 7 | uint32_t(h[4] >> 1);
    Trace("system header: rate_bound %u, audio_bound %u, video_bound %u\n", rateBound, h[5] >> 2, h[6] & 0x1Fu);
    SkipInput(length);
    m_state = kStateDispatch;
    return 1;
}

uint32_t CMpegMuxDec::ParsePacket()
{
    uint8_t lengthField[2];
    if (!m_input || !m_packet || m_input->Peek(lengthField, 2) < 2)
        return 0;
    const uint32_t length = Be16(lengthField);  // PES_packet_length
    // The packet and the start code after it must be there.
    if (m_input->Count() < length + 6)
        return 0;
    m_input->Mark();
    uint8_t* packet = m_packet.get();
    packet[0] = 0;
    packet[1] = 0;
    packet[2] = 1;
    packet[3] = m_packetId;
    m_input->Read(packet + 4, length + 2);
    const int32_t next = NextStartCode();
    if (next < 0) {
        m_input->Rewind();
        return 0;
    }
    m_state = kStateDispatch;
    DecodePacket(packet, length + 6, m_packetId, m_packetRemapped);
    if (m_state == kStateDispatch)
        Dispatch(next);
    return 1;
}

void CMpegMuxDec::QueueTime(StreamSlot& slot, int32_t& position, int64_t time, bool remapped)
{
    TimeEntry& entry = slot.queue[static_cast<size_t>(std::min(position, kTimeQueueSize - 1))];
    entry.time = time;
    entry.count = slot.buffer ? slot.buffer->Count() : 0;
    entry.remapped = remapped ? 1 : 0;
    position = std::min(position + 1, kTimeQueueSize);
}

RingBuffer* CMpegMuxDec::StreamBuffer(StreamSlot& slot)
{
    if (!slot.buffer) {
        slot.buffer.reset(new (std::nothrow) RingBuffer(m_capacity));
        if (slot.buffer && slot.buffer->Capacity() < 2)
            slot.buffer.reset();
    }
    return slot.buffer.get();
}

void CMpegMuxDec::AppendPayload(StreamSlot& slot, const uint8_t* bytes, uint32_t count)
{
    RingBuffer* buffer = StreamBuffer(slot);
    if (buffer == nullptr || count == 0)
        return;
    if (uint64_t(buffer->Count()) + count >= uint64_t(buffer->Capacity())) {
        Trace("stream buffer full: %u bytes dropped\n", count);
        return;
    }
    buffer->Write(bytes, count);
}

uint32_t CMpegMuxDec::TakeAudio(int32_t index, std::span<uint8_t> destination)
{
    if (index < 0 || index >= kAudioStreams)
        return 0;
    return Take(&m_audio[static_cast<size_t>(index)], index, false, destination);
}

uint32_t CMpegMuxDec::TakeVideo(int32_t index, std::span<uint8_t> destination)
{
    if (index < 0 || index >= kVideoStreams)
        return 0;
    return Take(&m_video[static_cast<size_t>(index)], index, true, destination);
}

uint32_t CMpegMuxDec::Take(StreamSlot* slot, int32_t index, bool video, std::span<uint8_t> destination)
{
    if (!m_unit)
        return 0;
    if (!slot->buffer || slot->buffer->Count() == 0) {
        // Nothing taken: NextUnit has nothing to walk, and must not walk the
        // bytes of an earlier take again.
        m_unit->Clear();
        m_takenIndex = -1;
        return 0;
    }
    const uint32_t n = slot->buffer->Read(destination.data(), destination.size());
    slot->buffer->Clear();
    m_unit->Clear();
    m_unit->Write(destination.data(), n);
    m_unitOffset = 0;
    m_takenCount = n;
    m_takenIndex = index;
    m_takenVideo = video;
    return n;
}

int64_t CMpegMuxDec::TimeAt(StreamSlot& slot, int32_t position, bool markUsed) const
{
    for (int32_t k = std::min(position, kTimeQueueSize) - 1; k >= 0; --k) {
        TimeEntry& entry = slot.queue[static_cast<size_t>(k)];
        if (entry.count <= m_unitOffset) {
            const int64_t time = entry.time;
            if (markUsed)
                entry.time = -1;
            return time;
        }
    }
    return -1;
}

void CMpegMuxDec::CarryLatestEntry(StreamSlot& slot, int32_t& position)
{
    if (position <= 0)
        return;
    TimeEntry latest = slot.queue[static_cast<size_t>(std::min(position, kTimeQueueSize) - 1)];
    latest.count = 0;
    slot.queue.fill(TimeEntry{});
    slot.queue[0] = latest;
    position = 1;
}

uint32_t CMpegMuxDec::NextUnit(MuxUnitInfo& unit)
{
    unit = MuxUnitInfo{};
    unit.time = -1;
    if (!m_unit || m_takenIndex < 0)
        return 0;
    if (m_takenVideo)
        return NextVideoUnit(unit);
    switch (m_audioCoding[static_cast<size_t>(m_takenIndex)]) {
    case kAudioCodingMpeg:
        return NextMpegAudioUnit(unit);
    case kAudioCodingAc3:
    case kAudioCodingLpcm:
    case kAudioCodingDts:
        return NextFixedAudioUnit(unit);
    default:
        return 0;
    }
}

uint32_t CMpegMuxDec::NextVideoUnit(MuxUnitInfo& unit)
{
    StreamSlot& slot = m_video[static_cast<size_t>(m_takenIndex)];
    for (;;) {
        m_unitOffset += m_unit->SkipToStartCode();
        uint8_t code[4];
        if (m_unit->Peek(code, 4) < 4)
            break;
        const uint32_t value = Be32(code);
        uint32_t type = kUnitNone;
        if ((value >> 8) == 1) {
            if (m_mpeg4Video) {
                if (value == 0x1B6)
                    type = kUnitVop;
                else if (value >= 0x120 && value <= 0x12F)
                    type = kUnitVol;
            } else if (value == 0x1B3) {
                type = kUnitSequenceHeader;
            } else if (value == 0x1B8) {
                type = kUnitGop;
            } else if (value == 0x100) {
                type = kUnitPicture;
            } else if (value == 0x1B7) {
                type = kUnitSequenceEnd;
            }
        }
        if (type == kUnitNone) {
            m_unit->Read(code, 1);
            ++m_unitOffset;
            continue;
        }
        m_unit->Read(code, 4);
        uint32_t consumed = 4;
        if (type == kUnitPicture) {
            // temporal_reference (10 bits), picture_coding_type (3 bits)
            uint8_t fields[2] = {};
            consumed += m_unit->Read(fields, 2);
            unit.pictureCodingType = fields[1] >> 3 & 0x07;
        }
        const bool handOut = type == kUnitPicture || type == kUnitVop || type == kUnitVol;
        unit.type = type;
        unit.offset = m_unitOffset;
        unit.time = TimeAt(slot, m_videoQueuePosition, handOut);
        for (int32_t k = 0; k < std::min(m_videoQueuePosition, kTimeQueueSize); ++k) {
            const TimeEntry& entry = slot.queue[static_cast<size_t>(k)];
            if (entry.count <= m_unitOffset) {
                unit.remapped = entry.remapped;
                break;
            }
        }
        m_unitOffset += consumed;
        return 1;
    }
    CarryLatestEntry(slot, m_videoQueuePosition);
    return 0;
}

bool CMpegMuxDec::CountsAsMpegAudioFrame(uint32_t h)
{
    if ((h & 0xFFF00000u) != 0xFFF00000u)  // syncword
        return false;
    if (m_locked)
        return (h & kLockMask) == m_lockedHeader;
    const int32_t layer = 4 - static_cast<int32_t>(h >> 17 & 0x03);
    const uint32_t bitRateIndex = h >> 12 & 0x0F;
    const uint32_t sampleIndex = h >> 10 & 0x03;
    if (layer >= 4 || bitRateIndex >= 15 || sampleIndex >= 3)
        return false;
    const int32_t samplesPerFrame = layer == 1 ? 384 : 1152;
    const auto bitRate = static_cast<int32_t>(MpegAudioBitRate(static_cast<uint32_t>(layer - 1), bitRateIndex));
    const int32_t sampleRate = kMpegAudioSampleRates[sampleIndex];
    if ((m_firstLayer != -1 && m_firstLayer != layer) ||
        (m_firstSamplesPerFrame != -1 && m_firstSamplesPerFrame != samplesPerFrame) ||
        (m_firstBitRate != -1 && m_firstBitRate != bitRate) ||
        (m_firstSampleRate != -1 && m_firstSampleRate != sampleRate))
        return false;
    if (bitRate != 0 && sampleRate != 0) {
        m_locked = true;
        m_lockedHeader = h & kLockMask;
        m_lockedFrameSize = layer == 1 ? 4 * (12 * bitRate / sampleRate) : 144 * bitRate / sampleRate;
    }
    if (m_firstLayer == -1)
        m_firstLayer = layer;
    if (m_firstSamplesPerFrame == -1)
        m_firstSamplesPerFrame = samplesPerFrame;
    if (m_firstBitRate == -1)
        m_firstBitRate = bitRate;
    if (m_firstSampleRate == -1)
        m_firstSampleRate = sampleRate;
    return true;
}

uint32_t CMpegMuxDec::NextMpegAudioUnit(MuxUnitInfo& unit)
{
    StreamSlot& slot = m_audio[static_cast<size_t>(m_takenIndex)];
    for (;;) {
        m_unitOffset += m_unit->SkipToByte(0xFF);
        uint8_t header[4];
        if (m_unit->Peek(header, 4) < 4)
            break;
        if (!CountsAsMpegAudioFrame(Be32(header))) {
            m_unit->Read(header, 1);
            ++m_unitOffset;
            continue;
        }
        m_unit->Read(header, 2);
        unit.type = kUnitAudioFrame;
        unit.offset = m_unitOffset;
        unit.time = TimeAt(slot, m_audioQueuePosition, true);
        m_unitOffset += 2;
        return 1;
    }
    CarryLatestEntry(slot, m_audioQueuePosition);
    return 0;
}

uint32_t CMpegMuxDec::NextFixedAudioUnit(MuxUnitInfo& unit)
{
    StreamSlot& slot = m_audio[static_cast<size_t>(m_takenIndex)];
    const int32_t position = std::min(m_audioQueuePosition, kTimeQueueSize);
    if (position <= 0 || slot.queue[static_cast<size_t>(position - 1)].time < 0)
        return 0;
    TimeEntry& latest = slot.queue[static_cast<size_t>(position - 1)];
    SubStreamRecord* record = nullptr;
    if (m_takenIndex < static_cast<int32_t>(m_subStreams.size()))
        record = &m_subStreams[static_cast<size_t>(m_takenIndex)];
    const int32_t offset = record != nullptr ? std::max(record->unitOffset, 0) : 0;
    unit.type = kUnitAudioFrame;
    unit.offset = static_cast<uint32_t>(offset);
    unit.time = latest.time;

    int32_t step = 0;
    int64_t timeStep = 0;
    switch (m_audioCoding[static_cast<size_t>(m_takenIndex)]) {
    case kAudioCodingLpcm:
        step = m_lpcmUnitSize;
        timeStep = 16666;  // 1/600 s of sound per unit
        break;
    case kAudioCodingAc3:
        step = m_ac3UnitSize;
        timeStep = m_ac3TimeStep;
        break;
    default:
        step = m_dtsUnitSize;
        timeStep = m_dtsTimeStep;
        break;
    }
    // framesLeft counts the announced frames from this unit on; the default walk
    // goes on to one frame past them.
    const int32_t lastFrame = m_subStreamTiming ? 1 : 0;
    if (step > 0 && record != nullptr && record->framesLeft > lastFrame &&
        int64_t(m_takenCount) > int64_t(offset) + step) {
        record->unitOffset = offset + step;
        --record->framesLeft;
        latest.time += timeStep;
    } else {
        latest.time = -1;
        m_audioQueuePosition = 0;
        if (record != nullptr)
            record->fresh = true;
    }
    return 1;
}

int32_t CMpegMuxDec::FirstVideoStream()
{
    for (int32_t i = 0; i < kVideoStreams; ++i)
        if (m_video[static_cast<size_t>(i)].buffer)
            return i;
    return -1;
}

int32_t CMpegMuxDec::CurrentAudioStream() { return m_currentAudio; }

int32_t CMpegMuxDec::AudioUnitSize()
{
    if (m_currentAudio < 0)
        return -1;
    int32_t size = 0;
    switch (m_audioCoding[static_cast<size_t>(m_currentAudio)]) {
    case kAudioCodingMpeg:
        size = m_locked ? m_lockedFrameSize : 0;
        break;
    case kAudioCodingLpcm:
        size = m_lpcmUnitSize;
        break;
    case kAudioCodingAc3:
        size = m_ac3UnitSize;
        break;
    case kAudioCodingDts:
        size = m_dtsUnitSize;
        break;
    default:
        break;
    }
    return size > 0 ? size : -1;
}

void CMpegMuxDec::SetStreamRemap(bool on) { m_remap = on; }
void CMpegMuxDec::SetVideoStreamId(uint32_t id) { m_remapVideoId = id; }
void CMpegMuxDec::SetAudioStreamIds(uint32_t id, uint32_t subStreamId)
{
    m_remapAudioId = id;
    m_remapSubStreamId = subStreamId;
}

int32_t CMpegMuxDec::AudioCodingOf(int32_t index) const
{
    return index >= 0 && index < kAudioStreams ? m_audioCoding[static_cast<size_t>(index)] : kAudioCodingNone;
}

// ---- MPEG1SystemDec_c ----------------------------------------------------------------

uint32_t MPEG1SystemDec_c::ParsePackHeader()
{
    // '0010' SCR (5 bytes with markers), mux_rate (3 bytes)
    uint8_t h[8];
    if (m_input->Peek(h, sizeof h) < sizeof h)
        return 0;
    if ((h[0] & 0xF0) != 0x20) {
        m_state = kStateSearching;
        return 1;
    }
    const uint32_t muxRate = uint32_t(h[5] & 0x7F) << 15 | uint32_t(h[6]) << 7 | uint32_t(h[7] >> 1);
    Trace("pack: SCR %lld, mux_rate %u\n", static_cast<long long>(ReadTimestamp33(h)), muxRate);
    SkipInput(sizeof h);
    m_state = kStateDispatch;
    return 1;
}

void MPEG1SystemDec_c::DecodePacket(const uint8_t* p, uint32_t size, uint8_t id, bool remapped)
{
    if (id == 0xBF || id < 0xC0 || id > 0xEF)
        return;
    uint32_t i = 6;
    while (i < size && (p[i] & 0x80) != 0)  // stuffing_byte
        ++i;
    if (i < size && (p[i] & 0xC0) == 0x40)  // '01' STD_buffer_scale STD_buffer_size
        i += 2;
    if (i >= size)
        return;
    int64_t time = -1;
    const uint8_t marker = p[i] >> 4;
    if (marker == 0x2 || marker == 0x3) {  // '0010' PTS, '0011' PTS DTS
        if (Has(size, i, 5))
            time = TicksTo100ns(static_cast<int64_t>(ReadTimestamp33(p + i)));
        i += marker == 0x2 ? 5 : 10;
    } else {
        ++i;  // 0x0F
    }
    i = std::min(i, size);

    const bool video = IsVideoStreamId(id);
    const int32_t index = video ? id - 0xE0 : id - 0xC0;
    StreamSlot& slot = video ? m_video[static_cast<size_t>(index)] : m_audio[static_cast<size_t>(index)];
    if (StreamBuffer(slot) == nullptr)
        return;
    if (video) {
        m_currentVideo = index;
    } else {
        m_currentAudio = index;
        m_audioCoding[static_cast<size_t>(index)] = kAudioCodingMpeg;
    }
    if (time >= 0)
        QueueTime(slot, video ? m_videoQueuePosition : m_audioQueuePosition, time, remapped);
    AppendPayload(slot, p + i, size - i);
}

// ---- MPEG2SystemDec_c ----------------------------------------------------------------

uint32_t MPEG2SystemDec_c::ParsePackHeader()
{
    // '01' SCR (6 bytes), program_mux_rate (3 bytes), pack_stuffing_length (byte 9)
    uint8_t h[10];
    if (m_input->Peek(h, sizeof h) < sizeof h)
        return 0;
    if ((h[0] & 0xC0) != 0x40) {
        m_state = kStateSearching;
        return 1;
    }
    const uint32_t stuffing = h[9] & 0x07;
    if (m_input->Count() < 14 + stuffing)
        return 0;
    const uint32_t muxRate = uint32_t(h[6]) << 14 | uint32_t(h[7]) << 6 | uint32_t(h[8] >> 2);
    Trace("pack: program_mux_rate %u\n", muxRate);
    SkipInput(10 + stuffing);
    m_state = kStateDispatch;
    return 1;
}

void MPEG2SystemDec_c::DecodePacket(const uint8_t* p, uint32_t size, uint8_t id, bool remapped)
{
    if (HasNoPesHeaderExtension(id))
        return;  // no PES header, nothing kept
    if (size < 9 || (p[6] & 0xC0) != 0x80) {
        m_state = kStateSearching;
        return;
    }
    const uint32_t ptsDtsFlags = p[7] >> 6;
    int64_t time = -1;
    if ((ptsDtsFlags == 2 || ptsDtsFlags == 3) && Has(size, 9, 5))
        time = TicksTo100ns(static_cast<int64_t>(ReadTimestamp33(p + 9)));
    // ESCR, ES_rate, trick mode, copy info, CRC and extension are inside
    // PES_header_data_length.
    const uint32_t payload = std::min<uint32_t>(9 + p[8], size);

    if (IsVideoStreamId(id)) {
        const int32_t index = id - 0xE0;
        StreamSlot& slot = m_video[static_cast<size_t>(index)];
        if (StreamBuffer(slot) == nullptr)
            return;
        m_currentVideo = index;
        if (time >= 0)
            QueueTime(slot, m_videoQueuePosition, time, remapped);
        AppendPayload(slot, p + payload, size - payload);
        return;
    }
    if (IsAudioStreamId(id)) {
        const int32_t index = id - 0xC0;
        StreamSlot& slot = m_audio[static_cast<size_t>(index)];
        if (StreamBuffer(slot) == nullptr)
            return;
        m_currentAudio = index;
        m_audioCoding[static_cast<size_t>(index)] = kAudioCodingMpeg;
        if (time >= 0)
            QueueTime(slot, m_audioQueuePosition, time, remapped);
        AppendPayload(slot, p + payload, size - payload);
        return;
    }
    if (IsPrivateStream1(id)) {
        // The sub-stream id follows the header, so by default the time goes to
        // the stream of the audio packet before this one.
        if (time >= 0 && m_currentAudio >= 0 && !m_subStreamTiming)
            QueueTime(m_audio[static_cast<size_t>(m_currentAudio)], m_audioQueuePosition, time, false);
        DecodePrivateStream1(p + payload, size - payload, time);
    }
}

void MPEG2SystemDec_c::DecodePrivateStream1(const uint8_t* payload, uint32_t size, int64_t time)
{
    if (size == 0)
        return;
    uint32_t sub = payload[0];
    if (m_remap && sub == m_remapSubStreamId) {
        if (sub >= 0x80 && sub <= 0x87)
            sub = 0x80;
        else if (sub >= 0xA0 && sub <= 0xA8)
            sub = 0xA0;
    }
    int32_t index = 0;
    int32_t coding = kAudioCodingNone;
    uint32_t headerSize = 4;  // sub_stream_id, number_of_frame_headers, first_access_unit_pointer
    if (sub >= 0x80 && sub <= 0x87) {
        index = static_cast<int32_t>(sub - 0x80);
        coding = kAudioCodingAc3;
    } else if (sub >= 0xA0 && sub <= 0xA8) {
        index = static_cast<int32_t>(sub - 0xA0);
        coding = kAudioCodingLpcm;
        headerSize = 7;  // and emphasis/mute/frame, quantisation/rate/channels, dynamic range
    } else if (sub == 0x88) {
        index = 0;
        coding = kAudioCodingDts;
    } else {
        return;  // subpictures and other sub-streams are not kept
    }
    StreamSlot& slot = m_audio[static_cast<size_t>(index)];
    if (StreamBuffer(slot) == nullptr)
        return;
    m_audioCoding[static_cast<size_t>(index)] = coding;
    m_currentAudio = index;

    if (index < static_cast<int32_t>(m_subStreams.size())) {
        SubStreamRecord& record = m_subStreams[static_cast<size_t>(index)];
        const int32_t frames = size > 1 ? payload[1] : 0;
        if (record.fresh) {
            const int32_t pointer = static_cast<int32_t>(Be16At(Bytes(payload, size), 2));
            record.framesLeft = frames;
            if (coding == kAudioCodingLpcm)
                record.unitOffset = pointer <= 3 ? 3 : pointer - 4;
            else
                record.unitOffset = pointer - 1;
            record.fresh = false;
        } else {
            record.framesLeft += frames;
        }
    }

    // The time of the sub-stream's bytes from here on.
    if (m_subStreamTiming && time >= 0)
        QueueTime(slot, m_audioQueuePosition, time, false);

    const uint8_t* body = payload + std::min(headerSize, size);
    const uint32_t bodySize = size - std::min(headerSize, size);
    if (coding == kAudioCodingLpcm && size > 5) {
        const uint8_t format = payload[5];
        static constexpr int32_t kBits[4] = {16, 20, 24, 0};
        const int32_t bits = kBits[format >> 6];
        const uint32_t rateCode = format >> 4 & 0x03;
        const int32_t channels = (format & 0x07) + 1;
        if (bits != 0 && rateCode <= 1)
            m_lpcmUnitSize = channels * bits * (rateCode == 0 ? 80 : 160) / 8;
    } else if (coding == kAudioCodingAc3 && !m_ac3Settled && size >= 7) {
        m_ac3Settled = true;
        for (uint32_t i = 0; Has(bodySize, i, 11); ++i) {
            if (!IsAc3Sync(body + i))
                continue;
            AudioFormat format{};
            Ac3Info info{};
            uint32_t frameWords = 0;
            if (ParseAc3Header(body + i, bodySize - i, format, info, frameWords)) {
                m_ac3UnitSize = static_cast<int32_t>(2 * frameWords);
                m_ac3TimeStep = m_subStreamTiming ? Ac3SyncframeDuration(format.sampleRate)
                                                  : Ac3FrameDuration(format.bytesPerSecond, frameWords);
            }
            break;
        }
    } else if (coding == kAudioCodingDts && !m_dtsSettled && size >= 7) {
        m_dtsSettled = true;
        for (uint32_t i = 0; Has(bodySize, i, 11); ++i) {
            if (!IsDtsSync(body + i))
                continue;
            AudioFormat format{};
            DtsInfo info{};
            int64_t duration = 0;
            if (ParseDtsHeader(body + i, bodySize - i, format, info, duration))
                m_dtsTimeStep = duration;
            break;
        }
    }
    AppendPayload(slot, body, bodySize);
}

}  // namespace md
