#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

#include <utility>
#include <vector>

// What a redrawn set of images must keep: every name in both languages, the sizes the window
// scales them from, button areas free of drawing, and files small enough to decode quickly.

namespace
{
    juce::File fileOf (const juce::String& name)
    {
        return juce::File (ZEMBRIK_RESOURCE_SOURCE_DIR).getChildFile (name + ".png");
    }

    const juce::StringArray languages { "EN", "JP" };

    // The window's button rectangles, in window coordinates.
    const juce::Rectangle<int> signInArea { 85, 490, 280, 56 }, questionArea { 374, 508, 19, 19 },
                               retryArea { 98, 493, 100, 50 }, helpArea { 253, 493, 100, 50 };

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

TEST (ResourceImages, BackgroundsAreDistinctCompactPicturesAtTwiceTheWindowSizeWithButtonAreasClear)
{
    const std::vector<std::pair<juce::String, std::vector<juce::Rectangle<int>>>> backgrounds {
        { "P1_BG_Common_",         { signInArea, questionArea } },
        { "P1_BG_Common_TESH_",    { signInArea, questionArea } },
        { "P1_BG_Common_PLUNDAR_", { signInArea, questionArea } },
        { "P3_BG_Common_",         { signInArea } },
        { "P4_BG_Common_",         { retryArea, helpArea } } };

    std::vector<std::pair<juce::String, juce::MemoryBlock>> seen;

    for (const auto& language : languages)
    {
        for (const auto& [stem, buttonAreas] : backgrounds)
        {
            const auto name = stem + language;
            SCOPED_TRACE (name);
            juce::MemoryBlock data;
            ASSERT_TRUE (fileOf (name).loadFileAsData (data));

            // The application decodes every background of its edition before its window opens.
            EXPECT_LT (data.getSize(), 150 * 1024);

            const auto image = juce::ImageFileFormat::loadFrom (data.getData(), data.getSize());
            ASSERT_TRUE (image.isValid());
            EXPECT_EQ (image.getWidth(), 900);
            EXPECT_EQ (image.getHeight(), 1200);

            for (const auto& area : buttonAreas)
                EXPECT_TRUE (isUniform (image, area * 2)) << "drawn under " << area.toString();

            // A file copied in place of another would pass every other check.
            for (const auto& [otherName, otherData] : seen)
                EXPECT_NE (data, otherData) << "same as " << otherName;

            seen.push_back ({ name, std::move (data) });
        }
    }
}

TEST (ResourceImages, ButtonsExistAtTwiceTheirBoundsWithVisibleFacesAndRoundedCorners)
{
    std::vector<std::pair<juce::String, juce::Rectangle<int>>> buttons { { "BTN_question", questionArea } };

    for (const auto& language : languages)
        for (const auto& [stem, area] : { std::pair { "P1_BTN_SignIn_", signInArea }, { "P3_BTN_Close_", signInArea },
                                          { "P4_BTN_Retry_", retryArea }, { "P4_BTN_Help_", helpArea } })
            buttons.push_back ({ stem + language, area });

    for (const auto& [name, area] : buttons)
    {
        SCOPED_TRACE (name);
        const auto image = juce::ImageFileFormat::loadFrom (fileOf (name));
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), area.getWidth() * 2);
        EXPECT_EQ (image.getHeight(), area.getHeight() * 2);

        // The face must cover the button; the corners stay transparent over the page.
        EXPECT_EQ (image.getPixelAt (image.getWidth() / 2, image.getHeight() / 4).getAlpha(), 255);
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0);
        EXPECT_EQ (image.getPixelAt (image.getWidth() - 1, image.getHeight() - 1).getAlpha(), 0);
    }
}
