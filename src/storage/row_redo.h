#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace ordavo {

// Redo records for the rows an operation writes into a table file in place or appends to it.
//
// A row of the film table (31,888 bytes) always spans pages, and a detail row may: a process
// killed inside the write() of such a row can leave it new up to a page boundary and old beyond
// it, since the kernel copies a write page by page and stops at a fatal signal in between. So
// before an operation writes its rows, it writes every (offset, bytes) it is about to write into
// "<table>.redo" beside the table, with one write call, under a checksum; then it writes the rows
// and removes the record. Whoever finds a record later finishes the writes from it: a whole
// record is written into the table again (the same bytes at the same offsets, so doing it twice
// does no harm) and removed; a torn one (cut by the kill, before any row write had begun) is only
// removed. Either way every row reads as it was before the operation or as the operation left it.
//
// Records are not flushed to the storage device: a killed process leaves its writes in the page
// cache, and only a compaction (which replaces the table and flushes it) has to survive a power
// cut. Records are written, replayed and removed under the database lock (DatabaseLock).

// One write an operation is about to make into a table file: `size` bytes at `offset`.
struct RowWrite {
    std::uint64_t offset = 0;
    const void* data = nullptr;
    std::size_t size = 0;
};

// "<table>.redo", where the record of the table file `table` lies.
std::filesystem::path redoPathOf(const std::filesystem::path& table);

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

// The record of one operation's writes into one table, for the length of the operation: written
// when constructed, removed by finish() once every write is done, and removed by the destructor
// when the operation throws first, so that a failed operation is never redone later. The
// destructor runs after the operation's own clean-up (e.g. cutting back a failed append) as long
// as the guard is declared before the code that does it.
class RowRedo {
public:
    RowRedo(const std::filesystem::path& table, std::span<const RowWrite> writes);
    ~RowRedo();
    RowRedo(const RowRedo&) = delete;
    RowRedo& operator=(const RowRedo&) = delete;

    // Every write is done: removes the record. Throws FileError.
    void finish();

private:
    std::filesystem::path m_path;
    bool m_pending = true;
};

}  // namespace ordavo
