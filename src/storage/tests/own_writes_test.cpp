#include <gtest/gtest.h>

#include "storage/own_writes.h"

namespace ordavo {
namespace {

TEST(OwnRowWritesTest, RowsAreHandedBackOnlyForAnUnbrokenChainOfOurWrites) {
    const std::filesystem::path table = "/nonexistent/own-writes-test/KR_PDB.kr";
    const auto stamp = [](std::int64_t version) {
        FileStamp s;
        s.size = 31888;
        s.modified_ns = version;
        s.changed_ns = version;
        return s;
    };
    const std::uint64_t start = OwnRowWrites::position(table);
    OwnRowWrites::record(table, stamp(1), stamp(2), 5);
    OwnRowWrites::record(table, stamp(2), stamp(3), 0);
    using Rows = std::optional<std::vector<std::uint64_t>>;
    struct Case {
        std::uint64_t position;
        std::int64_t from, to;
        Rows rows;
    };
    for (const Case& c : {
             Case{start, 1, 3, std::vector<std::uint64_t>{5, 0}},
             Case{start + 1, 2, 3, std::vector<std::uint64_t>{0}},
             Case{start + 2, 3, 3, std::vector<std::uint64_t>{}},
             Case{start, 1, 4, std::nullopt},      // changed after our last write
             Case{start, 7, 3, std::nullopt},      // changed before our first write
             Case{start + 3, 3, 3, std::nullopt},  // a position never handed out
         }) {
        EXPECT_EQ(OwnRowWrites::rowsSince(table, c.position, stamp(c.from), stamp(c.to)), c.rows)
            << c.position << " " << c.from << " " << c.to;
    }
    // A write by someone else in between breaks the chain.
    OwnRowWrites::record(table, stamp(9), stamp(10), 1);
    EXPECT_EQ(OwnRowWrites::rowsSince(table, start, stamp(1), stamp(10)), Rows{});
    // Only the newest writes are kept: a chain reaching back further is not handed out.
    const std::filesystem::path other = "/nonexistent/own-writes-test/KR_PDB.kr-other";
    const std::uint64_t first = OwnRowWrites::position(other);
    const auto kept = static_cast<std::int64_t>(OwnRowWrites::kKept);
    for (std::int64_t i = 0; i <= kept; ++i) {
        OwnRowWrites::record(other, stamp(i), stamp(i + 1), 0);
    }
    EXPECT_EQ(OwnRowWrites::rowsSince(other, first, stamp(0), stamp(kept + 1)), Rows{});
    EXPECT_EQ(OwnRowWrites::rowsSince(other, first + 1, stamp(1), stamp(kept + 1)),
              Rows(std::vector<std::uint64_t>(OwnRowWrites::kKept, 0)));
}

}  // namespace
}  // namespace ordavo
