#include "testing/temp_folder.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "storage/database.h"
#include "storage/posix_file.h"
#include "storage/write_batch.h"

namespace ordavo::testing {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ordavo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them writable again before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(m_path, ignored);
}

WorkingFolderScope::WorkingFolderScope(const std::filesystem::path& folder)
    : m_previous(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
}

WorkingFolderScope::~WorkingFolderScope() {
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
}

std::string_view listName(DetailList list) {
    switch (list) {
        case DetailList::Reviews:
            return "Reviews";
        case DetailList::Cast:
            return "Cast";
        case DetailList::Distributors:
            return "Distributors";
        case DetailList::Producers:
            return "Producers";
        case DetailList::Locations:
            return "Locations";
        case DetailList::LoansTo:
            return "LoansTo";
        case DetailList::LoansFrom:
            return "LoansFrom";
    }
    return "?";
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
    ignoreFileSizeSignal();
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    m_old_current = old.rlim_cur;
    m_old_maximum = old.rlim_max;
    rlimit limit = old;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
    rlimit old{};
    old.rlim_cur = static_cast<rlim_t>(m_old_current);
    old.rlim_max = static_cast<rlim_t>(m_old_maximum);
    ::setrlimit(RLIMIT_FSIZE, &old);
}

void RecordingHandover::clearList(DetailList list) {
    calls.push_back("clear " + std::string(listName(list)));
}

void RecordingHandover::forgetRows(DetailList list) {
    calls.push_back("forget " + std::string(listName(list)));
}

void RecordingHandover::loadRows(DetailList list, std::int32_t film_id) {
    calls.push_back("load " + std::string(listName(list)) + " " + std::to_string(film_id));
}

void RecordingHandover::saveRows(DetailList list, std::int32_t film_id, WriteBatch&) {
    calls.push_back("save " + std::string(listName(list)) + " " + std::to_string(film_id));
}

std::vector<unsigned char> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void writeText(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void truncateFile(const std::filesystem::path& path, std::uint64_t size) {
    std::filesystem::resize_file(path, size);
}

FilmRecord makeFilm(std::int32_t id, std::u16string_view title) {
    FilmRecord film = zeroFilmRecord();
    film.id = id;
    setFieldText(film, *findFilmField("title"), title);
    return film;
}

void appendFilms(const std::filesystem::path& table, const std::vector<FilmRecord>& films) {
    std::ofstream out(table, std::ios::binary | std::ios::app);
    for (const FilmRecord& film : films) {
        out.write(reinterpret_cast<const char*>(&film), sizeof film);
    }
}

std::vector<std::int32_t> filmIds(const std::filesystem::path& table) {
    const std::vector<unsigned char> bytes = readBytes(table);
    std::vector<std::int32_t> ids;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kFilmRowSize) {
        std::int32_t id = 0;
        std::memcpy(&id, bytes.data() + offset, std::min<std::size_t>(4, bytes.size() - offset));
        ids.push_back(id);
    }
    return ids;
}

void leaveKilledRowWrite(const std::filesystem::path& table, std::uint64_t offset,
                         const std::vector<unsigned char>& row, std::size_t written) {
    const DatabasePaths paths = buildPaths(table.parent_path());
    const auto file = std::find_if(kAllDataFiles.begin(), kAllDataFiles.end(),
                                   [&](DataFile f) { return paths.file(f) == table; });
    if (file == kAllDataFiles.end()) {
        throw std::invalid_argument("not a table of a database: " + table.string());
    }
    struct Killed {};
    WriteBatch batch(paths);
    batch.add(*file, offset, row.data(), row.size());
    try {
        batch.commit([](WriteBatch::Step step) {
            if (step == WriteBatch::Step::RecordWritten) {
                throw Killed{};
            }
        });
    } catch (const Killed&) {
    }
    PosixFile(table, PosixFile::Mode::ReadWrite).writeAt(row.data(), written, offset);
}

void openInAnotherProgram(const DatabasePaths& paths) {
    const pid_t child = ::fork();
    if (child == 0) {
        RecordingSink sink;
        Database database(paths, sink);
        try {
            database.recoverInterruptedWrites();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("the other program could not open the database");
    }
}

std::vector<unsigned char> filmBytes(const FilmRecord& film) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&film);
    return {bytes, bytes + sizeof film};
}

}  // namespace ordavo::testing
