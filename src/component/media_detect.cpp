#include "component/media_detect.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "component/bitmap_writer.h"
#include "component/elementary_video.h"
#include "component/field_order_scan.h"
#include "component/mp4_field_order.h"
#include "es/mpeg_video.h"
#include "input/held_head_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "input/s3.h"
#include "probe/families.h"
#include "probe/probe.h"
#include "mp4/m4_demux.h"
#include "mpeg/m1_demux.h"
#include "mpeg/m2_demux.h"
#include "mxf/mxf.h"
#include "platform/text.h"
#include "tags/pictures.h"

namespace md {
namespace {

// Copies a record the object owns into the host's buffer.
template <typename Record>
HRESULT CopyOut(const std::unique_ptr<Record>& record, void* out, size_t bytes = sizeof(Record))
{
    if (!record)
        return E_NOTIMPL;
    std::memcpy(out, record.get(), bytes);
    return S_OK;
}

// The program-stream demultiplexer of a media kind, or null for the other kinds.
std::unique_ptr<ProgramStreamDemux> NewProgramStreamDemux(uint32_t kind)
{
    switch (kind) {
    case MK_MPEG1_SYSTEM:
    case MK_VCD: return std::make_unique<M1Demux>();
    case MK_MPEG2_PROGRAM:
    case MK_SVCD:
    case MK_MPEG2_PROGRAM_MPEG4:
    case MK_DVD_VIDEO:
    case MK_DVD_VR: return std::make_unique<M2Demux>();
    default: return nullptr;
    }
}

template <typename T>
void Put(void* out, const T& value)
{
    std::memcpy(out, &value, sizeof(T));
}

}  // namespace

ZPMediaDetect::ZPMediaDetect(IUnknown* outer) : CUnknown(outer) {}

ZPMediaDetect::~ZPMediaDetect()
{
    m_timeTableWorker.Stop();
    Reset();
}

HRESULT ZPMediaDetect::NonDelegatingQueryInterface(REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IMediaDetect5)
        return GetInterface(static_cast<IMediaDetect5*>(this), out);
    if (iid == IID_ITimeTableInfo)
        return GetInterface(static_cast<ITimeTableInfo*>(this), out);
    if (iid == IID_IMediaDetect4 || iid == IID_IMediaDetect3 || iid == IID_IMediaDetect2 || iid == IID_IMediaDetect)
        return GetInterface(static_cast<IMediaDetect5*>(this), out);
    if (iid == IID_IMediaDetectInfo)
        return GetInterface(static_cast<IMediaDetectInfo*>(this), out);
    if (iid == IID_IMediaDetectRemote)
        return GetInterface(static_cast<IMediaDetectRemote*>(this), out);
    if (iid == IID_IMediaDetectTags)
        return GetInterface(static_cast<IMediaDetectTags*>(this), out);
    return CUnknown::NonDelegatingQueryInterface(iid, out);
}

void ZPMediaDetect::ResetRecords()
{
    m_video.reset();
    m_audio.reset();
    m_audioEx.reset();
    m_mpegAudio.reset();
    m_multiChannel.reset();
    m_codecHeaders.reset();
    m_encoderMarker = 0;
    m_fieldCoding = 0;
}

void ZPMediaDetect::Reset()
{
    ResetRecords();
    m_timeRange.reset();
    m_mp4Boxes.reset();
    m_tsDemux.reset();
    m_mkvDemux.reset();
    m_dtvDemux.reset();
    m_fileStreams.reset();
    m_fileTimes = {};
    m_mxfPattern = {};
    m_mp4Flags = {};
    m_videoRotation = 0;
    m_tsRegistrationFlag = 0;
    m_recordingTime = {};
}

// ---- Open ----

HRESULT ZPMediaDetect::OpenFileA(const char* path, uint32_t* kind) noexcept
{
    return Guarded([&] {
        if (path == nullptr || kind == nullptr)
            return E_INVALIDARG;
        // A remote path is UTF-8 and may run longer than a file name.
        const std::string_view head(path, strnlen(path, kMaxRemotePath + 1));
        if (Has(MD_EXT_REMOTE) && IsRemotePath(head)) {
            if (head.size() > kMaxRemotePath)
                return MD_E_PATH_TOO_LONG;
            return Open(Utf8ToWide(head).c_str(), kind);
        }
        wchar_t wide[MAX_PATH];
        // A path that does not fit is refused rather than cut to another file's name.
        if (!AnsiToWideBuffer(path, wide, MAX_PATH))
            return MD_E_PATH_TOO_LONG;
        return Open(wide, kind);
    });
}

