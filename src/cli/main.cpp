// ordavo-cli: the database without a window, for scripts, backups and checks.

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "storage/file_error.h"
#include "storage/posix_file.h"

namespace {

constexpr std::string_view kUsage =
    "Użycie: ordavo-cli POLECENIE [ARGUMENTY]\n"
    "\n"
    "Polecenia:\n"
    "  info FOLDER              stan plików bazy danych, nagłówek i liczba wierszy tabel\n"
    "  export FOLDER PLIK [...] eksport bazy danych lub jednego filmu do pliku CSV\n"
    "  search FOLDER POLE FRAZA identyfikatory i tytuły filmów, których pole zawiera frazę\n"
    "  check FOLDER             sprawdzenie spójności bazy danych\n"
    "  import FOLDER PLIK [...] import pliku CSV (eksportu lub tabeli filmów) do bazy danych\n"
    "\n"
    "Szczegóły polecenia: ordavo-cli POLECENIE --help\n"
    "Polecenia info, search i check niczego nie zapisują.\n"
    "Kod wyjścia: 0 - powodzenie, 1 - nic nie znaleziono lub baza ma błędy, 2 - błąd.\n";

struct Command {
    std::string_view name;
    int (*run)(std::span<const std::string_view>);
};

constexpr Command kCommands[] = {
    {"info", ordavo::cli::runInfo},     {"export", ordavo::cli::runExport},
    {"search", ordavo::cli::runSearch}, {"check", ordavo::cli::runCheck},
    {"import", ordavo::cli::runImport},
};

int fail(std::string_view command, const std::string& message, int exit_code) {
    std::string line = "ordavo-cli";
    if (!command.empty()) {
        line += ' ';
        line += command;
    }
    line += ": " + message + "\n";
    std::fputs(line.c_str(), stderr);
    return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
    ordavo::ignoreFileSizeSignal();
    // The locale gives the export its default character set and the system's error texts.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(std::string(kUsage).c_str(), stderr);
        return ordavo::cli::kExitError;
    }
    if (args[0] == "--help") {
        std::fputs(std::string(kUsage).c_str(), stdout);
        return ordavo::cli::kExitOk;
    }
    for (const Command& command : kCommands) {
        if (command.name != args[0]) {
            continue;
        }
        try {
            return command.run(std::span(args).subspan(1));
        } catch (const ordavo::cli::UsageError& error) {
            return fail(command.name,
                        std::string(error.what()) + " (zobacz: ordavo-cli " +
                            std::string(command.name) + " --help)",
                        error.exitCode());
        } catch (const ordavo::cli::CliError& error) {
            return fail(command.name, error.what(), error.exitCode());
        } catch (const ordavo::FileError& error) {
            return fail(command.name,
                        "nie można " + std::string(ordavo::polishOperation(error.operation())) +
                            " " + ordavo::cli::inQuotes(error.path().string()) + ": " +
                            error.polishReason(),
                        ordavo::cli::kExitError);
        } catch (const std::exception& error) {
            return fail(command.name, error.what(), ordavo::cli::kExitError);
        }
    }
    return fail(
        {}, "nieznane polecenie " + ordavo::cli::inQuotes(args[0]) + " (zobacz: ordavo-cli --help)",
        ordavo::cli::kExitError);
}
