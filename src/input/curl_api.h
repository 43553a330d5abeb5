// libcurl, loaded at run time. The module does not link libcurl: loading it (and
// OpenSSL, nghttp2, ... behind it) would cost milliseconds at every start, and
// most hosts never open a remote path. The first remote open loads it once for
// the process; every later one reuses the same table of functions.
#pragma once

#include <curl/curl.h>

#include <string>

namespace md {

// The libcurl functions the remote input uses, resolved from libcurl.so.4.
struct CurlApi {
    CURLcode (*global_init)(long flags);
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...);
    CURLcode (*easy_perform)(CURL* handle);
    CURLcode (*easy_getinfo)(CURL* handle, CURLINFO info, ...);
    void (*easy_cleanup)(CURL* handle);
    void (*easy_reset)(CURL* handle);
    const char* (*easy_strerror)(CURLcode code);
    curl_slist* (*slist_append)(curl_slist* list, const char* text);
    void (*slist_free_all)(curl_slist* list);
    curl_version_info_data* (*version_info)(CURLversion age);
};

// The loaded table, or null when libcurl cannot be loaded (why: in error). Thread
// safe; the library stays loaded for the life of the process.
const CurlApi* LoadCurl(std::string& error);

}  // namespace md
