#include "storage/write_batch.h"

#include <bit>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>

#include "storage/database.h"
#include "storage/file_error.h"
#include "storage/file_stamp.h"
#include "storage/posix_file.h"
#include "storage/row_redo.h"

namespace ordavo {

// The record's integers are stored as the machine holds them, like the tables' own.
static_assert(std::endian::native == std::endian::little);

namespace {

// The redo record is a log of the commands written since the files were last all flushed: one
// entry per command, appended at its end. An entry:
//   magic "ORDREDO" NUL (8 bytes), version (u32), number of changes (u32), entry length (u64),
//   the log's epoch (u64), the entry's sequence number in it (u64, from 0);
//   per change: data file (u32, its DataFile number), zero (u32), offset (u64), size (u64), the
//   bytes;
//   checksum (u64) over everything before it.
// The log is emptied (cut to 0 bytes) at a checkpoint, after every file written was flushed, and
// the next entry begins a new epoch, so that an entry of an older epoch left behind a shorter one
// is never taken for part of the log.
constexpr unsigned char kMagic[8] = {'O', 'R', 'D', 'R', 'E', 'D', 'O', '\0'};
constexpr std::uint32_t kVersion = 3;
constexpr std::size_t kHeadSize = 8 + 4 + 4 + 8 + 8 + 8;
constexpr std::size_t kChangeHeadSize = 4 + 4 + 8 + 8;
constexpr std::size_t kChecksumSize = 8;
// Past this length a commit ends with a checkpoint, which bounds the log and its replay.
constexpr std::uint64_t kCheckpointLength = std::uint64_t{4} << 20;

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

struct Entry {
    std::uint64_t epoch;
    std::uint64_t sequence;
    std::size_t length;
    std::vector<RecordedChange> changes;
};

// The entry at `at` of `log`, pointing into it; nothing when there is none (torn, foreign, the
// end of the log).
std::optional<Entry> parseEntry(const std::vector<unsigned char>& log, std::size_t at) {
    if (log.size() - at < kHeadSize + kChecksumSize ||
        std::memcmp(log.data() + at, kMagic, 8) != 0 ||
        get<std::uint32_t>(log.data() + at + 8) != kVersion) {
        return std::nullopt;
    }
    const unsigned char* entry = log.data() + at;
    const auto length = get<std::uint64_t>(entry + 16);
    if (length < kHeadSize + kChecksumSize || length > log.size() - at) {
        return std::nullopt;
    }
    const auto body = static_cast<std::size_t>(length) - kChecksumSize;
    if (get<std::uint64_t>(entry + body) != redoChecksum(entry, body)) {
        return std::nullopt;
    }
    Entry parsed{get<std::uint64_t>(entry + 24),
                 get<std::uint64_t>(entry + 32),
                 static_cast<std::size_t>(length),
                 {}};
    const std::uint32_t count = get<std::uint32_t>(entry + 12);
    std::size_t pos = kHeadSize;
    for (std::uint32_t k = 0; k < count; ++k) {
        if (body - pos < kChangeHeadSize) {
            return std::nullopt;
        }
        const auto file = get<std::uint32_t>(entry + pos);
        const auto offset = get<std::uint64_t>(entry + pos + 8);
        const auto bytes = get<std::uint64_t>(entry + pos + 16);
        pos += kChangeHeadSize;
        constexpr auto kMaxOffset =
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (file >= kDataFileCount || bytes > body - pos || offset > kMaxOffset - bytes) {
            return std::nullopt;
        }
        parsed.changes.push_back(
            {static_cast<DataFile>(file), offset, entry + pos, static_cast<std::size_t>(bytes)});
        pos += static_cast<std::size_t>(bytes);
    }
    if (pos != body) {
        return std::nullopt;
    }
    return parsed;
}

// The whole entries of the log, in order: from the first, those of its epoch in sequence.
std::vector<Entry> parseLog(const std::vector<unsigned char>& log) {
    std::vector<Entry> entries;
    std::size_t at = 0;
    while (const std::optional<Entry> entry = parseEntry(log, at)) {
        if (!entries.empty() && (entry->epoch != entries.front().epoch ||
                                 entry->sequence != entries.back().sequence + 1)) {
            break;
        }
        if (entries.empty() && entry->sequence != 0) {
            break;
        }
        entries.push_back(*entry);
        at += entry->length;
    }
    return entries;
}

std::vector<unsigned char> readAll(const PosixFile& file) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(file.size()));
    bytes.resize(file.readAt(bytes.data(), bytes.size(), 0));
    return bytes;
}

}  // namespace

// What this process knows of a database's log between commands: where the next entry goes, in
// which epoch, and which files its entries have written without a flush. Checked against the log
// file before each use; another program's writes make it read the log again.
struct RedoLogState {
    std::uint64_t epoch = 0;
    std::uint64_t next_sequence = 0;
    std::uint64_t length = 0;
    std::set<DataFile> unflushed;
    std::optional<FileStamp> stamp;  // of the log as this process left it; none: no log file
};

