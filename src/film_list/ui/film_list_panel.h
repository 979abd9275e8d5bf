#pragma once

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "film_list/film_overview.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTableView;
class QTimer;

namespace ordavo {

class FilmListModel;

// "Lista filmów": every film of the open database in a table beside the form, with a quick
// filter, "Tylko wypożyczone" and sorting by any column. It reads the tables on a thread of its
// own when they changed (the window stays live, a bar shows how far it got) and follows the
// program's own writes at once. Choosing a film (click, arrow keys, Enter) asks the window to
// show it; the window tells it which film it shows.
class FilmListPanel final : public QWidget {
    Q_OBJECT
public:
    FilmListPanel(TableKeeper& films, TableKeeper& loans, QWidget* parent);
    ~FilmListPanel() override;

    // The film the window shows now (its row offset), and filter mode's matches (nullopt
    // outside filter mode): the list marks the one and keeps only the others.
    void showing(std::int64_t offset, std::optional<std::vector<std::int64_t>> matches);
    // Looks whether another program changed the tables; reads them again when it did.
    void checkFiles();

    FilmListModel& model() { return *m_model; }
    QTableView& view() { return *m_view; }
    // Whether the tables are being read (for tests).
    bool scanning() const { return m_scan.joinable(); }

signals:
    // The user chose the film at table offset `offset`, which carried id `id` when listed.
    void filmChosen(std::int64_t offset, std::int32_t id);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startScan();
    void stopScan();
    void scanEnded(std::uint64_t generation);
    void refresh();
    void markShown();
    void chooseCurrent();

    TableKeeper& m_films;
    TableKeeper& m_loans;
    FilmOverview m_overview;
    FilmListModel* m_model = nullptr;
    QLineEdit* m_query = nullptr;
    QCheckBox* m_onlyLent = nullptr;
    QTableView* m_view = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_count = nullptr;
    QTimer* m_watch = nullptr;
    QTimer* m_progressTimer = nullptr;

    std::thread m_scan;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_permille{0};
    std::uint64_t m_generation = 0;           // of the scan running or last started
    std::unique_ptr<OverviewScan> m_scanned;  // handed over by the thread
    std::exception_ptr m_scanError;           // likewise
    std::filesystem::path m_scannedFilms;     // the database the rows come from
    bool m_refreshQueued = false;
    bool m_marking = false;  // the selection moves to the shown film
    std::int64_t m_shownOffset = -1;
};

}  // namespace ordavo
