#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "search/film_search.h"
#include "storage/database.h"
#include "storage/database_paths.h"
#include "storage/file_error.h"
#include "storage/film_table.h"
#include "storage/text_field.h"
#include "testing/file_error_check.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

using testing::makeFilm;

constexpr std::int64_t kRow = kFilmRowSize;
constexpr std::size_t kTitle = 0;
constexpr std::size_t kCinematographer = 10;
constexpr std::size_t kComposer = 12;

FilmRecord filmWith(std::int32_t id, std::string_view member, std::u16string_view text) {
    FilmRecord film = makeFilm(id, u"");
    setFieldText(film, *findFilmField(member), text);
    return film;
}

class FilmSearchTest : public ::testing::Test {
protected:
    FilmSearchTest() { std::filesystem::create_directory(paths.database_folder); }

    void addFilms(const std::vector<FilmRecord>& films) {
        testing::appendFilms(paths.file(DataFile::Films), films);
    }
    std::vector<std::int64_t> search(std::optional<std::size_t> field, std::u16string_view phrase) {
        return films.search(field, phrase);
    }

    testing::TempFolder root;
    DatabasePaths paths = buildPaths(root / "db");
    TableKeeper keeper{paths.file(DataFile::Films)};
    FilmSearch films{keeper};
};

TEST_F(FilmSearchTest, MatchesExactUtf16RunsAnywhereInTheText) {
    addFilms({makeFilm(1, u"Rejs"), makeFilm(2, u"Noc nad Wisłą"), makeFilm(3, u"Wisła")});
    struct Case {
        std::u16string_view phrase;
        std::vector<std::int64_t> offsets;
    };
    for (const Case& c : {
             Case{u"wisł", {}},                // case-sensitive
             Case{u"Wisł", {kRow, 2 * kRow}},  // diacritics compared as they are
             Case{u"Wisla", {}},               // no folding of diacritics
             Case{u"ad W", {kRow}},            // blanks inside the run
             Case{u"Noc nad Wisłą!", {}},      // longer than the text
             Case{u"Noc nad Wisłą", {kRow}},   // the whole text
             Case{u" Noc", {}},                // no trimming
             Case{u"", {0, kRow, 2 * kRow}},   // the empty phrase matches every film
         }) {
        EXPECT_EQ(search(kTitle, c.phrase), c.offsets)
            << std::string(c.phrase.begin(), c.phrase.end());
    }
}

TEST_F(FilmSearchTest, TheEmptyPhraseMatchesEveryRowButNothingElseMatchesAnEmptyField) {
    addFilms({makeFilm(1, u"Rejs"), makeFilm(2, u""), makeFilm(0, u"")});
    EXPECT_EQ(search(kComposer, u""), (std::vector<std::int64_t>{0, kRow, 2 * kRow}));
    EXPECT_TRUE(search(kComposer, u" ").empty());
}

TEST_F(FilmSearchTest, NoFieldChosenMatchesNothingWithoutReadingTheTable) {
    EXPECT_TRUE(search(std::nullopt, u"").empty());  // there is no table at all
    addFilms({makeFilm(1, u"Rejs")});
    EXPECT_TRUE(search(std::nullopt, u"Rejs").empty());
}

TEST_F(FilmSearchTest, AnEmptyTableMatchesNothing) {
    addFilms({});
    EXPECT_TRUE(search(kTitle, u"").empty());
    EXPECT_TRUE(search(kTitle, u"Rejs").empty());
}

TEST_F(FilmSearchTest, EachListPositionSearchesItsOwnField) {
    addFilms({filmWith(1, "cinematographer_name", u"Jerzy Lipman"),
              filmWith(2, "composer_name", u"Krzysztof Komeda")});
    EXPECT_EQ(searchFieldLabel(kCinematographer), "Obsada - Zdjęcia - Imię i Nazwisko");
    EXPECT_EQ(searchFieldLabel(kComposer), "Obsada - Muzyka - Imię i Nazwisko");
    EXPECT_EQ(search(kCinematographer, u"Lipman"), (std::vector<std::int64_t>{0}));
    EXPECT_TRUE(search(kCinematographer, u"Komeda").empty());
    EXPECT_EQ(search(kComposer, u"Komeda"), (std::vector<std::int64_t>{kRow}));
    EXPECT_TRUE(search(kComposer, u"Lipman").empty());
}

