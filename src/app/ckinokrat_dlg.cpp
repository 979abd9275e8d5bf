#include "app/ckinokrat_dlg.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <future>

#include "app/cover_view.h"
#include "app/o_programie.h"
#include "app/qt_text.h"
#include "export/ui/eksport_wizard.h"
#include "search/filter_paging.h"
#include "search/ui/wyszukiwarka.h"
#include "storage/cover_files.h"
#include "storage/database_lock.h"
#include "storage/file_error.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "tabs/ui/tab_pages.h"

namespace ordavo {

namespace {

constexpr std::int64_t kRow = static_cast<std::int64_t>(kFilmRowSize);

// Shows a busy cursor while long work runs on the window's thread.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
};

QPushButton* makeButton(const QString& text, const QString& name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CKinokratDlg::CKinokratDlg(UiService& ui, QWidget* parent)
    : QDialog(parent),
      m_ui(ui),
      m_sink(ui, this),
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
    // The pages' lists observe the detail tables, so the pages go before m_details does.
    delete m_tabs;
}

// ---------------------------------------------------------------- window

void CKinokratDlg::buildWindow() {
    auto* root = new QGridLayout(this);
    root->setContentsMargins(6, 4, 6, 4);
    root->setHorizontalSpacing(8);
    root->setVerticalSpacing(4);
    buildMenu();

    auto* right = new QVBoxLayout;
    auto* header = new QGridLayout;
    header->setHorizontalSpacing(6);
    header->setVerticalSpacing(3);
    const auto addHeaderField = [&](std::string_view member, int row, QWidget* box) {
        auto* label = new QLabel(FilmForm::label(member), this);
        label->setBuddy(box);
        header->addWidget(label, row, 0);
        header->addWidget(box, row, 1);
    };
    addHeaderField("title", 0, m_form.addEdit("title", this));
    addHeaderField("original_title", 1, m_form.addEdit("original_title", this));
    QComboBox* genre = m_form.addCombo(
        "genre",
        {QStringLiteral("Akcja"), QStringLiteral("Komedia"), QStringLiteral("Dramat"),
         QStringLiteral("Horror"), QStringLiteral("Dokument"), QStringLiteral("Kryminał"),
         QStringLiteral("Sensacja"), QStringLiteral("Paradokument"), QStringLiteral("Bajka")},
        this);
    auto* genre_row = new QHBoxLayout;
    genre_row->addWidget(genre, 1);
    genre_row->addStretch(1);
    auto* genre_label = new QLabel(FilmForm::label("genre"), this);
    genre_label->setBuddy(genre);
    header->addWidget(genre_label, 2, 0);
    header->addLayout(genre_row, 2, 1);
    m_idEdit = new QLineEdit(this);
    m_idEdit->setObjectName(QStringLiteral("idEdit"));
    m_idEdit->setReadOnly(true);
    m_idEdit->setFocusPolicy(Qt::ClickFocus);
    header->addWidget(new QLabel(QStringLiteral("ID"), this), 0, 2);
    header->addWidget(m_idEdit, 0, 3);
    header->setColumnStretch(1, 5);
    header->setColumnStretch(3, 2);
    right->addLayout(header);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    const PageContext context{m_form, m_details, [this] { return m_table.current().id; }, m_ui};
    m_ratingPage = new TAB_Oocena(context, m_tabs);
    m_castPage = new TAB_Obsada(context, m_tabs);
    m_productionPage = new TAB_Produkcja(context, m_tabs);
    m_copyPage = new TAB_DOE(context, m_tabs);
    m_infoPage = new TAB_IOF(context, m_tabs);
    m_loansPage = new TAB_BIBLIO(context, m_tabs);
    m_tabs->addTab(m_ratingPage, QStringLiteral("Ocena"));
    m_tabs->addTab(m_castPage, QStringLiteral("Obsada"));
    m_tabs->addTab(m_productionPage, QStringLiteral("Produkcja"));
    m_tabs->addTab(m_copyPage, QStringLiteral("Dane o egzemplarzu"));
    m_tabs->addTab(m_infoPage, QStringLiteral("Info o filmie"));
    m_tabs->addTab(m_loansPage, QStringLiteral("Bibliotekarz"));
    right->addWidget(m_tabs, 1);

    root->addWidget(buildCoverColumn(), 0, 0);
    root->addLayout(right, 0, 1);
    root->addWidget(buildBottomBar(), 1, 0, 1, 2);
    root->setColumnStretch(1, 1);
    root->setRowStretch(0, 1);

    // The size of the original dialog template (694 x 427 dialog units) in this font.
    const QFontMetrics metrics(font());
    const double unit_x = metrics.horizontalAdvance(QStringLiteral(
                              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                          52.0 / 4.0;
    const double unit_y = metrics.height() / 8.0;
    resize(QSize(static_cast<int>(694 * unit_x), static_cast<int>(427 * unit_y))
               .expandedTo(minimumSizeHint()));
}

void CKinokratDlg::buildMenu() {
    auto* bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("menuBar"));
    layout()->setMenuBar(bar);
    QMenu* operations = bar->addMenu(QStringLiteral("&Operacje"));
    const auto add = [this](QMenu* menu, const QString& text, const QString& name,
                            const QKeySequence& keys, auto slot) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add(operations, QStringLiteral("&Otwórz / Utwórz baze danych"),
        QStringLiteral("openDatabaseAction"), QKeySequence(Qt::CTRL | Qt::Key_O),
        [this] { openDatabase(); });
    add(operations, QStringLiteral("&Eksportuj"), QStringLiteral("exportAction"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), [this] { openExportWizard(); });
    add(operations, QStringLiteral("Wyczyść &Filtr"), QStringLiteral("clearFilterAction"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [this] { clearFilter(); });
    add(operations, QStringLiteral("&Wyszukaj"), QStringLiteral("searchAction"),
        QKeySequence(Qt::CTRL | Qt::Key_F), [this] { runSearch(); });
    operations->addSeparator();
    add(operations, QStringLiteral("&Koniec"), QStringLiteral("quitAction"),
        QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { accept(); });
    QMenu* about = bar->addMenu(QStringLiteral("O &programie"));
    add(about, QStringLiteral("O &Programie"), QStringLiteral("aboutAction"), QKeySequence(),
        [this] { showAbout(); });
}

QWidget* CKinokratDlg::buildCoverColumn() {
    auto* column = new QWidget(this);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    const auto addCover = [&](const QString& caption, const QString& name, bool front) {
        layout->addWidget(new QLabel(caption, column));
        auto* view = new CoverView(column);
        view->setObjectName(name + QStringLiteral("Cover"));
        layout->addWidget(view, 1);
        auto* buttons = new QHBoxLayout;
        QPushButton* open =
            makeButton(QStringLiteral("Otwórz"), name + QStringLiteral("OpenButton"), column);
        QPushButton* remove =
            makeButton(QStringLiteral("Usuń"), name + QStringLiteral("RemoveButton"), column);
        connect(open, &QPushButton::clicked, this, [this, front] { openCover(front); });
        connect(remove, &QPushButton::clicked, this, [this, front] { removeCover(front); });
        buttons->addWidget(open);
        buttons->addWidget(remove);
        layout->addLayout(buttons);
        return std::make_tuple(view, open, remove);
    };
    auto [front, front_open, front_remove] =
        addCover(QStringLiteral("Okładka - przód"), QStringLiteral("front"), true);
    layout->addSpacing(6);
    auto [back, back_open, back_remove] =
        addCover(QStringLiteral("Okładka - tył"), QStringLiteral("back"), false);
    m_frontCover = front;
    m_backCover = back;
    // In the order of the row-control table: front open, front remove, back open, back remove.
    m_coverButtons = {front_open, front_remove, back_open, back_remove};
    column->setFixedWidth(column->sizeHint().width() < 180 ? 180 : column->sizeHint().width());
    return column;
}

QWidget* CKinokratDlg::buildBottomBar() {
    auto* bar = new QWidget(this);
    auto* grid = new QGridLayout(bar);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(3);

    auto* counter = new QHBoxLayout;
    m_positionEdit = new QLineEdit(bar);
    m_positionEdit->setObjectName(QStringLiteral("positionEdit"));
    m_countEdit = new QLineEdit(bar);
    m_countEdit->setObjectName(QStringLiteral("countEdit"));
    for (QLineEdit* edit : {m_positionEdit, m_countEdit}) {
        edit->setReadOnly(true);
        edit->setFocusPolicy(Qt::ClickFocus);
        edit->setMaximumWidth(110);
    }
    counter->addWidget(new QLabel(QStringLiteral("Rekord"), bar));
    counter->addWidget(m_positionEdit);
    counter->addWidget(new QLabel(QStringLiteral("z"), bar));
    counter->addWidget(m_countEdit);
    counter->addStretch(1);
    grid->addLayout(counter, 0, 0);

    auto* paging = new QHBoxLayout;
    const auto pageButton = [&](const QString& text, const QString& name, const QString& tip,
                                const QKeySequence& keys, Paging step) {
        QPushButton* button = makeButton(text, name, bar);
        button->setShortcut(keys);
        button->setToolTip(tip + QStringLiteral(" (") + keys.toString(QKeySequence::NativeText) +
                           QStringLiteral(")"));
        connect(button, &QPushButton::clicked, this, [this, step] { page(step); });
        paging->addWidget(button);
    };
    pageButton(QStringLiteral("|<"), QStringLiteral("firstButton"), QStringLiteral("Pierwszy film"),
               QKeySequence(Qt::ALT | Qt::Key_Home), Paging::First);
    pageButton(QStringLiteral("<"), QStringLiteral("previousButton"),
               QStringLiteral("Poprzedni film"), QKeySequence(Qt::ALT | Qt::Key_Left),
               Paging::Previous);
    pageButton(QStringLiteral(">"), QStringLiteral("nextButton"), QStringLiteral("Następny film"),
               QKeySequence(Qt::ALT | Qt::Key_Right), Paging::Next);
    pageButton(QStringLiteral(">|"), QStringLiteral("lastButton"), QStringLiteral("Ostatni film"),
               QKeySequence(Qt::ALT | Qt::Key_End), Paging::Last);
    paging->addStretch(1);
    grid->addLayout(paging, 1, 0);

    auto* commands = new QHBoxLayout;
    const auto command = [&](const QString& text, const QString& name, const QString& icon,
                             const QString& tip, const QKeySequence& keys, auto slot) {
        QPushButton* button = makeButton(text, name, bar);
        button->setIcon(QIcon(icon));
        button->setToolTip(keys.isEmpty()
                               ? tip
                               : tip + QStringLiteral(" (") +
                                     keys.toString(QKeySequence::NativeText) + QStringLiteral(")"));
        if (!keys.isEmpty())
            button->setShortcut(keys);
        connect(button, &QPushButton::clicked, this, slot);
        commands->addWidget(button);
    };
    command(QStringLiteral("&Nowy"), QStringLiteral("newButton"),
            QStringLiteral(":/ordavo/icon_new.png"), QStringLiteral("Nowy film"),
            QKeySequence(Qt::CTRL | Qt::Key_N), [this] { newFilm(); });
    command(QStringLiteral("&Zapisz"), QStringLiteral("saveButton"),
            QStringLiteral(":/ordavo/icon_save.png"), QStringLiteral("Zapisz film"),
            QKeySequence(Qt::CTRL | Qt::Key_S), [this] { saveFilm(); });
    commands->addSpacing(40);
    command(QStringLiteral("&Usuń"), QStringLiteral("deleteButton"),
            QStringLiteral(":/ordavo/icon_delete.png"), QStringLiteral("Usuń film"), QKeySequence(),
            [this] { deleteFilm(); });
    grid->addLayout(commands, 0, 1, 2, 1, Qt::AlignCenter);

    m_filterIndicator = new QLabel(bar);
    m_filterIndicator->setObjectName(QStringLiteral("filterIndicator"));
    m_filterIndicator->setPixmap(QPixmap(QStringLiteral(":/ordavo/filter_indicator.png")));
    QSizePolicy keep = m_filterIndicator->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_filterIndicator->setSizePolicy(keep);
    grid->addWidget(m_filterIndicator, 0, 2, 2, 1, Qt::AlignRight | Qt::AlignVCenter);

    auto* notice = new QLabel(QStringLiteral("© 2026 projekt Ordavo"), bar);
    notice->setObjectName(QStringLiteral("rightsNotice"));
    grid->addWidget(notice, 2, 0, 1, 3);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    return bar;
}

// ---------------------------------------------------------------- start-up

void CKinokratDlg::startUp() {
    first_deactivation_pending = true;
    guarded([this] {
        m_database.setPaths(buildPaths());
        switch (m_database.checkFileSet()) {
            case DatabaseState::Absent:
                if (!m_database.importFromWorkingFolder()) {
                    m_database.createMissing(true);
                }
                break;
            case DatabaseState::Damaged:
                m_startupFailed = true;
                break;
            case DatabaseState::Intact:
                // Before the first film is read: finishes what a killed run was writing.
                m_database.recoverInterruptedWrites();
                break;
        }
    });
    for (TabPage* page : std::initializer_list<TabPage*>{m_ratingPage, m_castPage, m_productionPage,
                                                         m_infoPage, m_loansPage}) {
        page->setUpLists();
    }
    m_copyPage->fillMediumTypes();
    m_filterIndicator->hide();
    m_filter = FilterState{};

    // The updater is looked for beside the program file only, never in the working folder.
    const QString updater =
        QCoreApplication::applicationDirPath() + QStringLiteral("/OV_AUTOUPDATE.exe");
    if (QFileInfo(updater).isExecutable()) {
        QProcess::startDetached(updater, {});
    }

    bool ok = true;
    guarded([&] {
        ok = false;
        loadFilm(true);
        if (refreshCounter()) {
            disableRowControls();
        }
        ok = true;
    });
    if (!ok) {
        m_startupFailed = true;
    }
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
        emptyFilmRecord(m_table.current());
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

void CKinokratDlg::save() {
    readForm();
    if (m_table.current().id == 0) {
        // No film is held: store what the form shows as a new film rather than as a row with
        // id 0, which the next delete would drop.
        if (m_filter.filter_mode) {
            m_ui.showMessage(this, utf8ToQString(kNewInFilterModeMessage),
                             utf8ToQString(kAppTitle));
            return;
        }
        appendShownFilm();
        return;
    }
    if (m_table.updateRow()) {
        clearForm(false);
        loadFilm(false);
    }
}

void CKinokratDlg::disableRowControls() {
    setRowControlsEnabled(false);
}

void CKinokratDlg::enableRowControls() {
    setRowControlsEnabled(true);
}

void CKinokratDlg::setRowControlsEnabled(bool enabled) {
    // In the order of the row-control table: the cover buttons, then the list pages.
    for (QPushButton* button : m_coverButtons) {
        button->setEnabled(enabled);
    }
    for (TabPage* page : std::initializer_list<TabPage*>{m_ratingPage, m_castPage, m_loansPage,
                                                         m_productionPage, m_infoPage}) {
        page->setRowControlsEnabled(enabled);
    }
}

bool CKinokratDlg::refreshCounter() {
    const bool empty = m_table.refreshCounter(m_filter);
    m_positionEdit->setText(QString::number(m_table.counter().position));
    m_countEdit->setText(QString::number(m_table.counter().count));
    return empty;
}

// ---------------------------------------------------------------- commands

void CKinokratDlg::guarded(const std::function<void()>& command) {
    ++m_commandDepth;
    try {
        command();
    } catch (const FileError& error) {
        m_ui.showMessage(this, fileErrorMessage(error), kFileErrorTitle);
    }
    --m_commandDepth;
}

void CKinokratDlg::page(Paging step) {
    guarded([&] {
        if (m_filter.filter_mode) {
            static constexpr FilterStep kSteps[] = {FilterStep::First, FilterStep::Previous,
                                                    FilterStep::Next, FilterStep::Last};
            if (!stepFilter(m_filter, kSteps[static_cast<int>(step)]).reload) {
                return;  // no wrap in filter mode, and no reload at the ends
            }
            m_table.current_offset = currentFilterOffset(m_filter);
            refreshCounter();
            clearForm(false);
            loadFilm(false);
            return;
        }
        if (refreshCounter()) {
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
            m_ui.showMessage(this, utf8ToQString(kNewInFilterModeMessage),
                             utf8ToQString(kAppTitle));
            return;
        }
        clearForm(true);
        appendShownFilm();
    });
}

void CKinokratDlg::appendShownFilm() {
    const bool empty = refreshCounter();
    if (!m_table.appendRow(empty)) {
        return;  // refused: the form stays as it is
    }
    clearForm(false);
    loadFilm(false);
    refreshCounter();
    enableRowControls();
}

void CKinokratDlg::deleteFilm() {
    guarded([&] {
        {
            BusyCursor busy;
            m_table.deleteRow(m_filter);  // a refusal still shows the first film
        }
        loadFilm(true);
        if (refreshCounter()) {
            disableRowControls();
        }
    });
}

void CKinokratDlg::openCover(bool front) {
    storeOnDeactivation();
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
        save();
    });
}

void CKinokratDlg::removeCover(bool front) {
    guarded([&] {
        if (refreshCounter()) {
            return;
        }
        FilmRecord& film = m_table.current();
        if (front) {
            storeText(film.front_cover_path, u"");
        } else {
            storeText(film.back_cover_path, u"");
        }
        save();
    });
}

void CKinokratDlg::openDatabase() {
    storeOnDeactivation();
    guarded([&] {
        const QString chosen = m_ui.chooseFolder(this, QString::fromUtf8(kOpenDatabasePrompt));
        if (chosen.isEmpty()) {
            return;
        }
        // Offsets of a search in the previous database mean nothing in the new one.
        m_filter = FilterState{};
        m_filterIndicator->hide();
        m_database.setPaths(buildPaths(qStringToPath(chosen)));
        const DatabaseState state = m_database.checkFileSet();
        if (state == DatabaseState::Absent) {
            m_database.createMissing(false);
        } else if (state == DatabaseState::Intact) {
            m_database.recoverInterruptedWrites();
        }
        clearForm(true);
        loadFilm(true);
        refreshCounter();
    });
}

void CKinokratDlg::clearFilter() {
    guarded([&] {
        ClearFilter(m_filter);
        m_table.current_offset = 0;
        m_filterIndicator->hide();
        loadFilm(true);
        refreshCounter();
    });
}

void CKinokratDlg::enterFilterMode(std::vector<std::int64_t> offsets) {
    guarded([&] {
        if (!ordavo::enterFilterMode(m_filter, std::move(offsets))) {
            return;
        }
        m_table.current_offset = currentFilterOffset(m_filter);
        refreshCounter();
        m_filterIndicator->show();
        loadFilm(false);
    });
}

void CKinokratDlg::runSearch() {
    storeOnDeactivation();
    Wyszukiwarka search(m_database.paths(), m_ui, this);
    emit searchDialogOpened(&search);
    // "Anuluj", Escape and the close box end the dialog without a result: nothing changes.
    if (search.exec() == QDialog::Accepted) {
        enterFilterMode(search.matches());
    }
}

Eksport_Wizard* CKinokratDlg::openExportWizard() {
    storeOnDeactivation();
    auto* wizard =
        new Eksport_Wizard([this]() -> const DatabasePaths& { return m_database.paths(); },
                           [this] { return m_table.current().id; }, m_ui, this);
    wizard->show();
    return wizard;
}

void CKinokratDlg::showAbout() {
    storeOnDeactivation();
    O_programie about(this);
    about.exec();
}

// ---------------------------------------------------------------- activation and closing

bool CKinokratDlg::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        first_deactivation_pending = false;
    } else if (event->type() == QEvent::WindowDeactivate && !first_deactivation_pending &&
               m_commandDepth == 0) {
        storeOnDeactivation();
    }
    return QDialog::event(event);
}

void CKinokratDlg::storeOnDeactivation() {
    if (m_startupFailed || m_closing) {
        return;
    }
    // Whatever the user typed is stored when the window loses activation.
    guarded([this] {
        if (refreshCounter()) {
            disableRowControls();
        } else {
            save();
        }
    });
}

void CKinokratDlg::storeOnClose() {
    if (m_startupFailed) {
        return;
    }
    guarded([this] {
        for (DataFile file : kAllDataFiles) {
            if (!pathExists(m_database.paths().file(file))) {
                return;  // nothing can be stored in a damaged database
            }
        }
        // On an empty table only typed text makes a film; the shown text of a film just deleted
        // must not come back.
        if (!refreshCounter() || m_formEdited) {
            save();
        }
    });
}

void CKinokratDlg::done(int result) {
    if (!m_closing) {
        storeOnClose();
        m_closing = true;
    }
    QDialog::done(result);
}

void CKinokratDlg::keyPressEvent(QKeyEvent* event) {
    const bool plain =
        event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (plain && (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
                  event->key() == Qt::Key_Enter)) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace ordavo
