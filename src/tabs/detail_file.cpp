#include "tabs/detail_file.h"

#include "storage/row_copier.h"
#include "tabs/table_index.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace ordavo::detail_file {

// Rows are copied between files and memory as they are: the file's integers are little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

std::int32_t readInt32(const unsigned char* bytes) {
    std::int32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The `ID` of the row at `offset`; bytes missing at the end of the file count as zero.
std::int32_t readRowId(const PosixFile& file, std::uint64_t offset) {
    unsigned char bytes[4] = {};
    file.readAt(bytes, sizeof bytes, offset);
    return readInt32(bytes);
}

// What a save matches an entry and a file row by: its `ID` and its film together, so that a row of
// one film is never written over another film's row that happens to share its `ID` (two rows
// marked 0 by an older program, or a file written by another program).
using MatchKey = std::uint64_t;
MatchKey matchKey(std::int32_t id, std::int32_t film_id) {
    return (MatchKey{static_cast<std::uint32_t>(id)} << 32) | static_cast<std::uint32_t>(film_id);
}
MatchKey matchKey(const unsigned char* row) {
    return matchKey(rowId(row), rowFilmId(row));
}

// The keys of the entries that a save matches against the file's rows, each with the entry
// that ends up in a matching row: the last of the entries with that key.
class EntryIndex {
public:
    void add(MatchKey key, std::size_t entry) { m_pairs.emplace_back(key, entry); }

    void seal() {
        // Stable, so that the last entry of each `ID` stays last among its equals.
        std::stable_sort(m_pairs.begin(), m_pairs.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::pair<MatchKey, std::size_t>> last;
        for (const auto& pair : m_pairs) {
            if (!last.empty() && last.back().first == pair.first) {
                last.back().second = pair.second;
            } else {
                last.push_back(pair);
            }
        }
        m_pairs = std::move(last);
    }

    bool empty() const { return m_pairs.empty(); }
    const std::vector<std::pair<MatchKey, std::size_t>>& pairs() const { return m_pairs; }

    std::optional<std::size_t> find(MatchKey key) const {
        const auto it =
            std::lower_bound(m_pairs.begin(), m_pairs.end(), key,
                             [](const auto& pair, MatchKey v) { return pair.first < v; });
        if (it == m_pairs.end() || it->first != key) {
            return std::nullopt;
        }
        return it->second;
    }

private:
    std::vector<std::pair<MatchKey, std::size_t>> m_pairs;
};

}  // namespace

std::int32_t rowId(const unsigned char* row) {
    return readInt32(row);
}

std::int32_t rowFilmId(const unsigned char* row) {
    return readInt32(row + 4);
}

std::uint64_t countFileRows(const std::filesystem::path& table, std::size_t row_size) {
    const PosixFile file(table, PosixFile::Mode::Read);
    return rowCount(file.size(), row_size);
}

std::int32_t lastFileRowId(const std::filesystem::path& table, std::size_t row_size,
                           TableIndex* index) {
    const PosixFile file(table, PosixFile::Mode::Read);
    if (index) {
        index->sync(file);
        return index->rows() == 0 ? 0 : index->id(index->rows() - 1);
    }
    const std::uint64_t rows = rowCount(file.size(), row_size);
    return rows == 0 ? 0 : readRowId(file, (rows - 1) * row_size);
}

std::vector<unsigned char> readFilmRows(const std::filesystem::path& table, std::size_t row_size,
                                        std::int32_t film_id, TableIndex* index) {
    const PosixFile file(table, PosixFile::Mode::Read);
    std::vector<unsigned char> rows;
    if (index) {
        index->sync(file);
        const std::vector<std::uint32_t> found = index->rowsOfFilm(film_id);
        rows.resize(found.size() * row_size, 0);  // a partial row reads padded with zeros
        for (std::size_t k = 0; k < found.size(); ++k) {
            file.readAt(rows.data() + k * row_size, row_size, std::uint64_t{found[k]} * row_size);
        }
        return rows;
    }
    forEachRow(file, row_size, [&](std::uint64_t, const unsigned char* row) {
        if (rowFilmId(row) == film_id) {
            rows.insert(rows.end(), row, row + row_size);
        }
    });
    return rows;
}

SavePlan planSave(const std::filesystem::path& table, std::size_t row_size,
                  std::span<const unsigned char> entries, bool new_row_pending,
                  std::uint64_t size_limit, TableIndex* index) {
    SavePlan plan;
    plan.outcome = {new_row_pending, false};
    // Opened even with nothing to write, so that a missing table is reported like elsewhere.
    PosixFile file(table, PosixFile::Mode::ReadWrite);
    const std::size_t count = entries.size() / row_size;
    if (count == 0) {
        return plan;
    }
    if (index) {
        index->sync(file);
    }
    const auto entry = [&](std::size_t i) { return entries.data() + i * row_size; };

    const std::uint64_t start_length = file.size();
    plan.start_length = start_length;
    const std::uint64_t start_rows_end = rowCount(start_length, row_size) * row_size;
    // Overwriting a trailing partial row makes it whole, which the size check then sees.
    std::optional<MatchKey> partial_row_key;
    if (start_length % row_size != 0) {
        if (index) {
            partial_row_key =
                matchKey(index->id(index->rows() - 1), index->filmId(index->rows() - 1));
        } else {
            unsigned char head[8] = {};
            file.readAt(head, sizeof head, start_rows_end - row_size);
            partial_row_key = matchKey(head);
        }
    }

    // Plan the visits. Overwriting a row never changes its `ID`, so which rows an entry matches
    // depends only on the file as it was; only the length moves while visiting.
    std::uint64_t length = start_length;
    bool pending = new_row_pending;
    bool first_at_zero = false;
    std::optional<std::uint64_t> append_at;
    EntryIndex matched;
    // The pending new row is only ever appended: were its `ID` also in the file (written by
    // another program, or left by an older one), matching it would overwrite that row.
    const std::size_t matchable = new_row_pending ? count - 1 : count;
    for (std::size_t i = 0; i < count; ++i) {
        if (length == 0) {
            first_at_zero = true;  // only ever entry 0: afterwards the file holds a row
            length = row_size;
            if (i == count - 1) {
                pending = false;
            }
            continue;
        }
        if (length >= size_limit) {
            plan.outcome.stopped_at_limit = true;
            break;
        }
        if (i < matchable) {
            matched.add(matchKey(entry(i)), i);
        }
        if (i < matchable && partial_row_key && *partial_row_key == matchKey(entry(i))) {
            length = std::max(length, start_rows_end);
        }
        if (pending) {
            append_at = rowCount(length, row_size) * row_size;
            length = *append_at + row_size;
            pending = false;
        }
    }
    matched.seal();

    // Find the rows that change: the matching rows that were there, then the row at 0 or the
    // append. All of them go into the redo record before the first is written.
    std::vector<std::pair<std::size_t, std::uint64_t>> planned;  // (entry, offset)
    if (index) {
        std::vector<unsigned char> row(row_size);
        for (const auto& [key, i] : matched.pairs()) {
            for (const std::uint32_t found : index->rowsWithId(rowId(entry(i)))) {
                const std::uint64_t offset = std::uint64_t{found} * row_size;
                if (offset >= start_length || index->filmId(found) != rowFilmId(entry(i))) {
                    continue;  // appended by this save, or another film's row
                }
                std::fill(row.begin(), row.end(), 0);
                const std::size_t got = file.readAt(row.data(), row_size, offset);
                if (got < row_size || std::memcmp(row.data(), entry(i), row_size) != 0) {
                    planned.emplace_back(i, offset);
                }
            }
        }
    } else if (start_length > 0 && !matched.empty()) {
        forEachRow(file, row_size, [&](std::uint64_t index, const unsigned char* row) {
            const std::optional<std::size_t> i = matched.find(matchKey(row));
            if (!i) {
                return;
            }
            const std::uint64_t offset = index * row_size;
            const bool whole = offset + row_size <= start_length;
            if (!whole || std::memcmp(row, entry(*i), row_size) != 0) {
                planned.emplace_back(*i, offset);
            }
        });
    }
    if (first_at_zero) {
        planned.emplace_back(0, 0);
    }
    if (append_at) {
        planned.emplace_back(count - 1, *append_at);
    }
    plan.outcome.new_row_pending = pending;
    plan.writes = std::move(planned);
    return plan;
}

std::optional<std::uint64_t> findRow(const std::filesystem::path& table, std::size_t row_size,
                                     std::int32_t id, std::int32_t film_id, TableIndex* index) {
    const PosixFile file(table, PosixFile::Mode::Read);
    if (index) {
        index->sync(file);
        for (const std::uint32_t row : index->rowsWithId(id)) {
            if (index->filmId(row) == film_id) {
                return std::uint64_t{row} * row_size;
            }
        }
        return std::nullopt;
    }
    std::optional<std::uint64_t> found;
    RowChunks chunks(file, row_size);
    ordavo::forEachRow(chunks, [&](const unsigned char* row, std::uint64_t index) {
        if (rowId(row) == id && rowFilmId(row) == film_id) {
            found = index * row_size;
            return false;
        }
        return true;
    });
    return found;
}

bool deleteRowAt(const std::filesystem::path& table, std::size_t row_size, std::uint64_t offset,
                 const std::function<void(const unsigned char* row)>& kept,
                 const std::function<void(ReplaceStep)>& step_hook, TableIndex* index) {
    // The row is left out of the compacted copy instead of being marked 0 in place first: a
    // crash then leaves the table as it was or without the row. A row marked 0 in place would
    // stay listed with ID 0 and, stored last, would make the next New issue ID 1 a second time.
    // Opened for writing, though only read, so that a read-only table refuses the delete.
    PosixFile old_table(table, PosixFile::Mode::ReadWrite);
    if (offset % row_size != 0 || offset >= old_table.size()) {
        return false;
    }
    if (index) {
        index->keeper().forget();  // the table is about to change under it; rebuilt below
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> kept_rows;

    replaceFile(
        table,
        [&](PosixFile& temp) {
            RowCopier copier(old_table, temp, row_size);
            forEachRow(old_table, row_size, [&](std::uint64_t index, const unsigned char* row) {
                if (index * row_size == offset) {
                    copier.drop();
                    return;
                }
                copier.keep(index * row_size);
                kept_rows.emplace_back(rowId(row), rowFilmId(row));
                if (kept) {
                    kept(row);
                }
            });
            copier.finish();
        },
        step_hook);
    old_table.closeInBackground();  // the replaced table's blocks are freed meanwhile
    if (index) {
        index->replacedBy(PosixFile(table, PosixFile::Mode::Read), std::move(kept_rows));
    }
    return true;
}

}  // namespace ordavo::detail_file
