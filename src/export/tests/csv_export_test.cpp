#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "export/csv_export.h"
#include "storage/database.h"
#include "storage/text_field.h"
#include "tabs/detail_rows.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

using testing::makeFilm;
using Line = std::vector<std::string>;
using Snapshot = std::map<std::string, std::string>;

// Everything under `folder`: each file's bytes, each link's text, what each other entry is.
Snapshot snapshot(const std::filesystem::path& folder) {
    Snapshot entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::filesystem::path& path = entry.path();
        std::string& what = entries[path.lexically_relative(folder).string()];
        if (entry.is_symlink()) {
            what = "-> " + std::filesystem::read_symlink(path).string();
        } else if (entry.is_regular_file()) {
            const std::vector<unsigned char> bytes = testing::readBytes(path);
            what.assign(bytes.begin(), bytes.end());
        } else {
            what = entry.is_directory() ? "<folder>" : "<other>";
        }
    }
    return entries;
}

struct stat statOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

// Lets writes beyond `bytes` fail with EFBIG, as a full disk would make them fail, for the
// length of the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        ::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    sighandler_t m_oldHandler = SIG_DFL;
};

constexpr uid_t kNobody = 65534;

// Runs `body` in a child process without the rights of root, whom no permission stops: as
// "nobody" when the tests run as root. Returns the body's result, or -1 when it did not end
// normally.
int runWithoutRoot(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(100);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program at the other end of a FIFO, on a thread of its own: it reads everything until the
// writer closes, or, when `hang_up` is set, leaves as soon as the first bytes arrive. Its end is
// open from the start, so that a writer never waits for it.
class FifoReader {
public:
    FifoReader(const std::filesystem::path& fifo, bool hang_up)
        : m_fifo(fifo),
          m_fd(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)),
          m_thread([this, hang_up] { read(hang_up); }) {}
    ~FifoReader() { finish(); }

    // Waits for the reader to end and returns what it read. A writer that comes and goes at
    // once lets go a reader that no export ever wrote to.
    const std::string& finish() {
        if (m_thread.joinable()) {
            const int writer = ::open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                ::close(writer);
            }
            m_thread.join();
        }
        return m_text;
    }

private:
    void read(bool hang_up) {
        char buffer[4096];
        for (;;) {
            // Waits for the first writer, and then for data or for the last writer to leave.
            pollfd wait{m_fd, POLLIN, 0};
            ::poll(&wait, 1, -1);
            if (hang_up) {
                break;
            }
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                m_text.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EAGAIN) {
                break;
            }
        }
        ::close(m_fd);
    }

    std::filesystem::path m_fifo;
    int m_fd;
    std::string m_text;
    std::thread m_thread;
};

// A strict RFC 4180 reader: every record ends in CR LF, fields are split at commas outside
// quotes, and "" inside a quoted field is one quote. Fails the test on anything else.
std::vector<Line> readCsv(const std::string& bytes) {
    std::vector<Line> lines;
    Line line;
    std::string field;
    bool quoted = false;
    std::size_t i = 0;
    const auto endField = [&] {
        line.push_back(field);
        field.clear();
    };
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"') {
                field += '"';
                i += 2;
            } else if (c == '"') {
                quoted = false;
                ++i;
                const char after = i < bytes.size() ? bytes[i] : '\0';
                EXPECT_TRUE(after == ',' || after == '\r') << "text after a closing quote at " << i;
            } else {
                field += c;
                ++i;
            }
        } else if (c == '"') {
            EXPECT_TRUE(field.empty()) << "a quote inside an unquoted field at " << i;
            quoted = true;
            ++i;
        } else if (c == ',') {
            endField();
            ++i;
        } else if (c == '\r') {
            EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "CR without LF at " << i;
            endField();
            lines.push_back(std::move(line));
            line.clear();
            i += 2;
        } else {
            EXPECT_NE(c, '\n') << "LF without CR at " << i;
            field += c;
            ++i;
        }
    }
    EXPECT_FALSE(quoted) << "the file ends inside a quoted field";
    EXPECT_TRUE(line.empty() && field.empty()) << "the last line has no line end";
    return lines;
}

