// Redo records of row writes: what a record left by a killed operation does to its table, and
// what the film table does with one.
#include "storage/row_redo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "storage/database.h"
#include "storage/file_error.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/text_field.h"
#include "storage/write_batch.h"
#include "testing/file_error_check.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

using Bytes = std::vector<unsigned char>;
using testing::appendFilms;
using testing::filmBytes;
using testing::filmIds;
using testing::makeFilm;

Bytes pattern(std::size_t size, unsigned char seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
    }
    return bytes;
}

class RowRedoTest : public ::testing::Test {
protected:
    std::filesystem::path table() const { return root / "KR_OB.kr"; }
    std::filesystem::path redo() const { return root / "KR_OB.kr.redo"; }

    testing::TempFolder root;
};

TEST_F(RowRedoTest, AWholeRecordIsWrittenIntoItsTableOnceAndRemoved) {
    // Three rows of 5000 bytes (so they span pages); the record rewrites the middle one and
    // appends a fourth, and the kill left the table with half of the rewrite only.
    const Bytes old_rows = pattern(3 * 5000, 1);
    const Bytes middle = pattern(5000, 100);
    const Bytes appended = pattern(5000, 200);
    testing::writeBytes(table(), old_rows);
    const RowWrite writes[] = {{5000, middle.data(), middle.size()},
                               {15000, appended.data(), appended.size()}};
    writeRowRedo(table(), writes);
    EXPECT_TRUE(hasRowRedo(table()));
    EXPECT_EQ(redoPathOf(table()), redo());
    PosixFile(table(), PosixFile::Mode::ReadWrite).writeAt(middle.data(), 3000, 5000);

    EXPECT_TRUE(replayRowRedo(table()));
    Bytes expected = old_rows;
    std::copy(middle.begin(), middle.end(), expected.begin() + 5000);
    expected.insert(expected.end(), appended.begin(), appended.end());
    EXPECT_EQ(testing::readBytes(table()), expected);
    EXPECT_FALSE(hasRowRedo(table()));

    EXPECT_FALSE(replayRowRedo(table()));  // nothing left to do, nothing touched
    EXPECT_EQ(testing::readBytes(table()), expected);
}

TEST_F(RowRedoTest, ATornOrForeignRecordIsDroppedAndTheTableLeftAsItIs) {
    const Bytes row = pattern(5000, 9);
    const RowWrite write{0, row.data(), row.size()};
    writeRowRedo(table(), {&write, 1});
    const Bytes whole = testing::readBytes(redo());

    struct Case {
        const char* what;
        std::function<void(Bytes&)> spoil;
    };
    const Case cases[] = {
        {"empty (killed right after creating it)", [](Bytes& r) { r.clear(); }},
        {"cut inside the head", [](Bytes& r) { r.resize(10); }},
        {"cut at a page boundary", [](Bytes& r) { r.resize(4096); }},
        {"one byte short", [](Bytes& r) { r.pop_back(); }},
        {"one byte too many", [](Bytes& r) { r.push_back(0); }},
        {"a byte of the row changed", [](Bytes& r) { r[100] ^= 0x01; }},
        {"the high bit of a word changed", [](Bytes& r) { r[24 + 16 + 7] ^= 0x80; }},
        {"another magic", [](Bytes& r) { r[0] = 'X'; }},
        {"another version", [](Bytes& r) { r[8] = 2; }},
    };
    const Bytes table_bytes = pattern(7000, 50);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes spoiled = whole;
        c.spoil(spoiled);
        testing::writeBytes(redo(), spoiled);
        testing::writeBytes(table(), table_bytes);
        EXPECT_FALSE(replayRowRedo(table()));
        EXPECT_EQ(testing::readBytes(table()), table_bytes);
        EXPECT_FALSE(std::filesystem::exists(redo()));
    }
}

// The database-wide record of a command: written and flushed before any file is touched,
// finished by the next opening when the command was cut short, never finishing a failed one.
class WriteBatchTest : public ::testing::Test {
protected:
    WriteBatchTest() {
        database.createMissing(true);
        testing::writeBytes(cast(), pattern(3 * 1412, 1));
    }
    std::filesystem::path cast() const { return database.paths().file(DataFile::Cast); }
    std::filesystem::path films() const { return database.paths().file(DataFile::Films); }
    // A batch that rewrites the second cast row and appends a film row.
    void fill(WriteBatch& batch) {
        batch.add(DataFile::Cast, 1412, castRow.data(), castRow.size());
        batch.add(DataFile::Films, 0, filmRow.data(), filmRow.size());
    }
    Bytes castAfter() const {
        Bytes bytes = pattern(3 * 1412, 1);
        std::copy(castRow.begin(), castRow.end(), bytes.begin() + 1412);
        return bytes;
    }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    Database database{buildPaths(), sink};
    const Bytes castRow = pattern(1412, 77);
    const Bytes filmRow = pattern(kFilmRowSize, 33);
};

