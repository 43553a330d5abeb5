// A minimal in-process COM runtime: per-thread initialisation counts, class
// creation through the registry file and dlopen, and unloading of modules
// that report they can unload.
#pragma once

#include "mediadetect/com.h"

constexpr uint32_t CLSCTX_INPROC_SERVER = 1;

// S_OK on the first call of a thread, S_FALSE on later ones.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

// Looks up CLSID\{clsid}\InprocServer32 in the registry file, loads that module
// (once per process), asks its DllGetClassObject for IClassFactory and calls
// CreateInstance. REGDB_E_CLASSNOTREG when the class is not registered,
// CO_E_DLLNOTFOUND when the module does not load or has no DllGetClassObject.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, const IID& iid, void** out);

// Unloads every module loaded by CoCreateInstance whose DllCanUnloadNow says S_OK.
void CoFreeUnusedLibraries();
