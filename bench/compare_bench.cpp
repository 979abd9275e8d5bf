// Each operation of the catalogue three ways, on generated databases of 10,000 and 50,000 films
// (10 cast rows and 2 reviews per film): Ordavo, the literal way (one read call per whole row,
// per-entry scans when saving, nothing remembered between operations), and SQLite on equivalent
// tables, with its default rollback journal and synchronous=FULL ("Full") and with a write-ahead
// log and synchronous=NORMAL ("Wal") where the operation writes.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>

#include "bench_support.h"
#include "export/csv_export.h"
#include "literal_operations.h"
#include "search/film_search.h"
#include "sqlite_mirror.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/message_sink.h"
#include "storage/posix_file.h"
#include "tabs/detail_tables.h"

namespace ordavo::bench {
namespace {

class QuietSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

constexpr std::u16string_view kSearchPhrase = u"Wisłą";

// Makes every private copy a size needs once, then flushes them, so that the write-back of the
// copies does not run during the measurements.
void prepareCopies(int films) {
    static std::set<int> prepared;
    if (prepared.insert(films).second) {
        scratchDatabase(films);
        scratchMirror(films, Durability::FullRollback);
        scratchMirror(films, Durability::WalNormal);
        ::sync();
    }
}

// The film in the middle of the table.
std::int32_t middleFilm(int films) {
    return 2 + films / 2;
}

// Ordavo's film table with the seven detail tables behind it, as the main window holds them.
struct Ordavo {
    explicit Ordavo(int films_)
        : films(films_),
          database((prepareCopies(films_), buildPaths(scratchDatabase(films_))), sink),
          details(database),
          table(database, details) {}
    std::int64_t randomOffset(std::mt19937& random) {
        const auto rows = static_cast<std::int64_t>(table.tableLength() / kFilmRowSize);
        return static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(rows)) *
               static_cast<std::int64_t>(kFilmRowSize);
    }
    const DatabasePaths& paths() const { return database.paths(); }

    int films;
    QuietSink sink;
    Database database;
    DetailTables details;
    FilmTable table;
    FilterState filter;
};

std::int32_t randomFilm(std::mt19937& random, int films) {
    return 2 + static_cast<std::int32_t>(random() % static_cast<unsigned>(films));
}

int films(const benchmark::State& state) {
    return static_cast<int>(state.range(0));
}

std::unique_ptr<SqliteMirror> mirror(int films, Durability durability) {
    prepareCopies(films);
    return std::make_unique<SqliteMirror>(scratchMirror(films, durability), durability);
}

// Puts the film table and the header back as they were before films were appended.
class AppendUndo {
public:
    explicit AppendUndo(Database& database)
        : m_database(database),
          m_length(PosixFile(database.paths().file(DataFile::Films), PosixFile::Mode::Read).size()),
          m_header(database.readHeader()) {}
    ~AppendUndo() {
        PosixFile(m_database.paths().file(DataFile::Films), PosixFile::Mode::ReadWrite)
            .truncate(m_length);
        PosixFile(m_database.paths().file(DataFile::Header), PosixFile::Mode::ReadWrite)
            .writeAt(&m_header, sizeof m_header, 0);
    }

private:
    Database& m_database;
    std::uint64_t m_length;
    DatabaseHeader m_header;
};

// ---------------------------------------------------------------- counter

void BM_Counter_Ordavo(benchmark::State& state) {
    Ordavo f(films(state));
    f.table.current().id = middleFilm(f.films);
    f.table.refreshCounter(f.filter);
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.table.refreshCounter(f.filter));
    }
}

void BM_Counter_Literal(benchmark::State& state) {
    Ordavo f(films(state));
    for (auto _ : state) {
        benchmark::DoNotOptimize(literalCounter(f.paths(), middleFilm(f.films)));
    }
}

void BM_Counter_Sqlite(benchmark::State& state) {
    auto db = mirror(films(state), Durability::FullRollback);
    for (auto _ : state) {
        benchmark::DoNotOptimize(db->counter(middleFilm(films(state))));
    }
}

// ---------------------------------------------------------------- a film with its seven tables

void BM_ReadFilm_Ordavo(benchmark::State& state) {
    Ordavo f(films(state));
    std::mt19937 random(1);
    f.table.readRow(true);
    for (auto _ : state) {
        f.table.current_offset = f.randomOffset(random);
        benchmark::DoNotOptimize(f.table.readRow(false));
    }
}

