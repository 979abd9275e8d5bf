#include "film_list/film_overview.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "film_list/polish_text.h"
#include "storage/file_names.h"
#include "storage/posix_file.h"
#include "storage/row_chunks.h"
#include "tabs/detail_rows.h"

namespace ordavo {

namespace {

constexpr std::size_t kFilmIdOffset = 0;

// The parts of a film row that the shown fields take, merged where little lies between them:
// one read each instead of one read of the whole 31,888-byte row.
struct ByteRange {
    std::size_t begin = 0;
    std::size_t end = 0;
};

std::vector<ByteRange> shownRanges() {
    std::vector<ByteRange> fields;
    fields.push_back({kFilmIdOffset, kFilmIdOffset + sizeof(std::int32_t)});
    for (const FilmFieldId& id : kOverviewFields) {
        const FilmFieldInfo& info = id.info();
        fields.push_back({info.offset, info.offset + info.capacity * sizeof(char16_t)});
    }
    std::sort(fields.begin(), fields.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.begin < b.begin; });
    constexpr std::size_t kMergeGap = 2048;  // cheaper to read than another system call
    std::vector<ByteRange> merged;
    for (const ByteRange& field : fields) {
        if (!merged.empty() && field.begin <= merged.back().end + kMergeGap) {
            merged.back().end = std::max(merged.back().end, field.end);
        } else {
            merged.push_back(field);
        }
    }
    return merged;
}

const std::vector<ByteRange>& rangesToRead() {
    static const std::vector<ByteRange> ranges = shownRanges();
    return ranges;
}

// Reads the shown fields of row `row` of a film table `length` bytes long into `buffer` (a whole
// row's size, the fields at their offsets; what lies past the end of the table reads as zeros).
void readShownFields(const PosixFile& table, std::uint64_t length, std::uint64_t row,
                     unsigned char* buffer) {
    const std::uint64_t start = row * kFilmRowSize;
    for (const ByteRange& range : rangesToRead()) {
        const std::uint64_t from = start + range.begin;
        const std::size_t wanted = range.end - range.begin;
        std::size_t got = 0;
        if (from < length) {
            const auto present =
                static_cast<std::size_t>(std::min<std::uint64_t>(wanted, length - from));
            got = table.readAt(buffer + range.begin, present, from);
        }
        std::memset(buffer + range.begin + got, 0, wanted - got);
    }
}

OverviewRow rowFrom(const unsigned char* bytes, std::uint64_t row) {
    OverviewRow shown;
    shown.offset = static_cast<std::int64_t>(row * kFilmRowSize);
    shown.id = rowInt32(bytes, kFilmIdOffset);
    for (std::size_t i = 0; i < kOverviewFieldCount; ++i) {
        const FilmFieldInfo& info = kOverviewFields[i].info();
        shown.texts += rowText(bytes, info.offset, info.capacity);
        shown.ends[i] = static_cast<std::uint16_t>(shown.texts.size());
    }
    shown.texts.shrink_to_fit();
    const std::string id = std::to_string(shown.id);
    shown.folded.assign(id.begin(), id.end());
    for (std::size_t i = 0; i < kOverviewFieldCount; ++i) {
        shown.folded += u'\n';
        appendFolded(shown.folded, shown.field(i));
    }
    shown.folded.shrink_to_fit();
    return shown;
}

// A row of a table of loans to other people, as far as the list cares: open when no return
// date is stored.
std::optional<OpenLoan> loanFrom(const unsigned char* row) {
    const auto text = [row](std::string_view member) {
        for (const DetailField& field : kWypozyczInnymLayout.fields) {
            if (field.member == member) {
                return rowText(row, field.offset, field.width);
            }
        }
        return std::u16string_view();
    };
    if (!text("return_date").empty()) {
        return std::nullopt;
    }
    OpenLoan loan;
    loan.film_id = rowInt32(row, kRowFilmIdOffset);
    loan.text = text("person");
    const std::u16string_view date = text("loan_date");
    if (!loan.text.empty() && !date.empty()) {
        loan.text += u", ";
    }
    loan.text += date;
    return loan;
}

std::optional<OpenLoan> readLoanRow(const PosixFile& table, std::uint64_t length,
                                    std::uint64_t row) {
    const std::size_t size = kWypozyczInnymLayout.row_size;
    std::vector<char16_t> buffer((size + 1) / 2, u'\0');
    auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
    const std::uint64_t from = row * size;
    if (from < length) {
        table.readAt(bytes, static_cast<std::size_t>(std::min<std::uint64_t>(size, length - from)),
                     from);
    }
    return loanFrom(bytes);
}

}  // namespace