HRESULT ZPMediaDetect::OpenFile(const wchar_t* path, uint32_t* kind) noexcept
{
    return Guarded([&] { return Open(path, kind); });
}

HRESULT ZPMediaDetect::Open(const wchar_t* path, uint32_t* kind)
{
    if (path == nullptr || kind == nullptr)
        return E_INVALIDARG;
    const bool remote = Has(MD_EXT_REMOTE) && IsRemotePath(std::wstring_view(path, wcsnlen(path, 8)));
    if (wcsnlen(path, kMaxRemotePath + 1) >= (remote ? kMaxRemotePath + 1 : MAX_PATH))
        return MD_E_PATH_TOO_LONG;
    InputSource source = SourceOf(path);
    HRESULT opened = S_OK;
    const std::unique_ptr<ZPMP::InputStream> stream = source.Open(opened);
    Reset();
    m_source = std::move(source);
    m_tags.Clear();  // the file's own: kept through the selection queries, which reset the records
    m_thumbnail.clear();
    m_cover = {};
    m_errorSession = m_source.Session();
    if (FAILED(opened)) {
        m_kind = MK_UNKNOWN;
        *kind = m_kind;
        return opened;
    }

    // The head the probe reads first is kept: the probe's own later looks at it and the Matroska tag reader's cost
    // no read of the file.
    HeldHeadInputStream head(*stream, kProbeBufferSize);
    head.Seek(0);
    uint32_t probed = static_cast<uint32_t>(ProbeMediaKind(&head, m_containerHint, m_extensions));
    if (probed == MK_MATROSKA_PROBED)
        probed = MK_MATROSKA;
    m_kind = probed;
    if (probed == MK_MPEG2_TRANSPORT || probed == MK_DIRECTV || IsMatroskaFile())
        m_reopenOffset = -1;
    *kind = m_kind;
    if (Has(MD_EXT_TAGS) && IsMatroskaFile()) {  // the tracks wait for the queries; the tags are the file's
        CoverLocation cover;
        ReadMatroskaFileTags(head, m_tags, &cover);
        KeepCover(cover, stream->Size());
    }

    // The program-stream kinds are described by their demultiplexer; transport,
    // DirecTV and Matroska files are served on demand by the queries, and the
    // elementary kinds have nothing more to report unless extensions describe them.
    if (m_kind == MK_MP4) {
        OpenMp4(*stream, kind);
        return S_OK;
    }
    if (FamilyOf(m_kind)) {
        OpenFamily(*stream);
        return S_OK;
    }
    const bool mpegVideo = m_kind == MK_MPEG1_VIDEO_ES || m_kind == MK_MPEG2_VIDEO_ES;
    const bool annexB = m_kind == MK_MPEG4_VIDEO_ES || m_kind == MK_H264_ES || m_kind == MK_HEVC_ES;
    if ((mpegVideo && Has(MD_EXT_MPEG_VIDEO_ES)) || (annexB && Has(MD_EXT_ANNEXB_ES))) {
        OpenElementary(*stream);
        return S_OK;
    }
    const std::unique_ptr<ProgramStreamDemux> demux = NewProgramStreamDemux(m_kind);
    if (!demux)
        return S_OK;
    demux->SetExtensions(m_extensions);
    stream->Seek(0);
    StreamList streams;
    if (demux->Parse(stream.get(), &streams) == 1)
        TakeOpenRecords(streams, demux->VideoStartTime(), *stream, kind);
    return S_OK;
}

InputSource ZPMediaDetect::SourceOf(const wchar_t* path) const
{
    if (!Has(MD_EXT_REMOTE) || !IsRemotePath(std::wstring_view(path, wcsnlen(path, 8))))
        return InputSource::File(path);
    return InputSource::Remote(path, DefaultRemoteOptions());
}

