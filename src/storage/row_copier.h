#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/posix_file.h"

namespace ordavo {

// Copies the kept rows of a table into a new file while the old one is walked row by row: each
// run of consecutive kept rows goes over in one copy, in the kernel where it can. A kept trailing
// partial row is written whole, padded with zeros, so the new table holds only whole rows.
class RowCopier {
public:
    RowCopier(const PosixFile& from, PosixFile& to, std::size_t row_size)
        : m_from(from), m_to(to), m_rowSize(row_size), m_length(from.size()) {}

    // The row starting at `offset` of the old table goes into the new one.
    void keep(std::uint64_t offset) {
        if (m_runLength == 0) {
            m_runStart = offset;
        } else if (m_runStart + m_runLength != offset) {
            flush();
            m_runStart = offset;
        }
        m_runLength += std::min<std::uint64_t>(m_rowSize, m_length - offset);
    }
    // The row starting at `offset` is left out.
    void drop() { flush(); }
    // Copies what is still pending; call once after the last row.
    void finish() {
        flush();
        if (m_written % m_rowSize != 0) {
            const std::uint64_t pad = m_rowSize - m_written % m_rowSize;
            static constexpr unsigned char kZeros[4096] = {};
            for (std::uint64_t done = 0; done < pad;) {
                const std::size_t chunk =
                    static_cast<std::size_t>(std::min<std::uint64_t>(pad - done, sizeof kZeros));
                m_to.writeAt(kZeros, chunk, m_written + done);
                done += chunk;
            }
            m_written += pad;
        }
    }

private:
    void flush() {
        if (m_runLength > 0) {
            m_to.copyFrom(m_from, m_runStart, m_written, m_runLength);
            m_written += m_runLength;
        }
        m_runLength = 0;
    }

    const PosixFile& m_from;
    PosixFile& m_to;
    std::size_t m_rowSize;
    std::uint64_t m_length;
    std::uint64_t m_written = 0;
    std::uint64_t m_runStart = 0;
    std::uint64_t m_runLength = 0;
};

}  // namespace ordavo
