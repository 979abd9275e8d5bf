#include "tabs/table_index.h"

#include <algorithm>

#include "storage/posix_file.h"
#include "tabs/detail_file.h"

namespace ordavo {

void TableIndex::sync(const PosixFile& file, std::size_t row_size) {
    FileStamp stamp = stampOf(file);
    while (!m_validity.trusts(stamp)) {
        const std::int64_t started = nowNs();
        m_rows.clear();
        m_rows.shrink_to_fit();
        m_rows.reserve(static_cast<std::size_t>(
            detail_file::rowCount(static_cast<std::uint64_t>(stamp.size), row_size)));
        detail_file::forEachRow(file, row_size, [&](std::uint64_t, const unsigned char* row) {
            m_rows.emplace_back(detail_file::rowId(row), detail_file::rowFilmId(row));
        });
        rebuildKeys();
        const FileStamp after = stampOf(file);
        if (after == stamp) {
            m_validity.recordRead(after, started);
            return;  // racy or not, what was read is right for now
        }
        stamp = after;  // changed while being read: read it again
    }
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

void TableIndex::assign(std::vector<std::pair<std::int32_t, std::int32_t>> rows) {
    m_rows = std::move(rows);
    rebuildKeys();
}

void TableIndex::noteOwnWrite(const PosixFile& file) {
    m_validity.recordOwnWrite(stampOf(file));
}

}  // namespace ordavo
