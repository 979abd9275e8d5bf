// The film list at 50,000 films: opening it, sorting, a keystroke in the quick filter, a save
// followed by the list, and the memory it keeps. Offscreen.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "bench_support.h"
#include "film_list/film_overview.h"
#include "film_list/overview_order.h"
#include "film_list/ui/film_list_model.h"
#include "film_list/ui/film_list_panel.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/message_sink.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "tabs/detail_rows.h"

namespace ordavo::bench {
namespace {

constexpr int kFilms = 50000;

class QuietSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

// The generated database, with a loan for every tenth film, every other one not yet returned.
std::filesystem::path databaseWithLoans() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path scratch = scratchDatabase(kFilms);
        std::vector<unsigned char> bytes;
        for (std::int32_t film = 2; film < kFilms + 2; film += 10) {
            Wypozycz_Innym row{};
            row.ID = film;
            row.IDPDB = film;
            storeText(row.person, u"Małgorzata Żółkiewska");
            storeText(row.loan_date, u"2026-11-30");
            if (film % 20 == 2) {
                storeText(row.return_date, u"2026-12-05");
            }
            const auto* raw = reinterpret_cast<const unsigned char*>(&row);
            bytes.insert(bytes.end(), raw, raw + sizeof row);
        }
        PosixFile loans(buildPaths(scratch).file(DataFile::LoansTo), PosixFile::Mode::ReadWrite);
        loans.truncate(0);
        loans.writeAt(bytes.data(), bytes.size(), 0);
        return scratch;
    }();
    return folder;
}

struct Opened {
    QuietSink sink;
    Database database{buildPaths(databaseWithLoans()), sink};
    NullHandover pages;
    FilmTable table{database, pages};
    FilmOverview overview{database.keeper(DataFile::Films), database.keeper(DataFile::LoansTo)};

    void scan() {
        overview.install(
            scanOverview(database.keeper(DataFile::Films), database.keeper(DataFile::LoansTo)));
    }
};

// "Lista filmów" to the list drawn: a new list reads both tables on its thread while the window
// goes on; the longest the window's thread waited between two 5 ms ticks meanwhile is reported.
void listDrawn(benchmark::State& state, bool fresh_database) {
    auto kept = std::make_unique<Opened>();
    double longest_gap_ms = 0;
    for (auto _ : state) {
        std::unique_ptr<Opened> opened = fresh_database ? std::make_unique<Opened>() : nullptr;
        Database& database = opened ? opened->database : kept->database;
        FilmListPanel panel(database.keeper(DataFile::Films), database.keeper(DataFile::LoansTo),
                            nullptr);
        panel.resize(900, 700);
        QElapsedTimer tick;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longest_gap_ms = std::max(longest_gap_ms, tick.nsecsElapsed() / 1e6);
            tick.restart();
        });
        tick.start();
        ticker.start();
        panel.show();
        while (panel.scanning() || panel.model().rowCount() != kFilms) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        panel.view().repaint();
        ticker.stop();
    }
    state.counters["longest_wait_ms"] = longest_gap_ms;
}

void BM_ListDrawn_PageCacheWarm(benchmark::State& state) {
    listDrawn(state, false);
}

void BM_ListDrawn_RightAfterStartUp(benchmark::State& state) {
    listDrawn(state, true);
}

// The read of both tables alone, on the calling thread.
void BM_ScanTables(benchmark::State& state) {
    Opened opened;
    for (auto _ : state) {
        benchmark::DoNotOptimize(scanOverview(opened.database.keeper(DataFile::Films),
                                              opened.database.keeper(DataFile::LoansTo)));
    }
}

// Taking a scan in and making the shown rows (folded texts included), on the window's thread.
void BM_InstallAndArrange(benchmark::State& state) {
    Opened opened;
    for (auto _ : state) {
        state.PauseTiming();
        auto scan = scanOverview(opened.database.keeper(DataFile::Films),
                                 opened.database.keeper(DataFile::LoansTo));
        state.ResumeTiming();
        opened.overview.install(std::move(scan));
        OverviewOrder order;
        benchmark::DoNotOptimize(order.update(opened.overview).size());
    }
}

// The first sort by "Tytuł" of an opened list: its collation keys are made, then sorted.
void BM_SortByTitle(benchmark::State& state) {
    Opened opened;
    opened.scan();
    for (auto _ : state) {
        OverviewOrder order;
        order.update(opened.overview);
        order.sortBy(OverviewColumn::Title);
        benchmark::DoNotOptimize(order.update(opened.overview).size());
    }
}

// One keystroke in the quick filter, to the model that the view redraws from.
void BM_FilterKeystroke(benchmark::State& state) {
    Opened opened;
    opened.scan();
    FilmListModel model(opened.overview);
    model.order().sortBy(OverviewColumn::Title);
    model.refresh();
    QTableView view;
    view.setModel(&model);
    view.resize(900, 700);
    view.show();
    bool longer = false;
    for (auto _ : state) {
        longer = !longer;
        model.order().setQuery(longer ? u"zolk" : u"zol");
        model.refresh();
        view.repaint();
    }
    state.counters["shown"] = model.rowCount();
}

// "Zapisz" of a film (durable), with and without the list following it, sorted by title.
void saveFilm(benchmark::State& state, bool with_list) {
    Opened opened;
    opened.scan();
    FilmListModel model(opened.overview);
    model.order().sortBy(OverviewColumn::Title);
    model.refresh();
    opened.table.current_offset = 123 * static_cast<std::int64_t>(kFilmRowSize);
    opened.table.readRow(false);
    char16_t mark = u'a';
    for (auto _ : state) {
        mark = mark == u'z' ? u'a' : static_cast<char16_t>(mark + 1);
        storeText(opened.table.current().title, std::u16string(u"Tytuł ") + mark);
        opened.table.updateRow();
        if (with_list) {
            model.refresh();
        }
    }
}

void BM_Save_WithoutList(benchmark::State& state) {
    saveFilm(state, false);
}
void BM_Save_WithListFollowing(benchmark::State& state) {
    saveFilm(state, true);
}

// What the list keeps: the overview's rows and loans, and the order's folded texts and title
// keys.
void BM_MemoryKept(benchmark::State& state) {
    for (auto _ : state) {
        ::malloc_trim(0);
        const std::size_t before = ::mallinfo2().uordblks;
        auto opened = std::make_unique<Opened>();
        opened->scan();
        OverviewOrder order;
        order.sortBy(OverviewColumn::Title);
        order.update(opened->overview);
        state.counters["kept_MB"] = static_cast<double>(::mallinfo2().uordblks - before) / 1e6;
    }
}

BENCHMARK(BM_ListDrawn_PageCacheWarm)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ListDrawn_RightAfterStartUp)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ScanTables)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_InstallAndArrange)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SortByTitle)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save_WithoutList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save_WithListFollowing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryKept)->Unit(benchmark::kMillisecond)->Iterations(1);

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
