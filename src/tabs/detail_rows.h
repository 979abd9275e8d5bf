#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "storage/database_paths.h"
#include "storage/page_handover.h"

namespace ordavo {

// One text field of a detail row layout. Fields are listed in file order; `column` gives the
// field's place among the list columns, which differs from the file order for the loans.
struct DetailField {
    std::string_view member;        // name in the row struct, e.g. "full_name"
    std::size_t offset;             // byte offset in the row
    std::size_t width;              // UTF-16 units, NUL included
    std::size_t column;             // index of the list column that shows the field
    std::string_view column_title;  // list column title
    int column_width;               // list column width in pixels
    std::size_t edit_limit;         // units (NUL included) Edit takes from the cell into the box
    std::string_view editor_label;  // label of the field's box in the row editor
    std::string_view csv_header;    // column name in the CSV export
};

// Everything particular to one detail table.
struct DetailLayout {
    std::string_view row_type;  // the row type's name, e.g. "Obsada"
    DetailList list;
    DataFile file;
    std::size_t row_size;
    std::span<const DetailField> fields;  // file order
    std::string_view csv_title;           // section title line in the CSV export
};

// Every row begins with its identifier and its film's id.
inline constexpr std::size_t kRowIdOffset = 0;
inline constexpr std::size_t kRowFilmIdOffset = 4;
inline constexpr std::size_t kFirstTextOffset = 8;
// The "ID" and "IDPDB" columns follow the text columns; both 150 pixels wide.
inline constexpr int kIdColumnWidth = 150;
// Edit reads the "ID" and "IDPDB" cells with this limit (units, NUL included).
inline constexpr std::size_t kIdCellLimit = 34;

// Each layout: X(member, offset, width, column, column title, column width, edit limit,
//                editor label, CSV header), in file order.

#define ORDAVO_OCENA_FIELDS(X)                                                            \
    X(source_name, 8, 201, 0, "Nazwa", 150, 201, "Nazwa", "Nazwa")                        \
    X(text_title, 410, 201, 1, "Tytuł tekstu", 150, 201, "Tytuł tekstu", "Tytuł tekstu")  \
    X(text_author, 812, 201, 2, "Autor tekstu", 150, 201, "Autor tekstu", "Autor tekstu") \
    X(web_page, 1214, 501, 3, "Strona WWW", 150, 501, "Strona WWW", "Strona WWW")         \
    X(critic_rating, 2216, 201, 4, "Ocena krytyka", 150, 201, "Ocena krytyka", "Ocena krytyka")

#define ORDAVO_OBSADA_FIELDS(X)                                                                 \
    X(full_name, 8, 501, 0, "Imię i Nazwisko", 150, 501, "Imię i Nazwisko", " Imię i Nazwisko") \
    X(role, 1010, 201, 1, "Rola", 150, 201, "Rola", " Rola")

// Producers and distributors share one layout; their lists differ in two widths and one title.
#define ORDAVO_COMPANY_FIELDS(X, PHONE_WIDTH, EMAIL_TITLE)                            \
    X(company_name, 8, 501, 0, "Nazwa firmy", 150, 501, "Nazwa firmy", "Nazwa Firmy") \
    X(address, 1010, 501, 1, "Adres", 150, 501, "Adres", "Adres")                     \
    X(phone, 2012, 31, 2, "Telefon", PHONE_WIDTH, 31, "Telefon", "Telefon")           \
    X(fax, 2074, 31, 3, "Fax", PHONE_WIDTH, 31, "Fax", "Fax")                         \
    X(email, 2136, 201, 4, EMAIL_TITLE, 150, 201, "E-mail", "E-mail")                 \
    X(www, 2538, 501, 5, "Strona WWW", 150, 501, "WWW", "Strona WWW")                 \
    X(nationality, 3540, 201, 6, "Narodowość", 150, 201, "Narodowość", "Narodowość")

#define ORDAVO_LOK_FIELDS(X)                                                               \
    X(object_name, 8, 501, 0, "Nazwa obiektu", 150, 501, "Nazwa obiektu", "Nazwa obiektu") \
    X(country, 1010, 501, 1, "Kraj", 150, 501, "Kraj", "Kraj")                             \
    X(locality, 2012, 501, 2, "Miejscowość", 150, 501, "Miejscowość", "Miejscowość")       \
    X(region, 3014, 501, 3, "Region", 150, 501, "Region", "Region")                        \
    X(season, 4016, 501, 4, "Pora roku", 150, 501, "Pora Roku", "Pora roku")               \
    X(date, 5018, 21, 5, "Data", 100, 21, "Data", "Data")

// The loans store the return date second but show it third. The two loan editors label the
// condition before the loan differently (the lower one misspelt, as the users know it).
#define ORDAVO_LOAN_FIELDS(X, BEFORE_LABEL)                                                        \
    X(loan_date, 8, 21, 0, "Data wypożyczenia", 100, 21, "Data wypożyczenia", "Data wypożyczenia") \
    X(return_date, 50, 21, 2, "Data oddania", 100, 21, "Data oddania", "Data oddania")             \
    X(condition_before, 92, 501, 1, "Stan przed wypożyczeniem", 150, 501, BEFORE_LABEL,            \
      "Stan przed wypożyczeniem")                                                                  \
    X(condition_after, 1094, 501, 3, "Stan po oddaniu", 150, 501, "Stan po oddaniu",               \
      "Stan po oddaniu")                                                                           \
    X(person, 2096, 501, 4, "Osoba", 150, 501, "Osoba", "Osoba")                                   \
    X(film_catalogue_number, 3098, 501, 5, "Nr katalogowy filmu", 150, 501, "Nr Katalogowy",       \
      "Nr katalogowy")

#define ORDAVO_ROW_MEMBER(member, offset, width, ...) char16_t member[width];
#define ORDAVO_ROW_FIELD_INFO(member, offset, width, column, title, column_width, limit, label, \
                              csv)                                                              \
    DetailField{#member, offset, width, column, title, column_width, limit, label, csv},

struct Ocena {
    std::int32_t ID;
    std::int32_t IDPDB;
    ORDAVO_OCENA_FIELDS(ORDAVO_ROW_MEMBER)
    unsigned char padding[2];
};

struct Obsada {
    std::int32_t ID;
    std::int32_t IDPDB;
    ORDAVO_OBSADA_FIELDS(ORDAVO_ROW_MEMBER)
};

struct Producent {
    std::int32_t ID;
    std::int32_t IDPDB;
    ORDAVO_COMPANY_FIELDS(ORDAVO_ROW_MEMBER, 0, "")
    unsigned char padding[2];
};

struct Dystrybutor {
    std::int32_t ID;
    std::int32_t IDPDB;
    ORDAVO_COMPANY_FIELDS(ORDAVO_ROW_MEMBER, 0, "")
    unsigned char padding[2];
};

struct Lok_zdjeciowe {
    std::int32_t ID;
    std::int32_t IDPDB;
    ORDAVO_LOK_FIELDS(ORDAVO_ROW_MEMBER)
};

struct Wypozycz_Innym {
    std::int32_t ID;
    std::int32_t IDPDB;
    ORDAVO_LOAN_FIELDS(ORDAVO_ROW_MEMBER, "")
};

struct Wypozycz_Od_Innych {
    std::int32_t ID;
    std::int32_t IDPDB;
    ORDAVO_LOAN_FIELDS(ORDAVO_ROW_MEMBER, "")
};

static_assert(sizeof(Ocena) == 2620);
static_assert(sizeof(Obsada) == 1412);
static_assert(sizeof(Producent) == 3944);
static_assert(sizeof(Dystrybutor) == 3944);
static_assert(sizeof(Lok_zdjeciowe) == 5060);
static_assert(sizeof(Wypozycz_Innym) == 4100);
static_assert(sizeof(Wypozycz_Od_Innych) == 4100);

#define ORDAVO_CHECK_OFFSET(Row) \
    static_assert(offsetof(Row, ID) == kRowIdOffset && offsetof(Row, IDPDB) == kRowFilmIdOffset);
ORDAVO_CHECK_OFFSET(Ocena)
ORDAVO_CHECK_OFFSET(Obsada)
ORDAVO_CHECK_OFFSET(Producent)
ORDAVO_CHECK_OFFSET(Dystrybutor)
ORDAVO_CHECK_OFFSET(Lok_zdjeciowe)
ORDAVO_CHECK_OFFSET(Wypozycz_Innym)
ORDAVO_CHECK_OFFSET(Wypozycz_Od_Innych)
#undef ORDAVO_CHECK_OFFSET

#define ORDAVO_FIELD_OFFSET_CHECK(Row, member, offset) \
    static_assert(offsetof(Row, member) == offset);
#define ORDAVO_OCENA_CHECK(member, offset, ...) ORDAVO_FIELD_OFFSET_CHECK(Ocena, member, offset)
#define ORDAVO_OBSADA_CHECK(member, offset, ...) ORDAVO_FIELD_OFFSET_CHECK(Obsada, member, offset)
#define ORDAVO_PRODUCENT_CHECK(member, offset, ...) \
    ORDAVO_FIELD_OFFSET_CHECK(Producent, member, offset)
#define ORDAVO_DYSTRYBUTOR_CHECK(member, offset, ...) \
    ORDAVO_FIELD_OFFSET_CHECK(Dystrybutor, member, offset)
#define ORDAVO_LOK_CHECK(member, offset, ...) \
    ORDAVO_FIELD_OFFSET_CHECK(Lok_zdjeciowe, member, offset)
#define ORDAVO_WI_CHECK(member, offset, ...) \
    ORDAVO_FIELD_OFFSET_CHECK(Wypozycz_Innym, member, offset)
#define ORDAVO_WO_CHECK(member, offset, ...) \
    ORDAVO_FIELD_OFFSET_CHECK(Wypozycz_Od_Innych, member, offset)
ORDAVO_OCENA_FIELDS(ORDAVO_OCENA_CHECK)
ORDAVO_OBSADA_FIELDS(ORDAVO_OBSADA_CHECK)
ORDAVO_COMPANY_FIELDS(ORDAVO_PRODUCENT_CHECK, 0, "")
ORDAVO_COMPANY_FIELDS(ORDAVO_DYSTRYBUTOR_CHECK, 0, "")
ORDAVO_LOK_FIELDS(ORDAVO_LOK_CHECK)
ORDAVO_LOAN_FIELDS(ORDAVO_WI_CHECK, "")
ORDAVO_LOAN_FIELDS(ORDAVO_WO_CHECK, "")

inline constexpr std::array kOcenaFields = {ORDAVO_OCENA_FIELDS(ORDAVO_ROW_FIELD_INFO)};
inline constexpr std::array kObsadaFields = {ORDAVO_OBSADA_FIELDS(ORDAVO_ROW_FIELD_INFO)};
inline constexpr std::array kProducentFields = {
    ORDAVO_COMPANY_FIELDS(ORDAVO_ROW_FIELD_INFO, 100, "E-Mail")};
inline constexpr std::array kDystrybutorFields = {
    ORDAVO_COMPANY_FIELDS(ORDAVO_ROW_FIELD_INFO, 150, "E-mail")};
inline constexpr std::array kLokFields = {ORDAVO_LOK_FIELDS(ORDAVO_ROW_FIELD_INFO)};
inline constexpr std::array kWypozyczInnymFields = {
    ORDAVO_LOAN_FIELDS(ORDAVO_ROW_FIELD_INFO, "Stan przed wypożyczeniem")};
inline constexpr std::array kWypozyczOdInnychFields = {
    ORDAVO_LOAN_FIELDS(ORDAVO_ROW_FIELD_INFO, "Stan przed wypożyczeniam")};
// The columns and CSV headers both loan tables share.
inline constexpr const auto& kLoanFields = kWypozyczInnymFields;

#undef ORDAVO_FIELD_OFFSET_CHECK
#undef ORDAVO_OCENA_CHECK
#undef ORDAVO_OBSADA_CHECK
#undef ORDAVO_PRODUCENT_CHECK
#undef ORDAVO_DYSTRYBUTOR_CHECK
#undef ORDAVO_LOK_CHECK
#undef ORDAVO_WI_CHECK
#undef ORDAVO_WO_CHECK
#undef ORDAVO_ROW_MEMBER
#undef ORDAVO_ROW_FIELD_INFO

inline constexpr DetailLayout kOcenaLayout{"Ocena",       DetailList::Reviews, DataFile::Reviews,
                                           sizeof(Ocena), kOcenaFields,        "Tabela Ocena"};
inline constexpr DetailLayout kObsadaLayout{"Obsada",       DetailList::Cast, DataFile::Cast,
                                            sizeof(Obsada), kObsadaFields,    "Tabela Obsada"};
inline constexpr DetailLayout kProducentLayout{"Producent",         DetailList::Producers,
                                               DataFile::Producers, sizeof(Producent),
                                               kProducentFields,    "Tabela Produkcja"};
inline constexpr DetailLayout kDystrybutorLayout{"Dystrybutor",          DetailList::Distributors,
                                                 DataFile::Distributors, sizeof(Dystrybutor),
                                                 kDystrybutorFields,     "Tabela Dystrybucja"};
inline constexpr DetailLayout kLokLayout{"Lok_zdjeciowe",     DetailList::Locations,
                                         DataFile::Locations, sizeof(Lok_zdjeciowe),
                                         kLokFields,          "Tabela Lokalizacje Zdjęciowe"};
inline constexpr DetailLayout kWypozyczInnymLayout{
    "Wypozycz_Innym",       DetailList::LoansTo,  DataFile::LoansTo,
    sizeof(Wypozycz_Innym), kWypozyczInnymFields, "Tabela Wypożyczenia Innym Osobom"};
inline constexpr DetailLayout kWypozyczOdInnychLayout{
    "Wypozycz_Od_Innych",       DetailList::LoansFrom,   DataFile::LoansFrom,
    sizeof(Wypozycz_Od_Innych), kWypozyczOdInnychFields, "Tabela Wypożyczenia od Innych Osób"};

// The layout of each list's table.
const DetailLayout& detailLayout(DetailList list);

// The text every field of a new row shows until the user types over it.
inline constexpr std::u16string_view kNewRowText = u"Wpisz tutaj coś";

}  // namespace ordavo
