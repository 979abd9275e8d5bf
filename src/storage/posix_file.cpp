#include "storage/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "storage/file_error.h"
#include "storage/file_names.h"

namespace ordavo {

namespace {

int openFlags(PosixFile::Mode mode) {
    switch (mode) {
        case PosixFile::Mode::Read:
            return O_RDONLY;
        case PosixFile::Mode::ReadWrite:
            return O_RDWR;
        case PosixFile::Mode::CreateTruncate:
            return O_WRONLY | O_CREAT | O_TRUNC;
        case PosixFile::Mode::CreateNew:
            return O_RDWR | O_CREAT | O_EXCL;
    }
    return O_RDONLY;
}

FileEvents* g_events = nullptr;

}  // namespace

void setFileEvents(FileEvents* events) {
    g_events = events;
}

FileEvents* fileEvents() {
    return g_events;
}

PosixFile::PosixFile(std::filesystem::path path, Mode mode, mode_t permissions)
    : m_path(std::move(path)) {
    const bool creates = mode == Mode::CreateTruncate || mode == Mode::CreateNew;
    const bool existed = g_events && creates && ::access(m_path.c_str(), F_OK) == 0;
    // Without blocking: opening a FIFO waits for its other end, which may never come. The flag
    // means nothing for the regular files that are all this class accepts.
    do {
        m_fd = ::open(m_path.c_str(), openFlags(mode) | O_CLOEXEC | O_NONBLOCK, permissions);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        throw FileError(m_path, FileOperation::Open, errno == ENXIO ? kNotARegularFile : errno);
    }
    // A folder opens read-only without complaint, a FIFO or a device too; reading them would fail
    // later with a vaguer error, or block.
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        throw FileError(m_path, FileOperation::Stat, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        throw FileError(m_path, FileOperation::Open,
                        S_ISDIR(info.st_mode) ? EISDIR : kNotARegularFile);
    }
    if (g_events && creates) {
        if (existed) {
            g_events->truncated(m_path, 0);
        } else {
            g_events->created(m_path);
        }
    }
}

void PosixFile::closeInBackground() {
    const int fd = std::exchange(m_fd, -1);
    if (fd < 0) {
        return;
    }
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::system_error&) {
        ::close(fd);  // no thread to be had: close it here
    }
}

PosixFile::~PosixFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::size_t PosixFile::readAt(void* data, std::size_t size, std::uint64_t offset) const {
    if (FileEvents* events = fileEvents()) {
        events->read(m_path, offset, size);
    }
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(m_fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError(m_path, FileOperation::Read, errno);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void PosixFile::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pwrite(m_fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError(m_path, FileOperation::Write, errno);
        }
        if (n == 0) {
            throw FileError(m_path, FileOperation::Write, ENOSPC);
        }
        if (g_events) {
            g_events->wrote(m_path, offset + done, bytes + done, static_cast<std::size_t>(n));
        }
        done += static_cast<std::size_t>(n);
    }
}

std::uint64_t PosixFile::size() const {
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        throw FileError(m_path, FileOperation::Stat, errno);
    }
    return static_cast<std::uint64_t>(info.st_size);
}

void PosixFile::truncate(std::uint64_t size) {
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        throw FileError(m_path, FileOperation::Truncate, errno);
    }
    if (g_events) {
        g_events->truncated(m_path, size);
    }
}

void PosixFile::sync() {
    if (::fsync(m_fd) != 0) {
        throw FileError(m_path, FileOperation::Sync, errno);
    }
    if (g_events) {
        g_events->synced(m_path);
    }
}

void PosixFile::dataSync() {
    if (::fdatasync(m_fd) != 0) {
        throw FileError(m_path, FileOperation::Sync, errno);
    }
    if (g_events) {
        g_events->synced(m_path);
    }
}

void PosixFile::copyFrom(const PosixFile& source, std::uint64_t from, std::uint64_t to,
                         std::uint64_t size) {
    auto in = static_cast<off_t>(from);
    auto out = static_cast<off_t>(to);
    std::uint64_t left = size;
    // A recorder sees every byte written, so the copy goes through a buffer then.
    bool kernel_copy = g_events == nullptr;
    // Every copy is flushed to the device right after (it becomes a table or a cover by an
    // atomic rename), so the device is set to work while the copy goes on: a failure of this
    // hint changes nothing, and the flush that follows reports any real write error.
    constexpr std::uint64_t kWritebackChunk = std::uint64_t{8} << 20;
    while (left > 0 && kernel_copy) {
        const off_t chunk_start = out;
        const ssize_t n =
            ::copy_file_range(source.m_fd, &in, m_fd, &out, std::min(left, kWritebackChunk), 0);
        if (n > 0) {
            left -= static_cast<std::uint64_t>(n);
            ::sync_file_range(m_fd, chunk_start, n, SYNC_FILE_RANGE_WRITE);
        } else if (n == 0) {
            throw FileError(source.m_path, FileOperation::Read, EIO);  // the source ended early
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
            kernel_copy = false;  // not offered between these files: copy through a buffer
        } else {
            throw FileError(m_path, FileOperation::Copy, errno);
        }
    }
    std::vector<unsigned char> buffer(std::min<std::uint64_t>(left, std::uint64_t{4} << 20));
    while (left > 0) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const std::size_t got = source.readAt(buffer.data(), chunk, static_cast<std::uint64_t>(in));
        if (got != chunk) {
            throw FileError(source.m_path, FileOperation::Read, EIO);
        }
        writeAt(buffer.data(), chunk, static_cast<std::uint64_t>(out));
        ::sync_file_range(m_fd, out, static_cast<off_t>(chunk), SYNC_FILE_RANGE_WRITE);
        in += static_cast<off_t>(chunk);
        out += static_cast<off_t>(chunk);
        left -= chunk;
    }
}

