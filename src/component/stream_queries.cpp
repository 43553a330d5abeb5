// The detector's queries that answer from a demultiplexer built on demand:
// duration and time range, the programs and streams of transport files, the
// tracks of Matroska files, and the selection of the streams to describe.
#include <algorithm>
#include <array>
#include <cstring>

#include "component/media_detect.h"
#include "mp4/mp4_time_range.h"
#include "mpeg/time_range_scan.h"
#include "probe/matroska_plugin.h"

namespace md {
namespace {

// The most stream identifiers GetStreamLists writes per list for a transport stream.
constexpr uint32_t kMaxListedStreams = 16;

}  // namespace

// ---- Duration and time range ----

bool ZPMediaDetect::FillTimeRange(bool matroskaRange)
{
    auto range = std::make_unique<TimeRangeInfo>();
    if (IsFamilyFile()) {
        if (!m_fileTimes.Known())
            return false;
        *range = m_fileTimes.range;
        m_timeRange = std::move(range);
        return true;
    }
    switch (m_kind) {
    case MK_MPEG2_TRANSPORT:
        if (!m_tsDemux)
            return false;
        m_tsDemux->GetTimeRange(*range);
        break;
    case MK_DIRECTV:
        if (!m_dtvDemux)
            return false;
        m_dtvDemux->GetTimeRange(*range);
        break;
    case MK_MATROSKA:
    case MK_WEBM:
        if (!matroskaRange || !m_mkvDemux)
            return false;
        m_mkvDemux->GetTimeRange(*range);
        break;
    case MK_MP4:
        if (!m_mp4Boxes)
            m_mp4Boxes = ReadMp4File(m_source, Mp4FileRulesOf(m_extensions));
        if (!ScanMp4TimeRange(m_mp4Boxes.get(), m_mp4Flags.hasVideo != 0, m_mp4Flags.hasAudio != 0, *range,
                              Mp4TimeRulesOf(m_extensions)))
            return false;
        break;
    default:
        if (!ScanProgramStreamTimeRange(m_source, m_kind, *range, ProgramStreamTimeRulesOf(m_extensions)))
            return false;
        break;
    }
    m_timeRange = std::move(range);
    return true;
}

HRESULT ZPMediaDetect::GetDuration(int64_t* duration) noexcept
{
    if (duration == nullptr || m_kind == MK_UNKNOWN)
        return E_INVALIDARG;
    return Guarded([&] {
        *duration = 0;
        if (!m_timeRange) {
            // A Matroska file's duration is its segment's, not its tracks' range.
            if (IsMatroskaFile()) {
                if (!m_mkvDemux)
                    return E_FAIL;
                *duration = m_mkvDemux->GetDuration();
                return S_OK;
            }
            if (!FillTimeRange(false))
                return E_FAIL;
        }
        *duration = std::max(m_timeRange->videoEndTime, m_timeRange->audioEndTime) - m_timeRange->startTime;
        return S_OK;
    });
}

HRESULT ZPMediaDetect::GetTimeRangeInfo(TimeRangeInfo* out) noexcept
{
    if (out == nullptr || m_kind == MK_UNKNOWN)
        return E_INVALIDARG;
    return Guarded([&] {
        if (!m_timeRange && !FillTimeRange(true))
            return E_FAIL;
        std::memcpy(out, m_timeRange.get(), sizeof(TimeRangeInfo));
        return S_OK;
    });
}

// ---- Kept demultiplexers ----

uint32_t ZPMediaDetect::ListFamilyStreams(StreamClass streamClass, uint32_t* ids) const
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < m_fileStreams->Count(); ++i) {
        const StreamRecord* r = m_fileStreams->At(i);
        if (r->streamClass != streamClass)
            continue;
        if (ids)
            ids[n] = r->streamId;
        ++n;
    }
    return n;
}

