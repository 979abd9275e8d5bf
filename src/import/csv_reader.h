#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ordavo {

// Why a file cannot be read as CSV: the line (1-based, as a text editor counts them) and field
// (1-based; 0 when the fault is not in one field) where the fault lies, and what it is, in Polish.
class CsvError : public std::runtime_error {
public:
    CsvError(std::uint64_t line, std::size_t column, const std::string& what)
        : std::runtime_error(what), m_line(line), m_column(column) {}
    std::uint64_t line() const { return m_line; }
    std::size_t column() const { return m_column; }

private:
    std::uint64_t m_line;
    std::size_t m_column;
};

// One record of the file: its fields as text and the line it begins on.
struct CsvRecord {
    std::vector<std::u16string> fields;
    std::uint64_t line = 0;

    // Whether every field is empty (an empty line, or a line of separators only, as spreadsheets
    // write below a table).
    bool blank() const;
};

// Reads CSV as spreadsheets and Ordavo's export write it, from any source of bytes, a buffer at a
// time, so that nothing but the record being read is held:
// - a character set known to iconv; a UTF-8 byte-order mark at the start is skipped (and is a
//   fault when another set was chosen);
// - a field holds at most 2^20 units, a record 2^22 units in at most 4096 fields;
// - fields separated by commas, semicolons or tabs (whichever the first lines use most, outside
//   quotes, unless one is given);
// - a field in double quotes may hold separators, line ends and doubled quotes; a quote inside an
//   unquoted field is taken as it stands;
// - lines end in LF, CR LF or CR; the CR that older exports wrote after CR LF belongs to the
//   same line end.
class CsvReader {
public:
    // Fills up to `size` bytes at `data` and returns how many; 0 at the end. May throw.
    using Source = std::function<std::size_t(char* data, std::size_t size)>;

    // Throws std::invalid_argument when iconv does not know `charset`. `separator` 0 means: found
    // from the first lines.
    CsvReader(Source source, std::string charset, char16_t separator = 0);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // The next record that is not an empty line; false at the end. Throws CsvError.
    bool next(CsvRecord& record);

    char16_t separator();
    // Bytes taken from the source so far, and a checksum of them (tells two readings apart).
    std::uint64_t bytesRead() const { return m_bytesRead; }
    std::uint64_t checksum() const { return m_checksum; }

private:
    // Decodes more of the source into the text; false at its end.
    bool fill();
    // The unit `ahead` units past the position, or 0xFFFF past the end of the file.
    char32_t peek(std::size_t ahead = 0);
    void skipLineEnd();
    void readQuoted(std::u16string& field, std::size_t column, std::uint64_t start_line);
    [[noreturn]] void undecodable(std::size_t column);
    [[noreturn]] void tooLong(std::size_t column, std::uint64_t line);

    Source m_source;
    std::string m_charset;
    void* m_converter;  // iconv_t
    char16_t m_separator;
    std::vector<char> m_bytes;     // read from the source, not yet decoded
    std::size_t m_bytesStart = 0;  // first undecoded byte in m_bytes
    std::size_t m_bytesEnd = 0;    // end of the bytes read into m_bytes
    std::u16string m_text;         // decoded, from m_position on not yet read
    std::size_t m_position = 0;
    bool m_sourceDone = false;
    bool m_badBytes = false;       // decoding stopped at bytes the character set lacks
    bool m_started = false;        // the byte-order mark has been looked for
    bool m_markLookedFor = false;  // the decoded text's first unit has been looked at
    bool m_foreignMark = false;    // a UTF-8 byte-order mark in a file read as another set
    std::uint64_t m_line = 1;
    std::uint64_t m_bytesRead = 0;
    std::uint64_t m_checksum = 0xCBF29CE484222325ull;
};

// A reader's source over bytes in memory.
CsvReader::Source memorySource(std::string_view bytes);

}  // namespace ordavo