TEST_F(WriteBatchTest, ACommitWritesEverythingAndLeavesNothingToFinish) {
    WriteBatch batch(database.paths());
    fill(batch);
    bool committed = false;
    batch.onCommitted([&] { committed = true; });
    batch.commit();
    EXPECT_TRUE(committed);
    EXPECT_EQ(testing::readBytes(cast()), castAfter());
    EXPECT_EQ(testing::readBytes(films()), filmRow);
    // The command stays in the log until a checkpoint; this process wrote it all, so finishing
    // it again is for another program only.
    EXPECT_TRUE(hasPendingRedo(database.paths()));
    EXPECT_FALSE(database.recoverInterruptedWrites());
    testing::openInAnotherProgram(database.paths());
    EXPECT_EQ(testing::readBytes(cast()), castAfter());
    database.checkpoint();
    EXPECT_FALSE(hasPendingRedo(database.paths()));
    EXPECT_EQ(std::filesystem::file_size(database.paths().redo_record), 0u);
}

TEST_F(WriteBatchTest, ACommandCutShortAfterItsRecordIsFinishedWholeAtTheNextOpening) {
    for (const WriteBatch::Step stop :
         {WriteBatch::Step::RecordWritten, WriteBatch::Step::FilesWritten}) {
        testing::writeBytes(cast(), pattern(3 * 1412, 1));
        testing::writeBytes(films(), {});
        WriteBatch batch(database.paths());
        fill(batch);
        struct Cut {};
        EXPECT_THROW(batch.commit([&](WriteBatch::Step step) {
            if (step == stop) {
                throw Cut{};
            }
        }),
                     Cut);
        // Half of the cast row written, as a power cut in the middle of the page may leave it.
        PosixFile(cast(), PosixFile::Mode::ReadWrite).writeAt(castRow.data(), 700, 1412);
        EXPECT_TRUE(hasPendingRedo(database.paths()));
        EXPECT_TRUE(database.recoverInterruptedWrites());
        EXPECT_EQ(testing::readBytes(cast()), castAfter());
        EXPECT_EQ(testing::readBytes(films()), filmRow);
        EXPECT_FALSE(hasPendingRedo(database.paths()));
    }
}

TEST_F(WriteBatchTest, AFailedCommandIsCutBackAndNeverFinishedLater) {
    WriteBatch batch(database.paths());
    fill(batch);
    bool failed = false;
    batch.onFailed([&] { failed = true; });
    {
        // The record fits; the appended film row does not.
        testing::FileSizeLimit limit(kFilmRowSize + 2000);
        testing::writeBytes(films(), pattern(kFilmRowSize, 5));
        WriteBatch append(database.paths());
        append.add(DataFile::Films, kFilmRowSize, filmRow.data(), filmRow.size());
        append.onFailed([&] { failed = true; });
        EXPECT_TRUE(testing::throwsFileError([&] { append.commit(); }, films(),
                                             FileOperation::Write, EFBIG));
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(testing::readBytes(films()), pattern(kFilmRowSize, 5));  // no half row
    {
        // A record that does not fit itself: the error names the table, not the record.
        testing::FileSizeLimit limit(1000);
        WriteBatch append(database.paths());
        append.add(DataFile::Films, kFilmRowSize, filmRow.data(), filmRow.size());
        try {
            append.commit();
            ADD_FAILURE() << "no error";
        } catch (const FileError& error) {
            EXPECT_EQ(error.path(), films());
            EXPECT_EQ(error.errorNumber(), EFBIG);
        }
    }
    EXPECT_FALSE(hasPendingRedo(database.paths()));
    EXPECT_FALSE(database.recoverInterruptedWrites());
    EXPECT_EQ(testing::readBytes(films()), pattern(kFilmRowSize, 5));

    // A table that cannot even be opened, after another was written: the same error, no crash.
    std::filesystem::remove(films());
    std::filesystem::create_directory(films());
    WriteBatch unopenable(database.paths());
    fill(unopenable);
    EXPECT_TRUE(testing::throwsFileError([&] { unopenable.commit(); }, films(), FileOperation::Open,
                                         EISDIR));
    EXPECT_FALSE(hasPendingRedo(database.paths()));
}

TEST_F(WriteBatchTest, ATornRecordIsDroppedAndTouchesNothing) {
    WriteBatch batch(database.paths());
    fill(batch);
    struct Cut {};
    EXPECT_THROW(batch.commit([](WriteBatch::Step) { throw Cut{}; }), Cut);
    const Bytes whole = testing::readBytes(database.paths().redo_record);
    for (const std::size_t keep :
         {std::size_t{0}, std::size_t{10}, std::size_t{4096}, whole.size() - 1}) {
        SCOPED_TRACE(keep);
        testing::writeBytes(
            database.paths().redo_record,
            Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep)));
        EXPECT_FALSE(hasPendingRedo(database.paths()));
        EXPECT_FALSE(database.recoverInterruptedWrites());
        EXPECT_EQ(testing::readBytes(cast()), pattern(3 * 1412, 1));
    }
}

