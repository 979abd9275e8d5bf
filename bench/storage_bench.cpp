// Film table operations on generated databases of 1,000 and 10,000 films.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/message_sink.h"
#include "storage/posix_file.h"

namespace ordavo::bench {
namespace {

class SilentSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

struct Fixture {
    explicit Fixture(int films)
        : database(buildPaths(scratchDatabase(films)), sink), table(database, pages) {}
    std::int64_t randomOffset(std::mt19937& random) {
        const auto rows = static_cast<std::int64_t>(table.tableLength() / kFilmRowSize);
        return static_cast<std::int64_t>(random() % rows) * static_cast<std::int64_t>(kFilmRowSize);
    }
    SilentSink sink;
    NullHandover pages;
    Database database;
    FilmTable table;
    FilterState filter;
};

void BM_RefreshCounter(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    f.table.current().id = 2 + static_cast<int>(state.range(0)) / 2;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.table.refreshCounter(f.filter));
    }
}

// The counter as a row-by-row reader would compute it: one whole-row read per film.
void BM_RefreshCounterLiteral(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    const std::int32_t wanted = 2 + static_cast<int>(state.range(0)) / 2;
    FilmRecord row;
    for (auto _ : state) {
        PosixFile file(f.database.paths().file(DataFile::Films), PosixFile::Mode::Read);
        const std::uint64_t length = file.size();
        std::int64_t position = 0;
        std::int64_t count = 0;
        for (std::uint64_t offset = 0; offset < length; offset += kFilmRowSize) {
            file.readAt(&row, sizeof row, offset);
            ++count;
            if (row.id == wanted) {
                position = count;
            }
        }
        benchmark::DoNotOptimize(position);
    }
}

void BM_ReadRow(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    std::mt19937 random(1);
    for (auto _ : state) {
        f.table.current_offset = f.randomOffset(random);
        benchmark::DoNotOptimize(f.table.readRow(false));
    }
}

void BM_UpdateRow(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    std::mt19937 random(2);
    f.table.current_offset = f.randomOffset(random);
    f.table.readRow(false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.table.updateRow());
    }
}

void BM_AppendRow(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    const std::uint64_t length = f.table.tableLength();
    const DatabaseHeader header = f.database.readHeader();
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.table.appendRow(false));
    }
    PosixFile(f.database.paths().file(DataFile::Films), PosixFile::Mode::ReadWrite)
        .truncate(length);
    PosixFile(f.database.paths().file(DataFile::Header), PosixFile::Mode::ReadWrite)
        .writeAt(&header, sizeof header, 0);
}

// Each iteration deletes one film: the compaction copies the whole table and flushes it.
void BM_DeleteRow(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    std::mt19937 random(3);
    for (auto _ : state) {
        state.PauseTiming();
        f.table.current_offset = f.randomOffset(random);
        state.ResumeTiming();
        benchmark::DoNotOptimize(f.table.deleteRow(f.filter));
    }
}

// What `cp` takes for the same table, with and without flushing the copy to disk.
void BM_CopyTableWithCp(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    copyWithCp(state, f.database.paths().file(DataFile::Films), false);
}
void BM_CopyTableWithCpAndSync(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    copyWithCp(state, f.database.paths().file(DataFile::Films), true);
}

#define ORDAVO_SIZES ->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_RefreshCounter) ORDAVO_SIZES;
BENCHMARK(BM_RefreshCounterLiteral) ORDAVO_SIZES;
BENCHMARK(BM_ReadRow) ORDAVO_SIZES;
BENCHMARK(BM_UpdateRow) ORDAVO_SIZES;
BENCHMARK(BM_AppendRow) ORDAVO_SIZES;
BENCHMARK(BM_DeleteRow) ORDAVO_SIZES->Iterations(10);
BENCHMARK(BM_CopyTableWithCp) ORDAVO_SIZES->Iterations(10);
BENCHMARK(BM_CopyTableWithCpAndSync) ORDAVO_SIZES->Iterations(10);

}  // namespace
}  // namespace ordavo::bench

BENCHMARK_MAIN();
