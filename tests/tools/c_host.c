/* A host written in C from the published binary interface alone: it includes
 * none of the project's headers, declares the tables slot by slot itself, and
 * drives the module through dlopen. Usage: c_host MODULE.so MEDIA_FILE
 * Prints one line per check and "N passed, N failed". */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

typedef int32_t HRESULT;
typedef struct {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
} GUID;

/* The three IUnknown slots that start every table. */
#define UNKNOWN_SLOTS(T)                                         \
    HRESULT (*QueryInterface)(T * self, const GUID* iid, void** out); \
    uint32_t (*AddRef)(T * self);                                 \
    uint32_t (*Release)(T * self);

typedef struct Unknown Unknown;
typedef struct {
    UNKNOWN_SLOTS(Unknown)
} UnknownVtbl;
struct Unknown {
    const UnknownVtbl* vtbl;
};

typedef struct ClassFactory ClassFactory;
typedef struct {
    UNKNOWN_SLOTS(ClassFactory)
    HRESULT (*CreateInstance)(ClassFactory* self, Unknown* outer, const GUID* iid, void** out);
    HRESULT (*LockServer)(ClassFactory* self, int32_t lock);
} ClassFactoryVtbl;
struct ClassFactory {
    const ClassFactoryVtbl* vtbl;
};

typedef struct {
    uint32_t format, reserved0;
    double frameRate;
    uint32_t bitRate, width, height, aspectX, aspectY, fieldOrder, profile, reserved1;
} VideoInfo;

typedef struct MediaDetect MediaDetect;
typedef struct {
    UNKNOWN_SLOTS(MediaDetect)
    HRESULT (*OpenFileA)(MediaDetect* self, const char* path, uint32_t* kind); /* 3 */
    HRESULT (*GetDuration)(MediaDetect* self, int64_t* duration);
    HRESULT (*GetTimeRangeInfo)(MediaDetect* self, void* out);
    HRESULT (*GetVideoInfoShort)(MediaDetect* self, void* out);
    HRESULT (*GetAudioInfo)(MediaDetect* self, void* out);
    HRESULT (*GetMpegAudioLayerInfo)(MediaDetect* self, void* out);
    HRESULT (*Reserved1)(MediaDetect* self); /* 9 */
    HRESULT (*SaveBitmapA)(MediaDetect* self, const uint8_t* pixels, int32_t w, int32_t h, const char* path);
    HRESULT (*OpenFile)(MediaDetect* self, const wchar_t* path, uint32_t* kind); /* 11 */
    HRESULT (*GetVideoInfo)(MediaDetect* self, VideoInfo* out);
    HRESULT (*Reserved2)(MediaDetect* self); /* 13 */
} MediaDetectVtbl;
struct MediaDetect {
    const MediaDetectVtbl* vtbl;
};

typedef struct MediaDetectInfo MediaDetectInfo;
typedef struct {
    UNKNOWN_SLOTS(MediaDetectInfo)
    HRESULT (*SetInfo)(MediaDetectInfo* self, int32_t id, const uint32_t* value);
    HRESULT (*GetInfo)(MediaDetectInfo* self, int32_t id, void* out);
} MediaDetectInfoVtbl;
struct MediaDetectInfo {
    const MediaDetectInfoVtbl* vtbl;
};

