// How long the reply check takes to decide the worst replies that fit under the transport's size
// cap: the costliest accepted ones at each bound, and the largest ones it refuses. Prints the median and
// the slowest of the rounds for each: reply_json_bench [rounds [part of a reply's name]].

#include "account/ReplyJson.h"
#include "platform/UrlSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{
    constexpr auto cap = UrlSession::maximumBodySize;

    /** `open`, then `piece` as often as fits under the cap with `close`, then `close`. */
    std::string filled (const std::string& open, const std::string& piece, const std::string& close)
    {
        auto text = open;

        while (text.size() + piece.size() + close.size() <= cap)
            text += piece;

        return text + close;
    }

    std::string repeated (const std::string& piece, int count)
    {
        std::string text;

        for (int i = 0; i < count; ++i)
            text += piece;

        return text;
    }

    std::string membersAtTheBound()
    {
        // Distinct names as long as allowed that differ only at their ends: the framework looks
        // each new one up among the earlier ones and in its pool of names.
        std::string text = "{";

        for (int i = 0; i < maximumReplyMembers; ++i)
        {
            auto name = std::to_string (i);
            name.insert (0, maximumReplyNameLength - name.size(), 'n');
            text += (i == 0 ? "\"" : ",\"") + name + "\":1";
        }

        return text + "}";
    }

    std::string nestingAtTheBoundWithLongStrings()
    {
        const auto stringLength = cap / (size_t) maximumReplyNesting - 8;
        std::string text;

        for (int i = 0; i < maximumReplyNesting; ++i)
            text += "[\"" + std::string (stringLength, 's') + "\",";

        return text + "0" + std::string (maximumReplyNesting, ']');
    }
}

int main (int argc, char* argv[])
{
    const int rounds = argc > 1 ? std::max (1, std::atoi (argv[1])) : 20;

    struct Reply { const char* name; std::string text; bool accepted; };
    const std::vector<Reply> replies {
        { "members at the bound, longest names", membersAtTheBound(), true },
        { "nesting at the bound, long strings", nestingAtTheBoundWithLongStrings(), true },
        { "values at the bound, floats", "[" + repeated ("-1.2345678901234567e-300,", maximumReplyValues - 2) + "0]", true },
        { "values at the bound, empty arrays", "[" + repeated ("[],", maximumReplyValues - 2) + "[]]", true },
        { "values at the bound, empty objects", "[" + repeated ("{},", maximumReplyValues - 2) + "{}]", true },
        { "values at the bound, long strings", "[" + repeated ("\"" + std::string (cap / (size_t) maximumReplyValues - 4, 's') + "\",",
                                                                maximumReplyValues - 2) + "0]", true },
        { "4 MiB of integers", filled ("[", "9223372036854775807,", "0]"), false },
        { "4 MiB of empty arrays", filled ("[", "[],", "[]]"), false },
        { "members past the bound", filled ("[", "{\"k\":1},", "{}]"), false },
        { "deep lenient nesting", filled ("[-\",", "[", ""), false },
        { "lenient numbers hiding brackets", filled ("", "[-],", ""), false },
    };

    std::printf ("%-40s %10s %12s %12s\n", "reply", "bytes", "median ms", "slowest ms");

    for (const auto& reply : replies)
    {
        if (argc > 2 && std::string (reply.name).find (argv[2]) == std::string::npos)
            continue;

        std::vector<double> times;

        for (int round = 0; round < rounds; ++round)
        {
            const auto start = std::chrono::steady_clock::now();
            bool accepted = false;

            {
                juce::var parsed;   // freed inside the timing too: the message thread pays for that
                accepted = parseReplyJson (reply.text, parsed).wasOk();
            }

            times.push_back (std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count());

            if (accepted != reply.accepted)
            {
                std::fprintf (stderr, "%s: %s, expected the opposite\n", reply.name, accepted ? "accepted" : "refused");
                return 1;
            }
        }

        std::sort (times.begin(), times.end());
        std::printf ("%-40s %10zu %12.1f %12.1f\n", reply.name, reply.text.size(), times[times.size() / 2], times.back());
    }

    return 0;
}
