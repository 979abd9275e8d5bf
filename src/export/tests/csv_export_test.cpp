#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/tests/csv_export_fixture.h"

namespace ordavo {
namespace {

using namespace export_testing;

TEST_F(CsvExportTest, AllSectionsOffLeaveOnlyTheBanner) {
    EXPECT_EQ(exportBytes(ExportScope::WholeDatabase, 0, kNoSections),
              "Ordavo - wyeksportowane dane \r\n");
    EXPECT_EQ(exportBytes(ExportScope::CurrentFilm, 0, kNoSections),
              "Ordavo - wyeksportowane dane\r\n");
}

TEST_F(CsvExportTest, WholeDatabaseWritesEverySectionInItsOrderWithQuotesDoubled) {
    addFilms({makeFilm(2, u"Rejs, czyli \"statek\""), makeFilm(-3, u"Miś")});
    addRows<Ocena>(DataFile::Reviews,
                   {makeRow<Ocena>(kOcenaLayout, 7, 2, {u"Kino"}),
                    makeRow<Ocena>(kOcenaLayout, 8, -3), makeRow<Ocena>(kOcenaLayout, 9, 2)});
    const std::vector<Line> lines = exportLines(ExportScope::WholeDatabase, 0);

    std::vector<std::string> titles;
    for (const Line& line : lines) {
        if (line.size() == 1) {
            titles.push_back(line[0]);
        }
    }
    EXPECT_EQ(titles, (std::vector<std::string>{
                          "Ordavo - wyeksportowane dane ", "Tabela główna - Film ", "Tabela Ocena ",
                          "Tabela Obsada", "Tabela Produkcja", "Tabela Dystrybucja",
                          "Tabela Lokalizacje Zdjęciowe", "Tabela Wypożyczenia Innym Osobom",
                          "Tabela Wypożyczenia od Innych Osób"}));

    const std::vector<Line> films = section(lines, "Tabela główna - Film ");
    ASSERT_EQ(films.size(), 4u);
    ASSERT_EQ(films[1].size(), 52u);
    EXPECT_EQ(films[1][0], "ID");
    EXPECT_EQ(films[1][1], "tytuł");
    EXPECT_EQ(films[1][37], "Obsada - Reżyser - Imie i Nazwisko");
    EXPECT_EQ(films[1][51], "Scieżka - skan okładki - tył");
    EXPECT_EQ(films[2].size(), 52u);
    EXPECT_EQ(films[2][0], "2");
    EXPECT_EQ(films[2][1], "Rejs, czyli \"statek\"");
    EXPECT_EQ(films[3][0], "-3");
    EXPECT_EQ(films[3][1], "Miś");

    const std::vector<Line> reviews = section(lines, "Tabela Ocena ");
    ASSERT_EQ(reviews.size(), 5u);
    EXPECT_EQ(reviews[1], (Line{"ID", "IDPDB", "Nazwa", "Tytuł tekstu", "Autor tekstu",
                                "Strona WWW", "Ocena krytyka"}));
    EXPECT_EQ(reviews[2], (Line{"7", "2", "Kino", "", "", "", ""}));
    EXPECT_EQ(reviews[3][0], "8");
    EXPECT_EQ(reviews[4][0], "9");

    EXPECT_EQ(section(lines, "Tabela Obsada"),
              (std::vector<Line>{{"Tabela Obsada"}, {"ID", "IDPDB", " Imię i Nazwisko", " Rola"}}));
}

TEST_F(CsvExportTest, EveryFieldIsQuotedAndEveryLineEndsInCrLf) {
    addFilms({makeFilm(5, u"A")});
    const std::string text =
        exportBytes(ExportScope::WholeDatabase, 0, {true, false, false, false, false, false});
    EXPECT_EQ(text.find("\n\r"), std::string::npos);
    const std::string data_start = "\"5\",\"A\",\"\",";
    EXPECT_NE(text.find("\r\n" + data_start), std::string::npos);
    const std::string end = ",\"\"\r\n";
    EXPECT_EQ(text.substr(text.size() - end.size()), end) << "last field quoted, line ended";
}

TEST_F(CsvExportTest, EachDetailSectionCarriesItsFieldsInFileOrder) {
    const std::vector<std::u16string> texts = {u"a1", u"a2", u"a3", u"a4", u"a5", u"a6", u"a7"};
    addRows<Obsada>(DataFile::Cast, {makeRow<Obsada>(kObsadaLayout, 3, 9, texts)});
    addRows<Producent>(DataFile::Producers, {makeRow<Producent>(kProducentLayout, 4, 9, texts)});
    addRows<Dystrybutor>(DataFile::Distributors,
                         {makeRow<Dystrybutor>(kDystrybutorLayout, 5, 9, texts)});
    addRows<Lok_zdjeciowe>(DataFile::Locations, {makeRow<Lok_zdjeciowe>(kLokLayout, 6, 9, texts)});
    addRows<Wypozycz_Innym>(DataFile::LoansTo,
                            {makeRow<Wypozycz_Innym>(kWypozyczInnymLayout, 7, 9, texts)});
    addRows<Wypozycz_Od_Innych>(
        DataFile::LoansFrom, {makeRow<Wypozycz_Od_Innych>(kWypozyczOdInnychLayout, 8, 9, texts)});
    const std::vector<Line> lines = exportLines(ExportScope::CurrentFilm, 9);

    const Line company_header = {"ID",  "IDPDB",  "Nazwa Firmy", "Adres",     "Telefon",
                                 "Fax", "E-mail", "Strona WWW",  "Narodowość"};
    const Line loan_header = {"ID",
                              "IDPDB",
                              "Data wypożyczenia",
                              "Data oddania",
                              "Stan przed wypożyczeniem",
                              "Stan po oddaniu",
                              "Osoba",
                              "Nr katalogowy"};
    struct Case {
        std::string title;
        Line header;
        Line row;
    };
    for (const Case& c : {
             Case{"Tabela Obsada",
                  {"ID", "IDPDB", " Imię i Nazwisko", " Rola"},
                  {"3", "9", "a1", "a2"}},
             Case{"Tabela Produkcja",
                  company_header,
                  {"4", "9", "a1", "a2", "a3", "a4", "a5", "a6", "a7"}},
             Case{"Tabela Dystrybucja",
                  company_header,
                  {"5", "9", "a1", "a2", "a3", "a4", "a5", "a6", "a7"}},
             Case{"Tabela Lokalizacje Zdjęciowe",
                  {"ID", "IDPDB", "Nazwa obiektu", "Kraj", "Miejscowość", "Region", "Pora roku",
                   "Data"},
                  {"6", "9", "a1", "a2", "a3", "a4", "a5", "a6"}},
             Case{"Tabela Wypożyczenia Innym Osobom",
                  loan_header,
                  {"7", "9", "a1", "a2", "a3", "a4", "a5", "a6"}},
             Case{"Tabela Wypożyczenia od Innych Osób",
                  loan_header,
                  {"8", "9", "a1", "a2", "a3", "a4", "a5", "a6"}},
         }) {
        EXPECT_EQ(section(lines, c.title), (std::vector<Line>{{c.title}, c.header, c.row}))
            << c.title;
    }
}

TEST_F(CsvExportTest, CurrentFilmScopeKeepsOnlyTheRowsOfThatFilm) {
    addFilms({makeFilm(1, u"Rejs"), makeFilm(-3, u"Miś"), makeFilm(4, u"Seksmisja")});
    addRows<Obsada>(DataFile::Cast, {makeRow<Obsada>(kObsadaLayout, 1, 1, {u"Jan"}),
                                     makeRow<Obsada>(kObsadaLayout, 2, -3, {u"Stanisław"}),
                                     makeRow<Obsada>(kObsadaLayout, 3, 4, {u"Jerzy"}),
                                     makeRow<Obsada>(kObsadaLayout, 4, -3, {u"Barbara"})});
    const ExportSections films_and_cast{true, true, true, false, false, false};

    const std::vector<Line> lines = exportLines(ExportScope::CurrentFilm, -3, films_and_cast);
    EXPECT_EQ(lines[0], Line{"Ordavo - wyeksportowane dane"});
    const std::vector<Line> films = section(lines, "Tabela główna - Film");
    ASSERT_EQ(films.size(), 3u);
    EXPECT_EQ(films[2][0], "-3");
    EXPECT_EQ(films[2][1], "Miś");
    EXPECT_EQ(section(lines, "Tabela Ocena").size(), 2u) << "title and header, no blank";
    const std::vector<Line> cast = section(lines, "Tabela Obsada");
    ASSERT_EQ(cast.size(), 4u);
    EXPECT_EQ(cast[2], (Line{"2", "-3", "Stanisław", ""}));
    EXPECT_EQ(cast[3], (Line{"4", "-3", "Barbara", ""}));

    addFilms({makeFilm(5, u"Bez obsady")});
    const std::vector<Line> without_cast = exportLines(ExportScope::CurrentFilm, 5, films_and_cast);
    EXPECT_EQ(section(without_cast, "Tabela Obsada").size(), 2u);
}

TEST_F(CsvExportTest, PolishLettersAreWrittenInTheChosenCharacterSet) {
    addFilms({makeFilm(2, u"Zażółć gęślą jaźń")});
    const std::string text = exportBytes(ExportScope::CurrentFilm, 2,
                                         {true, false, false, false, false, false}, "CP1250");
    const std::string start =
        "Ordavo - wyeksportowane dane\r\nTabela g\xB3\xF3wna - Film\r\n\"ID\",\"tytu\xB3\",";
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_NE(text.find("\"2\",\"Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1\","),
              std::string::npos);
}

TEST_F(CsvExportTest, AnUnrepresentableCharacterStopsTheExportAndSaysWhere) {
    addFilms({makeFilm(2, u"Rejs"), makeFilm(3, u"Cena 5 € za bilet"), makeFilm(4, u"Miś")});
    try {
        ExportCsv(paths(), output, ExportScope::WholeDatabase, 0, {}, "ISO-8859-2");
        FAIL() << "the export did not stop";
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::Unrepresentable);
        const std::string message = error.what();
        for (const std::string& part :
             {"„" + output.string() + "”", std::string("„€” (U+20AC)"), std::string("ISO-8859-2"),
              std::string("sekcja „Tabela główna - Film”"),
              std::string("film „Cena 5 € za bilet” (ID 3, wiersz 2 tabeli KR_PDB.kr)"),
              std::string("kolumna „tytuł”"), std::string("Plik nie został utworzony."),
              std::string("Wybierz kodowanie UTF-8")}) {
            EXPECT_NE(message.find(part), std::string::npos) << part << " in " << message;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(output)) << "no text before the character is kept";
}

TEST_F(CsvExportTest, ABrokenSurrogateStopsTheExportWithItsOwnMessage) {
    addRows<Obsada>(DataFile::Cast,
                    {makeRow<Obsada>(kObsadaLayout, 1, 1, {u"Jan", u"Ro\xD800le"})});
    try {
        ExportCsv(paths(), output, ExportScope::WholeDatabase, 0, {}, "UTF-8");
        FAIL() << "the export did not stop";
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::Unrepresentable);
        const std::string message = error.what();
        EXPECT_NE(message.find("U+D800"), std::string::npos) << message;
        EXPECT_NE(message.find("sekcja „Tabela Obsada”, wiersz 1 tabeli KR_OB.kr (ID 1), "
                               "kolumna „ Rola”"),
                  std::string::npos)
            << message;
        EXPECT_EQ(message.find("UTF-8"), std::string::npos) << "no other code page helps";
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(CsvExportTest, AnUnreadableTableStopsTheExportAndIsNamed) {
    addRows<Ocena>(DataFile::Reviews, {makeRow<Ocena>(kOcenaLayout, 1, 1)});
    std::filesystem::remove(paths().file(DataFile::Cast));
    try {
        exportBytes(ExportScope::WholeDatabase, 0);
        FAIL() << "the export did not stop";
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::CannotRead);
        const std::string message = error.what();
        EXPECT_NE(message.find("„" + paths().file(DataFile::Cast).string() + "”"),
                  std::string::npos)
            << message;
        EXPECT_NE(message.find("sekcja „Tabela Obsada”"), std::string::npos) << message;
    }
    EXPECT_FALSE(std::filesystem::exists(output)) << "not even the sections before it";
}

TEST_F(CsvExportTest, FailuresBeforeAnyTextLeaveNoExportFileBehind) {
    std::filesystem::create_directory(root / "folder.csv");
    testing::writeText(root / "plik", "x");
    std::filesystem::create_symlink("petla-b", root / "petla-a");
    std::filesystem::create_symlink("petla-a", root / "petla-b");
    struct Case {
        std::filesystem::path target;
        std::string reason;
    };
    for (const Case& c : {
             Case{root / "no-such-folder" / "eksport.csv", "Nie ma takiego pliku ani katalogu"},
             Case{root / "no-such-folder" / "", "Nie ma takiego pliku ani katalogu"},
             Case{root / "folder.csv", "To jest katalog"},
             Case{root / "folder.csv" / "", "To jest katalog"},
             Case{root / "plik" / "eksport.csv", "Ścieżka nie prowadzi do katalogu"},
             Case{root / "petla-a", "Za dużo dowiązań symbolicznych"},
         }) {
        const Snapshot before = snapshot(root.path());
        try {
            ExportCsv(paths(), c.target, ExportScope::WholeDatabase, 0, {}, "UTF-8");
            ADD_FAILURE() << "exported to " << c.target;
        } catch (const ExportError& error) {
            EXPECT_EQ(error.kind(), ExportError::Kind::CannotCreate) << c.target;
            const std::string message = error.what();
            EXPECT_NE(message.find("„" + c.target.string() + "”"), std::string::npos) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        }
        EXPECT_EQ(snapshot(root.path()), before) << c.target;
    }
    try {
        ExportCsv(paths(), output, ExportScope::WholeDatabase, 0, {}, "NO-SUCH-CHARSET");
        FAIL() << "accepted an unknown character set";
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::UnknownCharset);
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(CsvExportTest, AnExistingFileIsReplacedAndAPartialRowCountsAsPaddedWithZeros) {
    testing::writeText(output, std::string(1000, 'x'));
    addRows<Obsada>(DataFile::Cast, {makeRow<Obsada>(kObsadaLayout, 1, 6, {u"Jan Kowalski"})});
    testing::truncateFile(paths().file(DataFile::Cast), 8 + 2 * 3);  // ids and "Jan"
    const std::vector<Line> lines =
        exportLines(ExportScope::WholeDatabase, 0, {false, false, true, false, false, false});
    EXPECT_EQ(lines, (std::vector<Line>{{"Ordavo - wyeksportowane dane "},
                                        {"Tabela Obsada"},
                                        {"ID", "IDPDB", " Imię i Nazwisko", " Rola"},
                                        {"1", "6", "Jan", ""}}));
}

// The exported bytes of the database as it is now, made into a file of their own.
}  // namespace
}  // namespace ordavo
