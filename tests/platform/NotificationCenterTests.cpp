#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace
{
    int observerA, observerB, observerC;
}

TEST (NotificationCenter, DeliversByNameWhateverTheObjectUntilTheObserverIsRemovedFromEveryName)
{
    NotificationCenter centre;
    std::vector<std::string> calls;

    centre.addObserver (&observerA, "first", [&] (const Notification& n) { calls.push_back ("a:" + n.object.value_or ("-")); });
    centre.addObserver (&observerA, "second", [&] (const Notification&) { calls.push_back ("a2"); });
    centre.addObserver (&observerB, "first", [&] (const Notification& n) { calls.push_back ("b:" + n.object.value_or ("-")); });
    centre.addObserver (&observerC, "second", [&] (const Notification&) { calls.push_back ("c"); });

    centre.postNotification ("first", "x");
    centre.postNotification ("first", std::nullopt);
    centre.removeObserver (&observerA);
    centre.postNotification ("first", "y");
    centre.postNotification ("second", "z");

    EXPECT_EQ (calls, (std::vector<std::string> { "a:x", "b:x", "a:-", "b:-", "b:y", "c" }));
}

TEST (NotificationCenter, HandlerMayRemoveObserversAndAddOthersDuringAPost)
{
    NotificationCenter centre;
    int aCalls = 0, bCalls = 0, cCalls = 0;

    centre.addObserver (&observerA, "n", [&] (const Notification&)
    {
        ++aCalls;
        centre.removeObserver (&observerB);   // not called later in this post
        centre.removeObserver (&observerA);
        centre.addObserver (&observerC, "n", [&] (const Notification&) { ++cCalls; });   // first heard at the next post
    });
    centre.addObserver (&observerB, "n", [&] (const Notification&) { ++bCalls; });

    centre.postNotification ("n", std::nullopt);
    EXPECT_EQ (std::vector ({ aCalls, bCalls, cCalls }), std::vector ({ 1, 0, 0 }));

    centre.postNotification ("n", std::nullopt);
    EXPECT_EQ (std::vector ({ aCalls, bCalls, cCalls }), std::vector ({ 1, 0, 1 }));
}

TEST (NotificationCenter, RemoveObserverWaitsForAHandlerRunningOnAnotherThread)
{
    NotificationCenter centre;
    std::atomic<bool> inHandler { false }, handlerDone { false };

    centre.addObserver (&observerA, "n", [&] (const Notification&)
    {
        inHandler = true;
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        handlerDone = true;
    });

    std::thread poster ([&] { centre.postNotification ("n", std::nullopt); });

    while (! inHandler)
        std::this_thread::yield();

    // The observer may be freed right after this returns, so the running call must have ended.
    centre.removeObserver (&observerA);
    EXPECT_TRUE (handlerDone);
    poster.join();
}