// A detail row of type Row with its ids and the given texts in the layout's file order; texts
// beyond the layout's fields are ignored.
template <typename Row>
Row makeRow(const DetailLayout& layout, std::int32_t id, std::int32_t film_id,
            std::vector<std::u16string> texts = {}) {
    Row row;
    std::memset(&row, 0, sizeof row);
    row.ID = id;
    row.IDPDB = film_id;
    for (std::size_t i = 0; i < std::min(texts.size(), layout.fields.size()); ++i) {
        const DetailField& field = layout.fields[i];
        storeText(
            reinterpret_cast<char16_t*>(reinterpret_cast<unsigned char*>(&row) + field.offset),
            field.width, texts[i]);
    }
    return row;
}

class CsvExportTest : public ::testing::Test {
protected:
    CsvExportTest() { database.createMissing(true); }

    const DatabasePaths& paths() const { return database.paths(); }

    void addFilms(const std::vector<FilmRecord>& films) {
        testing::appendFilms(paths().file(DataFile::Films), films);
    }
    template <typename Row>
    void addRows(DataFile file, const std::vector<Row>& rows) {
        std::vector<unsigned char> bytes = testing::readBytes(paths().file(file));
        for (const Row& row : rows) {
            const auto* raw = reinterpret_cast<const unsigned char*>(&row);
            bytes.insert(bytes.end(), raw, raw + sizeof row);
        }
        testing::writeBytes(paths().file(file), bytes);
    }

    std::string exportBytes(ExportScope scope, std::int32_t film_id,
                            const ExportSections& sections = {},
                            std::string_view charset = "UTF-8") {
        ExportCsv(paths(), output, scope, film_id, sections, charset);
        return fileText();
    }
    std::vector<Line> exportLines(ExportScope scope, std::int32_t film_id,
                                  const ExportSections& sections = {}) {
        return readCsv(exportBytes(scope, film_id, sections));
    }
    std::string fileText() const {
        const std::vector<unsigned char> bytes = testing::readBytes(output);
        return std::string(bytes.begin(), bytes.end());
    }
    // The lines of one section: from its title line up to the next title line.
    static std::vector<Line> section(const std::vector<Line>& lines, std::string_view title) {
        std::vector<Line> found;
        for (const Line& line : lines) {
            const bool is_title = line.size() == 1 && line[0].rfind("Tabela ", 0) == 0;
            if (is_title && !found.empty()) {
                break;
            }
            if (!found.empty() || (is_title && line[0] == title)) {
                found.push_back(line);
            }
        }
        return found;
    }

    testing::TempFolder root;
    testing::RecordingSink sink;
    Database database{buildPaths(root / "db"), sink};
    std::filesystem::path output = root / "eksport.csv";
};

constexpr ExportSections kNoSections{false, false, false, false, false, false};

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
class ExportTargetTest : public CsvExportTest {
protected:
    std::string reference(const ExportSections& sections = {}) {
        const std::filesystem::path file = reference_folder / "wzor.csv";
        ExportCsv(paths(), file, ExportScope::WholeDatabase, 0, sections, "UTF-8");
        const std::vector<unsigned char> bytes = testing::readBytes(file);
        return {bytes.begin(), bytes.end()};
    }
    // Exports the whole database to `target`; returns the error's kind and message, if any.
    std::optional<std::pair<ExportError::Kind, std::string>> exportTo(
        const std::filesystem::path& target, const ExportSections& sections = {},
        std::string_view charset = "UTF-8") {
        try {
            ExportCsv(paths(), target, ExportScope::WholeDatabase, 0, sections, charset);
            return std::nullopt;
        } catch (const ExportError& error) {
            return std::pair(error.kind(), std::string(error.what()));
        }
    }

    testing::TempFolder reference_folder;
};

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

// A film with every text field filled up: one line of about 16,000 characters.
FilmRecord fullFilm(std::int32_t id) {
    FilmRecord film = makeFilm(id, u"");
    for (const FilmFieldInfo& field : kFilmFields) {
        setFieldText(film, field, std::u16string(field.capacity - 1, u'x'));
    }
    return film;
}

