/* The detector's interfaces and identifiers, for C11 and C++ hosts (see com.h for how each
 * interface's method list becomes a C++ class or a C table). */
#pragma once

#include "mediadetect/com.h"
#include "mediadetect/records.h"

// {5a486531-0201-43e0-bd81-d544bb08d0dc} "Zephon Mpeg Detect Library"
MD_CONST CLSID CLSID_ZPMediaDetect = {0x5a486531, 0x0201, 0x43e0, {0xbd, 0x81, 0xd5, 0x44, 0xbb, 0x08, 0xd0, 0xdc}};

// The five detect identifiers name one method table (IMediaDetect5 extends the
// other four in one chain), so all five return the same pointer.
MD_CONST IID IID_IMediaDetect5 = {0x2c21a4b6, 0xc51a, 0x4990, {0xb4, 0x40, 0xb0, 0x84, 0x15, 0x34, 0xf7, 0x3a}};
MD_CONST IID IID_IMediaDetect4 = {0x2d070527, 0x5f3f, 0x4a0c, {0xb4, 0x26, 0x2e, 0x59, 0x8f, 0x6d, 0x47, 0x0d}};
MD_CONST IID IID_IMediaDetect3 = {0xe15dd35f, 0x55dc, 0x4ef1, {0xa4, 0x84, 0xf1, 0x74, 0x8d, 0x2a, 0xb5, 0x40}};
MD_CONST IID IID_IMediaDetect2 = {0x1376fc15, 0xa0aa, 0x4120, {0x9f, 0x27, 0x11, 0x2a, 0x05, 0x63, 0xb4, 0x6b}};
MD_CONST IID IID_IMediaDetect = {0x5f3d5012, 0xf8a8, 0x402f, {0x97, 0xcf, 0x92, 0x7f, 0xe4, 0x9b, 0xa9, 0xed}};
MD_CONST IID IID_ITimeTableInfo = {0xd57b64f7, 0x8728, 0x4717, {0xbd, 0x9c, 0xa0, 0x97, 0x19, 0xa0, 0x6b, 0xa0}};
MD_CONST IID IID_IMediaDetectInfo = {0xf02891c9, 0xb0ec, 0x431f, {0xa4, 0xff, 0x5c, 0xd5, 0x2e, 0x60, 0x64, 0x42}};

// The external time-index component the time-table worker feeds.
MD_CONST CLSID CLSID_TimeIndex = {0x77a35c3a, 0x021b, 0x431f, {0x96, 0xf6, 0xeb, 0xf1, 0x60, 0x89, 0x0d, 0x93}};
MD_CONST IID IID_ITimeIndex = {0x6625029a, 0xf578, 0x48ed, {0x8d, 0x43, 0xc9, 0x42, 0x80, 0x2a, 0xfa, 0xb2}};

