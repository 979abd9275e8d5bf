#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "storage/database.h"
#include "storage/file_error.h"
#include "storage/film_record.h"
#include "storage/posix_file.h"
#include "storage/row_chunks.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"
#include "storage/write_batch.h"
#include "tabs/detail_rows.h"

namespace ordavo::cli {

namespace {

constexpr std::string_view kHelp =
    "Użycie: ordavo-cli check FOLDER\n"
    "\n"
    "Sprawdza pliki bazy danych w FOLDERZE, niczego nie zapisując, i wypisuje znalezione błędy:\n"
    "brakujące pliki i pliki, które nie są zwykłymi plikami (np. potoki lub katalogi), niepełny\n"
    "nagłówek, inną wersję niż 1.0.2.0 albo uszkodzony licznik identyfikatorów, niepełny wiersz\n"
    "na końcu tabeli, wiersze z identyfikatorem 0, ujemne i powtórzone identyfikatory,\n"
    "identyfikatory filmów (także IDPDB w tabelach szczegółów) większe od ostatniego wydanego,\n"
    "czyli licznik w tyle za tabelą, pola tekstowe bez znaku NUL lub z samotną połową pary\n"
    "zastępczej UTF-16. Wiersze tabel szczegółów, których filmu nie ma w KR_PDB.kr, wypisuje\n"
    "jako uwagi: zostają one w bazie po każdym usunięciu filmu. Jako uwagę wypisuje też zapis\n"
    "przerwany w trakcie (plik TABELA.redo obok tabeli), który program dokończy przy otwarciu\n"
    "bazy.\n"
    "\n"
    "Kod wyjścia: 0 - brak błędów, 1 - znaleziono błędy, 2 - błąd odczytu lub argumentów.\n";

// Every finding of one kind in one file is counted; only the first few are listed.
constexpr std::size_t kListedPerKind = 10;

class Findings {
public:
    void error(DataFile file, std::string_view kind, std::string text) {
        add(true, file, kind, std::move(text));
    }
    void note(DataFile file, std::string_view kind, std::string text) {
        add(false, file, kind, std::move(text));
    }

    std::size_t errors() const { return m_errors; }

    void print() const {
        std::string out;
        for (const Group& group : m_groups) {
            const std::string prefix = std::string(group.error ? "błąd: " : "uwaga: ") +
                                       std::string(fileName(group.file)) + ": ";
            for (const std::string& text : group.listed) {
                out += prefix + text + "\n";
            }
            if (group.count > group.listed.size()) {
                out += prefix + "… i jeszcze " + std::to_string(group.count - group.listed.size()) +
                       " takich\n";
            }
        }
        if (m_errors == 0) {
            out += "Nie znaleziono błędów";
            out += m_notes == 0 ? ".\n" : " (uwagi: " + std::to_string(m_notes) + ").\n";
        } else {
            out += "Znalezione błędy: " + std::to_string(m_errors) +
                   (m_notes == 0 ? "" : ", uwagi: " + std::to_string(m_notes)) + ".\n";
        }
        ordavo::cli::print(out);
    }

private:
    struct Group {
        bool error;
        DataFile file;
        std::string kind;
        std::size_t count = 0;
        std::vector<std::string> listed;
    };

    void add(bool is_error, DataFile file, std::string_view kind, std::string text) {
        auto group = std::find_if(m_groups.begin(), m_groups.end(), [&](const Group& g) {
            return g.error == is_error && g.file == file && g.kind == kind;
        });
        if (group == m_groups.end()) {
            m_groups.push_back({is_error, file, std::string(kind), 0, {}});
            group = m_groups.end() - 1;
        }
        if (++group->count <= kListedPerKind) {
            group->listed.push_back(std::move(text));
        }
        ++(is_error ? m_errors : m_notes);
    }

    std::vector<Group> m_groups;
    std::size_t m_errors = 0;
    std::size_t m_notes = 0;
};

enum class Presence { Missing, NotRegular, Regular };

// What stands at `path`, links followed, without opening it.
Presence presence(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return Presence::Missing;
        }
        throw FileError(path, FileOperation::Stat, errno);
    }
    return S_ISREG(info.st_mode) ? Presence::Regular : Presence::NotRegular;
}

std::string rowLabel(std::uint64_t number) {
    return "wiersz " + std::to_string(number + 1);
}

bool hasNul(const unsigned char* row, std::size_t offset, std::size_t capacity) {
    const char16_t* field = rowField(row, offset);
    return std::find(field, field + capacity, u'\0') != field + capacity;
}

// The first half of a surrogate pair that stands alone in a field's text, or nullopt.
std::optional<char16_t> loneSurrogate(const unsigned char* row, std::size_t offset,
                                      std::size_t capacity) {
    const std::u16string_view text = rowText(row, offset, capacity);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ++i;
        } else if (isHighSurrogate(text[i]) || isLowSurrogate(text[i])) {
            return text[i];
        }
    }
    return std::nullopt;
}

