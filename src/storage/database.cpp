#include "storage/database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "storage/bulk_append.h"
#include "storage/database_lock.h"
#include "storage/file_error.h"
#include "storage/message_sink.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"
#include "storage/write_batch.h"

namespace ordavo {

namespace {

// The order in which an import copies and deletes the files.
constexpr std::array<DataFile, kDataFileCount> kImportOrder = {
    DataFile::Header,  DataFile::Films,     DataFile::Reviews,
    DataFile::Cast,    DataFile::Producers, DataFile::Distributors,
    DataFile::LoansTo, DataFile::LoansFrom, DataFile::Locations,
};

// What the file-set check finds at a data file's path.
struct Presence {
    bool exists = false;
    bool regular = false;
    std::uint64_t length = 0;
};

// Throws FileError when the system cannot tell.
Presence presenceOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return {true, S_ISREG(info.st_mode), static_cast<std::uint64_t>(info.st_size)};
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return {};
    }
    throw FileError(path, FileOperation::Stat, errno);
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ", ") + name;
    }
    return joined;
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
    : m_paths(std::move(paths)), m_messages(messages) {
    m_keepers.reset(m_paths);
}

DatabaseState Database::checkFileSet() const {
    std::string message;
    const DatabaseState state = fileSetState(&message);
    if (state == DatabaseState::Damaged) {
        m_messages.showMessage(message, kAppTitle);
    }
    return state;
}

