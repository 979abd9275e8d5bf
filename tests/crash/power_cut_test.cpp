// ordavo-power-cut-test: what a power cut may leave of a database, checked state by state.
//
// A kill leaves the page cache to the next program; a power cut leaves only what the device
// holds, and a device holds what was flushed to it plus any part of what was not, in any order.
// This test runs the crash model's commands through the core in-process while a recorder sees
// every change the core makes to files (writes with their bytes, truncations, creations,
// renames, removals, flushes of files and folders). From that record it builds the states a cut
// at some moment can leave:
//   - at every flush and every command's end: exactly what was flushed (nothing else), and
//     everything written so far;
//   - at random moments: what was flushed plus a random part of what was not: each unflushed
//     write applied whole, not at all, or in part at 4096-byte granularity, independently for
//     each file (so out of order between files); each folder's unflushed renames, creations and
//     removals applied up to a random point, the rest undone.
// Each state is written out as a database folder, opened as the program opens one (which
// finishes a command cut short from its redo record), and checked against the model: the file
// set is intact; every row reads as before or as after the command in flight, never torn or
// mixed; a command that had returned is there in full; ids are unique and the header's counter
// is not behind any id a row carries; covers and exports are whole or absent.
//
// Usage: ordavo-power-cut-test [--commands N] [--states M] [--seed S] [--work FOLDER] [--keep]
//                              [--without-row-flushes]
// --without-row-flushes drops every flush of a table, the header and the redo record from the
// record, as if the program flushed only the files it replaces and their folders: the checker
// must then find torn rows, lost commands and a counter behind the rows.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "crash_driver.h"
#include "crash_model.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/posix_file.h"
#include "tabs/detail_tables.h"

namespace ordavo::crash {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlock = 4096;

// ---------------------------------------------------------------- the record

struct Event {
    enum Kind {
        Created,
        Wrote,
        Truncated,
        Synced,
        Renamed,
        Removed,
        MadeFolder,
        RemovedFolder,
        SyncedFolder,
        Begin,  // command `index` starts
        End,    // command `index` has returned
    };
    Kind kind;
    fs::path path;
    fs::path to;
    std::uint64_t offset = 0;  // a write's offset, a truncation's length, a command's index
    Bytes bytes;

    static Event make(Kind kind, fs::path path, fs::path to = {}, std::uint64_t offset = 0,
                      Bytes bytes = {}) {
        Event event;
        event.kind = kind;
        event.path = std::move(path);
        event.to = std::move(to);
        event.offset = offset;
        event.bytes = std::move(bytes);
        return event;
    }
};

fs::path normal(const fs::path& path) {
    fs::path result = path.lexically_normal();
    if (!result.has_filename() && result.has_parent_path()) {
        result = result.parent_path();  // "x/covers/" is the folder "x/covers"
    }
    return result;
}

class Recorder : public FileEvents {
public:
    Recorder(fs::path root, bool without_row_flushes, const DatabasePaths& paths)
        : m_root(normal(root)), m_withoutRowFlushes(without_row_flushes) {
        for (DataFile file : kAllDataFiles) {
            m_rowFiles.insert(normal(paths.file(file)));
        }
        m_rowFiles.insert(normal(paths.redo_record));
    }

    void created(const fs::path& file) override { add(Event::make(Event::Created, normal(file))); }
    void wrote(const fs::path& file, std::uint64_t offset, const void* data,
               std::size_t size) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        add(Event::make(Event::Wrote, normal(file), {}, offset, Bytes(bytes, bytes + size)));
    }
    void truncated(const fs::path& file, std::uint64_t size) override {
        add(Event::make(Event::Truncated, normal(file), {}, size));
    }
    void synced(const fs::path& file) override {
        if (m_withoutRowFlushes && m_rowFiles.contains(normal(file))) {
            return;
        }
        add(Event::make(Event::Synced, normal(file), {}));
    }
    void renamed(const fs::path& from, const fs::path& to) override {
        add(Event::make(Event::Renamed, normal(from), normal(to)));
    }
    void removed(const fs::path& file) override {
        add(Event::make(Event::Removed, normal(file), {}));
    }
    void madeFolder(const fs::path& folder) override {
        add(Event::make(Event::MadeFolder, normal(folder), {}));
    }
    void removedFolder(const fs::path& folder) override {
        add(Event::make(Event::RemovedFolder, normal(folder), {}));
    }
    void syncedFolder(const fs::path& folder) override {
        add(Event::make(Event::SyncedFolder, normal(folder), {}));
    }
    void command(Event::Kind kind, std::uint64_t index) {
        m_events.push_back(Event::make(kind, {}, {}, index));
    }

