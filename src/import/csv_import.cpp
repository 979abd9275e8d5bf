#include "import/csv_import.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "export/text_encoder.h"
#include "film_list/polish_text.h"
#include "import/csv_reader.h"
#include "storage/bulk_append.h"
#include "storage/database.h"
#include "storage/database_lock.h"
#include "storage/file_error.h"
#include "storage/film_record.h"
#include "storage/row_chunks.h"
#include "storage/unicode_text.h"
#include "storage/write_batch.h"
#include "tabs/detail_rows.h"

namespace ordavo {

namespace {

constexpr std::string_view kBanner = "Ordavo - wyeksportowane dane";
constexpr std::array<DetailList, kDetailListCount> kDetailOrder = {
    DetailList::Reviews,   DetailList::Cast,    DetailList::Producers, DetailList::Distributors,
    DetailList::Locations, DetailList::LoansTo, DetailList::LoansFrom,
};
// How many duplicates the summary names.
constexpr std::size_t kDuplicateExamples = 10;
// Progress is told every so many records.
constexpr std::uint64_t kProgressRecords = 512;

std::u16string utf16(std::string_view text) {
    return fromUtf8(text).value_or(std::u16string());
}

std::string inQuotes(std::string_view text) {
    return "„" + std::string(text) + "”";
}

bool isBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == u'\u00A0';
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A cell that holds nothing but blanks.
bool emptyCell(std::u16string_view text) {
    return trimmed(text).empty();
}

// The fields that count: trailing empty cells, which spreadsheets add up to the widest line, are
// dropped.
std::size_t usedFields(const CsvRecord& record) {
    std::size_t count = record.fields.size();
    while (count > 0 && emptyCell(record.fields[count - 1])) {
        --count;
    }
    return count;
}

std::optional<std::int32_t> parseNumber(std::u16string_view text) {
    text = trimmed(text);
    std::string digits;
    for (char16_t unit : text) {
        if (unit > 0x7F) {
            return std::nullopt;
        }
        digits += static_cast<char>(unit);
    }
    if (!digits.empty() && digits[0] == '+') {
        digits.erase(0, 1);
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

// Where a column's value goes in a row.
struct Target {
    enum Kind { Skip, Id, FilmId, Text } kind = Skip;
    std::size_t offset = 0;
    std::size_t capacity = 0;                                         // UTF-16 units, NUL included
    std::string header;                                               // as the file names it
    std::size_t cut_index = std::numeric_limits<std::size_t>::max();  // into the summary's cuts
};

// One section the file may hold.
struct SectionKind {
    std::string_view title;
    DataFile file;
    std::size_t row_size;
    const DetailLayout* layout;  // nullptr for the film table
};

Target makeTarget(Target::Kind kind, std::size_t offset = 0, std::size_t capacity = 0) {
    Target target;
    target.kind = kind;
    target.offset = offset;
    target.capacity = capacity;
    return target;
}

std::vector<SectionKind> sectionKinds() {
    std::vector<SectionKind> kinds;
    kinds.push_back({"Tabela główna - Film", DataFile::Films, kFilmRowSize, nullptr});
    for (DetailList list : kDetailOrder) {
        const DetailLayout& layout = detailLayout(list);
        kinds.push_back({layout.csv_title, layout.file, layout.row_size, &layout});
    }
    return kinds;
}

// The section whose title the record is, or nullptr.
const SectionKind* sectionTitled(const std::vector<SectionKind>& kinds, const CsvRecord& record) {
    if (usedFields(record) != 1) {
        return nullptr;
    }
    const std::u16string_view title = trimmed(record.fields[0]);
    for (const SectionKind& kind : kinds) {
        if (title == utf16(kind.title)) {
            return &kind;
        }
    }
    return nullptr;
}

bool isBanner(const CsvRecord& record) {
    return usedFields(record) == 1 && trimmed(record.fields[0]) == utf16(kBanner);
}

// The key by which films are taken to be the same: title, original title and production year.
std::u16string filmKey(std::u16string_view title, std::u16string_view original,
                       std::u16string_view year) {
    std::u16string key;
    appendFolded(key, trimmed(title));
    key += u'\u001F';
    appendFolded(key, trimmed(original));
    key += u'\u001F';
    appendFolded(key, trimmed(year));
    return key;
}

constexpr FilmFieldId kTitle("title");
constexpr FilmFieldId kOriginalTitle("original_title");
constexpr FilmFieldId kYear("production_year");

// What the import needs to know of the database it writes into.
struct DatabaseFacts {
    bool empty = true;                         // every table empty
    std::unordered_set<std::u16string> films;  // keys of the stored films
    // The largest film id stored or named by a stored row: a new film never takes over the rows
    // of a deleted one.
    std::int32_t largest_film_id = 0;
    std::array<std::int32_t, kDataFileCount> largest_row_id{};
};

DatabaseFacts readFacts(const DatabasePaths& paths, bool with_ids) {
    DatabaseFacts facts;
    for (DataFile file : kAllDataFiles) {
        if (file == DataFile::Header || !pathExists(paths.file(file))) {
            continue;
        }
        const PosixFile table(paths.file(file), PosixFile::Mode::Read);
        if (table.size() == 0) {
            continue;
        }
        facts.empty = false;
        if (file == DataFile::Films) {
            RowChunks chunks(table, kFilmRowSize);
            forEachRow(chunks, [&](const unsigned char* row, std::uint64_t) {
                const auto text = [row](FilmFieldId field) {
                    return rowText(row, field.info().offset, field.info().capacity);
                };
                facts.films.insert(filmKey(text(kTitle), text(kOriginalTitle), text(kYear)));
                facts.largest_film_id = std::max(facts.largest_film_id, rowInt32(row, 0));
                return true;
            });
        } else if (with_ids) {
            std::size_t row_size = 0;
            for (DetailList list : kDetailOrder) {
                row_size = detailLayout(list).file == file ? detailLayout(list).row_size : row_size;
            }
            std::int32_t& largest = facts.largest_row_id[static_cast<std::size_t>(file)];
            RowChunks chunks(table, row_size);
            forEachRow(chunks, [&](const unsigned char* row, std::uint64_t) {
                largest = std::max(largest, rowInt32(row, kRowIdOffset));
                facts.largest_film_id =
                    std::max(facts.largest_film_id, rowInt32(row, kRowFilmIdOffset));
                return true;
            });
        }
    }
    return facts;
}

// What the two readings of the file share: the films the first found, and how ids are issued.
struct Plan {
    ImportMode mode = ImportMode::Restore;
    DuplicateFilms duplicates = DuplicateFilms::Skip;
    const DatabaseFacts* facts = nullptr;
    // By the id the file gives a film: the film's place among those imported, or kSkipped.
    std::unordered_map<std::int32_t, std::int64_t> films;
    std::int32_t largest_file_id = 0;
    // The largest film id that a row kept in Restore names: the counter goes past it too, so
    // that no new film takes over the rows of a film deleted before the export.
    std::int32_t largest_row_film_id = 0;
    // Only while writing: new film ids follow this one; new row IDs per table.
    std::int32_t film_id_base = 0;
    std::array<std::int32_t, kDataFileCount> next_row_id{};
};
constexpr std::int64_t kSkipped = -1;

// One reading of the file: checks every line, fills the summary and, given an appender, writes.
class Walk {
public:
    Walk(Plan& plan, ImportSummary& summary, BulkAppend* out, bool first_reading)
        : m_plan(plan),
          m_summary(summary),
          m_out(out),
          m_first(first_reading),
          m_kinds(sectionKinds()),
          m_film(zeroFilmRecord()) {}

    // False when `progress` cancelled it.
    bool run(CsvReader& reader, std::uint64_t total, const ImportProgress* progress) {
        CsvRecord record;
        std::uint64_t records = 0;
        while (reader.next(record)) {
            if (++records % kProgressRecords == 0 && progress != nullptr &&
                !(*progress)(reader.bytesRead(), total)) {
                return false;
            }
            take(record);
        }
        if (m_state == State::Start) {
            throw CsvError(1, 0, "plik nie zawiera żadnych danych");
        }
        if (m_state == State::Header) {
            throw CsvError(m_titleLine, 0,
                           "po tytule sekcji " + inQuotes(m_section->title) +
                               " brak wiersza nagłówka z nazwami kolumn");
        }
        if (progress != nullptr && !(*progress)(reader.bytesRead(), total)) {
            return false;
        }
        return true;
    }

private:
    enum class State { Start, Title, Header, Rows };

    void take(const CsvRecord& record) {
        const SectionKind* titled = sectionTitled(m_kinds, record);
        switch (m_state) {
            case State::Start:
                if (isBanner(record)) {
                    m_summary.own_export = true;
                    m_state = State::Title;
                } else if (titled != nullptr) {
                    m_summary.own_export = true;
                    startSection(*titled, record);
                } else {
                    plainHeader(record);
                }
                return;
            case State::Title:
                if (titled == nullptr) {
                    if (record.blank()) {
                        return;
                    }
                    throw CsvError(record.line, 1,
                                   "nieznany tytuł sekcji " +
                                       inQuotes(toUtf8(trimmed(record.fields[0]))) +
                                       " (oczekiwano np. „Tabela główna - Film”)");
                }
                startSection(*titled, record);
                return;
            case State::Header:
                if (titled != nullptr) {
                    throw CsvError(record.line, 1,
                                   "sekcja " + inQuotes(m_section->title) +
                                       " nie ma wiersza nagłówka z nazwami kolumn");
                }
                exportHeader(record);
                return;
            case State::Rows:
                if (m_summary.own_export && titled != nullptr) {
                    startSection(*titled, record);
                } else if (m_summary.own_export && usedFields(record) == 1 &&
                           m_targets.size() > 1 && !parseNumber(record.fields[0])) {
                    throw CsvError(record.line, 1,
                                   "nieznany tytuł sekcji " +
                                       inQuotes(toUtf8(trimmed(record.fields[0]))) +
                                       " albo wiersz danych z jednym polem");
                } else if (!record.blank()) {
                    dataLine(record);
                }
                return;
        }
    }

    void startSection(const SectionKind& kind, const CsvRecord& record) {
        if (std::find(m_seen.begin(), m_seen.end(), &kind) != m_seen.end()) {
            throw CsvError(record.line, 1,
                           "sekcja " + inQuotes(kind.title) + " występuje w pliku drugi raz");
        }
        if (kind.layout == nullptr && !m_seen.empty()) {
            throw CsvError(record.line, 1,
                           "sekcja " + inQuotes(kind.title) +
                               " musi być pierwszą sekcją pliku, przed wierszami tabel "
                               "szczegółowych");
        }
        m_seen.push_back(&kind);
        m_section = &kind;
        m_rowKeys.clear();
        m_titleLine = record.line;
        m_state = State::Header;
        if (kind.layout != nullptr) {
            m_table = &m_summary.details.emplace_back();
            m_table->file = kind.file;
            m_table->title = kind.title;
        } else {
            m_table = &m_summary.films;
        }
    }

    void addTarget(std::vector<Target>& targets, std::u16string_view name, Target target,
                   const CsvRecord& record, std::size_t column) {
        for (const Target& other : targets) {
            if (other.kind != Target::Skip && other.kind == target.kind &&
                other.offset == target.offset) {
                throw CsvError(record.line, column,
                               "kolumna " + inQuotes(toUtf8(name)) + " powtarza kolumnę " +
                                   inQuotes(other.header));
            }
        }
        target.header = toUtf8(trimmed(name));
        targets.push_back(std::move(target));
    }

    // The line of column names under a section's title.
    void exportHeader(const CsvRecord& record) {
        const std::size_t count = usedFields(record);
        std::vector<Target> targets;
        for (std::size_t i = 0; i < count; ++i) {
            const std::u16string_view name = trimmed(record.fields[i]);
            const std::optional<Target> target = sectionColumn(*m_section, name);
            if (!target) {
                throw CsvError(record.line, i + 1,
                               "sekcja " + inQuotes(m_section->title) + " nie ma kolumny " +
                                   inQuotes(toUtf8(name)));
            }
            addTarget(targets, name, *target, record, i + 1);
        }
        const auto has = [&](Target::Kind kind) {
            return std::any_of(targets.begin(), targets.end(),
                               [kind](const Target& t) { return t.kind == kind; });
        };
        if (m_section->layout != nullptr && (!has(Target::Id) || !has(Target::FilmId))) {
            throw CsvError(record.line, 0,
                           "nagłówek sekcji " + inQuotes(m_section->title) +
                               " musi mieć kolumny „ID” i „IDPDB”");
        }
        useTargets(std::move(targets));
    }

    static std::optional<Target> sectionColumn(const SectionKind& kind, std::u16string_view name) {
        if (name == u"ID") {
            return makeTarget(Target::Id);
        }
        if (kind.layout == nullptr) {
            for (const FilmFieldInfo& field : kFilmFields) {
                if (name == trimmed(utf16(field.csv_header))) {
                    return makeTarget(Target::Text, field.offset, field.capacity);
                }
            }
            return std::nullopt;
        }
        if (name == u"IDPDB") {
            return makeTarget(Target::FilmId);
        }
        for (const DetailField& field : kind.layout->fields) {
            if (name == trimmed(utf16(field.csv_header))) {
                return makeTarget(Target::Text, field.offset, field.width);
            }
        }
        return std::nullopt;
    }

    // The header of a plain table of films: the export's column names, or the form's labels.
    void plainHeader(const CsvRecord& record) {
        startSection(m_kinds.front(), record);
        std::multimap<std::u16string, std::size_t> names;  // folded name to field index
        for (std::size_t i = 0; i < kFilmFields.size(); ++i) {
            const FilmFieldInfo& field = kFilmFields[i];
            std::vector<std::u16string> own = {foldForMatch(trimmed(utf16(field.csv_header))),
                                               foldForMatch(utf16(field.label))};
            if (field.searchable()) {
                own.push_back(foldForMatch(utf16(field.search_label)));
            }
            if (!field.group.empty()) {
                own.push_back(foldForMatch(
                    utf16(std::string(field.group) + " - " + std::string(field.label))));
            }
            std::sort(own.begin(), own.end());
            own.erase(std::unique(own.begin(), own.end()), own.end());
            for (std::u16string& name : own) {
                names.emplace(std::move(name), i);
            }
        }
        const std::size_t count = usedFields(record);
        std::vector<Target> targets;
        std::size_t known = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::u16string_view name = trimmed(record.fields[i]);
            const std::u16string folded = foldForMatch(name);
            if (folded == u"id") {
                addTarget(targets, name, makeTarget(Target::Id), record, i + 1);
                ++known;
                continue;
            }
            const auto [first, last] = names.equal_range(folded);
            if (first != last && std::next(first) == last) {
                const FilmFieldInfo& field = kFilmFields[first->second];
                addTarget(targets, name, makeTarget(Target::Text, field.offset, field.capacity),
                          record, i + 1);
                ++known;
                continue;
            }
            std::string note = name.empty() ? "(bez nazwy, kolumna " + std::to_string(i + 1) + ")"
                                            : inQuotes(toUtf8(name));
            if (first != last) {
                note += " (pasuje do kilku pól)";
            }
            if (m_first) {
                m_summary.unknown_columns.push_back(note);
            }
            targets.push_back(makeTarget(Target::Skip));
        }
        if (known == 0) {
            throw CsvError(record.line, 0,
                           "pierwszy wiersz nie jest ani początkiem eksportu programu, ani "
                           "nagłówkiem tabeli filmów: żadna kolumna nie ma znanej nazwy");
        }
        useTargets(std::move(targets));
    }

    void useTargets(std::vector<Target> targets) {
        for (Target& target : targets) {
            if (target.kind == Target::Text) {
                const std::string where =
                    "sekcja " + inQuotes(m_section->title) + ", kolumna " + inQuotes(target.header);
                auto found = std::find_if(m_summary.cuts.begin(), m_summary.cuts.end(),
                                          [&](const auto& cut) { return cut.where == where; });
                if (found == m_summary.cuts.end() && m_first) {
                    m_summary.cuts.push_back({where, 0, 0});
                    found = m_summary.cuts.end() - 1;
                }
                target.cut_index = static_cast<std::size_t>(found - m_summary.cuts.begin());
            }
        }
        m_targets = std::move(targets);
        m_state = State::Rows;
    }

    // The value of one cell for a text field, cut to the field as typing cuts it.
    std::u16string_view textValue(const CsvRecord& record, std::size_t column,
                                  const Target& target) {
        const std::u16string& value = record.fields[column];
        if (value.find(u'\0') != std::u16string::npos) {
            throw CsvError(record.line, column + 1,
                           "wartość w kolumnie " + inQuotes(target.header) + " zawiera znak NUL");
        }
        const std::u16string_view kept = cutToCapacity(value, target.capacity);
        if (kept.size() < value.size() && m_first && target.cut_index < m_summary.cuts.size()) {
            ImportSummary::Cut& cut = m_summary.cuts[target.cut_index];
            if (cut.count++ == 0) {
                cut.first_line = record.line;
            }
        }
        return kept;
    }

    std::optional<std::int32_t> numberValue(const CsvRecord& record, std::size_t column,
                                            const Target& target, bool required) {
        const std::u16string& value = record.fields[column];
        if (emptyCell(value) && !required) {
            return std::nullopt;
        }
        const std::optional<std::int32_t> number = parseNumber(value);
        if (!number) {
            throw CsvError(record.line, column + 1,
                           "w kolumnie " + inQuotes(target.header) + " jest " +
                               inQuotes(toUtf8(value)) +
                               " zamiast liczby całkowitej (od -2147483648 do 2147483647)");
        }
        return number;
    }

    void checkWidth(const CsvRecord& record) const {
        const std::size_t used = usedFields(record);
        if (used > m_targets.size() ||
            (m_summary.own_export && record.fields.size() < m_targets.size())) {
            const std::size_t count =
                record.fields.size() < m_targets.size() ? record.fields.size() : used;
            throw CsvError(record.line, 0,
                           "liczba pól w wierszu: " + std::to_string(count) +
                               ", a w nagłówku sekcji " + inQuotes(m_section->title) + ": " +
                               std::to_string(m_targets.size()));
        }
    }

    void dataLine(const CsvRecord& record) {
        checkWidth(record);
        ++m_table->in_file;
        if (m_section->layout == nullptr) {
            filmLine(record);
        } else {
            detailLine(record);
        }
    }

    void filmLine(const CsvRecord& record) {
        std::memset(static_cast<void*>(&m_film), 0, sizeof m_film);
        std::optional<std::int32_t> id;
        std::size_t id_column = 1;
        const std::size_t columns = std::min(record.fields.size(), m_targets.size());
        for (std::size_t i = 0; i < columns; ++i) {
            const Target& target = m_targets[i];
            if (target.kind == Target::Id) {
                id = numberValue(record, i, target, false);
                id_column = i + 1;
            } else if (target.kind == Target::Text) {
                storeText(reinterpret_cast<char16_t*>(reinterpret_cast<unsigned char*>(&m_film) +
                                                      target.offset),
                          target.capacity, textValue(record, i, target));
            }
        }
        const bool restore = m_plan.mode == ImportMode::Restore;
        if (id && restore && *id <= 0) {
            throw CsvError(record.line, id_column,
                           "film ma identyfikator " + std::to_string(*id) +
                               ", a odtworzenie kopii przyjmuje tylko dodatnie; zaimportuj plik "
                               "w trybie dołączania, który nadaje filmom nowe identyfikatory");
        }
        const std::u16string key =
            filmKey(fieldText(m_film, kTitle.info()), fieldText(m_film, kOriginalTitle.info()),
                    fieldText(m_film, kYear.info()));
        const bool duplicate = m_plan.facts->films.count(key) != 0;
        const bool imported = !duplicate || m_plan.duplicates == DuplicateFilms::Keep;
        if (duplicate && m_first) {
            if (m_summary.duplicate_examples.size() < kDuplicateExamples) {
                std::string example = inQuotes(toUtf8(fieldText(m_film, kTitle.info())));
                const std::u16string_view year = trimmed(fieldText(m_film, kYear.info()));
                if (!year.empty()) {
                    example += " (" + toUtf8(year) + ")";
                }
                m_summary.duplicate_examples.push_back(example + ", wiersz " +
                                                       std::to_string(record.line));
            }
            ++m_summary.duplicate_films;
        }
        const std::int64_t place =
            imported ? static_cast<std::int64_t>(m_table->imported) : kSkipped;
        if (id && m_first) {
            if (!m_plan.films.emplace(*id, place).second) {
                throw CsvError(
                    record.line, id_column,
                    "identyfikator filmu " + std::to_string(*id) + " występuje w pliku drugi raz");
            }
            m_plan.largest_file_id = std::max(m_plan.largest_file_id, *id);
        }
        if (!imported) {
            return;
        }
        ++m_table->imported;
        if (m_out != nullptr) {
            if (restore && id) {
                m_film.id = *id;
            } else {
                m_film.id = m_plan.film_id_base + static_cast<std::int32_t>(++m_newFilms);
            }
            m_out->append(DataFile::Films, &m_film, sizeof m_film);
        }
    }

    void detailLine(const CsvRecord& record) {
        m_row.assign(m_section->row_size, 0);
        std::int32_t row_id = 0;
        std::int32_t film_id = 0;
        std::size_t id_column = 1;
        for (std::size_t i = 0; i < m_targets.size(); ++i) {
            const Target& target = m_targets[i];
            if (target.kind == Target::Id) {
                row_id = *numberValue(record, i, target, true);
                id_column = i + 1;
            } else if (target.kind == Target::FilmId) {
                film_id = *numberValue(record, i, target, true);
            } else if (target.kind == Target::Text) {
                storeText(reinterpret_cast<char16_t*>(m_row.data() + target.offset),
                          target.capacity, textValue(record, i, target));
            }
        }
        const auto film = m_plan.films.find(film_id);
        const bool append = m_plan.mode == ImportMode::Append;
        if (film == m_plan.films.end()) {
            ++m_table->without_film;
            if (append) {
                return;
            }
        } else if (film->second == kSkipped) {
            ++m_table->of_skipped;
            return;
        }
        ++m_table->imported;
        if (m_first && !append) {
            m_plan.largest_row_film_id = std::max(m_plan.largest_row_film_id, film_id);
            // The program finds a film's row by its ID and film: two rows alike would overwrite
            // each other at the next save.
            const std::uint64_t key =
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row_id)) << 32) |
                static_cast<std::uint32_t>(film_id);
            if (!m_rowKeys.insert(key).second) {
                throw CsvError(record.line, id_column,
                               "wiersz o ID " + std::to_string(row_id) + " filmu " +
                                   std::to_string(film_id) + " występuje w sekcji " +
                                   inQuotes(m_section->title) +
                                   " drugi raz; zaimportuj plik w trybie dołączania, który nadaje "
                                   "wierszom nowe ID");
            }
        }
        if (m_out == nullptr) {
            return;
        }
        if (append) {
            std::int32_t& next = m_plan.next_row_id[static_cast<std::size_t>(m_section->file)];
            row_id = next++;
            film_id = m_plan.film_id_base + static_cast<std::int32_t>(film->second + 1);
        }
        std::memcpy(m_row.data() + kRowIdOffset, &row_id, sizeof row_id);
        std::memcpy(m_row.data() + kRowFilmIdOffset, &film_id, sizeof film_id);
        m_out->append(m_section->file, m_row.data(), m_row.size());
    }

