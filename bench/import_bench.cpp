// The CSV import of a whole export of the generated database (10 cast rows and 2 reviews per
// film): restored into an empty folder, and appended (lookalikes kept) to a database holding the
// same films; each beside `cp` + `sync` of the files the import leaves, and the peak memory of an
// import in a process of its own at two sizes.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "bench_support.h"
#include "database_generator.h"
#include "export/csv_export.h"
#include "import/csv_import.h"
#include "storage/database.h"
#include "storage/message_sink.h"
#include "storage/posix_file.h"

namespace ordavo::bench {
namespace {

namespace fs = std::filesystem;

class QuietSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

// The whole export of the generated database of `films` films, made once.
fs::path exportOf(int films) {
    static std::map<int, fs::path> made;
    if (auto it = made.find(films); it != made.end()) {
        return it->second;
    }
    const fs::path source = cachedDatabase(cacheRoot() / "cache", films);
    const fs::path file = cacheRoot() / ("import-" + std::to_string(films) + ".csv");
    ExportCsv(buildPaths(source), file, ExportScope::WholeDatabase, 0, ExportSections{}, "UTF-8");
    made[films] = file;
    return file;
}

void importInto(const fs::path& folder, const fs::path& file, const ImportOptions& options) {
    QuietSink sink;
    Database database(buildPaths(folder), sink);
    if (database.checkFileSet() == DatabaseState::Absent) {
        database.createMissing(true);
    }
    const ImportSummary analysed = analyseImport(database.paths(), file, options);
    bool completed = false;
    runImport(
        database, file, options, analysed, [](std::uint64_t, std::uint64_t) { return true; },
        completed);
}

void run(const std::string& command, benchmark::State& state) {
    if (std::system(command.c_str()) != 0) {
        state.SkipWithError(command.c_str());
    }
}

// A copy of the generated database, to append to.
void copyDatabase(int films, const fs::path& target, benchmark::State& state) {
    fs::remove_all(target);
    run("cp -r '" + cachedDatabase(cacheRoot() / "cache", films).string() + "' '" +
            target.string() + "' && sync",
        state);
}

void BM_ImportRestore(benchmark::State& state) {
    const int films = static_cast<int>(state.range(0));
    const fs::path file = exportOf(films);
    const fs::path target = cacheRoot() / "import-restored";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(target);
        run("sync", state);
        state.ResumeTiming();
        importInto(target, file, {});
    }
    state.counters["file_MB"] = static_cast<double>(fs::file_size(file)) / 1e6;
}

void BM_ImportAppendKeepingLookalikes(benchmark::State& state) {
    const int films = static_cast<int>(state.range(0));
    const fs::path file = exportOf(films);
    const fs::path target = cacheRoot() / "import-appended";
    ImportOptions options;
    options.duplicates = DuplicateFilms::Keep;
    for (auto _ : state) {
        state.PauseTiming();
        copyDatabase(films, target, state);
        state.ResumeTiming();
        importInto(target, file, options);
    }
}

// `cp` + `sync` of what an import left in `folder`: the yardstick.
void copyResult(benchmark::State& state, const fs::path& folder) {
    const fs::path copy = cacheRoot() / "import-cp";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(copy);
        run("sync", state);
        state.ResumeTiming();
        run("cp -r '" + folder.string() + "' '" + copy.string() + "' && sync", state);
    }
    fs::remove_all(copy);
}

void BM_CpSyncOfTheRestoredFiles(benchmark::State& state) {
    copyResult(state, cacheRoot() / "import-restored");
}

void BM_CpSyncOfTheAppendedFiles(benchmark::State& state) {
    copyResult(state, cacheRoot() / "import-appended");
}

// The peak resident memory of a process that restores the export of `films` films.
void BM_ImportPeakMemory(benchmark::State& state) {
    const int films = static_cast<int>(state.range(0));
    const fs::path file = exportOf(films);
    const fs::path target = cacheRoot() / "import-memory";
    long peak_kb = 0;
    for (auto _ : state) {
        fs::remove_all(target);
        const pid_t child = ::fork();
        if (child == 0) {
            importInto(target, file, {});
            ::_exit(0);
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        peak_kb = usage.ru_maxrss;
    }
    fs::remove_all(target);
    state.counters["peak_RSS_MB"] = static_cast<double>(peak_kb) / 1024.0;
    state.counters["file_MB"] = static_cast<double>(fs::file_size(file)) / 1e6;
}

BENCHMARK(BM_ImportRestore)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CpSyncOfTheRestoredFiles)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportAppendKeepingLookalikes)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_CpSyncOfTheAppendedFiles)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportPeakMemory)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace ordavo::bench

BENCHMARK_MAIN();
