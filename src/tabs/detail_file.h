#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "storage/posix_file.h"
#include "storage/row_chunks.h"

namespace ordavo {
class TableIndex;
}

// The table files of the detail tables, handled as bytes so that one implementation serves every
// row layout. A table file is a sequence of rows of one fixed size from offset 0, with no header;
// every row begins with its little-endian `ID` and `IDPDB`.
//
// A trailing partial row (a length that is not a whole number of rows, left by a crash or a full
// disk) counts as a row everywhere and reads as if padded with zeros up to the row size; nothing
// here reads past the file's end. Whatever this module writes is whole rows: overwriting or keeping
// a partial row writes it padded, and appending starts at the end of the padded last row.
//
// Every call opens the file, works through it in large sequential reads and closes it again;
// file-system failures throw FileError. Given a TableIndex kept for the file, a call reads only
// the rows it needs (the index reads the whole file only when the file is new to it or changed
// by someone else), with the same result.
namespace ordavo::detail_file {

// A table file that has reached this length takes no more saves.
inline constexpr std::uint64_t kSizeLimit = std::uint64_t{1} << 31;

// The `ID` and `IDPDB` of the row that starts at `row`.
std::int32_t rowId(const unsigned char* row);
std::int32_t rowFilmId(const unsigned char* row);

// Calls visit(row_index, row) for every row of `file`, in file order, read in large chunks; the
// last row is padded with zeros when it is partial.
template <class Visit>
void forEachRow(const PosixFile& file, std::size_t row_size, Visit&& visit) {
    RowChunks chunks(file, row_size);
    ordavo::forEachRow(chunks, [&](const unsigned char* row, std::uint64_t index) {
        visit(index, row);
        return true;
    });
}

// The number of rows in the table file, a trailing partial row included.
std::uint64_t countFileRows(const std::filesystem::path& table, std::size_t row_size);

// The `ID` of the row stored last in the file (its first 4 bytes, read at the last row offset),
// whichever film it belongs to; 0 for an empty file.
std::int32_t lastFileRowId(const std::filesystem::path& table, std::size_t row_size,
                           TableIndex* index = nullptr);

// The rows of film `film_id`, in file order, back to back.
std::vector<unsigned char> readFilmRows(const std::filesystem::path& table, std::size_t row_size,
                                        std::int32_t film_id, TableIndex* index = nullptr);

struct SaveOutcome {
    bool new_row_pending = false;   // the flag after the save
    bool stopped_at_limit = false;  // the file reached `size_limit` and the save stopped there
};

// What a save writes: each (entry, offset) overwrites the row at `offset` (or appends at the end)
// with entry `entry`, whole.
struct SavePlan {
    std::vector<std::pair<std::size_t, std::uint64_t>> writes;
    std::uint64_t start_length = 0;  // the file's length when planned
    SaveOutcome outcome;
};

// Plans writing `entries` (whole rows back to back) into the table file with the result of
// visiting them one by one in order, each visit being:
//   - when the file holds no rows yet, entry i goes to offset 0 (and, if it is the last entry,
//     the pending flag is cleared); on to the next entry;
//   - when the file is `size_limit` bytes long or longer, the save stops;
//   - every row that was in the file when the save began and whose `ID` and `IDPDB` equal entry
//     i's is overwritten with entry i (so among entries with one `ID` the later one wins) —
//     except for the pending new row (the last entry while the flag is set), which is never
//     matched;
//   - if the pending flag is set, the last entry is appended and the flag cleared.
// The visits are planned in memory and the file is read once, in large chunks, whatever the
// number of entries (or, with an index, only the matching rows); each affected row is planned
// once, and only when its bytes change. Nothing is written: the caller writes the plan through
// the database's write batch (storage/write_batch.h), which makes it durable and crash-safe.
SavePlan planSave(const std::filesystem::path& table, std::size_t row_size,
                  std::span<const unsigned char> entries, bool new_row_pending,
                  std::uint64_t size_limit = kSizeLimit, TableIndex* index = nullptr);

// The offset of the first row of film `film_id` whose `ID` is `id`, if any.
std::optional<std::uint64_t> findRow(const std::filesystem::path& table, std::size_t row_size,
                                     std::int32_t id, std::int32_t film_id,
                                     TableIndex* index = nullptr);

// Deletes the row at `offset` as one step: writes every other row, in order, into "<table>0"
// beside the table, flushes it and renames it over the table, so that after a crash the table is
// as before or without the row. Rows with `ID` 0 stay (this program never marks a row 0, and
// such a row is listed and edited like any other); a kept partial row is written padded. `kept`
// sees each row of the new table as it is written, so the caller can pick rows out of it without
// reading the table again. The caller finishes and settles the database's redo record first (see
// write_batch.h), so that no record is ever written into the copy. Returns false, with nothing else
// changed, when `offset` is not the start of a row of the file.
bool deleteRowAt(const std::filesystem::path& table, std::size_t row_size, std::uint64_t offset,
                 const std::function<void(const unsigned char* row)>& kept,
                 const std::function<void(ReplaceStep)>& step_hook = {},
                 TableIndex* index = nullptr);

}  // namespace ordavo::detail_file
