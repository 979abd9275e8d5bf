#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/posix_file.h"
#include "tabs/detail_rows.h"
#include "tabs/table_index.h"

namespace ordavo {

class Database;
class WriteBatch;

inline constexpr std::string_view kFileFullMessage =
    "Nie można więcej zapisywać do tego pliku - jest przepełniony !!! ";
inline constexpr std::string_view kFileFullTitle = "Kinokrat - Błąd zapisu";
inline constexpr std::string_view kRowIdsExhaustedMessage =
    "Nie można dodać nowego wiersza: identyfikatory wierszy w tej tabeli są wyczerpane (ostatni "
    "możliwy to 2147483647).";

// The list columns of a layout: one per text field (in the layout's column order), then "ID" and
// "IDPDB".
std::size_t columnCount(const DetailLayout& layout);
std::size_t idColumn(const DetailLayout& layout);      // the next-to-last column
std::size_t filmIdColumn(const DetailLayout& layout);  // the last column
// The field that column `column` shows; nullptr for the "ID" and "IDPDB" columns.
const DetailField* columnField(const DetailLayout& layout, std::size_t column);
std::string_view columnTitle(const DetailLayout& layout, std::size_t column);
int columnWidth(const DetailLayout& layout, std::size_t column);

// Told whenever the list on screen changes as a whole: it is emptied (clearList) or rebuilt from
// `rows` with nothing selected (after loading, a new row, a confirmed row, a delete). A list model
// resets itself between the two calls; listedRows() gives the new number of items.
class DetailTableObserver {
public:
    virtual ~DetailTableObserver() = default;
    virtual void listAboutToChange() = 0;
    virtual void listChanged() = 0;
    // After listChanged, when the rows now belong to another film (or, forgotten, to none): a row
    // editor open on the old rows has nothing left to edit.
    virtual void filmChanged() {}
};

// One detail table of the current film: its rows in memory (`rows`, in file order, a new row at
// the end), the editor's record (`edit_row`), the pending-new-row flag, and the commands of its
// list and row editor. DetailEngine<Row> holds the rows as plain records of the row type; this
// class does the work through the layout, so a list model or row editor needs only this
// interface.
//
// Row indexes are list items: an index is valid while it is below listedRows(). Text fields pass
// as UTF-16, in the layout's file order (`layout().fields`). Every file operation opens the table
// file of the working database, works through it in large reads and closes it; file-system
// failures throw FileError, and what was written before stays written.
class DetailTable {
public:
    DetailTable(const DetailLayout& layout, Database& database);
    virtual ~DetailTable() = default;
    DetailTable(const DetailTable&) = delete;
    DetailTable& operator=(const DetailTable&) = delete;

    const DetailLayout& layout() const { return m_layout; }
    // The table file in the working database.
    const std::filesystem::path& path() const;

    // True while the last entry of `rows` is a new row that is not yet in the table file.
    bool new_row_pending = false;

    // --- What the list shows ---

    // The number of entries of `rows`.
    virtual std::size_t rowCount() const = 0;
    // The number of list items: all of `rows` once the list has been built, none after
    // clearList until the next rebuild.
    std::size_t listedRows() const { return m_listed ? rowCount() : 0; }
    // The text of entry `row`, column `column`: the field's text, or `ID` / `IDPDB` in decimal.
    std::u16string cellText(std::size_t row, std::size_t column) const;
    std::int32_t rowId(std::size_t row) const;
    std::int32_t rowFilmId(std::size_t row) const;

    // --- What the main window calls on every table ---

    // Empties the list on screen; `rows`, `edit_row` and new_row_pending stay as they are.
    void clearList();
    // Empties the list and `rows` and clears new_row_pending: the rows belong to no film now.
    // Until the next loadRows the table writes nothing.
    void forgetRows();
    // Replaces `rows` with the rows of film `film_id`, in file order (rows with `ID` 0 included),
    // clears new_row_pending and rebuilds the list.
    void loadRows(std::int32_t film_id);
    // Writes `rows` into the table file: every file row whose `ID` matches an entry is rewritten
    // with it, the pending new row is appended. A table file of 2^31 bytes or more stops the save
    // with kFileFullMessage; what was written stays written and a pending row stays pending.
    // Changes neither `rows` nor the list. Writes nothing (quietly) when `rows` were not loaded
    // from the database that is open now, or another running copy holds the database. The
    // writes are durable when it returns (see storage/write_batch.h). False when refused.
    bool saveRows();
    // The same as part of a larger command: the writes go into `batch`, and the pending flag and
    // the message follow once the batch is committed.
    void saveRowsInto(WriteBatch& batch);

