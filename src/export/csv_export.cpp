#include "export/csv_export.h"

#include <array>
#include <charconv>
#include <optional>
#include <stdexcept>
#include <vector>

#include "export/export_target.h"
#include "export/text_encoder.h"
#include "storage/database_paths.h"
#include "storage/file_error.h"
#include "storage/film_record.h"
#include "storage/posix_file.h"
#include "storage/row_chunks.h"
#include "storage/unicode_text.h"
#include "tabs/detail_rows.h"

namespace ordavo {

namespace {

// The film section's columns after "ID", in the export's own order (not the record's).
constexpr std::array<std::string_view, kFilmTextFieldCount> kFilmColumnOrder = {
    "title",
    "original_title",
    "genre",
    "price",
    "catalogue_date",
    "loss_date",
    "purchase_date",
    "acquisition_name",
    "acquisition_address",
    "acquisition_email",
    "acquisition_phone",
    "acquisition_fax",
    "acquisition_www",
    "owner_first_name",
    "owner_last_name",
    "owner_address",
    "catalogue_number",
    "medium_type",
    "current_value",
    "premiere_date",
    "running_time",
    "display_format",
    "voice_over_languages",
    "subtitle_languages",
    "sound_system_name",
    "sound_system_type",
    "sound_system_version",
    "video_codec_name",
    "video_codec_type",
    "video_codec_version",
    "protection_name",
    "protection_type",
    "protection_version",
    "production_countries",
    "production_year",
    "picture_encoding_system",
    "director_name",
    "director_nationality",
    "screenwriter_name",
    "screenwriter_nationality",
    "composer_name",
    "composer_nationality",
    "cinematographer_name",
    "cinematographer_nationality",
    "own_rating_cast",
    "own_rating_soundtrack",
    "own_rating_artistic_value",
    "own_rating_cinematography",
    "own_rating_overall",
    "front_cover_path",
    "back_cover_path",
};

constexpr std::array<std::size_t, kFilmTextFieldCount> resolveFilmColumns() {
    std::array<std::size_t, kFilmTextFieldCount> indices{};
    for (std::size_t i = 0; i < kFilmTextFieldCount; ++i) {
        indices[i] = filmFieldIndex(kFilmColumnOrder[i]);
    }
    return indices;
}

constexpr std::array<std::size_t, kFilmTextFieldCount> kFilmColumns = resolveFilmColumns();

constexpr bool filmColumnsAreComplete() {
    std::array<int, kFilmTextFieldCount> seen{};
    for (std::size_t index : kFilmColumns) {
        if (index >= kFilmTextFieldCount || seen[index]++ != 0) {
            return false;
        }
    }
    return true;
}

static_assert(filmColumnsAreComplete(), "the export writes every film field exactly once");

constexpr std::string_view kBanner = "Ordavo - wyeksportowane dane";
constexpr std::string_view kFilmSectionTitle = "Tabela główna - Film";
constexpr std::string_view kIdHeader = "ID";
constexpr std::string_view kFilmIdHeader = "IDPDB";
constexpr std::u16string_view kLineEnd = u"\r\n";

// Encoded text is written out whenever this much has gathered.
constexpr std::size_t kFlushBytes = std::size_t{4} << 20;

struct Column {
    std::string_view header;
    std::size_t offset;
    std::size_t capacity;  // UTF-16 units; 0 for a signed 32-bit number
};

struct Section {
    std::string_view title;                // as the current-film scope writes it
    bool films = false;                    // the film table, whose rows messages name by title
    bool blank_in_whole_database = false;  // whole-database scope ends the title with a blank
    DataFile file = DataFile::Films;
    std::size_t row_size = 0;
    std::size_t film_id_offset = 0;  // where a row names its film: `id` or `IDPDB`
    std::vector<Column> columns;
};

Section filmSection() {
    Section section;
    section.title = kFilmSectionTitle;
    section.films = true;
    section.blank_in_whole_database = true;
    section.file = DataFile::Films;
    section.row_size = kFilmRowSize;
    section.film_id_offset = 0;
    section.columns.push_back({kIdHeader, 0, 0});
    for (std::size_t index : kFilmColumns) {
        const FilmFieldInfo& field = kFilmFields[index];
        section.columns.push_back({field.csv_header, field.offset, field.capacity});
    }
    return section;
}

Section detailSection(DetailList list) {
    const DetailLayout& layout = detailLayout(list);
    Section section;
    section.title = layout.csv_title;
    section.blank_in_whole_database = list == DetailList::Reviews;  // of the details, only this
    section.file = layout.file;
    section.row_size = layout.row_size;
    section.film_id_offset = kRowFilmIdOffset;
    section.columns.push_back({kIdHeader, kRowIdOffset, 0});
    section.columns.push_back({kFilmIdHeader, kRowFilmIdOffset, 0});
    for (const DetailField& field : layout.fields) {
        section.columns.push_back({field.csv_header, field.offset, field.width});
    }
    return section;
}

std::vector<Section> chosenSections(const ExportSections& chosen) {
    std::vector<Section> sections;
    const auto add = [&](bool on, std::initializer_list<DetailList> lists) {
        if (on) {
            for (DetailList list : lists) {
                sections.push_back(detailSection(list));
            }
        }
    };
    if (chosen.films) {
        sections.push_back(filmSection());
    }
    add(chosen.ratings, {DetailList::Reviews});
    add(chosen.cast, {DetailList::Cast});
    add(chosen.production, {DetailList::Producers, DetailList::Distributors});
    add(chosen.locations, {DetailList::Locations});
    add(chosen.loans, {DetailList::LoansTo, DetailList::LoansFrom});
    return sections;
}

std::u16string utf16(std::string_view fixed_text) {
    std::optional<std::u16string> text = fromUtf8(fixed_text);
    if (!text) {
        throw std::logic_error("a fixed export text is not UTF-8");
    }
    return *text;
}

// Which line of the export a stop happened in.
struct LinePlace {
    enum Kind { Banner, Title, Header, Data } kind = Banner;
    const Section* section = nullptr;
    std::uint64_t row = 0;  // 0-based row of the table file
    std::int32_t id = 0;
    std::u16string film_title{};  // of a film row
};

// Where and why the export stopped before its end.
struct Stop {
    ExportError::Kind kind;
    LinePlace place;
    std::string column;    // header of the column holding the character
    std::u16string units;  // the character (one or two units)
    std::string reason;    // system's reason for a read failure
    std::filesystem::path table;
};

// Builds one line at a time in UTF-16, converts it as a whole and gathers the bytes for the
// export's target, which receives them in large writes.
class CsvWriter {
public:
    CsvWriter(TextEncoder& encoder, ExportTarget& out) : m_encoder(encoder), m_out(out) {
        m_bytes.reserve(kFlushBytes + (std::size_t{1} << 20));
    }

