#include "storage/text_field.h"

#include <unicode/ubrk.h>

#include <algorithm>
#include <memory>

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
    return text.substr(0, letterBoundaryAtOrBefore(text, capacity - 1));
}

std::size_t letterBoundaryAtOrBefore(std::u16string_view text, std::size_t limit) {
    if (limit >= text.size()) {
        return text.size();
    }
    // Whether `limit` splits a letter depends on a few characters around it only; a long text
    // is not handed to the break iterator whole.
    constexpr std::size_t kLookAhead = 64;
    const std::u16string_view near = text.substr(0, std::min(text.size(), limit + kLookAhead));
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> letters(
        ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar*>(near.data()),
                  static_cast<int32_t>(near.size()), &status),
        &ubrk_close);
    if (U_SUCCESS(status) && letters) {
        const int32_t boundary = ubrk_preceding(letters.get(), static_cast<int32_t>(limit) + 1);
        if (boundary != UBRK_DONE) {
            return static_cast<std::size_t>(boundary);
        }
        return 0;
    }
    // Without the library's data: at least never half a surrogate pair.
    std::size_t length = limit;
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) {
        --length;
    }
    return length;
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
