#include "tools/module_host.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>

namespace md::tool {

ModuleHost::~ModuleHost()
{
    if (m_handle)
        ::dlclose(m_handle);
}

bool ModuleHost::Load(const std::string& path)
{
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* why = ::dlerror();
        m_error = "cannot load module " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    m_getClassObject = reinterpret_cast<DllGetClassObjectFn>(::dlsym(m_handle, "DllGetClassObject"));
    m_register = reinterpret_cast<DllRegisterServerFn>(::dlsym(m_handle, "DllRegisterServer"));
    m_unregister = reinterpret_cast<DllUnregisterServerFn>(::dlsym(m_handle, "DllUnregisterServer"));
    if (!m_getClassObject || !m_register || !m_unregister) {
        m_error = "module " + path + " lacks the component entry points";
        return false;
    }
    return true;
}

IMediaDetect5* ModuleHost::CreateDetector(std::string& error) const
{
    IClassFactory* factory = nullptr;
    HRESULT hr = m_getClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        error = "DllGetClassObject failed: " + DescribeHresult(hr);
        return nullptr;
    }
    IMediaDetect5* detector = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IMediaDetect5, reinterpret_cast<void**>(&detector));
    factory->Release();
    if (FAILED(hr)) {
        error = "CreateInstance failed: " + DescribeHresult(hr);
        return nullptr;
    }
    return detector;
}

HRESULT ModuleHost::Register() { return m_register(); }
HRESULT ModuleHost::Unregister() { return m_unregister(); }

#ifndef MD_LIBDIR_FROM_BINDIR
#define MD_LIBDIR_FROM_BINDIR "../lib"
#endif

std::string DefaultModulePath()
{
    if (const char* env = std::getenv("MEDIADETECT_MODULE"); env && *env)
        return env;
    // Beside the tool in a build tree; in the library folder of an installed tree.
    std::error_code ec;
    const auto dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    if (ec)
        return "libmediadetect.so";
    const auto installed = dir / MD_LIBDIR_FROM_BINDIR / "libmediadetect.so";
    return (std::filesystem::exists(dir / "libmediadetect.so") || !std::filesystem::exists(installed)
                ? dir / "libmediadetect.so"
                : installed)
        .lexically_normal()
        .string();
}

#ifndef MD_TOOL_VERSION
#define MD_TOOL_VERSION "unknown"
#endif

std::string DescribeVersions(const ModuleHost& host, const std::string& modulePath, uint32_t extensions)
{
    static constexpr const char* kExtensionNames[] = {
        "ts-codecs",   "mpeg-audio-sync", "h264-profiles", "annexb-es",  "webm",          "matroska-codecs",
        "mp4",         "time-ranges",     "mpeg-video-es", "more-codecs", "frame-rates",  "matroska-header",
        "small-files", "audio-files",     "ogg",           "avi",        "flv",           "asf",
        "mxf",         "dv",              "remote",     "tags"};
    static_assert(MD_EXT_ALL == (1u << std::size(kExtensionNames)) - 1, "a name for every extension bit");
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(modulePath, ec);
    std::string text = "mediadetect " MD_TOOL_VERSION "\nmodule " + (ec ? modulePath : resolved.string());
    uint32_t version = 0, kept = 0;
    std::string error;
    if (IMediaDetect5* detector = host.CreateDetector(error)) {
        IMediaDetectInfo* info = nullptr;
        if (SUCCEEDED(detector->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info)))) {
            info->SetInfo(MDI_EXTENSIONS, &extensions);
            info->GetInfo(MDI_EXTENSIONS, &kept);
            if (FAILED(info->GetInfo(MDI_MODULE_VERSION, &version)))
                version = 0;  // a module older than the version query
            info->Release();
        }
        detector->Release();
    }
    char buf[64];
    if (version != 0) {  // an older module has no version to report
        std::snprintf(buf, sizeof buf, " %u.%u.%u", version >> 16, version >> 8 & 0xFF, version & 0xFF);
        text += buf;
    }
    std::snprintf(buf, sizeof buf, "\nextensions 0x%x", kept);
    text += buf;
    for (size_t bit = 0; bit < std::size(kExtensionNames); ++bit)
        if (kept & 1u << bit)
            text += std::string(" ") + kExtensionNames[bit];
    return text + (kept ? "\n" : " (the base behaviour)\n");
}

std::string DescribeHresult(HRESULT hr)
{
    const char* what = "error";
    switch (static_cast<uint32_t>(hr)) {
    case 0x80004001u: what = "not implemented"; break;
    case 0x80004002u: what = "no such interface"; break;
    case 0x80004003u: what = "null pointer"; break;
    case 0x80004005u: what = "failed"; break;
    case 0x8007000Eu: what = "out of memory"; break;
    case 0x80070057u: what = "invalid argument"; break;
    case 0x800700CEu: what = "path longer than 259 characters"; break;
    case 0x80040111u: what = "class not available"; break;
    case 0x80040154u: what = "class not registered"; break;
    case 0x80070002u: what = "not found"; break;
    case 0x80070005u: what = "access denied"; break;
    case 0x80040300u: what = "remote read failed"; break;
    case 0x80040301u: what = "the server ignores range requests"; break;
    case 0x800705B4u: what = "timed out"; break;
    default: break;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "0x%08X (%s)", static_cast<uint32_t>(hr), what);
    return buf;
}

}  // namespace md::tool
