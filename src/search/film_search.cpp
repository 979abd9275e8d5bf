#include "search/film_search.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
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

// The most a kept field may hold, in UTF-16 units (32 MiB): a larger one is read for its search
// and dropped, so that what stays between searches is bounded whatever the table's size.
constexpr std::size_t kKeptUnits = std::size_t{16} << 20;

// The searched field of one film table, kept between searches so that searching again (another
// phrase, the same field) does not read the 31,888-byte rows once more. Only the field used last
// is kept. Trusted only while the table's stamp is unchanged and was not racy when read. Our own
// writes since then are caught up with by reading just the rows written; any other change makes
// the next search read it again.
class SearchedTexts {
public:
    // The texts of `field` in `table` (open at `path`): the kept ones, or read now into `scratch`
    // and kept when they may be. nullptr when `cancelled` was set while reading.
    const FieldTexts* fieldOf(const std::filesystem::path& path, const PosixFile& table,
                              const FilmFieldInfo& field, FieldTexts& scratch,
                              const std::atomic<bool>* cancelled) {
        const FileStamp stamp = stampOf(table);
        if (path != m_path || (!m_validity.trusts(stamp) && !catchUp(path, table, stamp))) {
            forget();
            m_path = path;
        }
        const auto found = m_fields.find(&field);
        if (found != m_fields.end()) {
            return &found->second;
        }
        const std::uint64_t position = OwnRowWrites::position(path);
        const std::int64_t started = nowNs();
        // The field kept so far goes before another is read: two large fields are never held.
        m_fields.clear();
        if (!scan(table, field, scratch, cancelled)) {
            return nullptr;
        }
        const FileStamp after = stampOf(table);
        FileValidity validity;
        validity.recordRead(after, started);
        if (after != stamp || !validity.trusts(after) || scratch.units.size() > kKeptUnits) {
            // Written while being read, or so recently that a later write could share the stamp,
            // or too large to keep: what was read stands for this search only.
            forget();
            return &scratch;
        }
        m_validity = validity;
        m_stamp = after;
        m_position = position;
        return &m_fields.emplace(&field, std::move(scratch)).first->second;
    }

    std::size_t keptUnits() const {
        std::size_t units = 0;
        for (const auto& [field, texts] : m_fields) {
            units += texts.units.size();
        }
        return units;
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

    // False when `cancelled` was set before the scan ended (`texts` then means nothing).
    static bool scan(const PosixFile& table, const FilmFieldInfo& field, FieldTexts& texts,
                     const std::atomic<bool>* cancelled) {
        RowChunks chunks(table, kFilmRowSize);
        texts.ends.reserve(static_cast<std::size_t>(chunks.totalRows()));
        bool whole = true;
        forEachRow(chunks, [&](const unsigned char* row, std::uint64_t) {
            if (cancelled && cancelled->load(std::memory_order_relaxed)) {
                whole = false;
                return false;
            }
            texts.units += rowText(row, field.offset, field.capacity);
            texts.ends.push_back(texts.units.size());
            return true;
        });
        texts.units.shrink_to_fit();
        return whole;
    }

    std::filesystem::path m_path;
    FileValidity m_validity;
    std::optional<FileStamp> m_stamp;  // of the table the kept texts match
    std::uint64_t m_position = 0;      // of our own writes' record at that stamp
    std::map<const FilmFieldInfo*, FieldTexts> m_fields;  // at most one
};

std::mutex g_searchedMutex;
SearchedTexts g_searched;

// Texts read and let go (tens of megabytes on a large table, freed on the thread that read them)
// go back to the system instead of staying with the allocator.
void returnFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

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
    bool read_for_this_search_only = false;
    {
        const std::lock_guard lock(g_searchedMutex);
        FieldTexts scratch;
        const FieldTexts& texts = *g_searched.fieldOf(path, table, field, scratch, nullptr);
        read_for_this_search_only = &texts == &scratch;
        for (std::size_t row = 0; row < texts.ends.size(); ++row) {
            if (texts.text(row).find(phrase) != std::u16string_view::npos) {
                offsets.push_back(static_cast<std::int64_t>(row * kFilmRowSize));
            }
        }
    }
    if (read_for_this_search_only) {
        returnFreedMemory();
    }
    return offsets;
}

void PrepareSearch(const DatabasePaths& paths, std::size_t field_number,
                   const std::atomic<bool>* cancelled) {
    const FilmFieldInfo& field = searchField(field_number);
    const std::filesystem::path& path = paths.file(DataFile::Films);
    PosixFile table(path, PosixFile::Mode::Read);
    if (cancelled && cancelled->load()) {
        return;
    }
    {
        const std::lock_guard lock(g_searchedMutex);
        FieldTexts scratch;
        g_searched.fieldOf(path, table, field, scratch, cancelled);
    }
    returnFreedMemory();
}

}  // namespace ordavo

namespace ordavo {

std::size_t keptSearchTextUnits() {
    const std::lock_guard lock(g_searchedMutex);
    return g_searched.keptUnits();
}

}  // namespace ordavo
