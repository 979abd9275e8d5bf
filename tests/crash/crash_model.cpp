#include "crash_model.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <utility>

#include "storage/text_field.h"
#include "storage/unicode_text.h"
#include "storage/write_batch.h"
#include "tabs/detail_rows.h"

namespace ordavo::crash {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kHeaderBytes = 36;
constexpr std::size_t kFilmRow = kFilmRowSize;

// A small, fast generator whose sequence is the same on every build (unlike the standard
// distributions), so that the driver and the supervisor draw the same numbers.
class Random {
public:
    Random(std::uint64_t seed, std::uint64_t index)
        : m_state(seed * 0x9E3779B97F4A7C15ull ^ (index + 0x632BE59BD9B4E019ull)) {
        next();
    }
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
    bool percent(int p) { return below(100) < static_cast<std::size_t>(p); }

private:
    std::uint64_t m_state;
};

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return bytes;
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

Rows splitRows(const Bytes& bytes, std::size_t row_size) {
    Rows rows;
    for (std::size_t offset = 0; offset < bytes.size(); offset += row_size) {
        const std::size_t n = std::min(row_size, bytes.size() - offset);
        rows.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                          bytes.begin() + static_cast<std::ptrdiff_t>(offset + n));
    }
    return rows;
}

Bytes joinRows(const Rows& rows) {
    Bytes bytes;
    for (const Bytes& row : rows) {
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    return bytes;
}

Bytes filmBytes(const FilmRecord& film) {
    const auto* data = reinterpret_cast<const unsigned char*>(&film);
    return Bytes(data, data + sizeof film);
}

FilmRecord filmFromBytes(const Bytes& row) {
    FilmRecord film = zeroFilmRecord();
    std::memcpy(&film, row.data(), std::min(row.size(), sizeof film));
    return film;
}

// A detail row as the lists hold it: a partial row reads padded with zeros.
Bytes padded(Bytes row, std::size_t row_size) {
    row.resize(row_size, 0);
    return row;
}

// An integer of a row; bytes missing at the end of a partial row read as zeros.
std::int32_t paddedInt32(const Bytes& row, std::size_t offset) {
    unsigned char bytes[4] = {};
    for (std::size_t i = 0; i < 4 && offset + i < row.size(); ++i) {
        bytes[i] = row[offset + i];
    }
    std::int32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::int32_t rowId(const Bytes& row) {
    return paddedInt32(row, kRowIdOffset);
}

std::int32_t rowFilmId(const Bytes& row) {
    return paddedInt32(row, kRowFilmIdOffset);
}

// Before a row is appended after a trailing partial row, the partial row is made whole: the
// append starts at the next row boundary and the gap reads as zeros.
void padLastRow(Rows& table, std::size_t row_size) {
    if (!table.empty()) {
        table.back().resize(row_size, 0);
    }
}

// Stores text into a detail row's field: cut to the width, NUL, zeros after it.
void storeRowField(Bytes& row, const DetailField& field, std::u16string_view text) {
    const std::u16string_view kept = cutToCapacity(text, field.width);
    std::vector<char16_t> units(field.width, u'\0');
    std::copy(kept.begin(), kept.end(), units.begin());
    std::memcpy(row.data() + field.offset, units.data(), field.width * sizeof(char16_t));
}

std::u16string rowFieldText(const Bytes& row, const DetailField& field) {
    std::vector<char16_t> units(field.width);
    std::memcpy(units.data(), row.data() + field.offset, field.width * sizeof(char16_t));
    return std::u16string(readText(units.data(), field.width));
}

// The rows of film `film_id` in a table, in file order.
Rows rowsOfFilm(const Rows& table, std::size_t row_size, std::int32_t film_id) {
    Rows rows;
    for (const Bytes& row : table) {
        const Bytes whole = padded(row, row_size);
        if (rowFilmId(whole) == film_id) {
            rows.push_back(whole);
        }
    }
    return rows;
}

// ReadRow: the row at current_offset into the buffer (nothing past the end), then every list
// loads the film's rows.
void readRow(Session& session, const DatabaseImage& image, bool from_start) {
    if (from_start) {
        session.current_offset = 0;
    }
    const Rows& films = image.films();
    if (session.current_offset >= 0) {
        const auto k = static_cast<std::size_t>(session.current_offset) / kFilmRow;
        if (k < films.size()) {
            session.buffer = filmFromBytes(films[k]);
        }
    }
    for (std::size_t l = 0; l < kDetailListCount; ++l) {
        const auto list = static_cast<DetailList>(l);
        ListState& state = session.list(list);
        state.rows =
            rowsOfFilm(image.details(list), detailLayout(list).row_size, session.buffer.id);
        state.new_row_pending = false;
    }
}

// SaveRows, entry by entry: into an empty table the entry goes at its start; otherwise every row
// that was in the table when the save began and has the entry's ID takes the entry, and a
// pending new row (the last entry) is appended.
void saveList(DatabaseImage& image, Session& session, DetailList list) {
    Rows& table = image.details(list);
    ListState& state = session.list(list);
    const std::size_t start_rows = table.size();
    for (std::size_t i = 0; i < state.rows.size(); ++i) {
        const Bytes& entry = state.rows[i];
        if (table.empty()) {
            table.push_back(entry);
            if (i + 1 == state.rows.size()) {
                state.new_row_pending = false;
            }
            continue;
        }
        // The pending new row (the last entry) is appended, never matched.
        const bool is_new_row = state.new_row_pending && i + 1 == state.rows.size();
        for (std::size_t p = 0; !is_new_row && p < start_rows; ++p) {
            if (rowId(table[p]) == rowId(entry) && rowFilmId(table[p]) == rowFilmId(entry)) {
                table[p] = entry;
            }
        }
        if (state.new_row_pending) {
            padLastRow(table, detailLayout(list).row_size);
            table.push_back(state.rows.back());
            state.new_row_pending = false;
        }
    }
}

// Drops every row marked 0, keeping the order of the others; a kept partial row is made whole.
void compact(Rows& table, std::size_t row_size) {
    padLastRow(table, row_size);
}

// UpdateRow, the lists' saves, and the reload the window does after it.
void saveFilm(DatabaseImage& image, Session& session) {
    const auto k = static_cast<std::size_t>(session.current_offset) / kFilmRow;
    clearUnusedUnits(session.buffer);
    image.films().at(k) = filmBytes(session.buffer);
    for (DetailList list : kSaveOrder) {
        saveList(image, session, list);
    }
    readRow(session, image, false);
}

std::string coverTarget(const std::map<std::string, CoverFile>& covers, const std::string& name,
                        const CoverFile& content) {
    const fs::path chosen(name);
    std::string target = name;
    for (int n = 2;; ++n) {
        const auto found = covers.find(target);
        if (found == covers.end() || found->second == content) {
            return target;
        }
        target =
            chosen.stem().string() + " (" + std::to_string(n) + ")" + chosen.extension().string();
    }
}

constexpr std::u16string_view kWords[] = {
    u"Noc",   u"nad",           u"Wisłą", u"Pożegnanie", u"jesieni",     u"Ziemia",   u"obiecana",
    u"Żółć",  u"gęślą",         u"jaźń",  u"Łódź",       u"Kraków",      u"ŚWIT",     u"\"cytat\"",
    u"a,b;c", u"linia\r\nnowa", u"😀",     u"🎬🎞",   u"tab\tulator", u"12,50 zł", u"—",
};

std::u16string makeText(Random& random, std::size_t capacity) {
    const std::size_t choice = random.below(100);
    if (choice < 8) {
        return {};
    }
    std::size_t target = 0;
    if (choice < 80) {
        target = 1 + random.below(std::min<std::size_t>(capacity - 1, 60));
    } else if (choice < 92) {
        target = capacity + random.below(5);  // around the capacity: cut by up to four units
        target = target > 3 ? target - 3 : 1;
    } else {
        target = capacity + random.below(50);
    }
    std::u16string text;
    while (text.size() < target) {
        if (!text.empty()) {
            text += u' ';
        }
        text += kWords[random.below(std::size(kWords))];
    }
    text.resize(target);
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
        text.pop_back();  // never hand the window half a character
    }
    return text;
}

bool isCoverField(const FilmFieldInfo& info) {
    return info.member == "front_cover_path" || info.member == "back_cover_path";
}

constexpr std::string_view kCoverNames[] = {"okładka przód.png", "okładka tył.jpg", "skan.bmp",
                                            "Żuławy 1.png"};

// Names a byte range where two rows differ, with the film fields it covers.
std::string differenceText(const Bytes& a, const Bytes& b, bool film_row) {
    if (a.size() != b.size()) {
        return "length " + std::to_string(a.size()) + " instead of " + std::to_string(b.size());
    }
    std::size_t first = a.size();
    std::size_t last = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first == a.size()) {
        return "equal";
    }
    std::string text = "bytes " + std::to_string(first) + ".." + std::to_string(last);
    if (film_row) {
        text += " (";
        bool any = false;
        if (first < 4) {
            text += "id";
            any = true;
        }
        for (const FilmFieldInfo& info : kFilmFields) {
            const std::size_t end = info.offset + info.capacity * 2;
            if (info.offset <= last && end > first) {
                text += any ? ", " : "";
                text += info.member;
                any = true;
            }
        }
        text += ")";
    }
    return text;
}

