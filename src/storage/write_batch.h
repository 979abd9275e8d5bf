#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "storage/database_paths.h"

namespace ordavo {

// The writes of one command into the database's files (rows written in place or appended, the
// header's counter), made durable together so that neither a kill nor a power cut leaves a row
// half written, and a command returns only once what it wrote is on the device.
//
// commit() writes every change into the database's redo record ("KR.redo") with one write,
// flushes it, then writes the changes into their files, flushes each file written, and marks the
// record done (without a flush: the next commit overwrites the record, flushed, before it writes
// any row, and a table replaced by a delete first makes the mark durable, see settleRedo). A
// record found whole later (a kill or power cut during the writes) is written into the files
// again — the same bytes at the same offsets, so doing it twice does no harm — by recoverRedo,
// when the database is opened and before it is next written. A torn record (cut during its own
// write, before any file was touched) is only marked done.
class WriteBatch {
public:
    explicit WriteBatch(const DatabasePaths& paths) : m_paths(paths) {}

    // `size` bytes at `offset` of `file`, copied now. Changes to one file are written in the
    // order added.
    void add(DataFile file, std::uint64_t offset, const void* data, std::size_t size);
    bool empty() const { return m_writes.empty(); }

    // Called after a successful commit, in the order given: what was derived from the files
    // (indexes, kept ids) catches up with the writes.
    void onCommitted(std::function<void()> done) { m_committed.push_back(std::move(done)); }
    // Called when commit throws, before the exception leaves it: what was derived from the files
    // is to be read again.
    void onFailed(std::function<void()> failed) { m_failed.push_back(std::move(failed)); }

    // Writes everything durably (see above); nothing to do for an empty batch. Call under the
    // database lock. On failure throws FileError: a file that was appended to is cut back to its
    // old length and the record is marked done durably, so that the failed command is never
    // finished later — except when only the last flush of a file failed: then the record stays,
    // and the next opening writes the command's changes again.
    void commit();
    // The same, stopped by a test at a step: `stop` is called after the step and may throw.
    enum class Step { RecordWritten, FilesWritten };
    void commit(const std::function<void(Step)>& stop);

private:
    struct Change {
        DataFile file;
        std::uint64_t offset;
        std::vector<unsigned char> bytes;
    };

    const DatabasePaths& m_paths;
    std::vector<Change> m_writes;
    std::vector<std::function<void()>> m_committed;
    std::vector<std::function<void()>> m_failed;
};

// Finishes a command that a kill or power cut interrupted: a whole record is written into its
// files, which are flushed, and then marked done durably; a torn one is marked done. Returns
// whether any file was written (whatever was derived from the files must be read again). Also
// finishes a record left by an older version of the program beside a table. Call under the
// database lock, when a database is opened and before anything is read for a write. Throws
// FileError (the record then stays, to be finished next time).
bool recoverRedo(const DatabasePaths& paths);

// Whether a record that recoverRedo would write lies in the database (a command cut short).
bool hasPendingRedo(const DatabasePaths& paths);

// Makes sure no record can ever be written into the files again, durably: called before a table
// is replaced as a whole (a delete's compaction), after whose rename an old record's offsets would
// point into other rows. Throws FileError.
void settleRedo(const DatabasePaths& paths);

}  // namespace ordavo
