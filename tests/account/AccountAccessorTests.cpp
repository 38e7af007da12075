#include "account/AccountAccessor.h"
#include "support/AccountService.h"

#include "BuildConfiguration.h"

#include <gtest/gtest.h>

#include <mutex>

namespace
{
    const std::string fennixRedirect = "at-zembrik-2-fennix://oauth2";
    const std::string teshRedirect = "at-zembrik-tesh://oauth2";

    std::string tokenBody (const std::string& id, const std::string& secret, const std::string& redirect, const std::string& code)
    {
        return "grant_type=authorization_code&client_id=" + id + "&client_secret=" + secret
             + "&redirect_uri=" + redirect + "&code=" + code;
    }

    std::string tokenReply (const std::string& json)
    {
        return R"({ "/oauth/token": { "status": 200, "body": )" + juce::JSON::toString (juce::String (json)).toStdString() + " } }";
    }

    class AccountAccessorTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            ASSERT_TRUE (service.isRunning());
            service.routeAccountHost();
            accessor.editionIndex = 1;
            accessor.authorizationCode = "the-code";
        }

        /** A first exchange that succeeds, so later failures can be seen to keep its tokens. */
        void signInOnce()
        {
            service.setScript (tokenReply (R"({"access_token":"first-access","refresh_token":"first-refresh"})"));
            ASSERT_TRUE (accessor.requestAccessToken());
        }

        void expectFailedKeepingFirstTokens()
        {
            EXPECT_FALSE (accessor.requestAccessToken());
            EXPECT_FALSE (accessor.authorized);
            EXPECT_EQ (accessor.accessToken, "first-access");
            EXPECT_EQ (accessor.refreshToken, "first-refresh");
        }

        AccountService service;
        AccountAccessor accessor;
    };
}

//==================================================================================================
TEST_F (AccountAccessorTest, TokenRequestOfEachEditionSendsItsClientExactly)
{
    struct Case { Edition edition; std::string id, secret, redirect; };
    const std::vector<Case> cases {
        { 0, buildconfig::fennixClientId, buildconfig::fennixClientSecret, fennixRedirect },
        { 1, buildconfig::fennixClientId, buildconfig::fennixClientSecret, fennixRedirect },
        { 2, buildconfig::fennixClientId, buildconfig::fennixClientSecret, fennixRedirect },
        { 3, buildconfig::teshClientId, buildconfig::teshClientSecret, teshRedirect },
        { 4, "", "", "" },   // no client: still sent, with empty values
    };

    for (const auto& c : cases)
    {
        accessor.editionIndex = c.edition;
        EXPECT_TRUE (accessor.requestAccessToken()) << c.edition;
    }

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), cases.size());

    for (size_t i = 0; i < cases.size(); ++i)
    {
        const auto body = tokenBody (cases[i].id, cases[i].secret, cases[i].redirect, "the-code");
        EXPECT_EQ (log[i]["method"].toString(), "POST");
        EXPECT_EQ (log[i]["path"].toString(), "/oauth/token");
        EXPECT_EQ (AccountService::bodyBytes (log[i]), body);
        EXPECT_EQ (AccountService::headerLines (log[i]),
                   (std::vector<std::string> { "Host: account.ostrel.example",
                                               "Accept: */*",
                                               "Content-Type: application/x-www-form-urlencoded",
                                               "Content-Length: " + std::to_string (body.size()) }));
    }
}

TEST_F (AccountAccessorTest, SuccessfulExchangeStoresBothTokens)
{
    service.setScript (tokenReply (R"({"access_token":"acc","refresh_token":"ref","expires_in":3600})"));
    EXPECT_TRUE (accessor.requestAccessToken());
    EXPECT_TRUE (accessor.authorized);
    EXPECT_EQ (accessor.accessToken, "acc");
    EXPECT_EQ (accessor.refreshToken, "ref");
    EXPECT_EQ (accessor.authorizationCode, "the-code");
}

TEST_F (AccountAccessorTest, CodeHoldingFormSeparatorsGoesIntoTheBodyUnescaped)
{
    accessor.authorizationCode = "abc&state=x+y%2F";
    EXPECT_TRUE (accessor.requestAccessToken());

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), 1u);
    EXPECT_EQ (AccountService::bodyBytes (log[0]),
               tokenBody (buildconfig::fennixClientId, buildconfig::fennixClientSecret, fennixRedirect, "abc&state=x+y%2F"));
}

TEST_F (AccountAccessorTest, StatusOtherThan200FailsEvenWithATokenBody)
{
    signInOnce();
    service.setScript (R"({ "/oauth/token": { "status": 201, "body": "{\"access_token\":\"new\"}" } })");
    expectFailedKeepingFirstTokens();

    service.setScript (R"({ "/oauth/token": { "status": 400, "body": "{\"error\":\"invalid_grant\"}" } })");
    expectFailedKeepingFirstTokens();
}

