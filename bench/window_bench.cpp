// The ">" click to a fully shown film in the main window, offscreen: 10,000 films, each with
// 10 cast rows, 2 reviews and two 3000 x 4000 JPEG covers.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "app/ckinokrat_dlg.h"
#include "ui_support/qt_text.h"
#include "bench_support.h"
#include "large_covers.h"
#include "silent_ui.h"
#include "storage/film_record.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"

namespace ordavo::bench {
namespace {

void BM_NextFilmShown(benchmark::State& state) {
    const std::filesystem::path folder = scratchDatabase(static_cast<int>(state.range(0)));
    attachLargeCovers(folder);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.parent_path());
    SilentUi ui;
    CKinokratDlg dialog(ui);
    std::filesystem::current_path(previous);
    dialog.show();
    QTest::qWait(50);
    dialog.database().setPaths(buildPaths(folder));
    auto* next = dialog.findChild<QPushButton*>("nextButton");
    for (auto _ : state) {
        QTest::mouseClick(next, Qt::LeftButton);
        dialog.repaint();
    }
}
BENCHMARK(BM_NextFilmShown)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

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
