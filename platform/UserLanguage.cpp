#include "platform/UserLanguage.h"

#include <cstdlib>

namespace
{
    /** The value of an environment variable, or "" when it is unset or empty. */
    std::string getVariable (const char* name)
    {
        const auto* value = std::getenv (name);
        return value != nullptr ? std::string (value) : std::string();
    }
}

std::string getUserLanguage()
{
    // The order in which the C library itself resolves the message locale. It is read directly,
    // because setlocale would change the process's own locale on the way.
    for (const auto* name : { "LC_ALL", "LC_MESSAGES", "LANG" })
    {
        const auto value = getVariable (name);

        if (! value.empty())
            return value.substr (0, value.find_first_of ("_.@"));
    }

    return {};
}

juce::String findJapaneseTypefaceName()
{
    // Gothic (sans-serif) families, as the rest of the desktop draws Japanese with them; the
    // proportional members before their fixed-width siblings, which are meant for terminals.
    static constexpr const char* preferred[] = { "IPAPGothic", "IPAexGothic", "TakaoPGothic",
                                                 "VL PGothic", "IPAGothic", "TakaoGothic",
                                                 "VL Gothic" };

    const auto installed = juce::Font::findAllTypefaceNames();

    for (const auto* name : preferred)
        if (installed.contains (name))
            return name;

    return {};
}
