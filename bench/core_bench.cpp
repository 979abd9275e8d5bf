// Detail tables, search and export on generated databases of 1,000 and 10,000 films.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "bench_support.h"
#include "export/csv_export.h"
#include "search/film_search.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/message_sink.h"
#include "storage/write_batch.h"
#include "tabs/detail_tables.h"

namespace ordavo::bench {
namespace {

class SilentSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

struct Fixture {
    explicit Fixture(int films_)
        : films(films_), database(buildPaths(scratchDatabase(films_)), sink), details(database) {}
    std::int32_t randomFilm(std::mt19937& random) const {
        return 2 + static_cast<std::int32_t>(random() % static_cast<unsigned>(films));
    }
    void loadAll(std::int32_t film) {
        for (DetailList list : kLoadOrder)
            details.loadRows(list, film);
    }
    int films;
    SilentSink sink;
    Database database;
    DetailTables details;
};

// What the pages do after a film row is read: every list loads the film's rows.
void BM_LoadRowsAllTables(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    std::mt19937 random(1);
    for (auto _ : state) {
        f.loadAll(f.randomFilm(random));
    }
}

// What the pages do after a film row is written: a film with 10 cast rows and 2 reviews.
void BM_SaveRowsAllTables(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    std::mt19937 random(2);
    f.loadAll(f.randomFilm(random));
    for (auto _ : state) {
        WriteBatch batch(f.database);
        for (DetailList list : kSaveOrder)
            f.details.saveRows(list, 0, batch);
        batch.commit();
    }
}

// "Nowy" and "Usuń" on the cast list: a new row saved, then deleted again (one compaction).
void BM_NewAndDeleteCastRow(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    std::mt19937 random(3);
    DetailTable& cast = f.details.table(DetailList::Cast);
    for (auto _ : state) {
        const std::int32_t film = f.randomFilm(random);
        cast.loadRows(film);
        cast.newRow(film);
        cast.saveRows();
        cast.deleteRow(cast.rowCount() - 1, film);
    }
}

// One copy of the cast table by `cp`, with and without flushing it to the device: the yardstick
// of a delete, which copies the table and flushes the copy before it replaces the table.
void BM_CopyCastTable_Cp(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    copyWithCp(state, f.database.paths().file(DataFile::Cast), false);
}
void BM_CopyCastTable_CpSync(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    copyWithCp(state, f.database.paths().file(DataFile::Cast), true);
}

void BM_SearchTitle(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    FilmSearch search(f.database.keeper(DataFile::Films));
    for (auto _ : state) {
        benchmark::DoNotOptimize(search.search(0, u"Wisłą"));
    }
}

// The first search after the film table changed (a save, or another program): the searched
// field is read from every row again.
void BM_SearchTitleAfterChange(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    const std::filesystem::path films = f.database.paths().file(DataFile::Films);
    FilmSearch search(f.database.keeper(DataFile::Films));
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::last_write_time(films, std::filesystem::file_time_type::clock::now());
        state.ResumeTiming();
        benchmark::DoNotOptimize(search.search(0, u"Wisłą"));
    }
}

// A search after the program saved a film itself: only the saved row is read again.
void BM_SearchTitleAfterOwnSave(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    NullHandover pages;
    FilmTable table(f.database, pages);
    std::mt19937 random(4);
    // A table copied a moment ago is too fresh for its texts to be kept; a user's table is not.
    std::filesystem::last_write_time(
        f.database.paths().file(DataFile::Films),
        std::filesystem::file_time_type::clock::now() - std::chrono::seconds(60));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    FilmSearch search(f.database.keeper(DataFile::Films));
    search.search(0, u"Wisłą");
    for (auto _ : state) {
        state.PauseTiming();
        table.current_offset =
            static_cast<std::int64_t>(random() % static_cast<unsigned>(f.films)) * kFilmRowSize;
        table.readRow(false);
        table.updateRow();
        state.ResumeTiming();
        benchmark::DoNotOptimize(search.search(0, u"Wisłą"));
    }
}

void BM_ExportWholeDatabase(benchmark::State& state) {
    Fixture f(static_cast<int>(state.range(0)));
    const std::filesystem::path target = cacheRoot() / "export.csv";
    for (auto _ : state) {
        ExportCsv(f.database.paths(), target, ExportScope::WholeDatabase, 0, ExportSections{},
                  "CP1250");
    }
    std::filesystem::remove(target);
}

#define ORDAVO_SIZES ->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_LoadRowsAllTables) ORDAVO_SIZES;
BENCHMARK(BM_SaveRowsAllTables) ORDAVO_SIZES;
BENCHMARK(BM_NewAndDeleteCastRow) ORDAVO_SIZES->Iterations(10);
BENCHMARK(BM_CopyCastTable_Cp) ORDAVO_SIZES->Iterations(10);
BENCHMARK(BM_CopyCastTable_CpSync) ORDAVO_SIZES->Iterations(10);
BENCHMARK(BM_SearchTitle) ORDAVO_SIZES;
BENCHMARK(BM_SearchTitleAfterChange) ORDAVO_SIZES;
BENCHMARK(BM_SearchTitleAfterOwnSave) ORDAVO_SIZES;
BENCHMARK(BM_ExportWholeDatabase) ORDAVO_SIZES;

}  // namespace
}  // namespace ordavo::bench

BENCHMARK_MAIN();
