#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/leave_rules.h"
#include "search/film_search.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/page_handover.h"
#include "tabs/detail_tables.h"
#include "ui_support/film_form.h"
#include "ui_support/ui_service.h"

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QAction;
class QSplitter;

namespace ordavo {

class CoverView;
class DatabaseHold;
class Eksport_Wizard;
class FilmListPanel;
class FileError;
class Wyszukiwarka;
class TabPage;
class TAB_Oocena;
class TAB_Obsada;
class TAB_Produkcja;
class TAB_DOE;
class TAB_IOF;
class TAB_BIBLIO;

inline constexpr std::string_view kNewInFilterModeMessage =
    "W trybie sortowanym nie można dodawać nowych rekordów";
inline constexpr const char* kOpenDatabasePrompt =
    "Podaj katalog z bazą danych w formacie Kinokrat lub utwórz katalog na nową bazę danych i "
    "wskaż go";

// What the window may do with the open database.
enum class DatabaseAccess {
    Writable,  // films and rows are stored
    ReadOnly,  // shown, but nothing can be stored (another copy holds it, a read-only file, ...)
    Unusable,  // nothing to show: the database could not be opened or created
};

// The main window: one film at a time, its covers, six tab pages, paging and editing.
class CKinokratDlg : public QDialog, private ShownFilm {
    Q_OBJECT
public:
    // Runs the whole start-up: paths, file-set check, import or creation, pages, first film.
    explicit CKinokratDlg(UiService& ui, QWidget* parent = nullptr);
    ~CKinokratDlg() override;

    // True when start-up found a damaged database: the window is not to be shown.
    bool startupFailed() const { return m_startupFailed; }
    DatabaseAccess access() const { return m_access; }

    Database& database() { return m_database; }
    FilmTable& filmTable() { return m_table; }
    FilterState& filter() { return m_filter; }
    FilmForm& form() { return m_form; }
    // The seven detail tables of the shown film, loaded and saved with it.
    DetailTables& details() { return m_details; }

    // Form operations.
    void showFilm();
    void readForm();
    void clearForm(bool empty_buffer);
    void loadFilm(bool from_start);
    void disableRowControls();
    void enableRowControls();
    // Refreshes "Rekord" N "z" M; true for an empty film table.
    bool refreshCounter();

    // Commands.
    void newFilm();
    void saveFilm();
    void deleteFilm();
    void openCover(bool front);
    void removeCover(bool front);
    void openDatabase();
    // "Import z pliku CSV…": the import's own dialogs, then the film shown again.
    void importCsv();
    void clearFilter();
    // Filter mode after a search with matches (offsets in table order, not empty).
    void enterFilterMode(std::vector<std::int64_t> offsets);
    // Shows the match the filter stands at: its row, the counter, a fresh form.
    void showFilterMatch();
    // Leaves filter mode, the indicator hidden.
    void dropFilter();
    // "Wyszukaj": the search dialog, then filter mode when it found films.
    void runSearch();
    // "Eksportuj": a new export wizard window, shown and left open.
    Eksport_Wizard* openExportWizard();
    // "Lista filmów": opens the film list beside the form, or closes it.
    void toggleFilmList();
    // Shows the film the list chose, as paging would: the shown film is stored first. The film
    // is found by `id` when the row at `offset` no longer carries it.
    void chooseFilm(std::int64_t offset, std::int32_t id);
    FilmListPanel* filmList() const { return m_filmList; }

signals:
    // Emitted when the search dialog has been created, before it runs (tests answer it here).
    void searchDialogOpened(Wyszukiwarka* dialog);

protected:
    bool event(QEvent* event) override;
    // Every way of closing (close box, Alt+F4, "Koniec", Ctrl+Q) ends here.
    void done(int result) override;
    // Enter and Esc do not close the window: one stray key must not end the work.
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Paging { First, Previous, Next, Last };

    // ShownFilm, for the leave rules.
    bool canStore() const override;
    bool hasUnstoredChanges() const override;
    void storeAsDeactivation() override;
    bool storeEverything() override;
    StoreAnswer askToStore() override;

    void buildWindow();
    void buildMenu();
    QWidget* buildCoverColumn();
    QWidget* buildBottomBar();
    QGridLayout* buildHeader();
    QTabWidget* buildTabs();
    QHBoxLayout* buildCounter(QWidget* bar);
    QHBoxLayout* buildPaging(QWidget* bar);
    QHBoxLayout* buildCommands(QWidget* bar);
    // Tells the film list which film is shown and which films filter mode keeps.
    void syncFilmList();
    void startUp();
    // Opens or creates the database of the working folder; false when a file error (said
    // already) leaves it unusable.
    bool settleStartUpDatabase();
    void startUpdater();
    // After the paths point to a database whose files are settled: holds it when no other copy
    // does, decides what the window may do with it, and says once why when it cannot store.
    void takeDatabase();
    // Shows what the window may do: read-only boxes, disabled buttons, the title.
    void applyAccess();
    // Before the window closes or opens another database: a checkpoint of what it wrote.
    void letGoOfDatabase();
    // Stores the shown film: over its row when one is held, otherwise as a new film when
    // `as_new_when_empty` or the user typed. False when it was refused or failed (told).
    bool storeShownFilm(bool as_new_when_empty);
    // After a write was refused: says why, once, and shows the database read-only from then on.
    void writeRefused();
    // Appends the buffer as a new film (new id) and shows it, as "Nowy" does; false if refused.
    bool appendShownFilm();
    // A refusal: the shown film is stored first, as the message box takes the activation.
    void refuse(std::string_view text);
    void page(Paging step);
    void showAbout();
    void setRowControlsEnabled(bool enabled);
    // Runs a command; a file-system failure becomes one message box. False after a failure.
    bool guarded(const std::function<void()>& command);
    std::vector<TabPage*> listPages() const;

    UiService& m_rawUi;
    // The window's own dialogs and refusals go through it: each stores the shown film first.
    // The core's messages and the lists' go straight to m_rawUi: they come from inside a store
    // or a list command, where storing again would repeat the failure or the message.
    std::unique_ptr<UiService> m_storingUi;
    UiService& m_ui;
    UiMessageSink m_sink;
    Database m_database;
    DetailTables m_details;
    FilmTable m_table;
    FilmSearch m_search{m_database.keeper(DataFile::Films)};
    FilterState m_filter;
    FilmForm m_form;
    LeaveRules m_rules{*this};
    std::unique_ptr<DatabaseHold> m_hold;

    bool m_startupFailed = false;
    bool m_formEdited = false;
    bool m_closing = false;
    DatabaseAccess m_access = DatabaseAccess::Unusable;
    bool m_rowControlsWanted = true;  // as the film rules set them; shown only when writable

    QLineEdit* m_idEdit = nullptr;
    QLineEdit* m_positionEdit = nullptr;
    QLineEdit* m_countEdit = nullptr;
    QTabWidget* m_tabs = nullptr;
    QSplitter* m_splitter = nullptr;
    FilmListPanel* m_filmList = nullptr;
    QLabel* m_filterIndicator = nullptr;
    CoverView* m_frontCover = nullptr;
    CoverView* m_backCover = nullptr;
    std::array<QPushButton*, 4> m_coverButtons{};
    QPushButton* m_newButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    TAB_Oocena* m_ratingPage = nullptr;
    TAB_Obsada* m_castPage = nullptr;
    TAB_Produkcja* m_productionPage = nullptr;
    TAB_DOE* m_copyPage = nullptr;
    TAB_IOF* m_infoPage = nullptr;
    TAB_BIBLIO* m_loansPage = nullptr;
};

}  // namespace ordavo
