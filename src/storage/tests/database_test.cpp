#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

#include "storage/database.h"
#include "storage/database_lock.h"
#include "storage/file_error.h"
#include "storage/film_table.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "testing/file_error_check.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

using testing::RecordingSink;
using testing::TempFolder;
using testing::WorkingFolderScope;

constexpr std::array<const char*, 9> kNames = {"KR.kr",    "KR_PDB.kr", "KR_OC.kr",
                                               "KR_OB.kr", "KR_PRB.kr", "KR_PRD.kr",
                                               "KR_LZ.kr", "KR_WI.kr",  "KR_WO.kr"};

class DatabaseTest : public ::testing::Test {
protected:
    TempFolder root;
    WorkingFolderScope cwd{root.path()};
    RecordingSink sink;
};

TEST_F(DatabaseTest, BuildPathsNamesEveryFileInsideTheFolder) {
    const DatabasePaths start = buildPaths();
    EXPECT_EQ(start.database_folder, root.path() / "default_db/");
    EXPECT_EQ(start.covers_folder, root.path() / "default_db/covers/");
    EXPECT_EQ(start.file(DataFile::Films), root.path() / "default_db/KR_PDB.kr");

    for (const char* chosen : {"/data/filmy", "/data/filmy/"}) {
        const DatabasePaths paths = buildPaths(std::filesystem::path(chosen));
        EXPECT_EQ(paths.database_folder.string(), "/data/filmy/");
        EXPECT_EQ(paths.file(DataFile::LoansFrom).string(), "/data/filmy/KR_WO.kr");
        EXPECT_EQ(paths.covers_folder.string(), "/data/filmy/covers/");
    }
}

TEST_F(DatabaseTest, FirstStartInAnEmptyWorkingFolderCreatesAnEmptyDatabase) {
    Database db(buildPaths(), sink);
    EXPECT_EQ(db.checkFileSet(), DatabaseState::Absent);
    EXPECT_FALSE(db.importFromWorkingFolder());
    db.createMissing(true);

    EXPECT_EQ(db.checkFileSet(), DatabaseState::Intact);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(std::filesystem::is_directory(root / "default_db/covers"));
    const std::vector<unsigned char> header = testing::readBytes(root / "default_db/KR.kr");
    const std::vector<unsigned char> expected = {'1', 0, '.', 0, '0', 0, '.', 0, '2', 0, '.', 0,
                                                 '0', 0, 0,   0, 0,   0, 0,   0, 0,   0, 0,   0,
                                                 0,   0, 0,   0, 0,   0, 0,   0, 1,   0, 0,   0};
    EXPECT_EQ(header, expected);
    for (const char* name : kNames) {
        if (std::string_view(name) != "KR.kr") {
            EXPECT_EQ(std::filesystem::file_size(root / "default_db" / name), 0u) << name;
        }
    }
    EXPECT_TRUE(db.versionMatches());
}

TEST_F(DatabaseTest, CreateMissingOutsideStartUpNeedsTheFolderAndTouchesNothingThatExists) {
    Database db(buildPaths(root / "chosen"), sink);
    // The folder itself is not made.
    EXPECT_TRUE(testing::throwsFileError([&] { db.createMissing(false); }, db.paths().covers_folder,
                                         FileOperation::CreateFolder, ENOENT));

    std::filesystem::create_directory(root / "chosen");
    testing::writeText(root / "chosen/KR_OB.kr", "keep");
    db.createMissing(false);
    EXPECT_EQ(testing::readBytes(root / "chosen/KR_OB.kr").size(), 4u);
    EXPECT_EQ(db.checkFileSet(), DatabaseState::Intact);
}