    // --- Commands of the list and its row editor ---

    // "Nowy": saves the table, then appends a row with `ID` nextRowId(), `IDPDB` film_id and
    // kNewRowText in every text field, marks it pending and rebuilds the list. Refuses (false,
    // with kRowIdsExhaustedMessage) when no `ID` is left, and quietly when saveRows would.
    bool newRow(std::int32_t film_id);
    // "Edytuj" (its data part): the texts for the editor's boxes, one per field in file order,
    // taken from the cells of item `row` with each field's edit limit; the item's `ID` and `IDPDB`
    // go into `edit_row`. Nothing (and no change) when `row` is not a list item.
    std::optional<std::vector<std::u16string>> editRow(std::size_t row);
    // "Zatwierdź": stores `texts` (one per field, in file order) into `edit_row`, each cut to its
    // field's width - 1 units without splitting a character; then, when `selected` is a list item,
    // copies the whole `edit_row` over that entry of `rows` and rebuilds the list. Nothing is
    // written to the file. Returns whether an entry was stored. Units after a field's end are
    // zeroed, so no earlier text lingers in a row.
    bool confirmRow(std::span<const std::u16string> texts, std::optional<std::size_t> selected);
    // "Usuń": deletes the first file row whose `ID` is that of item `row`, then reloads film
    // film_id's rows. Nothing happens (false) when `row` is not a list item or its `ID` is not in
    // the file (a new row never saved).
    bool deleteRow(std::size_t row, std::int32_t film_id);
    // The same for the first file row of film film_id with `ID` id.
    bool deleteById(std::int32_t id, std::int32_t film_id);
    // Deletes the file row at byte `offset` crash-safely: replaces the table by a copy without
    // that row (written beside it as "<table>0", flushed and renamed over it), and reloads film
    // film_id's rows from the copy. Confirmed but
    // unsaved changes and an unsaved new row are dropped. False, with nothing changed, when
    // `offset` is not the start of a file row.
    bool deleteRowAt(std::uint64_t offset, std::int32_t film_id);

    // --- The table file ---

    // The number of rows in the table file, a trailing partial row included.
    std::uint64_t countFileRows() const;
    // The `ID` of the row stored last in the file, whichever film it belongs to; 0 when empty.
    std::int32_t lastFileRowId() const;
    // The `ID` a new row gets: one more than the largest `ID` in the file (1 for a file without
    // a positive `ID`), so that it is never one a row has already, whatever the order of the
    // rows; nullopt when the largest is 2^31 - 1.
    std::optional<std::int32_t> nextRowId() const;
    // The largest `IDPDB` in the file; 0 when the file has no positive one.
    std::int32_t largestFilmId() const;

    // Whether `rows` hold a change the file does not: a confirmed row or a pending new row not
    // yet saved.
    bool hasUnsavedChanges() const { return m_unsaved; }
    // Whether `rows` were loaded from the open database (and writes are allowed).
    bool holdsRows() const;

    void setObserver(DetailTableObserver* observer) { m_observer = observer; }
    // Lets tests stop a delete's table replacement at one of its steps.
    void setReplaceStepHook(std::function<void(ReplaceStep)> hook) { m_stepHook = std::move(hook); }

protected:
    // The typed storage of DetailEngine<Row>; `rows` is contiguous, one row_size record each.
    virtual const unsigned char* rowData(std::size_t row) const = 0;
    virtual unsigned char* rowData(std::size_t row) = 0;
    virtual unsigned char* editRowData() = 0;
    // Replaces `rows` with the records in `bytes` (whole rows back to back).
    virtual void assignRows(std::span<const unsigned char> bytes) = 0;
    // Appends a copy of `edit_row` to `rows`.
    virtual void appendEditRow() = 0;

private:
    // Runs `change` between the observer's two calls and leaves the list built.
    void rebuildList(const std::function<void()>& change);

    // Whether the table may write `rows` now (see saveRows).
    bool mayWrite() const;

    const DetailLayout& m_layout;
    Database& m_database;
    bool m_listed = false;
    bool m_unsaved = false;
    // The film whose rows `rows` are, once loaded.
    std::optional<std::int32_t> m_film;
    // The database generation `rows` belong to: the one open when the table was made (no rows
    // yet) or when they were loaded; none after forgetRows.
    std::optional<std::uint64_t> m_loadedFrom;
    DetailTableObserver* m_observer = nullptr;
    std::function<void(ReplaceStep)> m_stepHook;
    // What the table file holds, so that a film's rows are found without reading it all.
    mutable TableIndex m_index;
};

}  // namespace ordavo
