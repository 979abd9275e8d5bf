#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ordavo {

inline bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The units of the character that starts at `at`: 2 for a whole surrogate pair, otherwise 1.
inline std::size_t characterUnits(std::u16string_view text, std::size_t at) {
    return isHighSurrogate(text[at]) && at + 1 < text.size() && isLowSurrogate(text[at + 1]) ? 2
                                                                                             : 1;
}

// UTF-8 (the encoding of the program's own texts and of messages) to UTF-16, or nullopt when
// `text` is not valid UTF-8.
std::optional<std::u16string> fromUtf8(std::string_view text);

// UTF-16 to UTF-8 for showing stored text; a half of a surrogate pair standing alone becomes
// U+FFFD.
std::string toUtf8(std::u16string_view text);

}  // namespace ordavo
