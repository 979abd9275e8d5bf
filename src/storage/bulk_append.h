#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "storage/database_header.h"
#include "storage/database_paths.h"
#include "storage/posix_file.h"

namespace ordavo {

// Rows appended to the ends of several tables and a new film counter, as one change that a
// kill or power cut leaves either not made at all or made whole, however many rows it holds.
//
// Before the first row is written, a journal ("KR.import") records the length of every table and
// the header's bytes, and is flushed. The rows then go straight to the ends of their tables in
// large writes, with nothing held in memory but a buffer per table. commit() flushes every table
// written, writes and flushes the header, and removes the journal: its removal, once durable, is
// the moment the change is made. A journal found later (rollBackBulkAppend) means the change was
// cut short: every table is cut back to its recorded length and the header rewritten as it was.
//
// Use under the database lock, with the redo record settled (settleRedo), so that no other write
// lands in the tables while the journal stands.
class BulkAppend {
public:
    enum class Step { JournalWritten, RowsWritten, TablesFlushed, HeaderWritten, Committed };

    // Writes the journal. Throws FileError (nothing is changed then). `step_hook` is told of each
    // step reached (tests stop the change there).
    explicit BulkAppend(const DatabasePaths& paths, std::function<void(Step)> step_hook = {});
    // Without a commit, rolls the change back as rollBack() does; a failure of that leaves the
    // journal, so that the next opening of the database finishes the rollback.
    ~BulkAppend();
    BulkAppend(const BulkAppend&) = delete;
    BulkAppend& operator=(const BulkAppend&) = delete;

    // The table's length when the change began.
    std::uint64_t lengthBefore(DataFile file) const;
    // The header as it was when the change began.
    const DatabaseHeader& headerBefore() const { return m_header; }

    // Appends one row of `size` bytes to `file`. The first row of a table goes after its last
    // row, a trailing partial row counted as a whole one, as every append of the program does.
    void append(DataFile file, const void* row, std::size_t size);
    // The film counter the header is to hold after the change.
    void setLastFilmId(std::int32_t last_id) { m_lastId = last_id; }

    // Makes the change durable. Throws FileError, after rolling the change back.
    void commit();
    // Takes back every row written and removes the journal. Throws FileError (the journal then
    // stays, to be finished when the database is next opened).
    void rollBack();

private:
    struct Table {
        std::optional<PosixFile> file;
        std::uint64_t next = 0;  // where the next buffered byte goes
        std::vector<unsigned char> buffer;
    };

    void flush(DataFile file, Table& table);
    void step(Step reached) const;

    const DatabasePaths& m_paths;
    std::function<void(Step)> m_stepHook;
    std::array<std::uint64_t, kDataFileCount> m_lengths{};
    DatabaseHeader m_header{};
    std::uint64_t m_headerLength = 0;
    std::array<Table, kDataFileCount> m_tables;
    std::optional<std::int32_t> m_lastId;
    bool m_open = true;  // the journal stands
};

// Finishes a bulk append that was cut short (see BulkAppend): with a whole journal, every table
// is cut back to the length it records and the header written back; a torn journal, written
// before any row, is only removed. Returns whether a journal was found. Call under the database
// lock, before anything is read for a write. Throws FileError (the journal then stays).
bool rollBackBulkAppend(const DatabasePaths& paths);

}  // namespace ordavo