    const std::vector<Event>& events() const { return m_events; }

private:
    void add(Event event) {
        const std::string root = m_root.string() + "/";
        if (event.path.string().rfind(root, 0) == 0) {
            m_events.push_back(std::move(event));
        }
    }

    fs::path m_root;
    bool m_withoutRowFlushes;
    std::set<fs::path> m_rowFiles;
    std::vector<Event> m_events;
};

// ---------------------------------------------------------------- what a device may hold

// The files and folders the record speaks of, as nodes. A file has the content on the device
// and the changes made since its last flush; a folder has its entries on the device and the
// changes of entries made since its last flush.
struct FileChange {
    bool truncate = false;
    std::uint64_t offset = 0;  // a write's offset, a truncation's length
    Bytes bytes;
};

struct EntryChange {
    enum Kind { Link, Unlink } kind;
    std::string name;
    int node = -1;
};

struct Node {
    bool folder = false;
    Bytes durable;                           // a file's content on the device
    std::vector<FileChange> pending;         // a file's changes since its last flush
    std::map<std::string, int> entries;      // a folder's entries on the device
    std::vector<EntryChange> pending_names;  // a folder's changes since its last flush
};

// How a state picks among what was not flushed.
class Choice {
public:
    enum Mode { Flushed, Everything, Random };
    Choice(Mode mode, std::mt19937_64* random) : m_mode(mode), m_random(random) {}

    // How many of `count` unflushed changes of a folder's entries are on the device.
    std::size_t namesKept(std::size_t count) {
        if (m_mode != Random) {
            return m_mode == Everything ? count : 0;
        }
        return (*m_random)() % 3 == 0 ? count : (*m_random)() % (count + 1);
    }
    // Whether a block of an unflushed write (or an unflushed truncation) is on the device.
    bool kept() {
        if (m_mode != Random) {
            return m_mode == Everything;
        }
        return (*m_random)() % 2 == 0;
    }
    // Whether to decide block by block for this write, or for the write as a whole.
    bool byBlock() { return m_mode == Random && (*m_random)() % 3 == 0; }

private:
    Mode m_mode;
    std::mt19937_64* m_random;
};

void applyWrite(Bytes& content, std::uint64_t offset, const unsigned char* data, std::size_t size) {
    if (content.size() < offset + size) {
        content.resize(static_cast<std::size_t>(offset + size), 0);
    }
    std::copy(data, data + size, content.begin() + static_cast<std::ptrdiff_t>(offset));
}

void applyChange(Bytes& content, const FileChange& change) {
    if (change.truncate) {
        content.resize(static_cast<std::size_t>(change.offset), 0);
    } else {
        applyWrite(content, change.offset, change.bytes.data(), change.bytes.size());
    }
}

// A file as a cut leaves it: its flushed content and a choice of its unflushed changes.
Bytes fileAfterCut(const Node& node, Choice& choice) {
    Bytes content = node.durable;
    for (const FileChange& change : node.pending) {
        if (change.truncate || !choice.byBlock()) {
            if (choice.kept()) {
                applyChange(content, change);
            }
            continue;
        }
        // Block by block, each 4096-byte block of the file the write touches on its own.
        std::uint64_t at = change.offset;
        const std::uint64_t end = change.offset + change.bytes.size();
        while (at < end) {
            const std::uint64_t block_end = std::min(end, (at / kBlock + 1) * kBlock);
            if (choice.kept()) {
                applyWrite(content, at, change.bytes.data() + (at - change.offset),
                           static_cast<std::size_t>(block_end - at));
            }
            at = block_end;
        }
    }
    return content;
}

