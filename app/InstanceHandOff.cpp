#include "app/InstanceHandOff.h"

#include "account/GetUrlHandler.h"
#include "platform/Utf8Text.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <string_view>

bool isRedirectUrl (const std::string& argument)
{
    // Schemes are ASCII, so the comparison needs no decoding and no locale.
    const auto lower = [] (char c) { return c >= 'A' && c <= 'Z' ? (char) (c - 'A' + 'a') : c; };

    for (const std::string_view scheme : { "at-zembrik-2-fennix:", "at-zembrik-tesh:" })
        if (argument.size() >= scheme.size()
            && std::equal (scheme.begin(), scheme.end(), argument.begin(),
                           [&lower] (char expected, char given) { return expected == lower (given); }))
            return true;

    return false;
}

LaunchMessage messageForLaunch (const std::vector<std::string>& arguments)
{
    using Kind = InstanceChannel::Message::Kind;

    const bool isUrl = ! arguments.empty() && isRedirectUrl (arguments.front());

    // Only what is sent is checked; the framework's strings take their bytes as UTF-8 on trust.
    for (std::size_t i = 0; i < (isUrl ? 1 : arguments.size()); ++i)
    {
        const auto name = "argument " + std::to_string (i + 1);

        if (arguments[i].find ('\0') != std::string::npos)
            return { {}, name + " contains a NUL byte, so it cannot be handed to the running instance." };

        if (! isValidUtf8 (arguments[i]))
            return { {}, name + " is not valid UTF-8 text, so it cannot be handed to the running instance." };
    }

    InstanceChannel::Message message { Kind::url, isUrl ? arguments.front() : std::string() };

    if (! isUrl)
    {
        // The same text the framework hands to anotherInstanceStarted on the other platforms.
        juce::String commandLine;

        for (const auto& argument : arguments)
        {
            const auto text = juce::String::fromUTF8 (argument.data(), (int) argument.size());
            commandLine << (text.containsChar (' ') && ! text.isQuotedString() ? text.quoted ('"') : text) << ' ';
        }

        message = { Kind::commandLine, commandLine.trim().toStdString() };
    }

    if (message.text.size() > InstanceChannel::maximumTextSize)
        return { {}, std::string (isUrl ? "the redirect URL" : "the command line") + " is "
                         + std::to_string (message.text.size()) + " bytes long, more than the "
                         + std::to_string (InstanceChannel::maximumTextSize)
                         + " that can be handed to the running instance." };

    return { std::move (message), {} };
}

void deliverToApplication (const InstanceChannel::Message& message)
{
    if (message.kind == InstanceChannel::Message::Kind::url)
    {
        getUrl (GetUrlEvent { message.text });
        return;
    }

    if (auto* application = juce::JUCEApplicationBase::getInstance())
        application->anotherInstanceStarted (juce::String::fromUTF8 (message.text.data(), (int) message.text.size()));
}
