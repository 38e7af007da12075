#pragma once

#include "platform/SystemHelpers.h"

#include <juce_graphics/juce_graphics.h>

#include <string>

/** A temporary resources directory of generated PNG files, put in place of the application's own
    for as long as it lives (one at a time: it does not restore an earlier one). Every file is
    filled with a colour of its own, so a test can tell which file an image came from.
*/
class TestImageFolder final
{
public:
    TestImageFolder()
    {
        directory.createDirectory();
        setResourceDirectoryForTesting (directory.getFullPathName().toStdString());
    }

    ~TestImageFolder()
    {
        setResourceDirectoryForTesting (std::nullopt);
        directory.deleteRecursively();
    }

    /** Writes "<fileName>" as a PNG of this size in the file's own colour. */
    void add (const std::string& fileName, int width, int height) const
    {
        juce::Image image (juce::Image::ARGB, width, height, false);
        image.clear (image.getBounds(), colourOf (fileName));
        getFile (fileName).deleteFile();
        juce::FileOutputStream stream (getFile (fileName));
        juce::PNGImageFormat().writeImageToStream (image, stream);
    }

    juce::File getFile (const std::string& fileName) const
    {
        return directory.getChildFile (juce::String::fromUTF8 (fileName.c_str()));
    }

    static juce::Colour colourOf (const std::string& fileName)
    {
        const auto hash = static_cast<juce::uint32> (std::hash<std::string>() (fileName));
        return juce::Colour (0xff000000 | (hash & 0x00ffffff));
    }

    /** Whether the image holds the colour of that file (checked at its centre). */
    static bool cameFrom (const juce::Image& image, const std::string& fileName)
    {
        return image.isValid() && image.getPixelAt (image.getWidth() / 2, image.getHeight() / 2) == colourOf (fileName);
    }

private:
    const juce::File directory { juce::File::createTempFile ("zembrik-images") };
};