// The film table with a record left by a process killed inside one of its row writes.
class FilmRedoTest : public ::testing::Test {
protected:
    FilmRedoTest() {
        database.createMissing(true);
        appendFilms(films(),
                    {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś"), makeFilm(4, u"Seksmisja")});
        // Id 5 is issued: an append issues its id before it writes the row.
        while (database.readHeader().last_id < 5) {
            database.issueFilmId();
        }
    }
    std::filesystem::path films() const { return database.paths().file(DataFile::Films); }
    Bytes storedRow(std::int32_t id) const {
        const Bytes bytes = testing::readBytes(films());
        const std::vector<std::int32_t> ids = filmIds(films());
        for (std::size_t row = 0; row < ids.size(); ++row) {
            if (ids[row] == id) {
                const auto start = bytes.begin() + static_cast<std::ptrdiff_t>(row * kFilmRowSize);
                return Bytes(start,
                             start + std::min<std::ptrdiff_t>(bytes.end() - start, kFilmRowSize));
            }
        }
        return {};
    }

    // A film as a save writes it, every field typed over, so that a row cut anywhere differs
    // from the whole one.
    static Bytes savedFilm(std::int32_t id) {
        FilmRecord film = makeFilm(id, u"");
        for (const FilmFieldInfo& field : kFilmFields) {
            setFieldText(film, field, u"zapisane");
        }
        return filmBytes(film);
    }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    testing::RecordingHandover pages;
    Database database{buildPaths(), sink};
    FilmTable table{database, pages};
    FilterState filter;
};

TEST_F(FilmRedoTest, AWriteCutShortIsFinishedByTheNextWriteOrByOpening) {
    // A row written past its first page boundary only: 31,888 bytes span eight pages.
    constexpr std::size_t kWritten = 5000;
    struct Killed {
        const char* what;
        std::int32_t id;
        std::uint64_t offset;
    };
    const Killed killed_writes[] = {
        {"a save of film 3", 3, kFilmRowSize},
        {"an append of film 5", 5, 3 * kFilmRowSize},
    };
    struct Next {
        const char* what;
        std::function<void()> run;
    };
    const Next next_steps[] = {
        {"a save of film 2",
         [&] {
             ASSERT_TRUE(table.readRow(true));
             ASSERT_TRUE(table.updateRow());
         }},
        {"an append",
         [&] {
             ASSERT_TRUE(table.appendRow(false));
             EXPECT_EQ(table.current().id, 6);
         }},
        {"a delete of film 2",
         [&] {
             ASSERT_TRUE(table.readRow(true));
             ASSERT_TRUE(table.deleteRow(filter));
         }},
        {"opening the database", [&] { EXPECT_TRUE(database.recoverInterruptedWrites()); }},
    };
    const std::filesystem::path header = database.paths().file(DataFile::Header);
    const Bytes start = testing::readBytes(films());
    const Bytes start_header = testing::readBytes(header);
    for (const Killed& killed : killed_writes) {
        for (const Next& next : next_steps) {
            SCOPED_TRACE(std::string(killed.what) + ", then " + next.what);
            testing::writeBytes(films(), start);
            testing::writeBytes(header, start_header);
            table.refreshCounter(filter);  // the film table knows the ids from before the kill

            const Bytes row = savedFilm(killed.id);
            testing::leaveKilledRowWrite(films(), killed.offset, row, kWritten);
            next.run();

            EXPECT_EQ(storedRow(killed.id), row);
            database.checkpoint();
            EXPECT_FALSE(hasPendingRedo(database.paths()));
            EXPECT_EQ(testing::readBytes(films()).size() % kFilmRowSize, 0u);
            // The ids the film table keeps agree with the table after the replay.
            table.refreshCounter(filter);
            EXPECT_EQ(static_cast<std::size_t>(table.counter().count), filmIds(films()).size());
        }
    }
}

}  // namespace
}  // namespace ordavo
