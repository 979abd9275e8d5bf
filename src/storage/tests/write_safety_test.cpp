// What writes do when the system refuses them, and when two processes share a database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>

#include "export/csv_export.h"
#include "storage/cover_files.h"
#include "storage/database.h"
#include "storage/database_lock.h"
#include "storage/file_error.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/row_redo.h"
#include "storage/write_batch.h"
#include "tabs/detail_tables.h"
#include "testing/file_error_check.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

using testing::appendFilms;
using testing::filmIds;
using testing::makeFilm;

using testing::FileSizeLimit;

class WriteSafetyTest : public ::testing::Test {
protected:
    WriteSafetyTest() { database.createMissing(true); }
    std::filesystem::path films() const { return database.paths().file(DataFile::Films); }
    std::filesystem::path folder() const { return database.paths().database_folder; }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    Database database{buildPaths(), sink};
    DetailTables details{database};
    FilmTable table{database, details};
    FilterState filter;
};

TEST_F(WriteSafetyTest, AFullDiskLeavesEveryTableAsItWas) {
    appendFilms(films(), {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś"), makeFilm(4, u"Seksmisja")});
    const auto before = testing::readBytes(films());
    const rlim_t size = before.size();

    {  // a new film that does not fit: no half row stays behind
        FileSizeLimit limit(size + 100);
        EXPECT_TRUE(testing::throwsFileError([&] { table.appendRow(false); }, films(),
                                             FileOperation::Write, EFBIG));
    }
    EXPECT_EQ(testing::readBytes(films()), before);

    {  // a delete whose compacted copy does not fit: the old table stays, the copy goes
        FileSizeLimit limit(kFilmRowSize + 10);
        table.current_offset = 0;
        ASSERT_TRUE(table.readRow(false));
        EXPECT_TRUE(testing::throwsFileError([&] { table.deleteRow(filter); }, films(),
                                             FileOperation::Copy, EFBIG));
    }
    EXPECT_EQ(testing::readBytes(films()), before);
    EXPECT_FALSE(std::filesystem::exists(folder() / "KR_PDB.kr0"));
    // The film is still held: a save writes it in place rather than appending a copy.
    EXPECT_EQ(table.current().id, 2);
    ASSERT_TRUE(table.updateRow());
    EXPECT_EQ(testing::readBytes(films()), before);
    table.current_offset = kFilmRowSize;
    ASSERT_TRUE(table.readRow(false));
    ASSERT_TRUE(table.deleteRow(filter));
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{2, 4}));

    // A detail row that cannot be appended stays pending and leaves no partial row.
    DetailTable& cast = details.table(DetailList::Cast);
    cast.loadRows(4);
    cast.newRow(4);
    {
        FileSizeLimit limit(100);
        EXPECT_TRUE(testing::throwsFileError([&] { cast.saveRows(); },
                                             database.paths().file(DataFile::Cast),
                                             FileOperation::Write, EFBIG));
    }
    EXPECT_EQ(std::filesystem::file_size(database.paths().file(DataFile::Cast)), 0u);
    EXPECT_TRUE(cast.new_row_pending);
    cast.saveRows();
    EXPECT_EQ(std::filesystem::file_size(database.paths().file(DataFile::Cast)), sizeof(Obsada));
}