TEST_F (AccountAccessorTest, ReplyWithoutAnAccessTokenFailsAndKeepsEarlierTokens)
{
    signInOnce();

    for (const auto* script : {
             R"({ "/oauth/token": { "body": "" } })",
             R"({ "/oauth/token": { "body": "   " } })",
             R"({ "/oauth/token": { "body_base64": "/w==" } })",                    // not UTF-8
             R"({ "/oauth/token": { "body": "[\"access_token\"]" } })",
             R"({ "/oauth/token": { "body": "null" } })",
             R"({ "/oauth/token": { "body": "{\"refresh_token\":\"r\"}" } })",
             R"({ "/oauth/token": { "body": "{\"access_token\":\"\"}" } })",
             R"({ "/oauth/token": { "body": "{\"access_token\":null}" } })",
             R"({ "/oauth/token": { "body": "{not json" } })" })
    {
        service.setScript (script);
        SCOPED_TRACE (script);
        expectFailedKeepingFirstTokens();
    }
}

TEST_F (AccountAccessorTest, MissingRefreshTokenIsAccepted)
{
    signInOnce();
    service.setScript (tokenReply (R"({"access_token":"only-access"})"));
    EXPECT_TRUE (accessor.requestAccessToken());
    EXPECT_EQ (accessor.accessToken, "only-access");
    EXPECT_EQ (accessor.refreshToken, "");
}

TEST_F (AccountAccessorTest, NulInTheTokenReplyEndsIt)
{
    // {"access_token":"a"} NUL garbage: the text ends at the NUL and parses.
    const auto body = juce::Base64::toBase64 (std::string ("{\"access_token\":\"a\"}\0{{{", 24).data(), 24);
    service.setScript (R"({ "/oauth/token": { "body_base64": ")" + body.toStdString() + R"(" } })");
    EXPECT_TRUE (accessor.requestAccessToken());
    EXPECT_EQ (accessor.accessToken, "a");
}

TEST_F (AccountAccessorTest, TransportFailureAfterASuccessKeepsTheTokensAndBlocksTheProfile)
{
    signInOnce();
    service.setScript (R"({ "/oauth/token": { "drop": true } })");
    expectFailedKeepingFirstTokens();

    const auto requestsBefore = service.readLog().size();
    EXPECT_EQ (accessor.getUserInfo(), std::nullopt);
    EXPECT_EQ (service.readLog().size(), requestsBefore);
}

TEST_F (AccountAccessorTest, StalledServerTimesOutAndRequestsAskForTwentySeconds)
{
    std::mutex seenLock;
    std::vector<UrlRequest> seen;
    service.routeAccountHost (0.5, [&] (const UrlRequest& r) { const std::scoped_lock g (seenLock); seen.push_back (r); });

    signInOnce();
    service.setScript (R"({ "/oauth/token": { "stall_seconds": 30 }, "/api/user": { "stall_seconds": 30 } })");
    expectFailedKeepingFirstTokens();

    const std::scoped_lock g (seenLock);
    ASSERT_EQ (seen.size(), 2u);

    for (const auto& request : seen)
    {
        EXPECT_EQ (request.url, "https://account.ostrel.example/oauth/token");
        EXPECT_EQ (request.timeoutInterval, 20.0);
        EXPECT_EQ (request.cachePolicy, UrlCachePolicy::reloadIgnoringLocalCacheData);
    }
}


//==================================================================================================
TEST_F (AccountAccessorTest, ProfileRequestSendsTheBearerTokenInOrder)
{
    signInOnce();
    EXPECT_EQ (accessor.getUserInfo(), R"({"id": 1, "name": "Test User"})");

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), 2u);
    EXPECT_EQ (log[1]["method"].toString(), "GET");
    EXPECT_EQ (log[1]["path"].toString(), "/api/user");
    EXPECT_EQ (AccountService::bodyBytes (log[1]), "");
    EXPECT_EQ (AccountService::headerLines (log[1]),
               (std::vector<std::string> { "Host: account.ostrel.example",
                                           "Content-Type: application/x-www-form-urlencoded",
                                           "Accept: application/json",
                                           "Authorization: Bearer first-access" }));
}

TEST_F (AccountAccessorTest, EachRequestUsesANewConnection)
{
    signInOnce();
    ASSERT_TRUE (accessor.getUserInfo().has_value());

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), 2u);
    EXPECT_NE (log[0]["connection"], log[1]["connection"]);
}

TEST_F (AccountAccessorTest, ProfileWithoutSignInSendsNothing)
{
    EXPECT_EQ (accessor.getUserInfo(), std::nullopt);
    EXPECT_TRUE (service.readLog().empty());
}

TEST_F (AccountAccessorTest, ProfileReplyOfAnyStatusGivesItsBody)
{
    signInOnce();
    service.setScript (R"({ "/api/user": { "status": 401, "body": "{\"error\":\"unauthorized\"}" } })");
    EXPECT_EQ (accessor.getUserInfo(), R"({"error":"unauthorized"})");
}

