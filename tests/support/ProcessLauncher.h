#pragma once

// Starts the real application binary from a test, with changes to its environment, and waits for
// it. Header-only, shared by the tests of the application and the benchmark.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace processlauncher
{
    /** The environment of this process with `changes` applied (nullopt removes a variable). */
    inline std::vector<std::string> environmentWith (const std::map<std::string, std::optional<std::string>>& changes)
    {
        std::vector<std::string> result;

        for (auto** entry = environ; *entry != nullptr; ++entry)
        {
            const std::string text (*entry);
            const auto name = text.substr (0, text.find ('='));

            if (changes.count (name) == 0)
                result.push_back (text);
        }

        for (const auto& [name, value] : changes)
            if (value)
                result.push_back (name + "=" + *value);

        return result;
    }

    /** Starts `arguments[0]` with the rest as its arguments; the process id, or -1. */
    inline pid_t start (const std::vector<std::string>& arguments,
                        const std::map<std::string, std::optional<std::string>>& environmentChanges = {})
    {
        auto environment = environmentWith (environmentChanges);
        std::vector<char*> argv, envp;

        for (const auto& argument : arguments)
            argv.push_back (const_cast<char*> (argument.c_str()));

        for (auto& variable : environment)
            envp.push_back (variable.data());

        argv.push_back (nullptr);
        envp.push_back (nullptr);

        pid_t pid = -1;
        return posix_spawn (&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) == 0 ? pid : -1;
    }

    /** Waits for the process; its exit status, or -1 when it did not exit normally. */
    inline int wait (pid_t pid)
    {
        int status = 0;

        while (waitpid (pid, &status, 0) < 0)
            if (errno != EINTR)
                return -1;

        return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
    }

    inline int run (const std::vector<std::string>& arguments,
                    const std::map<std::string, std::optional<std::string>>& environmentChanges = {})
    {
        const auto pid = start (arguments, environmentChanges);
        return pid < 0 ? -1 : wait (pid);
    }
}
