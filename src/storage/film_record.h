#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ordavo {

// Where a film-record field is edited.
enum class FilmPage { Main, Rating, Cast, CopyData, FilmInfo };

// The film row of "KR_PDB.kr", in file order: member, byte offset, capacity in UTF-16 units
// (NUL included), group box caption ("" when none), label, the page that edits it, the entry of
// the search field list ("" for the two cover paths, which cannot be searched), and the column
// name in the CSV export.
// This one list defines the struct, the offset checks and the field table below.
#define ORDAVO_FILM_FIELDS(X)                                                                      \
    X(title, 4, 501, "", "Tytuł", Main, "Tytuł", "tytuł")                                          \
    X(original_title, 1006, 501, "", "Tytuł Oryginalny", Main, "Tytuł oryginalny",                 \
      "oryginalny tytuł")                                                                          \
    X(genre, 2008, 201, "", "Gatunek", Main, "Gatunek", "gatunek filmu")                           \
    X(front_cover_path, 2410, 241, "", "Okładka - przód", Main, "",                                \
      "Scieżka - skan okładki - przód")                                                            \
    X(back_cover_path, 2892, 241, "", "Okładka - tył", Main, "", "Scieżka - skan okładki - tył")   \
    X(own_rating_soundtrack, 3374, 201, "Ocena Własna", "Ścieżka dźwiękowa", Rating,               \
      "Ocena - Ścieżka dźwiękowa", "Ocena - Własna Ocena Filmu - Ścieżka dźwiękowa")               \
    X(own_rating_cast, 3776, 201, "Ocena Własna", "Obsada", Rating, "Ocena - Obsada",              \
      "Ocena - Własna Ocena Filmu - Obsada")                                                       \
    X(own_rating_cinematography, 4178, 201, "Ocena Własna", "Zdjęcia", Rating, "Ocena - Zdjęcia",  \
      "Ocena - Własna Ocena Filmu - Zdjęcia")                                                      \
    X(own_rating_artistic_value, 4580, 201, "Ocena Własna", "Wartość artystyczna", Rating,         \
      "Ocena - Wartość artystyczna", "Ocena - Własna Ocena Filmu - Wartośc artystyczna")           \
    X(own_rating_overall, 4982, 201, "Ocena Własna", "Całość", Rating, "Ocena - Całość",           \
      "Ocena - Własna Ocena Filmu - Całość")                                                       \
    X(director_name, 5384, 501, "Reżyser", "Imię i Nazwisko", Cast,                                \
      "Obsada - Reżyser - Imię i Nazwisko", "Obsada - Reżyser - Imie i Nazwisko")                  \
    X(director_nationality, 6386, 501, "Reżyser", "Narodowość", Cast,                              \
      "Obsada - Reżyser - Narodowość", "Obsada - Reżyser - Narodowość")                            \
    X(screenwriter_name, 7388, 501, "Scenariusz", "Imię i Nazwisko", Cast,                         \
      "Obsada - Scenariusz - Imię i Nazwisko", "Obsada - Scenarzysta - Imię i Nazwisko")           \
    X(screenwriter_nationality, 8390, 501, "Scenariusz", "Narodowość", Cast,                       \
      "Obsada - Scenariusz - Narodowość", "Obsada - Scenarzysta - Narodowość")                     \
    X(cinematographer_name, 9392, 501, "Zdjęcia", "Imię i Nazwisko", Cast,                         \
      "Obsada - Zdjęcia - Imię i Nazwisko", "Obsada - Zdjęcia - Imię i Nazwisko")                  \
    X(cinematographer_nationality, 10394, 501, "Zdjęcia", "Narodowość", Cast,                      \
      "Obsada - Zdjęcia - Narodowość", "Obsada - Zdjęcia - Narodowość")                            \
    X(composer_name, 11396, 501, "Muzyka", "Imię i Nazwisko", Cast,                                \
      "Obsada - Muzyka - Imię i Nazwisko", "Obsada - Muzyka - Imie i Nazwisko")                    \
    X(composer_nationality, 12398, 501, "Muzyka", "Narodowość", Cast,                              \
      "Obsada - Muzyka - Narodowość", "Obsada - Muzyka - Narodowość")                              \
    X(price, 13400, 101, "", "Cena", CopyData, "Dane o Egzemplarzu - Cena",                        \
      "Dane o Egzemplarzu - Cena")                                                                 \
    X(current_value, 13602, 101, "", "Wartość aktualna", CopyData,                                 \
      "Dane o Egzemplarzu - Wartość aktualna", "Dane o Egzemplarzu - Wartość aktualna")            \
    X(purchase_date, 13804, 21, "", "Data zakupu", CopyData, "Dane o Egzemplarzu - Data zakupu",   \
      "Dane o Egzemplarzu - Data zakupu")                                                          \
    X(loss_date, 13846, 21, "", "Data utraty", CopyData, "Dane o Egzemplarzu - Data utraty",       \
      "Dane o Egzemplarzu - Data utraty")                                                          \
    X(catalogue_date, 13888, 21, "", "Data skatalogowania", CopyData,                              \
      "Dane o Egzemplarzu - Data skatalogowania", "Dane o Egzemplarzu - Data skatalogowania")      \
    X(medium_type, 13930, 201, "", "Rodzaj nośnika", CopyData,                                     \
      "Dane o Egzemplarzu - Rodzaj nośnika", "Dane o Egzemplarzu - Nośnik")                        \
    X(catalogue_number, 14332, 501, "", "Numer katalogowy", CopyData,                              \
      "Dane o Egzemplarzu - Nr katalogowy", "Dane o Egzemplarzu - Nr katalogowy")                  \
    X(owner_first_name, 15334, 501, "Właściciel", "Imię", CopyData,                                \
      "Dane o Egzemplarzu - Właściciel - Imię",                                                    \
      "Dane o Egzemplarzu - Właściciel Kopii Filmu - Imię")                                        \
    X(owner_last_name, 16336, 501, "Właściciel", "Nazwisko", CopyData,                             \
      "Dane o Egzemplarzu - Właściciel - Nazwisko",                                                \
      "Dane o Egzemplarzu - Właściciel Kopii Filmu - Nazwisko")                                    \
    X(owner_address, 17338, 501, "Właściciel", "Adres", CopyData,                                  \
      "Dane o Egzemplarzu - Właściciel - Adres",                                                   \
      "Dane o Egzemplarzu - Właściciel Kopii Filmu - Adres")                                       \
    X(acquisition_name, 18340, 501, "Miejsce nabycia", "Nazwa", CopyData,                          \
      "Dane o Egzemplarzu - Miejsce nabycia - Nazwa",                                              \
      "Dane o Egzemplarzu - Miejsce Nabycia - Nazwa")                                              \
    X(acquisition_address, 19342, 501, "Miejsce nabycia", "Adres", CopyData,                       \
      "Dane o Egzemplarzu - Miejsce nabycia - Adres",                                              \
      "Dane o Egzemplarzu - Miejsce Nabycia - Adres")                                              \
    X(acquisition_phone, 20344, 31, "Miejsce nabycia", "Telefon", CopyData,                        \
      "Dane o Egzemplarzu - Miejsce nabycia - Telefon",                                            \
      "Dane o Egzemplarzu - Miejsce Nabycia - Telefon")                                            \
    X(acquisition_email, 20406, 201, "Miejsce nabycia", "E-mail", CopyData,                        \
      "Dane o Egzemplarzu - Miejsce nabycia - E-mail",                                             \
      "Dane o Egzemplarzu - Miejsce Nabycia - E-mail")                                             \
    X(acquisition_www, 20808, 501, "Miejsce nabycia", "Strona WWW", CopyData,                      \
      "Dane o Egzemplarzu - Miejsce nabycia - WWW", "Dane o Egzemplarzu - Miejsce Nabycia - WWW")  \
    X(acquisition_fax, 21810, 31, "Miejsce nabycia", "Fax", CopyData,                              \
      "Dane o Egzemplarzu - Miejsce nabycia - Fax", "Dane o Egzemplarzu - Miejsce Nabycia - Fax")  \
    X(production_year, 21872, 21, "", "Rok produkcji", FilmInfo,                                   \
      "Informacje o Filmie - Rok produkcji", "Informacje o Filmie - Rok produkcji")                \
    X(premiere_date, 21914, 21, "", "Data premiery", FilmInfo,                                     \
      "Informacje o Filmie - Data premiery", "Informacje o Filmie - Data premiery")                \
    X(running_time, 21956, 51, "", "Czas trwania", FilmInfo, "Informacje o Filmie - Czas trwania", \
      "Informacje o Filmie - Czas trwania")                                                        \
    X(voice_over_languages, 22058, 1001, "", "Język(i) lektora", FilmInfo,                         \
      "Informacje o Filmie - Język(i) lektora", "Informacje o Filmie - język lektora")             \
    X(subtitle_languages, 24060, 1001, "", "Język(i) napisów", FilmInfo,                           \
      "Informacje o Filmie - Język(i) napisów", "Informacje o Filmie - język napisów")             \
    X(display_format, 26062, 51, "", "Format wyświetlania", FilmInfo,                              \
      "Informacje o Filmie - Format wyświetlania", "Informacje o Filmie - Format wyświetlania")    \
    X(picture_encoding_system, 26164, 51, "", "System kodowania obrazu", FilmInfo,                 \
      "Informacje o Filmie - System kodowania obrazu",                                             \
      "Informacje o Filmie - System kodowania obrazu")                                             \
    X(production_countries, 26266, 1001, "", "Kraj(e) produkcji filmu", FilmInfo,                  \
      "Informacje o Filmie - Kraj(e) produkcji filmu",                                             \
      "Informacje o Filmie - Kraj produkcji filmu")                                                \
    X(video_codec_name, 28268, 201, "Kodek wideo", "Nazwa", FilmInfo,                              \
      "Informacje o Filmie - Kodek wideo - Nazwa", "Informacje o Filmie - Kodek wideo - nazwa")    \
    X(video_codec_type, 28670, 201, "Kodek wideo", "Typ", FilmInfo,                                \
      "Informacje o Filmie - Kodek wideo - Typ", "Informacje o Filmie - Kodek wideo - typ")        \
    X(video_codec_version, 29072, 201, "Kodek wideo", "Wersja", FilmInfo,                          \
      "Informacje o Filmie - Kodek wideo - Wersja", "Informacje o Filmie - Kodek wideo - wersja")  \
    X(protection_name, 29474, 201, "Zabezpieczenia", "Nazwa", FilmInfo,                            \
      "Informacje o Filmie - Zabezpieczenia - Nazwa",                                              \
      "Informacje o Filmie - Zabezpieczenia - nazwa")                                              \
    X(protection_type, 29876, 201, "Zabezpieczenia", "Typ", FilmInfo,                              \
      "Informacje o Filmie - Zabezpieczenia - Typ", "Informacje o Filmie - Zabezpieczenia - typ")  \
    X(protection_version, 30278, 201, "Zabezpieczenia", "Wersja", FilmInfo,                        \
      "Informacje o Filmie - Zabezpieczenia - Wersja",                                             \
      "Informacje o Filmie - Zabezpieczenia - wersja")                                             \
    X(sound_system_name, 30680, 201, "System dźwięku", "Nazwa", FilmInfo,                          \
      "Informacje o Filmie - System Dźwieku - Nazwa",                                              \
      "Informacje o Filmie - Kodek dźwięku - nazwa")                                               \
    X(sound_system_type, 31082, 201, "System dźwięku", "Typ", FilmInfo,                            \
      "Informacje o Filmie - System Dźwięku - Typ", "Informacje o Filmie - Kodek dźwięku - typ")   \
    X(sound_system_version, 31484, 201, "System dźwięku", "Wersja", FilmInfo,                      \
      "Informacje o Filmie - System Dźwięku - Wersja",                                             \
      "Informacje o Filmie - Kodek dźwięku - wersja")