    void startLine() {
        m_line.clear();
        m_columnStarts.clear();
    }
    void addBare(std::u16string_view text) { m_line += text; }
    void addQuoted(std::u16string_view text) {
        beginField();
        m_line += u'"';
        // A quote inside a value is doubled, so that every CSV reader splits the line right.
        std::size_t from = 0;
        for (std::size_t quote = text.find(u'"'); quote != std::u16string_view::npos;
             quote = text.find(u'"', from)) {
            m_line.append(text.substr(from, quote + 1 - from));
            m_line += u'"';
            from = quote + 1;
        }
        m_line.append(text.substr(from));
        m_line += u'"';
    }
    void addNumber(std::int32_t value) {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        beginField();
        m_line += u'"';
        for (const char* c = digits; c != end; ++c) {
            m_line += static_cast<char16_t>(*c);
        }
        m_line += u'"';
    }

    // Ends the line and converts it. Returns the index in the line of the first unit that the
    // character set cannot hold, or nullopt.
    std::optional<std::size_t> finishLine() {
        m_line += kLineEnd;
        const std::size_t done = m_encoder.append(m_line, m_bytes);
        if (m_bytes.size() >= kFlushBytes) {
            flush();
        }
        return done == m_line.size() ? std::nullopt : std::optional<std::size_t>(done);
    }

    const std::u16string& line() const { return m_line; }
    // The column of the line that holds unit `index` (0-based), or npos before the first.
    std::size_t columnAt(std::size_t index) const {
        std::size_t column = std::u16string::npos;
        for (std::size_t i = 0; i < m_columnStarts.size() && m_columnStarts[i] <= index; ++i) {
            column = i;
        }
        return column;
    }

    void flush() {
        m_out.append(m_bytes.data(), m_bytes.size());
        m_bytes.clear();
    }

private:
    void beginField() {
        if (!m_columnStarts.empty()) {
            m_line += u',';
        }
        m_columnStarts.push_back(m_line.size());
    }

    TextEncoder& m_encoder;
    ExportTarget& m_out;
    std::u16string m_line;
    std::vector<std::size_t> m_columnStarts;
    ByteBuffer m_bytes;
};

// Writes every chosen section; returns where it stopped early, or nullopt when all is written.
class SectionWriter {
public:
    SectionWriter(CsvWriter& writer, ExportScope scope, std::int32_t film_id)
        : m_writer(writer), m_whole(scope == ExportScope::WholeDatabase), m_filmId(film_id) {}

