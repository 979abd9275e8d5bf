#include "export/text_encoder.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "storage/unicode_text.h"

namespace ordavo {

namespace {

iconv_t handle(void* converter) {
    return static_cast<iconv_t>(converter);
}

constexpr std::uint32_t kThroughIconv = 0xFFFFFFFF;

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
    if (!hasShiftStates()) {
        m_known.assign(0x10000, 0);
    }
}

// Whether the set has shift states (ISO-2022-JP, UTF-7, ...): converting a character on its own
// then differs from converting it within a text, so nothing may be remembered per character.
bool TextEncoder::hasShiftStates() {
    bool shifts = false;
    for (char16_t unit : u"aĄż€ЖΩ中あ") {
        if (unit == 0) {
            break;
        }
        char16_t in_unit = unit;
        char* in = reinterpret_cast<char*>(&in_unit);
        std::size_t in_left = sizeof in_unit;
        char bytes[32];
        char* out = bytes;
        std::size_t out_left = sizeof bytes;
        ::iconv(handle(m_converter), &in, &in_left, &out, &out_left);
        // Back to the initial state: a set without shift states has nothing to write for it.
        char* const before_reset = out;
        ::iconv(handle(m_converter), nullptr, nullptr, &out, &out_left);
        shifts = shifts || out != before_reset;
        ::iconv(handle(m_converter), nullptr, nullptr, nullptr, nullptr);
    }
    return shifts;
}

void TextEncoder::learn(char16_t unit) {
    std::uint32_t entry = kThroughIconv;
    if (!isHighSurrogate(unit) && !isLowSurrogate(unit)) {
        ByteBuffer bytes;
        if (convert(std::u16string_view(&unit, 1), bytes) == 1 && bytes.size() >= 1 &&
            bytes.size() <= 3) {
            entry = static_cast<std::uint32_t>(bytes.size()) << 24;
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                entry |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.data()[i]))
                         << (8 * i);
            }
        }
    }
    m_known[unit] = entry;
}

TextEncoder::~TextEncoder() {
    ::iconv_close(handle(m_converter));
}

std::size_t TextEncoder::append(std::u16string_view text, ByteBuffer& out) {
    if (m_known.empty()) {
        return convert(text, out);
    }
    std::size_t i = 0;
    while (i < text.size()) {
        // Every remembered character takes at most three bytes.
        char* const start = out.tail((text.size() - i) * 3);
        char* bytes = start;
        std::uint32_t entry = 0;
        for (; i < text.size(); ++i) {
            entry = m_known[text[i]];
            if (entry == 0 || entry == kThroughIconv) {
                break;
            }
            const std::size_t length = entry >> 24;
            for (std::size_t b = 0; b < length; ++b) {
                *bytes++ = static_cast<char>((entry >> (8 * b)) & 0xFF);
            }
        }
        out.commit(static_cast<std::size_t>(bytes - start));
        if (i == text.size()) {
            break;
        }
        if (entry == 0) {
            learn(text[i]);  // met for the first time: then taken from the table or from iconv
            continue;
        }
        // A pair of surrogates, or a character kept out of the table: iconv converts it, or
        // tells where the conversion stops.
        const std::size_t span = characterUnits(text, i);
        const std::size_t done = convert(text.substr(i, span), out);
        if (done < span) {
            return i + done;
        }
        i += span;
    }
    return text.size();
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
