#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "storage/database.h"
#include "storage/file_error.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/text_field.h"
#include "testing/file_error_check.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

using testing::appendFilms;
using testing::filmIds;
using testing::makeFilm;

class FilmTableTest : public ::testing::Test {
protected:
    FilmTableTest() { database.createMissing(true); }

    std::filesystem::path films() const { return root / "default_db/KR_PDB.kr"; }
    std::u16string title() const { return std::u16string(readText(table.current().title)); }
    void setTitle(std::u16string_view text) { storeText(table.current().title, text); }
    using Counter = std::pair<std::int64_t, std::int64_t>;
    Counter counter() {
        table.refreshCounter(filter);
        return {table.counter().position, table.counter().count};
    }
    // Shows the film at `offset`, as paging does before a delete or a save.
    void showRow(std::int64_t offset) {
        table.current_offset = offset;
        ASSERT_TRUE(table.readRow(false));
    }
    void markVersion(std::u16string_view version) {
        DatabaseHeader header = database.readHeader();
        storeText(header.version, version);
        std::vector<unsigned char> bytes(sizeof header);
        std::memcpy(bytes.data(), &header, sizeof header);
        testing::writeBytes(root / "default_db/KR.kr", bytes);
    }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    testing::RecordingSink sink;
    testing::RecordingHandover pages;
    Database database{buildPaths(), sink};
    FilmTable table{database, pages};
    FilterState filter;
};

TEST_F(FilmTableTest, ReadAndWriteHandOverToTheListsInTheirOrders) {
    appendFilms(films(), {makeFilm(7, u"Rejs")});
    ASSERT_TRUE(table.readRow(true));
    EXPECT_EQ(pages.calls,
              (std::vector<std::string>{"clear Reviews", "load Reviews 7", "load Cast 7",
                                        "load Distributors 7", "load Producers 7",
                                        "load Locations 7", "load LoansTo 7", "load LoansFrom 7"}));
    pages.calls.clear();
    ASSERT_TRUE(table.updateRow());
    EXPECT_EQ(pages.calls,
              (std::vector<std::string>{"save Reviews 7", "save Cast 7", "save Producers 7",
                                        "save Distributors 7", "save Locations 7", "save LoansTo 7",
                                        "save LoansFrom 7"}));
    pages.calls.clear();
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_TRUE(pages.calls.empty());  // a new film has no detail rows yet
}

TEST_F(FilmTableTest, AppendIssuesIdsFromTwoAndNeverReusesThem) {
    ASSERT_TRUE(table.appendRow(true));
    EXPECT_EQ(table.current().id, 2);
    EXPECT_EQ(table.current_offset, 0);
    ASSERT_TRUE(table.appendRow(false));
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_EQ(table.current_offset, 2 * 31888);
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{2, 3, 4}));

    ASSERT_TRUE(table.deleteRow(filter));  // deletes film 4, the last appended
    showRow(0);
    ASSERT_TRUE(table.deleteRow(filter));  // and film 2
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{3, 5}));
    EXPECT_EQ(table.current_offset, 31888);
}

