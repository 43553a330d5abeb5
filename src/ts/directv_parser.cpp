#include "ts/directv_parser.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "es/audio_headers.h"
#include "es/mpeg_video.h"
#include "es/pes.h"
#include "es/start_code.h"
#include "input/bytes.h"
#include "input/chunk_buffer.h"
#include "ts/ts_packet.h"

namespace md {

namespace {

// Packet header, byte 0: framing toggle (bit 7), start flag (bit 6), clear flag
// (bit 5, payload not scrambled), control flag (bit 4), SCID bits 11..8.
// Byte 1: SCID bits 7..0. Byte 2: packet type in bits 3..0.
constexpr uint32_t kHeaderSize = 3;
constexpr uint8_t kFramingBit = 0x80;
constexpr uint8_t kStartFlag = 0x40;
constexpr uint8_t kClearFlag = 0x20;
constexpr uint8_t kControlFlag = 0x10;
constexpr uint32_t kAuxiliaryType = 0;
constexpr uint32_t kType6 = 6;  // handled like a start packet by the stream walks

uint32_t PacketScid(const uint8_t* p) { return uint32_t(p[0] & 0x0F) << 8 | p[1]; }
uint32_t PacketType(const uint8_t* p) { return p[2] & 0x0F; }
bool IsStart(const uint8_t* p) { return (p[0] & kStartFlag) != 0; }
bool IsClear(const uint8_t* p) { return (p[0] & kClearFlag) != 0; }
bool IsControl(const uint8_t* p) { return (p[0] & kControlFlag) != 0; }

// The program table's pointer field may skip at most this many payload bytes.
constexpr uint32_t kMaxPointer = 114;
// Program map section: 12 bytes up to the program descriptors, a 4-byte CRC_32
// after the entries (not checked).
constexpr uint32_t kSectionHeaderSize = 12;
constexpr uint32_t kCrcSize = 4;
constexpr uint8_t kLanguageDescriptorTag = 10;  // ISO_639_language_descriptor
constexpr uint8_t kDescriptorTag87 = 0x87;

uint8_t MapStreamType(uint8_t raw)
{
    switch (raw) {
    case 0x02: case 0xC2: return CDirecTVParser::kTypeMpeg2Video;
    case 0x03: case 0xC3: return CDirecTVParser::kTypeMpegAudio;
    case 0x0F: case 0xCF: return CDirecTVParser::kTypeAac;
    case 0x1B: case 0xCB: return CDirecTVParser::kTypeH264;
    case 0x80: case 0xC0: return CDirecTVParser::kTypeLpcm;
    case 0x81: case 0xC1: return CDirecTVParser::kTypeAc3;
    default: return CDirecTVParser::kTypeOther;
    }
}

bool IsVideoType(uint8_t type) { return type == CDirecTVParser::kTypeMpeg2Video || type == CDirecTVParser::kTypeH264; }
bool IsAudioType(uint8_t type)
{
    return type == CDirecTVParser::kTypeMpegAudio || type == CDirecTVParser::kTypeAc3 ||
           type == CDirecTVParser::kTypeAac || type == CDirecTVParser::kTypeLpcm;
}

// The PES stream_ids whose headers give times: video takes 0xE0 and the user
// data id 0xB2, audio takes MPEG audio 0xC0 and private stream 1 (0xBD).
bool AcceptsStreamId(uint8_t id, bool video)
{
    return video ? (id == 0xE0 || id == 0xB2) : (id == 0xC0 || id == 0xBD);
}

enum class PesTime { NeedMore, None, Found };

// The time a PES header assembled so far gives. h starts at the 00 of the start
// code; n bytes are there.
PesTime ReadPesTime(const uint8_t* h, uint32_t n, int64_t& time)
{
    const uint8_t id = h[3];
    if (id == 0xB2) {
        // User data: byte 5 = 2 and byte 6 < 4 announce a 32-bit time in bytes
        // 6..10, the two low parts behind a marker bit each.
        if (n < 7)
            return PesTime::NeedMore;
        if (h[5] != 2 || h[6] >= 4)
            return PesTime::None;
        if (n < 11)
            return PesTime::NeedMore;
        time = int64_t(uint32_t(h[6]) << 30 | uint32_t(Be16(h + 7) & 0x7FFF) << 15 | (Be16(h + 9) & 0x7FFF));
        return PesTime::Found;
    }
    if (id == 0xC0) {
        // MPEG-1 packet syntax: a PTS right after PES_packet_length.
        if (n < 7)
            return PesTime::NeedMore;
        if ((h[6] >> 4) != 0x2)
            return PesTime::None;
        if (n < 11)
            return PesTime::NeedMore;
        time = ReadPts(h + 6, 5);
        return time < 0 ? PesTime::None : PesTime::Found;
    }
    // 0xE0 and 0xBD: MPEG-2 PES header.
    if (n < 7)
        return PesTime::NeedMore;
    if ((h[6] & 0xC0) != 0x80)
        return PesTime::None;
    // Video PES packets are unbounded (PES_packet_length 0) and unscrambled
    // (the high bit of PES_scrambling_control clear).
    if (id == 0xE0 && (Be16(h + 4) != 0 || (h[6] & 0x20) != 0))
        return PesTime::None;
    if (n < 8)
        return PesTime::NeedMore;
    // ESCR_flag, DSM_trick_mode_flag and PES_CRC_flag must be clear for video.
    if (id == 0xE0 && (h[7] & 0x2A) != 0)
        return PesTime::None;
    const uint32_t ptsDtsFlags = h[7] >> 6;
    if (ptsDtsFlags < 2)
        return PesTime::None;
    if (n < 10)
        return PesTime::NeedMore;
    if ((h[9] >> 4) != ptsDtsFlags)  // '0010' before a lone PTS, '0011' before PTS and DTS
        return PesTime::None;
    if (n < 14)
        return PesTime::NeedMore;
    time = ReadPts(h + 9, 5);
    return time < 0 ? PesTime::None : PesTime::Found;
}

// The alignment: the first offset below length - 1040 where the framing bit
// of nine successive packets alternates; -1 when there is none.
int64_t FindAlignment(const uint8_t* buffer, uint32_t length)
{
    if (length <= CDirecTVParser::kAlignmentSpan)
        return -1;
    for (uint32_t i = 0; i < length - CDirecTVParser::kAlignmentSpan; ++i) {
        bool alternates = true;
        for (uint32_t k = 1; k <= 8 && alternates; ++k) {
            const uint8_t previous = buffer[i + (k - 1) * CDirecTVParser::kPacketSize] & kFramingBit;
            const uint8_t current = buffer[i + k * CDirecTVParser::kPacketSize] & kFramingBit;
            alternates = previous != current;
        }
        if (alternates)
            return i;
    }
    return -1;
}


int64_t To100ns(int64_t ticks90kHz) { return ticks90kHz < 0 ? -1 : ticks90kHz * 1000 / 9; }

}  // namespace

CDirecTVParser::CDirecTVParser() { Reset(0); }

void CDirecTVParser::Reset(int64_t)
{
    m_input = nullptr;
    m_timeReferenceFlag = 0;
    m_timeReference = 0;
    m_table = {};
    m_entryCount = 0;
    m_videoScid = -1;
    m_audioScid = -1;
    m_alignment = -1;
    m_videoSynced = false;
    m_audioDescribed = false;
    m_videoRecord.reset();
    m_audioRecord.reset();
    m_videoFirstTime = m_videoLastTime = -1;
    m_audioFirstTime = m_audioLastTime = -1;
    m_video = PayloadState{};
    m_audio = PayloadState{};
    m_section = {};
    m_sectionFill = 0;
    m_sectionBegun = false;
    m_videoFrameDuration = -1;
    m_audioFrameDuration = -1;
}

uint32_t CDirecTVParser::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_input = input;
    m_alignment = -1;
    if (input == nullptr)
        return 0;
    const uint32_t capacity = ZPMP::ChunkCapacity(*input, kChunkSize);
    ZPMP::ChunkBuffer buffer = ZPMP::NewChunkBuffer(capacity);
    if (!buffer)
        return 0;

