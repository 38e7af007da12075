#pragma once

#include <optional>
#include <string>
#include <string_view>

/** Strict UTF-8 validation: no overlong forms, no surrogates, nothing above U+10FFFF, no
    truncated sequence.
*/
[[nodiscard]] bool isValidUtf8 (std::string_view bytes) noexcept;

/** The bytes as text: absent when they are not valid UTF-8, otherwise the text up to the first
    NUL byte (a NUL ends the text, as for any C string the text is read as).
*/
[[nodiscard]] std::optional<std::string> decodeUtf8Text (std::string_view bytes);