TEST_F(FilmTableTest, ReadRowCopiesOneWholeRowAndLeavesTheBufferAloneAtTheEnd) {
    appendFilms(films(), {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś")});
    ASSERT_TRUE(table.readRow(true));
    EXPECT_EQ(title(), u"Rejs");
    table.current_offset = 31888;
    ASSERT_TRUE(table.readRow(false));
    EXPECT_EQ(title(), u"Miś");
    EXPECT_EQ(table.current().id, 3);

    table.current_offset = 2 * 31888;  // past the end: nothing read
    ASSERT_TRUE(table.readRow(false));
    EXPECT_EQ(title(), u"Miś");
}

TEST_F(FilmTableTest, AShortReadOfAPartialRowZeroesTheRest) {
    appendFilms(films(), {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś")});
    testing::truncateFile(films(), 31888 + 100);  // 4 bytes of id and 48 units of title
    FilmRecord before = makeFilm(9, u"Seksmisja i dużo dłuższy tytuł, który nie może przeciec");
    setFieldText(before, *findFilmField("genre"), u"komedia");
    table.current() = before;
    table.current_offset = 31888;
    ASSERT_TRUE(table.readRow(false));
    EXPECT_EQ(table.current().id, 3);
    EXPECT_EQ(title(), u"Miś");
    EXPECT_EQ(readText(table.current().genre), u"");
}

TEST_F(FilmTableTest, UpdateWritesTheWholeBufferInPlace) {
    appendFilms(films(), {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś")});
    table.current_offset = 31888;
    ASSERT_TRUE(table.readRow(false));
    setTitle(u"Miś (wersja reżyserska)");
    table.current().padding[1] = 0x77;
    ASSERT_TRUE(table.updateRow());
    const auto bytes = testing::readBytes(films());
    ASSERT_EQ(bytes.size(), 2u * 31888);
    EXPECT_EQ(std::memcmp(bytes.data() + 31888, &table.current(), 31888), 0);
}

TEST_F(FilmTableTest, CounterRules) {
    EXPECT_TRUE(table.refreshCounter(filter));  // empty table
    EXPECT_EQ(counter(), Counter(0, 0));

    appendFilms(films(), {makeFilm(2, u"a"), makeFilm(5, u"b"), makeFilm(2, u"c")});
    table.current().id = 2;
    EXPECT_FALSE(table.refreshCounter(filter));
    EXPECT_EQ(counter(), Counter(3, 3));  // the later of two equal ids
    table.current().id = 5;
    EXPECT_EQ(counter(), Counter(2, 3));
    table.current().id = 42;
    EXPECT_EQ(counter(), Counter(0, 3));  // id in no row

    testing::truncateFile(films(), 3 * 31888 + 10);  // a trailing partial row counts
    EXPECT_EQ(counter(), Counter(0, 4));

    filter.filter_mode = true;
    filter.filter_offsets = {0, 31888, 2 * 31888};
    filter.filter_index = 1;
    EXPECT_EQ(counter(), Counter(2, 3));

    std::filesystem::remove(films());  // a missing table leaves the counter as it was
    EXPECT_FALSE(table.refreshCounter(filter));
    EXPECT_EQ(table.counter().position, 2);
    EXPECT_TRUE(testing::throwsFileError([&] { table.tableLength(); }, films(), FileOperation::Open,
                                         ENOENT));
}

TEST_F(FilmTableTest, DeleteOfTheOnlyFilmEmptiesTheTable) {
    ASSERT_TRUE(table.appendRow(true));
    ASSERT_TRUE(table.deleteRow(filter));
    EXPECT_EQ(std::filesystem::file_size(films()), 0u);
    EXPECT_EQ(table.current().id, 0);
    EXPECT_TRUE(table.refreshCounter(filter));
    EXPECT_EQ(counter(), Counter(0, 0));
    EXPECT_FALSE(std::filesystem::exists(root / "default_db/KR_PDB.kr0"));
    EXPECT_FALSE(std::filesystem::exists(root / "KR_PDB.kr0"));
}

TEST_F(FilmTableTest, DeleteKeepsEveryOtherRowIdZeroIncludedAndPadsAKeptPartialRow) {
    // A row with id 0 is shown and saved like any film: deleting another film keeps it.
    appendFilms(films(), {makeFilm(2, u"a"), makeFilm(0, u"left by an older program"),
                          makeFilm(4, u"c"), makeFilm(5, u"d"), makeFilm(6, u"partial")});
    testing::truncateFile(films(), 4 * 31888 + 50);
    showRow(2 * 31888);  // film 4
    ASSERT_TRUE(table.deleteRow(filter));
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{2, 0, 5, 6}));
    const auto bytes = testing::readBytes(films());
    ASSERT_EQ(bytes.size(), 4u * 31888);
    const FilmRecord partial = makeFilm(6, u"partial");
    EXPECT_EQ(std::memcmp(bytes.data() + 3 * 31888, &partial, 50), 0);
    EXPECT_TRUE(std::all_of(bytes.begin() + 3 * 31888 + 50, bytes.end(),
                            [](unsigned char b) { return b == 0; }));
    // And the row with id 0 itself can be deleted.
    showRow(31888);
    ASSERT_TRUE(table.deleteRow(filter));
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{2, 5, 6}));
}

TEST_F(FilmTableTest, DeleteRefusesInFilterModeWithAMessage) {
    appendFilms(films(), {makeFilm(2, u"a")});
    const auto before = testing::readBytes(films());
    filter.filter_mode = true;
    filter.filter_offsets = {0};
    EXPECT_FALSE(table.deleteRow(filter));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].first, "W trybie sortowanym nie można usuwać rekordów.");
    EXPECT_EQ(sink.messages[0].second, "Kinokrat");
    EXPECT_EQ(testing::readBytes(films()), before);
}

