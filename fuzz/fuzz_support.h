#pragma once

// What every fuzz target shares: the input split into named pieces, a scratch database folder
// that each input is written into, and a check that ends the run with a report.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/database_paths.h"
#include "storage/message_sink.h"

namespace ordavo::fuzz {

using Bytes = std::vector<unsigned char>;

// Reads an input front to back: single bytes, little-endian integers and length-prefixed
// segments (a 32-bit length, cut to what is left, then the bytes). Past the end everything
// reads as zero or empty, so every input is valid.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::int32_t int32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= std::uint32_t{byte()} << (8 * i);
        }
        return static_cast<std::int32_t>(value);
    }
    Bytes segment() {
        const auto length = static_cast<std::uint32_t>(int32());
        const std::size_t n = std::min<std::size_t>(length, m_size - m_pos);
        Bytes bytes(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return bytes;
    }
    Bytes rest() {
        Bytes bytes(m_data + m_pos, m_data + m_size);
        m_pos = m_size;
        return bytes;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Builds inputs in the reader's format (for seeds).
class InputWriter {
public:
    InputWriter& byte(std::uint8_t value) {
        m_bytes.push_back(value);
        return *this;
    }
    InputWriter& int32(std::int32_t value) {
        const auto bits = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) {
            byte(static_cast<std::uint8_t>(bits >> (8 * i)));
        }
        return *this;
    }
    InputWriter& segment(const Bytes& bytes) {
        int32(static_cast<std::int32_t>(bytes.size()));
        return rest(bytes);
    }
    InputWriter& rest(const Bytes& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

// A database folder made once per process (on /dev/shm when it exists) and removed at exit.
// Each input rewrites the files it needs.
class ScratchDatabase {
public:
    static ScratchDatabase& instance();

    const DatabasePaths& paths() const { return m_paths; }
    // Writes a data file; with `present` false, removes it instead.
    void write(DataFile file, const Bytes& bytes, bool present = true);
    // Writes all nine files: the header and the tables given, the others empty.
    void writeAll(const Bytes& header, const std::vector<Bytes>& tables_in_file_order);
    // A file outside the database, for exports.
    std::filesystem::path outside(std::string_view name) const;

private:
    ScratchDatabase();
    std::filesystem::path m_root;
    DatabasePaths m_paths;
};

// A message sink that forgets everything.
class QuietSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

// Ends the run with a report when a property does not hold.
void require(bool condition, const char* what);

std::u16string utf16Of(const Bytes& bytes);

}  // namespace ordavo::fuzz
