#include <gtest/gtest.h>

#include "tabs/tests/detail_table_fixture.h"

namespace ordavo {
namespace {

using namespace detail_testing;

TEST_F(DetailTableTest, LoadRowsListsOneFilmsRowsInFileOrderIdZeroIncluded) {
    testing::appendRows(castFile(), std::vector<Obsada>{castRow(1, 7, u"a"), castRow(2, 9, u"b"),
                                                        castRow(3, 7, u"c"), castRow(0, 9, u"d"),
                                                        castRow(5, 9, u"e")});
    cast.newRow(9);  // pending until the load below drops it
    cast.loadRows(9);
    EXPECT_FALSE(cast.new_row_pending);
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"b", u"d", u"e"}));
    EXPECT_EQ(column(cast, 2), (std::vector<std::u16string>{u"2", u"0", u"5"}));
    cast.loadRows(7);
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"a", u"c"}));
    cast.loadRows(8);
    EXPECT_EQ(cast.listedRows(), 0u);

    // The row with ID 0 stays when another row goes, and goes when it is deleted itself.
    cast.loadRows(9);
    ASSERT_TRUE(cast.deleteRow(0, 9));  // "b"
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1, 3, 0, 5}));
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"d", u"e"}));
    ASSERT_TRUE(cast.deleteRow(0, 9));  // "d"
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1, 3, 5}));
}

TEST_F(DetailTableTest, SaveRewritesMatchingRowsInPlaceAndAppendsTheNewRow) {
    testing::appendRows(castFile(), std::vector<Obsada>{castRow(1, 7, u"a"), castRow(2, 9, u"b"),
                                                        castRow(3, 7, u"c")});
    const Bytes before = testing::readBytes(castFile());
    cast.loadRows(7);
    editAndConfirm(cast, 1, [](auto& texts) { texts[0] = u"c2"; });
    EXPECT_EQ(testing::readBytes(castFile()), before);  // confirming writes nothing

    cast.newRow(7);  // saves first: the confirmed change goes into the file
    EXPECT_NE(testing::readBytes(castFile()), before);
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1, 2, 3}));
    cast.saveRows();
    EXPECT_FALSE(cast.new_row_pending);
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1, 2, 3, 4}));

    const Bytes after = testing::readBytes(castFile());
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 2 * 1412),
              Bytes(before.begin(), before.begin() + 2 * 1412));
    cast.loadRows(7);
    EXPECT_EQ(column(cast, 0),
              (std::vector<std::u16string>{u"a", u"c2", std::u16string(kNewRowText)}));
}

TEST_F(DetailTableTest, NowyTwiceSavesTheFirstNewRowInsideTheSecond) {
    cast.loadRows(7);
    cast.newRow(7);
    cast.newRow(7);
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1}));
    EXPECT_EQ(ids(cast), (std::vector<std::int32_t>{1, 2}));
    EXPECT_TRUE(cast.new_row_pending);
    cast.saveRows();
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1, 2}));
}

TEST_F(DetailTableTest, DeletingARowNeverSavedChangesNothing) {
    testing::appendRows(castFile(), std::vector<Obsada>{castRow(1, 7, u"a")});
    cast.loadRows(7);
    cast.newRow(7);
    const Bytes before = testing::readBytes(castFile());
    EXPECT_FALSE(cast.deleteRow(1, 7));
    EXPECT_EQ(ids(cast), (std::vector<std::int32_t>{1, 2}));
    EXPECT_TRUE(cast.new_row_pending);
    EXPECT_EQ(testing::readBytes(castFile()), before);
}

TEST_F(DetailTableTest, ConfirmedButUnsavedChangesAreLostOnReloadAndDelete) {
    testing::appendRows(castFile(), std::vector<Obsada>{castRow(1, 7, u"a"), castRow(2, 7, u"b")});
    cast.loadRows(7);
    editAndConfirm(cast, 0, [](auto& texts) { texts[0] = u"zmiana"; });
    cast.loadRows(8);  // paging to another film and back, without saving
    cast.loadRows(7);
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"a", u"b"}));

    // A delete saves nothing first: the change and the new row both go.
    editAndConfirm(cast, 0, [](auto& texts) { texts[0] = u"zmiana"; });
    cast.rows.push_back(castRow(3, 7, u"nowy"));
    cast.new_row_pending = true;
    ASSERT_TRUE(cast.deleteRow(1, 7));
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"a"}));
    EXPECT_FALSE(cast.new_row_pending);
    EXPECT_EQ(castFileIds(), (std::vector<std::int32_t>{1}));
}

