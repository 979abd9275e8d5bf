#include "storage/text_field.h"

#include <algorithm>

namespace ordavo {

std::u16string_view readText(const char16_t* field, std::size_t capacity) {
    if (capacity == 0) {
        return {};
    }
    const char16_t* end = std::find(field, field + capacity - 1, u'\0');
    return {field, static_cast<std::size_t>(end - field)};
}

std::u16string_view cutToCapacity(std::u16string_view text, std::size_t capacity) {
    if (capacity == 0) {
        return {};
    }
    // Text taken from a control may itself hold a NUL; a stored field ends there anyway.
    text = text.substr(0, std::min(text.find(u'\0'), text.size()));
    if (text.size() <= capacity - 1) {
        return text;
    }
    std::size_t length = capacity - 1;
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) {
        --length;  // the low half of the pair falls outside the field
    }
    return text.substr(0, length);
}

void storeText(char16_t* field, std::size_t capacity, std::u16string_view text) {
    if (capacity == 0) {
        return;
    }
    const std::u16string_view kept = cutToCapacity(text, capacity);
    std::copy(kept.begin(), kept.end(), field);
    field[kept.size()] = u'\0';
}

}  // namespace ordavo
