#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "storage/file_names.h"

namespace ordavo {

class Database;
struct DatabasePaths;

// How films and rows of the file become films and rows of the database.
enum class ImportMode {
    Automatic,  // Restore into an empty database, Append into one that holds anything
    Restore,    // the database is empty: ids and row IDs as in the file
    Append,     // new ids and row IDs; rows of films the file lacks are left out
};

// What becomes of films that look like films already in the database (same title, original title
// and production year, compared as the film list's quick filter compares text).
enum class DuplicateFilms { Skip, Keep };

struct ImportOptions {
    std::string charset;  // an iconv name; empty: the locale's, as the export writes
    ImportMode mode = ImportMode::Automatic;
    DuplicateFilms duplicates = DuplicateFilms::Skip;
};

// What an import finds in its file and is to write, as analyseImport tells it before anything is
// written and runImport after it wrote.
struct ImportSummary {
    std::string charset;
    char16_t separator = u',';
    bool own_export = false;  // the file is an export of the program (otherwise a film table)
    ImportMode mode = ImportMode::Restore;  // never Automatic
    DuplicateFilms duplicates = DuplicateFilms::Skip;

    struct Table {
        DataFile file;
        std::string_view title;          // the section's title, e.g. "Tabela Obsada"
        std::uint64_t in_file = 0;       // data lines
        std::uint64_t imported = 0;      // rows written
        std::uint64_t without_film = 0;  // of films the file does not hold (left out in Append)
        std::uint64_t of_skipped = 0;    // of films skipped as duplicates
    };
    Table films{DataFile::Films, "Tabela główna - Film"};
    std::vector<Table> details;  // the detail sections found, in the export's order

    std::uint64_t duplicate_films = 0;
    std::vector<std::string> duplicate_examples;  // "„Title” (year), wiersz N", the first few
    std::vector<std::string> unknown_columns;     // of a film table, skipped
    struct Cut {
        std::string where;  // section and column
        std::uint64_t count = 0;
        std::uint64_t first_line = 0;
    };
    std::vector<Cut> cuts;       // values longer than their field, cut as typing cuts them
    std::uint64_t checksum = 0;  // of the file's bytes

    // The summary as the user reads it, in Polish, one fact per line.
    std::string describe() const;
    bool writesNothing() const;
};

// Why an import did not take place: the whole Polish message for the user (the file, the line and
// column, what is wrong, and that the database was left as it was).
class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::string_view kImportTitle = "Ordavo - Import";

// Reads the whole file and tells what an import would do, writing nothing. Throws ImportError
// for a file that cannot be imported (bad input, an unknown character set, a database that is
// not empty for Restore) and FileError when a file cannot be read.
ImportSummary analyseImport(const DatabasePaths& database, const std::filesystem::path& file,
                            const ImportOptions& options);

// Progress of a running import: the bytes of the file read so far and their total. Returns
// false to cancel; the database is then left as it was.
using ImportProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Imports the file as `analysed` (analyseImport's summary of it with the same options) said:
// all or nothing, under the database lock, through a bulk append that a kill or power cut leaves
// undone or whole. Returns the summary of what was written, or false in `completed` when
// cancelled. Throws ImportError (the file changed since it was analysed, bad input, the database
// may not be written) or FileError; either way, the database is as it was.
ImportSummary runImport(Database& database, const std::filesystem::path& file,
                        const ImportOptions& options, const ImportSummary& analysed,
                        const ImportProgress& progress, bool& completed);

}  // namespace ordavo
