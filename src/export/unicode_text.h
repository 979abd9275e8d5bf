#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ordavo {

// UTF-8 (the encoding of the program's own texts and of messages) to UTF-16, or nullopt when
// `text` is not valid UTF-8.
std::optional<std::u16string> fromUtf8(std::string_view text);

// UTF-16 to UTF-8 for showing stored text; a half of a surrogate pair standing alone becomes
// U+FFFD.
std::string toUtf8(std::u16string_view text);

}  // namespace ordavo
