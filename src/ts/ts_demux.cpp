#include "ts/ts_demux.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "es/start_code.h"
#include "input/chunk_buffer.h"

namespace md {

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kStartScanLimit = 10 * kMiB;
constexpr uint64_t kEndScanLimit = 50 * kMiB;
// First-pass chunks after the first one.
constexpr uint32_t kMaxFurtherChunks = 11;
// The first pass walks while a whole 204-byte unit remains.
constexpr uint32_t kFirstPassMinRemaining = 204;
// Audio byte rate assumed when no audio record was made in the current chunk.
constexpr uint32_t kDefaultAudioByteRate = 24000;
constexpr uint32_t kKeyframeReads = 10;
constexpr uint32_t kPictureBufferSize = 2424;
constexpr uint32_t kPictureClassifyBytes = 2048;

// The coding type of the first picture of the stream types only extensions
// describe, as PictureType gives it (-1 none, 0 I, 1 P, 2 B). HEVC: the first
// slice NAL unit (types 0..31), an intra random access point (16..23: BLA, IDR,
// CRA) as I; MPEG-4 Visual: vop_coding_type of the first VOP (S-VOPs as P).
int ExtendedPictureType(const uint8_t* p, uint32_t length, uint32_t streamType)
{
    if (streamType == 0x24) {
        const uint32_t i = FindCodeIf(p, length, [](uint8_t header) { return ((header >> 1) & 0x3F) < 32; });
        if (i >= length)
            return -1;
        const uint32_t type = (p[i + 3] >> 1) & 0x3F;
        return type >= 16 && type <= 23 ? 0 : 1;
    }
    const uint32_t i = FindCode(p, length, 0xB6);
    if (i + 4 >= length)
        return -1;
    static constexpr int kVopTypes[] = {0, 1, 2, 1};
    return kVopTypes[p[i + 4] >> 6];
}

// A duration for a stream whose end time is not past its first time: the file
// played at 19,200 kbit/s (size x 80,000,000 / 19,200,000 = size x 25 / 6).
int64_t DurationFromFileSize(uint64_t fileSize) { return static_cast<int64_t>(fileSize * 25 / 6); }

}  // namespace

TSDemux::TSDemux() : m_videoRing(new (std::nothrow) RingBuffer(kVideoRingSize)) {}

TSDemux::~TSDemux() = default;

void TSDemux::SetSelection(int32_t videoPid, int32_t videoStreamType, int32_t audioPid, int32_t audioStreamType)
{
    m_selection.reset(new (std::nothrow) TsSelection{videoPid, audioPid, videoStreamType, audioStreamType});
}

uint32_t TSDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    if (input == nullptr || !m_videoRing || m_videoRing->Capacity() < int32_t(kVideoRingSize))
        return 0;
    m_input = input;
    m_registrationDescriptor = 0;
    m_patParsed = 0;
    m_strideExtra = -1;
    m_services.clear();
    m_sdtParsed = 0;

    uint32_t audioByteRate = kDefaultAudioByteRate;
    if (!ReadTables(streams, audioByteRate))
        return 0;
    if (m_patParsed && m_programs.count > 0 && m_selection && !MeasureTimeRange())
        return 0;
    if (streams != nullptr && !EstimateH264BitRates(*streams, audioByteRate))
        return 0;
    return 1;
}

