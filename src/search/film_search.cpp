#include "search/film_search.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

#include "storage/database_paths.h"
#include "storage/file_stamp.h"
#include "storage/own_writes.h"
#include "storage/row_chunks.h"

namespace ordavo {

namespace {

// The search list resolved to indices of the film field table once, at compile time.
constexpr std::array<std::size_t, kSearchFieldCount> resolveSearchFields() {
    std::array<std::size_t, kSearchFieldCount> indices{};
    for (std::size_t i = 0; i < kSearchFieldCount; ++i) {
        indices[i] = filmFieldIndex(kSearchFieldOrder[i]);
    }
    return indices;
}

constexpr std::array<std::size_t, kSearchFieldCount> kSearchFieldIndices = resolveSearchFields();

// Every searchable field of the record appears in the list exactly once, and nothing else does.
constexpr bool searchListIsComplete() {
    std::array<int, kFilmTextFieldCount> seen{};
    for (std::size_t index : kSearchFieldIndices) {
        if (index >= kFilmTextFieldCount || !kFilmFields[index].searchable()) {
            return false;
        }
        ++seen[index];
    }
    for (std::size_t i = 0; i < kFilmTextFieldCount; ++i) {
        if (seen[i] != (kFilmFields[i].searchable() ? 1 : 0)) {
            return false;
        }
    }
    return true;
}

static_assert(searchListIsComplete(),
              "the search list names each searchable film field exactly once");

// The text of one field of every row, as the last scan of the film table found it.
struct FieldTexts {
    std::u16string units;           // the texts back to back
    std::vector<std::size_t> ends;  // where each row's text ends in `units`

    std::u16string_view text(std::size_t row) const {
        const std::size_t begin = row == 0 ? 0 : ends[row - 1];
        return std::u16string_view(units).substr(begin, ends[row] - begin);
    }
};

// The searched fields of one film table, kept between searches so that searching again (another
// phrase, the same field) does not read the 31,888-byte rows once more. Trusted only while the
// table's stamp is unchanged and was not racy when read. Our own writes since then are caught up
// with by reading just the rows written; any other change makes the next search read it again.
class SearchedTexts {
public:
    // The texts of `field` in `table` (open at `path`), read now unless a trusted scan holds them.
    // The result is valid until the next call.
    const FieldTexts& fieldOf(const std::filesystem::path& path, const PosixFile& table,
                              const FilmFieldInfo& field) {
        const FileStamp stamp = stampOf(table);
        if (path != m_path || (!m_validity.trusts(stamp) && !catchUp(path, table, stamp))) {
            forget();
            m_path = path;
        }
        const auto found = m_fields.find(&field);
        if (found != m_fields.end()) {
            return found->second;
        }
        const std::uint64_t position = OwnRowWrites::position(path);
        const std::int64_t started = nowNs();
        FieldTexts texts = scan(table, field);
        const FileStamp after = stampOf(table);
        m_validity.recordRead(after, started);
        if (after != stamp || !m_validity.trusts(after)) {
            // Written while being read, or so recently that a later write could share the stamp:
            // what was read stands for this search only.
            forget();
            m_uncached = std::move(texts);
            return m_uncached;
        }
        m_stamp = after;
        m_position = position;
        return m_fields.emplace(&field, std::move(texts)).first->second;
    }

private:
    void forget() {
        m_fields.clear();
        m_validity.forget();
        m_stamp.reset();
    }

    // Brings every kept field up to date with the rows this process wrote since the scan, when
    // those writes alone lead from the kept stamp to `stamp`.
    bool catchUp(const std::filesystem::path& path, const PosixFile& table,
                 const FileStamp& stamp) {
        if (!m_stamp) {
            return false;
        }
        const auto written = OwnRowWrites::rowsSince(path, m_position, *m_stamp, stamp);
        if (!written) {
            return false;
        }
        const std::uint64_t length = static_cast<std::uint64_t>(stamp.size);
        const std::size_t rows =
            static_cast<std::size_t>((length + kFilmRowSize - 1) / kFilmRowSize);
        // Every kept field was read at the same stamp, so all hold the same number of rows.
        const std::size_t kept_rows =
            m_fields.empty() ? rows : m_fields.begin()->second.ends.size();
        if (rows < kept_rows) {
            return false;
        }
        std::set<std::size_t> reread(written->begin(), written->end());
        for (std::size_t row = kept_rows; row < rows; ++row) {
            reread.insert(row);  // rows the table grew by
        }
        for (auto& [field_info, texts] : m_fields) {
            std::map<std::size_t, std::u16string> changed;
            for (std::size_t row : reread) {
                if (!readField(table, length, row, *field_info, changed[row])) {
                    return false;
                }
            }
            FieldTexts updated;
            updated.units.reserve(texts.units.size());
            updated.ends.reserve(rows);
            for (std::size_t row = 0; row < rows; ++row) {
                const auto it = changed.find(row);
                updated.units +=
                    it != changed.end() ? std::u16string_view(it->second) : texts.text(row);
                updated.ends.push_back(updated.units.size());
            }
            texts = std::move(updated);
        }
        m_validity.recordOwnWrite(stamp);
        m_stamp = stamp;
        m_position = OwnRowWrites::position(path);
        return true;
    }

