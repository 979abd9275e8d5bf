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
// export file as the user chose it and, where it applies, the database file, the section, the
// film or row, the column and the character. Whatever the kind, a temporary file of the export
// is removed, and the target holds what it held before (or is still absent), except after
// WrittenInPart.
class ExportError : public std::runtime_error {
public:
    enum class Kind {
        UnknownCharset,   // the character set is unknown
        Refused,          // the target belongs to a database or is read-only
        CannotCreate,     // the export file (or its temporary file) could not be created or opened
        CannotWrite,      // the export could not be written whole (a full disk, a file-size
                          // limit) or put in place
        CannotRead,       // a database file is missing, not a regular file or unreadable
        Unrepresentable,  // a character the character set lacks, or a broken surrogate pair
        WrittenInPart,    // copying the finished export into a target written in place (a FIFO,
                          // a device, a file that cannot be replaced) failed part way: the
                          // target may hold the start of the export
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
// The export is made whole before the target changes (see ExportTarget for how it gets there, and
// which targets are refused before anything is written): returns normally only when the whole
// export is in the target, and otherwise throws ExportError, the target being as it was unless
// the error says otherwise.
void ExportCsv(const DatabasePaths& database, const std::filesystem::path& path, ExportScope scope,
               std::int32_t current_film_id, const ExportSections& sections,
               std::string_view charset = {});

// The same export into an open descriptor (e.g. standard output), at its position; the
// descriptor is not closed. `label` names it in messages, e.g. "„-” (standardowe wyjście)".
// Nothing reaches the descriptor unless the whole export was made.
void ExportCsvToDescriptor(const DatabasePaths& database, int descriptor, std::string label,
                           ExportScope scope, std::int32_t current_film_id,
                           const ExportSections& sections, std::string_view charset = {});

}  // namespace ordavo
