#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace ordavo {

class PosixFile;

// What the system reports about a file's identity and version. Two equal stamps of one path mean
// the file was not replaced, resized or written in between, as far as its timestamps can tell.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified_ns = 0;  // modification time, nanoseconds since the epoch
    std::int64_t changed_ns = 0;   // status change time, nanoseconds since the epoch

    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const PosixFile& file);

// The current wall-clock time in nanoseconds, comparable with FileStamp times.
std::int64_t nowNs();

// Decides whether something derived from a file's content (an index, a list of ids) can be used
// again without reading the file. A read is trusted while the file's stamp is unchanged, except
// when the file had been modified so shortly before the read began that a later write could
// share its timestamp (the "racy timestamp" case): such a read is trusted by nobody, and the
// next use reads the file again.
class FileValidity {
public:
    // The file was read whole, starting at `read_started_ns`; `stamp` was taken after the read.
    void recordRead(const FileStamp& stamp, std::int64_t read_started_ns);
    // We wrote the file ourselves and updated what was derived from it in the same step.
    void recordOwnWrite(const FileStamp& stamp);
    // Whether what was derived from the file still matches a file with stamp `current`.
    bool trusts(const FileStamp& current) const;
    // Whether the file had stamp `current` when last read or written, racy or not.
    bool matches(const FileStamp& current) const { return m_stamp && *m_stamp == current; }
    void forget() { m_stamp.reset(); }

    // How close to a read a modification may lie before the read counts as racy: a file system
    // with whole-second timestamps gets a wide margin, one with finer timestamps a narrow one.
    static std::int64_t racyMarginNs(const FileStamp& stamp);

private:
    std::optional<FileStamp> m_stamp;
    bool m_racy = false;
};

}  // namespace ordavo
