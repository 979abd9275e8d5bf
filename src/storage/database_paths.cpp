#include "storage/database_paths.h"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "storage/file_error.h"

namespace ordavo {

namespace {

std::filesystem::path workingFolder() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            throw FileError(".", FileOperation::GetWorkingFolder, errno);
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer.data());
}

// The folder as the system resolves it: symbolic links followed before "..", so that "link/.."
// is the folder above the link's target, not the folder holding the link. A part that does not
// exist yet is appended as written, without "." and "..".
std::filesystem::path resolved(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::weakly_canonical(folder, error);
    if (error) {
        throw FileError(folder, FileOperation::Stat, error.value());
    }
    return path;
}

}  // namespace

DatabasePaths buildPaths(const std::optional<std::filesystem::path>& chosen_folder) {
    DatabasePaths paths;
    std::filesystem::path folder = chosen_folder
                                       ? resolved(*chosen_folder)
                                       : workingFolder() / std::string(kDefaultDatabaseFolderName);
    // One trailing separator, whatever the chosen folder ended in.
    if (folder.has_filename()) {
        folder += std::filesystem::path::preferred_separator;
    }
    paths.database_folder = folder;
    paths.covers_folder = folder / std::string(kCoversFolderName);
    paths.covers_folder += std::filesystem::path::preferred_separator;
    for (DataFile file : kAllDataFiles) {
        paths.files[static_cast<std::size_t>(file)] = folder / std::string(fileName(file));
    }
    paths.redo_record = folder / std::string(kRedoRecordName);
    return paths;
}

}  // namespace ordavo