TEST_F(DatabaseTest, FileSetStates) {
    // Files written with "" are empty, with "x" hold a byte.
    struct Case {
        std::vector<std::pair<const char*, const char*>> present;
        DatabaseState state;
    };
    std::vector<std::pair<const char*, const char*>> all_empty;
    for (const char* name : kNames) {
        all_empty.emplace_back(name, "");
    }
    std::vector<std::pair<const char*, const char*>> tables_only(all_empty.begin() + 1,
                                                                 all_empty.end());
    const std::vector<Case> cases = {
        {{}, DatabaseState::Absent},
        // A creation cut short before its header: no data, nothing damaged.
        {{{"KR_PDB.kr", ""}}, DatabaseState::Absent},
        {{{"KR_PDB.kr", ""}, {"KR_OC.kr", ""}, {"KR_WO.kr", ""}}, DatabaseState::Absent},
        {tables_only, DatabaseState::Absent},
        // No header beside a table that holds something: damaged.
        {{{"KR_PDB.kr", "x"}}, DatabaseState::Damaged},
        {{{"KR_OB.kr", ""}, {"KR_WO.kr", "x"}}, DatabaseState::Damaged},
        // A header with some tables missing: damaged, empty or not.
        {{{"KR.kr", ""}}, DatabaseState::Damaged},
        {{{"KR.kr", "x"}, {"KR_PDB.kr", ""}}, DatabaseState::Damaged},
        {{all_empty.begin(), all_empty.end() - 1}, DatabaseState::Damaged},
        {all_empty, DatabaseState::Intact},  // no covers folder needed
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::filesystem::path folder = root / ("db" + std::to_string(index++));
        std::filesystem::create_directory(folder);
        for (const auto& [name, content] : c.present) {
            testing::writeText(folder / name, content);
        }
        RecordingSink messages;
        Database db(buildPaths(folder), messages);
        EXPECT_EQ(db.checkFileSet(), c.state) << folder;
        EXPECT_EQ(db.checkFileSet(), c.state) << folder;
        // The damage message is shown every time the check finds a damaged set, never otherwise.
        const std::size_t expected = c.state == DatabaseState::Damaged ? 2 : 0;
        ASSERT_EQ(messages.messages.size(), expected) << folder;
        for (const auto& [text, title] : messages.messages) {
            // The fixed text, then the folder and every file that is missing.
            EXPECT_EQ(text.substr(0, kDamagedDatabaseMessage.size()), kDamagedDatabaseMessage);
            EXPECT_NE(text.find(folder.string()), std::string::npos) << text;
            std::string missing;
            for (DataFile file : kAllDataFiles) {
                if (std::none_of(c.present.begin(), c.present.end(),
                                 [&](const auto& p) { return p.first == fileName(file); })) {
                    missing += (missing.empty() ? "" : ", ") + std::string(fileName(file));
                }
            }
            const std::string line = "Brakujące pliki: " + missing + ".";
            const std::size_t at = text.find(line);
            ASSERT_NE(at, std::string::npos) << text;
            EXPECT_TRUE(at + line.size() == text.size() || text[at + line.size()] == '\n');
            EXPECT_EQ(title, "Kinokrat");
        }
        EXPECT_FALSE(std::filesystem::exists(folder / "covers"));
    }
}

TEST_F(DatabaseTest, AFileThatIsNotARegularFileMakesTheSetDamagedAndIsNamed) {
    // A FIFO would block a plain open() for ever; a folder cannot be read as a table.
    for (const bool fifo : {true, false}) {
        const std::filesystem::path folder = root / (fifo ? "fifo" : "folder");
        std::filesystem::create_directory(folder);
        Database db(buildPaths(folder), sink);
        db.createMissing(false);
        std::filesystem::remove(folder / "KR_OB.kr");
        if (fifo) {
            ASSERT_EQ(::mkfifo((folder / "KR_OB.kr").c_str(), 0644), 0);
        } else {
            std::filesystem::create_directory(folder / "KR_OB.kr");
        }
        sink.messages.clear();
        EXPECT_EQ(db.checkFileSet(), DatabaseState::Damaged);
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_NE(sink.messages[0].first.find("To nie są zwykłe pliki (lecz np. katalogi lub "
                                              "potoki): KR_OB.kr."),
                  std::string::npos)
            << sink.messages[0].first;
        EXPECT_TRUE(
            testing::throwsFileError([&] { PosixFile(folder / "KR_OB.kr", PosixFile::Mode::Read); },
                                     folder / "KR_OB.kr", FileOperation::Open));
    }
}

