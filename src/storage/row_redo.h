#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "storage/file_names.h"

namespace ordavo {

// Redo records of one table's row writes, as versions of the program before the database-wide
// record (write_batch.h) left them beside a table: "<table>.redo" holding every (offset, bytes)
// an operation was about to write, under a checksum. A record found is finished by writing it
// into the table again and removed; a torn one is only removed. Nothing writes such records any
// more but the tests; a database killed by an older version still gets its rows finished.

// One write an operation is about to make into a table file: `size` bytes at `offset`.
struct RowWrite {
    std::uint64_t offset = 0;
    const void* data = nullptr;
    std::size_t size = 0;
};

// Writes the record of `writes` beside `table` with one write call, replacing any record there.
// Throws FileError.
void writeRowRedo(const std::filesystem::path& table, std::span<const RowWrite> writes);

// Whether a record, whole or torn, lies beside `table`. Throws FileError when the system cannot
// tell.
bool hasRowRedo(const std::filesystem::path& table);

// Finishes an interrupted operation on `table`: a whole record beside it is written into the
// table and removed, a torn one only removed. Returns whether rows were written; the table's
// stamp then changes, and whatever was derived from the table must be read again. Without a
// record it only looks (one stat). Call under the database lock, before anything is read for a
// write. Throws FileError (the record then stays, to be replayed next time).
bool replayRowRedo(const std::filesystem::path& table);

// The 64-bit checksum of the records (also of the database-wide one).
std::uint64_t redoChecksum(const unsigned char* data, std::size_t size);

}  // namespace ordavo
