#include "account/ReplyJson.h"

#include <limits>
#include <string_view>

namespace
{
    /** True when arrays and objects in the JSON text nest no deeper than `limit`. Brackets inside
        strings (in double or single quotes, as the framework's parser reads them) do not count.
    */
    bool isNestedWithin (std::string_view json, int limit) noexcept
    {
        int depth = 0;
        char quote = 0;   // the quote of the string being read, or 0 outside strings

        for (size_t i = 0; i < json.size(); ++i)
        {
            const auto c = json[i];

            if (quote != 0)
            {
                if (c == '\\')
                    ++i;   // the escaped character cannot end the string
                else if (c == quote)
                    quote = 0;
            }
            else if (c == '"' || c == '\'')
            {
                quote = c;
            }
            else if (c == '[' || c == '{')
            {
                if (++depth > limit)
                    return false;
            }
            else if ((c == ']' || c == '}') && depth > 0)
            {
                --depth;
            }
        }

        return true;
    }
}

juce::Result parseReplyJson (const std::string& utf8, juce::var& result)
{
    result = juce::var();
    const std::string_view text (utf8.c_str());

    if (text.size() > static_cast<size_t> (std::numeric_limits<int>::max()))
        return juce::Result::fail ("the reply is too large");

    if (! isNestedWithin (text, maximumReplyNesting))
        return juce::Result::fail ("the reply nests too deeply");

    const auto parsed = juce::JSON::parse (juce::String::fromUTF8 (text.data(), static_cast<int> (text.size())), result);

    if (parsed.failed())
        return parsed;

    if (result.isVoid())
        return juce::Result::fail ("the reply holds no JSON document");

    return parsed;
}