TEST_F(DatabaseTest, ACreationCutShortLeavesNoHeaderAndTheNextOneFinishesIt) {
    // A table that cannot be created (a link into a folder that does not exist) stops the
    // creation after the tables before it.
    const std::filesystem::path folder = root / "default_db";
    std::filesystem::create_directory(folder);
    std::filesystem::create_symlink(root / "nowhere" / "KR_LZ.kr", folder / "KR_LZ.kr");
    Database db(buildPaths(), sink);
    EXPECT_TRUE(testing::throwsFileError([&] { db.createMissing(true); }, folder / "KR_LZ.kr",
                                         FileOperation::Open, ENOENT));
    EXPECT_TRUE(std::filesystem::exists(folder / "KR_PDB.kr"));
    EXPECT_FALSE(std::filesystem::exists(folder / "KR.kr"));
    EXPECT_EQ(db.checkFileSet(), DatabaseState::Absent);

    std::filesystem::remove(folder / "KR_LZ.kr");
    db.createMissing(true);
    EXPECT_EQ(db.checkFileSet(), DatabaseState::Intact);
    EXPECT_TRUE(db.versionMatches());
    EXPECT_EQ(db.readHeader().last_id, 1);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(DatabaseTest, ImportMovesTheNineBareFilesIntoTheDatabaseFolder) {
    for (const char* name : kNames) {
        testing::writeText(root / name, std::string("content of ") + name);
    }
    std::filesystem::create_directory(root / "default_db");
    Database db(buildPaths(), sink);
    ASSERT_EQ(db.checkFileSet(), DatabaseState::Absent);
    EXPECT_TRUE(db.importFromWorkingFolder());
    for (const char* name : kNames) {
        EXPECT_FALSE(std::filesystem::exists(root / name)) << name;
        const auto bytes = testing::readBytes(root / "default_db" / name);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("content of ") + name);
    }
    EXPECT_EQ(db.checkFileSet(), DatabaseState::Intact);
    EXPECT_TRUE(std::filesystem::is_directory(root / "default_db/covers"));
    EXPECT_FALSE(std::filesystem::exists(root / "default_db.import"));
}

TEST_F(DatabaseTest, ImportCreatesTheDatabaseFolderAndNeedsAllNineFiles) {
    for (const char* name : kNames) {
        testing::writeText(root / name, name);
    }
    std::filesystem::remove(root / "KR_WO.kr");
    Database db(buildPaths(), sink);
    EXPECT_FALSE(db.importFromWorkingFolder());
    EXPECT_FALSE(std::filesystem::exists(root / "default_db"));

    testing::writeText(root / "KR_WO.kr", "KR_WO.kr");
    EXPECT_TRUE(db.importFromWorkingFolder());
    EXPECT_EQ(db.checkFileSet(), DatabaseState::Intact);
}

TEST_F(DatabaseTest, AFailedImportCopyDeletesNoOriginalAndLeavesNoCopy) {
    for (const char* name : kNames) {
        testing::writeText(root / name, name);
    }
    // A folder of the user's inside the database folder keeps the import from putting its
    // copies in place.
    std::filesystem::create_directories(root / "default_db/KR_OB.kr0");
    Database db(buildPaths(), sink);
    EXPECT_TRUE(testing::throwsFileError([&] { db.importFromWorkingFolder(); }, root / "default_db",
                                         FileOperation::DeleteFolder, ENOTEMPTY));
    for (const char* name : kNames) {
        EXPECT_TRUE(std::filesystem::exists(root / name)) << name;
        EXPECT_FALSE(std::filesystem::exists(root / "default_db" / name)) << name;
    }
    EXPECT_EQ(db.checkFileSet(), DatabaseState::Absent);
}

