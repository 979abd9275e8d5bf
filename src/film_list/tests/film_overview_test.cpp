#include "film_list/film_overview.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "film_list/overview_order.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "tabs/detail_tables.h"
#include "tabs/tests/detail_test_support.h"
#include "testing/behind_our_back.h"
#include "testing/read_log.h"

namespace ordavo {
namespace {

using testing::makeFilm;
using testing::makeRow;
using testing::ReadLog;

constexpr std::int64_t kRow = kFilmRowSize;

FilmRecord film(std::int32_t id, std::u16string_view title, std::u16string_view year,
                std::u16string_view director) {
    FilmRecord record = makeFilm(id, title);
    setFieldText(record, FilmFieldId("production_year").info(), year);
    setFieldText(record, FilmFieldId("director_name").info(), director);
    return record;
}

Wypozycz_Innym loan(std::int32_t id, std::int32_t film_id, std::u16string_view person,
                    std::u16string_view lent, std::u16string_view returned) {
    Wypozycz_Innym row = makeRow<Wypozycz_Innym>(id, film_id);
    storeText(row.person, person);
    storeText(row.loan_date, lent);
    storeText(row.return_date, returned);
    return row;
}

class FilmOverviewTest : public ::testing::Test {
protected:
    FilmOverviewTest() {
        database.createMissing(true);
        testing::appendFilms(
            films(),
            {film(2, u"Rejs", u"1970", u"Marek Piwowski"), film(3, u"Łódź", u"1999", u"Anna Żółw"),
             film(4, u"lodowisko", u"2001", u"Jan Lis"), film(5, u"Żurek", u"999", u"Ewa Ćma")});
        testing::appendRows<Wypozycz_Innym>(loans(),
                                            {loan(1, 3, u"Kasia", u"2026-11-02", u""),
                                             loan(2, 4, u"Piotr", u"2026-01-05", u"2026-02-01")});
        testing::settle(films());
        testing::settle(loans());
        scanAndInstall();
    }

