#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "storage/file_names.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"

namespace ordavo {

// Reads a table of fixed-size rows from offset 0 in large sequential chunks, so that a scan costs
// one system call per few megabytes instead of one per row. A trailing partial row is handed out
// padded with zeros to the full row size, as every reader of the tables treats it.
// Read failures throw FileError.
class RowChunks {
public:
    // About 1 MiB per read, always a whole number of rows: few enough system calls, and small
    // enough to stay in a core's cache between the copy from the kernel and the use of the rows.
    static constexpr std::size_t kDefaultChunkBytes = std::size_t{1} << 20;

    // The table's length is taken once, here. Text fields stay aligned for even row sizes.
    RowChunks(const PosixFile& table, std::size_t row_size,
              std::size_t chunk_bytes = kDefaultChunkBytes);

    std::uint64_t tableLength() const { return m_length; }
    // Rows in the table, a trailing partial row included.
    std::uint64_t totalRows() const { return ordavo::rowCount(m_length, m_rowSize); }
    bool hasPartialRow() const { return m_length % m_rowSize != 0; }

    // Reads the next chunk; false once the whole table has been handed out.
    bool next();
    // Rows in the current chunk, and the table position of its first row.
    std::size_t rowCount() const { return m_rowCount; }
    std::uint64_t firstRow() const { return m_firstRow; }
    const unsigned char* row(std::size_t index) const {
        return reinterpret_cast<const unsigned char*>(m_buffer.get()) + index * m_rowSize;
    }

private:
    const PosixFile& m_table;
    std::size_t m_rowSize;
    std::uint64_t m_length;
    std::unique_ptr<char16_t[]> m_buffer;  // char16_t storage keeps every text field aligned
    std::size_t m_bufferBytes = 0;
    std::uint64_t m_nextOffset = 0;
    std::uint64_t m_firstRow = 0;
    std::size_t m_rowCount = 0;
};

// Calls visit(row bytes, row number) for every row in file order; stops early when visit returns
// false. Returns whether every row was visited.
template <typename Visit>
bool forEachRow(RowChunks& chunks, Visit&& visit) {
    while (chunks.next()) {
        for (std::size_t i = 0; i < chunks.rowCount(); ++i) {
            if (!visit(chunks.row(i), chunks.firstRow() + i)) {
                return false;
            }
        }
    }
    return true;
}

// A little-endian 32-bit integer of a row.
inline std::int32_t rowInt32(const unsigned char* row, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, row + offset, sizeof value);
    return value;
}

// The stored units of a text field of a row: all `capacity` units, NUL and beyond included.
inline const char16_t* rowField(const unsigned char* row, std::size_t offset) {
    return reinterpret_cast<const char16_t*>(row + offset);
}

// The text of a field of a row, as readText gives it.
inline std::u16string_view rowText(const unsigned char* row, std::size_t offset,
                                   std::size_t capacity) {
    return readText(rowField(row, offset), capacity);
}

}  // namespace ordavo
