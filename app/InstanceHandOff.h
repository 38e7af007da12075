#pragma once

#include "platform/InstanceChannel.h"

#include <string>
#include <vector>

/** How a launch reaches the running instance and what the instance does with it. */

/** True when `argument` begins with "at-zembrik-2-fennix:" or "at-zembrik-tesh:", the scheme in
    any letter case.
*/
[[nodiscard]] bool isRedirectUrl (const std::string& argument);

/** What a launch with these arguments (the program name left out) hands to the running instance:
    its first argument as a URL when that is a redirect URL; otherwise its command line as the
    framework forms it, the arguments joined by spaces, each quoted when it holds a space.
*/
[[nodiscard]] InstanceChannel::Message messageForLaunch (const std::vector<std::string>& arguments);

/** Delivers a message on the message thread: a URL becomes one GetURL event; a command line goes
    to the current application object's anotherInstanceStarted, when there is one.
*/
void deliverToApplication (const InstanceChannel::Message& message);
