#include "tabs/detail_file.h"
#include "tabs/table_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "tabs/tests/detail_test_support.h"

namespace ordavo {
namespace {

using testing::Bytes;

// The whole file in one read (the stream reader of the test helpers is slow on large files).
Bytes readFile(const std::filesystem::path& path) {
    const PosixFile file(path, PosixFile::Mode::Read);
    Bytes bytes(file.size());
    bytes.resize(file.readAt(bytes.data(), bytes.size(), 0));
    return bytes;
}

// The save as the per-entry scans describe it, on a table file held in memory: each entry scans
// every row that was there when the save began. Rows are written whole; the append goes after the
// last row, padded when partial.
struct LiteralSave {
    Bytes file;
    bool pending = false;
    bool stopped = false;

    void run(std::size_t row_size, const std::vector<Bytes>& entries, std::uint64_t limit) {
        const auto rows = [&] { return rowCount(file.size(), row_size); };
        const auto write_at = [&](std::size_t offset, const Bytes& row) {
            file.resize(std::max(file.size(), offset + row_size), 0);
            std::copy(row.begin(), row.end(), file.begin() + static_cast<std::ptrdiff_t>(offset));
        };
        const auto head_at = [&](std::size_t offset) {
            std::array<unsigned char, 8> head{};
            std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset),
                        std::min<std::size_t>(8, file.size() - offset), head.begin());
            return head;
        };
        const auto id_at = [&](std::size_t offset) {
            return detail_file::rowId(head_at(offset).data());
        };
        const auto film_at = [&](std::size_t offset) {
            return detail_file::rowFilmId(head_at(offset).data());
        };
        const std::size_t start_length = file.size();
        // The pending new row is only ever appended, never matched against stored rows.
        const std::size_t matched = pending ? entries.size() - 1 : entries.size();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (rows() == 0) {
                write_at(0, entries[i]);
                if (i == entries.size() - 1) {
                    pending = false;
                }
                continue;
            }
            if (file.size() >= limit) {
                stopped = true;
                break;
            }
            for (std::size_t p = 0; i < matched && p < start_length; p += row_size) {
                if (id_at(p) == detail_file::rowId(entries[i].data()) &&
                    film_at(p) == detail_file::rowFilmId(entries[i].data())) {
                    write_at(p, entries[i]);
                }
            }
            if (pending) {
                write_at(rows() * row_size, entries.back());
                pending = false;
            }
        }
    }
};

// Plans a save and writes the plan into the file as the write batch would, keeping the index in
// step as the detail table does once the batch is committed.
detail_file::SaveOutcome saveByPlan(const std::filesystem::path& table, std::size_t row_size,
                                    const Bytes& entries, bool pending, std::uint64_t limit,
                                    TableIndex* index) {
    const detail_file::SavePlan plan =
        detail_file::planSave(table, row_size, entries, pending, limit, index);
    PosixFile file(table, PosixFile::Mode::ReadWrite);
    const FileStamp before = stampOf(file);
    std::vector<std::uint64_t> rows;
    for (const auto& [entry, offset] : plan.writes) {
        file.writeAt(entries.data() + entry * row_size, row_size, offset);
        rows.push_back(offset / row_size);
    }
    if (index && !rows.empty()) {
        index->keeper().ownRowsWritten(before, file, rows);
    }
    return plan.outcome;
}

// A row with `id`, told apart from others by a random filling and random bytes at both ends.
Bytes randomRow(std::mt19937& random, std::size_t row_size, std::int32_t id) {
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes row(row_size, static_cast<unsigned char>(byte(random)));
    for (std::size_t k = 0; k < std::min<std::size_t>(row_size, 16); ++k) {
        row[k] = static_cast<unsigned char>(byte(random));
        row[row_size - 1 - k] = static_cast<unsigned char>(byte(random));
    }
    std::memcpy(row.data(), &id, 4);
    // One of two films, so that rows of one `ID` and of another film meet in a table.
    const std::int32_t film = std::uniform_int_distribution<int>(7, 8)(random);
    std::memcpy(row.data() + 4, &film, 4);
    return row;
}

