#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "import/csv_reader.h"
#include "import/tests/import_fixture.h"
#include "storage/file_error.h"
#include "storage/unicode_text.h"

namespace ordavo {
namespace {

using namespace import_testing;

// A database with every kind of row and the texts that try a CSV reader: quotes, separators, a
// line break, Polish letters, a row of a deleted film and a row marked 0.
class RoundTripTest : public ImportTest {
protected:
    void SetUp() override {
        m_source = makeDatabase("source");
        FilmRecord night = makeFilm(3, u"Noc nad Wisłą, \"premiera\"");
        setFieldText(night, FilmFieldId("owner_address").info(), u"ul. Długa 5\r\nŁódź; I piętro");
        setFieldText(night, FilmFieldId("production_year").info(), u"1999");
        addFilm(m_source, night);
        addFilm(m_source, makeFilm(7, u"Żółta łódź"));
        addFilm(m_source, makeFilm(12, u""));
        addRow(m_source, DetailList::Reviews, detailRow(DetailList::Reviews, 1, 3, {u"Kino"}));
        addRow(m_source, DetailList::Cast,
               detailRow(DetailList::Cast, 4, 3, {u"Jan", u"Rola, \"a\""}));
        addRow(m_source, DetailList::Cast, detailRow(DetailList::Cast, 0, 7, {u"Ewa"}));
        addRow(m_source, DetailList::Cast, detailRow(DetailList::Cast, 5, 99, {u"po usuniętym"}));
        addRow(m_source, DetailList::Producers,
               detailRow(DetailList::Producers, 2, 7, {u"Zespół"}));
        addRow(m_source, DetailList::Distributors, detailRow(DetailList::Distributors, 3, 7));
        addRow(m_source, DetailList::Locations,
               detailRow(DetailList::Locations, 8, 12, {u"Zamek"}));
        addRow(m_source, DetailList::LoansTo,
               detailRow(DetailList::LoansTo, 9, 3, {u"2020-01-01"}));
        addRow(m_source, DetailList::LoansFrom, detailRow(DetailList::LoansFrom, 1, 12));
    }