    std::optional<Stop> banner() {
        m_writer.startLine();
        m_writer.addBare(utf16(kBanner));
        if (m_whole) {
            m_writer.addBare(u" ");
        }
        return finish({LinePlace::Banner});
    }

    std::optional<Stop> section(const Section& section, const DatabasePaths& paths) {
        const std::filesystem::path& path = paths.file(section.file);
        try {
            PosixFile table(path, PosixFile::Mode::Read);
            RowChunks chunks(table, section.row_size);
            if (std::optional<Stop> stop = headLines(section)) {
                return stop;
            }
            std::optional<Stop> stop;
            forEachRow(chunks, [&](const unsigned char* row, std::uint64_t number) {
                if (m_whole || rowInt32(row, section.film_id_offset) == m_filmId) {
                    stop = dataLine(section, row, number);
                }
                return !stop;
            });
            return stop;
        } catch (const FileError& error) {
            if (error.path() != path) {
                throw;  // not the table's failure
            }
            Stop stop{ExportError::Kind::CannotRead,
                      {LinePlace::Title, &section},
                      {},
                      {},
                      error.polishReason(),
                      path};
            return stop;
        }
    }

private:
    std::optional<Stop> headLines(const Section& section) {
        m_writer.startLine();
        m_writer.addBare(utf16(section.title));
        if (m_whole && section.blank_in_whole_database) {
            m_writer.addBare(u" ");
        }
        if (std::optional<Stop> stop = finish({LinePlace::Title, &section})) {
            return stop;
        }
        m_writer.startLine();
        for (const Column& column : section.columns) {
            m_writer.addQuoted(utf16(column.header));
        }
        return finish({LinePlace::Header, &section});
    }

    std::optional<Stop> dataLine(const Section& section, const unsigned char* row,
                                 std::uint64_t number) {
        m_writer.startLine();
        for (const Column& column : section.columns) {
            if (column.capacity == 0) {
                m_writer.addNumber(rowInt32(row, column.offset));
            } else {
                m_writer.addQuoted(rowText(row, column.offset, column.capacity));
            }
        }
        LinePlace place{LinePlace::Data, &section, number, rowInt32(row, 0), {}};
        if (section.films) {
            const FilmFieldInfo& title = kFilmFields[filmFieldIndex("title")];
            place.film_title = rowText(row, title.offset, title.capacity);
        }
        return finish(place);
    }

    std::optional<Stop> finish(const LinePlace& place) {
        const std::optional<std::size_t> failed = m_writer.finishLine();
        if (!failed) {
            return std::nullopt;
        }
        const std::u16string& line = m_writer.line();
        const std::size_t at = *failed;
        Stop stop{ExportError::Kind::Unrepresentable,        place, {},
                  line.substr(at, characterUnits(line, at)), {},    {}};
        const std::size_t column = m_writer.columnAt(at);
        if (place.section != nullptr && place.kind != LinePlace::Title &&
            column < place.section->columns.size()) {
            stop.column = place.section->columns[column].header;
        }
        return stop;
    }

    CsvWriter& m_writer;
    bool m_whole;
    std::int32_t m_filmId;
};

std::string inQuotes(std::string_view text) {
    return "„" + std::string(text) + "”";
}
std::string inQuotesPath(const std::filesystem::path& path) {
    return inQuotes(path.native());
}

std::string hexCodePoint(char32_t code_point) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (int shift = code_point > 0xFFFF ? 20 : 12; shift >= 0; shift -= 4) {
        hex += kDigits[(code_point >> shift) & 0xF];
    }
    return "U+" + hex;
}

std::string describePlace(const LinePlace& place) {
    switch (place.kind) {
        case LinePlace::Banner:
            return "pierwszy wiersz pliku";
        case LinePlace::Title:
            return "sekcja " + inQuotes(place.section->title) + ", wiersz tytułu";
        case LinePlace::Header:
            return "sekcja " + inQuotes(place.section->title) + ", wiersz nagłówka";
        case LinePlace::Data: {
            const std::string row = "wiersz " + std::to_string(place.row + 1) + " tabeli " +
                                    std::string(fileName(place.section->file));
            const std::string section = "sekcja " + inQuotes(place.section->title) + ", ";
            if (place.section->films) {
                return section + "film " + inQuotes(toUtf8(place.film_title)) + " (ID " +
                       std::to_string(place.id) + ", " + row + ")";
            }
            return section + row + " (ID " + std::to_string(place.id) + ")";
        }
    }
    return {};
}

std::string describeCharacter(const std::u16string& units, const std::string& charset) {
    if (units.size() == 2) {
        const char32_t code_point = 0x10000 + ((units[0] - 0xD800) << 10) + (units[1] - 0xDC00);
        return "znaku " + inQuotes(toUtf8(units)) + " (" + hexCodePoint(code_point) +
               ") nie można zapisać w kodowaniu " + charset;
    }
    const char16_t unit = units[0];
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return "tekst zawiera uszkodzony znak (samotną połowę pary zastępczej UTF-16, " +
               hexCodePoint(unit) + ")";
    }
    return "znaku " + inQuotes(toUtf8(units)) + " (" + hexCodePoint(unit) +
           ") nie można zapisać w kodowaniu " + charset;
}

