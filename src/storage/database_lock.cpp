#include "storage/database_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "storage/database_paths.h"
#include "storage/file_error.h"

namespace ordavo {

namespace {

// Locks held by this process, by header path, with their nesting depth. The program runs its
// file operations on one thread.
struct Held {
    int fd;
    int depth;
};
std::map<std::filesystem::path, Held>& heldLocks() {
    static std::map<std::filesystem::path, Held> held;
    return held;
}

}  // namespace

DatabaseLock::DatabaseLock(const DatabasePaths& paths) : m_path(paths.file(DataFile::Header)) {
    auto& held = heldLocks();
    if (auto it = held.find(m_path); it != held.end()) {
        ++it->second.depth;
        return;
    }
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        if (errno == ENOENT) {
            return;  // nothing to protect: the operation refuses or fails on its own
        }
        throw FileError(m_path, "open", errno);
    }
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(m_fd);
            throw FileError(m_path, "lock", error);
        }
    }
    held[m_path] = {m_fd, 1};
}

DatabaseLock::~DatabaseLock() {
    auto& held = heldLocks();
    auto it = held.find(m_path);
    if (it == held.end()) {
        return;
    }
    if (--it->second.depth == 0) {
        ::close(it->second.fd);  // closing the descriptor releases the lock
        held.erase(it);
    }
}

}  // namespace ordavo
