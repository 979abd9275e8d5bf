#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ordavo {

// Where a film-record field is edited.
enum class FilmPage { Main, Rating, Cast, CopyData, FilmInfo };

// The film row of "KR_PDB.kr", in file order: member, byte offset, capacity in UTF-16 units
// (NUL included), group box caption ("" when none), label, and the page that edits it.
// This one list defines the struct, the offset checks and the field table below.
#define ORDAVO_FILM_FIELDS(X)                                                                    \
    X(title, 4, 501, "", "Tytuł", Main)                                                          \
    X(original_title, 1006, 501, "", "Tytuł Oryginalny", Main)                                   \
    X(genre, 2008, 201, "", "Gatunek", Main)                                                     \
    X(front_cover_path, 2410, 241, "", "Okładka - przód", Main)                                  \
    X(back_cover_path, 2892, 241, "", "Okładka - tył", Main)                                     \
    X(own_rating_soundtrack, 3374, 201, "Ocena Własna", "Ścieżka dźwiękowa", Rating)             \
    X(own_rating_cast, 3776, 201, "Ocena Własna", "Obsada", Rating)                              \
    X(own_rating_cinematography, 4178, 201, "Ocena Własna", "Zdjęcia", Rating)                   \
    X(own_rating_artistic_value, 4580, 201, "Ocena Własna", "Wartość artystyczna", Rating)       \
    X(own_rating_overall, 4982, 201, "Ocena Własna", "Całość", Rating)                           \
    X(director_name, 5384, 501, "Reżyser", "Imię i Nazwisko", Cast)                              \
    X(director_nationality, 6386, 501, "Reżyser", "Narodowość", Cast)                            \
    X(screenwriter_name, 7388, 501, "Scenariusz", "Imię i Nazwisko", Cast)                       \
    X(screenwriter_nationality, 8390, 501, "Scenariusz", "Narodowość", Cast)                     \
    X(cinematographer_name, 9392, 501, "Zdjęcia", "Imię i Nazwisko", Cast)                       \
    X(cinematographer_nationality, 10394, 501, "Zdjęcia", "Narodowość", Cast)                    \
    X(composer_name, 11396, 501, "Muzyka", "Imię i Nazwisko", Cast)                              \
    X(composer_nationality, 12398, 501, "Muzyka", "Narodowość", Cast)                            \
    X(price, 13400, 101, "", "Cena", CopyData)                                                   \
    X(current_value, 13602, 101, "", "Wartość aktualna", CopyData)                               \
    X(purchase_date, 13804, 21, "", "Data zakupu", CopyData)                                     \
    X(loss_date, 13846, 21, "", "Data utraty", CopyData)                                         \
    X(catalogue_date, 13888, 21, "", "Data skatalogowania", CopyData)                            \
    X(medium_type, 13930, 201, "", "Rodzaj nośnika", CopyData)                                   \
    X(catalogue_number, 14332, 501, "", "Numer katalogowy", CopyData)                            \
    X(owner_first_name, 15334, 501, "Właściciel", "Imię", CopyData)                              \
    X(owner_last_name, 16336, 501, "Właściciel", "Nazwisko", CopyData)                           \
    X(owner_address, 17338, 501, "Właściciel", "Adres", CopyData)                                \
    X(acquisition_name, 18340, 501, "Miejsce nabycia", "Nazwa", CopyData)                        \
    X(acquisition_address, 19342, 501, "Miejsce nabycia", "Adres", CopyData)                     \
    X(acquisition_phone, 20344, 31, "Miejsce nabycia", "Telefon", CopyData)                      \
    X(acquisition_email, 20406, 201, "Miejsce nabycia", "E-mail", CopyData)                      \
    X(acquisition_www, 20808, 501, "Miejsce nabycia", "Strona WWW", CopyData)                    \
    X(acquisition_fax, 21810, 31, "Miejsce nabycia", "Fax", CopyData)                            \
    X(production_year, 21872, 21, "", "Rok produkcji", FilmInfo)                                 \
    X(premiere_date, 21914, 21, "", "Data premiery", FilmInfo)                                   \
    X(running_time, 21956, 51, "", "Czas trwania", FilmInfo)                                     \
    X(voice_over_languages, 22058, 1001, "", "Język(i) lektora", FilmInfo)                       \
    X(subtitle_languages, 24060, 1001, "", "Język(i) napisów", FilmInfo)                         \
    X(display_format, 26062, 51, "", "Format wyświetlania", FilmInfo)                            \
    X(picture_encoding_system, 26164, 51, "", "System kodowania obrazu", FilmInfo)               \
    X(production_countries, 26266, 1001, "", "Kraj(e) produkcji filmu", FilmInfo)                \
    X(video_codec_name, 28268, 201, "Kodek wideo", "Nazwa", FilmInfo)                            \
    X(video_codec_type, 28670, 201, "Kodek wideo", "Typ", FilmInfo)                              \
    X(video_codec_version, 29072, 201, "Kodek wideo", "Wersja", FilmInfo)                        \
    X(protection_name, 29474, 201, "Zabezpieczenia", "Nazwa", FilmInfo)                          \
    X(protection_type, 29876, 201, "Zabezpieczenia", "Typ", FilmInfo)                            \
    X(protection_version, 30278, 201, "Zabezpieczenia", "Wersja", FilmInfo)                      \
    X(sound_system_name, 30680, 201, "System dźwięku", "Nazwa", FilmInfo)                        \
    X(sound_system_type, 31082, 201, "System dźwięku", "Typ", FilmInfo)                          \
    X(sound_system_version, 31484, 201, "System dźwięku", "Wersja", FilmInfo)