// Slots from 3 on; the comment after each gives its slot.
#define MD_IMEDIADETECT5_METHODS(M, M0, T)                                                                   \
    M(T, HRESULT, OpenFileA, const char* path, uint32_t* kind)                                   /* 3 */  \
    M(T, HRESULT, GetDuration, int64_t* duration)                                                /* 4 */  \
    M(T, HRESULT, GetTimeRangeInfo, TimeRangeInfo* out)                                          /* 5 */  \
    M(T, HRESULT, GetVideoInfoShort, void* out)                                                  /* 6 */  \
    M(T, HRESULT, GetAudioInfo, AudioInfo* out)                                                  /* 7 */  \
    M(T, HRESULT, GetMpegAudioLayerInfo, MpegAudioLayerInfo* out)                                /* 8 */  \
    M0(T, HRESULT, Reserved1)                                                                    /* 9 */  \
    M(T, HRESULT, SaveBitmapA, const uint8_t* pixels, int32_t width, int32_t height, const char* path) /* 10 */ \
    M(T, HRESULT, OpenFile, const wchar_t* path, uint32_t* kind)                                 /* 11 */ \
    M(T, HRESULT, GetVideoInfo, VideoInfo* out)                                                  /* 12 */ \
    M0(T, HRESULT, Reserved2)                                                                    /* 13 */ \
    M(T, HRESULT, SaveBitmap, const uint8_t* pixels, int32_t pixelMode, uint32_t width, uint32_t height,  \
      const wchar_t* path)                                                                       /* 14 */ \
    M(T, HRESULT, GetMultiChannelInfo, MultiChannelInfo* out)                                    /* 15 */ \
    M(T, HRESULT, GetTransportPrograms, uint32_t* count, uint32_t* pmtPids, int64_t offset)      /* 16 */ \
    M(T, HRESULT, GetStreamLists, uint32_t program, int32_t* videoCount, uint32_t* videoIds,            \
      int32_t* audioCount, uint32_t* audioIds, int64_t offset)                                   /* 17 */ \
    M(T, HRESULT, SelectTransportProgram, const StreamSelection* selection, int64_t offset,             \
      VideoInfo* video, AudioInfoEx* audio)                                                      /* 18 */ \
    M(T, HRESULT, ReopenProgramStream, int64_t offset, VideoInfo* video, AudioInfoEx* audio)     /* 19 */ \
    M(T, HRESULT, SelectMatroskaTracks, const StreamSelection* selection, uint32_t extraTrack,          \
      uint64_t unused, VideoInfo* video, AudioInfoEx* audio, uint32_t* extraValue)               /* 20 */ \
    M(T, HRESULT, GetSubtitleTracks, uint32_t* count, uint32_t* trackNumbers, int64_t offset)    /* 21 */
MD_INTERFACE(IMediaDetect5, MD_IMEDIADETECT5_METHODS)

#define MD_IMEDIADETECTINFO_METHODS(M, M0, T)                \
    M(T, HRESULT, SetInfo, int32_t id, const uint32_t* value) /* 3 */ \
    M(T, HRESULT, GetInfo, int32_t id, void* out)             /* 4 */
MD_INTERFACE(IMediaDetectInfo, MD_IMEDIADETECTINFO_METHODS)

MD_EXTERN_C_BEGIN
typedef void (*TimeTableCallback)(void* context, uint32_t result);
/* One object of a remote listing: its path as OpenFile takes it (UTF-8) and its size in bytes. Return 0 to go on,
 * anything else to stop the listing (ListRemote then returns S_FALSE). */
typedef int32_t (*RemoteListCallback)(void* context, const char* path, uint64_t size);
MD_EXTERN_C_END

// Remote listings (MD_EXT_REMOTE), reached by QueryInterface on the detector.
// {c17e4b6c-4773-42c7-aa2e-b1ce8e515322}
MD_CONST IID IID_IMediaDetectRemote = {0xc17e4b6c, 0x4773, 0x42c7, {0xaa, 0x2e, 0xb1, 0xce, 0x8e, 0x51, 0x53, 0x22}};

// ListRemote: every object under an s3://bucket/prefix path (UTF-8), in key order, all pages of the listing;
// recursive 0 stops at the next '/' after the prefix (folders are not reported). E_INVALIDARG for a path that is
// not s3:// or without MD_EXT_REMOTE; the file errors of OpenFile (MDI_REMOTE_ERROR tells why) otherwise.
#define MD_IMEDIADETECTREMOTE_METHODS(M, M0, T)                                                      \
    M(T, HRESULT, ListRemote, const char* path, uint32_t recursive, RemoteListCallback callback, void* context) /* 3 */
MD_INTERFACE(IMediaDetectRemote, MD_IMEDIADETECTREMOTE_METHODS)

#define MD_ITIMETABLEINFO_METHODS(M, M0, T)                                                     \
    M(T, HRESULT, StartTimeTable, const wchar_t* path, TimeTableCallback callback, void* context) /* 3 */ \
    M(T, HRESULT, GetTimeTableProgress, uint32_t* percent)                                      /* 4 */ \
    M0(T, HRESULT, StopTimeTable)                                                               /* 5 */
MD_INTERFACE(ITimeTableInfo, MD_ITIMETABLEINFO_METHODS)

