#include "tabs/detail_tables.h"

#include <gtest/gtest.h>

#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "tabs/tests/detail_test_support.h"

namespace ordavo {
namespace {

using testing::fileIds;

// The film table and the seven detail tables together, as the main window runs them.
class DetailTablesTest : public ::testing::Test {
protected:
    DetailTablesTest() { database.createMissing(true); }

    std::vector<std::u16string> names() {
        std::vector<std::u16string> result;
        for (std::size_t row = 0; row < tables.cast().listedRows(); ++row) {
            result.push_back(tables.cast().cellText(row, 0));
        }
        return result;
    }
    // The page's "Nowy" with `name` typed into the new cast row and confirmed.
    void addCast(std::u16string_view name) {
        DetailTable& cast = tables.cast();
        cast.newRow(films.current().id);
        const std::size_t row = cast.listedRows() - 1;
        std::vector<std::u16string> texts = *cast.editRow(row);
        texts[0] = name;
        ASSERT_TRUE(cast.confirmRow(texts, row));
    }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    Database database{buildPaths(), sink};
    DetailTables tables{database};
    FilmTable films{database, tables};
    FilterState filter;
};

TEST_F(DetailTablesTest, FilmsReadSaveAndDeleteWithTheirDetailRows) {
    ASSERT_TRUE(films.appendRow(true));
    const std::int32_t first = films.current().id;
    addCast(u"Zbigniew Cybulski");
    tables.reviews().newRow(first);
    ASSERT_TRUE(films.updateRow());  // the film and every list

    ASSERT_TRUE(films.appendRow(false));
    const std::int32_t second = films.current().id;
    ASSERT_TRUE(films.readRow(false));
    EXPECT_TRUE(names().empty());
    EXPECT_EQ(tables.reviews().listedRows(), 0u);
    addCast(u"Ewa Krzyżewska");
    ASSERT_TRUE(films.updateRow());

    films.current_offset = 0;
    ASSERT_TRUE(films.readRow(false));
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Zbigniew Cybulski"}));
    EXPECT_EQ(tables.reviews().listedRows(), 1u);
    EXPECT_EQ(tables.reviews().rows[0].IDPDB, first);

    // Deleting a film leaves its detail rows in their tables; no other film lists them.
    ASSERT_TRUE(films.deleteRow(filter));
    const std::filesystem::path cast_file = database.paths().file(DataFile::Cast);
    EXPECT_EQ(fileIds(cast_file, sizeof(Obsada)), (std::vector<std::int32_t>{1, 2}));
    ASSERT_TRUE(films.readRow(true));
    EXPECT_EQ(films.current().id, second);
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Ewa Krzyżewska"}));
    EXPECT_EQ(tables.reviews().listedRows(), 0u);
}

TEST_F(DetailTablesTest, ClearingAListTellsOnlyTheScreen) {
    ASSERT_TRUE(films.appendRow(true));
    addCast(u"a");
    tables.clearList(DetailList::Cast);
    EXPECT_EQ(tables.cast().listedRows(), 0u);
    EXPECT_EQ(tables.cast().rowCount(), 1u);
    EXPECT_TRUE(tables.cast().new_row_pending);
    ASSERT_TRUE(films.updateRow());  // the row in memory is still saved
    EXPECT_EQ(fileIds(database.paths().file(DataFile::Cast), sizeof(Obsada)),
              (std::vector<std::int32_t>{1}));
}

TEST_F(DetailTablesTest, AFullProducersTableStillLetsTheDistributorsSave) {
    ASSERT_TRUE(films.appendRow(true));
    const std::int32_t film = films.current().id;
    testing::truncateFile(database.paths().file(DataFile::Producers), detail_file::kSizeLimit);
    tables.producers().rows = {testing::makeRow<Producent>(1, film)};
    tables.producers().new_row_pending = true;
    tables.distributors().newRow(film);

    ASSERT_TRUE(films.updateRow());
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(fileIds(database.paths().file(DataFile::Distributors), sizeof(Dystrybutor)),
              (std::vector<std::int32_t>{1}));
    EXPECT_TRUE(tables.producers().new_row_pending);
}

}  // namespace
}  // namespace ordavo
