#include "sqlite_mirror.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "bench_support.h"
#include "csv_lines.h"
#include "database_generator.h"
#include "storage/database_paths.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "tabs/detail_rows.h"

namespace ordavo::bench {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    throw std::runtime_error("SQLite: " + what + ": " + (db ? sqlite3_errmsg(db) : "no memory"));
}

std::string quotedName(std::string_view name) {
    return "\"" + std::string(name) + "\"";
}

std::string filmTextColumns() {
    std::string columns;
    for (const FilmFieldInfo& field : kFilmFields) {
        columns += (columns.empty() ? "" : ", ") + quotedName(field.member);
    }
    return columns;
}

std::string detailTextColumns(const DetailLayout& layout) {
    std::string columns;
    for (const DetailField& field : layout.fields) {
        columns += (columns.empty() ? "" : ", ") + quotedName(field.member);
    }
    return columns;
}

std::string tableName(const DetailLayout& layout) {
    return quotedName(layout.row_type);
}

// "?2, ?3, ..." for `count` parameters numbered from `first`.
std::string parameters(std::size_t first, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += (i == 0 ? "?" : ", ?") + std::to_string(first + i);
    }
    return text;
}

std::int32_t rowInt32(const unsigned char* row, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, row + offset, sizeof value);
    return value;
}

void setRowInt32(unsigned char* row, std::size_t offset, std::int32_t value) {
    std::memcpy(row + offset, &value, sizeof value);
}

std::filesystem::path withSuffix(std::filesystem::path path, std::string_view suffix) {
    path += std::string(suffix);
    return path;
}

void removeWithJournals(const std::filesystem::path& path) {
    for (std::string_view suffix : {"", "-journal", "-wal", "-shm"}) {
        std::filesystem::remove(withSuffix(path, suffix));
    }
}

}  // namespace

// A prepared statement, reset before each use.
class SqliteMirror::Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : m_db(db) {
        if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) != SQLITE_OK) {
            fail(db, "prepare " + sql);
        }
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& reset() {
        sqlite3_reset(m_statement);
        return *this;
    }
    void bind(int index, std::int32_t value) {
        if (sqlite3_bind_int(m_statement, index, value) != SQLITE_OK) {
            fail(m_db, "bind");
        }
    }
    // The text must stay in place until the statement is reset.
    void bind(int index, std::u16string_view text) {
        if (sqlite3_bind_text16(m_statement, index, text.data(),
                                static_cast<int>(text.size() * sizeof(char16_t)),
                                SQLITE_STATIC) != SQLITE_OK) {
            fail(m_db, "bind");
        }
    }
    // True while there is a row.
    bool step() {
        const int result = sqlite3_step(m_statement);
        if (result == SQLITE_ROW) {
            return true;
        }
        if (result != SQLITE_DONE) {
            fail(m_db, "step");
        }
        return false;
    }
    void run() {
        while (step()) {
        }
    }
    std::int32_t integer(int column) const { return sqlite3_column_int(m_statement, column); }
    std::u16string_view text(int column) const {
        const auto* data = static_cast<const char16_t*>(sqlite3_column_text16(m_statement, column));
        const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes16(m_statement, column));
        return data ? std::u16string_view(data, bytes / sizeof(char16_t)) : std::u16string_view();
    }
    int columns() const { return sqlite3_column_count(m_statement); }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
};

namespace {

using Statement = SqliteMirror::Statement;

sqlite3* openDatabase(const std::filesystem::path& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : "no memory";
        sqlite3_close(db);
        throw std::runtime_error("SQLite: open " + path.string() + ": " + message);
    }
    return db;
}

void executeOn(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("SQLite: " + sql + ": " + message);
    }
}

// Calls `row` for every whole row of a table file, read in large chunks.
template <class RowFunction>
void forEachFileRow(const std::filesystem::path& path, std::size_t row_size, RowFunction row) {
    const PosixFile file(path, PosixFile::Mode::Read);
    const std::uint64_t length = file.size();
    const std::size_t chunk_rows = std::max<std::size_t>(1, kChunkBytes / row_size);
    std::vector<unsigned char> chunk(chunk_rows * row_size);
    for (std::uint64_t offset = 0; offset < length; offset += chunk.size()) {
        const std::size_t got = file.readAt(chunk.data(), chunk.size(), offset);
        std::memset(chunk.data() + got, 0, chunk.size() - got);
        for (std::size_t at = 0; at < got; at += row_size) {
            row(chunk.data() + at);
        }
    }
}

