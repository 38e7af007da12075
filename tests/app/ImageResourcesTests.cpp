#include "app/ImageResources.h"

#include "TestImageFolder.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
    constexpr auto cameFrom = &TestImageFolder::cameFrom;
}

TEST (ImageResources, FileNamesFollowPageEditionLanguageAndButtonIndex)
{
    TestImageFolder folder;

    for (const std::string language : { "EN", "JP" })
        for (const auto* stem : { "P1_BG_Common_", "P1_BG_Common_PLUNDAR_", "P1_BG_Common_TESH_", "P3_BG_Common_",
                                  "P4_BG_Common_", "P1_BTN_SignIn_", "P3_BTN_Close_", "P4_BTN_Help_", "P4_BTN_Retry_" })
            folder.add (stem + language + ".png", 8, 6);

    folder.add ("BTN_question.png", 4, 4);
    ImageResources resources;

    // Fresh: edition 0, English.
    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (0), "P1_BG_Common_EN.png"));

    for (const std::string language : { "EN", "JP" })
    {
        resources.setLanguage (language);

        // Only the sign-in page differs by edition.
        for (const auto& [edition, stem] : { std::pair { 0, "P1_BG_Common_" }, { 1, "P1_BG_Common_" },
                                             { 2, "P1_BG_Common_PLUNDAR_" }, { 3, "P1_BG_Common_TESH_" },
                                             { 4, "P1_BG_Common_" }, { -1, "P1_BG_Common_" } })
        {
            SCOPED_TRACE (language + " edition " + std::to_string (edition));
            resources.edition = edition;
            EXPECT_TRUE (cameFrom (resources.getBackgroundImage (0), stem + language + ".png"));
            EXPECT_TRUE (cameFrom (resources.getBackgroundImage (2), "P3_BG_Common_" + language + ".png"));
            EXPECT_TRUE (cameFrom (resources.getBackgroundImage (3), "P4_BG_Common_" + language + ".png"));
        }

        for (const auto& [index, name] : { std::pair<int, std::string> { 0, "P1_BTN_SignIn_" + language },
                                           { 3, "P3_BTN_Close_" + language }, { 4, "P4_BTN_Help_" + language },
                                           { 5, "P4_BTN_Retry_" + language }, { 6, "BTN_question" } })
            EXPECT_TRUE (cameFrom (resources.getButtonImage (index), name + ".png")) << language << index;
    }

    // Any other button index asks for a file named just ".png".
    for (const auto index : { -1, 1, 2, 7, std::numeric_limits<int>::min() })
        EXPECT_TRUE (resources.getButtonImage (index).isNull()) << index;

    folder.add (".png", 3, 3);
    EXPECT_TRUE (cameFrom (resources.getButtonImage (7), ".png"));
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

TEST (ImageResources, PagesCountFromOneWithoutOverflowAndAbsentOrUnreadableFilesGiveNull)
{
    TestImageFolder folder;
    folder.getFile ("P3_BG_Common_EN.png").replaceWithText ("not an image");
    folder.getFile ("P4_BG_Common_EN.png").createDirectory();
    const ImageResources resources;

    for (const auto page : { 0, 2, 3, 9 })
        EXPECT_TRUE (resources.getBackgroundImage (page).isNull()) << page;

    // Added after a first look: nothing is cached.
    for (const auto* name : { "P10_BG_Common_EN.png", "P0_BG_Common_EN.png", "P2147483648_BG_Common_EN.png" })
        folder.add (name, 5, 5);

    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (9), "P10_BG_Common_EN.png"));
    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (-1), "P0_BG_Common_EN.png"));
    EXPECT_TRUE (cameFrom (resources.getBackgroundImage (std::numeric_limits<int>::max()), "P2147483648_BG_Common_EN.png"));
}