void ZPMediaDetect::TakeOpenRecords(const StreamList& streams, int64_t videoStartTime, ZPMP::InputStream& input,
                                    uint32_t* kind)
{
    const FirstStreams first = FindFirstStreams(streams, RecordBuilder::Open);
    if (first.video) {
        TakeCodecHeaders(*first.video);
        TakeVideo(BuildVideo(*first.video, RecordBuilder::Open), input);
        // A video CD carries 352x240 or 352x288 pictures at 4:3; anything else
        // in such packs is an ordinary MPEG-1 system stream.
        const VideoInfo& v = *m_video;
        const bool vcdPicture =
            v.width == 352 && (v.height == 240 || v.height == 288) && v.aspectX == 4 && v.aspectY == 3;
        if (m_kind == MK_VCD && !vcdPicture) {
            m_kind = MK_MPEG1_SYSTEM;
            *kind = m_kind;
        }
        m_firstVideoTime = videoStartTime;
    }
    if (first.audio)
        TakeAudio(BuildAudio(*first.audio, RecordBuilder::Open));
}

void ZPMediaDetect::OpenElementary(ZPMP::InputStream& input)
{
    const std::unique_ptr<StreamRecord> record = DescribeElementaryVideo(input, m_kind, m_extensions);
    if (!record)
        return;
    TakeCodecHeaders(*record);
    // Described as a selected transport stream's video is: interlaced H.264 as top field first (with
    // MD_EXT_H264_PROFILES as its first picture says), the field order of
    // MPEG-2 video from its pictures -- but a first picture coded with progressive_frame set is a progressive one,
    // as ffprobe and MediaInfo show it, whatever its top_field_first says.
    VideoBuild video = BuildVideo(*record, RecordBuilder::Selection);
    uint32_t order = 0;
    uint8_t progressiveFrame = 0;
    if (video.scan == FieldOrderScan::Mpeg2Picture && FirstPictureCoding(*record, order, progressiveFrame) &&
        progressiveFrame)
        video.scan = FieldOrderScan::None, video.info.fieldOrder = 0;
    TakeVideo(video, input);
}

void ZPMediaDetect::OpenFamily(ZPMP::InputStream& input)
{
    const std::unique_ptr<FileDemux> demux = FamilyOf(m_kind)->make();
    auto streams = std::make_unique<StreamList>();
    demux->SetExtensions(m_extensions);
    input.Seek(0);
    if (demux->Parse(&input, streams.get()) != 1)
        return;
    m_fileTimes = demux->Times();
    m_tags = demux->Tags();
    KeepCover(demux->Cover(), input.Size());
    if (m_kind == MK_MXF)  // the MXF family's demultiplexer
        std::memcpy(m_mxfPattern.data(), static_cast<const MxfDemux&>(*demux).Pattern(), m_mxfPattern.size());
    m_fileStreams = std::move(streams);
    const FirstStreams first = FindFirstStreams(*m_fileStreams, RecordBuilder::File);
    SelectFamilyStreams({first.video ? first.video->streamId : 0, 0, first.audio ? first.audio->streamId : 0, 0},
                        input);
}

void ZPMediaDetect::SelectFamilyStreams(const StreamSelection& selection, ZPMP::InputStream& input)
{
    ResetRecords();
    const StreamRecord* video = nullptr;
    const StreamRecord* audio = nullptr;
    for (uint32_t i = 0; i < m_fileStreams->Count(); ++i) {
        const StreamRecord* r = m_fileStreams->At(i);
        if (r->streamClass == StreamClass::Video && r->streamId == selection.videoId && !video)
            video = r;
        else if (r->streamClass == StreamClass::Audio && r->streamId == selection.audioId && !audio)
            audio = r;
    }
    if (video) {
        TakeCodecHeaders(*video);
        TakeVideo(BuildVideo(*video, RecordBuilder::File), input);
    }
    if (audio) {
        const AudioBuild a = BuildAudio(*audio, RecordBuilder::File);
        if (a.accepted)
            TakeAudio(a);
    }
}

