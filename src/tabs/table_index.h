#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "storage/table_keeper.h"

namespace ordavo {

class PosixFile;

// What a detail table file holds, without its text: every row's `ID` and `IDPDB` in file order,
// and the rows of each `ID` and of each film, so that a film's rows are found and saved without
// reading the whole table. A view of the table's keeper (see storage/table_keeper.h): built by
// one sequential pass when first needed, kept in step with this program's writes by the keeper,
// and read again when the keeper finds the file changed by anyone else. About 24 bytes per row.
class TableIndex final : public TableView {
public:
    TableIndex(TableKeeper& keeper, std::size_t row_size);
    ~TableIndex() override;
    TableIndex(const TableIndex&) = delete;
    TableIndex& operator=(const TableIndex&) = delete;

    TableKeeper& keeper() const { return m_keeper; }

    // Makes the index describe `file` as it is now; reads the file only when the keeper does not
    // vouch for what the index holds.
    void sync(const PosixFile& file);

    std::size_t rows() const { return m_rows.size(); }
    std::int32_t id(std::size_t row) const { return m_rows[row].first; }
    std::int32_t filmId(std::size_t row) const { return m_rows[row].second; }
    // The largest `ID` and the largest `IDPDB` of any row; nullopt for an empty table.
    std::optional<std::int32_t> largestId() const;
    std::optional<std::int32_t> largestFilmId() const;
    // The rows with `ID` id / of film `film_id`, ascending.
    std::vector<std::uint32_t> rowsWithId(std::int32_t id) const;
    std::vector<std::uint32_t> rowsOfFilm(std::int32_t film_id) const;

    // This program replaced the file as a whole with `rows` ((ID, IDPDB) per row), now `file`.
    void replacedBy(const PosixFile& file, std::vector<std::pair<std::int32_t, std::int32_t>> rows);

    // TableView.
    void drop() override { m_built = false; }
    void rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) override;

private:
    using Key = std::pair<std::int32_t, std::uint32_t>;  // (ID or IDPDB, row)
    static void insert(std::vector<Key>& keys, Key key);
    static void erase(std::vector<Key>& keys, Key key);
    static std::vector<std::uint32_t> rowsOf(const std::vector<Key>& keys, std::int32_t value);
    void rebuildKeys();
    void setRow(std::size_t row, std::int32_t id, std::int32_t film_id);

    TableKeeper& m_keeper;
    std::size_t m_rowSize;
    bool m_built = false;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_rows;  // (ID, IDPDB) per row
    std::vector<Key> m_byId;
    std::vector<Key> m_byFilm;
};

}  // namespace ordavo