TEST_F(FilmSearchTest, TheListKeepsItsOwnOrderAndSpellings) {
    EXPECT_EQ(searchFieldLabel(0), "Tytuł");
    EXPECT_EQ(searchField(3).member, "own_rating_soundtrack");
    EXPECT_EQ(searchFieldLabel(42), "Informacje o Filmie - System Dźwieku - Nazwa");
    EXPECT_EQ(searchFieldLabel(43), "Informacje o Filmie - System Dźwięku - Typ");
    EXPECT_EQ(searchField(48).member, "production_countries");
    EXPECT_THROW(searchField(kSearchFieldCount), std::out_of_range);
    EXPECT_FALSE(findFilmField("front_cover_path")->searchable());
    EXPECT_FALSE(findFilmField("back_cover_path")->searchable());
}

TEST_F(FilmSearchTest, OnlyTheFirst500UnitsOfThePhraseAreSearchedFor) {
    const std::u16string title(500, u'a');
    addFilms({makeFilm(1, title)});
    EXPECT_EQ(search(kTitle, title + u"b"), (std::vector<std::int64_t>{0}));
    EXPECT_TRUE(search(kTitle, std::u16string(499, u'a') + u"b").empty());
}

TEST_F(FilmSearchTest, ATrailingPartialRowIsSearchedAsARowPaddedWithZeros) {
    addFilms({makeFilm(1, u"Rejs"), makeFilm(2, u"Rejs do Rio")});
    testing::truncateFile(paths.file(DataFile::Films), kRow + 4 + 2 * 4);  // "Rejs" of row 2
    EXPECT_EQ(search(kTitle, u"Rejs"), (std::vector<std::int64_t>{0, kRow}));
    EXPECT_EQ(search(kTitle, u"Rejs "), (std::vector<std::int64_t>{}));
}

