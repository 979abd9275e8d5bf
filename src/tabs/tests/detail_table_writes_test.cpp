#include <gtest/gtest.h>

#include "tabs/tests/detail_table_fixture.h"

namespace ordavo {
namespace {

using namespace detail_testing;

TEST_F(DetailTableTest, EachTableIssuesItsOwnIdsAboveTheLargestStored) {
    for (DetailList list : kLoadOrder) {
        SCOPED_TRACE(testing::listName(list));
        DetailTable& table = tables.table(list);
        const DetailLayout& layout = table.layout();
        table.loadRows(7);

        // An empty file: the new row gets ID 1 and shows the placeholder in every text column.
        table.newRow(7);
        ASSERT_EQ(table.listedRows(), 1u);
        for (std::size_t c = 0; c < layout.fields.size(); ++c) {
            EXPECT_EQ(table.cellText(0, c), kNewRowText);
        }
        EXPECT_EQ(table.cellText(0, idColumn(layout)), u"1");
        EXPECT_EQ(table.cellText(0, filmIdColumn(layout)), u"7");
        EXPECT_TRUE(table.new_row_pending);
        EXPECT_EQ(table.countFileRows(), 0u);

        // The first save writes it at offset 0, the second rewrites it in place.
        table.saveRows();
        EXPECT_FALSE(table.new_row_pending);
        table.saveRows();
        EXPECT_EQ(fileIds(table.path(), layout.row_size), (std::vector<std::int32_t>{1}));

        // The next id follows the largest stored, even when it belongs to another film.
        testing::appendRowBytes(table.path(), {makeRowBytes(layout, 41, 9, u"obcy")});
        table.newRow(7);
        EXPECT_EQ(ids(table), (std::vector<std::int32_t>{1, 42}));
        table.saveRows();

        // Deleting the row stored last frees its id; deleting another row does not.
        ASSERT_TRUE(table.deleteRow(1, 7));
        EXPECT_EQ(fileIds(table.path(), layout.row_size), (std::vector<std::int32_t>{1, 41}));
        table.newRow(7);
        EXPECT_EQ(ids(table), (std::vector<std::int32_t>{1, 42}));
        table.saveRows();
        ASSERT_TRUE(table.deleteRow(0, 7));
        table.newRow(7);
        EXPECT_EQ(ids(table), (std::vector<std::int32_t>{42, 43}));
    }
}

TEST_F(DetailTableTest, ANewRowNeverTakesAnIdThatIsStoredWhateverTheOrderOfTheRows) {
    struct Case {
        std::vector<std::int32_t> stored;  // in file order, all of film 3
        std::optional<std::int32_t> next;
    };
    const std::vector<Case> cases = {
        {{1, 0}, 2},  // a row marked 0 by an older program, stored last
        {{5, -3}, 6},    {{-4, -9}, 1},
        {{3, 9, 2}, 10}, {{std::numeric_limits<std::int32_t>::max(), 1}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.stored));
        testing::truncateFile(castFile(), 0);
        for (std::int32_t id : c.stored) {
            testing::appendRows(castFile(), std::vector<Obsada>{castRow(id, 3, u"obcy")});
        }
        const Bytes before = testing::readBytes(castFile());
        sink.messages.clear();
        cast.loadRows(2);
        if (!c.next) {
            EXPECT_FALSE(cast.newRow(2));
            EXPECT_EQ(sink.messages.size(), 1u);
            EXPECT_EQ(cast.rowCount(), 0u);
            continue;
        }
        ASSERT_TRUE(cast.newRow(2));
        EXPECT_EQ(cast.rows.back().ID, *c.next);
        cast.saveRows();
        // The other film's rows are as they were; the new row is appended after them.
        const Bytes after = testing::readBytes(castFile());
        ASSERT_EQ(after.size(), before.size() + sizeof(Obsada));
        EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
        std::vector<std::int32_t> expected = c.stored;
        expected.push_back(*c.next);
        EXPECT_EQ(castFileIds(), expected);
    }
}

TEST_F(DetailTableTest, ANewRowWhoseIdAnotherProgramStoredMeanwhileIsOnlyAppended) {
    cast.loadRows(2);
    ASSERT_TRUE(cast.newRow(2));  // ID 1, pending
    // Another program stores a row with that ID before this one saves.
    testing::appendRows(castFile(), std::vector<Obsada>{castRow(1, 3, u"obcy")});
    cast.saveRows();
    ASSERT_EQ(castFileIds(), (std::vector<std::int32_t>{1, 1}));
    cast.loadRows(3);
    EXPECT_EQ(column(cast, 0), std::vector<std::u16string>{u"obcy"});
}

TEST_F(DetailTableTest, ASaveNeverWritesOverAnotherFilmsRowOfTheSameId) {
    // Rows marked 0 by an older program, and an ID written twice by another one.
    testing::appendRows(castFile(),
                        std::vector<Obsada>{castRow(0, 2, u"pierwszy"), castRow(0, 3, u"obcy"),
                                            castRow(5, 3, u"obcy 5"), castRow(5, 2, u"mój 5")});
    const Bytes before = testing::readBytes(castFile());
    cast.loadRows(2);
    cast.saveRows();  // nothing changed: nothing written
    EXPECT_EQ(testing::readBytes(castFile()), before);
    editAndConfirm(cast, 0, [](auto& texts) { texts[0] = u"zmieniony"; });
    editAndConfirm(cast, 1, [](auto& texts) { texts[0] = u"mój zmieniony"; });
    cast.saveRows();
    cast.loadRows(3);
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"obcy", u"obcy 5"}));
    cast.loadRows(2);
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"zmieniony", u"mój zmieniony"}));
    // A delete takes the shown film's row of that ID, not the first in the file.
    ASSERT_TRUE(cast.deleteRow(1, 2));
    cast.loadRows(3);
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"obcy", u"obcy 5"}));
}

