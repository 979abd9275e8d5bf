#include "search/film_search.h"

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

#include "storage/database_paths.h"
#include "storage/file_stamp.h"
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
// table's stamp is unchanged and was not racy when read; any write to the table, ours included,
// makes the next search read it again.
class SearchedTexts {
public:
    // The texts of `field` in `table` (open at `path`), read now unless a trusted scan holds them.
    // The result is valid until the next call.
    const FieldTexts& fieldOf(const std::string& path, const PosixFile& table,
                              const FilmFieldInfo& field) {
        const FileStamp stamp = stampOf(table);
        if (path != m_path || !m_validity.trusts(stamp)) {
            m_fields.clear();
            m_validity.forget();
            m_path = path;
        }
        const auto found = m_fields.find(field.offset);
        if (found != m_fields.end()) {
            return found->second;
        }
        const std::int64_t started = nowNs();
        FieldTexts texts = scan(table, field);
        const FileStamp after = stampOf(table);
        if (after != stamp) {
            // Written while being read: what was read stands for this search only.
            m_fields.clear();
            m_validity.forget();
            m_uncached = std::move(texts);
            return m_uncached;
        }
        m_validity.recordRead(after, started);
        return m_fields.emplace(field.offset, std::move(texts)).first->second;
    }

private:
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

    std::string m_path;
    FileValidity m_validity;
    std::map<std::size_t, FieldTexts> m_fields;  // by field offset
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

    const std::string path = paths.file(DataFile::Films).string();
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

}  // namespace ordavo