    DatabasePaths m_source;
};

TEST_F(RoundTripTest, AWholeExportRestoredIntoAnEmptyFolderExportsByteForByteTheSame) {
    for (const std::string charset : {"UTF-8", "CP1250"}) {
        SCOPED_TRACE(charset);
        const std::string exported = exportOf(m_source, charset);
        const DatabasePaths target = makeDatabase("restored-" + charset);
        ImportOptions options;
        options.charset = charset;
        const ImportSummary summary = import(target, writeFile(exported), options);

        EXPECT_EQ(exportOf(target, charset), exported);
        EXPECT_EQ(summary.mode, ImportMode::Restore);
        EXPECT_EQ(summary.films.imported, 3u);
        ASSERT_EQ(summary.details.size(), 7u);
        EXPECT_EQ(summary.details[1].title, "Tabela Obsada");
        EXPECT_EQ(summary.details[1].imported, 3u);
        EXPECT_EQ(summary.details[1].without_film, 1u) << "the deleted film's row is kept";
        testing::RecordingSink sink;
        EXPECT_EQ(Database(target, sink).readHeader().last_id, 99)
            << "the counter is past every film id, that of the deleted film's row included";
        EXPECT_FALSE(std::filesystem::exists(target.database_folder / "KR.import"));
    }
}

// The export as a spreadsheet saves it again: another separator, quotes only where a value needs
// them, every line as wide as the widest, a byte-order mark, LF line ends.
std::string asSpreadsheetSavesIt(const std::string& exported, char separator, bool bom,
                                 const std::string& line_end) {
    CsvReader reader(memorySource(exported), "UTF-8");
    std::vector<std::vector<std::u16string>> lines;
    std::size_t widest = 0;
    CsvRecord record;
    while (reader.next(record)) {
        lines.push_back(record.fields);
        widest = std::max(widest, record.fields.size());
    }
    std::string text = bom ? "\xEF\xBB\xBF" : "";
    for (const auto& fields : lines) {
        for (std::size_t i = 0; i < widest; ++i) {
            const std::string value = i < fields.size() ? toUtf8(fields[i]) : "";
            if (i > 0) {
                text += separator;
            }
            if (value.find_first_of(std::string("\"\r\n") + separator) != std::string::npos) {
                std::string doubled;
                for (char c : value) {
                    doubled += c == '"' ? std::string("\"\"") : std::string(1, c);
                }
                text += "\"" + doubled + "\"";
            } else {
                text += value;
            }
        }
        text += line_end;
    }
    return text;
}

TEST_F(RoundTripTest, AnExportSavedAgainByASpreadsheetRestoresTheSameDatabase) {
    const std::string exported = exportOf(m_source);
    struct Form {
        const char* name;
        char separator;
        bool bom;
        const char* line_end;
    };
    for (const Form form :
         {Form{"Polish Excel", ';', true, "\r\n"}, Form{"LibreOffice", ',', false, "\n"},
          Form{"tab-separated", '\t', false, "\n"}}) {
        SCOPED_TRACE(form.name);
        const DatabasePaths target = makeDatabase(std::string("sheet-") + form.name);
        const ImportSummary summary = import(
            target,
            writeFile(asSpreadsheetSavesIt(exported, form.separator, form.bom, form.line_end)));
        EXPECT_EQ(summary.separator, static_cast<char16_t>(form.separator));
        EXPECT_EQ(exportOf(target), exported);
    }
}

TEST_F(RoundTripTest, AFileCalcSavedIsRestored) {
    // Made by LibreOffice Calc from an export of this fixture's database: opened, then saved as
    // CSV with its default options.
    const std::filesystem::path saved =
        std::filesystem::path(ORDAVO_IMPORT_TEST_DATA) / "calc_saved_export.csv";
    const DatabasePaths target = makeDatabase("calc");
    import(target, saved);
    // Calc keeps a line break inside a value as LF alone; everything else comes back as it was.
    std::string expected = exportOf(m_source);
    const std::string crlf_in_value = "5\r\nŁódź";
    expected.replace(expected.find(crlf_in_value), crlf_in_value.size(), "5\nŁódź");
    EXPECT_EQ(exportOf(target), expected);
}

TEST_F(RoundTripTest, AppendGivesNewIdsPointsTheRowsAtThemAndSkipsOrKeepsLookalikes) {
    struct Case {
        DuplicateFilms duplicates;
        std::uint64_t films;
        std::vector<std::int32_t> ids;
        std::uint64_t cast_rows;
    };
    for (const Case& c : {Case{DuplicateFilms::Skip, 2, {1, 51, 52}, 1},
                          Case{DuplicateFilms::Keep, 3, {1, 51, 52, 53}, 2}}) {
        SCOPED_TRACE(c.duplicates == DuplicateFilms::Skip ? "skip" : "keep");
        const DatabasePaths target =
            makeDatabase(c.duplicates == DuplicateFilms::Skip ? "append-skip" : "append-keep");
        // The first film in the file again, in other letters: a lookalike.
        FilmRecord lookalike = makeFilm(1, u"NOC NAD WISLA, \"PREMIERA\"");
        setFieldText(lookalike, FilmFieldId("production_year").info(), u"1999");
        addFilm(target, lookalike);
        addRow(target, DetailList::Cast, detailRow(DetailList::Cast, 40, 1, {u"stary"}));
        // A review of a film deleted long ago: no new film may take it over.
        addRow(target, DetailList::Reviews, detailRow(DetailList::Reviews, 3, 50));
        const std::vector<unsigned char> before = testing::readBytes(target.file(DataFile::Films));

        ImportOptions options;
        options.duplicates = c.duplicates;
        const ImportSummary summary = import(target, writeFile(exportOf(m_source)), options);

        EXPECT_EQ(summary.mode, ImportMode::Append);
        EXPECT_EQ(summary.duplicate_films, 1u);
        EXPECT_EQ(summary.films.imported, c.films);
        EXPECT_EQ(summary.details[1].without_film, 1u) << "the deleted film's row is left out";
        EXPECT_EQ(summary.details[1].imported, c.cast_rows);
        EXPECT_EQ(testing::filmIds(target.file(DataFile::Films)), c.ids);
        const std::vector<unsigned char> after = testing::readBytes(target.file(DataFile::Films));
        EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()))
            << "the stored film is untouched";
        testing::RecordingSink sink;
        EXPECT_EQ(Database(target, sink).readHeader().last_id,
                  static_cast<std::int32_t>(50 + c.films));

