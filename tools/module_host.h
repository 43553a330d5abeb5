// Loads the detector module the way any host does: dlopen, DllGetClassObject,
// the class factory, and interface calls. Nothing private is used.
#pragma once

#include <string>

#include "mediadetect/mediadetect.h"

namespace md::tool {

class ModuleHost {
public:
    ModuleHost() = default;
    ~ModuleHost();
    ModuleHost(const ModuleHost&) = delete;
    ModuleHost& operator=(const ModuleHost&) = delete;

    // Loads the module; on failure returns false with a reason in error().
    bool Load(const std::string& path);
    const std::string& error() const { return m_error; }

    // A new detector object (caller releases), or null with the reason in error.
    // Safe to call from several threads at once.
    IMediaDetect5* CreateDetector(std::string& error) const;
    HRESULT Register();
    HRESULT Unregister();

private:
    void* m_handle = nullptr;
    DllGetClassObjectFn m_getClassObject = nullptr;
    DllRegisterServerFn m_register = nullptr;
    DllUnregisterServerFn m_unregister = nullptr;
    std::string m_error;
};

// The default module: $MEDIADETECT_MODULE, else libmediadetect.so beside the executable.
std::string DefaultModulePath();

// The lines of --version: the tool's version, the module's path (symbolic links resolved) and the version it reports,
// and the extension bits a detector of the module keeps of those asked for, each by name:
//   mediadetect 0.1.0
//   module /usr/lib/libmediadetect.so.0.1.0 0.1.0
//   extensions 0x3 ts-codecs mpeg-audio-sync
std::string DescribeVersions(const ModuleHost& host, const std::string& modulePath, uint32_t extensions);

// A short text for an HRESULT: "0x80070057 (invalid argument)".
std::string DescribeHresult(HRESULT hr);

}  // namespace md::tool