    Plan& m_plan;
    ImportSummary& m_summary;
    BulkAppend* m_out;
    bool m_first;
    std::vector<SectionKind> m_kinds;
    State m_state = State::Start;
    const SectionKind* m_section = nullptr;
    std::vector<const SectionKind*> m_seen;
    std::uint64_t m_titleLine = 0;
    ImportSummary::Table* m_table = nullptr;
    std::vector<Target> m_targets;
    FilmRecord m_film;
    std::vector<unsigned char> m_row;
    std::unordered_set<std::uint64_t> m_rowKeys;  // ID and film of the section's rows (restore)
    std::uint64_t m_newFilms = 0;
};

std::string failureHead(const std::filesystem::path& file) {
    return "Import z pliku " + inQuotes(file.native()) + " nie powiódł się: ";
}
constexpr std::string_view kUnchanged = " Baza danych nie została zmieniona.";

std::string csvMessage(const std::filesystem::path& file, const CsvError& error) {
    std::string where = "wiersz " + std::to_string(error.line());
    if (error.column() != 0) {
        where += ", kolumna " + std::to_string(error.column());
    }
    return failureHead(file) + where + ": " + error.what() + "." + std::string(kUnchanged);
}

std::string resolvedCharset(const ImportOptions& options) {
    return options.charset.empty() ? localeCharset() : options.charset;
}

