// ZPMediaDetect: the detector object a host creates to examine one media file
// at a time. It probes the file, runs the matching demultiplexer once and keeps
// the result records the query methods copy out.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "comserver/com_base.h"
#include "component/record_builders.h"
#include "component/time_table_worker.h"
#include "input/input_stream.h"
#include "input/open_input.h"
#include "mediadetect/interfaces.h"
#include "mp4/mp4_box.h"
#include "mkv/mkv_demux.h"
#include "probe/matroska_plugin.h"
#include "demux/demux.h"
#include "demux/file_demux.h"
#include "demux/tag_list.h"
#include "ts/directv_parser.h"
#include "ts/ts_demux.h"

namespace md {

class ZPMediaDetect final : public CUnknown,
                            public ITimeTableInfo,
                            public IMediaDetect5,
                            public IMediaDetectInfo,
                            public IMediaDetectRemote,
                            public IMediaDetectTags {
public:
    explicit ZPMediaDetect(IUnknown* outer);
    ~ZPMediaDetect() override;

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IUnknown of every interface: forwarded to the controlling unknown.
    HRESULT QueryInterface(REFIID iid, void** out) noexcept override { return GetOwner()->QueryInterface(iid, out); }
    ULONG AddRef() noexcept override { return GetOwner()->AddRef(); }
    ULONG Release() noexcept override { return GetOwner()->Release(); }

    // ITimeTableInfo
    HRESULT StartTimeTable(const wchar_t* path, TimeTableCallback callback, void* context) noexcept override;
    HRESULT GetTimeTableProgress(uint32_t* percent) noexcept override;
    HRESULT StopTimeTable() noexcept override;

    // IMediaDetect5
    HRESULT OpenFileA(const char* path, uint32_t* kind) noexcept override;
    HRESULT GetDuration(int64_t* duration) noexcept override;
    HRESULT GetTimeRangeInfo(TimeRangeInfo* out) noexcept override;
    HRESULT GetVideoInfoShort(void* out) noexcept override;
    HRESULT GetAudioInfo(AudioInfo* out) noexcept override;
    HRESULT GetMpegAudioLayerInfo(MpegAudioLayerInfo* out) noexcept override;
    HRESULT Reserved1() noexcept override { return E_NOTIMPL; }
    HRESULT SaveBitmapA(const uint8_t* pixels, int32_t width, int32_t height, const char* path) noexcept override;
    HRESULT OpenFile(const wchar_t* path, uint32_t* kind) noexcept override;
    HRESULT GetVideoInfo(VideoInfo* out) noexcept override;
    HRESULT Reserved2() noexcept override { return E_NOTIMPL; }
    HRESULT SaveBitmap(const uint8_t* pixels, int32_t pixelMode, uint32_t width, uint32_t height,
                       const wchar_t* path) noexcept override;
    HRESULT GetMultiChannelInfo(MultiChannelInfo* out) noexcept override;
    HRESULT GetTransportPrograms(uint32_t* count, uint32_t* pmtPids, int64_t offset) noexcept override;
    HRESULT GetStreamLists(uint32_t program, int32_t* videoCount, uint32_t* videoIds, int32_t* audioCount,
                           uint32_t* audioIds, int64_t offset) noexcept override;
    HRESULT SelectTransportProgram(const StreamSelection* selection, int64_t offset, VideoInfo* video,
                                   AudioInfoEx* audio) noexcept override;
    HRESULT ReopenProgramStream(int64_t offset, VideoInfo* video, AudioInfoEx* audio) noexcept override;
    HRESULT SelectMatroskaTracks(const StreamSelection* selection, uint32_t extraTrack, uint64_t unused,
                                 VideoInfo* video, AudioInfoEx* audio, uint32_t* extraValue) noexcept override;
    HRESULT GetSubtitleTracks(uint32_t* count, uint32_t* trackNumbers, int64_t offset) noexcept override;

    // IMediaDetectInfo
    HRESULT SetInfo(int32_t id, const uint32_t* value) noexcept override;
    HRESULT GetInfo(int32_t id, void* out) noexcept override;

    // IMediaDetectRemote
    HRESULT ListRemote(const char* path, uint32_t recursive, RemoteListCallback callback,
                       void* context) noexcept override;
    // IMediaDetectTags
    HRESULT GetTagCount(uint32_t* count) noexcept override;
    HRESULT GetTag(uint32_t index, char* key, uint32_t* keySize, char* value, uint32_t* valueSize) noexcept override;

private:
    HRESULT Open(const wchar_t* path, uint32_t* kind);
    // The source of path: remote when MD_EXT_REMOTE is on and the path is a URL.
    InputSource SourceOf(const wchar_t* path) const;
    // Frees the records of the last file; run at the start of every open and re-open.
    void Reset();
    // Frees the result records of the last open or selection alone.
    void ResetRecords();
    // Open: the first video record and the first accepted audio record become the results.
    void TakeOpenRecords(const StreamList& streams, int64_t videoStartTime, ZPMP::InputStream& input,
                         uint32_t* kind);
    // Open of an MP4 file: its records, then the MP4 details.
    void OpenMp4(ZPMP::InputStream& input, uint32_t* kind);
    // Bare elementary streams get a video record only with extensions on.
    void OpenElementary(ZPMP::InputStream& input);
    // Open of a file of the container families beyond MPEG, MP4 and Matroska: its streams and times, kept; the
    // first video and audio stream described.
    void OpenFamily(ZPMP::InputStream& input);
    void TakeCodecHeaders(const StreamRecord& record);
    // Every builder's video: runs the field-order scan the build asks for, keeps
    // the field coding and encoder marker the build took, and stores the record.
    void TakeVideo(VideoBuild v, ZPMP::InputStream& input);
    void TakeAudio(const AudioBuild& audio);
    // Copies the video and extended audio records out as the selection and
    // re-open methods return them, filling the plain audio record from the extended one.
    void CopyOutSelection(VideoInfo* videoOut, AudioInfoEx* audioOut);
    // The selection methods: the first video and first audio record of a list.
    void TakeSelectedRecords(const StreamRecord* video, const StreamRecord* audio, ZPMP::InputStream& input);
    // Rebuilds the kept transport (or DirecTV) demultiplexer unless it was built at offset.
    void KeepTransportDemux(int64_t offset);
    // Builds the kept Matroska demultiplexer when there is none.
    void KeepMkvDemux(int64_t offset);
    // A Matroska file, or a WebM file (read as Matroska).
    bool IsMatroskaFile() const { return m_kind == MK_MATROSKA || m_kind == MK_WEBM; }
    // A file of the container families beyond MPEG, MP4 and Matroska, whose streams the open kept.
    bool IsFamilyFile() const { return m_fileStreams != nullptr; }
    // The selection of a family file's streams by their ids (0: none).
    void SelectFamilyStreams(const StreamSelection& selection, ZPMP::InputStream& input);
    // The ids of a family file's streams of a class, in file order, into ids (when not null); their count.
    uint32_t ListFamilyStreams(StreamClass streamClass, uint32_t* ids) const;
    // Keeps where the open found the cover picture when that lies within the file.
    void KeepCover(const CoverLocation& cover, uint64_t fileSize);
    // The thumbnail the queries serve: a camera file's, else the cover picture (MD_EXT_TAGS), read from the file on
    // the first call; false when there is none or it cannot be read.
    bool LoadThumbnail();
    // Fills m_timeRange as the duration queries need it; false when it cannot be known.
    bool FillTimeRange(bool matroskaRange);

    InputSource m_source;  // the path of the open file, and how to open it again
    // The session of the last remote open or listing: MDI_REMOTE_ERROR tells its failure.
    std::shared_ptr<RemoteSession> m_errorSession;
    uint32_t m_kind = MK_UNKNOWN;
    std::unique_ptr<TimeRangeInfo> m_timeRange;
    std::unique_ptr<VideoInfo> m_video;
    std::unique_ptr<AudioInfo> m_audio;
    std::unique_ptr<AudioInfoEx> m_audioEx;
    std::unique_ptr<MpegAudioLayerInfo> m_mpegAudio;
    std::unique_ptr<MultiChannelInfo> m_multiChannel;
    TimeTableWorker m_timeTableWorker;
    std::unique_ptr<Mp4Box> m_mp4Boxes;  // read on demand by the MP4 field-order and time-range scans
    std::unique_ptr<TSDemux> m_tsDemux;
    int64_t m_reopenOffset = -1;
    MatroskaDemuxPtr m_mkvDemux;  // made and destroyed by the Matroska code
    std::unique_ptr<CDirecTVParser> m_dtvDemux;
    std::unique_ptr<StreamList> m_fileStreams;  // a family file's streams, from its open
    FileTimes m_fileTimes;                      // and its times
    std::array<char, 16> m_mxfPattern{};        // an MXF file's operational pattern ("OP1a"), from its open
    std::unique_ptr<CodecHeaderInfo> m_codecHeaders;
    TagList m_tags;  // what the file says about itself (MD_EXT_TAGS), from its open
    uint8_t m_encoderMarker = 0;
    int64_t m_firstVideoTime = -1;
    uint32_t m_fieldCoding = 0;
    Mp4Flags m_mp4Flags{};
    uint32_t m_videoRotation = 0;  // clockwise degrees of the first MP4 video track (MD_EXT_MP4)
    uint8_t m_tsRegistrationFlag = 0;
    std::array<uint8_t, 16> m_recordingTime{};
    std::vector<uint8_t> m_thumbnail;  // a camera file's, from its open; or the cover, once read
    CoverLocation m_cover;             // where the file's cover picture lies (MD_EXT_TAGS), from its open
    uint32_t m_containerHint = 0;
    uint32_t m_extensions = 0;  // MD_EXT_* bits the host turned on
    bool Has(uint32_t extension) const { return (m_extensions & extension) != 0; }
    uint32_t m_aacClass = 0;
};

}  // namespace md
