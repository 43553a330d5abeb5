/* A host written in C11 against the published header alone (mediadetect/mediadetect.h: the
 * records, identifiers and the interfaces as C tables), driving the module through dlopen.
 * Usage: c_host MODULE.so MEDIA_FILE
 * Prints one line per check and "N passed, N failed".
 *    or: c_host MODULE.so --every-query FILE...
 * Opens each file in the base behaviour and with every extension on, and asks every query a host can ask (each
 * getter, each info id, the program, stream and track lists and selections, the re-open); prints the kind of each
 * file, and fails only when an open does (the run under a memory checker is the test). */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "mediadetect/mediadetect.h"

/* The tables' slots as C sees them, checked against the published slot numbers. */
_Static_assert(offsetof(IMediaDetect5Vtbl, OpenFileA) == 3 * sizeof(void*), "slot 3");
_Static_assert(offsetof(IMediaDetect5Vtbl, Reserved1) == 9 * sizeof(void*), "slot 9");
_Static_assert(offsetof(IMediaDetect5Vtbl, GetSubtitleTracks) == 21 * sizeof(void*), "slot 21");
_Static_assert(offsetof(ITimeIndexVtbl, AddEntry) == 42 * sizeof(void*), "slot 42");

static const GUID kOtherClsid = {0x5a486531, 0x0201, 0x43e0, {0xbd, 0x81, 0xd5, 0x44, 0xbb, 0x08, 0xd0, 0xdd}};
/* The published identifiers, spelled out so that a wrong one in the header is caught:
 * IMediaDetect5, then IMediaDetect, 2, 3 and 4, which name the same table. */
static const GUID kIidDetect[5] = {
    {0x2c21a4b6, 0xc51a, 0x4990, {0xb4, 0x40, 0xb0, 0x84, 0x15, 0x34, 0xf7, 0x3a}},
    {0x5f3d5012, 0xf8a8, 0x402f, {0x97, 0xcf, 0x92, 0x7f, 0xe4, 0x9b, 0xa9, 0xed}},
    {0x1376fc15, 0xa0aa, 0x4120, {0x9f, 0x27, 0x11, 0x2a, 0x05, 0x63, 0xb4, 0x6b}},
    {0xe15dd35f, 0x55dc, 0x4ef1, {0xa4, 0x84, 0xf1, 0x74, 0x8d, 0x2a, 0xb5, 0x40}},
    {0x2d070527, 0x5f3f, 0x4a0c, {0xb4, 0x26, 0x2e, 0x59, 0x8f, 0x6d, 0x47, 0x0d}}};
static const GUID kIidTimeTable = {0xd57b64f7, 0x8728, 0x4717, {0xbd, 0x9c, 0xa0, 0x97, 0x19, 0xa0, 0x6b, 0xa0}};
static const GUID kIidInfo = {0xf02891c9, 0xb0ec, 0x431f, {0xa4, 0xff, 0x5c, 0xd5, 0x2e, 0x60, 0x64, 0x42}};

static int passed, failed;

static void check(int ok, const char* what)
{
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    ok ? ++passed : ++failed;
}

/* A controlling unknown for the aggregation check. */
typedef struct {
    IUnknown base;
    uint32_t refs;
    IUnknown* inner;
} Outer;

static HRESULT OuterQueryInterface(IUnknown* self, const GUID* iid, void** out)
{
    Outer* o = (Outer*)self;
    if (memcmp(iid, &IID_IUnknown, sizeof(GUID)) == 0) {
        *out = self;
        ++o->refs;
        return 0;
    }
    return o->inner->lpVtbl->QueryInterface(o->inner, iid, out);
}
static ULONG OuterAddRef(IUnknown* self) { return ++((Outer*)self)->refs; }
static ULONG OuterRelease(IUnknown* self) { return --((Outer*)self)->refs; }
static const IUnknownVtbl kOuterVtbl = {OuterQueryInterface, OuterAddRef, OuterRelease};

