#include "app/ckinokrat_dlg.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <future>

#include "app/cover_view.h"
#include "app/o_programie.h"
#include "export/ui/eksport_wizard.h"
#include "film_list/ui/film_list_panel.h"
#include "search/filter_paging.h"
#include "search/ui/wyszukiwarka.h"
#include "storage/cover_files.h"
#include "storage/database_lock.h"
#include "storage/file_error.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "tabs/ui/tab_pages.h"
#include "ui_support/qt_text.h"

namespace ordavo {

namespace {

constexpr std::int64_t kRow = static_cast<std::int64_t>(kFilmRowSize);

// Shows a busy cursor while long work runs on the window's thread.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
};

}  // namespace

CKinokratDlg::CKinokratDlg(UiService& ui, QWidget* parent)
    : QDialog(parent),
      m_rawUi(ui),
      m_storingUi(std::make_unique<StoringUi>(ui, m_rules)),
      m_ui(*m_storingUi),
      m_sink(m_rawUi, this),
      m_database(DatabasePaths{}, m_sink),
      m_details(m_database),
      m_table(m_database, m_details) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Ordavo"));
    setWindowIcon(QIcon(QStringLiteral(":/ordavo/app_icon.png")));
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    m_form.setEditedHandler([this] { m_formEdited = true; });
    buildWindow();
    startUp();
}

CKinokratDlg::~CKinokratDlg() {
    // The pages' lists observe the detail tables, and the film list the database's keepers: they
    // go before m_details and m_database do.
    delete m_tabs;
    delete m_filmList;
    m_filmList = nullptr;
}

// ---------------------------------------------------------------- form operations

void CKinokratDlg::showFilm() {
    const FilmRecord& film = m_table.current();
    // Large scans are most of the time a film takes to show: the two covers decode side by side
    // on other threads while the form is filled.
    const QString front = toQString(readText(film.front_cover_path));
    const QString back = toQString(readText(film.back_cover_path));
    const auto decode = [](const QString& path, QSize size) {
        return std::async(path.isEmpty() ? std::launch::deferred : std::launch::async,
                          &CoverView::decodeImage, path, size);
    };
    std::future<QImage> front_image = decode(front, m_frontCover->decodeSize());
    std::future<QImage> back_image = decode(back, m_backCover->decodeSize());
    m_idEdit->setText(QString::number(film.id));
    m_form.show(film);
    m_backCover->showDecoded(back, back_image.get());
    m_frontCover->showDecoded(front, front_image.get());
    m_formEdited = false;
}

void CKinokratDlg::readForm() {
    m_form.read(m_table.current());
}

void CKinokratDlg::clearForm(bool empty_buffer) {
    m_idEdit->clear();
    m_form.clear();
    for (DetailList list : kLoadOrder) {
        m_details.clearList(list);
    }
    if (empty_buffer) {
        m_table.emptyCurrent();
    }
    m_formEdited = false;
}

void CKinokratDlg::loadFilm(bool from_start) {
    // The form shows the buffer whether or not the read took place.
    struct ShowAfter {
        CKinokratDlg* dialog;
        ~ShowAfter() { dialog->showFilm(); }
    } show_after{this};
    m_table.readRow(from_start);
}

void CKinokratDlg::disableRowControls() {
    setRowControlsEnabled(false);
}

void CKinokratDlg::enableRowControls() {
    setRowControlsEnabled(true);
}

void CKinokratDlg::setRowControlsEnabled(bool enabled) {
    m_rowControlsWanted = enabled;
    const bool shown = enabled && m_access == DatabaseAccess::Writable;
    // In the order of the row-control table: the cover buttons, then the list pages.
    for (QPushButton* button : m_coverButtons) {
        button->setEnabled(shown);
    }
    for (TabPage* page :
         {static_cast<TabPage*>(m_ratingPage), static_cast<TabPage*>(m_castPage),
          static_cast<TabPage*>(m_loansPage), static_cast<TabPage*>(m_productionPage),
          static_cast<TabPage*>(m_infoPage)}) {
        page->setRowControlsEnabled(shown);
    }
}

bool CKinokratDlg::refreshCounter() {
    const bool empty = m_table.refreshCounter(m_filter);
    m_positionEdit->setText(QString::number(m_table.counter().position));
    m_countEdit->setText(QString::number(m_table.counter().count));
    syncFilmList();
    return empty;
}

std::vector<TabPage*> CKinokratDlg::listPages() const {
    return {m_ratingPage, m_castPage, m_productionPage, m_infoPage, m_loansPage};
}

// ---------------------------------------------------------------- storing the shown film

bool CKinokratDlg::canStore() const {
    return !m_startupFailed && !m_closing && m_access == DatabaseAccess::Writable;
}