// The time-index component's interface: 43 slots, of which the time-table
// worker uses four; every other slot from 3 to 41 answers E_NOTIMPL. A table
// collects (type, time, data) entries for one media file and is stored when
// it is closed.
#define MD_UNUSED_SLOTS4(M0, T, a, b, c, d) M0(T, HRESULT, Unused##a) M0(T, HRESULT, Unused##b) \
    M0(T, HRESULT, Unused##c) M0(T, HRESULT, Unused##d)
#define MD_ITIMEINDEX_METHODS(M, M0, T)                                                              \
    MD_UNUSED_SLOTS4(M0, T, 3, 4, 5, 6)                                                              \
    /* 7: opens a new, empty table for the file at path; *table receives its handle. */              \
    M(T, HRESULT, OpenTable, const wchar_t* path, uint32_t reserved, uint32_t* table, uint32_t reserved2) \
    /* 8: stores the table (replacing the file's previous one) and ends the handle. */               \
    M(T, HRESULT, CloseTable, uint32_t table, uint32_t reserved)                                     \
    MD_UNUSED_SLOTS4(M0, T, 9, 10, 11, 12) MD_UNUSED_SLOTS4(M0, T, 13, 14, 15, 16)                   \
    MD_UNUSED_SLOTS4(M0, T, 17, 18, 19, 20) MD_UNUSED_SLOTS4(M0, T, 21, 22, 23, 24)                  \
    MD_UNUSED_SLOTS4(M0, T, 25, 26, 27, 28) MD_UNUSED_SLOTS4(M0, T, 29, 30, 31, 32)                  \
    /* 33: removes the entries of a type whose time lies in [from, to] (to -1: to the end). */       \
    M(T, HRESULT, RemoveEntries, uint32_t table, uint32_t type, int64_t from, int64_t to)            \
    MD_UNUSED_SLOTS4(M0, T, 34, 35, 36, 37) MD_UNUSED_SLOTS4(M0, T, 38, 39, 40, 41)                  \
    /* 42: appends an entry: its type, its time and size bytes of data. */                           \
    M(T, HRESULT, AddEntry, uint32_t table, uint32_t type, int64_t time, uint32_t size, const void* data)
MD_INTERFACE(ITimeIndex, MD_ITIMEINDEX_METHODS)

// The entry type the time-table worker adds: data is the signed 64-bit byte
// position of a pack, time its presentation time in 100-ns units.
enum { kTimeIndexPackEntry = 31 };

// What a file says about itself (MD_EXT_TAGS), reached by QueryInterface on the detector: the tags of the last
// open as an ordered list of (key, value) pairs in UTF-8 (common keys such as "title", "artist", "date",
// "creation_time", "location", "make", "model"; others prefixed by their tag system, "id3:TBPM").
// {19b4e459-201e-46fa-b126-539a25880b1c}
MD_CONST IID IID_IMediaDetectTags = {0x19b4e459, 0x201e, 0x46fa, {0xb1, 0x26, 0x53, 0x9a, 0x25, 0x88, 0x0b, 0x1c}};
/* A buffer too small for a tag's key or value (HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)). */
#define MD_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007Au)

// GetTagCount: the number of tags (0 without MD_EXT_TAGS or before an open). GetTag: the tag at index, key and
// value NUL-terminated; keySize and valueSize give the buffers' sizes in bytes and receive the sizes the tag needs,
// terminators included. MD_E_INSUFFICIENT_BUFFER (nothing copied) when either buffer is too small (a null buffer
// of size 0 asks for the sizes), E_POINTER for a null count or size or a null buffer of a size above 0,
// E_INVALIDARG for an index past the count, or for either method without MD_EXT_TAGS.
#define MD_IMEDIADETECTTAGS_METHODS(M, M0, T)                                                                  \
    M(T, HRESULT, GetTagCount, uint32_t* count)                                                   /* 3 */  \
    M(T, HRESULT, GetTag, uint32_t index, char* key, uint32_t* keySize, char* value, uint32_t* valueSize) /* 4 */
MD_INTERFACE(IMediaDetectTags, MD_IMEDIADETECTTAGS_METHODS)
