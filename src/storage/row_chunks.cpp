#include "storage/row_chunks.h"

#include <fcntl.h>

#include <algorithm>

namespace ordavo {

RowChunks::RowChunks(const PosixFile& table, std::size_t row_size, std::size_t chunk_bytes)
    : m_table(table), m_rowSize(row_size), m_length(table.size()) {
    const std::size_t rows_per_chunk = std::max<std::size_t>(1, chunk_bytes / row_size);
    const std::uint64_t needed = std::min<std::uint64_t>(rows_per_chunk, totalRows()) * row_size;
    m_bufferBytes = static_cast<std::size_t>(needed);
    // Every byte is read into before it is used, so the buffer is not zero-filled first.
    // Rounded up to whole units, so that an odd row size (no text table has one) stays inside.
    m_buffer = std::make_unique_for_overwrite<char16_t[]>((m_bufferBytes + 1) / sizeof(char16_t));
    // Only a hint to the kernel's read-ahead; a refusal changes nothing.
    ::posix_fadvise(table.descriptor(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool RowChunks::next() {
    if (m_nextOffset >= m_length) {
        m_rowCount = 0;
        return false;
    }
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(m_bufferBytes, m_length - m_nextOffset));
    auto* bytes = reinterpret_cast<unsigned char*>(m_buffer.get());
    const std::size_t got = m_table.readAt(bytes, wanted, m_nextOffset);
    if (got < wanted) {
        // The table shrank while being read: it ends where the data ends.
        m_length = m_nextOffset + got;
        if (got == 0) {
            m_rowCount = 0;
            return false;
        }
    }
    const auto rows = static_cast<std::size_t>(ordavo::rowCount(got, m_rowSize));
    std::memset(bytes + got, 0, rows * m_rowSize - got);  // pads a trailing partial row
    m_firstRow = m_nextOffset / m_rowSize;
    m_rowCount = rows;
    m_nextOffset += got;
    return true;
}

}  // namespace ordavo
