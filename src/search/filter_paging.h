#pragma once

#include <cstdint>
#include <vector>

#include "storage/film_table.h"
#include "storage/filter_state.h"

namespace ordavo {

// Filter mode: after a search with matches, paging walks the matches only, until ClearFilter.
// These functions keep FilterState's invariant: while filter_mode is true, filter_offsets holds at
// least one offset and filter_index lies within it. Showing the film, the indicator and the
// counter stays with the main window, which calls these first.

// Replaces the whole result list with `matches` and starts at its first entry, in either mode.
// Returns false, with the state unchanged, when there are no matches. After true the caller sets
// current_offset to currentFilterOffset(), refreshes the counter, shows the indicator and loads
// the film.
bool enterFilterMode(FilterState& filter, std::vector<std::int64_t> matches);

// The paging buttons "|<", "<", ">" and ">|".
enum class FilterStep { First, Previous, Next, Last };

struct FilterStepResult {
    bool moved = false;   // filter_index changed
    bool reload = false;  // the caller sets current_offset, refreshes the counter and reloads
};

// One paging step through the matches, without wrap-around: "<" at the first match and ">" at
// the last do nothing at all (no reload); "|<" and ">|" always reload, even when already there.
// Outside filter mode nothing happens: normal paging belongs to the main window.
FilterStepResult stepFilter(FilterState& filter, FilterStep step);

// The row offset of the shown match. Only meaningful in filter mode.
std::int64_t currentFilterOffset(const FilterState& filter);

// "Wyczyść Filtr": leaves filter mode and forgets the matches, in either mode. The caller then
// sets current_offset to 0, hides the indicator, loads the first film and refreshes the counter.
void ClearFilter(FilterState& filter);

}  // namespace ordavo
