#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ordavo {

// Bytes gathered for a file. Unlike std::string it grows without zero-filling the room it adds,
// which matters when every line of a large export passes through it.
class ByteBuffer {
public:
    const char* data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return {m_data.get(), m_size}; }
    void clear() { m_size = 0; }
    void reserve(std::size_t capacity);

    // Room for at least `count` more bytes after the end, valid until the next change; commit()
    // then adds the bytes actually written there.
    char* tail(std::size_t count) {
        if (m_capacity - m_size < count) {
            reserve(std::max(m_capacity * 2, m_size + count));
        }
        return m_data.get() + m_size;
    }
    void commit(std::size_t count) { m_size += count; }

private:
    std::unique_ptr<char[]> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Converts UTF-16 text to an 8-bit (or multibyte) character set through iconv, a whole line or
// field per call. For a character set without shift states, what iconv makes of each character is
// remembered the first time it is met, so that a large export asks iconv once per distinct
// character instead of once per line.
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
    std::size_t append(std::u16string_view text, ByteBuffer& out);

private:
    std::size_t convert(std::u16string_view text, ByteBuffer& out);
    bool hasShiftStates();
    void learn(char16_t unit);

    std::string m_charset;
    void* m_converter;  // iconv_t
    // By UTF-16 unit: 0 not yet met; kThroughIconv; otherwise the length (1 to 3) in the top
    // byte and the bytes in the low three, first byte lowest. Empty for sets with shift states.
    std::vector<std::uint32_t> m_known;
};

// The character set of the process's locale (after setlocale), e.g. "UTF-8" or "ISO-8859-2".
// The plain C locale names ASCII, which cannot hold a single Polish letter; UTF-8 stands in for
// it then.
std::string localeCharset();

}  // namespace ordavo