TEST_F(ExportTargetTest, AFailedExportLeavesTheTargetExactlyAsItWas) {
    addFilms({makeFilm(2, u"Rejs"), makeFilm(3, u"Cena 5 € za bilet")});
    addRows<Obsada>(DataFile::Cast, {makeRow<Obsada>(kObsadaLayout, 1, 2, {u"Jan", u"\xDC00"})});
    std::filesystem::remove(paths().file(DataFile::LoansTo));
    std::filesystem::remove(paths().file(DataFile::Locations));
    std::filesystem::create_directory(paths().file(DataFile::Locations));
    // The name an older export used for its temporary file belongs to someone else here.
    std::filesystem::path neighbour = output;
    neighbour += "0";
    testing::writeText(neighbour, "cudzy plik");

    constexpr ExportSections kFilms{true, false, false, false, false, false};
    struct Case {
        std::string what;
        ExportSections sections;
        std::string_view charset;
        rlim_t size_limit;  // 0: none
        ExportError::Kind kind;
    };
    for (const Case& c : {
             Case{"a character ISO-8859-2 lacks", kFilms, "ISO-8859-2", 0,
                  ExportError::Kind::Unrepresentable},
             Case{"half a surrogate pair",
                  {false, false, true, false, false, false},
                  "UTF-8",
                  0,
                  ExportError::Kind::Unrepresentable},
             Case{"a missing table",
                  {false, false, false, false, false, true},
                  "UTF-8",
                  0,
                  ExportError::Kind::CannotRead},
             Case{"a table that is a folder",
                  {false, false, false, false, true, false},
                  "UTF-8",
                  0,
                  ExportError::Kind::CannotRead},
             Case{"a full disk", kFilms, "UTF-8", 1000, ExportError::Kind::CannotWrite},
         }) {
        for (const bool existed : {false, true}) {
            SCOPED_TRACE(c.what + (existed ? ", over an existing file" : ", no file before"));
            if (existed) {
                testing::writeText(output, "stara zawartość\r\n");
            }
            const Snapshot before = snapshot(root.path());
            std::optional<std::pair<ExportError::Kind, std::string>> failure;
            {
                std::optional<FileSizeLimit> limit;
                if (c.size_limit != 0) {
                    limit.emplace(c.size_limit);
                }
                failure = exportTo(output, c.sections, c.charset);
            }
            ASSERT_TRUE(failure.has_value());
            EXPECT_EQ(failure->first, c.kind) << failure->second;
            EXPECT_TRUE(contains(failure->second, existed ? "Plik pozostał bez zmian."
                                                          : "Plik nie został utworzony."))
                << failure->second;
            EXPECT_EQ(snapshot(root.path()), before) << "no temporary file, no other file";
            std::filesystem::remove(output);
        }
    }
}

TEST_F(ExportTargetTest, AnExistingFileIsReplacedWholeAndKeepsItsPermissionBits) {
    addFilms({makeFilm(2, u"Rejs")});
    testing::writeText(output, std::string(100000, 'x'));
    ::chmod(output.c_str(), 0604);
    std::filesystem::path neighbour = output;
    neighbour += "0";
    testing::writeText(neighbour, "cudzy plik");
    const ino_t old_inode = statOf(output).st_ino;

    EXPECT_EQ(exportTo(output), std::nullopt);
    EXPECT_EQ(fileText(), reference());
    const struct stat replaced = statOf(output);
    EXPECT_EQ(replaced.st_mode & 07777, 0604u);
    EXPECT_NE(replaced.st_ino, old_inode) << "a new file renamed into place, not a rewrite";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"db", "eksport.csv", "eksport.csv0"}))
        << "no temporary file left";
    const std::vector<unsigned char> kept = testing::readBytes(neighbour);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "cudzy plik");
}