DatabaseState Database::fileSetState(std::string* damage_message) const {
    std::size_t present = 0;
    bool header_present = false;
    bool tables_hold_rows = false;
    std::vector<std::string> missing;
    std::vector<std::string> not_regular;
    for (DataFile file : kAllDataFiles) {
        const Presence found = presenceOf(m_paths.file(file));
        if (!found.exists) {
            missing.emplace_back(fileName(file));
            continue;
        }
        ++present;
        if (!found.regular) {
            not_regular.emplace_back(fileName(file));
        }
        if (file == DataFile::Header) {
            header_present = true;
        } else if (found.length > 0 || !found.regular) {
            tables_hold_rows = true;
        }
    }
    if (present == kDataFileCount && not_regular.empty()) {
        return DatabaseState::Intact;
    }
    // A creation writes the empty tables first and the header last, so one cut short leaves no
    // header and nothing but empty tables: no data, and createMissing finishes it.
    if (present == 0 || (!header_present && !tables_hold_rows)) {
        return DatabaseState::Absent;
    }
    if (damage_message) {
        std::string& message = *damage_message;
        message = kDamagedDatabaseMessage;
        message += "\n\nKatalog bazy danych: " + m_paths.database_folder.string();
        if (!missing.empty()) {
            message += "\nBrakujące pliki: " + joinNames(missing) + ".";
        }
        if (!not_regular.empty()) {
            message += "\nTo nie są zwykłe pliki (lecz np. katalogi lub potoki): " +
                       joinNames(not_regular) + ".";
        }
    }
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

void Database::checkpoint() {
    const DatabaseLock lock(m_paths);
    if (fileSetState() == DatabaseState::Intact && mayWrite()) {
        settleRedo(m_paths);
    }
}

bool Database::heldElsewhere() const {
    return DatabaseHold::heldElsewhere(m_paths);
}

bool Database::mayWrite() const {
    return (m_hold == nullptr || m_hold->intact()) && !heldElsewhere();
}

WriteRefusal Database::writeRefusal() const {
    if (fileSetState() != DatabaseState::Intact) {
        return WriteRefusal::NotIntact;
    }
    PosixFile file(m_paths.file(DataFile::Header), PosixFile::Mode::Read);
    DatabaseHeader header;
    std::memset(&header, 0, sizeof header);
    if (file.readAt(&header, sizeof header, 0) != sizeof header) {
        return WriteRefusal::ShortHeader;
    }
    if (readText(header.version) != kDatabaseVersion) {
        return WriteRefusal::OtherVersion;
    }
    if (m_hold != nullptr && m_hold->held() && !m_hold->intact()) {
        return WriteRefusal::Replaced;
    }
    if (heldElsewhere() || (m_hold != nullptr && !m_hold->held())) {
        return WriteRefusal::HeldElsewhere;
    }
    if (::access(m_paths.database_folder.c_str(), W_OK) != 0) {
        return WriteRefusal::NotWritable;
    }
    for (DataFile data_file : kAllDataFiles) {
        if (::access(m_paths.file(data_file).c_str(), W_OK) != 0) {
            return WriteRefusal::NotWritable;
        }
    }
    return WriteRefusal::None;
}

std::string Database::writeRefusalMessage(WriteRefusal refusal) const {
    const std::string folder = m_paths.database_folder.string();
    const std::string header = m_paths.file(DataFile::Header).string();
    const std::string tail = " Program pokazuje dane, ale nie zapisze w niej żadnej zmiany.";
    switch (refusal) {
        case WriteRefusal::None:
            return {};
        case WriteRefusal::NotIntact: {
            std::string damage;
            if (fileSetState(&damage) == DatabaseState::Damaged) {
                return damage;
            }
            return "W katalogu " + folder + " nie ma bazy danych." + tail;
        }
        case WriteRefusal::ShortHeader:
            return "Plik nagłówka bazy danych " + header +
                   " jest niepełny (krótszy niż 36 bajtów), więc nie można z niego wydawać "
                   "identyfikatorów filmów." +
                   tail;
        case WriteRefusal::OtherVersion: {
            const std::u16string version(readText(readHeader().version));
            return "Plik nagłówka bazy danych " + header + " podaje wersję „" + toUtf8(version) +
                   "”, a Ordavo zapisuje tylko bazy w wersji 1.0.2.0." + tail;
        }
        case WriteRefusal::HeldElsewhere:
            return "Baza danych w katalogu " + folder +
                   " jest otwarta w innej uruchomionej kopii programu Ordavo. Ta kopia tylko ją "
                   "pokazuje i niczego w niej nie zapisze; zmiany wprowadzaj w tamtej kopii, a "
                   "po jej zamknięciu otwórz bazę ponownie.";
        case WriteRefusal::Replaced:
            return "Plik nagłówka bazy danych " + header +
                   " został zastąpiony przez inny program, odkąd ta kopia programu otworzyła "
                   "bazę. Ta kopia niczego już w niej nie zapisze; otwórz bazę ponownie, aby z "
                   "niej korzystać.";
        case WriteRefusal::NotWritable:
            return "Baza danych w katalogu " + folder +
                   " jest tylko do odczytu (brak uprawnień do zapisu w katalogu lub w jego "
                   "plikach albo system plików tylko do odczytu)." +
                   tail;
    }
    return {};
}

void Database::createMissing(bool at_startup) {
    if (at_startup && !pathExists(m_paths.database_folder)) {
        createFolder(m_paths.database_folder);
    }
    if (!pathExists(m_paths.covers_folder)) {
        createFolder(m_paths.covers_folder);
    }
    const std::filesystem::path& header_path = m_paths.file(DataFile::Header);
    if (!pathExists(header_path)) {
        // A record of a database that was here before would be written into the new tables.
        removeFile(m_paths.redo_record);
    }
    // The empty tables first and the header last, so that a creation cut short at any point
    // leaves either a whole set or no header beside empty tables, which checkFileSet takes for
    // an absent database rather than a damaged one.
    for (DataFile file : kAllDataFiles) {
        if (file != DataFile::Header && !pathExists(m_paths.file(file))) {
            PosixFile created(m_paths.file(file), PosixFile::Mode::CreateTruncate);
        }
    }
    if (!pathExists(header_path)) {
        // Written whole under a temporary name, so a crash never leaves a header of 0 bytes.
        const DatabaseHeader header = newDatabaseHeader();
        replaceFile(header_path, [&](PosixFile& temp) { temp.writeAt(&header, sizeof header, 0); });
    }
}

bool Database::recoverInterruptedWrites() {
    const DatabaseLock lock(m_paths);
    // A database this program does not write holds no record of its writes; one that another
    // running copy holds is that copy's to finish (it is alive, so none of its writes is cut).
    if (!versionMatches() || heldElsewhere()) {
        return false;
    }
    return finishInterruptedCommand();
}

bool Database::finishInterruptedCommand() {
    // A bulk append cut short is taken back first: the redo record was settled before it began.
    const bool rolled_back = rollBackBulkAppend(m_paths);
    if (!recoverRedo(m_paths) && !rolled_back) {
        return false;
    }
    for (DataFile file : kAllDataFiles) {
        keeper(file).forget();
    }
    return true;
}

namespace {

// Whether `path` is a folder itself, not a link to one. Throws FileError when the system cannot
// tell; false when nothing is there.
bool isRealFolder(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    if (errno == ENOENT) {
        return false;
    }
    throw FileError(path, FileOperation::Stat, errno);
}

// Removes a folder of the program's own, or fails without removing anything of anyone else's:
// only the data files, their temporary copies, the redo record, the import's mark and an empty
// covers folder go, and only when `only_empty_files` is false or they are empty; the folder's
// removal then fails (ENOTEMPTY) if anything else is in it. A link is never followed.
void removeOwnFolder(const DatabasePaths& paths, bool only_empty_files) {
    const std::filesystem::path folder = paths.database_folder.parent_path();
    if (!isRealFolder(folder)) {
        if (pathExists(folder)) {
            throw FileError(folder, FileOperation::DeleteFolder, ENOTDIR);
        }
        return;
    }
    std::vector<std::filesystem::path> ours = {paths.redo_record, folder / kImportMarkName};
    for (DataFile file : kAllDataFiles) {
        ours.push_back(paths.file(file));
        ours.push_back(replacementNameOf(paths.file(file)));
    }
    for (const std::filesystem::path& file : ours) {
        struct stat info {};
        if (::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            (!only_empty_files || info.st_size == 0)) {
            removeFile(file);
        }
    }
    if (isRealFolder(paths.covers_folder.parent_path())) {
        removeFolder(paths.covers_folder.parent_path());
    }
    removeFolder(folder);
}

}  // namespace

bool Database::importFromWorkingFolder() {
    const std::filesystem::path working = std::filesystem::current_path();
    for (DataFile file : kImportOrder) {
        if (!pathExists(working / fileName(file))) {
            return false;
        }
    }
    // Named as it stands, not as its links resolve: a link of that name is never followed.
    const std::filesystem::path staging_folder = importStagingFolderOf(m_paths.database_folder);
    const DatabasePaths staging = buildPaths(staging_folder);
    // What an interrupted import left: copies only, the originals are still in place. A folder of
    // that name without the import's mark, or a link, is the user's and stops the import.
    struct stat entry {};
    if (::lstat(staging_folder.c_str(), &entry) == 0) {
        if (!S_ISDIR(entry.st_mode) || !pathExists(staging_folder / kImportMarkName)) {
            throw FileError(staging_folder, FileOperation::CreateFolder, EEXIST);
        }
        removeOwnFolder(staging, false);
    }
    // The copies are made in a folder of their own and flushed, and only then is it renamed into
    // place: a crash at any moment leaves no database (the originals are imported at the next
    // start) or the whole one, never a partial set that would be taken for a damaged database.
    try {
        createFolder(staging.database_folder);
        PosixFile(staging.database_folder / kImportMarkName, PosixFile::Mode::CreateNew);
        for (DataFile file : kImportOrder) {
            copyFileAtomically(working / fileName(file), staging.file(file));
        }
        createFolder(staging.covers_folder);
        syncFolder(staging.database_folder);
        // An absent database may still be a folder, holding at most empty tables of a creation
        // cut short.
        for (DataFile file : kAllDataFiles) {
            const Presence found = presenceOf(m_paths.file(file));
            if (found.exists && (file == DataFile::Header || found.length > 0)) {
                throw FileError(m_paths.file(file), FileOperation::Rename, EEXIST);
            }
        }
        removeOwnFolder(m_paths, true);
        renamePath(staging.database_folder.parent_path(), m_paths.database_folder.parent_path());
    } catch (const FileError&) {
        try {
            if (pathExists(staging.database_folder / kImportMarkName)) {
                removeOwnFolder(staging, false);
            }
        } catch (const FileError&) {
            // The copies stay beside the database and go at the next start; the first failure
            // is the one to report.
        }
        throw;
    }
    syncFolder(m_paths.database_folder.parent_path().parent_path());
    removeFile(m_paths.database_folder / kImportMarkName);
    for (DataFile file : kImportOrder) {
        removeFile(working / fileName(file));
    }
    syncFolder(working);
    return true;
}

std::optional<std::int32_t> Database::issueFilmId(std::int32_t largest_taken) {
    const DatabaseLock lock(m_paths);
    WriteBatch batch(*this);
    const std::optional<std::int32_t> id = reserveFilmId(largest_taken, batch);
    batch.commit();
    return id;
}

std::optional<std::int32_t> Database::reserveFilmId(std::int32_t largest_taken, WriteBatch& batch) {
    DatabaseHeader header = readHeader();
    const std::int32_t base = std::max(header.last_id, largest_taken);
    if (header.last_id < 0 || base == std::numeric_limits<std::int32_t>::max()) {
        m_messages.showMessage(kFilmIdsExhaustedMessage, kAppTitle);
        return std::nullopt;
    }
    header.last_id = base + 1;
    batch.add(DataFile::Header, 0, &header, sizeof header);
    return header.last_id;
}

}  // namespace ordavo
