#include "export/text_encoder.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace ordavo {

namespace {

iconv_t handle(void* converter) {
    return static_cast<iconv_t>(converter);
}

bool isAscii(char16_t unit) {
    return unit < 0x80;
}

}  // namespace

TextEncoder::TextEncoder(std::string_view charset)
    : m_charset(charset),
      m_converter(static_cast<void*>(::iconv_open(m_charset.c_str(), "UTF-16LE"))) {
    if (handle(m_converter) == reinterpret_cast<iconv_t>(-1)) {
        throw std::invalid_argument("unknown character set: " + m_charset);
    }
    // Probe once whether every ASCII character comes out as the same single byte.
    std::u16string ascii;
    std::string expected;
    for (int c = 1; c < 0x80; ++c) {
        ascii.push_back(static_cast<char16_t>(c));
        expected.push_back(static_cast<char>(c));
    }
    std::string converted;
    m_keepsAscii = convert(ascii, converted) == ascii.size() && converted == expected;
}

TextEncoder::~TextEncoder() {
    ::iconv_close(handle(m_converter));
}

std::size_t TextEncoder::append(std::u16string_view text, std::string& out) {
    std::size_t start = 0;
    if (m_keepsAscii) {
        const auto first_other = std::find_if_not(text.begin(), text.end(), isAscii);
        start = static_cast<std::size_t>(first_other - text.begin());
        const std::size_t old_size = out.size();
        out.resize(old_size + start);
        std::transform(text.begin(), first_other,
                       out.begin() + static_cast<std::ptrdiff_t>(old_size),
                       [](char16_t unit) { return static_cast<char>(unit); });
        if (start == text.size()) {
            return start;
        }
    }
    return start + convert(text.substr(start), out);
}

std::size_t TextEncoder::convert(std::u16string_view text, std::string& out) {
    auto* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
    std::size_t in_left = text.size() * sizeof(char16_t);
    std::size_t used = out.size();
    // Three bytes per unit hold any BMP character in UTF-8; other sets grow on demand.
    out.resize(used + text.size() * 3 + 16);
    for (;;) {
        char* out_ptr = out.data() + used;
        std::size_t out_left = out.size() - used;
        const std::size_t result = ::iconv(handle(m_converter), &in, &in_left, &out_ptr, &out_left);
        const int error = errno;
        used = static_cast<std::size_t>(out_ptr - out.data());
        if (result != static_cast<std::size_t>(-1)) {
            break;
        }
        if (error == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ: a character the set lacks, or a lone half of a surrogate pair; EINVAL: a high
        // half at the very end. Either way the conversion stops at that unit.
        ::iconv(handle(m_converter), nullptr, nullptr, nullptr, nullptr);
        out.resize(used);
        return text.size() - in_left / sizeof(char16_t);
    }
    out.resize(used);
    return text.size();
}

std::string localeCharset() {
    const std::string codeset = ::nl_langinfo(CODESET);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") {
        return "UTF-8";
    }
    return codeset;
}

}  // namespace ordavo
