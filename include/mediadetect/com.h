/* Base types of the component interface on Linux x86-64: the COM vocabulary (HRESULT, GUID,
 * IUnknown, IClassFactory) with the binary layout a host expects. One definition serves C11 and
 * C++ hosts: each interface is written once as the list of its methods in slot order, which C++
 * turns into an abstract class and C into a table of function pointers behind the object's
 * first word (the usual C form of a COM interface: obj->lpVtbl->Method(obj, ...)). */
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#ifdef __cplusplus
#define MD_CONST constexpr
#define MD_EXTERN_C_BEGIN extern "C" {
#define MD_EXTERN_C_END }
#define MD_STATIC_ASSERT(condition) static_assert(condition, #condition)
#else
#define MD_CONST static const
#define MD_EXTERN_C_BEGIN
#define MD_EXTERN_C_END
#define MD_STATIC_ASSERT(condition) _Static_assert(condition, #condition)
#endif

typedef int32_t HRESULT;
typedef uint32_t ULONG;
typedef int32_t BOOL;
typedef wchar_t WCHAR;

typedef struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
MD_STATIC_ASSERT(sizeof(GUID) == 16);
typedef GUID IID;
typedef GUID CLSID;
#ifdef __cplusplus
typedef const GUID& REFIID;
typedef const GUID& REFCLSID;
inline bool operator==(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }
#else
typedef const GUID* REFIID;
typedef const GUID* REFCLSID;
#endif

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define CO_E_DLLNOTFOUND ((HRESULT)0x8004015Fu)
/* A path of more than 259 characters (HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)). */
#define MD_E_PATH_TOO_LONG ((HRESULT)0x800700CEu)
/* Remote paths (MD_EXT_REMOTE). A missing object is HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) and a refused one
 * E_ACCESSDENIED, as for files; MDI_REMOTE_ERROR tells the details of every failure. */
#define E_ACCESSDENIED ((HRESULT)0x80070005u)
/* The server answered a range request with the whole body of a file larger than the head window. */
#define MD_E_REMOTE_NO_RANGES ((HRESULT)0x80040301u)
/* No connection within 10 s, or less than 1 KiB/s for 15 s (HRESULT_FROM_WIN32(ERROR_TIMEOUT)). */
#define MD_E_REMOTE_TIMEOUT ((HRESULT)0x800705B4u)
/* Any other failure of the connection, TLS or the protocol (an unexpected status, a wrong Content-Range). */
#define MD_E_REMOTE_FAILED ((HRESULT)0x80040300u)

#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)
static inline HRESULT HRESULT_FROM_WIN32(uint32_t error)
{
    return error == 0 ? S_OK : (HRESULT)((error & 0xFFFFu) | 0x80070000u);
}

/* Longest path, in characters, including the terminator. */
#define MAX_PATH 260

/* {00000000-0000-0000-C000-000000000046} */
MD_CONST GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
/* {00000001-0000-0000-C000-000000000046} */
MD_CONST GUID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/* How an interface's method list is expanded: M(T, return type, name, parameters...) for a method
 * with parameters, M0(T, return type, name) for one without; T is the interface. */
#ifdef __cplusplus
#define MD_CXX_METHOD(T, R, name, ...) virtual R name(__VA_ARGS__) = 0;
#define MD_CXX_METHOD0(T, R, name) virtual R name() = 0;
#define MD_INTERFACE(T, METHODS)                   \
    struct T : IUnknown {                          \
        METHODS(MD_CXX_METHOD, MD_CXX_METHOD0, T)  \
    };
#else
#define MD_C_METHOD(T, R, name, ...) R (*name)(T * self, __VA_ARGS__);
#define MD_C_METHOD0(T, R, name) R (*name)(T * self);
#define MD_INTERFACE(T, METHODS)                                 \
    typedef struct T T;                                          \
    typedef struct T##Vtbl {                                     \
        MD_IUNKNOWN_METHODS(MD_C_METHOD, MD_C_METHOD0, T)        \
        METHODS(MD_C_METHOD, MD_C_METHOD0, T)                    \
    } T##Vtbl;                                                   \
    struct T {                                                   \
        const T##Vtbl* lpVtbl;                                   \
    };
#endif

#define MD_IUNKNOWN_METHODS(M, M0, T)                      \
    M(T, HRESULT, QueryInterface, REFIID iid, void** out)  \
    M0(T, ULONG, AddRef)                                   \
    M0(T, ULONG, Release)

#ifdef __cplusplus
struct IUnknown {
    MD_IUNKNOWN_METHODS(MD_CXX_METHOD, MD_CXX_METHOD0, IUnknown)
};
#else
typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
    MD_IUNKNOWN_METHODS(MD_C_METHOD, MD_C_METHOD0, IUnknown)
} IUnknownVtbl;
struct IUnknown {
    const IUnknownVtbl* lpVtbl;
};
#endif

#define MD_ICLASSFACTORY_METHODS(M, M0, T)                                \
    M(T, HRESULT, CreateInstance, IUnknown* outer, REFIID iid, void** out) \
    M(T, HRESULT, LockServer, BOOL lock)
MD_INTERFACE(IClassFactory, MD_ICLASSFACTORY_METHODS)

MD_EXTERN_C_BEGIN
typedef HRESULT (*DllGetClassObjectFn)(const GUID* clsid, const GUID* iid, void** out);
typedef HRESULT (*DllCanUnloadNowFn)(void);
typedef HRESULT (*DllRegisterServerFn)(void);
typedef HRESULT (*DllUnregisterServerFn)(void);
MD_EXTERN_C_END
