#include <string>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "import/csv_import.h"
#include "storage/database.h"
#include "storage/file_error.h"
#include "storage/posix_file.h"

namespace ordavo::cli {

namespace {

constexpr std::string_view kHelp =
    "Użycie: ordavo-cli import FOLDER PLIK [--charset KODOWANIE] [--mode restore|append]\n"
    "                          [--duplicates skip|keep] [--dry-run]\n"
    "\n"
    "Wczytuje PLIK CSV do bazy danych w FOLDERZE: eksport programu (cała baza lub jeden film,\n"
    "dowolne tabele, także po zapisaniu w arkuszu kalkulacyjnym: przecinek, średnik lub\n"
    "tabulator, dowolne cudzysłowy, znacznik BOM, CR LF lub LF) albo tabelę filmów z wierszem\n"
    "nagłówka, którego kolumny noszą nazwy z eksportu lub etykiety formularza („Tytuł”,\n"
    "„Gatunek”, „Rok produkcji”...). Nieznane kolumny tabeli filmów są pomijane. Gdy FOLDERU nie\n"
    "ma albo jest pusty, powstaje w nim nowa baza danych.\n"
    "\n"
    "  --charset KODOWANIE   kodowanie znaków pliku, nazwa znana iconv, np. CP1250, ISO-8859-2,\n"
    "                        UTF-8 (domyślnie jak w eksporcie: kodowanie ustawień regionalnych)\n"
    "  --mode restore        odtworzenie kopii w pustej bazie: identyfikatory jak w pliku\n"
    "  --mode append         dołączenie: nowe identyfikatory filmów i wierszy; wiersze filmów,\n"
    "                        których nie ma w pliku, są pomijane (domyślnie: restore dla pustej\n"
    "                        bazy, append dla pozostałych)\n"
    "  --duplicates skip     filmy o tym samym tytule, tytule oryginalnym i roku produkcji co\n"
    "                        zapisane w bazie są pomijane razem z ich wierszami (domyślnie)\n"
    "  --duplicates keep     takie filmy też są importowane\n"
    "  --dry-run             tylko podsumowanie; niczego nie zapisuje\n"
    "\n"
    "Najpierw cały plik zostaje sprawdzony i wypisane jest podsumowanie. Import odbywa się w\n"
    "całości albo wcale: błąd w pliku (niezamknięty cudzysłów, zła liczba pól, nieznana sekcja\n"
    "lub kolumna, bajty spoza kodowania, tekst zamiast liczby) zatrzymuje go przed zapisaniem\n"
    "czegokolwiek, z komunikatem wskazującym wiersz i kolumnę. Przerwany import (awaria, brak\n"
    "zasilania) zostaje cofnięty przy następnym otwarciu bazy. Wartości dłuższe niż pole są\n"
    "przycinane tak jak przy wpisywaniu.\n"
    "\n"
    "Kod wyjścia: 0 - zaimportowano (lub sprawdzono przy --dry-run), 2 - błąd.\n";

ImportOptions optionsFrom(const Arguments& arguments) {
    ImportOptions options;
    if (const auto option = arguments.options.find("--charset");
        option != arguments.options.end()) {
        if (option->second.empty()) {
            throw UsageError("puste kodowanie znaków");
        }
        options.charset = std::string(option->second);
    }
    if (const auto option = arguments.options.find("--mode"); option != arguments.options.end()) {
        if (option->second == "restore") {
            options.mode = ImportMode::Restore;
        } else if (option->second == "append") {
            options.mode = ImportMode::Append;
        } else {
            throw UsageError("nieznany tryb " + inQuotes(option->second) +
                             " (dozwolone: restore, append)");
        }
    }
    if (const auto option = arguments.options.find("--duplicates");
        option != arguments.options.end()) {
        if (option->second == "skip") {
            options.duplicates = DuplicateFilms::Skip;
        } else if (option->second == "keep") {
            options.duplicates = DuplicateFilms::Keep;
        } else {
            throw UsageError("nieznana wartość " + inQuotes(option->second) +
                             " (dozwolone: skip, keep)");
        }
    }
    return options;
}

// Takes away the empty database this run created for an import that then did not take place;
// returns what to add to the message when that did not succeed.
std::string removeNewDatabase(const DatabasePaths& paths, bool with_folder) {
    try {
        for (DataFile file : kAllDataFiles) {
            removeFile(paths.file(file));
        }
        removeFile(paths.redo_record);
        removeFolder(paths.covers_folder);
        if (with_folder) {
            removeFolder(paths.database_folder);  // only when nothing else came into it
        }
        return {};
    } catch (const FileError& error) {
        return " Nowa, pusta baza danych została w folderze " +
               inQuotes(paths.database_folder.native()) + " (" + error.polishMessage() + ").";
    }
}

}  // namespace

int runImport(std::span<const std::string_view> args) {
    constexpr std::string_view kNames[] = {"FOLDER", "PLIK"};
    constexpr std::string_view kOptions[] = {"--charset", "--mode", "--duplicates"};
    constexpr std::string_view kFlags[] = {"--dry-run"};
    const Arguments arguments = parseArguments(args, kOptions, kFlags);
    if (arguments.help) {
        print(kHelp);
        return kExitOk;
    }
    requirePositional(arguments, kNames);
    const bool dry_run = arguments.options.count("--dry-run") != 0;
    const ImportOptions options = optionsFrom(arguments);
    const std::filesystem::path file(std::string(arguments.positional[1]));

    const std::filesystem::path folder(std::string(arguments.positional[0]));
    QuietSink quiet;
    Database database(pathExists(folder) ? databaseIn(arguments.positional[0])
                                         : buildPaths(std::filesystem::absolute(folder)),
                      quiet);
    std::string damage;
    const DatabaseState state = database.fileSetState(&damage);
    if (state == DatabaseState::Damaged) {
        throw CliError(damage);
    }
    if (state == DatabaseState::Intact && !dry_run) {
        if (const WriteRefusal refusal = database.writeRefusal(); refusal != WriteRefusal::None) {
            throw CliError(database.writeRefusalMessage(refusal));
        }
        // As the program opens a database: a command or an import cut short is finished or
        // taken back before anything is read.
        database.recoverInterruptedWrites();
    }
    const bool folder_was_absent = !pathExists(folder);
    bool created = false;
    try {
        const ImportSummary analysed = analyseImport(database.paths(), file, options);
        print(analysed.describe());
        if (dry_run) {
            print("Sprawdzenie bez zapisu (--dry-run): baza danych nie została zmieniona.\n");
            return kExitOk;
        }
        if (state == DatabaseState::Absent) {
            created = true;
            database.createMissing(true);  // the folder too, one level, as start-up makes it
        }
        bool completed = false;
        const ImportSummary written = runImport(
            database, file, options, analysed, [](std::uint64_t, std::uint64_t) { return true; },
            completed);
        print(written.writesNothing() ? "Nie było czego zaimportować.\n" : "Zaimportowano.\n");
    } catch (const ImportError& error) {
        throw CliError(std::string(error.what()) +
                       (created ? removeNewDatabase(database.paths(), folder_was_absent) : ""));
    } catch (const FileError& error) {
        if (created) {
            throw CliError(error.polishMessage() +
                           removeNewDatabase(database.paths(), folder_was_absent));
        }
        throw;
    }
    return kExitOk;
}

}  // namespace ordavo::cli
