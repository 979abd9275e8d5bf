#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "storage/file_error.h"
#include "storage/row_chunks.h"
#include "testing/file_error_check.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

constexpr std::size_t kRow = 10;  // an id and a text field of three UTF-16 units

// A table of `rows` whole rows (id = row number + 1, text "abc" without a NUL) and `tail` bytes
// of one more.
std::vector<unsigned char> tableBytes(std::size_t rows, std::size_t tail) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i <= rows; ++i) {
        unsigned char row[kRow];
        const std::int32_t id = static_cast<std::int32_t>(i + 1);
        const char16_t text[3] = {u'a', u'b', u'c'};
        std::memcpy(row, &id, 4);
        std::memcpy(row + 4, text, 6);
        bytes.insert(bytes.end(), row, row + (i < rows ? kRow : tail));
    }
    return bytes;
}

struct Visit {
    std::uint64_t number;
    std::int32_t id;
    std::u16string text;
};

std::vector<Visit> scan(const std::filesystem::path& path, std::size_t chunk_bytes) {
    PosixFile table(path, PosixFile::Mode::Read);
    RowChunks chunks(table, kRow, chunk_bytes);
    std::vector<Visit> visits;
    forEachRow(chunks, [&](const unsigned char* row, std::uint64_t number) {
        visits.push_back({number, rowInt32(row, 0), std::u16string(rowText(row, 4, 3))});
        return true;
    });
    return visits;
}

TEST(RowChunksTest, VisitsEveryRowInOrderAcrossChunkBoundaries) {
    testing::TempFolder root;
    testing::writeBytes(root / "t", tableBytes(7, 0));
    for (std::size_t chunk : {kRow, 3 * kRow, 3 * kRow + 5, std::size_t{1} << 20}) {
        const std::vector<Visit> visits = scan(root / "t", chunk);
        ASSERT_EQ(visits.size(), 7u) << chunk;
        for (std::size_t i = 0; i < visits.size(); ++i) {
            EXPECT_EQ(visits[i].number, i);
            EXPECT_EQ(visits[i].id, static_cast<std::int32_t>(i + 1));
        }
    }
}

TEST(RowChunksTest, ATrailingPartialRowReadsAsARowPaddedWithZeros) {
    testing::TempFolder root;
    testing::writeBytes(root / "t", tableBytes(4, 6));  // id 5 and the unit 'a'
    const std::vector<Visit> visits = scan(root / "t", 2 * kRow);
    ASSERT_EQ(visits.size(), 5u);
    EXPECT_EQ(visits[4].id, 5);
    EXPECT_EQ(visits[4].text, u"a");
    EXPECT_EQ(visits[3].text, u"ab");  // a field without NUL stops at capacity - 1
}

TEST(RowChunksTest, AnEmptyTableHasNoRowsAndAMissingOneThrows) {
    testing::TempFolder root;
    testing::writeBytes(root / "t", {});
    EXPECT_TRUE(scan(root / "t", kRow).empty());
    EXPECT_TRUE(testing::throwsFileError([&] { scan(root / "missing", kRow); }, root / "missing",
                                         FileOperation::Open, ENOENT));
}

TEST(RowChunksTest, AVisitorCanStopTheScan) {
    testing::TempFolder root;
    testing::writeBytes(root / "t", tableBytes(6, 0));
    PosixFile table(root / "t", PosixFile::Mode::Read);
    RowChunks chunks(table, kRow, 4 * kRow);
    std::size_t seen = 0;
    EXPECT_FALSE(forEachRow(chunks, [&](const unsigned char*, std::uint64_t number) {
        ++seen;
        return number < 2;
    }));
    EXPECT_EQ(seen, 3u);
}

}  // namespace
}  // namespace ordavo
