#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "storage/file_stamp.h"
#include "storage/film_record.h"
#include "storage/posix_file.h"
#include "storage/table_keeper.h"

namespace ordavo {

class Database;
class PageHandover;
class WriteBatch;
struct FilterState;

inline constexpr std::string_view kDeleteInFilterModeMessage =
    "W trybie sortowanym nie można usuwać rekordów.";

// The record counter of the main window: "Rekord" position "z" count.
struct RecordCounter {
    std::int64_t position = 0;
    std::int64_t count = 0;
};

// The record counter in filter mode: the shown match's 1-based position and the number of
// matches. (An empty film table shows 0 and 0 before this rule applies.)
RecordCounter filterCounter(const FilterState& filter);

// The film table "KR_PDB.kr" of the working database, read and written one whole row at a time
// through the one current-film buffer. Every call opens the table, does its work and closes it;
// file-system failures throw FileError.
class FilmTable {
public:
    FilmTable(Database& database, PageHandover& pages);
    ~FilmTable();
    FilmTable(const FilmTable&) = delete;
    FilmTable& operator=(const FilmTable&) = delete;

    FilmRecord& current() { return m_current; }
    const FilmRecord& current() const { return m_current; }
    const RecordCounter& counter() const { return m_counter; }
    // Whether the buffer holds a film read from a row of the table (or just written as one),
    // which updateRow writes over whatever its id; false after emptyCurrent or a delete.
    bool holdsRow() const { return m_holdsRow; }
    // Empties the buffer as emptyFilmRecord does: it holds no row any more.
    void emptyCurrent();

    std::int64_t current_offset = 0;  // byte offset of the current film's row

    // Reads the row at offset 0 (from_start) or at current_offset into the buffer, then lets the
    // lists load the film's rows. A read past the end leaves the buffer as it was; a short read
    // (a trailing partial row) zeroes the rest. False unless Intact: the buffer and
    // current_offset stay as they were, and the lists forget their rows.
    bool readRow(bool from_start);

    // Writes the buffer over the row at current_offset, then lets the lists save their rows.
    // False, silently, unless Intact, the version matches and no other running copy holds the
    // database. The row written is the shown film's: when the row at current_offset carries
    // another id (another program deleted a film before it), the film is found by its id; when
    // it is in no row, false with a message. The units after each field's NUL are zeroed.
    bool updateRow();

    // Gives the buffer a new id and appends it as a new row, which becomes current. The lists are
    // not asked to save. Refuses as updateRow does, and when no id can be issued. The id is
    // larger than the counter and than every id in the film table and every IDPDB of the lists. The
    // row goes after the table's last row as it is when written (offset 0 for an empty table,
    // whatever the caller noted); a trailing partial row is passed over whole.
    bool appendRow(bool table_was_empty);

    // Replaces the table by a copy without the shown film's row (found as updateRow finds it),
    // every other row kept (id 0 included), written as "KR_PDB.kr0" beside it, flushed and renamed
    // over it: after a crash the table is as before or without the row. Then sets the buffer's
    // id to 0; a failed delete leaves the buffer as it was. Refuses as updateRow does, and in
    // filter mode with a message.
    bool deleteRow(const FilterState& filter);

    // The table's length in bytes. The counter is left alone: every caller refreshes it itself.
    std::uint64_t tableLength() const;

    // Fills the counter: in filter mode the match position and count, otherwise the 1-based
    // position of the last row with the current film's id (0 for none) and the number of rows, a
    // trailing partial row included. Returns true only for an empty table; a missing table
    // leaves the counter as it was.
    bool refreshCounter(const FilterState& filter);

    // Lets tests stop a compaction at one of its steps.
    void setReplaceStepHook(std::function<void(ReplaceStep)> hook) { m_stepHook = std::move(hook); }

    // The ids of the table's rows in order (a trailing partial row's zero-padded id included),
    // read once and reused while the file is unchanged.
    const std::vector<std::int32_t>& rowIds(const PosixFile& table);

private:
    bool writable() const;
    // Makes sure current_offset is the row of the shown film: the row there carries the buffer's
    // id, or the film is found by its id elsewhere (current_offset then moves to it). False, with
    // a message, when the film is in no row.
    bool locateCurrentRow(const PosixFile& table);
    // Finishes the writes of a command that was interrupted (see write_batch.h).
    // Called under the lock at the start of every write, before the table is read for it.
    void finishInterruptedWrite();
    void loadPages();
    // Replaces the table by a copy without row `dropped_row`.
    void compact(std::uint64_t dropped_row);
    // Adds the write of the buffer as the row at `offset` to `batch`; the ids and the record of
    // own writes follow when the batch is committed.
    void addRowWrite(const PosixFile& table, std::uint64_t offset, WriteBatch& batch);

    Database& m_database;
    PageHandover& m_pages;
    FilmRecord m_current;
    bool m_holdsRow = false;
    RecordCounter m_counter;
    std::function<void(ReplaceStep)> m_stepHook;
    // The ids of the table's rows in order, a view of the film table's keeper.
    class Ids final : public TableView {
    public:
        void drop() override { built = false; }
        void rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) override;
        std::vector<std::int32_t> ids;
        bool built = false;
    };
    Ids m_ids;
};

}  // namespace ordavo
