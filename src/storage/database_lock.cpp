#include "storage/database_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <utility>

#include "storage/database_paths.h"
#include "storage/file_error.h"
#include "storage/posix_file.h"

namespace ordavo {

namespace {

using Identity = std::pair<dev_t, ino_t>;

// The write locks this process holds, by the header's identity, with their descriptor and nesting
// depth. The program runs its writes on one thread.
struct Held {
    int fd;
    int depth;
};
std::map<Identity, Held>& heldLocks() {
    static std::map<Identity, Held> held;
    return held;
}

// The holds this process has, by the header's identity, with the descriptor that carries the
// lock and how many objects share it.
std::map<Identity, Held>& heldDatabases() {
    static std::map<Identity, Held> held;
    return held;
}

// The byte of "KR.kr" whose lock marks a held database: far beyond the 36 bytes of any header.
constexpr off_t kHoldByte = off_t{1} << 40;

struct flock lockRange(short type, off_t byte) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = byte;
    range.l_len = 1;
    return range;
}

struct flock holdRange(short type) {
    return lockRange(type, kHoldByte);
}

// Opens the header; -1 when there is none, or (for writing) when it may not be written. Throws
// FileError on any other failure.
int openHeader(const std::filesystem::path& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno != ENOENT &&
        !((flags & O_ACCMODE) != O_RDONLY && (errno == EACCES || errno == EROFS))) {
        throw FileError(path, FileOperation::Open, errno);
    }
    return fd;
}

Identity identityOf(int fd, const std::filesystem::path& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw FileError(path, FileOperation::Stat, error);
    }
    return {info.st_dev, info.st_ino};
}

}  // namespace

DatabaseLock::DatabaseLock(const DatabasePaths& paths) {
    const std::filesystem::path& path = paths.file(DataFile::Header);
    // Opened for writing, which an exclusive lock needs; a header this program may not write
    // belongs to a database it does not write either.
    int fd = openHeader(path, O_RDWR);
    bool lockable = true;
    if (fd < 0 && pathExists(path)) {
        fd = openHeader(path, O_RDONLY);
        lockable = false;
    }
    if (fd < 0) {
        return;  // nothing to protect: the operation refuses or fails on its own
    }
    const Identity identity = identityOf(fd, path);
    auto& held = heldLocks();
    if (auto it = held.find(identity); it != held.end()) {
        ::close(fd);
        ++it->second.depth;
    } else {
        // A byte-range lock (not flock, which some network file systems turn into a lock of the
        // whole file that would clash with the hold's range) on the header's first byte.
        struct flock range = lockRange(F_WRLCK, 0);
        while (lockable && ::fcntl(fd, F_OFD_SETLKW, &range) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                ::close(fd);
                throw FileError(path, FileOperation::Lock, error);
            }
        }
        held[identity] = {fd, 1};
    }
    m_counted = true;
    std::tie(m_device, m_inode) = identity;
}

DatabaseLock::~DatabaseLock() {
    if (!m_counted) {
        return;
    }
    auto& held = heldLocks();
    auto it = held.find({m_device, m_inode});
    if (it != held.end() && --it->second.depth == 0) {
        ::close(it->second.fd);  // closing the descriptor releases the lock
        held.erase(it);
    }
}

DatabaseHold::DatabaseHold(const DatabasePaths& paths) {
    const std::filesystem::path& path = paths.file(DataFile::Header);
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return;  // no header, or one this program may not write: nothing to hold
    }
    const Identity identity = identityOf(fd, path);
    auto& held = heldDatabases();
    if (auto it = held.find(identity); it != held.end()) {
        ::close(fd);
        ++it->second.depth;  // held by this process already, on the first holder's descriptor
    } else {
        struct flock range = holdRange(F_WRLCK);
        if (::fcntl(fd, F_OFD_SETLK, &range) != 0) {
            ::close(fd);
            return;  // another copy holds it (or the system has no locks to give)
        }
        held[identity] = {fd, 1};
    }
    m_held = true;
    m_path = path;
    std::tie(m_device, m_inode) = identity;
}

DatabaseHold::~DatabaseHold() {
    if (!m_held) {
        return;
    }
    auto& held = heldDatabases();
    auto it = held.find({m_device, m_inode});
    if (it != held.end() && --it->second.depth == 0) {
        ::close(it->second.fd);  // drops the lock
        held.erase(it);
    }
}

bool DatabaseHold::intact() const {
    if (!m_held) {
        return false;
    }
    struct stat info {};
    return ::stat(m_path.c_str(), &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode;
}

bool DatabaseHold::heldElsewhere(const DatabasePaths& paths) {
    const std::filesystem::path& path = paths.file(DataFile::Header);
    const int fd = openHeader(path, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    const Identity identity = identityOf(fd, path);
    if (heldDatabases().contains(identity)) {
        ::close(fd);
        return false;
    }
    struct flock range = holdRange(F_WRLCK);
    const int result = ::fcntl(fd, F_OFD_GETLK, &range);
    const int error = errno;
    ::close(fd);
    if (result != 0) {
        throw FileError(path, FileOperation::Lock, error);
    }
    return range.l_type != F_UNLCK;
}

}  // namespace ordavo