        // Every imported cast row has a new ID past the stored one and points at an imported film.
        const std::vector<unsigned char> cast = testing::readBytes(target.file(DataFile::Cast));
        const std::size_t size = detailLayout(DetailList::Cast).row_size;
        ASSERT_EQ(cast.size(), size * (1 + c.cast_rows));
        for (std::size_t row = 1; row <= c.cast_rows; ++row) {
            std::int32_t id = 0;
            std::int32_t film = 0;
            std::memcpy(&id, cast.data() + row * size, 4);
            std::memcpy(&film, cast.data() + row * size + 4, 4);
            EXPECT_EQ(id, static_cast<std::int32_t>(40 + row));
            EXPECT_GT(film, 50);
            EXPECT_LE(film, static_cast<std::int32_t>(50 + c.films));
        }
    }
}

// Lines of a small valid export, to be spoilt one way each.
const std::string kHead =
    "Ordavo - wyeksportowane dane \r\nTabela Obsada\r\n\"ID\",\"IDPDB\",\" Imię i Nazwisko\",\" "
    "Rola\"\r\n";

TEST_F(ImportTest, BadInputStopsTheImportNamingWhereAndLeavesTheDatabaseAsItWas) {
    const DatabasePaths target = makeDatabase("target");
    addFilm(target, makeFilm(2, u"Stary"));
    const Snapshot before = snapshot(target);
    ImportOptions restore;
    restore.mode = ImportMode::Restore;
    ImportOptions cp1250;
    cp1250.charset = "NO-SUCH-SET";
    struct Case {
        const char* name;
        std::string bytes;
        ImportOptions options;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"a broken quote", kHead + "\"1\",\"2\",\"Jan\r\n", {}, "wiersz 4, kolumna 3"},
        {"text after a closing quote",
         kHead + "\"1\",\"2\",\"Jan\"x,\"\"\r\n",
         {},
         "wiersz 4, kolumna 3"},
        {"a line with too many fields",
         kHead + "\"1\",\"2\",\"Jan\",\"\",\"nadmiar\"\r\n",
         {},
         "wiersz 4: liczba pól w wierszu: 5"},
        {"a line with too few fields",
         kHead + "\"1\",\"2\",\"Jan\"\r\n",
         {},
         "wiersz 4: liczba pól w wierszu: 3"},
        {"an unknown section title",
         kHead + "Tabela Obsady\r\n",
         {},
         "wiersz 4, kolumna 1: nieznany tytuł"},
        {"an unknown column",
         "Ordavo - wyeksportowane dane\r\nTabela Obsada\r\n\"ID\",\"IDPDB\",\"Wiek\"\r\n",
         {},
         "wiersz 3, kolumna 3"},
        {"a header without IDPDB",
         "Ordavo - wyeksportowane dane\r\nTabela Obsada\r\n\"ID\",\" Rola\"\r\n",
         {},
         "wiersz 3: nagłówek"},
        {"a title without its header",
         "Ordavo - wyeksportowane dane\r\nTabela Obsada\r\nTabela Ocena\r\n",
         {},
         "wiersz 3, kolumna 1"},
        {"bytes that are not UTF-8",
         kHead + "\"1\",\"2\",\"J\xE9zef\",\"\"\r\n",
         {},
         "wiersz 4, kolumna 3"},
        {"an ID that is not a number",
         kHead + "\"1\",\"dwa\",\"Jan\",\"\"\r\n",
         {},
         "wiersz 4, kolumna 2"},
        {"an ID out of range",
         kHead + "\"3000000000\",\"2\",\"Jan\",\"\"\r\n",
         {},
         "wiersz 4, kolumna 1"},
        {"a film id given twice",
         "Tabela główna - Film\r\n\"tytuł\",\"ID\"\r\n\"A\",\"5\"\r\n\"B\",\"5\"\r\n",
         {},
         "wiersz 4, kolumna 2"},
        {"the films after a detail section",
         kHead + "Tabela główna - Film\r\n",
         {},
         "wiersz 4, kolumna 1"},
        {"a section twice", kHead + "Tabela Obsada\r\n", {}, "drugi raz"},
        {"a file without data", "\r\n\r\n", {}, "wiersz 1: plik nie zawiera"},
        {"a table no column of which is known", "Coś;Inne\r\n1;2\r\n", {}, "żadna kolumna"},
        {"restore into a database that holds a film", kHead, restore, "wymaga pustej bazy"},
        {"an unknown character set", kHead, cp1250, "Nieznane kodowanie"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = refusal(target, c.bytes, c.options);
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_NE(message.find("Baza danych nie została zmieniona."), std::string::npos) << message;
        EXPECT_EQ(snapshot(target), before);
    }
}