/* Every query of a detector that has opened a file; answers are not checked. */
static void AskEverything(IMediaDetect5* d, IMediaDetectInfo* info)
{
    static CodecHeaderInfo headers;
    static uint8_t out[sizeof(CodecHeaderInfo) + 4096];
    int64_t duration = 0;
    TimeRangeInfo range;
    VideoInfo video;
    AudioInfo audio;
    AudioInfoEx audioEx;
    MpegAudioLayerInfo layer;
    MultiChannelInfo channels;
    d->lpVtbl->GetDuration(d, &duration);
    d->lpVtbl->GetTimeRangeInfo(d, &range);
    d->lpVtbl->GetVideoInfo(d, &video);
    d->lpVtbl->GetVideoInfoShort(d, &video);
    d->lpVtbl->GetAudioInfo(d, &audio);
    d->lpVtbl->GetMpegAudioLayerInfo(d, &layer);
    d->lpVtbl->GetMultiChannelInfo(d, &channels);
    info->lpVtbl->GetInfo(info, MDI_CODEC_HEADERS, &headers);
    uint32_t thumbnail = 0;
    info->lpVtbl->GetInfo(info, MDI_THUMBNAIL_LENGTH, &thumbnail);
    for (int32_t id = 0; id <= 0x1010; id = id == 0x20 ? 0x1000 : id + 1)
        if (id != MDI_THUMBNAIL || thumbnail <= sizeof out)
            info->lpVtbl->GetInfo(info, id, out);

    uint32_t programs[16], videoIds[16], audioIds[16], subtitles[64];
    uint32_t count = 16;
    int32_t videoCount = 0, audioCount = 0;
    if (d->lpVtbl->GetTransportPrograms(d, &count, NULL, 0) == 0 && count <= 16)
        d->lpVtbl->GetTransportPrograms(d, &count, programs, 0);
    else
        count = 0;
    const uint32_t program = count > 0 ? programs[0] : 0;
    if (d->lpVtbl->GetStreamLists(d, program, &videoCount, NULL, &audioCount, NULL, 0) == 0 && videoCount <= 16 &&
        audioCount <= 16 && d->lpVtbl->GetStreamLists(d, program, &videoCount, videoIds, &audioCount, audioIds, 0) == 0) {
        StreamSelection s = {videoCount > 0 ? videoIds[0] : 0, 0, audioCount > 0 ? audioIds[0] : 0, 0};
        uint32_t extra = 0;
        d->lpVtbl->SelectTransportProgram(d, &s, 0, &video, &audioEx);
        d->lpVtbl->SelectMatroskaTracks(d, &s, s.audioId, 0, &video, &audioEx, &extra);
    }
    count = 0;
    if (d->lpVtbl->GetSubtitleTracks(d, &count, NULL, 0) == 0 && count <= 64)
        d->lpVtbl->GetSubtitleTracks(d, &count, subtitles, 0);
    d->lpVtbl->GetDuration(d, &duration);
    d->lpVtbl->GetTimeRangeInfo(d, &range);
    d->lpVtbl->ReopenProgramStream(d, 0, &video, &audioEx);
}

