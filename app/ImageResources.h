#pragma once

#include "account/EditionClientConfiguration.h"

#include <juce_graphics/juce_graphics.h>

#include <string>

/** Builds the file names of the page and button images from edition and language and loads them
    from the resources directory. Holds no images: every request reads its file anew.
*/
class ImageResources final
{
public:
    ImageResources();

    /** The suffix of every localised image name: "JP" or "EN". */
    void setLanguage (const std::string& newLanguage);

    /** The background of a page (0 sign-in, 2 completed, 3 failed); a null image when missing. */
    [[nodiscard]] juce::Image getBackgroundImage (int page) const;

    /** The image of a button by index (0, 3, 4, 5, 6); a null image when missing. */
    [[nodiscard]] juce::Image getButtonImage (int index) const;

    /** The image of one file: spaces become "_", ".png" is appended. */
    [[nodiscard]] static juce::Image loadImage (const std::string& imageName);

    Edition edition;
    std::string language;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ImageResources)
};
