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
#include "app/qt_text.h"
#include "bench_support.h"
#include "storage/film_record.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"

namespace ordavo::bench {
namespace {

class SilentUi : public UiService {
public:
    void showMessage(QWidget*, const QString&, const QString&) override {}
    QString chooseFile(QWidget*, const QString&, const QStringList&) override { return {}; }
    QString chooseSaveFile(QWidget*, const QString&, const QStringList&) override { return {}; }
    QString chooseFolder(QWidget*, const QString&) override { return {}; }
};

// Gives every film of the scratch database a front and a back cover of 3000 x 4000 pixels.
void attachLargeCovers(const std::filesystem::path& folder) {
    const std::filesystem::path marker = folder / "covers" / "attached";
    if (std::filesystem::exists(marker)) {
        return;
    }
    for (const char* name : {"front.jpg", "back.jpg"}) {
        QImage image(3000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                line[x] = qRgb(x * 255 / 3000, y * 255 / 4000, (x ^ y) & 0xFF);
            }
        }
        image.save(pathToQString(folder / "covers" / name), "JPEG", 85);
    }
    PosixFile films(folder / "KR_PDB.kr", PosixFile::Mode::ReadWrite);
    FilmRecord row{};
    storeText(row.front_cover_path, toU16(pathToQString(folder / "covers" / "front.jpg")));
    storeText(row.back_cover_path, toU16(pathToQString(folder / "covers" / "back.jpg")));
    const std::uint64_t length = films.size();
    for (std::uint64_t offset = 0; offset < length; offset += kFilmRowSize) {
        films.writeAt(row.front_cover_path, 2 * sizeof row.front_cover_path * 1,
                      offset + offsetof(FilmRecord, front_cover_path));
    }
    PosixFile(marker, PosixFile::Mode::CreateTruncate);
}

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
