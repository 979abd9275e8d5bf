#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "storage/database.h"
#include "storage/text_field.h"
#include "tabs/detail_rows.h"
#include "testing/temp_folder.h"

extern char** environ;

namespace ordavo {
namespace {

using testing::makeFilm;

struct CliRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string textOf(const std::filesystem::path& path) {
    const std::vector<unsigned char> bytes = testing::readBytes(path);
    return {bytes.begin(), bytes.end()};
}

// Every file under `folder` with its bytes and modification time.
std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> snapshot(
    const std::filesystem::path& folder) {
    std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        files[entry.path().string()] = {entry.is_regular_file() ? textOf(entry.path()) : "<dir>",
                                        entry.last_write_time()};
    }
    return files;
}

Obsada castRow(std::int32_t id, std::int32_t film_id, std::u16string_view name) {
    Obsada row;
    std::memset(&row, 0, sizeof row);
    row.ID = id;
    row.IDPDB = film_id;
    storeText(row.full_name, name);
    return row;
}

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        database.createMissing(true);
        while (database.readHeader().last_id < 5) {
            database.issueFilmId();
        }
        testing::appendFilms(file(DataFile::Films), {makeFilm(2, u"Noc nad Wisłą"),
                                                     makeFilm(3, u"Rejs"), makeFilm(5, u"Wiśnie")});
        addCast({castRow(1, 2, u"Jan"), castRow(2, 3, u"Stanisław Tym")});
        database.checkpoint();  // as the program leaves a database it closes
    }

    std::filesystem::path file(DataFile which) const { return database.paths().file(which); }
    std::string db() const { return (root / "db").string(); }

    void addCast(const std::vector<Obsada>& rows) {
        std::vector<unsigned char> bytes = testing::readBytes(file(DataFile::Cast));
        for (const Obsada& row : rows) {
            const auto* raw = reinterpret_cast<const unsigned char*>(&row);
            bytes.insert(bytes.end(), raw, raw + sizeof row);
        }
        testing::writeBytes(file(DataFile::Cast), bytes);
    }

    // Runs the built tool in the C locale and collects its output and exit code.
    CliRun cli(const std::vector<std::string>& args) const {
        std::vector<std::string> env_strings = {"LC_ALL=C"};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view variable = *entry;
            if (variable.rfind("LC_", 0) != 0 && variable.rfind("LANG", 0) != 0) {
                env_strings.emplace_back(variable);
            }
        }
        std::vector<char*> env;
        for (std::string& variable : env_strings) {
            env.push_back(variable.data());
        }
        env.push_back(nullptr);
        std::vector<std::string> argv_strings = {ORDAVO_CLI_PATH};
        argv_strings.insert(argv_strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : argv_strings) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);

        const std::string out_path = (capture / "out").string();
        const std::string err_path = (capture / "err").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        CliRun run;
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
            return run;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = textOf(capture / "out");
        run.err = textOf(capture / "err");
        return run;
    }

    testing::TempFolder root;
    testing::TempFolder capture;
    testing::RecordingSink sink;
    Database database{buildPaths(root / "db"), sink};
};

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

TEST_F(CliTest, EverySubcommandExplainsItselfInPolish) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                                 {"info", "--help"},
                                                 {"export", "--help"},
                                                 {"search", "--help"},
                                                 {"check", "--help"},
                                                 {"import", "--help"}}) {
        const CliRun run = cli(args);
        EXPECT_EQ(run.exit_code, 0) << args[0];
        EXPECT_TRUE(contains(run.out, "Użycie: ordavo-cli")) << run.out;
        EXPECT_EQ(run.err, "");
    }
    const CliRun search = cli({"search", "--help"});
    EXPECT_TRUE(contains(search.out, "  10  cinematographer_name"));
    EXPECT_TRUE(contains(search.out, "Obsada - Zdjęcia - Imię i Nazwisko"));
}