bool CKinokratDlg::hasUnstoredChanges() const {
    if (m_formEdited || m_details.hasUnsavedChanges()) {
        return true;
    }
    for (TabPage* page : listPages()) {
        if (page->hasOpenRowChanges()) {
            return true;
        }
    }
    return false;
}

bool CKinokratDlg::storeShownFilm(bool as_new_when_empty) {
    readForm();
    if (m_table.holdsRow()) {
        // Over the row it was read from, whatever its id; only "Nowy" appends.
        if (!m_table.updateRow()) {
            writeRefused();
            return false;
        }
        clearForm(false);
        loadFilm(false);
        return true;
    }
    if (!as_new_when_empty && !m_formEdited) {
        return true;  // nothing held and nothing typed: nothing to store
    }
    // No film is held: what the form shows becomes a new film rather than a row with id 0.
    if (m_filter.filter_mode) {
        refuse(kNewInFilterModeMessage);
        return false;
    }
    return appendShownFilm();
}

void CKinokratDlg::storeAsDeactivation() {
    guarded([this] {
        if (refreshCounter() && !m_table.holdsRow()) {
            disableRowControls();  // an empty table: typed text waits for "Zapisz" or closing
            return;
        }
        storeShownFilm(false);
    });
}

bool CKinokratDlg::storeEverything() {
    bool stored = false;
    guarded([&] {
        for (TabPage* page : listPages()) {
            page->confirmOpenRows();
        }
        stored = storeShownFilm(false);
    });
    return stored;
}

StoreAnswer CKinokratDlg::askToStore() {
    QString title = m_form.text("title");
    if (title.isEmpty()) {
        title = QStringLiteral("bez tytułu");
    }
    switch (m_rawUi.ask(this, QStringLiteral("Zapisać zmiany w filmie „%1”?").arg(title),
                        QStringLiteral("Kinokrat"))) {
        case Answer::Yes:
            return StoreAnswer::Store;
        case Answer::No:
            return StoreAnswer::Drop;
        case Answer::Cancel:
            return StoreAnswer::Stay;
    }
    return StoreAnswer::Stay;
}

void CKinokratDlg::refuse(std::string_view text) {
    m_ui.showMessage(this, utf8ToQString(text), utf8ToQString(kAppTitle));
}

// ---------------------------------------------------------------- commands

bool CKinokratDlg::guarded(const std::function<void()>& command) {
    const LeaveRules::Command running(m_rules);
    // The message goes straight to the dialogs: storing first would most often fail the same
    // way again.
    return runCommand(m_rawUi, this, command);
}

void CKinokratDlg::page(Paging step) {
    guarded([&] {
        if (m_filter.filter_mode) {
            static constexpr FilterStep kSteps[] = {FilterStep::First, FilterStep::Previous,
                                                    FilterStep::Next, FilterStep::Last};
            FilterState moved = m_filter;
            if (!stepFilter(moved, kSteps[static_cast<int>(step)]).reload) {
                return;  // no wrap in filter mode, and no reload at the ends
            }
            if (!m_rules.beforeLeavingFilm()) {
                return;
            }
            m_filter = std::move(moved);
            showFilterMatch();
            return;
        }
        if (refreshCounter() || !m_rules.beforeLeavingFilm()) {
            return;
        }
        std::int64_t& offset = m_table.current_offset;
        switch (step) {
            case Paging::First:
                offset = 0;
                break;
            case Paging::Previous:
                offset = offset > 0 ? offset - kRow : 0;
                break;
            case Paging::Next:
                offset += kRow;
                if (static_cast<std::uint64_t>(offset) >= m_table.tableLength())
                    offset = 0;
                break;
            case Paging::Last: {
                // The start of the last row, also when the table ends in a partial row.
                const auto length = static_cast<std::int64_t>(m_table.tableLength());
                offset = (length - 1) / kRow * kRow;
                break;
            }
        }
        clearForm(step == Paging::Last);
        loadFilm(false);
        refreshCounter();
    });
}

void CKinokratDlg::newFilm() {
    guarded([&] {
        if (m_filter.filter_mode) {
            refuse(kNewInFilterModeMessage);
            return;
        }
        if (!m_rules.beforeLeavingFilm()) {
            return;
        }
        const std::int64_t shown_offset = m_table.current_offset;
        const bool held = m_table.holdsRow();
        clearForm(true);
        if (!appendShownFilm() && held) {
            // Refused (its message has been shown once): the film shown before comes back.
            m_table.current_offset = shown_offset;
            loadFilm(false);
            refreshCounter();
        }
    });
}

void CKinokratDlg::saveFilm() {
    guarded([this] { storeShownFilm(true); });
}

bool CKinokratDlg::appendShownFilm() {
    const bool empty = refreshCounter();
    if (!m_table.appendRow(empty)) {
        writeRefused();  // the form stays as it is
        return false;
    }
    clearForm(false);
    loadFilm(false);
    refreshCounter();
    enableRowControls();
    return true;
}

