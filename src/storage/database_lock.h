#pragma once

#include <sys/types.h>

#include <filesystem>

namespace ordavo {

struct DatabasePaths;

// Holds an exclusive advisory lock on a database for the length of one write operation, so that
// two programs never interleave their writes: never issue the same film id, never write a row
// while the other compacts the table. The lock is taken on the header file ("KR.kr"); nothing
// stays locked between operations. Nested locks within this process (a film save that saves its
// detail rows) share the outer one, also when they reach the header by another path. Without a
// header (a damaged or absent database, which no write reaches) no lock is taken.
class DatabaseLock {
public:
    explicit DatabaseLock(const DatabasePaths& paths);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    bool m_counted = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

// Marks a database as open in one running copy of the program for as long as the object lives,
// so that a second copy can tell and leave it alone: it only reads, and writes nothing back over
// what the first copy stores. The mark is an advisory lock on a byte range of "KR.kr" far past
// its end (independent of DatabaseLock's), which the system drops when the program ends, however
// it ends. Within one process several holds of one database are fine.
class DatabaseHold {
public:
    // Takes the hold when no other running copy has it; held() tells whether it did. A database
    // without a header, or one whose header cannot be opened for writing, is not held.
    explicit DatabaseHold(const DatabasePaths& paths);
    ~DatabaseHold();
    DatabaseHold(const DatabaseHold&) = delete;
    DatabaseHold& operator=(const DatabaseHold&) = delete;

    bool held() const { return m_held; }
    // Whether the file now named "KR.kr" is the one held: false once it was replaced (renamed
    // over, deleted and made again) by another program, whose copy may hold the new one.
    bool intact() const;

    // Whether another running program holds the database at `paths` (this process's own holds do
    // not count). False without a header.
    static bool heldElsewhere(const DatabasePaths& paths);

private:
    bool m_held = false;
    std::filesystem::path m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

}  // namespace ordavo
