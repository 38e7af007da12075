#include "platform/CurlLibrary.h"

#include <dlfcn.h>

namespace
{
    template <typename Function>
    bool resolve (void* library, const char* name, Function& function)
    {
        function = reinterpret_cast<Function> (dlsym (library, name));
        return function != nullptr;
    }
}

const CurlLibrary* CurlLibrary::get()
{
    static const CurlLibrary* const library = []() -> const CurlLibrary*
    {
        // The run-time name of the library the build compiled against. It stays loaded for the
        // life of the process: libcurl's global state may not be torn down and set up again.
        auto* handle = dlopen ("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);

        if (handle == nullptr)
            return nullptr;

        static CurlLibrary curl;
        decltype (&::curl_global_init) globalInit = nullptr;

        const bool resolved = resolve (handle, "curl_global_init", globalInit)
                           && resolve (handle, "curl_easy_init", curl.easyInit)
                           && resolve (handle, "curl_easy_cleanup", curl.easyCleanup)
                           && resolve (handle, "curl_easy_setopt", curl.easySetopt)
                           && resolve (handle, "curl_easy_perform", curl.easyPerform)
                           && resolve (handle, "curl_easy_getinfo", curl.easyGetinfo)
                           && resolve (handle, "curl_easy_strerror", curl.easyStrerror)
                           && resolve (handle, "curl_slist_append", curl.slistAppend)
                           && resolve (handle, "curl_slist_free_all", curl.slistFreeAll);

        // Not thread-safe in libcurl: done here, once, before any exchange has a thread.
        if (! resolved || globalInit (CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return nullptr;

        return &curl;
    }();

    return library;
}
