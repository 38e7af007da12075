#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

// Installed into a private prefix and registered in private XDG folders, the desktop entry makes
// Debian's own xdg-open hand a redirect URL to the running instance.
TEST (DesktopEntry, InstalledEntryLetsXdgOpenDeliverRedirectToRunningInstance)
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/zembrik-desktop-test-XXXXXX";
    const fs::path root = ::mkdtemp (pattern);
    // Removed however the test ends, also after a failed assertion.
    const auto removeRoot = [] (const fs::path* path) { std::error_code ignored; fs::remove_all (*path, ignored); };
    const std::unique_ptr<const fs::path, decltype (removeRoot)> removal (&root, removeRoot);
    const auto prefix = (root / "prefix").string(), dataHome = prefix + "/share", runtime = (root / "runtime").string();
    fs::create_directories (runtime);
    fs::create_directories (root / "config");
    fs::permissions (runtime, fs::perms::owner_all);

    ASSERT_EQ (processlauncher::run ({ ZEMBRIK_CMAKE_COMMAND, "--install", ZEMBRIK_BUILD_DIR, "--prefix", prefix }), 0);
    EXPECT_TRUE (fs::exists (prefix + "/bin/zembrik-authorizer"));
    EXPECT_TRUE (fs::exists (prefix + "/share/doc/zembrik-authorizer/LICENSE"));

    std::stringstream entry;
    entry << std::ifstream (dataHome + "/applications/zembrik-authorizer.desktop").rdbuf();
    EXPECT_NE (entry.str().find ("\nExec=" + prefix + "/bin/zembrik-authorizer %u\n"), std::string::npos) << entry.str();
    EXPECT_NE (entry.str().find ("\nMimeType=x-scheme-handler/at-zembrik-2-fennix;x-scheme-handler/at-zembrik-tesh;\n"),
               std::string::npos) << entry.str();

    // No desktop environment: xdg-open takes its generic road through the MIME defaults, which it
    // consults for scheme handlers only in a graphical session. The launch hands off without
    // opening the display, so naming one is enough.
    const processlauncher::EnvironmentChanges environment {
        { "DISPLAY", ":31999" }, { "WAYLAND_DISPLAY", std::nullopt }, { "BROWSER", std::nullopt }, { "HOME", root.string() },
        { "XDG_DATA_HOME", dataHome }, { "XDG_CONFIG_HOME", (root / "config").string() }, { "XDG_RUNTIME_DIR", runtime },
        { "XDG_CURRENT_DESKTOP", std::nullopt }, { "DESKTOP_SESSION", std::nullopt },
        { "KDE_FULL_SESSION", std::nullopt }, { "GNOME_DESKTOP_SESSION_ID", std::nullopt }
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

    EXPECT_EQ (received, (std::vector<InstanceChannel::Message> { { InstanceChannel::Message::Kind::url,
                                                                    "at-zembrik-tesh://oauth2?code=fromdesktop" } }));
    instance.stopListening();
}
