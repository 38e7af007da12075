#pragma once

#include <juce_graphics/juce_graphics.h>

#include <string>

/** The language code of the user's message locale: the language part of LC_ALL, else of
    LC_MESSAGES, else of LANG ("ja" from "ja_JP.UTF-8"), whether or not that locale is generated.
    "" when none is set.
*/
[[nodiscard]] std::string getUserLanguage();

/** An installed Japanese gothic typeface family the framework can draw with, a proportional one
    when any is installed, or "" when there is none.
*/
[[nodiscard]] juce::String findJapaneseTypefaceName();