TEST_F(DetailTableTest, EditFillsTheBoxesAndConfirmCutsEachTextToItsField) {
    testing::appendRows(castFile(),
                        std::vector<Obsada>{castRow(4, 7, u"Jan"), castRow(5, 7, u"Ewa")});
    cast.loadRows(7);
    EXPECT_FALSE(cast.editRow(2));  // not a list item: nothing to fill

    const std::optional<std::vector<std::u16string>> texts = cast.editRow(1);
    ASSERT_TRUE(texts);
    EXPECT_EQ(*texts, (std::vector<std::u16string>{u"Ewa", u"rola"}));
    EXPECT_EQ(cast.edit_row.ID, 5);
    EXPECT_EQ(cast.edit_row.IDPDB, 7);

    // 600 units into a field of width 501 keep 500; a pair of surrogates is never split.
    const std::u16string emoji = u"\U0001F3AC";
    const std::vector<std::u16string> typed = {repeat(u'x', 600), repeat(u'y', 199) + emoji};
    ASSERT_TRUE(cast.confirmRow(typed, 1));
    EXPECT_EQ(cast.cellText(1, 0), repeat(u'x', 500));
    EXPECT_EQ(cast.cellText(1, 1), repeat(u'y', 199));
    EXPECT_EQ(cast.cellText(1, 2), u"5");

    // Shorter text later leaves nothing of the longer one behind the NUL.
    ASSERT_TRUE(cast.confirmRow(std::vector<std::u16string>{u"Jo", u"r"}, 1));
    EXPECT_EQ(std::u16string_view(cast.rows[1].full_name, 4), std::u16string_view(u"Jo\0\0", 4));

    // Without a selection nothing is stored, but the editor's record takes the texts.
    EXPECT_FALSE(cast.confirmRow(std::vector<std::u16string>{u"inne", u"r"}, std::nullopt));
    EXPECT_EQ(cast.cellText(1, 0), u"Jo");
    EXPECT_EQ(readText(cast.edit_row.full_name), u"inne");
    EXPECT_THROW(cast.confirmRow(std::vector<std::u16string>{u"one"}, 0), std::invalid_argument);
}

TEST_F(DetailTableTest, ClearingTheListKeepsTheRowsInMemory) {
    struct CountingObserver : DetailTableObserver {
        void listAboutToChange() override {
            calls.push_back("about " + std::to_string(table->listedRows()));
        }
        void listChanged() override {
            calls.push_back("changed " + std::to_string(table->listedRows()));
        }
        const DetailTable* table = nullptr;
        std::vector<std::string> calls;
    } observer;
    observer.table = &cast;
    cast.setObserver(&observer);
    testing::appendRows(castFile(), std::vector<Obsada>{castRow(1, 7, u"a"), castRow(2, 7, u"b")});

    cast.loadRows(7);
    cast.clearList();
    EXPECT_EQ(cast.rowCount(), 2u);
    EXPECT_EQ(cast.listedRows(), 0u);
    EXPECT_FALSE(cast.editRow(0));
    EXPECT_FALSE(cast.deleteRow(0, 7));
    cast.newRow(7);  // rebuilds the list from all of `rows`
    EXPECT_EQ(cast.listedRows(), 3u);
    EXPECT_EQ(observer.calls, (std::vector<std::string>{"about 0", "changed 2", "about 2",
                                                        "changed 0", "about 0", "changed 3"}));
    cast.setObserver(nullptr);
}

