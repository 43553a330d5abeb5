// Module handles and file names: the Linux form of GetModuleFileNameA.
#pragma once

#include "platform/win32.h"

// The load address of a shared object (or the executable).
using HMODULE = const void*;

// The module that contains the given code or data address.
HMODULE ModuleFromAddress(const void* address);

// Writes the absolute file name of the module into out (size bytes including
// the terminator) and returns its length; 0 on failure (GetLastError tells why),
// size when the name had to be cut.
DWORD GetModuleFileNameA(HMODULE module, char* out, DWORD size);