bool TSDemux::ReadTables(StreamList* streams, uint32_t& audioByteRate)
{
    const uint32_t capacity = ZPMP::ChunkCapacity(*m_input, kChunkSize);
    auto chunk = ZPMP::NewChunkBuffer(capacity);
    if (!chunk)
        return false;
    for (uint32_t chunksRead = 0;; ++chunksRead) {
        const uint32_t n = static_cast<uint32_t>(m_input->Read(chunk.get(), capacity));
        // MD_EXT_TS_CODECS: a file that ends before a PMT its PAT names still
        // gives the records of a selection that was described in full.
        if (n == 0)
            return chunksRead > 0 && (m_extensions & MD_EXT_TS_CODECS) != 0 && FirstPassDone();
        audioByteRate = kDefaultAudioByteRate;
        uint32_t position = 0;
        if (m_strideExtra < 0 && !FindTsSync(chunk.get(), n, position, m_strideExtra))
            return false;
        WalkTsPackets(chunk.get(), n, position, Stride(), kFirstPassMinRemaining, [&](const uint8_t* packet) {
            ExaminePacket(packet, streams, audioByteRate);
            return !FirstPassDone();
        });

        const bool videoWanted = m_selection && !m_videoRecordDone && m_selection->videoPid > 0;
        const bool audioWanted = m_selection && !m_audioRecordDone && m_selection->audioPid >= 1;
        const auto programsEnd = m_programs.programs.begin() + m_programs.count;
        const bool pmtMissing = std::any_of(m_programs.programs.begin(), programsEnd,
                                            [](const TsProgram& p) { return !p.pmtParsed; });
        if (chunksRead >= kMaxFurtherChunks || !(videoWanted || audioWanted || pmtMissing))
            return true;
        m_registrationDescriptor = 0;
    }
}

void TSDemux::ExaminePacket(const uint8_t* packet, StreamList* streams, uint32_t& audioByteRate)
{
    const uint32_t pid = TsPid(packet);
    if (pid == kTsNullPid)
        return;
    if (pid == 0) {
        if (!m_patParsed)
            m_patParsed = m_pat.AssemblePat(packet, m_programs) ? 1 : 0;
    } else if (pid == kTsSdtPid) {
        if ((m_extensions & MD_EXT_TAGS) && !m_sdtParsed)
            m_sdtParsed = ParseSdtPacket(Bytes(packet, kTsPacketSize), m_services, kTsMaxPrograms) ? 1 : 0;
    } else {
        for (uint32_t i = 0; i < m_programs.count; ++i) {
            TsProgram& program = m_programs.programs[i];
            if (program.pmtPid != pid || program.pmtParsed)
                continue;
            if (ParsePmt(program, packet, m_selection.get(), m_registrationDescriptor, m_extensions))
                program.pmtParsed = 1;
            break;
        }
    }
    if (!m_selection)
        return;
    const TsSelection& sel = *m_selection;
    if (int32_t(pid) == sel.videoPid && !m_videoRecordDone && IsProgramStream(m_programs, sel.videoPid, -1)) {
        auto record = HandleVideoPacket(packet);
        if (record && streams != nullptr)
            streams->Append(std::move(record));
    }
    if (int32_t(pid) == sel.audioPid && !m_audioRecordDone && IsProgramStream(m_programs, -1, sel.audioPid)) {
        auto record = HandleAudioPacket(packet);
        if (record) {
            audioByteRate = record->audio.bytesPerSecond;
            if (streams != nullptr)
                streams->Append(std::move(record));
        }
    }
}

void TSDemux::ServiceTags(int32_t pid, TagList& tags) const
{
    tags.Clear();
    if (m_programs.count == 0)
        return;
    const TsProgram* program = &m_programs.programs[0];
    for (uint32_t i = 0; i < m_programs.count; ++i) {
        const TsProgram& p = m_programs.programs[i];
        for (uint32_t s = 0; s < std::min(p.streamCount, kTsMaxStreams); ++s)
            if (int32_t(p.streams[s].pid) == pid) {
                program = &p;
                i = m_programs.count;  // the first program that lists it
                break;
            }
    }
    for (const TsService& service : m_services) {
        if (service.serviceId != program->programNumber)
            continue;
        tags.Set("service_name", service.name);
        tags.Set("service_provider", service.provider);
        return;
    }
}

bool TSDemux::FirstPassDone() const
{
    if (!m_selection)
        return false;
    return (m_videoRecordDone && m_audioRecordDone) || (m_videoRecordDone && m_selection->audioPid < 1) ||
           (m_audioRecordDone && m_selection->videoPid < 1);
}

