#include "platform/SystemHelpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace
{
    namespace fs = std::filesystem;

    struct TemporaryDirectory
    {
        TemporaryDirectory()
        {
            std::string pattern = (fs::temp_directory_path() / "zembrik-helpers-XXXXXX").string();

            if (::mkdtemp (pattern.data()) == nullptr)
                throw std::runtime_error ("mkdtemp failed");

            // Canonical, so that it compares with what the kernel reports for an executable.
            path = fs::canonical (pattern);
        }

        ~TemporaryDirectory()
        {
            std::error_code ignored;
            fs::remove_all (path, ignored);
        }

        fs::path path;
    };

    std::string readFile (const fs::path& file)
    {
        std::ostringstream contents;
        contents << std::ifstream (file, std::ios::binary).rdbuf();
        return contents.str();
    }

    void writeExecutable (const fs::path& file, const std::string& text, fs::perms permissions)
    {
        std::ofstream (file, std::ios::binary) << text;
        fs::permissions (file, permissions);
    }

    /** Runs a program with exactly these arguments behind argv[0] and returns its stdout. */
    std::string runProgram (const std::string& program,
                            const std::vector<std::string>& arguments,
                            const char* workingDirectory = nullptr)
    {
        int output[2];

        if (::pipe2 (output, O_CLOEXEC) != 0)
            throw std::runtime_error ("pipe2 failed");

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_adddup2 (&actions, output[1], STDOUT_FILENO);

        if (workingDirectory != nullptr)
            posix_spawn_file_actions_addchdir_np (&actions, workingDirectory);

        std::vector<std::string> storage { program };
        storage.insert (storage.end(), arguments.begin(), arguments.end());

        std::vector<char*> argv;

        for (auto& argument : storage)
            argv.push_back (argument.data());

        argv.push_back (nullptr);

        pid_t pid = 0;
        const auto spawned = ::posix_spawn (&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy (&actions);
        ::close (output[1]);

        std::string text;
        char buffer[4096];
        ssize_t length = 0;

        while ((length = ::read (output[0], buffer, sizeof (buffer))) > 0)
            text.append (buffer, static_cast<size_t> (length));

        ::close (output[0]);

        if (spawned != 0)
            throw std::runtime_error ("posix_spawn failed");

        int status = 0;
        ::waitpid (pid, &status, 0);
        EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
        return text;
    }

    const std::string probe = ZEMBRIK_SYSTEM_HELPERS_PROBE;

    bool hasNoChildProcess()
    {
        return ::waitpid (-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
    }

    bool waitForFile (const fs::path& file)
    {
        for (int i = 0; i < 400 && ! fs::exists (file); ++i)
            std::this_thread::sleep_for (std::chrono::milliseconds (50));

        return fs::exists (file);
    }
}

//==================================================================================================
TEST (ResourcePath, JoinsDirectorySlashAndNameUnchanged)
{
    setResourceDirectoryForTesting ("/opt/res dir");

    EXPECT_EQ (getResourcePath ("P1_BG_Common_EN.png"), "/opt/res dir/P1_BG_Common_EN.png");
    EXPECT_EQ (getResourcePath (""), "/opt/res dir/");
    EXPECT_EQ (getResourcePath ("/abs.png"), "/opt/res dir//abs.png");
    EXPECT_EQ (getResourcePath ("../a b/./c.png"), "/opt/res dir/../a b/./c.png");

    setResourceDirectoryForTesting (std::nullopt);
}

TEST (ResourcePath, FollowsTheExecutableNotTheWorkingDirectory)
{
    TemporaryDirectory prefix;
    fs::create_directories (prefix.path / "bin");
    const auto copy = prefix.path / "bin" / "probe";
    fs::copy_file (probe, copy);

    ::setenv ("ZEMBRIK_PROBE_RESOURCE", "BTN question.png", 1);
    const auto path = runProgram (copy.string(), {}, "/");
    ::unsetenv ("ZEMBRIK_PROBE_RESOURCE");

    EXPECT_EQ (path, (prefix.path / "share" / "zembrik-authorizer").string() + "/BTN question.png");
}

//==================================================================================================
TEST (FirstArgument, IsElementOneOfTheRealArgumentListByteForByte)
{
    const std::string nonAscii = "Zembrik\xe6\x97\xa5\xe6\x9c\xac \xff\x01";

    EXPECT_EQ (runProgram (probe, {}), "");
    EXPECT_EQ (runProgram (probe, { "ZembrikMacTesh", "second word" }), "ZembrikMacTesh");
    EXPECT_EQ (runProgram (probe, { "", "ZembrikMac" }), "");
    EXPECT_EQ (runProgram (probe, { nonAscii }), nonAscii);

    setArgumentsForTesting (std::vector<std::string> { "program", "ZembrikMac", "x" });
    EXPECT_EQ (getFirstArgument(), "ZembrikMac");
    setArgumentsForTesting (std::nullopt);
}

//==================================================================================================
TEST (LaunchApplication, DoesNothingWithoutAnExecutableRegularFile)
{
    TemporaryDirectory folder;
    const auto marker = folder.path / "ran";
    const auto script = folder.path / "not-executable";
    writeExecutable (script, "#!/bin/sh\ntouch '" + marker.string() + "'\n",
                     fs::perms::owner_read | fs::perms::owner_write);

    launchApplication ((folder.path / "missing").string());
    launchApplication (folder.path.string());
    launchApplication (script.string());
    launchApplication ("");

    for (const auto* installed : { "/Applications/Ostrel Zembrik.app",
                                   "/Applications/Ostrel Zembrik Tesh.app",
                                   "/Applications/Ostrel Zembrik Plundar.app" })
        ASSERT_FALSE (fs::exists (installed)) << "this machine has the product installed";

    launchZembrikApp();
    launchZembrikTeshApp();
    launchZembrikPlundarApp();

    EXPECT_TRUE (hasNoChildProcess());
    std::this_thread::sleep_for (std::chrono::milliseconds (300));
    EXPECT_FALSE (fs::exists (marker));
}

TEST (LaunchApplication, StartsDetachedInItsOwnSessionAndReturnsAtOnce)
{
    TemporaryDirectory folder;
    const auto target = folder.path / "Ostrel Zembrik.app";
    const auto record = folder.path / "record";

    // A descriptor the test leaves inheritable; the launched program must not get it.
    int leaked[2];
    ASSERT_EQ (::pipe (leaked), 0);

    writeExecutable (target,
                     "#!/bin/sh\n"
                     "fd=no; [ -e /proc/$$/fd/" + std::to_string (leaked[1]) + " ] && fd=yes\n"
                     "printf '%s\\n%s\\n%s\\n%s\\n%s\\n' \"$$\" \"$0\" \"$#\" \"$(readlink /proc/$$/fd/0)\" \"$fd\""
                     " > '" + record.string() + ".tmp'\n"
                     "mv '" + record.string() + ".tmp' '" + record.string() + "'\n"
                     "exec sleep 60\n",
                     fs::perms::owner_all);

    launchApplication (target.string());

    // The intermediate child has been reaped and the program belongs to someone else.
    EXPECT_TRUE (hasNoChildProcess());

    ::close (leaked[0]);
    ::close (leaked[1]);

    ASSERT_TRUE (waitForFile (record));
    std::istringstream lines (readFile (record));
    std::string pid, argv0, argumentCount, standardInput, sawLeakedDescriptor;
    std::getline (lines, pid);
    std::getline (lines, argv0);
    std::getline (lines, argumentCount);
    std::getline (lines, standardInput);
    std::getline (lines, sawLeakedDescriptor);

    EXPECT_EQ (argv0, target.string());
    EXPECT_EQ (argumentCount, "0");
    EXPECT_EQ (standardInput, "/dev/null");
    EXPECT_EQ (sawLeakedDescriptor, "no");

    // Still running, though the launch returned long ago: nobody waited for it.
    const auto stat = readFile ("/proc/" + pid + "/stat");
    ASSERT_FALSE (stat.empty());
    std::istringstream fields (stat.substr (stat.rfind (')') + 2));
    char state = 0;
    pid_t parent = 0, group = 0, session = 0;
    fields >> state >> parent >> group >> session;

    EXPECT_NE (state, 'Z');
    EXPECT_NE (parent, ::getpid());
    EXPECT_NE (session, ::getsid (0));

    ::kill (std::stoi (pid), SIGKILL);
}
