#include "tabs/detail_table.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "storage/database.h"
#include "storage/database_lock.h"
#include "storage/message_sink.h"
#include "storage/text_field.h"
#include "storage/write_batch.h"
#include "tabs/detail_file.h"

namespace ordavo {

namespace {

const char16_t* fieldData(const unsigned char* row, const DetailField& field) {
    return reinterpret_cast<const char16_t*>(row + field.offset);
}

std::u16string_view fieldText(const unsigned char* row, const DetailField& field) {
    return readText(fieldData(row, field), field.width);
}

// Stores `text` cut to the field and zeroes the units after its NUL.
void storeField(unsigned char* row, const DetailField& field, std::u16string_view text) {
    auto* units = reinterpret_cast<char16_t*>(row + field.offset);
    storeText(units, field.width, text);
    const std::size_t end = cutToCapacity(text, field.width).size() + 1;
    std::fill(units + end, units + field.width, u'\0');
}

void storeInt32(unsigned char* row, std::size_t offset, std::int32_t value) {
    std::memcpy(row + offset, &value, sizeof value);
}

std::u16string decimal(std::int32_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::u16string(digits, end);
}

}  // namespace

std::size_t columnCount(const DetailLayout& layout) {
    return layout.fields.size() + 2;
}

std::size_t idColumn(const DetailLayout& layout) {
    return layout.fields.size();
}

std::size_t filmIdColumn(const DetailLayout& layout) {
    return layout.fields.size() + 1;
}

const DetailField* columnField(const DetailLayout& layout, std::size_t column) {
    for (const DetailField& field : layout.fields) {
        if (field.column == column) {
            return &field;
        }
    }
    return nullptr;
}

std::string_view columnTitle(const DetailLayout& layout, std::size_t column) {
    if (const DetailField* field = columnField(layout, column)) {
        return field->column_title;
    }
    if (column == idColumn(layout)) {
        return "ID";
    }
    return column == filmIdColumn(layout) ? "IDPDB" : "";
}

int columnWidth(const DetailLayout& layout, std::size_t column) {
    if (const DetailField* field = columnField(layout, column)) {
        return field->column_width;
    }
    return column < columnCount(layout) ? kIdColumnWidth : 0;
}

DetailTable::DetailTable(const DetailLayout& layout, Database& database)
    : m_layout(layout),
      m_database(database),
      m_loadedFrom(database.generation()),
      m_index(database.keeper(layout.file), layout.row_size) {}

const std::filesystem::path& DetailTable::path() const {
    return m_database.paths().file(m_layout.file);
}

std::u16string DetailTable::cellText(std::size_t row, std::size_t column) const {
    const unsigned char* data = rowData(row);
    if (const DetailField* field = columnField(m_layout, column)) {
        return std::u16string(fieldText(data, *field));
    }
    if (column == idColumn(m_layout)) {
        return decimal(detail_file::rowId(data));
    }
    if (column == filmIdColumn(m_layout)) {
        return decimal(detail_file::rowFilmId(data));
    }
    return {};
}

std::int32_t DetailTable::rowId(std::size_t row) const {
    return detail_file::rowId(rowData(row));
}

std::int32_t DetailTable::rowFilmId(std::size_t row) const {
    return detail_file::rowFilmId(rowData(row));
}

namespace {

// Pairs the observer's two calls, also when the change between them throws.
class ListChange {
public:
    explicit ListChange(DetailTableObserver* observer) : m_observer(observer) {
        if (m_observer) {
            m_observer->listAboutToChange();
        }
    }
    ~ListChange() {
        if (m_observer) {
            m_observer->listChanged();
        }
    }
    ListChange(const ListChange&) = delete;
    ListChange& operator=(const ListChange&) = delete;

private:
    DetailTableObserver* m_observer;
};

}  // namespace

void DetailTable::rebuildList(const std::function<void()>& change) {
    const ListChange notify(m_observer);
    change();
    m_listed = true;
}

void DetailTable::clearList() {
    const ListChange notify(m_observer);
    m_listed = false;
}

void DetailTable::forgetRows() {
    rebuildList([&] {
        assignRows({});
        new_row_pending = false;
    });
    m_unsaved = false;
    m_loadedFrom.reset();
    m_film.reset();
    if (m_observer) {
        m_observer->filmChanged();
    }
}

bool DetailTable::holdsRows() const {
    return m_loadedFrom == m_database.generation();
}

bool DetailTable::mayWrite() const {
    return holdsRows() && m_database.mayWrite();
}

void DetailTable::loadRows(std::int32_t film_id) {
    const bool same_film = m_film == film_id && m_loadedFrom == m_database.generation();
    m_loadedFrom.reset();  // until the rows are in: a failed read leaves nothing to write
    m_film.reset();
    const std::vector<unsigned char> loaded =
        detail_file::readFilmRows(path(), m_layout.row_size, film_id, &m_index);
    rebuildList([&] {
        assignRows(loaded);
        new_row_pending = false;
    });
    m_unsaved = false;
    m_loadedFrom = m_database.generation();
    m_film = film_id;
    if (!same_film && m_observer) {
        m_observer->filmChanged();
    }
}

bool DetailTable::saveRows() {
    if (!mayWrite()) {
        return false;
    }
    const DatabaseLock lock(m_database.paths());
    m_database.finishInterruptedCommand();  // an interrupted command first: it changes what is read
    WriteBatch batch(m_database);
    saveRowsInto(batch);
    batch.commit();
    return true;
}

void DetailTable::saveRowsInto(WriteBatch& batch) {
    if (!mayWrite()) {
        return;
    }
    const std::size_t count = rowCount();
    const std::span<const unsigned char> entries =
        count == 0 ? std::span<const unsigned char>()
                   : std::span<const unsigned char>(rowData(0), count * m_layout.row_size);
    const detail_file::SavePlan plan = detail_file::planSave(
        path(), m_layout.row_size, entries, new_row_pending, detail_file::kSizeLimit, &m_index);
    const std::size_t row_size = m_layout.row_size;
    for (const auto& [entry, offset] : plan.writes) {
        batch.add(m_layout.file, offset, entries.data() + entry * row_size, row_size);
    }
    // The index catches up with the rows written through the table's keeper.
    batch.onCommitted([this, outcome = plan.outcome] {
        new_row_pending = outcome.new_row_pending;
        if (outcome.stopped_at_limit) {
            m_database.messages().showMessage(kFileFullMessage, kFileFullTitle);
        } else {
            m_unsaved = false;
        }
    });
}

bool DetailTable::newRow(std::int32_t film_id) {
    if (!mayWrite()) {
        return false;
    }
    std::optional<std::int32_t> next_id;
    {
        // Saved and numbered under one lock, so that no other program numbers a row in between.
        const DatabaseLock lock(m_database.paths());
        saveRows();
        next_id = nextRowId();
    }
    if (!next_id) {
        m_database.messages().showMessage(kRowIdsExhaustedMessage, kAppTitle);
        return false;
    }
    unsigned char* edit = editRowData();
    storeInt32(edit, kRowIdOffset, *next_id);
    storeInt32(edit, kRowFilmIdOffset, film_id);
    for (const DetailField& field : m_layout.fields) {
        storeField(edit, field, kNewRowText);
    }
    rebuildList([&] {
        appendEditRow();
        new_row_pending = true;
    });
    m_unsaved = true;
    return true;
}

std::optional<std::vector<std::u16string>> DetailTable::editRow(std::size_t row) {
    if (row >= listedRows()) {
        return std::nullopt;
    }
    std::vector<std::u16string> texts;
    texts.reserve(m_layout.fields.size());
    for (const DetailField& field : m_layout.fields) {
        const std::u16string cell = cellText(row, field.column);
        texts.emplace_back(cutToCapacity(cell, field.edit_limit));
    }
    unsigned char* edit = editRowData();
    storeInt32(edit, kRowIdOffset, rowId(row));
    storeInt32(edit, kRowFilmIdOffset, rowFilmId(row));
    return texts;
}

bool DetailTable::confirmRow(std::span<const std::u16string> texts,
                             std::optional<std::size_t> selected) {
    if (texts.size() != m_layout.fields.size()) {
        throw std::invalid_argument("confirmRow: one text per field expected");
    }
    unsigned char* edit = editRowData();
    for (std::size_t k = 0; k < texts.size(); ++k) {
        storeField(edit, m_layout.fields[k], texts[k]);
    }
    if (!selected || *selected >= listedRows()) {
        return false;
    }
    rebuildList([&] { std::memcpy(rowData(*selected), edit, m_layout.row_size); });
    m_unsaved = true;
    return true;
}

bool DetailTable::deleteRow(std::size_t row, std::int32_t film_id) {
    if (row >= listedRows()) {
        return false;
    }
    return deleteById(rowId(row), film_id);
}

bool DetailTable::deleteById(std::int32_t id, std::int32_t film_id) {
    if (!mayWrite()) {
        return false;
    }
    const DatabaseLock lock(m_database.paths());
    // The row is looked for in the table as an interrupted command would have left it.
    m_database.finishInterruptedCommand();
    const std::optional<std::uint64_t> offset =
        detail_file::findRow(path(), m_layout.row_size, id, film_id, &m_index);
    return offset && deleteRowAt(*offset, film_id);
}

bool DetailTable::deleteRowAt(std::uint64_t offset, std::int32_t film_id) {
    if (!mayWrite()) {
        return false;
    }
    const DatabaseLock lock(m_database.paths());
    // The film's rows are picked out of the new table while it is written, which gives what
    // reading it back would.
    m_database.finishInterruptedCommand();
    // No record may ever be written into the copy, whose rows stand at other offsets.
    settleRedo(m_database.paths());
    std::vector<unsigned char> loaded;
    const std::size_t row_size = m_layout.row_size;
    const bool deleted = detail_file::deleteRowAt(
        path(), row_size, offset,
        [&](const unsigned char* row) {
            if (detail_file::rowFilmId(row) == film_id) {
                loaded.insert(loaded.end(), row, row + row_size);
            }
        },
        m_stepHook, &m_index);
    if (!deleted) {
        return false;
    }
    rebuildList([&] {
        assignRows(loaded);
        new_row_pending = false;
    });
    m_unsaved = false;
    return true;
}

std::uint64_t DetailTable::countFileRows() const {
    return detail_file::countFileRows(path(), m_layout.row_size);
}

std::int32_t DetailTable::lastFileRowId() const {
    return detail_file::lastFileRowId(path(), m_layout.row_size, &m_index);
}

std::optional<std::int32_t> DetailTable::nextRowId() const {
    const PosixFile file(path(), PosixFile::Mode::Read);
    m_index.sync(file);
    const std::int32_t largest = std::max(m_index.largestId().value_or(0), 0);
    if (largest == std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return largest + 1;
}

std::int32_t DetailTable::largestFilmId() const {
    const PosixFile file(path(), PosixFile::Mode::Read);
    m_index.sync(file);
    return std::max(m_index.largestFilmId().value_or(0), 0);
}

}  // namespace ordavo