std::string codePoint(char16_t unit) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex = "U+";
    for (int shift = 12; shift >= 0; shift -= 4) {
        hex += kDigits[(unit >> shift) & 0xF];
    }
    return hex;
}

// The faults of one text field of a row: no NUL within its capacity, half a surrogate pair.
void checkTextField(const unsigned char* row, std::size_t offset, std::size_t capacity,
                    std::string_view member, DataFile file, std::uint64_t number,
                    Findings& findings) {
    if (!hasNul(row, offset, capacity)) {
        findings.error(
            file, "nul",
            rowLabel(number) + ": pole " + inQuotes(member) + " nie kończy się znakiem NUL");
    }
    if (const std::optional<char16_t> unit = loneSurrogate(row, offset, capacity)) {
        findings.error(file, "surrogate",
                       rowLabel(number) + ": pole " + inQuotes(member) +
                           " zawiera samotną połowę pary zastępczej UTF-16 (" + codePoint(*unit) +
                           ")");
    }
}

constexpr std::string_view kCounterBehind =
    ": licznik identyfikatorów w nagłówku jest w tyle za tabelą";

// The header's counter, when the header is whole and readable.
std::optional<std::int32_t> checkHeader(const Database& database, Findings& findings) {
    const std::uint64_t length =
        PosixFile(database.paths().file(DataFile::Header), PosixFile::Mode::Read).size();
    const DatabaseHeader header = database.readHeader();
    if (length != kHeaderSize) {
        // Without its whole counter the header cannot issue an id, so the program writes nothing.
        findings.error(DataFile::Header, "size",
                       "nagłówek ma " + std::to_string(length) + " B zamiast " +
                           std::to_string(kHeaderSize) +
                           (length < kHeaderSize ? ": program nie zapisze zmian w tej bazie" : ""));
    }
    if (std::find(std::begin(header.version), std::end(header.version), u'\0') ==
        std::end(header.version)) {
        findings.error(DataFile::Header, "nul", "tekst wersji nie kończy się znakiem NUL");
    }
    const std::u16string_view version = readText(header.version);
    if (version != kDatabaseVersion) {
        findings.error(DataFile::Header, "version",
                       "wersja " + inQuotes(toUtf8(version)) +
                           " zamiast 1.0.2.0: program nie zapisze zmian w tej bazie");
    }
    if (length < kHeaderSize) {
        return std::nullopt;
    }
    if (header.last_id < 1 || header.last_id == std::numeric_limits<std::int32_t>::max()) {
        findings.error(DataFile::Header, "counter",
                       "licznik identyfikatorów (" + std::to_string(header.last_id) +
                           ") jest uszkodzony albo wyczerpany");
    }
    return header.last_id;
}

void checkPartialRow(const RowChunks& chunks, DataFile file, std::size_t row_size,
                     Findings& findings) {
    if (chunks.hasPartialRow()) {
        findings.error(file, "partial",
                       "niepełny wiersz na końcu pliku (długość " +
                           std::to_string(chunks.tableLength()) + " B nie jest wielokrotnością " +
                           std::to_string(row_size) + " B)");
    }
}

// Checks the film table; returns the ids of its films.
std::unordered_set<std::int32_t> checkFilms(const DatabasePaths& paths,
                                            std::optional<std::int32_t> last_id,
                                            Findings& findings) {
    std::unordered_set<std::int32_t> ids;
    std::unordered_map<std::int32_t, std::uint64_t> first_row;
    PosixFile table(paths.file(DataFile::Films), PosixFile::Mode::Read);
    RowChunks chunks(table, kFilmRowSize);
    checkPartialRow(chunks, DataFile::Films, kFilmRowSize, findings);
    forEachRow(chunks, [&](const unsigned char* row, std::uint64_t number) {
        const std::int32_t id = rowInt32(row, 0);
        ids.insert(id);
        if (id == 0) {
            findings.error(
                DataFile::Films, "zero",
                rowLabel(number) + ": identyfikator 0 (wiersz przeznaczony do usunięcia)");
        } else if (const auto [first, fresh] = first_row.emplace(id, number); !fresh) {
            findings.error(DataFile::Films, "duplicate",
                           rowLabel(number) + ": identyfikator " + std::to_string(id) +
                               " powtarza " + rowLabel(first->second));
        }
        if (id < 0) {
            findings.error(DataFile::Films, "negative",
                           rowLabel(number) + ": identyfikator " + std::to_string(id) +
                               " jest ujemny (identyfikatory filmów są dodatnie)");
        }
        if (last_id && id > *last_id) {
            findings.error(DataFile::Films, "counter",
                           rowLabel(number) + ": identyfikator " + std::to_string(id) +
                               " jest większy od ostatniego wydanego (" + std::to_string(*last_id) +
                               ")" + std::string(kCounterBehind));
        }
        for (const FilmFieldInfo& field : kFilmFields) {
            checkTextField(row, field.offset, field.capacity, field.member, DataFile::Films, number,
                           findings);
        }
        return true;
    });
    return ids;
}