namespace {

using LogState = RedoLogState;

// The log file's stamp now; none when there is no log.
std::optional<FileStamp> logStamp(const std::filesystem::path& path) {
    if (!pathExists(path)) {
        return std::nullopt;
    }
    return stampOf(PosixFile(path, PosixFile::Mode::Read));
}

std::map<std::filesystem::path, LogState>& logStates() {
    static std::map<std::filesystem::path, LogState> states;
    return states;
}

std::uint64_t newEpoch() {
    static std::mt19937_64 random{std::random_device{}()};
    return random();
}

// Flushes every file the log's entries wrote and empties the log, durably: nothing in it is
// needed any more.
void checkpoint(const DatabasePaths& paths, LogState& state) {
    for (DataFile file : state.unflushed) {
        PosixFile(paths.file(file), PosixFile::Mode::ReadWrite).dataSync();
    }
    state.unflushed.clear();
    if (pathExists(paths.redo_record)) {
        PosixFile log(paths.redo_record, PosixFile::Mode::ReadWrite);
        if (log.size() > 0) {
            log.truncate(0);
            log.dataSync();
        }
    }
    state.epoch = newEpoch();
    state.next_sequence = 0;
    state.length = 0;
    state.stamp = logStamp(paths.redo_record);
}

bool finishLog(const DatabasePaths& paths);

// The log state of the database, valid for the log as it is now: read again (and the log
// finished) when this process has none yet or another program changed the log.
LogState& currentState(const DatabasePaths& paths) {
    auto& states = logStates();
    const auto found = states.find(paths.redo_record);
    if (found != states.end() && found->second.stamp == logStamp(paths.redo_record)) {
        return found->second;
    }
    finishLog(paths);
    return states[paths.redo_record];
}

}  // namespace

WriteBatch::WriteBatch(Database& database) : m_paths(database.paths()), m_database(&database) {}

void WriteBatch::add(DataFile file, std::uint64_t offset, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    m_writes.push_back({file, offset, std::vector<unsigned char>(bytes, bytes + size)});
}

void WriteBatch::commit() {
    commit({});
}

void WriteBatch::commit(const std::function<void(Step)>& stop) {
    try {
        commitSteps(stop);
    } catch (const FileError&) {
        throw;
    } catch (...) {
        // Cut short by something else than a file error: which of the files were written is not
        // known any more, so the log is finished again before the next write, as after a kill.
        logStates().erase(m_paths.redo_record);
        throw;
    }
}

void WriteBatch::runAll(const std::vector<std::function<void()>>& calls) {
    for (const auto& call : calls) {
        call();
    }
}

void WriteBatch::commitSteps(const std::function<void(Step)>& stop) {
    if (m_writes.empty()) {
        runAll(m_committed);
        return;
    }
    LogState& state = currentState(m_paths);
    // 1. The entry, on the device before any file is touched: then the command is durable, as
    // the log finishes it after any cut.
    const std::uint64_t at = appendEntry(state, encodeEntry(state));
    if (stop) {
        stop(Step::RecordWritten);
    }
    // 2. The changes, written; their files are flushed at the next checkpoint.
    writeChanges(state, at);
    if (stop) {
        stop(Step::FilesWritten);
    }
    if (state.length > kCheckpointLength) {
        checkpoint(m_paths, state);
    }
    runAll(m_committed);
}

std::vector<unsigned char> WriteBatch::encodeEntry(const RedoLogState& state) const {
    std::size_t length = kHeadSize + kChecksumSize;
    for (const Change& change : m_writes) {
        length += kChangeHeadSize + change.bytes.size();
    }
    std::vector<unsigned char> entry(std::begin(kMagic), std::end(kMagic));
    entry.reserve(length);
    put(entry, kVersion);
    put(entry, static_cast<std::uint32_t>(m_writes.size()));
    put(entry, static_cast<std::uint64_t>(length));
    put(entry, state.epoch);
    put(entry, state.next_sequence);
    for (const Change& change : m_writes) {
        put(entry, static_cast<std::uint32_t>(change.file));
        put(entry, std::uint32_t{0});
        put(entry, change.offset);
        put(entry, static_cast<std::uint64_t>(change.bytes.size()));
        entry.insert(entry.end(), change.bytes.begin(), change.bytes.end());
    }
    put(entry, redoChecksum(entry.data(), entry.size()));
    return entry;
}

