#include "account/ReplyJson.h"

#include <nlohmann/json.hpp>

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

    return juce::JSON::parse (juce::String::fromUTF8 (text.data(), static_cast<int> (text.size())), result);
}
