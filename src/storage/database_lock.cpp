#include "storage/database_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <utility>

#include "storage/database_paths.h"
#include "storage/file_error.h"

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

struct flock holdRange(short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = kHoldByte;
    range.l_len = 1;
    return range;
}

// Opens the header; -1 when there is none. Throws FileError on any other failure.
int openHeader(const std::filesystem::path& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno != ENOENT) {
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
    const int fd = openHeader(path, O_RDONLY);
    if (fd < 0) {
        return;  // nothing to protect: the operation refuses or fails on its own
    }
    const Identity identity = identityOf(fd, path);
    auto& held = heldLocks();
    if (auto it = held.find(identity); it != held.end()) {
        ::close(fd);
        ++it->second.depth;
    } else {
        while (::flock(fd, LOCK_EX) != 0) {
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
