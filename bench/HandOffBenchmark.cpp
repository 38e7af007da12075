#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <semaphore>
#include <thread>
#include <vector>

// How long a URL launch of the real binary takes to reach a running instance, next to starting
// and ending a program that links the same libraries and does nothing.

using Clock = std::chrono::steady_clock;

static double median (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    return values[values.size() / 2];
}

int main (int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max (1, std::atoi (argv[1])) : 100;
    juce::ScopedJuceInitialiser_GUI framework;

    char pattern[] = "/tmp/zembrik-handoff-bench-XXXXXX";
    const std::string folder = ::mkdtemp (pattern);
    InstanceChannel instance (folder);

    if (instance.claimOrHandOff ({}) != InstanceChannel::Outcome::becameInstance)
    {
        std::filesystem::remove_all (folder);
        return 1;
    }

    // The message thread waits in the framework's loop, as the application's does, so a posted
    // message wakes it at once; the rounds run on a thread of their own.
    std::counting_semaphore<> delivered (0);
    Clock::time_point deliveredAt;
    instance.startListening ([&] (const InstanceChannel::Message&)
    {
        deliveredAt = Clock::now();
        delivered.release();
    });

    std::vector<double> handOff, nullProgram;
    bool failed = false;
    const std::map<std::string, std::optional<std::string>> environment { { "XDG_RUNTIME_DIR", folder } };

    std::thread roundsThread ([&]
    {
        for (int round = 0; round < rounds && ! failed; ++round)
        {
            const auto start = Clock::now();
            const auto pid = processlauncher::start ({ ZEMBRIK_APP_BINARY, "at-zembrik-tesh://oauth2?code=bench" }, environment);
            delivered.acquire();
            handOff.push_back (std::chrono::duration<double, std::milli> (deliveredAt - start).count());
            failed = processlauncher::wait (pid) != 0;

            const auto nullStart = Clock::now();
            failed = failed || processlauncher::run ({ ZEMBRIK_NULL_PROGRAM }) != 0;
            nullProgram.push_back (std::chrono::duration<double, std::milli> (Clock::now() - nullStart).count());
        }

        juce::MessageManager::callAsync ([] { juce::MessageManager::getInstance()->stopDispatchLoop(); });
    });

    juce::MessageManager::getInstance()->runDispatchLoop();
    roundsThread.join();

    instance.stopListening();
    std::filesystem::remove_all (folder);

    if (failed)
        return 1;

    const auto handOffMedian = median (handOff);
    const auto nullMedian = median (nullProgram);
    std::printf ("rounds: %d\n", rounds);
    std::printf ("URL launch to delivery in the instance, median: %.3f ms\n", handOffMedian);
    std::printf ("start and end of a do-nothing program, median:  %.3f ms\n", nullMedian);
    std::printf ("ratio: %.2f (goal <= 1.5)\n", handOffMedian / nullMedian);
    return 0;
}