    const uint32_t firstLength = ZPMP::ReadFully(*input, buffer.get(), capacity);
    if (firstLength == 0)
        return 0;
    m_alignment = FindAlignment(buffer.get(), firstLength);
    if (m_alignment < 0)
        return 0;
    const auto start = static_cast<uint32_t>(m_alignment);
    WalkPackets(buffer.get() + start, firstLength - start);

    // The last chunk of the file; a file shorter than a chunk was read whole.
    const uint64_t size = input->Size();
    if (size >= kChunkSize && input->Seek(size - kChunkSize) == 0) {
        const uint32_t lastLength = ZPMP::ReadFully(*input, buffer.get(), kChunkSize);
        if (lastLength > 0) {
            const int64_t alignment = FindAlignment(buffer.get(), lastLength);
            uint32_t from = 0;
            if (alignment >= 0)
                from = static_cast<uint32_t>(alignment);
            else if (lastLength > kAlignmentSpan)
                from = lastLength - kAlignmentSpan;
            WalkPackets(buffer.get() + from, lastLength - from);
        }
    }

    if (streams != nullptr) {
        if (m_selectedVideoScid < 0) {
            m_videoFrameDuration = -1;
            m_videoFirstTime = m_videoLastTime = -1;
        } else if (m_videoSynced && m_videoRecord) {
            auto copy = NewStreamRecord();
            if (copy) {
                *copy = *m_videoRecord;
                streams->Append(std::move(copy));
            }
        }
        if (m_selectedAudioScid < 0) {
            m_audioFrameDuration = -1;
            m_audioFirstTime = m_audioLastTime = -1;
        } else if (m_audioDescribed && m_audioRecord) {
            auto copy = NewStreamRecord();
            if (copy) {
                *copy = *m_audioRecord;
                streams->Append(std::move(copy));
            }
        }
    }
    return 1;
}

