#include "export/export_target.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "export/csv_export.h"
#include "storage/database_paths.h"
#include "storage/file_error.h"
#include "storage/file_names.h"
#include "storage/posix_file.h"

namespace ordavo {

namespace {

namespace fs = std::filesystem;

// As many links as the system follows in one path before it gives up with ELOOP.
constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 100;
constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

std::string inQuotes(std::string_view text) {
    return "„" + std::string(text) + "”";
}

// The reason of a failure in Polish; a pipe whose reader went away has no text of its own there.
std::string reasonOf(int error_number) {
    if (error_number == EPIPE) {
        return "Program odbierający dane zamknął potok przed końcem eksportu";
    }
    return polishReason(error_number);
}

// A failure of the system while the target is examined or prepared; turned into one ExportError.
struct SystemFailure {
    int error_number;
};

[[noreturn]] void fail(int error_number) {
    throw SystemFailure{error_number};
}

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const struct stat& info) {
    return {info.st_dev, info.st_ino};
}

// The identity of the file or folder at `path` (links followed), or nullopt when there is none.
std::optional<FileIdentity> identityAt(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return identityOf(info);
}

// `path` with every link and ".." resolved by the system; the path must exist.
fs::path realPath(const fs::path& path) {
    char* real = ::realpath(path.empty() ? "." : path.c_str(), nullptr);
    if (real == nullptr) {
        fail(errno);
    }
    fs::path resolved(real);
    std::free(real);
    return resolved;
}

// A folder of the database as the system resolves it, or as written when it does not exist.
fs::path databaseFolder(const fs::path& folder) {
    std::error_code ignored;
    fs::path resolved = fs::weakly_canonical(folder, ignored);
    if (ignored) {
        resolved = folder.lexically_normal();
    }
    if (!resolved.has_filename()) {
        resolved = resolved.parent_path();  // no trailing separator, as realpath gives
    }
    return resolved;
}

bool isWithin(const fs::path& path, const fs::path& folder) {
    auto part = path.begin();
    for (const fs::path& folder_part : folder) {
        if (part == path.end() || *part != folder_part) {
            return false;
        }
        ++part;
    }
    return part != path.end();
}

// Every file of the open database's set that is there, and every entry of its covers folder.
std::vector<fs::path> databaseFiles(const fs::path& folder, const fs::path& covers) {
    std::vector<fs::path> files = fileSetPaths(folder);
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(covers, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        files.push_back(it->path());
    }
    return files;
}

constexpr const char* kOutsideDatabase = ". Wybierz plik poza bazą danych";

// The reason to refuse a target that belongs to the database, or an empty text.
std::string databaseRefusal(const DatabasePaths& database, const fs::path& folder,
                            const fs::path& name, std::optional<FileIdentity> target) {
    const fs::path database_folder = databaseFolder(database.database_folder);
    const fs::path covers = databaseFolder(database.covers_folder);
    const std::optional<FileIdentity> folder_identity = identityAt(folder);
    const bool in_database_folder =
        folder == database_folder ||
        (folder_identity && folder_identity == identityAt(database_folder)) ||
        identityAt(folder / std::string(fileName(DataFile::Header))).has_value();
    if (in_database_folder && isFileSetName(name)) {
        return "to plik bazy danych w katalogu " + inQuotes(folder.native()) + kOutsideDatabase;
    }
    if (folder == covers || isWithin(folder, covers) ||
        (folder_identity && folder_identity == identityAt(covers))) {
        return "plik leżałby w katalogu okładek bazy danych " + inQuotes(covers.native()) +
               kOutsideDatabase;
    }
    if (target) {
        for (const fs::path& file : databaseFiles(database_folder, covers)) {
            if (identityAt(file) == target) {
                return "to ten sam plik co " + inQuotes(file.native()) +
                       " bazy danych, tylko pod inną nazwą (dowiązanie twarde)" + kOutsideDatabase;
            }
        }
    }
    return {};
}

// The target's folder and name with every link resolved, and what is there now.
struct Resolved {
    fs::path folder;
    fs::path name;
    bool exists = false;
    struct stat info {};
    fs::path path() const { return folder / name; }
};

Resolved resolve(const fs::path& chosen) {
    fs::path current = chosen;
    for (int links = 0; links <= kMaxLinks; ++links) {
        Resolved target;
        target.name = current.filename();
        if (target.name.empty() || target.name == "." || target.name == "..") {
            // "folder/", "." or "..": no file name to create. A missing folder gives its own
            // reason; one that is there is what the path names.
            (void)realPath(current);
            fail(EISDIR);
        }
        target.folder = realPath(current.parent_path());
        const fs::path path = target.path();
        if (::lstat(path.c_str(), &target.info) != 0) {
            if (errno == ENOENT) {
                return target;
            }
            fail(errno);
        }
        if (!S_ISLNK(target.info.st_mode)) {
            target.exists = true;
            return target;
        }
        std::error_code error;
        const fs::path link = fs::read_symlink(path, error);
        if (error) {
            fail(error.value());
        }
        // A relative link starts from the folder that holds it.
        current = link.is_absolute() ? link : target.folder / link;
    }
    fail(ELOOP);
}

// Whether this user may not write the existing file. Root may write any file, so a file with no
// write bit for anyone counts as read-only too: its owner made it so on purpose.
bool isReadOnly(const fs::path& path, const struct stat& info) {
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return true;
    }
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 &&
           (errno == EACCES || errno == EPERM || errno == EROFS);
}

