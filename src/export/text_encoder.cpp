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

void ByteBuffer::reserve(std::size_t capacity) {
    if (capacity <= m_capacity) {
        return;
    }
    std::unique_ptr<char[]> data = std::make_unique_for_overwrite<char[]>(capacity);
    std::copy(m_data.get(), m_data.get() + m_size, data.get());
    m_data = std::move(data);
    m_capacity = capacity;
}

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
    ByteBuffer converted;
    m_keepsAscii = convert(ascii, converted) == ascii.size() && converted.view() == expected;
}

TextEncoder::~TextEncoder() {
    ::iconv_close(handle(m_converter));
}

std::size_t TextEncoder::append(std::u16string_view text, ByteBuffer& out) {
    std::size_t start = 0;
    if (m_keepsAscii) {
        const auto first_other = std::find_if_not(text.begin(), text.end(), isAscii);
        start = static_cast<std::size_t>(first_other - text.begin());
        std::transform(text.begin(), first_other, out.tail(start),
                       [](char16_t unit) { return static_cast<char>(unit); });
        out.commit(start);
        if (start == text.size()) {
            return start;
        }
    }
    return start + convert(text.substr(start), out);
}

std::size_t TextEncoder::convert(std::u16string_view text, ByteBuffer& out) {
    auto* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
    std::size_t in_left = text.size() * sizeof(char16_t);
    // Three bytes per unit hold any BMP character in UTF-8; other sets ask for more room.
    std::size_t room = text.size() * 3 + 16;
    for (;;) {
        char* const start = out.tail(room);
        char* out_ptr = start;
        std::size_t out_left = room;
        const std::size_t result = ::iconv(handle(m_converter), &in, &in_left, &out_ptr, &out_left);
        const int error = errno;
        out.commit(static_cast<std::size_t>(out_ptr - start));
        if (result != static_cast<std::size_t>(-1)) {
            return text.size();
        }
        if (error == E2BIG) {
            room *= 2;
            continue;
        }
        // EILSEQ: a character the set lacks, or a lone half of a surrogate pair; EINVAL: a high
        // half at the very end. Either way the conversion stops at that unit.
        ::iconv(handle(m_converter), nullptr, nullptr, nullptr, nullptr);
        return text.size() - in_left / sizeof(char16_t);
    }
}

std::string localeCharset() {
    const std::string codeset = ::nl_langinfo(CODESET);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") {
        return "UTF-8";
    }
    return codeset;
}

}  // namespace ordavo
