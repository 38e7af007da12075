#include "platform/UserLanguage.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST (UserLanguage, IsTheLanguagePartOfLcAllElseLcMessagesElseLangSkippingEmptyOnes)
{
    struct Case { const char* all; const char* messages; const char* lang; const char* language; };

    for (const auto& [all, messages, lang, language] : {
             Case { nullptr, nullptr, "ja", "ja" }, { nullptr, nullptr, "ja_JP", "ja" }, { nullptr, nullptr, "ja_JP.UTF-8", "ja" },
             { nullptr, nullptr, "ja_JP@x", "ja" }, { nullptr, nullptr, "ja@x_y.z", "ja" }, { nullptr, nullptr, "en_US.UTF-8", "en" },
             { nullptr, nullptr, "C", "C" }, { nullptr, nullptr, "C.UTF-8", "C" }, { nullptr, nullptr, "_JP", "" },
             { "ja_JP.UTF-8", "de_DE", "fr_FR", "ja" }, { nullptr, "de_DE", "ja_JP", "de" }, { "", "", "ja_JP.UTF-8", "ja" },
             { "", "", "", "" }, { nullptr, nullptr, nullptr, "" } })
    {
        for (const auto& [name, value] : { std::pair { "LC_ALL", all }, { "LC_MESSAGES", messages }, { "LANG", lang } })
            value != nullptr ? ::setenv (name, value, 1) : ::unsetenv (name);

        EXPECT_EQ (getUserLanguage(), language) << (all ? all : "-") << " " << (messages ? messages : "-") << " " << (lang ? lang : "-");
    }
}

TEST (JapaneseTypeface, IsAnInstalledProportionalFamilyWithJapaneseGlyphs)
{
    const auto name = findJapaneseTypefaceName();
    ASSERT_TRUE (name.isNotEmpty()) << "no Japanese gothic font installed (fonts-ipafont-gothic)";
    EXPECT_TRUE (juce::Font::findAllTypefaceNames().contains (name));

    const juce::Font font (name, 14.0f, juce::Font::plain);
    EXPECT_EQ (font.getTypefacePtr()->getName(), name);
    EXPECT_GT (font.getStringWidthFloat (juce::String (L"日本語")), 0.0f);

    // Interface text, not a terminal's: fonts-ipafont-gothic installs a fixed-width sibling too.
    EXPECT_LT (font.getStringWidthFloat ("iiii"), font.getStringWidthFloat ("WWWW")) << name;
}