// One random case: a small table (duplicate and zero ids, sometimes a partial last row, sometimes
// empty), a few entries (duplicates, copies of file rows, sometimes pending) and a size limit that
// is either the real one or small enough to stop the save part way.
void checkRandomSave(std::mt19937& random, std::size_t row_size, const std::filesystem::path& table,
                     TableIndex* index = nullptr) {
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    Bytes file;
    const int file_rows = pick(0, 6);
    for (int r = 0; r < file_rows; ++r) {
        const Bytes row = randomRow(random, row_size, pick(0, 4));
        file.insert(file.end(), row.begin(), row.end());
    }
    if (pick(0, 3) == 0) {
        const Bytes row = randomRow(random, row_size, pick(0, 4));
        const std::size_t part = static_cast<std::size_t>(pick(1, static_cast<int>(row_size) - 1));
        file.insert(file.end(), row.begin(), row.begin() + static_cast<std::ptrdiff_t>(part));
    }
    std::vector<Bytes> entries;
    const int entry_count = pick(0, 6);
    for (int e = 0; e < entry_count; ++e) {
        if (file.size() >= row_size && pick(0, 3) == 0) {
            const std::size_t r =
                static_cast<std::size_t>(pick(0, static_cast<int>(file.size() / row_size) - 1));
            entries.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(r * row_size),
                                 file.begin() + static_cast<std::ptrdiff_t>((r + 1) * row_size));
        } else {
            entries.push_back(randomRow(random, row_size, pick(0, 5)));
        }
    }
    const bool pending = pick(0, 1) == 1;
    // The limit matters most near the file's end, where an append or a padded row crosses it.
    const int rs = static_cast<int>(row_size);
    const int near_end = static_cast<int>(file.size()) + pick(-rs, 2 * rs);
    const int limit_kind = pick(0, 3);
    const std::uint64_t limit = limit_kind < 2 ? detail_file::kSizeLimit
                                : limit_kind == 2
                                    ? static_cast<std::uint64_t>(pick(1, (file_rows + 3) * rs))
                                    : static_cast<std::uint64_t>(std::max(1, near_end));

    LiteralSave literal{file, pending, false};
    literal.run(row_size, entries, limit);

    testing::writeBytes(table, file);
    Bytes packed;
    for (const Bytes& entry : entries) {
        packed.insert(packed.end(), entry.begin(), entry.end());
    }
    const detail_file::SaveOutcome outcome =
        saveByPlan(table, row_size, packed, pending, limit, index);

    SCOPED_TRACE(::testing::Message()
                 << "row size " << row_size << ", file " << file.size() << " bytes, "
                 << entries.size() << " entries, pending " << pending << ", limit " << limit);
    ASSERT_EQ(readFile(table), literal.file);
    ASSERT_EQ(outcome.new_row_pending, literal.pending);
    ASSERT_EQ(outcome.stopped_at_limit, literal.stopped);

    if (index) {
        // A second save straight after, on what the index learnt from the first one's writes.
        std::shuffle(entries.begin(), entries.end(), random);
        entries.push_back(randomRow(random, row_size, pick(0, 5)));
        packed.clear();
        for (const Bytes& entry : entries) {
            packed.insert(packed.end(), entry.begin(), entry.end());
        }
        LiteralSave second{literal.file, true, false};
        second.run(row_size, entries, detail_file::kSizeLimit);
        const detail_file::SaveOutcome again =
            saveByPlan(table, row_size, packed, true, detail_file::kSizeLimit, index);
        ASSERT_EQ(readFile(table), second.file);
        ASSERT_EQ(again.new_row_pending, second.pending);
        if (!file.empty() || !entries.empty()) {
            const std::int32_t film = detail_file::rowFilmId(packed.data());
            const Bytes expected = detail_file::readFilmRows(table, row_size, film);
            ASSERT_EQ(detail_file::readFilmRows(table, row_size, film, index), expected);
        }
    }
}