bool isSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

std::string stopMessage(const Stop& stop, const ExportTarget& target, const std::string& charset) {
    const std::string head = "Eksport do pliku " + target.label() + " nie powiódł się: ";
    const std::string untouched = " " + target.untouchedNote();
    if (stop.kind == ExportError::Kind::CannotRead) {
        return head + "nie można odczytać pliku bazy danych " + inQuotesPath(stop.table) +
               " (sekcja " + inQuotes(stop.place.section->title) + "): " + stop.reason + "." +
               untouched;
    }
    std::string where = describePlace(stop.place);
    if (!stop.column.empty()) {
        where += ", kolumna " + inQuotes(stop.column);
    }
    const bool broken = stop.units.size() == 1 && isSurrogate(stop.units[0]);
    const std::string remedy =
        broken ? " Popraw ten tekst w programie."
               : " Wybierz kodowanie UTF-8, w którym da się zapisać każdy znak, albo zmień ten "
                 "tekst w programie.";
    return head + describeCharacter(stop.units, charset) + "; " + where + "." + untouched + remedy;
}

TextEncoder& encoderFor(std::optional<TextEncoder>& encoder, std::string_view charset) {
    const std::string name = charset.empty() ? localeCharset() : std::string(charset);
    try {
        return encoder.emplace(name);
    } catch (const std::invalid_argument&) {
        throw ExportError(
            ExportError::Kind::UnknownCharset,
            "Nieznane kodowanie znaków " + inQuotes(name) + ". Nic nie zostało wyeksportowane.");
    }
}

// Makes the whole export in `target` and brings it there; throws ExportError at the first stop.
void writeExport(const DatabasePaths& database, ExportTarget& target, TextEncoder& encoder,
                 ExportScope scope, std::int32_t current_film_id, const ExportSections& sections) {
    // Rows an interrupted import appended are still in the tables until the database is opened
    // for writing again; an export must not pass them off as the collection.
    if (pathExists(database.database_folder / std::string(kBulkAppendJournalName))) {
        throw ExportError(ExportError::Kind::CannotRead,
                          "Eksport do pliku " + target.label() +
                              " nie powiódł się: w bazie danych jest import przerwany w trakcie "
                              "(plik " +
                              std::string(kBulkAppendJournalName) +
                              "), który zostanie cofnięty przy otwarciu bazy w programie. " +
                              target.untouchedNote());
    }
    const std::vector<Section> chosen = chosenSections(sections);
    CsvWriter writer(encoder, target);
    SectionWriter sections_writer(writer, scope, current_film_id);
    std::optional<Stop> stop = sections_writer.banner();
    for (const Section& section : chosen) {
        if (stop) {
            break;
        }
        stop = sections_writer.section(section, database);
    }
    if (stop) {
        throw ExportError(stop->kind, stopMessage(*stop, target, encoder.charset()));
    }
    writer.flush();
    target.commit();
}

}  // namespace

void ExportCsv(const DatabasePaths& database, const std::filesystem::path& path, ExportScope scope,
               std::int32_t current_film_id, const ExportSections& sections,
               std::string_view charset) {
    std::optional<TextEncoder> encoder;
    TextEncoder& text = encoderFor(encoder, charset);
    ExportTarget target(database, path);
    writeExport(database, target, text, scope, current_film_id, sections);
}

void ExportCsvToDescriptor(const DatabasePaths& database, int descriptor, std::string label,
                           ExportScope scope, std::int32_t current_film_id,
                           const ExportSections& sections, std::string_view charset) {
    std::optional<TextEncoder> encoder;
    TextEncoder& text = encoderFor(encoder, charset);
    ExportTarget target(database, descriptor, std::move(label));
    writeExport(database, target, text, scope, current_film_id, sections);
}

}  // namespace ordavo
