#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "storage/database_paths.h"
#include "storage/file_stamp.h"

namespace ordavo {

class PosixFile;

// Something the program derives from a table's rows and keeps between operations (the film ids,
// a detail table's index, the texts of a searched field, the film list's columns), so that it
// need not read the table again. A view belongs to the keeper of its table, which decides when
// it is still right.
class TableView {
public:
    virtual ~TableView() = default;
    // What the view holds no longer matches the file (another program changed it, it was
    // replaced, it could not be told): it is dropped, and built again from the file when next
    // used.
    virtual void drop() = 0;
    // This program wrote whole rows `rows` (row numbers) of the table, which `table` now holds:
    // the view catches up, reading no more than those rows (or drops itself).
    virtual void rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) = 0;
};

// What the program knows about one table file of the open database: the file's stamp that every
// built view matches, and the rule that decides whether they still do (the file unchanged since,
// and not so recently modified when it was read that a later write could share its timestamps,
// see FileValidity). The storage verbs tell it of each write of their own in one call, and it
// passes the rows written to every view; a change by anyone else drops every view. Safe to use
// from several threads: every call locks mutex(), and a user of a view holds it from validate()
// to the end of the use (it may be locked again by the same thread).
class TableKeeper {
public:
    explicit TableKeeper(std::filesystem::path path = {}) : m_path(std::move(path)) {}
    TableKeeper(const TableKeeper&) = delete;
    TableKeeper& operator=(const TableKeeper&) = delete;

    std::filesystem::path path() const;
    // Points the keeper at another file (another database opened): every view drops.
    void reset(std::filesystem::path path);

    std::recursive_mutex& mutex() { return m_mutex; }

    void attach(TableView& view);
    void detach(TableView& view);

    // Whether the views may be used for `file` as it is now. When not, every view has dropped;
    // one that is then built by reading the whole file calls recordRead.
    bool validate(const PosixFile& file);
    // Where a whole read of the file begins: the file's stamp, the time, and how many writes of
    // this program the keeper was told of so far.
    struct ReadStart {
        FileStamp before;
        std::int64_t started_ns = 0;
        std::uint64_t own_writes = 0;
    };
    ReadStart startRead(const PosixFile& file);
    // View `built` was built by a whole read that began at `start`; `after` is the file's stamp
    // taken after the read. False when the file changed during the read, by another program or
    // by this one (read it again: a write of this program in the same clock tick may leave the
    // stamp as it was); other views built from another state of the file drop.
    bool recordRead(const ReadStart& start, const FileStamp& after, TableView* built);

    // This program wrote whole rows `rows` into the file, which had stamp `before` just before
    // and `file` holds now: views that were right before catch up; otherwise all drop.
    void ownRowsWritten(const FileStamp& before, const PosixFile& file,
                        std::span<const std::uint64_t> rows);
    // A write of this program failed half way: every view drops.
    void forget();
    // This program replaced the file as a whole (a delete's compaction), now `file`: every view
    // drops but `rebuilt`, which has built itself from the new file while it was written.
    void ownReplace(const PosixFile& file, TableView* rebuilt);

private:
    void dropAll(TableView* except = nullptr);

    std::filesystem::path m_path;
    mutable std::recursive_mutex m_mutex;
    std::vector<TableView*> m_views;
    FileValidity m_validity;
    std::uint64_t m_ownWrites = 0;  // writes of this program told of, failed ones included
};

// The keepers of the files of one open database, one per data file.
class TableKeepers {
public:
    TableKeeper& of(DataFile file) { return m_keepers[static_cast<std::size_t>(file)]; }
    // Points every keeper at the files of `paths`.
    void reset(const DatabasePaths& paths);

private:
    std::array<TableKeeper, kDataFileCount> m_keepers;
};

}  // namespace ordavo
