#pragma once

#include "tabs/detail_table.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <stdexcept>

#include "storage/database.h"
#include "storage/file_error.h"
#include "storage/row_redo.h"
#include "storage/write_batch.h"
#include "tabs/detail_tables.h"
#include "tabs/tests/detail_test_support.h"

// A fresh database with its detail tables, and ways to read what a list shows.
namespace ordavo::detail_testing {

using testing::Bytes;
using testing::fileIds;
using testing::makeRow;
using testing::makeRowBytes;

inline std::u16string repeat(char16_t unit, std::size_t count) {
    return std::u16string(count, unit);
}

class DetailTableTest : public ::testing::Test {
protected:
    DetailTableTest() { database.createMissing(true); }

    std::filesystem::path castFile() const { return database.paths().file(DataFile::Cast); }
    std::vector<std::int32_t> castFileIds() const { return fileIds(castFile(), sizeof(Obsada)); }

    // Column `column` of every list item.
    static std::vector<std::u16string> column(const DetailTable& table, std::size_t column) {
        std::vector<std::u16string> cells;
        for (std::size_t row = 0; row < table.listedRows(); ++row) {
            cells.push_back(table.cellText(row, column));
        }
        return cells;
    }
    static std::vector<std::int32_t> ids(const DetailTable& table) {
        std::vector<std::int32_t> result;
        for (std::size_t row = 0; row < table.listedRows(); ++row) {
            result.push_back(table.rowId(row));
        }
        return result;
    }
    // "Edytuj" on item `row`, the boxes changed by `change`, then "Zatwierdź".
    template <class Change>
    static void editAndConfirm(DetailTable& table, std::size_t row, Change change) {
        std::optional<std::vector<std::u16string>> texts = table.editRow(row);
        ASSERT_TRUE(texts);
        change(*texts);
        ASSERT_TRUE(table.confirmRow(*texts, row));
    }

    static Obsada castRow(std::int32_t id, std::int32_t film, std::u16string_view name) {
        Obsada row = makeRow<Obsada>(id, film);
        storeText(row.full_name, name);
        storeText(row.role, u"rola");
        return row;
    }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    Database database{buildPaths(), sink};
    DetailTables tables{database};
    DetailEngine<Obsada>& cast = tables.cast();
};

}  // namespace ordavo::detail_testing
