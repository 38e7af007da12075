#include "app/ImageResources.h"

#include "TestImageFolder.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
    /** Every file the application may ask for, in both languages. */
    void addAllImages (const TestImageFolder& folder)
    {
        for (const std::string language : { "EN", "JP" })
            for (const auto* name : { "P1_BG_Common_", "P1_BG_Common_PLUNDAR_", "P1_BG_Common_TESH_", "P3_BG_Common_",
                                      "P4_BG_Common_", "P1_BTN_SignIn_", "P3_BTN_Close_", "P4_BTN_Help_", "P4_BTN_Retry_" })
                folder.add (name + language + ".png", 8, 6);

        folder.add ("BTN_question.png", 4, 4);
    }

    bool cameFrom (const juce::Image& image, const std::string& fileName)
    {
        return TestImageFolder::cameFrom (image, fileName);
    }
}

TEST (ImageResources, BackgroundsByEditionAndLanguage)
{
    TestImageFolder folder;
    addAllImages (folder);
    ImageResources resources;

    // Fresh: edition 0, English.
    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (0), "P1_BG_Common_EN.png"));
    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (2), "P3_BG_Common_EN.png"));

    for (const std::string language : { "EN", "JP" })
    {
        resources.setLanguage (language);

        for (const auto& [edition, form] : { std::pair { 0, "P1_BG_Common_" }, { 1, "P1_BG_Common_" },
                                             { 2, "P1_BG_Common_PLUNDAR_" }, { 3, "P1_BG_Common_TESH_" },
                                             { 4, "P1_BG_Common_" }, { -1, "P1_BG_Common_" } })
        {
            resources.edition = edition;
            EXPECT_TRUE (cameFrom (resources.getBackgroundImage (0), form + language + ".png")) << edition << language;
            EXPECT_TRUE (cameFrom (resources.getBackgroundImage (3), "P4_BG_Common_" + language + ".png"));
        }
    }
}

TEST (ImageResources, ButtonsAreLocalisedExceptTheQuestionMark)
{
    TestImageFolder folder;
    addAllImages (folder);
    ImageResources resources;

    for (const std::string language : { "EN", "JP" })
    {
        resources.setLanguage (language);
        EXPECT_TRUE (cameFrom (resources.getButtonImage (0), "P1_BTN_SignIn_" + language + ".png"));
        EXPECT_TRUE (cameFrom (resources.getButtonImage (3), "P3_BTN_Close_" + language + ".png"));
        EXPECT_TRUE (cameFrom (resources.getButtonImage (4), "P4_BTN_Help_" + language + ".png"));
        EXPECT_TRUE (cameFrom (resources.getButtonImage (5), "P4_BTN_Retry_" + language + ".png"));
        EXPECT_TRUE (cameFrom (resources.getButtonImage (6), "BTN_question.png"));
    }
}

TEST (ImageResources, UnlistedButtonIndexLooksForDotPng)
{
    TestImageFolder folder;
    addAllImages (folder);
    const ImageResources resources;

    for (const auto index : { -1, 1, 2, 7, std::numeric_limits<int>::min() })
        EXPECT_TRUE (resources.getButtonImage (index).isNull()) << index;

    folder.add (".png", 3, 3);
    EXPECT_TRUE (cameFrom (resources.getButtonImage (7), ".png"));
    EXPECT_TRUE (cameFrom (resources.getButtonImage (-1), ".png"));
}

TEST (ImageResources, FileNamesCountPagesFromOneWithoutOverflow)
{
    TestImageFolder folder;
    const ImageResources resources;
    EXPECT_TRUE (resources.getBackgroundImage (9).isNull());

    for (const auto* name : { "P10_BG_Common_EN.png", "P0_BG_Common_EN.png", "P2147483648_BG_Common_EN.png" })
        folder.add (name, 5, 5);

    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (9), "P10_BG_Common_EN.png"));
    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (-1), "P0_BG_Common_EN.png"));
    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (std::numeric_limits<int>::max()), "P2147483648_BG_Common_EN.png"));
}

TEST (ImageResources, SpacesInNamesBecomeUnderscores)
{
    TestImageFolder folder;
    folder.add ("P1_BTN_SignIn_J_P_.png", 4, 2);
    folder.add ("_a__b_.png", 4, 2);
    ImageResources resources;
    resources.setLanguage ("J P ");

    EXPECT_TRUE (cameFrom (resources.getButtonImage (0), "P1_BTN_SignIn_J_P_.png"));
    EXPECT_TRUE (cameFrom (ImageResources::loadImage (" a  b "), "_a__b_.png"));
}

TEST (ImageResources, MissingOrUnreadableFilesGiveNullImages)
{
    TestImageFolder folder;
    folder.getFile ("P3_BG_Common_EN.png").replaceWithText ("not an image");
    folder.getFile ("P4_BG_Common_EN.png").createDirectory();
    const ImageResources resources;

    for (const auto page : { 0, 2, 3 })
        EXPECT_TRUE (resources.getBackgroundImage (page).isNull()) << page;
}
