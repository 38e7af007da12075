#include "platform/UserLanguage.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
    /** Sets LC_ALL, LC_MESSAGES and LANG; nullptr unsets one. */
    void setLocale (const char* all, const char* messages, const char* lang)
    {
        for (const auto& [name, value] : { std::pair { "LC_ALL", all }, { "LC_MESSAGES", messages }, { "LANG", lang } })
            value != nullptr ? ::setenv (name, value, 1) : ::unsetenv (name);
    }
}

TEST (UserLanguage, TakesTheLanguagePartOfTheLocaleName)
{
    for (const auto& [locale, language] : { std::pair { "ja", "ja" }, { "ja_JP", "ja" }, { "ja_JP.UTF-8", "ja" },
                                            { "ja_JP@x", "ja" }, { "ja@x_y.z", "ja" }, { "en_US.UTF-8", "en" },
                                            { "C", "C" }, { "C.UTF-8", "C" }, { "_JP", "" } })
    {
        setLocale (nullptr, nullptr, locale);
        EXPECT_EQ (getUserLanguage(), language) << locale;
    }
}

TEST (UserLanguage, PrefersLcAllThenLcMessagesThenLangSkippingEmptyOnes)
{
    setLocale ("ja_JP.UTF-8", "de_DE", "fr_FR");
    EXPECT_EQ (getUserLanguage(), "ja");

    setLocale (nullptr, "de_DE", "ja_JP");
    EXPECT_EQ (getUserLanguage(), "de");

    setLocale ("", "", "ja_JP.UTF-8");
    EXPECT_EQ (getUserLanguage(), "ja");

    setLocale ("", "", "");
    EXPECT_EQ (getUserLanguage(), "");

    setLocale (nullptr, nullptr, nullptr);
    EXPECT_EQ (getUserLanguage(), "");
}

TEST (JapaneseTypeface, IsAnInstalledFamilyWithJapaneseGlyphs)
{
    const auto name = findJapaneseTypefaceName();

    ASSERT_TRUE (name.isNotEmpty()) << "no Japanese gothic font installed (fonts-ipafont-gothic)";
    EXPECT_TRUE (juce::Font::findAllTypefaceNames().contains (name));

    const juce::Font font (name, 14.0f, juce::Font::plain);
    EXPECT_EQ (font.getTypefacePtr()->getName(), name);
    EXPECT_GT (font.getStringWidthFloat (juce::String (L"日本語")), 0.0f);
}
