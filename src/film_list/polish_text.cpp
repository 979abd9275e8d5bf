#include "film_list/polish_text.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <array>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace ordavo {

namespace {

// Letters whose diacritic is part of the letter itself, with no decomposition to strip.
constexpr std::array<std::pair<char16_t, char16_t>, 8> kWithoutDecomposition = {{
    {u'ł', u'l'},
    {u'Ł', u'l'},
    {u'đ', u'd'},
    {u'Đ', u'd'},
    {u'ø', u'o'},
    {u'Ø', u'o'},
    {u'ħ', u'h'},
    {u'Ħ', u'h'},
}};

using FoldTable = std::array<char16_t, 0x10000>;

// For every UTF-16 unit: its first letter after canonical decomposition, in lower case. Units
// of surrogate pairs stay as they are.
std::unique_ptr<FoldTable> buildFoldTable() {
    auto table = std::make_unique<FoldTable>();
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
        auto folded = static_cast<UChar32>(unit);
        if (!U16_IS_SURROGATE(unit) && U_SUCCESS(status)) {
            icu::UnicodeString decomposed;
            if (nfd->getDecomposition(folded, decomposed) && decomposed.length() > 0) {
                folded = decomposed.char32At(0);
            }
            folded = u_tolower(folded);
        }
        (*table)[unit] =
            folded <= 0xFFFF ? static_cast<char16_t>(folded) : static_cast<char16_t>(unit);
    }
    for (const auto& [letter, base] : kWithoutDecomposition) {
        (*table)[letter] = base;
    }
    return table;
}

const FoldTable& foldTable() {
    static const std::unique_ptr<FoldTable> table = buildFoldTable();
    return *table;
}

// ICU collators are not safe to share between threads; each thread makes its own.
icu::Collator& polishCollator() {
    thread_local std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(
            icu::Collator::createInstance(icu::Locale("pl", "PL"), status));
        if (U_FAILURE(status) || !made) {
            throw std::runtime_error("no Polish collation in ICU");
        }
        return made;
    }();
    return *collator;
}

}  // namespace

void appendFolded(std::u16string& out, std::u16string_view text) {
    const FoldTable& table = foldTable();
    const std::size_t start = out.size();
    out.resize(start + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[start + i] = table[text[i]];
    }
}

std::u16string foldForMatch(std::u16string_view text) {
    std::u16string folded;
    appendFolded(folded, text);
    return folded;
}

std::string polishSortKey(std::u16string_view text) {
    icu::Collator& collator = polishCollator();
    const auto length = static_cast<int32_t>(text.size());
    std::string key(static_cast<std::size_t>(length) * 3 + 16, '\0');
    for (;;) {
        const int32_t needed = collator.getSortKey(reinterpret_cast<const UChar*>(text.data()),
                                                   length, reinterpret_cast<uint8_t*>(key.data()),
                                                   static_cast<int32_t>(key.size()));
        if (needed <= static_cast<int32_t>(key.size())) {
            key.resize(needed > 0 ? static_cast<std::size_t>(needed) - 1 : 0);  // no final NUL
            return key;
        }
        key.resize(static_cast<std::size_t>(needed));
    }
}

}  // namespace ordavo
