#include "storage/database.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "storage/database_lock.h"
#include "storage/file_error.h"
#include "storage/message_sink.h"
#include "storage/posix_file.h"
#include "storage/row_redo.h"
#include "storage/text_field.h"

namespace ordavo {

namespace {

// The order in which an import copies and deletes the files.
constexpr std::array<DataFile, kDataFileCount> kImportOrder = {
    DataFile::Header,  DataFile::Films,     DataFile::Reviews,
    DataFile::Cast,    DataFile::Producers, DataFile::Distributors,
    DataFile::LoansTo, DataFile::LoansFrom, DataFile::Locations,
};

// The length of the file at `path`, or nothing when there is none. Throws FileError when the
// system cannot tell.
std::optional<std::uint64_t> lengthOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return static_cast<std::uint64_t>(info.st_size);
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return std::nullopt;
    }
    throw FileError(path, "stat", errno);
}

void writeHeader(const std::filesystem::path& path, const DatabaseHeader& header) {
    PosixFile file(path, PosixFile::Mode::ReadWrite);
    file.writeAt(&header, sizeof header, 0);
}

}  // namespace

DatabaseHeader newDatabaseHeader() {
    DatabaseHeader header;
    std::memset(&header, 0, sizeof header);
    storeText(header.version, kDatabaseVersion);
    header.last_id = 1;
    return header;
}

Database::Database(DatabasePaths paths, MessageSink& messages)
    : m_paths(std::move(paths)), m_messages(messages) {}

DatabaseState Database::checkFileSet() const {
    std::size_t present = 0;
    bool header_present = false;
    bool tables_hold_rows = false;
    for (DataFile file : kAllDataFiles) {
        const std::optional<std::uint64_t> length = lengthOf(m_paths.file(file));
        if (!length) {
            continue;
        }
        ++present;
        if (file == DataFile::Header) {
            header_present = true;
        } else if (*length > 0) {
            tables_hold_rows = true;
        }
    }
    if (present == kDataFileCount) {
        return DatabaseState::Intact;
    }
    // A creation writes the empty tables first and the header last, so one cut short leaves no
    // header and nothing but empty tables: no data, and createMissing finishes it.
    if (present == 0 || (!header_present && !tables_hold_rows)) {
        return DatabaseState::Absent;
    }
    m_messages.showMessage(kDamagedDatabaseMessage, kAppTitle);
    return DatabaseState::Damaged;
}

DatabaseHeader Database::readHeader() const {
    DatabaseHeader header;
    std::memset(&header, 0, sizeof header);
    PosixFile file(m_paths.file(DataFile::Header), PosixFile::Mode::Read);
    file.readAt(&header, sizeof header, 0);
    return header;
}

bool Database::versionMatches() const {
    PosixFile file(m_paths.file(DataFile::Header), PosixFile::Mode::Read);
    DatabaseHeader header;
    std::memset(&header, 0, sizeof header);
    if (file.readAt(&header, sizeof header, 0) != sizeof header) {
        return false;  // a header without its counter cannot issue ids safely
    }
    return readText(header.version) == kDatabaseVersion;
}

void Database::createMissing(bool at_startup) {
    if (at_startup && !pathExists(m_paths.database_folder)) {
        createFolder(m_paths.database_folder);
    }
    if (!pathExists(m_paths.covers_folder)) {
        createFolder(m_paths.covers_folder);
    }
    // The empty tables first and the header last, so that a creation cut short at any point
    // leaves either a whole set or no header beside empty tables, which checkFileSet takes for
    // an absent database rather than a damaged one.
    for (DataFile file : kAllDataFiles) {
        if (file != DataFile::Header && !pathExists(m_paths.file(file))) {
            PosixFile created(m_paths.file(file), PosixFile::Mode::CreateTruncate);
        }
    }
    const std::filesystem::path& header_path = m_paths.file(DataFile::Header);
    if (!pathExists(header_path)) {
        // Written whole under a temporary name, so a crash never leaves a header of 0 bytes.
        const DatabaseHeader header = newDatabaseHeader();
        replaceFile(header_path, [&](PosixFile& temp) { temp.writeAt(&header, sizeof header, 0); });
    }
}

std::size_t Database::recoverInterruptedWrites() {
    const DatabaseLock lock(m_paths);
    if (!versionMatches()) {
        return 0;  // a database this program does not write holds no record of its writes
    }
    std::size_t finished = 0;
    for (DataFile file : kAllDataFiles) {
        if (file != DataFile::Header && replayRowRedo(m_paths.file(file))) {
            ++finished;
        }
    }
    return finished;
}

bool Database::importFromWorkingFolder() {
    for (DataFile file : kImportOrder) {
        if (!pathExists(std::filesystem::path(fileName(file)))) {
            return false;
        }
    }
    createFolder(m_paths.database_folder);
    std::size_t copied = 0;
    try {
        for (DataFile file : kImportOrder) {
            copyFileAtomically(std::filesystem::path(fileName(file)), m_paths.file(file));
            ++copied;
        }
    } catch (...) {
        // Leave the originals as the only copy, and the database folder as empty as before.
        for (std::size_t i = 0; i < copied; ++i) {
            std::filesystem::path copy = m_paths.file(kImportOrder[i]);
            std::error_code ignored;
            std::filesystem::remove(copy, ignored);
        }
        throw;
    }
    for (DataFile file : kImportOrder) {
        removeFile(std::filesystem::path(fileName(file)));
    }
    return true;
}

std::optional<std::int32_t> Database::issueFilmId() {
    DatabaseHeader header = readHeader();
    if (header.last_id < 0 || header.last_id == std::numeric_limits<std::int32_t>::max()) {
        m_messages.showMessage(kFilmIdsExhaustedMessage, kAppTitle);
        return std::nullopt;
    }
    header.last_id += 1;
    writeHeader(m_paths.file(DataFile::Header), header);
    return header.last_id;
}

}  // namespace ordavo
