#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "storage/page_handover.h"

namespace ordavo::bench {

// Where generated databases are kept between runs: $ORDAVO_BENCH_CACHE, or bench-data in the
// working folder.
std::filesystem::path cacheRoot();

// A private, writable copy of the generated database of `films` films, made once per process.
std::filesystem::path scratchDatabase(int films);

// Hand-over that loads and saves nothing, for timing the film table alone.
class NullHandover : public PageHandover {
public:
    void clearList(DetailList) override {}
    void loadRows(DetailList, std::int32_t) override {}
    void saveRows(DetailList, std::int32_t) override {}
};

}  // namespace ordavo::bench
