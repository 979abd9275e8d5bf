#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

#include "storage/file_names.h"

namespace ordavo {

// The paths of the working database. Every other module reaches the data files through these.
struct DatabasePaths {
    std::filesystem::path database_folder;  // always ends in a separator
    std::filesystem::path covers_folder;    // database_folder + "covers/"
    std::array<std::filesystem::path, kDataFileCount> files;
    // The redo record of the command being written ("KR.redo", see write_batch.h).
    std::filesystem::path redo_record;

    const std::filesystem::path& file(DataFile which) const {
        return files[static_cast<std::size_t>(which)];
    }
};

// Without a chosen folder: "<working folder>/default_db/". With one: that folder.
// Throws FileError when the working folder cannot be determined.
DatabasePaths buildPaths(const std::optional<std::filesystem::path>& chosen_folder = std::nullopt);

}  // namespace ordavo
