#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ordavo {

// Every name the program gives a file or a folder, and the names it knows as a database's own.

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
// The redo record of the command being written (see write_batch.h).
inline constexpr std::string_view kRedoRecordName = "KR.redo";
// The journal of rows being appended in bulk (see bulk_append.h).
inline constexpr std::string_view kBulkAppendJournalName = "KR.import";
// The mark an import puts into its staging folder first, so that only a folder it made itself
// is ever removed as its leftover.
inline constexpr std::string_view kImportMarkName = ".ordavo-import";
// The start of the name of a file an export is put together in when the system cannot make one
// without a name.
inline constexpr std::string_view kExportBuildPrefix = ".ordavo-eksport-";
// How many random letters end a unique temporary name.
inline constexpr std::size_t kRandomNameLetters = 6;

// "<table>0": the fixed temporary name a table is replaced through, so that a leftover of an
// interrupted replacement is found and removed.
std::filesystem::path replacementNameOf(const std::filesystem::path& table);
// "<table>.redo": where older versions left the redo record of one table's row writes.
std::filesystem::path redoPathOf(const std::filesystem::path& table);
// The folder beside the database folder (given with its trailing separator) in which an import
// is put together: "<folder>.import".
std::filesystem::path importStagingFolderOf(const std::filesystem::path& database_folder);

// ".<name>.ordavo-", with `name` cut (at a character's start) so that the prefix and the random
// letters after it fit in one folder entry.
std::string uniqueTemporaryPrefix(const std::filesystem::path& name);
// kRandomNameLetters letters and digits from the system's randomness.
std::string randomNameLetters();
// A temporary name beside `target` that can be nobody else's: its unique prefix and random letters.
std::filesystem::path uniqueTemporaryNameOf(const std::filesystem::path& target);

// Whether `name` (a bare file name) belongs to a database's file set: a data file, its redo
// record, the temporary name it is replaced through, or the command's redo record.
bool isFileSetName(const std::filesystem::path& name);
// Those names in `folder`, whether or not the files are there.
std::vector<std::filesystem::path> fileSetPaths(const std::filesystem::path& folder);

// The number of rows of `row_size` bytes in a table of `length` bytes, a trailing partial row
// included.
constexpr std::uint64_t rowCount(std::uint64_t length, std::uint64_t row_size) {
    return (length + row_size - 1) / row_size;
}

}  // namespace ordavo
