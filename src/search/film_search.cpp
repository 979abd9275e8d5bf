#include "search/film_search.h"

#include <stdexcept>

#include "storage/row_chunks.h"
#include "storage/database_paths.h"

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

    PosixFile table(paths.file(DataFile::Films), PosixFile::Mode::Read);
    RowChunks chunks(table, kFilmRowSize);
    if (phrase.empty()) {
        // Occurs in every text: every row matches and no row needs reading.
        offsets.reserve(static_cast<std::size_t>(chunks.totalRows()));
        for (std::uint64_t row = 0; row < chunks.totalRows(); ++row) {
            offsets.push_back(static_cast<std::int64_t>(row * kFilmRowSize));
        }
        return offsets;
    }
    forEachRow(chunks, [&](const unsigned char* row, std::uint64_t number) {
        if (rowText(row, field.offset, field.capacity).find(phrase) != std::u16string_view::npos) {
            offsets.push_back(static_cast<std::int64_t>(number * kFilmRowSize));
        }
        return true;
    });
    return offsets;
}

}  // namespace ordavo
