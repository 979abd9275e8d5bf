// ordavo-kill-driver: works on a database through the core the way the window does, command
// after command, until it is killed. The commands come from the seeded plan of crash_model.h.
// Once started it appends "S" to the journal, before each command "B <index> <kind>" and after
// it "E <index>";
// a line written by write() to an O_APPEND file survives the process being killed, so the
// supervisor learns which command was cut short. After every command the driver compares the
// database and what the window holds with the model and stops with exit code 3 on a difference.
//
// Usage: ordavo-kill-driver DATABASE WORK SEED FIRST_INDEX JOURNAL

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>

#include "crash_model.h"
#include "storage/cover_files.h"
#include "storage/database.h"
#include "storage/file_error.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/message_sink.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"
#include "tabs/detail_tables.h"

namespace ordavo::crash {
namespace {

namespace fs = std::filesystem;

class DriverError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// No command of the plan shows a message; one that does is a fault.
class FailingSink : public MessageSink {
public:
    void showMessage(std::string_view text, std::string_view) override {
        throw DriverError("unexpected message: " + std::string(text));
    }
};

class Journal {
public:
    explicit Journal(const fs::path& path)
        : m_fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {
        if (m_fd < 0) {
            throw DriverError("cannot open the journal " + path.string());
        }
    }
    ~Journal() { ::close(m_fd); }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // One write() per line: it reaches the page cache whole or not at all before a kill.
    void line(const std::string& text) {
        const std::string with_end = text + "\n";
        if (::write(m_fd, with_end.data(), with_end.size()) !=
            static_cast<ssize_t>(with_end.size())) {
            throw DriverError("cannot write the journal: " + std::string(std::strerror(errno)));
        }
    }

private:
    int m_fd;
};

template <class Row>
Bytes bytesOf(const Row& row) {
    const auto* data = reinterpret_cast<const unsigned char*>(&row);
    return Bytes(data, data + sizeof row);
}

template <class Row>
Rows rowsOf(const DetailEngine<Row>& engine) {
    Rows rows;
    for (const Row& row : engine.rows) {
        rows.push_back(bytesOf(row));
    }
    return rows;
}

Rows listRows(DetailTables& tables, DetailList list) {
    switch (list) {
        case DetailList::Reviews:
            return rowsOf(tables.reviews());
        case DetailList::Cast:
            return rowsOf(tables.cast());
        case DetailList::Distributors:
            return rowsOf(tables.distributors());
        case DetailList::Producers:
            return rowsOf(tables.producers());
        case DetailList::Locations:
            return rowsOf(tables.locations());
        case DetailList::LoansTo:
            return rowsOf(tables.loansTo());
        case DetailList::LoansFrom:
            return rowsOf(tables.loansFrom());
    }
    return {};
}

// What the window holds against the model's session.
std::vector<std::string> compareSession(FilmTable& film, DetailTables& tables,
                                        const Session& session) {
    std::vector<std::string> faults;
    if (std::memcmp(&film.current(), &session.buffer, sizeof session.buffer) != 0) {
        faults.push_back("the current-film buffer differs from the model (id " +
                         std::to_string(film.current().id) + ", model " +
                         std::to_string(session.buffer.id) + ")");
    }
    if (film.current_offset != session.current_offset) {
        faults.push_back("current_offset " + std::to_string(film.current_offset) + ", model " +
                         std::to_string(session.current_offset));
    }
    for (std::size_t l = 0; l < kDetailListCount; ++l) {
        const auto list = static_cast<DetailList>(l);
        const std::string name = tableName(tableOf(list));
        if (listRows(tables, list) != session.list(list).rows) {
            faults.push_back(name + ": the list's rows differ from the model");
        }
        if (tables.table(list).new_row_pending != session.list(list).new_row_pending) {
            faults.push_back(name + ": the pending flag differs from the model");
        }
    }
    return faults;
}

fs::path coverSource(const fs::path& work, const Operation& op) {
    return work / "sources" / std::to_string(op.cover_variant) / op.cover_name;
}

void require(bool condition, const Operation& op, std::string_view what) {
    if (!condition) {
        throw DriverError(op.describe() + ": " + std::string(what));
    }
}

// Carries out one command through the core, as the window's handlers do.
void execute(const Operation& op, const fs::path& work, Database& database, FilmTable& film,
             DetailTables& tables) {
    DetailTable& table = tables.table(op.list);
    switch (op.kind) {
        case OpKind::Navigate:
            film.current_offset = static_cast<std::int64_t>(op.film * kFilmRowSize);
            require(film.readRow(false), op, "readRow refused");
            break;
        case OpKind::EditFilm:
            for (const FieldText& text : op.texts) {
                setFieldText(film.current(), kFilmFields[text.field], text.text);
            }
            break;
        case OpKind::ConfirmRow: {
            std::optional<std::vector<std::u16string>> texts = table.editRow(op.row);
            require(texts.has_value(), op, "editRow found no item");
            for (const FieldText& typed : op.texts) {
                (*texts)[typed.field] = typed.text;
            }
            require(table.confirmRow(*texts, op.row), op, "confirmRow stored nothing");
            break;
        }
        case OpKind::NewRow:
            table.newRow(film.current().id);
            break;
        case OpKind::SaveTable:
            table.saveRows();
            break;
        case OpKind::SaveFilm:
            require(film.updateRow(), op, "updateRow refused");
            film.readRow(false);
            break;
        case OpKind::DeleteRow:
            table.deleteRow(op.row, film.current().id);
            break;
        case OpKind::DeleteFilm:
            require(film.deleteRow(FilterState{}), op, "deleteRow refused");
            film.readRow(true);
            break;
        case OpKind::AppendFilm: {
            emptyFilmRecord(film.current());
            const bool empty = film.tableLength() == 0;
            require(film.appendRow(empty), op, "appendRow refused");
            film.readRow(false);
            break;
        }
        case OpKind::AttachCover: {
            const std::optional<fs::path> stored =
                importCover(database.paths().covers_folder, coverSource(work, op));
            require(stored.has_value(), op, "the cover path is too long");
            const std::u16string path = fromUtf8(stored->string()).value();
            storeText(op.front ? film.current().front_cover_path : film.current().back_cover_path,
                      path);
            require(film.updateRow(), op, "updateRow refused");
            film.readRow(false);
            break;
        }
        case OpKind::Export:
            runExport(database.paths(), exportPath(work, op.index), op, film.current().id);
            break;
    }
}

// Writes the image a cover command chooses, before the command starts.
void prepareCover(const Operation& op, const fs::path& work) {
    const fs::path source = coverSource(work, op);
    fs::create_directories(source.parent_path());
    const Bytes content = coverContent(op.cover_name, op.cover_variant);
    std::ofstream out(source, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw DriverError("cannot write " + source.string());
    }
}

void fail(const std::vector<std::string>& faults, const Operation& op) {
    std::string text = "after " + op.describe() + ":\n";
    for (const std::string& fault : faults) {
        text += "  " + fault + "\n";
    }
    throw DriverError(text);
}

int run(const fs::path& folder, const fs::path& work, std::uint64_t seed, std::uint64_t first,
        const fs::path& journal_path) {
    FailingSink sink;
    Database database(buildPaths(folder), sink);
    DetailTables tables(database);
    FilmTable film(database, tables);
    // As the program opens a database (the supervisor has done so already, so this finds nothing).
    database.recoverInterruptedWrites();
    if (!film.readRow(true)) {
        throw DriverError("the database is not intact at start");
    }
    DatabaseImage image = readImage(folder);
    Session session = startSession(image);
    Journal journal(journal_path);
    if (const auto faults = compareSession(film, tables, session); !faults.empty()) {
        fail(faults, Operation{});
    }
    journal.line("S");  // started: the supervisor times its kill from here
    for (std::uint64_t index = first;; ++index) {
        const Operation op = planOperation(seed, index, image, session);
        if (op.kind == OpKind::AttachCover) {
            prepareCover(op, work);
        }
        journal.line("B " + std::to_string(index) + " " + std::string(kindName(op.kind)));
        execute(op, work, database, film, tables);
        applyOperation(op, folder, image, session);

        const DatabaseImage actual = readImage(folder);
        std::vector<std::string> faults = checkEqual(actual, image);
        for (std::string& fault : checkInvariants(actual)) {
            faults.push_back(std::move(fault));
        }
        for (std::string& fault : compareSession(film, tables, session)) {
            faults.push_back(std::move(fault));
        }
        if (!faults.empty()) {
            fail(faults, op);
        }
        journal.line("E " + std::to_string(index));
    }
}

}  // namespace
}  // namespace ordavo::crash

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fputs("usage: ordavo-kill-driver DATABASE WORK SEED FIRST_INDEX JOURNAL\n", stderr);
        return 2;
    }
    try {
        return ordavo::crash::run(argv[1], argv[2], std::stoull(argv[3]), std::stoull(argv[4]),
                                  argv[5]);
    } catch (const ordavo::FileError& error) {
        std::fprintf(stderr, "file error: %s (%s)\n", error.what(), error.polishReason().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    return 3;
}
