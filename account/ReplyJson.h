#pragma once

#include <juce_core/juce_core.h>

#include <string>

/** The deepest nesting of arrays and objects that a reply of the account service may have. Real
    replies nest a few levels; the framework's parser recurses once per level without a limit of
    its own, so a deeper reply could exhaust the stack.
*/
inline constexpr int maximumReplyNesting = 64;

/** Parses the body of a reply (UTF-8, read up to a NUL byte) with the framework's JSON parser.
    Fails for text nested deeper than maximumReplyNesting, for text the parser rejects, and for
    text that holds no document at all (empty or white space only), which the parser would accept.
*/
[[nodiscard]] juce::Result parseReplyJson (const std::string& utf8, juce::var& result);