void ZPMediaDetect::KeepTransportDemux(int64_t offset)
{
    if ((m_tsDemux || m_dtvDemux) && m_reopenOffset == offset)
        return;
    m_tsDemux.reset();
    m_dtvDemux.reset();
    m_reopenOffset = offset;
    const std::unique_ptr<ZPMP::InputStream> opened = m_source.Open();
    ZPMP::InputStream& input = *opened;
    input.Seek(static_cast<uint64_t>(offset));
    if (m_kind == MK_DIRECTV) {
        auto demux = std::make_unique<CDirecTVParser>();
        demux->SetExtensions(m_extensions);
        demux->Parse(&input, nullptr);
        m_dtvDemux = std::move(demux);
    } else {
        auto demux = std::make_unique<TSDemux>();
        demux->SetExtensions(m_extensions);
        demux->Parse(&input, nullptr);
        if (Has(MD_EXT_TAGS))
            demux->ServiceTags(-1, m_tags);  // the first program's, until one is selected
        m_tsDemux = std::move(demux);
    }
}

void ZPMediaDetect::KeepMkvDemux(int64_t offset)
{
    if (m_mkvDemux)
        return;
    m_reopenOffset = offset;
    const std::unique_ptr<ZPMP::InputStream> opened = m_source.Open();
    ZPMP::InputStream& input = *opened;
    input.Seek(static_cast<uint64_t>(offset));
    MatroskaDemuxPtr demux = NewMatroskaDemux();
    if (!demux)
        return;
    demux->SetExtensions(m_extensions);
    StreamList streams;
    demux->Parse(&input, &streams);
    m_mkvDemux = std::move(demux);
}

HRESULT ZPMediaDetect::GetTransportPrograms(uint32_t* count, uint32_t* pmtPids, int64_t offset) noexcept
{
    if (count == nullptr)
        return E_POINTER;
    if (m_kind != MK_MPEG2_TRANSPORT)
        return E_INVALIDARG;
    return Guarded([&] {
        KeepTransportDemux(offset);
        return m_tsDemux->GetProgramList(*count, pmtPids) ? S_OK : E_FAIL;
    });
}

HRESULT ZPMediaDetect::GetStreamLists(uint32_t program, int32_t* videoCount, uint32_t* videoIds, int32_t* audioCount,
                                      uint32_t* audioIds, int64_t offset) noexcept
{
    if (videoCount == nullptr || audioCount == nullptr)
        return E_POINTER;
    if (m_kind != MK_MPEG2_TRANSPORT && m_kind != MK_DIRECTV && !IsMatroskaFile() && !IsFamilyFile())
        return E_INVALIDARG;
    return Guarded([&] {
        if (IsFamilyFile()) {
            *videoCount = static_cast<int32_t>(ListFamilyStreams(StreamClass::Video, videoIds));
            *audioCount = static_cast<int32_t>(ListFamilyStreams(StreamClass::Audio, audioIds));
            return S_OK;
        }
        if (IsMatroskaFile()) {
            KeepMkvDemux(offset);
            if (!m_mkvDemux)
                return E_OUTOFMEMORY;
            const auto video = m_mkvDemux->VideoTracks();
            const auto audio = m_mkvDemux->AudioTracks();
            *videoCount = static_cast<int32_t>(video.size());
            *audioCount = static_cast<int32_t>(audio.size());
            if (videoIds)
                std::copy(video.begin(), video.end(), videoIds);
            if (audioIds)
                std::copy(audio.begin(), audio.end(), audioIds);
            return S_OK;
        }
        KeepTransportDemux(offset);
        const auto listed = [](int32_t n) { return std::min<uint32_t>(static_cast<uint32_t>(n), kMaxListedStreams); };
        if (m_kind == MK_DIRECTV) {
            // One program: the table's entries flagged video, then all the others.
            *videoCount = static_cast<int32_t>(m_dtvDemux->GetVideoStreamCount());
            *audioCount = static_cast<int32_t>(m_dtvDemux->GetAudioStreamCount());
            for (uint32_t i = 0; videoIds && i < listed(*videoCount); ++i)
                videoIds[i] = static_cast<uint32_t>(m_dtvDemux->GetVideoStreamScid(i + 1));
            for (uint32_t i = 0; audioIds && i < listed(*audioCount); ++i)
                audioIds[i] = static_cast<uint32_t>(m_dtvDemux->GetAudioStreamScid(i + 1));
            return S_OK;
        }
        std::array<uint32_t, kTsMaxStreams> video{};
        std::array<uint32_t, kTsMaxStreams> audio{};
        int32_t vc = -1;
        int32_t ac = -1;
        if (!m_tsDemux->GetProgramStreams(program, vc, video.data(), ac, audio.data()))
            return E_FAIL;
        if (vc < 0)
            return S_OK;  // no program with that PMT PID: nothing is written
        *videoCount = vc;
        *audioCount = ac;
        if (videoIds)
            std::copy_n(video.begin(), listed(vc), videoIds);
        if (audioIds)
            std::copy_n(audio.begin(), listed(ac), audioIds);
        return S_OK;
    });
}

