// Start-up of the main window on a database of 10,000 films (10 cast rows and 2 reviews each),
// offscreen: from creating the window until the first film is painted. Measured without covers
// and with two 3000 x 4000 JPEG covers on every film. The window reads the database from
// "default_db" in the working folder, so the benchmark starts it in a folder whose "default_db"
// is a link to the private copy of the generated database. Every iteration starts with nothing
// known about the files (a new window), but with the files in the page cache.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <cstdlib>
#include <memory>

#include "app/ckinokrat_dlg.h"
#include "bench_support.h"
#include "large_covers.h"
#include "silent_ui.h"

namespace ordavo::bench {
namespace {

// A working folder whose "default_db" leads to `database`.
std::filesystem::path startFolder(const std::filesystem::path& database, int films) {
    const std::filesystem::path folder = cacheRoot() / ("start-" + std::to_string(films));
    std::filesystem::create_directories(folder);
    const std::filesystem::path link = folder / "default_db";
    std::filesystem::remove(link);
    std::filesystem::create_directory_symlink(database, link);
    return folder;
}

void startUp(benchmark::State& state, bool covers) {
    const int films = static_cast<int>(state.range(0));
    const std::filesystem::path database = scratchDatabase(films);
    if (covers) {
        attachLargeCovers(database);
    }
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(startFolder(database, films));
    ::sync();
    SilentUi ui;
    for (auto _ : state) {
        auto window = std::make_unique<CKinokratDlg>(ui);
        window->show();
        window->repaint();
        state.PauseTiming();
        if (window->findChild<QLineEdit*>("idEdit")->text() != QStringLiteral("2")) {
            state.SkipWithError("the first film was not shown");
        }
        window.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    std::filesystem::current_path(previous);
}

void BM_StartUpToFirstFilm(benchmark::State& state) {
    startUp(state, false);
}
void BM_StartUpToFirstFilmWithCovers(benchmark::State& state) {
    startUp(state, true);
}
BENCHMARK(BM_StartUpToFirstFilm)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_StartUpToFirstFilmWithCovers)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace ordavo::bench

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