TEST_F(ExportTargetTest, AnExportThroughASymbolicLinkWritesTheFileItPointsToAndKeepsTheLink) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::string expected = reference();
    std::filesystem::create_directories(root / "pliki" / "glebiej");
    testing::writeText(root / "pliki" / "stary.csv", "stara zawartość");
    ::chmod((root / "pliki" / "stary.csv").c_str(), 0640);
    std::filesystem::create_symlink("pliki/stary.csv", root / "do-starego.csv");
    std::filesystem::create_symlink("do-starego.csv", root / "do-dowiazania.csv");
    std::filesystem::create_symlink("pliki/nowy.csv", root / "do-nowego.csv");  // dangling
    std::filesystem::create_symlink(root / "pliki" / "glebiej", root / "do-glebiej");
    struct Case {
        std::filesystem::path target;
        std::filesystem::path written;
    };
    for (const Case& c : {
             Case{root / "do-starego.csv", root / "pliki" / "stary.csv"},
             Case{root / "do-dowiazania.csv", root / "pliki" / "stary.csv"},
             Case{root / "do-nowego.csv", root / "pliki" / "nowy.csv"},
             // ".." after a link leads out of the folder the link points to.
             Case{root / "do-glebiej" / ".." / "obok.csv", root / "pliki" / "obok.csv"},
         }) {
        SCOPED_TRACE(c.target);
        const Snapshot links_before = [&] {
            Snapshot links;
            for (const auto& [name, what] : snapshot(root.path())) {
                if (what.rfind("-> ", 0) == 0) {
                    links[name] = what;
                }
            }
            return links;
        }();
        EXPECT_EQ(exportTo(c.target), std::nullopt);
        const std::vector<unsigned char> bytes = testing::readBytes(c.written);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
        for (const auto& [name, what] : links_before) {
            EXPECT_EQ(snapshot(root.path())[name], what) << "the link " << name << " is kept";
        }
    }
    EXPECT_EQ(statOf(root / "pliki" / "stary.csv").st_mode & 07777, 0640u);
    EXPECT_FALSE(std::filesystem::exists(root / "obok.csv"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root / "pliki"), {}), 4)
        << "glebiej, stary.csv, nowy.csv, obok.csv and no temporary file";
}

TEST_F(ExportTargetTest, AReadOnlyFileIsRefusedBeforeAnythingIsWritten) {
    addFilms({makeFilm(2, u"Rejs")});
    testing::writeText(output, "zostaje");
    ::chmod(output.c_str(), 0444);
    const Snapshot before = snapshot(root.path());
    const auto failure = exportTo(output);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->first, ExportError::Kind::Refused);
    EXPECT_TRUE(contains(failure->second, "„" + output.string() + "”: plik jest tylko do odczytu"))
        << failure->second;
    EXPECT_EQ(snapshot(root.path()), before);
    EXPECT_EQ(statOf(output).st_mode & 07777, 0444u);
}

TEST_F(ExportTargetTest, AFileThatARenameWouldChangeIsWrittenInPlace) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::string expected = reference();
    struct Case {
        std::string what;
        std::function<bool()> prepare;  // false: the case cannot be set up here
    };
    const std::filesystem::path second_name = root / "druga-nazwa.csv";
    for (const Case& c : {
             Case{"a file with a second name",
                  [&] {
                      std::filesystem::create_hard_link(output, second_name);
                      return true;
                  }},
             Case{"a file of another user",
                  [&] { return ::chown(output.c_str(), kNobody, kNobody) == 0; }},
         }) {
        SCOPED_TRACE(c.what);
        testing::writeText(output, "stara zawartość");
        if (!c.prepare()) {
            continue;  // only root gives a file to someone else
        }
        const struct stat before = statOf(output);
        EXPECT_EQ(exportTo(output), std::nullopt);
        EXPECT_EQ(fileText(), expected);
        const struct stat after = statOf(output);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_nlink, before.st_nlink);
        std::filesystem::remove(second_name);
        std::filesystem::remove(output);
    }
}

TEST_F(ExportTargetTest, AnExportWrittenInPlaceThatCannotFitLeavesTheFileAsItWas) {
    addFilms({fullFilm(2), fullFilm(3)});
    const std::filesystem::path second_name = root / "druga-nazwa.csv";
    testing::writeText(output, "wczorajszy kompletny eksport");
    std::filesystem::create_hard_link(output, second_name);  // so it is written in place
    {
        testing::FileSizeLimit limit(20000);  // less than the export
        const auto failure = exportTo(output);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->first, ExportError::Kind::CannotWrite) << failure->second;
    }
    EXPECT_EQ(fileText(), "wczorajszy kompletny eksport");
    EXPECT_EQ(statOf(output).st_nlink, 2u);
}