void ignoreFileSizeSignal() {
    ::signal(SIGXFSZ, SIG_IGN);
}

bool pathExists(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return true;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return false;
    }
    throw FileError(path, FileOperation::Stat, errno);
}

void createFolder(const std::filesystem::path& path) {
    if (::mkdir(path.c_str(), 0755) != 0) {
        if (errno != EEXIST) {
            throw FileError(path, FileOperation::CreateFolder, errno);
        }
        return;
    }
    if (g_events) {
        g_events->madeFolder(path);
    }
    // Its name must survive a power cut as well as what is put into it.
    std::filesystem::path parent = path;
    while (!parent.empty() && !parent.has_filename()) {
        parent = parent.parent_path();  // "x/covers/" names the folder "x/covers"
    }
    syncFolder(parent.parent_path());
}

void removeFile(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0) {
        if (errno != ENOENT) {
            throw FileError(path, FileOperation::Delete, errno);
        }
        return;
    }
    if (g_events) {
        g_events->removed(path);
    }
}

void removeFolder(const std::filesystem::path& path) {
    if (::rmdir(path.c_str()) != 0) {
        if (errno != ENOENT) {
            throw FileError(path, FileOperation::DeleteFolder, errno);
        }
        return;
    }
    if (g_events) {
        g_events->removedFolder(path);
    }
}

void renamePath(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throw FileError(to, FileOperation::Rename, errno);
    }
    if (g_events) {
        g_events->renamed(from, to);
    }
}

void syncFolder(const std::filesystem::path& folder) {
    const std::filesystem::path name = folder.empty() ? std::filesystem::path(".") : folder;
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw FileError(name, FileOperation::OpenFolder, errno);
    }
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems cannot flush a folder; the rename itself has still happened.
    if (result != 0 && error != EINVAL && error != EROFS) {
        throw FileError(name, FileOperation::SyncFolder, error);
    }
    if (g_events) {
        g_events->syncedFolder(name);
    }
}

namespace {

// Removes a temporary file on the way out of a failure, quietly: the failure is what is reported.
void discardTemporary(const std::filesystem::path& temp) {
    if (::unlink(temp.c_str()) == 0 && g_events) {
        g_events->removed(temp);
    }
}

}  // namespace

FileReplacement::FileReplacement(std::filesystem::path target, TemporaryName naming,
                                 mode_t permissions)
    : m_target(std::move(target)) {
    // The temporary file is created exclusively, so no link planted under its name is followed.
    if (naming == TemporaryName::Fixed) {
        m_temp = replacementNameOf(m_target);
        if (::unlink(m_temp.c_str()) != 0) {
            const int error = errno;
            if (error != ENOENT) {
                throw FileError(error == EISDIR ? m_temp : m_target, FileOperation::Write, error);
            }
        } else if (g_events) {
            g_events->removed(m_temp);
        }
    }
    for (int attempt = 0;; ++attempt) {
        if (naming == TemporaryName::Unique) {
            m_temp = uniqueTemporaryNameOf(m_target);
        }
        try {
            m_file.emplace(m_temp, PosixFile::Mode::CreateNew, permissions);
            return;
        } catch (const FileError& error) {
            if (naming == TemporaryName::Unique && error.errorNumber() == EEXIST && attempt < 100) {
                continue;  // taken: another name
            }
            throw FileError(error.errorNumber() == EISDIR ? m_temp : m_target, error.operation(),
                            error.errorNumber());
        }
    }
}

FileReplacement::~FileReplacement() {
    m_file.reset();
    if (!m_temp.empty()) {
        discardTemporary(m_temp);  // best effort: the failure is what is reported
    }
}

void FileReplacement::commit(const std::function<void(ReplaceStep)>& step_hook) {
    const auto step = [&](ReplaceStep s) {
        if (step_hook) {
            step_hook(s);
        }
    };
    try {
        step(ReplaceStep::TempWritten);
        m_file->sync();
        step(ReplaceStep::TempSynced);
        m_file.reset();
        renamePath(m_temp, m_target);
    } catch (const FileError& error) {
        // The user knows the target, not our temporary name.
        if (error.path() == m_temp) {
            throw FileError(m_target, error.operation(), error.errorNumber());
        }
        throw;
    }
    m_temp.clear();
    step(ReplaceStep::Renamed);
    syncFolder(m_target.parent_path());
}

void replaceFile(const std::filesystem::path& target,
                 const std::function<void(PosixFile& temp)>& write,
                 const std::function<void(ReplaceStep)>& step_hook, TemporaryName naming) {
    FileReplacement replacement(target, naming);
    try {
        write(replacement.file());
    } catch (const FileError& error) {
        if (error.path() == replacement.file().path()) {
            throw FileError(target, error.operation(), error.errorNumber());
        }
        throw;
    }
    replacement.commit(step_hook);
}

void copyFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target) {
    PosixFile in(source, PosixFile::Mode::Read);
    const std::uint64_t length = in.size();
    // Beside covers of any name, "<name>0" may be another cover: a name of its own.
    replaceFile(
        target, [&](PosixFile& out) { out.copyFrom(in, 0, 0, length); }, {}, TemporaryName::Unique);
}

}  // namespace ordavo
