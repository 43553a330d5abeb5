// Everything a host needs to load and drive the detector module.
#pragma once

#include "mediadetect/com.h"
#include "mediadetect/interfaces.h"
#include "mediadetect/records.h"

// Entry points exported by libmediadetect.so (also reachable with dlsym).
extern "C" {
HRESULT DllGetClassObject(const GUID* clsid, const GUID* iid, void** out);
HRESULT DllCanUnloadNow(void);
HRESULT DllRegisterServer(void);
HRESULT DllUnregisterServer(void);
}
