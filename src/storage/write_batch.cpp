#include "storage/write_batch.h"

#include <bit>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "storage/file_error.h"
#include "storage/posix_file.h"
#include "storage/row_redo.h"

namespace ordavo {

// The record's integers are stored as the machine holds them, like the tables' own.
static_assert(std::endian::native == std::endian::little);

namespace {

// The layout of the record:
//   magic "ORDREDO" NUL (8 bytes), version (u32), number of changes (u32), record length (u64);
//   per change: data file (u32, its DataFile number), zero (u32), offset (u64), size (u64), the
//   bytes;
//   checksum (u64) over everything before it.
// A record marked done has its magic zeroed.
constexpr unsigned char kMagic[8] = {'O', 'R', 'D', 'R', 'E', 'D', 'O', '\0'};
constexpr std::uint32_t kVersion = 2;
constexpr std::size_t kHeadSize = 8 + 4 + 4 + 8;
constexpr std::size_t kChangeHeadSize = 4 + 4 + 8 + 8;
constexpr std::size_t kChecksumSize = 8;
constexpr unsigned char kDone[8] = {};

template <class T>
void put(std::vector<unsigned char>& out, T value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

template <class T>
T get(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

struct RecordedChange {
    DataFile file;
    std::uint64_t offset;
    const unsigned char* bytes;
    std::size_t size;
};

// The changes a record holds, pointing into `record`; nothing when it is torn, done or foreign.
std::optional<std::vector<RecordedChange>> parseRecord(const std::vector<unsigned char>& record) {
    const std::size_t size = record.size();
    if (size < kHeadSize + kChecksumSize || std::memcmp(record.data(), kMagic, 8) != 0 ||
        get<std::uint32_t>(record.data() + 8) != kVersion) {
        return std::nullopt;
    }
    const auto length = get<std::uint64_t>(record.data() + 16);
    if (length < kHeadSize + kChecksumSize || length > size) {
        return std::nullopt;
    }
    const auto body = static_cast<std::size_t>(length) - kChecksumSize;
    if (get<std::uint64_t>(record.data() + body) != redoChecksum(record.data(), body)) {
        return std::nullopt;
    }
    const std::uint32_t count = get<std::uint32_t>(record.data() + 12);
    std::vector<RecordedChange> changes;
    std::size_t at = kHeadSize;
    for (std::uint32_t k = 0; k < count; ++k) {
        if (body - at < kChangeHeadSize) {
            return std::nullopt;
        }
        const auto file = get<std::uint32_t>(record.data() + at);
        const auto offset = get<std::uint64_t>(record.data() + at + 8);
        const auto bytes = get<std::uint64_t>(record.data() + at + 16);
        at += kChangeHeadSize;
        constexpr auto kMaxOffset =
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (file >= kDataFileCount || bytes > body - at || offset > kMaxOffset - bytes) {
            return std::nullopt;
        }
        changes.push_back({static_cast<DataFile>(file), offset, record.data() + at,
                           static_cast<std::size_t>(bytes)});
        at += static_cast<std::size_t>(bytes);
    }
    if (at != body) {
        return std::nullopt;
    }
    return changes;
}

// Records whose "done" mark this process has made durable, by path: a delete need not flush the
// mark again until the next commit writes a record.
std::set<std::filesystem::path>& settledRecords() {
    static std::set<std::filesystem::path> settled;
    return settled;
}

// Marks the record done; with `durably`, flushes the mark.
void markDone(PosixFile& record, bool durably) {
    record.writeAt(kDone, sizeof kDone, 0);
    if (durably) {
        record.dataSync();
        settledRecords().insert(record.path());
    }
}

// The same without failing: on the way out of a failure that is being reported.
void tryMarkDone(const std::filesystem::path& path, bool durably) {
    try {
        PosixFile record(path, PosixFile::Mode::ReadWrite);
        markDone(record, durably);
    } catch (const FileError&) {
        // A record that cannot be marked stays as it is: it holds only whole rows the command
        // meant to write, so finishing it later leaves no row torn.
    }
}

}  // namespace

void WriteBatch::add(DataFile file, std::uint64_t offset, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    m_writes.push_back({file, offset, std::vector<unsigned char>(bytes, bytes + size)});
}

void WriteBatch::commit() {
    commit({});
}

void WriteBatch::commit(const std::function<void(Step)>& stop) {
    const auto step = [&](Step reached) {
        if (stop) {
            stop(reached);
        }
    };
    const auto failed = [&] {
        for (const auto& call : m_failed) {
            call();
        }
    };
    if (m_writes.empty()) {
        for (const auto& call : m_committed) {
            call();
        }
        return;
    }
    std::size_t length = kHeadSize + kChecksumSize;
    for (const Change& change : m_writes) {
        length += kChangeHeadSize + change.bytes.size();
    }
    std::vector<unsigned char> record;
    record.reserve(length);
    record.insert(record.end(), std::begin(kMagic), std::end(kMagic));
    put(record, kVersion);
    put(record, static_cast<std::uint32_t>(m_writes.size()));
    put(record, static_cast<std::uint64_t>(length));
    for (const Change& change : m_writes) {
        put(record, static_cast<std::uint32_t>(change.file));
        put(record, std::uint32_t{0});
        put(record, change.offset);
        put(record, static_cast<std::uint64_t>(change.bytes.size()));
        record.insert(record.end(), change.bytes.begin(), change.bytes.end());
    }
    put(record, redoChecksum(record.data(), record.size()));

    // 1. The record, on the device before any file is touched.
    const std::filesystem::path& record_path = m_paths.redo_record;
    try {
        const bool is_new = !pathExists(record_path);
        PosixFile out(record_path,
                      is_new ? PosixFile::Mode::CreateNew : PosixFile::Mode::ReadWrite);
        settledRecords().erase(record_path);
        out.writeAt(record.data(), record.size(), 0);
        out.dataSync();
        if (is_new) {
            syncFolder(m_paths.database_folder);  // its name, too, must survive a cut
        }
    } catch (const FileError& error) {
        tryMarkDone(record_path, true);
        failed();
        // The user knows the table being written, not the record.
        throw FileError(m_paths.file(m_writes.front().file), error.operation(),
                        error.errorNumber());
    }
    step(Step::RecordWritten);

    // 2. The changes, each file flushed once.
    std::map<DataFile, std::unique_ptr<PosixFile>> files;
    std::map<DataFile, std::uint64_t> old_lengths;
    try {
        for (const Change& change : m_writes) {
            auto& file = files[change.file];
            if (!file) {
                file = std::make_unique<PosixFile>(m_paths.file(change.file),
                                                   PosixFile::Mode::ReadWrite);
                old_lengths[change.file] = file->size();
            }
            file->writeAt(change.bytes.data(), change.bytes.size(), change.offset);
        }
    } catch (const FileError&) {
        // Nothing half appended stays behind, and the record never finishes the failed command.
        for (auto& [which, file] : files) {
            try {
                if (file->size() > old_lengths[which]) {
                    file->truncate(old_lengths[which]);
                }
            } catch (const FileError&) {
            }
        }
        tryMarkDone(record_path, true);
        failed();
        throw;
    }
    try {
        for (auto& [which, file] : files) {
            file->dataSync();
        }
    } catch (const FileError&) {
        // A failed flush is not tried again as if it could succeed: the pages may be lost. The
        // record stays whole, and the next opening writes the changes again.
        failed();
        throw;
    }
    step(Step::FilesWritten);

    // 3. Done. The mark need not be flushed: the next commit overwrites the record, flushed,
    // before it touches a file, and a table replaced whole settles it first.
    try {
        PosixFile out(record_path, PosixFile::Mode::ReadWrite);
        markDone(out, false);
    } catch (const FileError&) {
        // The record stays whole: finishing it again writes what is there already.
    }
    for (const auto& call : m_committed) {
        call();
    }
}

bool recoverRedo(const DatabasePaths& paths) {
    bool wrote = false;
    // Left beside a table by an older version of the program.
    for (DataFile file : kAllDataFiles) {
        if (file != DataFile::Header && replayRowRedo(paths.file(file))) {
            wrote = true;
        }
    }
    if (!pathExists(paths.redo_record)) {
        return wrote;
    }
    PosixFile record_file(paths.redo_record, PosixFile::Mode::ReadWrite);
    std::vector<unsigned char> record(static_cast<std::size_t>(record_file.size()));
    record.resize(record_file.readAt(record.data(), record.size(), 0));
    if (record.size() < sizeof kMagic || std::memcmp(record.data(), kDone, sizeof kDone) == 0) {
        return wrote;  // done
    }
    if (const auto changes = parseRecord(record)) {
        std::map<DataFile, std::unique_ptr<PosixFile>> files;
        for (const RecordedChange& change : *changes) {
            auto& file = files[change.file];
            if (!file) {
                file = std::make_unique<PosixFile>(paths.file(change.file),
                                                   PosixFile::Mode::ReadWrite);
            }
            file->writeAt(change.bytes, change.size, change.offset);
        }
        for (auto& [which, file] : files) {
            file->dataSync();
        }
        wrote = true;
    }
    markDone(record_file, true);
    return wrote;
}

bool hasPendingRedo(const DatabasePaths& paths) {
    for (DataFile file : kAllDataFiles) {
        if (file != DataFile::Header && hasRowRedo(paths.file(file))) {
            return true;
        }
    }
    if (!pathExists(paths.redo_record)) {
        return false;
    }
    const PosixFile record_file(paths.redo_record, PosixFile::Mode::Read);
    std::vector<unsigned char> record(static_cast<std::size_t>(record_file.size()));
    record.resize(record_file.readAt(record.data(), record.size(), 0));
    return parseRecord(record).has_value();
}

void settleRedo(const DatabasePaths& paths) {
    if (settledRecords().contains(paths.redo_record) || !pathExists(paths.redo_record)) {
        return;
    }
    PosixFile record(paths.redo_record, PosixFile::Mode::ReadWrite);
    markDone(record, true);
}

}  // namespace ordavo
