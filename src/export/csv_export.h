#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ordavo {

struct DatabasePaths;

// Which films an export covers: every row of every chosen table, or only the rows of the film
// shown in the main window (the film row with its id, the detail rows with it as IDPDB).
enum class ExportScope { WholeDatabase, CurrentFilm };

// The six tables of the export wizard. Sections are always written in the file's own order:
// films, ratings, cast, production (producers, then distributors), locations, loans (to others,
// then from others).
struct ExportSections {
    bool films = true;
    bool ratings = true;
    bool cast = true;
    bool production = true;
    bool locations = true;
    bool loans = true;
};

// Why an export did not complete. what() is the whole Polish message for the user: it names the
// export file and, where it applies, the database file, the section and the row.
class ExportError : public std::runtime_error {
public:
    enum class Kind {
        UnknownCharset,   // nothing was written
        CannotCreate,     // the export file could not be created; nothing was written
        CannotWrite,      // writing failed (e.g. a full disk); the export file was left as it was
        CannotRead,       // a database file could not be read; the lines before it are in the file
        Unrepresentable,  // a character the character set lacks, or a broken surrogate pair; the
                          // text before it, its line's start included, is in the file
    };

    ExportError(Kind kind, const std::string& message)
        : std::runtime_error(message), m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// The title of the message box that shows an ExportError.
inline constexpr std::string_view kExportErrorTitle = "Kinokrat - Eksport";

// Writes the CSV export of the database at `database` to `path`: a banner line, then for each
// chosen section its title line, its header line and one line per row in file order. Every field
// is enclosed in double quotes, a quote inside a value is doubled, and every line ends in CR LF.
// Text is converted from UTF-16 to `charset` (an iconv name; empty means localeCharset()).
// `current_film_id` is only read in CurrentFilm scope. Only the database files are read.
//
// The file appears under `path` only when the export ends: complete, or cut short as the cases
// below allow. Returns normally only when the whole export was written; otherwise throws
// ExportError (see its kinds for what the file then holds).
void ExportCsv(const DatabasePaths& database, const std::filesystem::path& path, ExportScope scope,
               std::int32_t current_film_id, const ExportSections& sections,
               std::string_view charset = {});

}  // namespace ordavo
