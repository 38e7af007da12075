#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

/** libcurl, loaded when the first exchange needs it. The HTTPS stack and the many libraries under
    it would otherwise cost start-up time and memory that only a sign-in needs.
*/
class CurlLibrary final
{
public:
    /** The loaded and globally initialised library, or nullptr when it cannot be had; the first
        call that finds it missing says why on standard error. The first call loads it; call it on
        one thread before any exchange starts a thread of its own.
    */
    [[nodiscard]] static const CurlLibrary* get();

    /** Loads the library from `fileName` and initialises it. Nothing when it cannot be loaded or
        lacks a function; `problem` then says why, in the loader's words.
    */
    [[nodiscard]] static std::unique_ptr<CurlLibrary> load (const char* fileName, std::string& problem);

    decltype (&::curl_easy_init) easyInit = nullptr;
    decltype (&::curl_easy_cleanup) easyCleanup = nullptr;
    decltype (&::curl_easy_setopt) easySetopt = nullptr;
    decltype (&::curl_easy_perform) easyPerform = nullptr;
    decltype (&::curl_easy_getinfo) easyGetinfo = nullptr;
    decltype (&::curl_easy_strerror) easyStrerror = nullptr;
    decltype (&::curl_slist_append) slistAppend = nullptr;
    decltype (&::curl_slist_free_all) slistFreeAll = nullptr;

private:
    CurlLibrary() = default;
};