TEST_F(WriteSafetyTest, AFailedWriteLeavesNoRecordThatWouldRedoIt) {
    appendFilms(films(), {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś")});
    Obsada rows[2] = {};
    rows[0].ID = 1;
    rows[0].IDPDB = 2;
    rows[1].ID = 2;
    rows[1].IDPDB = 2;
    const std::filesystem::path cast_file = database.paths().file(DataFile::Cast);
    const auto* raw = reinterpret_cast<const unsigned char*>(rows);
    testing::writeBytes(cast_file, std::vector<unsigned char>(raw, raw + sizeof rows));
    DetailTable& cast = details.table(DetailList::Cast);
    cast.loadRows(2);
    cast.newRow(2);

    // A record is a little longer than the rows it holds: each limit lets the record be
    // written and stops the row, or stops the record itself.
    const rlim_t films_size = std::filesystem::file_size(films());
    struct Case {
        const char* what;
        rlim_t limit;
        std::function<void()> write;
        std::filesystem::path file;
        std::filesystem::path named;  // in the message: the file whose write failed
    };
    const Case cases[] = {
        {"a new film whose row does not fit", films_size + 100, [&] { table.appendRow(false); },
         films(), films()},
        // The command's first table: the header, whose counter the new film takes.
        {"a new film whose record does not fit", 1000, [&] { table.appendRow(false); }, films(),
         database.paths().file(DataFile::Header)},
        {"a new detail row that does not fit", sizeof rows + 100, [&] { cast.saveRows(); },
         cast_file, cast_file},
        {"a new detail row whose record does not fit", 1000, [&] { cast.saveRows(); }, cast_file,
         cast_file},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = testing::readBytes(c.file);
        {
            FileSizeLimit limit(c.limit);
            EXPECT_TRUE(testing::throwsFileError(c.write, c.named, FileOperation::Write, EFBIG));
        }
        // Nothing is done after all, also by a program that opens the database next.
        testing::openInAnotherProgram(database.paths());
        EXPECT_EQ(testing::readBytes(c.file), before);
    }
    EXPECT_TRUE(cast.new_row_pending);
}

TEST_F(WriteSafetyTest, ACoverOrExportThatDoesNotFitLeavesNoFile) {
    const std::filesystem::path image = root / "front.jpg";
    testing::writeBytes(image, std::vector<unsigned char>(5000, 0xAB));
    appendFilms(films(), {makeFilm(2, u"Rejs")});
    {
        FileSizeLimit limit(1000);
        EXPECT_TRUE(testing::throwsFileError(
            [&] { importCover(database.paths().covers_folder, image); },
            database.paths().covers_folder / "front.jpg", FileOperation::Copy, EFBIG));
        EXPECT_THROW(ExportCsv(database.paths(), root / "out.csv", ExportScope::WholeDatabase, 0,
                               ExportSections{}, "UTF-8"),
                     ExportError);
    }
    EXPECT_TRUE(std::filesystem::is_empty(database.paths().covers_folder));
    EXPECT_FALSE(std::filesystem::exists(root / "out.csv"));
    EXPECT_FALSE(std::filesystem::exists(root / "out.csv0"));
}

TEST_F(WriteSafetyTest, TwoProcessesAppendingNeverIssueTheSameId) {
    constexpr int kFilmsEach = 150;
    std::vector<pid_t> children;
    for (int child = 0; child < 2; ++child) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            testing::RecordingSink own_sink;
            Database own(buildPaths(), own_sink);
            DetailTables own_details(own);
            FilmTable own_table(own, own_details);
            FilterState none;
            int status = 0;
            for (int i = 0; i < kFilmsEach; ++i) {
                const bool empty = own_table.refreshCounter(none);
                if (!own_table.appendRow(empty))
                    status = 1;
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<std::int32_t> ids = filmIds(films());
    EXPECT_EQ(ids.size(), 2u * kFilmsEach);
    EXPECT_EQ(std::set<std::int32_t>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_EQ(database.readHeader().last_id, 1 + 2 * kFilmsEach);
}

TEST_F(WriteSafetyTest, TheLockIsHeldForTheOperationOnlyAndNests) {
    const auto locked_elsewhere = [&] {
        // Another descriptor's view, as another program has it.
        const int fd = ::open(database.paths().file(DataFile::Header).c_str(), O_RDWR);
        struct flock range {};
        range.l_type = F_WRLCK;
        range.l_whence = SEEK_SET;
        range.l_start = 0;
        range.l_len = 1;
        const bool busy = ::fcntl(fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
        ::close(fd);
        return busy;
    };
    {
        const DatabaseLock outer(database.paths());
        {
            const DatabaseLock inner(database.paths());
            EXPECT_TRUE(locked_elsewhere());
        }
        EXPECT_TRUE(locked_elsewhere());
    }
    EXPECT_FALSE(locked_elsewhere());
}

TEST_F(WriteSafetyTest, AReadOnlyDatabaseReadsAndRefusesEveryWriteWithAFileError) {
    appendFilms(films(), {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś")});
    const auto before = testing::readBytes(films());
    const std::string folder_text = folder().parent_path().string();
    const std::string quoted = "'" + folder_text + "'";
    // A read-only mount of the folder over itself: root ignores file permissions, not this.
    if (std::system(("mount --bind " + quoted + " " + quoted + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "no permission to mount here";
    }
    struct Unmount {
        std::string folder;
        ~Unmount() { (void)std::system(("umount " + folder).c_str()); }
    } unmount{quoted};
    ASSERT_EQ(std::system(("mount -o remount,bind,ro " + quoted).c_str()), 0);

    ASSERT_TRUE(table.readRow(true));
    EXPECT_EQ(table.refreshCounter(filter), false);
    const auto expect_read_only = [](const std::function<void()>& write) {
        try {
            write();
            ADD_FAILURE() << "the write did not fail";
        } catch (const FileError& error) {
            EXPECT_EQ(error.errorNumber(), EROFS);
        }
    };
    expect_read_only([&] { table.updateRow(); });
    expect_read_only([&] { table.appendRow(false); });
    expect_read_only([&] { table.deleteRow(filter); });
    DetailTable& cast = details.table(DetailList::Cast);
    expect_read_only([&] { cast.newRow(2); });  // "Nowy" saves the list first
    ExportCsv(database.paths(), root / "out.csv", ExportScope::WholeDatabase, 0, ExportSections{},
              "UTF-8");  // reading is all an export needs
    EXPECT_EQ(testing::readBytes(films()), before);
}

TEST_F(WriteSafetyTest, LongPathsWithBlanksAndPolishLettersWork) {
    std::filesystem::path deep = root.path();
    while (deep.string().size() < 1100) {
        deep /= "Zażółć gęślą jaźń – filmy";
    }
    std::filesystem::create_directories(deep);
    testing::RecordingSink messages;
    Database far(buildPaths(deep), messages);
    EXPECT_EQ(far.checkFileSet(), DatabaseState::Absent);
    far.createMissing(false);
    DetailTables far_details(far);
    FilmTable far_table(far, far_details);
    ASSERT_TRUE(far_table.appendRow(true));
    ASSERT_TRUE(far_table.appendRow(false));
    ASSERT_TRUE(far_table.deleteRow(filter));
    EXPECT_EQ(filmIds(far.paths().file(DataFile::Films)), (std::vector<std::int32_t>{2}));
    EXPECT_TRUE(messages.messages.empty());
}

}  // namespace
}  // namespace ordavo