void compareTables(const DatabaseImage& actual, const DatabaseImage& expected, std::size_t t,
                   std::vector<std::string>& faults) {
    const Rows& x = actual.tables[t];
    const Rows& e = expected.tables[t];
    if (x.size() != e.size()) {
        faults.push_back(tableName(t) + ": " + std::to_string(x.size()) + " rows instead of " +
                         std::to_string(e.size()));
    }
    for (std::size_t i = 0; i < std::min(x.size(), e.size()); ++i) {
        if (x[i] != e[i]) {
            faults.push_back(tableName(t) + " row " + std::to_string(i) + ": " +
                             differenceText(x[i], e[i], t == kFilmsTable));
        }
    }
}

// Whether `row`, stored at byte `offset` of its table, is the write of `after` over `before`
// stopped at a page boundary: the kernel copies a write into the page cache page by page and a
// kill between two pages ends the write() there. Up to the boundary the row is as after, beyond
// it as before (or absent, for an append).
bool tornAtPage(const Bytes& row, const Bytes& before, const Bytes& after, std::size_t offset) {
    constexpr std::size_t kPage = 4096;
    for (std::size_t cut = kPage - offset % kPage; cut < after.size(); cut += kPage) {
        const bool head = row.size() >= cut &&
                          std::equal(after.begin(),
                                     after.begin() + static_cast<std::ptrdiff_t>(cut), row.begin());
        if (!head) {
            return false;
        }
        const Bytes tail(row.begin() + static_cast<std::ptrdiff_t>(cut), row.end());
        const Bytes old_tail =
            before.size() > cut
                ? Bytes(before.begin() + static_cast<std::ptrdiff_t>(cut), before.end())
                : Bytes{};
        if (tail == old_tail) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::size_t tableOf(DetailList list) {
    return 1 + static_cast<std::size_t>(list);
}

DataFile dataFileOf(std::size_t table) {
    return table == kFilmsTable ? DataFile::Films
                                : detailLayout(static_cast<DetailList>(table - 1)).file;
}

std::size_t rowSizeOf(std::size_t table) {
    return table == kFilmsTable ? kFilmRow
                                : detailLayout(static_cast<DetailList>(table - 1)).row_size;
}

std::string tableName(std::size_t table) {
    return std::string(fileName(dataFileOf(table)));
}

std::int32_t int32At(const Bytes& row, std::size_t offset) {
    std::int32_t value = 0;
    std::memcpy(&value, row.data() + offset, sizeof value);
    return value;
}

void setInt32At(Bytes& row, std::size_t offset, std::int32_t value) {
    std::memcpy(row.data() + offset, &value, sizeof value);
}

std::int32_t DatabaseImage::lastIssuedId() const {
    return header.size() >= kHeaderBytes ? int32At(header, 32) : 0;
}

bool DatabaseImage::sameData(const DatabaseImage& other) const {
    return header == other.header && tables == other.tables && covers == other.covers;
}

DatabaseImage readImage(const fs::path& folder, std::vector<std::string>* missing) {
    DatabaseImage image;
    const DatabasePaths paths = buildPaths(folder);
    for (DataFile file : kAllDataFiles) {
        if (!fs::is_regular_file(paths.file(file)) && missing) {
            missing->emplace_back(fileName(file));
        }
    }
    if (fs::is_regular_file(paths.file(DataFile::Header))) {
        image.header = readFile(paths.file(DataFile::Header));
    }
    for (std::size_t t = 0; t < kTableCount; ++t) {
        const fs::path path = paths.file(dataFileOf(t));
        if (fs::is_regular_file(path)) {
            image.tables[t] = splitRows(readFile(path), rowSizeOf(t));
        }
    }
    std::set<std::string> known;
    for (DataFile file : kAllDataFiles) {
        known.emplace(fileName(file));
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (known.contains(name) || name == kCoversFolderName) {
            continue;
        }
        constexpr std::string_view kRedo = ".redo";
        if (name.ends_with(kRedo) && known.contains(name.substr(0, name.size() - kRedo.size()))) {
            image.redo_records.push_back(name);
            continue;
        }
        if (name == kRedoRecordName) {
            continue;  // the log of the commands since the last checkpoint
        }
        const bool temporary =
            !name.empty() && name.back() == '0' && known.contains(name.substr(0, name.size() - 1));
        (temporary ? image.leftovers : image.strangers).push_back(name);
    }
    if (fs::is_directory(paths.covers_folder)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(paths.covers_folder)) {
            const std::string name = entry.path().filename().string();
            if (!entry.is_regular_file()) {
                image.strangers.push_back("covers/" + name);
            } else if (name.back() == '0' ||
                       (name.front() == '.' && name.find(".ordavo-") != std::string::npos)) {
                // A copy cut short: no cover of the model has such a name.
                image.leftovers.push_back("covers/" + name);
            } else {
                image.covers[name] = coverFileOf(readFile(entry.path()));
            }
        }
    }
    std::sort(image.leftovers.begin(), image.leftovers.end());
    std::sort(image.redo_records.begin(), image.redo_records.end());
    return image;
}

void writeImage(const DatabaseImage& image, const fs::path& folder) {
    fs::create_directories(folder);
    const DatabasePaths paths = buildPaths(folder);
    writeFile(paths.file(DataFile::Header), image.header);
    for (std::size_t t = 0; t < kTableCount; ++t) {
        writeFile(paths.file(dataFileOf(t)), joinRows(image.tables[t]));
    }
    fs::create_directories(paths.covers_folder);
}

DatabaseImage emptyImage() {
    DatabaseImage image;
    image.header.assign(kHeaderBytes, 0);
    const std::u16string_view version = u"1.0.2.0";
    std::memcpy(image.header.data(), version.data(), version.size() * sizeof(char16_t));
    setInt32At(image.header, 32, 1);
    return image;
}

bool Session::holdsFilm(const DatabaseImage& image) const {
    return current_offset >= 0 &&
           static_cast<std::size_t>(current_offset) / kFilmRow < image.films().size() &&
           buffer.id != 0;
}

Session startSession(const DatabaseImage& image) {
    Session session;
    readRow(session, image, true);
    return session;
}

std::string_view kindName(OpKind kind) {
    switch (kind) {
        case OpKind::Navigate:
            return "Navigate";
        case OpKind::EditFilm:
            return "EditFilm";
        case OpKind::ConfirmRow:
            return "ConfirmRow";
        case OpKind::NewRow:
            return "NewRow";
        case OpKind::SaveTable:
            return "SaveTable";
        case OpKind::SaveFilm:
            return "SaveFilm";
        case OpKind::DeleteRow:
            return "DeleteRow";
        case OpKind::DeleteFilm:
            return "DeleteFilm";
        case OpKind::AppendFilm:
            return "AppendFilm";
        case OpKind::AttachCover:
            return "AttachCover";
        case OpKind::Export:
            return "Export";
    }
    return "?";
}

std::string Operation::describe() const {
    std::string text = std::to_string(index) + " " + std::string(kindName(kind));
    switch (kind) {
        case OpKind::Navigate:
            text += " film row " + std::to_string(film);
            break;
        case OpKind::EditFilm:
            text += " " + std::to_string(texts.size()) + " fields";
            break;
        case OpKind::ConfirmRow:
        case OpKind::DeleteRow:
            text += " " + tableName(tableOf(list)) + " item " + std::to_string(row);
            break;
        case OpKind::NewRow:
        case OpKind::SaveTable:
            text += " " + tableName(tableOf(list));
            break;
        case OpKind::AttachCover:
            text += std::string(front ? " front " : " back ") + cover_name + " #" +
                    std::to_string(cover_variant);
            break;
        case OpKind::Export:
            text += scope == ExportScope::CurrentFilm ? " current film" : " whole database";
            break;
        default:
            break;
    }
    return text;
}

Operation planOperation(std::uint64_t seed, std::uint64_t index, const DatabaseImage& image,
                        const Session& session) {
    Random random(seed, index);
    Operation op;
    op.index = index;
    const std::size_t films = image.films().size();
    std::size_t detail_rows = 0;
    for (std::size_t l = 0; l < kDetailListCount; ++l) {
        detail_rows += image.details(static_cast<DetailList>(l)).size();
    }
    std::vector<DetailList> with_rows;
    for (std::size_t l = 0; l < kDetailListCount; ++l) {
        if (!session.lists[l].rows.empty()) {
            with_rows.push_back(static_cast<DetailList>(l));
        }
    }

    std::vector<std::pair<OpKind, int>> weights;
    if (!session.holdsFilm(image)) {
        weights = {{OpKind::AppendFilm, films < 3 ? 60 : 20},
                   {OpKind::Navigate, films == 0 ? 0 : 60},
                   {OpKind::EditFilm, 10},
                   {OpKind::Export, 8}};
    } else {
        const bool many_films = films >= 20;
        const bool many_rows = detail_rows >= 160;
        weights = {
            {OpKind::Navigate, 14},
            {OpKind::EditFilm, 14},
            {OpKind::ConfirmRow, with_rows.empty() ? 0 : 16},
            {OpKind::NewRow, many_rows ? 3 : 14},
            {OpKind::SaveTable, 8},
            {OpKind::SaveFilm, 12},
            {OpKind::DeleteRow, with_rows.empty() ? 0 : (many_rows ? 20 : 7)},
            {OpKind::DeleteFilm, many_films ? 14 : (films < 3 ? 1 : 4)},
            {OpKind::AppendFilm, many_films ? 1 : 6},
            {OpKind::AttachCover, 5},
            {OpKind::Export, 4},
        };
    }
    int total = 0;
    for (const auto& [kind, weight] : weights) {
        total += weight;
    }
    int pick = static_cast<int>(random.below(static_cast<std::size_t>(total)));
    for (const auto& [kind, weight] : weights) {
        if (pick < weight) {
            op.kind = kind;
            break;
        }
        pick -= weight;
    }

    switch (op.kind) {
        case OpKind::Navigate:
            op.film = random.below(films);
            break;
        case OpKind::EditFilm: {
            const std::size_t count = 1 + random.below(4);
            for (std::size_t i = 0; i < count; ++i) {
                std::size_t field = random.below(kFilmFields.size());
                if (isCoverField(kFilmFields[field])) {
                    field = 0;  // covers are only attached, never typed
                }
                op.texts.push_back({field, makeText(random, kFilmFields[field].capacity)});
            }
            break;
        }
        case OpKind::ConfirmRow:
        case OpKind::DeleteRow: {
            op.list = with_rows[random.below(with_rows.size())];
            op.row = random.below(session.list(op.list).rows.size());
            if (op.kind == OpKind::ConfirmRow) {
                const DetailLayout& layout = detailLayout(op.list);
                for (std::size_t f = 0; f < layout.fields.size(); ++f) {
                    if (random.percent(60)) {
                        op.texts.push_back({f, makeText(random, layout.fields[f].width)});
                    }
                }
            }
            break;
        }
        case OpKind::NewRow:
        case OpKind::SaveTable:
            op.list = static_cast<DetailList>(random.below(kDetailListCount));
            break;
        case OpKind::AttachCover:
            op.front = random.percent(50);
            op.cover_name = kCoverNames[random.below(std::size(kCoverNames))];
            op.cover_variant = static_cast<int>(random.below(3));
            break;
        case OpKind::Export:
            op.scope = random.percent(30) ? ExportScope::CurrentFilm : ExportScope::WholeDatabase;
            op.sections.films = random.percent(80);
            op.sections.ratings = random.percent(80);
            op.sections.cast = random.percent(80);
            op.sections.production = random.percent(80);
            op.sections.locations = random.percent(80);
            op.sections.loans = random.percent(80);
            break;
        default:
            break;
    }
    return op;
}

Bytes coverContent(const std::string& name, int variant) {
    std::uint64_t seed = 1469598103934665603ull;
    for (char c : name) {
        seed = (seed ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    Random random(seed, static_cast<std::uint64_t>(variant));
    // Mostly small images; now and then a large one, whose copy takes long enough to be cut.
    const std::size_t size = variant == 2 ? 400 * 1024 : 1024 + random.below(60 * 1024);
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t value = random.next();
        std::memcpy(bytes.data() + i, &value, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

CoverFile coverFileOf(const Bytes& content) {
    // The library's string hash reads words at a time; the driver and the supervisor are one build.
    const std::string_view bytes(reinterpret_cast<const char*>(content.data()), content.size());
    return {content.size(), std::hash<std::string_view>{}(bytes)};
}

fs::path exportPath(const fs::path& work, std::uint64_t index) {
    return work / "exports" / ("eksport nr " + std::to_string(index) + ".csv");
}

void runExport(const DatabasePaths& database, const fs::path& file, const Operation& op,
               std::int32_t film_id) {
    ExportCsv(database, file, op.scope, film_id, op.sections, "UTF-8");
}

Expectation applyOperation(const Operation& op, const fs::path& database_folder,
                           DatabaseImage& image, Session& session) {
    Expectation expected;
    expected.before = image;
    switch (op.kind) {
        case OpKind::Navigate:
            session.current_offset = static_cast<std::int64_t>(op.film * kFilmRow);
            readRow(session, image, false);
            break;
        case OpKind::EditFilm:
            for (const FieldText& text : op.texts) {
                setFieldText(session.buffer, kFilmFields[text.field], text.text);
            }
            break;
        case OpKind::ConfirmRow: {
            const DetailLayout& layout = detailLayout(op.list);
            Bytes& row = session.list(op.list).rows.at(op.row);
            Bytes confirmed(layout.row_size, 0);
            setInt32At(confirmed, kRowIdOffset, rowId(row));
            setInt32At(confirmed, kRowFilmIdOffset, rowFilmId(row));
            for (std::size_t f = 0; f < layout.fields.size(); ++f) {
                const DetailField& field = layout.fields[f];
                std::u16string text(cutToCapacity(rowFieldText(row, field), field.edit_limit));
                for (const FieldText& typed : op.texts) {
                    if (typed.field == f) {
                        text = typed.text;
                    }
                }
                storeRowField(confirmed, field, text);
            }
            row = std::move(confirmed);
            break;
        }
        case OpKind::NewRow: {
            saveList(image, session, op.list);
            const DetailLayout& layout = detailLayout(op.list);
            const Rows& table = image.details(op.list);
            std::int32_t largest = 0;
            for (const Bytes& stored : table) {
                largest = std::max(largest, rowId(stored));
            }
            Bytes row(layout.row_size, 0);
            setInt32At(row, kRowIdOffset, largest + 1);
            setInt32At(row, kRowFilmIdOffset, session.buffer.id);
            for (const DetailField& field : layout.fields) {
                storeRowField(row, field, kNewRowText);
            }
            ListState& state = session.list(op.list);
            state.rows.push_back(std::move(row));
            state.new_row_pending = true;
            break;
        }
        case OpKind::SaveTable:
            saveList(image, session, op.list);
            break;
        case OpKind::SaveFilm:
            saveFilm(image, session);
            break;
        case OpKind::DeleteRow: {
            // The first row of the item's ID goes, and with it every row marked 0 by anyone;
            // the table is replaced as a whole, never changed row by row.
            ListState& state = session.list(op.list);
            const std::int32_t id = rowId(state.rows.at(op.row));
            Rows& table = image.details(op.list);
            const auto found = std::find_if(table.begin(), table.end(), [&](const Bytes& row) {
                return rowId(row) == id && rowFilmId(row) == session.buffer.id;
            });
            if (found == table.end()) {
                break;  // a new row never saved: nothing happens
            }
            table.erase(found);
            expected.replaced_table = tableOf(op.list);
            compact(table, detailLayout(op.list).row_size);
            state.rows = rowsOfFilm(table, detailLayout(op.list).row_size, session.buffer.id);
            state.new_row_pending = false;
            break;
        }
        case OpKind::DeleteFilm: {
            const auto k = static_cast<std::size_t>(session.current_offset) / kFilmRow;
            session.buffer.id = 0;  // the buffer keeps the deleted film's text until the reload
            image.films().erase(image.films().begin() + static_cast<std::ptrdiff_t>(k));
            expected.replaced_table = kFilmsTable;
            compact(image.films(), kFilmRow);
            readRow(session, image, true);
            break;
        }
        case OpKind::AppendFilm: {
            emptyFilmRecord(session.buffer);
            // Above the counter and every id that a film row or a detail row carries.
            std::int32_t largest = image.lastIssuedId();
            for (const Bytes& film : image.films()) {
                largest = std::max(largest, rowId(film));
            }
            for (std::size_t l = 0; l < kDetailListCount; ++l) {
                for (const Bytes& row : image.details(static_cast<DetailList>(l))) {
                    largest = std::max(largest, rowFilmId(row));
                }
            }
            const std::int32_t id = largest + 1;
            setInt32At(image.header, 32, id);
            session.buffer.id = id;
            clearUnusedUnits(session.buffer);
            padLastRow(image.films(), kFilmRow);
            image.films().push_back(filmBytes(session.buffer));
            session.current_offset =
                static_cast<std::int64_t>((image.films().size() - 1) * kFilmRow);
            readRow(session, image, false);
            break;
        }
        case OpKind::AttachCover: {
            const CoverFile content = coverFileOf(coverContent(op.cover_name, op.cover_variant));
            const std::string target = coverTarget(image.covers, op.cover_name, content);
            image.covers.emplace(target, content);
            const fs::path stored = buildPaths(database_folder).covers_folder / target;
            const std::u16string path = fromUtf8(stored.string()).value();
            if (op.front) {
                storeText(session.buffer.front_cover_path, path);
            } else {
                storeText(session.buffer.back_cover_path, path);
            }
            saveFilm(image, session);
            break;
        }
        case OpKind::Export:
            break;
    }
    expected.after = image;
    return expected;
}

std::vector<std::string> checkEqual(const DatabaseImage& actual, const DatabaseImage& expected) {
    std::vector<std::string> faults;
    if (actual.header != expected.header) {
        faults.push_back("KR.kr: header differs (last id " + std::to_string(actual.lastIssuedId()) +
                         " instead of " + std::to_string(expected.lastIssuedId()) + ")");
    }
    for (std::size_t t = 0; t < kTableCount; ++t) {
        compareTables(actual, expected, t, faults);
    }
    for (const auto& [name, content] : expected.covers) {
        const auto found = actual.covers.find(name);
        if (found == actual.covers.end()) {
            faults.push_back("covers/" + name + " is missing");
        } else if (found->second != content) {
            faults.push_back("covers/" + name + " has other content");
        }
    }
    for (const auto& [name, content] : actual.covers) {
        if (!expected.covers.contains(name)) {
            faults.push_back("covers/" + name + " should not be there");
        }
    }
    return faults;
}

std::vector<std::string> checkCutShort(const DatabaseImage& actual, const Expectation& expected) {
    std::vector<std::string> faults;
    const DatabaseImage& before = expected.before;
    const DatabaseImage& after = expected.after;
    if (actual.header != before.header && actual.header != after.header) {
        faults.push_back("KR.kr: header neither as before nor as after (last id " +
                         std::to_string(actual.lastIssuedId()) + ")");
    }
    for (std::size_t t = 0; t < kTableCount; ++t) {
        const Rows& x = actual.tables[t];
        const Rows& b = before.tables[t];
        const Rows& a = after.tables[t];
        if (expected.replaced_table == t) {
            if (x != b && x != a) {
                faults.push_back(tableName(t) + ": neither as before nor compacted");
                compareTables(actual, after, t, faults);
            }
            continue;
        }
        // Rows are written in place or appended, each at most once by one command.
        if (x.size() < b.size() || x.size() > std::max(a.size(), b.size())) {
            faults.push_back(tableName(t) + ": " + std::to_string(x.size()) + " rows, expected " +
                             std::to_string(b.size()) + " to " + std::to_string(a.size()));
        }
        const std::size_t row_size = rowSizeOf(t);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const bool as_before = i < b.size() && x[i] == b[i];
            const bool as_after = i < a.size() && x[i] == a[i];
            if (as_before || as_after) {
                continue;
            }
            std::string text =
                tableName(t) + " row " + std::to_string(i) + " is neither as before nor as after";
            if (i < a.size() &&
                tornAtPage(x[i], i < b.size() ? b[i] : Bytes{}, a[i], i * row_size)) {
                text += " (its write was stopped at a page boundary)";
            }
            text += ":";
            if (i < b.size()) {
                text += " vs before " + differenceText(x[i], b[i], t == kFilmsTable) + ";";
            }
            if (i < a.size()) {
                text += " vs after " + differenceText(x[i], a[i], t == kFilmsTable);
            }
            faults.push_back(text);
        }
    }
    for (const auto& [name, content] : before.covers) {
        const auto found = actual.covers.find(name);
        if (found == actual.covers.end() || found->second != content) {
            faults.push_back("covers/" + name + " lost or changed");
        }
    }
    for (const auto& [name, content] : actual.covers) {
        const auto found = after.covers.find(name);
        if (found == after.covers.end() || found->second != content) {
            faults.push_back("covers/" + name + " is not a complete copy of the chosen image");
        }
    }
    return faults;
}

std::vector<std::string> tornRows(const DatabaseImage& actual, const Expectation& expected) {
    std::vector<std::string> torn;
    for (std::size_t t = 0; t < kTableCount; ++t) {
        if (expected.replaced_table == t) {
            continue;
        }
        const Rows& x = actual.tables[t];
        const Rows& b = expected.before.tables[t];
        const Rows& a = expected.after.tables[t];
        for (std::size_t i = 0; i < std::min(x.size(), a.size()); ++i) {
            const bool as_before = i < b.size() && x[i] == b[i];
            if (!as_before && x[i] != a[i] &&
                tornAtPage(x[i], i < b.size() ? b[i] : Bytes{}, a[i], i * rowSizeOf(t))) {
                torn.push_back(tableName(t) + " row " + std::to_string(i));
            }
        }
    }
    return torn;
}

std::vector<std::string> checkInvariants(const DatabaseImage& image) {
    std::vector<std::string> faults;
    if (image.header.size() != kHeaderBytes) {
        faults.push_back("KR.kr is " + std::to_string(image.header.size()) + " bytes long");
    } else {
        std::u16string version(16, u'\0');
        std::memcpy(version.data(), image.header.data(), 32);
        if (std::u16string_view(readText(version.data(), 16)) != u"1.0.2.0") {
            faults.push_back("KR.kr: version text changed");
        }
    }
    for (std::size_t t = 0; t < kTableCount; ++t) {
        std::set<std::int32_t> ids;
        for (std::size_t i = 0; i < image.tables[t].size(); ++i) {
            const Bytes& row = image.tables[t][i];
            const std::string where = tableName(t) + " row " + std::to_string(i);
            if (row.size() != rowSizeOf(t)) {
                faults.push_back(where + " is partial: " + std::to_string(row.size()) + " bytes");
            }
            const std::int32_t id = rowId(row);
            if (id != 0 && !ids.insert(id).second) {
                faults.push_back(where + ": id " + std::to_string(id) + " issued twice");
            }
            if (t == kFilmsTable && id > image.lastIssuedId()) {
                faults.push_back(where + ": id " + std::to_string(id) + " above the last issued " +
                                 std::to_string(image.lastIssuedId()));
            }
        }
    }
    for (const std::string& name : image.redo_records) {
        faults.push_back("a redo record was left behind: " + name);
    }
    for (const std::string& name : image.strangers) {
        faults.push_back("unexpected file in the database folder: " + name);
    }
    return faults;
}

}  // namespace ordavo::crash
