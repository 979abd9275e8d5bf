#include "tabs/table_index.h"

#include <algorithm>

#include "storage/posix_file.h"
#include "tabs/detail_file.h"

namespace ordavo {

TableIndex::TableIndex(TableKeeper& keeper, std::size_t row_size)
    : m_keeper(keeper), m_rowSize(row_size) {
    m_keeper.attach(*this);
}

TableIndex::~TableIndex() {
    m_keeper.detach(*this);
}

void TableIndex::sync(const PosixFile& file) {
    const std::lock_guard lock(m_keeper.mutex());
    if (m_keeper.validate(file) && m_built) {
        return;
    }
    for (;;) {
        const TableKeeper::ReadStart start = m_keeper.startRead(file);
        m_rows.clear();
        m_rows.shrink_to_fit();
        m_rows.reserve(static_cast<std::size_t>(
            rowCount(static_cast<std::uint64_t>(start.before.size), m_rowSize)));
        detail_file::forEachRow(file, m_rowSize, [&](std::uint64_t, const unsigned char* row) {
            m_rows.emplace_back(detail_file::rowId(row), detail_file::rowFilmId(row));
        });
        rebuildKeys();
        if (m_keeper.recordRead(start, stampOf(file), this)) {
            m_built = true;
            return;  // racy or not, what was read is right for now
        }
        // changed while being read: read it again
    }
}

void TableIndex::rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) {
    if (!m_built) {
        return;
    }
    for (const std::uint64_t row : rows) {
        unsigned char head[8] = {};
        table.readAt(head, sizeof head, row * m_rowSize);
        setRow(static_cast<std::size_t>(row), detail_file::rowId(head),
               detail_file::rowFilmId(head));
    }
}

void TableIndex::replacedBy(const PosixFile& file,
                            std::vector<std::pair<std::int32_t, std::int32_t>> rows) {
    const std::lock_guard lock(m_keeper.mutex());
    m_rows = std::move(rows);
    rebuildKeys();
    m_built = true;
    m_keeper.ownReplace(file, this);
}

void TableIndex::rebuildKeys() {
    m_byId.clear();
    m_byFilm.clear();
    m_byId.reserve(m_rows.size());
    m_byFilm.reserve(m_rows.size());
    for (std::uint32_t row = 0; row < m_rows.size(); ++row) {
        m_byId.emplace_back(m_rows[row].first, row);
        m_byFilm.emplace_back(m_rows[row].second, row);
    }
    std::sort(m_byId.begin(), m_byId.end());
    std::sort(m_byFilm.begin(), m_byFilm.end());
}

void TableIndex::insert(std::vector<Key>& keys, Key key) {
    keys.insert(std::upper_bound(keys.begin(), keys.end(), key), key);
}

void TableIndex::erase(std::vector<Key>& keys, Key key) {
    const auto it = std::lower_bound(keys.begin(), keys.end(), key);
    if (it != keys.end() && *it == key) {
        keys.erase(it);
    }
}

std::vector<std::uint32_t> TableIndex::rowsOf(const std::vector<Key>& keys, std::int32_t value) {
    std::vector<std::uint32_t> rows;
    auto it = std::lower_bound(keys.begin(), keys.end(), Key{value, 0});
    for (; it != keys.end() && it->first == value; ++it) {
        rows.push_back(it->second);
    }
    return rows;
}

std::optional<std::int32_t> TableIndex::largestId() const {
    return m_byId.empty() ? std::nullopt : std::optional(m_byId.back().first);
}

std::optional<std::int32_t> TableIndex::largestFilmId() const {
    return m_byFilm.empty() ? std::nullopt : std::optional(m_byFilm.back().first);
}

std::vector<std::uint32_t> TableIndex::rowsWithId(std::int32_t id) const {
    return rowsOf(m_byId, id);
}

std::vector<std::uint32_t> TableIndex::rowsOfFilm(std::int32_t film_id) const {
    return rowsOf(m_byFilm, film_id);
}

void TableIndex::setRow(std::size_t row, std::int32_t id, std::int32_t film_id) {
    const auto index = static_cast<std::uint32_t>(row);
    if (row < m_rows.size() && m_rows[row] == std::pair(id, film_id)) {
        return;  // a row rewritten with its own ID and film: the keys stay where they are
    }
    if (row < m_rows.size()) {
        erase(m_byId, {m_rows[row].first, index});
        erase(m_byFilm, {m_rows[row].second, index});
    } else {
        const std::size_t old_size = m_rows.size();
        m_rows.resize(row + 1, {0, 0});  // rows in between, if any, read as zeros
        for (std::size_t gap = old_size; gap < row; ++gap) {
            insert(m_byId, {0, static_cast<std::uint32_t>(gap)});
            insert(m_byFilm, {0, static_cast<std::uint32_t>(gap)});
        }
    }
    m_rows[row] = {id, film_id};
    insert(m_byId, {id, index});
    insert(m_byFilm, {film_id, index});
}

}  // namespace ordavo
