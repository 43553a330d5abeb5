#include "input/curl_api.h"

#include <dlfcn.h>

#include <mutex>

namespace md {
namespace {

// The soname of libcurl's current ABI.
constexpr const char* kCurlLibrary = "libcurl.so.4";

struct LoadedCurl {
    CurlApi api{};
    bool ok = false;
    std::string error;
};

// Resolves one symbol into a function pointer of its own type; false when missing.
template <typename Fn>
bool Resolve(void* library, const char* name, Fn& out, std::string& error)
{
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        error = std::string(kCurlLibrary) + " lacks " + name;
        return false;
    }
    out = reinterpret_cast<Fn>(symbol);
    return true;
}

void Load(LoadedCurl& loaded)
{
    // Local binding: the host may carry another libcurl of its own.
    void* library = dlopen(kCurlLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        loaded.error = std::string("cannot load ") + kCurlLibrary + " (install libcurl4)";
        return;
    }
    CurlApi& a = loaded.api;
    std::string& e = loaded.error;
    const bool all = Resolve(library, "curl_global_init", a.global_init, e) &&
                     Resolve(library, "curl_easy_init", a.easy_init, e) &&
                     Resolve(library, "curl_easy_setopt", a.easy_setopt, e) &&
                     Resolve(library, "curl_easy_perform", a.easy_perform, e) &&
                     Resolve(library, "curl_easy_getinfo", a.easy_getinfo, e) &&
                     Resolve(library, "curl_easy_cleanup", a.easy_cleanup, e) &&
                     Resolve(library, "curl_easy_reset", a.easy_reset, e) &&
                     Resolve(library, "curl_easy_strerror", a.easy_strerror, e) &&
                     Resolve(library, "curl_slist_append", a.slist_append, e) &&
                     Resolve(library, "curl_slist_free_all", a.slist_free_all, e) &&
                     Resolve(library, "curl_version_info", a.version_info, e);
    if (!all)
        return;  // the library stays loaded: unloading libcurl and OpenSSL is not safe
    // Once per process, before any handle exists; no signal handlers are touched
    // because every handle sets CURLOPT_NOSIGNAL.
    if (a.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        e = "libcurl failed to initialise";
        return;
    }
    loaded.ok = true;
}

}  // namespace

const CurlApi* LoadCurl(std::string& error)
{
    static std::once_flag once;
    static LoadedCurl loaded;
    std::call_once(once, [] { Load(loaded); });
    if (!loaded.ok) {
        error = loaded.error;
        return nullptr;
    }
    return &loaded.api;
}

}  // namespace md
