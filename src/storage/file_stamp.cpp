#include "storage/file_stamp.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#include "storage/file_error.h"
#include "storage/posix_file.h"

namespace ordavo {

namespace {

std::int64_t toNs(const timespec& time) {
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

}  // namespace

FileStamp stampOf(const PosixFile& file) {
    struct stat info {};
    if (::fstat(file.descriptor(), &info) != 0) {
        throw FileError(file.path(), FileOperation::Stat, errno);
    }
    return {info.st_dev, info.st_ino, static_cast<std::int64_t>(info.st_size), toNs(info.st_mtim),
            toNs(info.st_ctim)};
}

std::int64_t nowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return toNs(now);
}

std::int64_t FileValidity::racyMarginNs(const FileStamp& stamp) {
    constexpr std::int64_t kSecond = 1'000'000'000;
    const bool whole_seconds = stamp.modified_ns % kSecond == 0 && stamp.changed_ns % kSecond == 0;
    // Two seconds covers file systems that count in whole or even seconds; otherwise a generous
    // multiple of the kernel's timestamp tick.
    return whole_seconds ? 2 * kSecond : kSecond / 20;
}

void FileValidity::recordRead(const FileStamp& stamp, std::int64_t read_started_ns) {
    m_stamp = stamp;
    m_racy = stamp.modified_ns + racyMarginNs(stamp) > read_started_ns ||
             stamp.changed_ns + racyMarginNs(stamp) > read_started_ns;
}

void FileValidity::recordOwnWrite(const FileStamp& stamp) {
    m_stamp = stamp;
    m_racy = false;
}

bool FileValidity::trusts(const FileStamp& current) const {
    return m_stamp && !m_racy && *m_stamp == current;
}

}  // namespace ordavo
