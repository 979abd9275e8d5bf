#include "storage/own_writes.h"

#include <deque>
#include <map>
#include <mutex>

namespace ordavo {

namespace {

struct Write {
    FileStamp before;
    FileStamp after;
    std::uint64_t row;
};

struct TableRecord {
    std::uint64_t first = 0;  // the position of writes.front()
    std::deque<Write> writes;
};

// A search may read ahead on a worker thread while the window's thread writes.
std::mutex g_mutex;

std::map<std::filesystem::path, TableRecord>& records() {
    static std::map<std::filesystem::path, TableRecord> all;
    return all;
}

}  // namespace

std::uint64_t OwnRowWrites::position(const std::filesystem::path& table) {
    const std::lock_guard lock(g_mutex);
    const TableRecord& record = records()[table];
    return record.first + record.writes.size();
}

void OwnRowWrites::record(const std::filesystem::path& table, const FileStamp& before,
                          const FileStamp& after, std::uint64_t row) {
    const std::lock_guard lock(g_mutex);
    TableRecord& record = records()[table];
    record.writes.push_back({before, after, row});
    if (record.writes.size() > kKept) {
        record.writes.pop_front();
        ++record.first;
    }
}

std::optional<std::vector<std::uint64_t>> OwnRowWrites::rowsSince(
    const std::filesystem::path& table, std::uint64_t position, const FileStamp& from,
    const FileStamp& to) {
    const std::lock_guard lock(g_mutex);
    const TableRecord& record = records()[table];
    if (position < record.first || position > record.first + record.writes.size()) {
        return std::nullopt;
    }
    std::vector<std::uint64_t> rows;
    FileStamp stamp = from;
    for (auto it = record.writes.begin() + static_cast<std::ptrdiff_t>(position - record.first);
         it != record.writes.end(); ++it) {
        if (it->before != stamp) {
            return std::nullopt;  // changed in between by someone else
        }
        rows.push_back(it->row);
        stamp = it->after;
    }
    if (stamp != to) {
        return std::nullopt;
    }
    return rows;
}

}  // namespace ordavo
