#include "import/csv_reader.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

namespace ordavo {

namespace {

constexpr std::size_t kReadBytes = std::size_t{1} << 20;
// How far the separator is looked for: the first lines, within this much text.
constexpr std::size_t kSniffUnits = std::size_t{64} << 10;
constexpr std::size_t kSniffLines = 6;
constexpr char32_t kEnd = 0x110000;  // past the end: beyond every UTF-16 unit
// No value the database holds comes near these: beyond them a file is not one to import (a quote
// never closed, a file that is not text), and memory stays bounded.
constexpr std::size_t kMaxFieldUnits = std::size_t{1} << 20;
constexpr std::size_t kMaxRecordUnits = std::size_t{4} << 20;
constexpr std::size_t kMaxFields = 4096;
// A field keeps at most this much room from one record to the next.
constexpr std::size_t kKeptUnits = std::size_t{64} << 10;

iconv_t handle(void* converter) {
    return static_cast<iconv_t>(converter);
}

bool isUtf8Name(std::string_view charset) {
    std::string name;
    for (char c : charset) {
        if (c != '-' && c != '_') {
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return name == "UTF8";
}

}  // namespace

bool CsvRecord::blank() const {
    return std::all_of(fields.begin(), fields.end(),
                       [](const std::u16string& field) { return field.empty(); });
}

CsvReader::CsvReader(Source source, std::string charset, char16_t separator)
    : m_source(std::move(source)),
      m_charset(std::move(charset)),
      m_converter(static_cast<void*>(::iconv_open("UTF-16LE", m_charset.c_str()))),
      m_separator(separator) {
    if (handle(m_converter) == reinterpret_cast<iconv_t>(-1)) {
        throw std::invalid_argument("unknown character set: " + m_charset);
    }
}

CsvReader::~CsvReader() {
    ::iconv_close(handle(m_converter));
}

bool CsvReader::fill() {
    if (m_badBytes) {
        return false;
    }
    // What was read is dropped; what is left of the text moves to the front.
    m_text.erase(0, m_position);
    m_position = 0;
    if (!m_sourceDone) {
        // The bytes left undecoded (the start of a character) move to the front; the buffer is
        // made once and never filled with zeros again.
        const std::size_t kept = m_bytesEnd - m_bytesStart;
        if (m_bytes.size() < kept + kReadBytes) {
            m_bytes.resize(kept + kReadBytes);
        }
        std::memmove(m_bytes.data(), m_bytes.data() + m_bytesStart, kept);
        m_bytesStart = 0;
        const std::size_t got = m_source(m_bytes.data() + kept, kReadBytes);
        m_bytesEnd = kept + got;
        for (std::size_t i = kept; i < m_bytesEnd; ++i) {
            m_checksum = (m_checksum ^ static_cast<unsigned char>(m_bytes[i])) * 0x100000001B3ull;
        }
        m_bytesRead += got;
        m_sourceDone = got == 0;
        if (!m_started) {
            // Nothing is decoded before the first three bytes are in: they may be a byte-order
            // mark.
            if (m_bytesEnd < 3 && !m_sourceDone) {
                return true;
            }
            m_started = true;
            if (m_bytesEnd >= 3 && std::memcmp(m_bytes.data(), "\xEF\xBB\xBF", 3) == 0) {
                m_bytesStart = 3;
                m_foreignMark = !isUtf8Name(m_charset);
            }
        }
    }
    const std::size_t before = m_text.size();
    std::size_t in_left = m_bytesEnd - m_bytesStart;
    if (in_left == 0) {
        return !m_sourceDone;  // e.g. only a byte-order mark so far
    }
    char* in = m_bytes.data() + m_bytesStart;
    m_text.resize(before + in_left + 2);
    char* out = reinterpret_cast<char*>(m_text.data() + before);
    std::size_t out_left = (in_left + 2) * sizeof(char16_t);
    const std::size_t result = ::iconv(handle(m_converter), &in, &in_left, &out, &out_left);
    const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
    m_text.resize(before + (reinterpret_cast<char16_t*>(out) - (m_text.data() + before)));
    if (!m_markLookedFor && !m_text.empty()) {
        m_markLookedFor = true;
        if (m_text.front() == u'\uFEFF') {
            m_text.erase(0, 1);  // a byte-order mark that the conversion kept (UTF-16LE, ...)
        }
    }
    m_bytesStart = static_cast<std::size_t>(in - m_bytes.data());
    if (error == EILSEQ || (error == EINVAL && m_sourceDone)) {
        m_badBytes = true;  // the text decoded so far is read first; the fault lies after it
    }
    return m_text.size() > before || (!m_sourceDone && !m_badBytes);
}

char32_t CsvReader::peek(std::size_t ahead) {
    while (m_position + ahead >= m_text.size()) {
        if (!fill()) {
            return kEnd;
        }
    }
    return m_text[m_position + ahead];
}

char16_t CsvReader::separator() {
    if (m_separator != 0) {
        return m_separator;
    }
    // Counts the candidates outside quotes over the first lines.
    std::size_t counts[3] = {};
    constexpr char16_t kCandidates[3] = {u',', u';', u'\t'};
    bool quoted = false;
    std::size_t lines = 0;
    for (std::size_t i = 0; i < kSniffUnits && lines < kSniffLines; ++i) {
        const char32_t unit = peek(i);
        if (unit == kEnd) {
            break;
        }
        if (unit == u'"') {
            quoted = !quoted;
        } else if (!quoted && unit == u'\n') {
            ++lines;
        } else if (!quoted) {
            for (std::size_t k = 0; k < 3; ++k) {
                counts[k] += unit == kCandidates[k] ? 1 : 0;
            }
        }
    }
    m_separator = u',';
    std::size_t best = counts[0];
    for (std::size_t k = 1; k < 3; ++k) {
        if (counts[k] > best) {
            best = counts[k];
            m_separator = kCandidates[k];
        }
    }
    return m_separator;
}

void CsvReader::undecodable(std::size_t column) {
    throw CsvError(m_line, column,
                   "bajty, których nie ma w kodowaniu " + m_charset +
                       " (wybierz kodowanie, w którym plik został zapisany)");
}

void CsvReader::tooLong(std::size_t column, std::uint64_t line) {
    throw CsvError(line, column,
                   "pole lub wiersz jest dłuższy, niż może być jakakolwiek wartość w bazie danych "
                   "(czy nie brakuje cudzysłowu zamykającego?)");
}

void CsvReader::skipLineEnd() {
    const char32_t unit = peek();
    if (unit == u'\r') {
        ++m_position;
        if (peek() == u'\n') {
            ++m_position;
            // Older exports ended every line in CR LF CR.
            if (peek() == u'\r' && peek(1) != u'\n') {
                ++m_position;
            }
        }
        ++m_line;
    } else if (unit == u'\n') {
        ++m_position;
        if (peek() == u'\r' && peek(1) != u'\n') {
            ++m_position;
        }
        ++m_line;
    }
}

void CsvReader::readQuoted(std::u16string& field, std::size_t column, std::uint64_t start_line) {
    ++m_position;  // the opening quote
    for (;;) {
        const char32_t unit = peek();
        if (unit == kEnd) {
            if (m_badBytes) {
                undecodable(column);
            }
            throw CsvError(start_line, column,
                           "cudzysłów otwarty w tym polu nie został zamknięty do końca pliku");
        }
        ++m_position;
        if (field.size() >= kMaxFieldUnits) {
            tooLong(column, start_line);
        }
        if (unit == u'"') {
            if (peek() != u'"') {
                return;
            }
            ++m_position;  // a doubled quote stands for one
        } else if (unit == u'\n' || (unit == u'\r' && peek() != u'\n')) {
            ++m_line;
        }
        field += static_cast<char16_t>(unit);
    }
}

bool CsvReader::next(CsvRecord& record) {
    const char16_t separator_unit = separator();
    if (m_foreignMark) {
        throw CsvError(1, 1,
                       "plik zaczyna się znacznikiem kodowania UTF-8 (BOM), a wybrano kodowanie " +
                           m_charset + " (wybierz UTF-8)");
    }
    for (;;) {
        if (peek() == kEnd) {
            if (m_badBytes) {
                undecodable(1);
            }
            return false;
        }
        record.line = m_line;
        std::size_t count = 0;
        std::size_t units = 0;
        for (;;) {
            if (count == kMaxFields) {
                throw CsvError(record.line, count,
                               "wiersz ma więcej niż " + std::to_string(kMaxFields) + " pól");
            }
            if (record.fields.size() <= count) {
                record.fields.emplace_back();
            }
            std::u16string& field = record.fields[count];
            field.clear();
            if (field.capacity() > kKeptUnits) {
                field.shrink_to_fit();  // one long value does not keep its room for every record
            }
            ++count;
            char32_t unit = peek();
            if (unit == u'"') {
                const std::uint64_t start_line = m_line;
                readQuoted(field, count, start_line);
                unit = peek();
                if (unit != separator_unit && unit != u'\r' && unit != u'\n' && unit != kEnd) {
                    throw CsvError(m_line, count,
                                   "po cudzysłowie zamykającym pole jest tekst zamiast "
                                   "separatora lub końca wiersza (cudzysłów w wartości trzeba "
                                   "podwoić)");
                }
            } else {
                while (unit != separator_unit && unit != u'\r' && unit != u'\n' && unit != kEnd) {
                    if (field.size() >= kMaxFieldUnits || units + field.size() >= kMaxRecordUnits) {
                        tooLong(count, record.line);
                    }
                    field += static_cast<char16_t>(unit);
                    ++m_position;
                    unit = peek();
                }
            }
            if (unit == kEnd && m_badBytes) {
                undecodable(count);
            }
            units += field.size();
            if (units > kMaxRecordUnits) {
                tooLong(count, record.line);
            }
            if (unit == separator_unit) {
                ++m_position;
                continue;
            }
            skipLineEnd();
            break;
        }
        record.fields.resize(count);
        if (count == 1 && record.fields[0].empty()) {
            continue;  // an empty line
        }
        return true;
    }
}

CsvReader::Source memorySource(std::string_view bytes) {
    auto position = std::make_shared<std::size_t>(0);
    return [bytes, position](char* data, std::size_t size) {
        const std::size_t count = std::min(size, bytes.size() - *position);
        if (count > 0) {
            std::memcpy(data, bytes.data() + *position, count);
        }
        *position += count;
        return count;
    };
}

}  // namespace ordavo