void CDirecTVParser::WalkPackets(const uint8_t* buffer, uint32_t length)
{
    // The chunks of one Parse are not contiguous: nothing straddles them.
    m_video.carryLength = m_video.pesFill = 0;
    m_audio.carryLength = m_audio.pesFill = 0;
    m_sectionFill = 0;
    m_sectionBegun = false;
    for (uint32_t pos = 0; Has(length, pos, kPacketSize); pos += kPacketSize)
        if (!HandlePacket(buffer + pos))
            break;
}

bool CDirecTVParser::HandlePacket(const uint8_t* packet)
{
    const uint32_t scid = PacketScid(packet);
    if (scid == kTableScid) {
        HandleTablePacket(packet);
        return true;
    }
    const int32_t index = FindEntryIndex(scid);
    if (index >= 0)
        ++m_table[static_cast<uint32_t>(index)].packetCount;
    else if (m_entryCount >= kMaxTableEntries)
        return false;  // the SCID lies beyond the last table entry there is room for

    if (m_selectedVideoScid >= 0)
        m_videoScid = m_selectedVideoScid;
    if (m_selectedAudioScid >= 0)
        m_audioScid = m_selectedAudioScid;

    // Auxiliary time-reference packet: byte 3 = 11 000011, byte 4 = 0x7D, and
    // with byte 5 = 0 the 32-bit time reference in bytes 6..9.
    if (PacketType(packet) == kAuxiliaryType && packet[3] == 0xC3 && packet[4] == 0x7D) {
        m_timeReferenceFlag = 1;
        if (packet[5] == 0)
            m_timeReference = Be32(packet + 6);
    }

    if (int32_t(scid) == m_videoScid)
        HandleVideoPacket(packet);
    if (int32_t(scid) == m_audioScid)
        HandleAudioPacket(packet);
    return true;
}

void CDirecTVParser::HandleTablePacket(const uint8_t* packet)
{
    if (!IsClear(packet) || IsControl(packet))
        return;
    const uint8_t* payload = packet + kHeaderSize;
    if (IsStart(packet)) {
        const uint32_t pointer = payload[0];
        if (pointer > kMaxPointer)
            return;
        m_sectionFill = kPayloadSize - 1 - pointer;
        std::memcpy(m_section.data(), payload + 1 + pointer, m_sectionFill);
        m_sectionBegun = true;
    } else {
        if (!m_sectionBegun)
            return;
        if (m_sectionFill + kPayloadSize > kSectionSize) {
            m_sectionBegun = false;
            m_sectionFill = 0;
            return;
        }
        std::memcpy(m_section.data() + m_sectionFill, payload, kPayloadSize);
        m_sectionFill += kPayloadSize;
    }
    if (m_sectionFill < 3)
        return;
    const uint32_t total = 3 + (Be16(m_section.data() + 1) & 0x0FFF);  // section_length
    if (m_sectionFill < total)
        return;
    ParseSection(m_section.data(), total);
    m_sectionBegun = false;
    m_sectionFill = 0;
}

