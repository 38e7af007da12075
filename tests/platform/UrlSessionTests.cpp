#include "platform/UrlSession.h"
#include "support/AccountService.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
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
    };

    Result run (UrlRequest request)
    {
        Result result;
        std::promise<void> done;

        {
            auto session = UrlSession::ephemeral();
            session->startDataTask (std::move (request), [&] (auto data, auto response, auto error)
            {
                result.data = std::move (data);
                result.response = std::move (response);
                result.error = std::move (error);
                result.thread = std::this_thread::get_id();

                if (++result.completions == 1)
                    done.set_value();
            });
            done.get_future().wait();
        }   // the session joins its thread here, so a second completion would be counted

        return result;
    }

    UrlRequest requestFor (const std::string& path)
    {
        UrlRequest request;
        request.url = "https://account.ostrel.example" + path;
        request.timeoutInterval = 20.0;
        return request;
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
    request.httpBody = std::string (5000, 'b');   // large enough that libcurl would ask for 100-continue

    const auto result = run (request);
    ASSERT_FALSE (result.error.has_value()) << result.error->description;
    EXPECT_EQ (result.response->statusCode, 404);

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), 1u);
    EXPECT_EQ (log[0]["method"].toString(), "POST");
    EXPECT_EQ (AccountService::bodyBytes (log[0]), request.httpBody);

    auto lines = AccountService::headerLines (log[0]);
    EXPECT_EQ (lines.front(), "Host: account.ostrel.example");
    EXPECT_EQ (std::count_if (lines.begin(), lines.end(), [] (auto& l) { return l.rfind ("Expect", 0) == 0; }), 0);
    EXPECT_EQ (std::count_if (lines.begin(), lines.end(), [] (auto& l) { return l.rfind ("Accept:", 0) == 0; }), 1);

    const std::vector<std::string> ours { "Content-Type: text/plain", "Accept: application/json", "X-Last: 1" };
    std::vector<std::string> seen;
    std::copy_if (lines.begin(), lines.end(), std::back_inserter (seen),
                  [&] (auto& l) { return std::find (ours.begin(), ours.end(), l) != ours.end(); });
    EXPECT_EQ (seen, ours);
}

TEST_F (UrlSessionTest, CompletesOnceOnAnotherThreadWithTheRawBody)
{
    service.setScript (R"({ "/raw": { "status": 401, "body_base64": "YQBi/w==" } })");   // "a\0b\xff"

    const auto result = run (requestFor ("/raw"));
    ASSERT_FALSE (result.error.has_value());
    EXPECT_EQ (result.completions, 1);
    EXPECT_NE (result.thread, std::this_thread::get_id());
    EXPECT_EQ (result.response->statusCode, 401);
    EXPECT_EQ (*result.data, std::string ("a\0b\xff", 4));
}

TEST_F (UrlSessionTest, ReadsAChunkedBody)
{
    service.setScript (R"({ "/chunked": { "body": "0123456789", "chunks": 3 } })");
    const auto result = run (requestFor ("/chunked"));
    ASSERT_FALSE (result.error.has_value());
    EXPECT_EQ (*result.data, "0123456789");
}

TEST_F (UrlSessionTest, ServerThatStopsSendingTimesOut)
{
    service.setScript (R"({ "/stall": { "body": "never sent", "stall_seconds": 30 } })");
    service.routeAccountHost (0.5);

    const auto result = run (requestFor ("/stall"));
    ASSERT_TRUE (result.error.has_value());
    EXPECT_EQ (result.error->code, UrlError::Code::timedOut);
    EXPECT_FALSE (result.response.has_value());
}

TEST_F (UrlSessionTest, BodyOverTheLimitFailsWhetherItsLengthIsAnnouncedOrNot)
{
    const auto size = std::to_string (UrlSession::maximumBodySize + 1);
    service.setScript (R"({ "/announced": { "size": )" + size + R"( },
                            "/chunked": { "size": )" + size + R"(, "chunks": 64 },
                            "/fits": { "size": )" + std::to_string (UrlSession::maximumBodySize) + R"( } })");

    for (const auto* path : { "/announced", "/chunked" })
    {
        const auto result = run (requestFor (path));
        ASSERT_TRUE (result.error.has_value()) << path;
        EXPECT_EQ (result.error->code, UrlError::Code::dataLengthExceedsMaximum) << path;
    }

    const auto fits = run (requestFor ("/fits"));
    ASSERT_FALSE (fits.error.has_value());
    EXPECT_EQ (fits.data->size(), UrlSession::maximumBodySize);
}

