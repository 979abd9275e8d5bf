#pragma once

// The generated databases in SQLite, for comparing Ordavo's files with an embedded SQL database
// answering the same questions. One table per file: "Film" (id INTEGER PRIMARY KEY AUTOINCREMENT,
// so ids are never reused, and the 51 text fields) and the seven detail tables named after their
// row types (ID INTEGER PRIMARY KEY, IDPDB with an index, and their text fields). Text is stored
// as UTF-16LE, the files' own encoding, and every empty field as ''.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "literal_operations.h"
#include "storage/film_record.h"
#include "storage/film_table.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ordavo::bench {

// The SQLite copy of the generated database of `films` films, built once from its files and kept
// beside it as "films-N.sqlite" in the cache.
std::filesystem::path cachedMirror(int films);

// How a connection commits.
enum class Durability {
    FullRollback,  // SQLite's defaults: rollback journal, synchronous=FULL
    WalNormal,     // write-ahead log, synchronous=NORMAL
};

// A private, writable copy of cachedMirror(films) for one durability, made once per process.
std::filesystem::path scratchMirror(int films, Durability durability);

// One connection with its prepared statements, answering the catalogue's questions.
class SqliteMirror {
public:
    SqliteMirror(const std::filesystem::path& path, Durability durability);
    ~SqliteMirror();
    SqliteMirror(const SqliteMirror&) = delete;
    SqliteMirror& operator=(const SqliteMirror&) = delete;

    // "Rekord" N "z" M: the number of films and the place of film `current_id` in id order.
    RecordCounter counter(std::int32_t current_id);
    // The film's record and its rows of the seven tables, in ID order, as whole rows.
    void readFilm(std::int32_t id, FilmRecord& film, FilmDetailRows& rows);
    // Writes the record and every row of `rows` (matched by ID) in one transaction.
    void saveFilm(const FilmRecord& film, const FilmDetailRows& rows);
    // Inserts an empty film with a new id, then counts as the counter does.
    RecordCounter newFilm();
    // The ids of the films whose title contains `phrase` (case-sensitive, instr).
    std::vector<std::int32_t> searchTitle(std::u16string_view phrase);
    // Every row of every table as a CSV line, written to `target` as CsvLines writes.
    void exportCsv(const std::filesystem::path& target);
    void deleteFilm(std::int32_t id);
    // Removes the films above `last_id` (what newFilm added).
    void deleteFilmsAbove(std::int32_t last_id);

    class Statement;

private:
    Statement& prepared(std::unique_ptr<Statement>& slot, const std::string& sql);
    void execute(const char* sql);

    sqlite3* m_db = nullptr;
    std::unique_ptr<Statement> m_count;
    std::unique_ptr<Statement> m_position;
    std::unique_ptr<Statement> m_readFilm;
    std::unique_ptr<Statement> m_updateFilm;
    std::unique_ptr<Statement> m_insertFilm;
    std::unique_ptr<Statement> m_search;
    std::unique_ptr<Statement> m_deleteFilm;
    std::unique_ptr<Statement> m_begin;
    std::unique_ptr<Statement> m_commit;
    std::array<std::unique_ptr<Statement>, kDetailListCount> m_readRows;
    std::array<std::unique_ptr<Statement>, kDetailListCount> m_updateRow;
};

}  // namespace ordavo::bench