HRESULT ZPMediaDetect::GetSubtitleTracks(uint32_t* count, uint32_t* trackNumbers, int64_t offset) noexcept
{
    if (count == nullptr)
        return E_POINTER;
    // Transport streams list their DVB subtitle and teletext PIDs with MD_EXT_TS_CODECS.
    const bool transport = m_kind == MK_MPEG2_TRANSPORT && Has(MD_EXT_TS_CODECS);
    if (!IsMatroskaFile() && !transport && !IsFamilyFile())
        return E_INVALIDARG;
    return Guarded([&] {
        if (IsFamilyFile()) {
            *count = ListFamilyStreams(StreamClass::Subtitle, trackNumbers);
            return S_OK;
        }
        if (transport) {
            KeepTransportDemux(offset);
            std::array<uint32_t, kTsMaxStreams> pids{};
            uint32_t n = 0;
            if (!m_tsDemux->GetSubtitlePids(n, pids.data()))
                return E_FAIL;
            *count = n;
            if (trackNumbers)
                std::copy_n(pids.begin(), n, trackNumbers);
            return S_OK;
        }
        KeepMkvDemux(offset);
        if (!m_mkvDemux)
            return E_OUTOFMEMORY;
        const auto subtitles = m_mkvDemux->SubtitleTracks();
        *count = static_cast<uint32_t>(subtitles.size());
        if (trackNumbers)
            std::copy(subtitles.begin(), subtitles.end(), trackNumbers);
        return S_OK;
    });
}

// ---- Selection ----

void ZPMediaDetect::TakeSelectedRecords(const StreamRecord* video, const StreamRecord* audio,
                                        ZPMP::InputStream& input)
{
    if (video)
        TakeVideo(BuildVideo(*video, RecordBuilder::Selection), input);
    if (audio) {
        const AudioBuild a = BuildAudio(*audio, RecordBuilder::Selection);
        if (a.accepted)
            TakeAudio(a);
    }
}