TEST_F (AccountAccessorTest, ProfileBodyEndsAtANulAndIsEmptyWhenNotUtf8)
{
    signInOnce();
    service.setScript (R"({ "/api/user": { "body_base64": "e30AeHl6" } })");   // "{}\0xyz"
    EXPECT_EQ (accessor.getUserInfo(), "{}");

    service.setScript (R"({ "/api/user": { "body_base64": "e33/" } })");       // "{}\xff"
    EXPECT_EQ (accessor.getUserInfo(), "");
}

TEST_F (AccountAccessorTest, ProfileTransportFailureGivesNothing)
{
    signInOnce();
    service.setScript (R"({ "/api/user": { "drop": true } })");
    EXPECT_EQ (accessor.getUserInfo(), std::nullopt);
}

TEST_F (AccountAccessorTest, ProfileRedirectIsNotFollowed)
{
    signInOnce();
    service.setScript (R"({ "/api/user": { "status": 302, "body": "elsewhere",
                                           "headers": [["Location", "https://account.ostrel.example/oauth/token"]] } })");
    EXPECT_EQ (accessor.getUserInfo(), "elsewhere");
    EXPECT_EQ (service.readLog().size(), 2u);
}

TEST_F (AccountAccessorTest, TokenWithALineBreakCannotAddHeaderFields)
{
    service.setScript (tokenReply (R"({"access_token":"x\r\nX-Injected: yes"})"));
    ASSERT_TRUE (accessor.requestAccessToken());

    EXPECT_EQ (accessor.getUserInfo(), std::nullopt);
    EXPECT_EQ (service.readLog().size(), 1u);
}

//==================================================================================================
namespace
{
    /** Puts a stand-in xdg-open first on PATH that records each address it is asked to open. */
    class BrowserRecorder final
    {
    public:
        BrowserRecorder()
            : directory (juce::File::createTempFile ("browser"))
        {
            directory.createDirectory();
            record = directory.getChildFile ("opened.txt");
            const auto script = directory.getChildFile ("xdg-open");
            script.replaceWithText ("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.getFullPathName() + "'\n",
                                   false, false, "\n");   // a shell script wants plain line ends
            script.setExecutePermission (true);

            previousPath = juce::SystemStats::getEnvironmentVariable ("PATH", {});
            setenv ("PATH", (directory.getFullPathName() + ":" + previousPath).toRawUTF8(), 1);
        }

        ~BrowserRecorder()
        {
            setenv ("PATH", previousPath.toRawUTF8(), 1);
            directory.deleteRecursively();
        }

        /** The addresses opened so far, once `count` have arrived (the launch is asynchronous). */
        juce::StringArray waitFor (int count) const
        {
            juce::StringArray lines;

            for (int attempt = 0; attempt < 400; ++attempt)
            {
                lines = juce::StringArray::fromLines (record.loadFileAsString().trimEnd());
                lines.removeEmptyStrings();

                if (lines.size() >= count)
                    break;

                juce::Thread::sleep (25);
            }

            return lines;
        }

    private:
        juce::File directory, record;
        juce::String previousPath;
    };
}

TEST (AccountAccessorAuthorizationPage, EachEditionOpensItsAddressWithTheRedirectEscaped)
{
    BrowserRecorder browser;
    AccountAccessor accessor;
    accessor.authorizationCode = "untouched";

    const std::string base = "https://account.ostrel.example/oauth/authorize?client_id=";
    const std::string fennix = base + buildconfig::fennixClientId
                             + "&scope=profile&redirect_uri=at-zembrik-2-fennix%3A%2F%2Foauth2&response_type=code";
    const std::string tesh = base + buildconfig::teshClientId
                           + "&scope=profile&redirect_uri=at-zembrik-tesh%3A%2F%2Foauth2&response_type=code";
    const std::string none = "https://account.ostrel.example/oauth/authorize?client_id=&scope=profile&redirect_uri=&response_type=code";

    const std::vector<std::pair<Edition, std::string>> cases { { 0, fennix }, { 1, fennix }, { 2, fennix }, { 3, tesh }, { -1, none } };

    // One at a time: the launches run side by side and could record out of order.
    for (size_t i = 0; i < cases.size(); ++i)
    {
        accessor.editionIndex = cases[i].first;
        accessor.openAuthorizationPage();
        const auto opened = browser.waitFor ((int) i + 1);
        ASSERT_EQ (opened.size(), (int) i + 1);
        EXPECT_EQ (opened[(int) i].toStdString(), cases[i].second) << "edition " << cases[i].first;
    }

    EXPECT_FALSE (accessor.authorized);
    EXPECT_EQ (accessor.authorizationCode, "untouched");
    EXPECT_TRUE (accessor.accessToken.empty());
}