// One row of the film table and the layout of the current-film buffer. Integers little-endian,
// text UTF-16LE. `id` 0 means no film, or a row being deleted.
struct FilmRecord {
    std::int32_t id;
#define ORDAVO_FILM_MEMBER(member, offset, capacity, group, label, page) char16_t member[capacity];
    ORDAVO_FILM_FIELDS(ORDAVO_FILM_MEMBER)
#undef ORDAVO_FILM_MEMBER
    unsigned char padding[2];  // written with the row, never interpreted
};

inline constexpr std::size_t kFilmRowSize = 31888;

static_assert(sizeof(FilmRecord) == kFilmRowSize);
static_assert(offsetof(FilmRecord, id) == 0);
static_assert(offsetof(FilmRecord, padding) == 31886);
#define ORDAVO_FILM_OFFSET_CHECK(member, offset, capacity, group, label, page) \
    static_assert(offsetof(FilmRecord, member) == (offset));
ORDAVO_FILM_FIELDS(ORDAVO_FILM_OFFSET_CHECK)
#undef ORDAVO_FILM_OFFSET_CHECK

// The description of one text field of the film record.
struct FilmFieldInfo {
    std::string_view member;  // name in the struct, e.g. "original_title"
    std::size_t offset;       // byte offset in the row
    std::size_t capacity;     // UTF-16 units including the NUL
    std::string_view group;   // group box caption, "" when the field stands alone
    std::string_view label;   // label in the form
    FilmPage page;
};

inline constexpr std::array kFilmFields = {
#define ORDAVO_FILM_INFO(member, offset, capacity, group, label, page) \
    FilmFieldInfo{#member, offset, capacity, group, label, FilmPage::page},
    ORDAVO_FILM_FIELDS(ORDAVO_FILM_INFO)
#undef ORDAVO_FILM_INFO
};

inline constexpr std::size_t kFilmTextFieldCount = 51;
static_assert(kFilmFields.size() == kFilmTextFieldCount);

// The field of `record` that `info` describes.
inline char16_t* fieldData(FilmRecord& record, const FilmFieldInfo& info) {
    return reinterpret_cast<char16_t*>(reinterpret_cast<unsigned char*>(&record) + info.offset);
}
inline const char16_t* fieldData(const FilmRecord& record, const FilmFieldInfo& info) {
    return reinterpret_cast<const char16_t*>(reinterpret_cast<const unsigned char*>(&record) +
                                             info.offset);
}

// The field table entry of a member name, or nullptr.
const FilmFieldInfo* findFilmField(std::string_view member);

// The text of a field: up to the first NUL, at most capacity - 1 units.
std::u16string_view fieldText(const FilmRecord& record, const FilmFieldInfo& info);
// Stores text cut to capacity - 1 units; units after the NUL are left as they were.
void setFieldText(FilmRecord& record, const FilmFieldInfo& info, std::u16string_view text);

// A zero-filled record: `id` 0, every text empty, padding zero.
FilmRecord zeroFilmRecord();
// Empties the buffer as a new film or a database switch does: the first unit of every text field
// becomes NUL (what follows stays), and `id` becomes 0.
void emptyFilmRecord(FilmRecord& record);

}  // namespace ordavo
