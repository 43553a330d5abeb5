// The detector's interfaces, identifiers and module entry points.
#pragma once

#include "mediadetect/com.h"
#include "mediadetect/records.h"

// {5a486531-0201-43e0-bd81-d544bb08d0dc} "Zephon Mpeg Detect Library"
constexpr CLSID CLSID_ZPMediaDetect = {0x5a486531, 0x0201, 0x43e0, {0xbd, 0x81, 0xd5, 0x44, 0xbb, 0x08, 0xd0, 0xdc}};

// The five detect identifiers name one method table (IMediaDetect5 extends the
// other four in one chain), so all five return the same pointer.
constexpr IID IID_IMediaDetect5 = {0x2c21a4b6, 0xc51a, 0x4990, {0xb4, 0x40, 0xb0, 0x84, 0x15, 0x34, 0xf7, 0x3a}};
constexpr IID IID_IMediaDetect4 = {0x2d070527, 0x5f3f, 0x4a0c, {0xb4, 0x26, 0x2e, 0x59, 0x8f, 0x6d, 0x47, 0x0d}};
constexpr IID IID_IMediaDetect3 = {0xe15dd35f, 0x55dc, 0x4ef1, {0xa4, 0x84, 0xf1, 0x74, 0x8d, 0x2a, 0xb5, 0x40}};
constexpr IID IID_IMediaDetect2 = {0x1376fc15, 0xa0aa, 0x4120, {0x9f, 0x27, 0x11, 0x2a, 0x05, 0x63, 0xb4, 0x6b}};
constexpr IID IID_IMediaDetect = {0x5f3d5012, 0xf8a8, 0x402f, {0x97, 0xcf, 0x92, 0x7f, 0xe4, 0x9b, 0xa9, 0xed}};
constexpr IID IID_ITimeTableInfo = {0xd57b64f7, 0x8728, 0x4717, {0xbd, 0x9c, 0xa0, 0x97, 0x19, 0xa0, 0x6b, 0xa0}};
constexpr IID IID_IMediaDetectInfo = {0xf02891c9, 0xb0ec, 0x431f, {0xa4, 0xff, 0x5c, 0xd5, 0x2e, 0x60, 0x64, 0x42}};

// The external time-index component the time-table worker feeds.
constexpr CLSID CLSID_TimeIndex = {0x77a35c3a, 0x021b, 0x431f, {0x96, 0xf6, 0xeb, 0xf1, 0x60, 0x89, 0x0d, 0x93}};
constexpr IID IID_ITimeIndex = {0x6625029a, 0xf578, 0x48ed, {0x8d, 0x43, 0xc9, 0x42, 0x80, 0x2a, 0xfa, 0xb2}};

struct IMediaDetect5 : IUnknown {
    virtual HRESULT OpenFileA(const char* path, uint32_t* kind) = 0;                        // 3
    virtual HRESULT GetDuration(int64_t* duration) = 0;                                     // 4
    virtual HRESULT GetTimeRangeInfo(TimeRangeInfo* out) = 0;                               // 5
    virtual HRESULT GetVideoInfoShort(void* out) = 0;                                       // 6
    virtual HRESULT GetAudioInfo(AudioInfo* out) = 0;                                       // 7
    virtual HRESULT GetMpegAudioLayerInfo(MpegAudioLayerInfo* out) = 0;                     // 8
    virtual HRESULT Reserved1() = 0;                                                        // 9
    virtual HRESULT SaveBitmapA(const uint8_t* pixels, int32_t width, int32_t height,
                                const char* path) = 0;                                      // 10
    virtual HRESULT OpenFile(const wchar_t* path, uint32_t* kind) = 0;                      // 11
    virtual HRESULT GetVideoInfo(VideoInfo* out) = 0;                                       // 12
    virtual HRESULT Reserved2() = 0;                                                        // 13
    virtual HRESULT SaveBitmap(const uint8_t* pixels, int32_t pixelMode, uint32_t width, uint32_t height,
                               const wchar_t* path) = 0;                                    // 14
    virtual HRESULT GetMultiChannelInfo(MultiChannelInfo* out) = 0;                         // 15
    virtual HRESULT GetTransportPrograms(uint32_t* count, uint32_t* pmtPids, int64_t offset) = 0;  // 16
    virtual HRESULT GetStreamLists(uint32_t program, int32_t* videoCount, uint32_t* videoIds,
                                   int32_t* audioCount, uint32_t* audioIds, int64_t offset) = 0;   // 17
    virtual HRESULT SelectTransportProgram(const StreamSelection* selection, int64_t offset, VideoInfo* video,
                                           AudioInfoEx* audio) = 0;                         // 18
    virtual HRESULT ReopenProgramStream(int64_t offset, VideoInfo* video, AudioInfoEx* audio) = 0;  // 19
    virtual HRESULT SelectMatroskaTracks(const StreamSelection* selection, uint32_t extraTrack, uint64_t unused,
                                         VideoInfo* video, AudioInfoEx* audio, uint32_t* extraValue) = 0;  // 20
    virtual HRESULT GetSubtitleTracks(uint32_t* count, uint32_t* trackNumbers, int64_t offset) = 0;  // 21
};

