#include "account/AccountAccessor.h"
#include "account/ReplyJson.h"
#include "support/AccountService.h"

#include "BuildConfiguration.h"

#include "support/BrowserRecorder.h"

#include <gtest/gtest.h>

#include <limits>
#include <mutex>
#include <string_view>

namespace
{
    constexpr auto tokenScript = &AccountService::tokenScript;
    constexpr auto profileScript = &AccountService::profileScript;

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
            service.setScript (tokenScript (R"({ "body": "{\"access_token\":\"first-access\",\"refresh_token\":\"first-refresh\"}" })"));
            ASSERT_TRUE (accessor.requestAccessToken());
        }

        AccountService service;
        AccountAccessor accessor;
    };
}

//==================================================================================================
TEST_F (AccountAccessorTest, TokenRequestOfEachEditionSendsItsClientAndTheCodeUnescaped)
{
    const std::string fennix = "at-zembrik-2-fennix://oauth2", tesh = "at-zembrik-tesh://oauth2";
    struct Case { Edition edition; std::string id, secret, redirect; };
    const std::vector<Case> cases {
        { 0, buildconfig::fennixClientId, buildconfig::fennixClientSecret, fennix },
        { 1, buildconfig::fennixClientId, buildconfig::fennixClientSecret, fennix },
        { 2, buildconfig::fennixClientId, buildconfig::fennixClientSecret, fennix },
        { 3, buildconfig::teshClientId, buildconfig::teshClientSecret, tesh },
        { 4, "", "", "" },   // no client: still sent, with empty values
    };
    accessor.authorizationCode = "abc&state=x+y%2F";

    for (const auto& c : cases)
    {
        accessor.editionIndex = c.edition;
        EXPECT_TRUE (accessor.requestAccessToken()) << c.edition;
    }

    EXPECT_TRUE (accessor.authorized);
    EXPECT_EQ (accessor.accessToken, "default-access-token");
    EXPECT_EQ (accessor.refreshToken, "default-refresh-token");
    EXPECT_EQ (accessor.authorizationCode, "abc&state=x+y%2F");

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), cases.size());

    for (size_t i = 0; i < cases.size(); ++i)
    {
        const auto body = "grant_type=authorization_code&client_id=" + cases[i].id + "&client_secret=" + cases[i].secret
                        + "&redirect_uri=" + cases[i].redirect + "&code=abc&state=x+y%2F";
        EXPECT_EQ (log[i]["method"].toString(), "POST");
        EXPECT_EQ (log[i]["path"].toString(), "/oauth/token");
        EXPECT_EQ (AccountService::bodyBytes (log[i]), body);
        EXPECT_EQ (AccountService::headerLines (log[i]),
                   (std::vector<std::string> { "Host: account.ostrel.example", "Accept: */*",
                                               "Content-Type: application/x-www-form-urlencoded",
                                               "Content-Length: " + std::to_string (body.size()) }));
    }
}

TEST_F (AccountAccessorTest, FailedExchangeKeepsEarlierTokensAndEveryRequestAsksForTwentySecondsIdleAndAMinuteInAll)
{
    EXPECT_EQ (accessor.getUserInfo(), std::nullopt);   // never signed in: nothing is sent
    EXPECT_TRUE (service.readLog().empty());

    std::mutex seenLock;
    std::vector<UrlRequest> seen;
    const auto record = [&] (const UrlRequest& r) { const std::scoped_lock g (seenLock); seen.push_back (r); };
    service.routeAccountHost (std::nullopt, record);
    signInOnce();

    const auto nested = [] (int depth) { return std::string ((size_t) depth, '[') + std::string ((size_t) depth, ']'); };
    const std::vector<std::string> behaviours {
             R"({ "status": 201, "body": "{\"access_token\":\"new\"}" })",
             R"({ "status": 400, "body": "{\"error\":\"invalid_grant\"}" })",
             R"({ "body": "" })",
             R"({ "body_base64": "/w==" })",                        // not UTF-8
             R"({ "body": "[\"access_token\"]" })",
             R"({ "body": "null" })",
             R"({ "body": "{\"refresh_token\":\"r\"}" })",
             R"({ "body": "{\"access_token\":\"\"}" })",
             R"({ "body": "{\"access_token\":null}" })",
             R"({ "body": "{not json" })",
             R"({ "body": "{\"access_token\":{\"a\":1}}" })",      // only a string is a token
             R"({ "body": "{\"access_token\":true}" })",
             R"({ "body": "{\"access_token\":[\"t\"]}" })",
             R"({ "body": " \n\t " })",
             R"({ "body": "{\"access_token\":\"t\",\"x\":)" + nested (64) + R"(}" })",   // one level too deep
             R"({ "body": ")" + std::string (100000, '[') + R"(" })",                      // would overflow the parser's stack
             R"({ "body": "[-\",)" + std::string (400000, '[') + R"(" })",                // the same, past a lenient reading
             R"({ "body": "{'access_token':'t'}" })",                                       // standard JSON only
             R"({ "body": "{\"access_token\":\"t\"}{}" })",
             R"({ "drop": true })",
             R"({ "body": "never sent", "stall_seconds": 30 })" };

    for (const auto& behaviour : behaviours)
    {
        SCOPED_TRACE (behaviour.substr (0, 100));
        const bool stalls = behaviour.find ("stall") != std::string::npos;
        service.routeAccountHost (stalls ? std::optional (0.5) : std::nullopt, record);   // a short idle time-out
        service.setScript (tokenScript (behaviour));

        EXPECT_FALSE (accessor.requestAccessToken());
        EXPECT_FALSE (accessor.authorized);
        EXPECT_EQ (accessor.accessToken, "first-access");
        EXPECT_EQ (accessor.refreshToken, "first-refresh");
    }

    const auto requestsBefore = service.readLog().size();
    EXPECT_EQ (accessor.getUserInfo(), std::nullopt);
    EXPECT_EQ (service.readLog().size(), requestsBefore);

    const std::scoped_lock g (seenLock);
    ASSERT_EQ (seen.size(), 1 + behaviours.size());

    for (const auto& request : seen)
    {
        EXPECT_EQ (request.url, "https://account.ostrel.example/oauth/token");
        EXPECT_EQ (request.timeoutInterval, 20.0);
        EXPECT_EQ (request.totalTimeoutInterval, 60.0);
        EXPECT_EQ (request.cachePolicy, UrlCachePolicy::reloadIgnoringLocalCacheData);
    }
}