static int EveryQuery(DllGetClassObjectFn getClassObject, int files, char** paths)
{
    IClassFactory* factory = NULL;
    if (getClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory, (void**)&factory) != 0)
        return 2;
    int failures = 0;
    for (int i = 0; i < files; ++i) {
        for (int extended = 0; extended <= 1; ++extended) {
            IMediaDetect5* d = NULL;
            IMediaDetectInfo* info = NULL;
            factory->lpVtbl->CreateInstance(factory, NULL, &kIidDetect[0], (void**)&d);
            d->lpVtbl->QueryInterface(d, &kIidInfo, (void**)&info);
            const uint32_t extensions = extended ? 0xFFFFFFFFu : 0;
            info->lpVtbl->SetInfo(info, MDI_EXTENSIONS, &extensions);
            uint32_t kind = 99;
            const HRESULT hr = d->lpVtbl->OpenFileA(d, paths[i], &kind);
            printf("%s %s: kind %u\n", extended ? "extended" : "base", paths[i], (unsigned)kind);
            if (hr != 0)
                ++failures;
            else
                AskEverything(d, info);
            info->lpVtbl->Release(info);
            d->lpVtbl->Release(d);
        }
    }
    factory->lpVtbl->Release(factory);
    return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc >= 3 && strcmp(argv[2], "--every-query") == 0) {
        void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        DllGetClassObjectFn getClassObject = module ? (DllGetClassObjectFn)dlsym(module, "DllGetClassObject") : NULL;
        if (!getClassObject) {
            fprintf(stderr, "c_host: cannot load %s\n", argv[1]);
            return 2;
        }
        const int status = EveryQuery(getClassObject, argc - 3, argv + 3);
        dlclose(module);
        return status;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: c_host MODULE.so MEDIA_FILE\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    DllGetClassObjectFn getClassObject = (DllGetClassObjectFn)dlsym(module, "DllGetClassObject");
    DllCanUnloadNowFn canUnloadNow = (DllCanUnloadNowFn)dlsym(module, "DllCanUnloadNow");
    check(getClassObject && canUnloadNow && dlsym(module, "DllRegisterServer") && dlsym(module, "DllUnregisterServer"),
          "the four entry points are exported");
    if (!getClassObject || !canUnloadNow)
        return 1;

    void* out = (void*)1;
    check(getClassObject(&kOtherClsid, &IID_IClassFactory, &out) == (HRESULT)0x80040111 && out == NULL,
          "unknown class gives CLASS_E_CLASSNOTAVAILABLE and a null output");
    out = (void*)1;
    check(getClassObject(&CLSID_ZPMediaDetect, &kIidDetect[0], &out) == E_NOINTERFACE && out == NULL,
          "class object only for IUnknown and IClassFactory");
    check(canUnloadNow() == 0, "DllCanUnloadNow is S_OK with nothing alive");

    IClassFactory* factory = NULL;
    check(getClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory, (void**)&factory) == 0 && factory, "factory created");
    if (!factory)
        return 1;
    check(canUnloadNow() == 1, "a live factory keeps the module loaded");
    IClassFactory* again = NULL;
    check(factory->lpVtbl->QueryInterface(factory, &IID_IUnknown, (void**)&again) == 0 && again == factory,
          "factory answers IUnknown with itself");
    again->lpVtbl->Release(again);
    out = (void*)1;
    check(factory->lpVtbl->QueryInterface(factory, &kIidDetect[0], &out) == E_NOINTERFACE && out == NULL &&
              factory->lpVtbl->QueryInterface(factory, &IID_IUnknown, NULL) == E_POINTER,
          "factory: E_NOINTERFACE for other interfaces, E_POINTER for a null output");
    check(factory->lpVtbl->CreateInstance(factory, NULL, &kIidDetect[0], NULL) == E_POINTER,
          "CreateInstance with a null output gives E_POINTER");

    IMediaDetect5* detector = NULL;
    check(factory->lpVtbl->CreateInstance(factory, NULL, &kIidDetect[0], (void**)&detector) == 0 && detector,
          "CreateInstance gives IMediaDetect5");
    for (int i = 0; i < 4; ++i) {
        IMediaDetect5* same = NULL;
        check(detector->lpVtbl->QueryInterface(detector, &kIidDetect[i + 1], (void**)&same) == 0 && same == detector,
              "IMediaDetect, 2, 3 and 4 give the same table as IMediaDetect5");
        same->lpVtbl->Release(same);
    }
    out = (void*)1;
    check(detector->lpVtbl->QueryInterface(detector, &IID_IClassFactory, &out) == E_NOINTERFACE && out == NULL &&
              detector->lpVtbl->QueryInterface(detector, &kIidDetect[0], NULL) == E_POINTER,
          "detector: E_NOINTERFACE for other interfaces, E_POINTER for a null output");
    check(detector->lpVtbl->Reserved1(detector) == E_NOTIMPL &&
              detector->lpVtbl->Reserved2(detector) == E_NOTIMPL,
          "reserved slots 9 and 13 answer E_NOTIMPL");

    uint32_t kind = 99;
    check(detector->lpVtbl->OpenFileA(detector, argv[2], &kind) == 0 && kind == 8,
          "OpenFileA (slot 3) reports the transport stream kind 8");
    wchar_t wide[260];
    size_t n = strlen(argv[2]);
    for (size_t i = 0; i <= n && i < 259; ++i)
        wide[i] = (wchar_t)(unsigned char)argv[2][i];
    wide[259] = 0;
    kind = 99;
    check(detector->lpVtbl->OpenFile(detector, wide, &kind) == 0 && kind == 8, "OpenFile (slot 11) agrees");
    VideoInfo video;
    check(detector->lpVtbl->GetVideoInfo(detector, &video) == E_NOTIMPL,
          "a transport stream has no video record right after the open");

    IMediaDetectInfo* info = NULL;
    IUnknown* tables[3] = {(IUnknown*)detector, NULL, NULL}; /* the detector, IMediaDetectInfo, ITimeTableInfo */
    check(detector->lpVtbl->QueryInterface(detector, &kIidInfo, (void**)&tables[1]) == 0 &&
              detector->lpVtbl->QueryInterface(detector, &kIidTimeTable, (void**)&tables[2]) == 0 && tables[1] &&
              tables[2] && tables[1] != tables[0] && tables[2] != tables[0],
          "IMediaDetectInfo and ITimeTableInfo are tables of their own");
    IUnknown* identities[3] = {NULL, NULL, NULL};
    for (int i = 0; i < 3; ++i)
        tables[i]->lpVtbl->QueryInterface(tables[i], &IID_IUnknown, (void**)&identities[i]);
    check(identities[0] && identities[0] == identities[1] && identities[1] == identities[2],
          "the three tables share one IUnknown");
    for (int i = 0; i < 3; ++i)
        identities[i]->lpVtbl->Release(identities[i]);
    tables[2]->lpVtbl->Release(tables[2]);
    info = (IMediaDetectInfo*)tables[1];
    int64_t first = 0;
    check(info->lpVtbl->GetInfo(info, 6, &first) == (HRESULT)0x80004005 && first == -1,
          "GetInfo 6 writes -1 and fails without video");
    uint32_t hint = 13;
    check(info->lpVtbl->SetInfo(info, 0x1001, &hint) == 0, "SetInfo 0x1001 accepted");
    check(info->lpVtbl->SetInfo(info, 4, &hint) == (HRESULT)0x80070057, "SetInfo of another id refused");
    info->lpVtbl->Release(info);
    check(detector->lpVtbl->Release(detector) == 0, "the last Release destroys the detector");

    Outer outer = {{&kOuterVtbl}, 1, NULL};
    out = (void*)1;
    check(factory->lpVtbl->CreateInstance(factory, &outer.base, &kIidDetect[0], &out) == E_NOINTERFACE &&
              out == NULL,
          "aggregation asking for anything but IUnknown gives E_NOINTERFACE");
    check(factory->lpVtbl->CreateInstance(factory, &outer.base, &IID_IUnknown, (void**)&outer.inner) == 0 &&
              outer.inner,
          "aggregation asking for IUnknown succeeds");
    IMediaDetect5* aggregated = NULL;
    check(outer.inner->lpVtbl->QueryInterface(outer.inner, &kIidDetect[0], (void**)&aggregated) == 0 && outer.refs == 2,
          "the aggregated interface counts references on the outer object");
    IUnknown* identity = NULL;
    aggregated->lpVtbl->QueryInterface(aggregated, &IID_IUnknown, (void**)&identity);
    check(identity == &outer.base, "the aggregated interface's IUnknown is the outer object");
    identity->lpVtbl->Release(identity);
    aggregated->lpVtbl->Release(aggregated);
    check(outer.refs == 1, "the outer object's references are back to its own");
    check(factory->lpVtbl->Release(factory) == 0, "factory released");
    check(canUnloadNow() == 1, "a live (aggregated) detector keeps the module loaded");
    check(outer.inner->lpVtbl->Release(outer.inner) == 0, "the inner object dies with its last reference");
    check(canUnloadNow() == 0, "with nothing alive the module may unload");
    for (int lock = 1; lock >= 0; --lock) {
        getClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory, (void**)&factory);
        check(factory->lpVtbl->LockServer(factory, lock) == 0, "LockServer");
        factory->lpVtbl->Release(factory);
        check(canUnloadNow() == lock, lock ? "a server lock keeps the module loaded" : "unlocked, it may unload");
    }

    dlclose(module);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