void ZPMediaDetect::OpenMp4(ZPMP::InputStream& input, uint32_t* kind)
{
    auto demux = std::make_unique<M4Demux>();
    demux->SetExtensions(m_extensions);
    input.Seek(0);
    StreamList streams;
    if (demux->Parse(&input, &streams) == 1)
        TakeOpenRecords(streams, demux->VideoStartTime(), input, kind);
    uint8_t hasVideo = 0;
    uint8_t hasAudio = 0;
    demux->GetTrackFlags(hasVideo, hasAudio);
    m_mp4Flags = {.cpgdUuid = demux->HasCpgdUuid(),
                  .cameraFile = demux->IsCameraFile(),
                  .hasVideo = hasVideo,
                  .hasAudio = hasAudio,
                  .moovFirst = demux->IsMoovFirst()};
    m_videoRotation = demux->VideoRotation();
    m_tags = demux->Tags();
    KeepCover(demux->Cover(), input.Size());
    if (demux->IsCameraFile()) {
        Mp4CreationDate date{};
        demux->GetCreationDate(date);
        static_assert(sizeof date == sizeof m_recordingTime);
        std::memcpy(m_recordingTime.data(), &date, sizeof date);
        if (demux->ThumbnailLength() > 0) {
            const auto bytes = demux->Thumbnail();
            m_thumbnail.assign(bytes.begin(), bytes.end());
        }
    }
}

void ZPMediaDetect::TakeVideo(VideoBuild v, ZPMP::InputStream& input)
{
    if ((v.scan == FieldOrderScan::Mp4FirstSample || v.scan == FieldOrderScan::Mp4Slice) && !m_mp4Boxes)
        m_mp4Boxes = ReadMp4Stream(input, Mp4FileRulesOf(m_extensions));
    switch (v.scan) {
    case FieldOrderScan::None: break;
    case FieldOrderScan::Mpeg2Picture: ScanMpeg2FieldOrder(input, v.info.fieldOrder); break;
    case FieldOrderScan::Mp4FirstSample: ScanMp4FirstSampleFieldOrder(m_mp4Boxes, input, v.info.fieldOrder); break;
    case FieldOrderScan::Mp4Slice:
        ScanMp4SliceFieldOrder(m_mp4Boxes, input, v.info.fieldOrder, v.info.frameRate);
        break;
    }
    m_encoderMarker = v.encoderMarker.value_or(0);
    m_fieldCoding = v.fieldCoding.value_or(0);
    m_video = std::make_unique<VideoInfo>(v.info);
}

void ZPMediaDetect::TakeCodecHeaders(const StreamRecord& r)
{
    m_codecHeaders = std::make_unique<CodecHeaderInfo>();
    const auto copy = [](uint8_t* dst, uint32_t& dstLength, const uint8_t* src, int32_t length) {
        dstLength = static_cast<uint32_t>(std::clamp<int32_t>(length, 0, kCodecHeaderBlockSize));
        std::memcpy(dst, src, dstLength);
    };
    copy(m_codecHeaders->header1, m_codecHeaders->header1Length, r.extraData1, r.extraData1Length);
    copy(m_codecHeaders->header2, m_codecHeaders->header2Length, r.extraData2, r.extraData2Length);
}

void ZPMediaDetect::TakeAudio(const AudioBuild& a)
{
    m_audio = std::make_unique<AudioInfo>(a.info);
    if (a.ex)
        m_audioEx = std::make_unique<AudioInfoEx>(*a.ex);
    if (a.mpegAudio)
        m_mpegAudio = std::make_unique<MpegAudioLayerInfo>(*a.mpegAudio);
    if (a.multiChannel)
        m_multiChannel = std::make_unique<MultiChannelInfo>(*a.multiChannel);
    if (a.aacClass)
        m_aacClass = *a.aacClass;
}

