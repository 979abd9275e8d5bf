#include "literal_operations.h"

#include <algorithm>
#include <cstring>

#include "csv_lines.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "tabs/detail_rows.h"

namespace ordavo::bench {

namespace {

constexpr std::uint64_t kFileLimit = std::uint64_t{1} << 31;

std::int32_t rowInt32(const unsigned char* row, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, row + offset, sizeof value);
    return value;
}

// Reads one whole row at `offset`; a trailing partial row is padded with zeros.
void readWholeRow(const PosixFile& file, void* row, std::size_t size, std::uint64_t offset) {
    const std::size_t got = file.readAt(row, size, offset);
    std::memset(static_cast<unsigned char*>(row) + got, 0, size - got);
}

bool writable(const Database& database) {
    return database.checkFileSet() == DatabaseState::Intact && database.versionMatches();
}

}  // namespace

RecordCounter literalCounter(const DatabasePaths& paths, std::int32_t current_id) {
    PosixFile file(paths.file(DataFile::Films), PosixFile::Mode::Read);
    const std::uint64_t length = file.size();
    FilmRecord row;
    RecordCounter counter;
    for (std::uint64_t offset = 0; offset < length; offset += kFilmRowSize) {
        readWholeRow(file, &row, sizeof row, offset);
        ++counter.count;
        if (row.id == current_id) {
            counter.position = counter.count;
        }
    }
    return counter;
}

DetailRows literalLoadRows(const DatabasePaths& paths, DetailList list, std::int32_t film_id) {
    const DetailLayout& layout = detailLayout(list);
    PosixFile file(paths.file(layout.file), PosixFile::Mode::Read);
    const std::uint64_t length = file.size();
    std::vector<unsigned char> edit_row(layout.row_size);
    DetailRows rows;
    for (std::uint64_t offset = 0; offset < length; offset += layout.row_size) {
        readWholeRow(file, edit_row.data(), layout.row_size, offset);
        if (rowInt32(edit_row.data(), kRowFilmIdOffset) == film_id) {
            rows.bytes.insert(rows.bytes.end(), edit_row.begin(), edit_row.end());
            ++rows.count;
        }
    }
    return rows;
}

void literalSaveRows(const DatabasePaths& paths, DetailList list, const DetailRows& rows) {
    const DetailLayout& layout = detailLayout(list);
    const std::filesystem::path& path = paths.file(layout.file);
    PosixFile file(path, PosixFile::Mode::ReadWrite);
    const std::uint64_t start_length = file.size();
    std::vector<unsigned char> row(layout.row_size);
    for (std::size_t i = 0; i < rows.count; ++i) {
        const unsigned char* entry = rows.bytes.data() + i * layout.row_size;
        // The row count comes from a second opening of the table, which sees this save's writes.
        const std::uint64_t length = PosixFile(path, PosixFile::Mode::Read).size();
        if (length == 0) {
            file.writeAt(entry, layout.row_size, 0);
            continue;
        }
        if (length >= kFileLimit) {
            break;
        }
        const std::int32_t id = rowInt32(entry, kRowIdOffset);
        for (std::uint64_t offset = 0; offset < start_length; offset += layout.row_size) {
            readWholeRow(file, row.data(), layout.row_size, offset);
            if (rowInt32(row.data(), kRowIdOffset) == id) {
                file.writeAt(entry, layout.row_size, offset);
            }
        }
    }
}

void literalReadFilm(Database& database, std::int64_t offset, FilmRecord& film,
                     FilmDetailRows& rows) {
    if (database.checkFileSet() != DatabaseState::Intact) {
        return;
    }
    {
        PosixFile table(database.paths().file(DataFile::Films), PosixFile::Mode::Read);
        const std::size_t got =
            table.readAt(&film, sizeof film, static_cast<std::uint64_t>(offset));
        if (got > 0) {
            std::memset(reinterpret_cast<unsigned char*>(&film) + got, 0, sizeof film - got);
        }
    }
    for (DetailList list : kLoadOrder) {
        rows[static_cast<std::size_t>(list)] = literalLoadRows(database.paths(), list, film.id);
    }
}