// Reads the file once through a Walk; false when cancelled.
bool walkFile(const std::filesystem::path& file, const ImportOptions& options, Plan& plan,
              ImportSummary& summary, BulkAppend* out, bool first, const ImportProgress* progress) {
    PosixFile input(file, PosixFile::Mode::Read);
    const std::uint64_t total = input.size();
    std::uint64_t offset = 0;
    const auto source = [&input, &offset](char* data, std::size_t size) {
        const std::size_t got = input.readAt(data, size, offset);
        offset += got;
        return got;
    };
    const std::string charset = resolvedCharset(options);
    std::optional<CsvReader> reader;
    try {
        reader.emplace(source, charset);
    } catch (const std::invalid_argument&) {
        throw ImportError("Nieznane kodowanie znaków " + inQuotes(charset) + "." +
                          std::string(kUnchanged));
    }
    summary.charset = charset;
    try {
        summary.separator = reader->separator();
        Walk walk(plan, summary, out, first);
        if (!walk.run(*reader, total, progress)) {
            return false;
        }
    } catch (const CsvError& error) {
        throw ImportError(csvMessage(file, error));
    }
    summary.checksum = reader->checksum();
    return true;
}

ImportMode resolvedMode(const ImportOptions& options, const DatabaseFacts& facts,
                        const std::filesystem::path& file) {
    if (options.mode == ImportMode::Restore && !facts.empty) {
        throw ImportError(failureHead(file) +
                          "odtworzenie kopii wymaga pustej bazy danych, a ta zawiera już wiersze. "
                          "Wybierz dołączenie do bazy albo pusty folder." +
                          std::string(kUnchanged));
    }
    if (options.mode == ImportMode::Automatic) {
        return facts.empty ? ImportMode::Restore : ImportMode::Append;
    }
    return options.mode;
}

