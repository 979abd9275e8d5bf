#include <optional>
#include <string>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "search/film_search.h"
#include "storage/database.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"

namespace ordavo::cli {

namespace {

constexpr std::string_view kHelpHead =
    "Użycie: ordavo-cli search FOLDER POLE FRAZA\n"
    "\n"
    "Wypisuje identyfikator i tytuł (oddzielone tabulatorem) każdego filmu, którego POLE zawiera\n"
    "FRAZĘ: dokładnie, z rozróżnieniem wielkich i małych liter; pusta fraza pasuje do każdego\n"
    "filmu. Frazę podaje się w UTF-8 (po \"--\" może zaczynać się od \"--\"); liczy się najwyżej\n"
    "500 pierwszych znaków. Niczego nie zapisuje.\n"
    "\n"
    "POLE to numer, nazwa albo etykieta pola:\n";

constexpr std::string_view kHelpTail =
    "\n"
    "Kod wyjścia: 0 - znaleziono filmy, 1 - nic nie znaleziono, 2 - błąd.\n";

std::string help() {
    std::string text(kHelpHead);
    for (std::size_t number = 0; number < kSearchFieldCount; ++number) {
        std::string line = (number < 10 ? "   " : "  ") + std::to_string(number) + "  ";
        line += searchField(number).member;
        line.resize(std::max<std::size_t>(line.size() + 2, 35), ' ');
        text += line + std::string(searchFieldLabel(number)) + "\n";
    }
    return text + std::string(kHelpTail);
}

// The list position named by a number, a member name or a list label.
std::size_t fieldNumber(std::string_view field) {
    if (const std::optional<std::int32_t> number = parseInt32(field)) {
        if (*number >= 0 && static_cast<std::size_t>(*number) < kSearchFieldCount) {
            return static_cast<std::size_t>(*number);
        }
    }
    for (std::size_t number = 0; number < kSearchFieldCount; ++number) {
        if (searchField(number).member == field || searchFieldLabel(number) == field) {
            return number;
        }
    }
    throw UsageError("nieznane pole " + inQuotes(field));
}

}  // namespace

int runSearch(std::span<const std::string_view> args) {
    constexpr std::string_view kNames[] = {"FOLDER", "POLE", "FRAZA"};
    const Arguments arguments = parseArguments(args, {});
    if (arguments.help) {
        print(help());
        return kExitOk;
    }
    requirePositional(arguments, kNames);
    const std::size_t field = fieldNumber(arguments.positional[1]);
    const std::optional<std::u16string> phrase = fromUtf8(arguments.positional[2]);
    if (!phrase) {
        throw UsageError("fraza nie jest tekstem UTF-8");
    }
    QuietSink quiet;
    const Database database(databaseIn(arguments.positional[0]), quiet);
    if (database.checkFileSet() == DatabaseState::Absent) {
        throw CliError("w folderze " + inQuotes(arguments.positional[0]) + " nie ma bazy danych");
    }

    TableKeeper films(database.paths().file(DataFile::Films));
    const std::vector<std::int64_t> offsets = FilmSearch(films).search(field, *phrase);
    if (offsets.empty()) {
        std::fputs("Nie znaleziono rekordów pasujących do wybranego kryterium.\n", stderr);
        return kExitNegative;
    }
    PosixFile table(database.paths().file(DataFile::Films), PosixFile::Mode::Read);
    std::string out;
    for (std::int64_t offset : offsets) {
        // The id and the title lie at the start of the row; a partial row reads with zeros.
        FilmRecord film = zeroFilmRecord();
        table.readAt(&film, offsetof(FilmRecord, title) + sizeof film.title,
                     static_cast<std::uint64_t>(offset));
        out += std::to_string(film.id) + "\t" + toUtf8(readText(film.title)) + "\n";
    }
    print(out);
    return kExitOk;
}

}  // namespace ordavo::cli