TEST_F(ExportTargetTest, WhatAKilledExportLeftBesideTheTargetGoesLater) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::string name = "." + output.filename().string() + ".ordavo-";
    const std::filesystem::path stale = root / (name + "abcdef");
    const std::filesystem::path recent = root / (name + "ghijkl");
    const std::filesystem::path other = root / ".inny.csv.ordavo-abcdef";
    for (const auto& path : {stale, recent, other}) {
        testing::writeText(path, "część");
    }
    const auto hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    std::filesystem::last_write_time(stale, hour_ago);
    std::filesystem::last_write_time(other, hour_ago);
    EXPECT_EQ(exportTo(output), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(recent));  // may be another export running now
    EXPECT_TRUE(std::filesystem::exists(other));   // another target's
}

TEST_F(ExportTargetTest, AFileInAFolderThatTakesNoNewFileIsWrittenInPlace) {
    addFilms({makeFilm(2, u"Rejs"), makeFilm(3, u"Cena 5 € za bilet")});
    const std::string expected = reference();
    const std::filesystem::path folder = root / "zamkniety";
    const std::filesystem::path target = folder / "eksport.csv";
    std::filesystem::create_directory(folder);
    // The child without root's rights has to reach the database and the target.
    ::chmod(root.path().c_str(), 0755);
    struct Case {
        std::string what;
        std::string_view charset;
        rlim_t size_limit;
        int result;  // 0: exported; otherwise 10 + the error's kind
    };
    const auto code = [](ExportError::Kind kind) { return 10 + static_cast<int>(kind); };
    for (const Case& c : {
             Case{"an export that succeeds", "UTF-8", 0, 0},
             Case{"a character the code page lacks", "ISO-8859-2", 0,
                  code(ExportError::Kind::Unrepresentable)},
             Case{"a full disk", "UTF-8", 1000, code(ExportError::Kind::CannotWrite)},
         }) {
        SCOPED_TRACE(c.what);
        ::chmod(folder.c_str(), 0755);
        testing::writeText(target, "stara zawartość");
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);  // the folder stays root's
        } else {
            ::chmod(folder.c_str(), 0555);
        }
        const struct stat before = statOf(target);
        const int result = runWithoutRoot([&] {
            std::optional<FileSizeLimit> limit;
            if (c.size_limit != 0) {
                limit.emplace(c.size_limit);
            }
            try {
                ExportCsv(paths(), target, ExportScope::WholeDatabase, 0, {}, c.charset);
                return 0;
            } catch (const ExportError& error) {
                return code(error.kind());
            }
        });
        EXPECT_EQ(result, c.result);
        const std::vector<unsigned char> bytes = testing::readBytes(target);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
                  c.result == 0 ? expected : "stara zawartość");
        EXPECT_EQ(statOf(target).st_ino, before.st_ino);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    }
}

TEST_F(ExportTargetTest, AFifoIsWrittenInPlaceAndStaysAFifo) {
    addFilms({makeFilm(3, u"Cena 5 € za bilet")});
    for (std::int32_t id = 10; id < 20; ++id) {
        addFilms({fullFilm(id)});  // more than a pipe holds
    }
    const std::string large = reference();
    ASSERT_GT(large.size(), std::size_t{1} << 17);
    const std::filesystem::path fifo = root / "potok";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    struct Case {
        std::string what;
        std::string_view charset;
        bool reader_hangs_up;
        std::optional<ExportError::Kind> kind;
        std::string received;
    };
    for (const Case& c : {
             Case{"a whole export", "UTF-8", false, std::nullopt, large},
             Case{"a character the code page lacks", "ISO-8859-2", false,
                  ExportError::Kind::Unrepresentable, ""},
             Case{"a reader that leaves early", "UTF-8", true, ExportError::Kind::WrittenInPart,
                  ""},
         }) {
        SCOPED_TRACE(c.what);
        FifoReader reader(fifo, c.reader_hangs_up);
        const auto failure = exportTo(fifo, {}, c.charset);
        EXPECT_EQ(reader.finish(), c.received);
        EXPECT_EQ(failure.has_value() ? std::optional(failure->first) : std::nullopt, c.kind)
            << (failure ? failure->second : "");
        if (c.kind == ExportError::Kind::WrittenInPart) {
            EXPECT_TRUE(contains(failure->second, "może być niekompletny")) << failure->second;
            EXPECT_TRUE(contains(failure->second, "zamknął potok")) << failure->second;
        }
        EXPECT_TRUE(S_ISFIFO(statOf(fifo).st_mode));
    }
}

