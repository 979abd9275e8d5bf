#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "storage/bulk_append.h"
#include "storage/database.h"
#include "storage/file_error.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

using Snapshot = std::map<std::string, std::vector<unsigned char>>;

Snapshot snapshot(const DatabasePaths& paths) {
    Snapshot files;
    for (const auto& entry : std::filesystem::directory_iterator(paths.database_folder)) {
        if (entry.is_regular_file()) {
            files[entry.path().filename().string()] = testing::readBytes(entry.path());
        }
    }
    return files;
}

class BulkAppendTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_paths = buildPaths(m_temp.path());
        Database(m_paths, m_sink).createMissing(false);
        testing::appendFilms(m_paths.file(DataFile::Films), {testing::makeFilm(2, u"Stary")});
        testing::writeBytes(m_paths.file(DataFile::Cast), std::vector<unsigned char>(1412, 7));
        // A header longer than its 36 bytes keeps what follows them.
        std::vector<unsigned char> header = testing::readBytes(m_paths.file(DataFile::Header));
        header.insert(header.end(), {'X', 'Y'});
        testing::writeBytes(m_paths.file(DataFile::Header), header);
    }

    // Appends a few rows of two tables and a new counter, the step hook told of every step.
    void appendRows(const std::function<void(BulkAppend::Step)>& hook) {
        BulkAppend append(m_paths, hook);
        for (std::int32_t id = 3; id < 40; ++id) {
            const FilmRecord film = testing::makeFilm(id, u"Nowy");
            append.append(DataFile::Films, &film, sizeof film);
            const std::vector<unsigned char> row(1412, static_cast<unsigned char>(id));
            append.append(DataFile::Cast, row.data(), row.size());
        }
        append.setLastFilmId(39);
        append.commit();
    }

    testing::TempFolder m_temp;
    testing::RecordingSink m_sink;
    DatabasePaths m_paths;
};

TEST_F(BulkAppendTest, AKillAtAnyStepLeavesTheTablesAsBeforeOrWhole) {
    const Snapshot before = snapshot(m_paths);
    using Step = BulkAppend::Step;
    for (const Step kill_at : {Step::JournalWritten, Step::RowsWritten, Step::TablesFlushed,
                               Step::HeaderWritten, Step::Committed}) {
        SCOPED_TRACE(static_cast<int>(kill_at));
        const pid_t child = ::fork();
        if (child == 0) {
            appendRows([kill_at](Step step) {
                if (step == kill_at) {
                    ::raise(SIGKILL);
                }
            });
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        Database database(m_paths, m_sink);
        database.recoverInterruptedWrites();
        const Snapshot after = snapshot(m_paths);
        EXPECT_EQ(after.count("KR.import"), 0u);
        if (kill_at != Step::Committed) {
            EXPECT_EQ(after, before);
            continue;
        }
        EXPECT_EQ(after.at("KR_PDB.kr").size(), 38 * kFilmRowSize);
        EXPECT_EQ(after.at("KR_OB.kr").size(), 38 * 1412u);
        EXPECT_EQ(database.readHeader().last_id, 39);
    }
}

TEST_F(BulkAppendTest, AFailedCommitOrATornJournalLeavesTheTablesAsTheyWere) {
    const Snapshot before = snapshot(m_paths);
    EXPECT_THROW(appendRows([](BulkAppend::Step step) {
                     if (step == BulkAppend::Step::TablesFlushed) {
                         // As a failed header write would.
                         throw FileError("KR.kr", FileOperation::Write, ENOSPC);
                     }
                 }),
                 FileError);
    EXPECT_EQ(snapshot(m_paths), before);

    testing::writeText(m_paths.database_folder / "KR.import", "ORDAVO-APPEND-1 torn");
    EXPECT_TRUE(rollBackBulkAppend(m_paths));
    EXPECT_EQ(snapshot(m_paths), before);
    EXPECT_FALSE(rollBackBulkAppend(m_paths));
}

}  // namespace
}  // namespace ordavo
