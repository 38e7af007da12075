#pragma once

// Starts a program from a test or benchmark, with changes to its environment, and waits for it.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace processlauncher
{
    using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

    /** Starts `arguments[0]` (a full path) with the rest as its arguments, in this process's
        environment with `changes` applied (nullopt removes a variable); the process id, or -1.
    */
    inline pid_t start (const std::vector<std::string>& arguments, const EnvironmentChanges& changes = {})
    {
        std::vector<std::string> environment;

        for (auto** entry = environ; *entry != nullptr; ++entry)
            if (const std::string text (*entry); changes.count (text.substr (0, text.find ('='))) == 0)
                environment.push_back (text);

        for (const auto& [name, value] : changes)
            if (value)
                environment.push_back (name + "=" + *value);

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

    inline int run (const std::vector<std::string>& arguments, const EnvironmentChanges& changes = {})
    {
        const auto pid = start (arguments, changes);
        return pid < 0 ? -1 : wait (pid);
    }
}
