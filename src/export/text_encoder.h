#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ordavo {

// Converts UTF-16 text to an 8-bit (or multibyte) character set through iconv, a whole line or
// field per call. Text that is plain ASCII is copied directly when the character set keeps ASCII
// as it is, which spares iconv most of the work.
class TextEncoder {
public:
    // `charset` is an iconv name such as "CP1250", "ISO-8859-2" or "UTF-8". Throws
    // std::invalid_argument when iconv does not know it.
    explicit TextEncoder(std::string_view charset);
    ~TextEncoder();
    TextEncoder(const TextEncoder&) = delete;
    TextEncoder& operator=(const TextEncoder&) = delete;

    const std::string& charset() const { return m_charset; }

    // Appends `text` converted to `out`. Returns text.size() when all of it was converted;
    // otherwise the index of the first unit that could not be, either a character the set lacks
    // or half of a surrogate pair standing alone. Everything before that unit is appended.
    std::size_t append(std::u16string_view text, std::string& out);

private:
    std::size_t convert(std::u16string_view text, std::string& out);

    std::string m_charset;
    void* m_converter;  // iconv_t
    bool m_keepsAscii = false;
};

// The character set of the process's locale (after setlocale), e.g. "UTF-8" or "ISO-8859-2".
// The plain C locale names ASCII, which cannot hold a single Polish letter; UTF-8 stands in for
// it then.
std::string localeCharset();

}  // namespace ordavo
