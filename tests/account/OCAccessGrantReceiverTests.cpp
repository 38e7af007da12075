#include "account/AccountAccessor.h"
#include "account/OCAccessGrantReceiver.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace
{
    // The accessor's own receiver observes the default centre too; these tests call `received`
    // of a receiver of their own directly, so only it acts.
    class ReceiverTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            receiver.setAccessor (&accessor);
            accessor.authorizationCode = "earlier";
        }

        void receive (std::optional<std::string> url)
        {
            receiver.received (Notification { accessGrantNotificationName, std::move (url) });
        }

        AccountAccessor accessor;
        OCAccessGrantReceiver receiver;
    };
}

TEST_F (ReceiverTest, TakesEverythingBehindTheMarkerUnchanged)
{
    receive ("at-zembrik-2-fennix://oauth2?code=abc");
    EXPECT_EQ (accessor.authorizationCode, "abc");

    receive ("at-zembrik-2-fennix://oauth2?code=abc&state=x#frag\"");
    EXPECT_EQ (accessor.authorizationCode, "abc&state=x#frag\"");

    receive ("at-zembrik-tesh://oauth2?code=a%2Fb");
    EXPECT_EQ (accessor.authorizationCode, "a%2Fb");
}

TEST_F (ReceiverTest, FirstMarkerCountsAndAnySchemeDoes)
{
    receive ("other://oauth2?code=one://oauth2?code=two");
    EXPECT_EQ (accessor.authorizationCode, "one://oauth2?code=two");
}

TEST_F (ReceiverTest, UrlEndingWithTheMarkerClearsTheCode)
{
    receive ("at-zembrik-tesh://oauth2?code=");
    EXPECT_EQ (accessor.authorizationCode, "");
}

TEST_F (ReceiverTest, UrlWithoutTheMarkerOrWithoutTextChangesNothing)
{
    receive ("at-zembrik-2-fennix://OAuth2?code=abc");
    receive ("at-zembrik-2-fennix://oauth2?error=denied");
    receive (std::nullopt);
    EXPECT_EQ (accessor.authorizationCode, "earlier");
}

TEST_F (ReceiverTest, CodeThatIsNotUtf8ChangesNothingAndANulEndsIt)
{
    receive ("at-zembrik-2-fennix://oauth2?code=ab\xff");
    EXPECT_EQ (accessor.authorizationCode, "earlier");

    receive ("at-zembrik-2-fennix://oauth2?code=ab\0cd"s);
    EXPECT_EQ (accessor.authorizationCode, "ab");
}

TEST (OCAccessGrantReceiver, ReceiverWithoutAccessorIgnoresTheNotification)
{
    OCAccessGrantReceiver receiver;
    receiver.received (Notification { accessGrantNotificationName, "x://oauth2?code=abc" });
    SUCCEED();
}

TEST (OCAccessGrantReceiver, AccessorsReceiverHearsPostsUntilTheAccessorIsGone)
{
    std::string lastCode;

    {
        AccountAccessor accessor;
        NotificationCenter::defaultCenter().postNotification (accessGrantNotificationName, "x://oauth2?code=first");
        NotificationCenter::defaultCenter().postNotification (accessGrantNotificationName, "x://oauth2?code=second");
        lastCode = accessor.authorizationCode;
    }

    EXPECT_EQ (lastCode, "second");

    // Reaches no one now; under the sanitizers a dangling observer would show here.
    NotificationCenter::defaultCenter().postNotification (accessGrantNotificationName, "x://oauth2?code=late");
}

TEST (OCAccessGrantReceiver, EarlierAccessorsEndLeavesALaterAccessorsReceiverWorking)
{
    auto first = std::make_unique<AccountAccessor>();
    AccountAccessor second;
    first.reset();

    NotificationCenter::defaultCenter().postNotification (accessGrantNotificationName, "x://oauth2?code=kept");
    EXPECT_EQ (second.authorizationCode, "kept");
}
