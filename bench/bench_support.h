#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "storage/page_handover.h"

namespace benchmark {
class State;
}

namespace ordavo::bench {

// Where generated databases are kept between runs: $ORDAVO_BENCH_CACHE, or bench-data in the
// working folder.
std::filesystem::path cacheRoot();

// A private, writable copy of the generated database of `films` films, made once per process.
std::filesystem::path scratchDatabase(int films);

// Times `cp` copying `table` (and, with `flush`, `sync` of the copy): the yardstick of a delete.
void copyWithCp(benchmark::State& state, const std::filesystem::path& table, bool flush);

// Hand-over that loads and saves nothing, for timing the film table alone.
class NullHandover : public PageHandover {
public:
    void clearList(DetailList) override {}
    void forgetRows(DetailList) override {}
    void loadRows(DetailList, std::int32_t) override {}
    void saveRows(DetailList, std::int32_t, WriteBatch&) override {}
    std::int32_t largestFilmId() override { return 0; }
};

}  // namespace ordavo::bench
