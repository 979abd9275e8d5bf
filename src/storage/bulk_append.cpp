#include "storage/bulk_append.h"

#include <cerrno>
#include <cstring>

#include "storage/file_error.h"
#include "storage/row_redo.h"

namespace ordavo {

namespace {

// The journal: a mark, the length of every data file, the header's length and bytes, and a
// checksum of all that.
constexpr char kJournalMark[16] = "ORDAVO-APPEND-1";
constexpr std::size_t kJournalBody = sizeof kJournalMark + 8 * kDataFileCount + 8 + kHeaderSize;
constexpr std::size_t kJournalSize = kJournalBody + 8;
// Rows gather per table up to this much before they are written.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

std::filesystem::path journalPath(const DatabasePaths& paths) {
    return paths.database_folder / std::string(kBulkAppendJournalName);
}

template <typename T>
void put(unsigned char*& at, const T& value) {
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
}
template <typename T>
T get(const unsigned char*& at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

struct Journal {
    std::array<std::uint64_t, kDataFileCount> lengths{};
    std::uint64_t header_length = 0;
    DatabaseHeader header{};
};

std::array<unsigned char, kJournalSize> encode(const Journal& journal) {
    std::array<unsigned char, kJournalSize> bytes{};
    unsigned char* at = bytes.data();
    std::memcpy(at, kJournalMark, sizeof kJournalMark);
    at += sizeof kJournalMark;
    for (std::uint64_t length : journal.lengths) {
        put(at, length);
    }
    put(at, journal.header_length);
    std::memcpy(at, &journal.header, kHeaderSize);
    at += kHeaderSize;
    put(at, redoChecksum(bytes.data(), kJournalBody));
    return bytes;
}

// The journal at `path`, or nullopt when it is torn (short, marked otherwise or its checksum
// wrong).
std::optional<Journal> readJournal(const std::filesystem::path& path) {
    std::array<unsigned char, kJournalSize + 1> bytes{};
    const PosixFile file(path, PosixFile::Mode::Read);
    if (file.readAt(bytes.data(), bytes.size(), 0) != kJournalSize ||
        std::memcmp(bytes.data(), kJournalMark, sizeof kJournalMark) != 0) {
        return std::nullopt;
    }
    const unsigned char* at = bytes.data() + sizeof kJournalMark;
    Journal journal;
    for (std::uint64_t& length : journal.lengths) {
        length = get<std::uint64_t>(at);
    }
    journal.header_length = get<std::uint64_t>(at);
    std::memcpy(&journal.header, at, kHeaderSize);
    at += kHeaderSize;
    if (get<std::uint64_t>(at) != redoChecksum(bytes.data(), kJournalBody) ||
        journal.header_length > kHeaderSize) {
        return std::nullopt;
    }
    return journal;
}

// Cuts every table back to its recorded length and writes the header back, durably.
void restore(const DatabasePaths& paths, const Journal& journal) {
    for (DataFile file : kAllDataFiles) {
        const std::size_t index = static_cast<std::size_t>(file);
        PosixFile table(paths.file(file), PosixFile::Mode::ReadWrite);
        if (file == DataFile::Header) {
            // The header's first bytes as they were; a longer file keeps what follows them.
            unsigned char now[kHeaderSize] = {};
            const std::size_t length = table.readAt(now, sizeof now, 0);
            const bool same = length == journal.header_length &&
                              std::memcmp(now, &journal.header, length) == 0 &&
                              table.size() == journal.lengths[index];
            if (!same) {
                table.writeAt(&journal.header, journal.header_length, 0);
                if (table.size() > journal.lengths[index]) {
                    table.truncate(journal.lengths[index]);
                }
                table.dataSync();
            }
        } else if (table.size() > journal.lengths[index]) {
            // Only ever shorter: bytes past the old end are the change's; a table that is shorter
            // than recorded was never appended to by it.
            table.truncate(journal.lengths[index]);
            table.dataSync();
        }
    }
}

void removeJournal(const DatabasePaths& paths) {
    removeFile(journalPath(paths));
    syncFolder(paths.database_folder);
}

}  // namespace

BulkAppend::BulkAppend(const DatabasePaths& paths, std::function<void(Step)> step_hook)
    : m_paths(paths), m_stepHook(std::move(step_hook)) {
    Journal journal;
    for (DataFile file : kAllDataFiles) {
        const std::size_t index = static_cast<std::size_t>(file);
        Table& table = m_tables[index];
        table.file.emplace(paths.file(file), PosixFile::Mode::ReadWrite);
        journal.lengths[index] = m_lengths[index] = table.file->size();
    }
    PosixFile& header = *m_tables[static_cast<std::size_t>(DataFile::Header)].file;
    journal.header_length = header.readAt(&journal.header, kHeaderSize, 0);
    m_header = journal.header;
    m_headerLength = journal.header_length;

    const std::filesystem::path path = journalPath(paths);
    const std::array<unsigned char, kJournalSize> bytes = encode(journal);
    try {
        PosixFile file(path, PosixFile::Mode::CreateTruncate);
        file.writeAt(bytes.data(), bytes.size(), 0);
        file.sync();
        syncFolder(paths.database_folder);
    } catch (const FileError&) {
        m_open = false;
        try {
            removeFile(path);  // nothing was appended: a journal, whole or not, is only in the way
        } catch (const FileError&) {
            // It stays; the next opening finds it torn or whole, and either way nothing to undo.
        }
        throw;
    }
    step(Step::JournalWritten);
}

BulkAppend::~BulkAppend() {
    if (!m_open) {
        return;
    }
    try {
        rollBack();
    } catch (const FileError&) {
        // The journal stands: the next command or opening cuts the tables back.
    }
}

std::uint64_t BulkAppend::lengthBefore(DataFile file) const {
    return m_lengths[static_cast<std::size_t>(file)];
}

void BulkAppend::append(DataFile file, const void* row, std::size_t size) {
    Table& table = m_tables[static_cast<std::size_t>(file)];
    if (table.buffer.capacity() == 0) {
        table.next = rowCount(lengthBefore(file), size) * size;
        table.buffer.reserve(kBufferBytes + size);
    }
    const auto* bytes = static_cast<const unsigned char*>(row);
    table.buffer.insert(table.buffer.end(), bytes, bytes + size);
    if (table.buffer.size() >= kBufferBytes) {
        flush(file, table);
    }
}

void BulkAppend::flush(DataFile, Table& table) {
    if (table.buffer.empty()) {
        return;
    }
    table.file->writeAt(table.buffer.data(), table.buffer.size(), table.next);
    table.next += table.buffer.size();
    table.buffer.clear();
}

void BulkAppend::step(Step reached) const {
    if (m_stepHook) {
        m_stepHook(reached);
    }
}

void BulkAppend::commit() {
    try {
        for (DataFile file : kAllDataFiles) {
            flush(file, m_tables[static_cast<std::size_t>(file)]);
        }
        step(Step::RowsWritten);
        for (DataFile file : kAllDataFiles) {
            Table& table = m_tables[static_cast<std::size_t>(file)];
            if (table.buffer.capacity() != 0) {
                table.file->dataSync();
            }
        }
        step(Step::TablesFlushed);
        if (m_lastId) {
            PosixFile& header = *m_tables[static_cast<std::size_t>(DataFile::Header)].file;
            header.writeAt(&*m_lastId, sizeof *m_lastId, offsetof(DatabaseHeader, last_id));
            header.dataSync();
        }
        step(Step::HeaderWritten);
        removeJournal(m_paths);
        m_open = false;
    } catch (const FileError&) {
        if (m_open) {
            try {
                rollBack();
            } catch (const FileError&) {
                // The first failure is the one to tell; the journal finishes the rollback later.
            }
        }
        throw;
    }
    for (Table& table : m_tables) {
        table.file.reset();
    }
    step(Step::Committed);
}

void BulkAppend::rollBack() {
    if (!m_open) {
        return;
    }
    for (Table& table : m_tables) {
        table.buffer.clear();
    }
    Journal journal;
    journal.lengths = m_lengths;
    journal.header = m_header;
    journal.header_length = m_headerLength;
    restore(m_paths, journal);
    removeJournal(m_paths);
    m_open = false;
}

bool rollBackBulkAppend(const DatabasePaths& paths) {
    const std::filesystem::path path = journalPath(paths);
    if (!pathExists(path)) {
        return false;
    }
    if (const std::optional<Journal> journal = readJournal(path)) {
        restore(paths, *journal);
    }
    removeJournal(paths);
    return true;
}

}  // namespace ordavo
