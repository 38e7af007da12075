#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

/** Our stand-in for the platform's URL loading: HTTPS exchanges on libcurl, one session per
    request, nothing carried from one session to another.
*/

enum class UrlCachePolicy
{
    useProtocolCachePolicy,
    reloadIgnoringLocalCacheData
};

/** A request as the caller prepares it. Header fields go out in the order they were set. */
struct UrlRequest
{
    std::string url;
    std::string httpMethod = "GET";
    std::vector<std::pair<std::string, std::string>> headerFields;
    std::string httpBody;
    double timeoutInterval = 60.0;         // seconds without any data before the exchange fails
    double totalTimeoutInterval = 0.0;     // seconds in all before the exchange fails; 0: no limit
    UrlCachePolicy cachePolicy = UrlCachePolicy::useProtocolCachePolicy;

    /** Sets a header field, replacing one of the same name (compared without case) in place. */
    void setValueForHttpHeaderField (const std::string& value, const std::string& field);
};

/** Why an exchange ended without a reply. */
struct UrlError
{
    enum class Code
    {
        unknown,
        badUrl,
        timedOut,
        cannotFindHost,
        cannotConnectToHost,
        networkConnectionLost,
        secureConnectionFailed,
        serverCertificateUntrusted,
        dataLengthExceedsMaximum,
        badServerResponse
    };

    Code code = Code::unknown;
    std::string description;
};

struct HttpUrlResponse
{
    long statusCode = 0;
};

/** Called exactly once per data task, on the session's own thread, never on the caller's. Either
    error holds a value, or response and data do.
*/
using DataTaskCompletionHandler = std::function<void (std::optional<std::string> data,
                                                      std::optional<HttpUrlResponse> response,
                                                      std::optional<UrlError> error)>;

class UrlSession final
{
public:
    /** A new session from a new ephemeral configuration: no connection, cookie, cache entry or
        credential of any other session is visible to it.
    */
    [[nodiscard]] static std::unique_ptr<UrlSession> ephemeral();

    /** Waits until the completion handlers of the session's tasks have returned. */
    ~UrlSession();

    /** Starts the exchange at once; the handler runs on the session's own thread. */
    void startDataTask (UrlRequest request, DataTaskCompletionHandler completionHandler);

    /** Replies larger than this fail with dataLengthExceedsMaximum, so a broken or hostile server
        cannot exhaust memory.
    */
    static constexpr size_t maximumBodySize = 4 * 1024 * 1024;

    /** Test-only seam: where the transport really connects, which authority it trusts, and
        shorter time-outs. TLS verification itself cannot be switched off.
    */
    struct TestOverrides
    {
        std::string connectTo;                    // a libcurl CONNECT_TO entry, "HOST:PORT:ADDRESS:PORT"
        std::string certificateAuthorityFile;     // PEM bundle trusted instead of the system store
        std::optional<double> timeoutInterval;    // replaces every request's own
        std::function<void (const UrlRequest&)> onRequest;  // sees each request as it starts
        std::optional<double> totalTimeoutInterval;         // replaces every request's own
    };

    static void setTestOverrides (std::optional<TestOverrides> overrides);

private:
    UrlSession() = default;

    std::vector<std::thread> tasks;

    UrlSession (const UrlSession&) = delete;
    UrlSession& operator= (const UrlSession&) = delete;
};
