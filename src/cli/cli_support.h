#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "storage/database_paths.h"
#include "storage/message_sink.h"

namespace ordavo {
struct DetailLayout;
}

namespace ordavo::cli {

// Exit codes of every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNegative = 1;  // nothing found, or the database has faults
inline constexpr int kExitError = 2;     // bad arguments, unreadable files, failed export

// Ends a subcommand with a one-line message on stderr and an exit code.
class CliError : public std::runtime_error {
public:
    CliError(const std::string& message, int exit_code = kExitError)
        : std::runtime_error(message), m_exitCode(exit_code) {}
    int exitCode() const { return m_exitCode; }

private:
    int m_exitCode;
};

// Arguments that do not fit the subcommand; main adds where to find its help.
class UsageError : public CliError {
public:
    explicit UsageError(const std::string& message) : CliError(message, kExitError) {}
};

// The arguments of one subcommand: positional ones in order, options by name ("--tables"), and
// whether help was asked for. "--name value" and "--name=value" both work; after "--" every
// argument is positional, so a phrase may begin with "--".
struct Arguments {
    std::vector<std::string_view> positional;
    std::map<std::string_view, std::string_view> options;
    bool help = false;
};

// Splits `args` knowing which options take a value and which stand alone (kept with an empty
// value); an unknown option is a UsageError.
Arguments parseArguments(std::span<const std::string_view> args,
                         std::span<const std::string_view> value_options,
                         std::span<const std::string_view> flag_options = {});

// Exactly one positional argument per name, or a UsageError naming what is missing or extra.
void requirePositional(const Arguments& arguments, std::span<const std::string_view> names);

// The paths of the database in `folder`, after checking that the folder exists and can be
// looked into. Nothing is created.
DatabasePaths databaseIn(std::string_view folder);

// "„text”", the quotation marks of every message.
std::string inQuotes(std::string_view text);

// A decimal signed 32-bit integer, the whole text, or nullopt.
std::optional<std::int32_t> parseInt32(std::string_view text);

// Swallows the window's message boxes (e.g. the damaged-database text): the tool says in its own
// words what it found.
class QuietSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

// Writes text to stdout as it is (UTF-8).
void print(std::string_view text);

// The tables of a database in the file-set order, with their Polish names and row sizes.
struct TableInfo {
    DataFile file;
    std::string_view name;
    std::size_t row_size;        // 0 for the header
    const DetailLayout* layout;  // the detail tables' layouts; nullptr for header and films
};
std::span<const TableInfo> databaseTables();

}  // namespace ordavo::cli