TEST_F(FilmTableTest, AnotherVersionRefusesEveryWriteSilentlyButReads) {
    appendFilms(films(), {makeFilm(2, u"Rejs")});
    markVersion(u"1.0.1.0");
    const auto films_before = testing::readBytes(films());
    const auto header_before = testing::readBytes(root / "default_db/KR.kr");
    ASSERT_TRUE(table.readRow(true));
    setTitle(u"changed");
    EXPECT_FALSE(table.updateRow());
    EXPECT_FALSE(table.appendRow(false));
    EXPECT_FALSE(table.deleteRow(filter));
    EXPECT_EQ(testing::readBytes(films()), films_before);
    EXPECT_EQ(testing::readBytes(root / "default_db/KR.kr"), header_before);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(FilmTableTest, ADamagedSetRefusesEveryOperationWithTheMessage) {
    appendFilms(films(), {makeFilm(2, u"Rejs")});
    std::filesystem::remove(root / "default_db/KR_LZ.kr");
    table.current() = makeFilm(9, u"kept");
    EXPECT_FALSE(table.readRow(true));
    EXPECT_FALSE(table.updateRow());
    EXPECT_FALSE(table.appendRow(false));
    EXPECT_FALSE(table.deleteRow(filter));
    EXPECT_EQ(sink.messages.size(), 4u);
    EXPECT_EQ(title(), u"kept");
    // The lists forget the rows of whatever film they held; nothing is loaded or saved.
    EXPECT_EQ(pages.calls,
              (std::vector<std::string>{"forget Reviews", "forget Cast", "forget Distributors",
                                        "forget Producers", "forget Locations", "forget LoansTo",
                                        "forget LoansFrom"}));
}

TEST_F(FilmTableTest, AnInterruptedCompactionLeavesAReadableIntactDatabase) {
    for (ReplaceStep stop : {ReplaceStep::TempWritten, ReplaceStep::TempSynced}) {
        std::filesystem::remove(films());
        appendFilms(films(), {makeFilm(2, u"a"), makeFilm(3, u"b"), makeFilm(4, u"c")});
        table.setReplaceStepHook([stop](ReplaceStep step) {
            if (step == stop) {
                throw std::runtime_error("stopped");
            }
        });
        showRow(31888);
        EXPECT_THROW(table.deleteRow(filter), std::runtime_error);
        EXPECT_EQ(table.current().id, 3);  // still held, so a later save writes it in place
        // The table is as it was, with no row marked 0; the set is intact.
        EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{2, 3, 4}));
        EXPECT_EQ(database.checkFileSet(), DatabaseState::Intact);
        EXPECT_FALSE(std::filesystem::exists(root / "default_db/KR_PDB.kr0"));

        table.setReplaceStepHook({});
        showRow(0);
        ASSERT_TRUE(table.deleteRow(filter));
        EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{3, 4}));
    }
    // Stopped just after the rename: the compacted table is in place.
    std::filesystem::remove(films());
    appendFilms(films(), {makeFilm(2, u"a"), makeFilm(3, u"b")});
    table.setReplaceStepHook([](ReplaceStep step) {
        if (step == ReplaceStep::Renamed) {
            throw std::runtime_error("stopped");
        }
    });
    showRow(0);
    EXPECT_THROW(table.deleteRow(filter), std::runtime_error);
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{3}));
    EXPECT_EQ(database.checkFileSet(), DatabaseState::Intact);
}

TEST_F(FilmTableTest, ALeftoverTemporaryTableIsOverwritten) {
    appendFilms(films(), {makeFilm(2, u"a"), makeFilm(3, u"b")});
    testing::writeText(root / "default_db/KR_PDB.kr0", "stale bytes of an earlier crash");
    showRow(0);
    ASSERT_TRUE(table.deleteRow(filter));
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{3}));
    EXPECT_FALSE(std::filesystem::exists(root / "default_db/KR_PDB.kr0"));
}

TEST_F(FilmTableTest, ATableThatIsNotARegularFileMakesTheSetDamaged) {
    std::filesystem::remove(films());
    std::filesystem::create_directory(films());  // a folder in place of the table
    EXPECT_FALSE(table.readRow(true));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].first.find("KR_PDB.kr"), std::string::npos);
    EXPECT_TRUE(testing::throwsFileError([&] { table.tableLength(); }, films(), FileOperation::Open,
                                         EISDIR));
}

}  // namespace
}  // namespace ordavo