// One row of the film table and the layout of the current-film buffer. Integers little-endian,
// text UTF-16LE. `id` 0 means no film, or a row being deleted.
struct FilmRecord {
    std::int32_t id;
#define ORDAVO_FILM_MEMBER(member, offset, capacity, ...) char16_t member[capacity];
    ORDAVO_FILM_FIELDS(ORDAVO_FILM_MEMBER)
#undef ORDAVO_FILM_MEMBER
    unsigned char padding[2];  // written with the row, never interpreted
};

inline constexpr std::size_t kFilmRowSize = 31888;

static_assert(sizeof(FilmRecord) == kFilmRowSize);
static_assert(offsetof(FilmRecord, id) == 0);
static_assert(offsetof(FilmRecord, padding) == 31886);
#define ORDAVO_FILM_OFFSET_CHECK(member, offset, ...) \
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
    std::string_view search_label;  // entry of the search field list, "" when not searchable
    std::string_view csv_header;    // column name in the CSV export

    constexpr bool searchable() const { return !search_label.empty(); }
};

inline constexpr std::array kFilmFields = {
#define ORDAVO_FILM_INFO(member, offset, capacity, group, label, page, search, csv) \
    FilmFieldInfo{#member, offset, capacity, group, label, FilmPage::page, search, csv},
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

// The index in kFilmFields of a member name, or kFilmFields.size() when there is none. Lets other
// modules name fields in their own orders and have the names checked at compile time.
constexpr std::size_t filmFieldIndex(std::string_view member) {
    std::size_t index = 0;
    while (index < kFilmFields.size() && kFilmFields[index].member != member) {
        ++index;
    }
    return index;
}

// A field of the table named by its member at compile time: a name the table lacks does not
// compile, and the field is found without a search.
struct FilmFieldId {
    consteval FilmFieldId(std::string_view member) : index(filmFieldIndex(member)) {
        if (index >= kFilmFields.size()) {
            throw "no film field of that name";  // not a constant expression: a compile error
        }
    }
    template <std::size_t N>
    consteval FilmFieldId(const char (&member)[N]) : FilmFieldId(std::string_view(member, N - 1)) {}
    constexpr const FilmFieldInfo& info() const { return kFilmFields[index]; }

    std::size_t index;
};

// The field table entry of a member name, or nullptr (for names that come at run time).
const FilmFieldInfo* findFilmField(std::string_view member);

// The suggestions a field's drop-down offers; none for a field without one.
inline constexpr std::array<std::string_view, 9> kGenreChoices = {
    "Akcja",    "Komedia",  "Dramat",       "Horror", "Dokument",
    "Kryminał", "Sensacja", "Paradokument", "Bajka"};
inline constexpr std::array<std::string_view, 5> kMediumTypeChoices = {"DVD-ROM", "VCD", "BD-DVD",
                                                                       "HD-DVD", "VHS"};
constexpr std::span<const std::string_view> choicesOf(FilmFieldId field) {
    if (field.index == FilmFieldId("genre").index) {
        return kGenreChoices;
    }
    if (field.index == FilmFieldId("medium_type").index) {
        return kMediumTypeChoices;
    }
    return {};
}

// The text of a field: up to the first NUL, at most capacity - 1 units.
std::u16string_view fieldText(const FilmRecord& record, const FilmFieldInfo& info);
// Stores text cut to capacity - 1 units; units after the NUL are left as they were.
void setFieldText(FilmRecord& record, const FilmFieldInfo& info, std::u16string_view text);

// A zero-filled record: `id` 0, every text empty, padding zero.
FilmRecord zeroFilmRecord();
// Empties the buffer as a new film or a database switch does: the first unit of every text field
// becomes NUL (what follows stays), and `id` becomes 0.
void emptyFilmRecord(FilmRecord& record);
// Zeroes the units after each text field's NUL, so that a row written from the buffer carries no
// text of a film it held before.
void clearUnusedUnits(FilmRecord& record);

}  // namespace ordavo
