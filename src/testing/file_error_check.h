#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "storage/file_error.h"

namespace ordavo::testing {

// Whether `command` throws a FileError naming `path` and `operation` (and `error_number`, when
// given): what the user's message box will say, not merely that something failed.
template <class Command>
::testing::AssertionResult throwsFileError(Command&& command, const std::filesystem::path& path,
                                           FileOperation operation,
                                           std::optional<int> error_number = std::nullopt) {
    try {
        command();
    } catch (const FileError& error) {
        if (error.path() == path && error.operation() == operation &&
            (!error_number || error.errorNumber() == *error_number)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "FileError " << error.path() << " \"" << polishOperation(error.operation())
               << "\" errno " << error.errorNumber() << "; expected " << path << " \""
               << polishOperation(operation) << "\""
               << (error_number ? " errno " + std::to_string(*error_number) : std::string());
    }
    return ::testing::AssertionFailure() << "no FileError thrown";
}

}  // namespace ordavo::testing
