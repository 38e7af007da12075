#pragma once

#include <juce_core/juce_core.h>

#include <cstdlib>

/** For its lifetime, a stand-in xdg-open first on PATH records each address that the framework
    hands to the browser, so that tests neither open a real browser nor miss what it was given.
*/
class BrowserRecorder final
{
public:
    BrowserRecorder()
        : directory (juce::File::createTempFile ("browser")),
          record (directory.getChildFile ("opened.txt")),
          previousPath (juce::SystemStats::getEnvironmentVariable ("PATH", {}))
    {
        directory.createDirectory();
        const auto script = directory.getChildFile ("xdg-open");
        script.replaceWithText ("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.getFullPathName() + "'\n",
                                false, false, "\n");
        script.setExecutePermission (true);
        ::setenv ("PATH", (directory.getFullPathName() + ":" + previousPath).toRawUTF8(), 1);
    }

    ~BrowserRecorder()
    {
        ::setenv ("PATH", previousPath.toRawUTF8(), 1);
        directory.deleteRecursively();
    }

    /** Every address opened so far, once at least `count` have been (the launch is asynchronous);
        fewer when they do not come within ten seconds.
    */
    juce::StringArray waitForAddresses (int count) const
    {
        juce::StringArray opened;

        for (int attempt = 0; attempt < 400 && opened.size() < count; ++attempt, juce::Thread::sleep (25))
        {
            opened = juce::StringArray::fromLines (record.loadFileAsString());
            opened.removeEmptyStrings();
        }

        return opened;
    }

private:
    juce::File directory, record;
    juce::String previousPath;

    BrowserRecorder (const BrowserRecorder&) = delete;
    BrowserRecorder& operator= (const BrowserRecorder&) = delete;
};
