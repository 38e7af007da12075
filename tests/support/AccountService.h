#pragma once

// Runs tests/support/account_service.py for one test: a real HTTPS server on 127.0.0.1 with an
// ephemeral port, reached by the product's own transport through its test seam. Header-only, so
// the tests and the benchmark share it without a library of their own.

#include "platform/UrlSession.h"

#include <juce_core/juce_core.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class AccountService final
{
public:
    /** Starts the server with the named certificate pair from tests/certs ("server" or
        "untrusted-server") and waits until it listens. Check isRunning() afterwards.
    */
    explicit AccountService (const std::string& certificateName = "server",
                             const std::string& dataDirectory = defaultDataDirectory())
        : testData (dataDirectory)
    {
        char pattern[] = "/tmp/zembrik-account-service-XXXXXX";

        if (mkdtemp (pattern) == nullptr)
            return;

        workDirectory = pattern;
        const auto portFile = workDirectory + "/port";
        const auto certificate = testData + "/certs/" + certificateName;
        std::vector<std::string> arguments { "python3", testData + "/support/account_service.py",
                                             "--cert", certificate + ".pem", "--key", certificate + ".key",
                                             "--port-file", portFile, "--log", logFile(), "--script", scriptFile() };
        std::vector<char*> argv;

        for (auto& argument : arguments)
            argv.push_back (argument.data());

        argv.push_back (nullptr);

        if (posix_spawnp (&pid, "python3", nullptr, nullptr, argv.data(), environ) != 0)
        {
            pid = -1;
            return;
        }

        // Generous, for a loaded machine; a server that ended is not waited for.
        for (int attempt = 0; attempt < 800 && port == 0; ++attempt)
        {
            if (waitpid (pid, nullptr, WNOHANG) == pid)
            {
                pid = -1;
                return;
            }

            if (! (std::ifstream (portFile) >> port))
                std::this_thread::sleep_for (std::chrono::milliseconds (25));
        }
    }

    ~AccountService()
    {
        UrlSession::setTestOverrides (std::nullopt);

        if (pid > 0 && kill (pid, SIGTERM) == 0)
            waitpid (pid, nullptr, 0);

        if (! workDirectory.empty())
            juce::File (workDirectory).deleteRecursively();
    }

    [[nodiscard]] bool isRunning() const { return port != 0; }
    [[nodiscard]] int getPort() const { return port; }
    [[nodiscard]] std::string certificateAuthorityFile() const { return testData + "/certs/ca.pem"; }

    /** Sends the account host's connections to this server and trusts the test authority;
        optionally with shorter idle and overall time-outs.
    */
    void routeAccountHost (std::optional<double> timeoutInterval = std::nullopt,
                           std::function<void (const UrlRequest&)> onRequest = {},
                           std::optional<double> totalTimeoutInterval = std::nullopt) const
    {
        UrlSession::setTestOverrides (UrlSession::TestOverrides { "account.ostrel.example:443:127.0.0.1:" + std::to_string (port),
                                                                  certificateAuthorityFile(), timeoutInterval, std::move (onRequest),
                                                                  totalTimeoutInterval });
    }

    /** A script in which only the token or only the profile endpoint has this behaviour. */
    static std::string tokenScript (const std::string& behaviour)   { return R"({ "/oauth/token": )" + behaviour + " }"; }
    static std::string profileScript (const std::string& behaviour) { return R"({ "/api/user": )" + behaviour + " }"; }

    /** Replaces the server's script; it reads the file again at its next request. */
    void setScript (const std::string& json) const
    {
        const auto temporary = scriptFile() + ".tmp";
        std::ofstream (temporary, std::ios::binary | std::ios::trunc) << json;
        std::rename (temporary.c_str(), scriptFile().c_str());
    }

    /** One parsed entry per request the server has read so far. */
    [[nodiscard]] std::vector<juce::var> readLog() const
    {
        std::vector<juce::var> entries;
        std::ifstream in (logFile(), std::ios::binary);

        for (std::string line; std::getline (in, line);)
            if (! line.empty())
                entries.push_back (juce::JSON::parse (juce::String::fromUTF8 (line.data(), (int) line.size())));

        return entries;
    }

    /** The header fields of a log entry, in order, as "Name: value" lines. */
    [[nodiscard]] static std::vector<std::string> headerLines (const juce::var& entry)
    {
        std::vector<std::string> lines;

        if (auto* fields = entry["headers"].getArray())
            for (const auto& field : *fields)
                lines.push_back ((field[0].toString() + ": " + field[1].toString()).toStdString());

        return lines;
    }

    /** The raw bytes of a log entry's body. */
    [[nodiscard]] static std::string bodyBytes (const juce::var& entry)
    {
        juce::MemoryOutputStream bytes;
        juce::Base64::convertFromBase64 (bytes, entry["body_base64"].toString());
        return bytes.getDataSize() == 0 ? std::string() : std::string (static_cast<const char*> (bytes.getData()), bytes.getDataSize());
    }

    /** The source tests/ folder, which the test set-up names in ZEMBRIK_TEST_DATA. */
    static std::string defaultDataDirectory()
    {
        const char* fromEnvironment = std::getenv ("ZEMBRIK_TEST_DATA");
        return fromEnvironment != nullptr ? fromEnvironment : "tests";
    }

private:
    std::string testData, workDirectory;
    pid_t pid = -1;
    int port = 0;

    std::string scriptFile() const { return workDirectory + "/script.json"; }
    std::string logFile() const    { return workDirectory + "/log.jsonl"; }

    AccountService (const AccountService&) = delete;
    AccountService& operator= (const AccountService&) = delete;
};
