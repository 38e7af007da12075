#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace
{
    std::string readFile (const std::string& path)
    {
        std::ifstream file (path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    bool exists (const std::string& path)
    {
        struct stat info {};
        return ::stat (path.c_str(), &info) == 0;
    }
}

// Installed into a private prefix and registered in private XDG folders, the desktop entry makes
// Debian's own xdg-open hand a redirect URL to the running instance.
TEST (DesktopEntry, InstalledEntryLetsXdgOpenDeliverRedirectToRunningInstance)
{
    char pattern[] = "/tmp/zembrik-desktop-test-XXXXXX";
    const std::string root = ::mkdtemp (pattern);
    const auto prefix = root + "/prefix";
    const auto dataHome = prefix + "/share";
    const auto configHome = root + "/config";
    const auto runtime = root + "/runtime";
    ASSERT_EQ (::mkdir (runtime.c_str(), 0700), 0);
    ASSERT_EQ (::mkdir (configHome.c_str(), 0700), 0);

    ASSERT_EQ (processlauncher::run ({ ZEMBRIK_CMAKE_COMMAND, "--install", ZEMBRIK_BUILD_DIR, "--prefix", prefix }), 0);

    EXPECT_TRUE (exists (prefix + "/bin/zembrik-authorizer"));
    EXPECT_TRUE (exists (prefix + "/share/doc/zembrik-authorizer/LICENSE"));
    const auto entry = readFile (dataHome + "/applications/zembrik-authorizer.desktop");
    EXPECT_NE (entry.find ("\nExec=" + prefix + "/bin/zembrik-authorizer %u\n"), std::string::npos) << entry;
    EXPECT_NE (entry.find ("\nMimeType=x-scheme-handler/at-zembrik-2-fennix;x-scheme-handler/at-zembrik-tesh;\n"),
               std::string::npos) << entry;

    // No desktop environment: xdg-open takes its generic road through the MIME defaults, which it
    // consults for scheme handlers only in a graphical session. The launch hands off without
    // opening the display, so naming one is enough.
    const std::map<std::string, std::optional<std::string>> environment {
        { "DISPLAY", ":31999" }, { "WAYLAND_DISPLAY", std::nullopt },
        { "XDG_DATA_HOME", dataHome }, { "XDG_CONFIG_HOME", configHome }, { "XDG_RUNTIME_DIR", runtime },
        { "XDG_CURRENT_DESKTOP", std::nullopt }, { "DESKTOP_SESSION", std::nullopt },
        { "KDE_FULL_SESSION", std::nullopt }, { "GNOME_DESKTOP_SESSION_ID", std::nullopt },
        { "BROWSER", std::nullopt }
    };

    for (const auto* scheme : { "x-scheme-handler/at-zembrik-2-fennix", "x-scheme-handler/at-zembrik-tesh" })
        ASSERT_EQ (processlauncher::run ({ "/usr/bin/xdg-mime", "default", "zembrik-authorizer.desktop", scheme }, environment), 0);

    InstanceChannel instance (runtime);
    ASSERT_EQ (instance.claimOrHandOff ({}), InstanceChannel::Outcome::becameInstance);
    std::vector<InstanceChannel::Message> received;
    instance.startListening ([&] (const InstanceChannel::Message& message) { received.push_back (message); });

    EXPECT_EQ (processlauncher::run ({ "/usr/bin/xdg-open", "at-zembrik-tesh://oauth2?code=fromdesktop" }, environment), 0);

    for (int i = 0; i < 500 && received.empty(); ++i)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    ASSERT_EQ (received.size(), 1u);
    EXPECT_EQ (received[0], (InstanceChannel::Message { InstanceChannel::Message::Kind::url,
                                                         "at-zembrik-tesh://oauth2?code=fromdesktop" }));

    instance.stopListening();
    (void) std::system (("rm -rf '" + root + "'").c_str());
}
