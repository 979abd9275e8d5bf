#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace ordavo {

// What was being done to a file when the system refused.
enum class FileOperation {
    Open,
    Read,
    Write,
    Stat,
    Truncate,
    Sync,
    Copy,
    Rename,
    Delete,
    CreateFolder,
    DeleteFolder,
    OpenFolder,
    SyncFolder,
    Lock,
    GetWorkingFolder,
};

// An errno-like code for a path that exists but is not a regular file (a FIFO, a device, a
// socket): the system reports no such error itself, since opening such a file succeeds or blocks.
inline constexpr int kNotARegularFile = -1;

// The one exception type for file-system failures: which file, what was being done to it, and the
// errno the system reported. The UI turns it into one message box at the command boundary.
class FileError : public std::runtime_error {
public:
    FileError(std::filesystem::path path, FileOperation operation, int error_number);

    const std::filesystem::path& path() const { return m_path; }
    FileOperation operation() const { return m_operation; }
    int errorNumber() const { return m_errorNumber; }
    // The system's description of errorNumber() in Polish, e.g. "Brak miejsca na dysku".
    std::string polishReason() const;
    // The whole Polish message for the user: what could not be done, the file, and why.
    std::string polishMessage() const;

private:
    std::filesystem::path m_path;
    FileOperation m_operation;
    int m_errorNumber;
};

// The Polish verb phrase of an operation, as in "Nie można <phrase> pliku", e.g. "zapisać".
std::string_view polishOperation(FileOperation operation);
// The Polish description of an errno value (kNotARegularFile included).
std::string polishReason(int error_number);

}  // namespace ordavo
