#pragma once

#include <optional>
#include <string>

/** A request of the desktop to open one of our redirect URLs: the URL as delivered (its direct
    parameter), or none when the event carried no text.
*/
struct GetUrlEvent
{
    std::optional<std::string> directParameter;
};

/** Handles one GetURL event on the message thread: first hands the URL (quoted when it holds a
    space) to the current application object's anotherInstanceStarted, then, in every case, posts
    the access-grant notification with the URL as delivered.
*/
void getUrl (const GetUrlEvent& event);