void CKinokratDlg::deleteFilm() {
    guarded([&] {
        if (m_filter.filter_mode) {
            refuse(kDeleteInFilterModeMessage);  // what was typed is stored first
        } else if (m_table.holdsRow()) {
            BusyCursor busy;
            // A failure throws before anything below: the film stays shown, held and stored.
            if (!m_table.deleteRow(m_filter)) {
                writeRefused();
            }
        }
        loadFilm(true);
        if (refreshCounter()) {
            disableRowControls();
        }
    });
}

void CKinokratDlg::openCover(bool front) {
    guarded([&] {
        const QString chosen =
            m_ui.chooseFile(this, QStringLiteral("Otwórz"),
                            {QStringLiteral("Pliki graficzne (*.bmp)"), QStringLiteral(" (*.jpg)"),
                             QStringLiteral(" (*.jpeg)"), QStringLiteral(" (*.png)")});
        if (chosen.isEmpty()) {
            return;
        }
        std::optional<std::filesystem::path> stored;
        {
            BusyCursor busy;
            const DatabaseLock lock(m_database.paths());  // another copy may pick the same name
            stored = importCover(m_database.paths().covers_folder, qStringToPath(chosen));
        }
        if (!stored) {
            m_ui.showMessage(this,
                             QStringLiteral("Ścieżka okładki w katalogu bazy danych byłaby dłuższa "
                                            "niż 240 znaków, więc nie można jej zapisać:\n%1")
                                 .arg(chosen),
                             QStringLiteral("Kinokrat - Okładka"));
            return;
        }
        FilmRecord& film = m_table.current();
        const std::u16string path = toU16(pathToQString(*stored));
        if (front) {
            storeText(film.front_cover_path, path);
        } else {
            storeText(film.back_cover_path, path);
        }
        storeShownFilm(true);
    });
}

void CKinokratDlg::removeCover(bool front) {
    guarded([&] {
        if (refreshCounter() && !m_table.holdsRow()) {
            return;
        }
        FilmRecord& film = m_table.current();
        if (front) {
            storeText(film.front_cover_path, u"");
        } else {
            storeText(film.back_cover_path, u"");
        }
        storeShownFilm(true);
    });
}

void CKinokratDlg::clearFilter() {
    guarded([&] {
        if (!m_rules.beforeLeavingFilm()) {
            return;
        }
        dropFilter();
        m_table.current_offset = 0;
        loadFilm(true);
        refreshCounter();
    });
}

void CKinokratDlg::enterFilterMode(std::vector<std::int64_t> offsets) {
    guarded([&] {
        if (!ordavo::enterFilterMode(m_filter, std::move(offsets))) {
            return;
        }
        m_filterIndicator->show();
        showFilterMatch();
    });
}

void CKinokratDlg::showFilterMatch() {
    m_table.current_offset = currentFilterOffset(m_filter);
    refreshCounter();
    clearForm(false);
    loadFilm(false);
}

void CKinokratDlg::dropFilter() {
    ClearFilter(m_filter);
    m_filterIndicator->hide();
}

void CKinokratDlg::runSearch() {
    const LeaveRules::Command command(m_rules);
    m_rules.beforeDialog();
    Wyszukiwarka search(m_search, m_rawUi, this);
    emit searchDialogOpened(&search);
    // "Anuluj", Escape and the close box end the dialog without a result: nothing changes.
    if (search.exec() == QDialog::Accepted && m_rules.beforeLeavingFilm()) {
        enterFilterMode(search.matches());
    }
}

Eksport_Wizard* CKinokratDlg::openExportWizard() {
    const LeaveRules::Command command(m_rules);
    m_rules.beforeDialog();
    auto* wizard =
        new Eksport_Wizard([this]() -> const DatabasePaths& { return m_database.paths(); },
                           [this] { return m_table.current().id; }, m_rawUi, this);
    wizard->show();
    return wizard;
}

void CKinokratDlg::showAbout() {
    const LeaveRules::Command command(m_rules);
    m_rules.beforeDialog();
    O_programie about(this);
    about.exec();
}

// ---------------------------------------------------------------- activation and closing

bool CKinokratDlg::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        m_rules.windowActivated();
    } else if (event->type() == QEvent::WindowDeactivate) {
        m_rules.windowDeactivated();
    }
    return QDialog::event(event);
}

void CKinokratDlg::done(int result) {
    if (!m_closing) {
        bool close = true;
        guarded([&] { close = m_rules.beforeLeavingFilm(); });
        if (!close) {
            return;  // "Anuluj": the window stays open, with everything as it was
        }
        m_closing = true;
        m_rules.stop();
        letGoOfDatabase();
    }
    QDialog::done(result);
}

void CKinokratDlg::keyPressEvent(QKeyEvent* event) {
    const bool plain =
        event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (plain && (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
                  event->key() == Qt::Key_Enter)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace ordavo