// Creates a new file with a name of its own in `folder`, never opening one that exists, with
// `mode` (less the umask). Returns the descriptor and sets `path`; -1 with errno set when the
// folder takes no new file.
int createUniqueFile(const fs::path& folder, const std::string& prefix, mode_t mode,
                     fs::path& path) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        path = folder / (prefix + randomNameLetters());
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST && errno != EINTR) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

// Removes what exports to this name that were killed half way left behind: files of the
// temporary name's shape, untouched for ten minutes (a running export writes its own all along).
void removeStaleTemporaries(const fs::path& folder, const std::string& prefix) {
    constexpr std::time_t kStale = 10 * 60;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + kRandomNameLetters || name.rfind(prefix, 0) != 0) {
            continue;
        }
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid() && std::time(nullptr) - info.st_mtime > kStale) {
            ::unlink(it->path().c_str());
        }
    }
}

fs::path temporaryFilesFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? fs::path(folder) : fs::path("/tmp");
}

// An anonymous file in `folder`: it has no name, so it disappears with its descriptor.
int createAnonymousFile(const fs::path& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return fd;
    }
    // A file system without O_TMPFILE: a named file, unlinked at once.
    fs::path path;
    fd = createUniqueFile(folder, std::string(kExportBuildPrefix), 0600, path);
    if (fd < 0) {
        return -1;
    }
    ::unlink(path.c_str());
    return fd;
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if (n == 0) {
            fail(ENOSPC);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A descriptor left non-blocking by whoever opened it: wait until it takes more.
            pollfd wait{fd, POLLOUT, 0};
            ::poll(&wait, 1, -1);
        } else if (errno != EINTR) {
            fail(errno);
        }
    }
}

// Keeps SIGPIPE from ending the program while it writes into a pipe whose reader may leave: the
// write then fails with EPIPE instead, reported like any other failure. The signal the write
// raised is taken back before the old signal mask returns.
class PipeSignalHeld {
public:
    PipeSignalHeld() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~PipeSignalHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!m_wasPending && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            sigtimedwait(&m_pipe, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

private:
    sigset_t m_pipe{};
    sigset_t m_old{};
    bool m_wasPending = false;
};

}  // namespace

ExportTarget::ExportTarget(const DatabasePaths& database, const std::filesystem::path& path)
    : m_label(inQuotes(path.native())) {
    const std::string head = "Nie można eksportować do pliku " + m_label + ": ";
    std::string refusal;
    try {
        const Resolved target = resolve(path);
        m_target = target.path();
        m_exists = target.exists;
        m_old = target.info;
        refusal = databaseRefusal(database, target.folder, target.name,
                                  m_exists ? std::optional(identityOf(m_old)) : std::nullopt);
        if (refusal.empty() && m_exists) {
            if (S_ISDIR(m_old.st_mode)) {
                fail(EISDIR);
            }
            if (S_ISSOCK(m_old.st_mode)) {
                fail(kNotARegularFile);  // a socket cannot be opened as a file
            }
            if (isReadOnly(m_target, m_old)) {
                refusal =
                    "plik jest tylko do odczytu. Zmień jego uprawnienia albo wybierz inny "
                    "plik";
            }
        }
    } catch (const SystemFailure& failure) {
        throw ExportError(ExportError::Kind::CannotCreate,
                          "Nie można utworzyć pliku eksportu " + m_label + ": " +
                              reasonOf(failure.error_number) + ". Nic nie zostało zapisane.");
    }
    if (!refusal.empty()) {
        throw ExportError(ExportError::Kind::Refused,
                          head + refusal + ". Nic nie zostało zapisane.");
    }

    const bool regular = !m_exists || S_ISREG(m_old.st_mode);
    const bool keeps_owner_and_links =
        !m_exists || (m_old.st_uid == ::geteuid() && m_old.st_nlink == 1);
    if (regular && keeps_owner_and_links) {
        // A new file gets the usual permissions; one that replaces a file stays private until
        // it takes that file's permissions, which may be narrower.
        removeStaleTemporaries(m_target.parent_path(), uniqueTemporaryPrefix(m_target.filename()));
        try {
            m_replacement = std::make_unique<FileReplacement>(m_target, TemporaryName::Unique,
                                                              m_exists ? 0600 : 0666);
            m_build = m_replacement->file().descriptor();
            m_way = Way::Replace;
            return;
        } catch (const FileError& failure) {
            // A folder that takes no new file can still hold a file that may be written.
            const int error = failure.errorNumber();
            if (!m_exists || (error != EACCES && error != EPERM)) {
                throw ExportError(ExportError::Kind::CannotCreate,
                                  "Nie można utworzyć pliku eksportu " + m_label + ": " +
                                      reasonOf(error) + ". " + untouchedNote());
            }
        }
    }
    m_way = Way::InPlace;
    createBuildFile();
}

