#include "platform/SystemHelpers.h"

#include "BuildConfiguration.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace
{
    std::optional<std::string>& resourceDirectoryOverride()
    {
        static std::optional<std::string> directory;
        return directory;
    }

    std::optional<std::vector<std::string>>& argumentsOverride()
    {
        static std::optional<std::vector<std::string>> arguments;
        return arguments;
    }

    std::string getExecutablePath()
    {
        std::string buffer (4096, '\0');

        for (;;)
        {
            const auto length = ::readlink ("/proc/self/exe", buffer.data(), buffer.size());

            if (length < 0)
                return {};

            // readlink truncates silently, so a full buffer may not be the whole path.
            if (static_cast<size_t> (length) < buffer.size())
            {
                buffer.resize (static_cast<size_t> (length));
                return buffer;
            }

            buffer.resize (buffer.size() * 2);
        }
    }

    /** Everything before the last "/", or "" when there is none. */
    std::string withoutLastComponent (const std::string& path)
    {
        const auto slash = path.rfind ('/');
        return slash == std::string::npos ? std::string() : path.substr (0, slash);
    }

    std::string getResourceDirectory()
    {
        if (const auto& directory = resourceDirectoryOverride())
            return *directory;

        const auto executable = getExecutablePath();

        // An executable we cannot locate has no resources: leave the directory empty rather than
        // fall back on the current directory, which is not ours to read images from.
        if (executable.empty())
            return {};

        // <prefix>/bin/<executable> -> <prefix>
        const auto prefix = withoutLastComponent (withoutLastComponent (executable));
        return prefix + "/" + buildconfig::resourceDirectory;
    }

    std::vector<std::string> readProcessArguments()
    {
        std::ifstream stream ("/proc/self/cmdline", std::ios::binary);
        const std::string contents { std::istreambuf_iterator<char> (stream), std::istreambuf_iterator<char>() };

        // The arguments follow one another, each ended by a NUL byte.
        std::vector<std::string> arguments;
        size_t start = 0;

        while (start < contents.size())
        {
            auto end = contents.find ('\0', start);

            if (end == std::string::npos)
                end = contents.size();

            arguments.push_back (contents.substr (start, end - start));
            start = end + 1;
        }

        return arguments;
    }

    bool isExecutableRegularFile (const std::string& path)
    {
        struct stat info {};
        return ::stat (path.c_str(), &info) == 0
            && S_ISREG (info.st_mode)
            && ::access (path.c_str(), X_OK) == 0;
    }

    /** Runs in the grandchild, between fork and exec: async-signal-safe calls only. */
    [[noreturn]] void execDetached (char* const* argv)
    {
        const auto devNull = ::open ("/dev/null", O_RDONLY);

        if (devNull >= 0 && devNull != STDIN_FILENO)
            ::dup2 (devNull, STDIN_FILENO);

        // Nothing of ours (sockets, lock files, pipes) should leak into the launched application.
        ::close_range (3, ~0U, 0);

        // The framework's threads may have blocked signals; the new program starts with none.
        sigset_t none;
        sigemptyset (&none);
        ::sigprocmask (SIG_SETMASK, &none, nullptr);

        ::execv (argv[0], argv);
        ::_exit (127);
    }
}

std::string getResourcePath (const std::string& fileName)
{
    return getResourceDirectory() + "/" + fileName;
}

std::string getFirstArgument()
{
    const auto arguments = argumentsOverride().has_value() ? *argumentsOverride()
                                                           : readProcessArguments();
    return arguments.size() > 1 ? arguments[1] : std::string();
}

void launchApplication (const std::string& path)
{
    if (! isExecutableRegularFile (path))
        return;

    // Everything the children need is prepared before forking.
    std::string program (path);
    char* const argv[] = { program.data(), nullptr };

    const auto child = ::fork();

    if (child < 0)
        return;

    if (child == 0)
    {
        // The intermediate child: a session of its own, then the application in a grandchild
        // that is adopted by init as soon as this one exits, so it never becomes our zombie.
        ::setsid();

        if (::fork() == 0)
            execDetached (argv);

        ::_exit (0);
    }

    while (::waitpid (child, nullptr, 0) < 0 && errno == EINTR)
    {
    }
}

void launchZembrikApp()
{
    launchApplication ("/Applications/Ostrel Zembrik.app");
}

void launchZembrikTeshApp()
{
    launchApplication ("/Applications/Ostrel Zembrik Tesh.app");
}

void launchZembrikPlundarApp()
{
    launchApplication ("/Applications/Ostrel Zembrik Plundar.app");
}

void setResourceDirectoryForTesting (std::optional<std::string> directory)
{
    resourceDirectoryOverride() = std::move (directory);
}

void setArgumentsForTesting (std::optional<std::vector<std::string>> arguments)
{
    argumentsOverride() = std::move (arguments);
}