TEST_F (UrlSessionTest, RedirectIsReturnedNotFollowed)
{
    service.setScript (R"({ "/moved": { "status": 302, "body": "moved",
                                        "headers": [["Location", "https://account.ostrel.example/api/user"]] } })");

    const auto result = run (requestFor ("/moved"));
    ASSERT_FALSE (result.error.has_value());
    EXPECT_EQ (result.response->statusCode, 302);
    EXPECT_EQ (*result.data, "moved");
    EXPECT_EQ (service.readLog().size(), 1u);
}

TEST_F (UrlSessionTest, EveryRequestOpensItsOwnConnection)
{
    ASSERT_FALSE (run (requestFor ("/api/user")).error.has_value());
    ASSERT_FALSE (run (requestFor ("/api/user")).error.has_value());

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), 2u);
    EXPECT_NE (log[0]["connection"], log[1]["connection"]);
}

TEST_F (UrlSessionTest, ConnectionClosedWithoutReplyIsALostConnection)
{
    service.setScript (R"({ "/drop": { "drop": true } })");
    const auto result = run (requestFor ("/drop"));
    ASSERT_TRUE (result.error.has_value());
    EXPECT_EQ (result.error->code, UrlError::Code::networkConnectionLost);
}

TEST_F (UrlSessionTest, HeaderValueWithALineBreakIsRefusedBeforeAnythingIsSent)
{
    auto request = requestFor ("/api/user");
    request.headerFields = { { "Authorization", "Bearer x\r\nX-Injected: yes" } };

    const auto result = run (request);
    ASSERT_TRUE (result.error.has_value());
    EXPECT_EQ (result.error->code, UrlError::Code::badUrl);
    EXPECT_TRUE (service.readLog().empty());
}

TEST_F (UrlSessionTest, ObserverSeesTheRequestAsTheCallerMadeIt)
{
    std::optional<UrlRequest> seen;
    std::mutex seenLock;
    service.routeAccountHost (5.0, [&] (const UrlRequest& r) { const std::scoped_lock g (seenLock); seen = r; });

    auto request = requestFor ("/api/user");
    request.timeoutInterval = 20.0;
    ASSERT_FALSE (run (request).error.has_value());

    const std::scoped_lock g (seenLock);
    ASSERT_TRUE (seen.has_value());
    EXPECT_EQ (seen->timeoutInterval, 20.0);
    EXPECT_EQ (seen->url, request.url);
}

TEST (UrlSessionTls, UntrustedCertificateIsRefused)
{
    AccountService untrusted ("untrusted-server");
    ASSERT_TRUE (untrusted.isRunning());
    untrusted.routeAccountHost();

    const auto result = run (requestFor ("/api/user"));
    ASSERT_TRUE (result.error.has_value());
    EXPECT_EQ (result.error->code, UrlError::Code::serverCertificateUntrusted);
    EXPECT_TRUE (untrusted.readLog().empty());
}

TEST (UrlSessionTls, CertificateForAnotherHostIsRefused)
{
    AccountService service;
    ASSERT_TRUE (service.isRunning());
    UrlSession::TestOverrides overrides;
    overrides.connectTo = "elsewhere.ostrel.example:443:127.0.0.1:" + std::to_string (service.getPort());
    overrides.certificateAuthorityFile = service.certificateAuthorityFile();
    UrlSession::setTestOverrides (overrides);

    auto request = requestFor ("/api/user");
    request.url = "https://elsewhere.ostrel.example/api/user";
    const auto result = run (request);
    ASSERT_TRUE (result.error.has_value());
    EXPECT_EQ (result.error->code, UrlError::Code::serverCertificateUntrusted);
}

TEST (UrlSessionConnect, RefusedConnectionCannotConnect)
{
    // A bound socket that does not listen: the kernel refuses connections to its port.
    const int socketHandle = socket (AF_INET, SOCK_STREAM, 0);
    ASSERT_GE (socketHandle, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    ASSERT_EQ (bind (socketHandle, reinterpret_cast<sockaddr*> (&address), sizeof (address)), 0);
    socklen_t length = sizeof (address);
    ASSERT_EQ (getsockname (socketHandle, reinterpret_cast<sockaddr*> (&address), &length), 0);

    UrlSession::TestOverrides overrides;
    overrides.connectTo = "account.ostrel.example:443:127.0.0.1:" + std::to_string (ntohs (address.sin_port));
    UrlSession::setTestOverrides (overrides);

    const auto result = run (requestFor ("/api/user"));
    UrlSession::setTestOverrides (std::nullopt);
    close (socketHandle);

    ASSERT_TRUE (result.error.has_value());
    EXPECT_EQ (result.error->code, UrlError::Code::cannotConnectToHost);
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
