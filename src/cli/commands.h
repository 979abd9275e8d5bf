#pragma once

#include <span>
#include <string_view>

namespace ordavo::cli {

// Each subcommand takes the arguments after its name and returns the process's exit code. Errors
// are thrown as CliError (or FileError) and reported by main.
int runInfo(std::span<const std::string_view> args);
int runExport(std::span<const std::string_view> args);
int runSearch(std::span<const std::string_view> args);
int runCheck(std::span<const std::string_view> args);
int runImport(std::span<const std::string_view> args);

}  // namespace ordavo::cli
