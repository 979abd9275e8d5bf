// Every detail row layout: the list's cell texts, column titles and widths, the row editor's
// texts ("Edytuj") and storing them back ("Zatwierdź"), on arbitrary rows. Confirming the texts
// the editor was given changes no cell.
//
// Input: one byte (the layout), then the table file.

#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "storage/database.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"
#include "tabs/detail_tables.h"

using namespace ordavo;
using namespace ordavo::fuzz;

namespace {

Bytes newHeader() {
    const DatabaseHeader header = newDatabaseHeader();
    const auto* bytes = reinterpret_cast<const unsigned char*>(&header);
    return Bytes(bytes, bytes + sizeof header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const auto list = static_cast<DetailList>(input.byte() % kDetailListCount);
    const Bytes table = input.rest();
    const DetailLayout& layout = detailLayout(list);
    ScratchDatabase& scratch = ScratchDatabase::instance();
    scratch.writeAll(newHeader(), {});
    scratch.write(layout.file, table);

    QuietSink sink;
    Database database(scratch.paths(), sink);
    DetailTables lists(database);
    DetailTable& details = lists.table(list);
    std::int32_t film_id = 0;
    if (table.size() >= 8) {
        std::memcpy(&film_id, table.data() + 4, sizeof film_id);
    }
    details.loadRows(film_id);

    const std::size_t columns = columnCount(layout);
    for (std::size_t column = 0; column <= columns; ++column) {
        (void)columnTitle(layout, column);
        (void)columnWidth(layout, column);
    }
    for (std::size_t row = 0; row < details.listedRows(); ++row) {
        std::vector<std::u16string> cells;
        for (std::size_t column = 0; column < columns; ++column) {
            cells.push_back(details.cellText(row, column));
            (void)toUtf8(cells.back());
        }
        const std::int32_t id = details.rowId(row);
        const std::optional<std::vector<std::u16string>> texts = details.editRow(row);
        require(texts && texts->size() == layout.fields.size(), "the editor gets every field");
        require(details.confirmRow(*texts, row), "a listed row takes the confirmed texts");
        require(details.rowId(row) == id, "confirming keeps the row's ID");
        for (std::size_t column = 0; column < columns; ++column) {
            require(details.cellText(row, column) == cells[column],
                    "confirming the editor's own texts changes no cell");
        }
    }
    require(!details.editRow(details.listedRows()).has_value(), "no editor past the last item");
    return 0;
}
