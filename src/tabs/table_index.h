#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "storage/file_stamp.h"

namespace ordavo {

class PosixFile;

// What a detail table file holds, without its text: every row's `ID` and `IDPDB` in file order,
// and the rows of each `ID` and of each film, so that a film's rows are found and saved without
// reading the whole table. It is built by one sequential pass when first needed, kept in step by
// our own writes, and checked against the file's stamp before every use (see FileValidity): a file
// changed by anyone else is read again. About 24 bytes per row.
class TableIndex {
public:
    // Makes the index describe `file` as it is now; reads the file only when it is not known to
    // be unchanged.
    void sync(const PosixFile& file, std::size_t row_size);

    std::size_t rows() const { return m_rows.size(); }
    std::int32_t id(std::size_t row) const { return m_rows[row].first; }
    std::int32_t filmId(std::size_t row) const { return m_rows[row].second; }
    // The largest `ID` and the largest `IDPDB` of any row; nullopt for an empty table.
    std::optional<std::int32_t> largestId() const;
    std::optional<std::int32_t> largestFilmId() const;
    // The rows with `ID` id / of film `film_id`, ascending.
    std::vector<std::uint32_t> rowsWithId(std::int32_t id) const;
    std::vector<std::uint32_t> rowsOfFilm(std::int32_t film_id) const;

    // Our own writes, each followed by noteOwnWrite once the file is as the index says.
    void setRow(std::size_t row, std::int32_t id, std::int32_t film_id);
    // Replaces everything (after a compaction).
    void assign(std::vector<std::pair<std::int32_t, std::int32_t>> rows);
    void noteOwnWrite(const PosixFile& file);
    // After a failed write: the next use reads the file again.
    void forget() { m_validity.forget(); }

private:
    using Key = std::pair<std::int32_t, std::uint32_t>;  // (ID or IDPDB, row)
    static void insert(std::vector<Key>& keys, Key key);
    static void erase(std::vector<Key>& keys, Key key);
    static std::vector<std::uint32_t> rowsOf(const std::vector<Key>& keys, std::int32_t value);
    void rebuildKeys();

    std::vector<std::pair<std::int32_t, std::int32_t>> m_rows;  // (ID, IDPDB) per row
    std::vector<Key> m_byId;
    std::vector<Key> m_byFilm;
    FileValidity m_validity;
};

}  // namespace ordavo