std::string_view overviewColumnLabel(OverviewColumn column) {
    switch (column) {
        case OverviewColumn::Id:
            return "ID";
        case OverviewColumn::Lent:
            return "Wypożyczony";
        case OverviewColumn::Director:
            return FilmFieldId("director_name").info().group;
        default:
            return kOverviewFields[static_cast<std::size_t>(column) - 1].info().label;
    }
}

bool sortsNumerically(OverviewColumn column) {
    return column == OverviewColumn::Id || column == OverviewColumn::Year;
}

std::unique_ptr<OverviewScan> scanOverview(TableKeeper& films, TableKeeper& loans,
                                           const std::atomic<bool>* cancelled,
                                           const std::function<void(double)>& progress) {
    auto scan = std::make_unique<OverviewScan>();
    {
        const PosixFile table(films.path(), PosixFile::Mode::Read);
        scan->films_start = films.startRead(table);
        const std::uint64_t length = table.size();
        const std::uint64_t rows = rowCount(length, kFilmRowSize);
        scan->rows.reserve(static_cast<std::size_t>(rows));
        // Whole rows in large chunks: copying them costs less than a read of the few fields
        // shown in each row would (one system call per row and field).
        RowChunks chunks(table, kFilmRowSize);
        const bool whole = forEachRow(chunks, [&](const unsigned char* bytes, std::uint64_t row) {
            if (row % 512 == 0) {
                if (cancelled && cancelled->load(std::memory_order_relaxed)) {
                    return false;
                }
                if (progress) {
                    progress(static_cast<double>(row) / static_cast<double>(rows));
                }
            }
            scan->rows.push_back(rowFrom(bytes, row));
            return true;
        });
        if (!whole) {
            return nullptr;
        }
        scan->films_after = stampOf(table);
    }
    const PosixFile table(loans.path(), PosixFile::Mode::Read);
    scan->loans_start = loans.startRead(table);
    RowChunks chunks(table, kWypozyczInnymLayout.row_size);
    scan->loans.reserve(static_cast<std::size_t>(chunks.totalRows()));
    forEachRow(chunks, [&](const unsigned char* row, std::uint64_t) {
        scan->loans.push_back(loanFrom(row));
        return true;
    });
    scan->loans_after = stampOf(table);
    return scan;
}

// The overview as a view of the film table: own writes of film rows are read again, row by row.
class FilmOverview::FilmsView final : public TableView {
public:
    explicit FilmsView(FilmOverview& overview) : m_overview(overview) {}
    void drop() override { m_overview.m_dropped = true; }
    void rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) override {
        if (m_overview.stale()) {
            return;
        }
        std::vector<OverviewRow>& shown = m_overview.m_rows;
        std::vector<std::uint64_t> sorted(rows.begin(), rows.end());
        std::sort(sorted.begin(), sorted.end());
        const std::uint64_t length = table.size();
        std::vector<char16_t> buffer(kFilmRowSize / 2, u'\0');
        auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
        for (const std::uint64_t row : sorted) {
            if (row > shown.size()) {
                drop();  // a gap: rows this program did not write
                return;
            }
            readShownFields(table, length, row, bytes);
            if (row == shown.size()) {
                shown.push_back(rowFrom(bytes, row));
            } else {
                shown[row] = rowFrom(bytes, row);
            }
        }
        if (rowCount(length, kFilmRowSize) != shown.size()) {
            drop();
            return;
        }
        m_overview.changed(false, sorted);
    }

private:
    FilmOverview& m_overview;
};