void checkDetails(const DatabasePaths& paths, const TableInfo& info,
                  std::optional<std::int32_t> last_id,
                  const std::optional<std::unordered_set<std::int32_t>>& film_ids,
                  Findings& findings) {
    const DetailLayout& layout = *info.layout;
    std::unordered_map<std::int32_t, std::uint64_t> first_row;
    PosixFile table(paths.file(info.file), PosixFile::Mode::Read);
    RowChunks chunks(table, layout.row_size);
    checkPartialRow(chunks, info.file, layout.row_size, findings);
    forEachRow(chunks, [&](const unsigned char* row, std::uint64_t number) {
        const std::int32_t id = rowInt32(row, kRowIdOffset);
        const std::int32_t film_id = rowInt32(row, kRowFilmIdOffset);
        if (id == 0) {
            findings.error(info.file, "zero",
                           rowLabel(number) + ": ID 0 (wiersz przeznaczony do usunięcia)");
        } else if (const auto [first, fresh] = first_row.emplace(id, number); !fresh) {
            findings.error(info.file, "duplicate",
                           rowLabel(number) + ": ID " + std::to_string(id) + " powtarza " +
                               rowLabel(first->second));
        }
        if (last_id && film_id > *last_id) {
            findings.error(info.file, "counter",
                           rowLabel(number) + ": IDPDB " + std::to_string(film_id) +
                               " jest większy od ostatniego wydanego identyfikatora filmu (" +
                               std::to_string(*last_id) + ")" + std::string(kCounterBehind));
        }
        for (const DetailField& field : layout.fields) {
            checkTextField(row, field.offset, field.width, field.member, info.file, number,
                           findings);
        }
        if (film_ids && !film_ids->contains(film_id)) {
            findings.note(info.file, "orphan",
                          rowLabel(number) + ": film o identyfikatorze " + std::to_string(film_id) +
                              " (IDPDB) nie istnieje");
        }
        return true;
    });
}

}  // namespace

int runCheck(std::span<const std::string_view> args) {
    constexpr std::string_view kNames[] = {"FOLDER"};
    const Arguments arguments = parseArguments(args, {});
    if (arguments.help) {
        print(kHelp);
        return kExitOk;
    }
    requirePositional(arguments, kNames);
    QuietSink quiet;
    const Database database(databaseIn(arguments.positional[0]), quiet);
    const DatabasePaths& paths = database.paths();
    if (database.checkFileSet() == DatabaseState::Absent) {
        print("błąd: w folderze " + inQuotes(arguments.positional[0]) +
              " nie ma bazy danych (nie ma nagłówka KR.kr ani żadnego wiersza w tabelach)\n");
        return kExitNegative;
    }

    Findings findings;
    // Only regular files are read: a FIFO would make a reader wait for a writer that never comes.
    std::unordered_set<DataFile> readable;
    for (DataFile file : kAllDataFiles) {
        switch (presence(paths.file(file))) {
            case Presence::Missing:
                findings.error(file, "missing", "brak pliku");
                break;
            case Presence::NotRegular:
                findings.error(file, "not-regular",
                               "to nie jest zwykły plik (lecz np. potok lub katalog), więc program "
                               "nie otworzy tej bazy");
                break;
            case Presence::Regular:
                readable.insert(file);
                break;
        }
    }
    std::optional<std::int32_t> last_id;
    if (readable.contains(DataFile::Header)) {
        last_id = checkHeader(database, findings);
    }
    std::optional<std::unordered_set<std::int32_t>> film_ids;
    if (readable.contains(DataFile::Films)) {
        film_ids = checkFilms(paths, last_id, findings);
    }
    for (const TableInfo& table : databaseTables()) {
        if (table.layout != nullptr && readable.contains(table.file)) {
            checkDetails(paths, table, last_id, film_ids, findings);
        }
    }
    if (hasPendingRedo(paths)) {
        findings.note(DataFile::Header, "redo",
                      "zapis przerwany w trakcie (plik " + std::string(kRedoRecordName) +
                          "); program dokończy go przy otwarciu bazy, a do tego czasu wiersze, "
                          "których dotyczy, mogą być zapisane częściowo");
    }
    if (pathExists(paths.database_folder / std::string(kBulkAppendJournalName))) {
        findings.note(DataFile::Header, "import",
                      "import przerwany w trakcie (plik " + std::string(kBulkAppendJournalName) +
                          "); program cofnie go przy otwarciu bazy, a do tego czasu tabele mogą "
                          "zawierać część importowanych wierszy");
    }
    findings.print();
    return findings.errors() == 0 ? kExitOk : kExitNegative;
}

}  // namespace ordavo::cli