HRESULT ZPMediaDetect::ReopenProgramStream(int64_t offset, VideoInfo* videoOut, AudioInfoEx* audioOut) noexcept
{
    return Guarded([&] {
        if (m_kind < MK_MPEG1_SYSTEM || m_kind > MK_DVD_VR)
            return E_INVALIDARG;
        const std::unique_ptr<ProgramStreamDemux> demux = NewProgramStreamDemux(m_kind);
        demux->SetExtensions(m_extensions);
        Reset();
        m_reopenOffset = offset;
        const std::unique_ptr<ZPMP::InputStream> stream = m_source.Open();
        stream->Seek(static_cast<uint64_t>(offset));
        StreamList streams;
        if (demux->Parse(stream.get(), &streams) == 1) {
            const FirstStreams first = FindFirstStreams(streams, RecordBuilder::Reopen);
            if (first.video) {
                TakeVideo(BuildVideo(*first.video, RecordBuilder::Reopen), *stream);
                m_firstVideoTime = demux->VideoStartTime();
            }
            if (first.audio)
                TakeAudio(BuildAudio(*first.audio, RecordBuilder::Reopen));
        }
        CopyOutSelection(videoOut, audioOut);
        return S_OK;
    });
}

void ZPMediaDetect::CopyOutSelection(VideoInfo* videoOut, AudioInfoEx* audioOut)
{
    if (m_video && videoOut)
        std::memcpy(videoOut, m_video.get(), sizeof(VideoInfo));
    if (m_audioEx) {
        if (!m_audio)
            m_audio = std::make_unique<AudioInfo>();
        std::memcpy(m_audio.get(), m_audioEx.get(), sizeof(AudioInfo));
        if (audioOut)
            std::memcpy(audioOut, m_audioEx.get(), sizeof(AudioInfoEx));
    }
}

// ---- Records ----

HRESULT ZPMediaDetect::GetVideoInfoShort(void* out) noexcept
{
    if (out == nullptr || m_kind == MK_UNKNOWN)
        return E_INVALIDARG;
    return CopyOut(m_video, out, kVideoInfoShortSize);
}

HRESULT ZPMediaDetect::GetVideoInfo(VideoInfo* out) noexcept
{
    if (out == nullptr || m_kind == MK_UNKNOWN)
        return E_INVALIDARG;
    return CopyOut(m_video, out);
}

HRESULT ZPMediaDetect::GetAudioInfo(AudioInfo* out) noexcept
{
    if (out == nullptr || m_kind == MK_UNKNOWN)
        return E_INVALIDARG;
    return CopyOut(m_audio, out);
}

HRESULT ZPMediaDetect::GetMpegAudioLayerInfo(MpegAudioLayerInfo* out) noexcept
{
    if (out == nullptr || m_kind == MK_UNKNOWN)
        return E_INVALIDARG;
    return CopyOut(m_mpegAudio, out);
}

HRESULT ZPMediaDetect::GetMultiChannelInfo(MultiChannelInfo* out) noexcept
{
    if (out == nullptr)
        return E_INVALIDARG;
    return m_multiChannel ? CopyOut(m_multiChannel, out) : E_FAIL;
}

// ---- Info values ----

HRESULT ZPMediaDetect::SetInfo(int32_t id, const uint32_t* value) noexcept
{
    if (id != MDI_CONTAINER_HINT && id != MDI_EXTENSIONS)
        return E_INVALIDARG;
    if (value == nullptr)
        return E_POINTER;
    if (id == MDI_EXTENSIONS)
        m_extensions = *value & MD_EXT_ALL;
    else
        m_containerHint = *value;
    return S_OK;
}

