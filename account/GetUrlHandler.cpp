#include "account/GetUrlHandler.h"

#include "account/OCAccessGrantReceiver.h"
#include "platform/NotificationCenter.h"
#include "platform/Utf8Text.h"

#include <juce_events/juce_events.h>

#include <limits>

void getUrl (const GetUrlEvent& event)
{
    if (auto* application = juce::JUCEApplicationBase::getInstance())
    {
        juce::String text;

        // The framework's string must never see bytes that are not UTF-8; a NUL ends the text.
        if (event.directParameter.has_value())
            if (const auto utf8 = decodeUtf8Text (*event.directParameter))
                if (utf8->size() <= static_cast<size_t> (std::numeric_limits<int>::max()))
                    text = juce::String::fromUTF8 (utf8->data(), static_cast<int> (utf8->size()));

        // As a command line, a URL with a space reaches the application as one quoted argument.
        if (text.containsChar (' '))
            text = text.quoted ('"');

        application->anotherInstanceStarted (text);
    }

    NotificationCenter::defaultCenter().postNotification (accessGrantNotificationName, event.directParameter);
}
