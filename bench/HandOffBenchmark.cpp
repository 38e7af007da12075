#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
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
        return 1;

    // Arrival is stamped on the channel's own thread, as the message is handed to the queue's
    // consumer; the message loop runs meanwhile so the queue drains.
    std::atomic<int> arrived { 0 };
    instance.startListening ([&] (const InstanceChannel::Message&) { ++arrived; });

    std::vector<double> handOff, nullProgram;
    const std::map<std::string, std::optional<std::string>> environment { { "XDG_RUNTIME_DIR", folder } };

    for (int round = 0; round < rounds; ++round)
    {
        const auto expected = arrived.load() + 1;
        const auto start = Clock::now();
        const auto pid = processlauncher::start ({ ZEMBRIK_APP_BINARY, "at-zembrik-tesh://oauth2?code=bench" }, environment);

        while (arrived.load() < expected)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);

        handOff.push_back (std::chrono::duration<double, std::milli> (Clock::now() - start).count());

        if (processlauncher::wait (pid) != 0)
            return 1;

        const auto nullStart = Clock::now();

        if (processlauncher::run ({ ZEMBRIK_NULL_PROGRAM }) != 0)
            return 1;

        nullProgram.push_back (std::chrono::duration<double, std::milli> (Clock::now() - nullStart).count());
    }

    instance.stopListening();
    (void) std::system (("rm -rf '" + folder + "'").c_str());

    const auto handOffMedian = median (handOff);
    const auto nullMedian = median (nullProgram);
    std::printf ("rounds: %d\n", rounds);
    std::printf ("URL launch to delivery in the instance, median: %.3f ms\n", handOffMedian);
    std::printf ("start and end of a do-nothing program, median:  %.3f ms\n", nullMedian);
    std::printf ("ratio: %.2f (goal <= 1.5)\n", handOffMedian / nullMedian);
    return 0;
}
