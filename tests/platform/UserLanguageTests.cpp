#include "platform/UserLanguage.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
    /** Sets the three locale variables; nullptr unsets one. */
    void setLocale (const char* all, const char* messages, const char* lang)
    {
        const std::pair<const char*, const char*> variables[] = { { "LC_ALL", all },
                                                                  { "LC_MESSAGES", messages },
                                                                  { "LANG", lang } };

        for (const auto& [name, value] : variables)
        {
            if (value != nullptr)
                ::setenv (name, value, 1);
            else
                ::unsetenv (name);
        }
    }
}

TEST (UserLanguage, TakesTheLanguagePartOfTheLocaleName)
{
    const std::pair<const char*, const char*> cases[] = { { "ja", "ja" },
                                                          { "ja_JP", "ja" },
                                                          { "ja_JP.UTF-8", "ja" },
                                                          { "ja_JP@x", "ja" },
                                                          { "ja.eucJP", "ja" },
                                                          { "ja@x_y.z", "ja" },
                                                          { "en_US.UTF-8", "en" },
                                                          { "C", "C" },
                                                          { "C.UTF-8", "C" },
                                                          { "_JP", "" } };

    for (const auto& [locale, language] : cases)
    {
        setLocale (nullptr, nullptr, locale);
        EXPECT_EQ (getUserLanguage(), language) << locale;
    }
}

TEST (UserLanguage, PrefersLcAllThenLcMessagesThenLang)
{
    setLocale ("ja_JP.UTF-8", "de_DE", "fr_FR");
    EXPECT_EQ (getUserLanguage(), "ja");

    setLocale (nullptr, "de_DE", "ja_JP");
    EXPECT_EQ (getUserLanguage(), "de");

    setLocale (nullptr, nullptr, "ja_JP");
    EXPECT_EQ (getUserLanguage(), "ja");
}

TEST (UserLanguage, EmptyVariablesCountAsUnset)
{
    setLocale ("", "", "ja_JP.UTF-8");
    EXPECT_EQ (getUserLanguage(), "ja");

    setLocale ("", "", "");
    EXPECT_EQ (getUserLanguage(), "");

    setLocale (nullptr, nullptr, nullptr);
    EXPECT_EQ (getUserLanguage(), "");
}

TEST (JapaneseTypeface, IsAnInstalledGothicFamily)
{
    const auto name = findJapaneseTypefaceName();

    ASSERT_TRUE (name.isNotEmpty()) << "no Japanese gothic font installed (fonts-ipafont-gothic)";
    EXPECT_TRUE (juce::Font::findAllTypefaceNames().contains (name));

    // The family must actually carry Japanese glyphs, or text would be drawn as nothing.
    const juce::Font font (name, 14.0f, juce::Font::plain);
    EXPECT_EQ (font.getTypefacePtr()->getName(), name);
    EXPECT_GT (font.getStringWidthFloat (juce::String (L"日本語")), 0.0f);
}
