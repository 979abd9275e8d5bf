#include <gtest/gtest.h>

#include "search/film_search.h"
#include "search/filter_paging.h"
#include "storage/database.h"
#include "storage/text_field.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

using Counter = std::pair<std::int64_t, std::int64_t>;

Counter counterOf(const FilterState& filter) {
    const RecordCounter counter = filterCounter(filter);
    return {counter.position, counter.count};
}

FilterState filterOf(std::vector<std::int64_t> offsets) {
    FilterState filter;
    EXPECT_TRUE(enterFilterMode(filter, std::move(offsets)));
    return filter;
}

TEST(FilterPagingTest, EnteringStartsAtTheFirstMatch) {
    FilterState filter = filterOf({31888, 95664, 127552});
    EXPECT_TRUE(filter.filter_mode);
    EXPECT_EQ(filter.filter_index, 0);
    EXPECT_EQ(currentFilterOffset(filter), 31888);
    EXPECT_EQ(counterOf(filter), Counter(1, 3));
}

TEST(FilterPagingTest, StepsStopAtBothEndsWithoutWrapping) {
    FilterState filter = filterOf({0, 31888, 63776});
    struct Step {
        FilterStep step;
        FilterStepResult expected;
        std::int32_t index;
    };
    for (const Step& s : {
             Step{FilterStep::Previous, {false, false}, 0},  // "<" at the first does nothing
             Step{FilterStep::First, {false, true}, 0},      // "|<" reloads even when there
             Step{FilterStep::Next, {true, true}, 1},
             Step{FilterStep::Last, {true, true}, 2},
             Step{FilterStep::Next, {false, false}, 2},  // ">" at the last does nothing
             Step{FilterStep::Last, {false, true}, 2},
             Step{FilterStep::Previous, {true, true}, 1},
             Step{FilterStep::First, {true, true}, 0},
         }) {
        const FilterStepResult result = stepFilter(filter, s.step);
        EXPECT_EQ(result.moved, s.expected.moved) << static_cast<int>(s.step);
        EXPECT_EQ(result.reload, s.expected.reload) << static_cast<int>(s.step);
        EXPECT_EQ(filter.filter_index, s.index) << static_cast<int>(s.step);
    }
    stepFilter(filter, FilterStep::Last);
    EXPECT_EQ(counterOf(filter), Counter(3, 3));
    EXPECT_EQ(currentFilterOffset(filter), 63776);
}

TEST(FilterPagingTest, WithOneMatchOnlyFirstAndLastReloadAndNothingMoves) {
    FilterState filter = filterOf({63776});
    for (FilterStep step : {FilterStep::First, FilterStep::Last}) {
        const FilterStepResult result = stepFilter(filter, step);
        EXPECT_FALSE(result.moved);
        EXPECT_TRUE(result.reload);
    }
    for (FilterStep step : {FilterStep::Previous, FilterStep::Next}) {
        const FilterStepResult result = stepFilter(filter, step);
        EXPECT_FALSE(result.moved);
        EXPECT_FALSE(result.reload);
    }
    EXPECT_EQ(currentFilterOffset(filter), 63776);
    EXPECT_EQ(counterOf(filter), Counter(1, 1));
}

TEST(FilterPagingTest, ASecondSearchReplacesTheListOnlyWhenItFindsSomething) {
    FilterState filter = filterOf({0, 31888, 63776});
    stepFilter(filter, FilterStep::Last);

    EXPECT_FALSE(enterFilterMode(filter, {}));  // nothing found: filter and position kept
    EXPECT_TRUE(filter.filter_mode);
    EXPECT_EQ(counterOf(filter), Counter(3, 3));

    EXPECT_TRUE(enterFilterMode(filter, {95664, 127552}));
    EXPECT_EQ(counterOf(filter), Counter(1, 2));
    EXPECT_EQ(currentFilterOffset(filter), 95664);
}

TEST(FilterPagingTest, ClearingLeavesFilterModeAndPagingThenDoesNothingHere) {
    FilterState filter = filterOf({0, 31888});
    stepFilter(filter, FilterStep::Next);
    ClearFilter(filter);
    EXPECT_FALSE(filter.filter_mode);
    EXPECT_TRUE(filter.filter_offsets.empty());
    EXPECT_EQ(filter.filter_index, 0);
    const FilterStepResult result = stepFilter(filter, FilterStep::Last);
    EXPECT_FALSE(result.reload);

    FilterState fresh;
    EXPECT_FALSE(enterFilterMode(fresh, {}));  // a search without matches never enters
    EXPECT_FALSE(fresh.filter_mode);
}

// The whole round as the main window drives it: search, enter, page, show, count, clear.
TEST(FilterPagingTest, PagingShowsTheMatchingFilmsOfTheTable) {
    testing::TempFolder root;
    testing::WorkingFolderScope cwd(root.path());
    testing::RecordingSink sink;
    testing::RecordingHandover pages;
    Database database(buildPaths(), sink);
    database.createMissing(true);
    testing::appendFilms(database.paths().file(DataFile::Films),
                         {testing::makeFilm(2, u"Noc"), testing::makeFilm(3, u"Dzień"),
                          testing::makeFilm(4, u"Noc i dzień"), testing::makeFilm(5, u"Nocą")});
    FilmTable table(database, pages);
    FilterState filter;

    ASSERT_TRUE(
        enterFilterMode(filter, FilmSearch(database.keeper(DataFile::Films)).search(0, u"Noc")));
    ASSERT_TRUE(stepFilter(filter, FilterStep::Last).reload);
    table.current_offset = currentFilterOffset(filter);
    ASSERT_TRUE(table.readRow(false));
    EXPECT_EQ(table.current().id, 5);
    table.refreshCounter(filter);
    EXPECT_EQ(table.counter().position, 3);
    EXPECT_EQ(table.counter().count, 3);

    ASSERT_TRUE(stepFilter(filter, FilterStep::Previous).reload);
    table.current_offset = currentFilterOffset(filter);
    ASSERT_TRUE(table.readRow(false));
    EXPECT_EQ(readText(table.current().title), u"Noc i dzień");

    ClearFilter(filter);
    ASSERT_TRUE(table.readRow(true));
    table.refreshCounter(filter);
    EXPECT_EQ(table.current().id, 2);
    EXPECT_EQ(table.counter().position, 1);
    EXPECT_EQ(table.counter().count, 4);
}

}  // namespace
}  // namespace ordavo
