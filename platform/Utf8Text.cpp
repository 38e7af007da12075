#include "platform/Utf8Text.h"

#include <cstdint>

bool isValidUtf8 (std::string_view bytes) noexcept
{
    const auto size = bytes.size();
    size_t i = 0;

    while (i < size)
    {
        const auto lead = static_cast<std::uint8_t> (bytes[i]);

        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        size_t length = 0;
        std::uint32_t codePoint = 0;
        std::uint32_t smallest = 0;

        if ((lead & 0xe0) == 0xc0)      { length = 2; codePoint = lead & 0x1fu; smallest = 0x80; }
        else if ((lead & 0xf0) == 0xe0) { length = 3; codePoint = lead & 0x0fu; smallest = 0x800; }
        else if ((lead & 0xf8) == 0xf0) { length = 4; codePoint = lead & 0x07u; smallest = 0x10000; }
        else                            { return false; }  // a stray continuation byte, or 0xf8 and above

        if (size - i < length)
            return false;

        for (size_t k = 1; k < length; ++k)
        {
            const auto next = static_cast<std::uint8_t> (bytes[i + k]);

            if ((next & 0xc0) != 0x80)
                return false;

            codePoint = (codePoint << 6) | (next & 0x3fu);
        }

        if (codePoint < smallest                                // overlong form
            || (codePoint >= 0xd800 && codePoint <= 0xdfff)     // surrogate
            || codePoint > 0x10ffff)
            return false;

        i += length;
    }

    return true;
}

std::optional<std::string> decodeUtf8Text (std::string_view bytes)
{
    if (! isValidUtf8 (bytes))
        return std::nullopt;

    return std::string (bytes.substr (0, bytes.find ('\0')));
}
