#include "platform/CurlLibrary.h"

#include <dlfcn.h>

#include <iostream>

namespace
{
    // The run-time name of the library the build compiled against.
    constexpr const char* libraryFileName = "libcurl.so.4";

    template <typename Function>
    bool resolve (void* library, const char* name, Function& function)
    {
        function = reinterpret_cast<Function> (dlsym (library, name));
        return function != nullptr;
    }

    std::string lastLoaderError()
    {
        const auto* error = dlerror();
        return error != nullptr ? error : "unknown reason";
    }
}

std::unique_ptr<CurlLibrary> CurlLibrary::load (const char* fileName, std::string& problem)
{
    auto* handle = dlopen (fileName, RTLD_NOW | RTLD_LOCAL);

    if (handle == nullptr)
    {
        problem = lastLoaderError();
        return nullptr;
    }

    std::unique_ptr<CurlLibrary> curl (new CurlLibrary());
    decltype (&::curl_global_init) globalInit = nullptr;

    const bool resolved = resolve (handle, "curl_global_init", globalInit)
                       && resolve (handle, "curl_easy_init", curl->easyInit)
                       && resolve (handle, "curl_easy_cleanup", curl->easyCleanup)
                       && resolve (handle, "curl_easy_setopt", curl->easySetopt)
                       && resolve (handle, "curl_easy_perform", curl->easyPerform)
                       && resolve (handle, "curl_easy_getinfo", curl->easyGetinfo)
                       && resolve (handle, "curl_easy_strerror", curl->easyStrerror)
                       && resolve (handle, "curl_slist_append", curl->slistAppend)
                       && resolve (handle, "curl_slist_free_all", curl->slistFreeAll);

    if (! resolved)
    {
        problem = lastLoaderError();
        dlclose (handle);
        return nullptr;
    }

    // Not thread-safe in libcurl: done here, once, before any exchange has a thread. The library
    // stays loaded for the life of the process: its global state may not be set up twice.
    if (const auto result = globalInit (CURL_GLOBAL_DEFAULT); result != CURLE_OK)
    {
        problem = std::string ("its global initialisation failed (") + curl->easyStrerror (result) + ")";
        return nullptr;
    }

    return curl;
}

const CurlLibrary* CurlLibrary::get()
{
    static const auto library = []
    {
        std::string problem;
        auto loaded = load (libraryFileName, problem);

        // Every sign-in fails without it; this is the one place that can say why.
        if (loaded == nullptr)
            std::cerr << "Zembrik Authorizer cannot reach the account service: " << libraryFileName
                      << " could not be loaded (" << problem << ")." << std::endl;

        return loaded;
    }();

    return library.get();
}
