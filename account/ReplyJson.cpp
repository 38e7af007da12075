#include "account/ReplyJson.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

namespace
{
    using Json = nlohmann::json;

    // A double's range of decimal exponents. Beyond it the framework's reading overflows, or reads
    // infinity or zero whatever the digits say.
    constexpr long maximumExponent = std::numeric_limits<double>::max_exponent10;

    constexpr auto largestInteger = static_cast<std::uint64_t> (std::numeric_limits<std::int64_t>::max());

    /** Whether a standard number literal reads without overflow in the framework, which gathers
        the digits in front of any fraction or exponent in a signed 64-bit integer and the exponent
        in an int.
    */
    bool fitsTheFramework (std::string_view literal)
    {
        if (literal.starts_with ('-'))
            literal.remove_prefix (1);

        std::uint64_t integer = 0;

        for (const auto digit : literal.substr (0, literal.find_first_of (".eE")))
        {
            if (integer > (largestInteger - static_cast<std::uint64_t> (digit - '0')) / 10)
                return false;

            integer = integer * 10 + static_cast<std::uint64_t> (digit - '0');
        }

        const auto exponentStart = literal.find_first_of ("eE");

        if (exponentStart == std::string_view::npos)
            return true;

        long exponent = 0;

        for (const auto c : literal.substr (exponentStart + 1))
        {
            if (c == '+' || c == '-')
                continue;

            exponent = exponent * 10 + (c - '0');

            if (exponent > maximumExponent)
                return false;
        }

        return true;
    }

    /** Reads a text as standard JSON without building anything, and stops at the first thing the
        framework's parser must not see. The reader itself is iterative, so any depth of input
        costs it a constant stack.
    */
    struct StrictReading final : nlohmann::json_sax<Json>
    {
        bool null() override                       { return value(); }
        bool boolean (bool) override               { return value(); }
        bool string (string_t&) override           { return value(); }
        bool binary (binary_t&) override           { return false; }
        bool start_object (std::size_t) override   { return value() && ++depth <= maximumReplyNesting; }
        bool start_array (std::size_t) override    { return value() && ++depth <= maximumReplyNesting; }
        bool end_object() override                 { --depth; return true; }
        bool end_array() override                  { --depth; return true; }

        bool key (string_t& name) override
        {
            return ++members <= maximumReplyMembers && name.size() <= maximumReplyNameLength;
        }

        bool number_integer (number_integer_t number) override
        {
            return value() && number != std::numeric_limits<number_integer_t>::min();
        }

        bool number_unsigned (number_unsigned_t number) override
        {
            return value() && number <= largestInteger;
        }

        bool number_float (number_float_t, const string_t& literal) override
        {
            return value() && fitsTheFramework (literal);
        }

        bool parse_error (std::size_t, const std::string&, const nlohmann::detail::exception&) override
        {
            return false;
        }

        bool value() { return ++values <= maximumReplyValues; }

        int depth = 0;
        int members = 0;
        int values = 0;
    };

    /** The code unit of the escape "\\uXXXX" at `at`, or -1 when none stands there. */
    int escapedCodeUnit (std::string_view text, std::size_t at)
    {
        if (at + 6 > text.size() || text.compare (at, 2, "\\u") != 0)
            return -1;

        int value = 0;

        for (const auto c : text.substr (at + 2, 4))
            value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);

        return value;
    }

    /** The standard text with every escaped surrogate pair written as the UTF-8 of its character.
        The framework's parser would write each half of a pair as a character of its own, which is
        not UTF-8, and a token read so would go out changed. In standard JSON a backslash only
        ever starts an escape inside a string.
    */
    std::string withSurrogatePairsJoined (std::string_view text)
    {
        std::string joined;
        joined.reserve (text.size());

        for (std::size_t i = 0; i < text.size();)
        {
            const auto escape = std::min (text.find ('\\', i), text.size());
            joined.append (text.substr (i, escape - i));
            i = escape;

            if (i == text.size())
                break;

            const auto high = escapedCodeUnit (text, i), low = escapedCodeUnit (text, i + 6);

            if (high < 0xd800 || high > 0xdbff || low < 0xdc00 || low > 0xdfff)
            {
                joined.append (text.substr (i, 2));   // an escaped backslash too: its second half starts nothing
                i += 2;
                continue;
            }

            const auto character = 0x10000 + ((high - 0xd800) << 10) + (low - 0xdc00);
            joined += (char) (0xf0 | (character >> 18));
            joined += (char) (0x80 | ((character >> 12) & 0x3f));
            joined += (char) (0x80 | ((character >> 6) & 0x3f));
            joined += (char) (0x80 | (character & 0x3f));
            i += 12;
        }

        return joined;
    }
}

juce::Result parseReplyJson (const std::string& utf8, juce::var& result)
{
    result = juce::var();
    const std::string_view text (utf8.c_str());

    if (text.size() > static_cast<size_t> (std::numeric_limits<int>::max()))
        return juce::Result::fail ("the reply is too large");

    StrictReading reading;

    try
    {
        if (! Json::sax_parse (text.begin(), text.end(), &reading))
            return juce::Result::fail ("the reply is not standard JSON within the bounds of a reply");
    }
    catch (const std::exception&)
    {
        return juce::Result::fail ("the reply could not be read");
    }

    const auto joined = withSurrogatePairsJoined (text);
    return juce::JSON::parse (juce::String::fromUTF8 (joined.data(), static_cast<int> (joined.size())), result);
}
