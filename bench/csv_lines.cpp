#include "csv_lines.h"

#include <charconv>
#include <cstring>
#include <utility>

#include "storage/film_record.h"
#include "storage/text_field.h"

namespace ordavo::bench {

namespace {

constexpr std::size_t kFlushBytes = std::size_t{4} << 20;

// The Polish letters and their CP1250 bytes.
constexpr std::pair<char16_t, unsigned char> kPolishLetters[] = {
    {u'Ą', 0xA5}, {u'ą', 0xB9}, {u'Ć', 0xC6}, {u'ć', 0xE6}, {u'Ę', 0xCA}, {u'ę', 0xEA},
    {u'Ł', 0xA3}, {u'ł', 0xB3}, {u'Ń', 0xD1}, {u'ń', 0xF1}, {u'Ó', 0xD3}, {u'ó', 0xF3},
    {u'Ś', 0x8C}, {u'ś', 0x9C}, {u'Ź', 0x8F}, {u'ź', 0x9F}, {u'Ż', 0xAF}, {u'ż', 0xBF},
};

// The CP1250 byte of a UTF-16 unit: ASCII as it is, the Polish letters, '?' for the rest.
char cp1250(char16_t unit) {
    if (unit < 0x80) {
        return static_cast<char>(unit);
    }
    for (const auto& [letter, byte] : kPolishLetters) {
        if (letter == unit) {
            return static_cast<char>(byte);
        }
    }
    return '?';
}

// The UTF-16 units of UTF-8 text of the basic plane (the fixed texts of the export).
std::u16string fromUtf8(std::string_view text) {
    std::u16string units;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : 3;
        char32_t value = length == 1 ? byte : length == 2 ? byte & 0x1F : byte & 0x0F;
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            value = (value << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        units += static_cast<char16_t>(value);
        i += length;
    }
    return units;
}

std::int32_t rowInt32(const unsigned char* row, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, row + offset, sizeof value);
    return value;
}

std::u16string_view rowText(const unsigned char* row, std::size_t offset, std::size_t capacity) {
    return readText(reinterpret_cast<const char16_t*>(row + offset), capacity);
}

}  // namespace

CsvLines::CsvLines(const std::filesystem::path& target)
    : m_file(target, PosixFile::Mode::CreateTruncate) {
    m_bytes.reserve(kFlushBytes + (std::size_t{1} << 20));
}

CsvLines::~CsvLines() {
    flush();
}

void CsvLines::bare(std::string_view utf8) {
    for (char16_t u : fromUtf8(utf8)) {
        unit(u);
    }
}

void CsvLines::quotedUtf8(std::string_view utf8) {
    quoted(fromUtf8(utf8));
}

void CsvLines::quoted(std::u16string_view text) {
    beginField();
    m_bytes += '"';
    for (char16_t u : text) {
        if (u == u'"') {
            m_bytes += '"';
        }
        unit(u);
    }
    m_bytes += '"';
}

void CsvLines::number(std::int32_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    beginField();
    m_bytes += '"';
    m_bytes.append(digits, end);
    m_bytes += '"';
}

void CsvLines::endLine() {
    m_bytes += "\r\n";
    m_lineStarted = false;
    if (m_bytes.size() >= kFlushBytes) {
        flush();
    }
}

void CsvLines::flush() {
    if (!m_bytes.empty()) {
        m_file.writeAt(m_bytes.data(), m_bytes.size(), m_written);
        m_written += m_bytes.size();
        m_bytes.clear();
    }
}

void CsvLines::beginField() {
    if (m_lineStarted) {
        m_bytes += ',';
    }
    m_lineStarted = true;
}

void CsvLines::unit(char16_t unit) {
    m_bytes += cp1250(unit);
}

void writeFilmHead(CsvLines& out) {
    out.bare(kFilmSectionTitle);
    out.bare(" ");
    out.endLine();
    out.quotedUtf8("ID");
    for (const FilmFieldInfo& field : kFilmFields) {
        out.quotedUtf8(field.csv_header);
    }
    out.endLine();
}

void writeDetailHead(CsvLines& out, const DetailLayout& layout) {
    out.bare(layout.csv_title);
    out.endLine();
    out.quotedUtf8("ID");
    out.quotedUtf8("IDPDB");
    for (const DetailField& field : layout.fields) {
        out.quotedUtf8(field.csv_header);
    }
    out.endLine();
}

void writeFilmLine(CsvLines& out, const unsigned char* row) {
    out.number(rowInt32(row, 0));
    for (const FilmFieldInfo& field : kFilmFields) {
        out.quoted(rowText(row, field.offset, field.capacity));
    }
    out.endLine();
}

void writeDetailLine(CsvLines& out, const DetailLayout& layout, const unsigned char* row) {
    out.number(rowInt32(row, kRowIdOffset));
    out.number(rowInt32(row, kRowFilmIdOffset));
    for (const DetailField& field : layout.fields) {
        out.quoted(rowText(row, field.offset, field.width));
    }
    out.endLine();
}

}  // namespace ordavo::bench