bool CDirecTVParser::ParseSection(const uint8_t* s, uint32_t length)
{
    if (length < kSectionHeaderSize + kCrcSize)
        return false;
    const uint32_t entriesEnd = length - kCrcSize;
    const uint32_t programInfoEnd = kSectionHeaderSize + (Be16(s + 10) & 0x0FFF);  // program_info_length
    if (programInfoEnd > entriesEnd)
        return false;

    // Program descriptors. The transport engine's descriptor reader takes a
    // 0x87 descriptor; one that runs past the program info fails the section.
    for (uint32_t pos = kSectionHeaderSize; pos + 2 <= programInfoEnd;) {
        const uint8_t tag = s[pos];
        const uint32_t size = 2 + uint32_t(s[pos + 1]);
        if (!Has(programInfoEnd, pos, size)) {
            if (tag == kDescriptorTag87)
                return false;
            break;
        }
        if (tag == kDescriptorTag87) {
            uint32_t streamType = 0;
            uint8_t registration = 0;
            ParseEsDescriptors(s + pos, size, streamType, registration);
        }
        pos += size;
    }

    std::array<TableEntry, kMaxTableEntries> table{};
    uint32_t count = 0;
    int32_t videoScid = -1;
    int32_t audioScid = -1;
    for (uint32_t pos = programInfoEnd; Has(entriesEnd, pos, 5);) {
        const uint8_t type = MapStreamType(s[pos]);
        const uint32_t scid = Be16(s + pos + 1) & 0x1FFF;
        const uint32_t infoLength = Be16(s + pos + 3) & 0x0FFF;  // ES_info_length
        const uint32_t descriptorsEnd = std::min(pos + 5 + infoLength, entriesEnd);
        uint32_t language = 0;
        for (uint32_t d = pos + 5; d + 2 <= descriptorsEnd; d += 2 + uint32_t(s[d + 1])) {
            if (s[d] == kLanguageDescriptorTag && s[d + 1] >= 3 && Has(descriptorsEnd, d + 2, 3)) {
                language = uint32_t(s[d + 2]) << 24 | uint32_t(s[d + 3]) << 16 | uint32_t(s[d + 4]) << 8;
                break;
            }
        }
        if (count < kMaxTableEntries) {
            table[count] = TableEntry{scid, 0, type, IsVideoType(type) ? 1u : 0u, language};
            ++count;
            if (videoScid < 0 && IsVideoType(type))
                videoScid = int32_t(scid);
            if (audioScid < 0 && IsAudioType(type))
                audioScid = int32_t(scid);
        }
        pos += 5 + infoLength;
    }

    m_table = table;
    m_entryCount = count;
    m_videoScid = videoScid;
    m_audioScid = audioScid;
    return true;
}

uint32_t CDirecTVParser::ComposeView(const uint8_t* packet, const PayloadState& state, View& view)
{
    const uint32_t begin = kHeaderSize - state.carryLength;
    std::memcpy(view.data() + begin, state.carry.data(), state.carryLength);
    std::memcpy(view.data() + kHeaderSize, packet + kHeaderSize, kPayloadSize);
    return begin;
}

void CDirecTVParser::UpdateCarry(PayloadState& state, const View& view, bool pesStart)
{
    if (pesStart) {
        state.carryLength = 0;
        return;
    }
    std::memcpy(state.carry.data(), view.data() + kPacketSize - 3, 3);
    state.carryLength = 3;
}

void CDirecTVParser::HandleVideoPacket(const uint8_t* packet)
{
    if (!IsClear(packet) || (!IsStart(packet) && PacketType(packet) != kType6))
        return;
    View view{};
    const uint32_t begin = ComposeView(packet, m_video, view);
    if (!m_videoSynced && GetStreamType(uint32_t(m_videoScid)) == kTypeMpeg2Video) {
        for (uint32_t i = NextStartCode(view.data(), kPacketSize, begin); i < kPacketSize;
             i = NextStartCode(view.data(), kPacketSize, i + 1)) {
            if (view[i + 3] == 0xB3 && TryVideoRecord(view.data() + i, kPacketSize - i))
                break;
        }
    }
    const bool pesStart = CollectPesTimes(m_video, view, begin, true);
    UpdateCarry(m_video, view, pesStart);
}