class Device {
public:
    // The tree under `root` as it is now, all of it on the device.
    explicit Device(const fs::path& root) { m_live[normal(root)] = snapshot(normal(root)); }

    void apply(const Event& event) {
        switch (event.kind) {
            case Event::Created: {
                const int node = newNode(false);
                m_live[event.path] = node;
                link(event.path, node);
                break;
            }
            case Event::Wrote:
                file(event.path).pending.push_back({false, event.offset, event.bytes});
                break;
            case Event::Truncated:
                file(event.path).pending.push_back({true, event.offset, {}});
                break;
            case Event::Synced: {
                Node& node = file(event.path);
                for (const FileChange& change : node.pending) {
                    applyChange(node.durable, change);
                }
                node.pending.clear();
                break;
            }
            case Event::Renamed: {
                const int node = m_live.at(event.path);
                // Whatever the target named before is unlinked by the rename.
                unlink(event.path);
                m_live.erase(event.path);
                m_live[event.to] = node;
                link(event.to, node);
                break;
            }
            case Event::Removed:
            case Event::RemovedFolder:
                unlink(event.path);
                m_live.erase(event.path);
                break;
            case Event::MadeFolder: {
                const int node = newNode(true);
                m_live[event.path] = node;
                link(event.path, node);
                break;
            }
            case Event::SyncedFolder: {
                Node& folder = m_nodes[static_cast<std::size_t>(m_live.at(event.path))];
                for (const EntryChange& change : folder.pending_names) {
                    applyName(folder.entries, change);
                }
                folder.pending_names.clear();
                break;
            }
            case Event::Begin:
            case Event::End:
                break;
        }
    }

    // Writes what a cut leaves of the folder `source` (as named when the record began) into
    // `target`.
    void materialize(const fs::path& source, const fs::path& target, Choice& choice) const {
        const std::vector<std::map<std::string, int>> names = namesAfterCut(choice);
        writeTree(m_roots.at(normal(source)), target, names, choice);
    }

private:
    int newNode(bool folder) {
        m_nodes.push_back({});
        m_nodes.back().folder = folder;
        return static_cast<int>(m_nodes.size() - 1);
    }

    int snapshot(const fs::path& path) {
        const bool folder = fs::is_directory(path);
        const int node = newNode(folder);
        m_roots[path] = node;
        if (!folder) {
            std::ifstream in(path, std::ios::binary);
            m_nodes[static_cast<std::size_t>(node)].durable =
                Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            return node;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
            const int child = snapshot(entry.path());
            m_live[entry.path()] = child;
            m_nodes[static_cast<std::size_t>(node)].entries[entry.path().filename().string()] =
                child;
        }
        return node;
    }

    Node& file(const fs::path& path) { return m_nodes[static_cast<std::size_t>(m_live.at(path))]; }
    Node& parentOf(const fs::path& path) { return file(path.parent_path()); }

    void link(const fs::path& path, int node) {
        parentOf(path).pending_names.push_back({EntryChange::Link, path.filename().string(), node});
    }
    void unlink(const fs::path& path) {
        if (m_live.contains(path)) {
            parentOf(path).pending_names.push_back(
                {EntryChange::Unlink, path.filename().string(), -1});
        }
    }
    static void applyName(std::map<std::string, int>& entries, const EntryChange& change) {
        if (change.kind == EntryChange::Link) {
            entries[change.name] = change.node;
        } else {
            entries.erase(change.name);
        }
    }

