#include "cli/cli_support.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <system_error>

#include "storage/database_header.h"
#include "storage/file_error.h"
#include "storage/film_record.h"
#include "tabs/detail_rows.h"

namespace ordavo::cli {

Arguments parseArguments(std::span<const std::string_view> args,
                         std::span<const std::string_view> value_options,
                         std::span<const std::string_view> flag_options) {
    Arguments result;
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (options_end || arg.size() < 2 || arg.substr(0, 2) != "--") {
            result.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        if (arg == "--help") {
            result.help = true;
            continue;
        }
        if (std::find(flag_options.begin(), flag_options.end(), arg) != flag_options.end()) {
            result.options[arg] = {};
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        bool known = false;
        for (std::string_view option : value_options) {
            known = known || option == name;
        }
        if (!known) {
            throw UsageError("nieznana opcja " + inQuotes(name));
        }
        if (equals != std::string_view::npos) {
            result.options[name] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            result.options[name] = args[++i];
        } else {
            throw UsageError("opcja " + inQuotes(name) + " wymaga wartości");
        }
    }
    return result;
}

void requirePositional(const Arguments& arguments, std::span<const std::string_view> names) {
    if (arguments.positional.size() < names.size()) {
        throw UsageError("brak argumentu " + std::string(names[arguments.positional.size()]));
    }
    if (arguments.positional.size() > names.size()) {
        throw UsageError("nadmiarowy argument " + inQuotes(arguments.positional[names.size()]));
    }
}

DatabasePaths databaseIn(std::string_view folder) {
    const std::filesystem::path path{std::string(folder)};
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        throw CliError("nie można odczytać folderu " + inQuotes(folder) + ": " +
                       polishReason(error.value()));
    }
    if (!std::filesystem::exists(status)) {
        throw CliError("folder " + inQuotes(folder) + " nie istnieje");
    }
    if (!std::filesystem::is_directory(status)) {
        throw CliError(inQuotes(folder) + " nie jest folderem");
    }
    std::filesystem::directory_iterator probe(path, error);
    if (error) {
        throw CliError("nie można odczytać folderu " + inQuotes(folder) + ": " +
                       polishReason(error.value()));
    }
    return buildPaths(path);
}

void print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::string inQuotes(std::string_view text) {
    return "„" + std::string(text) + "”";
}

std::optional<std::int32_t> parseInt32(std::string_view text) {
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::span<const TableInfo> databaseTables() {
    static const std::array<TableInfo, kDataFileCount> kTables = {{
        {DataFile::Header, "Nagłówek", 0, nullptr},
        {DataFile::Films, "Filmy", kFilmRowSize, nullptr},
        {DataFile::Reviews, "Oceny", kOcenaLayout.row_size, &kOcenaLayout},
        {DataFile::Cast, "Obsada", kObsadaLayout.row_size, &kObsadaLayout},
        {DataFile::Producers, "Producenci", kProducentLayout.row_size, &kProducentLayout},
        {DataFile::Distributors, "Dystrybutorzy", kDystrybutorLayout.row_size, &kDystrybutorLayout},
        {DataFile::Locations, "Lokalizacje zdjęciowe", kLokLayout.row_size, &kLokLayout},
        {DataFile::LoansTo, "Wypożyczenia innym osobom", kWypozyczInnymLayout.row_size,
         &kWypozyczInnymLayout},
        {DataFile::LoansFrom, "Wypożyczenia od innych osób", kWypozyczOdInnychLayout.row_size,
         &kWypozyczOdInnychLayout},
    }};
    return kTables;
}

}  // namespace ordavo::cli
