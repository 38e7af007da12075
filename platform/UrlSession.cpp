#include "platform/UrlSession.h"

#include "platform/CurlLibrary.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string_view>
#include <system_error>

namespace
{
    //==============================================================================================
    // One owner for each libcurl handle; nothing else frees them.

    class CurlEasyHandle final
    {
    public:
        explicit CurlEasyHandle (const CurlLibrary& library)
            : curl (library), handle (curl.easyInit()) {}
        ~CurlEasyHandle() { if (handle != nullptr) curl.easyCleanup (handle); }

        CURL* get() const noexcept { return handle; }

        CurlEasyHandle (const CurlEasyHandle&) = delete;
        CurlEasyHandle& operator= (const CurlEasyHandle&) = delete;

    private:
        const CurlLibrary& curl;
        CURL* handle;
    };

    class CurlHeaderList final
    {
    public:
        explicit CurlHeaderList (const CurlLibrary& library) : curl (library) {}
        ~CurlHeaderList() { curl.slistFreeAll (list); }

        /** False when libcurl could not take the line; the list stays as it was. */
        bool append (const std::string& line)
        {
            auto* extended = curl.slistAppend (list, line.c_str());

            if (extended == nullptr)
                return false;

            list = extended;
            return true;
        }

        curl_slist* get() const noexcept { return list; }

        CurlHeaderList (const CurlHeaderList&) = delete;
        CurlHeaderList& operator= (const CurlHeaderList&) = delete;

    private:
        const CurlLibrary& curl;
        curl_slist* list = nullptr;
    };

    //==============================================================================================
    std::mutex overridesLock;
    std::optional<UrlSession::TestOverrides> testOverrides;

    std::optional<UrlSession::TestOverrides> currentOverrides()
    {
        const std::scoped_lock guard (overridesLock);
        return testOverrides;
    }

    bool isSafeHeaderText (const std::string& text)
    {
        // A line end would let a value (a token from a server, say) add header fields of its own.
        // CR, LF and NUL each end a line for some server, so each is refused on its own.
        return text.find_first_of (std::string_view ("\r\n\0", 3)) == std::string::npos;
    }

    bool isSafeFieldName (const std::string& name)
    {
        return ! name.empty()
            && isSafeHeaderText (name)
            && name.find_first_of (": \t") == std::string::npos;
    }

    //==============================================================================================
    /** What one transfer's callbacks share; they all run on the transfer's thread. */
    struct Transfer
    {
        std::string body;
        bool bodyTooLarge = false;
        bool idleTooLong = false;

        std::chrono::milliseconds idleLimit { 0 };
        std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
        curl_off_t bytesSeen = 0;

        void noteActivity() { lastActivity = std::chrono::steady_clock::now(); }
    };

    size_t writeBody (char* data, size_t size, size_t count, void* userData)
    {
        auto& transfer = *static_cast<Transfer*> (userData);
        const auto length = size * count;
        transfer.noteActivity();

        if (length > UrlSession::maximumBodySize - transfer.body.size())
        {
            transfer.bodyTooLarge = true;
            return 0;   // anything short of `length` makes libcurl abort the transfer
        }

        transfer.body.append (data, length);
        return length;
    }

    size_t readHeader (char*, size_t size, size_t count, void* userData)
    {
        // Header lines count as data moving, so a slow but living server is not cut off.
        static_cast<Transfer*> (userData)->noteActivity();
        return size * count;
    }