static const GUID kClsid = {0x5a486531, 0x0201, 0x43e0, {0xbd, 0x81, 0xd5, 0x44, 0xbb, 0x08, 0xd0, 0xdc}};
static const GUID kOtherClsid = {0x5a486531, 0x0201, 0x43e0, {0xbd, 0x81, 0xd5, 0x44, 0xbb, 0x08, 0xd0, 0xdd}};
static const GUID kIidUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID kIidClassFactory = {1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID kIidDetect5 = {0x2c21a4b6, 0xc51a, 0x4990, {0xb4, 0x40, 0xb0, 0x84, 0x15, 0x34, 0xf7, 0x3a}};
/* IMediaDetect, IMediaDetect2, 3 and 4: the same table as IMediaDetect5. */
static const GUID kIidDetectOthers[4] = {
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

enum { E_NOTIMPL = (HRESULT)0x80004001, E_NOINTERFACE = (HRESULT)0x80004002, E_POINTER = (HRESULT)0x80004003 };

/* A controlling unknown for the aggregation check. */
typedef struct {
    Unknown base;
    uint32_t refs;
    Unknown* inner;
} Outer;

static HRESULT OuterQueryInterface(Unknown* self, const GUID* iid, void** out)
{
    Outer* o = (Outer*)self;
    if (memcmp(iid, &kIidUnknown, sizeof(GUID)) == 0) {
        *out = self;
        ++o->refs;
        return 0;
    }
    return o->inner->vtbl->QueryInterface(o->inner, iid, out);
}
static uint32_t OuterAddRef(Unknown* self) { return ++((Outer*)self)->refs; }
static uint32_t OuterRelease(Unknown* self) { return --((Outer*)self)->refs; }
static const UnknownVtbl kOuterVtbl = {OuterQueryInterface, OuterAddRef, OuterRelease};

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: c_host MODULE.so MEDIA_FILE\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    HRESULT (*getClassObject)(const GUID*, const GUID*, void**) =
        (HRESULT(*)(const GUID*, const GUID*, void**))dlsym(module, "DllGetClassObject");
    HRESULT (*canUnloadNow)(void) = (HRESULT(*)(void))dlsym(module, "DllCanUnloadNow");
    check(getClassObject && canUnloadNow && dlsym(module, "DllRegisterServer") && dlsym(module, "DllUnregisterServer"),
          "the four entry points are exported");
    if (!getClassObject || !canUnloadNow)
        return 1;

    void* out = (void*)1;
    check(getClassObject(&kOtherClsid, &kIidClassFactory, &out) == (HRESULT)0x80040111 && out == NULL,
          "unknown class gives CLASS_E_CLASSNOTAVAILABLE and a null output");
    out = (void*)1;
    check(getClassObject(&kClsid, &kIidDetect5, &out) == E_NOINTERFACE && out == NULL,
          "class object only for IUnknown and IClassFactory");
    check(canUnloadNow() == 0, "DllCanUnloadNow is S_OK with nothing alive");

    ClassFactory* factory = NULL;
    check(getClassObject(&kClsid, &kIidClassFactory, (void**)&factory) == 0 && factory, "factory created");
    if (!factory)
        return 1;
    check(canUnloadNow() == 1, "a live factory keeps the module loaded");
    ClassFactory* again = NULL;
    check(factory->vtbl->QueryInterface(factory, &kIidUnknown, (void**)&again) == 0 && again == factory,
          "factory answers IUnknown with itself");
    again->vtbl->Release(again);
    out = (void*)1;
    check(factory->vtbl->QueryInterface(factory, &kIidDetect5, &out) == E_NOINTERFACE && out == NULL &&
              factory->vtbl->QueryInterface(factory, &kIidUnknown, NULL) == E_POINTER,
          "factory: E_NOINTERFACE for other interfaces, E_POINTER for a null output");
    check(factory->vtbl->CreateInstance(factory, NULL, &kIidDetect5, NULL) == E_POINTER,
          "CreateInstance with a null output gives E_POINTER");

    MediaDetect* detector = NULL;
    check(factory->vtbl->CreateInstance(factory, NULL, &kIidDetect5, (void**)&detector) == 0 && detector,
          "CreateInstance gives IMediaDetect5");
    for (int i = 0; i < 4; ++i) {
        MediaDetect* same = NULL;
        check(detector->vtbl->QueryInterface(detector, &kIidDetectOthers[i], (void**)&same) == 0 && same == detector,
              "IMediaDetect, 2, 3 and 4 give the same table as IMediaDetect5");
        same->vtbl->Release(same);
    }
    out = (void*)1;
    check(detector->vtbl->QueryInterface(detector, &kIidClassFactory, &out) == E_NOINTERFACE && out == NULL &&
              detector->vtbl->QueryInterface(detector, &kIidDetect5, NULL) == E_POINTER,
          "detector: E_NOINTERFACE for other interfaces, E_POINTER for a null output");
    check(detector->vtbl->Reserved1(detector) == E_NOTIMPL &&
              detector->vtbl->Reserved2(detector) == E_NOTIMPL,
          "reserved slots 9 and 13 answer E_NOTIMPL");

    uint32_t kind = 99;
    check(detector->vtbl->OpenFileA(detector, argv[2], &kind) == 0 && kind == 8,
          "OpenFileA (slot 3) reports the transport stream kind 8");
    wchar_t wide[260];
    size_t n = strlen(argv[2]);
    for (size_t i = 0; i <= n && i < 259; ++i)
        wide[i] = (wchar_t)(unsigned char)argv[2][i];
    wide[259] = 0;
    kind = 99;
    check(detector->vtbl->OpenFile(detector, wide, &kind) == 0 && kind == 8, "OpenFile (slot 11) agrees");
    VideoInfo video;
    check(detector->vtbl->GetVideoInfo(detector, &video) == E_NOTIMPL,
          "a transport stream has no video record right after the open");

    MediaDetectInfo* info = NULL;
    Unknown* tables[3] = {(Unknown*)detector, NULL, NULL}; /* the detector, IMediaDetectInfo, ITimeTableInfo */
    check(detector->vtbl->QueryInterface(detector, &kIidInfo, (void**)&tables[1]) == 0 &&
              detector->vtbl->QueryInterface(detector, &kIidTimeTable, (void**)&tables[2]) == 0 && tables[1] &&
              tables[2] && tables[1] != tables[0] && tables[2] != tables[0],
          "IMediaDetectInfo and ITimeTableInfo are tables of their own");
    Unknown* identities[3] = {NULL, NULL, NULL};
    for (int i = 0; i < 3; ++i)
        tables[i]->vtbl->QueryInterface(tables[i], &kIidUnknown, (void**)&identities[i]);
    check(identities[0] && identities[0] == identities[1] && identities[1] == identities[2],
          "the three tables share one IUnknown");
    for (int i = 0; i < 3; ++i)
        identities[i]->vtbl->Release(identities[i]);
    tables[2]->vtbl->Release(tables[2]);
    info = (MediaDetectInfo*)tables[1];
    int64_t first = 0;
    check(info->vtbl->GetInfo(info, 6, &first) == (HRESULT)0x80004005 && first == -1,
          "GetInfo 6 writes -1 and fails without video");
    uint32_t hint = 13;
    check(info->vtbl->SetInfo(info, 0x1001, &hint) == 0, "SetInfo 0x1001 accepted");
    check(info->vtbl->SetInfo(info, 4, &hint) == (HRESULT)0x80070057, "SetInfo of another id refused");
    info->vtbl->Release(info);
    check(detector->vtbl->Release(detector) == 0, "the last Release destroys the detector");

    Outer outer = {{&kOuterVtbl}, 1, NULL};
    out = (void*)1;
    check(factory->vtbl->CreateInstance(factory, &outer.base, &kIidDetect5, &out) == E_NOINTERFACE &&
              out == NULL,
          "aggregation asking for anything but IUnknown gives E_NOINTERFACE");
    check(factory->vtbl->CreateInstance(factory, &outer.base, &kIidUnknown, (void**)&outer.inner) == 0 &&
              outer.inner,
          "aggregation asking for IUnknown succeeds");
    MediaDetect* aggregated = NULL;
    check(outer.inner->vtbl->QueryInterface(outer.inner, &kIidDetect5, (void**)&aggregated) == 0 && outer.refs == 2,
          "the aggregated interface counts references on the outer object");
    Unknown* identity = NULL;
    aggregated->vtbl->QueryInterface(aggregated, &kIidUnknown, (void**)&identity);
    check(identity == &outer.base, "the aggregated interface's IUnknown is the outer object");
    identity->vtbl->Release(identity);
    aggregated->vtbl->Release(aggregated);
    check(outer.refs == 1, "the outer object's references are back to its own");
    check(factory->vtbl->Release(factory) == 0, "factory released");
    check(canUnloadNow() == 1, "a live (aggregated) detector keeps the module loaded");
    check(outer.inner->vtbl->Release(outer.inner) == 0, "the inner object dies with its last reference");
    check(canUnloadNow() == 0, "with nothing alive the module may unload");
    for (int lock = 1; lock >= 0; --lock) {
        getClassObject(&kClsid, &kIidClassFactory, (void**)&factory);
        check(factory->vtbl->LockServer(factory, lock) == 0, "LockServer");
        factory->vtbl->Release(factory);
        check(canUnloadNow() == lock, lock ? "a server lock keeps the module loaded" : "unlocked, it may unload");
    }

    dlclose(module);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
