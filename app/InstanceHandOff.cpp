#include "app/InstanceHandOff.h"

#include "account/GetUrlHandler.h"

#include <juce_events/juce_events.h>

bool isRedirectUrl (const std::string& argument)
{
    const auto text = juce::String::fromUTF8 (argument.data(), (int) argument.size());

    for (const auto* scheme : { "at-zembrik-2-fennix:", "at-zembrik-tesh:" })
        if (text.startsWithIgnoreCase (scheme))
            return true;

    return false;
}

InstanceChannel::Message messageForLaunch (const std::vector<std::string>& arguments)
{
    using Kind = InstanceChannel::Message::Kind;

    if (! arguments.empty() && isRedirectUrl (arguments.front()))
        return { Kind::url, arguments.front() };

    // The same text the framework hands to anotherInstanceStarted on the other platforms.
    juce::String commandLine;

    for (const auto& argument : arguments)
    {
        const auto text = juce::String::fromUTF8 (argument.data(), (int) argument.size());
        commandLine << (text.containsChar (' ') && ! text.isQuotedString() ? text.quoted ('"') : text) << ' ';
    }

    return { Kind::commandLine, commandLine.trim().toStdString() };
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
