#include "ts/ts_packet.h"

#include <algorithm>
#include <cstring>

#include "mediadetect/records.h"
#include "es/pes.h"
#include "es/start_code.h"
#include "input/bytes.h"

namespace md {

namespace {

// adaptation_field_control: 1 payload only, 2 adaptation field only, 3 both.
uint32_t AdaptationFieldControl(const uint8_t* packet) { return (packet[3] >> 4) & 0x03; }

// 00 00 01 followed by a stream_id in 0xBC..0xFF.
bool IsPesStart(const uint8_t* p, uint32_t length) { return IsStartCodeAt(p, length) && p[3] >= 0xBC; }

// 90 kHz ticks to 100-ns units, truncated, as the scanners convert them.
int64_t TicksTo100ns(int64_t ticks) { return static_cast<int64_t>(static_cast<double>(ticks) / 9.0 * 1000.0); }

// The layout of an Opus audio descriptor's body after its descriptor_tag_extension (see TsOpusLayout).
TsOpusLayout OpusLayoutOf(const uint8_t* p, uint32_t length)
{
    constexpr uint8_t kDualMono = 0x00, kMaxVorbisOrder = 0x08, kExplicit = 0x81;
    constexpr uint32_t kApplicationDefinedFamily = 255;
    if (length < 1)
        return {};
    const uint8_t code = p[0];
    if (code == kDualMono)
        return {2, kApplicationDefinedFamily};
    if (code <= kMaxVorbisOrder)
        return {code, code <= 2 ? 0u : 1u};
    if (code == kExplicit && length >= 3)
        return {p[1], p[2]};  // channel_count, mapping_family
    return {};
}

}  // namespace

bool IsTsVideoStreamType(uint32_t streamType)
{
    return streamType == 1 || streamType == 2 || streamType == 0x1B || streamType == 0x20;
}

bool IsTsAudioStreamType(uint32_t streamType)
{
    switch (streamType) {
    case 3: case 4: case 0x0F: case 0x11: case 0x80: case 0x81: case 0x83: case 0x85: case 0x86: case 0xA2:
        return true;
    default:
        return false;
    }
}

bool IsTsVideoStreamType(uint32_t streamType, uint32_t extensions)
{
    if ((extensions & MD_EXT_TS_CODECS) != 0 && streamType == 0x24)
        return true;
    if ((extensions & MD_EXT_MORE_CODECS) != 0 && streamType == 0x10)
        return true;
    return IsTsVideoStreamType(streamType);
}

bool IsTsAudioStreamType(uint32_t streamType, uint32_t extensions)
{
    if ((extensions & MD_EXT_TS_CODECS) != 0 && (streamType == kTsEac3StreamType || streamType == kTsOpusStreamType))
        return true;
    if ((extensions & MD_EXT_MORE_CODECS) != 0 && streamType == 0x82)
        return true;
    return IsTsAudioStreamType(streamType);
}

bool FindTsSync(const uint8_t* buffer, uint32_t length, uint32_t& position, int32_t& strideExtra)
{
    if (buffer == nullptr || length <= kTsSyncWindow)
        return false;
    auto repeats = [buffer](uint32_t i, uint32_t size) {
        for (uint32_t k = 1; k <= 5; ++k)
            if (buffer[i + size * k] != kTsSyncByte)
                return false;
        return true;
    };
    for (uint32_t i = 0; i < length - kTsSyncWindow; ++i) {
        if (buffer[i] != kTsSyncByte)
            continue;
        for (const uint32_t size : {188u, 192u, 204u}) {
            if (repeats(i, size)) {
                position = i;
                strideExtra = static_cast<int32_t>(size - kTsPacketSize);
                return true;
            }
        }
    }
    return false;
}

uint32_t TsHeaderLength(const uint8_t* packet)
{
    switch (AdaptationFieldControl(packet)) {
    case 1: return 4;
    case 3: return 5 + uint32_t(packet[4]);  // adaptation_field_length
    default: return 0;
    }
}

bool ReadPts32(const uint8_t* p, uint32_t length, uint64_t& value)
{
    const int64_t pts = ReadPts(p, length);
    if (pts < 0)
        return false;
    value = static_cast<uint32_t>(pts);  // PTS[32] dropped
    return true;
}

uint32_t PesHeaderLength(const uint8_t* p, uint32_t length)
{
    if (p == nullptr || length < 6)
        return 0;
    for (uint32_t i = 0; i + 4 < length; ++i) {
        if (!IsStartCodePrefix(p + i))
            continue;
        if (HasNoPesHeaderExtension(p[i + 3]))
            return 6;
        return length > 8 ? 9 + uint32_t(p[8]) : 0;  // PES_header_data_length
    }
    return 0;
}

bool PesPayloadOffset(const uint8_t* packet, uint32_t length, int32_t& offset)
{
    offset = -1;
    if (packet == nullptr || length < kTsPacketSize || packet[0] != kTsSyncByte)
        return false;
    const uint32_t afc = AdaptationFieldControl(packet);
    if (TsPayloadUnitStart(packet)) {
        const uint32_t header = TsHeaderLength(packet);
        if (header == 0 || header >= length || !IsPesStart(packet + header, length - header))
            return false;
        const int64_t payload = int64_t(length) - header - PesHeaderLength(packet + header, length - header);
        if (payload < 1)
            return false;
        offset = static_cast<int32_t>(int64_t(length) - payload);
        return true;
    }
    if (afc == 1) {
        offset = static_cast<int32_t>(length - 184);
    } else if (afc == 3) {
        const int32_t payload = 183 - int32_t(packet[4]);
        if (payload >= 1)
            offset = static_cast<int32_t>(length) - payload;
    }
    return false;
}

bool TsPesPayload(const uint8_t* packet, const uint8_t*& data, uint32_t& length, bool& pesStart)
{
    const uint32_t header = TsHeaderLength(packet);
    if (header == 0 || header >= kTsPacketSize)
        return false;
    const uint8_t* payload = packet + header;
    const uint32_t size = kTsPacketSize - header;
    pesStart = TsPayloadUnitStart(packet);
    if (!pesStart) {
        data = payload;
        length = size;
        return true;
    }
    if (!IsPesStart(payload, size))
        return false;
    const uint32_t pesHeader = PesHeaderLength(payload, size);
    if (pesHeader == 0)
        return false;
    const uint32_t skip = std::min(pesHeader, size);
    data = payload + skip;
    length = size - skip;
    return true;
}

bool PacketPesPts(const uint8_t* packet, uint32_t& headerLength, uint64_t& pts, bool& ptsRead)
{
    if (!TsPayloadUnitStart(packet))
        return false;
    const uint32_t header = TsHeaderLength(packet);
    // The PES bytes up to PTS_DTS_flags (byte 7) must lie in the packet.
    if (header == 0 || header + 8 > kTsPacketSize)
        return false;
    const uint8_t* pes = packet + header;
    const uint32_t size = kTsPacketSize - header;
    if (!IsPesStart(pes, size) || HasNoPesHeaderExtension(pes[3]) || (pes[7] & 0x80) == 0)
        return false;
    headerLength = header;
    ptsRead = size > 9 && ReadPts32(pes + 9, size - 9, pts);
    return true;
}

bool ParsePat(const uint8_t* section, uint32_t length, TsProgramTable& table)
{
    if (section == nullptr || length < 8)
        return false;
    const uint32_t sectionLength = uint32_t(section[1] & 0x0F) << 8 | section[2];
    // table_id 0, section_syntax_indicator 1, section_number <= last_section_number.
    if (section[0] != 0 || (section[1] & 0x80) == 0 || section[6] > section[7] || sectionLength > 1021)
        return false;
    if (sectionLength == 0)
        return true;
    // Entries between the 5 bytes after section_length and the CRC_32.
    const int32_t entries = (int32_t(sectionLength) - 9) / 4;
    if (entries > int32_t(kTsMaxPrograms))
        return false;
    for (int32_t e = 0; e < entries; ++e) {
        const uint32_t off = 8 + 4 * uint32_t(e);
        if (off + 4 > length)
            break;
        const uint32_t programNumber = uint32_t(section[off]) << 8 | section[off + 1];
        const uint32_t pid = uint32_t(section[off + 2] & 0x1F) << 8 | section[off + 3];
        if (programNumber == 0)  // network_PID
            continue;
        const auto end = table.programs.begin() + table.count;
        if (std::any_of(table.programs.begin(), end, [pid](const TsProgram& p) { return p.pmtPid == pid; }))
            continue;
        if (table.count >= kTsMaxPrograms)
            break;
        table.programs[table.count] = TsProgram{};
        table.programs[table.count].pmtPid = pid;
        table.programs[table.count].programNumber = programNumber;
        ++table.count;
    }
    return true;
}

uint32_t PatAssembler::ParseAndClear(TsProgramTable& table)
{
    const bool ok = ParsePat(m_buffer.data(), m_collected, table);
    m_collected = 0;
    m_expected = 0;
    return ok;
}

bool PatAssembler::AssemblePat(const uint8_t* packet, TsProgramTable& table)
{
    const uint32_t afc = AdaptationFieldControl(packet);
    if (TsPayloadUnitStart(packet)) {
        // A new section starts while the previous one is still short: parse what
        // was collected and drop this packet.
        if (m_collected > 0 && m_collected < m_expected)
            return ParseAndClear(table);
        // The section follows the pointer_field, whose value is not used.
        const uint32_t offset = afc >= 2 ? 4 + 1 + uint32_t(packet[4]) + 1 : 5;
        if (offset > 183)
            return false;
        m_collected = kTsPacketSize - offset;
        std::memcpy(m_buffer.data(), packet + offset, m_collected);
        if (afc == 0 || afc == 2)
            return false;
        m_expected = uint32_t(m_buffer[1] & 0x0F) << 8 | m_buffer[2];
        if (m_expected > 183)
            return false;
        return ParseAndClear(table);
    }
    if (m_collected == 0)
        return false;
    if (m_collected >= kGiveUp) {
        m_collected = 0;
        m_expected = 0;
        return false;
    }
    std::memcpy(m_buffer.data() + m_collected, packet + 4, 184);
    m_collected += 184;
    if (m_collected < m_expected)
        return false;
    return ParseAndClear(table);
}

void ParseEsDescriptors(const uint8_t* p, uint32_t length, uint32_t& streamType, uint8_t& registration,
                        uint32_t extensions, uint8_t* subtitleTag, TsOpusLayout* opusLayout)
{
    // Private data (PES packets of stream_type 6) says what it carries by a descriptor.
    const bool privateData = streamType == 0x06 && (extensions & MD_EXT_TS_CODECS) != 0;
    bool opus = false;
    TsOpusLayout layout;
    for (uint32_t pos = 0; pos + 2 <= length; pos += 2 + uint32_t(p[pos + 1])) {
        const uint8_t tag = p[pos];
        // The descriptor's body, cut at the end of the loop.
        const uint8_t* body = p + pos + 2;
        const uint32_t bodyLength = std::min<uint32_t>(p[pos + 1], length - pos - 2);
        if (tag == 0x05) {  // registration_descriptor
            registration = 1;
            opus = opus || (bodyLength >= 4 && Be32(body) == kTsOpusStreamType);
        } else if (privateData && tag == 0x7F && bodyLength >= 2 && body[0] == 0x80) {
            layout = OpusLayoutOf(body + 1, bodyLength - 1);  // extension_descriptor: the Opus audio descriptor
        } else if (tag == 0x6A) {  // DVB AC-3_descriptor: private data carrying AC-3
            streamType = 0x81;
        } else if (privateData && tag == 0x7A) {  // DVB enhanced_AC-3_descriptor
            streamType = kTsEac3StreamType;
        } else if (privateData && subtitleTag != nullptr && (tag == kTsDvbSubtitleTag || tag == kTsTeletextTag)) {
            *subtitleTag = tag;
        }
    }
    if (privateData && opus && streamType == 0x06) {
        streamType = kTsOpusStreamType;
        if (opusLayout != nullptr)
            *opusLayout = layout;
    }
    if (subtitleTag != nullptr && streamType != 0x06)
        *subtitleTag = 0;
}

bool ParsePmt(TsProgram& program, const uint8_t* packet, TsSelection* selection, uint8_t& registration,
              uint32_t extensions)
{
    const uint32_t afc = AdaptationFieldControl(packet);
    if (afc == 0 || afc == 2)
        return false;
    // The section follows the pointer_field, whose value is not used.
    const uint32_t start = afc == 1 ? 5 : 4 + 1 + uint32_t(packet[4]) + 1;
    if (start + 12 > kTsPacketSize)
        return false;
    const uint8_t* section = packet + start;
    if (section[0] != 0x02)  // TS_program_map_section
        return false;
    const int32_t sectionLength = int32_t(section[1] & 0x0F) << 8 | section[2];
    const int32_t programInfoLength = int32_t(section[10] & 0x0F) << 8 | section[11];
    // Bytes of the elementary-stream loop: section_length less the 9 bytes up to
    // the program descriptors, those descriptors and the CRC_32.
    int32_t remaining = sectionLength - programInfoLength - 13;
    if (remaining < 5) {
        program.streamCount = 0;
        return true;
    }
    uint32_t pos = start + 12 + uint32_t(programInfoLength);
    uint32_t entries = 0;
    while (remaining >= 5 && pos + 5 <= kTsPacketSize) {
        uint32_t streamType = packet[pos];
        const uint32_t pid = uint32_t(packet[pos + 1] & 0x1F) << 8 | packet[pos + 2];
        const int32_t esInfoLength = int32_t(packet[pos + 3] & 0x0F) << 8 | packet[pos + 4];
        // A section is read from this packet only: descriptors are cut at its end.
        uint8_t subtitleTag = 0;
        TsOpusLayout opusLayout;
        if (esInfoLength <= remaining - 5) {
            const uint32_t inPacket = std::min<uint32_t>(uint32_t(esInfoLength), kTsPacketSize - (pos + 5));
            ParseEsDescriptors(packet + pos + 5, inPacket, streamType, registration, extensions, &subtitleTag,
                               &opusLayout);
        }
        const uint8_t isVideo = IsTsVideoStreamType(streamType, extensions) ? 1 : 0;
        const uint8_t isAudio = IsTsAudioStreamType(streamType, extensions) ? 1 : 0;
        if (entries < kTsMaxStreams) {
            program.streams[entries] = TsElementaryStream{pid, streamType, isVideo, isAudio, subtitleTag};
            program.videoCount += isVideo;
            program.audioCount += isAudio;
        }
        if (selection != nullptr) {
            if (selection->videoPid == int32_t(pid)) {
                selection->videoStreamType = int32_t(streamType);
            } else if (selection->audioPid == int32_t(pid)) {
                selection->audioStreamType = int32_t(streamType);
                selection->audioOpusLayout = opusLayout;
            }
        }
        ++entries;
        pos += 5 + uint32_t(esInfoLength);
        remaining -= 5 + esInfoLength;
    }
    program.streamCount = entries;
    return true;
}

bool IsProgramStream(const TsProgramTable& table, int32_t videoPid, int32_t audioPid)
{
    const bool video = videoPid >= 1;
    if (!video && audioPid < 1)
        return false;
    const uint32_t pid = uint32_t(video ? videoPid : audioPid);
    for (uint32_t i = 0; i < table.count && i < kTsMaxPrograms; ++i) {
        const TsProgram& program = table.programs[i];
        if (!program.pmtParsed)
            continue;
        for (const TsElementaryStream& s : program.streams)
            if (s.pid == pid && (video ? s.isVideo : s.isAudio))
                return true;
    }
    return false;
}

bool ScanPtsRange(const uint8_t* buffer, uint32_t length, bool fromStart, int32_t pidA, int32_t pidB, uint32_t stride,
                  TsTimes& times, const TsRangeRules& rules)
{
    bool videoFound = false;
    bool audioFound = false;
    // a comes before b: as plain values, or across a wrap as 32-bit values modulo 2^32.
    const auto before = [&rules](int64_t a, int64_t b) {
        return rules.unwrap ? static_cast<int32_t>(static_cast<uint32_t>(a - b)) < 0 : a < b;
    };
    WalkTsPackets(buffer, length, 0, stride, stride, [&](const uint8_t* packet) {
        const int32_t pid = static_cast<int32_t>(TsPid(packet));
        const bool video = pid == pidA;
        const bool audio = pid == pidB;
        uint32_t header = 0;
        uint64_t pts = 0;
        bool ptsRead = false;
        if ((!video && !audio) || !PacketPesPts(packet, header, pts, ptsRead) || !ptsRead)
            return true;
        const int64_t value = static_cast<int64_t>(pts);
        if (video) {
            if (fromStart) {
                if (times.videoFirstTime < 0 || before(value, times.videoFirstTime))
                    times.videoFirstTime = value;
                videoFound = ++times.videoPtsCount >= 2 || videoFound;
            } else {
                if (rules.unwrap ? times.videoEndTime < 0 || before(times.videoEndTime, value)
                                 : value > times.videoEndTime)
                    times.videoEndTime = value;
                videoFound = ++times.videoPtsCount >= 5 || videoFound;
            }
        }
        if (audio) {
            if (fromStart) {
                if (times.audioFirstTime < 0 || before(value, times.audioFirstTime))
                    times.audioFirstTime = value;
            } else {
                times.audioEndTime = value;  // the last one in buffer order
            }
            audioFound = true;
        }
        return true;
    });

    if (rules.lastWindow) {
        videoFound = videoFound || (fromStart ? times.videoFirstTime : times.videoEndTime) != -1;
        audioFound = audioFound || (fromStart ? times.audioFirstTime : times.audioEndTime) != -1;
    }
    auto finish = [&](bool found, int64_t& first, int64_t& end, int64_t frameDuration, int64_t& firstTicks) {
        if (!found)
            return;
        if (fromStart && first != -1) {
            firstTicks = first;
            first = TicksTo100ns(first);
        } else if (!fromStart && end != -1) {
            if (rules.unwrap && firstTicks >= 0 && end < firstTicks)
                end += int64_t(1) << 32;
            end = frameDuration - static_cast<int64_t>(static_cast<double>(end) / -9.0 * 1000.0);
        }
    };
    if (pidA >= 1) {
        finish(videoFound, times.videoFirstTime, times.videoEndTime, times.videoFrameDuration, times.videoFirstTicks);
        if (fromStart && videoFound)
            times.videoPtsCount = 0;
    }
    if (pidB >= 1)
        finish(audioFound, times.audioFirstTime, times.audioEndTime, times.audioFrameDuration, times.audioFirstTicks);
    return (pidA == -1 || videoFound) && (pidB == -1 || audioFound);
}

uint64_t SampleBitRate(const uint8_t* buffer, uint32_t length, int32_t pid, uint32_t stride)
{
    int64_t bytes = 0;
    bool anyPts = false;
    uint64_t smallest = 0;
    uint64_t largest = 0;
    WalkTsPackets(buffer, length, 0, stride, stride, [&](const uint8_t* packet) {
        if (static_cast<int32_t>(TsPid(packet)) != pid)
            return true;
        if (!TsPayloadUnitStart(packet)) {
            bytes += 184;
            return true;
        }
        uint32_t header = 0;
        uint64_t pts = 0;
        bool ptsRead = false;
        if (!PacketPesPts(packet, header, pts, ptsRead))
            return true;
        if (ptsRead) {
            smallest = anyPts ? std::min(smallest, pts) : pts;
            largest = anyPts ? std::max(largest, pts) : pts;
            anyPts = true;
        }
        // The packet payload less a minimal 9-byte PES header.
        bytes += 179 - int64_t(header);
        return true;
    });
    const int64_t span = static_cast<int64_t>(largest - smallest) * 10000000 / 90000;
    if (span < 1)
        return 0;
    const double rate = static_cast<double>(bytes) * 8.0 / static_cast<double>(span) * 1e7;
    return rate > 0 ? static_cast<uint64_t>(rate) : 0;
}

bool ReadPacketPts(const uint8_t* buffer, uint32_t length, int32_t pid, uint32_t stride, int64_t& time)
{
    if (pid == -1)
        return false;
    bool found = false;
    WalkTsPackets(buffer, length, 0, stride, stride, [&](const uint8_t* packet) {
        uint32_t header = 0;
        uint64_t pts = 0;
        bool ptsRead = false;
        if (static_cast<int32_t>(TsPid(packet)) == pid && PacketPesPts(packet, header, pts, ptsRead) && ptsRead) {
            time = static_cast<int64_t>(pts) * 10000 / 90;
            found = true;
        }
        return true;
    });
    return found;
}

}  // namespace md