TEST_F(DetailTableTest, AFileAtTheSizeLimitTakesNoSave) {
    for (std::uint64_t length : {detail_file::kSizeLimit, detail_file::kSizeLimit + 100}) {
        SCOPED_TRACE(length);
        sink.messages.clear();
        testing::truncateFile(castFile(), 0);
        testing::truncateFile(castFile(), length);  // sparse: no disk space is taken
        cast.rows = {castRow(7, 7, u"a")};
        cast.new_row_pending = true;

        cast.saveRows();
        const std::pair<std::string, std::string> full{std::string(kFileFullMessage),
                                                       std::string(kFileFullTitle)};
        EXPECT_EQ(sink.messages, (std::vector{full}));
        EXPECT_TRUE(cast.new_row_pending);
        EXPECT_EQ(std::filesystem::file_size(castFile()), length);
        {
            PosixFile file(castFile(), PosixFile::Mode::Read);
            std::int32_t first_id = -1;
            file.readAt(&first_id, sizeof first_id, 0);
            EXPECT_EQ(first_id, 0);
        }

        // "Nowy" still adds its row in memory after the refused save.
        cast.newRow(7);
        EXPECT_EQ(sink.messages.size(), 2u);
        EXPECT_EQ(cast.rowCount(), 2u);
        EXPECT_EQ(cast.rows.back().ID, 1);
        EXPECT_TRUE(cast.new_row_pending);
    }
}

TEST_F(DetailTableTest, LoanColumnsShowTheReturnDateThirdThoughItIsStoredSecond) {
    struct Expect {
        std::u16string_view cell;
        std::string_view title;
        int width;
    };
    const Expect columns[] = {{u"01.02.2003", "Data wypożyczenia", 100},
                              {u"nowa", "Stan przed wypożyczeniem", 150},
                              {u"04.05.2006", "Data oddania", 100},
                              {u"porysowana", "Stan po oddaniu", 150},
                              {u"Jan", "Osoba", 150},
                              {u"K-17", "Nr katalogowy filmu", 150},
                              {u"3", "ID", 150},
                              {u"7", "IDPDB", 150}};
    const auto fill = [](auto row) {
        storeText(row.loan_date, u"01.02.2003");
        storeText(row.return_date, u"04.05.2006");
        storeText(row.condition_before, u"nowa");
        storeText(row.condition_after, u"porysowana");
        storeText(row.person, u"Jan");
        storeText(row.film_catalogue_number, u"K-17");
        return row;
    };
    testing::appendRows(database.paths().file(DataFile::LoansTo),
                        std::vector{fill(makeRow<Wypozycz_Innym>(3, 7))});
    testing::appendRows(database.paths().file(DataFile::LoansFrom),
                        std::vector{fill(makeRow<Wypozycz_Od_Innych>(3, 7))});

    for (DetailList list : {DetailList::LoansTo, DetailList::LoansFrom}) {
        SCOPED_TRACE(testing::listName(list));
        DetailTable& table = tables.table(list);
        const DetailLayout& layout = table.layout();
        table.loadRows(7);
        ASSERT_EQ(columnCount(layout), std::size(columns));
        for (std::size_t c = 0; c < std::size(columns); ++c) {
            EXPECT_EQ(table.cellText(0, c), columns[c].cell) << c;
            EXPECT_EQ(columnTitle(layout, c), columns[c].title) << c;
            EXPECT_EQ(columnWidth(layout, c), columns[c].width) << c;
        }
        // The editor's boxes come in file order; a 30-character return date keeps 20.
        std::optional<std::vector<std::u16string>> texts = table.editRow(0);
        ASSERT_TRUE(texts);
        EXPECT_EQ(*texts, (std::vector<std::u16string>{u"01.02.2003", u"04.05.2006", u"nowa",
                                                       u"porysowana", u"Jan", u"K-17"}));
        (*texts)[1] = repeat(u'9', 30);
        ASSERT_TRUE(table.confirmRow(*texts, 0));
        EXPECT_EQ(table.cellText(0, 2), repeat(u'9', 20));
        EXPECT_EQ(table.cellText(0, 1), u"nowa");
        EXPECT_EQ(table.cellText(0, 0), u"01.02.2003");
    }
    EXPECT_EQ(tables.loansTo().layout().fields[2].editor_label, "Stan przed wypożyczeniem");
    EXPECT_EQ(tables.loansFrom().layout().fields[2].editor_label, "Stan przed wypożyczeniam");
    EXPECT_EQ(readText(tables.loansTo().rows[0].return_date), repeat(u'9', 20));
    EXPECT_EQ(readText(tables.loansFrom().rows[0].condition_before), u"nowa");
}

