#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace ordavo {

// Every change this process makes to files through this module, in order, as a test's recorder
// sees it: the power-cut simulator rebuilds from them what a device may hold after a cut.
class FileEvents {
public:
    virtual ~FileEvents() = default;
    virtual void created(const std::filesystem::path& file) = 0;  // a new, empty file
    virtual void wrote(const std::filesystem::path& file, std::uint64_t offset, const void* data,
                       std::size_t size) = 0;
    virtual void truncated(const std::filesystem::path& file, std::uint64_t size) = 0;
    // The file's data and length are on the device.
    virtual void synced(const std::filesystem::path& file) = 0;
    virtual void renamed(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    virtual void removed(const std::filesystem::path& file) = 0;
    virtual void madeFolder(const std::filesystem::path& folder) = 0;
    virtual void removedFolder(const std::filesystem::path& folder) = 0;
    // The folder's entries (names created, renamed, removed in it) are on the device.
    virtual void syncedFolder(const std::filesystem::path& folder) = 0;
    // Bytes [offset, offset + size) of the file were asked for.
    virtual void read(const std::filesystem::path& /*file*/, std::uint64_t /*offset*/,
                      std::size_t /*size*/) {}
};

// Installs the recorder (nullptr: none, the normal case). Not for use while files are written.
void setFileEvents(FileEvents* events);
FileEvents* fileEvents();

// A file descriptor owned for the length of one operation. Every failure throws FileError naming
// the file, the operation and errno; short reads at the end of a file are not failures.
class PosixFile {
public:
    enum class Mode {
        Read,            // existing file, read only
        ReadWrite,       // existing file, read and write, never truncated
        CreateTruncate,  // created when missing, emptied when present, write only
        CreateNew,       // created, read and write; fails (EEXIST) when the name is taken
    };

    // Opens `path`, which must be a regular file: a folder fails with EISDIR, anything else that
    // is not a regular file (a FIFO, a device, a socket) with kNotARegularFile, and opening
    // never blocks. A file created gets `permissions` less the umask.
    PosixFile(std::filesystem::path path, Mode mode, mode_t permissions = 0644);
    ~PosixFile();
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    int descriptor() const { return m_fd; }

    // Reads up to `size` bytes at `offset`; fewer only at the end of the file. Returns the count.
    std::size_t readAt(void* data, std::size_t size, std::uint64_t offset) const;
    // Writes all `size` bytes at `offset`, or throws.
    void writeAt(const void* data, std::size_t size, std::uint64_t offset);
    std::uint64_t size() const;
    void truncate(std::uint64_t size);
    // Flushes the file's data and metadata to the storage device.
    void sync();
    // Flushes the file's data, and its length when it changed, to the storage device (cheaper
    // than sync() for a file written in place).
    void dataSync();
    // Closes the descriptor on another thread. The last close of a large file that a rename has
    // replaced frees its blocks, which takes a while and need not hold up the command; nothing
    // of the file is needed any more. The object holds no file afterwards.
    void closeInBackground();
    // Copies `size` bytes from `source` at `from` to this file at `to`, in the kernel where it can,
    // and starts writing the copied bytes to the device as it goes (the copy is to be flushed).
    void copyFrom(const PosixFile& source, std::uint64_t from, std::uint64_t to,
                  std::uint64_t size);

private:
    std::filesystem::path m_path;
    int m_fd = -1;
};

// Makes a write beyond the process's file-size limit (ulimit -f) fail with EFBIG, reported like
// any other write error, instead of killing the process with SIGXFSZ. Every program calls it
// first thing.
void ignoreFileSizeSignal();

// Whether a file or folder exists at `path`. Throws FileError when the system cannot tell.
bool pathExists(const std::filesystem::path& path);
// Creates one folder level, and flushes its parent so that the new name survives a power cut; an
// existing folder is fine. Throws FileError otherwise.
void createFolder(const std::filesystem::path& path);
// Removes a file; a missing file is fine. Throws FileError otherwise.
void removeFile(const std::filesystem::path& path);
// Removes an empty folder; a missing one is fine. Throws FileError otherwise.
void removeFolder(const std::filesystem::path& path);
// Renames `from` to `to`, replacing `to` (a file, or an empty folder for a folder). Throws
// FileError naming `to`.
void renamePath(const std::filesystem::path& from, const std::filesystem::path& to);
// Flushes a folder's entries (after a rename or create inside it) to the storage device.
void syncFolder(const std::filesystem::path& folder);

// The points of a file replacement, in order; the step hook lets tests stop a replacement there.
enum class ReplaceStep { TempWritten, TempSynced, Renamed };

// The temporary name a replacement writes under: "<target>0" (a database file's, fixed so that a
// leftover is found and removed), or ".<name>.ordavo-XXXXXX", which can be nobody else's.
enum class TemporaryName { Fixed, Unique };

// A replacement of `target` under way: a new temporary file beside it (a leftover "<target>0"
// removed first; a unique name is never one that exists), filled through file(), which commit()
// flushes and renames over the target, then flushes the folder. At every instant either the old
// or the new content is under the target's name. Destroyed without a commit, the temporary file
// is removed and the target is untouched. Failures throw FileError naming the target, or the
// temporary file when a folder of that name is in the way (the user has to move it).
class FileReplacement {
public:
    FileReplacement(std::filesystem::path target, TemporaryName naming, mode_t permissions = 0644);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    PosixFile& file() { return *m_file; }
    const std::filesystem::path& target() const { return m_target; }
    // Flushes the temporary file, renames it over the target and flushes the folder; `step_hook`
    // is told of each step reached.
    void commit(const std::function<void(ReplaceStep)>& step_hook = {});

private:
    std::filesystem::path m_target;
    std::filesystem::path m_temp;  // empty once renamed
    std::optional<PosixFile> m_file;
};

// Replaces `target` as one atomic step through a FileReplacement that `write` fills.
void replaceFile(const std::filesystem::path& target,
                 const std::function<void(PosixFile& temp)>& write,
                 const std::function<void(ReplaceStep)>& step_hook = {},
                 TemporaryName naming = TemporaryName::Fixed);

// Copies `source` to `target` through replaceFile, so `target` is either absent/old or complete.
void copyFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace ordavo