// Whether two readings of a file would write the same: the mode and every count.
bool sameOutcome(const ImportSummary& a, const ImportSummary& b) {
    const auto same = [](const ImportSummary::Table& x, const ImportSummary::Table& y) {
        return x.file == y.file && x.in_file == y.in_file && x.imported == y.imported &&
               x.without_film == y.without_film && x.of_skipped == y.of_skipped;
    };
    return a.mode == b.mode && a.duplicate_films == b.duplicate_films && same(a.films, b.films) &&
           a.details.size() == b.details.size() &&
           std::equal(a.details.begin(), a.details.end(), b.details.begin(), same);
}

ImportSummary freshSummary(ImportMode mode, const ImportOptions& options) {
    ImportSummary summary;
    summary.mode = mode;
    summary.duplicates = options.duplicates;
    return summary;
}

}  // namespace

bool ImportSummary::writesNothing() const {
    return films.imported == 0 &&
           std::all_of(details.begin(), details.end(),
                       [](const Table& table) { return table.imported == 0; });
}

std::string ImportSummary::describe() const {
    std::string text;
    const auto line = [&text](const std::string& fact) { text += fact + "\n"; };
    const std::string separator_name = separator == u';'    ? "średnik"
                                       : separator == u'\t' ? "tabulator"
                                                            : "przecinek";
    line(std::string(own_export ? "Plik: eksport programu Ordavo" : "Plik: tabela filmów") +
         ", kodowanie " + charset + ", separator pól: " + separator_name + ".");
    line(mode == ImportMode::Restore
             ? "Tryb: odtworzenie kopii (identyfikatory filmów i wierszy jak w pliku)."
             : "Tryb: dołączenie do bazy (nowe identyfikatory filmów i wierszy).");
    line("Filmy – w pliku: " + std::to_string(films.in_file) +
         ", do zaimportowania: " + std::to_string(films.imported) + ".");
    if (duplicate_films > 0) {
        std::string fact =
            "Filmy podobne do zapisanych w bazie (ten sam tytuł, tytuł oryginalny "
            "i rok produkcji): " +
            std::to_string(duplicate_films) +
            (duplicates == DuplicateFilms::Skip ? ", pominięte" : ", importowane mimo to");
        for (std::size_t i = 0; i < duplicate_examples.size(); ++i) {
            fact += (i == 0 ? ": " : "; ") + duplicate_examples[i];
        }
        line(fact + (duplicate_examples.size() < duplicate_films ? "; …" : "."));
    }
    for (const Table& table : details) {
        std::string fact = std::string(table.title) +
                           " – wiersze w pliku: " + std::to_string(table.in_file) +
                           ", do zaimportowania: " + std::to_string(table.imported);
        if (table.without_film > 0) {
            fact +=
                "; wiersze filmów, których nie ma w pliku: " + std::to_string(table.without_film) +
                (mode == ImportMode::Restore ? " (zachowane jak w pliku)" : " (pominięte)");
        }
        if (table.of_skipped > 0) {
            fact += "; wiersze pominiętych filmów: " + std::to_string(table.of_skipped);
        }
        line(fact + ".");
    }
    if (!unknown_columns.empty()) {
        std::string fact = "Nieznane kolumny (pominięte): ";
        for (std::size_t i = 0; i < unknown_columns.size(); ++i) {
            fact += (i == 0 ? "" : ", ") + unknown_columns[i];
        }
        line(fact + ".");
    }
    std::uint64_t cut_total = 0;
    std::string cut_places;
    for (const Cut& cut : cuts) {
        if (cut.count == 0) {
            continue;
        }
        cut_total += cut.count;
        cut_places += "\n  " + cut.where + ": " + std::to_string(cut.count) +
                      " (pierwsza w wierszu " + std::to_string(cut.first_line) + ")";
    }
    if (cut_total > 0) {
        line("Wartości dłuższe niż pole, przycięte jak przy wpisywaniu: " +
             std::to_string(cut_total) + cut_places);
    }
    return text;
}