std::uint64_t WriteBatch::appendEntry(RedoLogState& state,
                                      const std::vector<unsigned char>& entry) {
    const std::filesystem::path& log_path = m_paths.redo_record;
    const std::uint64_t at = state.length;
    try {
        const bool is_new = !pathExists(log_path);
        PosixFile log(log_path, is_new ? PosixFile::Mode::CreateNew : PosixFile::Mode::ReadWrite);
        try {
            log.writeAt(entry.data(), entry.size(), at);
            log.dataSync();
        } catch (const FileError&) {
            // The entry may reach the device later: cut it off, so that it never finishes the
            // failed command. Failing that too, the next opening may finish it: it holds only
            // whole rows the command meant to write.
            try {
                log.truncate(at);
                log.dataSync();
            } catch (const FileError&) {
            }
            throw;
        }
        if (is_new) {
            syncFolder(m_paths.database_folder);  // its name, too, must survive a cut
        }
        state.stamp = stampOf(log);
    } catch (const FileError& error) {
        state.length = at;
        state.stamp = logStamp(log_path);
        runAll(m_failed);
        // The user knows the table being written, not the log.
        throw FileError(m_paths.file(m_writes.front().file), error.operation(),
                        error.errorNumber());
    }
    state.length = at + entry.size();
    ++state.next_sequence;
    return at;
}

void WriteBatch::writeChanges(RedoLogState& state, std::uint64_t entry_at) {
    std::map<DataFile, std::unique_ptr<PosixFile>> files;
    std::map<DataFile, std::uint64_t> old_lengths;
    std::map<DataFile, FileStamp> stamps_before;
    std::map<DataFile, std::vector<std::uint64_t>> rows;
    try {
        for (const Change& change : m_writes) {
            auto& file = files[change.file];
            if (!file) {
                file = std::make_unique<PosixFile>(m_paths.file(change.file),
                                                   PosixFile::Mode::ReadWrite);
                old_lengths[change.file] = file->size();
                stamps_before[change.file] = stampOf(*file);
            }
            file->writeAt(change.bytes.data(), change.bytes.size(), change.offset);
            state.unflushed.insert(change.file);
            if (!change.bytes.empty()) {
                rows[change.file].push_back(change.offset / change.bytes.size());
            }
        }
    } catch (const FileError&) {
        if (m_database) {
            for (const auto& [which, file] : files) {
                m_database->keeper(which).forget();
            }
        }
        // Nothing half appended stays behind, and the log never finishes the failed command:
        // its entry goes, durably.
        for (auto& [which, file] : files) {
            if (!file) {
                continue;  // its open was what failed
            }
            try {
                if (file->size() > old_lengths[which]) {
                    file->truncate(old_lengths[which]);
                }
            } catch (const FileError&) {
                // The first failure is the one reported; the cut entry keeps the rest unused.
            }
        }
        cutEntryOff(state, entry_at);
        runAll(m_failed);
        throw;
    }
    // What the program keeps of each file catches up with the rows written.
    if (m_database) {
        for (const auto& [which, file] : files) {
            m_database->keeper(which).ownRowsWritten(stamps_before[which], *file, rows[which]);
        }
    }
}

void WriteBatch::cutEntryOff(RedoLogState& state, std::uint64_t entry_at) {
    try {
        PosixFile log(m_paths.redo_record, PosixFile::Mode::ReadWrite);
        log.truncate(entry_at);
        log.dataSync();
        state.length = entry_at;
        --state.next_sequence;
        state.stamp = stampOf(log);
    } catch (const FileError&) {
        logStates().erase(m_paths.redo_record);  // read the log again next time
    }
}

namespace {

bool finishLog(const DatabasePaths& paths) {
    bool wrote = false;
    // Left beside a table by an older version of the program.
    for (DataFile file : kAllDataFiles) {
        if (file != DataFile::Header && replayRowRedo(paths.file(file))) {
            wrote = true;
        }
    }
    LogState& state = logStates()[paths.redo_record];
    state = LogState{};
    if (pathExists(paths.redo_record)) {
        std::vector<unsigned char> log;
        {
            const PosixFile log_file(paths.redo_record, PosixFile::Mode::Read);
            log = readAll(log_file);
        }
        // Every whole entry is written again, in order: the same bytes at the same offsets, so
        // writing an entry whose changes are there already does no harm.
        std::map<DataFile, std::unique_ptr<PosixFile>> files;
        for (const Entry& entry : parseLog(log)) {
            for (const RecordedChange& change : entry.changes) {
                auto& file = files[change.file];
                if (!file) {
                    file = std::make_unique<PosixFile>(paths.file(change.file),
                                                       PosixFile::Mode::ReadWrite);
                }
                file->writeAt(change.bytes, change.size, change.offset);
                state.unflushed.insert(change.file);
                wrote = true;
            }
        }
    }
    checkpoint(paths, state);
    return wrote;
}

}  // namespace

bool recoverRedo(const DatabasePaths& paths) {
    const auto& states = logStates();
    const auto found = states.find(paths.redo_record);
    if (found != states.end() && found->second.stamp == logStamp(paths.redo_record)) {
        return false;  // the log holds only this process's commands, whose writes are done
    }
    return finishLog(paths);
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
    const PosixFile log(paths.redo_record, PosixFile::Mode::Read);
    return !parseLog(readAll(log)).empty();
}

void settleRedo(const DatabasePaths& paths) {
    LogState& state = currentState(paths);
    if (state.length > 0 || !state.unflushed.empty()) {
        checkpoint(paths, state);
    }
}

}  // namespace ordavo
