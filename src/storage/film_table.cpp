#include "storage/film_table.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "storage/database.h"
#include "storage/database_lock.h"
#include "storage/filter_state.h"
#include "storage/message_sink.h"
#include "storage/page_handover.h"
#include "storage/row_copier.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"
#include "storage/write_batch.h"

namespace ordavo {

namespace {

constexpr std::uint64_t kRowSize = kFilmRowSize;

// The id of the row at `offset`; bytes missing at the end of the table count as zero.
std::int32_t readRowId(const PosixFile& table, std::uint64_t offset) {
    std::int32_t id = 0;
    table.readAt(&id, sizeof id, offset);
    return id;
}

std::uint64_t rowIndex(std::int64_t offset) {
    return static_cast<std::uint64_t>(offset) / kRowSize;
}

}  // namespace

RecordCounter filterCounter(const FilterState& filter) {
    return {std::int64_t{filter.filter_index} + 1,
            static_cast<std::int64_t>(filter.filter_offsets.size())};
}

FilmTable::FilmTable(Database& database, PageHandover& pages)
    : m_database(database), m_pages(pages), m_current(zeroFilmRecord()) {
    m_database.keeper(DataFile::Films).attach(m_ids);
}

FilmTable::~FilmTable() {
    m_database.keeper(DataFile::Films).detach(m_ids);
}

void FilmTable::emptyCurrent() {
    emptyFilmRecord(m_current);
    m_holdsRow = false;
}

void FilmTable::Ids::rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) {
    for (const std::uint64_t row : rows) {
        if (row > ids.size()) {
            built = false;  // a write past the end: the table is read again
            return;
        }
        const std::int32_t id = readRowId(table, row * kRowSize);
        if (row == ids.size()) {
            ids.push_back(id);
        } else {
            ids[row] = id;
        }
    }
}

const std::vector<std::int32_t>& FilmTable::rowIds(const PosixFile& table) {
    TableKeeper& keeper = m_database.keeper(DataFile::Films);
    const std::lock_guard lock(keeper.mutex());
    if (keeper.validate(table) && m_ids.built) {
        return m_ids.ids;
    }
    // Only the ids are read, one small read per row; a change during the read shows in the
    // stamp taken after it.
    for (;;) {
        const TableKeeper::ReadStart start = keeper.startRead(table);
        const auto length = static_cast<std::uint64_t>(start.before.size);
        m_ids.ids.clear();
        m_ids.ids.reserve(rowCount(length, kRowSize));
        for (std::uint64_t offset = 0; offset < length; offset += kRowSize) {
            m_ids.ids.push_back(readRowId(table, offset));
        }
        if (keeper.recordRead(start, stampOf(table), &m_ids)) {
            m_ids.built = true;
            return m_ids.ids;
        }
    }
}

bool FilmTable::writable() const {
    return m_database.checkFileSet() == DatabaseState::Intact && m_database.versionMatches() &&
           m_database.mayWrite();
}

bool FilmTable::locateCurrentRow(const PosixFile& table) {
    const std::vector<std::int32_t>& ids = rowIds(table);
    if (current_offset >= 0 && current_offset % static_cast<std::int64_t>(kRowSize) == 0 &&
        rowIndex(current_offset) < ids.size() && ids[rowIndex(current_offset)] == m_current.id) {
        return true;
    }
    // The row moved (another program deleted an earlier film): the film is found by its id.
    for (std::size_t row = ids.size(); m_current.id != 0 && row > 0; --row) {
        if (ids[row - 1] == m_current.id) {
            current_offset = static_cast<std::int64_t>((row - 1) * kRowSize);
            return true;
        }
    }
    m_database.messages().showMessage("Zmiany nie zostały zapisane: filmu „" +
                                          toUtf8(readText(m_current.title)) + "” (ID " +
                                          std::to_string(m_current.id) + ") nie ma już w pliku " +
                                          table.path().string() + ". Usunął go inny program.",
                                      kAppTitle);
    return false;
}

void FilmTable::loadPages() {
    m_pages.clearList(DetailList::Reviews);
    for (DetailList list : kLoadOrder) {
        m_pages.loadRows(list, m_current.id);
    }
}

bool FilmTable::readRow(bool from_start) {
    if (m_database.checkFileSet() != DatabaseState::Intact) {
        // Whatever the lists held belongs to a film that is not shown, maybe of another database.
        for (DetailList list : kLoadOrder) {
            m_pages.forgetRows(list);
        }
        return false;
    }
    if (from_start) {
        current_offset = 0;
    }
    {
        PosixFile table(m_database.paths().file(DataFile::Films), PosixFile::Mode::Read);
        // Read into a scratch row so that a read past the end leaves the buffer untouched.
        FilmRecord row;
        const std::size_t got =
            current_offset < 0
                ? 0
                : table.readAt(&row, sizeof row, static_cast<std::uint64_t>(current_offset));
        if (got > 0) {
            std::memset(reinterpret_cast<unsigned char*>(&row) + got, 0, sizeof row - got);
            m_current = row;
            m_holdsRow = true;
        }
    }
    loadPages();
    return true;
}

void FilmTable::finishInterruptedWrite() {
    m_database.finishInterruptedCommand();
}

bool FilmTable::updateRow() {
    const DatabaseLock lock(m_database.paths());
    if (!writable()) {
        return false;
    }
    finishInterruptedWrite();
    WriteBatch batch(m_database);
    {
        const PosixFile table(m_database.paths().file(DataFile::Films), PosixFile::Mode::Read);
        if (!locateCurrentRow(table)) {
            return false;
        }
        addRowWrite(table, static_cast<std::uint64_t>(current_offset), batch);
    }
    // The film's detail rows go in the same batch: one record and one flush per file written.
    for (DetailList list : kSaveOrder) {
        m_pages.saveRows(list, m_current.id, batch);
    }
    batch.commit();
    return true;
}