bool TSDemux::MeasureTimeRange()
{
    // Only PIDs that a parsed PMT lists in their class take part.
    const int32_t videoPid = IsProgramStream(m_programs, m_selection->videoPid, -1) ? m_selection->videoPid : -1;
    const int32_t audioPid = IsProgramStream(m_programs, -1, m_selection->audioPid) ? m_selection->audioPid : -1;
    const uint64_t fileSize = m_input->Size();
    const uint32_t stride = Stride();

    // MD_EXT_TIME_RANGES: times compare across a wrap, and a window holding the whole
    // file takes the times it saw.
    const bool unwrap = (m_extensions & MD_EXT_TIME_RANGES) != 0;
    bool videoFound = videoPid < 1;
    bool audioFound = audioPid < 1;
    if (!(videoFound && audioFound)) {
        const uint32_t capacity = ZPMP::ChunkCapacity(*m_input, kChunkSize);
        auto chunk = ZPMP::NewChunkBuffer(capacity);
        if (!chunk)
            return false;
        const uint64_t limit = std::min(fileSize, kStartScanLimit);
        for (uint64_t offset = 0; offset <= limit && !(videoFound && audioFound); offset += kChunkSize) {
            m_input->Seek(offset / stride * stride);
            const uint32_t n = static_cast<uint32_t>(m_input->Read(chunk.get(), capacity));
            if (n == 0)
                return false;
            TsRangeRules rules;
            rules.unwrap = unwrap;
            rules.lastWindow = unwrap && offset / stride * stride + n >= fileSize;
            if (!audioFound)
                audioFound = ScanPtsRange(chunk.get(), n, true, -1, audioPid, stride, m_times, rules);
            if (!videoFound)
                videoFound = ScanPtsRange(chunk.get(), n, true, videoPid, -1, stride, m_times, rules);
        }
    }

    videoFound = videoPid < 1;
    audioFound = audioPid < 1;
    const uint64_t limit = std::min(fileSize, kEndScanLimit);
    for (uint64_t window = kMiB; !(videoFound && audioFound); window += kMiB) {
        const uint64_t size = std::min(window, limit);
        auto buffer = ZPMP::NewChunkBuffer(size);
        if (!buffer)
            return false;
        m_input->Seek((fileSize - size) / stride * stride);
        const uint32_t n = static_cast<uint32_t>(m_input->Read(buffer.get(), static_cast<uint32_t>(size)));
        if (n == 0)
            return false;
        TsRangeRules rules;
        rules.unwrap = unwrap;
        rules.lastWindow = unwrap && size == limit;
        if (!audioFound) {
            audioFound = ScanPtsRange(buffer.get(), n, false, -1, audioPid, stride, m_times, rules);
            if (audioFound)
                m_audioDuration = m_times.audioEndTime > m_times.audioFirstTime
                                      ? m_times.audioEndTime - m_times.audioFirstTime
                                      : DurationFromFileSize(fileSize);
        }
        if (!videoFound) {
            videoFound = ScanPtsRange(buffer.get(), n, false, videoPid, -1, stride, m_times, rules);
            if (videoFound)
                m_videoDuration = m_times.videoEndTime > m_times.videoFirstTime
                                      ? m_times.videoEndTime - m_times.videoFirstTime
                                      : DurationFromFileSize(fileSize);
        }
        if (size == limit)
            break;
    }
    return true;
}

