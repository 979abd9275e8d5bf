#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "storage/database_header.h"
#include "storage/database_paths.h"
#include "storage/table_keeper.h"

namespace ordavo {

class DatabaseHold;
class MessageSink;
class WriteBatch;

// The result of the file-set check.
enum class DatabaseState {
    Intact = 0,  // all nine data files exist
    // None of them exists, or a creation was cut short: no header and only empty tables, so no
    // data (createMissing completes such a set without touching what is there).
    Absent = 1,
    Damaged = 2,  // any other set with files missing; the user has been told
};

inline constexpr std::string_view kDamagedDatabaseMessage =
    "Baza danych jest uszkodzona !!!! Kinokrat nie może jej otworzyć. Spróbuj ozdyskać uszkodzone "
    "dane lub samodzielnie skasuj(na własne ryzyko !!!!) pliki bazy danych - program odtworzy "
    "pustą strukture bazy danych.";

inline constexpr std::string_view kFilmIdsExhaustedMessage =
    "Nie można dodać nowego filmu: licznik identyfikatorów w pliku KR.kr jest wyczerpany lub "
    "uszkodzony.";

// Why the database cannot be written, if it cannot.
enum class WriteRefusal {
    None,
    NotIntact,      // files missing or not regular files, or no database at all
    ShortHeader,    // "KR.kr" shorter than 36 bytes: no counter to issue ids from
    OtherVersion,   // a version text other than "1.0.2.0"
    HeldElsewhere,  // another running copy of the program has the database open
    Replaced,       // "KR.kr" was replaced by another program since this one took the database
    NotWritable,    // the folder or a file may not be written (permissions, read-only mount)
};

// The working database: its paths and the operations on its file set and header.
// Every file is opened, used and closed within one call; failures throw FileError.
class Database {
public:
    Database(DatabasePaths paths, MessageSink& messages);

    const DatabasePaths& paths() const { return m_paths; }
    // Switches to another folder (the caller has built and checked the paths).
    void setPaths(DatabasePaths paths) {
        m_paths = std::move(paths);
        ++m_generation;
        m_keepers.reset(m_paths);
    }
    // The keeper of what the program knows about one of the database's files (see
    // table_keeper.h).
    TableKeeper& keeper(DataFile file) { return m_keepers.of(file); }
    // Finishes the writes of a command that was cut short (another copy killed, a power cut),
    // under the database lock the caller holds. Everything known about the tables is then
    // forgotten: rows rewritten in the clock tick of the last stamp would leave it unchanged.
    // True when it wrote anything.
    bool finishInterruptedCommand();
    // Changes with every setPaths, so that what was read from one database (a film's detail
    // rows) is never written into the next.
    std::uint64_t generation() const { return m_generation; }
    MessageSink& messages() const { return m_messages; }

    // Intact, Absent or Damaged by the existence of the nine data files (and, when the header
    // is missing, whether the tables that exist hold anything); shows the damage message each
    // time it finds a Damaged set.
    DatabaseState checkFileSet() const;
    // The same without a message; with `damage_message`, fills it for a Damaged set with the
    // message checkFileSet shows, which names the folder and the missing or odd files.
    DatabaseState fileSetState(std::string* damage_message = nullptr) const;

    // Whether the header's version text is "1.0.2.0" and the header is whole (36 bytes), so that
    // the database may be written. False for a missing or short header.
    bool versionMatches() const;

    // Flushes whatever the program wrote into the files and empties the redo record (see
    // write_batch.h), as when the program lets go of the database. Takes the database lock.
    void checkpoint();
    // Whether another running copy of the program holds the database (see DatabaseHold).
    bool heldElsewhere() const;
    // The hold of the program that runs for as long as the database is open (the window), or
    // nullptr (a one-shot tool). With a hold, nothing is written once it no longer covers the
    // file named "KR.kr".
    void useHold(const DatabaseHold* hold) { m_hold = hold; }
    // Whether writes may go ahead: no other copy holds the database, and the hold in use (if
    // any) still covers it. Quiet.
    bool mayWrite() const;
    // Whether, and why not, this program may write the database now. Quiet: shows nothing.
    WriteRefusal writeRefusal() const;
    // The Polish message that tells the user why nothing can be stored, naming the file or folder.
    std::string writeRefusalMessage(WriteRefusal refusal) const;

    // Creates what an empty database lacks: the folder (only at start-up, one level), the covers
    // folder, empty tables, and last a new header. Existing files are never touched.
    void createMissing(bool at_startup);

    // Finishes the writes of a command that a kill or power cut interrupted (see
    // write_batch.h): a whole redo record is written into its files; a torn one is dropped. Call
    // when a database is opened, once its file set is Intact, before anything is read from it.
    // Takes the database lock; does nothing unless the version matches and no other running copy
    // holds the database. Returns whether files were written.
    bool recoverInterruptedWrites();

    // At start-up, when the database is Absent: if all nine files lie under their bare names in
    // the working folder, moves them into the database folder, with a covers folder. The copies
    // are made and flushed in "<folder>.import" beside it, which is then renamed into place; the
    // originals are deleted only after that. A crash leaves no database or the whole one; a
    // failure removes the copies and throws, leaving the originals as they were. A leftover of an
    // interrupted import is removed first. Returns whether the import took place.
    bool importFromWorkingFolder();

    // Takes the next film id from the header and stores it back: last_id + 1, or, when the table
    // holds larger ids than the counter knows of (a header restored from an older copy),
    // `largest_taken` + 1. Refuses (nullopt, with a message) when the counter cannot grow to a
    // positive id: ids never wrap or repeat.
    std::optional<std::int32_t> issueFilmId(std::int32_t largest_taken = 0);
    // The same as part of a command: the new counter goes into `batch`, written and made
    // durable with the rest of the command (before any row carrying the id can be).
    std::optional<std::int32_t> reserveFilmId(std::int32_t largest_taken, WriteBatch& batch);

    // The header as stored; a short header reads with zeros in the missing bytes.
    DatabaseHeader readHeader() const;

private:
    DatabasePaths m_paths;
    std::uint64_t m_generation = 0;
    TableKeepers m_keepers;
    const DatabaseHold* m_hold = nullptr;
    MessageSink& m_messages;
};

}  // namespace ordavo
