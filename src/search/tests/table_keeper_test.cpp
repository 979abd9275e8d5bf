#include "storage/table_keeper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "search/film_search.h"
#include "storage/database.h"
#include "storage/film_table.h"
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
using testing::settle;
using testing::writeBehindOurBack;

constexpr std::int64_t kRow = kFilmRowSize;
constexpr std::size_t kTitle = 0;

// The views the program keeps of the film table and of a detail table, all built from files
// that have settled.
class TableKeeperTest : public ::testing::Test {
protected:
    TableKeeperTest() {
        database.createMissing(true);
        testing::appendFilms(films(), {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś"),
                                       makeFilm(4, u"Seksmisja"), makeFilm(5, u"Vabank")});
        testing::appendRows<Obsada>(
            cast(), {makeRow<Obsada>(1, 2), makeRow<Obsada>(3, 2), makeRow<Obsada>(2, 3),
                     makeRow<Obsada>(5, 4), makeRow<Obsada>(4, 5)});
        settle(films());
        settle(cast());
        EXPECT_EQ(ids(), (std::vector<std::int32_t>{2, 3, 4, 5}));
        EXPECT_EQ(search.search(kTitle, u"Miś"), (std::vector<std::int64_t>{kRow}));
        EXPECT_EQ(castIdsOf(2), (std::vector<std::int32_t>{1, 3}));
    }

    std::filesystem::path films() const { return database.paths().file(DataFile::Films); }
    std::filesystem::path cast() const { return database.paths().file(DataFile::Cast); }
    std::vector<std::int32_t> ids() {
        return table.rowIds(PosixFile(films(), PosixFile::Mode::Read));
    }
    std::vector<std::int32_t> castIdsOf(std::int32_t film) {
        details.loadRows(DetailList::Cast, film);
        std::vector<std::int32_t> listed;
        const DetailTable& rows = details.table(DetailList::Cast);
        for (std::size_t row = 0; row < rows.listedRows(); ++row) {
            listed.push_back(rows.rowId(row));
        }
        return listed;
    }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    Database database{buildPaths(), sink};
    DetailTables details{database};
    FilmTable table{database, details};
    FilmSearch search{database.keeper(DataFile::Films)};
};

TEST_F(TableKeeperTest, AChangeBehindOurBackWithTheSameSizeAndTimeIsSeenByEveryView) {
    // Another program gives the second film a new id and title, and moves a cast row.
    FilmRecord film = makeFilm(30, u"Miś II");
    writeBehindOurBack(films(), kRow,
                       std::span(reinterpret_cast<const unsigned char*>(&film), sizeof film));
    writeBehindOurBack(cast(), 2 * sizeof(Obsada), testing::bytesOf(makeRow<Obsada>(40, 2)));

    EXPECT_EQ(search.search(kTitle, u"Miś II"), (std::vector<std::int64_t>{kRow}));
    EXPECT_EQ(ids(), (std::vector<std::int32_t>{2, 30, 4, 5}));
    EXPECT_EQ(castIdsOf(2), (std::vector<std::int32_t>{1, 3, 40}));
    // The next identifiers lie above those the other program wrote.
    ASSERT_TRUE(details.table(DetailList::Cast).newRow(2));
    ASSERT_TRUE(details.table(DetailList::Cast).saveRows());
    EXPECT_EQ(castIdsOf(2), (std::vector<std::int32_t>{1, 3, 40, 41}));
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_GT(table.current().id, 30);
}

TEST_F(TableKeeperTest, OwnWritesAreCaughtUpWithByReadingOnlyTheRowsWritten) {
    const ReadLog reads;
    // A film renamed in place, a new one appended, a cast row added to the last film.
    table.current_offset = kRow;
    ASSERT_TRUE(table.readRow(false));
    storeText(table.current().title, u"Miś na lodzie");
    ASSERT_TRUE(table.updateRow());
    storeText(table.current().title, u"Miś II");
    ASSERT_TRUE(table.appendRow(false));
    const std::int32_t new_id = table.current().id;
    details.loadRows(DetailList::Cast, 5);
    ASSERT_TRUE(details.table(DetailList::Cast).newRow(5));
    ASSERT_TRUE(details.table(DetailList::Cast).saveRows());

    EXPECT_EQ(search.search(kTitle, u"Miś"), (std::vector<std::int64_t>{kRow, 4 * kRow}));
    EXPECT_EQ(ids(), (std::vector<std::int32_t>{2, 3, 4, 5, new_id}));
    EXPECT_EQ(castIdsOf(5), (std::vector<std::int32_t>{4, 6}));
    EXPECT_EQ(castIdsOf(2), (std::vector<std::int32_t>{1, 3}));
    // Films 2, 4 and 5 were neither written nor read again; nor was the cast row of film 4,
    // which was neither written nor shown.
    for (const std::int64_t untouched : {0 * kRow, 2 * kRow, 3 * kRow}) {
        EXPECT_FALSE(reads.touched(films(), static_cast<std::uint64_t>(untouched),
                                   static_cast<std::uint64_t>(untouched + kRow)))
            << "film row " << untouched / kRow;
    }
    EXPECT_FALSE(reads.touched(cast(), 3 * sizeof(Obsada), 4 * sizeof(Obsada)));
}

// A view that cannot catch up with a write, as when its read fails.
class FailingView final : public TableView {
public:
    void drop() override { dropped = true; }
    void rowsWritten(const PosixFile&, std::span<const std::uint64_t>) override {
        throw std::runtime_error("cannot read");
    }
    bool dropped = false;
};

TEST_F(TableKeeperTest, AViewThatCannotCatchUpIsDroppedAndTheWriteStands) {
    TableKeeper& keeper = database.keeper(DataFile::Films);
    FailingView failing;
    keeper.attach(failing);
    table.current_offset = kRow;
    ASSERT_TRUE(table.readRow(false));
    storeText(table.current().title, u"Miś na lodzie");
    EXPECT_TRUE(table.updateRow());
    keeper.detach(failing);
    EXPECT_TRUE(failing.dropped);
    EXPECT_EQ(search.search(kTitle, u"lodzie"), (std::vector<std::int64_t>{kRow}));
}

TEST_F(TableKeeperTest, AReadThatAnOwnWriteOvertookIsNotKeptEvenWithTheStampUnchanged) {
    TableKeeper& keeper = database.keeper(DataFile::Films);
    FailingView reader;  // stands for a view built by the read; never told of the write
    const TableKeeper::ReadStart start =
        keeper.startRead(PosixFile(films(), PosixFile::Mode::Read));
    table.current_offset = 0;
    ASSERT_TRUE(table.readRow(false));
    storeText(table.current().title, u"Rejs II");
    ASSERT_TRUE(table.updateRow());
    // Two writes in one clock tick can leave the stamp as it was: the count of writes tells.
    EXPECT_FALSE(keeper.recordRead(start, start.before, &reader));
}

}  // namespace
}  // namespace ordavo
