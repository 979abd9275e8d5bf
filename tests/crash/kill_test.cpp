// ordavo-kill-test: starts ordavo-kill-driver on a database, kills it with SIGKILL after a random
// moment, and checks what the killed process left behind, over and over:
//   - the file set is intact, the header whole, no table missing, nothing strange in the folder;
//   - every command the journal shows as completed did exactly what the model says (the model
//     is replayed command by command from the last checked state);
//   - the database is opened again as the program opens it, which finishes the row writes of the
//     command cut short from their redo records; then that command has left every row as it was
//     before or as the command leaves it (a delete leaves its table whole as before or
//     compacted), and a cover or export file is either absent or complete. A row the kill left
//     torn at a page boundary (a write() of a row spanning pages stopped between two pages, as
//     the kernel allows) is counted before the database is opened, and is a fault if it is still
//     there after;
//   - film ids never go down or repeat, no row id appears twice in a table, every row is whole,
//     and no redo record is left once the database has been opened;
//   - a temporary file left by the kill does not stop the next run of the driver, which checks
//     every command it completes against the model as well.
// The database found after a kill becomes the model's state for the next round. The sequence of
// commands follows from the seed; the moments of the kills follow from the seed and the timing.
//
// Usage: ordavo-kill-test [--kills N] [--seed S] [--max-seconds T] [--max-delay-ms D]
//                         [--work FOLDER] [--keep] [--driver PATH]

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "crash_model.h"
#include "storage/database.h"
#include "storage/message_sink.h"
#include "storage/row_redo.h"
#include "storage/write_batch.h"

#ifndef ORDAVO_KILL_DRIVER
#define ORDAVO_KILL_DRIVER "ordavo-kill-driver"
#endif

namespace ordavo::crash {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    std::uint64_t kills = 200;
    std::uint64_t seed = 1;
    double max_seconds = 0;  // 0: no limit
    int max_delay_ms = 60;
    fs::path work;
    bool keep = false;
    std::string driver = ORDAVO_KILL_DRIVER;
};

class QuietSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

struct JournalEntry {
    std::uint64_t index;
    bool ended;
};

// The commands of one run of the driver, in order. Only whole lines count: a line cut by the kill
// is a "B" whose command had not started, or an "E" of a command that had finished.
std::vector<JournalEntry> readJournal(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<JournalEntry> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        const bool whole = end != std::string::npos;
        if (!line.empty() && line[0] == 'B' && whole) {
            std::istringstream fields(line.substr(1));
            JournalEntry entry{0, false};
            fields >> entry.index;
            entries.push_back(entry);
        } else if (!line.empty() && line[0] == 'E' && !entries.empty()) {
            entries.back().ended = true;
        }
        if (!whole) {
            break;
        }
        start = end + 1;
    }
    return entries;
}

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The export the command must produce from `image`, made by exporting a copy of it.
Bytes referenceExport(const DatabaseImage& image, const Operation& op, std::int32_t film_id,
                      const fs::path& scratch) {
    const fs::path folder = scratch / "reference";
    fs::remove_all(folder);
    writeImage(image, folder);
    const fs::path file = scratch / "reference.csv";
    runExport(buildPaths(folder), file, op, film_id);
    return readBytes(file);
}

struct Tally {
    std::uint64_t kills = 0;
    std::uint64_t verified = 0;       // commands checked: completed ones and cut ones
    std::uint64_t cut_writes = 0;     // kills that cut a command writing to the database
    std::uint64_t kills_between = 0;  // kills with no command in flight
    std::uint64_t leftovers = 0;      // temporary files that a kill left behind
    std::uint64_t redo_finished = 0;  // redo records whose writes the reopening finished
    std::uint64_t redo_dropped = 0;   // redo records the kill had torn, dropped by the reopening
    std::uint64_t torn = 0;           // rows a kill left torn between two pages, before reopening
    std::map<std::string, std::uint64_t> cut_by_kind;
};

bool writes(OpKind kind) {
    return kind != OpKind::Navigate && kind != OpKind::EditFilm && kind != OpKind::ConfirmRow &&
           kind != OpKind::Export;
}