    std::vector<std::map<std::string, int>> namesAfterCut(Choice& choice) const {
        std::vector<std::map<std::string, int>> names(m_nodes.size());
        for (std::size_t n = 0; n < m_nodes.size(); ++n) {
            const Node& node = m_nodes[n];
            if (!node.folder) {
                continue;
            }
            names[n] = node.entries;
            const std::size_t kept = choice.namesKept(node.pending_names.size());
            for (std::size_t k = 0; k < kept; ++k) {
                applyName(names[n], node.pending_names[k]);
            }
        }
        return names;
    }

    void writeTree(int node, const fs::path& target,
                   const std::vector<std::map<std::string, int>>& names, Choice& choice) const {
        fs::create_directories(target);
        for (const auto& [name, child] : names[static_cast<std::size_t>(node)]) {
            const Node& entry = m_nodes[static_cast<std::size_t>(child)];
            if (entry.folder) {
                writeTree(child, target / name, names, choice);
                continue;
            }
            const Bytes content = fileAfterCut(entry, choice);
            std::ofstream out(target / name, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(content.data()),
                      static_cast<std::streamsize>(content.size()));
        }
    }

    std::vector<Node> m_nodes;
    std::map<fs::path, int> m_live;   // the names as the program sees them now
    std::map<fs::path, int> m_roots;  // the names when the record began
};

// ---------------------------------------------------------------- the run

struct Options {
    std::uint64_t commands = 120;
    std::uint64_t states = 600;
    std::uint64_t seed = 1;
    fs::path work;
    bool keep = false;
    bool without_row_flushes = false;
};

// One command of the run: what the database may hold while it runs, and the export it made.
struct Step {
    Operation op;
    Expectation expected;
    std::optional<Bytes> export_bytes;
};

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class QuietSink : public MessageSink {
public:
    void showMessage(std::string_view, std::string_view) override {}
};

struct Tally {
    std::uint64_t states = 0;
    std::uint64_t in_flight = 0;                  // states cut during a command
    std::uint64_t finished = 0;                   // states whose opening finished a redo record
    std::uint64_t faulty = 0;                     // states with a fault
    std::map<std::string, std::uint64_t> faults;  // by kind
};

// The kind of a fault, for the count.
std::string faultKind(const std::string& fault) {
    static const std::pair<const char*, const char*> kKinds[] = {
        {"a finished command is lost", "a command that had returned is lost or differs"},
        {"header neither", "the header is neither as before nor as after"},
        {"is neither as before nor", "a row is torn or mixed"},
        {"is partial", "a row is partial"},
        {"neither as before nor compact", "a replaced table is neither old nor new"},
        {"rows, expected", "rows are missing or extra"},
        {"rows instead of", "rows are missing or extra"},
        {"above the last issued", "the counter is behind an id a row carries"},
        {"issued twice", "an id is stored twice"},
        {"export", "an export is incomplete or lost"},
        {"cover", "a cover is incomplete or lost"},
        {"not intact", "the database does not open"},
        {"missing", "a data file is missing"},
        {": bytes ", "a row is torn or mixed"},
        {": length ", "a row is partial"},
    };
    for (const auto& [part, kind] : kKinds) {
        if (fault.find(part) != std::string::npos) {
            return kind;
        }
    }
    return fault;
}

