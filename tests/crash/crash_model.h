#pragma once

// The model behind the kill test: what a database folder holds (DatabaseImage), what the window
// holds in memory between commands (Session), the seeded choice of the next command (Operation),
// and the effect each command must have on both, written from the file formats' rules and not
// from the storage code. The driver executes the commands through the core and compares the
// outcome with this model after each one; the supervisor replays the same commands on the model
// to know what a database killed in the middle of a command may hold.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "export/csv_export.h"
#include "storage/database_paths.h"
#include "storage/film_record.h"
#include "storage/page_handover.h"

namespace ordavo::crash {

using Bytes = std::vector<unsigned char>;
using Rows = std::vector<Bytes>;

// The tables of a database folder in one indexable order: the film table, then the seven detail
// tables in DetailList order.
inline constexpr std::size_t kFilmsTable = 0;
inline constexpr std::size_t kTableCount = 1 + kDetailListCount;
std::size_t tableOf(DetailList list);
DataFile dataFileOf(std::size_t table);
std::size_t rowSizeOf(std::size_t table);
std::string tableName(std::size_t table);

// A cover file as far as a comparison needs it: its length and a 64-bit hash of its bytes.
struct CoverFile {
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
    bool operator==(const CoverFile&) const = default;
};
CoverFile coverFileOf(const Bytes& content);

// The contents of a database folder, row by row. A trailing partial row is kept as a short row.
struct DatabaseImage {
    Bytes header;
    std::array<Rows, kTableCount> tables;
    std::map<std::string, CoverFile> covers;  // file name in the covers folder -> content
    // Files that a replacement in progress leaves: "<data file>0" and "<cover>0".
    std::vector<std::string> leftovers;
    // Redo records of row writes, "<data file>.redo": a kill inside a command that writes rows
    // leaves one, and opening the database finishes and removes it.
    std::vector<std::string> redo_records;
    // Anything else in the folder that does not belong to a database.
    std::vector<std::string> strangers;

    Rows& films() { return tables[kFilmsTable]; }
    const Rows& films() const { return tables[kFilmsTable]; }
    Rows& details(DetailList list) { return tables[tableOf(list)]; }
    const Rows& details(DetailList list) const { return tables[tableOf(list)]; }
    std::int32_t lastIssuedId() const;

    // Equal as far as the database goes (leftovers, redo records and strangers aside).
    bool sameData(const DatabaseImage& other) const;
};

// Reads the database folder. Covers are read whole; a missing data file reads as absent (its
// name lands in `missing`).
DatabaseImage readImage(const std::filesystem::path& folder,
                        std::vector<std::string>* missing = nullptr);
// Writes an image as a fresh database folder without its covers (for reference exports).
void writeImage(const DatabaseImage& image, const std::filesystem::path& folder);
// An empty database as createMissing leaves it.
DatabaseImage emptyImage();

// Integers of a row (little-endian, as stored).
std::int32_t int32At(const Bytes& row, std::size_t offset);
void setInt32At(Bytes& row, std::size_t offset, std::int32_t value);

// What the window holds between commands: the current-film buffer and its row offset, and each
// detail list's rows and pending-new-row flag.
struct ListState {
    Rows rows;
    bool new_row_pending = false;
};
struct Session {
    FilmRecord buffer = zeroFilmRecord();
    std::int64_t current_offset = 0;
    std::array<ListState, kDetailListCount> lists;