TEST_F(ExportTargetTest, NoFileOfADatabaseIsEverATarget) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::filesystem::path db = paths().database_folder;
    testing::writeText(db / "covers" / "przod.jpg", "okładka");
    std::filesystem::create_hard_link(db / "KR_OC.kr", root / "oceny.csv");
    std::filesystem::create_hard_link(db / "covers" / "przod.jpg", root / "okladka.csv");
    std::filesystem::create_symlink(db / "covers", root / "do-okladek");
    std::filesystem::create_symlink(db / "KR_PDB.kr", root / "do-filmow.csv");
    std::filesystem::create_directory(root / "inna");
    testing::writeText(root / "inna" / "KR.kr", "");

    std::vector<std::filesystem::path> targets;
    for (DataFile file : kAllDataFiles) {
        targets.push_back(paths().file(file));
    }
    for (const char* name : {"KR_PDB.kr.redo", "KR_OB.kr0", "covers/eksport.csv",
                             "covers/przod.jpg", "../db/KR_WO.kr", "./KR.kr"}) {
        targets.push_back(db / name);
    }
    for (const char* name : {"do-okladek/eksport.csv", "do-okladek/../KR_PDB.kr", "do-filmow.csv",
                             "oceny.csv", "okladka.csv", "inna/KR_OB.kr"}) {
        targets.push_back(root / name);
    }
    for (const std::filesystem::path& target : targets) {
        SCOPED_TRACE(target);
        const Snapshot before = snapshot(root.path());
        const auto failure = exportTo(target);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->first, ExportError::Kind::Refused);
        EXPECT_TRUE(contains(failure->second, "„" + target.string() + "”")) << failure->second;
        EXPECT_TRUE(contains(failure->second, "bazy danych")) << failure->second;
        EXPECT_EQ(snapshot(root.path()), before);
    }
    for (const std::filesystem::path& beside :
         {db / "eksport.csv", root / "inna" / "eksport.csv"}) {
        EXPECT_EQ(exportTo(beside), std::nullopt) << "any other name is fine: " << beside;
    }
}

TEST_F(ExportTargetTest, AnExportToADescriptorGoesInAtItsPositionOnlyWhenWhole) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::string expected = reference();
    testing::writeText(output, "przed\n");
    const int fd = ::open(output.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ExportCsvToDescriptor(paths(), fd, "„-”", ExportScope::WholeDatabase, 0, {}, "UTF-8");
    EXPECT_EQ(fileText(), "przed\n" + expected);

    addFilms({makeFilm(3, u"Cena 5 € za bilet")});
    EXPECT_THROW(
        ExportCsvToDescriptor(paths(), fd, "„-”", ExportScope::WholeDatabase, 0, {}, "ISO-8859-2"),
        ExportError);
    EXPECT_EQ(fileText(), "przed\n" + expected) << "nothing of a failed export";
    ::close(fd);

    const std::vector<unsigned char> films = testing::readBytes(paths().file(DataFile::Films));
    const int table = ::open(paths().file(DataFile::Films).c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(table, 0);
    try {
        ExportCsvToDescriptor(paths(), table, "„-”", ExportScope::WholeDatabase, 0, {}, "UTF-8");
        ADD_FAILURE() << "exported into the film table";
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::Refused);
    }
    ::close(table);
    EXPECT_EQ(testing::readBytes(paths().file(DataFile::Films)), films);
}

}  // namespace
}  // namespace ordavo