// The overview as a view of the table of loans to other people.
class FilmOverview::LoansView final : public TableView {
public:
    explicit LoansView(FilmOverview& overview) : m_overview(overview) {}
    void drop() override { m_overview.m_dropped = true; }
    void rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) override {
        if (m_overview.stale()) {
            return;
        }
        auto& loans = m_overview.m_loanRows;
        const std::uint64_t length = table.size();
        const std::uint64_t total = rowCount(length, kWypozyczInnymLayout.row_size);
        if (total < loans.size()) {
            drop();
            return;
        }
        std::vector<bool> written(static_cast<std::size_t>(total) - loans.size(), false);
        for (const std::uint64_t row : rows) {
            if (row >= total) {
                drop();
                return;
            }
            if (row >= loans.size()) {
                written[static_cast<std::size_t>(row) - loans.size()] = true;
            }
        }
        if (std::find(written.begin(), written.end(), false) != written.end()) {
            drop();  // the table grew by rows this program did not write
            return;
        }
        loans.resize(static_cast<std::size_t>(total));
        for (const std::uint64_t row : rows) {
            loans[static_cast<std::size_t>(row)] = readLoanRow(table, length, row);
        }
        m_overview.rebuildLent();
        m_overview.changed(true);
    }

private:
    FilmOverview& m_overview;
};

FilmOverview::FilmOverview(TableKeeper& films, TableKeeper& loans)
    : m_films(films),
      m_loans(loans),
      m_filmsView(std::make_unique<FilmsView>(*this)),
      m_loansView(std::make_unique<LoansView>(*this)) {
    m_films.attach(*m_filmsView);
    m_loans.attach(*m_loansView);
}

FilmOverview::~FilmOverview() {
    m_films.detach(*m_filmsView);
    m_loans.detach(*m_loansView);
}

bool FilmOverview::upToDate() {
    if (stale()) {
        return false;
    }
    for (TableKeeper* keeper : {&m_films, &m_loans}) {
        const std::lock_guard lock(keeper->mutex());
        const PosixFile file(keeper->path(), PosixFile::Mode::Read);
        if (!keeper->validate(file)) {
            return false;
        }
    }
    return !stale();
}

bool FilmOverview::install(std::unique_ptr<OverviewScan> scan) {
    const std::lock_guard films_lock(m_films.mutex());
    const std::lock_guard loans_lock(m_loans.mutex());
    // A write made after the scan ended shows in the stamps too: the scan is then already old.
    const PosixFile films(m_films.path(), PosixFile::Mode::Read);
    const PosixFile loans(m_loans.path(), PosixFile::Mode::Read);
    if (stampOf(films) != scan->films_after || stampOf(loans) != scan->loans_after) {
        return false;
    }
    m_dropped = false;
    if (!m_films.recordRead(scan->films_start, scan->films_after, m_filmsView.get()) ||
        !m_loans.recordRead(scan->loans_start, scan->loans_after, m_loansView.get())) {
        m_built = false;
        return false;
    }
    m_rows = std::move(scan->rows);
    m_loanRows = std::move(scan->loans);
    m_built = true;
    rebuildLent();
    changed(true);
    return true;
}

void FilmOverview::clear() {
    m_rows.clear();
    m_loanRows.clear();
    m_lent.clear();
    m_built = false;
    changed(true);
}

void FilmOverview::rebuildLent() {
    m_lent.clear();
    for (const std::optional<OpenLoan>& loan : m_loanRows) {
        if (!loan) {
            continue;
        }
        std::u16string& text = m_lent[loan->film_id];
        if (!text.empty()) {
            text += u"; ";
        }
        text += loan->text.empty() ? std::u16string_view(u"?") : std::u16string_view(loan->text);
    }
}

void FilmOverview::changed(bool whole, std::span<const std::uint64_t> rows) {
    m_pending.whole = m_pending.whole || whole;
    if (!m_pending.whole) {
        m_pending.rows.insert(m_pending.rows.end(), rows.begin(), rows.end());
    }
    if (m_changed) {
        m_changed();
    }
}

FilmOverview::Changes FilmOverview::takeChanges() {
    Changes taken = std::move(m_pending);
    m_pending = {};
    return taken;
}

std::u16string_view FilmOverview::lentText(std::int32_t film_id) const {
    const auto it = m_lent.find(film_id);
    return it == m_lent.end() ? std::u16string_view() : std::u16string_view(it->second);
}

std::u16string FilmOverview::cellText(std::size_t row, OverviewColumn column) const {
    const OverviewRow& shown = m_rows[row];
    switch (column) {
        case OverviewColumn::Id: {
            const std::string digits = std::to_string(shown.id);
            return std::u16string(digits.begin(), digits.end());
        }
        case OverviewColumn::Lent:
            return std::u16string(lentText(shown.id));
        default:
            return std::u16string(shown.field(static_cast<std::size_t>(column) - 1));
    }
}

}  // namespace ordavo