bool TSDemux::EstimateH264BitRates(StreamList& streams, uint32_t audioByteRate)
{
    const uint64_t fileSize = m_input->Size();
    const uint32_t stride = Stride();
    for (uint32_t i = 0; i < streams.Count(); ++i) {
        StreamRecord* record = streams.At(i);
        if (record == nullptr || record->codec != StreamCodec::H264Ts)
            continue;
        uint64_t byteRate = 0;
        if (m_videoDuration > 0) {
            const double rate = static_cast<double>(fileSize) / (static_cast<double>(m_videoDuration) / 1e7);
            byteRate = rate < 1.8e19 ? static_cast<uint64_t>(rate) : UINT64_MAX;
        }
        if (m_registrationDescriptor) {
            // The video share of the transport rate: payload bytes of each packet,
            // less the audio (modulo 2^32 as the rate is kept in 32 bits).
            const uint64_t videoBytes = byteRate - audioByteRate;
            const uint32_t payloadRate = static_cast<uint32_t>(videoBytes * 184) / 188;
            const uint32_t bitRate = payloadRate * 8;
            if (bitRate < 40000000) {
                record->video.bitRate = bitRate;
                continue;
            }
        }
        if (!m_selection)
            continue;
        // Three samples at a quarter, a half and three quarters of the file.
        const uint64_t quarter = fileSize / 4;
        const uint64_t sampleSize =
            std::min(std::max(byteRate, std::min<uint64_t>(quarter, 1000000)), std::min<uint64_t>(quarter, 5000000));
        auto sample = ZPMP::NewChunkBuffer(sampleSize);
        if (!sample)
            return false;
        uint64_t sum = 0;
        uint32_t count = 0;
        for (uint64_t k = 1; k <= 3; ++k) {
            m_input->Seek(k * fileSize / 4 / stride * stride);
            const uint32_t n = static_cast<uint32_t>(m_input->Read(sample.get(), static_cast<uint32_t>(sampleSize)));
            if (n == 0)
                return false;
            const uint64_t rate = SampleBitRate(sample.get(), n, m_selection->videoPid, stride);
            if (rate != 0) {
                sum += rate;
                ++count;
            }
        }
        if (count > 0)
            record->video.bitRate = static_cast<uint32_t>(sum / count);
    }
    return true;
}

bool TSDemux::GetProgramList(uint32_t& count, uint32_t* pmtPids) const
{
    if (m_programs.count == 0)
        return false;
    count = m_programs.count;
    if (pmtPids != nullptr)
        for (uint32_t i = 0; i < m_programs.count; ++i)
            pmtPids[i] = m_programs.programs[i].pmtPid;
    return true;
}

bool TSDemux::GetProgramStreams(uint32_t pmtPid, int32_t& videoCount, uint32_t* videoPids, int32_t& audioCount,
                                uint32_t* audioPids) const
{
    if (m_programs.count == 0)
        return false;
    const TsProgram* program = nullptr;
    for (uint32_t i = 0; i < m_programs.count && program == nullptr; ++i)
        if (pmtPid == 0 || m_programs.programs[i].pmtPid == pmtPid)
            program = &m_programs.programs[i];
    if (program == nullptr)
        return true;
    videoCount = static_cast<int32_t>(program->videoCount);
    audioCount = static_cast<int32_t>(program->audioCount);
    uint32_t v = 0;
    uint32_t a = 0;
    for (const TsElementaryStream& s : program->streams) {
        if (s.isVideo && videoPids != nullptr && v < program->videoCount)
            videoPids[v++] = s.pid;
        if (s.isAudio && audioPids != nullptr && a < program->audioCount)
            audioPids[a++] = s.pid;
    }
    return true;
}

bool TSDemux::GetSubtitlePids(uint32_t& count, uint32_t* pids) const
{
    if (m_programs.count == 0)
        return false;
    count = 0;
    for (uint32_t i = 0; i < m_programs.count; ++i) {
        const TsProgram& program = m_programs.programs[i];
        const uint32_t stored = std::min(program.streamCount, kTsMaxStreams);
        for (uint32_t k = 0; k < stored; ++k) {
            const TsElementaryStream& s = program.streams[k];
            if (s.subtitleTag == 0 || count >= kTsMaxStreams)
                continue;
            if (pids != nullptr)
                pids[count] = s.pid;
            ++count;
        }
    }
    return true;
}

