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

#include "crash_driver.h"
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