HRESULT ZPMediaDetect::GetInfo(int32_t id, void* out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    for (const Mp4FlagInfoId& f : kMp4FlagInfoIds) {
        if (f.id == id) {
            Put(out, m_mp4Flags.*f.flag);
            return S_OK;
        }
    }
    switch (id) {
    case MDI_CODEC_HEADERS: return m_codecHeaders ? CopyOut(m_codecHeaders, out) : E_FAIL;
    case MDI_ENCODER_MARKER: Put(out, m_encoderMarker); return S_OK;
    case MDI_FIRST_VIDEO_TIME: Put(out, m_firstVideoTime); return m_firstVideoTime == -1 ? E_FAIL : S_OK;
    case MDI_FIELD_CODING: Put(out, m_fieldCoding); return S_OK;
    case MDI_RECORDING_TIME: Put(out, m_recordingTime); return S_OK;
    case MDI_THUMBNAIL_LENGTH:
        return Guarded([&] {
            // A picture in base64 is as long as it decodes to: it is read now.
            if (m_cover.base64FlacPicture)
                LoadThumbnail();
            const bool placed = m_thumbnail.empty() && Has(MD_EXT_TAGS) && !m_cover.base64FlacPicture;
            Put(out, placed ? m_cover.length : static_cast<uint32_t>(m_thumbnail.size()));
            return S_OK;
        });
    case MDI_THUMBNAIL:
        return Guarded([&] {
            if (!LoadThumbnail())
                return E_FAIL;
            std::memcpy(out, m_thumbnail.data(), m_thumbnail.size());
            return S_OK;
        });
    case MDI_TS_REGISTRATION: Put(out, m_tsRegistrationFlag); return S_OK;
    case MDI_AAC_CLASS: Put(out, m_aacClass); return S_OK;
    case MDI_EXTENSIONS: Put(out, m_extensions); return S_OK;
    case MDI_DURATION_ESTIMATED: Put(out, uint8_t{m_fileTimes.estimated}); return S_OK;
    case MDI_MODULE_VERSION: Put(out, uint32_t{MD_MODULE_VERSION}); return S_OK;
    case MDI_MXF_PATTERN:
        if (m_kind != MK_MXF)
            return E_INVALIDARG;
        std::memcpy(out, m_mxfPattern.data(), m_mxfPattern.size());
        return m_mxfPattern[0] != 0 ? S_OK : E_FAIL;
    case MDI_REMOTE_STATS: {
        if (!m_source.IsRemote())
            return E_FAIL;
        Put(out, m_source.Session()->Stats());
        return S_OK;
    }
    case MDI_REMOTE_ERROR: {
        const std::string reason = m_errorSession ? m_errorSession->Error() : std::string();
        if (reason.empty())
            return E_FAIL;
        char text[kRemoteErrorSize] = {};
        reason.copy(text, kRemoteErrorSize - 1);
        std::memcpy(out, text, sizeof text);
        return S_OK;
    }
    case MDI_VIDEO_ROTATION:
        if (!Has(MD_EXT_MP4))
            return E_INVALIDARG;
        Put(out, m_videoRotation);
        return S_OK;
    default: return E_INVALIDARG;
    }
}

void ZPMediaDetect::KeepCover(const CoverLocation& cover, uint64_t fileSize)
{
    // A picture whose stated place runs past the end of the file is none.
    m_cover = cover.offset <= fileSize && cover.length <= fileSize - cover.offset ? cover : CoverLocation{};
}

bool ZPMediaDetect::LoadThumbnail()
{
    if (!m_thumbnail.empty())
        return true;
    if (!Has(MD_EXT_TAGS) || !m_cover.Found())
        return false;
    HRESULT opened = S_OK;
    const std::unique_ptr<ZPMP::InputStream> input = m_source.Open(opened);
    if (FAILED(opened) || !input)
        return false;
    std::vector<uint8_t> picture(m_cover.length);  // at most kMaxCoverBytes
    if (ZPMP::ReadAt(*input, m_cover.offset, picture.data(), m_cover.length) != m_cover.length)
        return false;
    if (m_cover.base64FlacPicture) {  // a Vorbis comment's picture block, in base64
        std::vector<uint8_t> block;
        if (!DecodeBase64(Bytes(picture), block))
            return false;
        picture = FlacPictureBytes(Bytes(block));
    }
    m_thumbnail = std::move(picture);
    return !m_thumbnail.empty();
}

// ---- Tags ----

HRESULT ZPMediaDetect::GetTagCount(uint32_t* count) noexcept
{
    if (count == nullptr)
        return E_POINTER;
    *count = Has(MD_EXT_TAGS) ? uint32_t(m_tags.Count()) : 0;
    return Has(MD_EXT_TAGS) ? S_OK : E_INVALIDARG;
}

