#include <gtest/gtest.h>

#include <string>

#include "storage/film_record.h"
#include "storage/text_field.h"

namespace ordavo {
namespace {

const FilmFieldInfo& field(std::string_view member) {
    return *findFilmField(member);
}

TEST(FilmRecordTest, TheFieldTableTilesTheRowWithoutGaps) {
    std::size_t next = 4;
    for (const FilmFieldInfo& info : kFilmFields) {
        EXPECT_EQ(info.offset, next) << info.member;
        next = info.offset + 2 * info.capacity;
    }
    EXPECT_EQ(next, 31886u);
}

TEST(FilmRecordTest, StoringCutsToCapacityMinusOneUnits) {
    struct Case {
        const char* member;
        std::size_t kept;
    };
    for (const Case& c :
         {Case{"title", 500}, Case{"running_time", 50}, Case{"acquisition_phone", 30},
          Case{"acquisition_fax", 30}, Case{"purchase_date", 20}, Case{"production_year", 20},
          Case{"production_countries", 1000}, Case{"front_cover_path", 240}}) {
        FilmRecord film = zeroFilmRecord();
        const std::u16string exact(c.kept, u'ą');
        setFieldText(film, field(c.member), exact);
        EXPECT_EQ(fieldText(film, field(c.member)), exact) << c.member;
        setFieldText(film, field(c.member), exact + u"ż");
        EXPECT_EQ(fieldText(film, field(c.member)), exact) << c.member;
    }
}

TEST(FilmRecordTest, ACutNeverSplitsALetter) {
    // "purchase_date" keeps 20 units; each case puts a letter of several units across unit 20.
    struct Case {
        std::u16string_view letter;
        const char* what;
    };
    for (const Case& c : {Case{u"\U0001F3AC", "a surrogate pair"},
                          Case{u"a\u0328", "a base letter and a combining ogonek"},
                          Case{u"z\u0307\u0301", "a base letter and two marks"},
                          Case{u"\U0001F1F5\U0001F1F1", "a flag of two regional indicators"}}) {
        for (std::size_t before = 16; before < 20; ++before) {
            FilmRecord film = zeroFilmRecord();
            std::u16string text(before, u'a');
            text += c.letter;
            text += u"koniec";
            setFieldText(film, field("purchase_date"), text);
            const std::u16string_view kept = fieldText(film, field("purchase_date"));
            const bool fits = before + c.letter.size() <= 20;
            // When the letter fits, plain letters fill the rest of the field.
            EXPECT_EQ(kept, std::u16string_view(text).substr(0, fits ? 20 : before))
                << c.what << ", " << before << " units before it";
        }
    }
}

TEST(FilmRecordTest, ReadingStopsAtTheFirstNulOrAtCapacityMinusOne) {
    FilmRecord film = zeroFilmRecord();
    std::fill(std::begin(film.genre), std::end(film.genre), u'x');  // no NUL anywhere
    EXPECT_EQ(fieldText(film, field("genre")), std::u16string(200, u'x'));
    EXPECT_EQ(film.original_title[0], u'\0');  // nothing read from the next field

    setFieldText(film, field("genre"), u"dramat");
    EXPECT_EQ(fieldText(film, field("genre")), u"dramat");
}

TEST(FilmRecordTest, EmptyingKeepsOldUnitsBehindTheTerminators) {
    FilmRecord film = zeroFilmRecord();
    film.id = 17;
    setFieldText(film, field("title"), u"Noc nad Wisłą");
    film.padding[0] = 0x5A;
    emptyFilmRecord(film);
    EXPECT_EQ(film.id, 0);
    for (const FilmFieldInfo& info : kFilmFields) {
        EXPECT_TRUE(fieldText(film, info).empty()) << info.member;
    }
    EXPECT_EQ(film.title[1], u'o');  // the old text stays after the terminator
    EXPECT_EQ(film.padding[0], 0x5A);
}

}  // namespace
}  // namespace ordavo