    int checkIdleTime (void* userData, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
    {
        auto& transfer = *static_cast<Transfer*> (userData);
        const auto moved = downloaded + uploaded;

        if (moved != transfer.bytesSeen)
        {
            transfer.bytesSeen = moved;
            transfer.noteActivity();
            return 0;
        }

        if (transfer.idleLimit.count() > 0
            && std::chrono::steady_clock::now() - transfer.lastActivity >= transfer.idleLimit)
        {
            transfer.idleTooLong = true;
            return 1;
        }

        return 0;
    }

    UrlError::Code codeForCurlError (CURLcode result, const Transfer& transfer)
    {
        if (transfer.bodyTooLarge)
            return UrlError::Code::dataLengthExceedsMaximum;

        if (transfer.idleTooLong)
            return UrlError::Code::timedOut;

        struct Mapping
        {
            CURLcode result;
            UrlError::Code code;
        };

        static constexpr Mapping mappings[]
        {
            { CURLE_UNSUPPORTED_PROTOCOL, UrlError::Code::badUrl },
            { CURLE_URL_MALFORMAT, UrlError::Code::badUrl },
            { CURLE_COULDNT_RESOLVE_PROXY, UrlError::Code::cannotFindHost },
            { CURLE_COULDNT_RESOLVE_HOST, UrlError::Code::cannotFindHost },
            { CURLE_COULDNT_CONNECT, UrlError::Code::cannotConnectToHost },
            { CURLE_OPERATION_TIMEDOUT, UrlError::Code::timedOut },
            { CURLE_PEER_FAILED_VERIFICATION, UrlError::Code::serverCertificateUntrusted },
            { CURLE_SSL_CONNECT_ERROR, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_ENGINE_NOTFOUND, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_ENGINE_SETFAILED, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_CERTPROBLEM, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_CIPHER, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_ENGINE_INITFAILED, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_CACERT_BADFILE, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_SHUTDOWN_FAILED, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_CRL_BADFILE, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_ISSUER_ERROR, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_PINNEDPUBKEYNOTMATCH, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_INVALIDCERTSTATUS, UrlError::Code::secureConnectionFailed },
            { CURLE_SSL_CLIENTCERT, UrlError::Code::secureConnectionFailed },
            { CURLE_SEND_ERROR, UrlError::Code::networkConnectionLost },
            { CURLE_RECV_ERROR, UrlError::Code::networkConnectionLost },
            { CURLE_GOT_NOTHING, UrlError::Code::networkConnectionLost },
            { CURLE_PARTIAL_FILE, UrlError::Code::networkConnectionLost },
            { CURLE_FILESIZE_EXCEEDED, UrlError::Code::dataLengthExceedsMaximum },
            { CURLE_WEIRD_SERVER_REPLY, UrlError::Code::badServerResponse },
            { CURLE_HTTP2, UrlError::Code::badServerResponse },
            { CURLE_HTTP2_STREAM, UrlError::Code::badServerResponse },
            { CURLE_BAD_CONTENT_ENCODING, UrlError::Code::badServerResponse },
            { CURLE_HTTP3, UrlError::Code::badServerResponse },
        };

        for (const auto& mapping : mappings)
            if (mapping.result == result)
                return mapping.code;

        return UrlError::Code::unknown;
    }

    /** A time-out in whole milliseconds for libcurl; 0 (no limit) for anything not positive. */
    long toMilliseconds (double seconds)
    {
        return std::isfinite (seconds) && seconds > 0.0 ? static_cast<long> (std::min (seconds * 1000.0, 2.0e9)) : 0L;
    }

    //==============================================================================================
    struct Outcome
    {
        std::optional<std::string> data;
        std::optional<HttpUrlResponse> response;
        std::optional<UrlError> error;
    };

    Outcome failure (UrlError::Code code, std::string description)
    {
        return { std::nullopt, std::nullopt, UrlError { code, std::move (description) } };
    }

    Outcome perform (const UrlRequest& request, const std::optional<UrlSession::TestOverrides>& overrides)
    {
        const auto* library = CurlLibrary::get();

        if (library == nullptr)
            return failure (UrlError::Code::unknown, "the transport (libcurl) could not be loaded");

        const auto& curl = *library;
        const auto set = [&curl] (CURL* transferHandle, CURLoption option, auto value)
        {
            return curl.easySetopt (transferHandle, option, value) == CURLE_OK;
        };

        for (const auto& [field, value] : request.headerFields)
            if (! isSafeFieldName (field) || ! isSafeHeaderText (value))
                return failure (UrlError::Code::badUrl, "a header field holds a line break or is malformed");

        CurlEasyHandle easy (curl);
        auto* handle = easy.get();

        if (handle == nullptr)
            return failure (UrlError::Code::unknown, "the transport could not create a transfer");

        const auto idleMs = toMilliseconds (overrides && overrides->timeoutInterval ? *overrides->timeoutInterval
                                                                                    : request.timeoutInterval);
        const auto totalMs = toMilliseconds (overrides && overrides->totalTimeoutInterval ? *overrides->totalTimeoutInterval
                                                                                          : request.totalTimeoutInterval);

        Transfer transfer;
        transfer.idleLimit = std::chrono::milliseconds (idleMs);   // 0: no limit asked for

        CurlHeaderList headers (curl);

        for (const auto& [field, value] : request.headerFields)
            if (! headers.append (field + ": " + value))
                return failure (UrlError::Code::unknown, "out of memory");

        // libcurl would otherwise add "Expect: 100-continue" to larger bodies.
        if (! headers.append ("Expect:"))
            return failure (UrlError::Code::unknown, "out of memory");

        bool ok = set (handle, CURLOPT_URL, request.url.c_str())
               && set (handle, CURLOPT_PROTOCOLS_STR, "https,http")
               && set (handle, CURLOPT_NOSIGNAL, 1L)
               && set (handle, CURLOPT_FRESH_CONNECT, 1L)
               && set (handle, CURLOPT_FORBID_REUSE, 1L)
               && set (handle, CURLOPT_FOLLOWLOCATION, 0L)
               && set (handle, CURLOPT_SSL_VERIFYPEER, 1L)
               && set (handle, CURLOPT_SSL_VERIFYHOST, 2L)
               && set (handle, CURLOPT_HTTPHEADER, headers.get())
               && set (handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t> (UrlSession::maximumBodySize))
               && set (handle, CURLOPT_WRITEFUNCTION, writeBody)
               && set (handle, CURLOPT_WRITEDATA, &transfer)
               && set (handle, CURLOPT_HEADERFUNCTION, readHeader)
               && set (handle, CURLOPT_HEADERDATA, &transfer)
               && set (handle, CURLOPT_NOPROGRESS, 0L)
               && set (handle, CURLOPT_XFERINFOFUNCTION, checkIdleTime)
               && set (handle, CURLOPT_XFERINFODATA, &transfer);

        if (idleMs > 0)
            ok = ok && set (handle, CURLOPT_CONNECTTIMEOUT_MS, idleMs);

        // The idle limit alone never ends a reply that trickles in a byte at a time.
        if (totalMs > 0)
            ok = ok && set (handle, CURLOPT_TIMEOUT_MS, totalMs);

        if (request.httpMethod == "GET" && request.httpBody.empty())
        {
            ok = ok && set (handle, CURLOPT_HTTPGET, 1L);
        }
        else
        {
            if (request.httpMethod == "POST")
                ok = ok && set (handle, CURLOPT_POST, 1L);
            else
                ok = ok && set (handle, CURLOPT_CUSTOMREQUEST, request.httpMethod.c_str());

            ok = ok && set (handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t> (request.httpBody.size()))
                    && set (handle, CURLOPT_POSTFIELDS, request.httpBody.data());
        }

        // Declared here: libcurl keeps a pointer to the list until the transfer has ended.
        CurlHeaderList connectTo (curl);

        if (overrides)
        {
            if (! overrides->connectTo.empty())
                ok = ok && connectTo.append (overrides->connectTo)
                        && set (handle, CURLOPT_CONNECT_TO, connectTo.get());

            if (! overrides->certificateAuthorityFile.empty())
                ok = ok && set (handle, CURLOPT_CAINFO, overrides->certificateAuthorityFile.c_str())
                        && set (handle, CURLOPT_CAPATH, static_cast<const char*> (nullptr));
        }

        if (! ok)
            return failure (UrlError::Code::unknown, "the transport refused the request's settings");

        const auto result = curl.easyPerform (handle);

        if (result != CURLE_OK)
            return failure (codeForCurlError (result, transfer), curl.easyStrerror (result));

        long status = 0;
        curl.easyGetinfo (handle, CURLINFO_RESPONSE_CODE, &status);

        return { std::move (transfer.body), HttpUrlResponse { status }, std::nullopt };
    }
}

//==================================================================================================
void UrlRequest::setValueForHttpHeaderField (const std::string& value, const std::string& field)
{
    const auto sameName = [&field] (const std::pair<std::string, std::string>& entry)
    {
        return std::equal (entry.first.begin(), entry.first.end(), field.begin(), field.end(),
                           [] (char a, char b)
                           {
                               const auto lower = [] (char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char> (c - 'A' + 'a') : c; };
                               return lower (a) == lower (b);
                           });
    };

    const auto existing = std::find_if (headerFields.begin(), headerFields.end(), sameName);

    if (existing != headerFields.end())
        existing->second = value;
    else
        headerFields.emplace_back (field, value);
}

//==================================================================================================
std::unique_ptr<UrlSession> UrlSession::ephemeral()
{
    // Loaded here, on the caller's thread, before the session's thread can need it.
    [[maybe_unused]] const auto* library = CurlLibrary::get();
    return std::unique_ptr<UrlSession> (new UrlSession());
}

UrlSession::~UrlSession()
{
    for (auto& task : tasks)
        if (task.joinable())
            task.join();
}

void UrlSession::startDataTask (UrlRequest request, DataTaskCompletionHandler completionHandler)
{
    auto overrides = currentOverrides();

    try
    {
        tasks.emplace_back ([request = std::move (request), completionHandler, overrides = std::move (overrides)]
        {
            if (overrides && overrides->onRequest)
                overrides->onRequest (request);

            auto outcome = perform (request, overrides);
            completionHandler (std::move (outcome.data), std::move (outcome.response), std::move (outcome.error));
        });
    }
    catch (const std::system_error&)
    {
        // No thread to run the exchange on: the caller still gets its one completion, so a waiter
        // is never left blocked.
        completionHandler (std::nullopt, std::nullopt, UrlError { UrlError::Code::unknown, "no thread for the exchange" });
    }
}

void UrlSession::setTestOverrides (std::optional<TestOverrides> overrides)
{
    const std::scoped_lock guard (overridesLock);
    testOverrides = std::move (overrides);
}