    ListState& list(DetailList which) { return lists[static_cast<std::size_t>(which)]; }
    const ListState& list(DetailList which) const { return lists[static_cast<std::size_t>(which)]; }
    // Whether a stored film is shown, so that its commands apply.
    bool holdsFilm(const DatabaseImage& image) const;
};

// The window just started on `image`: the first film read, its lists loaded.
Session startSession(const DatabaseImage& image);

enum class OpKind {
    Navigate,     // page to film `film` (a read)
    EditFilm,     // type into film fields (memory only)
    ConfirmRow,   // "Edytuj" + "Zatwierdź" on row `row` of `list` (memory only)
    NewRow,       // "Nowy" in `list`: saves the list, then adds a pending row
    SaveTable,    // "Zapisz" of `list`
    SaveFilm,     // "Zapisz" of the film: its row and all seven lists, then a reload
    DeleteRow,    // "Usuń" on row `row` of `list`
    DeleteFilm,   // deletes the shown film, then shows the first one
    AppendFilm,   // "Nowy film": an empty film with a fresh id
    AttachCover,  // copies an image into the covers folder and saves the film with its path
    Export,       // CSV export to a file outside the database
};
std::string_view kindName(OpKind kind);

struct FieldText {
    std::size_t field;  // index into kFilmFields, or into the layout's fields for a row
    std::u16string text;
};

struct Operation {
    std::uint64_t index = 0;
    OpKind kind = OpKind::Navigate;
    std::size_t film = 0;          // Navigate: row number in the film table
    std::vector<FieldText> texts;  // EditFilm, ConfirmRow: the fields typed over
    DetailList list = DetailList::Reviews;
    std::size_t row = 0;     // ConfirmRow, DeleteRow: list item
    bool front = true;       // AttachCover: front or back cover
    std::string cover_name;  // AttachCover: file name of the chosen image
    int cover_variant = 0;   // AttachCover: which of a few contents the image has
    ExportScope scope = ExportScope::WholeDatabase;
    ExportSections sections;

    std::string describe() const;
};

// The command number `index` of the run with `seed`, chosen from what the window shows and the
// database holds. Deterministic: the driver and the supervisor make the same choice.
Operation planOperation(std::uint64_t seed, std::uint64_t index, const DatabaseImage& image,
                        const Session& session);

// The image (bytes) a cover of this name and variant has.
Bytes coverContent(const std::string& name, int variant);
// Where an export command writes, inside the work folder's "exports" folder.
std::filesystem::path exportPath(const std::filesystem::path& work, std::uint64_t index);

// Runs an export command. Every error is thrown on: no kill leaves a row torn, so no row holds
// half of a surrogate pair at which a UTF-8 export would stop.
void runExport(const DatabasePaths& database, const std::filesystem::path& file,
               const Operation& op, std::int32_t film_id);

// What a database killed during a command may hold.
struct Expectation {
    DatabaseImage before;
    DatabaseImage after;
    std::optional<std::size_t> replaced_table;  // the table a delete replaces as a whole
};

// Applies `op` to the model: the image (with `database_folder`, the folder the covers' paths
// name) and the session. Returns what the database may hold if the command is cut short.
Expectation applyOperation(const Operation& op, const std::filesystem::path& database_folder,
                           DatabaseImage& image, Session& session);

// Why `actual` is not a state that `expected` allows (empty when it is). Each row must read as
// before the command or as the command leaves it; a table a delete replaces must be whole as
// before or as after; covers may only gain the command's complete copy. `actual` is the database
// as opened again, its redo records finished.
std::vector<std::string> checkCutShort(const DatabaseImage& actual, const Expectation& expected);
// The rows of `actual` that are the command's write stopped at a page boundary: new up to it and
// as before beyond it (or absent, for an append). The kernel copies a write() into the page cache
// page by page and stops at a fatal signal in between, so a kill can leave a row spanning pages
// like this until its redo record is replayed. Named as "<table> row <n>".
std::vector<std::string> tornRows(const DatabaseImage& actual, const Expectation& expected);
// Why `actual` differs from `expected` exactly (empty when equal).
std::vector<std::string> checkEqual(const DatabaseImage& actual, const DatabaseImage& expected);
// Rules every database must keep whatever happened, once opened again: whole rows, a whole
// header with the right version, film ids unique and never above the header's counter, row ids
// unique within their table (0, a row being deleted, aside), no redo record left, nothing strange
// in the folder.
std::vector<std::string> checkInvariants(const DatabaseImage& image);

}  // namespace ordavo::crash
