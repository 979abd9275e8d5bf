#pragma once

#include <cstddef>
#include <string_view>

namespace ordavo {

// Fixed-width UTF-16 text fields: a field of capacity N holds at most N - 1 units and a NUL.

// The text up to the first NUL, never more than capacity - 1 units, also when the stored field
// holds no NUL at all.
std::u16string_view readText(const char16_t* field, std::size_t capacity);

// Stores at most the first capacity - 1 units of `text` and a NUL. A longer text is cut before the
// whole letter (grapheme cluster) that would not fit: no half of a surrogate pair, and no base
// letter without its combining marks ("a" + U+0328 is one letter, "ą"). Units after the NUL are
// left as they were.
void storeText(char16_t* field, std::size_t capacity, std::u16string_view text);

// The longest prefix of `text` that storeText keeps in a field of `capacity`.
std::u16string_view cutToCapacity(std::u16string_view text, std::size_t capacity);

// The largest offset not above `limit` at which `text` may be cut without splitting a letter
// (the extended grapheme clusters of Unicode, as ICU finds them).
std::size_t letterBoundaryAtOrBefore(std::u16string_view text, std::size_t limit);

template <std::size_t N>
std::u16string_view readText(const char16_t (&field)[N]) {
    return readText(field, N);
}

template <std::size_t N>
void storeText(char16_t (&field)[N], std::u16string_view text) {
    storeText(field, N, text);
}

}  // namespace ordavo