void BM_ReadFilm_Literal(benchmark::State& state) {
    Ordavo f(films(state));
    std::mt19937 random(1);
    FilmRecord film = zeroFilmRecord();
    FilmDetailRows rows;
    for (auto _ : state) {
        literalReadFilm(f.database, f.randomOffset(random), film, rows);
        benchmark::DoNotOptimize(film.id);
    }
}

void BM_ReadFilm_Sqlite(benchmark::State& state) {
    auto db = mirror(films(state), Durability::FullRollback);
    std::mt19937 random(1);
    FilmRecord film = zeroFilmRecord();
    FilmDetailRows rows;
    for (auto _ : state) {
        db->readFilm(randomFilm(random, films(state)), film, rows);
        benchmark::DoNotOptimize(film.id);
    }
}

// The core's part of start-up: with nothing known about the files yet, the first film is read
// with its seven tables and counted (the film ids and the tables' indexes are built here). Also
// reports the heap that the film ids and the indexes keep afterwards, per film and detail row.
void BM_FirstFilmCold_Ordavo(benchmark::State& state) {
    prepareCopies(films(state));
    for (auto _ : state) {
        Ordavo f(films(state));
        f.table.readRow(true);
        benchmark::DoNotOptimize(f.table.refreshCounter(f.filter));
    }
    Ordavo f(films(state));
    const std::size_t before = ::mallinfo2().uordblks;
    f.table.readRow(true);
    f.table.refreshCounter(f.filter);
    const std::size_t kept = ::mallinfo2().uordblks - before;
    std::uint64_t detail_rows = 0;
    for (DetailList list : kLoadOrder) {
        detail_rows += f.details.table(list).countFileRows();
    }
    state.counters["kept_MB"] = static_cast<double>(kept) / 1e6;
    state.counters["B_per_row"] =
        static_cast<double>(kept) / static_cast<double>(f.table.counter().count + detail_rows);
}

// Saving writes the film row and its 10 cast rows and 2 reviews (the other tables are empty).
// Every row changes at every save, so that all 13 are written, durably, as SQLite writes them.
void BM_SaveFilm_Ordavo(benchmark::State& state) {
    Ordavo f(films(state));
    std::mt19937 random(2);
    f.table.current_offset = f.randomOffset(random);
    f.table.readRow(false);
    f.table.updateRow();
    char16_t mark = u'a';
    for (auto _ : state) {
        mark = mark == u'a' ? u'b' : u'a';
        f.table.current().title[0] = mark;
        for (Obsada& row : f.details.cast().rows) {
            row.role[0] = mark;
        }
        for (Ocena& row : f.details.reviews().rows) {
            row.critic_rating[0] = mark;
        }
        benchmark::DoNotOptimize(f.table.updateRow());
    }
}

void BM_SaveFilm_Literal(benchmark::State& state) {
    Ordavo f(films(state));
    std::mt19937 random(2);
    const std::int64_t offset = f.randomOffset(random);
    FilmRecord film = zeroFilmRecord();
    FilmDetailRows rows;
    literalReadFilm(f.database, offset, film, rows);
    for (auto _ : state) {
        literalSaveFilm(f.database, offset, film, rows);
    }
}

void saveFilmSqlite(benchmark::State& state, Durability durability) {
    auto db = mirror(films(state), durability);
    std::mt19937 random(2);
    FilmRecord film = zeroFilmRecord();
    FilmDetailRows rows;
    db->readFilm(randomFilm(random, films(state)), film, rows);
    for (auto _ : state) {
        db->saveFilm(film, rows);
    }
}
void BM_SaveFilm_SqliteFull(benchmark::State& state) {
    saveFilmSqlite(state, Durability::FullRollback);
}
void BM_SaveFilm_SqliteWal(benchmark::State& state) {
    saveFilmSqlite(state, Durability::WalNormal);
}

// ---------------------------------------------------------------- "Nowy": append and count

void BM_NewFilm_Ordavo(benchmark::State& state) {
    Ordavo f(films(state));
    AppendUndo undo(f.database);
    emptyFilmRecord(f.table.current());
    f.table.refreshCounter(f.filter);
    for (auto _ : state) {
        f.table.appendRow(false);
        benchmark::DoNotOptimize(f.table.refreshCounter(f.filter));
    }
}