void createTables(sqlite3* db) {
    std::string film = "CREATE TABLE \"Film\" (id INTEGER PRIMARY KEY AUTOINCREMENT";
    for (const FilmFieldInfo& field : kFilmFields) {
        film += ", " + quotedName(field.member) + " TEXT NOT NULL";
    }
    executeOn(db, film + ")");
    for (DetailList list : kExportOrder) {
        const DetailLayout& layout = detailLayout(list);
        std::string table = "CREATE TABLE " + tableName(layout) +
                            " (ID INTEGER PRIMARY KEY, IDPDB INTEGER NOT NULL";
        for (const DetailField& field : layout.fields) {
            table += ", " + quotedName(field.member) + " TEXT NOT NULL";
        }
        executeOn(db, table + ")");
    }
}

void copyRows(sqlite3* db, const DatabasePaths& paths) {
    {
        Statement insert(db, "INSERT INTO \"Film\" (id, " + filmTextColumns() + ") VALUES (" +
                                 parameters(1, 1 + kFilmTextFieldCount) + ")");
        forEachFileRow(paths.file(DataFile::Films), kFilmRowSize, [&](const unsigned char* row) {
            const auto& film = *reinterpret_cast<const FilmRecord*>(row);
            insert.reset().bind(1, film.id);
            for (std::size_t i = 0; i < kFilmTextFieldCount; ++i) {
                insert.bind(static_cast<int>(i + 2), fieldText(film, kFilmFields[i]));
            }
            insert.run();
        });
    }
    for (DetailList list : kExportOrder) {
        const DetailLayout& layout = detailLayout(list);
        Statement insert(db, "INSERT INTO " + tableName(layout) + " (ID, IDPDB, " +
                                 detailTextColumns(layout) + ") VALUES (" +
                                 parameters(1, 2 + layout.fields.size()) + ")");
        forEachFileRow(paths.file(layout.file), layout.row_size, [&](const unsigned char* row) {
            insert.reset().bind(1, rowInt32(row, kRowIdOffset));
            insert.bind(2, rowInt32(row, kRowFilmIdOffset));
            for (std::size_t i = 0; i < layout.fields.size(); ++i) {
                const DetailField& field = layout.fields[i];
                insert.bind(
                    static_cast<int>(i + 3),
                    readText(reinterpret_cast<const char16_t*>(row + field.offset), field.width));
            }
            insert.run();
        });
    }
}

void buildMirror(const DatabasePaths& paths, const std::filesystem::path& target) {
    sqlite3* db = openDatabase(target);
    try {
        executeOn(db, "PRAGMA encoding = 'UTF-16le'");
        executeOn(db, "PRAGMA journal_mode = OFF");
        executeOn(db, "PRAGMA synchronous = OFF");
        createTables(db);
        executeOn(db, "BEGIN");
        copyRows(db, paths);
        executeOn(db, "COMMIT");
        for (DetailList list : kExportOrder) {
            const DetailLayout& layout = detailLayout(list);
            executeOn(db, "CREATE INDEX " + quotedName(std::string(layout.row_type) + "_IDPDB") +
                              " ON " + tableName(layout) + " (IDPDB)");
        }
        executeOn(db, "PRAGMA journal_mode = DELETE");
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    sqlite3_close(db);
}

}  // namespace

std::filesystem::path cachedMirror(int films) {
    const std::filesystem::path source = cachedDatabase(cacheRoot() / "cache", films);
    const std::filesystem::path target =
        cacheRoot() / "cache" / ("films-" + std::to_string(films) + ".sqlite");
    if (!std::filesystem::exists(target)) {
        const std::filesystem::path partial = withSuffix(target, ".part");
        removeWithJournals(partial);
        buildMirror(buildPaths(source), partial);
        std::filesystem::rename(partial, target);
    }
    return target;
}

std::filesystem::path scratchMirror(int films, Durability durability) {
    static std::map<std::pair<int, Durability>, std::filesystem::path> made;
    const auto key = std::make_pair(films, durability);
    if (auto it = made.find(key); it != made.end()) {
        return it->second;
    }
    const std::filesystem::path source = cachedMirror(films);
    const std::filesystem::path scratch =
        cacheRoot() / ("scratch-" + std::to_string(films) +
                       (durability == Durability::WalNormal ? "-wal" : "-full") + ".sqlite");
    removeWithJournals(scratch);
    std::filesystem::copy_file(source, scratch);
    made[key] = scratch;
    return scratch;
}

