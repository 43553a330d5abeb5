/* Everything a host, C11 or C++, needs to load and drive the detector module. */
#pragma once

#include "mediadetect/com.h"
#include "mediadetect/interfaces.h"
#include "mediadetect/records.h"

// Entry points exported by libmediadetect.so (also reachable with dlsym).
MD_EXTERN_C_BEGIN
HRESULT DllGetClassObject(const GUID* clsid, const GUID* iid, void** out);
HRESULT DllCanUnloadNow(void);
HRESULT DllRegisterServer(void);
HRESULT DllUnregisterServer(void);
MD_EXTERN_C_END
