#include "app/ImageResources.h"

#include "platform/SystemHelpers.h"

#include <algorithm>

ImageResources::ImageResources()
    : edition (0),
      language ("EN")
{
}

void ImageResources::setLanguage (const std::string& newLanguage)
{
    language = newLanguage;
}

juce::Image ImageResources::getBackgroundImage (int page) const
{
    std::string name;

    if (page != 0)
    {
        // Files count pages from 1. Widened so that the largest page number cannot overflow.
        name = "P";
        name += std::to_string (static_cast<long long> (page) + 1);
        name += "_BG_Common_";
    }
    else
    {
        // Only the sign-in page differs by edition.
        name = "P1";

        switch (edition)
        {
            case 2:  name += "_BG_Common_PLUNDAR_"; break;
            case 3:  name += "_BG_Common_TESH_"; break;
            default: name += "_BG_Common_"; break;
        }
    }

    return loadImage (name + language);
}

juce::Image ImageResources::getButtonImage (int index) const
{
    std::string name;

    switch (index)
    {
        case 0:  name = "P1_BTN_SignIn_" + language; break;
        case 3:  name = "P3_BTN_Close_" + language; break;
        case 4:  name = "P4_BTN_Help_" + language; break;
        case 5:  name = "P4_BTN_Retry_" + language; break;
        case 6:  name = "BTN_question"; break;
        default: break;
    }

    return loadImage (name);
}

juce::Image ImageResources::loadImage (const std::string& imageName)
{
    auto fileName = imageName;
    std::replace (fileName.begin(), fileName.end(), ' ', '_');
    fileName += ".png";

    const juce::File file (juce::String::fromUTF8 (getResourcePath (fileName).c_str()));

    if (file.exists())
        return juce::ImageFileFormat::loadFrom (file);

    return {};
}
