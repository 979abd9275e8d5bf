#include <unistd.h>

#include <string>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "export/csv_export.h"
#include "storage/database.h"

namespace ordavo::cli {

namespace {

constexpr std::string_view kHelp =
    "Użycie: ordavo-cli export FOLDER PLIK [--current-id N] [--tables LISTA] "
    "[--charset KODOWANIE]\n"
    "\n"
    "Zapisuje bazę danych z FOLDERU do PLIKU CSV: wiersz tytułowy, a dla każdej tabeli jej\n"
    "tytuł, nazwy kolumn i wiersze danych; każde pole w cudzysłowie, cudzysłów w wartości\n"
    "podwojony, wiersze zakończone CR LF. PLIK „-” oznacza standardowe wyjście.\n"
    "\n"
    "  --current-id N        tylko film o identyfikatorze N i jego wiersze w pozostałych tabelach\n"
    "  --tables LISTA        tabele oddzielone przecinkami: film, ratings, cast, production,\n"
    "                        locations, loans (domyślnie wszystkie; pusta lista: sam wiersz\n"
    "                        tytułowy)\n"
    "  --charset KODOWANIE   kodowanie znaków pliku, nazwa znana iconv, np. CP1250, ISO-8859-2,\n"
    "                        UTF-8 (domyślnie kodowanie ustawień regionalnych, a dla\n"
    "                        ustawień C: UTF-8)\n"
    "\n"
    "Eksport powstaje najpierw w całości w pliku tymczasowym, a PLIK zmienia się dopiero na\n"
    "końcu. Nieudany eksport (znak, którego nie da się zapisać w wybranym kodowaniu, brakująca\n"
    "lub nieczytelna tabela, brak miejsca na dysku) zostawia PLIK bez zmian, a komunikat\n"
    "wskazuje film lub wiersz, kolumnę i znak. Plik tylko do odczytu i pliki bazy danych\n"
    "(także w folderze covers) nie są zastępowane. Potok, urządzenie i plik, którego nie da\n"
    "się zastąpić (np. w folderze bez prawa zapisu), dostają gotowy eksport w miejscu; tylko\n"
    "błąd w trakcie tego kopiowania może je zostawić niepełne.\n"
    "\n"
    "Kod wyjścia: 0 - plik zapisany, 2 - błąd.\n";

ExportSections sectionsFrom(std::string_view list) {
    ExportSections sections{false, false, false, false, false, false};
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        if (name == "film") {
            sections.films = true;
        } else if (name == "ratings") {
            sections.ratings = true;
        } else if (name == "cast") {
            sections.cast = true;
        } else if (name == "production") {
            sections.production = true;
        } else if (name == "locations") {
            sections.locations = true;
        } else if (name == "loans") {
            sections.loans = true;
        } else {
            throw UsageError("nieznana tabela " + inQuotes(name) +
                             " (dozwolone: film, ratings, cast, production, locations, loans)");
        }
    }
    return sections;
}

}  // namespace

int runExport(std::span<const std::string_view> args) {
    constexpr std::string_view kNames[] = {"FOLDER", "PLIK"};
    constexpr std::string_view kOptions[] = {"--current-id", "--tables", "--charset"};
    const Arguments arguments = parseArguments(args, kOptions);
    if (arguments.help) {
        print(kHelp);
        return kExitOk;
    }
    requirePositional(arguments, kNames);

    ExportScope scope = ExportScope::WholeDatabase;
    std::int32_t film_id = 0;
    if (const auto option = arguments.options.find("--current-id");
        option != arguments.options.end()) {
        const std::optional<std::int32_t> id = parseInt32(option->second);
        if (!id) {
            throw UsageError("niepoprawny identyfikator filmu " + inQuotes(option->second));
        }
        scope = ExportScope::CurrentFilm;
        film_id = *id;
    }
    ExportSections sections;
    if (const auto option = arguments.options.find("--tables"); option != arguments.options.end()) {
        sections = sectionsFrom(option->second);
    }
    std::string_view charset;
    if (const auto option = arguments.options.find("--charset");
        option != arguments.options.end()) {
        if (option->second.empty()) {
            throw UsageError("puste kodowanie znaków");
        }
        charset = option->second;
    }

    QuietSink quiet;
    const Database database(databaseIn(arguments.positional[0]), quiet);
    if (database.checkFileSet() == DatabaseState::Absent) {
        throw CliError("w folderze " + inQuotes(arguments.positional[0]) + " nie ma bazy danych");
    }
    try {
        if (arguments.positional[1] == "-") {
            ExportCsvToDescriptor(database.paths(), STDOUT_FILENO, "„-” (standardowe wyjście)",
                                  scope, film_id, sections, charset);
        } else {
            ExportCsv(database.paths(), std::filesystem::path(std::string(arguments.positional[1])),
                      scope, film_id, sections, charset);
        }
    } catch (const ExportError& error) {
        throw CliError(error.what());
    }
    return kExitOk;
}

}  // namespace ordavo::cli