TEST_F(DetailTableTest, CompanyListsDifferInTwoWidthsAndOneTitle) {
    const std::string_view titles[] = {"Nazwa firmy", "Adres",      "Telefon", "Fax",  "E-Mail",
                                       "Strona WWW",  "Narodowość", "ID",      "IDPDB"};
    const struct {
        DetailList list;
        std::string_view email_title;
        int phone_width;
    } cases[] = {{DetailList::Producers, "E-Mail", 100}, {DetailList::Distributors, "E-mail", 150}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::listName(c.list));
        DetailTable& table = tables.table(c.list);
        const DetailLayout& layout = table.layout();
        ASSERT_EQ(columnCount(layout), std::size(titles));
        for (std::size_t column = 0; column < std::size(titles); ++column) {
            const bool phone_or_fax = column == 2 || column == 3;
            EXPECT_EQ(columnTitle(layout, column), column == 4 ? c.email_title : titles[column]);
            EXPECT_EQ(columnWidth(layout, column), phone_or_fax ? c.phone_width : 150);
        }
        // A telephone number of 40 characters keeps 30; the e-mail keeps 200.
        table.loadRows(7);
        table.newRow(7);
        std::optional<std::vector<std::u16string>> texts = table.editRow(0);
        ASSERT_TRUE(texts);
        (*texts)[2] = repeat(u'5', 40);
        (*texts)[4] = repeat(u'e', 250);
        ASSERT_TRUE(table.confirmRow(*texts, 0));
        EXPECT_EQ(table.cellText(0, 2), repeat(u'5', 30));
        EXPECT_EQ(table.cellText(0, 3), kNewRowText);
        EXPECT_EQ(table.cellText(0, 4), repeat(u'e', 200));
    }
}

TEST_F(DetailTableTest, APartialLastRowIsARowPaddedWithZeros) {
    testing::appendRows(castFile(), std::vector<Obsada>{castRow(1, 7, u"a")});
    const Bytes second = testing::bytesOf(castRow(2, 7, u"b"));
    testing::appendRowBytes(castFile(), {Bytes(second.begin(), second.begin() + 100)});

    EXPECT_EQ(cast.countFileRows(), 2u);
    EXPECT_EQ(cast.lastFileRowId(), 2);
    cast.loadRows(7);
    EXPECT_EQ(column(cast, 0), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(column(cast, 1), (std::vector<std::u16string>{u"rola", u""}));  // cut off

    editAndConfirm(cast, 1, [](auto& texts) { texts[1] = u"Maciek"; });
    cast.newRow(7);  // saves the partial row whole, then the new row follows it
    cast.saveRows();
    EXPECT_EQ(std::filesystem::file_size(castFile()), 3u * sizeof(Obsada));
    cast.loadRows(7);
    EXPECT_EQ(column(cast, 1),
              (std::vector<std::u16string>{u"rola", u"Maciek", std::u16string(kNewRowText)}));
    EXPECT_EQ(ids(cast), (std::vector<std::int32_t>{1, 2, 3}));
}

TEST_F(DetailTableTest, LargeTablesAreReadAndRewrittenAcrossChunks) {
    // About four chunks of rows of films 7 and 9 alternately.
    std::vector<Obsada> rows;
    for (std::int32_t id = 1; id <= 3000; ++id) {
        const std::string digits = std::to_string(id);
        rows.push_back(
            castRow(id, id % 2 == 0 ? 9 : 7, u"r" + std::u16string(digits.begin(), digits.end())));
    }
    testing::appendRows(castFile(), rows);
    cast.loadRows(9);
    ASSERT_EQ(cast.listedRows(), 1500u);
    for (std::size_t i = 0; i < cast.listedRows(); ++i) {
        ASSERT_EQ(cast.rowId(i), static_cast<std::int32_t>(2 * i + 2));
    }
    editAndConfirm(cast, 0, [](auto& texts) { texts[0] = u"pierwszy"; });
    editAndConfirm(cast, 1499, [](auto& texts) { texts[0] = u"ostatni"; });
    cast.saveRows();
    ASSERT_TRUE(cast.deleteRow(750, 9));  // ID 1502
    EXPECT_EQ(cast.countFileRows(), 2999u);
    EXPECT_EQ(cast.listedRows(), 1499u);
    EXPECT_EQ(cast.cellText(0, 0), u"pierwszy");
    EXPECT_EQ(cast.cellText(1498, 0), u"ostatni");
    EXPECT_EQ(cast.rowId(750), 1504);
    EXPECT_EQ(cast.lastFileRowId(), 3000);
}

}  // namespace
}  // namespace ordavo
