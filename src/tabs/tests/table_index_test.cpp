#include "tabs/table_index.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "storage/database.h"
#include "tabs/detail_tables.h"
#include "tabs/tests/detail_test_support.h"

namespace ordavo {
namespace {

using testing::makeRow;

// The index is trusted only for a file that has settled; age the file and let the racy window
// pass so that the next reads come from memory.
void settle(const std::filesystem::path& path) {
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
}

// Writes `bytes` at `offset` as another program would, keeping the file's size and putting its
// modification time back: only the status change time tells.
void writeBehindOurBack(const std::filesystem::path& path, std::size_t offset,
                        const testing::Bytes& bytes) {
    const auto time = std::filesystem::last_write_time(path);
    testing::Bytes all = testing::readBytes(path);
    std::copy(bytes.begin(), bytes.end(), all.begin() + static_cast<std::ptrdiff_t>(offset));
    testing::writeBytes(path, all);
    std::filesystem::last_write_time(path, time);
}

class TableIndexTest : public ::testing::Test {
protected:
    TableIndexTest() { database.createMissing(true); }
    std::filesystem::path cast() const { return database.paths().file(DataFile::Cast); }
    std::vector<std::int32_t> listedIds() {
        std::vector<std::int32_t> ids;
        const DetailTable& table = details.table(DetailList::Cast);
        for (std::size_t row = 0; row < table.listedRows(); ++row)
            ids.push_back(table.rowId(row));
        return ids;
    }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    Database database{buildPaths(), sink};
    DetailTables details{database};
};

TEST_F(TableIndexTest, AChangeBehindOurBackWithTheSameSizeAndTimeIsSeen) {
    testing::appendRows<Obsada>(
        cast(), {makeRow<Obsada>(1, 7), makeRow<Obsada>(2, 9), makeRow<Obsada>(3, 7)});
    settle(cast());
    details.loadRows(DetailList::Cast, 7);
    details.loadRows(DetailList::Cast, 7);  // from memory now
    EXPECT_EQ(listedIds(), (std::vector<std::int32_t>{1, 3}));

    // Row 2 moves to film 7.
    writeBehindOurBack(cast(), sizeof(Obsada), testing::bytesOf(makeRow<Obsada>(2, 7)));
    details.loadRows(DetailList::Cast, 7);
    EXPECT_EQ(listedIds(), (std::vector<std::int32_t>{1, 2, 3}));
    // And the next identifier follows a row appended behind our back.
    testing::appendRows<Obsada>(cast(), {makeRow<Obsada>(40, 9)});
    EXPECT_EQ(details.table(DetailList::Cast).lastFileRowId(), 40);
}

TEST_F(TableIndexTest, OwnWritesKeepTheIndexExact) {
    DetailTable& table = details.table(DetailList::Cast);
    table.loadRows(7);
    table.newRow(7);
    table.newRow(7);
    table.newRow(7);
    table.saveRows();
    table.loadRows(9);
    table.newRow(9);
    table.saveRows();
    EXPECT_EQ(testing::fileIds(cast(), sizeof(Obsada)), (std::vector<std::int32_t>{1, 2, 3, 4}));
    table.loadRows(7);
    EXPECT_EQ(listedIds(), (std::vector<std::int32_t>{1, 2, 3}));
    ASSERT_TRUE(table.deleteRow(0, 7));
    EXPECT_EQ(listedIds(), (std::vector<std::int32_t>{2, 3}));
    table.loadRows(9);
    EXPECT_EQ(listedIds(), (std::vector<std::int32_t>{4}));
    EXPECT_EQ(table.lastFileRowId(), 4);
}

}  // namespace
}  // namespace ordavo
