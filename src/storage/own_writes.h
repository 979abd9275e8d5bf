#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "storage/file_stamp.h"

namespace ordavo {

// The rows this process wrote into its tables, each with the table's stamp just before and just
// after the write. Something derived from a table (the texts a search keeps) can then catch up
// with our own writes by reading only the rows written, instead of the whole table, as long as
// nothing else changed the table in between. Safe to use from several threads.
class OwnRowWrites {
public:
    // Where the record of `table` stands now; pass it to rowsSince() later.
    static std::uint64_t position(const std::filesystem::path& table);

    // We wrote row `row` of `table`, which had stamp `before` and has `after` now.
    static void record(const std::filesystem::path& table, const FileStamp& before,
                       const FileStamp& after, std::uint64_t row);

    // The rows written since `position`, in order, when those writes lead from stamp `from` to
    // stamp `to` one after another. nullopt when they do not: the table was changed by another
    // program or replaced, or the record no longer reaches back that far.
    static std::optional<std::vector<std::uint64_t>> rowsSince(const std::filesystem::path& table,
                                                               std::uint64_t position,
                                                               const FileStamp& from,
                                                               const FileStamp& to);

    // How many writes are kept per table; older ones are forgotten.
    static constexpr std::size_t kKept = 256;
};

}  // namespace ordavo
