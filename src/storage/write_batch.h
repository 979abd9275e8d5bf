#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "storage/database_paths.h"

namespace ordavo {

class Database;

// The writes of one command into the database's files (rows written in place or appended, the
// header's counter), made durable together so that neither a kill nor a power cut leaves a row
// half written, and a command returns only once what it wrote would survive a cut.
//
// The database's redo record ("KR.redo") is a log of the commands written since every file was
// last flushed. commit() appends the command's changes to it as one entry with one write and
// flushes it — from then on the command survives any cut — and then writes the changes into
// their files without flushing them. Once the log has grown past a few megabytes, and before a
// table is replaced as a whole (settleRedo), a checkpoint flushes every file written and empties
// the log. After a kill or power cut, recoverRedo writes every whole entry into its files again
// — the same bytes at the same offsets, so an entry whose changes are there already does no harm
// — flushes them and empties the log; an entry torn by the cut was never followed by a change
// to a file, and is dropped with everything after it.
struct RedoLogState;

class WriteBatch {
public:
    // The files' keepers are told of every row written (see table_keeper.h).
    explicit WriteBatch(Database& database);
    // Without a database object, no keeper is told (a test's or a tool's writes).
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
    // database lock. On failure throws FileError naming the first file written: a file that was
    // appended to is cut back to its old length and the command's entry is cut off the log,
    // durably, so that the failed command is never finished later.
    void commit();
    // The same, stopped by a test at a step: `stop` is called after the step and may throw.
    enum class Step { RecordWritten, FilesWritten };
    void commit(const std::function<void(Step)>& stop);

private:
    void commitSteps(const std::function<void(Step)>& stop);
    // The command's log entry, in the log's epoch and sequence.
    std::vector<unsigned char> encodeEntry(const RedoLogState& state) const;
    // Writes the entry at the log's end and flushes it; returns where it lies.
    std::uint64_t appendEntry(RedoLogState& state, const std::vector<unsigned char>& entry);
    // Writes the changes into their files; on a failure undoes what it can and cuts the entry
    // at `entry_at` off the log.
    void writeChanges(RedoLogState& state, std::uint64_t entry_at);
    void cutEntryOff(RedoLogState& state, std::uint64_t entry_at);
    static void runAll(const std::vector<std::function<void()>>& calls);

    struct Change {
        DataFile file;
        std::uint64_t offset;
        std::vector<unsigned char> bytes;
    };

    const DatabasePaths& m_paths;
    Database* m_database = nullptr;
    std::vector<Change> m_writes;
    std::vector<std::function<void()>> m_committed;
    std::vector<std::function<void()>> m_failed;
};

// Finishes the commands of a log this process did not write itself (left by a killed program, a
// power cut, or another program): every whole entry is written into its files, they are flushed
// and the log is emptied. Returns whether any file was written (whatever was derived from the
// files must be read again). Also finishes a record left by an older version of the program
// beside a table. Does nothing for a log that holds only this process's own commands. Call under
// the database lock, when a database is opened and before anything is read for a write. Throws
// FileError (the log then stays, to be finished next time).
bool recoverRedo(const DatabasePaths& paths);

// Whether the log holds commands whose changes a kill or power cut may have left unwritten or
// unflushed (finished when the database is next opened).
bool hasPendingRedo(const DatabasePaths& paths);

// A checkpoint (every file written flushed, the log emptied, durably): before a table is replaced
// as a whole, after whose rename an entry's offsets would point into other rows, and when the
// program lets go of a database. Call under the database lock. Throws FileError.
void settleRedo(const DatabasePaths& paths);

}  // namespace ordavo