void CDirecTVParser::HandleAudioPacket(const uint8_t* packet)
{
    if (!IsClear(packet) || (!IsStart(packet) && PacketType(packet) != kType6))
        return;
    View view{};
    const uint32_t begin = ComposeView(packet, m_audio, view);
    const bool pesStart = CollectPesTimes(m_audio, view, begin, false);
    const int32_t type = GetStreamType(uint32_t(m_audioScid));
    if (!m_audioDescribed && (type == kTypeMpegAudio || type == kTypeAc3)) {
        for (uint32_t i = begin; i < kPacketSize; ++i)
            if (TryAudioRecord(view.data() + i, kPacketSize - i, type))
                break;
    }
    UpdateCarry(m_audio, view, pesStart);
}

bool CDirecTVParser::CollectPesTimes(PayloadState& state, const View& view, uint32_t begin, bool video)
{
    int64_t time = -1;
    if (state.pesFill > 0) {
        // A header begun in an earlier packet goes on with this payload.
        const uint32_t take = std::min(kPayloadSize, kPesHeaderSize - state.pesFill);
        std::memcpy(state.pes.data() + state.pesFill, view.data() + kHeaderSize, take);
        state.pesFill += take;
        const PesTime result = ReadPesTime(state.pes.data(), state.pesFill, time);
        if (result == PesTime::Found)
            NoteTime(time, video);
        if (result != PesTime::NeedMore || state.pesFill == kPesHeaderSize)
            state.pesFill = 0;
        return true;
    }

    bool found = false;
    for (uint32_t i = NextStartCode(view.data(), kPacketSize, begin); i < kPacketSize;
         i = NextStartCode(view.data(), kPacketSize, i + 1)) {
        if (!AcceptsStreamId(view[i + 3], video))
            continue;
        found = true;
        const uint32_t take = std::min(kPacketSize - i, kPesHeaderSize);
        std::memcpy(state.pes.data(), view.data() + i, take);
        const PesTime result = ReadPesTime(state.pes.data(), take, time);
        if (result == PesTime::NeedMore) {
            state.pesFill = take;  // the header runs on into the next packet
            break;
        }
        if (result == PesTime::Found) {
            NoteTime(time, video);
            break;
        }
    }
    return found;
}

void CDirecTVParser::NoteTime(int64_t time, bool video)
{
    int64_t& first = video ? m_videoFirstTime : m_audioFirstTime;
    int64_t& last = video ? m_videoLastTime : m_audioLastTime;
    if (first < 0 || time < first)
        first = time;
    if (last < 0 || time > last)
        last = time;
}

bool CDirecTVParser::TryVideoRecord(const uint8_t* p, uint32_t length)
{
    // The shared sequence header parser refuses aspect_ratio_information 0,
    // which this stream reads as 1:1; it parses a copy with code 1 instead.
    const uint8_t aspectCode = Has(length, 7, 1) ? p[7] >> 4 : 0;
    std::array<uint8_t, 140> header{};  // the longest sequence header, with both matrices
    const uint32_t copied = std::min<uint32_t>(length, header.size());
    std::memcpy(header.data(), p, copied);
    if (copied > 7 && aspectCode == 0)
        header[7] |= 0x10;

    SequenceHeaderInfo info{};
    if (!ParseSequenceHeader(header.data(), copied, info, kAspectMpeg2))
        return false;
    const auto headerLength = static_cast<uint32_t>(info.headerLength);
    // A sequence extension must follow at the next start code.
    const uint32_t extension = NextStartCode(p, length, headerLength);
    if (extension >= length || p[extension + 3] != 0xB5)
        return false;
    if (Has(length, extension, 14))
        ApplySequenceExtension(p + extension, length - extension, info, (m_extensions & MD_EXT_FRAME_RATES) != 0);

    auto record = NewStreamRecord();
    if (!record)
        return false;
    ApplySequenceHeader(info, *record);
    switch (aspectCode) {
    case 2: record->video.aspectX = 4; record->video.aspectY = 3; break;
    case 3: record->video.aspectX = 16; record->video.aspectY = 9; break;
    case 4: record->video.aspectX = 221; record->video.aspectY = 100; break;
    default: record->video.aspectX = 1; record->video.aspectY = 1; break;
    }
    record->streamClass = StreamClass::Video;
    record->streamId = uint32_t(m_videoScid);
    record->codec = StreamCodec::Mpeg2Video;
    std::memcpy(record->extraData1, p, headerLength);
    record->extraData1Length = static_cast<int32_t>(headerLength);

    m_videoRecord = std::move(record);
    m_videoSynced = true;
    m_videoFrameDuration = info.frameRate > 0 ? static_cast<int64_t>(10000000.0 / info.frameRate) : -1;
    return true;
}