TEST_F(ImportTest, ARestoreRefusesTwoRowsOfOneFilmWithOneIdWhichAnAppendRenumbers) {
    const std::string twice = kHead + "\"1\",\"2\",\"Jan\",\"\"\r\n\"1\",\"2\",\"Ewa\",\"\"\r\n";
    const DatabasePaths target = makeDatabase("twice");
    const Snapshot before = snapshot(target);
    const std::string message = refusal(target, twice);
    EXPECT_NE(message.find("wiersz 5, kolumna 1: wiersz o ID 1 filmu 2"), std::string::npos)
        << message;
    EXPECT_EQ(snapshot(target), before);

    ImportOptions append;
    append.mode = ImportMode::Append;
    EXPECT_EQ(refusal(target, twice, append), "") << "rows of films not in the file are left out";
}

TEST_F(ImportTest, APlainTableOfFilmsIsMatchedByColumnNamesAndLabels) {
    const DatabasePaths target = makeDatabase("plain");
    const std::string long_title(600, 'x');
    const ImportSummary summary =
        import(target,
               writeFile("Tytuł;gatunek;Rok produkcji;Obsada - Reżyser - Imię i Nazwisko;Nośnik?;\n"
                         "Noc;Dramat;1999;Jan Kowalski;DVD;\n" +
                         long_title + ";;;;;\n"));
    EXPECT_FALSE(summary.own_export);
    EXPECT_EQ(summary.films.imported, 2u);
    EXPECT_EQ(summary.unknown_columns, (std::vector<std::string>{"„Nośnik?”"}));
    ASSERT_FALSE(summary.cuts.empty());
    EXPECT_EQ(summary.cuts[0].count, 1u);
    EXPECT_EQ(summary.cuts[0].first_line, 3u);
    EXPECT_NE(summary.describe().find("przycięte"), std::string::npos);

    const std::vector<unsigned char> bytes = testing::readBytes(target.file(DataFile::Films));
    ASSERT_EQ(bytes.size(), 2 * kFilmRowSize);
    FilmRecord first{};
    FilmRecord second{};
    std::memcpy(&first, bytes.data(), kFilmRowSize);
    std::memcpy(&second, bytes.data() + kFilmRowSize, kFilmRowSize);
    EXPECT_EQ(first.id, 2);
    EXPECT_EQ(second.id, 3);
    EXPECT_EQ(fieldText(first, FilmFieldId("genre").info()), u"Dramat");
    EXPECT_EQ(fieldText(first, FilmFieldId("director_name").info()), u"Jan Kowalski");
    EXPECT_EQ(fieldText(second, FilmFieldId("title").info()).size(), 500u);
}