void TSDemux::GetTimeRange(TimeRangeInfo& out) const
{
    out.videoFirstTime = m_times.videoFirstTime;
    out.audioFirstTime = m_times.audioFirstTime;
    out.videoEndTime = m_times.videoEndTime;
    out.audioEndTime = m_times.audioEndTime;
    out.videoFrameDuration = static_cast<uint32_t>(m_times.videoFrameDuration);
    out.audioFrameDuration = static_cast<uint32_t>(m_times.audioFrameDuration);
    const bool video = m_times.videoFirstTime != -1;
    const bool audio = m_times.audioFirstTime != -1;
    if (video && audio)
        out.startTime = std::min(m_times.videoFirstTime, m_times.audioFirstTime);
    else if (video)
        out.startTime = m_times.videoFirstTime;
    else if (audio)
        out.startTime = m_times.audioFirstTime;
}

bool TSDemux::FindKeyframeTime(ZPMP::InputStream* input, int64_t position, int64_t& time)
{
    if (input == nullptr || !m_videoRecordDone || !m_selection || m_selection->videoPid <= 0)
        return false;
    const int32_t pid = m_selection->videoPid;
    const uint32_t mode = static_cast<uint32_t>(m_selection->videoStreamType);
    input->Seek(static_cast<uint64_t>(position));
    const uint32_t capacity = ZPMP::ChunkCapacity(*input, kChunkSize);
    auto buffer = ZPMP::NewChunkBuffer(capacity);
    auto picture = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kPictureBufferSize]);
    if (!buffer || !picture)
        return false;
    const bool extendedType = (mode == 0x24 && (m_extensions & MD_EXT_TS_CODECS) != 0) ||
                              (mode == 0x10 && (m_extensions & MD_EXT_MORE_CODECS) != 0);
    auto isKey = [&](uint32_t length) {
        const int type =
            extendedType ? ExtendedPictureType(picture.get(), length, mode) : PictureType(picture.get(), length, mode);
        return type == 0 || type == 3;  // I picture or slice, IDR picture
    };

    bool collecting = false;
    uint32_t collected = 0;
    int64_t pictureTime = 0;
    uint32_t carried = 0;
    for (uint32_t reads = 0; reads < kKeyframeReads; ++reads) {
        const uint32_t n = static_cast<uint32_t>(input->Read(buffer.get() + carried, capacity - carried));
        if (n == 0)
            return false;
        const uint32_t total = carried + n;
        uint32_t pos = 0;
        int32_t strideExtra = 0;
        if (total <= kTsSyncWindow || !FindTsSync(buffer.get(), total, pos, strideExtra))
            return false;
        const uint32_t stride = kTsPacketSize + uint32_t(strideExtra);
        // Packets at the stride found, without resync.
        for (; pos <= total && total - pos >= kTsPacketSize; pos += stride) {
            const uint8_t* packet = buffer.get() + pos;
            if (static_cast<int32_t>(TsPid(packet)) != pid)
                continue;
            int32_t offset = -1;
            if (PesPayloadOffset(packet, kTsPacketSize, offset)) {
                int64_t pts = 0;
                if (!ReadPacketPts(packet, kTsPacketSize, pid, kTsPacketSize, pts))
                    continue;
                if (collecting && isKey(collected)) {
                    time = pictureTime;
                    return true;
                }
                collecting = true;
                collected = kTsPacketSize - uint32_t(offset);
                std::memcpy(picture.get(), packet + offset, collected);
                pictureTime = pts;
            } else if (collecting && offset >= 0) {
                const uint32_t size = kTsPacketSize - uint32_t(offset);
                if (collected + size <= kPictureBufferSize) {
                    std::memcpy(picture.get() + collected, packet + offset, size);
                    collected += size;
                }
                if (collected >= kPictureClassifyBytes) {
                    if (isKey(collected)) {
                        time = pictureTime;
                        return true;
                    }
                    collecting = false;
                    if (extendedType && ExtendedPictureType(picture.get(), collected, mode) == -1) {
                        // No slice yet behind long SEI messages: look on in the
                        // next bytes, keeping the last four for a split start code.
                        std::memmove(picture.get(), picture.get() + collected - 4, 4);
                        collected = 4;
                        collecting = true;
                    }
                }
            }
        }
        carried = pos < total ? total - pos : 0;
        std::memmove(buffer.get(), buffer.get() + total - carried, carried);
    }
    return false;
}

}  // namespace md