// Every core step of the window's "Nowy": the counter tells whether the table is empty, the film
// is appended, read back with its (empty) lists, and counted again.
void BM_NewFilmWindowSteps_Ordavo(benchmark::State& state) {
    Ordavo f(films(state));
    AppendUndo undo(f.database);
    f.table.readRow(true);
    for (auto _ : state) {
        emptyFilmRecord(f.table.current());
        const bool empty = f.table.refreshCounter(f.filter);
        f.table.appendRow(empty);
        f.table.readRow(false);
        benchmark::DoNotOptimize(f.table.refreshCounter(f.filter));
    }
}

void BM_NewFilm_Literal(benchmark::State& state) {
    Ordavo f(films(state));
    AppendUndo undo(f.database);
    FilmRecord film = zeroFilmRecord();
    for (auto _ : state) {
        benchmark::DoNotOptimize(literalNewFilm(f.database, film));
    }
}

void newFilmSqlite(benchmark::State& state, Durability durability) {
    auto db = mirror(films(state), durability);
    const std::int32_t last = 1 + films(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(db->newFilm());
    }
    db->deleteFilmsAbove(last);
}
void BM_NewFilm_SqliteFull(benchmark::State& state) {
    newFilmSqlite(state, Durability::FullRollback);
}
void BM_NewFilm_SqliteWal(benchmark::State& state) {
    newFilmSqlite(state, Durability::WalNormal);
}

// ---------------------------------------------------------------- search on the title

void BM_Search_Ordavo(benchmark::State& state) {
    Ordavo f(films(state));
    std::size_t found = 0;
    TableKeeper keeper(f.paths().file(DataFile::Films));
    FilmSearch search(keeper);
    for (auto _ : state) {
        found = search.search(0, kSearchPhrase).size();
    }
    state.counters["matches"] = static_cast<double>(found);
}

void BM_Search_Literal(benchmark::State& state) {
    Ordavo f(films(state));
    std::size_t found = 0;
    for (auto _ : state) {
        found = literalSearchTitle(f.paths(), kSearchPhrase).size();
    }
    state.counters["matches"] = static_cast<double>(found);
}

void BM_Search_Sqlite(benchmark::State& state) {
    auto db = mirror(films(state), Durability::FullRollback);
    std::size_t found = 0;
    for (auto _ : state) {
        found = db->searchTitle(kSearchPhrase).size();
    }
    state.counters["matches"] = static_cast<double>(found);
}

// ---------------------------------------------------------------- whole export

void reportSize(benchmark::State& state, const std::filesystem::path& target) {
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(target)) / 1e6;
    std::filesystem::remove(target);
}

void BM_Export_Ordavo(benchmark::State& state) {
    Ordavo f(films(state));
    const std::filesystem::path target = cacheRoot() / "export-ordavo.csv";
    for (auto _ : state) {
        ExportCsv(f.paths(), target, ExportScope::WholeDatabase, 0, ExportSections{}, "CP1250");
    }
    reportSize(state, target);
}

void BM_Export_Literal(benchmark::State& state) {
    Ordavo f(films(state));
    const std::filesystem::path target = cacheRoot() / "export-literal.csv";
    for (auto _ : state) {
        literalExport(f.paths(), target);
    }
    reportSize(state, target);
}

void BM_Export_Sqlite(benchmark::State& state) {
    auto db = mirror(films(state), Durability::FullRollback);
    const std::filesystem::path target = cacheRoot() / "export-sqlite.csv";
    for (auto _ : state) {
        db->exportCsv(target);
    }
    reportSize(state, target);
}

// ---------------------------------------------------------------- delete a film (last: it
// shrinks the tables the benchmarks above use)

void BM_Delete_Ordavo(benchmark::State& state) {
    Ordavo f(films(state));
    std::mt19937 random(3);
    for (auto _ : state) {
        state.PauseTiming();
        f.table.current_offset = f.randomOffset(random);
        f.table.readRow(false);  // the film shown, as the window holds it
        state.ResumeTiming();
        benchmark::DoNotOptimize(f.table.deleteRow(f.filter));
    }
}

void BM_Delete_Literal(benchmark::State& state) {
    Ordavo f(films(state));
    std::mt19937 random(3);
    for (auto _ : state) {
        state.PauseTiming();
        const std::int64_t offset = f.randomOffset(random);
        state.ResumeTiming();
        literalDeleteFilm(f.database, offset);
    }
}