void FilmTable::addRowWrite(const PosixFile& table, std::uint64_t offset, WriteBatch& batch) {
    rowIds(table);  // up to date before the write, so the write can simply be added to it
    clearUnusedUnits(m_current);
    batch.add(DataFile::Films, offset, &m_current, sizeof m_current);
}

bool FilmTable::appendRow([[maybe_unused]] bool table_was_empty) {
    const DatabaseLock lock(m_database.paths());
    if (!writable()) {
        return false;
    }
    finishInterruptedWrite();
    const PosixFile table(m_database.paths().file(DataFile::Films), PosixFile::Mode::Read);
    // A new id lies above every id a row carries, also when the header's counter is behind the
    // tables (restored from an older copy): a film never takes over another's detail rows.
    const std::vector<std::int32_t>& ids = rowIds(table);
    const std::int32_t largest_row_id = ids.empty() ? 0 : *std::max_element(ids.begin(), ids.end());
    WriteBatch batch(m_database);
    // The counter is in the same batch as the row: it is on the device before the row can be.
    const std::optional<std::int32_t> id =
        m_database.reserveFilmId(std::max(largest_row_id, m_pages.largestFilmId()), batch);
    if (!id) {
        return false;
    }
    // The row goes after the last row as the table is now, under the lock: another copy of the
    // program may have appended since the caller looked, and a trailing partial row is passed
    // over whole (read as padded with zeros), so that every row keeps its place.
    const std::uint64_t offset = rowCount(table.size(), kRowSize) * kRowSize;
    const std::int32_t previous_id = m_current.id;
    m_current.id = *id;
    addRowWrite(table, offset, batch);
    try {
        batch.commit();
    } catch (...) {
        m_current.id = previous_id;  // no row holds the new id: the buffer is as it was
        throw;
    }
    current_offset = static_cast<std::int64_t>(offset);
    m_holdsRow = true;
    return true;
}

bool FilmTable::deleteRow(const FilterState& filter) {
    const DatabaseLock lock(m_database.paths());
    if (!writable()) {
        return false;
    }
    if (filter.filter_mode) {
        m_database.messages().showMessage(kDeleteInFilterModeMessage, kAppTitle);
        return false;
    }
    // A record left over is finished before the copy is made, and settled: never written
    // into the copy, whose rows stand at other offsets.
    finishInterruptedWrite();
    settleRedo(m_database.paths());
    {
        const PosixFile table(m_database.paths().file(DataFile::Films), PosixFile::Mode::Read);
        if (!locateCurrentRow(table)) {
            return false;
        }
    }
    // The row is left out of the compacted copy instead of being marked 0 in place first: a
    // crash then leaves the table as it was or without the row, never with a row of id 0. The
    // buffer keeps its id until the copy is in place, so a failed delete leaves the film held.
    compact(static_cast<std::uint64_t>(current_offset) / kRowSize);
    m_current.id = 0;
    m_holdsRow = false;
    return true;
}

void FilmTable::compact(std::uint64_t dropped_row) {
    const std::filesystem::path& path = m_database.paths().file(DataFile::Films);
    // Opened for writing, though only read, so that a read-only table refuses the delete.
    PosixFile old_table(path, PosixFile::Mode::ReadWrite);
    const std::uint64_t length = old_table.size();
    const std::vector<std::int32_t> ids = rowIds(old_table);
    std::vector<std::int32_t> kept;
    kept.reserve(ids.size());
    replaceFile(
        path,
        [&](PosixFile& temp) {
            // Only the ids are read here; the rows themselves go over in runs.
            RowCopier copier(old_table, temp, kRowSize);
            for (std::uint64_t offset = 0; offset < length; offset += kRowSize) {
                if (offset / kRowSize == dropped_row) {
                    copier.drop();
                    continue;
                }
                kept.push_back(ids[offset / kRowSize]);
                copier.keep(offset);
            }
            copier.finish();
        },
        m_stepHook);
    old_table.closeInBackground();  // the replaced table's blocks are freed meanwhile
    m_ids.ids = std::move(kept);
    m_ids.built = true;
    m_database.keeper(DataFile::Films).ownReplace(PosixFile(path, PosixFile::Mode::Read), &m_ids);
}

std::uint64_t FilmTable::tableLength() const {
    PosixFile table(m_database.paths().file(DataFile::Films), PosixFile::Mode::Read);
    return table.size();
}

bool FilmTable::refreshCounter(const FilterState& filter) {
    const std::filesystem::path& path = m_database.paths().file(DataFile::Films);
    if (!pathExists(path)) {
        return false;
    }
    PosixFile table(path, PosixFile::Mode::Read);
    const std::uint64_t length = table.size();
    if (length == 0) {
        m_counter = {0, 0};
        return true;
    }
    if (filter.filter_mode) {
        m_counter = filterCounter(filter);
        return false;
    }
    const std::vector<std::int32_t>& ids = rowIds(table);
    std::int64_t position = 0;
    for (std::size_t row = ids.size(); row > 0; --row) {
        if (ids[row - 1] == m_current.id) {
            position = static_cast<std::int64_t>(row);
            break;
        }
    }
    m_counter = {position, static_cast<std::int64_t>(ids.size())};
    return false;
}

}  // namespace ordavo