    std::filesystem::path films() const { return database.paths().file(DataFile::Films); }
    std::filesystem::path loans() const { return database.paths().file(DataFile::LoansTo); }
    void scanAndInstall() {
        ASSERT_TRUE(overview.install(
            scanOverview(database.keeper(DataFile::Films), database.keeper(DataFile::LoansTo))));
        ASSERT_TRUE(overview.upToDate());
    }
    // Column `column` of the shown rows, in the order shown.
    std::vector<std::u16string> shown(OverviewColumn column) {
        std::vector<std::u16string> cells;
        for (const std::size_t row : order.update(overview)) {
            cells.push_back(overview.cellText(row, column));
        }
        return cells;
    }
    std::vector<std::u16string> titles() { return shown(OverviewColumn::Title); }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    Database database{buildPaths(), sink};
    DetailTables details{database};
    FilmTable table{database, details};
    FilmOverview overview{database.keeper(DataFile::Films), database.keeper(DataFile::LoansTo)};
    OverviewOrder order;
};

TEST_F(FilmOverviewTest, ShowsEveryFilmWithItsFieldsAndWhoHasItNow) {
    EXPECT_EQ(titles(), (std::vector<std::u16string>{u"Rejs", u"Łódź", u"lodowisko", u"Żurek"}));
    EXPECT_EQ(shown(OverviewColumn::Id), (std::vector<std::u16string>{u"2", u"3", u"4", u"5"}));
    EXPECT_EQ(shown(OverviewColumn::Director)[1], u"Anna Żółw");
    // Film 4 came back; film 3 is still lent out.
    EXPECT_EQ(shown(OverviewColumn::Lent),
              (std::vector<std::u16string>{u"", u"Kasia, 2026-11-02", u"", u""}));
    EXPECT_EQ(overviewColumnLabel(OverviewColumn::Title), "Tytuł");
    EXPECT_EQ(overviewColumnLabel(OverviewColumn::Director), "Reżyser");
    EXPECT_EQ(overviewColumnLabel(OverviewColumn::Overall), "Całość");
}

TEST_F(FilmOverviewTest, SortsInPolishOrderAndByNumberBothWays) {
    order.sortBy(OverviewColumn::Title);
    EXPECT_EQ(titles(), (std::vector<std::u16string>{u"lodowisko", u"Łódź", u"Rejs", u"Żurek"}));
    order.sortBy(OverviewColumn::Title, false);
    EXPECT_EQ(titles(), (std::vector<std::u16string>{u"Żurek", u"Rejs", u"Łódź", u"lodowisko"}));
    order.sortBy(OverviewColumn::Year);  // "999" is a smaller number than "1970"
    EXPECT_EQ(titles(), (std::vector<std::u16string>{u"Żurek", u"Rejs", u"Łódź", u"lodowisko"}));
    order.sortBy(OverviewColumn::Id, false);
    EXPECT_EQ(shown(OverviewColumn::Id), (std::vector<std::u16string>{u"5", u"4", u"3", u"2"}));
    order.sortBy(std::nullopt);
    EXPECT_EQ(titles(), (std::vector<std::u16string>{u"Rejs", u"Łódź", u"lodowisko", u"Żurek"}));
}

TEST_F(FilmOverviewTest, TheQuickFilterKeepsFilmsWithEveryWordInSomeColumn) {
    struct Case {
        std::u16string_view query;
        std::vector<std::u16string> titles;
    };
    const std::vector<Case> cases = {
        {u"lodz", {u"Łódź"}},
        {u"ŁÓD", {u"Łódź", u"lodowisko"}},
        {u"zolw", {u"Łódź"}},            // the director's column
        {u"  zolw   1999 ", {u"Łódź"}},  // two words, both in the film
        {u"zolw 2001", {}},              // each word in another film
        {u"kasia", {u"Łódź"}},           // who has it now
        {u"piotr", {}},                  // a loan already returned
        {u"5", {u"Żurek"}},              // the id
        {u"", {u"Rejs", u"Łódź", u"lodowisko", u"Żurek"}},
    };
    for (const Case& c : cases) {
        order.setQuery(c.query);
        EXPECT_EQ(titles(), c.titles) << std::string(c.query.begin(), c.query.end());
    }
    order.setQuery(u"");
    order.setOnlyLent(true);
    EXPECT_EQ(titles(), (std::vector<std::u16string>{u"Łódź"}));
    order.setOnlyLent(false);
    order.restrictTo(std::vector<std::int64_t>{3 * kRow, kRow});
    EXPECT_EQ(titles(), (std::vector<std::u16string>{u"Łódź", u"Żurek"}));
    order.restrictTo(std::nullopt);
    EXPECT_EQ(titles().size(), 4u);
}

TEST_F(FilmOverviewTest, OwnWritesAreFollowedByReadingOnlyTheRowsWritten) {
    order.sortBy(OverviewColumn::Title);
    EXPECT_EQ(titles().front(), u"lodowisko");
    const ReadLog reads;
    // A title changed (it moves in the order), then a new film.
    table.current_offset = 2 * kRow;
    ASSERT_TRUE(table.readRow(false));
    const std::uint64_t after_reading = reads.bytesRead(films());
    storeText(table.current().title, u"Zoo");
    ASSERT_TRUE(table.updateRow());
    storeText(table.current().title, u"Akademia");
    ASSERT_TRUE(table.appendRow(false));
    // A loan of film 2 and the return of film 3.
    details.loadRows(DetailList::LoansTo, 2);
    DetailTable& lent = details.table(DetailList::LoansTo);
    ASSERT_TRUE(lent.newRow(2));
    ASSERT_TRUE(
        lent.confirmRow(std::vector<std::u16string>{u"2026-12-11", u"", u"", u"", u"Ola", u""}, 0));
    ASSERT_TRUE(lent.saveRows());
    details.loadRows(DetailList::LoansTo, 3);
    std::vector<std::u16string> returned = *lent.editRow(0);
    returned[1] = u"2026-12-10";
    ASSERT_TRUE(lent.confirmRow(returned, 0));
    ASSERT_TRUE(lent.saveRows());

    EXPECT_TRUE(overview.upToDate());
    EXPECT_EQ(titles(),
              (std::vector<std::u16string>{u"Akademia", u"Łódź", u"Rejs", u"Zoo", u"Żurek"}));
    order.sortBy(std::nullopt);
    EXPECT_EQ(shown(OverviewColumn::Lent),
              (std::vector<std::u16string>{u"Ola, 2026-12-11", u"", u"", u"", u""}));
    // Two rows of the shown fields, far less than one whole film row each.
    EXPECT_LT(reads.bytesRead(films()) - after_reading, static_cast<std::uint64_t>(kRow));
}

TEST_F(FilmOverviewTest, AChangeByAnotherProgramMakesItStaleUntilScannedAgain) {
    FilmRecord renamed = film(3, u"Łódź Kaliska", u"1999", u"Anna Żółw");
    testing::writeBehindOurBack(
        films(), kRow, std::span(reinterpret_cast<const unsigned char*>(&renamed), sizeof renamed));
    EXPECT_FALSE(overview.upToDate());
    EXPECT_TRUE(overview.stale());
    testing::settle(films());  // a scan of a file changed this very moment is trusted by nobody
    scanAndInstall();
    EXPECT_EQ(titles()[1], u"Łódź Kaliska");

    // A film deleted by this program replaces the table: scanned again too.
    table.current_offset = 0;
    ASSERT_TRUE(table.readRow(false));
    FilterState no_filter;
    ASSERT_TRUE(table.deleteRow(no_filter));
    EXPECT_TRUE(overview.stale());
    scanAndInstall();
    EXPECT_EQ(titles(), (std::vector<std::u16string>{u"Łódź Kaliska", u"lodowisko", u"Żurek"}));
}

TEST_F(FilmOverviewTest, AScanOverTakenByAWriteIsRefused) {
    std::unique_ptr<OverviewScan> scan =
        scanOverview(database.keeper(DataFile::Films), database.keeper(DataFile::LoansTo));
    table.current_offset = 0;
    ASSERT_TRUE(table.readRow(false));
    storeText(table.current().title, u"Rejs II");
    ASSERT_TRUE(table.updateRow());
    EXPECT_FALSE(overview.install(std::move(scan)));
    // What it held was brought up to date by the write itself.
    EXPECT_EQ(titles().front(), u"Rejs II");
}

}  // namespace
}  // namespace ordavo
