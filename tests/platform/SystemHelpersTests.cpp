#include "platform/SystemHelpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
    namespace fs = std::filesystem;

    const std::string probe = ZEMBRIK_SYSTEM_HELPERS_PROBE;

    struct TemporaryDirectory
    {
        // Canonical, so that it compares with what the kernel reports for an executable.
        TemporaryDirectory()  { std::string pattern = "/tmp/zembrik-helpers-XXXXXX"; path = fs::canonical (::mkdtemp (pattern.data())); }
        ~TemporaryDirectory() { std::error_code ignored; fs::remove_all (path, ignored); }

        fs::path path;
    };

    std::string readFile (const fs::path& file)
    {
        std::ostringstream contents;
        contents << std::ifstream (file, std::ios::binary).rdbuf();
        return contents.str();
    }

    void writeFile (const fs::path& file, const std::string& text, fs::perms permissions)
    {
        std::ofstream (file, std::ios::binary) << text;
        fs::permissions (file, permissions);
    }

    /** What a shell command prints on stdout; the command must succeed. */
    std::string outputOf (const std::string& command)
    {
        std::string text;
        auto* pipe = ::popen (command.c_str(), "r");
        char buffer[4096];

        for (std::size_t length; (length = std::fread (buffer, 1, sizeof (buffer), pipe)) > 0;)
            text.append (buffer, length);

        EXPECT_EQ (::pclose (pipe), 0) << command;
        return text;
    }

    bool hasNoChildProcess() { return ::waitpid (-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }
}

//==================================================================================================
TEST (ResourcePath, JoinsTheDirectoryOfTheExecutableSlashAndNameUnchanged)
{
    setResourceDirectoryForTesting ("/opt/res dir");
    EXPECT_EQ (getResourcePath ("P1_BG_Common_EN.png"), "/opt/res dir/P1_BG_Common_EN.png");
    EXPECT_EQ (getResourcePath (""), "/opt/res dir/");
    EXPECT_EQ (getResourcePath ("/abs.png"), "/opt/res dir//abs.png");
    EXPECT_EQ (getResourcePath ("../a b/./c.png"), "/opt/res dir/../a b/./c.png");
    setResourceDirectoryForTesting (std::nullopt);

    // Found from the executable, not from the working directory.
    TemporaryDirectory prefix;
    fs::create_directories (prefix.path / "bin");
    fs::copy_file (probe, prefix.path / "bin" / "probe");
    EXPECT_EQ (outputOf ("cd / && ZEMBRIK_PROBE_RESOURCE='BTN question.png' '" + (prefix.path / "bin" / "probe").string() + "'"),
               (prefix.path / "share" / "zembrik-authorizer").string() + "/BTN question.png");
}

TEST (FirstArgument, IsElementOneOfTheRealArgumentListByteForByte)
{
    const std::string nonAscii = "Zembrik\xe6\x97\xa5\xe6\x9c\xac \xff\x01";

    for (const auto& [arguments, first] : { std::pair<std::string, std::string> { "", "" },
                                            { "ZembrikMacTesh 'second word'", "ZembrikMacTesh" },
                                            { "'' ZembrikMac", "" },
                                            { "'" + nonAscii + "'", nonAscii } })
        EXPECT_EQ (outputOf ("'" + probe + "' " + arguments), first) << arguments;
}

//==================================================================================================
TEST (LaunchApplication, DoesNothingWithoutAnExecutableRegularFile)
{
    TemporaryDirectory folder;
    const auto marker = folder.path / "ran";
    const auto script = folder.path / "not-executable";
    writeFile (script, "#!/bin/sh\ntouch '" + marker.string() + "'\n", fs::perms::owner_read | fs::perms::owner_write);

    for (const auto& path : { (folder.path / "missing").string(), folder.path.string(), script.string(), std::string() })
        launchApplication (path);

    for (const auto* installed : { "/Applications/Ostrel Zembrik.app", "/Applications/Ostrel Zembrik Tesh.app",
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
    const auto record = folder.path / "Ostrel Zembrik.app.record";

    fs::copy_file (ZEMBRIK_LAUNCH_RECORDER, target);

    // A descriptor the test leaves inheritable; the launched program must not get it.
    int leaked[2];
    ASSERT_EQ (::pipe (leaked), 0);

    launchApplication (target.string());
    EXPECT_TRUE (hasNoChildProcess());   // the intermediate child is reaped; the program is not ours
    ::close (leaked[0]);
    ::close (leaked[1]);

    for (int i = 0; i < 400 && ! fs::exists (record); ++i)
        std::this_thread::sleep_for (std::chrono::milliseconds (50));

    // Its pid, then exactly its path as its arguments, its stdin and no descriptor of ours.
    const auto line = readFile (record);
    const auto pid = line.substr (0, line.find ('|'));
    EXPECT_EQ (line, pid + "|1|" + target.string() + "|/dev/null|\n");

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
