#include "platform/UrlSession.h"
#include "support/AccountService.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>

namespace
{
    struct Result
    {
        std::optional<std::string> data;
        std::optional<HttpUrlResponse> response;
        std::optional<UrlError> error;
        std::thread::id thread;
        int completions = 0;

        std::optional<UrlError::Code> errorCode() const { return error ? std::optional (error->code) : std::nullopt; }
    };

    UrlRequest requestFor (const std::string& path)
    {
        UrlRequest request;
        request.url = "https://account.ostrel.example" + path;
        request.timeoutInterval = 20.0;
        return request;
    }

    Result run (UrlRequest request)
    {
        Result result;
        std::promise<void> done;

        {
            auto session = UrlSession::ephemeral();
            session->startDataTask (std::move (request), [&] (auto data, auto response, auto error)
            {
                result = { std::move (data), std::move (response), std::move (error), std::this_thread::get_id(), result.completions + 1 };

                if (result.completions == 1)
                    done.set_value();
            });
            done.get_future().wait();
        }   // the session joins its thread here, so a second completion would be counted

        return result;
    }

    class UrlSessionTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            ASSERT_TRUE (service.isRunning());
            service.routeAccountHost();
        }

        AccountService service;
    };
}

TEST_F (UrlSessionTest, SendsHeaderFieldsInOrderWithoutTransportExtras)
{
    auto request = requestFor ("/echo");
    request.httpMethod = "POST";
    request.headerFields = { { "Content-Type", "text/plain" }, { "Accept", "application/json" }, { "X-Last", "1" } };
    request.httpBody = std::string (1100000, 'b');   // over libcurl's threshold for asking for 100-continue

    const auto result = run (request);
    EXPECT_EQ (result.errorCode(), std::nullopt);
    EXPECT_EQ (result.response.value_or (HttpUrlResponse {}).statusCode, 404);

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), 1u);
    EXPECT_EQ (log[0]["method"].toString(), "POST");
    EXPECT_TRUE (AccountService::bodyBytes (log[0]) == request.httpBody);   // no dump of a megabyte on failure
    EXPECT_EQ (AccountService::headerLines (log[0]),
               (std::vector<std::string> { "Host: account.ostrel.example", "Content-Type: text/plain",
                                           "Accept: application/json", "X-Last: 1", "Content-Length: 1100000" }));
}

TEST_F (UrlSessionTest, CompletesOnceOnAnotherThreadWithTheRawBodyOrOneTransportError)
{
    const auto limit = UrlSession::maximumBodySize;
    service.setScript (R"({ "/raw": { "status": 401, "body_base64": "YQBi/w==" },
                            "/chunked": { "body": "0123456789", "chunks": 3 },
                            "/fits": { "size": )" + std::to_string (limit) + R"( },
                            "/announced": { "size": )" + std::to_string (limit + 1) + R"( },
                            "/chunked-over": { "size": )" + std::to_string (limit + 1) + R"(, "chunks": 64 },
                            "/drop": { "drop": true },
                            "/stall": { "body": "never sent", "stall_seconds": 30 },
                            "/trickle": { "body": "0123456789", "trickle_seconds": 0.25 } })");

    struct Case { std::string path; long status; std::string data; std::optional<UrlError::Code> error; };
    const std::vector<Case> cases {
        { "/raw", 401, std::string ("a\0b\xff", 4), {} },
        { "/chunked", 200, "0123456789", {} },
        { "/fits", 200, std::string (limit, 'x'), {} },
        { "/announced", 0, "", UrlError::Code::dataLengthExceedsMaximum },
        { "/chunked-over", 0, "", UrlError::Code::dataLengthExceedsMaximum },
        { "/drop", 0, "", UrlError::Code::networkConnectionLost },
        { "/stall", 0, "", UrlError::Code::timedOut },
        { "/trickle", 0, "", UrlError::Code::timedOut },   // never idle, but too long in all
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.path);
        // Short time-outs: idle for the stall, in all for the trickle.
        const auto totalLimit = c.path == "/trickle" ? std::optional (1.0) : std::nullopt;
        service.routeAccountHost (c.path == "/stall" ? std::optional (0.5) : std::nullopt, {}, totalLimit);

        const auto started = std::chrono::steady_clock::now();
        const auto result = run (requestFor (c.path));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;

        EXPECT_EQ (result.completions, 1);
        EXPECT_NE (result.thread, std::this_thread::get_id());
        EXPECT_EQ (result.errorCode(), c.error);
        EXPECT_EQ (result.response.has_value(), ! c.error);
        EXPECT_EQ (result.data.has_value(), ! c.error);

        // The outcome shows that the limit ended it. The bounds only rule out an early end and a
        // hang, with room for libcurl's whole milliseconds below and a loaded machine above.
        if (totalLimit)
        {
            EXPECT_GE (took.count(), *totalLimit - 0.1);
            EXPECT_LT (took.count(), *totalLimit * 5);
        }

        if (! c.error)
        {
            EXPECT_EQ (result.response->statusCode, c.status);
            EXPECT_TRUE (*result.data == c.data);
        }
    }
}

