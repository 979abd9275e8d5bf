#include "search/filter_paging.h"

#include <utility>

namespace ordavo {

bool enterFilterMode(FilterState& filter, std::vector<std::int64_t> matches) {
    if (matches.empty()) {
        return false;
    }
    filter.filter_offsets = std::move(matches);
    filter.filter_index = 0;
    filter.filter_mode = true;
    return true;
}

FilterStepResult stepFilter(FilterState& filter, FilterStep step) {
    if (!filter.filter_mode || filter.filter_offsets.empty()) {
        return {};
    }
    const std::int32_t last = static_cast<std::int32_t>(filter.filter_offsets.size()) - 1;
    const std::int32_t before = filter.filter_index;
    switch (step) {
        case FilterStep::First:
            filter.filter_index = 0;
            return {before != 0, true};
        case FilterStep::Last:
            filter.filter_index = last;
            return {before != last, true};
        case FilterStep::Previous:
            if (before <= 0) {
                return {};
            }
            filter.filter_index = before - 1;
            return {true, true};
        case FilterStep::Next:
            if (before >= last) {
                return {};
            }
            filter.filter_index = before + 1;
            return {true, true};
    }
    return {};
}

std::int64_t currentFilterOffset(const FilterState& filter) {
    return filter.filter_offsets.at(static_cast<std::size_t>(filter.filter_index));
}

void ClearFilter(FilterState& filter) {
    filter.filter_mode = false;
    filter.filter_offsets.clear();
    filter.filter_index = 0;
}

}  // namespace ordavo
