#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace
{
    int observerA, observerB, observerC;
}

TEST (NotificationCenter, DeliversToEveryObserverOfTheNameWhateverTheObject)
{
    NotificationCenter centre;
    std::vector<std::string> calls;

    centre.addObserver (&observerA, "first", [&] (const Notification& n) { calls.push_back ("a:" + n.object.value_or ("-")); });
    centre.addObserver (&observerB, "first", [&] (const Notification& n) { calls.push_back ("b:" + n.object.value_or ("-")); });
    centre.addObserver (&observerC, "second", [&] (const Notification&) { calls.push_back ("c"); });

    centre.postNotification ("first", "x");
    centre.postNotification ("first", std::nullopt);

    EXPECT_EQ (calls, (std::vector<std::string> { "a:x", "b:x", "a:-", "b:-" }));
}

TEST (NotificationCenter, RemovedObserverHearsNothingOfAnyName)
{
    NotificationCenter centre;
    int calls = 0;

    centre.addObserver (&observerA, "first", [&] (const Notification&) { ++calls; });
    centre.addObserver (&observerA, "second", [&] (const Notification&) { ++calls; });
    centre.removeObserver (&observerA);

    centre.postNotification ("first", "x");
    centre.postNotification ("second", "x");
    EXPECT_EQ (calls, 0);
}

TEST (NotificationCenter, ObserverRemovedDuringAPostIsNotCalledLaterInThatPost)
{
    NotificationCenter centre;
    bool bCalled = false;

    centre.addObserver (&observerA, "n", [&] (const Notification&) { centre.removeObserver (&observerB); });
    centre.addObserver (&observerB, "n", [&] (const Notification&) { bCalled = true; });

    centre.postNotification ("n", std::nullopt);
    EXPECT_FALSE (bCalled);
}

TEST (NotificationCenter, ObserverMayRemoveItselfAndAddOthersFromItsHandler)
{
    NotificationCenter centre;
    int aCalls = 0, cCalls = 0;

    centre.addObserver (&observerA, "n", [&] (const Notification&)
    {
        ++aCalls;
        centre.removeObserver (&observerA);
        centre.addObserver (&observerC, "n", [&] (const Notification&) { ++cCalls; });
    });

    centre.postNotification ("n", std::nullopt);
    EXPECT_EQ (aCalls, 1);
    EXPECT_EQ (cCalls, 0);   // added during the post: first heard at the next one

    centre.postNotification ("n", std::nullopt);
    EXPECT_EQ (aCalls, 1);
    EXPECT_EQ (cCalls, 1);
}

TEST (NotificationCenter, RemoveObserverWaitsForAHandlerRunningOnAnotherThread)
{
    NotificationCenter centre;
    std::atomic<bool> inHandler { false }, release { false }, handlerDone { false };

    centre.addObserver (&observerA, "n", [&] (const Notification&)
    {
        inHandler = true;
        while (! release)
            std::this_thread::yield();
        handlerDone = true;
    });

    std::thread poster ([&] { centre.postNotification ("n", std::nullopt); });

    while (! inHandler)
        std::this_thread::yield();

    std::thread releaser ([&]
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        release = true;
    });

    // The observer may be freed right after this returns, so the running call must have ended.
    centre.removeObserver (&observerA);
    EXPECT_TRUE (handlerDone);

    poster.join();
    releaser.join();
}

TEST (NotificationCenter, DefaultCentreIsOneObject)
{
    EXPECT_EQ (&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}