    // The text of `field` in row `row` of a table `length` bytes long; false if it shrank.
    static bool readField(const PosixFile& table, std::uint64_t length, std::size_t row,
                          const FilmFieldInfo& field, std::u16string& text) {
        std::vector<char16_t> units(field.capacity, u'\0');
        const std::uint64_t start = row * kFilmRowSize + field.offset;
        if (start < length) {
            const std::size_t wanted = static_cast<std::size_t>(
                std::min<std::uint64_t>(field.capacity * sizeof(char16_t), length - start));
            if (table.readAt(units.data(), wanted, start) != wanted) {
                return false;
            }
        }
        text = readText(units.data(), field.capacity);
        return true;
    }

    static FieldTexts scan(const PosixFile& table, const FilmFieldInfo& field) {
        FieldTexts texts;
        RowChunks chunks(table, kFilmRowSize);
        texts.ends.reserve(static_cast<std::size_t>(chunks.totalRows()));
        forEachRow(chunks, [&](const unsigned char* row, std::uint64_t) {
            texts.units += rowText(row, field.offset, field.capacity);
            texts.ends.push_back(texts.units.size());
            return true;
        });
        texts.units.shrink_to_fit();
        return texts;
    }

    std::filesystem::path m_path;
    FileValidity m_validity;
    std::optional<FileStamp> m_stamp;  // of the table the kept texts match
    std::uint64_t m_position = 0;      // of our own writes' record at that stamp
    std::map<const FilmFieldInfo*, FieldTexts> m_fields;
    FieldTexts m_uncached;
};

std::mutex g_searchedMutex;
SearchedTexts g_searched;

}  // namespace

const FilmFieldInfo& searchField(std::size_t field_number) {
    if (field_number >= kSearchFieldCount) {
        throw std::out_of_range("search field number " + std::to_string(field_number));
    }
    return kFilmFields[kSearchFieldIndices[field_number]];
}

std::vector<std::int64_t> SearchFilms(const DatabasePaths& paths,
                                      std::optional<std::size_t> field_number,
                                      std::u16string_view phrase) {
    std::vector<std::int64_t> offsets;
    if (!field_number) {
        return offsets;
    }
    const FilmFieldInfo& field = searchField(*field_number);
    phrase = phrase.substr(0, kMaxSearchPhraseLength);

    const std::filesystem::path& path = paths.file(DataFile::Films);
    PosixFile table(path, PosixFile::Mode::Read);
    if (phrase.empty()) {
        // Occurs in every text: every row matches and no row needs reading.
        const std::uint64_t rows = (table.size() + kFilmRowSize - 1) / kFilmRowSize;
        offsets.reserve(static_cast<std::size_t>(rows));
        for (std::uint64_t row = 0; row < rows; ++row) {
            offsets.push_back(static_cast<std::int64_t>(row * kFilmRowSize));
        }
        return offsets;
    }
    const std::lock_guard lock(g_searchedMutex);
    const FieldTexts& texts = g_searched.fieldOf(path, table, field);
    for (std::size_t row = 0; row < texts.ends.size(); ++row) {
        if (texts.text(row).find(phrase) != std::u16string_view::npos) {
            offsets.push_back(static_cast<std::int64_t>(row * kFilmRowSize));
        }
    }
    return offsets;
}

void PrepareSearch(const DatabasePaths& paths, std::size_t field_number) {
    const FilmFieldInfo& field = searchField(field_number);
    const std::filesystem::path& path = paths.file(DataFile::Films);
    PosixFile table(path, PosixFile::Mode::Read);
    const std::lock_guard lock(g_searchedMutex);
    g_searched.fieldOf(path, table, field);
}

}  // namespace ordavo
