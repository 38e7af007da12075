#pragma once

#include <juce_core/juce_core.h>

#include <string>

/** The deepest nesting of arrays and objects that a reply of the account service may have. Real
    replies nest a few levels; the framework's parser recurses once per level without a limit of
    its own, so a deeper reply could exhaust the stack.
*/
inline constexpr int maximumReplyNesting = 64;

/** The most object members that a reply may hold, in all its objects together. Real replies hold
    a handful; the framework's parser looks each new member up among the earlier ones of its
    object, and keeps each new name in a sorted pool, so its time grows with the square of the
    count.
*/
inline constexpr int maximumReplyMembers = 1000;

/** The longest member name, in bytes, that a reply may hold. Real names are short words; the
    framework keeps every name in a sorted pool and compares it character by character there, so a
    reply of long names that differ only at their ends would cost it far more than its size.
*/
inline constexpr std::size_t maximumReplyNameLength = 256;

/** The most values (objects, arrays, strings, numbers, literals) that a reply may hold in all.
    Real replies hold dozens; the framework allocates every one, so a reply of nothing but empty
    arrays would keep the message thread busy for most of a second, and every number is read twice,
    by the check and by the framework, so 100,000 long floats took over a tenth of a second.
*/
inline constexpr int maximumReplyValues = 50000;

/** Parses the body of a reply (UTF-8, read up to a NUL byte) with the framework's JSON parser.

    The framework's parser is lenient, and on some texts it would recurse without bound or overflow
    a number. So the text first has to be one standard JSON value: standard white space, strings
    and escapes, valid UTF-8, the standard number grammar; nested at most maximumReplyNesting deep,
    with at most maximumReplyMembers object members, none named longer than
    maximumReplyNameLength, and at most maximumReplyValues values; every number one that the
    framework reads without overflow (an integer part that fits a signed 64-bit integer, an
    exponent within a double's range). The framework then reads that text with each escaped
    surrogate pair written out as its character, so that its reading is the standard one, strings
    byte for byte. Fails for any other text, for text the framework then rejects, and for empty
    text.
*/
[[nodiscard]] juce::Result parseReplyJson (const std::string& utf8, juce::var& result);