HRESULT ZPMediaDetect::SelectTransportProgram(const StreamSelection* selection, int64_t offset, VideoInfo* videoOut,
                                              AudioInfoEx* audioOut) noexcept
{
    if (selection == nullptr)
        return E_POINTER;
    if (m_kind != MK_MPEG2_TRANSPORT && m_kind != MK_DIRECTV)
        return E_INVALIDARG;
    return Guarded([&] {
        Reset();
        m_reopenOffset = offset;
        const std::unique_ptr<ZPMP::InputStream> opened = m_source.Open();
        ZPMP::InputStream& input = *opened;
        input.Seek(static_cast<uint64_t>(offset));
        StreamList streams;
        if (m_kind == MK_DIRECTV) {
            auto demux = std::make_unique<CDirecTVParser>();
            demux->SetExtensions(m_extensions);
            const auto scid = [](uint32_t id) { return id < 1 ? -1 : static_cast<int32_t>(id); };
            demux->SelectVideoScid(scid(selection->videoId));
            demux->SelectAudioScid(scid(selection->audioId));
            if (demux->Parse(&input, &streams) == 0)
                return E_FAIL;
            const FirstStreams first = FindFirstStreams(streams, RecordBuilder::Selection);
            TakeSelectedRecords(first.video, first.audio, input);
            m_dtvDemux = std::move(demux);
        } else {
            auto demux = std::make_unique<TSDemux>();
            demux->SetExtensions(m_extensions);
            demux->SetSelection(static_cast<int32_t>(selection->videoId),
                                static_cast<int32_t>(selection->videoStreamType),
                                static_cast<int32_t>(selection->audioId),
                                static_cast<int32_t>(selection->audioStreamType));
            if (demux->Parse(&input, &streams) == 0)
                return E_FAIL;
            demux->HasRegistrationDescriptor(m_tsRegistrationFlag);
            const FirstStreams first = FindFirstStreams(streams, RecordBuilder::Selection);
            TakeSelectedRecords(first.video, nullptr, input);
            if (first.video) {
                int64_t keyTime = -1;
                if (demux->FindKeyframeTime(&input, offset, keyTime))
                    m_firstVideoTime = keyTime;
            }
            TakeSelectedRecords(nullptr, first.audio, input);
            if (Has(MD_EXT_TAGS))  // the selected program's service
                demux->ServiceTags(int32_t(selection->videoId > 0 ? selection->videoId : selection->audioId), m_tags);
            m_tsDemux = std::move(demux);
        }
        CopyOutSelection(videoOut, audioOut);
        return S_OK;
    });
}

HRESULT ZPMediaDetect::SelectMatroskaTracks(const StreamSelection* selection, uint32_t extraTrack, uint64_t,
                                            VideoInfo* videoOut, AudioInfoEx* audioOut, uint32_t* extraValue) noexcept
{
    if (selection == nullptr)
        return E_POINTER;
    if (!IsMatroskaFile() && !IsFamilyFile())
        return E_INVALIDARG;
    return Guarded([&] {
        if (IsFamilyFile()) {
            const std::unique_ptr<ZPMP::InputStream> input = m_source.Open();
            SelectFamilyStreams(*selection, *input);
            CopyOutSelection(videoOut, audioOut);
            return S_OK;
        }
        Reset();
        const std::unique_ptr<ZPMP::InputStream> opened = m_source.Open();
        ZPMP::InputStream& input = *opened;
        input.Seek(static_cast<uint64_t>(m_reopenOffset));  // -1: refused, reading starts at 0
        MatroskaDemuxPtr demux = NewMatroskaDemux();
        if (!demux)
            return E_OUTOFMEMORY;
        demux->SetExtensions(m_extensions);
        demux->SelectTracks(selection->videoId, selection->videoStreamType, selection->audioId,
                            selection->audioStreamType);
        StreamList streams;
        if (demux->Parse(&input, &streams) == 0)
            return E_FAIL;
        const StreamRecord* video = nullptr;
        const StreamRecord* audio = nullptr;
        for (uint32_t i = 0; i < streams.Count(); ++i) {
            const StreamRecord& r = *streams.At(i);
            // The first parameter word: a video stream's profile, an audio stream's channel count.
            const uint32_t firstWord = r.streamClass == StreamClass::Video ? r.video.profile : r.audio.channels;
            if (r.streamClass == StreamClass::Video && r.streamId == selection->videoId && !video)
                video = &r;
            else if (r.streamClass == StreamClass::Audio && r.streamId == selection->audioId && !audio)
                audio = &r;
            else if (r.streamId == extraTrack && extraValue)
                *extraValue = firstWord;
        }
        TakeSelectedRecords(video, audio, input);
        m_mkvDemux = std::move(demux);
        CopyOutSelection(videoOut, audioOut);
        return S_OK;
    });
}

}  // namespace md