// Checks one state: written out under `state`, opened, compared with the model.
std::vector<std::string> checkState(const fs::path& state, const std::vector<Step>& steps,
                                    std::optional<std::size_t> in_flight,
                                    std::optional<std::size_t> last_done,
                                    const DatabaseImage& start, const fs::path& exports,
                                    Tally& tally) {
    std::vector<std::string> faults;
    const fs::path folder = state / "db";
    QuietSink sink;
    Database opened(buildPaths(folder), sink);
    if (opened.checkFileSet() != DatabaseState::Intact || !opened.versionMatches()) {
        faults.push_back("the database is not intact after the cut");
        return faults;
    }
    if (opened.recoverInterruptedWrites()) {
        ++tally.finished;
    }
    std::vector<std::string> missing;
    const DatabaseImage actual = readImage(folder, &missing);
    for (const std::string& name : missing) {
        faults.push_back(name + " is missing");
    }
    if (in_flight) {
        for (std::string& fault : checkCutShort(actual, steps[*in_flight].expected)) {
            faults.push_back(std::move(fault));
        }
    } else {
        const DatabaseImage& expected = last_done ? steps[*last_done].expected.after : start;
        for (std::string& fault : checkEqual(actual, expected)) {
            faults.push_back("a finished command is lost or differs: " + fault);
        }
    }
    for (std::string& fault : checkInvariants(actual)) {
        faults.push_back(std::move(fault));
    }
    // Every export the run made is whole or absent; one that had finished is there.
    const std::size_t done = last_done ? *last_done + 1 : 0;
    for (std::size_t i = 0; i < steps.size() && i <= (in_flight ? *in_flight : done); ++i) {
        if (!steps[i].export_bytes) {
            continue;
        }
        const fs::path file = state / "exports" / exportPath(exports, steps[i].op.index).filename();
        if (!fs::exists(file)) {
            if (i < done) {
                faults.push_back("the finished export of " + steps[i].op.describe() + " is lost");
            }
        } else if (readBytes(file) != *steps[i].export_bytes) {
            faults.push_back("the export of " + steps[i].op.describe() + " is incomplete");
        }
    }
    return faults;
}

