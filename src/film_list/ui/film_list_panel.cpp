#include "film_list/ui/film_list_panel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

#include "film_list/ui/film_list_model.h"
#include "storage/file_error.h"
#include "ui_support/qt_text.h"

namespace ordavo {

namespace {

// How often the list looks whether another program changed the tables, while it is shown.
constexpr int kWatchMs = 2000;

// The starting widths of the columns, in average characters.
constexpr int kColumnChars[kOverviewColumnCount] = {6, 28, 24, 12, 8, 20, 10, 7, 24};

}  // namespace

FilmListPanel::FilmListPanel(TableKeeper& films, TableKeeper& loans, QWidget* parent)
    : QWidget(parent),
      m_films(films),
      m_loans(loans),
      m_overview(films, loans),
      m_model(new FilmListModel(m_overview, this)) {
    setObjectName(QStringLiteral("filmList"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);

    auto* filters = new QHBoxLayout;
    m_query = new QLineEdit(this);
    m_query->setObjectName(QStringLiteral("filmListQuery"));
    m_query->setPlaceholderText(QStringLiteral("Szukaj w liście"));
    m_query->setClearButtonEnabled(true);
    m_onlyLent = new QCheckBox(QStringLiteral("Tylko wypożyczone"), this);
    m_onlyLent->setObjectName(QStringLiteral("filmListOnlyLent"));
    filters->addWidget(m_query, 1);
    filters->addWidget(m_onlyLent);
    layout->addLayout(filters);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("filmListProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setFormat(QStringLiteral("Wczytywanie listy: %p%"));
    m_progress->hide();
    layout->addWidget(m_progress);

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("filmListView"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setAlternatingRowColors(true);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    QHeaderView* header = m_view->horizontalHeader();
    header->setSortIndicatorClearable(true);  // a third click gives back the table's order
    header->setSortIndicator(-1, Qt::AscendingOrder);
    m_view->setSortingEnabled(true);
    const int average = m_view->fontMetrics().averageCharWidth();
    for (std::size_t column = 0; column < kOverviewColumnCount; ++column) {
        // Wide enough for the header and its sort arrow.
        const QString label =
            m_model->headerData(static_cast<int>(column), Qt::Horizontal).toString();
        const int header_width = header->fontMetrics().horizontalAdvance(label) + 28;
        m_view->setColumnWidth(static_cast<int>(column),
                               std::max(kColumnChars[column] * average + 12, header_width));
    }
    layout->addWidget(m_view, 1);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("filmListCount"));
    layout->addWidget(m_count);

    connect(m_query, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_model->order().setQuery(toU16(text));
        refresh();
    });
    connect(m_onlyLent, &QCheckBox::toggled, this, [this](bool only_lent) {
        m_model->order().setOnlyLent(only_lent);
        refresh();
    });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { chooseCurrent(); });
    connect(m_view, &QTableView::activated, this, [this] { chooseCurrent(); });

    m_overview.setChanged([this] {
        if (!m_refreshQueued) {
            m_refreshQueued = true;
            QMetaObject::invokeMethod(
                this, [this] { refresh(); }, Qt::QueuedConnection);
        }
    });
    m_watch = new QTimer(this);
    m_watch->setInterval(kWatchMs);
    connect(m_watch, &QTimer::timeout, this, [this] { checkFiles(); });
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(50);
    connect(m_progressTimer, &QTimer::timeout, this,
            [this] { m_progress->setValue(m_permille.load()); });
}

FilmListPanel::~FilmListPanel() {
    stopScan();
}

void FilmListPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_watch->start();
    checkFiles();
    refresh();
}

void FilmListPanel::showing(std::int64_t offset, std::optional<std::vector<std::int64_t>> matches) {
    m_shownOffset = offset;
    if (m_films.path() != m_scannedFilms) {
        // Another database: nothing of the previous one may stay listed or be chosen.
        stopScan();
        m_overview.clear();
        m_scannedFilms = m_films.path();
        m_refreshQueued = false;
        refresh();
    }
    m_model->order().restrictTo(std::move(matches));
    refresh();
    checkFiles();
}

