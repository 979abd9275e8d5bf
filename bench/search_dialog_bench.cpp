// Browsing the search dialog's field list with the arrow key at 20,000 films whose every text
// field is full: how long each field change holds the window's thread, and the memory the
// search keeps once the dialog is closed.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ui_support/ui_service.h"
#include "bench_support.h"
#include "database_generator.h"
#include "search/film_search.h"
#include "search/ui/wyszukiwarka.h"
#include "silent_ui.h"
#include "storage/database_paths.h"

namespace ordavo::bench {
namespace {

// The process's resident memory in MiB.
double residentMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void BM_FieldListBrowsedWithTheArrowKey(benchmark::State& state) {
    const DatabasePaths paths =
        buildPaths(cachedDatabase(cacheRoot(), static_cast<int>(state.range(0)), true));
    const auto pause = std::chrono::milliseconds(state.range(1));
    SilentUi ui;
    TableKeeper keeper(paths.file(DataFile::Films));
    FilmSearch search(keeper);
    for (auto _ : state) {
        const double before = residentMiB();
        double longest_change = 0;
        double longest_event_round = 0;
        double closing = 0;
        auto start_closing = std::chrono::steady_clock::now();
        {
            Wyszukiwarka dialog(search, ui, nullptr);
            dialog.show();
            auto* fields = dialog.findChild<QComboBox*>("fieldCombo");
            fields->setFocus();
            for (std::size_t field = 0; field < kSearchFieldCount; ++field) {
                auto start = std::chrono::steady_clock::now();
                fields->setCurrentIndex(static_cast<int>(field));
                longest_change = std::max(longest_change, msSince(start));
                // The user's pause between two key presses; the window handles its events.
                const auto until = std::chrono::steady_clock::now() + pause;
                while (std::chrono::steady_clock::now() < until) {
                    start = std::chrono::steady_clock::now();
                    QApplication::processEvents(QEventLoop::AllEvents, 5);
                    longest_event_round = std::max(longest_event_round, msSince(start));
                }
            }
            QTest::qWait(2000);  // the last field's read ahead, as the user looks at the list
            start_closing = std::chrono::steady_clock::now();
            dialog.reject();
            QApplication::processEvents();
        }
        closing = msSince(start_closing);
        state.counters["longest_change_ms"] = longest_change;
        state.counters["longest_event_round_ms"] = longest_event_round;
        state.counters["close_ms"] = closing;
        state.counters["rss_before_MiB"] = before;
        state.counters["rss_after_MiB"] = residentMiB();
        state.counters["kept_MiB"] = static_cast<double>(search.keptUnits()) * 2 / 1048576.0;
    }
}
BENCHMARK(BM_FieldListBrowsedWithTheArrowKey)
    ->Args({20000, 30})
    ->Args({20000, 200})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

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