TEST_F (UrlSessionTest, HeaderFieldThatCouldEndItsLineIsRefusedBeforeAnythingIsSent)
{
    for (const auto& value : { std::string ("a\r\nX-Injected: yes"), std::string ("a\nX-Injected: yes"),
                               std::string ("a\rX-Injected: yes"), std::string ("a\0X-Injected: yes", 17) })
    {
        auto request = requestFor ("/api/user");
        request.headerFields = { { "Authorization", value } };
        EXPECT_EQ (run (request).errorCode(), UrlError::Code::badUrl);
    }

    EXPECT_TRUE (service.readLog().empty());
}

TEST (UrlSessionTls, CertificateFromAnotherAuthorityOrForAnotherHostIsRefused)
{
    {
        AccountService untrusted ("untrusted-server");
        ASSERT_TRUE (untrusted.isRunning());
        untrusted.routeAccountHost();
        EXPECT_EQ (run (requestFor ("/api/user")).errorCode(), UrlError::Code::serverCertificateUntrusted);
        EXPECT_TRUE (untrusted.readLog().empty());
    }

    AccountService service;
    ASSERT_TRUE (service.isRunning());
    UrlSession::setTestOverrides (UrlSession::TestOverrides { "elsewhere.ostrel.example:443:127.0.0.1:" + std::to_string (service.getPort()),
                                                              service.certificateAuthorityFile(), {}, {}, {} });
    auto request = requestFor ("/api/user");
    request.url = "https://elsewhere.ostrel.example/api/user";
    EXPECT_EQ (run (request).errorCode(), UrlError::Code::serverCertificateUntrusted);
}

TEST (UrlSessionConnect, RefusedConnectionCannotConnect)
{
    // A bound socket that does not listen: the kernel refuses connections to its port.
    const int socketHandle = socket (AF_INET, SOCK_STREAM, 0);
    ASSERT_GE (socketHandle, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    socklen_t length = sizeof (address);
    ASSERT_EQ (bind (socketHandle, reinterpret_cast<sockaddr*> (&address), length), 0);
    ASSERT_EQ (getsockname (socketHandle, reinterpret_cast<sockaddr*> (&address), &length), 0);

    UrlSession::setTestOverrides (UrlSession::TestOverrides { "account.ostrel.example:443:127.0.0.1:" + std::to_string (ntohs (address.sin_port)), {}, {}, {}, {} });
    EXPECT_EQ (run (requestFor ("/api/user")).errorCode(), UrlError::Code::cannotConnectToHost);
    UrlSession::setTestOverrides (std::nullopt);
    close (socketHandle);
}

TEST (UrlRequest, SettingAFieldAgainReplacesItInPlaceWhateverItsCase)
{
    UrlRequest request;
    request.setValueForHttpHeaderField ("a", "Accept");
    request.setValueForHttpHeaderField ("b", "X-Other");
    request.setValueForHttpHeaderField ("c", "accept");

    const std::vector<std::pair<std::string, std::string>> expected { { "Accept", "c" }, { "X-Other", "b" } };
    EXPECT_EQ (request.headerFields, expected);
}

TEST (UrlSessionTransport, MissingLibraryFailsEveryExchangeAndSaysWhyOnce)
{
    // The loader reads its search path when a process starts, so a fresh run of this test binary
    // finds a broken libcurl.so.4 first. That run goes through this test again from its start and
    // finds the folder made for it.
    const auto* madeEarlier = std::getenv ("ZEMBRIK_BROKEN_CURL_FOLDER");
    const auto folder = madeEarlier != nullptr ? juce::File (madeEarlier) : juce::File::createTempFile ("curl");

    if (madeEarlier == nullptr)
    {
        ASSERT_TRUE (folder.createDirectory());
        ASSERT_TRUE (folder.getChildFile ("libcurl.so.4").replaceWithText (""));
        ::setenv ("ZEMBRIK_BROKEN_CURL_FOLDER", folder.getFullPathName().toRawUTF8(), 1);
        ::setenv ("LD_LIBRARY_PATH", folder.getFullPathName().toRawUTF8(), 1);
    }

    GTEST_FLAG_SET (death_test_style, "threadsafe");

    const auto fails = [] { return run (requestFor ("/api/user")).errorCode() == UrlError::Code::unknown; };
    EXPECT_EXIT (::_exit (fails() && fails() ? 0 : 1), ::testing::ExitedWithCode (0),
                 "^Zembrik Authorizer cannot reach the account service: libcurl\\.so\\.4 could not be loaded "
                 "\\([^\n]*libcurl\\.so\\.4: file too short\\)\\.\n$");

    ::unsetenv ("LD_LIBRARY_PATH");
    ::unsetenv ("ZEMBRIK_BROKEN_CURL_FOLDER");
    folder.deleteRecursively();
}
