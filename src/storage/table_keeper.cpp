#include "storage/table_keeper.h"

#include <algorithm>

#include "storage/posix_file.h"

namespace ordavo {

void TableKeeper::reset(std::filesystem::path path) {
    const std::lock_guard lock(m_mutex);
    m_path = std::move(path);
    dropAll();
}

void TableKeeper::attach(TableView& view) {
    const std::lock_guard lock(m_mutex);
    m_views.push_back(&view);
}

void TableKeeper::detach(TableView& view) {
    const std::lock_guard lock(m_mutex);
    std::erase(m_views, &view);
}

void TableKeeper::forget() {
    const std::lock_guard lock(m_mutex);
    ++m_ownWrites;
    dropAll();
}

void TableKeeper::dropAll(TableView* except) {
    m_validity.forget();
    for (TableView* view : m_views) {
        if (view != except) {
            view->drop();
        }
    }
}

bool TableKeeper::validate(const PosixFile& file) {
    const std::lock_guard lock(m_mutex);
    if (m_validity.trusts(stampOf(file))) {
        return true;
    }
    dropAll();
    return false;
}

std::filesystem::path TableKeeper::path() const {
    const std::lock_guard lock(m_mutex);
    return m_path;
}

TableKeeper::ReadStart TableKeeper::startRead(const PosixFile& file) {
    const std::lock_guard lock(m_mutex);
    return {stampOf(file), nowNs(), m_ownWrites};
}

bool TableKeeper::recordRead(const ReadStart& start, const FileStamp& after, TableView* built) {
    const std::lock_guard lock(m_mutex);
    if (start.own_writes != m_ownWrites) {
        return false;  // the views were told of the write; only this read missed it
    }
    if (start.before != after) {
        dropAll();
        return false;
    }
    if (m_validity.trusts(after)) {
        // The file is as already known (written by this program, or read safely before), and
        // nothing was written meanwhile: the view agrees with the others, and a read just after
        // a write must not make them all read their table again.
        return true;
    }
    if (!m_validity.matches(after)) {
        dropAll(built);  // they were built from what the file held before
    }
    m_validity.recordRead(after, start.started_ns);
    return true;
}

void TableKeeper::ownRowsWritten(const FileStamp& before, const PosixFile& file,
                                 std::span<const std::uint64_t> rows) {
    const std::lock_guard lock(m_mutex);
    ++m_ownWrites;
    // A read that was racy is taken as right once this program writes over it: a write by
    // another program in the same clock tick would go unseen, as it would without the write.
    if (!m_validity.matches(before)) {
        dropAll();  // the views were not right before the write: they are read again
        return;
    }
    FileStamp after;
    try {
        after = stampOf(file);
    } catch (...) {
        dropAll();  // nothing can vouch for the views; the write itself stands
        return;
    }
    for (TableView* view : m_views) {
        try {
            view->rowsWritten(file, rows);
        } catch (...) {
            // The rows are written and the command succeeded: a view that cannot catch up (a
            // read failing, memory short) is dropped and reads the table when next used, where
            // a lasting failure is reported.
            view->drop();
        }
    }
    m_validity.recordOwnWrite(after);
}

void TableKeeper::ownReplace(const PosixFile& file, TableView* rebuilt) {
    const std::lock_guard lock(m_mutex);
    ++m_ownWrites;
    dropAll(rebuilt);
    m_validity.recordOwnWrite(stampOf(file));
}

void TableKeepers::reset(const DatabasePaths& paths) {
    for (DataFile file : kAllDataFiles) {
        of(file).reset(paths.file(file));
    }
}

}  // namespace ordavo
