#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace ordavo {

// The one exception type for file-system failures: which file, what was being done to it, and the
// errno the system reported. The UI turns it into one message box at the command boundary.
class FileError : public std::runtime_error {
public:
    FileError(std::filesystem::path path, std::string operation, int error_number);

    const std::filesystem::path& path() const { return m_path; }
    const std::string& operation() const { return m_operation; }
    int errorNumber() const { return m_errorNumber; }
    // The system's description of errorNumber(), e.g. "No space left on device".
    std::string systemReason() const;

private:
    std::filesystem::path m_path;
    std::string m_operation;
    int m_errorNumber;
};

}  // namespace ordavo
