#pragma once

// The operations of the film catalogue done the literal way, as the original program does them:
// every table is read from its start one whole row per read call, nothing is remembered between
// operations, and a save scans the whole table once per row it writes. Ordavo's own operations
// must give the same results; these are kept only as a yardstick for the benchmarks.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "storage/database.h"
#include "storage/film_record.h"
#include "storage/film_table.h"
#include "storage/page_handover.h"

namespace ordavo::bench {

// The rows of one film in one detail table, back to back, each one row of the table's layout.
struct DetailRows {
    std::vector<unsigned char> bytes;
    std::size_t count = 0;
};

// A film's rows in the seven detail tables, indexed by DetailList.
using FilmDetailRows = std::array<DetailRows, kDetailListCount>;

// "Rekord" N "z" M: every row of the film table read whole, one read per row.
RecordCounter literalCounter(const DatabasePaths& paths, std::int32_t current_id);

// The rows of film `film_id` of one detail table: every row read whole into a row buffer, one
// read per row, and copied when its IDPDB matches.
DetailRows literalLoadRows(const DatabasePaths& paths, DetailList list, std::int32_t film_id);

// Writes `rows` into a detail table: for each entry, the table's length is taken and every row
// below the length at the start is read whole; a row whose ID matches is overwritten.
void literalSaveRows(const DatabasePaths& paths, DetailList list, const DetailRows& rows);

// Reads the film row at `offset` into `film`, then its rows of the seven tables in load order.
void literalReadFilm(Database& database, std::int64_t offset, FilmRecord& film,
                     FilmDetailRows& rows);

// Writes `film` over the row at `offset`, then saves its rows of the seven tables in save order.
void literalSaveFilm(Database& database, std::int64_t offset, const FilmRecord& film,
                     const FilmDetailRows& rows);

// "Nowy" of the film table: issues a new id, appends the empty film as a row and finds its
// offset through the table length, which refreshes the counter row by row. Returns the counter.
RecordCounter literalNewFilm(Database& database, FilmRecord& film);

// The offsets of the films whose title contains `phrase`: one whole-row read per film.
std::vector<std::int64_t> literalSearchTitle(const DatabasePaths& paths,
                                             std::u16string_view phrase);

// Writes every row of every table as a CSV line to `target` (see CsvLines): one read per row.
void literalExport(const DatabasePaths& paths, const std::filesystem::path& target);

// Marks the film row at `offset` with id 0, moves the table to "KR_PDB.kr0" beside it, creates
// it anew and copies back every row whose id is not 0 with one read and one write per row.
void literalDeleteFilm(Database& database, std::int64_t offset);

}  // namespace ordavo::bench