struct IMediaDetectInfo : IUnknown {
    virtual HRESULT SetInfo(int32_t id, const uint32_t* value) = 0;  // 3
    virtual HRESULT GetInfo(int32_t id, void* out) = 0;              // 4
};

extern "C" {
typedef void (*TimeTableCallback)(void* context, uint32_t result);
}

struct ITimeTableInfo : IUnknown {
    virtual HRESULT StartTimeTable(const wchar_t* path, TimeTableCallback callback, void* context) = 0;  // 3
    virtual HRESULT GetTimeTableProgress(uint32_t* percent) = 0;                                         // 4
    virtual HRESULT StopTimeTable() = 0;                                                                 // 5
};

// The time-index component's interface: 43 slots, of which the time-table
// worker uses four; every other slot from 3 to 41 answers E_NOTIMPL. A table
// collects (type, time, data) entries for one media file and is stored when
// it is closed.
#define MD_TIME_INDEX_UNUSED_SLOT(n) virtual HRESULT Unused##n() = 0;
struct ITimeIndex : IUnknown {
    MD_TIME_INDEX_UNUSED_SLOT(3) MD_TIME_INDEX_UNUSED_SLOT(4) MD_TIME_INDEX_UNUSED_SLOT(5)
    MD_TIME_INDEX_UNUSED_SLOT(6)
    // 7: opens a new, empty table for the file at path; *table receives its handle.
    virtual HRESULT OpenTable(const wchar_t* path, uint32_t reserved, uint32_t* table, uint32_t reserved2) = 0;
    // 8: stores the table (replacing the file's previous one) and ends the handle.
    virtual HRESULT CloseTable(uint32_t table, uint32_t reserved) = 0;
    MD_TIME_INDEX_UNUSED_SLOT(9) MD_TIME_INDEX_UNUSED_SLOT(10) MD_TIME_INDEX_UNUSED_SLOT(11)
    MD_TIME_INDEX_UNUSED_SLOT(12) MD_TIME_INDEX_UNUSED_SLOT(13) MD_TIME_INDEX_UNUSED_SLOT(14)
    MD_TIME_INDEX_UNUSED_SLOT(15) MD_TIME_INDEX_UNUSED_SLOT(16) MD_TIME_INDEX_UNUSED_SLOT(17)
    MD_TIME_INDEX_UNUSED_SLOT(18) MD_TIME_INDEX_UNUSED_SLOT(19) MD_TIME_INDEX_UNUSED_SLOT(20)
    MD_TIME_INDEX_UNUSED_SLOT(21) MD_TIME_INDEX_UNUSED_SLOT(22) MD_TIME_INDEX_UNUSED_SLOT(23)
    MD_TIME_INDEX_UNUSED_SLOT(24) MD_TIME_INDEX_UNUSED_SLOT(25) MD_TIME_INDEX_UNUSED_SLOT(26)
    MD_TIME_INDEX_UNUSED_SLOT(27) MD_TIME_INDEX_UNUSED_SLOT(28) MD_TIME_INDEX_UNUSED_SLOT(29)
    MD_TIME_INDEX_UNUSED_SLOT(30) MD_TIME_INDEX_UNUSED_SLOT(31) MD_TIME_INDEX_UNUSED_SLOT(32)
    // 33: removes the entries of a type whose time lies in [from, to] (to -1: to the end).
    virtual HRESULT RemoveEntries(uint32_t table, uint32_t type, int64_t from, int64_t to) = 0;
    MD_TIME_INDEX_UNUSED_SLOT(34) MD_TIME_INDEX_UNUSED_SLOT(35) MD_TIME_INDEX_UNUSED_SLOT(36)
    MD_TIME_INDEX_UNUSED_SLOT(37) MD_TIME_INDEX_UNUSED_SLOT(38) MD_TIME_INDEX_UNUSED_SLOT(39)
    MD_TIME_INDEX_UNUSED_SLOT(40) MD_TIME_INDEX_UNUSED_SLOT(41)
    // 42: appends an entry: its type, its time and size bytes of data.
    virtual HRESULT AddEntry(uint32_t table, uint32_t type, int64_t time, uint32_t size, const void* data) = 0;
};
#undef MD_TIME_INDEX_UNUSED_SLOT

// The entry type the time-table worker adds: data is the signed 64-bit byte
// position of a pack, time its presentation time in 100-ns units.
constexpr uint32_t kTimeIndexPackEntry = 31;
