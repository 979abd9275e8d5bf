// The film row and field readers: ReadRow at the start and at a chosen row, every field's text,
// the record counter, and a delete with its compaction, on arbitrary bytes in "KR_PDB.kr".
// After a delete the table holds whole rows: every other row with a non-zero id, in order,
// unchanged (a trailing partial row padded with zeros).
//
// Input: one byte (bits 0-6: row, bit 7: delete it), then the table.

#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"
#include "tabs/detail_tables.h"

using namespace ordavo;
using namespace ordavo::fuzz;

namespace {

constexpr std::size_t kRow = kFilmRowSize;

Bytes newHeader() {
    const DatabaseHeader header = newDatabaseHeader();
    const auto* bytes = reinterpret_cast<const unsigned char*>(&header);
    return Bytes(bytes, bytes + sizeof header);
}

void readFields(const FilmRecord& film) {
    for (const FilmFieldInfo& info : kFilmFields) {
        const std::u16string_view text = fieldText(film, info);
        require(text.size() < info.capacity, "a field's text fits its capacity");
        require(cutToCapacity(text, info.capacity).size() <= text.size(), "a cut never grows");
        (void)toUtf8(text);
    }
}

Bytes rowAt(const Bytes& table, std::size_t row) {
    Bytes bytes(kRow, 0);
    const std::size_t offset = row * kRow;
    std::memcpy(bytes.data(), table.data() + offset, std::min(kRow, table.size() - offset));
    return bytes;
}

Bytes readTable(const std::filesystem::path& path) {
    PosixFile file(path, PosixFile::Mode::Read);
    Bytes bytes(file.size());
    file.readAt(bytes.data(), bytes.size(), 0);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const std::uint8_t choice = input.byte();
    const Bytes table = input.rest();
    ScratchDatabase& scratch = ScratchDatabase::instance();
    scratch.writeAll(newHeader(), {table});

    QuietSink sink;
    Database database(scratch.paths(), sink);
    DetailTables lists(database);
    FilmTable films(database, lists);
    require(films.readRow(true), "an intact database reads");
    readFields(films.current());

    const auto rows = static_cast<std::size_t>(rowCount(table.size(), kRow));
    const FilterState no_filter;
    films.refreshCounter(no_filter);
    require(films.counter().count == static_cast<std::int64_t>(rows), "the counter counts rows");
    require(films.counter().position <= films.counter().count, "the position is a row");
    if (rows == 0) {
        return 0;
    }
    const std::size_t target = (choice & 0x7F) % rows;
    films.current_offset = static_cast<std::int64_t>(target * kRow);
    require(films.readRow(false), "an intact database reads");
    readFields(films.current());
    require(std::memcmp(&films.current(), rowAt(table, target).data(), kRow) == 0,
            "ReadRow gives the row, padded with zeros");

    if ((choice & 0x80) == 0) {
        return 0;
    }
    require(films.deleteRow(no_filter), "a delete on a writable database goes ahead");
    const Bytes after = readTable(scratch.paths().file(DataFile::Films));
    require(after.size() % kRow == 0, "a compacted table holds whole rows");
    std::size_t kept = 0;
    for (std::size_t row = 0; row < rows; ++row) {
        const Bytes old_row = rowAt(table, row);
        if (row == target) {
            continue;  // only the shown film goes; rows with id 0 stay like any other
        }
        require((kept + 1) * kRow <= after.size(), "every other row is kept");
        require(std::memcmp(after.data() + kept * kRow, old_row.data(), kRow) == 0,
                "kept rows are unchanged and in order");
        ++kept;
    }
    require(kept * kRow == after.size(), "no other row is dropped or added");
    return 0;
}
