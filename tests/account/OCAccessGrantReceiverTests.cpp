#include "account/AccountAccessor.h"
#include "account/OCAccessGrantReceiver.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST (OCAccessGrantReceiver, TakesEverythingBehindTheFirstMarkerUnchanged)
{
    // The accessor's own receiver observes the default centre too; this one is called directly.
    OCAccessGrantReceiver receiver;
    receiver.received ({ accessGrantNotificationName, "x://oauth2?code=abc" });   // no accessor yet: ignored

    AccountAccessor accessor;
    receiver.setAccessor (&accessor);

    const std::vector<std::pair<std::optional<std::string>, std::string>> cases {
        { "at-zembrik-2-fennix://oauth2?code=abc", "abc" },
        { "at-zembrik-2-fennix://oauth2?code=abc&state=x#frag\"", "abc&state=x#frag\"" },
        { "at-zembrik-tesh://oauth2?code=a%2Fb", "a%2Fb" },
        { "other://oauth2?code=one://oauth2?code=two", "one://oauth2?code=two" },
        { "at-zembrik-tesh://oauth2?code=", "" },
        { "at-zembrik-2-fennix://oauth2?code=ab\0cd"s, "ab" },
        { "at-zembrik-2-fennix://OAuth2?code=abc", "earlier" },
        { "at-zembrik-2-fennix://oauth2?error=denied", "earlier" },
        { std::nullopt, "earlier" },
        { "at-zembrik-2-fennix://oauth2?code=ab\xff", "earlier" },
    };

    for (const auto& [url, code] : cases)
    {
        SCOPED_TRACE (url.value_or ("(none)"));
        accessor.authorizationCode = "earlier";
        receiver.received ({ accessGrantNotificationName, url });
        EXPECT_EQ (accessor.authorizationCode, code);
    }
}

TEST (OCAccessGrantReceiver, EachAccessorsReceiverHearsPostsUntilItsAccessorIsGone)
{
    auto& centre = NotificationCenter::defaultCenter();

    {
        auto first = std::make_unique<AccountAccessor>();
        AccountAccessor second;
        centre.postNotification (accessGrantNotificationName, "x://oauth2?code=one");
        centre.postNotification (accessGrantNotificationName, "x://oauth2?code=two");
        EXPECT_EQ (first->authorizationCode, "two");

        first.reset();
        centre.postNotification (accessGrantNotificationName, "x://oauth2?code=kept");
        EXPECT_EQ (second.authorizationCode, "kept");
    }

    // Reaches no one now; under the sanitizers a dangling observer would show here.
    centre.postNotification (accessGrantNotificationName, "x://oauth2?code=late");
}