ExportTarget::ExportTarget(const DatabasePaths& database, int descriptor, std::string label)
    : m_way(Way::Descriptor), m_label(std::move(label)), m_descriptor(descriptor) {
    if (::fstat(descriptor, &m_old) != 0) {
        throw ExportError(ExportError::Kind::CannotCreate,
                          "Nie można eksportować do " + m_label + ": " + reasonOf(errno) + ".");
    }
    m_exists = true;
    // The descriptor has no name to check, but it may still lead into the database (a shell's
    // ">> KR_PDB.kr"): its file must not be one of the database's.
    const std::string refusal = [&]() -> std::string {
        const fs::path database_folder = databaseFolder(database.database_folder);
        const fs::path covers = databaseFolder(database.covers_folder);
        for (const fs::path& file : databaseFiles(database_folder, covers)) {
            if (identityAt(file) == identityOf(m_old)) {
                return "to plik bazy danych " + inQuotes(file.native()) + kOutsideDatabase;
            }
        }
        return {};
    }();
    if (!refusal.empty()) {
        throw ExportError(ExportError::Kind::Refused, "Nie można eksportować do " + m_label + ": " +
                                                          refusal + ". Nic nie zostało zapisane.");
    }
    createBuildFile();
}

ExportTarget::~ExportTarget() {
    // A replacement not committed removes its temporary file itself.
    if (!m_replacement && m_build >= 0) {
        ::close(m_build);
    }
}

void ExportTarget::createBuildFile() {
    m_buildFolder = temporaryFilesFolder();
    m_build = createAnonymousFile(m_buildFolder);
    if (m_build < 0) {
        const int error = errno;
        throw ExportError(ExportError::Kind::CannotCreate,
                          "Nie można utworzyć pliku tymczasowego eksportu do " + m_label +
                              " w katalogu " + inQuotes(m_buildFolder.native()) + ": " +
                              reasonOf(error) + ". " + untouchedNote());
    }
}

std::string ExportTarget::untouchedNote() const {
    if (m_way == Way::Descriptor || (m_exists && !S_ISREG(m_old.st_mode))) {
        return "Nic nie zostało do niego zapisane.";
    }
    return m_exists ? "Plik pozostał bez zmian." : "Plik nie został utworzony.";
}

void ExportTarget::append(const void* data, std::size_t size) {
    int error = 0;
    try {
        if (m_replacement) {
            m_replacement->file().writeAt(data, size, m_size);
        } else {
            writeAll(m_build, static_cast<const char*>(data), size);
        }
    } catch (const SystemFailure& failure) {
        error = failure.error_number;
    } catch (const FileError& failure) {
        error = failure.errorNumber();
    }
    if (error != 0) {
        std::string where;
        if (m_way != Way::Replace) {
            where = " (eksport powstaje najpierw w katalogu plików tymczasowych " +
                    inQuotes(m_buildFolder.native()) + ")";
        }
        throw ExportError(ExportError::Kind::CannotWrite, "Nie można zapisać pliku eksportu " +
                                                              m_label + ": " + reasonOf(error) +
                                                              where + ". " + untouchedNote());
    }
    m_size += size;
}

void ExportTarget::commit() {
    switch (m_way) {
        case Way::Replace:
            replaceTarget();
            return;
        case Way::InPlace:
            copyIntoTargetPath();
            return;
        case Way::Descriptor:
            copyInto(m_descriptor, S_ISREG(m_old.st_mode), false);
            return;
    }
}

