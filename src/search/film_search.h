#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "storage/film_record.h"

namespace ordavo {

struct DatabasePaths;

// The search field list: every text field of the film record except the two cover paths, in the
// order of the drop-down list (not the order of the record). A position in this list is the
// "field number" of a search.
inline constexpr std::size_t kSearchFieldCount = 49;
inline constexpr std::array<std::string_view, kSearchFieldCount> kSearchFieldOrder = {
    "title",
    "original_title",
    "genre",
    "own_rating_soundtrack",
    "own_rating_cinematography",
    "own_rating_cast",
    "own_rating_artistic_value",
    "own_rating_overall",
    "director_name",
    "director_nationality",
    "cinematographer_name",
    "cinematographer_nationality",
    "composer_name",
    "composer_nationality",
    "screenwriter_name",
    "screenwriter_nationality",
    "owner_first_name",
    "owner_last_name",
    "owner_address",
    "acquisition_name",
    "acquisition_address",
    "acquisition_phone",
    "acquisition_fax",
    "acquisition_email",
    "acquisition_www",
    "price",
    "purchase_date",
    "catalogue_date",
    "current_value",
    "loss_date",
    "catalogue_number",
    "medium_type",
    "production_year",
    "premiere_date",
    "running_time",
    "display_format",
    "picture_encoding_system",
    "voice_over_languages",
    "subtitle_languages",
    "video_codec_name",
    "video_codec_type",
    "video_codec_version",
    "sound_system_name",
    "sound_system_type",
    "sound_system_version",
    "protection_name",
    "protection_type",
    "protection_version",
    "production_countries",
};

// The longest phrase searched for, in UTF-16 units; the rest of a longer phrase is ignored.
inline constexpr std::size_t kMaxSearchPhraseLength = 500;

// The film-record field searched at a position of the list. Throws std::out_of_range for a
// position outside the list.
const FilmFieldInfo& searchField(std::size_t field_number);

// The text of the list entry at a position, e.g. "Obsada - Zdjęcia - Imię i Nazwisko".
inline std::string_view searchFieldLabel(std::size_t field_number) {
    return searchField(field_number).search_label;
}

// The row offsets (row number × 31888) of the films of "KR_PDB.kr" whose chosen field contains
// `phrase` (its first 500 units) as a contiguous run of UTF-16 units: case-sensitive, no folding,
// no trimming. An empty phrase matches every row; no field chosen matches none, without reading
// the table. Offsets are in file order, each row once; a trailing partial row counts as a row
// padded with zeros. Only the table is read; nothing else, the current-film buffer included, is
// touched. Throws FileError when the table cannot be opened or read, and std::out_of_range for a
// field number outside the list.
std::vector<std::int64_t> SearchFilms(const DatabasePaths& paths,
                                      std::optional<std::size_t> field_number,
                                      std::u16string_view phrase);

// Reads the chosen field's texts ahead of a search, where a search would read them itself, so that
// the search that follows (for instance once the user has typed the phrase) finds them at hand.
// Only the field read last is kept (and only up to 32 MiB of text), whatever was read before.
// Safe to call on another thread than the searches. Setting `cancelled` makes it stop soon and
// keep nothing. Throws as SearchFilms does.
void PrepareSearch(const DatabasePaths& paths, std::size_t field_number,
                   const std::atomic<bool>* cancelled = nullptr);

// The UTF-16 units of text the search keeps between searches (for tests and benchmarks).
std::size_t keptSearchTextUnits();

}  // namespace ordavo
