#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

namespace ordavo {

// The nine data files of a database folder.
enum class DataFile {
    Header,        // "KR.kr"
    Films,         // "KR_PDB.kr"
    Reviews,       // "KR_OC.kr"
    Cast,          // "KR_OB.kr"
    Producers,     // "KR_PRB.kr"
    Distributors,  // "KR_PRD.kr"
    Locations,     // "KR_LZ.kr"
    LoansTo,       // "KR_WI.kr"
    LoansFrom,     // "KR_WO.kr"
};

inline constexpr std::size_t kDataFileCount = 9;

// In the order of the file-set table; also the order in which empty tables are created.
inline constexpr std::array<DataFile, kDataFileCount> kAllDataFiles = {
    DataFile::Header,    DataFile::Films,     DataFile::Reviews,
    DataFile::Cast,      DataFile::Producers, DataFile::Distributors,
    DataFile::Locations, DataFile::LoansTo,   DataFile::LoansFrom,
};

// The bare file name of a data file, e.g. "KR_PDB.kr".
std::string_view fileName(DataFile file);

inline constexpr std::string_view kDefaultDatabaseFolderName = "default_db";
inline constexpr std::string_view kCoversFolderName = "covers";
inline constexpr std::string_view kRedoRecordName = "KR.redo";

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
