#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "storage/file_stamp.h"
#include "storage/film_record.h"
#include "storage/table_keeper.h"

namespace ordavo {

// The columns of the film list, in the order shown.
enum class OverviewColumn {
    Id,
    Title,
    OriginalTitle,
    Genre,
    Year,
    Director,
    Medium,
    Overall,
    Lent,
};
inline constexpr std::size_t kOverviewColumnCount = 9;

// The columns that show a text field of the film row (every column but "ID" and "Wypożyczony"),
// with the film field each shows.
inline constexpr std::size_t kOverviewFieldCount = 7;
inline constexpr std::array<FilmFieldId, kOverviewFieldCount> kOverviewFields = {
    FilmFieldId("title"),
    FilmFieldId("original_title"),
    FilmFieldId("genre"),
    FilmFieldId("production_year"),
    FilmFieldId("director_name"),
    FilmFieldId("medium_type"),
    FilmFieldId("own_rating_overall"),
};

// The header of a column: the film field's label ("Reżyser" is its group's caption, as the
// field's own label is only "Imię i Nazwisko").
std::string_view overviewColumnLabel(OverviewColumn column);
// Whether a column sorts by number ("ID", "Rok produkcji") rather than by Polish order.
bool sortsNumerically(OverviewColumn column);

// One film row as the list shows it.
struct OverviewRow {
    std::int64_t offset = 0;  // the row's byte offset in the film table
    std::int32_t id = 0;
    std::u16string texts;  // the shown fields' texts, back to back, in kOverviewFields order
    std::array<std::uint16_t, kOverviewFieldCount> ends{};  // where each text ends in `texts`
    // The id and the texts as the quick filter compares them (foldForMatch), '\n' between: made
    // with the row, on the thread that reads it.
    std::u16string folded;

    std::u16string_view field(std::size_t index) const {
        const std::size_t begin = index == 0 ? 0 : ends[index - 1];
        return std::u16string_view(texts).substr(begin, ends[index] - begin);
    }
};

// A loan to another person that is not yet returned (its "Data oddania" is empty).
struct OpenLoan {
    std::int32_t film_id = 0;
    std::u16string text;  // "person, loan date"
};

// What a whole read of the film table and the loans table found, with the stamps that tell
// whether the files changed meanwhile. Made on any thread by scanOverview.
struct OverviewScan {
    std::vector<OverviewRow> rows;
    std::vector<std::optional<OpenLoan>> loans;  // per row of the loans table
    TableKeeper::ReadStart films_start, loans_start;
    FileStamp films_after, loans_after;
};

// Reads the shown fields of every film row (only the bytes those fields take) and every loan
// row. Setting `cancelled` makes it stop soon and return nothing; `progress` (may be empty) is
// told the share of the film table read so far. Throws FileError when a table cannot be read.
std::unique_ptr<OverviewScan> scanOverview(TableKeeper& films, TableKeeper& loans,
                                           const std::atomic<bool>* cancelled = nullptr,
                                           const std::function<void(double)>& progress = {});

// The overview of the whole film table that the film list shows: one entry per row, in table
// order, with who has each copy now. Both tables' keepers know it as a view: this program's own
// writes are caught up with by reading only the rows written; any other change of either file
// (another program, a replaced table) marks it stale, and a new scan replaces it. Used on one
// thread (the window's); only the staleness flag may be set from another.
class FilmOverview {
public:
    FilmOverview(TableKeeper& films, TableKeeper& loans);
    ~FilmOverview();
    FilmOverview(const FilmOverview&) = delete;
    FilmOverview& operator=(const FilmOverview&) = delete;

    // Whether what it holds is the tables as they are now: checks both files' stamps (a change
    // by another program makes it stale). False also before the first scan was installed.
    // Throws FileError when a table cannot be opened.
    bool upToDate();
    // Whether a scan is needed, without looking at the files.
    bool stale() const { return !m_built || m_dropped.load(); }

    // Takes a scan's rows; false when a table changed while it was read (scan again).
    bool install(std::unique_ptr<OverviewScan> scan);
    // Forgets everything (another database): empty and stale.
    void clear();

    // Called after own writes changed what it holds (on the writing thread, while the write's
    // keeper is locked: do no file work in it).
    void setChanged(std::function<void()> changed) { m_changed = std::move(changed); }

    const std::vector<OverviewRow>& rows() const { return m_rows; }
    // The text of a cell ("ID" as a number; "Wypożyczony" empty unless lent out now).
    std::u16string cellText(std::size_t row, OverviewColumn column) const;
    // Who has the film now ("person, date"; several open loans joined by "; "), "" otherwise.
    std::u16string_view lentText(std::int32_t film_id) const;
    // What changed since the last call: every row (a scan installed, cleared, loans changed),
    // or only the rows listed, by index. Lets derived data (sort keys, folded texts) be brought
    // up to date row by row.
    struct Changes {
        bool whole = false;
        std::vector<std::size_t> rows;
    };
    Changes takeChanges();

private:
    class FilmsView;
    class LoansView;
    void rebuildLent();
    void changed(bool whole, std::span<const std::uint64_t> rows = {});

    TableKeeper& m_films;
    TableKeeper& m_loans;
    std::unique_ptr<FilmsView> m_filmsView;
    std::unique_ptr<LoansView> m_loansView;
    std::vector<OverviewRow> m_rows;
    std::vector<std::optional<OpenLoan>> m_loanRows;
    std::unordered_map<std::int32_t, std::u16string> m_lent;
    bool m_built = false;
    std::atomic<bool> m_dropped{false};
    Changes m_pending{true, {}};
    std::function<void()> m_changed;
};

}  // namespace ordavo