void deleteFilmSqlite(benchmark::State& state, Durability durability) {
    auto db = mirror(films(state), durability);
    // Films in a random order, each deleted once, also across repetitions: the copy keeps
    // what earlier runs deleted.
    static std::map<std::pair<int, Durability>, std::vector<std::int32_t>> left;
    std::vector<std::int32_t>& ids = left[{films(state), durability}];
    if (ids.empty()) {
        ids.resize(static_cast<std::size_t>(films(state)));
        std::iota(ids.begin(), ids.end(), 2);
        std::shuffle(ids.begin(), ids.end(), std::mt19937(3));
    }
    if (ids.size() < static_cast<std::size_t>(state.max_iterations)) {
        state.SkipWithError("too few films left to delete");
        return;
    }
    for (auto _ : state) {
        db->deleteFilm(ids.back());
        ids.pop_back();
    }
}

void BM_Delete_SqliteFull(benchmark::State& state) {
    deleteFilmSqlite(state, Durability::FullRollback);
}
void BM_Delete_SqliteWal(benchmark::State& state) {
    deleteFilmSqlite(state, Durability::WalNormal);
}

// One copy of the film table by `cp`, with and without flushing it to the device.
void BM_CopyFilmTable_Cp(benchmark::State& state) {
    Ordavo f(films(state));
    copyWithCp(state, f.paths().file(DataFile::Films), false);
}
void BM_CopyFilmTable_CpSync(benchmark::State& state) {
    Ordavo f(films(state));
    copyWithCp(state, f.paths().file(DataFile::Films), true);
}

#define ORDAVO_SIZES ->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Counter_Ordavo) ORDAVO_SIZES;
BENCHMARK(BM_Counter_Literal) ORDAVO_SIZES;
BENCHMARK(BM_Counter_Sqlite) ORDAVO_SIZES;
BENCHMARK(BM_ReadFilm_Ordavo) ORDAVO_SIZES;
BENCHMARK(BM_ReadFilm_Literal) ORDAVO_SIZES;
BENCHMARK(BM_ReadFilm_Sqlite) ORDAVO_SIZES;
BENCHMARK(BM_FirstFilmCold_Ordavo) ORDAVO_SIZES;
BENCHMARK(BM_SaveFilm_Ordavo) ORDAVO_SIZES;
BENCHMARK(BM_SaveFilm_Literal) ORDAVO_SIZES->Iterations(2);
BENCHMARK(BM_SaveFilm_SqliteFull) ORDAVO_SIZES;
BENCHMARK(BM_SaveFilm_SqliteWal) ORDAVO_SIZES;
BENCHMARK(BM_NewFilm_Ordavo) ORDAVO_SIZES;
BENCHMARK(BM_NewFilmWindowSteps_Ordavo) ORDAVO_SIZES;
BENCHMARK(BM_NewFilm_Literal) ORDAVO_SIZES;
BENCHMARK(BM_NewFilm_SqliteFull) ORDAVO_SIZES;
BENCHMARK(BM_NewFilm_SqliteWal) ORDAVO_SIZES;
BENCHMARK(BM_Search_Ordavo) ORDAVO_SIZES;
BENCHMARK(BM_Search_Literal) ORDAVO_SIZES;
BENCHMARK(BM_Search_Sqlite) ORDAVO_SIZES;
BENCHMARK(BM_Export_Ordavo) ORDAVO_SIZES;
BENCHMARK(BM_Export_Literal) ORDAVO_SIZES->Iterations(3);
BENCHMARK(BM_Export_Sqlite) ORDAVO_SIZES;
BENCHMARK(BM_Delete_Ordavo) ORDAVO_SIZES->Iterations(5);
BENCHMARK(BM_Delete_Literal) ORDAVO_SIZES->Iterations(3);
BENCHMARK(BM_Delete_SqliteFull) ORDAVO_SIZES->Iterations(50);
BENCHMARK(BM_Delete_SqliteWal) ORDAVO_SIZES->Iterations(500);
BENCHMARK(BM_CopyFilmTable_Cp) ORDAVO_SIZES->Iterations(5);
BENCHMARK(BM_CopyFilmTable_CpSync) ORDAVO_SIZES->Iterations(5);

}  // namespace
}  // namespace ordavo::bench

BENCHMARK_MAIN();
