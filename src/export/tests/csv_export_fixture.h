#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "export/csv_export.h"
#include "storage/database.h"
#include "storage/text_field.h"
#include "tabs/detail_rows.h"
#include "testing/temp_folder.h"

// What the export tests share: a database to export, a strict CSV reader, and ways to make a
// write fail or to watch what a write left behind.
namespace ordavo::export_testing {

using testing::makeFilm;
using Line = std::vector<std::string>;
using Snapshot = std::map<std::string, std::string>;

// Everything under `folder`: each file's bytes, each link's text, what each other entry is.
inline Snapshot snapshot(const std::filesystem::path& folder) {
    Snapshot entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::filesystem::path& path = entry.path();
        std::string& what = entries[path.lexically_relative(folder).string()];
        if (entry.is_symlink()) {
            what = "-> " + std::filesystem::read_symlink(path).string();
        } else if (entry.is_regular_file()) {
            const std::vector<unsigned char> bytes = testing::readBytes(path);
            what.assign(bytes.begin(), bytes.end());
        } else {
            what = entry.is_directory() ? "<folder>" : "<other>";
        }
    }
    return entries;
}

inline struct stat statOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

// Lets writes beyond `bytes` fail with EFBIG, as a full disk would make them fail, for the
// length of the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        ::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    sighandler_t m_oldHandler = SIG_DFL;
};

constexpr uid_t kNobody = 65534;

// Runs `body` in a child process without the rights of root, whom no permission stops: as
// "nobody" when the tests run as root. Returns the body's result, or -1 when it did not end
// normally.
inline int runWithoutRoot(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(100);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program at the other end of a FIFO, on a thread of its own: it reads everything until the
// writer closes, or, when `hang_up` is set, leaves as soon as the first bytes arrive. Its end is
// open from the start, so that a writer never waits for it.
class FifoReader {
public:
    FifoReader(const std::filesystem::path& fifo, bool hang_up)
        : m_fifo(fifo),
          m_fd(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)),
          m_thread([this, hang_up] { read(hang_up); }) {}
    ~FifoReader() { finish(); }

    // Waits for the reader to end and returns what it read. A writer that comes and goes at
    // once lets go a reader that no export ever wrote to.
    const std::string& finish() {
        if (m_thread.joinable()) {
            const int writer = ::open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                ::close(writer);
            }
            m_thread.join();
        }
        return m_text;
    }

private:
    void read(bool hang_up) {
        char buffer[4096];
        for (;;) {
            // Waits for the first writer, and then for data or for the last writer to leave.
            pollfd wait{m_fd, POLLIN, 0};
            ::poll(&wait, 1, -1);
            if (hang_up) {
                break;
            }
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                m_text.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EAGAIN) {
                break;
            }
        }
        ::close(m_fd);
    }

    std::filesystem::path m_fifo;
    int m_fd;
    std::string m_text;
    std::thread m_thread;
};

// A strict RFC 4180 reader: every record ends in CR LF, fields are split at commas outside
// quotes, and "" inside a quoted field is one quote. Fails the test on anything else.
inline std::vector<Line> readCsv(const std::string& bytes) {
    std::vector<Line> lines;
    Line line;
    std::string field;
    bool quoted = false;
    std::size_t i = 0;
    const auto endField = [&] {
        line.push_back(field);
        field.clear();
    };
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"') {
                field += '"';
                i += 2;
            } else if (c == '"') {
                quoted = false;
                ++i;
                const char after = i < bytes.size() ? bytes[i] : '\0';
                EXPECT_TRUE(after == ',' || after == '\r') << "text after a closing quote at " << i;
            } else {
                field += c;
                ++i;
            }
        } else if (c == '"') {
            EXPECT_TRUE(field.empty()) << "a quote inside an unquoted field at " << i;
            quoted = true;
            ++i;
        } else if (c == ',') {
            endField();
            ++i;
        } else if (c == '\r') {
            EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "CR without LF at " << i;
            endField();
            lines.push_back(std::move(line));
            line.clear();
            i += 2;
        } else {
            EXPECT_NE(c, '\n') << "LF without CR at " << i;
            field += c;
            ++i;
        }
    }
    EXPECT_FALSE(quoted) << "the file ends inside a quoted field";
    EXPECT_TRUE(line.empty() && field.empty()) << "the last line has no line end";
    return lines;
}

// A detail row of type Row with its ids and the given texts in the layout's file order; texts
// beyond the layout's fields are ignored.
template <typename Row>
Row makeRow(const DetailLayout& layout, std::int32_t id, std::int32_t film_id,
            std::vector<std::u16string> texts = {}) {
    Row row;
    std::memset(&row, 0, sizeof row);
    row.ID = id;
    row.IDPDB = film_id;
    for (std::size_t i = 0; i < std::min(texts.size(), layout.fields.size()); ++i) {
        const DetailField& field = layout.fields[i];
        storeText(
            reinterpret_cast<char16_t*>(reinterpret_cast<unsigned char*>(&row) + field.offset),
            field.width, texts[i]);
    }
    return row;
}

class CsvExportTest : public ::testing::Test {
protected:
    CsvExportTest() { database.createMissing(true); }

    const DatabasePaths& paths() const { return database.paths(); }

    void addFilms(const std::vector<FilmRecord>& films) {
        testing::appendFilms(paths().file(DataFile::Films), films);
    }
    template <typename Row>
    void addRows(DataFile file, const std::vector<Row>& rows) {
        std::vector<unsigned char> bytes = testing::readBytes(paths().file(file));
        for (const Row& row : rows) {
            const auto* raw = reinterpret_cast<const unsigned char*>(&row);
            bytes.insert(bytes.end(), raw, raw + sizeof row);
        }
        testing::writeBytes(paths().file(file), bytes);
    }

    std::string exportBytes(ExportScope scope, std::int32_t film_id,
                            const ExportSections& sections = {},
                            std::string_view charset = "UTF-8") {
        ExportCsv(paths(), output, scope, film_id, sections, charset);
        return fileText();
    }
    std::vector<Line> exportLines(ExportScope scope, std::int32_t film_id,
                                  const ExportSections& sections = {}) {
        return readCsv(exportBytes(scope, film_id, sections));
    }
    std::string fileText() const {
        const std::vector<unsigned char> bytes = testing::readBytes(output);
        return std::string(bytes.begin(), bytes.end());
    }
    // The lines of one section: from its title line up to the next title line.
    static std::vector<Line> section(const std::vector<Line>& lines, std::string_view title) {
        std::vector<Line> found;
        for (const Line& line : lines) {
            const bool is_title = line.size() == 1 && line[0].rfind("Tabela ", 0) == 0;
            if (is_title && !found.empty()) {
                break;
            }
            if (!found.empty() || (is_title && line[0] == title)) {
                found.push_back(line);
            }
        }
        return found;
    }

    testing::TempFolder root;
    testing::RecordingSink sink;
    Database database{buildPaths(root / "db"), sink};
    std::filesystem::path output = root / "eksport.csv";
};

constexpr ExportSections kNoSections{false, false, false, false, false, false};

}  // namespace ordavo::export_testing