TEST_F(DatabaseTest, AnImportCutShortIsDoneAgainWholeAtTheNextStart) {
    for (const char* name : kNames) {
        testing::writeText(root / name, std::string("content of ") + name);
    }
    // A kill in the middle of the copies: some of them, one half written, beside default_db.
    std::filesystem::create_directory(root / "default_db.import");
    testing::writeText(root / "default_db.import/.ordavo-import", "");
    testing::writeText(root / "default_db.import/KR.kr", "content of KR.kr");
    testing::writeText(root / "default_db.import/KR_PDB.kr0", "content");
    Database db(buildPaths(), sink);
    ASSERT_EQ(db.checkFileSet(), DatabaseState::Absent);  // nothing half there to call damaged
    EXPECT_TRUE(db.importFromWorkingFolder());
    EXPECT_EQ(db.checkFileSet(), DatabaseState::Intact);
    for (const char* name : kNames) {
        const auto bytes = testing::readBytes(root / "default_db" / name);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("content of ") + name);
    }
    EXPECT_FALSE(std::filesystem::exists(root / "default_db.import"));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(DatabaseTest, AnImportNeverRemovesAFolderOfTheUsersNamedLikeItsStaging) {
    for (const char* name : kNames) {
        testing::writeText(root / name, std::string("content of ") + name);
    }
    const std::filesystem::path staging = root / "default_db.import";
    const std::filesystem::path other = root / "elsewhere";
    const auto userFolder = [&](const std::filesystem::path& folder, bool with_our_mark) {
        std::filesystem::create_directory(folder);
        testing::writeText(folder / "KR.kr", "mine");
        if (with_our_mark) {
            testing::writeText(folder / ".ordavo-import", "");
        }
    };
    struct Case {
        const char* what;
        std::function<void()> make;
        std::filesystem::path kept;  // what must still be there; empty: nothing may appear
    };
    for (const Case& c : {
             Case{"a database of the user's", [&] { userFolder(staging, false); },
                  staging / "KR.kr"},
             Case{"a link to a folder of the user's",
                  [&] {
                      userFolder(other, false);
                      std::filesystem::create_directory_symlink(other, staging);
                  },
                  other / "KR.kr"},
             Case{"a link to a folder that looks like an import's",
                  [&] {
                      userFolder(other, true);
                      std::filesystem::create_directory_symlink(other, staging);
                  },
                  other / "KR.kr"},
             Case{"a link to nowhere",
                  [&] { std::filesystem::create_directory_symlink(other, staging); },
                  {}},
         }) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(staging);
        std::filesystem::remove_all(other);
        c.make();
        Database db(buildPaths(), sink);
        EXPECT_TRUE(testing::throwsFileError([&] { db.importFromWorkingFolder(); }, staging,
                                             FileOperation::CreateFolder, EEXIST));
        if (c.kept.empty()) {
            EXPECT_FALSE(std::filesystem::exists(other));
        } else {
            EXPECT_TRUE(std::filesystem::exists(c.kept));
        }
        EXPECT_TRUE(std::filesystem::exists(root / "KR_PDB.kr"));  // the originals too
        EXPECT_FALSE(std::filesystem::exists(root / "default_db/KR.kr"));
    }
}