int run(const Options& options) {
    fs::path work = options.work;
    if (work.empty()) {
        std::string pattern = (fs::temp_directory_path() / "ordavo-power-cut-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        work = pattern;
    }
    const fs::path run_folder = work / "run";
    const fs::path database = run_folder / "db";
    const fs::path exports = run_folder / "exports";
    fs::remove_all(run_folder);
    fs::create_directories(exports);
    FailingSink sink;
    {
        Database created(buildPaths(database), sink);
        created.createMissing(true);
    }
    ::sync();  // what is there now is on the device
    const DatabaseImage start = readImage(database);

    // 1. The run, recorded.
    Device device(run_folder);
    const DatabasePaths paths = buildPaths(database);
    Recorder recorder(run_folder, options.without_row_flushes, paths);
    std::vector<Step> steps;
    {
        Database db(paths, sink);
        DetailTables tables(db);
        FilmTable film(db, tables);
        if (!film.readRow(true)) {
            throw DriverError("the new database cannot be read");
        }
        DatabaseImage image = start;
        Session session = startSession(image);
        setFileEvents(&recorder);
        for (std::uint64_t index = 0; index < options.commands; ++index) {
            const Operation op = planOperation(options.seed, index, image, session);
            if (op.kind == OpKind::AttachCover) {
                prepareCover(op, run_folder);  // outside what is recorded: the user's image
            }
            recorder.command(Event::Begin, index);
            execute(op, run_folder, db, film, tables);
            recorder.command(Event::End, index);
            Step step{op, applyOperation(op, database, image, session), std::nullopt};
            if (op.kind == OpKind::Export) {
                step.export_bytes = readBytes(exportPath(run_folder, op.index));
            }
            // The run itself must be right before its cuts mean anything.
            std::vector<std::string> faults = checkEqual(readImage(database), image);
            for (std::string& fault : compareSession(film, tables, session)) {
                faults.push_back(std::move(fault));
            }
            if (!faults.empty()) {
                setFileEvents(nullptr);
                throw DriverError(op.describe() + ": " + faults.front());
            }
            steps.push_back(std::move(step));
        }
        setFileEvents(nullptr);
    }
    const std::vector<Event>& events = recorder.events();

    // 2. The moments to cut at: after every flush and every command's end (exactly what was
    // flushed, and everything), and random ones with a random part of what was not flushed.
    struct Cut {
        std::size_t events;  // how many of the record's events happened
        Choice::Mode mode;
    };
    std::vector<Cut> cuts;
    for (std::size_t k = 0; k < events.size(); ++k) {
        const Event::Kind kind = events[k].kind;
        if (kind == Event::Synced || kind == Event::SyncedFolder || kind == Event::End) {
            cuts.push_back({k + 1, Choice::Flushed});
            cuts.push_back({k + 1, Choice::Everything});
        }
    }
    std::mt19937_64 random(options.seed * 7919 + 17);
    while (cuts.size() < options.states && !events.empty()) {
        cuts.push_back({static_cast<std::size_t>(random() % (events.size() + 1)), Choice::Random});
    }
    std::sort(cuts.begin(), cuts.end(),
              [](const Cut& a, const Cut& b) { return a.events < b.events; });

    // 3. Every state, checked. The record is replayed once, the states taken along the way.
    Tally tally;
    const fs::path state = work / "state";
    std::size_t applied = 0;
    std::optional<std::size_t> in_flight;
    std::optional<std::size_t> last_done;
    for (const Cut& cut : cuts) {
        for (; applied < cut.events; ++applied) {
            const Event& event = events[applied];
            device.apply(event);
            if (event.kind == Event::Begin) {
                in_flight = static_cast<std::size_t>(event.offset);
            } else if (event.kind == Event::End) {
                in_flight.reset();
                last_done = static_cast<std::size_t>(event.offset);
            }
        }
        fs::remove_all(state);
        Choice choice(cut.mode, &random);
        device.materialize(database, state / "db", choice);
        device.materialize(exports, state / "exports", choice);
        ++tally.states;
        if (in_flight) {
            ++tally.in_flight;
        }
        const std::vector<std::string> faults =
            checkState(state, steps, in_flight, last_done, start, run_folder, tally);
        if (!faults.empty()) {
            ++tally.faulty;
            for (const std::string& fault : faults) {
                ++tally.faults[faultKind(fault)];
            }
            if (tally.faulty <= 3) {
                std::fprintf(stderr, "state %llu (after %zu of %zu events, %s, %s):\n",
                             static_cast<unsigned long long>(tally.states), cut.events,
                             events.size(),
                             cut.mode == Choice::Flushed      ? "only what was flushed"
                             : cut.mode == Choice::Everything ? "everything written"
                                                              : "a random part unflushed",
                             in_flight ? ("during " + steps[*in_flight].op.describe()).c_str()
                                       : "between commands");
                for (std::size_t f = 0; f < faults.size() && f < 6; ++f) {
                    std::fprintf(stderr, "  %s\n", faults[f].c_str());
                }
            }
        }
    }
    if (!options.keep) {
        fs::remove_all(work);
    }
    std::printf(
        "power cut: %llu commands (seed %llu), %zu file events recorded; %llu states checked, "
        "%llu of them during a command, %llu finished from their redo record at opening; "
        "%llu states with faults\n",
        static_cast<unsigned long long>(options.commands),
        static_cast<unsigned long long>(options.seed), events.size(),
        static_cast<unsigned long long>(tally.states),
        static_cast<unsigned long long>(tally.in_flight),
        static_cast<unsigned long long>(tally.finished),
        static_cast<unsigned long long>(tally.faulty));
    for (const auto& [kind, count] : tally.faults) {
        std::printf("  %llu × %s\n", static_cast<unsigned long long>(count), kind.c_str());
    }
    return tally.faulty == 0 ? 0 : 1;
}

}  // namespace
}  // namespace ordavo::crash

int main(int argc, char** argv) {
    ordavo::crash::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--commands") {
            options.commands = std::stoull(value());
        } else if (arg == "--states") {
            options.states = std::stoull(value());
        } else if (arg == "--seed") {
            options.seed = std::stoull(value());
        } else if (arg == "--work") {
            options.work = value();
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (arg == "--without-row-flushes") {
            options.without_row_flushes = true;
        } else {
            std::fprintf(stderr,
                         "usage: ordavo-power-cut-test [--commands N] [--states M] [--seed S] "
                         "[--work FOLDER] [--keep] [--without-row-flushes]\n");
            return 2;
        }
    }
    try {
        return ordavo::crash::run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "power cut: %s\n", error.what());
        return 3;
    }
}
