// LoadRows, SaveRows, New and Delete of a detail table over arbitrary table bytes, compared with
// a plain model of the file rules: LoadRows lists the film's rows in file order; SaveRows
// overwrites each row that was in the file with the last entry of its `ID` and appends a pending
// new row after the last whole row; New takes the last row's `ID` + 1; Delete drops the first
// row of the `ID` and every row marked 0, keeping the others in order.
//
// Input: the layout byte, a film choice (int32), a command byte, then the table file.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "fuzz_support.h"
#include "storage/database.h"
#include "storage/posix_file.h"
#include "tabs/detail_tables.h"

using namespace ordavo;
using namespace ordavo::fuzz;

namespace {

using Rows = std::vector<Bytes>;

Bytes newHeader() {
    const DatabaseHeader header = newDatabaseHeader();
    const auto* bytes = reinterpret_cast<const unsigned char*>(&header);
    return Bytes(bytes, bytes + sizeof header);
}

std::int32_t int32At(const Bytes& row, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, row.data() + offset, sizeof value);
    return value;
}

// The file's rows; the last one may be short.
Rows splitRows(const Bytes& bytes, std::size_t row_size) {
    Rows rows;
    for (std::size_t offset = 0; offset < bytes.size(); offset += row_size) {
        const std::size_t n = std::min(row_size, bytes.size() - offset);
        rows.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                          bytes.begin() + static_cast<std::ptrdiff_t>(offset + n));
    }
    return rows;
}

Bytes padded(Bytes row, std::size_t row_size) {
    row.resize(row_size, 0);
    return row;
}

Bytes joined(const Rows& rows) {
    Bytes bytes;
    for (const Bytes& row : rows) {
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    return bytes;
}

Rows rowsOfFilm(const Rows& file, std::size_t row_size, std::int32_t film_id) {
    Rows rows;
    for (const Bytes& row : file) {
        const Bytes whole = padded(row, row_size);
        if (int32At(whole, 4) == film_id) {
            rows.push_back(whole);
        }
    }
    return rows;
}

Bytes readFile(const std::filesystem::path& path) {
    PosixFile file(path, PosixFile::Mode::Read);
    Bytes bytes(file.size());
    file.readAt(bytes.data(), bytes.size(), 0);
    return bytes;
}

template <class Row>
Rows rowsOf(const DetailEngine<Row>& engine) {
    Rows rows;
    for (const Row& row : engine.rows) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&row);
        rows.emplace_back(bytes, bytes + sizeof row);
    }
    return rows;
}

Rows listRows(DetailTables& lists, DetailList list) {
    switch (list) {
        case DetailList::Reviews:
            return rowsOf(lists.reviews());
        case DetailList::Cast:
            return rowsOf(lists.cast());
        case DetailList::Distributors:
            return rowsOf(lists.distributors());
        case DetailList::Producers:
            return rowsOf(lists.producers());
        case DetailList::Locations:
            return rowsOf(lists.locations());
        case DetailList::LoansTo:
            return rowsOf(lists.loansTo());
        case DetailList::LoansFrom:
            return rowsOf(lists.loansFrom());
    }
    return {};
}

// SaveRows by the rules, on the file's rows.
void modelSave(Rows& file, const Rows& entries, bool pending, std::size_t row_size) {
    const std::size_t start_rows = file.size();
    // The pending new row is only ever appended, never matched against stored rows.
    const std::size_t matched = pending ? entries.size() - 1 : entries.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (file.empty()) {
            file.push_back(entries[i]);
            if (i + 1 == entries.size()) {
                pending = false;
            }
            continue;
        }
        for (std::size_t p = 0; i < matched && p < start_rows; ++p) {
            if (int32At(padded(file[p], row_size), 0) == int32At(entries[i], 0) &&
                int32At(padded(file[p], row_size), 4) == int32At(entries[i], 4)) {
                file[p] = entries[i];
            }
        }
        if (pending) {
            file.back() = padded(file.back(), row_size);  // appended after the last whole row
            file.push_back(entries.back());
            pending = false;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const auto list = static_cast<DetailList>(input.byte() % kDetailListCount);
    const std::int32_t choice = input.int32();
    const std::uint8_t command = input.byte();
    const Bytes table = input.rest();
    const DetailLayout& layout = detailLayout(list);
    const std::size_t row_size = layout.row_size;
    ScratchDatabase& scratch = ScratchDatabase::instance();
    scratch.writeAll(newHeader(), {});
    scratch.write(layout.file, table);
    const std::filesystem::path& path = scratch.paths().file(layout.file);

    QuietSink sink;
    Database database(scratch.paths(), sink);
    DetailTables lists(database);
    DetailTable& details = lists.table(list);

    Rows file = splitRows(table, row_size);
    // Mostly a film that has rows here, sometimes any id.
    std::int32_t film_id = choice;
    if (!file.empty() && (command & 0x80) == 0) {
        film_id =
            int32At(padded(file[static_cast<std::uint32_t>(choice) % file.size()], row_size), 4);
    }
    details.loadRows(film_id);
    Rows rows = rowsOfFilm(file, row_size, film_id);
    require(listRows(lists, list) == rows, "LoadRows lists the film's rows in file order");
    require(details.countFileRows() == file.size(), "CountFileRows counts a partial row");

    switch (command & 0x03) {
        case 0: {  // "Zapisz" with nothing changed
            details.saveRows();
            modelSave(file, rows, false, row_size);
            break;
        }
        case 1: {  // "Nowy", then "Zapisz"
            std::int32_t largest = 0;
            for (const Bytes& stored : file) {
                largest = std::max(largest, int32At(padded(stored, row_size), 0));
            }
            const bool numbered = details.newRow(film_id);
            modelSave(file, rows, false, row_size);  // New saves first
            if (largest == std::numeric_limits<std::int32_t>::max()) {
                require(!numbered && details.rowCount() == rows.size(),
                        "New refuses when no ID is left");
                break;
            }
            require(numbered && details.rowCount() == rows.size() + 1, "New adds one row");
            const Rows now = listRows(lists, list);
            require(int32At(now.back(), 0) == largest + 1,
                    "New takes one more than the largest stored ID");
            rows.push_back(now.back());
            details.saveRows();
            modelSave(file, rows, true, row_size);
            require(!details.new_row_pending, "the save writes the pending row");
            break;
        }
        default: {  // "Usuń" on one of the film's rows
            if (rows.empty()) {
                return 0;
            }
            const std::size_t item = static_cast<std::uint32_t>(choice >> 8) % rows.size();
            const std::int32_t id = int32At(rows[item], 0);
            require(details.deleteRow(item, film_id), "a stored row can be deleted");
            // The film's first row of that ID goes; every other row stays, in order.
            Rows kept;
            bool gone = false;
            for (const Bytes& row : file) {
                const Bytes whole = padded(row, row_size);
                if (!gone && int32At(whole, 0) == id && int32At(whole, 4) == film_id) {
                    gone = true;
                    continue;
                }
                kept.push_back(whole);
            }
            file = kept;
            require(listRows(lists, list) == rowsOfFilm(file, row_size, film_id),
                    "after a delete the list shows the film's remaining rows");
            break;
        }
    }
    require(readFile(path) == joined(file), "the table file is as the rules say");
    return 0;
}
