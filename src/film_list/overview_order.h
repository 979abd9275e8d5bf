#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "film_list/film_overview.h"

namespace ordavo {

// Which films of an overview the film list shows, and in which order: the quick filter (every
// typed word occurs in some shown column, compared as foldForMatch does), "Tylko wypożyczone",
// filter mode's matches, and the order of a column (Polish order, numbers for "ID" and "Rok
// produkcji", the table's order when no column is chosen; equal keys keep the table's order).
// Sort keys are made once per row and brought up to date row by row.
class OverviewOrder {
public:
    void sortBy(std::optional<OverviewColumn> column, bool ascending = true);
    void setQuery(std::u16string_view text);
    void setOnlyLent(bool only_lent);
    // Filter mode: only the rows at these offsets; nullopt for every row.
    void restrictTo(std::optional<std::vector<std::int64_t>> offsets);

    // Brings the shown rows up to date with `overview` and with the settings; returns them as
    // indices into overview.rows().
    const std::vector<std::size_t>& update(FilmOverview& overview);
    const std::vector<std::size_t>& shown() const { return m_shown; }

    std::optional<OverviewColumn> sortColumn() const { return m_column; }
    bool ascending() const { return m_ascending; }

private:
    bool passes(const FilmOverview& overview, std::size_t row) const;
    bool before(std::size_t a, std::size_t b) const;
    std::string keyOf(const FilmOverview& overview, std::size_t row) const;
    void refreshRow(const FilmOverview& overview, std::size_t row);
    void arrange(const FilmOverview& overview);

    std::optional<OverviewColumn> m_column;
    bool m_ascending = true;
    std::vector<std::u16string> m_words;  // folded
    bool m_onlyLent = false;
    std::optional<std::vector<std::int64_t>> m_offsets;  // sorted

    std::size_t m_rows = 0;           // rows of the overview last arranged
    std::vector<std::string> m_keys;  // per row: the sort key of m_column
    std::vector<std::size_t> m_shown;
    bool m_settingsChanged = true;
};

}  // namespace ordavo
