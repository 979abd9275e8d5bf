#include <sys/stat.h>

#include <string>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "storage/database.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"

namespace ordavo::cli {

namespace {

constexpr std::string_view kHelp =
    "Użycie: ordavo-cli info FOLDER\n"
    "\n"
    "Pokazuje stan plików bazy danych w FOLDERZE, wersję i ostatni wydany identyfikator filmu\n"
    "z nagłówka KR.kr oraz liczbę wierszy każdej tabeli (niepełny wiersz na końcu pliku liczy\n"
    "się jako wiersz). Niczego nie zapisuje.\n"
    "\n"
    "Kod wyjścia: 0 - baza kompletna, 1 - brak bazy lub baza uszkodzona, 2 - błąd.\n";

// Whether `path` is a regular file, told without opening it (a FIFO would block the open).
bool isRegularFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// "kompletny", or what is missing or odd.
std::string stateText(DatabaseState state, const DatabasePaths& paths) {
    switch (state) {
        case DatabaseState::Intact:
            return "kompletny";
        case DatabaseState::Absent:
            return "brak bazy danych (nie ma nagłówka KR.kr ani żadnego wiersza w tabelach)";
        case DatabaseState::Damaged:
            break;
    }
    std::string missing;
    std::string odd;
    for (DataFile file : kAllDataFiles) {
        if (!pathExists(paths.file(file))) {
            missing += (missing.empty() ? "" : ", ") + std::string(fileName(file));
        } else if (!isRegularFile(paths.file(file))) {
            odd += (odd.empty() ? "" : ", ") + std::string(fileName(file));
        }
    }
    std::string text = "uszkodzony (";
    if (!missing.empty()) {
        text += "brakuje: " + missing;
    }
    if (!odd.empty()) {
        text += (missing.empty() ? "" : "; ") + std::string("nie są zwykłymi plikami: ") + odd;
    }
    return text + ")";
}

void printHeader(const Database& database) {
    if (!pathExists(database.paths().file(DataFile::Header))) {
        print("Wersja: brak pliku KR.kr\n");
        return;
    }
    if (!isRegularFile(database.paths().file(DataFile::Header))) {
        print("Wersja: KR.kr nie jest zwykłym plikiem\n");
        return;
    }
    const std::uint64_t length =
        PosixFile(database.paths().file(DataFile::Header), PosixFile::Mode::Read).size();
    const DatabaseHeader header = database.readHeader();
    print("Wersja: " + toUtf8(readText(header.version)) + "\n");
    if (length < kHeaderSize) {
        print("Nagłówek: niepełny (" + std::to_string(length) + " B zamiast " +
              std::to_string(kHeaderSize) + ")\n");
        return;
    }
    print("Ostatni wydany identyfikator filmu: " + std::to_string(header.last_id) + "\n");
}

void printTable(const DatabasePaths& paths, const TableInfo& table) {
    const std::string label =
        std::string(table.name) + " (" + std::string(fileName(table.file)) + "): ";
    const std::filesystem::path& path = paths.file(table.file);
    if (!pathExists(path)) {
        print(label + "brak pliku\n");
        return;
    }
    if (!isRegularFile(path)) {
        print(label + "nie jest zwykłym plikiem\n");
        return;
    }
    const std::uint64_t length = PosixFile(path, PosixFile::Mode::Read).size();
    std::string line = label + std::to_string(rowCount(length, table.row_size));
    if (length % table.row_size != 0) {
        line += " (ostatni wiersz niepełny)";
    }
    print(line + "\n");
}

}  // namespace

int runInfo(std::span<const std::string_view> args) {
    constexpr std::string_view kNames[] = {"FOLDER"};
    const Arguments arguments = parseArguments(args, {});
    if (arguments.help) {
        print(kHelp);
        return kExitOk;
    }
    requirePositional(arguments, kNames);
    QuietSink quiet;
    const Database database(databaseIn(arguments.positional[0]), quiet);
    const DatabaseState state = database.checkFileSet();

    print("Folder bazy danych: " + database.paths().database_folder.string() + "\n");
    print("Stan plików: " + stateText(state, database.paths()) + "\n");
    if (state == DatabaseState::Absent) {
        return kExitNegative;
    }
    printHeader(database);
    for (const TableInfo& table : databaseTables()) {
        if (table.row_size != 0) {
            printTable(database.paths(), table);
        }
    }
    return state == DatabaseState::Intact ? kExitOk : kExitNegative;
}

}  // namespace ordavo::cli