TEST_F(FilmSearchTest, ASearchAfterAChangeBehindOurBackSeesTheChange) {
    addFilms({makeFilm(1, u"Rejs"), makeFilm(2, u"Miś")});
    const std::filesystem::path table = paths.file(DataFile::Films);
    // An old, settled file, so that what a search read from it may be reused.
    std::filesystem::last_write_time(
        table, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(60));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(search(kTitle, u"Miś"), (std::vector<std::int64_t>{kRow}));
    EXPECT_EQ(search(kTitle, u"Rejs"), (std::vector<std::int64_t>{0}));

    // Another program renames the first film in place: same size, and the old time put back.
    const auto time = std::filesystem::last_write_time(table);
    auto bytes = testing::readBytes(table);
    std::memcpy(bytes.data() + 4, u"Miś", 3 * sizeof(char16_t));
    {
        std::fstream out(table, std::ios::in | std::ios::out | std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::last_write_time(table, time);
    EXPECT_EQ(search(kTitle, u"Miś"), (std::vector<std::int64_t>{0, kRow}));
    EXPECT_TRUE(search(kTitle, u"Rejs").empty());
    // Another database's table of the same size is not mistaken for this one.
    const DatabasePaths other = buildPaths(root / "other");
    std::filesystem::create_directory(other.database_folder);
    testing::appendFilms(other.file(DataFile::Films),
                         {makeFilm(1, u"Rejs"), makeFilm(2, u"Seksmisja")});
    keeper.reset(other.file(DataFile::Films));
    EXPECT_EQ(search(kTitle, u"Rejs"), (std::vector<std::int64_t>{0}));
    keeper.reset(paths.file(DataFile::Films));
    EXPECT_TRUE(search(kTitle, u"Rejs").empty());
}

TEST_F(FilmSearchTest, SearchesFollowOurOwnSavesAndStillSeeOtherProgramsChanges) {
    testing::RecordingSink sink;
    testing::RecordingHandover pages;
    Database database(paths, sink);
    database.createMissing(false);
    addFilms({makeFilm(2, u"Rejs"), makeFilm(3, u"Miś"), makeFilm(4, u"Seksmisja")});
    std::filesystem::last_write_time(
        paths.file(DataFile::Films),
        std::filesystem::file_time_type::clock::now() - std::chrono::seconds(60));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    FilmTable table(database, pages);
    FilmSearch own(database.keeper(DataFile::Films));
    const auto search = [&](std::size_t field, std::u16string_view phrase) {
        return own.search(field, phrase);
    };
    own.prepare(kTitle);  // read ahead, as the search dialog does
    EXPECT_EQ(search(kTitle, u"Miś"), (std::vector<std::int64_t>{kRow}));
    EXPECT_EQ(search(kComposer, u"Komeda"), (std::vector<std::int64_t>{}));

    // Our own writes: a film renamed in place, and a new film appended.
    table.current_offset = 0;
    ASSERT_TRUE(table.readRow(false));
    storeText(table.current().title, u"Miś na lodzie");
    ASSERT_TRUE(table.updateRow());
    storeText(table.current().title, u"Miś II");
    storeText(table.current().composer_name, u"Krzysztof Komeda");
    ASSERT_TRUE(table.appendRow(false));
    EXPECT_EQ(search(kTitle, u"Miś"), (std::vector<std::int64_t>{0, kRow, 3 * kRow}));
    EXPECT_EQ(search(kComposer, u"Komeda"), (std::vector<std::int64_t>{3 * kRow}));
    EXPECT_TRUE(search(kTitle, u"Rejs").empty());

    // Then another program renames the third film in place, the time put back.
    const std::filesystem::path films = paths.file(DataFile::Films);
    const auto time = std::filesystem::last_write_time(films);
    auto bytes = testing::readBytes(films);
    std::memcpy(bytes.data() + 2 * kRow + 4, u"Miś III", 8 * sizeof(char16_t));
    testing::writeBytes(films, bytes);
    std::filesystem::last_write_time(films, time);
    EXPECT_EQ(search(kTitle, u"Miś"), (std::vector<std::int64_t>{0, kRow, 2 * kRow, 3 * kRow}));
}

TEST_F(FilmSearchTest, AMissingTableThrowsFileError) {
    const std::filesystem::path table = paths.file(DataFile::Films);
    EXPECT_TRUE(testing::throwsFileError([&] { search(kTitle, u"Rejs"); }, table,
                                         FileOperation::Open, ENOENT));
    EXPECT_TRUE(testing::throwsFileError([&] { films.prepare(kTitle); }, table, FileOperation::Open,
                                         ENOENT));
}

TEST_F(FilmSearchTest, AReadAheadKeepsOnlyTheLastFieldAndAStoppedOneKeepsNothing) {
    addFilms({testing::makeFilm(2, u"Rejs"), testing::makeFilm(3, u"Miś")});
    // Not written just now: what is read is kept (a table written within the racy margin is
    // read again by each search).
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    films.prepare(kTitle);
    const std::size_t titles = films.keptUnits();
    EXPECT_EQ(titles, 7u);  // "Rejs" and "Miś"
    // Browsing the field list: every other field is read and the one before it let go.
    for (std::size_t field = 1; field < kSearchFieldCount; ++field) {
        films.prepare(field);
    }
    EXPECT_EQ(films.keptUnits(), 0u);  // the last field is empty in both films
    const std::atomic<bool> stopped{true};
    films.prepare(kTitle, &stopped);
    EXPECT_EQ(films.keptUnits(), 0u);
    EXPECT_EQ(search(kTitle, u"Miś"), (std::vector<std::int64_t>{kRow}));
    EXPECT_EQ(films.keptUnits(), titles);
}

}  // namespace
}  // namespace ordavo