void FilmListPanel::checkFiles() {
    if (!isVisible() || scanning()) {
        return;
    }
    try {
        if (!m_overview.upToDate()) {
            startScan();
        }
    } catch (const FileError& error) {
        // Said in the list itself: the window tells of the files' troubles when it uses them.
        m_count->setText(utf8ToQString(error.what()));
    }
}

void FilmListPanel::startScan() {
    if (m_films.path() != m_scannedFilms) {
        // Another database: nothing of the previous one stays listed while this one is read.
        m_overview.clear();
        m_marking = true;
        m_model->refresh();
        m_marking = false;
    }
    m_cancel = false;
    m_permille = 0;
    m_progress->setValue(0);
    m_progress->show();
    m_progressTimer->start();
    m_scanned.reset();
    m_scanError = nullptr;
    m_scannedFilms = m_films.path();
    const std::uint64_t generation = ++m_generation;
    m_scan = std::thread([this, generation] {
        try {
            m_scanned = scanOverview(m_films, m_loans, &m_cancel, [this](double share) {
                m_permille = static_cast<int>(share * 1000);
            });
        } catch (...) {
            m_scanError = std::current_exception();
        }
        QMetaObject::invokeMethod(
            this, [this, generation] { scanEnded(generation); }, Qt::QueuedConnection);
    });
}

void FilmListPanel::stopScan() {
    if (m_scan.joinable()) {
        m_cancel = true;
        m_scan.join();
    }
    m_progressTimer->stop();
    m_progress->hide();
}

void FilmListPanel::scanEnded(std::uint64_t generation) {
    if (generation != m_generation || !m_scan.joinable()) {
        return;  // stopped meanwhile: what it read is of no use
    }
    m_scan.join();
    m_progressTimer->stop();
    m_progress->hide();
    if (m_scanError) {
        try {
            std::rethrow_exception(std::exchange(m_scanError, nullptr));
        } catch (const std::exception& error) {
            // A file error or memory short: said in the list, which stays as it was.
            m_count->setText(utf8ToQString(error.what()));
            return;
        }
    }
    if (!m_scanned || m_scannedFilms != m_films.path()) {
        return;
    }
    bool installed = false;
    try {
        installed = m_overview.install(std::move(m_scanned));
    } catch (const std::exception& error) {
        m_count->setText(utf8ToQString(error.what()));  // a table gone meanwhile
        return;
    }
    if (!installed) {
        startScan();  // a table changed while it was read
        return;
    }
    refresh();
}

void FilmListPanel::refresh() {
    m_refreshQueued = false;
    if (m_overview.stale() && isVisible() && !scanning()) {
        checkFiles();
    }
    m_marking = true;
    m_model->refresh();
    m_marking = false;
    markShown();
    m_count->setText(QStringLiteral("Pokazano %1 z %2 filmów")
                         .arg(m_model->rowCount())
                         .arg(m_overview.rows().size()));
}

void FilmListPanel::markShown() {
    const int row = m_model->rowOf(m_shownOffset);
    m_marking = true;
    if (row < 0) {
        m_view->selectionModel()->clearCurrentIndex();
        m_view->clearSelection();
    } else {
        const int column = std::max(m_view->currentIndex().column(), 0);
        const QModelIndex index = m_model->index(row, column);
        m_view->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_view->scrollTo(index);
    }
    m_marking = false;
}

void FilmListPanel::chooseCurrent() {
    const QModelIndex current = m_view->currentIndex();
    if (m_marking || !current.isValid() || m_overview.stale()) {
        return;
    }
    const std::int64_t offset = m_model->offsetAt(current.row());
    if (offset != m_shownOffset) {
        emit filmChosen(offset, m_model->idAt(current.row()));
        // A click selects the row under the pointer once this returns, whatever the window
        // showed meanwhile ("Anuluj" keeps the film): the mark goes back to the film shown.
        QMetaObject::invokeMethod(
            this, [this] { markShown(); }, Qt::QueuedConnection);
    }
}

}  // namespace ordavo