bool CDirecTVParser::TryAudioRecord(const uint8_t* p, uint32_t length, int32_t streamType)
{
    AudioFormat format{};
    std::unique_ptr<StreamRecord> record;
    int64_t frameDuration = -1;
    if (streamType == kTypeMpegAudio) {
        MpegAudioInfo info{};
        if (!IsMpegAudioSync(p, length) || !ParseMpegAudioHeader(p, length, format, info))
            return false;
        record = NewStreamRecord();
        if (!record)
            return false;
        record->codec = StreamCodec::Mpeg1Audio;
        SetMpegAudioWords(record->audio.codecSpecific, info);
        frameDuration = MpegAudioFrameDuration(p);
    } else if (streamType == kTypeAc3) {
        const bool sync = Has(length, 0, 11) && IsAc3Sync(p);
        Ac3Info info{};
        uint32_t frameWords = 0;
        if (!sync || !ParseAc3Header(p, length, format, info, frameWords) || format.sampleRate == 0)
            return false;
        record = NewStreamRecord();
        if (!record)
            return false;
        record->codec = StreamCodec::Ac3;
        record->audio.codecSpecific[0] = info.acmod;
        record->audio.codecSpecific[1] = info.substreamHeaderSize;
        record->audio.codecSpecific[2] = info.lfeon & 0xFF;
        record->audio.codecSpecific[3] = info.substreamId;
        record->audio.codecSpecific[4] = info.bsid & 0xFF;
        frameDuration = Frame1536Duration(format.sampleRate);
    } else {
        return false;
    }
    record->streamClass = StreamClass::Audio;
    record->streamId = uint32_t(m_audioScid);
    SetAudioFormat(record->audio, format);

    m_audioRecord = std::move(record);
    m_audioDescribed = true;
    m_audioFrameDuration = frameDuration;
    return true;
}

int32_t CDirecTVParser::FindEntryIndex(uint32_t scid) const
{
    for (uint32_t i = 0; i < m_entryCount; ++i)
        if (m_table[i].scid == scid)
            return int32_t(i);
    return -1;
}

uint32_t CDirecTVParser::GetVideoStreamCount() const
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < m_entryCount; ++i)
        n += m_table[i].isVideo != 0 ? 1 : 0;
    return n;
}

int32_t CDirecTVParser::GetVideoStreamScid(uint32_t n) const
{
    for (uint32_t i = 0, seen = 0; i < m_entryCount; ++i)
        if (m_table[i].isVideo != 0 && ++seen == n)
            return int32_t(m_table[i].scid);
    return -1;
}

uint32_t CDirecTVParser::GetAudioStreamCount() const { return m_entryCount - GetVideoStreamCount(); }

int32_t CDirecTVParser::GetAudioStreamScid(uint32_t n) const
{
    for (uint32_t i = 0, seen = 0; i < m_entryCount; ++i)
        if (m_table[i].isVideo == 0 && ++seen == n)
            return int32_t(m_table[i].scid);
    return -1;
}

int32_t CDirecTVParser::GetStreamType(uint32_t scid) const
{
    const TableEntry* entry = FindEntry(scid);
    return entry != nullptr ? entry->streamType : -1;
}

const CDirecTVParser::TableEntry* CDirecTVParser::FindEntry(uint32_t scid) const
{
    const int32_t index = FindEntryIndex(scid);
    return index >= 0 ? &m_table[static_cast<uint32_t>(index)] : nullptr;
}

bool CDirecTVParser::GetTimeReference(uint32_t& value) const
{
    value = m_timeReference;
    return m_timeReferenceFlag != 0;
}

void CDirecTVParser::GetTimeRange(TimeRangeInfo& out) const
{
    out.videoFirstTime = To100ns(m_videoFirstTime);
    out.audioFirstTime = To100ns(m_audioFirstTime);
    out.videoEndTime = To100ns(m_videoLastTime);
    out.audioEndTime = To100ns(m_audioLastTime);
    if (out.videoFirstTime >= 0 && out.audioFirstTime >= 0)
        out.startTime = std::min(out.videoFirstTime, out.audioFirstTime);
    else
        out.startTime = std::max(out.videoFirstTime, out.audioFirstTime);  // the known one, or -1
    out.videoFrameDuration = static_cast<uint32_t>(m_videoFrameDuration);
    out.audioFrameDuration = static_cast<uint32_t>(m_audioFrameDuration);
}

}  // namespace md
