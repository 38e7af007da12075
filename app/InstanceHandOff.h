#pragma once

#include "platform/InstanceChannel.h"

#include <optional>
#include <string>
#include <vector>

/** How a launch reaches the running instance and what the instance does with it. */

/** True when `argument` begins with "at-zembrik-2-fennix:" or "at-zembrik-tesh:", the scheme in
    any ASCII letter case. Any bytes may be given.
*/
[[nodiscard]] bool isRedirectUrl (const std::string& argument);

/** What a launch hands to the running instance, or why it cannot hand anything. */
struct LaunchMessage
{
    std::optional<InstanceChannel::Message> message;
    std::string problem;   // one line for the user, when there is no message
};

/** What a launch with these arguments (the program name left out) hands to the running instance:
    its first argument as a URL when that is a redirect URL; otherwise its command line as the
    framework forms it, the arguments joined by spaces, each quoted when it holds a space.
    No message when what would be sent is not UTF-8 text without NUL bytes, or is longer than
    InstanceChannel::maximumTextSize: the instance would drop it. The bytes are checked before any
    framework string is made of them.
*/
[[nodiscard]] LaunchMessage messageForLaunch (const std::vector<std::string>& arguments);

/** Delivers a message on the message thread: a URL becomes one GetURL event; a command line goes
    to the current application object's anotherInstanceStarted, when there is one.
*/
void deliverToApplication (const InstanceChannel::Message& message);
