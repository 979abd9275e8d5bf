#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <vector>

#include "app/film_form.h"
#include "app/ui_service.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/page_handover.h"
#include "tabs/detail_tables.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QAction;

namespace ordavo {

class CoverView;
class Eksport_Wizard;
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

// The main window: one film at a time, its covers, six tab pages, paging and editing.
class CKinokratDlg : public QDialog {
    Q_OBJECT
public:
    // Runs the whole start-up: paths, file-set check, import or creation, pages, first film.
    explicit CKinokratDlg(UiService& ui, QWidget* parent = nullptr);
    ~CKinokratDlg() override;

    // True when start-up found a damaged database: the window is not to be shown.
    bool startupFailed() const { return m_startupFailed; }

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
    void save();
    void disableRowControls();
    void enableRowControls();
    // Refreshes "Rekord" N "z" M; true for an empty film table.
    bool refreshCounter();

    // Commands.
    void pageFirst();
    void pagePrevious();
    void pageNext();
    void pageLast();
    void newFilm();
    void saveFilm() { save(); }
    void deleteFilm();
    void openCover(bool front);
    void removeCover(bool front);
    void openDatabase();
    void clearFilter();
    // Filter mode after a search with matches (offsets in table order, not empty).
    void enterFilterMode(std::vector<std::int64_t> offsets);
    // "Wyszukaj": the search dialog, then filter mode when it found films.
    void runSearch();
    // "Eksportuj": a new export wizard window, shown and left open.
    Eksport_Wizard* openExportWizard();

signals:
    // Emitted when the search dialog has been created, before it runs (tests answer it here).
    void searchDialogOpened(Wyszukiwarka* dialog);

protected:
    bool event(QEvent* event) override;
    // Every way of closing (close box, Esc, Enter, "Koniec") ends here.
    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Paging { First, Previous, Next, Last };

    void setRowControlsEnabled(bool enabled);
    // Appends the buffer as a new film (new id) and shows it, as "Nowy" does.
    void appendShownFilm();
    void buildWindow();
    void buildMenu();
    QWidget* buildCoverColumn();
    QWidget* buildBottomBar();
    void startUp();
    void page(Paging step);
    void showAbout();
    void storeOnClose();
    // What a loss of activation does: store the shown film (or disable the row controls on an
    // empty table). Also run before the window opens a dialog of its own.
    void storeOnDeactivation();
    // Runs a command; a file-system failure becomes one message box.
    void guarded(const std::function<void()>& command);

    UiService& m_ui;
    UiMessageSink m_sink;
    Database m_database;
    DetailTables m_details;
    FilmTable m_table;
    FilterState m_filter;
    FilmForm m_form;

    bool m_startupFailed = false;
    bool first_deactivation_pending = true;
    bool m_formEdited = false;
    bool m_closing = false;
    int m_commandDepth = 0;  // commands in progress; they store what they need themselves

    QLineEdit* m_idEdit = nullptr;
    QLineEdit* m_positionEdit = nullptr;
    QLineEdit* m_countEdit = nullptr;
    QTabWidget* m_tabs = nullptr;
    QLabel* m_filterIndicator = nullptr;
    CoverView* m_frontCover = nullptr;
    CoverView* m_backCover = nullptr;
    std::array<QPushButton*, 4> m_coverButtons{};
    TAB_Oocena* m_ratingPage = nullptr;
    TAB_Obsada* m_castPage = nullptr;
    TAB_Produkcja* m_productionPage = nullptr;
    TAB_DOE* m_copyPage = nullptr;
    TAB_IOF* m_infoPage = nullptr;
    TAB_BIBLIO* m_loansPage = nullptr;
};

}  // namespace ordavo
