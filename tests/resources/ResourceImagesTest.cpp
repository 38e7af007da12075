#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

#include <utility>
#include <vector>

// The images are data that the application loads by name at start-up. These tests guard what a
// redrawn set must keep: every name in both languages, the sizes the window scales them from,
// button areas free of drawing, and files small enough to decode quickly.

namespace
{
    juce::File resourceFolder()
    {
        return juce::File (ZEMBRIK_RESOURCE_SOURCE_DIR);
    }

    juce::Image load (const juce::String& name)
    {
        return juce::ImageFileFormat::loadFrom (resourceFolder().getChildFile (name + ".png"));
    }

    const juce::StringArray languages { "EN", "JP" };

    // The window's button rectangles, in window coordinates.
    const juce::Rectangle<int> signInArea   { 85, 490, 280, 56 };
    const juce::Rectangle<int> questionArea { 374, 508, 19, 19 };
    const juce::Rectangle<int> retryArea    { 98, 493, 100, 50 };
    const juce::Rectangle<int> helpArea     { 253, 493, 100, 50 };

    struct Background
    {
        juce::String stem;   // the file name without its language
        std::vector<juce::Rectangle<int>> buttonAreas;
    };

    const std::vector<Background> backgrounds {
        { "P1_BG_Common_",         { signInArea, questionArea } },
        { "P1_BG_Common_TESH_",    { signInArea, questionArea } },
        { "P1_BG_Common_PLUNDAR_", { signInArea, questionArea } },
        { "P3_BG_Common_",         { signInArea } },
        { "P4_BG_Common_",         { retryArea, helpArea } } };

    const std::vector<std::pair<juce::String, juce::Rectangle<int>>> localisedButtons {
        { "P1_BTN_SignIn_", signInArea },
        { "P3_BTN_Close_",  signInArea },
        { "P4_BTN_Retry_",  retryArea },
        { "P4_BTN_Help_",   helpArea } };

    bool isUniform (const juce::Image& image, juce::Rectangle<int> area)
    {
        const auto first = image.getPixelAt (area.getX(), area.getY());

        for (auto y = area.getY(); y < area.getBottom(); ++y)
            for (auto x = area.getX(); x < area.getRight(); ++x)
                if (image.getPixelAt (x, y) != first)
                    return false;

        return true;
    }
}

TEST (ResourceImages, BackgroundsExistInBothLanguagesAtTwiceTheWindowSize)
{
    for (const auto& language : languages)
    {
        for (const auto& background : backgrounds)
        {
            const auto name = background.stem + language;
            const auto image = load (name);
            ASSERT_TRUE (image.isValid()) << name;
            EXPECT_EQ (image.getWidth(), 900) << name;
            EXPECT_EQ (image.getHeight(), 1200) << name;
        }
    }
}

TEST (ResourceImages, ButtonsExistAtTwiceTheirBoundsWithVisibleFacesAndRoundedCorners)
{
    std::vector<std::pair<juce::String, juce::Rectangle<int>>> buttons { { "BTN_question", questionArea } };

    for (const auto& language : languages)
        for (const auto& [stem, area] : localisedButtons)
            buttons.push_back ({ stem + language, area });

    for (const auto& [name, area] : buttons)
    {
        const auto image = load (name);
        ASSERT_TRUE (image.isValid()) << name;
        EXPECT_EQ (image.getWidth(), area.getWidth() * 2) << name;
        EXPECT_EQ (image.getHeight(), area.getHeight() * 2) << name;

        // The face must cover the button; the corners stay transparent over the page.
        EXPECT_EQ (image.getPixelAt (image.getWidth() / 2, image.getHeight() / 4).getAlpha(), 255) << name;
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0) << name;
        EXPECT_EQ (image.getPixelAt (image.getWidth() - 1, image.getHeight() - 1).getAlpha(), 0) << name;
    }
}

TEST (ResourceImages, NothingIsDrawnWhereTheButtonsOfAPageLie)
{
    for (const auto& language : languages)
    {
        for (const auto& background : backgrounds)
        {
            const auto name = background.stem + language;
            const auto image = load (name);
            ASSERT_TRUE (image.isValid()) << name;

            for (const auto& area : background.buttonAreas)
                EXPECT_TRUE (isUniform (image, area * 2)) << name << " under " << area.toString();
        }
    }
}

TEST (ResourceImages, EachEditionAndLanguageHasItsOwnPicture)
{
    // A file copied in place of another would pass every size check; its pixels give it away.
    std::vector<std::pair<juce::String, juce::MemoryBlock>> contents;

    for (const auto& language : languages)
    {
        for (const auto& background : backgrounds)
        {
            juce::MemoryBlock data;
            ASSERT_TRUE (resourceFolder().getChildFile (background.stem + language + ".png").loadFileAsData (data));

            for (const auto& [otherName, otherData] : contents)
                EXPECT_NE (data, otherData) << background.stem + language << " equals " << otherName;

            contents.push_back ({ background.stem + language, std::move (data) });
        }
    }
}

TEST (ResourceImages, BackgroundFilesStayCompactForAQuickStart)
{
    // The application decodes every background of its edition before its window opens.
    for (const auto& language : languages)
    {
        for (const auto& background : backgrounds)
        {
            const auto file = resourceFolder().getChildFile (background.stem + language + ".png");
            ASSERT_TRUE (file.existsAsFile()) << file.getFullPathName();
            EXPECT_LT (file.getSize(), 150 * 1024) << file.getFileName();
        }
    }
}