TEST(DetailFileSave, OnePassGivesTheResultOfThePerEntryScans) {
    testing::TempFolder folder;
    std::mt19937 random(20240611);
    // A tiny row, a real one, and one so large that a chunk holds only two rows.
    for (const auto& [row_size, cases] :
         {std::pair<std::size_t, int>{12, 600}, {1412, 300}, {393'241, 25}}) {
        for (int c = 0; c < cases; ++c) {
            checkRandomSave(random, row_size, folder / "KR_OB.kr");
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(DetailFileSave, AKeptIndexGivesTheSameResultsAsReadingTheFile) {
    testing::TempFolder folder;
    std::mt19937 random(7);
    for (const std::size_t row_size : {std::size_t{12}, std::size_t{1412}}) {
        TableKeeper keeper(folder / "KR_OB.kr");
        TableIndex index(keeper, row_size);
        for (int c = 0; c < 300; ++c) {
            checkRandomSave(random, row_size, folder / "KR_OB.kr", &index);
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(DetailFileRows, APartialLastRowCountsAndReadsAsPaddedWithZeros) {
    testing::TempFolder folder;
    const std::size_t row_size = 12;
    struct Case {
        Bytes bytes;
        std::uint64_t rows;
        std::int32_t last_id;
    };
    const std::vector<Case> cases = {
        {{}, 0, 0},
        {{5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, 1, 5},
        // Two bytes of a third row: its id reads as 0x0102, not the bytes of the row before.
        {{5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 1}, 3, 0x0102},
        {{5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 3}, 2, 8},
    };
    for (const Case& c : cases) {
        testing::writeBytes(folder / "t", c.bytes);
        EXPECT_EQ(detail_file::countFileRows(folder / "t", row_size), c.rows);
        EXPECT_EQ(detail_file::lastFileRowId(folder / "t", row_size), c.last_id);
    }
    // The partial row of film 3 (last case) is read whole, zero-padded.
    const Bytes film3 = detail_file::readFilmRows(folder / "t", row_size, 3);
    EXPECT_EQ(film3, (Bytes{8, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DetailFileRows, DeleteKeepsEveryOtherRowAndPadsAKeptPartialRow) {
    testing::TempFolder folder;
    const std::size_t row_size = 12;
    const Bytes bytes = {1, 0, 0, 0, 7, 0, 0, 0, 'a', 'a', 'a', 'a',  //
                         0, 0, 0, 0, 7, 0, 0, 0, 'b', 'b', 'b', 'b',  //
                         3, 0, 0, 0, 9, 0, 0, 0, 'c', 'c', 'c', 'c',  //
                         4, 0, 0, 0, 7, 0, 0};                        // partial
    testing::writeBytes(folder / "t", bytes);
    std::vector<Bytes> kept;
    ASSERT_TRUE(detail_file::deleteRowAt(folder / "t", row_size, 24, [&](const unsigned char* row) {
        kept.emplace_back(row, row + row_size);
    }));
    // The row with ID 0 stays: it is listed and edited like any other.
    const Bytes expected = {1, 0, 0, 0, 7, 0, 0, 0, 'a', 'a', 'a', 'a',  //
                            0, 0, 0, 0, 7, 0, 0, 0, 'b', 'b', 'b', 'b',  //
                            4, 0, 0, 0, 7, 0, 0, 0, 0,   0,   0,   0};
    EXPECT_EQ(testing::readBytes(folder / "t"), expected);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[2], Bytes(expected.begin() + 24, expected.end()));
    EXPECT_FALSE(std::filesystem::exists(folder / "t0"));

    // Offsets that are not the start of a row change nothing.
    for (std::uint64_t offset : {std::uint64_t{5}, std::uint64_t{36}, std::uint64_t{1200}}) {
        EXPECT_FALSE(detail_file::deleteRowAt(folder / "t", row_size, offset, {}));
    }
    EXPECT_EQ(testing::readBytes(folder / "t"), expected);
}

}  // namespace
}  // namespace ordavo