pid_t startDriver(const Options& options, const fs::path& database, const fs::path& work,
                  std::uint64_t first, const fs::path& journal) {
    const std::string seed = std::to_string(options.seed);
    const std::string index = std::to_string(first);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const fs::path errors = work / "driver.err";
        if (std::freopen(errors.c_str(), "w", stderr) == nullptr) {
            ::_exit(126);
        }
        ::execl(options.driver.c_str(), options.driver.c_str(), database.c_str(), work.c_str(),
                seed.c_str(), index.c_str(), journal.c_str(), static_cast<char*>(nullptr));
        std::perror("exec");
        ::_exit(127);
    }
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    return pid;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int run(const Options& options) {
    const auto started = Clock::now();
    fs::path work = options.work;
    if (work.empty()) {
        std::string pattern = (fs::temp_directory_path() / "ordavo-kill-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        work = pattern;
    }
    const fs::path database = work / "baza filmów";
    const fs::path journal = work / "journal";
    fs::create_directories(work / "exports");
    fs::remove_all(database);

    QuietSink sink;
    Database created(buildPaths(database), sink);
    created.createMissing(true);
    DatabaseImage model = readImage(database);
    if (const auto faults = checkEqual(model, emptyImage()); !faults.empty()) {
        throw std::runtime_error("a new database is not empty: " + faults.front());
    }

    std::mt19937_64 timing(options.seed);
    Tally tally;
    std::uint64_t next = 0;
    std::int32_t last_id = model.lastIssuedId();
    while (tally.kills < options.kills) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        if (options.max_seconds > 0 && elapsed > options.max_seconds) {
            break;
        }
        // Mostly anywhere within a few dozen commands; now and then within the first one.
        const int delay_us = timing() % 10 == 0
                                 ? static_cast<int>(timing() % 3000)
                                 : static_cast<int>(timing() % (options.max_delay_ms * 1000));
        fs::remove(journal);
        const pid_t pid = startDriver(options, database, work, next, journal);
        int status = 0;
        // The kill is timed from the driver's start-up line, so that a slow start (a sanitizer
        // build, a busy machine) does not leave every kill in the start-up.
        bool ready = false;
        for (int waited_ms = 0; waited_ms < 30000 && ::waitpid(pid, &status, WNOHANG) == 0;
             ++waited_ms) {
            if (fs::exists(journal) && fs::file_size(journal) > 0) {
                ready = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (ready) {
            std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        if (!ready || !(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) {
            std::fprintf(stderr,
                         "kill %llu: the driver %s (status %d) starting at command %llu, seed "
                         "%llu:\n%s",
                         static_cast<unsigned long long>(tally.kills),
                         ready ? "ended by itself" : "did not start", status,
                         static_cast<unsigned long long>(next),
                         static_cast<unsigned long long>(options.seed),
                         fileText(work / "driver.err").c_str());
            return 1;
        }
        ++tally.kills;

        // Open the database again as the program does, which finishes what the kill cut short.
        // What the kill left is kept for the count of torn rows when there was anything to finish.
        std::vector<std::string> faults;
        const DatabasePaths paths = buildPaths(database);
        const std::size_t records = hasPendingRedo(paths) ? 1 : 0;
        std::optional<DatabaseImage> unopened;
        if (records > 0) {
            unopened = readImage(database);
        }
        Database reopened(paths, sink);
        if (reopened.checkFileSet() != DatabaseState::Intact || !reopened.versionMatches()) {
            faults.push_back("the core does not see an intact, writable database");
        } else {
            const std::size_t finished = reopened.recoverInterruptedWrites() ? 1 : 0;
            tally.redo_finished += finished;
            tally.redo_dropped += records - std::min(records, finished);
            if (hasPendingRedo(paths)) {
                faults.push_back("the redo record still holds commands after the opening");
            }
        }

        // Replay the completed commands on the model; check the one cut short.
        Session session = startSession(model);
        const std::vector<JournalEntry> entries = readJournal(journal);
        std::optional<Operation> in_flight;
        DatabaseImage actual;
        std::vector<std::string> missing;
        for (const JournalEntry& entry : entries) {
            const Operation op = planOperation(options.seed, entry.index, model, session);
            ++tally.verified;
            if (entry.ended) {
                applyOperation(op, database, model, session);
                if (op.kind == OpKind::Export &&
                    readBytes(exportPath(work, op.index)) !=
                        referenceExport(model, op, session.buffer.id, work)) {
                    faults.push_back("the export of " + op.describe() + " is not the database's");
                }
                continue;
            }
            in_flight = op;
            DatabaseImage expected_image = model;
            const Expectation expected = applyOperation(op, database, expected_image, session);
            actual = readImage(database, &missing);
            if (unopened) {
                tally.torn += tornRows(*unopened, expected).size();
            }
            for (std::string& fault : checkCutShort(actual, expected)) {
                faults.push_back(std::move(fault));
            }
            if (op.kind == OpKind::Export && fs::exists(exportPath(work, op.index)) &&
                readBytes(exportPath(work, op.index)) !=
                    referenceExport(model, op, session.buffer.id, work)) {
                faults.push_back("the export file is there but incomplete or wrong");
            }
            if (writes(op.kind)) {
                ++tally.cut_writes;
            }
            ++tally.cut_by_kind[std::string(kindName(op.kind))];
        }
        if (!in_flight) {
            ++tally.kills_between;
            actual = readImage(database, &missing);
            for (std::string& fault : checkEqual(actual, model)) {
                faults.push_back(std::move(fault));
            }
        }
        for (const std::string& name : missing) {
            faults.push_back(name + " is missing");
        }
        for (std::string& fault : checkInvariants(actual)) {
            faults.push_back(std::move(fault));
        }
        if (actual.lastIssuedId() < last_id) {
            faults.push_back("the header's last issued id went down from " +
                             std::to_string(last_id) + " to " +
                             std::to_string(actual.lastIssuedId()));
        }
        for (const std::string& name : actual.leftovers) {
            if (std::find(model.leftovers.begin(), model.leftovers.end(), name) ==
                model.leftovers.end()) {
                ++tally.leftovers;  // new since the last kill; the driver then works beside it
            }
        }
        if (!faults.empty()) {
            std::fprintf(stderr, "kill %llu (seed %llu, %d µs after starting at command %llu)",
                         static_cast<unsigned long long>(tally.kills),
                         static_cast<unsigned long long>(options.seed), delay_us,
                         static_cast<unsigned long long>(next));
            std::fprintf(stderr, in_flight ? ", during %s:\n" : ", between commands:\n",
                         in_flight ? in_flight->describe().c_str() : "");
            for (const std::string& fault : faults) {
                std::fprintf(stderr, "  %s\n", fault.c_str());
            }
            std::fprintf(stderr, "the database is kept in %s\n", database.c_str());
            return 1;
        }
        model = std::move(actual);
        last_id = model.lastIssuedId();
        if (!entries.empty()) {
            next = entries.back().index + 1;
        }
        for (const fs::directory_entry& file : fs::directory_iterator(work / "exports")) {
            fs::remove(file.path());
        }
    }

    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf(
        "%llu kills survived in %.1f s (seed %llu): %llu commands verified, %llu kills cut a "
        "command that writes, %llu fell between commands, %llu temporary files left behind; "
        "reopening finished %llu redo records and dropped %llu torn ones, and made whole %llu rows "
        "torn at a page boundary; %zu films and last id %d at the end\n",
        static_cast<unsigned long long>(tally.kills), seconds,
        static_cast<unsigned long long>(options.seed),
        static_cast<unsigned long long>(tally.verified),
        static_cast<unsigned long long>(tally.cut_writes),
        static_cast<unsigned long long>(tally.kills_between),
        static_cast<unsigned long long>(tally.leftovers),
        static_cast<unsigned long long>(tally.redo_finished),
        static_cast<unsigned long long>(tally.redo_dropped),
        static_cast<unsigned long long>(tally.torn), model.films().size(), model.lastIssuedId());
    std::printf("cut commands:");
    for (const auto& [kind, count] : tally.cut_by_kind) {
        std::printf(" %s %llu", kind.c_str(), static_cast<unsigned long long>(count));
    }
    std::printf("\n");
    if (tally.kills == 0 || tally.verified == 0) {
        std::fprintf(stderr, "no command was cut short or completed within the time limit\n");
        return 1;
    }
    if (!options.keep && options.work.empty()) {
        fs::remove_all(work);
    }
    return 0;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw std::invalid_argument(name + " needs a value");
            }
            return argv[++i];
        };
        if (name == "--kills") {
            options.kills = std::stoull(value());
        } else if (name == "--seed") {
            options.seed = std::stoull(value());
        } else if (name == "--max-seconds") {
            options.max_seconds = std::stod(value());
        } else if (name == "--max-delay-ms") {
            options.max_delay_ms = std::max(1, std::stoi(value()));
        } else if (name == "--work") {
            options.work = value();
        } else if (name == "--keep") {
            options.keep = true;
        } else if (name == "--driver") {
            options.driver = value();
        } else {
            throw std::invalid_argument("unknown option " + name);
        }
    }
    return options;
}

}  // namespace
}  // namespace ordavo::crash

int main(int argc, char** argv) {
    try {
        return ordavo::crash::run(ordavo::crash::parseOptions(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ordavo-kill-test: %s\n", error.what());
        return 2;
    }
}
