#include <QAbstractItemModelTester>
#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <chrono>
#include <thread>

#include "app/tests/main_window_fixture.h"
#include "film_list/ui/film_list_model.h"
#include "film_list/ui/film_list_panel.h"
#include "tabs/detail_tables.h"

namespace ordavo {
namespace {

constexpr std::int64_t kRow = kFilmRowSize;

class FilmListWindowTest : public MainWindowTest {
protected:
    FilmListWindowTest() {
        makeDatabase({u"Rejs", u"Łódź", u"lodowisko", u"Żurek", u"Miś"});
        // Written long ago, as a user's tables are: what the list read stays trusted, and own
        // writes are followed row by row.
        for (const auto& file : std::filesystem::directory_iterator(db())) {
            if (file.is_regular_file()) {
                std::filesystem::last_write_time(
                    file.path(),
                    std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(120));  // the racy margin
        open();
        find<QAction>("filmListAction")->trigger();
        panel = dialog->filmList();
        tester = std::make_unique<QAbstractItemModelTester>(
            &panel->model(), QAbstractItemModelTester::FailureReportingMode::Warning);
        waitForList(5);
    }

    void waitForList(int rows) {
        QTRY_VERIFY_WITH_TIMEOUT(!panel->scanning() && panel->model().rowCount() == rows, 5000);
    }
    // The "Tytuł" column, top to bottom.
    std::vector<QString> titles() {
        QCoreApplication::processEvents();
        std::vector<QString> shown;
        const FilmListModel& model = panel->model();
        for (int row = 0; row < model.rowCount(); ++row) {
            shown.push_back(model.index(row, 1).data().toString());
        }
        return shown;
    }
    int rowOfTitle(const QString& title) {
        const std::vector<QString> shown = titles();
        return static_cast<int>(std::find(shown.begin(), shown.end(), title) - shown.begin());
    }
    void choose(const QString& title) {
        QTableView& view = panel->view();
        view.setFocus();
        view.setCurrentIndex(panel->model().index(rowOfTitle(title), 1));
    }
    QString listedTitle() {
        return panel->view().currentIndex().siblingAtColumn(1).data().toString();
    }

    FilmListPanel* panel = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(FilmListWindowTest, OpensBesideTheFormAndMarksTheFilmShown) {
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(find<QAction>("filmListAction")->isChecked());
    EXPECT_EQ(titles(), (std::vector<QString>{"Rejs", "Łódź", "lodowisko", "Żurek", "Miś"}));
    EXPECT_EQ(listedTitle(), "Rejs");
    QStringList headers;
    for (int column = 0; column < panel->model().columnCount(); ++column) {
        headers << panel->model().headerData(column, Qt::Horizontal).toString();
    }
    EXPECT_EQ(headers, QStringList({"ID", "Tytuł", "Tytuł Oryginalny", "Gatunek", "Rok produkcji",
                                    "Reżyser", "Rodzaj nośnika", "Całość", "Wypożyczony"}));
    // F9 closes it again, Ctrl+L opens it.
    QTest::keyClick(dialog.get(), Qt::Key_F9);
    EXPECT_FALSE(panel->isVisible());
    QTest::keyClick(dialog.get(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(FilmListWindowTest, ChoosingAFilmStoresTheShownOneFirstAndShowsItAsPagingWould) {
    auto* title = find<QLineEdit>("titleEdit");
    title->selectAll();
    QTest::keyClicks(title, QStringLiteral("Rejs II"));  // typed, as a user does
    ui.answers.push_back(Answer::Yes);
    choose("Żurek");
    EXPECT_EQ(text("titleEdit"), "Żurek");
    EXPECT_EQ(counter(), Counter("4", "5"));
    EXPECT_EQ(storedTitle(0), u"Rejs II");
    // The list follows the save of the film left and still marks the film shown.
    EXPECT_EQ(titles().front(), "Rejs II");
    EXPECT_EQ(listedTitle(), "Żurek");
    // "Anuluj" to the question keeps the film and what was typed; the list marks that film, not
    // the row clicked.
    auto* edited = find<QLineEdit>("titleEdit");
    edited->selectAll();
    QTest::keyClicks(edited, QStringLiteral("Kopia"));
    ui.answers.push_back(Answer::Cancel);
    QTableView& view = panel->view();
    const QModelIndex other = panel->model().index(rowOfTitle("Miś"), 1);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(other).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(text("titleEdit"), "Kopia");
    EXPECT_EQ(listedTitle(), "Żurek");
    ASSERT_EQ(view.selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(view.selectionModel()->selectedRows().front().row(), rowOfTitle("Żurek"));
    ui.answers.push_back(Answer::No);  // the typing is dropped on the next move
    // Arrow keys walk the list, Enter on a row shows it too.
    QTest::keyClick(&panel->view(), Qt::Key_Up);
    EXPECT_EQ(text("titleEdit"), "lodowisko");
    QTest::keyClick(&panel->view(), Qt::Key_Return);
    EXPECT_EQ(text("titleEdit"), "lodowisko");
}

TEST_F(FilmListWindowTest, SortsByAHeaderInPolishOrderAndFiltersWithoutDiacritics) {
    QHeaderView* header = panel->view().horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    EXPECT_EQ(titles(), (std::vector<QString>{"lodowisko", "Łódź", "Miś", "Rejs", "Żurek"}));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    EXPECT_EQ(titles(), (std::vector<QString>{"Żurek", "Rejs", "Miś", "Łódź", "lodowisko"}));
    EXPECT_EQ(listedTitle(), "Rejs");  // the shown film stays marked

    auto* query = find<QLineEdit>("filmListQuery");
    QTest::keyClicks(query, QStringLiteral("LOD"));
    EXPECT_EQ(titles(), (std::vector<QString>{"Łódź", "lodowisko"}));
    query->clear();
    QTest::keyClicks(query, QStringLiteral("zurek"));
    EXPECT_EQ(titles(), (std::vector<QString>{"Żurek"}));
    query->clear();
    EXPECT_EQ(titles().size(), 5u);
}

TEST_F(FilmListWindowTest, FollowsNowyZapiszUsunAndALoanWithoutACommand) {
    click("newButton");
    find<QLineEdit>("titleEdit")->setText(QStringLiteral("Akademia"));
    click("saveButton");
    EXPECT_EQ(titles().back(), "Akademia");
    EXPECT_EQ(listedTitle(), "Akademia");

    // A loan to another person, not yet returned.
    DetailTable& loans = dialog->details().table(DetailList::LoansTo);
    ASSERT_TRUE(loans.newRow(dialog->filmTable().current().id));
    ASSERT_TRUE(loans.confirmRow(
        std::vector<std::u16string>{u"2026-12-11", u"", u"", u"", u"Ola", u""}, 0));
    ASSERT_TRUE(loans.saveRows());
    QCoreApplication::processEvents();
    find<QCheckBox>("filmListOnlyLent")->setChecked(true);
    EXPECT_EQ(titles(), (std::vector<QString>{"Akademia"}));
    EXPECT_EQ(panel->model().index(0, 8).data().toString(), "Ola, 2026-12-11");
    find<QCheckBox>("filmListOnlyLent")->setChecked(false);

    click("deleteButton");
    waitForList(5);
    EXPECT_EQ(titles(), (std::vector<QString>{"Rejs", "Łódź", "lodowisko", "Żurek", "Miś"}));
    EXPECT_EQ(listedTitle(), "Rejs");
}

TEST_F(FilmListWindowTest, InFilterModeListsOnlyTheMatchesUntilTheFilterIsCleared) {
    dialog->enterFilterMode({kRow, 3 * kRow});
    EXPECT_EQ(titles(), (std::vector<QString>{"Łódź", "Żurek"}));
    EXPECT_EQ(listedTitle(), "Łódź");
    choose("Żurek");
    EXPECT_EQ(text("titleEdit"), "Żurek");
    EXPECT_EQ(counter(), Counter("2", "2"));
    EXPECT_TRUE(find<QLabel>("filterIndicator")->isVisible());
    find<QAction>("clearFilterAction")->trigger();
    EXPECT_EQ(titles().size(), 5u);
}

TEST_F(FilmListWindowTest, AnotherDatabaseReplacesTheListAndAChangeBehindOurBackIsSeen) {
    const std::filesystem::path other = root.path() / "druga";
    {
        RecordingSink sink;
        Database database(buildPaths(other), sink);
        database.createMissing(true);
        testing::appendFilms(other / "KR_PDB.kr", {testing::makeFilm(2, u"Kobieta samotna")});
    }
    ui.folders.push_back(pathToQString(other));
    find<QAction>("openDatabaseAction")->trigger();
    waitForList(1);
    EXPECT_EQ(titles(), (std::vector<QString>{"Kobieta samotna"}));

    // Another program appends a film: the list reads the tables again on its own.
    testing::appendFilms(other / "KR_PDB.kr", {testing::makeFilm(3, u"Dekalog")});
    panel->checkFiles();
    waitForList(2);
    EXPECT_EQ(titles().back(), "Dekalog");
}

}  // namespace
}  // namespace ordavo