// A file of many cast rows, so that an import writes for a while.
std::string manyCastRows(int films, int rows_per_film) {
    std::string text =
        "Ordavo - wyeksportowane dane \r\nTabela główna - Film \r\n\"ID\",\"tytuł\"\r\n";
    for (int film = 1; film <= films; ++film) {
        text += "\"" + std::to_string(film) + "\",\"Film " + std::to_string(film) + "\"\r\n";
    }
    text += "Tabela Obsada\r\n\"ID\",\"IDPDB\",\" Imię i Nazwisko\",\" Rola\"\r\n";
    for (int row = 0; row < films * rows_per_film; ++row) {
        text += "\"" + std::to_string(row + 1) + "\",\"" + std::to_string(row % films + 1) +
                "\",\"Aktor\",\"Rola\"\r\n";
    }
    return text;
}

// A database holding one film, and a file that takes a while to import into it, analysed.
class LongImportTest : public ImportTest {
protected:
    void SetUp() override {
        addFilm(target, makeFilm(2, u"Stary"));
        before = snapshot(target);
        analysed = analyseImport(target, file, {});
    }

    const DatabasePaths target = makeDatabase("target");
    Snapshot before;
    const std::filesystem::path file = writeFile(manyCastRows(40, 50));
    ImportSummary analysed;
};

TEST_F(LongImportTest, ACancelledOrFailedImportLeavesTheDatabaseAsItWas) {
    int calls = 0;
    EXPECT_FALSE(runAgreed(target, file, analysed,
                           [&calls](std::uint64_t, std::uint64_t) { return ++calls < 7; }));
    EXPECT_EQ(snapshot(target), before);
    {
        const testing::FileSizeLimit full_disk(200 * 1024);  // room for a few film rows
        EXPECT_THROW(runAgreed(target, file, analysed), FileError);
    }
    EXPECT_EQ(snapshot(target), before);

    testing::writeText(file, manyCastRows(40, 49));  // changed since it was analysed
    EXPECT_THROW(runAgreed(target, file, analysed), ImportError);
    EXPECT_EQ(snapshot(target), before);
}

TEST_F(LongImportTest, AKilledImportIsTakenBackWhenTheDatabaseIsOpenedAgain) {
    const pid_t child = ::fork();
    if (child == 0) {
        Database database(target, m_sink);
        bool completed = false;
        int calls = 0;
        runImport(
            database, file, {}, analysed,
            [&calls](std::uint64_t, std::uint64_t) {
                if (++calls == 7) {
                    ::raise(SIGKILL);  // in the writing reading, rows of both tables written
                }
                return true;
            },
            completed);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(std::filesystem::exists(target.database_folder / "KR.import"));
    EXPECT_NE(snapshot(target), before);

    try {
        analyseImport(target, file, {});
        ADD_FAILURE() << "a summary over the rows of an interrupted import";
    } catch (const ImportError& error) {
        EXPECT_NE(std::string(error.what()).find("przerwany"), std::string::npos) << error.what();
    }
    EXPECT_THROW(exportOf(target), ExportError) << "nor an export of them";

    Database database(target, m_sink);
    EXPECT_TRUE(database.recoverInterruptedWrites());
    EXPECT_EQ(snapshot(target), before);
    EXPECT_EQ(import(target, file).films.imported, 40u) << "the import done again, whole";
}

TEST_F(ImportTest, AnImportWhoseSummaryTheDatabaseOutgrewIsRefused) {
    const DatabasePaths target = makeDatabase("target");
    const std::filesystem::path file = writeFile(manyCastRows(3, 2));
    const ImportSummary analysed = analyseImport(target, file, {});
    EXPECT_EQ(analysed.mode, ImportMode::Restore);
    import(target, writeFile(manyCastRows(1, 1)));  // another import meanwhile
    const Snapshot before = snapshot(target);

    EXPECT_THROW(runAgreed(target, file, analysed), ImportError);
    EXPECT_EQ(snapshot(target), before);
}

}  // namespace
}  // namespace ordavo
