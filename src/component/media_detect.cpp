#include "component/media_detect.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "component/bitmap_writer.h"
#include "component/field_order_scan.h"
#include "component/mp4_field_order.h"
#include "input/ms_file_input_stream.h"
#include "probe/probe.h"
#include "mp4/m4_demux.h"
#include "mpeg/m1_demux.h"
#include "mpeg/m2_demux.h"
#include "platform/text.h"

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
    timeTableWorker_.Stop();
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
    return CUnknown::NonDelegatingQueryInterface(iid, out);
}

void ZPMediaDetect::Reset()
{
    timeRange_.reset();
    video_.reset();
    audio_.reset();
    audioEx_.reset();
    mpegAudio_.reset();
    multiChannel_.reset();
    codecHeaders_.reset();
    mp4Boxes_.reset();
    tsDemux_.reset();
    mkvDemux_.reset();
    dtvDemux_.reset();
    encoderMarker_ = 0;
    fieldCoding_ = 0;
    mp4Flags_ = {};
    tsRegistrationFlag_ = 0;
    recordingTime_ = {};
}

// ---- Open ----

HRESULT ZPMediaDetect::OpenFileA(const char* path, uint32_t* kind) noexcept
{
    return Guarded([&] {
        if (path == nullptr || kind == nullptr)
            return E_INVALIDARG;
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
    if (std::wcslen(path) >= MAX_PATH)
        return MD_E_PATH_TOO_LONG;
    auto stream = std::make_unique<MSFileInputStream>(path);
    Reset();
    std::wcscpy(path_, path);

    stream->Seek(0);
    uint32_t probed = static_cast<uint32_t>(ProbeMediaKind(stream.get(), containerHint_));
    if (probed == MK_MATROSKA_PROBED)
        probed = MK_MATROSKA;
    kind_ = probed;
    if (probed == MK_MPEG2_TRANSPORT || probed == MK_DIRECTV || probed == MK_MATROSKA)
        reopenOffset_ = -1;
    *kind = kind_;

    // The program-stream kinds are described by their demultiplexer; transport,
    // DirecTV and Matroska files are served on demand by the queries, and the
    // elementary kinds have nothing more to report.
    if (kind_ == MK_MP4) {
        OpenMp4(*stream, kind);
        return S_OK;
    }
    const std::unique_ptr<ProgramStreamDemux> demux = NewProgramStreamDemux(kind_);
    if (!demux)
        return S_OK;
    stream->Seek(0);
    StreamList streams;
    if (demux->Parse(stream.get(), &streams) == 1)
        TakeOpenRecords(streams, demux->VideoStartTime(), *stream, kind);
    return S_OK;
}

void ZPMediaDetect::TakeOpenRecords(const StreamList& streams, int64_t videoStartTime, ZPMP::InputStream& input,
                                    uint32_t* kind)
{
    const FirstStreams first = FindFirstStreams(streams, RecordBuilder::Open);
    if (first.video) {
        TakeCodecHeaders(*first.video);
        VideoBuild v = BuildVideo(*first.video, RecordBuilder::Open);
        if (v.scan == FieldOrderScan::Mpeg2Picture)
            ScanMpeg2FieldOrder(input, v.info.fieldOrder);
        else if (v.scan == FieldOrderScan::Mp4FirstSample)
            ScanMp4FirstSampleFieldOrder(mp4Boxes_, input, v.info.fieldOrder);
        else if (v.scan == FieldOrderScan::Mp4Slice)
            ScanMp4SliceFieldOrder(mp4Boxes_, input, v.info.fieldOrder, v.info.frameRate);
        encoderMarker_ = v.encoderMarker.value_or(0);
        fieldCoding_ = v.fieldCoding.value_or(0);
        video_ = std::make_unique<VideoInfo>(v.info);
        // A video CD carries 352x240 or 352x288 pictures at 4:3; anything else
        // in such packs is an ordinary MPEG-1 system stream.
        const bool vcdPicture = v.info.width == 352 && (v.info.height == 240 || v.info.height == 288) &&
                                v.info.aspectX == 4 && v.info.aspectY == 3;
        if (kind_ == MK_VCD && !vcdPicture) {
            kind_ = MK_MPEG1_SYSTEM;
            *kind = kind_;
        }
        firstVideoTime_ = videoStartTime;
    }
    if (first.audio)
        TakeAudio(BuildAudio(*first.audio, RecordBuilder::Open));
}

void ZPMediaDetect::OpenMp4(ZPMP::InputStream& input, uint32_t* kind)
{
    auto demux = std::make_unique<M4Demux>();
    input.Seek(0);
    StreamList streams;
    if (demux->Parse(&input, &streams) == 1)
        TakeOpenRecords(streams, demux->VideoStartTime(), input, kind);
    uint8_t hasVideo = 0;
    uint8_t hasAudio = 0;
    demux->GetTrackFlags(hasVideo, hasAudio);
    mp4Flags_ = {demux->HasCpgdUuid(), demux->IsCameraFile(), hasVideo, hasAudio, demux->IsMoovFirst()};
    if (demux->IsCameraFile()) {
        Mp4CreationDate date{};
        demux->GetCreationDate(date);
        static_assert(sizeof date == sizeof recordingTime_);
        std::memcpy(recordingTime_.data(), &date, sizeof date);
        if (demux->ThumbnailLength() > 0) {
            const auto bytes = demux->Thumbnail();
            thumbnail_.assign(bytes.begin(), bytes.end());
        }
    }
}

void ZPMediaDetect::TakeCodecHeaders(const StreamRecord& r)
{
    codecHeaders_ = std::make_unique<CodecHeaderInfo>();
    const auto copy = [](uint8_t* dst, uint32_t& dstLength, const uint8_t* src, int32_t length) {
        dstLength = static_cast<uint32_t>(std::clamp<int32_t>(length, 0, kCodecHeaderBlockSize));
        std::memcpy(dst, src, dstLength);
    };
    copy(codecHeaders_->header1, codecHeaders_->header1Length, r.extraData1, r.extraData1Length);
    copy(codecHeaders_->header2, codecHeaders_->header2Length, r.extraData2, r.extraData2Length);
}

void ZPMediaDetect::TakeAudio(const AudioBuild& a)
{
    audio_ = std::make_unique<AudioInfo>(a.info);
    if (a.ex)
        audioEx_ = std::make_unique<AudioInfoEx>(*a.ex);
    if (a.mpegAudio)
        mpegAudio_ = std::make_unique<MpegAudioLayerInfo>(*a.mpegAudio);
    if (a.multiChannel)
        multiChannel_ = std::make_unique<MultiChannelInfo>(*a.multiChannel);
    if (a.aacClass)
        aacClass_ = *a.aacClass;
}

HRESULT ZPMediaDetect::ReopenProgramStream(int64_t offset, VideoInfo* videoOut, AudioInfoEx* audioOut) noexcept
{
    return Guarded([&] {
        if (kind_ < MK_MPEG1_SYSTEM || kind_ > MK_DVD_VR)
            return E_INVALIDARG;
        const std::unique_ptr<ProgramStreamDemux> demux = NewProgramStreamDemux(kind_);
        Reset();
        reopenOffset_ = offset;
        auto stream = std::make_unique<MSFileInputStream>(path_);
        stream->Seek(static_cast<uint64_t>(offset));
        StreamList streams;
        if (demux->Parse(stream.get(), &streams) == 1) {
            const FirstStreams first = FindFirstStreams(streams, RecordBuilder::Reopen);
            if (first.video) {
                VideoBuild v = BuildVideo(*first.video, RecordBuilder::Reopen);
                if (v.scan == FieldOrderScan::Mpeg2Picture)
                    ScanMpeg2FieldOrder(*stream, v.info.fieldOrder);
                video_ = std::make_unique<VideoInfo>(v.info);
                encoderMarker_ = first.video->codec == StreamCodec::Mpeg2Video ? first.video->encoderMarker : 0;
                firstVideoTime_ = demux->VideoStartTime();
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
    if (video_ && videoOut)
        std::memcpy(videoOut, video_.get(), sizeof(VideoInfo));
    if (audioEx_) {
        if (!audio_)
            audio_ = std::make_unique<AudioInfo>();
        std::memcpy(audio_.get(), audioEx_.get(), sizeof(AudioInfo));
        if (audioOut)
            std::memcpy(audioOut, audioEx_.get(), sizeof(AudioInfoEx));
    }
}

// ---- Records ----

HRESULT ZPMediaDetect::GetVideoInfoShort(void* out) noexcept
{
    if (out == nullptr || kind_ == MK_UNKNOWN)
        return E_INVALIDARG;
    return CopyOut(video_, out, kVideoInfoShortSize);
}

HRESULT ZPMediaDetect::GetVideoInfo(VideoInfo* out) noexcept
{
    if (out == nullptr || kind_ == MK_UNKNOWN)
        return E_INVALIDARG;
    return CopyOut(video_, out);
}

HRESULT ZPMediaDetect::GetAudioInfo(AudioInfo* out) noexcept
{
    if (out == nullptr || kind_ == MK_UNKNOWN)
        return E_INVALIDARG;
    return CopyOut(audio_, out);
}

HRESULT ZPMediaDetect::GetMpegAudioLayerInfo(MpegAudioLayerInfo* out) noexcept
{
    if (out == nullptr || kind_ == MK_UNKNOWN)
        return E_INVALIDARG;
    return CopyOut(mpegAudio_, out);
}

HRESULT ZPMediaDetect::GetMultiChannelInfo(MultiChannelInfo* out) noexcept
{
    if (out == nullptr)
        return E_INVALIDARG;
    return multiChannel_ ? CopyOut(multiChannel_, out) : E_FAIL;
}

// ---- Info values ----

HRESULT ZPMediaDetect::SetInfo(int32_t id, const uint32_t* value) noexcept
{
    if (id != MDI_CONTAINER_HINT)
        return E_INVALIDARG;
    if (value == nullptr)
        return E_POINTER;
    containerHint_ = *value;
    return S_OK;
}

HRESULT ZPMediaDetect::GetInfo(int32_t id, void* out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    switch (id) {
    case MDI_CODEC_HEADERS: return codecHeaders_ ? CopyOut(codecHeaders_, out) : E_FAIL;
    case MDI_ENCODER_MARKER: Put(out, encoderMarker_); return S_OK;
    case MDI_FIRST_VIDEO_TIME: Put(out, firstVideoTime_); return firstVideoTime_ == -1 ? E_FAIL : S_OK;
    case MDI_FIELD_CODING: Put(out, fieldCoding_); return S_OK;
    case MDI_CPGD_UUID: Put(out, mp4Flags_[0]); return S_OK;
    case MDI_CAMERA_FILE: Put(out, mp4Flags_[1]); return S_OK;
    case MDI_RECORDING_TIME: Put(out, recordingTime_); return S_OK;
    case MDI_THUMBNAIL_LENGTH: Put(out, static_cast<uint32_t>(thumbnail_.size())); return S_OK;
    case MDI_THUMBNAIL:
        if (thumbnail_.empty())
            return E_FAIL;
        std::memcpy(out, thumbnail_.data(), thumbnail_.size());
        return S_OK;
    case MDI_MOOV_FIRST: Put(out, mp4Flags_[4]); return S_OK;
    case MDI_TS_REGISTRATION: Put(out, tsRegistrationFlag_); return S_OK;
    case MDI_HAS_VIDEO: Put(out, mp4Flags_[2]); return S_OK;
    case MDI_HAS_AUDIO: Put(out, mp4Flags_[3]); return S_OK;
    case MDI_AAC_CLASS: Put(out, aacClass_); return S_OK;
    default: return E_INVALIDARG;
    }
}

// ---- Time table and bitmaps ----

HRESULT ZPMediaDetect::StartTimeTable(const wchar_t* path, TimeTableCallback callback, void* context) noexcept
{
    if (path == nullptr || callback == nullptr)
        return E_INVALIDARG;
    return Guarded([&] {
        uint32_t kind = MK_UNKNOWN;
        {
            MSFileInputStream input(path);
            input.Seek(0);
            kind = static_cast<uint32_t>(ProbeMediaKind(&input, 0));
        }
        if (kind == MK_UNKNOWN || kind == MK_MPEG2_TRANSPORT)
            return E_FAIL;
        // A second table while the first is still being built is refused.
        return timeTableWorker_.Start(path, kind, callback, context) ? S_OK : E_FAIL;
    });
}

HRESULT ZPMediaDetect::GetTimeTableProgress(uint32_t* percent) noexcept
{
    if (percent == nullptr)
        return E_INVALIDARG;
    *percent = timeTableWorker_.Progress();
    return S_OK;
}

HRESULT ZPMediaDetect::StopTimeTable() noexcept
{
    timeTableWorker_.Stop();
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