TEST_F(DatabaseTest, VersionMatchesOnlyTheWholeVersionTextOfAWholeHeader) {
    Database db(buildPaths(), sink);
    db.createMissing(true);
    const auto header_path = root / "default_db/KR.kr";
    const auto original = testing::readBytes(header_path);

    const auto with_version = [&](std::u16string_view version) {
        DatabaseHeader header = newDatabaseHeader();
        std::fill(std::begin(header.version), std::end(header.version), u'x');
        if (version.size() < 16) {
            storeText(header.version, version);
        }
        std::vector<unsigned char> bytes(sizeof header);
        std::memcpy(bytes.data(), &header, sizeof header);
        testing::writeBytes(header_path, bytes);
    };
    with_version(u"1.0.2.0");  // the bytes after the NUL are not looked at
    EXPECT_TRUE(db.versionMatches());
    for (std::u16string_view other :
         {u"1.0.2", u"1.0.2.01", u"1.0.3.0", u"", u"none-no-nul!!!!!!"}) {
        with_version(other);
        EXPECT_FALSE(db.versionMatches());
    }
    testing::writeBytes(header_path, original);
    testing::truncateFile(header_path, 20);  // version intact, counter missing
    EXPECT_FALSE(db.versionMatches());
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(DatabaseTest, IssuedIdsGrowAndNeverWrap) {
    Database db(buildPaths(), sink);
    db.createMissing(true);
    EXPECT_EQ(db.issueFilmId(), 2);
    EXPECT_EQ(db.issueFilmId(), 3);
    EXPECT_EQ(db.readHeader().last_id, 3);

    for (std::int32_t last : {std::numeric_limits<std::int32_t>::max(), -1, -7}) {
        DatabaseHeader header = newDatabaseHeader();
        header.last_id = last;
        std::vector<unsigned char> bytes(sizeof header);
        std::memcpy(bytes.data(), &header, sizeof header);
        testing::writeBytes(root / "default_db/KR.kr", bytes);
        sink.messages.clear();
        EXPECT_EQ(db.issueFilmId(), std::nullopt) << last;
        EXPECT_EQ(db.readHeader().last_id, last);
        EXPECT_EQ(sink.messages.size(), 1u);
    }
}

TEST_F(DatabaseTest, AFileErrorNamesThePathTheOperationAndErrno) {
    Database db(buildPaths(), sink);  // no database yet
    try {
        db.versionMatches();
        FAIL() << "no exception";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), root / "default_db/KR.kr");
        EXPECT_EQ(error.operation(), FileOperation::Open);
        EXPECT_EQ(error.errorNumber(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("KR.kr"), std::string::npos);
    }
}

TEST_F(DatabaseTest, AChosenFolderIsResolvedAsTheSystemResolvesIt) {
    // "link/.." is the folder above the link's target, not the folder that holds the link.
    std::filesystem::create_directories(root / "deep/target");
    std::filesystem::create_directory_symlink(root / "deep/target", root / "link");
    const DatabasePaths paths = buildPaths(root / "link" / ".." / "db");
    EXPECT_EQ(paths.database_folder, std::filesystem::canonical(root / "deep") / "db/");
    EXPECT_EQ(paths.file(DataFile::Films),
              std::filesystem::canonical(root / "deep") / "db/KR_PDB.kr");
}

TEST_F(DatabaseTest, ADatabaseIsHeldByOneRunningCopyAtATime) {
    Database db(buildPaths(), sink);
    db.createMissing(true);
    int ready[2];
    int done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        DatabaseHold hold(db.paths());
        const char held = hold.held() ? 'y' : 'n';
        (void)!::write(ready[1], &held, 1);
        char any;
        (void)!::read(done[0], &any, 1);
        ::_exit(0);
    }
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');
    {
        DatabaseHold second(db.paths());
        EXPECT_FALSE(second.held());
        EXPECT_TRUE(db.heldElsewhere());
        EXPECT_EQ(db.writeRefusal(), WriteRefusal::HeldElsewhere);
        // The film table writes nothing while another copy holds the database.
        testing::RecordingHandover pages;
        FilmTable table(db, pages);
        EXPECT_FALSE(table.appendRow(true));
        EXPECT_EQ(std::filesystem::file_size(db.paths().file(DataFile::Films)), 0u);
    }
    (void)!::write(done[1], "x", 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) {
        ::close(fd);
    }
    // The copy has ended, however it ended: the hold is free again, and nested holds share it.
    EXPECT_FALSE(db.heldElsewhere());
    DatabaseHold first(db.paths());
    DatabaseHold nested(db.paths());
    EXPECT_TRUE(first.held());
    EXPECT_TRUE(nested.held());
    EXPECT_EQ(db.writeRefusal(), WriteRefusal::None);
}

}  // namespace
}  // namespace ordavo