namespace ordavo {
namespace {

// Sets a file's modification time to `seconds_ago` seconds before now.
void ageFile(const std::filesystem::path& path, int seconds_ago) {
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(seconds_ago));
}

TEST_F(FilmTableTest, AChangeBehindOurBackIsSeenEvenWithTheSameSizeAndTime) {
    appendFilms(films(), {makeFilm(2, u"a"), makeFilm(3, u"b")});
    ageFile(films(), 60);  // an old, settled file: what is read from it may be reused
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    table.current().id = 7;
    EXPECT_EQ(counter(), Counter(0, 2));
    EXPECT_EQ(counter(), Counter(0, 2));

    // Another program writes id 7 into the second row: same size, and the old time put back.
    const auto time = std::filesystem::last_write_time(films());
    auto bytes = testing::readBytes(films());
    const std::int32_t seven = 7;
    std::memcpy(bytes.data() + 31888, &seven, sizeof seven);
    {
        std::fstream out(films(), std::ios::in | std::ios::out | std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::last_write_time(films(), time);
    EXPECT_EQ(counter(), Counter(2, 2));
}

TEST_F(FilmTableTest, OwnWritesKeepTheCounterExact) {
    ASSERT_TRUE(table.appendRow(true));
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_EQ(counter(), Counter(2, 2));
    showRow(0);
    setTitle(u"changed");
    ASSERT_TRUE(table.updateRow());
    EXPECT_EQ(counter(), Counter(1, 2));
    showRow(31888);
    ASSERT_TRUE(table.deleteRow(filter));
    EXPECT_EQ(counter(), Counter(0, 1));
    table.current().id = 2;
    EXPECT_EQ(counter(), Counter(1, 1));
    // Behind our back again: a second row of film 2 appended by hand right away.
    appendFilms(films(), {makeFilm(2, u"c")});
    EXPECT_EQ(counter(), Counter(2, 2));
}

}  // namespace
}  // namespace ordavo

namespace ordavo {
namespace {

TEST_F(FilmTableTest, AnAppendAfterAPartialRowKeepsEveryRowInItsPlace) {
    appendFilms(films(), {makeFilm(2, u"a"), makeFilm(3, u"b")});
    testing::truncateFile(films(), 31888 + 40);
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_EQ(table.current_offset, 2 * 31888);
    EXPECT_EQ(std::filesystem::file_size(films()), 3u * 31888);
    const std::int32_t added = table.current().id;
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{2, 3, added}));
    ASSERT_TRUE(table.readRow(false));
    EXPECT_EQ(table.current().id, added);
    table.current_offset = 31888;  // the partial row reads as padded with zeros
    ASSERT_TRUE(table.readRow(false));
    EXPECT_EQ(readText(table.current().title), u"b");
}

TEST_F(FilmTableTest, ASaveOrDeleteFindsTheShownFilmWhenItsRowMovedAndRefusesWhenItIsGone) {
    appendFilms(films(), {makeFilm(2, u"Rejs"), makeFilm(3, u"Miś"), makeFilm(4, u"Seksmisja")});
    showRow(2 * 31888);  // Seksmisja
    // Another program deletes an earlier film: Seksmisja is now the second row, and the row at
    // the remembered offset no longer exists.
    {
        auto bytes = testing::readBytes(films());
        bytes.erase(bytes.begin(), bytes.begin() + 31888);
        testing::writeBytes(films(), bytes);
    }
    setTitle(u"Seksmisja (2)");
    ASSERT_TRUE(table.updateRow());
    EXPECT_EQ(table.current_offset, 31888);
    EXPECT_EQ(filmIds(films()), (std::vector<std::int32_t>{3, 4}));
    table.current_offset = 0;
    ASSERT_TRUE(table.readRow(false));
    EXPECT_EQ(title(), u"Miś");

    // Miś is deleted behind our back: its save and its delete write nothing and say why.
    testing::writeBytes(films(), [&] {
        auto bytes = testing::readBytes(films());
        bytes.erase(bytes.begin(), bytes.begin() + 31888);
        return bytes;
    }());
    const auto before = testing::readBytes(films());
    EXPECT_FALSE(table.updateRow());
    EXPECT_FALSE(table.deleteRow(filter));
    EXPECT_EQ(testing::readBytes(films()), before);
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_NE(sink.messages[0].first.find("Miś"), std::string::npos);
    EXPECT_NE(sink.messages[0].first.find("Usunął go inny program"), std::string::npos);
}

TEST_F(FilmTableTest, ANewFilmRowCarriesNoTextOfTheFilmShownBefore) {
    appendFilms(films(), {makeFilm(2, u"Pan Tadeusz, czyli ostatni zajazd na Litwie")});
    showRow(0);
    table.emptyCurrent();  // "Nowy": the buffer emptied, the old text after each NUL
    ASSERT_TRUE(table.appendRow(false));
    const auto bytes = testing::readBytes(films());
    FilmRecord stored;
    std::memcpy(&stored, bytes.data() + 31888, sizeof stored);
    EXPECT_EQ(stored.id, 3);
    const auto* raw = reinterpret_cast<const unsigned char*>(&stored);
    EXPECT_TRUE(std::all_of(raw + 4, raw + sizeof stored, [](unsigned char b) { return b == 0; }));
}

TEST_F(FilmTableTest, ANewIdLiesAboveEveryIdTheTablesCarry) {
    // The counter (1, from createMissing) is behind: a film 9 is stored, and a detail row of a
    // deleted film 12 is left.
    appendFilms(films(), {makeFilm(9, u"Rejs")});
    pages.largest_film_id = 12;
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_EQ(table.current().id, 13);
    EXPECT_EQ(database.readHeader().last_id, 13);
    pages.largest_film_id = 0;
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_EQ(table.current().id, 14);
}

}  // namespace
}  // namespace ordavo
