#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/film_record.h"
#include "storage/table_keeper.h"

namespace ordavo {

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

// Searches the film table "KR_PDB.kr" of one database for a phrase in one field. Keeps the texts
// of the field searched last between searches, as a view of the table's keeper (see
// storage/table_keeper.h): this program's own writes are caught up with by reading only the rows
// written, any other change makes the next search read the table again. Only the field used last
// is kept, and only up to 32 MiB of text. Searches and read-aheads may run on several threads.
class FilmSearch final : public TableView {
public:
    explicit FilmSearch(TableKeeper& films);
    ~FilmSearch() override;
    FilmSearch(const FilmSearch&) = delete;
    FilmSearch& operator=(const FilmSearch&) = delete;

    // The row offsets (row number × 31888) of the films whose chosen field contains `phrase`
    // (its first 500 units) as a contiguous run of UTF-16 units: case-sensitive, no folding, no
    // trimming. An empty phrase matches every row; no field chosen matches none, without reading
    // the table. Offsets are in file order, each row once; a trailing partial row counts as a
    // row padded with zeros. Only the table is read; nothing else, the current-film buffer
    // included, is touched. Throws FileError when the table cannot be opened or read, and
    // std::out_of_range for a field number outside the list.
    std::vector<std::int64_t> search(std::optional<std::size_t> field_number,
                                     std::u16string_view phrase);

    // Reads the chosen field's texts ahead of a search, so that the search that follows (for
    // instance once the user has typed the phrase) finds them at hand. Setting `cancelled` makes
    // it stop soon and keep nothing. Throws as search() does.
    void prepare(std::size_t field_number, const std::atomic<bool>* cancelled = nullptr);

    // The UTF-16 units of text kept between searches (for tests and benchmarks).
    std::size_t keptUnits() const;

    // TableView.
    void drop() override;
    void rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) override;

    // The text of one field of every row, as a scan of the film table found it.
    struct FieldTexts {
        std::u16string units;           // the texts back to back
        std::vector<std::size_t> ends;  // where each row's text ends in `units`

        std::u16string_view text(std::size_t row) const {
            const std::size_t begin = row == 0 ? 0 : ends[row - 1];
            return std::u16string_view(units).substr(begin, ends[row] - begin);
        }
    };

private:
    const FieldTexts* textsOf(const PosixFile& table, const FilmFieldInfo& field,
                              FieldTexts& scratch, const std::atomic<bool>* cancelled,
                              std::unique_lock<std::recursive_mutex>& keeper_lock);

    TableKeeper& m_keeper;
    std::mutex m_serial;                     // one search or read-ahead at a time
    const FilmFieldInfo* m_field = nullptr;  // the field kept, under the keeper's lock
    FieldTexts m_texts;                      // its texts
};

}  // namespace ordavo