TEST_F(DetailTableTest, DeleteReplacesTheTableAtomicallyInTheDatabaseFolder) {
    const std::filesystem::path temp = database.paths().database_folder / "KR_OB.kr0";
    const auto reset = [&] {
        std::filesystem::remove(castFile());
        testing::appendRows(
            castFile(),
            std::vector<Obsada>{castRow(1, 7, u"a"), castRow(2, 7, u"b"), castRow(3, 7, u"c")});
        cast.loadRows(7);
    };
    // Stopped before the rename: the old table stays as it was, with no row marked 0 and nothing
    // left over. (A last row left marked 0 would make the next New issue ID 1 a second time.)
    for (ReplaceStep stop : {ReplaceStep::TempWritten, ReplaceStep::TempSynced}) {
        reset();
        cast.setReplaceStepHook([&](ReplaceStep step) {
            EXPECT_TRUE(std::filesystem::exists(temp));
            EXPECT_FALSE(std::filesystem::exists(root / "KR_OB.kr0"));
            if (step == stop) {
                throw std::runtime_error("stopped");
            }
        });
        EXPECT_THROW(cast.deleteRow(2, 7), std::runtime_error);
        EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1, 2, 3}));
        EXPECT_FALSE(std::filesystem::exists(temp));
        cast.setReplaceStepHook({});
        cast.loadRows(7);
        cast.newRow(7);
        EXPECT_EQ(ids(cast), (std::vector<std::int32_t>{1, 2, 3, 4}));
        ASSERT_TRUE(cast.deleteRow(1, 7));
        EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1, 3}));
    }
    // Stopped just after the rename: the compacted table is in place.
    reset();
    cast.setReplaceStepHook([](ReplaceStep step) {
        if (step == ReplaceStep::Renamed) {
            throw std::runtime_error("stopped");
        }
    });
    EXPECT_THROW(cast.deleteRow(0, 7), std::runtime_error);
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{2, 3}));
    cast.setReplaceStepHook({});

    // A temporary file left by a crash is overwritten.
    reset();
    testing::writeText(temp, "stale bytes of an earlier crash");
    ASSERT_TRUE(cast.deleteRow(0, 7));
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{2, 3}));
    EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST_F(DetailTableTest, ASaveCutShortIsFinishedBeforeTheNextWriteOfItsTableOrByOpening) {
    // The kill stops the row write after its first 700 of 1412 bytes; every field of the new row
    // is typed over, so that the cut shows.
    constexpr std::size_t kWritten = 700;
    constexpr std::size_t kRow = sizeof(Obsada);
    struct Killed {
        const char* what;
        std::int32_t id;
        std::uint64_t offset;
    };
    const Killed killed_saves[] = {
        {"a save of row 2", 2, 1 * kRow},
        {"a save appending row 4", 4, 3 * kRow},
    };
    // Film 7's list was loaded before the kill, as a window showing it would hold it.
    struct Next {
        const char* what;
        std::function<void()> run;
    };
    const Next next_steps[] = {
        {"a save of film 7's rows",
         [&] {
             editAndConfirm(cast, 0, [](auto& texts) { texts[0] = u"Inna"; });
             cast.saveRows();
         }},
        {"Nowy for film 7",
         [&] {
             cast.newRow(7);
             cast.saveRows();
         }},
        {"a delete of film 7's row", [&] { ASSERT_TRUE(cast.deleteRow(0, 7)); }},
        {"opening the database", [&] { EXPECT_EQ(database.recoverInterruptedWrites(), 1u); }},
    };
    for (const Killed& killed : killed_saves) {
        for (const Next& next : next_steps) {
            SCOPED_TRACE(std::string(killed.what) + ", then " + next.what);
            std::filesystem::remove(castFile());
            testing::appendRows(castFile(),
                                std::vector<Obsada>{castRow(1, 2, u"Jan"), castRow(2, 2, u"Ewa"),
                                                    castRow(3, 7, u"Olga")});
            cast.loadRows(7);

            const Bytes row = makeRowBytes(kObsadaLayout, killed.id, 2, u"zapisane");
            testing::leaveKilledRowWrite(castFile(), killed.offset, row, kWritten);
            next.run();

            database.checkpoint();
            EXPECT_FALSE(hasPendingRedo(database.paths()));
            EXPECT_EQ(std::filesystem::file_size(castFile()) % kRow, 0u);
            const std::vector<std::int32_t> stored = castFileIds();
            EXPECT_EQ(std::set<std::int32_t>(stored.begin(), stored.end()).size(), stored.size());
            // Film 2's rows, found through the table's index, hold the whole row.
            cast.loadRows(2);
            bool found = false;
            for (std::size_t item = 0; item < cast.rowCount(); ++item) {
                if (cast.rowId(item) == killed.id) {
                    found = true;
                    EXPECT_EQ(testing::bytesOf(cast.rows[item]), row);
                }
            }
            EXPECT_TRUE(found);
        }
    }
}

}  // namespace
}  // namespace ordavo
