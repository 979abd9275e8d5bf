#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/ckinokrat_dlg.h"
#include "app/cover_view.h"
#include "tabs/ui/tab_pages.h"

// The widgets of the main window and where they stand; what they do is in ckinokrat_dlg.cpp.

namespace ordavo {

namespace {

QPushButton* makeButton(const QString& text, const QString& name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

void CKinokratDlg::buildWindow() {
    // The form on the left of a splitter; the film list, when open, on its right.
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    outer->addWidget(m_splitter);
    auto* form = new QWidget(m_splitter);
    m_splitter->addWidget(form);
    m_splitter->setStretchFactor(0, 1);
    auto* root = new QGridLayout(form);
    root->setContentsMargins(6, 4, 6, 4);
    root->setHorizontalSpacing(8);
    root->setVerticalSpacing(4);
    buildMenu();

    auto* right = new QVBoxLayout;
    right->addLayout(buildHeader());
    right->addWidget(buildTabs(), 1);

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

QGridLayout* CKinokratDlg::buildHeader() {
    auto* header = new QGridLayout;
    header->setHorizontalSpacing(6);
    header->setVerticalSpacing(3);
    const auto addHeaderField = [&](FilmFieldId field, int row, QWidget* box) {
        auto* label = new QLabel(FilmForm::label(field), this);
        label->setBuddy(box);
        header->addWidget(label, row, 0);
        header->addWidget(box, row, 1);
    };
    addHeaderField("title", 0, m_form.addEdit("title", this));
    addHeaderField("original_title", 1, m_form.addEdit("original_title", this));
    QComboBox* genre = m_form.addCombo("genre", this);
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
    return header;
}

QTabWidget* CKinokratDlg::buildTabs() {
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    const PageContext context{m_form, m_details, [this] { return m_table.current().id; }, m_rawUi,
                              [this] { writeRefused(); }};
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
    return m_tabs;
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
    add(operations, QStringLiteral("&Import z pliku CSV…"), QStringLiteral("importAction"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I), [this] { importCsv(); });
    add(operations, QStringLiteral("Wyczyść &Filtr"), QStringLiteral("clearFilterAction"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [this] { clearFilter(); });
    add(operations, QStringLiteral("&Wyszukaj"), QStringLiteral("searchAction"),
        QKeySequence(Qt::CTRL | Qt::Key_F), [this] { runSearch(); });
    QAction* list =
        add(operations, QStringLiteral("&Lista filmów"), QStringLiteral("filmListAction"),
            QKeySequence(Qt::CTRL | Qt::Key_L), [this] { toggleFilmList(); });
    list->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_L), QKeySequence(Qt::Key_F9)});
    list->setCheckable(true);
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
    grid->addLayout(buildCounter(bar), 0, 0);
    grid->addLayout(buildPaging(bar), 1, 0);
    grid->addLayout(buildCommands(bar), 0, 1, 2, 1, Qt::AlignCenter);

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

QHBoxLayout* CKinokratDlg::buildCounter(QWidget* bar) {
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
    return counter;
}

QHBoxLayout* CKinokratDlg::buildPaging(QWidget* bar) {
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
    return paging;
}

QHBoxLayout* CKinokratDlg::buildCommands(QWidget* bar) {
    auto* commands = new QHBoxLayout;
    const auto command = [&](const QString& text, const QString& name, const QString& icon,
                             const QString& tip, const QKeySequence& keys, auto slot) {
        QPushButton* button = makeButton(text, name, bar);
        button->setIcon(QIcon(icon));
        button->setToolTip(keys.isEmpty()
                               ? tip
                               : tip + QStringLiteral(" (") +
                                     keys.toString(QKeySequence::NativeText) + QStringLiteral(")"));
        // A shortcut of its own: the button's shortcut is its mnemonic (Alt+N, Alt+Z, Alt+U),
        // which setShortcut would replace.
        if (!keys.isEmpty()) {
            auto* shortcut = new QShortcut(keys, this);
            connect(shortcut, &QShortcut::activated, button, [button] {
                if (button->isEnabled()) {
                    button->click();
                }
            });
        }
        connect(button, &QPushButton::clicked, this, slot);
        commands->addWidget(button);
        return button;
    };
    m_newButton = command(QStringLiteral("&Nowy"), QStringLiteral("newButton"),
                          QStringLiteral(":/ordavo/icon_new.png"), QStringLiteral("Nowy film"),
                          QKeySequence(Qt::CTRL | Qt::Key_N), [this] { newFilm(); });
    m_saveButton = command(QStringLiteral("&Zapisz"), QStringLiteral("saveButton"),
                           QStringLiteral(":/ordavo/icon_save.png"), QStringLiteral("Zapisz film"),
                           QKeySequence(Qt::CTRL | Qt::Key_S), [this] { saveFilm(); });
    commands->addSpacing(40);
    m_deleteButton = command(QStringLiteral("&Usuń"), QStringLiteral("deleteButton"),
                             QStringLiteral(":/ordavo/icon_delete.png"),
                             QStringLiteral("Usuń film"), QKeySequence(), [this] { deleteFilm(); });
    return commands;
}

}  // namespace ordavo