TEST_F (AccountAccessorTest, ReplyWithoutARefreshTokenOrCutByANulIsAcceptedAndTokensAreKeptAsStandardJsonReadsThem)
{
    signInOnce();
    service.setScript (tokenScript (R"({ "body": "{\"access_token\":\"only-access\"}" })"));
    EXPECT_TRUE (accessor.requestAccessToken());
    EXPECT_EQ (accessor.accessToken, "only-access");
    EXPECT_EQ (accessor.refreshToken, "");

    const auto body = juce::Base64::toBase64 ("{\"access_token\":\"a\"}\0{{{", 24);
    service.setScript (tokenScript (R"({ "body_base64": ")" + body.toStdString() + R"(" })"));
    EXPECT_TRUE (accessor.requestAccessToken());
    EXPECT_EQ (accessor.accessToken, "a");

    // Nested right to the bound, with brackets in strings that are no nesting; a refresh token
    // that is not a string counts as none.
    const auto deepest = std::string (63, '[') + std::string (63, ']');
    service.setScript (tokenScript (R"({ "body": "{\"access_token\":\"[[[\",\"refresh_token\":{},\"x\":)" + deepest
                                    + R"(,\"y\":\"{{\\\"{{\"}" })"));
    EXPECT_TRUE (accessor.requestAccessToken());
    EXPECT_EQ (accessor.accessToken, "[[[");
    EXPECT_EQ (accessor.refreshToken, "");

    // Escaped pairs are kept as the standard reads them, byte for byte.
    service.setScript (tokenScript (R"({ "body": "{\"access_token\":\"tok\\ud83d\\ude00en\",\"refresh_token\":\"\\uD83D\\uDE00\"}" })"));
    EXPECT_TRUE (accessor.requestAccessToken());
    EXPECT_EQ (accessor.accessToken, "tok\xF0\x9F\x98\x80" "en");
    EXPECT_EQ (accessor.refreshToken, "\xF0\x9F\x98\x80");
}

//==================================================================================================
TEST_F (AccountAccessorTest, ProfileRequestSendsTheBearerTokenInOrderOnANewConnection)
{
    signInOnce();
    EXPECT_EQ (accessor.getUserInfo(), R"({"id": 1, "name": "Test User"})");

    const auto log = service.readLog();
    ASSERT_EQ (log.size(), 2u);
    EXPECT_NE (log[0]["connection"], log[1]["connection"]);
    EXPECT_EQ (log[1]["method"].toString(), "GET");
    EXPECT_EQ (log[1]["path"].toString(), "/api/user");
    EXPECT_EQ (AccountService::bodyBytes (log[1]), "");
    EXPECT_EQ (AccountService::headerLines (log[1]),
               (std::vector<std::string> { "Host: account.ostrel.example",
                                           "Content-Type: application/x-www-form-urlencoded",
                                           "Accept: application/json",
                                           "Authorization: Bearer first-access" }));
}

TEST_F (AccountAccessorTest, ProfileReplyOfAnyStatusGivesItsBodyAndNoReplyGivesNothing)
{
    signInOnce();

    const std::vector<std::pair<std::string, std::optional<std::string>>> cases {
        { R"({ "status": 401, "body": "{\"error\":\"unauthorized\"}" })", R"({"error":"unauthorized"})" },
        { R"({ "body_base64": "e30AeHl6" })", "{}" },   // "{}\0xyz"
        { R"({ "body_base64": "e33/" })", "" },         // "{}\xff"
        { R"({ "status": 302, "body": "elsewhere", "headers": [["Location", "https://account.ostrel.example/oauth/token"]] })",
          "elsewhere" },                                  // not followed
        { R"({ "drop": true })", std::nullopt },
    };

    for (const auto& [behaviour, expected] : cases)
    {
        SCOPED_TRACE (behaviour);
        service.setScript (profileScript (behaviour));
        EXPECT_EQ (accessor.getUserInfo(), expected);
    }

    EXPECT_EQ (service.readLog().size(), 1 + cases.size());
}

TEST_F (AccountAccessorTest, TokenWithALineBreakCannotAddHeaderFields)
{
    // CR or LF alone is a line end to some servers too.
    for (const std::string lineBreak : { R"(\\r\\n)", R"(\\n)", R"(\\r)" })
    {
        SCOPED_TRACE (lineBreak);
        service.setScript (tokenScript (R"({ "body": "{\"access_token\":\"x)" + lineBreak + R"(X-Injected: yes\"}" })"));
        ASSERT_TRUE (accessor.requestAccessToken());

        const auto requestsBefore = service.readLog().size();
        EXPECT_EQ (accessor.getUserInfo(), std::nullopt);
        EXPECT_EQ (service.readLog().size(), requestsBefore);
    }
}

//==================================================================================================
TEST (AccountAccessorAuthorizationPage, EachEditionOpensItsAddressWithTheRedirectEscaped)
{
    const BrowserRecorder browser;

    AccountAccessor accessor;
    accessor.authorizationCode = "untouched";

    const auto address = [] (const std::string& id, const std::string& redirect)
    {
        return "https://account.ostrel.example/oauth/authorize?client_id=" + id + "&scope=profile&redirect_uri="
             + redirect + "&response_type=code";
    };
    const auto fennix = address (buildconfig::fennixClientId, "at-zembrik-2-fennix%3A%2F%2Foauth2");
    const std::vector<std::pair<Edition, std::string>> cases {
        { 0, fennix }, { 1, fennix }, { 2, fennix },
        { 3, address (buildconfig::teshClientId, "at-zembrik-tesh%3A%2F%2Foauth2") }, { -1, address ("", "") } };

    // One at a time: the launch is asynchronous, and launches side by side could record out of order.
    for (size_t i = 0; i < cases.size(); ++i)
    {
        accessor.editionIndex = cases[i].first;
        accessor.openAuthorizationPage();
        const auto opened = browser.waitForAddresses ((int) i + 1);
        ASSERT_EQ (opened.size(), (int) i + 1);
        EXPECT_EQ (opened[(int) i].toStdString(), cases[i].second) << "edition " << cases[i].first;
    }

    EXPECT_FALSE (accessor.authorized);
    EXPECT_EQ (accessor.authorizationCode, "untouched");
    EXPECT_TRUE (accessor.accessToken.empty());
}

//==================================================================================================
namespace
{
    std::string repeated (std::string_view piece, int count)
    {
        std::string text;

        for (int i = 0; i < count; ++i)
            text += piece;

        return text;
    }

    /** One object per member, so that the bound is seen to count members in all objects. */
    std::string objectsWithMembers (int count)
    {
        return "[" + repeated (R"({"k":1},)", count - 1) + R"({"k":1}])";
    }
}

TEST (ReplyJson, TextThatIsNotOneStandardJsonValueWithinTheBoundsIsRefused)
{
    const std::pair<const char*, std::string> refused[] {
        { "empty", "" },
        { "white space only", " \n\t\r " },
        { "a lenient number hides a quote", "[-\"," + std::string (400000, '[') },
        { "a lenient number hides a bracket", repeated ("[-],", 400000) },
        { "single quotes", "{'a':1}" },
        { "text after the document", R"({"a":1}{"b":2})" },
        { "a sign without digits", "[-x]" },
        { "a leading zero", "[01]" },
        { "a trailing comma", "[1,]" },
        { "a comment", "[1] // c" },
        { "white space outside the standard", "\f[]\v" },
        { "an escape outside the standard", R"(["\a"])" },
        { "a raw control character", "[\"a\tb\"]" },
        { "an escaped lone surrogate", R"(["\ud800"])" },
        { "overlong UTF-8 for a bracket", "[\"\xC1\x9B\"]" },
        { "a lone continuation byte", "[\"\x80\"]" },
        { "an encoded surrogate", "[\"\xED\xA0\x80\"]" },
        { "a byte order mark", "\xEF\xBB\xBF[]" },
        { "nested one level too deep", std::string (maximumReplyNesting + 1, '[') + std::string (maximumReplyNesting + 1, ']') },
        { "objects nested one level too deep", repeated (R"({"a":)", maximumReplyNesting + 1) + "1" + std::string (maximumReplyNesting + 1, '}') },
        { "one member too many", objectsWithMembers (maximumReplyMembers + 1) },
        { "a member name one byte too long", "{\"" + std::string (maximumReplyNameLength + 1, 'n') + "\":1}" },
        { "one value too many, of every kind", R"([{},"",1,-1,1.5,true,null,)" + repeated ("[],", maximumReplyValues - 8) + "[]]" },
        { "an integer past 64 bits", "[9223372036854775808]" },
        { "a negative integer past 64 bits", "[-9223372036854775808]" },
        { "an integer part past 64 bits", "[99999999999999999999.5]" },
        { "an exponent past a double's range", "[0e309]" },
        { "a negative exponent past a double's range", "[1e-309]" },
        { "a negative exponent past an int", "[1e-99999999999]" },
        { "an exponent past an int", "[1e99999999999]" },
    };

    for (const auto& [why, text] : refused)
    {
        juce::var parsed ("left over");
        EXPECT_TRUE (parseReplyJson (text, parsed).failed()) << why;
        EXPECT_TRUE (parsed.isVoid()) << why;
    }
}

TEST (ReplyJson, StandardJsonAtTheBoundsReadsAsTheFrameworkReadsIt)
{
    juce::var parsed;
    ASSERT_TRUE (parseReplyJson (R"( [9223372036854775807, -9223372036854775807, 9223372036854775807.5, 1e-308,
                                      -0.5, -1.5e3, -9223372036854775807.5,
                                      "\u00e9\n\"\\\/", {"a": [true, false, null]},
                                      "tok\ud83d\ude00en", "\\ud83d\\ude00", {"\uD83D\uDE00": 1}] )", parsed).wasOk());
    ASSERT_EQ (parsed.size(), 12);
    EXPECT_EQ ((juce::int64) parsed[0], std::numeric_limits<juce::int64>::max());
    EXPECT_EQ ((juce::int64) parsed[1], -std::numeric_limits<juce::int64>::max());
    EXPECT_DOUBLE_EQ ((double) parsed[2], 9223372036854775807.5);
    EXPECT_DOUBLE_EQ ((double) parsed[3], 1e-308);
    EXPECT_DOUBLE_EQ ((double) parsed[4], -0.5);
    EXPECT_DOUBLE_EQ ((double) parsed[5], -1500.0);
    EXPECT_DOUBLE_EQ ((double) parsed[6], -9223372036854775807.5);
    EXPECT_EQ (parsed[7].toString(), juce::String::fromUTF8 ("\xC3\xA9\n\"\\/"));
    EXPECT_TRUE ((bool) parsed[8]["a"][0]);

    // An escaped pair is one character, in its UTF-8, as the standard reads it; an escaped
    // backslash in front of the same letters escapes nothing.
    EXPECT_EQ (parsed[9].toString().toStdString(), "tok\xF0\x9F\x98\x80" "en");
    EXPECT_EQ (parsed[10].toString().toStdString(), "\\ud83d\\ude00");
    EXPECT_TRUE (parsed[11].hasProperty (juce::Identifier (juce::String::fromUTF8 ("\xF0\x9F\x98\x80"))));

    EXPECT_TRUE (parseReplyJson (std::string (maximumReplyNesting, '[') + std::string (maximumReplyNesting, ']'), parsed).wasOk());
    EXPECT_TRUE (parseReplyJson ("[" + repeated ("[],", maximumReplyNesting) + "[]]", parsed).wasOk());   // side by side
    ASSERT_TRUE (parseReplyJson (objectsWithMembers (maximumReplyMembers), parsed).wasOk());
    EXPECT_EQ (parsed.size(), maximumReplyMembers);
    EXPECT_TRUE (parseReplyJson ("{\"" + std::string (maximumReplyNameLength, 'n') + "\":1}", parsed).wasOk());
    ASSERT_TRUE (parseReplyJson ("[" + repeated ("1,", maximumReplyValues - 2) + "1]", parsed).wasOk());
    EXPECT_EQ (parsed.size(), maximumReplyValues - 1);

    // Only up to a NUL byte, as the body is read.
    ASSERT_TRUE (parseReplyJson (std::string ("{}\0{{{", 6), parsed).wasOk());
    EXPECT_TRUE (parsed.isObject());
}