HRESULT ZPMediaDetect::GetTag(uint32_t index, char* key, uint32_t* keySize, char* value, uint32_t* valueSize) noexcept
{
    return Guarded([&] {
        if (keySize == nullptr || valueSize == nullptr || (key == nullptr && *keySize != 0) ||
            (value == nullptr && *valueSize != 0))
            return E_POINTER;
        if (!Has(MD_EXT_TAGS) || index >= m_tags.Count())
            return E_INVALIDARG;
        const Tag& tag = m_tags.At(index);
        // Both fit in 32 bits: keys and values are bounded by the list's caps.
        const auto keyNeeded = uint32_t(tag.key.size() + 1), valueNeeded = uint32_t(tag.value.size() + 1);
        const bool fits = *keySize >= keyNeeded && *valueSize >= valueNeeded;
        *keySize = keyNeeded;
        *valueSize = valueNeeded;
        if (!fits)
            return MD_E_INSUFFICIENT_BUFFER;
        std::memcpy(key, tag.key.c_str(), keyNeeded);
        std::memcpy(value, tag.value.c_str(), valueNeeded);
        return S_OK;
    });
}

// ---- Time table and bitmaps ----

HRESULT ZPMediaDetect::StartTimeTable(const wchar_t* path, TimeTableCallback callback, void* context) noexcept
{
    if (path == nullptr || callback == nullptr)
        return E_INVALIDARG;
    return Guarded([&] {
        const bool remote = Has(MD_EXT_REMOTE) && IsRemotePath(std::wstring_view(path, wcsnlen(path, 8)));
        if (remote && wcsnlen(path, kMaxRemotePath + 1) > kMaxRemotePath)
            return MD_E_PATH_TOO_LONG;
        // The open file's own source when it is that remote path: its requests count with the open's.
        const InputSource source =
            remote && m_source.IsRemote() && m_source.PathString() == path ? m_source : SourceOf(path);
        HRESULT opened = S_OK;
        std::unique_ptr<ZPMP::InputStream> input = source.Open(opened);
        if (FAILED(opened)) {
            m_errorSession = source.Session();  // MDI_REMOTE_ERROR tells why
            return opened;
        }
        input->Seek(0);
        const auto kind = static_cast<uint32_t>(ProbeMediaKind(input.get(), 0));
        if (kind == MK_UNKNOWN || kind == MK_MPEG2_TRANSPORT)
            return E_FAIL;
        if (!source.IsRemote())
            input.reset();  // the walk opens the file again on its own thread
        // A second table while the first is still being built is refused.
        return m_timeTableWorker.Start(source, std::move(input), kind, callback, context) ? S_OK : E_FAIL;
    });
}

HRESULT ZPMediaDetect::ListRemote(const char* path, uint32_t recursive, RemoteListCallback callback,
                                  void* context) noexcept
{
    if (path == nullptr || callback == nullptr || !Has(MD_EXT_REMOTE))
        return E_INVALIDARG;
    return Guarded([&] {
        const std::string_view text(path, strnlen(path, kMaxRemotePath + 1));
        if (text.size() > kMaxRemotePath)
            return MD_E_PATH_TOO_LONG;
        S3Location location;
        if (!ParseS3Path(text, location))
            return E_INVALIDARG;
        m_errorSession = std::make_shared<RemoteSession>(DefaultRemoteOptions());
        return ListS3(text, recursive != 0, callback, context, *m_errorSession);
    });
}

HRESULT ZPMediaDetect::GetTimeTableProgress(uint32_t* percent) noexcept
{
    if (percent == nullptr)
        return E_INVALIDARG;
    *percent = m_timeTableWorker.Progress();
    return S_OK;
}

HRESULT ZPMediaDetect::StopTimeTable() noexcept
{
    m_timeTableWorker.Stop();
    return S_OK;
}
HRESULT ZPMediaDetect::SaveBitmapA(const uint8_t* pixels, int32_t width, int32_t height, const char* path) noexcept
{
    if (pixels == nullptr)
        return E_INVALIDARG;
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE)
        return E_INVALIDARG;
    return WriteBitmapFile(file, pixels, width, height, 3);
}
HRESULT ZPMediaDetect::SaveBitmap(const uint8_t* pixels, int32_t pixelMode, uint32_t width, uint32_t height,
                                  const wchar_t* path) noexcept
{
    if (pixels == nullptr)
        return E_INVALIDARG;
    const uint32_t bytesPerPixel = pixelMode == 0 ? 3 : pixelMode == 1 ? 4 : 0;
    HANDLE file = CreateFileOsDependent(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE)
        return E_INVALIDARG;
    return WriteBitmapFile(file, pixels, width, height, bytesPerPixel);
}

}  // namespace md
