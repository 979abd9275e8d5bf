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

bool TableKeeper::recordRead(const FileStamp& before, const FileStamp& after,
                             std::int64_t started_ns, TableView* built) {
    const std::lock_guard lock(m_mutex);
    if (before != after) {
        dropAll();
        return false;
    }
    if (m_validity.trusts(after)) {
        // The file is as already known (written by this program, or read safely before): the
        // view agrees with the others, and a read just after a write must not make them racy.
        return true;
    }
    if (!m_validity.matches(after)) {
        dropAll(built);  // they were built from what the file held before
    }
    m_validity.recordRead(after, started_ns);
    return true;
}

void TableKeeper::ownRowsWritten(const FileStamp& before, const PosixFile& file,
                                 std::span<const std::uint64_t> rows) {
    const std::lock_guard lock(m_mutex);
    // A read that was racy is taken as right once this program writes over it: a write by
    // another program in the same clock tick would go unseen, as it would without the write.
    if (!m_validity.matches(before)) {
        dropAll();  // the views were not right before the write: they are read again
        return;
    }
    m_validity.recordOwnWrite(stampOf(file));
    for (TableView* view : m_views) {
        view->rowsWritten(file, rows);
    }
}

void TableKeeper::ownReplace(const PosixFile& file, TableView* rebuilt) {
    const std::lock_guard lock(m_mutex);
    dropAll(rebuilt);
    m_validity.recordOwnWrite(stampOf(file));
}

void TableKeepers::reset(const DatabasePaths& paths) {
    for (DataFile file : kAllDataFiles) {
        of(file).reset(paths.file(file));
    }
}

}  // namespace ordavo
