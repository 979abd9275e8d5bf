#pragma once

#include <cstdint>
#include <vector>

namespace ordavo {

// The result of a search that restricts paging to the matching films. Built by the search, read by
// the record counter and by paging, reset by clearing the filter.
struct FilterState {
    bool filter_mode = false;
    std::vector<std::int64_t> filter_offsets;  // row offsets of the matches, in table order
    std::int32_t filter_index = 0;             // the shown match within filter_offsets
};

}  // namespace ordavo
