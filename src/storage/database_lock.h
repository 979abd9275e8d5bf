#pragma once

#include <filesystem>

namespace ordavo {

struct DatabasePaths;

// Holds an exclusive advisory lock on a database for the length of one write operation, so that
// two running copies of the program never interleave their writes: never issue the same film id,
// never write a row while the other compacts the table. The lock is taken on the header file
// ("KR.kr"); nothing stays open or locked between operations. Nested locks within this process
// (a film save that saves its detail rows) share the outer one. Without a header (a damaged or
// absent database, which no write reaches) no lock is taken.
class DatabaseLock {
public:
    explicit DatabaseLock(const DatabasePaths& paths);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    std::filesystem::path m_path;
    int m_fd = -1;
};

}  // namespace ordavo