ImportSummary analyseImport(const DatabasePaths& database, const std::filesystem::path& file,
                            const ImportOptions& options) {
    if (pathExists(database.database_folder / std::string(kBulkAppendJournalName))) {
        throw ImportError(failureHead(file) +
                          "w bazie danych jest poprzedni import przerwany w trakcie (plik " +
                          std::string(kBulkAppendJournalName) +
                          "); zostanie cofnięty przy otwarciu bazy w programie albo przy imporcie "
                          "bez --dry-run." +
                          std::string(kUnchanged));
    }
    const DatabaseFacts facts = readFacts(database, false);
    Plan plan;
    plan.mode = resolvedMode(options, facts, file);
    plan.duplicates = options.duplicates;
    plan.facts = &facts;
    ImportSummary summary = freshSummary(plan.mode, options);
    walkFile(file, options, plan, summary, nullptr, true, nullptr);
    return summary;
}

ImportSummary runImport(Database& database, const std::filesystem::path& file,
                        const ImportOptions& options, const ImportSummary& analysed,
                        const ImportProgress& progress, bool& completed) {
    completed = false;
    const DatabasePaths& paths = database.paths();
    const DatabaseLock lock(paths);
    if (const WriteRefusal refusal = database.writeRefusal(); refusal != WriteRefusal::None) {
        throw ImportError(failureHead(file) + database.writeRefusalMessage(refusal) +
                          std::string(kUnchanged));
    }
    database.finishInterruptedCommand();
    settleRedo(paths);
    const auto forgetAll = [&database] {
        for (DataFile each : kAllDataFiles) {
            database.keeper(each).forget();
        }
    };

    const DatabaseFacts facts = readFacts(paths, true);
    Plan plan;
    plan.mode = resolvedMode(options, facts, file);
    plan.duplicates = options.duplicates;
    plan.facts = &facts;
    // The films and the numbers again, now under the lock: the import does what the user agreed
    // to or nothing. Each reading takes half of the progress.
    const ImportProgress first_half = [&progress](std::uint64_t done, std::uint64_t total) {
        return progress(done / 2, total);
    };
    const ImportProgress second_half = [&progress](std::uint64_t done, std::uint64_t total) {
        return progress(total / 2 + done / 2, total);
    };
    ImportSummary first = freshSummary(plan.mode, options);
    if (!walkFile(file, options, plan, first, nullptr, true, &first_half)) {
        return first;
    }
    if (first.checksum != analysed.checksum) {
        throw ImportError(failureHead(file) +
                          "plik zmienił się od chwili, gdy został sprawdzony. Rozpocznij import "
                          "jeszcze raz." +
                          std::string(kUnchanged));
    }
    if (!sameOutcome(first, analysed)) {
        throw ImportError(failureHead(file) +
                          "baza danych zmieniła się od chwili, gdy plik został sprawdzony (inny "
                          "program dopisał do niej filmy albo przerwany import został cofnięty), "
                          "więc podsumowanie jest nieaktualne. Rozpocznij import jeszcze raz." +
                          std::string(kUnchanged));
    }

    BulkAppend out(paths);
    const DatabaseHeader header = out.headerBefore();
    const std::int64_t base =
        plan.mode == ImportMode::Restore
            ? std::max<std::int64_t>(
                  {header.last_id, plan.largest_file_id, plan.largest_row_film_id, 0})
            : std::max<std::int64_t>({header.last_id, facts.largest_film_id, 0});
    const std::uint64_t new_films =
        plan.mode == ImportMode::Restore
            ? first.films.imported - static_cast<std::uint64_t>(std::count_if(
                                         plan.films.begin(), plan.films.end(),
                                         [](const auto& film) { return film.second != kSkipped; }))
            : first.films.imported;
    if (base + static_cast<std::int64_t>(new_films) > std::numeric_limits<std::int32_t>::max()) {
        throw ImportError(failureHead(file) +
                          "nowym filmom z pliku zabrakłoby identyfikatorów (największy możliwy "
                          "to 2147483647): w pliku lub w bazie są za duże identyfikatory filmów." +
                          std::string(kUnchanged));
    }
    plan.film_id_base = static_cast<std::int32_t>(base);
    for (const ImportSummary::Table& table : first.details) {
        const std::size_t index = static_cast<std::size_t>(table.file);
        const std::int64_t next = std::max(facts.largest_row_id[index], 0) + std::int64_t{1};
        if (plan.mode == ImportMode::Append &&
            next + static_cast<std::int64_t>(table.imported) - 1 >
                std::numeric_limits<std::int32_t>::max()) {
            throw ImportError(failureHead(file) + "w tabeli " + std::string(table.title) +
                              " zabrakło identyfikatorów wierszy." + std::string(kUnchanged));
        }
        plan.next_row_id[index] = static_cast<std::int32_t>(next);
    }

    ImportSummary written = freshSummary(plan.mode, options);
    try {
        if (!walkFile(file, options, plan, written, &out, false, &second_half)) {
            out.rollBack();
            forgetAll();
            return written;
        }
        if (written.checksum != analysed.checksum) {
            throw ImportError(failureHead(file) +
                              "plik zmienił się w czasie importu. Rozpocznij import jeszcze raz." +
                              std::string(kUnchanged));
        }
        const std::int64_t last = base + static_cast<std::int64_t>(new_films);
        if (last != header.last_id && last > 0) {
            out.setLastFilmId(static_cast<std::int32_t>(last));
        }
        out.commit();
    } catch (...) {
        forgetAll();
        throw;  // the appender takes the rows back as it goes
    }
    forgetAll();
    // The second reading counts nothing the first did not; what it wrote is what was found.
    first.films.imported = written.films.imported;
    completed = true;
    return first;
}

}  // namespace ordavo