void literalSaveFilm(Database& database, std::int64_t offset, const FilmRecord& film,
                     const FilmDetailRows& rows) {
    if (!writable(database)) {
        return;
    }
    PosixFile(database.paths().file(DataFile::Films), PosixFile::Mode::ReadWrite)
        .writeAt(&film, sizeof film, static_cast<std::uint64_t>(offset));
    for (DetailList list : kSaveOrder) {
        literalSaveRows(database.paths(), list, rows[static_cast<std::size_t>(list)]);
    }
}

RecordCounter literalNewFilm(Database& database, FilmRecord& film) {
    if (!writable(database)) {
        return {};
    }
    const std::optional<std::int32_t> id = database.issueFilmId();
    if (!id) {
        return {};
    }
    film.id = *id;
    {
        PosixFile table(database.paths().file(DataFile::Films), PosixFile::Mode::ReadWrite);
        table.writeAt(&film, sizeof film, table.size());
    }
    // The new row's offset is the table length minus one row; taking the length refreshes the
    // counter on the way.
    return literalCounter(database.paths(), film.id);
}

std::vector<std::int64_t> literalSearchTitle(const DatabasePaths& paths,
                                             std::u16string_view phrase) {
    PosixFile file(paths.file(DataFile::Films), PosixFile::Mode::Read);
    const std::uint64_t length = file.size();
    FilmRecord row;
    std::vector<std::int64_t> found;
    for (std::uint64_t offset = 0; offset < length; offset += kFilmRowSize) {
        readWholeRow(file, &row, sizeof row, offset);
        if (readText(row.title).find(phrase) != std::u16string_view::npos) {
            found.push_back(static_cast<std::int64_t>(offset));
        }
    }
    return found;
}

void literalExport(const DatabasePaths& paths, const std::filesystem::path& target) {
    CsvLines out(target);
    out.bare(kExportBanner);
    out.endLine();
    {
        PosixFile file(paths.file(DataFile::Films), PosixFile::Mode::Read);
        const std::uint64_t length = file.size();
        FilmRecord row;
        writeFilmHead(out);
        for (std::uint64_t offset = 0; offset < length; offset += kFilmRowSize) {
            readWholeRow(file, &row, sizeof row, offset);
            writeFilmLine(out, reinterpret_cast<const unsigned char*>(&row));
        }
    }
    for (DetailList list : kExportOrder) {
        const DetailLayout& layout = detailLayout(list);
        PosixFile file(paths.file(layout.file), PosixFile::Mode::Read);
        const std::uint64_t length = file.size();
        std::vector<unsigned char> row(layout.row_size);
        writeDetailHead(out, layout);
        for (std::uint64_t offset = 0; offset < length; offset += layout.row_size) {
            readWholeRow(file, row.data(), layout.row_size, offset);
            writeDetailLine(out, layout, row.data());
        }
    }
    out.flush();
}

void literalDeleteFilm(Database& database, std::int64_t offset) {
    if (!writable(database)) {
        return;
    }
    const std::filesystem::path& table = database.paths().file(DataFile::Films);
    std::filesystem::path temp = table;
    temp += "0";
    FilmRecord row;
    {
        PosixFile file(table, PosixFile::Mode::ReadWrite);
        readWholeRow(file, &row, sizeof row, static_cast<std::uint64_t>(offset));
        row.id = 0;
        file.writeAt(&row, sizeof row, static_cast<std::uint64_t>(offset));
    }
    std::filesystem::rename(table, temp);
    {
        PosixFile(table, PosixFile::Mode::CreateTruncate);
        const PosixFile source(temp, PosixFile::Mode::Read);
        PosixFile target(table, PosixFile::Mode::ReadWrite);
        const std::uint64_t length = source.size();
        std::uint64_t written = 0;
        for (std::uint64_t from = 0; from < length; from += kFilmRowSize) {
            readWholeRow(source, &row, sizeof row, from);
            if (row.id != 0) {
                target.writeAt(&row, sizeof row, written);
                written += sizeof row;
            }
        }
    }
    removeFile(temp);
}

}  // namespace ordavo::bench