SqliteMirror::SqliteMirror(const std::filesystem::path& path, Durability durability)
    : m_db(openDatabase(path)) {
    if (durability == Durability::WalNormal) {
        execute("PRAGMA journal_mode = WAL");
        execute("PRAGMA synchronous = NORMAL");
    } else {
        execute("PRAGMA journal_mode = DELETE");
        execute("PRAGMA synchronous = FULL");
    }
}

SqliteMirror::~SqliteMirror() {
    // The statements go before the connection.
    m_count.reset();
    m_position.reset();
    m_readFilm.reset();
    m_updateFilm.reset();
    m_insertFilm.reset();
    m_search.reset();
    m_deleteFilm.reset();
    m_begin.reset();
    m_commit.reset();
    for (auto& statement : m_readRows) {
        statement.reset();
    }
    for (auto& statement : m_updateRow) {
        statement.reset();
    }
    sqlite3_close(m_db);
}

SqliteMirror::Statement& SqliteMirror::prepared(std::unique_ptr<Statement>& slot,
                                                const std::string& sql) {
    if (!slot) {
        slot = std::make_unique<Statement>(m_db, sql);
    }
    return slot->reset();
}

void SqliteMirror::execute(const char* sql) {
    executeOn(m_db, sql);
}

RecordCounter SqliteMirror::counter(std::int32_t current_id) {
    RecordCounter counter;
    Statement& count = prepared(m_count, "SELECT count(*) FROM \"Film\"");
    count.step();
    counter.count = count.integer(0);
    count.reset();
    Statement& position = prepared(m_position,
                                   "SELECT count(*) FROM \"Film\" WHERE id <= ?1 AND EXISTS "
                                   "(SELECT 1 FROM \"Film\" WHERE id = ?1)");
    position.bind(1, current_id);
    position.step();
    counter.position = position.integer(0);
    position.reset();
    return counter;
}

void SqliteMirror::readFilm(std::int32_t id, FilmRecord& film, FilmDetailRows& rows) {
    Statement& select =
        prepared(m_readFilm, "SELECT id, " + filmTextColumns() + " FROM \"Film\" WHERE id = ?1");
    select.bind(1, id);
    if (select.step()) {
        film.id = select.integer(0);
        for (std::size_t i = 0; i < kFilmTextFieldCount; ++i) {
            setFieldText(film, kFilmFields[i], select.text(static_cast<int>(i + 1)));
        }
    }
    select.reset();
    for (DetailList list : kLoadOrder) {
        const DetailLayout& layout = detailLayout(list);
        Statement& rowsOf = prepared(m_readRows[static_cast<std::size_t>(list)],
                                     "SELECT ID, IDPDB, " + detailTextColumns(layout) + " FROM " +
                                         tableName(layout) + " WHERE IDPDB = ?1 ORDER BY ID");
        rowsOf.bind(1, id);
        DetailRows& loaded = rows[static_cast<std::size_t>(list)];
        loaded.bytes.clear();
        loaded.count = 0;
        while (rowsOf.step()) {
            loaded.bytes.resize(loaded.bytes.size() + layout.row_size);
            unsigned char* row = loaded.bytes.data() + loaded.count * layout.row_size;
            setRowInt32(row, kRowIdOffset, rowsOf.integer(0));
            setRowInt32(row, kRowFilmIdOffset, rowsOf.integer(1));
            for (std::size_t i = 0; i < layout.fields.size(); ++i) {
                const DetailField& field = layout.fields[i];
                storeText(reinterpret_cast<char16_t*>(row + field.offset), field.width,
                          rowsOf.text(static_cast<int>(i + 2)));
            }
            ++loaded.count;
        }
        rowsOf.reset();
    }
}

