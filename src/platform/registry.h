// HKEY_CLASSES_ROOT as a text file in the .reg style:
//
//   Windows Registry Editor Version 5.00
//
//   [CLSID\{...}]
//   @="Zephon Mpeg Detect Library"
//
//   [CLSID\{...}\InprocServer32]
//   @="/usr/lib/libmediadetect.so"
//   "ThreadingModel"="Both"
//
// The file is $MEDIADETECT_REGISTRY, else $XDG_CONFIG_HOME/mediadetect/registry.reg,
// else ~/.config/mediadetect/registry.reg. Each change rewrites the whole file
// into a temporary file that is renamed over the old one while an exclusive
// flock is held on a lock file beside it, so concurrent writers lose nothing
// and a crash never leaves a half-written registry. Key names compare without
// regard to ASCII case, as on Windows.
#pragma once

#include <string>

#include "platform/win32.h"

enum class HKEY { ClassesRoot };
constexpr HKEY HKEY_CLASSES_ROOT = HKEY::ClassesRoot;

// Sets a string value (valueName null or "" = the key's default value),
// creating the key and its parents. Returns a Win32 error code.
LONG RegSetKeyValueA(HKEY root, const char* subKey, const char* valueName, const char* data);
// Deletes a key with everything below it. ERROR_FILE_NOT_FOUND when absent.
LONG RegDeleteTreeA(HKEY root, const char* subKey);
// Reads a string value. ERROR_FILE_NOT_FOUND when the key or value is absent.
LONG RegGetValueA(HKEY root, const char* subKey, const char* valueName, std::string& out);

namespace md {
// Where the registry file lives for this process.
std::string RegistryPath();
}  // namespace md