void ExportTarget::replaceTarget() {
    try {
        if (m_exists) {
            if (::fchmod(m_build, m_old.st_mode & 07777) != 0) {
                fail(errno);
            }
            struct stat made {};
            if (::fstat(m_build, &made) != 0) {
                fail(errno);
            }
            if (made.st_gid != m_old.st_gid && ::fchown(m_build, -1, m_old.st_gid) != 0) {
                // The new file cannot take the old one's group, so a rename would change it:
                // the export goes into the old file instead.
                copyIntoTargetPath();
                return;
            }
        }
    } catch (const SystemFailure& failure) {
        throw ExportError(ExportError::Kind::CannotWrite,
                          "Nie można zapisać pliku eksportu " + m_label + ": " +
                              reasonOf(failure.error_number) + ". " + untouchedNote());
    }
    bool renamed = false;
    try {
        m_build = -1;  // closed by the commit
        m_replacement->commit([&](ReplaceStep step) { renamed = step == ReplaceStep::Renamed; });
    } catch (const FileError& failure) {
        // Once renamed, the export is whole under its name; only its survival of a power cut
        // (the folder's flush) is less sure, which is no reason to call the export failed.
        if (!renamed) {
            throw ExportError(ExportError::Kind::CannotWrite,
                              "Nie można zapisać pliku eksportu " + m_label + ": " +
                                  reasonOf(failure.errorNumber()) + ". " + untouchedNote());
        }
    }
}

void ExportTarget::copyIntoTargetPath() {
    const bool regular = S_ISREG(m_old.st_mode);
    // A FIFO's open waits for its reader, as a program writing into a pipe does. A regular file
    // is not emptied when opened: it is written over and cut to length once the room is sure.
    const int flags = regular ? O_WRONLY | O_NOFOLLOW | O_CLOEXEC : O_WRONLY | O_CLOEXEC;
    int out = -1;
    do {
        out = ::open(m_target.c_str(), flags);
    } while (out < 0 && errno == EINTR);
    if (out < 0) {
        const int error = errno;
        throw ExportError(ExportError::Kind::CannotCreate,
                          "Nie można otworzyć pliku eksportu " + m_label +
                              " do zapisu: " + reasonOf(error) + ". " + untouchedNote());
    }
    try {
        if (regular) {
            reserveRoom(out);
        }
        copyInto(out, regular, regular);
    } catch (...) {
        ::close(out);
        throw;
    }
    if (::close(out) != 0 && regular) {
        const int error = errno;
        throw ExportError(ExportError::Kind::WrittenInPart, "Nie można zapisać pliku eksportu " +
                                                                m_label + ": " + reasonOf(error) +
                                                                ". Plik może być niekompletny.");
    }
}

void ExportTarget::reserveRoom(int out) {
    // A file-size limit and a full disk are found out before a byte of the old file changes.
    rlimit limit{};
    int error = 0;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        m_size > limit.rlim_cur) {
        error = EFBIG;
    } else if (m_size > 0 &&
               ::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(m_size)) != 0 &&
               errno != EOPNOTSUPP && errno != ENOSYS && errno != EINTR) {
        error = errno;
    }
    if (error != 0) {
        throw ExportError(ExportError::Kind::CannotWrite, "Nie można zapisać pliku eksportu " +
                                                              m_label + ": " + reasonOf(error) +
                                                              ". " + untouchedNote());
    }
}

void ExportTarget::copyInto(int out, bool regular_file, bool over_a_file) {
    try {
        PipeSignalHeld held;
        std::vector<char> buffer(
            static_cast<std::size_t>(std::min<std::uint64_t>(m_size, kCopyChunk)));
        std::uint64_t offset = 0;
        while (offset < m_size) {
            const std::size_t chunk =
                static_cast<std::size_t>(std::min<std::uint64_t>(m_size - offset, buffer.size()));
            const ssize_t got = ::pread(m_build, buffer.data(), chunk, static_cast<off_t>(offset));
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                fail(errno);
            }
            if (got == 0) {
                fail(EIO);  // the finished export is shorter than what was written into it
            }
            writeAll(out, buffer.data(), static_cast<std::size_t>(got));
            offset += static_cast<std::uint64_t>(got);
        }
        if (over_a_file && ::ftruncate(out, static_cast<off_t>(m_size)) != 0) {
            fail(errno);  // a longer old file keeps no tail of its own
        }
        if (regular_file && ::fsync(out) != 0) {
            fail(errno);
        }
    } catch (const SystemFailure& failure) {
        throw ExportError(ExportError::Kind::WrittenInPart,
                          "Nie można zapisać eksportu do " + m_label + ": " +
                              reasonOf(failure.error_number) +
                              ". Zapis został przerwany w trakcie, więc plik może być "
                              "niekompletny.");
    }
}

}  // namespace ordavo