TEST_F(CliTest, BadArgumentsGiveOneLineAndExitCode2) {
    const std::string out = (capture / "x.csv").string();
    const std::string a_file = file(DataFile::Films).string();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : {
             Case{{"frobnicate"}, "nieznane polecenie „frobnicate”"},
             Case{{"info"}, "ordavo-cli info: brak argumentu FOLDER"},
             Case{{"info", db(), "more"}, "nadmiarowy argument „more”"},
             Case{{"check", (root / "nowhere").string()}, "nie istnieje"},
             Case{{"info", a_file}, "nie jest folderem"},
             Case{{"info", root.path().string(), "--verbose"}, "nieznana opcja „--verbose”"},
             Case{{"export", db()}, "brak argumentu PLIK"},
             Case{{"export", db(), out, "--tables", "film,cats"}, "nieznana tabela „cats”"},
             Case{{"export", db(), out, "--current-id", "7x"}, "niepoprawny identyfikator"},
             Case{{"export", db(), out, "--charset"}, "wymaga wartości"},
             Case{{"export", db(), out, "--charset", "NO-SUCH"}, "Nieznane kodowanie znaków"},
             Case{{"export", root.path().string(), out}, "nie ma bazy danych"},
             Case{{"search", db(), "49", "x"}, "nieznane pole „49”"},
             Case{{"search", db(), "title"}, "brak argumentu FRAZA"},
             Case{{"search", db(), "title", "\xFF"}, "UTF-8"},
             Case{{"import", db()}, "brak argumentu PLIK"},
             Case{{"import", db(), out, "--mode", "merge"}, "nieznany tryb „merge”"},
             Case{{"import", db(), out, "--duplicates", "maybe"}, "nieznana wartość „maybe”"},
             Case{{"import", db(), a_file, "--mode", "restore"}, "wymaga pustej bazy"},
         }) {
        const CliRun run = cli(c.args);
        EXPECT_EQ(run.exit_code, 2) << c.message;
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.out, "") << c.message;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CliTest, InfoDescribesTheFileSetHeaderAndTables) {
    const CliRun run = cli({"info", db()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (std::string_view line :
         {"Stan plików: kompletny\n", "Wersja: 1.0.2.0\n",
          "Ostatni wydany identyfikator filmu: 5\n", "Filmy (KR_PDB.kr): 3\n",
          "Obsada (KR_OB.kr): 2\n", "Oceny (KR_OC.kr): 0\n",
          "Wypożyczenia od innych osób (KR_WO.kr): 0\n"}) {
        EXPECT_TRUE(contains(run.out, line)) << line << " in\n" << run.out;
    }

    testing::truncateFile(file(DataFile::Cast), 1412 + 10);
    std::filesystem::remove(file(DataFile::Locations));
    const CliRun damaged = cli({"info", db()});
    EXPECT_EQ(damaged.exit_code, 1);
    EXPECT_TRUE(contains(damaged.out, "Stan plików: uszkodzony (brakuje: KR_LZ.kr)\n"));
    EXPECT_TRUE(contains(damaged.out, "Lokalizacje zdjęciowe (KR_LZ.kr): brak pliku\n"));
    EXPECT_TRUE(contains(damaged.out, "Obsada (KR_OB.kr): 2 (ostatni wiersz niepełny)\n"));
    EXPECT_FALSE(contains(damaged.out + damaged.err, "!!!!")) << "no window message text";

    const CliRun absent = cli({"info", capture.path().string()});
    EXPECT_EQ(absent.exit_code, 1);
    EXPECT_TRUE(contains(absent.out, "brak bazy danych"));
}

TEST_F(CliTest, SearchListsIdsAndTitlesOfTheMatches) {
    for (const char* field : {"0", "title", "Tytuł"}) {
        const CliRun run = cli({"search", db(), field, "Wi"});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(run.out, "2\tNoc nad Wisłą\n5\tWiśnie\n") << field;
    }
    EXPECT_EQ(cli({"search", db(), "title", ""}).out, "2\tNoc nad Wisłą\n3\tRejs\n5\tWiśnie\n");

    const CliRun none = cli({"search", db(), "title", "wisł"});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "Nie znaleziono rekordów pasujących do wybranego kryterium.\n");
    EXPECT_EQ(cli({"search", db(), "title", "--", "--x"}).exit_code, 1) << "a phrase after --";
}

TEST_F(CliTest, ExportWritesTheChosenTablesInTheChosenCharacterSet) {
    const std::filesystem::path out = capture / "rejs.csv";
    const CliRun run = cli({"export", db(), out.string(), "--tables", "film,cast", "--current-id",
                            "3", "--charset", "CP1250"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    const std::string text = textOf(out);
    EXPECT_EQ(text.rfind("Ordavo - wyeksportowane dane\r\nTabela g\xB3\xF3wna - Film\r\n", 0), 0u);
    EXPECT_TRUE(contains(text, "\r\n\"3\",\"Rejs\","));
    EXPECT_TRUE(contains(text, "\r\nTabela Obsada\r\n"));
    EXPECT_TRUE(contains(text,
                         "\r\n\"2\",\"3\",\"Stanis\xB3"
                         "aw Tym\",\"\"\r\n"));
    EXPECT_FALSE(contains(text, "Noc")) << "only the chosen film";
    EXPECT_FALSE(contains(text, "Tabela Ocena"));

    // Without options: the whole database, in UTF-8 for the C locale.
    const CliRun whole = cli({"export", db(), out.string()});
    EXPECT_EQ(whole.exit_code, 0) << whole.err;
    EXPECT_TRUE(contains(textOf(out), "\r\nTabela główna - Film \r\n"));
    EXPECT_TRUE(contains(textOf(out), "\"5\",\"Wiśnie\""));
}

TEST_F(CliTest, ImportRestoresAnExportIntoANewFolderAndADryRunWritesNothing) {
    const std::filesystem::path exported = capture / "whole.csv";
    ASSERT_EQ(cli({"export", db(), exported.string()}).exit_code, 0);
    const std::string copy = (root / "copy").string();

    const CliRun dry = cli({"import", copy, exported.string(), "--dry-run"});
    EXPECT_EQ(dry.exit_code, 0) << dry.err;
    EXPECT_TRUE(contains(dry.out, "Tryb: odtworzenie kopii")) << dry.out;
    EXPECT_TRUE(contains(dry.out, "niczego") || contains(dry.out, "nie została zmieniona"));
    EXPECT_FALSE(std::filesystem::exists(copy)) << "a dry run creates nothing";

    const CliRun run = cli({"import", copy, exported.string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "Zaimportowano.")) << run.out;
    const std::filesystem::path again = capture / "again.csv";
    ASSERT_EQ(cli({"export", copy, again.string()}).exit_code, 0);
    EXPECT_EQ(textOf(again), textOf(exported));
    EXPECT_EQ(cli({"check", copy}).exit_code, 0);

    const CliRun broken = cli({"import", copy, file(DataFile::Films).string()});
    EXPECT_EQ(broken.exit_code, 2);
    EXPECT_TRUE(contains(broken.err, "Baza danych nie została zmieniona.")) << broken.err;
}

TEST_F(CliTest, AnExportStoppedByACharacterSaysWhereInOneLine) {
    testing::appendFilms(file(DataFile::Films), {makeFilm(4, u"Bilet za 5 €")});
    const std::filesystem::path out = capture / "eksport.csv";
    const CliRun run = cli({"export", db(), out.string(), "--charset", "ISO-8859-2"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    for (std::string_view part : {"U+20AC", "film „Bilet za 5 €” (ID 4, wiersz 4 tabeli KR_PDB.kr)",
                                  "kolumna „tytuł”", "UTF-8", "Plik nie został utworzony."}) {
        EXPECT_TRUE(contains(run.err, part)) << part << " in " << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CliTest, ExportToADashWritesStandardOutputOnlyWhenWhole) {
    const std::filesystem::path out = capture / "rejs.csv";
    const std::vector<std::string> options = {"--tables", "film,cast", "--current-id", "3"};
    std::vector<std::string> to_file = {"export", db(), out.string()};
    std::vector<std::string> to_dash = {"export", db(), "-"};
    to_file.insert(to_file.end(), options.begin(), options.end());
    to_dash.insert(to_dash.end(), options.begin(), options.end());
    ASSERT_EQ(cli(to_file).exit_code, 0);
    const CliRun run = cli(to_dash);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, textOf(out));
    EXPECT_FALSE(std::filesystem::exists("-"));

    testing::appendFilms(file(DataFile::Films), {makeFilm(4, u"Bilet za 5 €")});
    const CliRun failed = cli({"export", db(), "-", "--charset", "ISO-8859-2"});
    EXPECT_EQ(failed.exit_code, 2);
    EXPECT_EQ(failed.out, "") << "nothing of an export that failed";
    EXPECT_TRUE(contains(failed.err, "„-” (standardowe wyjście)")) << failed.err;
}

TEST_F(CliTest, CheckPassesAHealthyDatabaseAndNotesRowsOfDeletedFilms) {
    addCast({castRow(3, 4, u"Z usuniętego filmu")});
    const CliRun run = cli({"check", db()});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(run.out,
              "uwaga: KR_OB.kr: wiersz 3: film o identyfikatorze 4 (IDPDB) nie istnieje\n"
              "Nie znaleziono błędów (uwagi: 1).\n");
}

TEST_F(CliTest, CheckNotesAnInterruptedWriteAndLeavesItToTheProgram) {
    testing::leaveKilledRowWrite(file(DataFile::Films), kFilmRowSize,
                                 testing::filmBytes(makeFilm(3, u"Rejs po zapisie")), 5000);
    const auto before = snapshot(root.path());
    const CliRun run = cli({"check", db()});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(contains(run.out,
                         "uwaga: KR.kr: zapis przerwany w trakcie (plik KR.redo); program "
                         "dokończy go przy otwarciu bazy"))
        << run.out;
    EXPECT_EQ(snapshot(root.path()), before);
}

TEST_F(CliTest, CheckReportsEveryKindOfFault) {
    FilmRecord no_nul = makeFilm(9, u"Bez końca");
    std::fill(std::begin(no_nul.genre), std::end(no_nul.genre), u'x');
    testing::appendFilms(file(DataFile::Films),
                         {makeFilm(3, u"Rejs znowu"), makeFilm(0, u""), no_nul,
                          makeFilm(-4, u"Ujemny"), makeFilm(4, u"Ro\xD800z")});
    addCast({castRow(2, 2, u"Drugi raz ID 2"), castRow(0, 2, u""), castRow(4, 7, u"Po liczniku"),
             castRow(5, 2, u"Bez pary \xDC00")});
    testing::truncateFile(file(DataFile::Cast), 6 * 1412 + 100);
    const CliRun run = cli({"check", db()});
    EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
    for (std::string_view line : {
             "błąd: KR_PDB.kr: wiersz 4: identyfikator 3 powtarza wiersz 2\n",
             "błąd: KR_PDB.kr: wiersz 5: identyfikator 0 (wiersz przeznaczony do usunięcia)\n",
             "błąd: KR_PDB.kr: wiersz 6: identyfikator 9 jest większy od ostatniego wydanego (5): "
             "licznik identyfikatorów w nagłówku jest w tyle za tabelą\n",
             "błąd: KR_PDB.kr: wiersz 6: pole „genre” nie kończy się znakiem NUL\n",
             "błąd: KR_PDB.kr: wiersz 7: identyfikator -4 jest ujemny (identyfikatory filmów są "
             "dodatnie)\n",
             "błąd: KR_PDB.kr: wiersz 8: pole „title” zawiera samotną połowę pary zastępczej "
             "UTF-16 (U+D800)\n",
             "błąd: KR_OB.kr: niepełny wiersz na końcu pliku (długość 8572 B nie jest "
             "wielokrotnością 1412 B)\n",
             "błąd: KR_OB.kr: wiersz 3: ID 2 powtarza wiersz 2\n",
             "błąd: KR_OB.kr: wiersz 4: ID 0 (wiersz przeznaczony do usunięcia)\n",
             "błąd: KR_OB.kr: wiersz 5: IDPDB 7 jest większy od ostatniego wydanego identyfikatora "
             "filmu (5): licznik identyfikatorów w nagłówku jest w tyle za tabelą\n",
             "błąd: KR_OB.kr: wiersz 6: pole „full_name” zawiera samotną połowę pary zastępczej "
             "UTF-16 (U+DC00)\n",
             "Znalezione błędy: ",
         }) {
        EXPECT_TRUE(contains(run.out, line)) << line << " in\n" << run.out;
    }
}

TEST_F(CliTest, CheckReportsFilesTheProgramCannotUseAsFaults) {
    struct Case {
        std::string what;
        std::function<void(const std::filesystem::path& folder)> damage;
        std::string line;
    };
    const auto fifo_for = [](std::string_view name) {
        return [name](const std::filesystem::path& folder) {
            std::filesystem::remove(folder / name);
            ASSERT_EQ(::mkfifo((folder / name).c_str(), 0644), 0);  // no writer: would block
        };
    };
    for (const Case& c : {
             Case{"a header cut short",
                  [](const std::filesystem::path& folder) {
                      testing::truncateFile(folder / "KR.kr", 32);  // the version text is whole
                  },
                  "błąd: KR.kr: nagłówek ma 32 B zamiast 36: program nie zapisze zmian w tej "
                  "bazie\n"},
             Case{"a FIFO named like a table", fifo_for("KR_LZ.kr"),
                  "błąd: KR_LZ.kr: to nie jest zwykły plik (lecz np. potok lub katalog), więc "
                  "program nie otworzy tej bazy\n"},
             Case{"a FIFO named like the header", fifo_for("KR.kr"),
                  "błąd: KR.kr: to nie jest zwykły plik (lecz np. potok lub katalog), więc "
                  "program nie otworzy tej bazy\n"},
             Case{"a folder named like a table",
                  [](const std::filesystem::path& folder) {
                      std::filesystem::remove(folder / "KR_WO.kr");
                      std::filesystem::create_directory(folder / "KR_WO.kr");
                  },
                  "błąd: KR_WO.kr: to nie jest zwykły plik (lecz np. potok lub katalog), więc "
                  "program nie otworzy tej bazy\n"},
         }) {
        SCOPED_TRACE(c.what);
        testing::TempFolder copy;
        std::filesystem::copy(root / "db", copy / "db", std::filesystem::copy_options::recursive);
        c.damage(copy / "db");
        const CliRun run = cli({"check", (copy / "db").string()});
        EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
        EXPECT_TRUE(contains(run.out, c.line)) << c.line << " in\n" << run.out << run.err;
        EXPECT_TRUE(contains(run.out, "Znalezione błędy: ")) << run.out;
        // info names such a file too, without opening it.
        const std::size_t start = c.line.find(": ") + 2;
        const std::string name = c.line.substr(start, c.line.find(':', start) - start);
        if (c.what != "a header cut short") {
            const CliRun info = cli({"info", (copy / "db").string()});
            EXPECT_EQ(info.exit_code, 1) << info.out << info.err;
            EXPECT_TRUE(contains(
                info.out, "Stan plików: uszkodzony (nie są zwykłymi plikami: " + name + ")\n"))
                << info.out << info.err;
        }
    }
}

TEST_F(CliTest, InfoSearchAndCheckNeverWriteAnything) {
    std::filesystem::remove(file(DataFile::Locations));  // damaged: nothing may be recreated
    const auto before = snapshot(root.path());
    cli({"info", db()});
    cli({"search", db(), "title", "Rejs"});
    cli({"check", db()});
    EXPECT_EQ(snapshot(root.path()), before);
}

}  // namespace
}  // namespace ordavo