void SqliteMirror::saveFilm(const FilmRecord& film, const FilmDetailRows& rows) {
    prepared(m_begin, "BEGIN").run();
    std::string assignments;
    for (std::size_t i = 0; i < kFilmTextFieldCount; ++i) {
        assignments += (i == 0 ? "" : ", ") + quotedName(kFilmFields[i].member) + " = ?" +
                       std::to_string(i + 2);
    }
    Statement& update =
        prepared(m_updateFilm, "UPDATE \"Film\" SET " + assignments + " WHERE id = ?1");
    update.bind(1, film.id);
    for (std::size_t i = 0; i < kFilmTextFieldCount; ++i) {
        update.bind(static_cast<int>(i + 2), fieldText(film, kFilmFields[i]));
    }
    update.run();
    update.reset();
    for (DetailList list : kSaveOrder) {
        const DetailLayout& layout = detailLayout(list);
        const DetailRows& saved = rows[static_cast<std::size_t>(list)];
        if (saved.count == 0) {
            continue;
        }
        std::string set = "IDPDB = ?2";
        for (std::size_t i = 0; i < layout.fields.size(); ++i) {
            set += ", " + quotedName(layout.fields[i].member) + " = ?" + std::to_string(i + 3);
        }
        Statement& updateRow =
            prepared(m_updateRow[static_cast<std::size_t>(list)],
                     "UPDATE " + tableName(layout) + " SET " + set + " WHERE ID = ?1");
        for (std::size_t r = 0; r < saved.count; ++r) {
            const unsigned char* row = saved.bytes.data() + r * layout.row_size;
            updateRow.reset();
            updateRow.bind(1, rowInt32(row, kRowIdOffset));
            updateRow.bind(2, rowInt32(row, kRowFilmIdOffset));
            for (std::size_t i = 0; i < layout.fields.size(); ++i) {
                const DetailField& field = layout.fields[i];
                updateRow.bind(
                    static_cast<int>(i + 3),
                    readText(reinterpret_cast<const char16_t*>(row + field.offset), field.width));
            }
            updateRow.run();
        }
        updateRow.reset();
    }
    prepared(m_commit, "COMMIT").run();
}

RecordCounter SqliteMirror::newFilm() {
    std::string empties;
    for (std::size_t i = 0; i < kFilmTextFieldCount; ++i) {
        empties += i == 0 ? "''" : ", ''";
    }
    Statement& insert = prepared(
        m_insertFilm, "INSERT INTO \"Film\" (" + filmTextColumns() + ") VALUES (" + empties + ")");
    insert.run();
    insert.reset();
    return counter(static_cast<std::int32_t>(sqlite3_last_insert_rowid(m_db)));
}

std::vector<std::int32_t> SqliteMirror::searchTitle(std::u16string_view phrase) {
    Statement& search =
        prepared(m_search, "SELECT id FROM \"Film\" WHERE instr(\"title\", ?1) > 0 ORDER BY id");
    search.bind(1, phrase);
    std::vector<std::int32_t> found;
    while (search.step()) {
        found.push_back(search.integer(0));
    }
    search.reset();
    return found;
}

void SqliteMirror::exportCsv(const std::filesystem::path& target) {
    CsvLines out(target);
    out.bare(kExportBanner);
    out.endLine();
    writeFilmHead(out);
    {
        Statement all(m_db, "SELECT id, " + filmTextColumns() + " FROM \"Film\" ORDER BY id");
        while (all.step()) {
            out.number(all.integer(0));
            for (int column = 1; column <= static_cast<int>(kFilmTextFieldCount); ++column) {
                out.quoted(all.text(column));
            }
            out.endLine();
        }
    }
    for (DetailList list : kExportOrder) {
        const DetailLayout& layout = detailLayout(list);
        writeDetailHead(out, layout);
        Statement all(m_db, "SELECT ID, IDPDB, " + detailTextColumns(layout) + " FROM " +
                                tableName(layout) + " ORDER BY ID");
        const int columns = all.columns();
        while (all.step()) {
            out.number(all.integer(0));
            out.number(all.integer(1));
            for (int column = 2; column < columns; ++column) {
                out.quoted(all.text(column));
            }
            out.endLine();
        }
    }
    out.flush();
}

void SqliteMirror::deleteFilm(std::int32_t id) {
    Statement& remove = prepared(m_deleteFilm, "DELETE FROM \"Film\" WHERE id = ?1");
    remove.bind(1, id);
    remove.run();
    remove.reset();
}

void SqliteMirror::deleteFilmsAbove(std::int32_t last_id) {
    execute(("DELETE FROM \"Film\" WHERE id > " + std::to_string(last_id)).c_str());
}

}  // namespace ordavo::bench
